// Sockets_test.cpp: blocking sockets, error numbers of failing calls, start-up per thread, socket
// options, ioctlsocket and inet_addr.
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "platform/wsock/WsaError.h"
#include "tests/platform/wsock/WsockTestKit.h"

// The tests live in namespace wsock so that unqualified calls name the Windows functions, not the
// POSIX ones of the same names.
namespace wsock {
using namespace wsock_test;

namespace {
class Sockets : public WsockTest {};

int get_int(SOCKET s, int level, int name, int* len_out = nullptr) {
    int value = -12345;
    int len = sizeof value;
    if (getsockopt(s, level, name, reinterpret_cast<char*>(&value), &len) != 0) return -WSAGetLastError();
    if (len_out) *len_out = len;
    return value;
}
int set_int(SOCKET s, int level, int name, int value) {
    return setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0 ? 0 : WSAGetLastError();
}
}  // namespace

TEST_F(Sockets, BlockingClientTalksToAServerOnAnotherThread) {
    // The server runs its own start-up and blocking sockets on its own thread, as a second apartment.
    std::atomic<uint16_t> port{0};
    std::atomic<SOCKET> server_listener{INVALID_SOCKET};
    std::thread server([&] {
        WSADATA d;
        ASSERT_EQ(WSAStartup(0x0101, &d), 0);
        const SOCKET l = socket(WS_AF_INET, WS_SOCK_STREAM, 0);
        const sockaddr_in any = loopback(0);
        ASSERT_EQ(bind(l, as_sa(any), sizeof any), 0);
        ASSERT_EQ(listen(l, 5), 0);
        sockaddr_in a{};
        int len = sizeof a;
        ASSERT_EQ(getsockname(l, reinterpret_cast<sockaddr*>(&a), &len), 0);
        server_listener = l;
        port = ntohs(a.sin_port);
        const SOCKET conn = accept(l, nullptr, nullptr);   // blocks
        ASSERT_NE(conn, INVALID_SOCKET);
        char buf[256];
        int n;
        while ((n = recv(conn, buf, sizeof buf, 0)) > 0) ASSERT_EQ(send(conn, buf, n, 0), n);   // echo
        closesocket(conn);
        WSACleanup();   // closes the listener too
    });
    while (port.load() == 0) std::this_thread::yield();

    EXPECT_EQ(closesocket(server_listener.load()), SOCKET_ERROR) << "sockets belong to their thread";
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);

    const SOCKET c = make();
    const sockaddr_in to = loopback(port.load());
    ASSERT_EQ(connect(c, as_sa(to), sizeof to), 0) << WSAGetLastError();
    const std::string request = "hello over a blocking socket";
    ASSERT_EQ(send(c, request.data(), static_cast<int>(request.size()), 0), static_cast<int>(request.size()));
    std::string reply;
    char buf[7];
    while (reply.size() < request.size()) {
        const int n = recv(c, buf, sizeof buf, 0);   // blocks until the echo arrives
        ASSERT_GT(n, 0) << WSAGetLastError();
        reply.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(reply, request);
    ASSERT_EQ(shutdown(c, SD_SEND), 0);
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0) << "the server closed after our FIN";
    EXPECT_EQ(send(c, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
    server.join();
    EXPECT_TRUE(notes_.empty()) << "blocking sockets post nothing";
}

namespace {
std::atomic<int> g_signals{0};
void count_signal(int) { g_signals.fetch_add(1, std::memory_order_relaxed); }

// Installs a SIGUSR1 handler without SA_RESTART (so a blocked send returns early) for one scope.
class InterruptingSignal {
public:
    InterruptingSignal() {
        struct sigaction action{};
        action.sa_handler = &count_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(SIGUSR1, &action, &previous_);
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &previous_, nullptr); }

private:
    struct sigaction previous_{};
};
}  // namespace

TEST_F(Sockets, BlockingSendTakesEverythingWhileSignalsInterruptIt) {
    // A slow reader on another thread: a small send buffer, small reads, and a signal to the sending
    // thread after each read, so the send is interrupted many times with part of it sent.
    const InterruptingSignal handler;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    ASSERT_EQ(::bind(listener, as_sa(address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t address_len = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &address_len);

    std::string payload(4 << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    const pthread_t sender = ::pthread_self();
    std::string received;
    std::thread reader([&] {
        const int conn = ::accept(listener, nullptr, nullptr);
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(conn, buf, sizeof buf, 0)) != 0) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            received.append(buf, static_cast<size_t>(n));
            ::pthread_kill(sender, SIGUSR1);
        }
        ::close(conn);
    });

    const SOCKET c = make();
    ASSERT_EQ(set_int(c, WS_SOL_SOCKET, WS_SO_SNDBUF, 16 << 10), 0);
    ASSERT_EQ(connect(c, as_sa(address), sizeof address), 0) << WSAGetLastError();
    g_signals = 0;
    const int sent = send(c, payload.data(), static_cast<int>(payload.size()), 0);
    const int error = WSAGetLastError();
    const int signals_during_send = g_signals.load();
    closesocket(c);
    reader.join();
    ::close(listener);

    EXPECT_GT(signals_during_send, 0) << "the send was never interrupted: the test proves nothing";
    EXPECT_EQ(sent, static_cast<int>(payload.size())) << "error " << error;
    EXPECT_TRUE(received == payload) << "received " << received.size() << " of " << payload.size() << " bytes";
}

TEST_F(Sockets, FailingCallsReportTheWindowsErrorNumbers) {
    const SOCKET closed = make();
    ASSERT_EQ(closesocket(closed), 0);
    const SOCKET fresh = make();
    const SOCKET udp = make(WS_SOCK_DGRAM);
    uint16_t port = 0;
    const SOCKET l = listener(port, 0);
    char buf[4] = {};
    const sockaddr_in to = loopback(port);
    struct Case {
        const char* what;
        std::function<int()> call;
        int32_t error;
    };
    const Case cases[] = {
        {"recv on a closed handle", [&] { return recv(closed, buf, 4, 0); }, WSAENOTSOCK},
        {"closesocket twice", [&] { return closesocket(closed); }, WSAENOTSOCK},
        {"WSAAsyncSelect on a closed handle", [&] { return WSAAsyncSelect(closed, hwnd_, kMsg, FD_READ); }, WSAENOTSOCK},
        {"handle 0", [&] { return send(0, buf, 1, 0); }, WSAENOTSOCK},
        {"send on an unconnected stream", [&] { return send(fresh, buf, 1, 0); }, WSAENOTCONN},
        {"recv on an unconnected stream", [&] { return recv(fresh, buf, 1, 0); }, WSAENOTCONN},
        {"getsockname before bind", [&] {
             sockaddr_in a{};
             int len = sizeof a;
             return getsockname(fresh, reinterpret_cast<sockaddr*>(&a), &len);
         }, WSAEINVAL},
        {"getpeername unconnected", [&] {
             sockaddr_in a{};
             int len = sizeof a;
             return getpeername(fresh, reinterpret_cast<sockaddr*>(&a), &len);
         }, WSAENOTCONN},
        {"listen before bind", [&] { return listen(fresh, 5); }, WSAEINVAL},
        {"listen on a datagram socket", [&] { return listen(udp, 5); }, WSAEOPNOTSUPP},
        {"bind to a port in use", [&] {
             const SOCKET other = make();
             const sockaddr_in same = loopback(port);
             return bind(other, as_sa(same), sizeof same);
         }, WSAEADDRINUSE},
        {"address too short", [&] { return connect(fresh, as_sa(to), 8); }, WSAEFAULT},
        {"accept on a non-listening socket", [&] { return accept(fresh, nullptr, nullptr) == INVALID_SOCKET ? -1 : 0; },
         WSAEINVAL},
        {"unknown ioctl", [&] {
             uint32_t v = 0;
             return ioctlsocket(fresh, 0x1234, &v);
         }, WSAEINVAL},
        {"unknown option", [&] { return get_int(fresh, WS_SOL_SOCKET, 0x4444) < 0 ? -1 : 0; }, WSAENOPROTOOPT},
        {"unknown level", [&] { return get_int(fresh, 99, WS_SO_TYPE) < 0 ? -1 : 0; }, WSAENOPROTOOPT},
        {"keep-alive on a datagram socket", [&] { return set_int(udp, WS_SOL_SOCKET, WS_SO_KEEPALIVE, 1) ? -1 : 0; },
         WSAENOPROTOOPT},
        {"setting SO_TYPE", [&] { return set_int(fresh, WS_SOL_SOCKET, WS_SO_TYPE, 2) ? -1 : 0; }, WSAENOPROTOOPT},
        {"bad shutdown mode", [&] { return shutdown(fresh, 7); }, WSAEINVAL},
        {"unsupported family", [&] { return socket(23, WS_SOCK_STREAM, 0) == INVALID_SOCKET ? -1 : 0; },
         WSAEAFNOSUPPORT},
        {"unknown lookup task", [&] { return WSACancelAsyncRequest(0x7FFFFFF0u); }, WSAEINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WSASetLastError(0);
        EXPECT_EQ(c.call(), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), c.error) << wsa_error_name(WSAGetLastError());
    }
    closesocket(l);
}

TEST_F(Sockets, ErrnoTableTranslatesTheCasesWindowsNamesDifferently) {
    struct Case {
        int errno_value;
        int32_t wsa;
    };
    const Case cases[] = {{EINPROGRESS, WSAEWOULDBLOCK}, {EAGAIN, WSAEWOULDBLOCK}, {EBADF, WSAENOTSOCK},
                          {ECONNREFUSED, WSAECONNREFUSED}, {ENFILE, WSAEMFILE},     {ENOMEM, WSAENOBUFS},
                          {EPIPE, WSAECONNRESET},        {0, 0},                  {EDOM, WSAEINVAL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errno_value);
        EXPECT_EQ(wsa_from_errno(c.errno_value), c.wsa);
    }
    EXPECT_STREQ(wsa_error_text(WSAECONNREFUSED), "Connection refused");
    EXPECT_STREQ(wsa_error_text(4242), "Unknown error");
}

TEST_F(Sockets, StartupIsCountedPerThreadAndTheLastCleanupClosesTheThreadsSockets) {
    const SOCKET s = make();
    ASSERT_EQ(WSAStartup(0x0101, nullptr), 0);   // count 2
    ASSERT_EQ(WSACleanup(), 0);                    // count 1: still running
    EXPECT_EQ(ioctlsocket(s, WS_FIONREAD, std::make_unique<uint32_t>().get()), 0);

    std::thread other([&] {
        char b;
        EXPECT_EQ(recv(s, &b, 1, 0), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED) << "start-up counts per thread";
        EXPECT_EQ(WSAStartup(0x0001, nullptr), WSAVERNOTSUPPORTED);
    });
    other.join();

    ASSERT_EQ(WSACleanup(), 0);   // the last one
    EXPECT_EQ(socket(WS_AF_INET, WS_SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    ASSERT_EQ(WSAStartup(0x0101, nullptr), 0);   // balanced by TearDown
    uint32_t n = 0;
    EXPECT_EQ(ioctlsocket(s, WS_FIONREAD, &n), SOCKET_ERROR) << "the socket was closed by the last clean-up";
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(Sockets, OptionsUseWindowsNumbersAndRecordLayouts) {
    const SOCKET s = make();
    const SOCKET udp = make(WS_SOCK_DGRAM);
    EXPECT_EQ(get_int(s, WS_SOL_SOCKET, WS_SO_TYPE), 1);
    EXPECT_EQ(get_int(udp, WS_SOL_SOCKET, WS_SO_TYPE), 2);
    EXPECT_EQ(get_int(s, WS_SOL_SOCKET, WS_SO_REUSEADDR), 0) << "reads what the program asked for";

    struct Case {
        const char* what;
        SOCKET socket;
        int level, name, value;
    };
    const Case round_trips[] = {
        {"keep-alive", s, WS_SOL_SOCKET, WS_SO_KEEPALIVE, 1},
        {"no delay", s, WS_IPPROTO_TCP, WS_TCP_NODELAY, 1},
        {"send buffer reads back as set", s, WS_SOL_SOCKET, WS_SO_SNDBUF, 32768},
        {"receive buffer reads back as set", s, WS_SOL_SOCKET, WS_SO_RCVBUF, 65536},
        {"broadcast", udp, WS_SOL_SOCKET, WS_SO_BROADCAST, 1},
        {"receive time-out in ms", s, WS_SOL_SOCKET, WS_SO_RCVTIMEO, 1500},
        {"reuse address", s, WS_SOL_SOCKET, WS_SO_REUSEADDR, 1},
        {"out-of-band inline", s, WS_SOL_SOCKET, WS_SO_OOBINLINE, 1},
    };
    for (const Case& c : round_trips) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(set_int(c.socket, c.level, c.name, c.value), 0);
        EXPECT_EQ(get_int(c.socket, c.level, c.name), c.value);
    }

    // TCP_NODELAY into a 1-byte BOOL, as Windows callers may pass it.
    char one = 0x55;
    int len = 1;
    ASSERT_EQ(getsockopt(s, WS_IPPROTO_TCP, WS_TCP_NODELAY, &one, &len), 0);
    EXPECT_EQ(one, 1);
    EXPECT_EQ(len, 1);

    // SO_LINGER is the 4-byte LINGER record; SO_DONTLINGER is its negation.
    const LINGER on30{1, 30};
    ASSERT_EQ(setsockopt(s, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<const char*>(&on30), 4), 0);
    uint32_t packed = 0;
    len = 4;
    ASSERT_EQ(getsockopt(s, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<char*>(&packed), &len), 0);
    EXPECT_EQ(packed & 0xFFFF, 1u);
    EXPECT_EQ(packed >> 16, 30u);
    EXPECT_EQ(get_int(s, WS_SOL_SOCKET, WS_SO_DONTLINGER), 0);
    EXPECT_EQ(set_int(s, WS_SOL_SOCKET, WS_SO_DONTLINGER, 1), 0);
    len = 4;
    ASSERT_EQ(getsockopt(s, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<char*>(&packed), &len), 0);
    EXPECT_EQ(packed & 0xFFFF, 0u) << "don't-linger switches lingering off";
    EXPECT_EQ(get_int(s, WS_SOL_SOCKET, WS_SO_DONTLINGER), 1);
    len = 2;
    EXPECT_EQ(getsockopt(s, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<char*>(&packed), &len), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

TEST_F(Sockets, IoctlReportsQueuedBytesAndUrgentDataInWindowsSense) {
    SOCKET c = 0, s = 0;
    connected_pair(c, s);
    uint32_t at_mark = 7;
    ASSERT_EQ(ioctlsocket(s, WS_SIOCATMARK, &at_mark), 0);
    EXPECT_EQ(at_mark, 1u) << "no urgent data waiting reads TRUE on Windows";
    ASSERT_EQ(send(c, "abc", 3, 0), 3);
    ASSERT_EQ(send(c, "!", 1, WS_MSG_OOB), 1);
    uint32_t queued = 0;
    ASSERT_TRUE(pump_until([&] {
        ioctlsocket(s, WS_SIOCATMARK, &at_mark);
        return at_mark == 0;
    }));
    ASSERT_EQ(ioctlsocket(s, WS_FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 3u) << "the urgent byte is not part of the normal data";
    char urgent = 0;
    EXPECT_EQ(recv(s, &urgent, 1, WS_MSG_OOB), 1);
    EXPECT_EQ(urgent, '!');
    EXPECT_EQ(recv(s, &urgent, 1, WS_MSG_OOB), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK) << "no urgent data left";
}

TEST_F(Sockets, InetAddrParsesLikeWindows) {
    struct Case {
        const char* text;
        uint32_t bytes;   // the address bytes in memory order, written as a.b.c.d -> 0xddccbbaa
    };
    auto addr = [](unsigned a, unsigned b, unsigned c, unsigned d) { return a | b << 8 | c << 16 | d << 24; };
    const Case cases[] = {
        {"1.2.3.4", addr(1, 2, 3, 4)},       {"3.4.5.6 ", addr(3, 4, 5, 6)},   {"1.2.3 .4", addr(1, 2, 0, 3)},
        {" 3.4.5.6", WS_INADDR_NONE},        {"", WS_INADDR_NONE},             {" ", 0},
        {"1.2.3.256", WS_INADDR_NONE},       {"1.2.3.4.5", WS_INADDR_NONE},    {"127.0.0.1:80", WS_INADDR_NONE},
        {"1", addr(0, 0, 0, 1)},             {"1.2", addr(1, 0, 0, 2)},        {"0x2134", addr(0, 0, 0x21, 0x34)},
        {"0777", addr(0, 0, 1, 255)},        {"255.255.255.255", WS_INADDR_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(inet_addr(c.text), c.bytes);
    }
}

}  // namespace wsock
