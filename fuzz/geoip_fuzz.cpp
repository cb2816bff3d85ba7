// Arbitrary bytes as a country table file. The reader must reject what it cannot use
// without reading past the input, and an accepted table must answer for its own bounds.
// The same bytes, read as address text, must be judged by the lookup's own IPv6 reader
// exactly as inet_pton judges them.
#include "geoip.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

std::string text4(uint32_t x) {
    char buf[INET_ADDRSTRLEN];
    const uint32_t n = htonl(x);
    return inet_ntop(AF_INET, &n, buf, sizeof buf);
}

std::string text6(uint64_t prefix, uint64_t low) {
    unsigned char b[16];
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<unsigned char>(prefix >> (56 - 8 * i));
        b[8 + i] = static_cast<unsigned char>(low >> (56 - 8 * i));
    }
    char buf[INET6_ADDRSTRLEN];
    return inet_ntop(AF_INET6, b, buf, sizeof buf);
}

void expect(const std::string& got, const char* cc) {
    if (got != "LAN" && got != std::string(cc, 2)) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
    if (text.find('\0') == std::string::npos) {
        unsigned char want[16] = {}, got[16] = {};
        const bool ok = inet_pton(AF_INET6, text.c_str(), want) == 1;
        if (geoip::parse_ipv6(text, got) != ok || (ok && std::memcmp(want, got, 16) != 0))
            __builtin_trap();
    }

    geoip::Table t;
    if (!geoip::parse(std::string_view(reinterpret_cast<const char*>(data), size), t)) return 0;
    size_t n = 0;
    for (const auto& r : t.v4) {
        if (++n > 64) break;
        expect(geoip::lookup(t, text4(r.a)), r.cc);
        expect(geoip::lookup(t, text4(r.b)), r.cc);
    }
    n = 0;
    for (const auto& r : t.v6) {
        if (++n > 64) break;
        // ::1 and IPv4-compatible texts aside, the first and last address of the range.
        expect(geoip::lookup(t, text6(r.a, 2)), r.cc);
        expect(geoip::lookup(t, text6(r.b, ~uint64_t(0))), r.cc);
    }
    return 0;
}
