// Shared by the text and formatting benchmarks: the interface language to measure in, and a
// loop that reports the allocations of one call.
#pragma once

#include "alloc_count.h"
#include "l10n.h"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

inline void setup(const char* code) {
    setenv("LANGUAGE", "en", 1);
    L10n::init("");
    L10n::setLanguage(code);
}

template <class F> void run(benchmark::State& state, F call) {
    const long before = alloc_count::g_allocs.load();
    for (auto _ : state) benchmark::DoNotOptimize(call());
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(alloc_count::g_allocs.load() - before),
                           benchmark::Counter::kAvgIterations);
}

} // namespace
