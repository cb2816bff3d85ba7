// Country lookups in the real table for random public IPv4 and IPv6 addresses, and the
// one-time load of the table (read, check, copy), with the memory the table keeps.
// 4096 addresses spread over the whole table are cycled through, so that the benchmark
// measures the search and not cache misses on its own list of address texts.
// The table is build/share/velmora/geoip.bin (set-up builds it) or $VELM_GEOIP.
#include "geoip.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string table_path() {
    const char* env = std::getenv("VELM_GEOIP");
    return env ? env : std::string(VELMORA_BUILD_DIR) + "/share/velmora/geoip.bin";
}

std::string read_all(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Loads the process-wide table from the benchmark's table, once.
bool ready(benchmark::State& state) {
    static const bool ok = [] {
        setenv("VELM_GEOIP", table_path().c_str(), 1);
        return geoip::available();
    }();
    if (!ok) state.SkipWithError("no country table: run tools/setup.d/geoip.sh build");
    return ok;
}

// Addresses outside the private and reserved ranges, so every lookup searches the table.
std::vector<std::string> public_v4(size_t n) {
    std::mt19937 rng(4242);
    std::vector<std::string> out;
    while (out.size() < n) {
        uint32_t x = rng();
        char buf[INET_ADDRSTRLEN];
        uint32_t be = htonl(x);
        std::string s = inet_ntop(AF_INET, &be, buf, sizeof buf);
        if (geoip::lookup(geoip::Table{}, s) != "LAN") out.push_back(s);
    }
    return out;
}

// Public IPv6 addresses spread over the whole table: random addresses in 2000::/3 would
// mostly fall into a few huge ranges at the end and be served from cache. One in two lies
// in a random range of the table, the other anywhere in 2000::/3.
std::vector<std::string> public_v6(size_t n) {
    geoip::Table t;
    geoip::load_first({table_path()}, t);
    std::mt19937_64 rng(4242);
    std::vector<std::string> out;
    while (out.size() < n) {
        uint64_t hi = (rng() >> 3) | (uint64_t(1) << 61), lo = rng();
        if (!t.v6.empty() && out.size() % 2 == 0) {
            const geoip::R6& r = t.v6[rng() % t.v6.size()];
            hi = r.a + (r.b > r.a ? rng() % (r.b - r.a + 1) : 0);
        }
        unsigned char b[16];
        for (int i = 0; i < 8; ++i) {
            b[i] = static_cast<unsigned char>(hi >> (56 - 8 * i));
            b[8 + i] = static_cast<unsigned char>(lo >> (56 - 8 * i));
        }
        char buf[INET6_ADDRSTRLEN];
        out.push_back(inet_ntop(AF_INET6, b, buf, sizeof buf));
    }
    return out;
}

void run_lookups(benchmark::State& state, const std::vector<std::string>& ips) {
    size_t i = 0, found = 0;
    for (auto _ : state) {
        std::string cc = geoip::country(ips[i]);
        found += !cc.empty();
        benchmark::DoNotOptimize(cc);
        i = (i + 1) & (ips.size() - 1);
    }
    state.counters["found_%"] =
        100.0 * static_cast<double>(found) / static_cast<double>(state.iterations());
}

void BM_CountryIPv4(benchmark::State& state) {
    if (!ready(state)) return;
    static const auto ips = public_v4(1 << 12);
    run_lookups(state, ips);
}

void BM_CountryIPv6(benchmark::State& state) {
    if (!ready(state)) return;
    static const auto ips = public_v6(1 << 12);
    run_lookups(state, ips);
}

// The same lookups in a table that holds nothing: the cost of parsing the text alone.
void parse_only(benchmark::State& state, const std::vector<std::string>& ips) {
    const geoip::Table empty;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(geoip::lookup(empty, ips[i]));
        i = (i + 1) & (ips.size() - 1);
    }
}
void BM_ParseOnlyIPv4(benchmark::State& state) {
    parse_only(state, public_v4(1 << 12));
}
void BM_ParseOnlyIPv6(benchmark::State& state) {
    parse_only(state, public_v6(1 << 12));
}

void BM_LoadTable(benchmark::State& state) {
    const std::string path = table_path();
    geoip::Table t;
    for (auto _ : state) {
        t = geoip::Table{};
        if (geoip::load_first({path}, t).empty()) {
            state.SkipWithError("no country table: run tools/setup.d/geoip.sh build");
            return;
        }
    }
    const double kept = static_cast<double>(
        t.v4.capacity() * sizeof(geoip::R4) + t.v6.capacity() * sizeof(geoip::R6) +
        t.s4.capacity() * sizeof(uint32_t) + t.s6.capacity() * sizeof(uint64_t));
    state.counters["ranges_v4"] = static_cast<double>(t.v4.size());
    state.counters["ranges_v6"] = static_cast<double>(t.v6.size());
    state.counters["kept_MiB"] = kept / (1 << 20);
    // The file is read whole before the records are copied out of it.
    state.counters["peak_MiB"] = (kept + static_cast<double>(read_all(path).size())) / (1 << 20);
}

} // namespace

BENCHMARK(BM_CountryIPv4);
BENCHMARK(BM_CountryIPv6);
BENCHMARK(BM_ParseOnlyIPv4);
BENCHMARK(BM_ParseOnlyIPv6);
BENCHMARK(BM_LoadTable)->Unit(benchmark::kMillisecond);
