// Netlink datagrams built byte by byte for the parsers' tests.
#pragma once

#include <cstdint>
#include <string>

namespace nl {

template <typename T> std::string raw(T v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

inline std::string pad4(std::string s) {
    s.resize((s.size() + 3) & ~size_t{3}, '\0');
    return s;
}

// One attribute padded to 4 bytes; `type` may carry the nested and byte-order flag bits.
inline std::string attr(uint16_t type, const std::string& payload) {
    return pad4(raw(static_cast<uint16_t>(4 + payload.size())) + raw(type) + payload);
}

// One message padded to 4 bytes: the 16-byte header, with the true length unless `len` is
// given, then the body.
inline std::string msg(uint16_t type, uint16_t flags, const std::string& body, int64_t len = -1) {
    const auto n = static_cast<uint32_t>(len >= 0 ? len : static_cast<int64_t>(16 + body.size()));
    return pad4(raw(n) + raw(type) + raw(flags) + std::string(8, '\0') + body);
}

} // namespace nl
