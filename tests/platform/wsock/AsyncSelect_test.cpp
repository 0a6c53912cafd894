// AsyncSelect_test.cpp: the notification messages of WSAAsyncSelect over real loopback sockets: their
// order, their error words and the re-enabling rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/platform/wsock/WsockTestKit.h"

// The tests live in namespace wsock so that unqualified calls name the Windows functions, not the
// POSIX ones of the same names.
namespace wsock {
using namespace wsock_test;

namespace {
class AsyncSelect : public WsockTest {};
}  // namespace

TEST_F(AsyncSelect, ConnectPostsConnectThenWriteAndAcceptedSocketInheritsTheSelection) {
    uint16_t port = 0;
    const SOCKET l = listener(port);
    const SOCKET c = async_client(port);
    ASSERT_TRUE(pump_until([&] { return count(c, FD_WRITE) == 1 && count(l, FD_ACCEPT) == 1; }));
    EXPECT_EQ(notes_for(c), (std::vector<Note>{{kMsg, c, FD_CONNECT, 0}, {kMsg, c, FD_WRITE, 0}}));

    sockaddr_in peer{};
    int peer_len = sizeof peer;
    const SOCKET a = accept(l, reinterpret_cast<sockaddr*>(&peer), &peer_len);
    ASSERT_NE(a, INVALID_SOCKET) << WSAGetLastError();
    EXPECT_NE(a, 0u);
    EXPECT_EQ(ntohs(peer.sin_port), local_port(c)) << "peer port must be in network order as on Windows";
    ASSERT_TRUE(pump_until([&] { return count(a, FD_WRITE) == 1; }));
    EXPECT_EQ(notes_for(a), (std::vector<Note>{{kMsg, a, FD_WRITE, 0}}));

    // The accepted socket inherited non-blocking mode with the selection.
    char byte;
    EXPECT_EQ(recv(a, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(AsyncSelect, AcceptIsPostedOncePerPendingConnection) {
    uint16_t port = 0;
    const SOCKET l = listener(port);
    const SOCKET c1 = async_client(port), c2 = async_client(port);
    ASSERT_TRUE(pump_until([&] { return count(c1, FD_CONNECT) + count(c2, FD_CONNECT) == 2; }));
    settle();
    EXPECT_EQ(count(l, FD_ACCEPT), 1) << "two waiting connections, one FD_ACCEPT until accept";
    ASSERT_NE(accept(l, nullptr, nullptr), INVALID_SOCKET);
    ASSERT_TRUE(pump_until([&] { return count(l, FD_ACCEPT) == 2; }));
    ASSERT_NE(accept(l, nullptr, nullptr), INVALID_SOCKET);
    settle();
    EXPECT_EQ(count(l, FD_ACCEPT), 2) << "no connection left, no FD_ACCEPT";
    EXPECT_EQ(accept(l, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(AsyncSelect, RefusedConnectPostsConnectWithTheErrorAndNothingElse) {
    const SOCKET probe = make();
    const sockaddr_in any = loopback(0);
    ASSERT_EQ(bind(probe, as_sa(any), sizeof any), 0);
    const uint16_t free_port = local_port(probe);
    closesocket(probe);   // bound, never listening: connecting to it is refused

    const SOCKET c = async_client(free_port);
    ASSERT_TRUE(pump_until([&] { return count(c, FD_CONNECT) == 1; }));
    settle();
    EXPECT_EQ(notes_for(c), (std::vector<Note>{{kMsg, c, FD_CONNECT, WSAECONNREFUSED}}));
}

TEST_F(AsyncSelect, ReadIsPostedOncePerRecvWhileDataRemains) {
    SOCKET c = 0, s = 0;
    connected_pair(c, s);
    char buf[64];
    struct Step {
        const char* what;
        std::function<void()> act;
        int reads_after;   // FD_READs for s in total
    };
    const Step steps[] = {
        {"10 bytes arrive", [&] { ASSERT_EQ(send(c, "0123456789", 10, 0), 10); }, 1},
        {"more data while FD_READ is outstanding", [&] { ASSERT_EQ(send(c, "abcdefghij", 10, 0), 10); }, 1},
        {"FIONREAD is not a re-enabling call",
         [&] {
             uint32_t n = 0;
             ASSERT_EQ(ioctlsocket(s, WS_FIONREAD, &n), 0);
             EXPECT_EQ(n, 20u);
         },
         1},
        {"recv of 2 with 18 left", [&] { ASSERT_EQ(recv(s, buf, 2, 0), 2); }, 2},
        {"peek re-posts, the data stays", [&] { ASSERT_EQ(recv(s, buf, 4, WS_MSG_PEEK), 4); }, 3},
        {"recv of the rest", [&] { ASSERT_EQ(recv(s, buf, sizeof buf, 0), 18); }, 3},
        {"recv with nothing queued",
         [&] {
             EXPECT_EQ(recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
             EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
         },
         3},
        {"data after the drain", [&] { ASSERT_EQ(send(c, "z", 1, 0), 1); }, 4},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        pump_until([&] { return count(s, FD_READ) >= step.reads_after; }, 2s);
        settle();
        EXPECT_EQ(count(s, FD_READ), step.reads_after) << describe(notes_for(s));
    }
    EXPECT_EQ(count(c, FD_READ), 0);
    EXPECT_EQ(count(s, FD_WRITE), 0) << "successful sends post no FD_WRITE";
}

TEST_F(AsyncSelect, WouldBlockSendIsFollowedByExactlyOneWrite) {
    SOCKET c = 0, s = 0;
    connected_pair(c, s);
    const int small = 4096;
    ASSERT_EQ(setsockopt(c, WS_SOL_SOCKET, WS_SO_SNDBUF, reinterpret_cast<const char*>(&small), 4), 0);
    ASSERT_EQ(setsockopt(s, WS_SOL_SOCKET, WS_SO_RCVBUF, reinterpret_cast<const char*>(&small), 4), 0);
    const std::string block(65536, 'x');
    long sent = 0;
    int result;
    while ((result = send(c, block.data(), static_cast<int>(block.size()), 0)) > 0) sent += result;
    ASSERT_EQ(result, SOCKET_ERROR);
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    settle();
    EXPECT_EQ(count(c, FD_WRITE), 0) << "no room yet";

    std::string buf(1 << 16, '\0');
    long received = 0;
    ASSERT_TRUE(pump_until([&] {
        const int n = recv(s, buf.data(), static_cast<int>(buf.size()), 0);
        if (n > 0) received += n;
        return received == sent && count(c, FD_WRITE) >= 1;
    }));
    settle();
    EXPECT_EQ(count(c, FD_WRITE), 1);
    ASSERT_GT(send(c, "more", 4, 0), 0);
    settle();
    EXPECT_EQ(count(c, FD_WRITE), 1) << "a successful send does not arm FD_WRITE";
}

TEST_F(AsyncSelect, PeerCloseIsPostedOnceAfterTheDataAndTheDataStaysReadable) {
    SOCKET c = 0, s = 0;
    connected_pair(c, s);
    ASSERT_EQ(send(c, "last words", 10, 0), 10);
    ASSERT_EQ(closesocket(c), 0);
    ASSERT_TRUE(pump_until([&] { return count(s, FD_CLOSE) == 1; }));
    settle();
    EXPECT_EQ(notes_for(s), (std::vector<Note>{{kMsg, s, FD_READ, 0}, {kMsg, s, FD_CLOSE, 0}}));
    char buf[4];
    std::string got;
    for (int n; (n = recv(s, buf, sizeof buf, 0)) > 0;) got.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(got, "last words");
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), 0) << "end of data after the close";
    settle();
    EXPECT_EQ(count(s, FD_CLOSE), 1);
    // Each partial recv after FD_CLOSE re-posted FD_READ while data remained; none after the drain.
    EXPECT_EQ(count(s, FD_READ), 3) << describe(notes_for(s));
}

TEST_F(AsyncSelect, ResetIsPostedAsCloseWithAnErrorThatRecvKeepsReporting) {
    SOCKET c = 0, s = 0;
    connected_pair(c, s);
    const LINGER abortive{1, 0};
    ASSERT_EQ(setsockopt(c, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<const char*>(&abortive), 4), 0);
    ASSERT_EQ(closesocket(c), 0);
    ASSERT_TRUE(pump_until([&] { return count(s, FD_CLOSE) == 1; }));
    settle();
    ASSERT_EQ(notes_for(s).size(), 1u) << describe(notes_for(s));
    EXPECT_EQ(notes_for(s)[0].error, WSAECONNRESET);
    char buf[8];
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    }
    // Sending to the reset connection fails instead of killing the process with SIGPIPE.
    EXPECT_EQ(send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(AsyncSelect, SelectingAgainReplacesAndReevaluates) {
    SOCKET c = 0, s = 0;
    connected_pair(c, s);
    ASSERT_EQ(send(c, "abc", 3, 0), 3);
    ASSERT_TRUE(pump_until([&] { return count(s, FD_READ) == 1; }));

    struct Case {
        const char* what;
        int32_t events;
        uint32_t msg;
        std::vector<int32_t> posted;   // events of s, in order, after the call
    };
    const Case cases[] = {
        {"same selection again re-posts what holds", kAll, kMsg, {FD_READ, FD_WRITE}},
        {"new message number, read only", FD_READ, 0x777, {FD_READ}},
        {"mask 0 stops posting", 0, kMsg, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        notes_.clear();
        ASSERT_EQ(WSAAsyncSelect(s, hwnd_, k.msg, k.events), 0);
        pump_until([&] { return notes_for(s).size() >= k.posted.size(); }, 2s);
        settle();
        std::vector<int32_t> events;
        for (const Note& n : notes_for(s)) {
            events.push_back(n.event);
            EXPECT_EQ(n.msg, k.msg);
        }
        std::sort(events.begin(), events.end());
        EXPECT_EQ(events, k.posted);
    }
    // Blocking mode needs the selection gone first.
    uint32_t blocking = 0;
    ASSERT_EQ(WSAAsyncSelect(s, hwnd_, kMsg, FD_READ), 0);
    EXPECT_EQ(ioctlsocket(s, WS_FIONBIO, &blocking), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    ASSERT_EQ(WSAAsyncSelect(s, hwnd_, 0, 0), 0);
    EXPECT_EQ(ioctlsocket(s, WS_FIONBIO, &blocking), 0);
    char buf[8];
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), 3) << "blocking again, with the data still there";
}

TEST_F(AsyncSelect, ClosedSocketPostsNothingMoreAndItsHandleIsNeverReused) {
    SOCKET c = 0, s = 0;
    connected_pair(c, s);
    ASSERT_EQ(send(c, "x", 1, 0), 1);
    ASSERT_TRUE(pump_until([&] { return count(s, FD_READ) == 1; }));
    char byte;
    ASSERT_EQ(recv(s, &byte, 1, 0), 1);   // re-enables FD_READ
    ASSERT_EQ(closesocket(s), 0);
    send(c, "y", 1, 0);   // arrives at a closed socket (and is answered with a reset)
    ASSERT_EQ(closesocket(c), 0);
    settle();
    EXPECT_EQ(notes_for(s).size(), 1u);
    std::vector<SOCKET> fresh;
    for (int i = 0; i < 4; ++i) fresh.push_back(make());
    for (SOCKET f : fresh) {
        EXPECT_NE(f, s);
        EXPECT_NE(f, c);
    }
    char buf[2];
    EXPECT_EQ(recv(s, buf, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(AsyncSelect, ListenerTakesABurstOfConnectionsBeforeAnyAccept) {
    // The socket control listens with a backlog of 5, Windows 1.1's SOMAXCONN; a literal 5 on Linux would
    // leave most of this burst unanswered.
    uint16_t port = 0;
    const SOCKET l = listener(port, FD_ACCEPT);
    std::vector<SOCKET> clients;
    for (int i = 0; i < 32; ++i) clients.push_back(async_client(port, FD_CONNECT));
    EXPECT_TRUE(pump_until([&] {
        int connected = 0;
        for (SOCKET c : clients) connected += count(c, FD_CONNECT);
        return connected == 32;
    }));
    for (SOCKET c : clients)
        for (const Note& n : notes_for(c)) EXPECT_EQ(n.error, 0);
    closesocket(l);
}

TEST_F(AsyncSelect, DatagramSocketPostsWriteAtSelectAndReadPerDatagram) {
    const SOCKET a = make(WS_SOCK_DGRAM), b = make(WS_SOCK_DGRAM);
    const sockaddr_in any = loopback(0);
    ASSERT_EQ(bind(b, as_sa(any), sizeof any), 0);
    ASSERT_EQ(WSAAsyncSelect(b, hwnd_, kMsg, FD_READ | FD_WRITE), 0);
    ASSERT_TRUE(pump_until([&] { return count(b, FD_WRITE) == 1; }));
    const sockaddr_in to = loopback(local_port(b));
    ASSERT_EQ(sendto(a, "first datagram", 14, 0, as_sa(to), sizeof to), 14);
    ASSERT_EQ(sendto(a, "second", 6, 0, as_sa(to), sizeof to), 6);
    ASSERT_TRUE(pump_until([&] { return count(b, FD_READ) == 1; }));
    char small[5];
    sockaddr_in from{};
    int from_len = sizeof from;
    EXPECT_EQ(recvfrom(b, small, sizeof small, 0, reinterpret_cast<sockaddr*>(&from), &from_len), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE) << "a truncated datagram fails on Windows";
    EXPECT_EQ(std::string(small, 5), "first");
    EXPECT_EQ(ntohs(from.sin_port), local_port(a));
    ASSERT_TRUE(pump_until([&] { return count(b, FD_READ) == 2; })) << "the second datagram is still queued";
    char buf[32];
    EXPECT_EQ(recvfrom(b, buf, sizeof buf, 0, nullptr, nullptr), 6);
    settle();
    EXPECT_EQ(count(b, FD_READ), 2);
}

}  // namespace wsock
