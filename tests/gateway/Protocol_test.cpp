// Protocol_test.cpp: every command word end to end, over a real socket against a real SQLite file, with
// acknowledgement on and off, key changes, the bulk formats, framing corner cases and the limits.
#include "tests/gateway/GatewayTestKit.h"

namespace {

const std::string kOpen = join({"open", "SELECT id, name, born, score FROM people ORDER BY id", "1", "3"});

// An error entry: a number in the signed-number text form, STX, a description.
::testing::AssertionResult is_error_entry(const std::optional<std::string>& reply, const std::string& number) {
    if (!reply) return ::testing::AssertionFailure() << "no reply";
    if (reply->rfind(number + kStx, 0) != 0 || reply->size() <= number.size() + 1)
        return ::testing::AssertionFailure() << "not an error entry " << number << ": " << *reply;
    return ::testing::AssertionSuccess();
}

struct Step {
    std::string request;
    std::vector<std::string> replies;   // "ERR" stands for any error entry
};

void run_steps(TestClient& client, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        SCOPED_TRACE(s.request);
        client.send(s.request);
        for (const std::string& expected : s.replies) {
            const std::optional<std::string> got = client.reply();
            ASSERT_TRUE(got.has_value());
            if (expected == "ERR")
                EXPECT_TRUE(got->find(kStx) != std::string::npos && got->find(kStx) > 0) << *got;
            else
                EXPECT_EQ(*got, expected);
        }
    }
    EXPECT_TRUE(client.quiet_for(std::chrono::milliseconds(50)));
}

}  // namespace

TEST_F(GatewayTest, EveryCommandWordWithAcknowledgement) {
    TestClient client(port());
    client.send_first(kOpen);
    EXPECT_EQ(client.reply(), "ok");
    run_steps(client, {
        {"rowcount", {"ok", " 3"}},
        {join({"getcursor", "name", "s"}), {"ok", "sAnn"}},
        {join({"getcursor", "0", "n"}), {"ok", "n1"}},
        {join({"getcursor", "0.5", "n"}), {"ok", "n1"}},          // ordinal rounded half to even
        {join({"getcursor", "born", "s"}), {"ok", "d5/17/1990"}},
        {join({"getcursor", "score", "x"}), {"ok", "n3.5"}},
        {"test", {"ok", "0"}},
        {join({"move", "next"}), {"ok"}},
        {join({"getcursor", "born", "s"}), {"ok", "n"}},          // null: the letter alone
        {join({"setcursor", "name", "s", "Bea", "s"}), {"ok"}},
        {join({"setcursor", "3", "n", "7.25", "n"}), {"ok"}},     // ordinal 3 is score
        {join({"setcursor", "name", "s", "ignored", "d"}), {}},   // unknown value type: nothing at all
        {"update", {"ok"}},
        {join({"getcursor", "name", "s"}), {"ok", "sBea"}},
        {join({"getcursor", "score", "s"}), {"ok", "n7.25"}},
        {join({"move", "last"}), {"ok"}},
        {join({"move", "next"}), {"ok"}},
        {"test", {"ok", "-1"}},
        {join({"move", "next"}), {"ERR"}},                        // beyond the end: the channel's error entry
        {join({"move", "first"}), {"ok"}},
        {join({"all", "id", "name"}), {"ok", join({"1", "Ann", "2", "Bea", "3", "Cy"})}},
        {"close", {"ok"}},
        {"add", {"ERR"}},                                         // closed cursor
        {kOpen, {"ok"}},
        {"add", {"ok"}},
        {join({"setcursor", "id", "s", "4", "n"}), {"ok"}},
        {join({"setcursor", "name", "s", "Di", "s"}), {"ok"}},
        {"update", {"ok"}},
        {"delete", {"ok"}},
        {"close", {"ok"}},
        {join({"direct", "UPDATE people SET score = 1 WHERE id < 3"}), {"ok", " 2"}},
        {join({"direct", "UPDATE nosuchtable SET x = 1"}), {"ERR"}},
        {join({"buff", "id", "name", "score"}),
         {"ok", join({"i1", "sAnn", "n1", "i2", "sBea", "n1", "i3", "sCy", "s"})}},
        {"nosuchword", {}},
        {"", {}},
        {"Rowcount", {}},                                         // command words are case-sensitive
    });
}

TEST_F(GatewayTest, WithoutAcknowledgementOnlyDataRepliesGoOut) {
    struct Case {
        const char* name;
        bool header_flag;
        std::string first;
    };
    const Case cases[] = {{"header flag 0", false, kOpen}, {"noerror", true, "noerror"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestClient client(port());
        client.send_first(c.first, c.header_flag);
        if (c.first == "noerror") client.send(kOpen);
        run_steps(client, {
            {"rowcount", {" 3"}},
            {join({"move", "prevprev"}), {}},
            {join({"getcursor", "nosuchfield", "s"}), {"n"}},      // the failure is dropped, the data goes
            {join({"direct", "UPDATE nosuchtable SET x = 1"}), {" 0"}},
            {"close", {}},
            {join({"all", "id"}), {""}},                           // closed cursor: the data reply still comes
        });
    }
}

TEST_F(GatewayTest, NewKeyAppliesAfterItsAcknowledgement) {
    TestClient client(port());
    client.send_first(kOpen);
    EXPECT_EQ(client.reply(), "ok");
    client.send(join({"nkey", "3", "-20", "9", "4"}));
    EXPECT_EQ(client.reply(), "ok");   // still under the old key
    client.use_key(wire::Key({-20, 9, 4}));
    client.send(join({"getcursor", "name", "s"}));
    EXPECT_EQ(client.reply(), "ok");
    EXPECT_EQ(client.reply(), "sAnn");
}

TEST_F(GatewayTest, BulkRepliesCarryTypeLettersAndFollowEveryAcknowledgement) {
    exec("CREATE TABLE pair (a INTEGER, b TEXT)");
    exec("INSERT INTO pair VALUES (1, 'x'), (2, NULL)");
    TestClient client(port());
    client.send_first(join({"buff", "a", "b"}));
    EXPECT_EQ(client.reply(), "ok");
    EXPECT_EQ(client.reply(), "");   // before any "open": the fresh channel fails, the reply is empty
    run_steps(client, {
        {join({"open", "SELECT a, b FROM pair ORDER BY a", "0", "1"}), {"ok"}},
        {join({"buff", "a", "b"}), {"ok", join({"i1", "sx", "i2", "s"})}},
        {join({"buff", "a", "nosuchfield"}), {"ok", ""}},
        {join({"all", "b", "a"}), {"ok", join({"x", "1", "", "2"})}},
        {join({"open", "SELECT a FROM pair WHERE a > 5", "0", "1"}), {"ERR"}},   // still open: refused by ADO
        {"close", {"ok"}},
        {join({"open", "SELECT a FROM pair WHERE a > 5", "0", "1"}), {"ok"}},
        {join({"buff", "a"}), {"ok", ""}},
        {join({"all", "a"}), {"ok", ""}},
    });
}

TEST_F(GatewayTest, ReplyBodyHoldingTheTerminatorIsDelimitedByItsLength) {
    // 'o' (111) - 108 = 3: the scrambled "ok" starts with ETX.
    const wire::Key key({-108, 5});
    ASSERT_EQ(wire::scrambled("ok", key)[0], wire::kTerminator);
    TestClient client(port());
    client.send_first(kOpen, true, key);
    EXPECT_EQ(client.reply(), "ok");
    client.send(join({"getcursor", "name", "s"}));
    EXPECT_EQ(client.reply(), "ok");
    EXPECT_EQ(client.reply(), "sAnn");
}

TEST_F(GatewayTest, MessagesSplitOverSegmentsOrSharingOneAreServedInOrder) {
    TestClient client(port());
    const wire::Key key({5, -3, 7, 2, -9});
    const std::string first =
        wire::frame_request(wire::scrambled(wire::make_header(true, key) + kOpen, wire::initial_key()));
    for (size_t at = 0; at < first.size(); at += 7) {   // a first message in many small segments
        client.send_raw(first.substr(at, 7));
        msgloop::run_once(std::chrono::milliseconds(1));
    }
    client.use_key(key);
    EXPECT_EQ(client.reply(), "ok");
    client.send_raw(client.framed("rowcount") + client.framed(join({"move", "last"})) +
                    client.framed(join({"getcursor", "id", "s"})));
    for (const char* expected : {"ok", " 3", "ok", "ok", "n3"}) EXPECT_EQ(client.reply(), expected);
}

TEST_F(GatewayTest, RequestsBeyondTheLimitsAreRefusedAndServingGoesOn) {
    const std::string thirteen = join({"all", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m"});
    struct Case {
        std::string request;
        std::string number;        // of the error entry
        bool data_reply_follows;   // "all" and "buff" send their (empty) data reply in every case
    };
    const Case cases[] = {
        {join({"open", "SELECT 1", "x", "3"}), " 5", false},
        {join({"open", "SELECT 1", "1", "40000"}), " 6", false},
        {join({"getcursor", "99999", "n"}), " 6", false},
        {join({"nkey", "101"}), " 5", false},
        {join({"nkey", "2", "1", "300"}), " 5", false},
        {join({"nkey", "0"}), " 5", false},
        {thirteen, " 5", true},
        {"b" + thirteen.substr(1).replace(0, 2, "uff"), " 5", true},
        {"mtier" + kStx + "anything", " 429", false},   // no middle tier registered here
    };
    TestClient client(port());
    client.send_first(kOpen);
    EXPECT_EQ(client.reply(), "ok");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        client.send(c.request);
        EXPECT_TRUE(is_error_entry(client.reply(), c.number));
        if (c.data_reply_follows) {
            EXPECT_EQ(client.reply(), "");
        }
        client.send("rowcount");   // the same connection, with its key, still works
        EXPECT_EQ(client.reply(), "ok");
        EXPECT_EQ(client.reply(), " 3");
    }

    // Acknowledgement off: a line in the debug list instead of an error entry.
    client.send("noerror");
    const size_t lines = debug_list().size();
    client.send(join({"open", "SELECT 1", "x", "3"}));
    client.send("rowcount");
    EXPECT_EQ(client.reply(), " 3");
    ASSERT_GT(debug_list().size(), lines);
    EXPECT_NE(debug_list().front().find("Server Worker No: 1 refused a request!Code: 5\r\nSource: SSWorker\r\nDesc: "),
              std::string::npos)
        << debug_list().front();
}

TEST_F(GatewayTest, HeaderBeyondTheLimitsIsRefusedInTheModeItAsks) {
    struct Case {
        std::string header;
        bool acknowledge;
    };
    const Case cases[] = {
        {"1" + kStx + " 202" + kStx + std::string(101 * 2, 'x'), true},   // 101 values announced
        {"1" + kStx + " 4" + kStx + "7" + kStx + "999" + kStx, true},      // value outside -255..255
        {"0" + kStx + " 4" + kStx + "7" + kStx + "nine" + kStx, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        TestClient client(port());
        const size_t lines = debug_list().size();
        client.send_raw(wire::frame_request(wire::scrambled(c.header + "rowcount", wire::initial_key())));
        if (c.acknowledge) {
            EXPECT_TRUE(is_error_entry(client.reply(), " 5"));
        } else {
            EXPECT_TRUE(client.quiet_for(std::chrono::milliseconds(50)));
            EXPECT_GT(debug_list().size(), lines);
        }
        EXPECT_TRUE(client.quiet_for(std::chrono::milliseconds(20)));   // the request behind it was dropped
    }
}
