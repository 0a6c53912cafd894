// WsockTestKit.h: a fixture for the socket layer's tests: start-up per test, a window that records
// notifications, loopback helpers and pump_until.
#pragma once

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/msgloop/MessageLoop.h"
#include "platform/wsock/WinSock.h"

namespace wsock_test {

using namespace std::chrono_literals;

struct Note {
    uint32_t msg;
    wsock::SOCKET socket;
    int32_t event;
    int32_t error;
    bool operator==(const Note&) const = default;
};

inline std::string describe(const std::vector<Note>& notes) {
    std::string text;
    for (const Note& n : notes)
        text += "[msg " + std::to_string(n.msg) + " s " + std::to_string(n.socket) + " ev " + std::to_string(n.event) +
                " err " + std::to_string(n.error) + "] ";
    return text;
}

inline bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        msgloop::run_once(10ms);
    }
    return true;
}

inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline const sockaddr* as_sa(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }

class WsockTest : public ::testing::Test {
protected:
    static constexpr uint32_t kMsg = wsock::kSocketNotifyMessage;
    static constexpr int32_t kAll = wsock::FD_READ | wsock::FD_WRITE | wsock::FD_ACCEPT | wsock::FD_CONNECT |
                                    wsock::FD_CLOSE;

    void SetUp() override {
        ASSERT_EQ(wsock::WSAStartup(0x0101, &data_), 0);
        hwnd_ = msgloop::MessageLoop::current().create_window(
            [this](msgloop::Hwnd, uint32_t msg, uint32_t wparam, int32_t lparam) {
                notes_.push_back({msg, wparam, wsock::WSAGETSELECTEVENT(lparam), wsock::WSAGETSELECTERROR(lparam)});
                return 0;
            });
    }
    void TearDown() override {
        msgloop::MessageLoop::current().destroy_window(hwnd_);
        wsock::WSACleanup();
        while (msgloop::MessageLoop::current().pending() > 0) msgloop::run_once(0ms);
    }

    // A socket of `type`, failing the test if it cannot be made.
    wsock::SOCKET make(int type = wsock::WS_SOCK_STREAM) {
        const wsock::SOCKET s = wsock::socket(wsock::WS_AF_INET, type, 0);
        EXPECT_NE(s, wsock::INVALID_SOCKET) << wsock::WSAGetLastError();
        return s;
    }

    // A stream socket listening on 127.0.0.1 with an ephemeral port; `events` 0 leaves it blocking.
    wsock::SOCKET listener(uint16_t& port, int32_t events = kAll) {
        const wsock::SOCKET s = make();
        const sockaddr_in any = loopback(0);
        EXPECT_EQ(wsock::bind(s, as_sa(any), sizeof any), 0) << wsock::WSAGetLastError();
        EXPECT_EQ(wsock::listen(s, 5), 0) << wsock::WSAGetLastError();
        if (events) {
            EXPECT_EQ(wsock::WSAAsyncSelect(s, hwnd_, kMsg, events), 0);
        }
        port = local_port(s);
        return s;
    }

    uint16_t local_port(wsock::SOCKET s) {
        sockaddr_in a{};
        int len = sizeof a;
        EXPECT_EQ(wsock::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0) << wsock::WSAGetLastError();
        return ntohs(a.sin_port);
    }

    // An async-selected client connecting to `port`; the connect itself reports WSAEWOULDBLOCK.
    wsock::SOCKET async_client(uint16_t port, int32_t events = kAll) {
        const wsock::SOCKET c = make();
        EXPECT_EQ(wsock::WSAAsyncSelect(c, hwnd_, kMsg, events), 0);
        const sockaddr_in to = loopback(port);
        EXPECT_EQ(wsock::connect(c, as_sa(to), sizeof to), wsock::SOCKET_ERROR);
        EXPECT_EQ(wsock::WSAGetLastError(), wsock::WSAEWOULDBLOCK);
        return c;
    }

    // A connected pair: `client` async-selected, `server` accepted (inherits the listener's selection).
    void connected_pair(wsock::SOCKET& client, wsock::SOCKET& server, int32_t events = kAll) {
        uint16_t port = 0;
        const wsock::SOCKET l = listener(port, events | wsock::FD_ACCEPT);
        client = async_client(port, events);
        ASSERT_TRUE(pump_until([&] { return count(l, wsock::FD_ACCEPT) == 1; }));
        server = wsock::accept(l, nullptr, nullptr);
        ASSERT_NE(server, wsock::INVALID_SOCKET) << wsock::WSAGetLastError();
        wsock::closesocket(l);
        ASSERT_TRUE(pump_until([&] { return count(client, wsock::FD_CONNECT) == 1; }));
        settle();
        notes_.clear();
    }

    // Runs a few passes so that anything due is posted and delivered.
    void settle() {
        for (int i = 0; i < 5; ++i) msgloop::run_once(1ms);
    }

    int count(wsock::SOCKET s, int32_t event) const {
        int n = 0;
        for (const Note& note : notes_)
            if (note.socket == s && note.event == event) ++n;
        return n;
    }
    std::vector<Note> notes_for(wsock::SOCKET s) const {
        std::vector<Note> out;
        for (const Note& note : notes_)
            if (note.socket == s) out.push_back(note);
        return out;
    }

    wsock::WSADATA data_{};
    msgloop::Hwnd hwnd_ = 0;
    std::vector<Note> notes_;
};

}  // namespace wsock_test
