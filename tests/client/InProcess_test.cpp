// InProcess_test.cpp: in-process mode over SQLite through libskelda.so, found beside the library with no
// configuration. In-process mode lasts for the rest of a thread's life, so each test runs on a thread of
// its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "common/Conversions.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/TempDir.h"

namespace {

class InProcess : public ::testing::Test {
protected:
    // Runs `body` on a new thread with a started connection in in-process mode.
    void on_local_thread(const std::function<void(tolvix::iConnection&)>& body) {
        std::thread([&] {
            tolvix::iConnection connection;
            connection.Intranet(true);
            connection.Start();
            ASSERT_TRUE(connection.LocalInit("SQLite", "Data Source=" + folder_ + "/local.db"));
            body(connection);
        }).join();
    }
    const test_support::TempDir dir_{"tolvix-local"};
    const std::string& folder_ = dir_.path();
};

}  // namespace

TEST_F(InProcess, LocalInitNeedsStartAndIntranet) {
    std::thread([] {
        tolvix::iConnection connection;
        EXPECT_FALSE(connection.LocalInit("SQLite", "Data Source=:memory:")) << "not started";
        connection.Start();
        EXPECT_FALSE(connection.LocalInit("SQLite", "Data Source=:memory:")) << "Intranet off";
        // Gateway mode stays: with nothing listening, the gateway is reported down.
        connection.IP("127.0.0.1");
        connection.Port(1);
        int downs = 0;
        connection.on_GatewayDown([&] { ++downs; });
        EXPECT_EQ(connection.Direct("SELECT 1"), 0);
        EXPECT_EQ(downs, 1);
    }).join();
}

TEST_F(InProcess, RecordSetsWorkOnTheChannelWithTypedValues) {
    on_local_thread([](tolvix::iConnection& c) {
        c.Direct("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT, born DATE, score REAL)");
        EXPECT_EQ(c.Direct("INSERT INTO t VALUES (1, 'Ann', '1990-05-17', 3.5), (2, 'Bo', NULL, 2)"), 2);
        auto rs = c.CrOpen("SELECT id, name, born, score FROM t ORDER BY id", tolvix::adOpenKeyset,
                           tolvix::adLockOptimistic);
        ASSERT_TRUE(rs->IPOnLine());
        EXPECT_EQ(rs->RowCount(), 2);
        EXPECT_EQ(rs->Fields(Variant("id")), Variant(int32_t{1}));
        EXPECT_EQ(rs->Fields(Variant("born")), Variant::date(vb::make_date_serial(1990, 5, 17)));
        EXPECT_EQ(rs->Fields(Variant(int32_t{3})), Variant(3.5));
        rs->Buffer({"name"});   // nothing in-process: reads stay with the channel
        rs->MoveNext();
        EXPECT_EQ(rs->Fields(Variant("name")), Variant("Bo"));
        EXPECT_EQ(rs->Fields(Variant("born")), Variant::null());
        rs->Fields(Variant("name"), Variant("Bob"));
        rs->Update();
        rs->Add();
        rs->Fields(Variant("id"), Variant(int32_t{3}));
        rs->Fields(Variant("name"), Variant("Cy"));
        rs->Update();
        rs->MoveFirst();
        rs->Delete();
        rs->MoveFirst();
        EXPECT_EQ(rs->All({"id", "", "name"}), join({"2", "Bob", "3", "Cy"}));
        EXPECT_TRUE(rs->cEOF());
        rs->cClose();
    });
}

TEST_F(InProcess, ChannelErrorsAreRaisedOnceAndCleared) {
    on_local_thread([](tolvix::iConnection& c) {
        c.Direct("CREATE TABLE t (id INTEGER PRIMARY KEY)");
        c.Direct("INSERT INTO t VALUES (1)");
        auto rs = c.CrOpen("SELECT id FROM t", tolvix::adOpenStatic, tolvix::adLockReadOnly);
        const ComError e = error_of([&] { rs->Fields(Variant("nosuch")); });
        EXPECT_EQ(e.number(), 3265);
        EXPECT_EQ(e.source(), "Tolvix.iRecordSet");
        EXPECT_EQ(rs->Fields(Variant("id")), Variant(int32_t{1})) << "the error was cleared on the channel";
        EXPECT_EQ(error_number([&] { rs->Update(); }), 3251) << "read-only";
        EXPECT_EQ(error_number([&] { c.CrOpen("SELECT * FROM nowhere", tolvix::adOpenStatic, tolvix::adLockReadOnly); }),
                  -2147217900);
        EXPECT_EQ(c.Direct("DELETE FROM nowhere"), 0) << "Direct does not consult the channel's errors";
        EXPECT_EQ(error_number([&] { c.mtier("x"); }), 438) << "the channel has no member mtier";
    });
}
