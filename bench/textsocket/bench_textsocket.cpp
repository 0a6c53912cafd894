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
#include <sys/socket.h>
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

#include "bench/support/EpollEchoServer.h"
#include "bench/support/RatioReporter.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/msgloop/UniqueFd.h"
#include "socketcontrol/Quellox.h"
#include "socketcontrol/TextSocket.h"

namespace {

using bench::EpollEchoServer;
using bench::loopback;
using bench::thread_cpu_seconds;

constexpr char kEtx = '\x03';
const std::string kRequest = std::string("GET cust 000042 name balance due") + kEtx;  // 32 characters + ETX
constexpr size_t kTripsPerIteration = 2048;

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
