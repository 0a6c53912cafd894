// SqliteConn.h: one SQLite connection with the owning handle types, CommandTimeout enforced through a
// progress handler, lock waits bounded by LockTimeout through a busy handler, and SQLite errors raised as ADO
// provider errors.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/detail/Provider.h"
#include "platform/ado/sqlite/SqliteLocks.h"

namespace ado::detail {

// sqlite3_close_v2 cannot fail: with statements still open it waits for the last finalize.
struct SqliteClose {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct SqliteFinalize {
    void operator()(sqlite3_stmt* st) const noexcept { sqlite3_finalize(st); }
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteClose>;
using SqliteStmt = std::unique_ptr<sqlite3_stmt, SqliteFinalize>;

class SqliteConn final {
public:
    // Opens `uri` (SQLITE_OPEN_URI is always on). Raises E_FAIL with SQLite's text when it cannot.
    SqliteConn(const std::string& uri, int flags, const Settings& settings);
    SqliteConn(const SqliteConn&) = delete;  // the progress and busy handlers hold `this`
    SqliteConn& operator=(const SqliteConn&) = delete;
    sqlite3* get() const noexcept { return db_.get(); }
    // After a statement of this connection was finalized or reset outside step(): its transaction may
    // have ended.
    void publish_transaction() noexcept { holder_.publish(db_.get()); }

    void exec(const std::string& sql);                           // statements without results
    SqliteStmt prepare(std::string_view sql, size_t* tail = nullptr);  // tail: offset after the first one
    bool step(sqlite3_stmt* st);                                 // true: a row; false: done
    std::vector<RawRow> run(const std::string& sql, const std::vector<RawValue>& params);

    [[noreturn]] void fail(int rc) const;  // the ADO provider error for rc and this connection's message

private:
    static int on_progress(void* self) noexcept;
    static int on_busy(void* self, int attempt) noexcept;
    SqliteDb db_;
    LockHolder holder_;                                   // our transaction state, seen by other connections
    std::chrono::milliseconds lock_timeout_;              // wait for another process's lock; 0: none
    std::chrono::steady_clock::time_point busy_since_{};  // of the lock wait in progress
    std::chrono::seconds command_timeout_;                // 0: none
    std::chrono::steady_clock::time_point deadline_{};   // of the step in progress, once deadline_set_
    bool deadline_set_ = false;
    bool timing_ = false;
    bool timed_out_ = false;
};

RawRow read_row(sqlite3_stmt* st);
void read_row(sqlite3_stmt* st, RawRow& row);  // into `row`, reusing its memory
void bind_params(const SqliteConn& conn, sqlite3_stmt* st, const std::vector<RawValue>& params);

}  // namespace ado::detail
