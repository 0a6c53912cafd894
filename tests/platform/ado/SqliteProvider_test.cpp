// SqliteProvider_test.cpp: what only the SQLite back end does: lock waits (never for a lock of this process,
// at most LockTimeout for another process's), read-only databases, pooled connections that never create the
// file, and what may follow a cursor's one statement.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "AdoFixture.h"

namespace ado_test {
namespace {

using namespace ado;
using Clock = std::chrono::steady_clock;

// Far below the time-outs these tests set (ConnectionTimeout 60 s, LockTimeout 20 s where a wait must not
// happen), far above any lock-free write: a call that returns sooner did not wait for the lock.
constexpr auto kNoWait = std::chrono::seconds(10);

class SqliteProviderTest : public AdoTest {
protected:
    std::string db_path() const { return connection_string().substr(std::string("Data Source=").size()); }

    // A Connection to the test's database with the given lock time-out and a ConnectionTimeout that would
    // show if it were still the bound of lock waits.
    std::shared_ptr<Connection> connect_with_lock_timeout(int32_t milliseconds) {
        auto c = std::make_shared<Connection>();
        c->Provider("SQLite");
        c->ConnectionString(connection_string());
        c->ConnectionTimeout(60);
        c->LockTimeout(milliseconds);
        c->Open();
        return c;
    }

    // Starts a child process that holds the database's write lock until `hold` has passed, then commits and
    // exits. Returns once the child holds the lock.
    pid_t start_foreign_writer(std::chrono::milliseconds hold) {
        int ready[2];
        if (::pipe(ready) != 0) return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            try {
                Connection c;
                c.Provider("SQLite");
                c.ConnectionString(connection_string());
                c.Open();
                c.Execute("BEGIN IMMEDIATE; UPDATE items SET qty = 11 WHERE id = 1");
                (void)!::write(ready[1], "L", 1);
                std::this_thread::sleep_for(hold);
                c.Execute("COMMIT");
            } catch (...) {
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        const bool locked = pid > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        if (pid > 0 && !locked) ::waitpid(pid, nullptr, 0);
        return locked ? pid : -1;
    }
};

int child_status(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Runs `body` in a child process without root's power to write any file, so file permissions apply as they
// do to the gateway's user. The child's exit status is body's result; 77 when privileges cannot be dropped.
int run_unprivileged(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    return pid < 0 ? -1 : child_status(pid);
}

}  // namespace

// The holder of a pessimistic edit (BEGIN IMMEDIATE) or of a transaction opened with Execute keeps the whole
// database locked until a later request of the same thread: a write to any table by another channel, or by
// the holder's own Connection outside the transaction, fails at once with SQLite's own message instead of
// waiting for it.
TEST_P(SqliteProviderTest, LockOfThisProcessIsNeverWaitedFor) {
    make_items();
    exec("CREATE TABLE other (id INTEGER PRIMARY KEY, v INTEGER); INSERT INTO other (id, v) VALUES (1, 0)");
    auto b = connect_with_lock_timeout(20000);
    std::unique_ptr<Recordset> edit;
    const auto pessimistic_edit = [&] {
        edit = open("SELECT id, qty FROM items", adOpenKeyset, adLockPessimistic);
        edit->Fields(Variant("qty")).Value(Variant(int32_t{99}));
    };
    const auto transaction = [&] { exec("BEGIN IMMEDIATE"); };
    const auto write_by_b = [&] { b->Execute("UPDATE other SET v = v + 1"); };
    const auto edit_by_b = [&] {
        auto rs = open("SELECT id, v FROM other", adOpenKeyset, adLockPessimistic, b);
        rs->Fields(Variant("v")).Value(Variant(int32_t{5}));
    };
    const auto write_by_holder = [&] { exec("UPDATE other SET v = v + 1"); };
    struct Case { const char* name; std::function<void()> hold, write; };
    const Case cases[] = {
        {"edit, other channel writes", pessimistic_edit, write_by_b},
        {"edit, other channel edits", pessimistic_edit, edit_by_b},
        {"edit, own connection writes", pessimistic_edit, write_by_holder},
        {"transaction, other channel writes", transaction, write_by_b},
        {"transaction, other channel edits", transaction, edit_by_b},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.hold();
        const auto start = Clock::now();
        const ComError e = error_of(c.write);
        EXPECT_LT(Clock::now() - start, kNoWait);
        EXPECT_EQ(e.number(), kDbFail);
        EXPECT_EQ(e.description(), "database is locked");
        if (edit) {
            edit->Update();
            edit.reset();
        } else {
            exec("COMMIT");
        }
        EXPECT_NO_THROW(c.write());  // the lock is gone
    }
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 99);
}

// Another process's write lock is waited for, in steps, until LockTimeout: a lock released within it lets the
// write through, one held longer fails with "database is locked" once LockTimeout (not ConnectionTimeout)
// has passed.
TEST_P(SqliteProviderTest, LockOfAnotherProcessIsWaitedForUpToLockTimeout) {
    make_items();
    auto b = connect_with_lock_timeout(300);
    pid_t writer = start_foreign_writer(std::chrono::seconds(20));
    ASSERT_GT(writer, 0);
    const auto start = Clock::now();
    const ComError e = error_of([&] { b->Execute("UPDATE items SET qty = 12 WHERE id = 2"); });
    const auto waited = Clock::now() - start;
    ::kill(writer, SIGKILL);  // the kill releases its lock
    child_status(writer);
    EXPECT_EQ(e.number(), kDbFail);
    EXPECT_EQ(e.description(), "database is locked");
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, kNoWait);

    auto patient = connect_with_lock_timeout(20000);
    writer = start_foreign_writer(std::chrono::milliseconds(200));
    ASSERT_GT(writer, 0);
    EXPECT_NO_THROW(patient->Execute("UPDATE items SET qty = 12 WHERE id = 2"));
    EXPECT_EQ(child_status(writer), 0);
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 11);  // the other process's commit
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 2")), 12);
}

// A database that cannot be written opens for reading in the journal mode it has; each write reports SQLite's
// own error. Asked for read-only through the URI, and, without root's privileges, a read-only file and a
// writable file in a read-only directory (where SQLite opens read-write but cannot make the WAL files).
TEST_P(SqliteProviderTest, DatabaseThatCannotBeWrittenOpensForReading) {
    make_items();
    exec("PRAGMA journal_mode=DELETE");
    conn_->Close();
    const std::string path = db_path();
    const std::string dir = path.substr(0, path.rfind('/'));
    // 0: read and refused write as expected; 1: the Open failed; 2: read wrong; 3: write not refused as SQLite.
    const auto read_only_checks = [&](const std::string& data_source) {
        Connection c;
        c.Provider("SQLite");
        c.ConnectionString("Data Source=" + data_source);
        try {
            c.Open();
        } catch (const ComError&) {
            return 1;
        }
        auto shared = std::shared_ptr<Connection>(&c, [](Connection*) {});
        Recordset rs;
        rs.Open("SELECT count(*) AS n FROM items", shared, adOpenForwardOnly, adLockReadOnly);
        if (vb_id(rs.Fields(Variant("n")).Value()) != 3) return 2;
        rs.Close();
        const ComError e = error_of([&] { c.Execute("UPDATE items SET qty = 0"); });
        if (e.number() != kDbFail || e.description() != "attempt to write a readonly database") return 3;
        return 0;
    };
    EXPECT_EQ(read_only_checks("file:" + path + "?mode=ro"), 0);
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));  // still the rollback journal

    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(run_unprivileged([&] { return read_only_checks(path); }), 0) << "read-only file";
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);  // the child's own file
    }
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    EXPECT_EQ(run_unprivileged([&] { return read_only_checks(path); }), 0) << "read-only directory";
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
}

// Only Open creates the database file. Once it is deleted, a cursor's pooled connection fails with a clear
// error instead of creating an empty database at the same path.
TEST_P(SqliteProviderTest, PooledConnectionNeverCreatesTheFile) {
    make_items();
    const std::string path = db_path();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    const ComError e = error_of([&] { open("SELECT id FROM items", adOpenForwardOnly, adLockReadOnly); });
    EXPECT_EQ(e.number(), kDbFail);
    EXPECT_NE(e.description().find("no longer exists"), std::string::npos) << e.description();
    EXPECT_FALSE(std::filesystem::exists(path));
}

// A ":memory:" database has no snapshot and no lock waits: a forward-only cursor shows rows written after it
// started, and a write while a pessimistic edit holds the database fails at once.
TEST_P(SqliteProviderTest, MemoryDatabaseCursorSeesChangesAndLocksFailAtOnce) {
    auto mem = std::make_shared<Connection>();
    mem->Provider("SQLite");
    mem->ConnectionString("Data Source=:memory:");
    mem->LockTimeout(20000);
    mem->Open();
    mem->Execute("CREATE TABLE m (id INTEGER PRIMARY KEY, v INTEGER); INSERT INTO m (id, v) VALUES (1, 0), (2, 0)");
    Recordset streaming;
    streaming.Open("SELECT id FROM m ORDER BY id", mem, adOpenForwardOnly, adLockReadOnly);
    mem->Execute("INSERT INTO m (id, v) VALUES (3, 0)");
    streaming.MoveNext();
    streaming.MoveNext();
    EXPECT_EQ(vb_id(streaming.Fields(Variant("id")).Value()), 3);

    Recordset edit;
    edit.Open("SELECT id, v FROM m", mem, adOpenKeyset, adLockPessimistic);
    edit.Fields(Variant("v")).Value(Variant(int32_t{1}));
    const auto start = Clock::now();
    const ComError e = error_of([&] { mem->Execute("UPDATE m SET v = 2 WHERE id = 2"); });
    EXPECT_LT(Clock::now() - start, kNoWait);
    EXPECT_EQ(e.number(), kDbFail);
    EXPECT_NE(e.description().find("database table is locked"), std::string::npos) << e.description();
}

// Only blanks, ";" and comments may follow a cursor's statement; a second statement is refused.
TEST_P(SqliteProviderTest, CursorSourceIsOneStatement) {
    make_items();
    for (const char* sql : {"SELECT id FROM items; SELECT 2", "SELECT id FROM items; -- x\nSELECT 2",
                            "SELECT id FROM items /* a */ ; /* b */ DELETE FROM items"}) {
        SCOPED_TRACE(sql);
        const ComError e = error_of([&] { open(sql, adOpenForwardOnly, adLockReadOnly); });
        EXPECT_EQ(e.number(), kDbErrorsInCommand);
        EXPECT_EQ(e.description(), "A cursor's source must be a single statement.");
    }
    EXPECT_EQ(vb_id(scalar("SELECT count(*) FROM items")), 3);
}

INSTANTIATE_TEST_SUITE_P(Providers, SqliteProviderTest, ::testing::Values("sqlite"));

}  // namespace ado_test
