// PgLockWatch.h: which PostgreSQL backends are this process's own, and the small extra connection through
// which a statement that is slow to answer is looked at. A statement waiting for a lock that one of our own
// connections holds can never be granted in time: the gateway serves every client on one thread, so the
// holder cannot go on while we wait. Such a statement is cancelled at once. A statement past its time-out
// is cancelled, and a session that does not answer even then is ended, from here.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/detail/Provider.h"
#include "platform/ado/postgresql/PgConn.h"

namespace ado::detail {

// The server a connection reached, as "host:port": backend pids are only unique within one server.
std::string server_of(const PGconn* conn);
// Registers backend `pid` on `server` as one of this process's connections while it is open.
void add_own_backend(const std::string& server, int pid);
void remove_own_backend(const std::string& server, int pid) noexcept;

class PgLockWatch final {
public:
    PgLockWatch(std::string conninfo, const Settings& settings);
    ~PgLockWatch();
    PgLockWatch(const PgLockWatch&) = delete;
    PgLockWatch& operator=(const PgLockWatch&) = delete;

    // Called before each statement is sent: opens the watch connection if it is not open (first use, or
    // after it was dropped). When it cannot be opened the statement runs unwatched: LockTimeout still
    // bounds its lock waits and CommandTimeout its wait for an answer.
    void prepare() noexcept;
    // When backend `pid` of `server` waits for a lock that another of this process's backends holds, cancels
    // its statement and returns what it waited for; nullopt otherwise, or when the watch cannot tell.
    std::optional<std::string> cancel_if_waiting_for_own_lock(const std::string& server, int pid) noexcept;
    // Asks the server to cancel the statement of backend `pid`; false when the watch could not ask.
    bool cancel(int pid) noexcept;
    // Asks the server to end backend `pid`'s session, so a statement we gave up on does not go on (and
    // commit) after its connection was dropped.
    bool terminate(int pid) noexcept;

private:
    PgResult ask(const char* sql, const std::vector<RawValue>& params) noexcept;
    std::string conninfo_;
    Settings settings_;                                // the watch's own: a short command time-out
    std::unique_ptr<PgConn> conn_;                     // null until opened, and after a failure
    std::chrono::steady_clock::time_point next_try_;   // no new attempt to open before this
};

}  // namespace ado::detail
