// SqliteSpill.cpp: results kept in a private temporary database; see SqliteSpill.h.
//
// Rows are stored as one blob each, in a format of our own: a kind byte per value, then 8 bytes for a
// number or an 8-byte length and the bytes for text and blobs. The blob is only ever read back by this
// process, so native byte order is fine. No statement is left unfinished between calls, so storing, reading
// and removing never meet another statement of this connection.
#include "platform/ado/sqlite/SqliteSpill.h"

#include <cstring>

#include "common/ComError.h"
#include "platform/ado/AdoTypes.h"

namespace ado::detail {
namespace {

constexpr size_t kBatchRows = 32;  // rows a spilled cursor holds in memory at a time

void put_bytes(std::string& out, const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }

void encode_row(const RawRow& row, std::string& out) {
    out.clear();
    for (const RawValue& v : row) {
        out.push_back(static_cast<char>(v.type));
        switch (v.type) {
            case RawValue::Type::Null: break;
            case RawValue::Type::Integer: put_bytes(out, &v.integer, sizeof v.integer); break;
            case RawValue::Type::Real: put_bytes(out, &v.real, sizeof v.real); break;
            case RawValue::Type::Text:
            case RawValue::Type::Blob: {
                const uint64_t n = v.text.size();
                put_bytes(out, &n, sizeof n);
                out.append(v.text);
                break;
            }
        }
    }
}

[[noreturn]] void damaged() { throw ComError(kDbFail, "SQLite", "A stored cursor row is damaged."); }

// Reads `n` bytes at `p` into `into`, refusing to read past `end`.
void take(const char*& p, const char* end, void* into, size_t n) {
    if (static_cast<size_t>(end - p) < n) damaged();
    std::memcpy(into, p, n);
    p += n;
}

void decode_row(const char* p, size_t size, RawRow& row) {
    const char* const end = p + size;
    row.clear();
    while (p < end) {
        RawValue& v = row.emplace_back();
        uint8_t type = 0;
        take(p, end, &type, 1);
        v.type = static_cast<RawValue::Type>(type);
        switch (v.type) {
            case RawValue::Type::Null: break;
            case RawValue::Type::Integer: take(p, end, &v.integer, sizeof v.integer); break;
            case RawValue::Type::Real: take(p, end, &v.real, sizeof v.real); break;
            case RawValue::Type::Text:
            case RawValue::Type::Blob: {
                uint64_t n = 0;
                take(p, end, &n, sizeof n);
                if (static_cast<uint64_t>(end - p) < n) damaged();
                v.text.assign(p, n);
                p += n;
                break;
            }
            default: damaged();
        }
    }
}

}  // namespace

// A stored result, read back in batches; removed from the store when the stream is dropped.
class SpillStream final : public RowStream {
public:
    SpillStream(std::shared_ptr<SqliteSpill> spill, int64_t result) : spill_(std::move(spill)), result_(result) {}
    ~SpillStream() override { spill_->discard(result_); }
    bool next(RawRow& row) override {
        if (next_ == batch_.size()) {
            next_ = 0;
            if (at_end_ || !spill_->read(result_, after_, batch_)) {
                at_end_ = true;
                batch_.clear();
                return false;
            }
        }
        row = std::move(batch_[next_++]);
        return true;
    }

private:
    std::shared_ptr<SqliteSpill> spill_;
    int64_t result_;
    std::vector<RawRow> batch_;
    size_t next_ = 0;
    int64_t after_ = 0;  // the last stored row read
    bool at_end_ = false;
};

// "" opens a private temporary database. Nothing stored must survive a crash, so it is neither synced nor
// journalled to disk; the journal in memory still lets a failed store be rolled back.
SqliteSpill::SqliteSpill(const Settings& settings)
    : conn_("", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, settings) {
    conn_.exec(
        "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; PRAGMA cache_size=-1024;"
        "CREATE TABLE rows (result INTEGER NOT NULL, data BLOB NOT NULL);"
        "CREATE INDEX rows_result ON rows (result)");
    insert_ = conn_.prepare("INSERT INTO rows (result, data) VALUES (?1, ?2)");
    select_ = conn_.prepare("SELECT rowid, data FROM rows WHERE result = ?1 AND rowid > ?2 ORDER BY rowid LIMIT ?3");
    remove_ = conn_.prepare("DELETE FROM rows WHERE result = ?1");
}

// One transaction per result: a store costs one commit, and a failed one leaves nothing behind.
std::unique_ptr<RowStream> SqliteSpill::store(SqliteConn& source, sqlite3_stmt* st, bool on_row) {
    const int64_t result = next_result_++;
    conn_.exec("BEGIN");
    try {
        RawRow row;
        std::string data;
        sqlite3_bind_int64(insert_.get(), 1, result);
        for (; on_row; on_row = source.step(st)) {
            read_row(st, row);
            encode_row(row, data);
            const int rc = sqlite3_bind_blob64(insert_.get(), 2, data.data(), data.size(), SQLITE_STATIC);
            if (rc != SQLITE_OK) conn_.fail(rc);
            conn_.step(insert_.get());
            sqlite3_reset(insert_.get());
        }
        conn_.exec("COMMIT");
    } catch (...) {
        sqlite3_reset(insert_.get());
        sqlite3_exec(conn_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return std::make_unique<SpillStream>(shared_from_this(), result);
}

bool SqliteSpill::read(int64_t result, int64_t& after, std::vector<RawRow>& batch) {
    sqlite3_stmt* st = select_.get();
    sqlite3_bind_int64(st, 1, result);
    sqlite3_bind_int64(st, 2, after);
    sqlite3_bind_int64(st, 3, static_cast<sqlite3_int64>(kBatchRows));
    batch.resize(kBatchRows);
    size_t n = 0;
    try {
        for (; conn_.step(st); ++n) {
            after = sqlite3_column_int64(st, 0);
            decode_row(static_cast<const char*>(sqlite3_column_blob(st, 1)),
                       static_cast<size_t>(sqlite3_column_bytes(st, 1)), batch[n]);
        }
    } catch (...) {
        sqlite3_reset(st);
        throw;
    }
    sqlite3_reset(st);
    batch.resize(n);
    return n > 0;
}

void SqliteSpill::discard(int64_t result) noexcept {
    sqlite3_bind_int64(remove_.get(), 1, result);
    sqlite3_step(remove_.get());
    sqlite3_reset(remove_.get());
}

}  // namespace ado::detail
