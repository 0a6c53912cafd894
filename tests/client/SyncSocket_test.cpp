// SyncSocket_test.cpp: the client's side of the wire against a scripted gateway, byte for byte: the key
// header, the keys drawn, request texts, replies cut and joined at every offset, error replies, a gateway
// that closes, and requests the key would cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "common/Conversions.h"
#include "tests/client/ClientTestSupport.h"
#include "tests/client/FakeGateway.h"
#include "tests/support/ErrorOf.h"

using tolvix::iConnection;

namespace {

// Answers "direct" with "ok" and " 0", "getcursor" with "ok" and "sx", "buff" and "all" with "ok" and no
// rows, anything else with "ok".
FakeGateway::Answer plain_gateway(FakeConnection& c, const FakeRequest& r) {
    if (r.plain.rfind("direct", 0) == 0) return ok_then(c, {" 0"});
    if (r.plain.rfind("buff", 0) == 0 || r.plain.rfind("all", 0) == 0) return ok_then(c, {""});
    if (r.plain.rfind("getcursor", 0) == 0) return ok_then(c, {"sx"});
    return ok_then(c);
}

// The header's key values, read back from its text.
std::vector<std::string> header_fields(const std::string& header) {
    std::vector<std::string> fields;
    std::string_view rest = header;
    while (!rest.empty()) fields.emplace_back(wire::next_token(rest));
    return fields;
}

}  // namespace

TEST(SyncSocket, FirstRequestCarriesTheHeaderUnderTheInitialKeyTheNextUsesTheDrawnKey) {
    FakeGateway gateway(plain_gateway);
    ASSERT_GT(gateway.port(), 32767) << "the system's ports lie above the 16-bit signed range";
    auto connection = started_connection(gateway.port());
    auto rs = connection->CrOpen("SELECT a FROM t", tolvix::adOpenKeyset, tolvix::adLockOptimistic);
    ASSERT_TRUE(rs->IPOnLine());
    rs->MoveNext();

    const std::vector<FakeRequest> requests = gateway.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::vector<std::string> fields = header_fields(requests[0].header);
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[0], "1");
    EXPECT_EQ(fields[1], " 10");
    std::vector<int16_t> key;
    for (size_t i = 2; i < fields.size(); ++i) {
        // The signed-number text form: a blank before a non-negative value, a minus sign before a negative.
        EXPECT_TRUE(fields[i][0] == ' ' || fields[i][0] == '-') << fields[i];
        key.push_back(static_cast<int16_t>(std::stoi(fields[i])));
    }
    EXPECT_EQ(requests[0].plain, join({"open", "SELECT a FROM t", "1", "3"}));
    EXPECT_EQ(wire::unscrambled(requests[0].raw, wire::initial_key()), requests[0].header + requests[0].plain);
    // The second message has no header and is scrambled with the five values announced.
    EXPECT_EQ(requests[1].header, "");
    EXPECT_EQ(wire::unscrambled(requests[1].raw, wire::Key(key)), join({"move", "next"}));
}

TEST(SyncSocket, DrawnKeysAvoidOneAndEveryValueThatTurnsTextIntoTheTerminator) {
    FakeGateway gateway(plain_gateway);
    auto connection = started_connection(gateway.port());
    for (int i = 0; i < 60; ++i) ASSERT_EQ(connection->Direct("UPDATE t SET a = 1"), 0);
    const std::set<int16_t> allowed = {-9, -8, -5, -4, -3, -2, -1, 0, 2, 3};
    std::set<int16_t> seen;
    for (const FakeRequest& r : gateway.requests()) {
        const std::vector<std::string> fields = header_fields(r.header);
        ASSERT_EQ(fields.size(), 7u);
        for (size_t i = 2; i < fields.size(); ++i) seen.insert(static_cast<int16_t>(std::stoi(fields[i])));
    }
    for (int16_t v : seen) EXPECT_TRUE(allowed.count(v)) << v;
    EXPECT_GE(seen.size(), 8u) << "300 draws should reach nearly every allowed value";
}

TEST(SyncSocket, RequestTextsTrimWhereTheProtocolSays) {
    FakeGateway gateway(plain_gateway);
    auto connection = started_connection(gateway.port());
    connection->Direct("  DELETE FROM t  ");
    auto rs = connection->CrOpen(" SELECT  a ", tolvix::adOpenStatic, tolvix::adLockReadOnly);
    rs->Fields(Variant(" name "), Variant("  two words  "));
    rs->Fields(Variant(int32_t{2}), Variant(-1.5));
    rs->Fields(Variant("d"), Variant::date(vb::make_date_serial(2026, 12, 6, 15, 4, 5)));
    rs->Fields(Variant(int16_t{0}), Variant(true));
    EXPECT_EQ(rs->Fields(Variant(" name ")), Variant("x"));
    rs->Buffer({"a", "", "b"});
    std::vector<std::string> plain;
    for (const FakeRequest& r : gateway.requests()) plain.push_back(r.plain);
    const std::vector<std::string> expected = {
        join({"direct", "DELETE FROM t"}),
        join({"open", " SELECT  a ", "3", "1"}),
        join({"setcursor", "name", "s", "two words", "s"}),
        join({"setcursor", "2", "n", "-1.5", "n"}),
        join({"setcursor", "d", "s", "12/6/2026 3:04:05 PM", "s"}),
        join({"setcursor", "0", "n", "True", "n"}),
        join({"getcursor", "name", "s"}),
        join({"buff", "a", "b"}),   // an empty name is not sent
    };
    EXPECT_EQ(plain, expected);
}

// Two replies ("ok", then a 250-character value) sent as one stream cut in two at every offset: each cut
// must give the same two replies, including the cut that leaves the first reply's terminator for later.
TEST(SyncSocket, RepliesSplitAndJoinedAtEveryOffsetReadTheSame) {
    const std::string value = "s" + std::string(120, 'v') + "\x02\x03" + std::string(127, 'w');
    size_t cut = 0;
    FakeGateway gateway([&](FakeConnection& c, const FakeRequest& r) -> FakeGateway::Answer {
        if (r.plain.rfind("getcursor", 0) != 0) return ok_then(c);
        const std::string stream = c.reply("ok") + c.reply(value);
        const size_t at = std::min(cut, stream.size());
        return {{stream.substr(0, at), stream.substr(at)}};
    });
    auto connection = started_connection(gateway.port());
    auto rs = connection->CrOpen("SELECT v FROM t", tolvix::adOpenStatic, tolvix::adLockReadOnly);
    const size_t length = 5 + 3 + 1 + value.size() + 1;   // "2", STX, "ok", ETX; "250", STX, body, ETX
    for (cut = 0; cut <= length; ++cut) {
        SCOPED_TRACE(cut);
        ASSERT_EQ(rs->Fields(Variant("v")), Variant(value.substr(1)));
        rs->MoveNext();   // a request of its own: the stream stays in step after every cut
    }
}

TEST(SyncSocket, ErrorRepliesAreRaisedWithTheGatewaysNumberAndText) {
    FakeGateway gateway([](FakeConnection& c, const FakeRequest& r) -> FakeGateway::Answer {
        const std::string error = "-2147217900" + kStx + "no such table: t";
        if (r.plain.rfind("all", 0) == 0) return {{c.reply(error) + c.reply("1" + kStx + "2")}};
        if (r.plain.rfind("direct", 0) == 0) return {{c.reply(error)}};
        if (r.plain.rfind("getcursor", 0) == 0) return ok_then(c, {"sx"});
        return ok_then(c);
    });
    auto connection = started_connection(gateway.port());
    const ComError direct = error_of([&] { connection->Direct("DELETE FROM t"); });
    EXPECT_EQ(direct.number(), -2147217900);
    EXPECT_EQ(direct.description(), "no such table: t");

    // After a failed "all" its data reply is read and dropped: the next request reads its own reply.
    auto rs = connection->CrOpen("SELECT a FROM t", tolvix::adOpenStatic, tolvix::adLockReadOnly);
    EXPECT_EQ(error_number([&] { rs->All({"a"}); }), -2147217900);
    EXPECT_EQ(rs->Fields(Variant("a")), Variant("x"));
}

TEST(SyncSocket, AcknowledgementModeStaysAsAnnouncedForTheConnection) {
    FakeGateway gateway(plain_gateway);
    auto connection = started_connection(gateway.port());
    auto rs = connection->CrOpen("SELECT a FROM t", tolvix::adOpenStatic, tolvix::adLockReadOnly);
    connection->ErrorCheck(false);   // the open connection was announced with acknowledgements on
    rs->MoveNext();
    EXPECT_EQ(rs->Fields(Variant("a")), Variant("x"));

    // A new connection announces the mode then in force: no acknowledgement, only the data.
    FakeGateway quiet([](FakeConnection& c, const FakeRequest& r) -> FakeGateway::Answer {
        EXPECT_FALSE(c.acknowledge());
        if (r.plain.rfind("direct", 0) == 0) return {{c.reply(" 7")}};
        return {};
    });
    connection->Port(quiet.port());
    EXPECT_EQ(connection->Direct("DELETE FROM t"), 7);
    EXPECT_EQ(header_fields(quiet.requests().at(0).header).at(0), "0");
}

TEST(SyncSocket, GatewayThatClosesEndsTheReadWithAnError) {
    FakeGateway gateway([](FakeConnection& c, const FakeRequest& r) -> FakeGateway::Answer {
        if (r.plain.rfind("direct", 0) == 0) return {{c.reply("ok") + "5" + kStx + "ab"}, true};   // cut short
        return {{}, true};
    });
    auto connection = started_connection(gateway.port());
    const ComError silent = error_of([&] { connection->Direct("DELETE FROM t"); });
    EXPECT_EQ(silent.number(), 10054);
    EXPECT_NE(silent.description().find("closed"), std::string::npos);
    EXPECT_EQ(error_number([&] { connection->CrOpen("SELECT a FROM t", tolvix::adOpenStatic, tolvix::adLockReadOnly); }),
              10054);   // closed before the acknowledgement
}

// With the initial key (3, -5, 2, -3) and the 21-character header in front, the request's 29th character
// is shifted by -5: a backspace there would become the terminator.
TEST(SyncSocket, RequestThatTheKeyWouldCutShortIsRefusedBeforeSending) {
    FakeGateway gateway(plain_gateway);
    auto connection = started_connection(gateway.port());
    const ComError refused = error_of([&] { connection->Direct("a\bc"); });
    EXPECT_EQ(refused.number(), 5);
    EXPECT_TRUE(gateway.wait_connections_ended(1));
    EXPECT_TRUE(gateway.requests().empty());
    // Tabs and line breaks never turn into the terminator, under any key.
    EXPECT_EQ(connection->Direct("a\tb\r\nc\td"), 0);
    EXPECT_EQ(gateway.requests().at(0).plain, join({"direct", "a\tb\r\nc\td"}));
}

TEST(SyncSocket, UnreachableGatewayRaisesGatewayDownOnce) {
    uint16_t closed_port;
    { FakeGateway gone(plain_gateway); closed_port = gone.port(); }
    for (int32_t port : {int32_t{closed_port}, int32_t{70000}}) {
        SCOPED_TRACE(port);
        auto connection = started_connection(0);
        connection->Port(port);
        int downs = 0;
        connection->on_GatewayDown([&] { ++downs; });
        EXPECT_EQ(connection->Direct("DELETE FROM t"), 0);
        EXPECT_EQ(connection->mtier("x"), "");
        auto rs = connection->CrOpen("SELECT 1", tolvix::adOpenStatic, tolvix::adLockReadOnly);
        ASSERT_TRUE(rs);
        EXPECT_FALSE(rs->IPOnLine());
        EXPECT_EQ(downs, 3);
        EXPECT_EQ(error_number([&] { rs->MoveNext(); }), 91);
    }
}

TEST(SyncSocket, NothingIsSentBeforeStart) {
    FakeGateway gateway(plain_gateway);
    tolvix::iConnection connection;
    connection.IP("127.0.0.1");
    connection.Port(gateway.port());
    EXPECT_EQ(connection.Direct("DELETE FROM t"), 0);
    EXPECT_EQ(connection.mtier("x"), "");
    EXPECT_EQ(connection.CrOpen("SELECT 1", tolvix::adOpenStatic, tolvix::adLockReadOnly), nullptr);
    EXPECT_FALSE(connection.LocalInit("SQLite", "Data Source=:memory:"));
    connection.Start();
    EXPECT_EQ(connection.Direct("DELETE FROM t"), 0);
    EXPECT_EQ(gateway.requests().size(), 1u);
}
