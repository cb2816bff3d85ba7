// Wireless link data: request bytes, reply walking over crafted nl80211 datagrams, the
// conversation rules (family cache, sequence numbers, fallback) and the legacy table.
#include "cli.h"
#include "support/support.h"
#include "wifi_info.h"

#include <bit>
#include <climits>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

namespace {

static_assert(std::endian::native == std::endian::little, "literal byte strings below");

constexpr uint16_t kFamily = 0x1c;
constexpr uint16_t kMulti = 0x2;

void append(Bytes& out, const void* p, size_t n) {
    const size_t at = out.size();
    out.resize(at + n);
    memcpy(out.data() + at, p, n);
}

Bytes u8(uint8_t v) {
    return {v};
}
Bytes u16(uint16_t v) {
    Bytes b(2);
    memcpy(b.data(), &v, 2);
    return b;
}
Bytes u32(uint32_t v) {
    Bytes b(4);
    memcpy(b.data(), &v, 4);
    return b;
}
Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// One attribute, padded to 4 bytes. `type` may carry the nested/byte-order flag bits.
Bytes attr(uint16_t type, const Bytes& payload) {
    Bytes out = u16(static_cast<uint16_t>(4 + payload.size()));
    append(out, &type, 2);
    out.insert(out.end(), payload.begin(), payload.end());
    out.resize((out.size() + 3) & ~size_t{3}, 0);
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// One netlink message with a generic header; `len` overrides the length field.
Bytes msg(uint16_t type, uint16_t flags, const Bytes& attrs, uint32_t len = 0) {
    Bytes out = u32(len ? len : static_cast<uint32_t>(20 + attrs.size()));
    append(out, &type, 2);
    append(out, &flags, 2);
    out.resize(16, 0);
    out.insert(out.end(), {7, 1, 0, 0});
    out.insert(out.end(), attrs.begin(), attrs.end());
    return out;
}

Bytes done() {
    return msg(3, kMulti, {});
}

Bytes station(int8_t signal, const Bytes& tx, const Bytes& rx, uint16_t info_type = 21) {
    return attr(info_type,
                cat({attr(7, u8(static_cast<uint8_t>(signal))), attr(8, tx), attr(14, rx)}));
}

bool walk(const Bytes& d, wifi::Reply kind, net::Interface& r, uint16_t& family) {
    return wifi::walk_reply(d.data(), d.size(), kind, r, family);
}

bool walk(const Bytes& d, wifi::Reply kind, net::Interface& r) {
    uint16_t family = 0;
    return walk(d, kind, r, family);
}

TEST(WifiMessages, RequestBytes) {
    EXPECT_EQ(wifi::family_request(1),
              (Bytes{32, 0, 0, 0, 16, 0, 1, 0, 1,   0,   0,   0,   0,   0,   0,   0,
                     3,  1, 0, 0, 12, 0, 2, 0, 'n', 'l', '8', '0', '2', '1', '1', 0}));
    EXPECT_EQ(wifi::interface_request(kFamily, 2, 3),
              (Bytes{28, 0, 0, 0, 0x1c, 0, 1, 0, 2, 0, 0, 0, 0, 0,
                     0,  0, 5, 1, 0,    0, 8, 0, 3, 0, 3, 0, 0, 0}));
    EXPECT_EQ(wifi::station_request(kFamily, 3, 0x01020304),
              (Bytes{28, 0, 0,  0, 0x1c, 0, 1, 3, 3, 0, 0, 0, 0, 0,
                     0,  0, 17, 1, 0,    0, 8, 0, 3, 0, 4, 3, 2, 1}));
}

TEST(WifiReplies, FamilyAndInterfaceAttributes) {
    net::Interface r;
    uint16_t family = 0;
    // The controller's answer: name, then the id with the byte-order flag bit set.
    Bytes reply = msg(16, 0,
                      cat({attr(2, text(std::string("nl80211\0", 8))),
                           attr(0x4000 | 1, u16(kFamily)), attr(52, text("zz"))}));
    EXPECT_FALSE(walk(reply, wifi::Reply::Family, r, family)) << "a single message ends";
    EXPECT_EQ(family, kFamily);
    EXPECT_EQ(r.ssid, "") << "attribute 52 means nothing in a family reply";

    // SSID bytes are copied verbatim (UTF-8, a control byte, a NUL); its odd length makes
    // the frequency start after padding.
    const std::string ssid("Caf\xC3\xA9\x01\0x", 8);
    reply = msg(kFamily, 0, cat({attr(52, text(ssid)), attr(0x8000 | 38, u32(5180))}));
    EXPECT_FALSE(walk(reply, wifi::Reply::Interface, r, family));
    EXPECT_EQ(r.ssid, ssid);
    EXPECT_EQ(r.freq_mhz, 5180);
    EXPECT_EQ(family, kFamily);

    // A frequency too short to hold 32 bits is ignored.
    net::Interface s;
    walk(msg(kFamily, 0, attr(38, u16(2412))), wifi::Reply::Interface, s);
    EXPECT_EQ(s.freq_mhz, 0);
}

TEST(WifiReplies, StationDumpAcrossDatagrams) {
    net::Interface r;
    // Station A: only the 16-bit transmit rate; receive has both (32-bit after 16-bit).
    Bytes a = msg(kFamily, kMulti,
                  station(-70, attr(1, u16(540)), cat({attr(1, u16(650)), attr(5, u32(8667))})));
    // Station B, nested flag on the info list: both rates with the 32-bit one first.
    Bytes b = msg(kFamily, kMulti,
                  station(-45, cat({attr(5, u32(24019)), attr(1, u16(1))}), attr(1, u16(65535)),
                          0x8000 | 21));
    EXPECT_TRUE(walk(cat({a}), wifi::Reply::Station, r)) << "multi-part without done goes on";
    EXPECT_EQ(r.signal_dbm, -70);
    EXPECT_EQ(r.tx_bitrate_kbps, 54000);
    EXPECT_EQ(r.rx_bitrate_kbps, 866700);

    EXPECT_TRUE(walk(b, wifi::Reply::Station, r));
    EXPECT_EQ(r.signal_dbm, -45) << "the last station read wins";
    EXPECT_EQ(r.tx_bitrate_kbps, 2401900);
    EXPECT_EQ(r.rx_bitrate_kbps, 6553500);

    // Two stations in one datagram followed by done: the walk reads both, then stops.
    net::Interface t;
    EXPECT_FALSE(walk(cat({b, a, done()}), wifi::Reply::Station, t));
    EXPECT_EQ(t.signal_dbm, -70);
    EXPECT_EQ(t.rx_bitrate_kbps, 866700);

    // A message whose length is not a multiple of 4 is followed by one at the next
    // aligned offset.
    // Station info (9 bytes) holding the one-byte signal, unpadded; the message is 29 bytes.
    Bytes odd = msg(kFamily, kMulti, cat({u16(9), u16(21), u16(5), u16(7), u8(0xC4)}));
    ASSERT_EQ(odd.size(), 29u);
    odd.resize(32, 0xEE);
    net::Interface u;
    EXPECT_FALSE(walk(cat({odd, done()}), wifi::Reply::Station, u));
    EXPECT_EQ(u.signal_dbm, -60);

    // A 32-bit rate beyond what fits in kbit/s saturates instead of overflowing.
    net::Interface v;
    walk(msg(kFamily, 0, station(-50, attr(5, u32(0xFFFFFFFF)), {})), wifi::Reply::Station, v);
    EXPECT_EQ(v.tx_bitrate_kbps, INT_MAX);
}

TEST(WifiReplies, EndAndHostileDatagrams) {
    const Bytes sta = msg(kFamily, kMulti, station(-61, attr(1, u16(10)), {}));
    net::Interface r;
    // Error and done end the reply before anything after them is read.
    EXPECT_FALSE(
        walk(cat({msg(2, 0, u32(static_cast<uint32_t>(-19))), sta}), wifi::Reply::Station, r));
    EXPECT_FALSE(walk(cat({done(), sta}), wifi::Reply::Station, r));
    EXPECT_EQ(r.signal_dbm, 0);
    // Without the multi-part flag the first message is the whole reply.
    EXPECT_FALSE(walk(cat({msg(kFamily, 0, {}), sta}), wifi::Reply::Station, r));
    EXPECT_EQ(r.signal_dbm, 0);

    // Short or inconsistent datagrams are skipped and the reply is still awaited.
    EXPECT_TRUE(walk(Bytes(sta.begin(), sta.begin() + 15), wifi::Reply::Station, r));
    EXPECT_TRUE(walk(Bytes(sta.begin(), sta.end() - 4), wifi::Reply::Station, r));
    EXPECT_TRUE(walk(msg(kFamily, kMulti, {}, 12), wifi::Reply::Station, r));
    EXPECT_TRUE(walk(Bytes{}, wifi::Reply::Station, r));
    EXPECT_EQ(r.signal_dbm, 0);

    // A truncated second message: the first counts, the rest is dropped.
    Bytes two = cat({sta, msg(kFamily, kMulti, station(-33, {}, {}))});
    two.resize(two.size() - 8);
    EXPECT_TRUE(walk(two, wifi::Reply::Station, r));
    EXPECT_EQ(r.signal_dbm, -61);

    // Attribute walks stop at a length below 4 or past the end; what came before stays.
    net::Interface s;
    Bytes bad_len = cat({attr(52, text("net")), u16(3), u16(38), u32(2412)});
    walk(msg(kFamily, 0, bad_len), wifi::Reply::Interface, s);
    EXPECT_EQ(s.ssid, "net");
    EXPECT_EQ(s.freq_mhz, 0);
    Bytes overrun = cat({attr(38, u32(2437)), u16(40), u16(52), text("abcd")});
    walk(msg(kFamily, 0, overrun), wifi::Reply::Interface, s);
    EXPECT_EQ(s.freq_mhz, 2437);
    EXPECT_EQ(s.ssid, "net");
    // An empty signal attribute reports nothing.
    net::Interface t;
    walk(msg(kFamily, 0, attr(21, attr(7, {}))), wifi::Reply::Station, t);
    EXPECT_EQ(t.signal_dbm, 0);
}

TEST(WifiLegacyTable, SignalLevels) {
    const std::string head = "Inter-| sta-|   Quality        |   Discarded packets\n"
                             " face | tus | link level noise |  nwid  crypt   frag\n";
    struct Case {
        const char* line;
        int want;
    } cases[] = {
        {" wlan0: 0000   54.  -56.  -256        0      0\n", -56},
        {" wlan0: 0000   54.  -256.  -256       0      0\n", 0},
        {" wlan0: 0000    0.     0.  -256       0      0\n", 0},
        {" wlan0: 0000   70.    60.  0          0      0\n", 0},
        {" wlan0: 0000   10.  -119   -256       0      0\n", -119},
        {" wlan0: 0000   10.  -120.  -256       0      0\n", 0},
        {" wlan0: 0000   10.    -1.  -256       0      0\n", -1},
        {"wlan0: 0000 10.\n", 0},
        {" wlan0: 0000 10. level\n", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wifi::proc_wireless_signal(head + c.line, "wlan0"), c.want) << c.line;

    const std::string two = head + " wlan01: 0000 50. -40. 0\n   wlan0: 0000 50. -71. 0";
    EXPECT_EQ(wifi::proc_wireless_signal(two, "wlan0"), -71) << "exact name, no final newline";
    EXPECT_EQ(wifi::proc_wireless_signal(two, "wlan1"), 0);
    EXPECT_EQ(wifi::proc_wireless_signal("", "wlan0"), 0);
}

// Plays the kernel's side: records requests and answers with queued datagrams.
class ScriptedChannel : public wifi::Channel {
public:
    std::vector<Bytes> sent;
    std::deque<Bytes> replies;
    bool send(const Bytes& d) override {
        sent.push_back(d);
        return true;
    }
    ssize_t recv(uint8_t* buf, size_t cap) override {
        if (replies.empty()) return -1; // the receive timeout
        Bytes d = replies.front();
        replies.pop_front();
        size_t n = std::min(cap, d.size());
        memcpy(buf, d.data(), n);
        return static_cast<ssize_t>(n);
    }
    uint32_t seq(size_t i) const {
        uint32_t v;
        memcpy(&v, sent.at(i).data() + 8, 4);
        return v;
    }
    uint16_t type(size_t i) const {
        uint16_t v;
        memcpy(&v, sent.at(i).data() + 4, 2);
        return v;
    }
};

net::Interface wlan(int ifindex = 3) {
    net::Interface r;
    r.name = "wlan0";
    r.ifindex = ifindex;
    return r;
}

TEST(WifiConversation, FamilyIsLookedUpOnceAndSequencesFollow) {
    wifi::forget_family();
    ScriptedChannel ch;
    ch.replies = {msg(16, 0, attr(1, u16(kFamily))),
                  msg(kFamily, 0, cat({attr(52, text("home")), attr(38, u32(2437))})),
                  msg(kFamily, kMulti, station(-52, attr(1, u16(720)), attr(5, u32(1200)))),
                  done()};
    net::Interface r = wlan();
    // The fixture's legacy table says -56; nl80211's answer must be kept.
    wifi::query_over(ch, r, testsupport::fixture("wifi"));
    ASSERT_EQ(ch.sent.size(), 3u);
    EXPECT_EQ(ch.sent[0], wifi::family_request(1));
    EXPECT_EQ(ch.sent[1], wifi::interface_request(kFamily, 2, 3));
    EXPECT_EQ(ch.sent[2], wifi::station_request(kFamily, 3, 3));
    EXPECT_EQ(wifi::cached_family(), kFamily);
    EXPECT_EQ(r.ssid, "home");
    EXPECT_EQ(r.freq_mhz, 2437);
    EXPECT_EQ(r.signal_dbm, -52);
    EXPECT_EQ(r.tx_bitrate_kbps, 72000);
    EXPECT_EQ(r.rx_bitrate_kbps, 120000);

    // Second query: cached id, numbering starts at 1 again. A disconnected card: the dump
    // is empty, so the legacy table supplies the signal.
    ScriptedChannel again;
    again.replies = {msg(kFamily, 0, attr(38, u32(5200))), done()};
    net::Interface s = wlan();
    wifi::query_over(again, s, testsupport::fixture("wifi"));
    ASSERT_EQ(again.sent.size(), 2u);
    EXPECT_EQ(again.type(0), kFamily);
    EXPECT_EQ(again.seq(0), 1u);
    EXPECT_EQ(again.seq(1), 2u);
    EXPECT_EQ(s.freq_mhz, 5200);
    EXPECT_EQ(s.signal_dbm, -56);
}

TEST(WifiConversation, FailuresFallBackToTheLegacyTable) {
    // No nl80211 in this kernel: the controller answers with an error.
    wifi::forget_family();
    ScriptedChannel ch;
    ch.replies = {msg(2, 0, u32(static_cast<uint32_t>(-2)))};
    net::Interface r = wlan();
    wifi::query_over(ch, r, testsupport::fixture("wifi"));
    EXPECT_EQ(ch.sent.size(), 1u);
    EXPECT_EQ(wifi::cached_family(), 0) << "a failed lookup is not cached";
    EXPECT_EQ(r.signal_dbm, -56);
    EXPECT_EQ(r.ssid, "");

    // A silent kernel (every receive times out) and no legacy file: nothing is set.
    ScriptedChannel quiet;
    net::Interface s = wlan();
    wifi::query_over(quiet, s, "/nonexistent");
    EXPECT_EQ(quiet.sent.size(), 1u);
    EXPECT_EQ(s.signal_dbm, 0);

    // Without an interface index only the family is asked for.
    ScriptedChannel no_index;
    no_index.replies = {msg(16, 0, attr(1, u16(kFamily)))};
    net::Interface t = wlan(0);
    wifi::query_over(no_index, t, testsupport::fixture("wifi"));
    EXPECT_EQ(no_index.sent.size(), 1u);
    EXPECT_EQ(t.signal_dbm, -56);
}

TEST(WifiScan, OnlyWirelessRecordsGetSignal) {
    // Fixture: wlan0 (DEVTYPE=wlan) and a wired eth0, both listed in /proc/net/wireless.
    auto list = net::scan_interfaces(testsupport::fixture("wifi"), {});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "eth0");
    EXPECT_EQ(list[0].signal_dbm, 0);
    EXPECT_EQ(cli::interface_line(list[0]).find("signal="), std::string::npos);
    EXPECT_EQ(list[1].kind, net::Kind::Wireless);
    EXPECT_NE(cli::interface_line(list[1]).find(" signal=-56"), std::string::npos);

    // The benchmark's basic scan leaves the wireless and hardware queries out.
    auto basic = net::scan_interfaces(testsupport::fixture("wifi"), {}, net::Details::Basic);
    ASSERT_EQ(basic.size(), 2u);
    EXPECT_EQ(basic[1].signal_dbm, 0);
    EXPECT_EQ(basic[1].hw.txqueuelen, 0);
    EXPECT_EQ(list[1].hw.txqueuelen, 1000);

    list[1].ssid = std::string("caf\xC3\xA9\x1B[2J", 9);
    EXPECT_NE(cli::interface_line(list[1]).find(" ssid=caf\xC3\xA9\\x1B[2J "), std::string::npos);
}

} // namespace
