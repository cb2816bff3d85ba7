// The kernel's counter and routing files as hostile text: the input is split at the first
// NUL into a counter-file part and a routing part (itself split at a second NUL into the
// IPv4 and IPv6 tables).
#include "net_stats.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    size_t a = all.find('\0');
    std::string_view dev = all.substr(0, a);
    std::string_view rest = a == std::string_view::npos ? std::string_view() : all.substr(a + 1);
    size_t b = rest.find('\0');
    std::string_view route = rest.substr(0, b);
    std::string_view route6 = b == std::string_view::npos ? std::string_view() : rest.substr(b + 1);

    net::CounterSample s;
    net::parse_counters(dev, &s);
    if (s.names.size() != s.values.size()) __builtin_trap();

    std::vector<net::Interface> list(3);
    list[0].name = "eth0";
    list[1].name = "lo";
    list[2].name = "wlan0";
    net::apply_routes(list, route, route6);
    return 0;
}
