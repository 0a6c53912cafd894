// RatioReporter.h: prints, after Google Benchmark's usual table, each BM_X median beside the median of
// BM_XBaseline with the same arguments, and their ratio (> 1: ours takes longer than the baseline).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                medians_[{r.run_name.function_name, r.run_name.args}] = {r.GetAdjustedRealTime(), r.counters};
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nmedian times (lower is better); ratio = ours / baseline\n");
        for (const auto& [key, ours] : medians_) {
            const auto base = medians_.find({key.first + "Baseline", key.second});
            if (base == medians_.end()) continue;
            std::printf("%s%s%s: ours %.4g, baseline %.4g, ratio %.2f\n", key.first.c_str(),
                        key.second.empty() ? "" : "/", key.second.c_str(), ours.time, base->second.time,
                        ours.time / base->second.time);
        }
    }

private:
    struct Median {
        double time;
        benchmark::UserCounters counters;
    };
    std::map<std::pair<std::string, std::string>, Median> medians_;
};

// main() of a benchmark program: the usual flags, our reporter, nine repetitions unless told otherwise.
#define RATIO_BENCHMARK_MAIN()                                                 \
    int main(int argc, char** argv) {                                          \
        benchmark::Initialize(&argc, argv);                                    \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;      \
        RatioReporter reporter;                                                \
        benchmark::RunSpecifiedBenchmarks(&reporter);                          \
        benchmark::Shutdown();                                                 \
        return 0;                                                              \
    }
