// The stores on the per-sample path and the cost of one durable save of the largest file.
//   history add            one sample into the three rings
//   history series         a week resampled into chart points
//   usage observe          one reading each of 20 interfaces, counting allocations
//   sealed write + read    the 316 280-byte history payload, flushed to disk
#include "history.h"
#include "sealed_file.h"
#include "usage_store.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
std::atomic<long> g_allocations{0};
}

// Every allocation of the program is counted, so a benchmark can prove it makes none. Kept
// out of line: g++ would otherwise see malloc and free meet across the inlined pair and
// warn about a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) {
    return operator new(size);
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

constexpr double kNow = 1.7e9;

history::Store filled_history() {
    history::Store s;
    // A month of samples every 10 seconds, so tiers 0 and 1 are full.
    for (double t = kNow - 86400 * 31; t <= kNow; t += 10) s.add(t, 125000, 12000, 10);
    return s;
}

void BM_HistoryAdd(benchmark::State& state) {
    history::Store s;
    double t = kNow;
    for (auto _ : state) {
        s.add(t, 125000, 12000, 1);
        t += 1;
    }
    benchmark::DoNotOptimize(s.dirty());
}
BENCHMARK(BM_HistoryAdd);

void BM_HistorySeriesWeek(benchmark::State& state) {
    const history::Store s = filled_history();
    for (auto _ : state) {
        history::Series r = s.series(86400 * 7, 600, kNow);
        benchmark::DoNotOptimize(r.rx.data());
    }
}
BENCHMARK(BM_HistorySeriesWeek)->Unit(benchmark::kMicrosecond);

void BM_UsageObserve20(benchmark::State& state) {
    usage::Store s;
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) names.push_back("enp" + std::to_string(i) + "s0");
    uint64_t rx = 1000, tx = 100;
    // The first readings set the base and create today's entries.
    for (int round = 0; round < 2; ++round) {
        for (const auto& n : names) s.observe(n, rx, tx, true);
        rx += 1500;
        tx += 150;
    }
    const long before = g_allocations.load();
    for (auto _ : state) {
        for (const auto& n : names) s.observe(n, rx, tx, true);
        rx += 1500;
        tx += 150;
    }
    const long made = g_allocations.load() - before;
    state.counters["allocations"] = static_cast<double>(made);
    if (made != 0) state.SkipWithError("observe allocated after the first reading of the day");
}
BENCHMARK(BM_UsageObserve20);

std::string bench_dir() {
    std::string tmpl = std::string(VELMORA_BUILD_DIR) + "/bench-sealed-XXXXXX";
    const char* d = mkdtemp(tmpl.data());
    return d ? d : std::string(VELMORA_BUILD_DIR);
}

void BM_SealedWriteReadHistory(benchmark::State& state) {
    const std::string dir = bench_dir();
    const std::string path = dir + "/history.dat";
    const std::string payload = filled_history().payload();
    std::string back;
    for (auto _ : state) {
        if (!sealed::write(path, payload)) state.SkipWithError("write failed");
        if (sealed::read(path, &back) != sealed::Result::Ok || back != payload)
            state.SkipWithError("read failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size()));
    unlink(path.c_str());
    rmdir(dir.c_str());
}
BENCHMARK(BM_SealedWriteReadHistory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SealedReadHistory(benchmark::State& state) {
    const std::string dir = bench_dir();
    const std::string path = dir + "/history.dat";
    sealed::write(path, filled_history().payload());
    std::string back;
    for (auto _ : state) {
        if (sealed::read(path, &back) != sealed::Result::Ok) state.SkipWithError("read failed");
    }
    unlink(path.c_str());
    rmdir(dir.c_str());
}
BENCHMARK(BM_SealedReadHistory)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
