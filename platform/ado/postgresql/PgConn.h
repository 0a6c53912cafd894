// PgConn.h: one libpq connection with the owning handle types, the session settings every connection of
// a Connection gets (CommandTimeout as statement_timeout, LockTimeout as lock_timeout, ISO dates), and
// PostgreSQL errors raised as ADO provider errors with the server's message.
//
// Statements are sent without blocking and their answer awaited in short steps (see PgAnswer.h), because
// the server may not answer in time: a statement waiting for a lock of this process's own is cancelled
// once the watch (PgLockWatch.h) sees it, and one still unanswered a moment after CommandTimeout is
// cancelled; if even that brings no answer the connection is dropped, reported as a time-out, and opened
// again at its next statement. A dropped connection's transaction (a stream's, a lock session's) is gone.
//
// A connection the server ended (stopped, restarted, or the backend terminated) is dropped when a statement
// finds it so, and opened again, with the same settings, by the next statement. One found ended before a
// statement was sent is opened again for that statement at once, unless it was inside a transaction block:
// then that one statement fails, saying the transaction was lost, so that statements meant for the
// transaction do not silently run outside it. A failed attempt to open again is not repeated for a second;
// statements meanwhile fail with its error at once.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/detail/Provider.h"

namespace ado::detail {

struct PgFinish {
    void operator()(PGconn* conn) const noexcept { PQfinish(conn); }
};
struct PgClear {
    void operator()(PGresult* res) const noexcept { PQclear(res); }
};
using PgConnPtr = std::unique_ptr<PGconn, PgFinish>;
using PgResult = std::unique_ptr<PGresult, PgClear>;

class PgLockWatch;

class PgConn final {
public:
    // Connects with a libpq conninfo or URI; ConnectionTimeout → connect_timeout. E_FAIL when refused.
    // `watch`, when given, looks at statements that are slow to answer (lock waits, time-outs).
    PgConn(std::string conninfo, const Settings& settings, std::shared_ptr<PgLockWatch> watch = nullptr);
    ~PgConn();
    PgConn(const PgConn&) = delete;
    PgConn& operator=(const PgConn&) = delete;

    PGconn* get() const noexcept { return conn_.get(); }  // null while dropped
    // Counts the sessions opened: a cursor or transaction of an earlier session is gone.
    uint64_t session() const noexcept { return session_; }
    // True when the session is open and the server has not ended it: reads what the server sent meanwhile,
    // and drops the connection when it was ended. Never opens one.
    bool usable() noexcept;

    // Run statements, opening the connection again first if it was dropped. Raise the database's error,
    // -2147217871 when CommandTimeout passed, -2147467259 for a wait on this process's own lock.
    PgResult exec(const std::string& sql);  // one or more statements; the last one's result
    PgResult exec_params(const std::string& sql, const std::vector<RawValue>& params);
    bool try_exec(const char* sql) noexcept;  // for clean-up: true when it succeeded; never reopens

private:
    void open();
    void reopen();  // after usable() found no session: opens one, or says why the statement cannot run
    PgResult run(const std::function<int(PGconn*)>& send);
    PgResult await_answer();
    void abandon() noexcept;  // ends the session of a statement given up on, and drops the connection
    void drop() noexcept;
    PgResult checked(PgResult res) const;  // raises the ADO error for a failed result

    std::string conninfo_;
    Settings settings_;
    std::shared_ptr<PgLockWatch> watch_;  // null for the watch's own connection
    PgConnPtr conn_;
    std::string server_;  // where conn_ is connected, and its backend: registered as this process's own
    int backend_ = 0;
    uint64_t session_ = 0;
    bool in_block_ = false;              // the session was inside a transaction block after its last statement
    bool lost_in_block_ = false;         // usable() dropped it so; the next statement reports it
    std::chrono::steady_clock::time_point next_open_{};  // no attempt to open again before this
    std::string open_failure_;          // why the last attempt failed
};

RawRow read_row(const PGresult* res, int row);
std::vector<RawRow> read_rows(const PGresult* res);

}  // namespace ado::detail
