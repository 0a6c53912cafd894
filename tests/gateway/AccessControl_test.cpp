// AccessControl_test.cpp: the allow-list closes a refused peer at once and says so; a gateway listening
// beyond loopback without a list warns; the read-only switch refuses every edit and every statement that
// may write, with an error entry or (acknowledgement off) a debug-list entry, and changes nothing.
#include "tests/gateway/GatewayTestKit.h"

TEST_F(GatewayTest, PeerOutsideTheAllowListIsClosedAtOnce) {
    gateway_->limits.allow.allow("10.0.0.0/8");
    {
        TestClient stranger(port());
        EXPECT_TRUE(stranger.closed_by_gateway());
    }
    const std::string entry = debug_entry_with("Server refused a connection!");
    EXPECT_NE(entry.find("Code: 70\r\nSource: SSServer\r\nDesc: 127.0.0.1 is not in the allow-list (10.0.0.0/8)"),
              std::string::npos)
        << entry;
    EXPECT_EQ(counter(Counter::ConnectionsAccepted), 0);

    gateway_->limits.allow.allow("127.0.0.1");
    TestClient local(port());
    local.send_first(join({"direct", "SELECT 1"}));
    EXPECT_EQ(local.reply(), "ok");
}

TEST_F(GatewayTest, ListeningBeyondLoopbackWithoutAListWarns) {
    EXPECT_EQ(debug_entry_with("Warning: "), "");   // SetUp listens on 127.0.0.1
    server_.reset();
    gateway_->settings.IP = "";
    start_server();
    EXPECT_EQ(debug_entry_with("Warning: "),
              "Warning: listening on every address with no allow-list: every client that reaches the port is served");
}

TEST_F(GatewayTest, ReadOnlyGatewayRefusesEditsAndWritingStatements) {
    gateway_->limits.read_only = true;
    TestClient client(port());
    client.send_first(join({"direct", "SELECT count(*) FROM people"}));
    EXPECT_EQ(client.reply(), "ok");
    EXPECT_EQ(client.reply(), "-1");   // the count of changed records, as for any SELECT
    struct Case {
        std::string request;
        std::string entry_start;
    };
    const Case cases[] = {
        {join({"direct", "UPDATE people SET name = 'Zed'"}), " 3251" + kStx + "direct: the gateway is read-only and "},
        {join({"direct", "SELECT 1; DELETE FROM people"}), " 3251" + kStx + "direct: the gateway is read-only and "},
        {join({"open", "DELETE FROM people", "1", "3"}), " 3251" + kStx + "open: the gateway is read-only and "},
        {join({"open", "SELECT id, name FROM people ORDER BY id", "1", "3"}), "ok"},   // opened read-only
        {join({"setcursor", "name", "s", "Zed", "s"}), " 3251" + kStx + "setcursor: the gateway is read-only"},
        {join({"update"}), " 3251" + kStx + "update: the gateway is read-only"},
        {join({"add"}), " 3251" + kStx + "add: the gateway is read-only"},
        {join({"delete"}), " 3251" + kStx + "delete: the gateway is read-only"},
        {join({"getcursor", "name", "s"}), "ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        client.send(c.request);
        const auto reply = client.reply();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->rfind(c.entry_start, 0), 0u) << *reply;
    }
    EXPECT_EQ(client.reply(), "sAnn");

    client.send("noerror");
    client.send(join({"delete"}));
    ASSERT_TRUE(pump_until([&] { return !debug_entry_with("refused a request!").empty(); }));
    EXPECT_NE(debug_entry_with("refused a request!").find("Code: 3251\r\nSource: SSWorker\r\nDesc: delete: the gateway is read-only"),
              std::string::npos);
    EXPECT_TRUE(client.quiet_for(std::chrono::milliseconds(100)));

    gateway_->limits.read_only = false;
    TestClient check(port());
    check.send_first(join({"open", "SELECT count(*) AS n FROM people WHERE name <> 'Zed'", "3", "1"}));
    EXPECT_EQ(check.reply(), "ok");
    check.send(join({"getcursor", "n", "s"}));
    EXPECT_EQ(check.reply(), "ok");
    EXPECT_EQ(check.reply(), "n3");
}
