// Builds country table files byte by byte for the tests, independently of the reader's
// record structures, so a layout mistake in either shows up as a mismatch.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <string>
#include <vector>

namespace geoiptest {

struct V4 {
    std::string first, last, cc; // dotted addresses
};
struct V6 {
    uint64_t first, last; // /64 prefixes
    std::string cc;
};

inline uint32_t ip4(const std::string& text) {
    unsigned char b[4] = {};
    inet_pton(AF_INET, text.c_str(), b);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

// The upper 64 bits of an IPv6 address.
inline uint64_t prefix6(const std::string& text) {
    unsigned char b[16] = {};
    inet_pton(AF_INET6, text.c_str(), b);
    uint64_t p = 0;
    for (int i = 0; i < 8; ++i) p = (p << 8) | b[i];
    return p;
}

inline void put_le(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

inline std::string table_bytes(const std::vector<V4>& v4, const std::vector<V6>& v6) {
    std::string out = "VMGEO1";
    out += std::string("\x07\x09", 2); // two bytes the reader must ignore
    put_le(out, v4.size(), 4);
    for (const auto& r : v4) {
        put_le(out, ip4(r.first), 4);
        put_le(out, ip4(r.last), 4);
        out += r.cc.substr(0, 2);
    }
    put_le(out, v6.size(), 4);
    for (const auto& r : v6) {
        put_le(out, r.first, 8);
        put_le(out, r.last, 8);
        out += r.cc.substr(0, 2);
    }
    return out;
}

} // namespace geoiptest
