// soak.cpp: many clients for minutes against the program vantrel (a child process, over SQLite, and over
// PostgreSQL when TEST_PG_CONNINFO names a server). Each client runs a script of every kind of request on
// rows of its own, one request outstanding, with acknowledgement on; the script is checked reply by
// reply, so an error entry, a wrong reply, a dropped connection or a reply that never comes fails the run.
//
// Reports requests/s, p50/p99 round trip, and the gateway's resident memory and open descriptors (read
// from /proc/<pid>/) at idle before and after the load. What "returns to idle" means: a warm-up lets every
// client run its script a few times and leave; the gateway's figures after that are its idle level, with
// its caches filled and its allocator's free lists at their high-water mark. After the long run and the
// clients' departure, descriptors must be back at exactly that level, and resident memory within 10% + 8 MB
// of it: a leak grows with the length of the run, which the warm-up is a small fraction of.
//
//   soak [clients] (default 1000); SOAK_SECONDS: length of the measured run (default 300)
//
// The clients are this program's own code over the protocol (the wire codec), not the client library.
// Requests "noerror" (acknowledgement off for good) and "mtier" (no middle tier in the plain program) are
// not in the script.
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/soak/SoakScript.h"
#include "platform/msgloop/UniqueFd.h"
#include "tests/support/GatewayProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReplyLimit = std::chrono::seconds(60);   // a reply later than this fails the run
constexpr auto kWarmUp = std::chrono::seconds(20);
constexpr auto kSettle = std::chrono::seconds(60);       // for closes and frees after the clients leave

struct ProcessFigures {
    long rss_kb = 0;
    long descriptors = 0;
};

ProcessFigures figures_of(pid_t pid) {
    ProcessFigures f;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) f.rss_kb = std::atol(line.c_str() + 6);
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++f.descriptors;
    return f;
}

// One load: `clients` connections driven from one epoll loop for `length`, then closed.
class Load {
public:
    Load(uint16_t port, size_t clients) : ep_(::epoll_create1(EPOLL_CLOEXEC)) {
        for (size_t i = 0; i < clients; ++i) {
            UniqueFd fd = soak::connect_to(port);
            if (fd.get() < 0) fail("connect " + std::to_string(i) + " failed");
            sessions_.push_back(std::make_unique<soak::Session>(static_cast<int>(i), std::move(fd)));
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = i;
            ::epoll_ctl(ep_.get(), EPOLL_CTL_ADD, sessions_.back()->fd(), &ev);
        }
    }

    // Runs every client's script until `length` has passed; false on the first failure.
    bool run(Clock::duration length) {
        const auto start = Clock::now();
        for (auto& s : sessions_) s->send_next(Clock::now());
        const auto end = start + length;
        epoll_event events[512];
        while (Clock::now() < end && error_.empty()) {
            const int n = ::epoll_wait(ep_.get(), events, 512, 100);
            const auto now = Clock::now();
            for (int i = 0; i < n && error_.empty(); ++i) {
                soak::Session& s = *sessions_[events[i].data.u64];
                if (!s.read_replies(now, latencies_us_)) error_ = s.error();
                if (error_.empty() && s.idle()) s.send_next(now);
            }
            for (const auto& s : sessions_)
                if (error_.empty() && now - s->sent_at() > kReplyLimit && !s->idle())
                    error_ = "client " + std::to_string(s->number()) + ": no reply to \"" + s->waiting_for() + "\"";
        }
        seconds_ = std::chrono::duration<double>(Clock::now() - start).count();
        return error_.empty();
    }

    const std::string& error() const { return error_; }
    double seconds() const { return seconds_; }
    std::vector<double>& latencies_us() { return latencies_us_; }

private:
    [[noreturn]] static void fail(const std::string& what) {
        std::fprintf(stderr, "soak: %s\n", what.c_str());
        std::exit(1);
    }
    UniqueFd ep_;
    std::vector<std::unique_ptr<soak::Session>> sessions_;
    std::vector<double> latencies_us_;
    std::string error_;
    double seconds_ = 0;
};

// Waits until the gateway's descriptors are back at `idle` (the closes reach it a little after ours).
ProcessFigures settle(pid_t pid, long idle_descriptors) {
    const auto deadline = Clock::now() + kSettle;
    ProcessFigures f = figures_of(pid);
    while (f.descriptors > idle_descriptors && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        f = figures_of(pid);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));   // frees after the last close
    return figures_of(pid);
}

// The whole soak against one database; returns whether it passed.
bool soak_against(const std::string& label, const std::vector<std::string>& flags, size_t clients, int seconds) {
    std::printf("=== %s: %zu clients, %d s\n", label.c_str(), clients, seconds);
    GatewayProcess gateway(VANTREL_PROGRAM, flags);
    const pid_t pid = gateway.pid();
    if (const std::string e = soak::create_rows(gateway.port(), clients); !e.empty()) {
        std::printf("FAIL: setting up the rows: %s\n", e.c_str());
        return false;
    }
    const ProcessFigures start = figures_of(pid);
    {
        Load warm(gateway.port(), clients);
        if (!warm.run(kWarmUp)) {
            std::printf("FAIL during the warm-up: %s\n", warm.error().c_str());
            return false;
        }
    }
    const ProcessFigures idle = settle(pid, start.descriptors);
    std::optional<Load> load(std::in_place, gateway.port(), clients);
    const bool ok = load->run(std::chrono::seconds(seconds));
    const ProcessFigures loaded = figures_of(pid);
    const std::string error = load->error();
    const double span = load->seconds();
    std::vector<double> us = std::move(load->latencies_us());
    load.reset();   // every client leaves
    const ProcessFigures after = settle(pid, idle.descriptors);
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) { return us.empty() ? 0.0 : us[std::min(us.size() - 1, static_cast<size_t>(q * us.size()))]; };
    std::printf("requests: %zu in %.1f s = %.0f/s; round trip p50 %.2f ms, p99 %.2f ms\n", us.size(), span,
                static_cast<double>(us.size()) / span, at(0.50) / 1000, at(0.99) / 1000);
    std::printf("gateway RSS: start %ld kB, idle after warm-up %ld kB, end of load %ld kB, after the clients left %ld kB\n",
                start.rss_kb, idle.rss_kb, loaded.rss_kb, after.rss_kb);
    std::printf("gateway descriptors: start %ld, idle after warm-up %ld, end of load %ld, after the clients left %ld\n",
                start.descriptors, idle.descriptors, loaded.descriptors, after.descriptors);
    bool passed = ok && gateway.running();
    if (!ok) std::printf("FAIL: %s\n", error.c_str());
    if (!gateway.running()) std::printf("FAIL: the gateway is gone:\n%s\n", gateway.output().c_str());
    if (after.descriptors != idle.descriptors) {
        std::printf("FAIL: descriptors did not return to idle (%ld, idle %ld)\n", after.descriptors, idle.descriptors);
        passed = false;
    }
    const long allowed_kb = idle.rss_kb + idle.rss_kb / 10 + 8 * 1024;
    if (after.rss_kb > allowed_kb) {
        std::printf("FAIL: resident memory did not return to idle (%ld kB, allowed %ld kB)\n", after.rss_kb, allowed_kb);
        passed = false;
    }
    std::printf("%s\n", passed ? "PASS" : "FAIL");
    return passed;
}

// Both ends of every connection are descriptors here and in the gateway, which inherits this limit.
void raise_descriptor_limit() {
    rlimit l{};
    if (::getrlimit(RLIMIT_NOFILE, &l) == 0 && l.rlim_cur < l.rlim_max) {
        l.rlim_cur = l.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &l);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const size_t clients = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
    const char* length = std::getenv("SOAK_SECONDS");
    const int seconds = length ? std::atoi(length) : 300;
    if (clients == 0 || seconds <= 0) {
        std::fprintf(stderr, "usage: soak [clients]   (SOAK_SECONDS: seconds of load, default 300)\n");
        return 64;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);   // nothing buffered is copied into the forked gateway
    raise_descriptor_limit();
    bool passed = soak_against("SQLite", {}, clients, seconds);
    if (const char* pg = std::getenv("TEST_PG_CONNINFO"))
        passed = soak_against("PostgreSQL", {"--provider", "PostgreSQL", "--connect", pg}, clients, seconds) && passed;
    return passed ? 0 : 1;
}
