// DatabaseOutage_test.cpp: the program vantrel over a private PostgreSQL cluster that the test stops and
// starts again while clients are connected. While the server is down every request is answered with an
// error entry and the gateway keeps serving (new clients too); once it is back the next requests succeed on
// a new session, and a forward-only cursor that was open hands out the rows it had, fails at its next fetch
// and runs again on MoveFirst. Without PostgreSQL's server programs the test skips and says so.
#include "tests/gateway/GatewayTestKit.h"
#include "tests/support/GatewayProcess.h"
#include "tests/support/PgCluster.h"

namespace {

constexpr auto kPatience = std::chrono::seconds(30);
// More rows than a forward-only cursor fetches at once, so that the outage finds rows still on the server.
constexpr int kRows = 2000;

bool is_error_entry(const std::optional<std::string>& reply) {
    return reply && reply->find(kStx) != std::string::npos && reply->find(kStx) > 0;
}

// A request answered by "ok" and then a value (a count, a field); returns the value.
std::optional<std::string> ok_then_value(TestClient& client, const std::string& request) {
    client.send(request);
    const std::optional<std::string> ack = client.reply(kPatience);
    if (ack != "ok") return "not acknowledged: " + ack.value_or("no reply");
    return client.reply(kPatience);
}

}  // namespace

TEST(DatabaseOutage, ServerStoppedGivesErrorEntriesAndRequestsSucceedOnceItIsBack) {
    test_support::PgCluster cluster(free_port());
    if (!cluster.usable()) GTEST_SKIP() << cluster.why_not();
    ASSERT_TRUE(cluster.start()) << cluster.log();
    // Server-side cursors: a forward-only one streams its rows from the server in batches.
    GatewayProcess gateway(VANTREL_PROGRAM,
                           {"--provider", "PostgreSQL", "--connect", cluster.conninfo(), "--cursor-location", "2"});

    TestClient client(gateway.port());
    client.send_first(join({"direct", "CREATE TABLE t (id integer PRIMARY KEY, name text)"}));
    ASSERT_EQ(client.reply(kPatience), "ok") << gateway.output();
    client.reply(kPatience);
    ASSERT_EQ(ok_then_value(client, join({"direct", "INSERT INTO t SELECT i, 'row ' || i FROM generate_series(1, " +
                                                        std::to_string(kRows) + ") AS i"})),
              " " + std::to_string(kRows));
    client.send(join({"open", "SELECT id, name FROM t ORDER BY id", "0", "1"}));
    ASSERT_EQ(client.reply(kPatience), "ok");
    ASSERT_EQ(ok_then_value(client, join({"getcursor", "id", "s"})), "n1");

    ASSERT_TRUE(cluster.stop()) << cluster.log();
    // The cursor hands out the rows it already holds, then its next fetch fails; it never reaches the end.
    int position = 1;
    std::optional<std::string> moved;
    for (; position < kRows; ++position) {
        client.send(join({"move", "next"}));
        moved = client.reply(kPatience);
        if (moved != "ok") break;
    }
    ASSERT_TRUE(is_error_entry(moved)) << "at row " << position << ": " << moved.value_or("no reply");
    EXPECT_LT(position, kRows);
    // Statements and new cursors get error entries, on this connection and on a new one.
    client.send(join({"direct", "INSERT INTO t VALUES (0, 'during the outage')"}));
    const std::optional<std::string> refused = client.reply(kPatience);
    EXPECT_TRUE(is_error_entry(refused)) << refused.value_or("no reply");
    {
        TestClient another(gateway.port());
        another.send_first(join({"open", "SELECT id FROM t", "0", "1"}));
        const std::optional<std::string> opened = another.reply(kPatience);
        EXPECT_TRUE(is_error_entry(opened)) << opened.value_or("no reply");
        another.send(join({"move", "first"}));
        const std::optional<std::string> again = another.reply(kPatience);
        EXPECT_TRUE(is_error_entry(again)) << again.value_or("no reply");
    }
    ASSERT_TRUE(gateway.running()) << gateway.output();

    ASSERT_TRUE(cluster.start()) << cluster.log();
    // The next statement runs on a new session; a refusal cached during the outage may still answer the very
    // first one (a new attempt is made at most once a second), so a few are tried.
    std::optional<std::string> inserted;
    for (int attempt = 0; attempt < 10 && inserted != " 1"; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));
        client.send(join({"direct", "INSERT INTO t VALUES (0, 'after the outage')"}));
        const std::optional<std::string> ack = client.reply(kPatience);
        ASSERT_TRUE(ack.has_value()) << gateway.output();
        if (ack == "ok") inserted = client.reply(kPatience);
    }
    EXPECT_EQ(inserted, " 1") << gateway.output();
    // The cursor of the outage runs its statement again on MoveFirst and sees the new row.
    client.send(join({"move", "first"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    EXPECT_EQ(ok_then_value(client, join({"getcursor", "name", "s"})), "safter the outage");
    client.send(join({"move", "next"}));
    EXPECT_EQ(client.reply(kPatience), "ok");
    EXPECT_EQ(ok_then_value(client, join({"getcursor", "id", "s"})), "n1");
    // A new client opens a new cursor and reads.
    TestClient later(gateway.port());
    later.send_first(join({"open", "SELECT count(*) AS n FROM t", "0", "1"}));
    EXPECT_EQ(later.reply(kPatience), "ok");
    EXPECT_EQ(ok_then_value(later, join({"getcursor", "n", "s"})), "n" + std::to_string(kRows + 1));
    EXPECT_TRUE(gateway.running()) << gateway.output();
}
