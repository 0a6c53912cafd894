// SqliteLocks.h: which of this process's SQLite connections are inside a transaction, per database file, so
// that a busy handler can tell a lock worth waiting for from one it must never wait for.
//
// The gateway serves every client on one thread. A lock held by another connection of this process (a
// pessimistic edit's BEGIN IMMEDIATE, a transaction a client opened with Execute) is released only by a later
// request on that same thread, so waiting for it can only end in a time-out that freezes every client. A lock
// held by another process is released in its own time and is worth a bounded wait.
#pragma once

#include <atomic>
#include <string>

struct sqlite3;

namespace ado::detail {

// One connection's entry in the process-wide table, registered for the entry's lifetime. The owning
// connection publishes its transaction state after every statement step and exec; any thread may read it.
class LockHolder final {
public:
    // Tracks the connection `db` under the identity of its main database file (device and inode, so two
    // spellings of one path are one file). A database without a file (":memory:", temporary) is not tracked.
    explicit LockHolder(sqlite3* db);
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // Reads the connection's transaction state (none, read, write) from SQLite and publishes it.
    void publish(sqlite3* db) noexcept;
    // True when another tracked connection on the same file holds a write transaction, and with it the
    // database's one write lock. (A read transaction blocks nobody under the WAL journal the provider sets;
    // under a rollback journal a writer waits up to LockTimeout for readers, as for another process's.)
    bool blocked_by_own_writer() const noexcept;

private:
    std::string file_;          // "<device>:<inode>"; empty when not tracked
    std::atomic<int> state_{0}; // SQLITE_TXN_NONE, SQLITE_TXN_READ or SQLITE_TXN_WRITE
};

}  // namespace ado::detail
