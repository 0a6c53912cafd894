// bench_textsocket.cpp: round trips per second through a line-echo server built on the control and its
// text sockets (terminator ETX, one thread), against a plain epoll echo server written here, with the
// same clients in the same run.
//
// The clients are driven by the benchmark's own thread: N non-blocking connections, each with one small
// request outstanding at a time (send, wait for the echo, send the next), multiplexed with epoll. So the
// machine runs two busy threads, the server's and the driver's, for both servers alike.
//
// BM_Echo/N: the control's server; BM_EchoBaseline/N: the epoll server; N = concurrent clients.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/msgloop/UniqueFd.h"
#include "socketcontrol/Quellox.h"
#include "socketcontrol/TextSocket.h"

namespace {

constexpr char kEtx = '\x03';
const std::string kRequest = std::string("GET cust 000042 name balance due") + kEtx;  // 32 characters + ETX
constexpr size_t kTripsPerIteration = 2048;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// CPU time used so far by `thread`: with the clients on the benchmark's own thread, this tells how much of
// each round trip the server itself costs.
double thread_cpu_seconds(std::thread& thread) {
    clockid_t clock;
    timespec ts{};
    if (::pthread_getcpuclockid(thread.native_handle(), &clock) != 0 || ::clock_gettime(clock, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// ---- the control's server: a listening text socket, every connection echoes its lines ----

class TextSocketEchoServer {
public:
    TextSocketEchoServer() {
        std::promise<uint16_t> port;
        auto ready = port.get_future();
        thread_ = std::thread([this, &port] { run(port); });
        port_ = ready.get();
    }
    ~TextSocketEchoServer() {
        poster_->post_task([] { msgloop::MessageLoop::current().stop(); });
        thread_.join();
    }
    uint16_t port() const { return port_; }
    double cpu_seconds() { return thread_cpu_seconds(thread_); }

private:
    // One connection: what arrives as a line goes back as a line (SendLine appends the ETX).
    struct Connection : TextSocketEvents {
        std::weak_ptr<TextSocket> socket;
        void LineArrived(const std::string& Data) override {
            if (auto s = socket.lock()) s->SendLine(Data);
        }
    };
    struct Listener : TextSocketEvents {
        std::vector<std::shared_ptr<TextSocket>> sockets;
        std::vector<std::shared_ptr<Connection>> connections;
        void NewConnection(std::shared_ptr<TextSocket>& NewSocket) override {
            NewSocket->LineTerminator(std::string(1, kEtx));
            auto connection = std::make_shared<Connection>();
            connection->socket = NewSocket;
            NewSocket->bind_events(connection);
            sockets.push_back(NewSocket);
            connections.push_back(std::move(connection));
        }
    };

    void run(std::promise<uint16_t>& port) {
        Quellox control;
        auto events = std::make_shared<Listener>();
        auto listener = control.CreateTextSocket();
        listener->bind_events(events);
        listener->LocalIpAddress("127.0.0.1");
        listener->Listen();
        poster_ = std::make_unique<msgloop::ThreadPoster>(msgloop::MessageLoop::current().poster());
        port.set_value(static_cast<uint16_t>(listener->LocalPort()));
        msgloop::MessageLoop::current().run();
        events->sockets.clear();
    }

    std::thread thread_;
    std::unique_ptr<msgloop::ThreadPoster> poster_;
    uint16_t port_ = 0;
};

// ---- the baseline: a plain level-triggered epoll echo server ----

class EpollEchoServer {
public:
    EpollEchoServer() {
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
                    for (int c; (c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
                        conns[c].fd = UniqueFd(c);
                        add(ep.get(), c, EPOLLIN);
                    }
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

    UniqueFd listen_fd_;
    UniqueFd stop_fd_;
    uint16_t port_ = 0;
    std::thread thread_;
};

// ---- the clients ----

class Clients {
public:
    // Connects `count` clients; false (with `why`) when the server does not answer correctly.
    bool open(uint16_t port, size_t count, std::string& why) {
        ep_ = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
        for (size_t i = 0; i < count; ++i) {
            UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const sockaddr_in a = loopback(port);
            if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
                why = std::string("connect: ") + std::strerror(errno);
                return false;
            }
            const int one = 1;
            ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            clients_.push_back({std::move(fd), 0});
        }
        // One checked round trip per client, blocking, before the load starts.
        for (Client& c : clients_) {
            std::string reply(kRequest.size(), '\0');
            if (::send(c.fd.get(), kRequest.data(), kRequest.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(kRequest.size()) ||
                ::recv(c.fd.get(), reply.data(), reply.size(), MSG_WAITALL) != static_cast<ssize_t>(reply.size()) ||
                reply != kRequest) {
                why = "the server's echo differs from the request";
                return false;
            }
        }
        for (size_t i = 0; i < clients_.size(); ++i) {
            const int fd = clients_[i].fd.get();
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = i;
            ::epoll_ctl(ep_.get(), EPOLL_CTL_ADD, fd, &ev);
            send_request(clients_[i]);
        }
        return true;
    }

    // Runs until `trips` more round trips have completed; false when the server stopped answering.
    bool run(size_t trips) {
        epoll_event events[512];
        char buf[4096];
        size_t done = 0;
        while (done < trips) {
            const int n = ::epoll_wait(ep_.get(), events, 512, 5000);
            if (n <= 0) return false;
            for (int i = 0; i < n; ++i) {
                Client& c = clients_[events[i].data.u64];
                const ssize_t got = ::recv(c.fd.get(), buf, sizeof buf, 0);
                if (got <= 0) {
                    if (got < 0 && errno == EAGAIN) continue;
                    return false;
                }
                c.received += static_cast<size_t>(got);
                if (c.received < kRequest.size()) continue;  // the rest of the echo is still on its way
                c.received -= kRequest.size();
                ++done;
                send_request(c);
            }
        }
        return true;
    }

private:
    struct Client {
        UniqueFd fd;
        size_t received;  // bytes of the current echo so far
    };
    static void send_request(Client& c) { ::send(c.fd.get(), kRequest.data(), kRequest.size(), MSG_NOSIGNAL); }

    UniqueFd ep_;
    std::vector<Client> clients_;
};

template <class Server>
void run_echo(benchmark::State& state) {
    Server server;
    Clients clients;
    std::string why;
    if (!clients.open(server.port(), static_cast<size_t>(state.range(0)), why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    const double cpu_before = server.cpu_seconds();
    for (auto _ : state) {
        if (!clients.run(kTripsPerIteration)) {
            state.SkipWithError("the server stopped answering");
            break;
        }
    }
    const double trips = static_cast<double>(state.iterations() * kTripsPerIteration);
    state.SetItemsProcessed(static_cast<int64_t>(trips));
    state.counters["server_cpu_us_per_trip"] = (server.cpu_seconds() - cpu_before) * 1e6 / trips;
}

void BM_Echo(benchmark::State& state) { run_echo<TextSocketEchoServer>(state); }
void BM_EchoBaseline(benchmark::State& state) { run_echo<EpollEchoServer>(state); }

// Each pair is registered side by side, so both members of a pair meet the same machine load.
int register_benchmarks() {
    for (const int clients : {1, 16, 256}) {
        for (auto [name, fn] : {std::pair{"BM_Echo", &BM_Echo}, std::pair{"BM_EchoBaseline", &BM_EchoBaseline}})
            benchmark::RegisterBenchmark(name, fn)
                ->Arg(clients)
                ->UseRealTime()
                ->MinTime(0.5)
                ->Repetitions(9)
                ->ReportAggregatesOnly(true);
    }
    return 0;
}
[[maybe_unused]] const int registered = register_benchmarks();

}  // namespace

RATIO_BENCHMARK_MAIN()
