// Wireless link data over generic netlink (nl80211) and the /proc/net/wireless fallback.
//
// Sections: message building · reply walking · legacy table · the conversation · socket.

#include "wifi_info.h"

#include "sysfs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace wifi {
namespace {

// Numbers of the generic-netlink controller and of nl80211 (linux/genetlink.h,
// linux/nl80211.h), spelled out so the walk does not depend on the installed headers.
constexpr uint16_t kGenlIdCtrl = 16;
constexpr uint8_t kCtrlCmdGetFamily = 3;
constexpr uint16_t kCtrlAttrFamilyId = 1;
constexpr uint16_t kCtrlAttrFamilyName = 2;

constexpr uint8_t kCmdGetInterface = 5;
constexpr uint8_t kCmdGetStation = 17;
constexpr uint16_t kAttrIfindex = 3;
constexpr uint16_t kAttrStaInfo = 21;
constexpr uint16_t kAttrWiphyFreq = 38;
constexpr uint16_t kAttrSsid = 52;
constexpr uint16_t kStaInfoSignal = 7;
constexpr uint16_t kStaInfoTxBitrate = 8;
constexpr uint16_t kStaInfoRxBitrate = 14;
constexpr uint16_t kRateInfoBitrate = 1;
constexpr uint16_t kRateInfoBitrate32 = 5;

constexpr uint16_t kMsgError = 2;
constexpr uint16_t kMsgDone = 3;
constexpr uint16_t kFlagRequest = 0x1;
constexpr uint16_t kFlagMulti = 0x2;
constexpr uint16_t kFlagDump = 0x300;
constexpr size_t kHeaderLen = 16;
constexpr size_t kGenlHeaderLen = 4;
// The top two bits of an attribute type are the nested and byte-order flags.
constexpr uint16_t kAttrTypeMask = 0x3FFF;

constexpr size_t kRecvBuffer = 16 * 1024;
constexpr int kRecvTimeoutMs = 300;

std::atomic<uint16_t> g_family{0};

size_t align4(size_t n) {
    return (n + 3) & ~size_t{3};
}

// Netlink speaks host byte order; memcpy keeps unaligned reads of hostile input defined.
uint16_t get_u16(const uint8_t* p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}

uint32_t get_u32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

void put_u16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
    memcpy(&out[at], &v, 2);
}
void put_u32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    memcpy(&out[at], &v, 4);
}

// ---- message building -----------------------------------------------------------------

std::vector<uint8_t> request(uint16_t type, uint16_t flags, uint32_t seq, uint8_t cmd,
                             uint16_t attr, const void* payload, size_t payload_len) {
    const size_t attr_len = 4 + payload_len;
    const size_t total = kHeaderLen + kGenlHeaderLen + align4(attr_len);
    std::vector<uint8_t> out(total, 0);
    put_u32(out, 0, static_cast<uint32_t>(total));
    put_u16(out, 4, type);
    put_u16(out, 6, flags);
    put_u32(out, 8, seq);
    put_u32(out, 12, 0); // pid 0: the kernel fills in our port
    out[16] = cmd;
    out[17] = 1; // version
    put_u16(out, 20, static_cast<uint16_t>(attr_len));
    put_u16(out, 22, attr);
    memcpy(&out[24], payload, payload_len);
    return out;
}

// ---- reply walking --------------------------------------------------------------------

// Calls f(type, payload, payload_len) for each well-formed attribute; stops at the first
// whose length is below the attribute header or runs past the remainder.
template <typename F> void for_each_attr(const uint8_t* p, size_t n, F&& f) {
    size_t off = 0;
    while (off + 4 <= n) {
        const size_t len = get_u16(p + off);
        if (len < 4 || len > n - off) return;
        f(static_cast<uint16_t>(get_u16(p + off + 2) & kAttrTypeMask), p + off + 4, len - 4);
        off += align4(len);
    }
}

// Kernel rates are in units of 100 kbit/s. The 32-bit attribute exists because the 16-bit
// one overflows above 6.5 Gbit/s, so it wins when a driver reports both.
int rate_kbps(const uint8_t* p, size_t n) {
    int64_t result = 0;
    for_each_attr(p, n, [&](uint16_t type, const uint8_t* v, size_t len) {
        if (type == kRateInfoBitrate32 && len >= 4)
            result = int64_t{get_u32(v)} * 100;
        else if (type == kRateInfoBitrate && len >= 2 && result == 0)
            result = int64_t{get_u16(v)} * 100;
    });
    return static_cast<int>(std::min<int64_t>(result, INT_MAX));
}

void station_info(const uint8_t* p, size_t n, net::Interface& iface) {
    for_each_attr(p, n, [&](uint16_t type, const uint8_t* v, size_t len) {
        if (type == kStaInfoSignal && len >= 1)
            iface.signal_dbm = static_cast<int8_t>(v[0]);
        else if (type == kStaInfoTxBitrate)
            iface.tx_bitrate_kbps = rate_kbps(v, len);
        else if (type == kStaInfoRxBitrate)
            iface.rx_bitrate_kbps = rate_kbps(v, len);
    });
}

void message_attrs(const uint8_t* p, size_t n, Reply kind, net::Interface& iface,
                   uint16_t& family) {
    for_each_attr(p, n, [&](uint16_t type, const uint8_t* v, size_t len) {
        switch (kind) {
        case Reply::Family:
            if (type == kCtrlAttrFamilyId && len >= 2) family = get_u16(v);
            break;
        case Reply::Interface:
            if (type == kAttrSsid)
                iface.ssid.assign(reinterpret_cast<const char*>(v), len);
            else if (type == kAttrWiphyFreq && len >= 4)
                iface.freq_mhz = static_cast<int>(std::min<uint32_t>(get_u32(v), INT_MAX));
            break;
        case Reply::Station:
            if (type == kAttrStaInfo) station_info(v, len, iface);
            break;
        }
    });
}

// ---- legacy table ---------------------------------------------------------------------

std::string_view trim_leading_spaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return s;
}

// ---- socket ---------------------------------------------------------------------------

class SocketChannel : public Channel {
public:
    SocketChannel() {
        m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_GENERIC);
        if (m_fd < 0) return;
        // A wedged driver must not stall the sampler's scan for long.
        timeval tv{0, kRecvTimeoutMs * 1000};
        sockaddr_nl addr{};
        addr.nl_family = AF_NETLINK;
        if (setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
            bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~SocketChannel() override {
        if (m_fd >= 0) ::close(m_fd);
    }
    SocketChannel(const SocketChannel&) = delete;
    SocketChannel& operator=(const SocketChannel&) = delete;

    bool ok() const { return m_fd >= 0; }

    bool send(const std::vector<uint8_t>& datagram) override {
        ssize_t n;
        do n = ::send(m_fd, datagram.data(), datagram.size(), 0);
        while (n < 0 && errno == EINTR);
        return n == static_cast<ssize_t>(datagram.size());
    }

    ssize_t recv(uint8_t* buf, size_t cap) override {
        ssize_t n;
        do n = ::recv(m_fd, buf, cap, 0);
        while (n < 0 && errno == EINTR);
        return n;
    }

private:
    int m_fd = -1;
};

// Reads datagrams until the reply is complete or nothing more arrives.
void receive(Channel& channel, Reply kind, net::Interface& iface, uint16_t& family) {
    static_assert(kRecvBuffer % 4 == 0);
    std::vector<uint8_t> buf(kRecvBuffer);
    for (;;) {
        ssize_t n = channel.recv(buf.data(), buf.size());
        if (n <= 0) return;
        const size_t len = std::min(static_cast<size_t>(n), buf.size());
        if (!walk_reply(buf.data(), len, kind, iface, family)) return;
    }
}

void fallback(net::Interface& iface, const std::string& root) {
    if (iface.signal_dbm != 0) return;
    const std::string text = sysfs::read_file(root + "/proc/net/wireless", 1 << 16);
    if (int dbm = proc_wireless_signal(text, iface.name); dbm != 0) iface.signal_dbm = dbm;
}

} // namespace

std::vector<uint8_t> family_request(uint32_t seq) {
    static const char kName[] = "nl80211"; // sent with its NUL
    return request(kGenlIdCtrl, kFlagRequest, seq, kCtrlCmdGetFamily, kCtrlAttrFamilyName, kName,
                   sizeof kName);
}

std::vector<uint8_t> interface_request(uint16_t family, uint32_t seq, int ifindex) {
    const uint32_t idx = static_cast<uint32_t>(ifindex);
    return request(family, kFlagRequest, seq, kCmdGetInterface, kAttrIfindex, &idx, 4);
}

std::vector<uint8_t> station_request(uint16_t family, uint32_t seq, int ifindex) {
    const uint32_t idx = static_cast<uint32_t>(ifindex);
    return request(family, kFlagRequest | kFlagDump, seq, kCmdGetStation, kAttrIfindex, &idx, 4);
}

bool walk_reply(const uint8_t* data, size_t len, Reply kind, net::Interface& iface,
                uint16_t& family) {
    // A datagram that cannot even hold its first message is noise; keep listening.
    if (len < kHeaderLen) return true;
    const size_t first = get_u32(data);
    if (first < kHeaderLen || first > len) return true;

    size_t off = 0;
    while (off + kHeaderLen <= len) {
        const uint8_t* msg = data + off;
        const size_t mlen = get_u32(msg);
        if (mlen < kHeaderLen || mlen > len - off) return true;
        const uint16_t type = get_u16(msg + 4);
        const uint16_t flags = get_u16(msg + 6);
        if (type == kMsgError || type == kMsgDone) return false;
        if (mlen >= kHeaderLen + kGenlHeaderLen) {
            const size_t attrs = kHeaderLen + kGenlHeaderLen;
            message_attrs(msg + attrs, mlen - attrs, kind, iface, family);
        }
        if (!(flags & kFlagMulti)) return false;
        off += align4(mlen);
    }
    return true;
}

int proc_wireless_signal(std::string_view text, std::string_view ifname) {
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);

        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (trim_leading_spaces(line.substr(0, colon)) != ifname) continue;

        // Words: status, link quality, level. Drivers print the level as "-56." and
        // report quality-style numbers or -256 when they have no dBm reading.
        auto words = sysfs::split_ws(std::string(line.substr(colon + 1)));
        if (words.size() < 3) return 0;
        const char* s = words[2].c_str();
        char* end = nullptr;
        errno = 0;
        long level = strtol(s, &end, 10);
        if (end == s || errno == ERANGE) return 0;
        return (level >= -119 && level <= -1) ? static_cast<int>(level) : 0;
    }
    return 0;
}

void query_over(Channel& channel, net::Interface& iface, const std::string& root) {
    uint16_t family = g_family.load(std::memory_order_relaxed);
    uint32_t seq = 1;
    if (family == 0) {
        net::Interface unused;
        if (channel.send(family_request(1))) receive(channel, Reply::Family, unused, family);
        if (family != 0) g_family.store(family, std::memory_order_relaxed);
        seq = 2;
    }
    if (family != 0 && iface.ifindex >= 1) {
        uint16_t ignored = 0;
        if (channel.send(interface_request(family, seq, iface.ifindex)))
            receive(channel, Reply::Interface, iface, ignored);
        if (channel.send(station_request(family, seq + 1, iface.ifindex)))
            receive(channel, Reply::Station, iface, ignored);
    }
    fallback(iface, root);
}

void query(net::Interface& iface, const std::string& root) {
    if (!root.empty()) {
        fallback(iface, root);
        return;
    }
    SocketChannel channel;
    if (!channel.ok()) {
        fallback(iface, root);
        return;
    }
    query_over(channel, iface, root);
}

uint16_t cached_family() {
    return g_family.load(std::memory_order_relaxed);
}

void forget_family() {
    g_family.store(0, std::memory_order_relaxed);
}

} // namespace wifi
