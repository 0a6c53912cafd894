// WSocket_test.cpp: the socket core over real sockets on 127.0.0.1, driven by the thread's pump.
#include "socketcontrol/WSocket.h"

#include <gtest/gtest.h>

#include <functional>

#include "WSocketTestSupport.h"
#include "common/ComError.h"
#include "socketcontrol/ByteArray.h"
#include "socketcontrol/VBTimer.h"
#include "tests/support/ErrorOf.h"

namespace {

class WSocketTest : public ::testing::Test {
protected:
    ControlThread thread_;
};

TEST_F(WSocketTest, ConnectAndAcceptDescribeBothEnds) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.open());
    EXPECT_TRUE(pair.client_events->has("Connected"));
    EXPECT_EQ(pair.server->State(), WSSS_Connected);
    EXPECT_NE(pair.server->SocketHandle(), pair.listener->SocketHandle());
    // The accepted core names its peer in host byte order: the client's own local port.
    EXPECT_EQ(pair.server->RemoteIPAddress(), "127.0.0.1");
    EXPECT_EQ(pair.server->RemotePort(), pair.client->LocalPort());
    EXPECT_EQ(pair.server->LocalPort(), pair.listener->LocalPort());
    EXPECT_NE(pair.listener->LocalPort(), 0);  // Listen bound the idle socket first
    EXPECT_EQ(pair.listener->State(), WSSS_Listening);

    // Text crosses as Windows-1252, one byte per character; the receiver reads it in its handler.
    std::string received;
    int32_t count = -1;
    pair.server_events->hook = [&](const std::string& e) {
        if (e.rfind("DataArrived", 0) == 0 && count < 0) count = pair.server->ReceiveString(received, 10);
    };
    EXPECT_EQ(pair.client->SendString("h\xC3\xA9llo"), 5);
    ASSERT_TRUE(pump_until([&] { return count >= 0; }));
    EXPECT_EQ(count, 5);
    EXPECT_EQ(received, "h\xC3\xA9llo     ");  // the 5 characters, then the 5 spaces of the buffer
    EXPECT_TRUE(pair.server_events->has("DataArrived 5"));
    EXPECT_FALSE(pair.server->DataWaiting());
}

TEST_F(WSocketTest, MisuseAndFailedCallsRaiseTheirErrors) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.open());
    auto idle = make_core();
    auto datagram = make_core(QXDatagram);
    auto closed = make_core();
    closed->CloseSocket();
    struct Case {
        const char* name;
        std::function<void()> call;
        int32_t number;
        const char* description;
    };
    const Case cases[] = {
        {"connect without host name", [&] { idle->Connect(); }, 20001, "Host name not defined!"},
        {"GetHostByName while ResolveHost", [&] { closed->GetHostByName("localhost"); }, 20001,
         "Cannot use this function whilst the ResolveHost property is TRUE!"},
        {"type check on a closed handle", [&] { closed->ReceiveStream(10); }, 10038,
         "Error retrieving socket option setting!"},
        {"listen on a datagram socket", [&] { datagram->Listen(); }, 20001, "Function is only valid for Stream sockets!"},
        {"datagram read on a stream", [&] { idle->ReceiveDatagram(10); }, 20001,
         "Function is only valid for datagram (UDP) sockets!"},
        {"second listen", [&] { pair.listener->Listen(); }, 20001,
         "A socket must be bound or idle before you can start listening on it!"},
        {"accept with nothing waiting", [&] { pair.listener->Accept(); }, 10035, "Error accepting incoming connection"},
        {"read with nothing waiting", [&] { pair.client->ReceiveStream(10); }, 10035,
         "Failure receiving string from remote socket!"},
        {"send a number", [&] { pair.client->SendStream(Variant(int32_t{5})); }, 20001,
         "The data to be sent must be as string or a byte array!"},
        {"send before connecting", [&] { idle->SendString("x"); }, 20001,
         "A socket must be connected before you can send data on it!"},
        {"accept on an idle socket", [&] { idle->Accept(); }, 20001, "Socket is not listening"},
        {"connect twice", [&] { pair.client->Connect(); }, 20001, "Socket must be idle to issue a connect!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ComError e = error_of(c.call);
        EXPECT_EQ(e.number(), c.number);
        EXPECT_EQ(e.description(), c.description);
        if (e.number() != 0) {
            EXPECT_EQ(e.source(), "WSocket");
        }
    }
    EXPECT_EQ(closed->SocketHandle(), -1);
    EXPECT_EQ(closed->State(), WSSS_Closed);
}

TEST_F(WSocketTest, RefusedConnectArrivesAsErrorEventNotAsThrow) {
    auto probe = make_listener();  // a port that was just free and is closed again
    const int16_t port = probe->LocalPort();
    SocketRegistry::current().Remove(std::to_string(probe->SocketHandle()));
    probe.reset();

    auto client = make_core();
    auto events = std::make_shared<CoreRecorder>();
    client->bind_events(events);
    client->ResolveHost(false);
    client->RemoteIPAddress("127.0.0.1");
    client->RemotePort(port);
    ASSERT_NO_THROW(client->Connect());
    EXPECT_EQ(client->State(), WSSS_Connecting);
    ASSERT_TRUE(pump_until([&] { return !events->events.empty(); }));
    EXPECT_EQ(events->events, std::vector<std::string>{"Error 10061 Socket error"});
    EXPECT_EQ(client->State(), WSSS_AsyncError);
}

TEST_F(WSocketTest, HostLookupsReportThroughHostNameResolved) {
    struct Case {
        const char* name;
        bool by_address;
        std::string expected_event;
        int32_t expected_state;
    };
    const Case cases[] = {
        {"localhost", false, "HostNameResolved 0 127.0.0.1", WSSS_Idle},
        {"no-such-host.invalid", false, "HostNameResolved 11001 Host name resolution failed", WSSS_ResolvingHost},
        {"127.0.0.1", true, "HostNameResolved 0 localhost", WSSS_Idle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto core = make_core();
        auto events = std::make_shared<CoreRecorder>();
        core->bind_events(events);
        core->ResolveHost(false);
        if (c.by_address) {
            core->GetHostByAddr(c.name);
            // A second lookup while one is pending is refused, with this member's own wording.
            EXPECT_EQ(error_of([&] { core->GetHostByAddr(c.name); }).description(),
                      "Cannot to start a host name lookup whilst one is alread in progress!");
        } else {
            core->GetHostByName(c.name);
            EXPECT_EQ(core->State(), WSSS_ResolvingHost);
            EXPECT_EQ(error_of([&] { core->StartHostNameLookup(c.name); }).description(),
                      "Cannot start a host name lookup whilst one is alread in progress!");
            EXPECT_EQ(error_of([&] { core->ResolveHost(true); }).description(), "Host name resolution in progress!");
        }
        ASSERT_TRUE(pump_until([&] { return !events->events.empty(); }, std::chrono::seconds(30)));
        ASSERT_EQ(events->events.size(), 1u);
        if (c.expected_event.find("11001") != std::string::npos) {
            EXPECT_EQ(events->events[0].rfind("HostNameResolved 1100", 0), 0u) << events->events[0];
            EXPECT_NE(events->events[0].find("Host name resolution failed"), std::string::npos);
        } else {
            EXPECT_EQ(events->events[0], c.expected_event);
        }
        EXPECT_EQ(core->State(), c.expected_state);
        if (!c.by_address && c.expected_state == WSSS_Idle) {
            EXPECT_EQ(core->RemoteIPAddress(), "127.0.0.1");
        }
        // The lookup is over: another one may start.
        EXPECT_NO_THROW(core->ResolveHost(true));
    }
}

TEST_F(WSocketTest, ConnectResolvesHostNameThenConnects) {
    auto listener = make_listener();
    auto client = make_core();
    auto events = std::make_shared<CoreRecorder>();
    client->bind_events(events);
    client->HostName("localhost");
    client->RemotePort(listener->LocalPort());
    client->Connect();
    EXPECT_EQ(client->State(), WSSS_ResolvingHost);
    ASSERT_TRUE(pump_until([&] { return client->State() == WSSS_Connected; }));
    ASSERT_FALSE(events->events.empty());
    EXPECT_EQ(events->events.front(), "Connected");  // no HostNameResolved on this path
    EXPECT_FALSE(events->has("HostNameResolved 0 127.0.0.1"));
    EXPECT_EQ(client->RemoteIPAddress(), "127.0.0.1");
}

// A socket without notifications connects at once after its lookup: it is connected (State 5), not left
// waiting for an FD_CONNECT that will never come.
TEST_F(WSocketTest, BlockingSocketIsConnectedAfterItsLookup) {
    auto listener = make_listener();
    auto client = make_core(QXStream, false);
    client->HostName("localhost");
    client->RemotePort(listener->LocalPort());
    client->Connect();
    ASSERT_TRUE(pump_until([&] { return client->State() != WSSS_ResolvingHost; }));
    EXPECT_EQ(client->State(), WSSS_Connected);
    EXPECT_EQ(client->SendString("ok"), 2);
}

// The owner may start a connect from inside HostNameResolved: the core has finished its lookup (State 0,
// nothing pending) before it raises the event.
TEST_F(WSocketTest, OwnerConnectsFromInsideHostNameResolved) {
    auto listener = make_listener();
    auto client = make_core();
    auto events = std::make_shared<CoreRecorder>();
    client->bind_events(events);
    client->ResolveHost(false);
    events->hook = [&](const std::string& e) {
        if (e.rfind("HostNameResolved", 0) != 0) return;
        client->RemotePort(listener->LocalPort());
        client->Connect();
    };
    client->GetHostByName("localhost");
    ASSERT_TRUE(pump_until([&] { return client->State() == WSSS_Connected; }));
    ASSERT_GE(events->events.size(), 2u);
    EXPECT_EQ(events->events[0], "HostNameResolved 0 127.0.0.1");
    EXPECT_EQ(events->events[1], "Connected");
}

TEST_F(WSocketTest, WouldBlockSendSetsSendBlockedUntilReadyToSend) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.open());
    pair.client->SocketOption(WSSO_SndbufSize, 8192);
    ASSERT_TRUE(pump_until([&] { return pair.client_events->has("ReadyToSend"); }));  // after FD_CONNECT
    pair.client_events->events.clear();
    const std::string chunk(65536, 'x');
    int32_t result = 0;
    long long sent = 0;
    for (int i = 0; i < 4096 && result != -1; ++i) {
        result = pair.client->SendString(chunk);
        if (result > 0) sent += result;
    }
    ASSERT_EQ(result, -1);
    EXPECT_TRUE(pair.client->SendBlocked());

    // The server drains everything it is told about; the client hears ReadyToSend exactly once.
    long long received = 0;
    pair.server_events->hook = [&](const std::string& e) {
        if (e.rfind("DataArrived", 0) == 0) received += static_cast<long long>(pair.server->receive_ansi(1 << 20).size());
    };
    ASSERT_TRUE(pump_until([&] { return pair.client_events->has("ReadyToSend"); }));
    EXPECT_FALSE(pair.client->SendBlocked());
    ASSERT_TRUE(pump_until([&] { return received == sent; }));
    EXPECT_EQ(pair.client_events->count("ReadyToSend"), 1u);
}

TEST_F(WSocketTest, PeerCloseLeavesUnreadDataReadableInsideClosed) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.open());
    std::string in_closed;
    int32_t available_in_closed = -1;
    pair.client_events->hook = [&](const std::string& e) {
        if (e != "Closed") return;
        available_in_closed = pair.client->BytesAvailable();
        in_closed = pair.client->ReceiveStream(available_in_closed).as_text();
    };
    pair.server->SendString("tail");
    pair.server->CloseSocket();
    ASSERT_TRUE(pump_until([&] { return pair.client_events->has("Closed"); }));
    EXPECT_EQ(available_in_closed, 4);
    EXPECT_EQ(in_closed, "tail");
    EXPECT_EQ(pair.client->State(), WSSS_Closed);

    // Nothing more is raised after Closed; the handle stays until CloseSocket.
    const int32_t handle = pair.client->SocketHandle();
    VBWinMess late;
    late.Msg = 0x401;
    late.wParam = handle;
    late.lParam = wsock::FD_READ;
    pair.client->ProcessWinMess(late);
    EXPECT_EQ(pair.client_events->count("Closed"), 1u);
    EXPECT_EQ(pair.client_events->events.back(), "Closed");
    EXPECT_EQ(pair.client->SocketHandle(), handle);
    pair.client->CloseSocket();
    EXPECT_EQ(pair.client->SocketHandle(), -1);
}

TEST_F(WSocketTest, ReceiveStreamAfterPeerCloseIsEmpty) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.open());
    Variant result = Variant("unset");
    pair.client_events->hook = [&](const std::string& e) {
        if (e == "Closed") result = pair.client->ReceiveStream(10, false);
    };
    pair.server->CloseSocket();
    ASSERT_TRUE(pump_until([&] { return pair.client_events->has("Closed"); }));
    EXPECT_TRUE(result.is_empty());
}

TEST_F(WSocketTest, InactivityTimeoutRepeatsUntilSwitchedOff) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.open());
    pair.client->SetTimeout(2);
    EXPECT_EQ(pair.client->GetTimeout(), 2);
    ASSERT_TRUE(pump_until([&] { return pair.client_events->count("TimedOut") >= 2; }));
    pair.client->SetTimeout(0);
    EXPECT_EQ(pair.client->GetTimeout(), 0);
    const size_t seen = pair.client_events->count("TimedOut");
    // A clock of our own: five ticks pass, and no further TimedOut comes.
    auto clock = VBTimer::create();
    clock->Interval(5);
    clock->Enabled(true);
    struct Count : VBTimerEvents {
        int alarms = 0;
        void Alarm() override { ++alarms; }
    };
    auto ticks = std::make_shared<Count>();
    clock->bind_events(ticks);
    ASSERT_TRUE(pump_until([&] { return ticks->alarms >= 1; }));
    EXPECT_EQ(pair.client_events->count("TimedOut"), seen);
}

// Every handler pins the core: an owner that drops its last reference inside an event is safe, and
// the core is destroyed once the handling is over.
TEST_F(WSocketTest, OwnerMayReleaseCoreInsideItsHandlers) {
    const char* events[] = {"DataArrived 3", "Closed", "TimedOut"};
    for (const char* event : events) {
        SCOPED_TRACE(event);
        ConnectedPair pair;
        ASSERT_TRUE(pair.open());
        const int32_t before = object_counts().WSocketCount;
        std::weak_ptr<WSocket> watch = pair.client;
        pair.client_events->hook = [&](const std::string& e) {
            if (e != event || !pair.client) return;
            SocketRegistry::current().Remove(std::to_string(pair.client->SocketHandle()));
            pair.client.reset();  // the last owner's reference
            EXPECT_FALSE(watch.expired());  // still alive while its handler runs
        };
        if (std::string(event) == "TimedOut") pair.client->SetTimeout(1);
        if (std::string(event) == "DataArrived 3") pair.server->SendString("abc");
        if (std::string(event) == "Closed") pair.server->CloseSocket();
        ASSERT_TRUE(pump_until([&] { return watch.expired(); }));
        EXPECT_EQ(object_counts().WSocketCount, before - 1);
    }
}

TEST_F(WSocketTest, DatagramsCarryBytesAndTheSendersAddress) {
    auto receiver = make_core(QXDatagram);
    receiver->LocalIpAddress("127.0.0.1");
    receiver->Bind();
    auto sender = make_core(QXDatagram);
    sender->LocalIpAddress("127.0.0.1");
    sender->Bind();
    sender->RemoteIPAddress("127.0.0.1");
    sender->RemotePort(receiver->LocalPort());
    auto events = std::make_shared<CoreRecorder>();
    receiver->bind_events(events);
    EXPECT_EQ(sender->SendDatagram(make_byte_array({0, 1, 2, 255})), 4);
    ASSERT_TRUE(pump_until([&] { return events->has("DataArrived 4"); }));
    const Variant got = receiver->ReceiveDatagram(16, true);
    const ByteArray* bytes = byte_array_of(got);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes->bytes(), (std::vector<uint8_t>{0, 1, 2, 255}));
    EXPECT_EQ(receiver->RemotePort(), sender->LocalPort());
    EXPECT_EQ(receiver->RemoteIPAddress(), "127.0.0.1");
}

TEST(WSocketWithoutForms, CreationFailsWithTheTimersError) {
    const int32_t cores = object_counts().WSocketCount;
    const int32_t timers = object_counts().TimerCount;
    const ComError e = error_of([] { WSocket::create(); });
    EXPECT_EQ(e.number(), 20001);
    EXPECT_EQ(e.source(), "VBTimer");
    EXPECT_EQ(e.description(), "VBTimer Class_Initialize failure. 91 Object variable or With block variable not set");
    EXPECT_EQ(object_counts().WSocketCount, cores);
    EXPECT_EQ(object_counts().TimerCount, timers);
}

}  // namespace
