// SSWorker_test.cpp: a connection's life as the debug list and the counters tell it: accepted and closed,
// timed out, ended by an error (an over-long request), the debug pairs, failures inside a handler; and the
// socket setting the worker makes on its connection (no Nagle delay).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>

#include "tests/gateway/GatewayTestKit.h"

TEST_F(GatewayTest, ConnectionClosedBeforeSendingAnything) {
    {
        TestClient client(port());
        ASSERT_TRUE(pump_until([&] { return counter(Counter::ActiveSockets) == 1; }));
        EXPECT_EQ(monitor_->text(Counter::ActiveSockets), "1");
    }
    ASSERT_TRUE(pump_until([&] { return counter(Counter::ActiveSockets) == 0; }));
    ASSERT_GE(debug_list().size(), 2u);
    EXPECT_EQ(debug_list()[0], "Closing down socket:  1");
    EXPECT_EQ(debug_list()[1], "Accepted new socket client:  1");
    EXPECT_EQ(monitor_->text(Counter::ActiveSockets), "");   // 0 shows as the empty text
    EXPECT_EQ(monitor_->text(Counter::ConnectionsAccepted), "1");
}

TEST_F(GatewayTest, TwoClientsGetConsecutiveNumbers) {
    TestClient a(port()), b(port());
    ASSERT_TRUE(pump_until([&] { return counter(Counter::ActiveSockets) == 2; }));
    EXPECT_TRUE(debug_list_has("Accepted new socket client:  1"));
    EXPECT_TRUE(debug_list_has("Accepted new socket client:  2"));
}

TEST_F(GatewayTest, IdleConnectionTimesOut) {
    gateway_->worker_timeout = 3;   // tenths of a second
    TestClient client(port());
    ASSERT_TRUE(client.closed_by_gateway());
    EXPECT_EQ(debug_list().front(), "Socket timed out. No:  1");
    EXPECT_EQ(counter(Counter::Timeouts), 1);
    EXPECT_EQ(counter(Counter::ActiveSockets), 0);
}

TEST_F(GatewayTest, OverlongRequestClosesItsConnectionOnly) {
    gateway_->limits.max_request_line = 4096;
    TestClient hog(port()), other(port());
    other.send_first(join({"open", "SELECT id FROM people", "0", "1"}));
    EXPECT_EQ(other.reply(), "ok");
    hog.send_raw(std::string(10000, 'x'));   // no terminator
    ASSERT_TRUE(hog.closed_by_gateway());
    EXPECT_EQ(counter(Counter::Errors), 1);
    EXPECT_EQ(counter(Counter::ActiveSockets), 1);
    const std::string& entry = debug_list().front();
    EXPECT_NE(entry.find(" Server Worker Socket reported error!Code: 10040\r\nDesc: "), std::string::npos) << entry;
    other.send("rowcount");
    EXPECT_EQ(other.reply(), "ok");
}

TEST_F(GatewayTest, DebugSwitchAddsAPairPerMessageInAndOut) {
    monitor_->chbDebug(true);
    TestClient client(port());
    const wire::Key key({5, -3, 7, 2, -9});
    const std::string request = join({"open", "SELECT id FROM people", "0", "1"});
    client.send_first(request, true, key);
    EXPECT_EQ(client.reply(), "ok");
    const std::vector<std::string> expected = {
        "Sending data to: 1", "ok",
        "Got something from:  1", wire::make_header(true, key) + request,   // the header is still in front
        "Accepted new socket client:  1"};
    ASSERT_GE(debug_list().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(debug_list()[i], expected[i]) << i;

    monitor_->chbDebug(false);
    const size_t lines = debug_list().size();
    client.send("rowcount");
    EXPECT_EQ(client.reply(), "ok");
    EXPECT_EQ(debug_list().size(), lines);
}

TEST_F(GatewayTest, FailureInsideAHandlerIsLoggedAndTheConnectionServesOn) {
    // A middle tier whose MTier member does not exist: the call raises 438 inside the handler.
    struct Broken final : Dispatch {
        Variant Invoke(std::string_view name, InvokeKind, std::vector<Variant>) override {
            throw vb_error(kErrNoMember, "Broken." + std::string(name));
        }
        std::string type_name() const override { return "Broken"; }
    };
    gateway_->mtier = std::make_shared<Broken>();
    TestClient client(port());
    client.send_first(join({"mtier", "a", "b"}));
    client.send("rowcount");
    EXPECT_TRUE(pump_until([&] { return !debug_list().empty() && debug_list().front().find("Code: 438") != std::string::npos; }));
    EXPECT_NE(debug_list().front().find(" Server Worker No: 1 failed handling a request!Code: 438\r\nSource: Broken.MTier"),
              std::string::npos) << debug_list().front();
    const std::optional<std::string> reply = client.reply();   // rowcount on a closed cursor: its error entry
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->find(" 3704" + kStx), 0u) << *reply;
}

TEST_F(GatewayTest, CountersFollowTheTraffic) {
    TestClient client(port());
    const wire::Key key({5, -3, 7, 2, -9});
    client.send_first("rowcount", true, key);
    client.reply();
    client.send(join({"direct", "UPDATE people SET score = 0"}));
    client.reply();
    client.reply();
    EXPECT_EQ(counter(Counter::MessagesIn), 2);
    EXPECT_EQ(counter(Counter::MessagesOut), 3);
    // Characters read count what is left after the header; characters sent count prefix and separator.
    const int32_t read = static_cast<int32_t>(std::string("rowcount").size() +
                                              join({"direct", "UPDATE people SET score = 0"}).size());
    EXPECT_EQ(counter(Counter::CharactersRead), read);
    EXPECT_EQ(monitor_->text(Counter::CharactersRead), std::to_string(read));
    EXPECT_GT(counter(Counter::CharactersSent), 0);

    monitor_->Reset();
    EXPECT_TRUE(debug_list().empty());
    for (Counter c : {Counter::MessagesIn, Counter::MessagesOut, Counter::CharactersRead, Counter::CharactersSent}) {
        EXPECT_EQ(counter(c), 0);
        EXPECT_EQ(monitor_->text(c), "");
    }
    EXPECT_EQ(monitor_->text(Counter::ConnectionsAccepted), "1");   // not reset
    client.send("rowcount");
    client.reply();
    EXPECT_EQ(monitor_->text(Counter::MessagesIn), "1");
}

namespace {
// The gateway's end of `client`'s connection: the descriptor of this process whose local port is the
// gateway's and whose peer port is the client's; -1 when there is none.
int gateway_end_of(const TestClient& client, uint16_t gateway_port) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ignored)) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_in local{}, peer{};
        socklen_t local_len = sizeof local, peer_len = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_len) != 0 || local.sin_family != AF_INET ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0)
            continue;
        if (ntohs(local.sin_port) == gateway_port && ntohs(peer.sin_port) == client.local_port()) return fd;
    }
    return -1;
}
}  // namespace

// With Nagle's algorithm on, a reply written while an earlier one is still unacknowledged waits for the
// client's delayed acknowledgement (up to 40 ms on Linux).
TEST_F(GatewayTest, AcceptedConnectionsSwitchNagleOff) {
    TestClient client(port());
    ASSERT_TRUE(pump_until([&] { return counter(Counter::ActiveSockets) == 1; }));
    const int fd = gateway_end_of(client, port());
    ASSERT_GE(fd, 0);
    int no_delay = 0;
    socklen_t len = sizeof no_delay;
    ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, &len), 0);
    EXPECT_NE(no_delay, 0);
}
