// SqliteConn.cpp: one SQLite connection; see SqliteConn.h.
#include "platform/ado/sqlite/SqliteConn.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "common/ComError.h"
#include "platform/ado/AdoTypes.h"

namespace ado::detail {
namespace {

constexpr const char* kSource = "SQLite";
constexpr int kProgressOps = 1000;  // VM steps between deadline checks: cheap, yet well under a millisecond
constexpr std::chrono::milliseconds kBusySleep{5};  // between attempts at a lock another process holds

// SQLite result codes → ADO provider errors (extended codes keep the primary code in the low byte).
int32_t ado_number(int rc) {
    switch (rc & 0xff) {
        case SQLITE_CONSTRAINT: return kDbIntegrityViolation;
        case SQLITE_INTERRUPT: return kDbTimeout;
        case SQLITE_MISMATCH:
        case SQLITE_TOOBIG:
        case SQLITE_RANGE: return kDbErrorsOccurred;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_FULL:
        case SQLITE_READONLY:
        case SQLITE_CORRUPT:
        case SQLITE_NOMEM: return kDbFail;
        default: return kDbErrorsInCommand;
    }
}

// Opens `uri`; raises E_FAIL with SQLite's text when it cannot. Without SQLITE_OPEN_CREATE a missing file is
// said to be missing: only a Connection's first open creates the file, so it was deleted or moved since.
SqliteDb open_database(const std::string& uri, int flags) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, flags | SQLITE_OPEN_URI, nullptr);
    SqliteDb db(raw);  // owned even on failure: the error text is only readable through it
    if (rc == SQLITE_OK) return db;
    if (!raw) throw ComError(kDbFail, kSource, "SQLite could not allocate a connection");
    if (!(flags & SQLITE_OPEN_CREATE) && sqlite3_system_errno(raw) == ENOENT)
        throw ComError(kDbFail, kSource, "The database file " + uri + " no longer exists; only Open creates it.");
    throw ComError(kDbFail, kSource, sqlite3_errmsg(raw));
}

}  // namespace

SqliteConn::SqliteConn(const std::string& uri, int flags, const Settings& settings)
    : db_(open_database(uri, flags)),
      holder_(db_.get()),
      lock_timeout_(settings.lock_timeout_ms),
      command_timeout_(settings.command_timeout) {
    sqlite3* raw = db_.get();
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_handler(raw, &SqliteConn::on_busy, this);
    sqlite3_progress_handler(raw, kProgressOps, &SqliteConn::on_progress, this);
}

// SQLite calls this when a lock it needs is held elsewhere; 0 gives up with SQLITE_BUSY ("database is
// locked"), anything else tries again. A lock held by a connection of this process is never waited for (see
// SqliteLocks.h); another process's is waited for in short sleeps until LockTimeout has passed.
int SqliteConn::on_busy(void* self, int attempt) noexcept {
    auto* c = static_cast<SqliteConn*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0) c->busy_since_ = now;
    if (c->holder_.blocked_by_own_writer()) return 0;
    const auto left = c->lock_timeout_ - (now - c->busy_since_);
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kBusySleep, left));
    return 1;
}

int SqliteConn::on_progress(void* self) noexcept {
    auto* c = static_cast<SqliteConn*>(self);
    if (!c->timing_) return 0;
    if (!c->deadline_set_) {  // the step began at most kProgressOps VM steps ago
        c->deadline_ = std::chrono::steady_clock::now() + c->command_timeout_;
        c->deadline_set_ = true;
        return 0;
    }
    if (std::chrono::steady_clock::now() < c->deadline_) return 0;
    c->timed_out_ = true;
    return 1;  // SQLite stops the statement with SQLITE_INTERRUPT
}

void SqliteConn::fail(int rc) const {
    if ((rc & 0xff) == SQLITE_INTERRUPT && timed_out_) throw ado_error(kDbTimeout, kSource);
    throw ComError(ado_number(rc), kSource, sqlite3_errmsg(db_.get()));
}

void SqliteConn::exec(const std::string& sql) {
    const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
    publish_transaction();
    if (rc != SQLITE_OK) fail(rc);
}

// `sql` need not end with a NUL: SQLite reads exactly its length.
SqliteStmt SqliteConn::prepare(std::string_view sql, size_t* tail) {
    sqlite3_stmt* raw = nullptr;
    const char* rest = nullptr;
    const int rc = sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &raw, &rest);
    SqliteStmt st(raw);
    if (rc != SQLITE_OK) fail(rc);
    if (tail) *tail = rest ? static_cast<size_t>(rest - sql.data()) : sql.size();
    return st;
}

// Each step may run for CommandTimeout at most: a long statement is interrupted by the progress handler.
// The clock is read only once a step has run long enough to reach the handler, so the short steps of a
// scan (one row each) never pay for it.
bool SqliteConn::step(sqlite3_stmt* st) {
    timed_out_ = false;
    timing_ = command_timeout_.count() > 0;
    deadline_set_ = false;
    const int rc = sqlite3_step(st);
    timing_ = false;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) sqlite3_reset(st);  // a failed statement holds no transaction
    publish_transaction();
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(rc);
}

std::vector<RawRow> SqliteConn::run(const std::string& sql, const std::vector<RawValue>& params) {
    SqliteStmt st = prepare(sql);
    bind_params(*this, st.get(), params);
    std::vector<RawRow> rows;
    while (step(st.get())) rows.push_back(read_row(st.get()));
    return rows;
}

void read_row(sqlite3_stmt* st, RawRow& row) {
    const int n = sqlite3_column_count(st);
    row.resize(n);
    for (int i = 0; i < n; ++i) {
        RawValue& v = row[i];
        switch (sqlite3_column_type(st, i)) {
            case SQLITE_INTEGER: v.type = RawValue::Type::Integer, v.integer = sqlite3_column_int64(st, i); break;
            case SQLITE_FLOAT: v.type = RawValue::Type::Real, v.real = sqlite3_column_double(st, i); break;
            case SQLITE_TEXT:
                v.type = RawValue::Type::Text;
                v.text.assign(reinterpret_cast<const char*>(sqlite3_column_text(st, i)), sqlite3_column_bytes(st, i));
                break;
            case SQLITE_BLOB: {
                const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
                v.type = RawValue::Type::Blob;
                v.text.assign(p ? p : "", sqlite3_column_bytes(st, i));
                break;
            }
            default: v.type = RawValue::Type::Null; break;
        }
    }
}

RawRow read_row(sqlite3_stmt* st) {
    RawRow row;
    read_row(st, row);
    return row;
}

void bind_params(const SqliteConn& conn, sqlite3_stmt* st, const std::vector<RawValue>& params) {
    for (size_t i = 0; i < params.size(); ++i) {
        const RawValue& v = params[i];
        const int at = static_cast<int>(i + 1);
        int rc = SQLITE_OK;
        switch (v.type) {
            case RawValue::Type::Null: rc = sqlite3_bind_null(st, at); break;
            case RawValue::Type::Integer: rc = sqlite3_bind_int64(st, at, v.integer); break;
            case RawValue::Type::Real: rc = sqlite3_bind_double(st, at, v.real); break;
            case RawValue::Type::Text:
                rc = sqlite3_bind_text64(st, at, v.text.data(), v.text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
                break;
            case RawValue::Type::Blob:
                rc = sqlite3_bind_blob64(st, at, v.text.data(), v.text.size(), SQLITE_TRANSIENT);
                break;
        }
        if (rc != SQLITE_OK) conn.fail(rc);
    }
}

}  // namespace ado::detail
