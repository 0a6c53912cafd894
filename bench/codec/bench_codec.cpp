// Scramble and Unscramble throughput on 1 KB and 1 MB texts, beside a plain copy of the same buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench/support/RatioReporter.h"
#include "common/WireCodec.h"

namespace {

std::string sample_text(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(' ' + (i * 7919) % 95);
    return text;
}

const wire::Key& client_key() {
    static const wire::Key key({3, -10, 0, 7, -4});  // five values, as a client draws them
    return key;
}

// What a sender does: a scrambled copy of its text.
void BM_Scramble(benchmark::State& state) {
    const std::string text = sample_text(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::string out = wire::scrambled(text, client_key());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_ScrambleBaseline(benchmark::State& state) {
    const std::string text = sample_text(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::string out(text.size(), '\0');
        std::memcpy(out.data(), text.data(), text.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// What a receiver does: unscramble the body it read, in place.
void BM_Unscramble(benchmark::State& state) {
    std::string text = sample_text(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        wire::unscramble(text, client_key());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_UnscrambleBaseline(benchmark::State& state) {
    std::string text = sample_text(static_cast<size_t>(state.range(0)));
    std::string other(text.size(), '\0');
    for (auto _ : state) {
        std::memcpy(other.data(), text.data(), text.size());
        benchmark::DoNotOptimize(other.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

#define CODEC_SIZES ->Arg(1 << 10)->Arg(1 << 20)->Repetitions(9)->ReportAggregatesOnly(true)
BENCHMARK(BM_Scramble) CODEC_SIZES;
BENCHMARK(BM_ScrambleBaseline) CODEC_SIZES;
BENCHMARK(BM_Unscramble) CODEC_SIZES;
BENCHMARK(BM_UnscrambleBaseline) CODEC_SIZES;

}  // namespace

RATIO_BENCHMARK_MAIN()
