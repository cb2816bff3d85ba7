// Cost of the hardware details: loading pci.ids, one hw::query, and what the wireless and
// hardware queries add to a scan of 50 veth interfaces. The interface benchmarks run in a
// private network namespace and need root.
#include "hw_info.h"
#include "net_stats.h"
#include "sysfs.h"

#include <benchmark/benchmark.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace {

constexpr int kVethPairs = 25; // 50 interfaces

bool sh(const std::string& command) {
    return system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Empty on success, otherwise why the namespace could not be prepared.
std::string make_namespace() {
    if (geteuid() != 0) return "needs root for a private network namespace";
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return std::string("unshare: ") + strerror(errno);
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("private /: ") + strerror(errno);
    if (mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
        return std::string("sysfs: ") + strerror(errno);
    std::string batch = "link set lo up\n";
    for (int i = 0; i < kVethPairs; ++i)
        batch += "link add va" + std::to_string(i) + " type veth peer name vb" + std::to_string(i) +
                 "\n";
    const std::string file = "/tmp/velmora-bench-ip." + std::to_string(getpid());
    FILE* f = fopen(file.c_str(), "w");
    if (!f) return "cannot write the ip batch file";
    fputs(batch.c_str(), f);
    fclose(f);
    const bool ok = sh("ip -batch " + file);
    unlink(file.c_str());
    return ok ? std::string() : "ip -batch failed (iproute2 missing?)";
}

const std::string& namespace_error() {
    static const std::string error = make_namespace();
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
        const std::string name = (i % 2 ? "vb" : "va") + std::to_string((i / 2) % kVethPairs);
        benchmark::DoNotOptimize(hw::query(name));
        ++i;
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
