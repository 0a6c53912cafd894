// SqliteProvider.cpp: the "SQLite" back end.
//
// Connections: one write connection per Connection runs Execute, buffered cursors (read to the end at
// once), keyset re-reads and optimistic edits, so it never keeps a statement unfinished and every write
// commits at once. A forward-only cursor streams through a connection of its own while fewer than
// kMaxStreams do, so its unfinished statement keeps a read snapshot on that connection only. Beyond that
// its result is copied at Open into the Connection's spill database (SqliteSpill.h) and read from there:
// every connection costs descriptors (the file and its log) and a page cache, and one read transaction
// cannot serve cursors opened on either side of a commit, so a thousand open cursors would otherwise need a
// thousand connections. Files use the WAL journal so
// readers and the writer do not block each other. ":memory:" becomes a named shared-cache database, one per
// Connection, which every connection of that Connection opens; there readers use read_uncommitted so
// they take no table locks that would block the writer (and so see other connections' changes as they go).
// Pessimistic edits hold BEGIN IMMEDIATE on a pooled connection: SQLite locks the whole database for
// writing until the edit is written or dropped. Another connection of this process that needs the lock
// meanwhile fails at once; one of another process waits up to LockTimeout (SqliteConn's busy handler).
#include "platform/ado/sqlite/SqliteProvider.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "common/AsciiCase.h"
#include "common/ComError.h"
#include "platform/ado/AdoTypes.h"
#include "platform/ado/detail/ConnectionString.h"
#include "platform/ado/sqlite/SqliteConn.h"
#include "platform/ado/sqlite/SqliteSchema.h"
#include "platform/ado/sqlite/SqliteSpill.h"

namespace ado::detail {
namespace {

constexpr size_t kMaxIdle = 4;     // pooled connections kept for streams and lock sessions
constexpr size_t kMaxStreams = 4;  // forward-only cursors streaming on connections of their own at once

// Idle connections; streams and lock sessions hand theirs back if the provider still exists.
struct Pool {
    std::vector<std::unique_ptr<SqliteConn>> idle;
    size_t streams = 0;  // connections held by streams now
    void give_back(std::unique_ptr<SqliteConn> conn) {
        if (idle.size() < kMaxIdle) idle.push_back(std::move(conn));
    }
};

// The statement has been stepped once when the stream is made (see SqliteProvider::query); that step's row,
// if any, is handed out first.
class SqliteStream final : public RowStream {
public:
    SqliteStream(std::unique_ptr<SqliteConn> conn, SqliteStmt st, bool on_row, std::weak_ptr<Pool> pool)
        : conn_(std::move(conn)), st_(std::move(st)), pool_(std::move(pool)), on_row_(on_row) {
        if (auto p = pool_.lock()) ++p->streams;
    }
    ~SqliteStream() override {
        st_.reset();  // finalize first: the connection goes back without an open read transaction
        conn_->publish_transaction();
        if (auto pool = pool_.lock()) {
            --pool->streams;
            pool->give_back(std::move(conn_));
        }
    }
    bool next(RawRow& row) override {
        if (first_) first_ = false;
        else if (on_row_) on_row_ = conn_->step(st_.get());  // never past the end: that would run it again
        if (!on_row_) return false;
        read_row(st_.get(), row);
        return true;
    }

private:
    std::unique_ptr<SqliteConn> conn_;
    SqliteStmt st_;
    std::weak_ptr<Pool> pool_;
    bool on_row_;        // the statement stands on a row
    bool first_ = true;  // that row is the first step's, not yet handed out
};

class SqliteLock final : public LockSession {
public:
    SqliteLock(std::unique_ptr<SqliteConn> conn, std::weak_ptr<Pool> pool)
        : conn_(std::move(conn)), pool_(std::move(pool)) {
        conn_->exec("BEGIN IMMEDIATE");
    }
    ~SqliteLock() override {
        if (!done_ && sqlite3_exec(conn_->get(), "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK) return;
        conn_->publish_transaction();
        if (auto pool = pool_.lock()) pool->give_back(std::move(conn_));
    }
    std::vector<RawRow> run(const std::string& sql, const std::vector<RawValue>& params) override {
        return conn_->run(sql, params);
    }
    void commit() override {
        conn_->exec("COMMIT");
        done_ = true;
    }

private:
    std::unique_ptr<SqliteConn> conn_;
    std::weak_ptr<Pool> pool_;
    bool done_ = false;
};

// Past blanks, "-- …" line comments and "/* … */" block comments: where a statement's first word starts.
const char* skip_blanks_and_comments(const char* sql) {
    for (;;) {
        while (ascii_is_space(*sql)) ++sql;
        if (sql[0] == '-' && sql[1] == '-') {
            while (*sql && *sql != '\n') ++sql;
        } else if (sql[0] == '/' && sql[1] == '*') {
            const char* end = std::strstr(sql + 2, "*/");
            sql = end ? end + 2 : sql + std::strlen(sql);
        } else {
            return sql;
        }
    }
}

// True when `sql` holds nothing but blanks, comments and ";": what may follow a cursor's one statement.
bool only_comments_after(const char* sql) {
    for (sql = skip_blanks_and_comments(sql); *sql == ';'; sql = skip_blanks_and_comments(sql + 1)) {
    }
    return *sql == '\0';
}

bool starts_with_word(const char* sql, const char* word) {
    sql = skip_blanks_and_comments(sql);
    for (; *word; ++word, ++sql)
        if (ascii_lower(*sql) != *word) return false;
    return !ascii_is_alnum(*sql);
}

// ADO's RecordsAffected: rows changed by a data change, -1 for statements that return rows or change no
// data (DDL, PRAGMA, transactions).
int32_t records_affected(sqlite3* db, sqlite3_stmt* st) {
    if (sqlite3_column_count(st) > 0) return -1;
    const char* sql = sqlite3_sql(st);
    for (const char* word : {"insert", "update", "delete", "replace"})
        if (starts_with_word(sql, word)) return sqlite3_changes(db);
    if (starts_with_word(sql, "with") && !sqlite3_stmt_readonly(st)) return sqlite3_changes(db);
    return -1;
}

class SqliteProvider final : public Provider {
public:
    explicit SqliteProvider(const Settings& settings);
    int32_t execute(const std::string& sql) override;
    std::optional<QueryResult> query(const std::string& sql, bool streaming) override;
    std::vector<RawRow> run(const std::string& sql, const std::vector<RawValue>& params) override {
        return write_->run(sql, params);
    }
    std::unique_ptr<LockSession> begin_lock() override {
        return std::make_unique<SqliteLock>(take_connection(), pool_);
    }
    std::string placeholder(size_t number) const override { return std::string(1, '?').append(std::to_string(number)); }
    std::string equal_or_both_null(const std::string& column, const ColumnInfo&,
                                   const std::string& placeholder) const override {
        return column + " IS " + placeholder;
    }
    std::string row_lock_clause() const override { return ""; }  // the lock session holds the database
    const char* source() const override { return "SQLite"; }

private:
    std::unique_ptr<SqliteConn> open_connection(int flags) const;
    std::unique_ptr<SqliteConn> take_connection();
    void use_wal();
    Settings settings_;
    std::string uri_;
    bool memory_ = false;
    std::unique_ptr<SqliteConn> write_;
    std::shared_ptr<Pool> pool_ = std::make_shared<Pool>();
    std::shared_ptr<SqliteSpill> spill_;  // opened when first needed; kept alive by the streams over it
};

// "Data Source=<path>"; a string without "=" is taken as the path itself.
std::string data_source(const std::string& text) {
    if (text.find('=') == std::string::npos) return text;
    for (const auto& [key, value] : parse_connection_string(text))
        if (key == "data source") return value;
    throw ComError(kDbFail, "SQLite", "The connection string has no Data Source.");
}

std::string unique_memory_name() {
    static std::atomic<unsigned> counter{0};
    return "file:ado-memory-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) +
           "?mode=memory&cache=shared";
}

// Only this first connection may create the file; the pooled ones open it as it is (see take_connection).
SqliteProvider::SqliteProvider(const Settings& settings) : settings_(settings) {
    const std::string source = data_source(settings.connection_string);
    if (source.empty()) throw ComError(kDbFail, "SQLite", "The connection string has no Data Source.");
    memory_ = source == ":memory:";
    uri_ = memory_ ? unique_memory_name() : source;
    write_ = open_connection(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!memory_) use_wal();
}

// WAL: readers and the writer proceed together, and a commit costs one append instead of a journal rewrite.
// synchronous=NORMAL syncs at checkpoints only: a commit survives a crash of the process, and the last
// commits may be lost on power failure, never the database's consistency. A database this process may not
// write (a read-only file, URI mode=ro, a file in a read-only directory) cannot switch; it is opened for
// reading in the journal mode it has, and each write attempt fails with SQLite's own error. It must still be
// readable: a WAL database whose shared-memory file cannot be created cannot even be read, and Open says so.
void SqliteProvider::use_wal() {
    try {
        write_->exec("PRAGMA journal_mode=WAL");
    } catch (const ComError&) {
        if ((sqlite3_errcode(write_->get()) & 0xff) != SQLITE_READONLY) throw;
        write_->exec("PRAGMA schema_version");
    }
}

std::unique_ptr<SqliteConn> SqliteProvider::open_connection(int flags) const {
    auto conn = std::make_unique<SqliteConn>(uri_, flags, settings_);
    conn->exec(memory_ ? "PRAGMA read_uncommitted=1" : "PRAGMA synchronous=NORMAL");
    return conn;
}

// A pooled connection opens the file the first one opened, never a new one: had the file been deleted, a
// new empty database at its path would answer "no such table" instead of the truth. It serves one cursor at
// a time, on its channel's thread, so SQLite's own mutex (a lock and unlock inside every step and column
// read) buys nothing there; the shared main connection keeps it.
std::unique_ptr<SqliteConn> SqliteProvider::take_connection() {
    if (pool_->idle.empty()) return open_connection(SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    std::unique_ptr<SqliteConn> conn = std::move(pool_->idle.back());
    pool_->idle.pop_back();
    return conn;
}

int32_t SqliteProvider::execute(const std::string& sql) {
    int32_t affected = -1;
    for (size_t offset = 0; offset < sql.size();) {
        size_t tail = 0;
        SqliteStmt st = write_->prepare(std::string_view(sql).substr(offset), &tail);
        if (tail == 0) break;  // nothing consumed: nothing more SQLite can read
        offset += tail;
        if (!st) continue;  // blanks or a comment
        while (write_->step(st.get())) {
        }
        affected = records_affected(write_->get(), st.get());
    }
    return affected;
}

// Prepares on the write connection to learn what the statement is. Statements without rows run there;
// read-only ones asked as a stream are prepared again on a pooled connection of their own while fewer than
// kMaxStreams streams hold one, else read to the end into the spill database; the rest are read to the end
// at once. Columns are described after the first step: a statement prepared against
// a schema another connection has changed since is prepared again by that step, so only then do its
// columns match the rows it yields.
std::optional<QueryResult> SqliteProvider::query(const std::string& sql, bool streaming) {
    size_t tail = 0;
    SqliteStmt st = write_->prepare(sql, &tail);
    if (!only_comments_after(sql.c_str() + tail))
        throw ComError(kDbErrorsInCommand, "SQLite", "A cursor's source must be a single statement.");
    if (!st) return std::nullopt;
    if (sqlite3_column_count(st.get()) == 0) {
        while (write_->step(st.get())) {
        }
        return std::nullopt;
    }
    QueryResult result;
    const bool stream = streaming && sqlite3_stmt_readonly(st.get());
    if (stream && pool_->streams < kMaxStreams) {
        st.reset();
        std::unique_ptr<SqliteConn> conn = take_connection();
        SqliteStmt own = conn->prepare(sql);
        const bool on_row = conn->step(own.get());
        result.columns = describe_columns(own.get());
        result.table = trace_table(*write_, own.get());
        result.stream = std::make_unique<SqliteStream>(std::move(conn), std::move(own), on_row, pool_);
        return result;
    }
    bool on_row = write_->step(st.get());
    result.columns = describe_columns(st.get());
    result.table = trace_table(*write_, st.get());
    if (stream) {
        if (!spill_) spill_ = std::make_shared<SqliteSpill>(settings_);
        result.stream = spill_->store(*write_, st.get(), on_row);
        return result;
    }
    for (; on_row; on_row = write_->step(st.get())) result.rows.push_back(read_row(st.get()));
    return result;
}

}  // namespace

std::unique_ptr<Provider> make_sqlite_provider(const Settings& settings) {
    return std::make_unique<SqliteProvider>(settings);
}

}  // namespace ado::detail
