// LoadStats.h: what every load of bench_gateway reports (requests/s, p50/p99 round trip, server CPU per
// request) and the helpers its drivers share: latency samples and a thread's CPU clock.
#pragma once


#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;
constexpr auto kWarmUp = std::chrono::milliseconds(300);
constexpr auto kMeasure = std::chrono::seconds(2);

struct Result {
    double per_second = 0, p50_us = 0, p99_us = 0;
    double server_cpu_us = 0;   // server thread CPU time per request; 0 when not measured
    bool valid() const { return per_second > 0; }
};

// Round trips in microseconds, summarised over a measured span.
class Samples {
public:
    void clear() { us_.clear(); }
    void add(Clock::time_point sent) { us_.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count()); }
    size_t size() const { return us_.size(); }
    Result summary(double seconds) {
        Result r;
        if (us_.empty() || seconds <= 0) return r;
        std::sort(us_.begin(), us_.end());
        r.per_second = static_cast<double>(us_.size()) / seconds;
        r.p50_us = us_[us_.size() / 2];
        r.p99_us = us_[us_.size() * 99 / 100];
        return r;
    }

private:
    std::vector<double> us_;
};

// Waits (up to a few seconds) until a server thread, whose CPU seconds `cpu` reads, has gone quiet: a
// server still closing the last load's connections must not share the cores with the next measurement.
template <class CpuClock>
void wait_until_idle(const CpuClock& cpu) {
    constexpr auto kQuiet = std::chrono::milliseconds(50);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (double before = cpu(); Clock::now() < deadline;) {
        std::this_thread::sleep_for(kQuiet);
        const double now = cpu();
        if (now - before < 0.002) return;   // under 4% of one core
        before = now;
    }
}

}  // namespace bench
