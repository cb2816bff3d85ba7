// Counter reading and the interface scan, each next to its floor: a plain C loop doing
// the same file reads without any parsing. Device counts other than 0 run in a private
// network namespace with that many veth devices (root only).
#include "bench_util.h"
#include "net_stats.h"

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool ensure_devices(benchmark::State& state, int count) {
    static int current = 0; // 0 = the machine's own namespace
    if (count == current) return true;
    if (!benchutil::fresh_netns_with_veths(count)) {
        state.SkipWithError("needs root for a private network namespace");
        return false;
    }
    current = count;
    return true;
}

char g_buf[1 << 16];

void slurp(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    while (read(fd, g_buf, sizeof g_buf) > 0) {
    }
    close(fd);
}

void BM_ReadCountersFloor(benchmark::State& state) {
    if (!ensure_devices(state, static_cast<int>(state.range(0)))) return;
    for (auto _ : state) {
        slurp("/proc/net/dev");
        benchmark::ClobberMemory();
    }
}

void BM_ReadCounters(benchmark::State& state) {
    if (!ensure_devices(state, static_cast<int>(state.range(0)))) return;
    net::CounterSample s;
    for (auto _ : state) {
        net::read_counters(&s);
        benchmark::DoNotOptimize(s.values.data());
    }
    state.counters["ifaces"] = static_cast<double>(s.names.size());
}

// The reads the scan makes for a veth device, and its two routing files.
void scan_floor() {
    DIR* d = opendir("/sys/class/net");
    if (!d) return;
    std::string base = "/sys/class/net/";
    char link[1024];
    struct stat st;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string p = base + e->d_name;
        if (stat(p.c_str(), &st) != 0) continue;
        for (const char* f : {"/ifindex", "/flags", "/carrier", "/operstate", "/mtu", "/address",
                              "/speed", "/duplex", "/type", "/uevent"})
            slurp((p + f).c_str());
        for (const char* l : {"/master", "", "/device/driver"})
            if (readlink((p + l).c_str(), link, sizeof link) < 0) {
            }
        for (const char* s : {"/wireless", "/phy80211", "/bonding", "/bridge", "/tun_flags"})
            stat((p + s).c_str(), &st);
    }
    closedir(d);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) freeifaddrs(list);
    slurp("/proc/net/route");
    slurp("/proc/net/ipv6_route");
}

void BM_ScanFloor(benchmark::State& state) {
    if (!ensure_devices(state, static_cast<int>(state.range(0)))) return;
    for (auto _ : state) scan_floor();
    state.SetItemsProcessed(state.iterations() * (state.range(0) + 1));
}

void BM_ScanInterfaces(benchmark::State& state) {
    if (!ensure_devices(state, static_cast<int>(state.range(0)))) return;
    size_t n = 0;
    for (auto _ : state) {
        auto list = net::scan_interfaces();
        n = list.size();
        benchmark::DoNotOptimize(list.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
    state.counters["ifaces"] = static_cast<double>(n);
}

// Floor and subject alternate per device count so each pair sees the same namespace.
BENCHMARK(BM_ReadCountersFloor)->Arg(0);
BENCHMARK(BM_ReadCounters)->Arg(0);
BENCHMARK(BM_ScanFloor)->Arg(2);
BENCHMARK(BM_ScanInterfaces)->Arg(2);
BENCHMARK(BM_ReadCountersFloor)->Arg(50);
BENCHMARK(BM_ReadCounters)->Arg(50);
BENCHMARK(BM_ScanFloor)->Arg(50);
BENCHMARK(BM_ScanInterfaces)->Arg(50);
BENCHMARK(BM_ReadCountersFloor)->Arg(500);
BENCHMARK(BM_ReadCounters)->Arg(500);
BENCHMARK(BM_ScanFloor)->Arg(500);
BENCHMARK(BM_ScanInterfaces)->Arg(500);

} // namespace
