// Socket_test.cpp: the general-purpose socket over real connections on 127.0.0.1: accepting, the
// lifetime of accepted sockets, and the peer-close handling with unread data.
#include "socketcontrol/Socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ControlTestSupport.h"

namespace {

class SocketTest : public ::testing::Test {
protected:
    ScopedTempDir dir_;
    Quellox control_;
};

// Records a socket's events; reads `read_per_event` bytes (0: none) in each DataArrived.
struct SocketRecorder : SocketEvents {
    std::weak_ptr<Socket> source;
    std::vector<std::string> events;
    std::string received;
    int32_t read_per_event = 0;
    std::function<void()> on_new_connection;

    void Closed() override { events.push_back("Closed"); }
    void Connected() override { events.push_back("Connected"); }
    void DataArrived(int32_t count) override {
        events.push_back("DataArrived " + std::to_string(count));
        auto s = source.lock();
        if (!s || read_per_event == 0) return;
        const Variant data = s->ReceiveStream(std::min(count, read_per_event));
        if (data.is_text()) received += data.as_text();
    }
    void Error(int32_t code, const std::string& desc) override {
        events.push_back("Error " + std::to_string(code) + " " + desc);
    }
    void NewConnection() override {
        events.push_back("NewConnection");
        if (on_new_connection) on_new_connection();
    }
    void ReadyToSend() override { events.push_back("ReadyToSend"); }
    size_t count(const std::string& event) const { return std::count(events.begin(), events.end(), event); }
};

// A listening socket whose owner accepts every connection into `accepted`.
struct Server {
    std::shared_ptr<SocketRecorder> listener_events = std::make_shared<SocketRecorder>();
    std::shared_ptr<Socket> listener;
    std::vector<std::shared_ptr<Socket>> accepted;
    std::vector<std::shared_ptr<SocketRecorder>> accepted_events;
    int32_t read_per_event = 0;

    explicit Server(Quellox& control) {
        listener = control.CreateSocket(QXStream);
        listener->LocalIpAddress("127.0.0.1");
        listener->Listen();
        listener->bind_events(listener_events);
        listener_events->on_new_connection = [this] {
            accepted.push_back(listener->Accept());
            accepted_events.push_back(std::make_shared<SocketRecorder>());
            accepted_events.back()->source = accepted.back();
            accepted_events.back()->read_per_event = read_per_event;
            accepted.back()->bind_events(accepted_events.back());
        };
    }
};

TEST_F(SocketTest, AcceptGivesANewSocketAndReleasingItClosesOnlyThatConnection) {
    Server server(control_);
    const int32_t sockets = Quellox::SocketCount();
    auto client_events = std::make_shared<SocketRecorder>();
    auto client = control_.CreateSocket(QXStream);
    client->bind_events(client_events);
    client->ResolveHost(false);
    client->RemoteIPAddress("127.0.0.1");
    client->RemotePort(server.listener->LocalPort());
    client->Connect();
    ASSERT_TRUE(pump_until([&] { return server.accepted.size() == 1 && client->State() == WSSS_Connected; }));
    EXPECT_NE(server.accepted[0]->SocketHandle(), server.listener->SocketHandle());
    EXPECT_EQ(server.accepted[0]->State(), WSSS_Connected);
    EXPECT_EQ(server.accepted[0]->RemotePort(), client->LocalPort());
    EXPECT_EQ(Quellox::SocketCount(), sockets + 2);  // the client and the accepted one

    const int32_t registered = Quellox::Count();
    server.accepted.clear();
    ASSERT_TRUE(pump_until([&] { return client_events->count("Closed") == 1; }));
    EXPECT_EQ(Quellox::SocketCount(), sockets + 1);
    EXPECT_EQ(Quellox::Count(), registered - 1);

    // The listener goes on accepting.
    EXPECT_EQ(server.listener->State(), WSSS_Listening);
    UniqueFd second = raw_connect(server.listener->LocalPort());
    ASSERT_TRUE(pump_until([&] { return server.accepted.size() == 1; }));
}

TEST_F(SocketTest, PeerCloseOffersUnreadDataBeforeClosed) {
    struct Case {
        const char* name;
        int32_t read_per_event;
        size_t left_unread;
    };
    const Case cases[] = {
        {"the owner reads everything", 1000, 0},
        {"the owner reads a little each time", 3, 0},
        {"the owner reads nothing: Closed still comes", 0, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Server server(control_);
        server.read_per_event = c.read_per_event;
        {
            UniqueFd peer = raw_connect(server.listener->LocalPort());
            raw_send(peer, "0123456789");
        }
        ASSERT_TRUE(pump_until([&] { return server.accepted.size() == 1 && server.accepted_events[0]->count("Closed") == 1; }));
        std::vector<std::string> events;  // what matters here: data first, Closed last
        for (const auto& e : server.accepted_events[0]->events)
            if (e != "ReadyToSend") events.push_back(e);
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events.front().rfind("DataArrived ", 0), 0u) << events.front();
        EXPECT_EQ(events.back(), "Closed");
        EXPECT_EQ(server.accepted_events[0]->received, std::string("0123456789").substr(0, 10 - c.left_unread));
        if (c.left_unread > 0) {
            EXPECT_EQ(server.accepted[0]->BytesAvailable(), static_cast<int32_t>(c.left_unread));
        }
    }
}

// A synchronous client runs no pump: its blocking socket resolves and connects inside Connect.
TEST_F(SocketTest, BlockingConnectByHostNameIsConnectedWhenItReturns) {
    RawListener peer;
    auto client = control_.CreateSocket(QXStream, false);
    ASSERT_TRUE(client->ResolveHost());
    client->HostName("localhost");
    client->RemotePort(peer.port);
    client->Connect();
    EXPECT_EQ(client->State(), WSSS_Connected);
    EXPECT_EQ(client->RemoteIPAddress(), "127.0.0.1");
    EXPECT_EQ(client->SendString("request"), 7);

    // A name that does not resolve raises the lookup's error and leaves the socket idle.
    auto lost = control_.CreateSocket(QXStream, false);
    lost->HostName("nonexistent.invalid");
    lost->RemotePort(peer.port);
    const ComError failure = error_of([&] { lost->Connect(); });
    EXPECT_TRUE(failure.number() == wsock::WSAHOST_NOT_FOUND || failure.number() == wsock::WSATRY_AGAIN)
        << failure.number() << " " << failure.description();
    EXPECT_EQ(lost->State(), WSSS_Idle);
}

// Time-outs of blocking calls raise 10060 (WSAETIMEDOUT); a send never reports a part as success.
TEST_F(SocketTest, BlockingTimeOutsRaiseTimedOut) {
    RawListener peer;  // accepts (in the backlog) but never reads or writes
    auto client = control_.CreateSocket(QXStream, false);
    client->ResolveHost(false);
    client->RemoteIPAddress("127.0.0.1");
    client->RemotePort(peer.port);
    client->Connect();
    ASSERT_EQ(client->State(), WSSS_Connected);

    client->SocketOption(WSSO_RcvTimeout, 50);
    std::string data;
    EXPECT_EQ(error_number([&] { client->ReceiveString(data, 10); }), wsock::WSAETIMEDOUT);

    client->SocketOption(WSSO_SndTimeout, 100);
    const std::vector<uint8_t> bulk(64 << 20, 'x');  // far more than both sides' buffers hold
    EXPECT_EQ(error_number([&] { client->SendBytes(bulk.data(), static_cast<int32_t>(bulk.size())); }),
              wsock::WSAETIMEDOUT);
}

TEST_F(SocketTest, ASocketWithoutACoreFailsItsMembersAndGoesQuietly) {
    const int32_t sockets = Quellox::SocketCount();
    {
        auto socket = Socket::create();
        EXPECT_EQ(Quellox::SocketCount(), sockets + 1);
        EXPECT_EQ(error_of([&] { socket->State(); }).number(), 91);
        EXPECT_EQ(error_of([&] { socket->Connect(); }).number(), 91);
    }
    EXPECT_EQ(Quellox::SocketCount(), sockets);
}

TEST_F(SocketTest, LingerValuesPackOnOffAndSeconds) {
    struct Case {
        bool on;
        int16_t seconds;
        int32_t packed;
    };
    const Case cases[] = {{true, 30, 0x001EFFFF}, {false, 5, 0x00050000}, {true, 0, 0x0000FFFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.packed);
        const Variant packed = Socket::LingerStruct(c.on, c.seconds);
        ASSERT_EQ(packed.type(), VarType::Long);
        EXPECT_EQ(packed.as_int32(), c.packed);
        EXPECT_EQ(Socket::LingerOnOff(c.packed), c.on);
        EXPECT_EQ(Socket::LingerTimeout(c.packed), c.seconds);
    }
}

}  // namespace
