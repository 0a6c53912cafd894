// SqliteLocks.cpp: the process-wide table of SQLite connections and their transaction states; see
// SqliteLocks.h.
#include "platform/ado/sqlite/SqliteLocks.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace ado::detail {
namespace {

// Every tracked holder. Connections are few and live long, so a list scanned under one mutex is enough;
// the scan runs only when a statement meets a lock.
struct Table {
    std::mutex mutex;
    std::vector<const LockHolder*> holders;
};

// Never destroyed: a Connection in static storage may close its connections after this file's statics.
Table& table() {
    static Table* t = new Table;
    return *t;
}

std::string file_identity(sqlite3* db) {
    const char* path = sqlite3_db_filename(db, "main");
    struct stat st {};
    if (!path || !*path || ::stat(path, &st) != 0) return "";
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

}  // namespace

LockHolder::LockHolder(sqlite3* db) : file_(file_identity(db)) {
    if (file_.empty()) return;
    Table& t = table();
    const std::lock_guard<std::mutex> lock(t.mutex);
    t.holders.push_back(this);
}

LockHolder::~LockHolder() {
    if (file_.empty()) return;
    Table& t = table();
    const std::lock_guard<std::mutex> lock(t.mutex);
    t.holders.erase(std::remove(t.holders.begin(), t.holders.end(), this), t.holders.end());
}

void LockHolder::publish(sqlite3* db) noexcept {
    state_.store(sqlite3_txn_state(db, nullptr), std::memory_order_relaxed);
}

bool LockHolder::blocked_by_own_writer() const noexcept {
    if (file_.empty()) return false;
    Table& t = table();
    const std::lock_guard<std::mutex> lock(t.mutex);
    for (const LockHolder* other : t.holders) {
        if (other != this && other->file_ == file_ && other->state_.load(std::memory_order_relaxed) == SQLITE_TXN_WRITE)
            return true;
    }
    return false;
}

}  // namespace ado::detail
