// DBConnect_test.cpp: DBInit's steps and result, and the process-wide connection it shares.
#include "dbcomponent/DBConnect.h"

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

TEST_P(DBConnectTest, RefusedDatabaseGivesFalse) {
    const std::string refused = db_->provider() == "SQLite" ? "Data Source=/nonexistent-folder/x/y.db"
                                                            : "host=127.0.0.1 port=1 dbname=none user=none";
    EXPECT_FALSE(connect_->DBInit(db_->provider(), refused, 0, 2));
    auto channel = connect_->Channel();
    channel->Direct("SELECT 1");
    EXPECT_EQ(channel->DError(), ado_entry(ado::adErrInvalidConnection));
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
