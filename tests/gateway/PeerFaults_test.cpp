// PeerFaults_test.cpp: peers that break the rules of a conversation: one that vanishes while a large
// reply is on its way to it, and one that sends requests but stops reading the replies. Either must cost
// only its own connection: the gateway frees the worker, and every other client is served meanwhile.
#include "tests/gateway/GatewayTestKit.h"

namespace {

// Bulk replies of about half a megabyte each: several of them outgrow the loopback buffers of both ends,
// so the rest waits in the gateway. Each stays well below any bound a bulk reply may be given.
constexpr int kBigRows = 5000;
constexpr size_t kNameLength = 100;
constexpr int kBigReplies = 20;

class PeerFaultsTest : public GatewayTest {
protected:
    void SetUp() override {
        GatewayTest::SetUp();
        exec("CREATE TABLE big (id INTEGER PRIMARY KEY, name TEXT)");
        exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kBigRows) +
             ") INSERT INTO big SELECT i, printf('%0" + std::to_string(kNameLength) + "d', i) FROM n");
    }

    // The reply "all id name" gives on the cursor over `big`.
    static std::string expected_all() {
        std::vector<std::string> cells;
        for (int i = 1; i <= kBigRows; ++i) {
            const std::string id = std::to_string(i);
            cells.push_back(id);
            cells.push_back(std::string(kNameLength - id.size(), '0') + id);
        }
        return join(cells);
    }

    // A client beside the faulty one: its request must be answered while the fault lasts.
    void expect_another_client_served() {
        TestClient other(port());
        other.send_first(join({"open", "SELECT name FROM people WHERE id = 2", "0", "1"}));
        EXPECT_EQ(other.reply(std::chrono::seconds(30)), "ok");
        other.send(join({"getcursor", "name", "s"}));
        EXPECT_EQ(other.reply(std::chrono::seconds(30)), "ok");
        EXPECT_EQ(other.reply(std::chrono::seconds(30)), "sBo");
    }

    const std::string open_big_ = join({"open", "SELECT id, name FROM big ORDER BY id", "1", "3"});
    const std::string all_big_ = join({"all", "id", "name"});
};

}  // namespace

TEST_F(PeerFaultsTest, ClientVanishingMidReplyEndsOnlyItsConnection) {
    struct Case {
        const char* name;
        void (*leave)(TestClient&);
    };
    const Case cases[] = {
        {"reset", [](TestClient& c) { c.reset(); }},
        {"close with replies unread", [](TestClient& c) { c.close(); }},
    };
    int32_t closed_before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            TestClient vanishing(port());
            vanishing.send_first(open_big_);
            ASSERT_EQ(vanishing.reply(), "ok");
            for (int i = 0; i < kBigReplies; ++i) vanishing.send(all_big_);
            // The acknowledgement of the first "all" has come: its rows are being sent.
            ASSERT_EQ(vanishing.reply(std::chrono::seconds(30)), "ok");
            c.leave(vanishing);
        }
        expect_another_client_served();
        // Both connections end; the gateway keeps no worker or buffer of the vanished client.
        EXPECT_TRUE(pump_until([&] { return counter(Counter::ActiveSockets) == 0; }, std::chrono::seconds(30)))
            << counter(Counter::ActiveSockets) << " connections still active";
        // The end is noticed as the peer's close or as a reported socket error, never in silence.
        int32_t closed = 0;
        for (const std::string& line : debug_list())
            if (line.rfind("Closing down socket:", 0) == 0) ++closed;
        EXPECT_GE(closed - closed_before + counter(Counter::Errors), 2)
            << "closed " << closed - closed_before << ", errors " << counter(Counter::Errors);
        closed_before = closed;
    }
}

TEST_F(PeerFaultsTest, ClientThatStopsReadingDelaysNobodyAndLosesNothing) {
    TestClient stalled(port());
    stalled.send_first(open_big_);
    ASSERT_EQ(stalled.reply(), "ok");
    // Bulk replies pile up unread, each followed by a small one, so that the order can be checked ("all"
    // leaves the cursor at the end; "move first" brings it back for the next).
    for (int i = 0; i < kBigReplies; ++i) {
        stalled.send(all_big_);
        stalled.send(join({"move", "first"}));
    }
    // Every request of the stalled client has been read by now; its replies wait on the gateway's side.
    ASSERT_TRUE(pump_until([&] { return counter(Counter::MessagesIn) == 1 + 2 * kBigReplies; }, std::chrono::seconds(30)));
    for (int round = 0; round < 3; ++round) expect_another_client_served();

    // Once it reads again, it gets every reply whole and in order.
    const std::string all = expected_all();
    for (int i = 0; i < kBigReplies; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(stalled.reply(std::chrono::seconds(30)), "ok");
        const std::optional<std::string> rows = stalled.reply(std::chrono::seconds(30));
        ASSERT_TRUE(rows.has_value());
        ASSERT_EQ(rows->size(), all.size());
        ASSERT_TRUE(*rows == all);
        ASSERT_EQ(stalled.reply(std::chrono::seconds(30)), "ok");
    }
    EXPECT_TRUE(stalled.quiet_for(std::chrono::milliseconds(50)));
}
