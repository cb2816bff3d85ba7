// The data plan on the per-sample path and the statistics export.
//   plan evaluate      the check every sample runs for one plan: its period, the usage of the
//                      period from the store, the status and the alert step; no allocation
//   csv build          two years of 20 devices as CSV text
//   csv export         the same, written to a temporary file and renamed into place
#include "csv_export.h"
#include "plan.h"
#include "usage_store.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <new>
#include <string>
#include <unistd.h>

namespace {
std::atomic<long> g_allocations{0};
}

// Every allocation of the program is counted, so the evaluation can prove it makes none.
[[gnu::noinline]] void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// 730 days of 20 devices with large counts, ending today.
usage::Store two_years() {
    std::string payload = "B x\n";
    const int today = usage::Store::today();
    for (int dev = 0; dev < 20; ++dev)
        for (int i = 0; i < 730; ++i)
            payload += "D wlp" + std::to_string(dev) + "s0 " +
                       std::to_string(usage::Store::add_days(today, -i)) + " " +
                       std::to_string(123456789012ull + i) + " " +
                       std::to_string(9876543210ull + dev) + "\n";
    usage::Store s;
    s.load_payload(payload);
    return s;
}

void BM_PlanEvaluate(benchmark::State& state) {
    const usage::Store store = two_years();
    const plan::Plan pl{"wlp3s0", 50'000'000'000'000, 15};
    plan::Alerted alerted{pl.iface, 0, 0};
    const long before = g_allocations.load();
    for (auto _ : state) {
        const int today = usage::Store::today();
        const plan::Period p = plan::period(today, pl.billing_day);
        const usage::Sum used = store.range(pl.iface, p.start, today);
        const plan::Status s =
            plan::evaluate(pl.allowance, p, today, used.rx + used.tx, store.first_day(pl.iface));
        benchmark::DoNotOptimize(plan::alert_step(alerted, p.start, s.level));
    }
    const long made = g_allocations.load() - before;
    state.counters["allocations"] = static_cast<double>(made);
    if (made != 0) state.SkipWithError("the plan evaluation allocated");
}
BENCHMARK(BM_PlanEvaluate);

void BM_CsvBuild(benchmark::State& state) {
    const usage::Store store = two_years();
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = csv::build(store);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_CsvBuild)->Unit(benchmark::kMillisecond);

void BM_CsvExport(benchmark::State& state) {
    const usage::Store store = two_years();
    const std::string path = "/tmp/velmora-bench-" + std::to_string(getpid()) + ".csv";
    for (auto _ : state) {
        if (!csv::write_atomic(path, csv::build(store)).empty())
            state.SkipWithError("write failed");
    }
    unlink(path.c_str());
}
BENCHMARK(BM_CsvExport)->Unit(benchmark::kMillisecond);

} // namespace
