// DBConnect_test.cpp: DBInit's steps and result, and the process-wide connection it shares.
#include "dbcomponent/DBConnect.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/dbcomponent/ChannelFixture.h"

namespace {

using DBConnectTest = ChannelTest;

TEST_P(DBConnectTest, UnknownProviderGivesFalseAndChannelsRecordTheFailure) {
    EXPECT_FALSE(connect_->DBInit("NoSuchProvider", db_->connect()));
    auto channel = connect_->Channel();
    ASSERT_NE(channel, nullptr);
    channel->OpenCursor(db_->sql("SELECT id FROM {t}"), ado::adOpenStatic, ado::adLockReadOnly);
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrInvalidConnection));
    channel->ErrClear();
    EXPECT_EQ(channel->Direct(db_->sql("DELETE FROM {t}")), 0);
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrInvalidConnection));

    EXPECT_TRUE(connect_->DBInit(db_->provider(), db_->connect())) << "a later DBInit starts over";
    EXPECT_EQ(count_rows(), 3);
}

TEST_P(DBConnectTest, RefusedDatabaseGivesFalseAndRequestsRecordTheRefusal) {
    const std::string refused = db_->provider() == "SQLite" ? "Data Source=/nonexistent-folder/x/y.db"
                                                            : "host=127.0.0.1 port=1 dbname=none user=none";
    EXPECT_FALSE(connect_->DBInit(db_->provider(), refused, 0, 2));
    auto channel = connect_->Channel();
    for (int request = 0; request < 2; ++request) {  // an attempt, then its error again at once
        channel->ErrClear();
        channel->Direct("SELECT 1");
        EXPECT_EQ(channel->DError().rfind(entry_prefix(ado::kDbFail), 0), 0u) << channel->DError();
    }
}

// A database that is not there when DBInit runs (not started yet, its folder not mounted yet) is opened
// by a later request, with the settings DBInit was given.
TEST_P(DBConnectTest, DatabaseRefusedAtDBInitIsOpenedByALaterRequest) {
    const bool sqlite = db_->provider() == "SQLite";
    const std::string folder = ::testing::TempDir() + "dbinit-later-" + std::to_string(::getpid());
    const std::string role = "dbinit_later_" + std::to_string(::getpid());
    std::filesystem::remove_all(folder);
    const std::string later = sqlite ? "Data Source=" + folder + "/later.db" : db_->connect() + " user=" + role;
    EXPECT_FALSE(connect_->DBInit(db_->provider(), later, 7));
    auto channel = connect_->Channel();
    channel->Direct("CREATE TABLE later (id INTEGER)");
    EXPECT_EQ(channel->DError().rfind(entry_prefix(ado::kDbFail), 0), 0u) << channel->DError();

    ado::Connection admin;  // the database comes: the folder is made, the user may log in
    if (sqlite) {
        std::filesystem::create_directories(folder);
    } else {
        admin.Provider(db_->provider());
        admin.ConnectionString(db_->connect());
        admin.Open();
        admin.Execute("DROP ROLE IF EXISTS " + role + "; CREATE ROLE " + role + " LOGIN");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {  // the attempt after the refusal waits a second
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        channel->ErrClear();
        channel->OpenCursor(sqlite ? "SELECT 7" : "SHOW statement_timeout", ado::adOpenStatic, ado::adLockReadOnly);
    } while (channel->DError() != "" && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(channel->DError(), "");
    EXPECT_EQ(channel->Fields(Variant(int32_t{0})), sqlite ? Variant(int32_t{7}) : Variant("7s"));
    channel->CloseCursor();
    if (sqlite) {
        std::filesystem::remove_all(folder);
    } else {
        connect_.reset();  // ends the shared connection, logged in as the role
        connect_ = std::make_shared<DBConnect>();
        admin.Execute("DROP ROLE " + role);
    }
}

TEST_P(DBConnectTest, OptionalValuesAreSetOnlyWhenPositive) {
    // ADO refuses negative time-outs, so DBInit only succeeds if it leaves them alone.
    EXPECT_TRUE(connect_->DBInit(db_->provider(), db_->connect(), -5, -1, -3));
    EXPECT_TRUE(connect_->DBInit(db_->provider(), db_->connect(), 0, 0, 0));
    EXPECT_TRUE(connect_->DBInit(db_->provider(), db_->connect(), 5, 5, ado::adUseServer));
    auto server = open("SELECT id FROM {t}", ado::adOpenForwardOnly, ado::adLockReadOnly);
    EXPECT_EQ(server->RowCount(), -1);

    // A client-side location makes every cursor static, so even a forward-only request counts its rows.
    EXPECT_TRUE(connect_->DBInit(db_->provider(), db_->connect(), 0, 0, ado::adUseClient));
    auto client = open("SELECT id FROM {t}", ado::adOpenForwardOnly, ado::adLockReadOnly);
    EXPECT_EQ(client->RowCount(), 3);
}

TEST_P(DBConnectTest, SecondDBInitReplacesTheConnectionWithoutClosingTheFirst) {
    auto reading = open("SELECT id FROM {t} ORDER BY id", ado::adOpenForwardOnly, ado::adLockReadOnly);
    ASSERT_TRUE(connect_->DBInit(db_->provider(), db_->other_connect()));

    auto writer = connect_->Channel();
    if (db_->provider() == "SQLite") {
        // The other file has no table yet: creating it succeeds only on the new connection.
        writer->Direct(db_->sql("CREATE TABLE {t} (id INTEGER PRIMARY KEY)"));
        EXPECT_EQ(writer->DError(), "");
    }
    reading->Move("next");
    EXPECT_EQ(reading->Fields(Variant("id")), Variant(int32_t{2})) << "the first connection is still open";
    EXPECT_EQ(reading->DError(), "");
}

TEST_P(DBConnectTest, DestroyingAnyDBConnectClosesTheConnectionForAll) {
    auto reading = open("SELECT id FROM {t} ORDER BY id");
    auto idle = connect_->Channel();
    EXPECT_NO_THROW(std::make_shared<DBConnect>().reset());

    reading->Move("next");
    EXPECT_EQ(reading->DError(), ado_entry(ado::adErrObjectClosed)) << "closing the connection closed the cursor";
    idle->OpenCursor(db_->sql("SELECT id FROM {t}"), ado::adOpenStatic, ado::adLockReadOnly);
    EXPECT_EQ(idle->DError(), ado_entry(ado::adErrInvalidConnection)) << "the next user finds a fresh, unopened one";

    // Destroying a DBConnect when the connection was never opened must not throw either.
    EXPECT_NO_THROW(std::make_shared<DBConnect>().reset());
    EXPECT_TRUE(connect_->DBInit(db_->provider(), db_->connect()));
}

INSTANTIATE_TEST_SUITE_P(Providers, DBConnectTest, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return provider_label(info.param); });

}  // namespace
