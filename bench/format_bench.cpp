// The formatting calls of every table cell, axis label and card.
#include "alloc_count.h"
#include "bench_l10n.h"
#include "format.h"
#include "l10n.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

// A spread of magnitudes, so every unit step and decimal choice is taken.
const double kRates[] = {0, 0.5, 12.5, 999.4, 1234, 56789, 1.5e6, 2.5e8, 7.7e9, 3e12};

void BM_RateBytes(benchmark::State& state) {
    setup("en");
    unsigned i = 0;
    run(state, [&i] { return fmt::rate(kRates[++i % 10], false); });
}
BENCHMARK(BM_RateBytes);

void BM_RateBits(benchmark::State& state) {
    setup("en");
    unsigned i = 0;
    run(state, [&i] { return fmt::rate(kRates[++i % 10], true); });
}
BENCHMARK(BM_RateBits);

// A decimal-comma language adds the separator pass.
void BM_RateGerman(benchmark::State& state) {
    setup("de");
    unsigned i = 0;
    run(state, [&i] { return fmt::rate(kRates[++i % 10], false); });
}
BENCHMARK(BM_RateGerman);

void BM_Bytes(benchmark::State& state) {
    setup("en");
    uint64_t n = 1;
    run(state, [&n] {
        n = n * 7 + 13;
        return fmt::bytes(n & ((uint64_t{1} << 50) - 1));
    });
}
BENCHMARK(BM_Bytes);

} // namespace
