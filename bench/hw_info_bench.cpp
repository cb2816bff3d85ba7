// Cost of the hardware details: loading pci.ids, one hw::query, and what the wireless and
// hardware queries add to a scan of 50 veth interfaces. The interface benchmarks run in a
// private network namespace and need root.
#include "bench_util.h"
#include "hw_info.h"
#include "net_stats.h"
#include "sysfs.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

constexpr int kVeths = 50;

// Empty once the namespace with the veth devices exists, otherwise why it cannot.
const std::string& namespace_error() {
    static const std::string error = benchutil::fresh_netns_with_veths(kVeths)
                                         ? std::string()
                                         : "needs root for a private network namespace";
    return error;
}

void BM_LoadPciIds(benchmark::State& state) {
    for (auto _ : state) {
        hw::reset_databases(); // the next lookup loads the file again, as a new process would
        benchmark::DoNotOptimize(hw::lookup(hw::Db::Pci, hw::Table::Vendors, "8086"));
    }
    const auto stats = hw::db_stats(hw::Db::Pci);
    if (stats.path.empty()) state.SkipWithError("no pci.ids installed");
    state.counters["entries"] = static_cast<double>(stats.entries);
    state.SetLabel(stats.path);
}
BENCHMARK(BM_LoadPciIds)->Unit(benchmark::kMillisecond);

void BM_ParsePciIdsText(benchmark::State& state) {
    std::string text;
    for (const auto& path : hw::db_candidates(hw::Db::Pci)) {
        text = sysfs::read_file(path, 64 << 20);
        if (!text.empty()) break;
    }
    if (text.empty()) state.SkipWithError("no pci.ids installed");
    for (auto _ : state) {
        hw::IdDb db;
        hw::parse_ids(text, db);
        benchmark::DoNotOptimize(db.vendors.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParsePciIdsText)->Unit(benchmark::kMillisecond);

void BM_HwQueryVeth(benchmark::State& state) {
    if (!namespace_error().empty()) {
        state.SkipWithError(namespace_error().c_str());
        return;
    }
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hw::query("veth" + std::to_string(i++ % kVeths)));
    }
}
BENCHMARK(BM_HwQueryVeth)->Unit(benchmark::kMicrosecond);

void scan(benchmark::State& state, net::Details details) {
    if (!namespace_error().empty()) {
        state.SkipWithError(namespace_error().c_str());
        return;
    }
    size_t count = 0;
    for (auto _ : state) {
        auto list = net::scan_interfaces("", net::read_ifaddrs(), details);
        count = list.size();
        benchmark::DoNotOptimize(list.data());
    }
    state.counters["interfaces"] = static_cast<double>(count);
}

void BM_ScanWithDetails(benchmark::State& state) {
    scan(state, net::Details::All);
}
void BM_ScanWithoutDetails(benchmark::State& state) {
    scan(state, net::Details::Basic);
}
BENCHMARK(BM_ScanWithDetails)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanWithoutDetails)->Unit(benchmark::kMillisecond);

} // namespace
