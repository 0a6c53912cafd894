// bench_gateway.cpp: end-to-end load on the gateway: N concurrent connections (1, 16, 256), each with a
// cursor open on a 10,000-row SQLite table, repeating "move next" and "getcursor" (acknowledgement on, so
// "ok" then the value), one request outstanding per connection. Beside it, in the same run, the same
// clients against a plain epoll echo server that returns each request as it came (the same message sizes):
// the cost of a bare loopback round trip. Prints requests/s, p50/p99 latency and the server thread's CPU
// time per request of both, and the ratios.
//
// Then the figure a user would compare with: the same steps (move next + getcursor, i.e. the next row's
// name) straight against PostgreSQL through libpq, one SELECT by key per step, when TEST_PG_CONNINFO
// names a server (make bench starts a throwaway one through scripts/with-postgres.sh).
//
// The clients are this program's own code over the protocol (the wire codec), not the client library.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/gateway/LoadStats.h"
#include "bench/gateway/PgLoad.h"
#include "bench/support/EpollEchoServer.h"
#include "common/WireCodec.h"
#include "gateway/SSServer.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/msgloop/UniqueFd.h"
#include "socketcontrol/Quellox.h"

namespace {

using bench::Clock;
using bench::Result;
const std::string kStx(1, wire::kSeparator);
const wire::Key kKey({4, -6, 9, -2, 7});
constexpr auto kOpenLimit = std::chrono::seconds(60);

// ---- the gateway, on a thread of its own, over a fresh 10,000-row table ----
class GatewayServer {
public:
    explicit GatewayServer(const std::string& folder) {
        std::promise<uint16_t> port;
        auto ready = port.get_future();
        thread_ = std::thread([this, folder, &port] { run(folder, port); });
        port_ = ready.get();
    }
    ~GatewayServer() {
        poster_->post_task([] { msgloop::MessageLoop::current().stop(); });
        thread_.join();
    }
    uint16_t port() const { return port_; }
    double cpu_seconds() { return bench::thread_cpu_seconds(thread_); }

private:
    void run(const std::string& folder, std::promise<uint16_t>& port) {
        Quellox control;
        GatewaySettings s;
        s.Provider = "SQLite";
        s.Connect = "Data Source=" + folder + "/bench.db";
        s.IP = "127.0.0.1";
        auto gateway = std::make_shared<Gateway>(s, 1000);
        auto server = std::make_shared<SSServer>(gateway);
        server->OpenServer(control.CreateTextSocket());
        const DispatchPtr channel = object_of(gateway->db_connect->call("Channel"));
        channel->call("Direct", {Variant("CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, value REAL)")});
        channel->call("Direct", {Variant("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
                                         "INSERT INTO items SELECT i, 'item ' || i, i * 0.25 FROM n")});
        poster_ = std::make_unique<msgloop::ThreadPoster>(msgloop::MessageLoop::current().poster());
        port.set_value(static_cast<uint16_t>(server->Server()->LocalPort()));
        msgloop::MessageLoop::current().run();
        gateway->end_workers();
        server.reset();
        msgloop::MessageLoop::current().run_once(std::chrono::milliseconds(0));
    }
    std::thread thread_;
    std::unique_ptr<msgloop::ThreadPoster> poster_;
    uint16_t port_ = 0;
};

// ---- the baseline: a plain level-triggered epoll echo server ----
// Nagle off, as the gateway sets it on the connections it accepts.
class EchoServer : public bench::EpollEchoServer {
public:
    EchoServer() : EpollEchoServer(Nagle::off) {}
};

// ---- the clients ----
struct Client {
    UniqueFd fd;
    wire::ReplyReader reader;
    std::string echo;        // baseline: bytes still expected back
    int step = 0;            // gateway: 0 move, 1 getcursor
    size_t replies_due = 0;
    bool opened = false;     // gateway: the cursor is open
    Clock::time_point sent;
    Clock::time_point step_sent;   // gateway: when the step's "move next" went
};

std::string request(const std::string& text) { return wire::frame_request(wire::scrambled(text, kKey)); }
const std::string kMove = request("move" + kStx + "next");
const std::string kFirst = request("move" + kStx + "first");
const std::string kGet = request("getcursor" + kStx + "name" + kStx + "s");

class Load {
public:
    Load(uint16_t port, size_t count, bool gateway) : gateway_(gateway), clients_(count) {
        ep_ = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        for (size_t i = 0; i < count; ++i) {
            Client& c = clients_[i];
            c.fd = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (::connect(c.fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
            const int one = 1;
            ::setsockopt(c.fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::fcntl(c.fd.get(), F_SETFL, ::fcntl(c.fd.get(), F_GETFL) | O_NONBLOCK);
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = i;
            ::epoll_ctl(ep_.get(), EPOLL_CTL_ADD, c.fd.get(), &ev);
            if (gateway_) {
                const std::string open = "open" + kStx + "SELECT id, name, value FROM items ORDER BY id" + kStx + "0" + kStx + "1";
                send(c, wire::frame_request(wire::scrambled(wire::make_header(true, kKey) + open, wire::initial_key())), 1);
                c.step = -1;
            } else {
                send(c, kMove, 0);
            }
        }
    }

    // Every cursor is opened before the clock starts: opening one reads the table, which is not the
    // round trip measured here. `server_cpu` reads the server thread's CPU seconds.
    Result measure(const std::function<double()>& server_cpu) {
        const auto open_deadline = Clock::now() + kOpenLimit;
        while (gateway_ && opened_ < clients_.size()) {
            if (Clock::now() > open_deadline) throw std::runtime_error("the cursors were not opened in time");
            run_once(100);
        }
        run_until(Clock::now() + bench::kWarmUp);
        requests_.clear();
        steps_.clear();
        const double cpu_start = server_cpu();
        const auto start = Clock::now();
        run_until(start + bench::kMeasure);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = server_cpu() - cpu_start;
        steps_result_ = steps_.summary(seconds);
        Result r = requests_.summary(seconds);
        if (r.valid()) r.server_cpu_us = cpu * 1e6 / (r.per_second * seconds);
        return r;
    }
    void close() { clients_.clear(); }
    // The gateway's steps (move next + getcursor) of the last measure(), for the PostgreSQL comparison.
    const Result& steps() const { return steps_result_; }

private:
    void send(Client& c, const std::string& bytes, size_t replies) {
        if (!gateway_) c.echo = bytes;
        c.replies_due = replies;
        c.sent = Clock::now();
        ::send(c.fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void record(Client& c) { requests_.add(c.sent); }
    // Baseline: the echo of one request is complete; send the other request size next.
    void next_echo(Client& c) {
        record(c);
        c.step ^= 1;
        send(c, c.step == 0 ? kMove : kGet, 0);
    }
    // Gateway steps: -1 opening or rewinding (one reply), 0 move next (one reply), 1 getcursor ("ok", value).
    // Past the last row "move next" or "getcursor" answers with an error entry alone: rewind, then go on.
    void on_reply(Client& c, const std::string& body) {
        if (c.step == -1) {
            if (!c.opened) ++opened_;
            c.opened = true;
        } else if (body != "ok" && c.replies_due == (c.step == 0 ? 1u : 2u)) {
            c.step = -1;
            send(c, kFirst, 1);
            return;
        }
        if (--c.replies_due > 0) return;
        if (c.step >= 0) record(c);
        if (c.step == 1) steps_.add(c.step_sent);
        c.step = c.step == 0 ? 1 : 0;
        send(c, c.step == 1 ? kGet : kMove, c.step == 1 ? 2 : 1);
        if (c.step == 0) c.step_sent = c.sent;
    }
    void on_readable(Client& c) {
        char buf[65536];
        const ssize_t got = ::recv(c.fd.get(), buf, sizeof buf, 0);
        if (got <= 0) throw std::runtime_error("the server closed a connection");
        if (!gateway_) {
            c.echo.erase(0, std::min(c.echo.size(), static_cast<size_t>(got)));
            if (c.echo.empty()) next_echo(c);
            return;
        }
        c.reader.feed(std::string_view(buf, static_cast<size_t>(got)));
        while (auto body = c.reader.next()) {
            wire::unscramble(*body, kKey);
            on_reply(c, *body);
        }
    }
    // Serves the replies that arrive within `timeout_ms`.
    void run_once(int timeout_ms) {
        epoll_event events[512];
        const int n = ::epoll_wait(ep_.get(), events, 512, timeout_ms);
        for (int i = 0; i < n; ++i) on_readable(clients_[events[i].data.u64]);
    }
    void run_until(Clock::time_point end) {
        while (Clock::now() < end) run_once(100);
    }

    bool gateway_;
    std::vector<Client> clients_;
    UniqueFd ep_;
    bench::Samples requests_;
    bench::Samples steps_;            // gateway: move next + getcursor
    Result steps_result_;
    size_t opened_ = 0;               // gateway: clients whose cursor is open
};


void print_against_echo(GatewayServer& gateway, EchoServer& echo, const std::vector<size_t>& counts,
                        std::vector<Result>& gateway_steps) {
    std::printf("%-8s %13s %8s %8s %7s   %13s %8s %8s %7s   %6s %6s %6s %6s\n", "clients", "gateway req/s", "p50 us",
                "p99 us", "cpu us", "echo req/s", "p50 us", "p99 us", "cpu us", "rate", "p50", "p99", "cpu");
    const auto gateway_cpu = [&] { return gateway.cpu_seconds(); };
    const auto echo_cpu = [&] { return echo.cpu_seconds(); };
    for (const size_t n : counts) {
        // Each load is measured alone: the server that served the previous one has finished closing it.
        const Result base = Load(echo.port(), n, false).measure(echo_cpu);
        bench::wait_until_idle(echo_cpu);
        Load gateway_load(gateway.port(), n, true);
        const Result ours = gateway_load.measure(gateway_cpu);
        gateway_steps.push_back(gateway_load.steps());
        gateway_load.close();
        bench::wait_until_idle(gateway_cpu);
        std::printf("%-8zu %13.0f %8.1f %8.1f %7.1f   %13.0f %8.1f %8.1f %7.1f   %6.2f %6.2f %6.2f %6.2f\n", n,
                    ours.per_second, ours.p50_us, ours.p99_us, ours.server_cpu_us, base.per_second, base.p50_us,
                    base.p99_us, base.server_cpu_us, ours.per_second / base.per_second, ours.p50_us / base.p50_us,
                    ours.p99_us / base.p99_us, ours.server_cpu_us / base.server_cpu_us);
    }
    std::printf("rate = gateway requests/s as a share of the echo's (higher is better); p50, p99 = gateway round\n"
                "trip / echo round trip; cpu = server thread CPU time per request, gateway / echo (lower is better)\n");
}

// One step is the next row's name: move next + getcursor through the gateway, one SELECT by key straight.
void print_against_postgres(const std::vector<size_t>& counts, const std::vector<Result>& gateway_steps) {
    const char* conninfo = std::getenv("TEST_PG_CONNINFO");
    std::printf("\nPostgreSQL through libpq, one SELECT by key per step (gateway step = move next + getcursor)\n");
    if (conninfo == nullptr || *conninfo == '\0') {
        std::printf("skipped: TEST_PG_CONNINFO is not set (make bench runs this under scripts/with-postgres.sh)\n");
        return;
    }
    try {
        const bench::PgTable table(conninfo);
        std::printf("%-8s %13s %8s %8s   %13s %8s %8s   %6s %6s\n", "clients", "pg steps/s", "p50 us", "p99 us",
                    "gateway st/s", "p50 us", "p99 us", "rate", "p50");
        for (size_t i = 0; i < counts.size(); ++i) {
            const size_t n = counts[i];
            const Result& ours = gateway_steps[i];
            try {
                const Result pg = bench::measure_postgres(table, n);
                std::printf("%-8zu %13.0f %8.1f %8.1f   %13.0f %8.1f %8.1f   %6.2f %6.2f\n", n, pg.per_second, pg.p50_us,
                            pg.p99_us, ours.per_second, ours.p50_us, ours.p99_us, ours.per_second / pg.per_second,
                            ours.p50_us / pg.p50_us);
            } catch (const std::exception& e) {
                std::printf("%-8zu skipped: %s\n", n, e.what());
            }
        }
        std::printf("rate = gateway steps/s as a share of PostgreSQL's; p50 = gateway step / SELECT round trip\n");
    } catch (const std::exception& e) {
        std::printf("skipped: %s\n", e.what());
    }
}

}  // namespace

// bench_gateway [CLIENTS...]: the connection counts to measure, 1 16 256 when none are given.
int main(int argc, char** argv) {
    std::vector<size_t> counts;
    for (int i = 1; i < argc; ++i) {
        const long n = std::strtol(argv[i], nullptr, 10);
        if (n < 1 || n > 4096) {
            std::fprintf(stderr, "bench_gateway: %s is not a client count from 1 to 4096\n", argv[i]);
            return 2;
        }
        counts.push_back(static_cast<size_t>(n));
    }
    if (counts.empty()) counts = {1, 16, 256};
    char pattern[] = "/tmp/bench-gateway.XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    int status = 0;
    try {
        std::vector<Result> gateway_steps;
        {
            GatewayServer gateway(pattern);
            EchoServer echo;
            print_against_echo(gateway, echo, counts, gateway_steps);
        }
        print_against_postgres(counts, gateway_steps);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_gateway: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove_all(pattern);
    return status;
}
