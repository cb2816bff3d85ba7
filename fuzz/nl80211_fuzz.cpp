// Hostile nl80211 replies: the first byte picks the request the reply answers, the rest is
// a series of datagrams, each preceded by its 16-bit little-endian length.
#include "wifi_info.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto kind = static_cast<wifi::Reply>(data[0] % 3);
    net::Interface iface;
    uint16_t family = 0;
    size_t off = 1;
    while (off + 2 <= size) {
        size_t len = static_cast<size_t>(data[off]) | static_cast<size_t>(data[off + 1]) << 8;
        off += 2;
        len = std::min(len, size - off);
        // A copy of exactly the datagram, so any read past its end is caught.
        std::vector<uint8_t> datagram(data + off, data + off + len);
        off += len;
        if (!wifi::walk_reply(datagram.data(), datagram.size(), kind, iface, family)) break;
    }
    // Every signal comes from one signed byte; anything else is a walk that went astray.
    if (iface.signal_dbm < -128 || iface.signal_dbm > 127) __builtin_trap();
    if (iface.tx_bitrate_kbps < 0 || iface.rx_bitrate_kbps < 0 || iface.freq_mhz < 0)
        __builtin_trap();
    return 0;
}
