// PgLockWatch.cpp: this process's own backends and the watch connection; see PgLockWatch.h.
#include "platform/ado/postgresql/PgLockWatch.h"

#include <map>
#include <mutex>
#include <set>

#include "platform/ado/postgresql/PgConn.h"

namespace ado::detail {
namespace {

using Clock = std::chrono::steady_clock;

// After the watch connection could not be opened, statements run unwatched this long before the next try,
// so a server that refuses connections does not cost every statement a connection attempt.
constexpr auto kReopenAfter = std::chrono::seconds(5);
// The watch's statements read the activity and lock tables: they answer at once unless the server is stuck.
constexpr int32_t kWatchTimeoutSeconds = 1;

// The statement of backend $1, cancelled when it waits for a lock that one of the backends $2 holds (or
// waits ahead of it for); the lock waited for, with the table (a row lock waits for the holder's
// transaction, and the table is that of the tuple lock the waiter holds meanwhile). No row: not such a wait.
constexpr const char* kCancelIfOwnLock =
    "SELECT w.locktype, w.mode, coalesce(w.relation, (SELECT t.relation FROM pg_locks t "
    "WHERE t.pid = a.pid AND t.locktype = 'tuple' LIMIT 1))::regclass::text, pg_cancel_backend(a.pid) "
    "FROM pg_stat_activity a LEFT JOIN LATERAL (SELECT l.locktype, l.mode, l.relation FROM pg_locks l "
    "WHERE l.pid = a.pid AND NOT l.granted LIMIT 1) w ON true "
    "WHERE a.pid = $1 AND a.wait_event_type = 'Lock' AND pg_blocking_pids(a.pid) && $2::int[]";

struct OwnBackends {
    std::mutex mutex;
    std::map<std::string, std::multiset<int>> pids;  // per server
};

// Never destroyed: a connection held in static storage may close after a static registry would be gone.
OwnBackends& own_backends() {
    static OwnBackends* backends = new OwnBackends;
    return *backends;
}

// This process's other backends on `server`, as a PostgreSQL int[] literal.
std::string other_backends(const std::string& server, int pid) {
    OwnBackends& own = own_backends();
    std::lock_guard<std::mutex> lock(own.mutex);
    std::string list = "{";
    const auto it = own.pids.find(server);
    if (it != own.pids.end())
        for (int p : it->second)
            if (p != pid) list.append(list.size() > 1 ? "," : "").append(std::to_string(p));
    return list + "}";
}

std::string conflict_text(const std::string& locktype, const std::string& mode, const std::string& table) {
    std::string what;
    if (locktype == "relation") what = mode + " on table " + table;
    else if (locktype == "transactionid" || locktype == "tuple")
        what = "a row lock" + (table.empty() ? "" : " in table " + table);
    else what = mode + " (" + (locktype.empty() ? "unknown" : locktype) + ")";
    return "Lock conflict: the statement waited for " + what +
           " held by another connection of this process, which cannot release it while this one waits; "
           "the statement was cancelled";
}

}  // namespace

std::string server_of(const PGconn* conn) {
    const char* host = PQhost(conn);
    const char* port = PQport(conn);
    return std::string(host ? host : "") + ":" + (port ? port : "");
}

void add_own_backend(const std::string& server, int pid) {
    OwnBackends& own = own_backends();
    std::lock_guard<std::mutex> lock(own.mutex);
    own.pids[server].insert(pid);
}

void remove_own_backend(const std::string& server, int pid) noexcept {
    OwnBackends& own = own_backends();
    std::lock_guard<std::mutex> lock(own.mutex);
    const auto it = own.pids.find(server);
    if (it == own.pids.end()) return;
    if (const auto one = it->second.find(pid); one != it->second.end()) it->second.erase(one);
    if (it->second.empty()) own.pids.erase(it);
}

PgLockWatch::PgLockWatch(std::string conninfo, const Settings& settings)
    : conninfo_(std::move(conninfo)), settings_(settings) {
    settings_.command_timeout = kWatchTimeoutSeconds;
}

PgLockWatch::~PgLockWatch() = default;

void PgLockWatch::prepare() noexcept {
    if (conn_ || Clock::now() < next_try_) return;
    try {
        conn_ = std::make_unique<PgConn>(conninfo_, settings_);
    } catch (...) {
        next_try_ = Clock::now() + kReopenAfter;
    }
}

std::optional<std::string> PgLockWatch::cancel_if_waiting_for_own_lock(const std::string& server, int pid) noexcept {
    const std::string others = other_backends(server, pid);
    if (others == "{}") return std::nullopt;
    PgResult res = ask(kCancelIfOwnLock, {RawValue::of_integer(pid), RawValue::of_text(others)});
    if (!res || PQntuples(res.get()) == 0) return std::nullopt;
    try {
        return conflict_text(PQgetvalue(res.get(), 0, 0), PQgetvalue(res.get(), 0, 1), PQgetvalue(res.get(), 0, 2));
    } catch (...) {
        return std::string();  // cancelled all the same
    }
}

bool PgLockWatch::cancel(int pid) noexcept {
    return ask("SELECT pg_cancel_backend($1)", {RawValue::of_integer(pid)}) != nullptr;
}

bool PgLockWatch::terminate(int pid) noexcept {
    return ask("SELECT pg_terminate_backend($1)", {RawValue::of_integer(pid)}) != nullptr;
}

// A watch statement that fails leaves the statement it was about unwatched; a watch connection that was
// dropped (it did not answer in time) is opened again before the next statement.
PgResult PgLockWatch::ask(const char* sql, const std::vector<RawValue>& params) noexcept {
    if (!conn_) return nullptr;
    try {
        return conn_->exec_params(sql, params);
    } catch (...) {
        if (!conn_->get() || PQstatus(conn_->get()) != CONNECTION_OK) conn_.reset();
        return nullptr;
    }
}

}  // namespace ado::detail
