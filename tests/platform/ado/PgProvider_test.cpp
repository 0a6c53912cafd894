// PgProvider_test.cpp: what only the PostgreSQL provider has to get right: lock waits between this process's
// own connections fail at once and other processes' locks are waited for only up to LockTimeout;
// CommandTimeout bounds the wait for an answer even when the server does not give one; COPY to or from the
// client is refused cleanly; values PostgreSQL cannot hold are refused at assignment.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AdoFixture.h"
#include "platform/ado/Recordset.h"

namespace ado_test {
namespace {

using namespace ado;
using namespace std::string_literals;

constexpr const char* kOwnConflict = "another connection of this process";

class PgProviderTest : public AdoTest {
protected:
    void SetUp() override {
        AdoTest::SetUp();
        if (IsSkipped()) return;
        make_items();
    }
    // A connection with time-outs of its own. With a long LockTimeout, a wait for one of this process's own
    // locks that is not refused at once ends as a time-out instead.
    std::shared_ptr<Connection> connect_waiting(int32_t lock_timeout_ms, int32_t command_timeout = 5) {
        auto conn = std::make_shared<Connection>();
        conn->Provider(provider());
        conn->ConnectionString(connection_string());
        conn->LockTimeout(lock_timeout_ms);
        conn->CommandTimeout(command_timeout);
        conn->Open();
        return conn;
    }
    Variant first_value(const std::string& sql, const std::shared_ptr<Connection>& conn) {
        Recordset rs;
        rs.Open(sql, conn, adOpenStatic, adLockReadOnly);
        return rs.Fields(Variant(int32_t{0})).Value();
    }
    // A connection whose every server session carries an application name of its own, so that a test can
    // end exactly those sessions while other tests use the same cluster.
    std::shared_ptr<Connection> connect_named(const std::string& name) {
        auto conn = std::make_shared<Connection>();
        conn->Provider(provider());
        conn->ConnectionString(connection_string() + " application_name=" + name);
        conn->Open();
        return conn;
    }
    // Ends every session named `name`, as an administrator or a server restart would, from another connection,
    // and waits until the server has let them go.
    void end_sessions(const std::string& name) {
        const std::string which = "FROM pg_stat_activity WHERE application_name = '" + name + "'";
        exec("SELECT pg_terminate_backend(pid) " + which);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (vb_id(scalar("SELECT count(*) " + which)) != 0)
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the sessions did not end";
    }
    std::string session_name() { return "ado_lost_" + std::to_string(::getpid()) + "_" + std::to_string(++sessions_); }
    int sessions_ = 0;
};

}  // namespace

TEST_P(PgProviderTest, WaitOnALockOfThisProcessFailsAtOnce) {
    auto a = connect_waiting(60000);
    auto b = connect_waiting(60000);

    // A pessimistic edit holds the row: another connection's write, and the holder's own, fail at once.
    auto locked = open("SELECT id, name FROM items ORDER BY id", adOpenKeyset, adLockPessimistic, a);
    locked->Fields(Variant("name")).Value(Variant("locked"));
    for (const auto& writer : {b, a}) {
        SCOPED_TRACE(writer == a ? "holder" : "other");
        const ComError e = error_of([&] { writer->Execute("UPDATE items SET qty = 0 WHERE id = 1"); });
        EXPECT_EQ(e.number(), kDbFail);
        EXPECT_NE(e.description().find(kOwnConflict), std::string::npos) << e.description();
        EXPECT_NE(e.description().find("items"), std::string::npos) << e.description();
    }
    locked->Update();  // the lock session is intact after the cancelled statements
    EXPECT_EQ(scalar("SELECT name FROM items WHERE id = 1"), Variant("locked"));
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 10);
    EXPECT_EQ(b->Execute("UPDATE items SET qty = 11 WHERE id = 1"), 1);  // the lock was released

    // An unfinished forward-only cursor holds its table: ALTER TABLE elsewhere fails at once.
    auto streaming = open("SELECT id, name FROM items ORDER BY id", adOpenForwardOnly, adLockReadOnly, a);
    const ComError e = error_of([&] { b->Execute("ALTER TABLE items ADD COLUMN extra INTEGER"); });
    EXPECT_EQ(e.number(), kDbFail);
    EXPECT_NE(e.description().find(kOwnConflict), std::string::npos) << e.description();
    streaming->MoveNext();
    EXPECT_EQ(vb_id(streaming->Fields(Variant("id")).Value()), 2);
    streaming->Close();
    EXPECT_EQ(b->Execute("ALTER TABLE items ADD COLUMN extra INTEGER"), -1);
}

TEST_P(PgProviderTest, OwnLockConflictInsideAPessimisticEditKeepsTheEditAndItsLock) {
    exec("CREATE TABLE orders (id INTEGER PRIMARY KEY, item INTEGER REFERENCES items (id))");
    exec("INSERT INTO orders VALUES (1, 2)");
    auto a = connect_waiting(60000);
    auto item = open("SELECT id, name FROM items ORDER BY id", adOpenKeyset, adLockPessimistic, a);
    item->Fields(Variant("name")).Value(Variant("held"));  // item 1 locked FOR UPDATE
    auto order = open("SELECT id, item FROM orders", adOpenKeyset, adLockPessimistic, a);
    order->Fields(Variant("item")).Value(Variant(int32_t{1}));  // its key check must wait for item 1's lock
    const ComError e = error_of([&] { order->Update(); });
    EXPECT_EQ(e.number(), kDbFail);
    EXPECT_NE(e.description().find(kOwnConflict), std::string::npos) << e.description();
    EXPECT_EQ(order->EditMode(), adEditInProgress);  // rolled back to the savepoint: edit and lock kept
    auto other = connect_waiting(0);
    EXPECT_EQ(error_number([&] { other->Execute("UPDATE orders SET item = 3 WHERE id = 1"); }), kDbFail);
    item->CancelUpdate();
    order->Update();
    EXPECT_EQ(vb_id(scalar("SELECT item FROM orders WHERE id = 1")), 1);
}

TEST_P(PgProviderTest, LockOfAnotherProcessIsWaitedForUpToLockTimeout) {
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // holds row 1 until the parent closes `release`
        ::close(ready[0]);
        ::close(release[1]);
        try {
            auto conn = std::make_shared<Connection>();
            conn->Provider(provider());
            conn->ConnectionString(connection_string());
            conn->Open();
            Recordset rs;
            rs.Open("SELECT id, name FROM items ORDER BY id", conn, adOpenKeyset, adLockPessimistic);
            rs.Fields(Variant("name")).Value(Variant("child"));
            (void)!::write(ready[1], "r", 1);
            char c;
            (void)!::read(release[0], &c, 1);
        } catch (...) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1) << "the child could not lock the row";

    auto waiting = connect_waiting(200, 10);
    const ComError e = error_of([&] { waiting->Execute("UPDATE items SET qty = 0 WHERE id = 1"); });
    EXPECT_EQ(e.number(), kDbFail);  // the database's lock time-out, long before the command time-out
    EXPECT_NE(e.description().find("lock timeout"), std::string::npos) << e.description();
    EXPECT_EQ(e.description().find(kOwnConflict), std::string::npos) << e.description();

    ::close(release[1]);
    ::close(ready[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(waiting->Execute("UPDATE items SET qty = 0 WHERE id = 1"), 1);
}

TEST_P(PgProviderTest, CommandTimeoutBoundsTheWaitForAnAnswer) {
    auto conn = connect_waiting(2000, 1);
    // statement_timeout counts each statement of a multi-statement text separately, so the server lets
    // this run for 3 s; the client gives up, cancels it, and the connection stays usable.
    std::string sleeps;
    for (int i = 0; i < 6; ++i) sleeps += "SELECT pg_sleep(0.5);";
    EXPECT_EQ(error_number([&] { conn->Execute(sleeps); }), kDbTimeout);
    EXPECT_EQ(first_value("SELECT 7", conn), Variant(int32_t{7}));

    // A server that does not answer at all (its backend stopped): the connection is dropped and reopened.
    const int32_t backend = static_cast<int32_t>(vb_id(first_value("SELECT pg_backend_pid()", conn)));
    if (::kill(backend, SIGSTOP) != 0) GTEST_SKIP() << "cannot stop the server's backend (not its owner)";
    auto pending = std::async(std::launch::async, [&] { return error_number([&] { conn->Execute("SELECT 1"); }); });
    const bool answered = pending.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    ::kill(backend, SIGCONT);
    ASSERT_TRUE(answered) << "Execute still waits for a backend that cannot answer";
    EXPECT_EQ(pending.get(), kDbTimeout);
    EXPECT_NE(vb_id(first_value("SELECT pg_backend_pid()", conn)), backend);
}

// Sessions the server ended while idle: the next statement opens a new one with the Connection's settings and
// runs. Cursors open at the time hand out the rows already fetched, then fail at the first fetch with an
// error, and MoveFirst runs them again; that holds for cursors streaming on connections of their own and for
// those held on the shared one.
TEST_P(PgProviderTest, SessionsEndedByTheServerAreOpenedAgainAtTheNextStatement) {
    const std::string name = session_name();
    auto conn = connect_named(name);
    conn->CommandTimeout(7);  // set before Open: only Open applies it, so a new session must carry it on
    conn->Close();
    conn->Open();
    const char* rows600 = "SELECT g FROM generate_series(1, 600) g";
    std::vector<std::unique_ptr<Recordset>> cursors;
    for (int i = 0; i < 6; ++i) cursors.push_back(open(rows600, adOpenForwardOnly, adLockReadOnly, conn));
    end_sessions(name);

    EXPECT_EQ(conn->Execute("UPDATE items SET qty = 11 WHERE id = 1"), 1);
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 11);
    EXPECT_EQ(first_value("SHOW statement_timeout", conn), Variant("7s"));
    for (size_t i = 0; i < cursors.size(); ++i) {
        SCOPED_TRACE(i);
        Recordset& rs = *cursors[i];
        int read = 0;
        const ComError e = error_of([&] {
            for (; !rs.EOF_(); rs.MoveNext()) ++read;
        });
        EXPECT_EQ(read, 256);  // the first batch
        EXPECT_EQ(e.number(), kDbFail);
        EXPECT_NE(e.description().find("MoveFirst runs it again"), std::string::npos) << e.description();
        rs.MoveFirst();
        for (read = 0; !rs.EOF_(); rs.MoveNext()) ++read;
        EXPECT_EQ(read, 600);
    }
}

// A session lost inside a transaction block took the transaction along: the next statement must not run in
// a new session as if nothing happened, so it fails once, saying so; the one after runs.
TEST_P(PgProviderTest, SessionLostInsideATransactionFailsTheNextStatementOnce) {
    const std::string name = session_name();
    auto conn = connect_named(name);
    conn->Execute("BEGIN");
    conn->Execute("UPDATE items SET qty = 99 WHERE id = 1");
    end_sessions(name);

    const ComError e = error_of([&] { conn->Execute("UPDATE items SET qty = 98 WHERE id = 2"); });
    EXPECT_EQ(e.number(), kDbFail);
    EXPECT_NE(e.description().find("lost inside a transaction"), std::string::npos) << e.description();
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 1")), 10);
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 2")), 20);
    EXPECT_EQ(conn->Execute("UPDATE items SET qty = 97 WHERE id = 2"), 1);
    EXPECT_EQ(vb_id(scalar("SELECT qty FROM items WHERE id = 2")), 97);
}

// A session ended while its statement runs: that statement fails with the server's word, the next one runs.
TEST_P(PgProviderTest, SessionEndedDuringAStatementFailsOnlyThatStatement) {
    const std::string name = session_name();
    auto conn = connect_named(name);
    auto ender = std::async(std::launch::async, [&] {
        auto admin = connect();
        const std::string running = "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + name +
                                    "' AND query LIKE 'SELECT pg_sleep%'";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (vb_id(first_value(running, admin)) == 0 && std::chrono::steady_clock::now() < deadline) {
        }
        admin->Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" + name + "'");
    });
    const ComError e = error_of([&] { conn->Execute("SELECT pg_sleep(20)"); });
    ender.get();
    EXPECT_EQ(e.number(), kDbFail);
    EXPECT_NE(e.description().find("terminating connection"), std::string::npos) << e.description();
    EXPECT_EQ(conn->Execute("UPDATE items SET qty = 12 WHERE id = 1"), 1);
}

TEST_P(PgProviderTest, CopyToOrFromTheClientIsRefusedAndTheConnectionStaysUsable) {
    for (const char* sql : {"COPY items TO STDOUT", "INSERT INTO items VALUES (4, 'D', 40); COPY items FROM STDIN",
                            "COPY (SELECT * FROM items) TO STDOUT WITH (FORMAT csv)"}) {
        SCOPED_TRACE(sql);
        const ComError e = error_of([&] { conn_->Execute(sql); });
        EXPECT_EQ(e.number(), kDbErrorsInCommand);
        EXPECT_NE(e.description().find("COPY"), std::string::npos) << e.description();
        EXPECT_EQ(first_value("SELECT count(*) FROM items", conn_), Variant(int32_t{3}));
    }
    EXPECT_EQ(error_number([&] { open("COPY items TO STDOUT", adOpenStatic, adLockReadOnly); }), kDbErrorsInCommand);
    EXPECT_EQ(conn_->Execute("UPDATE items SET qty = 1"), 3);
}

TEST_P(PgProviderTest, ValuesPostgreSqlCannotHoldAreRefusedAtAssignment) {
    exec("CREATE TABLE limits (id INTEGER PRIMARY KEY, t TEXT, v VARCHAR(5), c CHAR(3), i INTEGER, s SMALLINT, "
         "big BIGINT)");
    exec("INSERT INTO limits (id) VALUES (1)");
    const Variant refused = Variant::null();  // marks a value that must be refused
    struct Case { const char* field; Variant value; Variant stored; };
    const std::string long_text(100000, 'x');
    const std::string umlauts = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC3\xA9";  // five characters, ten bytes
    const Case cases[] = {
        {"t", Variant("ab\0cd"s), refused},  // text would end at the NUL
        {"v", Variant("x\0"s), refused},
        {"t", Variant(long_text), Variant(long_text)},
        {"v", Variant("abcdef"), refused},
        {"v", Variant("abcde"), Variant("abcde")},
        {"v", Variant(umlauts), Variant(umlauts)},
        {"v", Variant("abcde   "), Variant("abcde")},  // PostgreSQL drops spaces beyond the length
        {"v", Variant("abcde  x"), refused},
        {"c", Variant("abcd"), refused},
        {"c", Variant("ab"), Variant("ab ")},
        {"i", Variant(int64_t{2147483648}), refused},
        {"i", Variant(-2147483649.0), refused},
        {"i", Variant(int64_t{-2147483648}), Variant(int32_t{-2147483647 - 1})},
        {"s", Variant(int32_t{40000}), refused},
        {"big", Variant(int64_t{5000000000}), Variant(int64_t{5000000000})},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        const Case& c = cases[n];
        SCOPED_TRACE("case " + std::to_string(n) + ", field " + c.field);
        auto rs = open("SELECT * FROM limits", adOpenKeyset, adLockOptimistic);
        const ComError e = error_of([&] { rs->Fields(Variant(c.field)).Value(c.value); });
        if (c.stored.is_null()) {
            EXPECT_EQ(e.number(), kDbErrorsOccurred) << e.description();
            EXPECT_EQ(rs->EditMode(), adEditNone);
            continue;
        }
        ASSERT_EQ(e.number(), 0) << e.description();
        rs->Update();
        EXPECT_EQ(first_value(std::string("SELECT ") + c.field + " FROM limits", conn_), c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(Providers, PgProviderTest, ::testing::Values("postgresql"));

}  // namespace ado_test
