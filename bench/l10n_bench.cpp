// Text lookups as the painters make them, many per frame: plain and with arguments.
#include "alloc_count.h"
#include "bench_l10n.h"
#include "l10n.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void BM_TrPlain(benchmark::State& state) {
    setup("en");
    run(state, [] { return L10n::tr("geo.lan"); });
}
BENCHMARK(BM_TrPlain);

// A long text: the returned string needs its one allocation.
void BM_TrPlainLong(benchmark::State& state) {
    setup("en");
    run(state, [] { return L10n::tr("dev.none"); });
}
BENCHMARK(BM_TrPlainLong);

// German has no texts yet, so every lookup takes the English fallback.
void BM_TrPlainFallback(benchmark::State& state) {
    setup("de");
    run(state, [] { return L10n::tr("col.program"); });
}
BENCHMARK(BM_TrPlainFallback);

void BM_TrInt(benchmark::State& state) {
    setup("en");
    int n = 0;
    run(state, [&n] { return L10n::tr("foot.conns", ++n & 1023); });
}
BENCHMARK(BM_TrInt);

void BM_TrTwoStrings(benchmark::State& state) {
    setup("en");
    run(state, [] { return L10n::tr("about.version", "1.0.4", "1036"); });
}
BENCHMARK(BM_TrTwoStrings);

void BM_TrUnknownKey(benchmark::State& state) {
    setup("en");
    run(state, [] { return L10n::tr("no.such.key", 5); });
}
BENCHMARK(BM_TrUnknownKey);

} // namespace
