// EpollEchoServer.h: the baseline the socket benchmarks compare with: a plain level-triggered epoll echo
// server on 127.0.0.1, on a thread of its own, that returns every byte as it came. It is what a round trip
// costs with no protocol work at all; an echo the peer cannot take at once waits for EPOLLOUT, so large
// messages are echoed whole too.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/msgloop/UniqueFd.h"

namespace bench {

// CPU seconds `thread` has used so far (user and system), from its own clock: on a shared machine this
// is steadier than wall-clock rates, since time spent waiting for a core is not counted.
inline double thread_cpu_seconds(std::thread& thread) {
    clockid_t clock;
    timespec ts{};
    if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0 || clock_gettime(clock, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

class EpollEchoServer {
public:
    // Nagle's algorithm on accepted connections: kept as the kernel sets it, or switched off to match a
    // server under test that switches it off.
    enum class Nagle { kept, off };

    explicit EpollEchoServer(Nagle nagle = Nagle::kept) : nagle_(nagle) {
        listen_fd_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        sockaddr_in a = loopback(0);
        ::bind(listen_fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_fd_.get(), SOMAXCONN);
        socklen_t len = sizeof a;
        ::getsockname(listen_fd_.get(), reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        stop_fd_ = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        thread_ = std::thread([this] { run(); });
    }
    ~EpollEchoServer() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stop_fd_.get(), &one, sizeof one);
        thread_.join();
    }
    EpollEchoServer(const EpollEchoServer&) = delete;
    EpollEchoServer& operator=(const EpollEchoServer&) = delete;

    uint16_t port() const { return port_; }
    double cpu_seconds() { return thread_cpu_seconds(thread_); }

private:
    struct Conn {
        UniqueFd fd;
        std::string pending;       // echo the peer could not take yet
        bool waiting_out = false;  // registered for EPOLLOUT until pending has gone
    };

    void run() {
        UniqueFd ep(::epoll_create1(EPOLL_CLOEXEC));
        add(ep.get(), listen_fd_.get(), EPOLLIN);
        add(ep.get(), stop_fd_.get(), EPOLLIN);
        std::unordered_map<int, Conn> conns;
        epoll_event events[256];
        char buf[65536];
        for (;;) {
            const int n = ::epoll_wait(ep.get(), events, 256, -1);
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == stop_fd_.get()) return;
                if (fd == listen_fd_.get()) {
                    accept_all(ep.get(), conns);
                    continue;
                }
                Conn& conn = conns[fd];
                if (events[i].events & EPOLLOUT) {
                    send_pending(ep.get(), conn);
                    continue;
                }
                const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
                if (got == 0 || (got < 0 && errno != EAGAIN)) {
                    conns.erase(fd);
                    continue;
                }
                if (got > 0) {
                    conn.pending.append(buf, static_cast<size_t>(got));
                    send_pending(ep.get(), conn);
                }
            }
        }
    }
    void accept_all(int ep, std::unordered_map<int, Conn>& conns) {
        for (int c; (c = ::accept4(listen_fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            if (nagle_ == Nagle::off) {
                const int one = 1;
                ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            }
            conns[c].fd = UniqueFd(c);
            add(ep, c, EPOLLIN);
        }
    }
    static void add(int ep, int fd, uint32_t what) {
        epoll_event ev{};
        ev.events = what;
        ev.data.fd = fd;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    }
    static void send_pending(int ep, Conn& conn) {
        while (!conn.pending.empty()) {
            const ssize_t n = ::send(conn.fd.get(), conn.pending.data(), conn.pending.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            conn.pending.erase(0, static_cast<size_t>(n));
        }
        const bool wait_out = !conn.pending.empty();
        if (wait_out == conn.waiting_out) return;
        conn.waiting_out = wait_out;
        epoll_event ev{};
        ev.events = wait_out ? EPOLLOUT : EPOLLIN;
        ev.data.fd = conn.fd.get();
        ::epoll_ctl(ep, EPOLL_CTL_MOD, conn.fd.get(), &ev);
    }

    Nagle nagle_;
    UniqueFd listen_fd_;
    UniqueFd stop_fd_;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace bench
