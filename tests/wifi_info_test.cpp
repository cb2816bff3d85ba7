// Wireless link data: request bytes, reply walking over crafted nl80211 datagrams, the
// family cache and sequence numbers, and the legacy /proc/net/wireless table.
#include "cli.h"
#include "support/netlink.h"
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
constexpr uint16_t kFam = 0x1c;
constexpr uint16_t kMulti = 0x2;

using nl::attr;
using nl::raw;
using namespace std::string_literals;

// One netlink message with a generic header (command 7, version 1).
std::string msg(uint16_t type, uint16_t flags, const std::string& attrs) {
    return nl::msg(type, flags, "\x07\x01\0\0"s + attrs);
}
const std::string kDone = msg(3, kMulti, "");
std::string station(int8_t signal, const std::string& tx, const std::string& rx,
                    uint16_t info = 21) {
    return attr(info, attr(7, raw(signal)) + attr(8, tx) + attr(14, rx));
}
net::Interface wlan0(int ifindex = 3) {
    net::Interface r;
    r.name = "wlan0";
    r.ifindex = ifindex;
    return r;
}
bool walk(const std::string& d, wifi::Reply kind, net::Interface& r, uint16_t* family = nullptr) {
    uint16_t ignored = 0;
    return wifi::walk_reply(reinterpret_cast<const uint8_t*>(d.data()), d.size(), kind, r,
                            family ? *family : ignored);
}

TEST(WifiMessages, RequestBytes) {
    EXPECT_EQ(wifi::family_request(1),
              (Bytes{32, 0, 0, 0, 16, 0, 1, 0, 1,   0,   0,   0,   0,   0,   0,   0,
                     3,  1, 0, 0, 12, 0, 2, 0, 'n', 'l', '8', '0', '2', '1', '1', 0}));
    EXPECT_EQ(wifi::interface_request(kFam, 2, 3),
              (Bytes{28, 0, 0, 0, 0x1c, 0, 1, 0, 2, 0, 0, 0, 0, 0,
                     0,  0, 5, 1, 0,    0, 8, 0, 3, 0, 3, 0, 0, 0}));
    EXPECT_EQ(wifi::station_request(kFam, 3, 0x01020304),
              (Bytes{28, 0, 0,  0, 0x1c, 0, 1, 3, 3, 0, 0, 0, 0, 0,
                     0,  0, 17, 1, 0,    0, 8, 0, 3, 0, 4, 3, 2, 1}));
}

TEST(WifiReplies, FamilyAndInterface) {
    net::Interface r;
    uint16_t family = 0;
    // The id arrives with the byte-order flag bit set; 52 means nothing to the controller.
    const std::string reply =
        msg(16, 0, attr(2, {"nl80211", 8}) + attr(0x4000 | 1, raw(kFam)) + attr(52, "zz"));
    EXPECT_FALSE(walk(reply, wifi::Reply::Family, r, &family));
    EXPECT_EQ(family, kFam);
    EXPECT_EQ(r.ssid, "");

    // SSID bytes verbatim (UTF-8, a control byte, a NUL); its odd length puts the
    // frequency after padding. A frequency of only 16 bits is ignored.
    const std::string ssid("Caf\xC3\xA9\x01\0x", 8);
    EXPECT_FALSE(walk(msg(kFam, 0, attr(52, ssid) + attr(0x8000 | 38, raw(5180u))),
                      wifi::Reply::Interface, r));
    EXPECT_EQ(r.ssid, ssid);
    EXPECT_EQ(r.freq_mhz, 5180);
    walk(msg(kFam, 0, attr(38, raw<uint16_t>(2412))), wifi::Reply::Interface, r);
    EXPECT_EQ(r.freq_mhz, 5180);
}

TEST(WifiReplies, StationDump) {
    // A: only the 16-bit transmit rate; receive has both, the 32-bit one last.
    // B (nested flag on the info list): both rates with the 32-bit one first.
    const std::string a = msg(kFam, kMulti,
                              station(-70, attr(1, raw<uint16_t>(540)),
                                      attr(1, raw<uint16_t>(650)) + attr(5, raw(8667u))));
    const std::string b = msg(kFam, kMulti,
                              station(-45, attr(5, raw(24019u)) + attr(1, raw<uint16_t>(1)),
                                      attr(1, raw<uint16_t>(65535)), 0x8000 | 21));
    auto fields = [](const net::Interface& i) {
        return std::to_string(i.signal_dbm) + " " + std::to_string(i.tx_bitrate_kbps) + " " +
               std::to_string(i.rx_bitrate_kbps);
    };
    net::Interface r;
    EXPECT_TRUE(walk(a, wifi::Reply::Station, r)) << "multi-part without done goes on";
    EXPECT_EQ(fields(r), "-70 54000 866700");
    EXPECT_TRUE(walk(b, wifi::Reply::Station, r));
    EXPECT_EQ(fields(r), "-45 2401900 6553500") << "the last station read wins";

    // Several stations and done in one datagram.
    net::Interface s;
    EXPECT_FALSE(walk(b + a + kDone, wifi::Reply::Station, s));
    EXPECT_EQ(s.signal_dbm, -70);

    // A 29-byte message (unpadded one-byte signal) is followed by done at offset 32.
    std::string odd =
        msg(kFam, kMulti,
            raw<uint16_t>(9) + raw<uint16_t>(21) + raw<uint16_t>(5) + raw<uint16_t>(7) + "\xC4");
    odd.replace(29, 3, "\xEE\xEE\xEE"); // padding the reader must not take for anything
    net::Interface t;
    EXPECT_FALSE(walk(odd + kDone, wifi::Reply::Station, t));
    EXPECT_EQ(t.signal_dbm, -60);

    // A 32-bit rate too large for kbit/s in an int saturates.
    walk(msg(kFam, 0, station(-50, attr(5, raw(0xFFFFFFFFu)), "")), wifi::Reply::Station, t);
    EXPECT_EQ(t.tx_bitrate_kbps, INT_MAX);
}

TEST(WifiReplies, EndAndHostileDatagrams) {
    const std::string sta = msg(kFam, kMulti, station(-61, attr(1, raw<uint16_t>(10)), ""));
    net::Interface r;
    // Error, done, and a message without the multi-part flag each end the reply.
    EXPECT_FALSE(walk(msg(2, 0, raw(-19)) + sta, wifi::Reply::Station, r));
    EXPECT_FALSE(walk(kDone + sta, wifi::Reply::Station, r));
    EXPECT_FALSE(walk(msg(kFam, 0, "") + sta, wifi::Reply::Station, r));
    // Short datagrams and inconsistent first lengths are skipped; the reply goes on.
    std::string short_len = sta;
    short_len[0] = 12;
    for (const std::string& d : {""s, sta.substr(0, 15), sta.substr(0, sta.size() - 4), short_len})
        EXPECT_TRUE(walk(d, wifi::Reply::Station, r));
    EXPECT_EQ(r.signal_dbm, 0);

    // A truncated second message: the first counts.
    std::string two = sta + msg(kFam, kMulti, station(-33, "", ""));
    two.resize(two.size() - 8);
    EXPECT_TRUE(walk(two, wifi::Reply::Station, r));
    EXPECT_EQ(r.signal_dbm, -61);

    // Attribute walks stop at a length below 4 or past the end; what came before stays.
    net::Interface s;
    walk(msg(kFam, 0, attr(52, "net") + raw<uint16_t>(3) + raw<uint16_t>(38) + raw(2412u)),
         wifi::Reply::Interface, s);
    EXPECT_EQ(s.ssid, "net");
    EXPECT_EQ(s.freq_mhz, 0);
    walk(msg(kFam, 0, attr(38, raw(2437u)) + raw<uint16_t>(40) + raw<uint16_t>(52)),
         wifi::Reply::Interface, s);
    EXPECT_EQ(s.freq_mhz, 2437);
    EXPECT_EQ(s.ssid, "net");
    walk(msg(kFam, 0, attr(21, attr(7, ""))), wifi::Reply::Station, s);
    EXPECT_EQ(s.signal_dbm, 0) << "an empty signal attribute";
}

TEST(WifiLegacyTable, SignalLevels) {
    const std::string head = "Inter-| sta-|   Quality        |   Discarded packets\n"
                             " face | tus | link level noise |  nwid  crypt   frag\n";
    const std::pair<const char*, int> cases[] = {
        {" wlan0: 0000   54.  -56.  -256  0\n", -56},
        {" wlan0: 0000   54.  -256.  -256\n", 0},
        {" wlan0: 0000    0.     0.  -256\n", 0},
        {" wlan0: 0000   70.    60.  0\n", 0},
        {" wlan0: 0000   10.  -119   -256\n", -119},
        {" wlan0: 0000   10.  -120.  -256\n", 0},
        {" wlan0: 0000   10.    -1.  -256\n", -1},
        {"wlan0: 0000 10.\n", 0},
        {" wlan0: 0000 10. level\n", 0},
    };
    for (const auto& [line, want] : cases)
        EXPECT_EQ(wifi::proc_wireless_signal(head + line, "wlan0"), want) << line;
    const std::string two = head + " wlan01: 0000 50. -40. 0\n   wlan0: 0000 50. -71. 0";
    EXPECT_EQ(wifi::proc_wireless_signal(two, "wlan0"), -71) << "exact name, no final newline";
    EXPECT_EQ(wifi::proc_wireless_signal(two, "wlan1"), 0);
}

// Plays the kernel's side: records requests, answers with queued datagrams, then times out.
struct ScriptedChannel : wifi::Channel {
    std::vector<Bytes> sent;
    std::deque<std::string> replies;
    bool send(const Bytes& d) override {
        sent.push_back(d);
        return true;
    }
    ssize_t recv(uint8_t* buf, size_t cap) override {
        if (replies.empty()) return -1;
        const size_t n = std::min(cap, replies.front().size());
        memcpy(buf, replies.front().data(), n);
        replies.pop_front();
        return static_cast<ssize_t>(n);
    }
};

// Runs one query over a channel that answers with `replies`; returns what was sent.
std::vector<Bytes> converse(std::deque<std::string> replies, net::Interface& r,
                            const std::string& root = testsupport::fixture("wifi")) {
    ScriptedChannel ch;
    ch.replies = std::move(replies);
    wifi::query_over(ch, r, root);
    return ch.sent;
}

TEST(WifiConversation, FamilyCacheSequencesAndFallback) {
    // The fixture's /proc/net/wireless gives wlan0 -56 dBm.
    wifi::forget_family();
    net::Interface r = wlan0(), s = wlan0(), t = wlan0(), u = wlan0(0);
    EXPECT_EQ(converse({msg(16, 0, attr(1, raw(kFam))),
                        msg(kFam, 0, attr(52, "home") + attr(38, raw(2437u))),
                        msg(kFam, kMulti, station(-52, attr(1, raw<uint16_t>(720)), "")), kDone},
                       r),
              (std::vector<Bytes>{wifi::family_request(1), wifi::interface_request(kFam, 2, 3),
                                  wifi::station_request(kFam, 3, 3)}));
    EXPECT_EQ(wifi::cached_family(), kFam);
    EXPECT_EQ(r.ssid, "home");
    EXPECT_EQ(r.signal_dbm, -52) << "nl80211's signal is kept over the legacy table";

    // Cached id: numbering restarts at 1. A disconnected card's empty dump leaves the
    // signal to the legacy table.
    EXPECT_EQ(converse({msg(kFam, 0, attr(38, raw(5200u))), kDone}, s),
              (std::vector<Bytes>{wifi::interface_request(kFam, 1, 3),
                                  wifi::station_request(kFam, 2, 3)}));
    EXPECT_EQ(s.signal_dbm, -56);

    // No nl80211: an error is not cached and only the legacy table answers.
    wifi::forget_family();
    EXPECT_EQ(converse({msg(2, 0, raw(-2))}, t).size(), 1u);
    EXPECT_EQ(wifi::cached_family(), 0);
    EXPECT_EQ(t.signal_dbm, -56);

    // Without an interface index only the family is asked for; no legacy file, no signal.
    EXPECT_EQ(converse({msg(16, 0, attr(1, raw(kFam)))}, u, "/nonexistent").size(), 1u);
    EXPECT_EQ(u.signal_dbm, 0);
}

TEST(WifiScan, OnlyWirelessRecordsGetSignal) {
    // Fixture: wlan0 (DEVTYPE=wlan) and a wired eth0, both listed in /proc/net/wireless.
    auto list = net::scan_interfaces(testsupport::fixture("wifi"), {});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(cli::interface_line(list[0]).find("signal="), std::string::npos);
    EXPECT_NE(cli::interface_line(list[1]).find(" signal=-56"), std::string::npos);
    EXPECT_EQ(list[1].hw.txqueuelen, 1000);

    // The benchmark's basic scan leaves the wireless and hardware queries out.
    auto basic = net::scan_interfaces(testsupport::fixture("wifi"), {}, net::Details::Basic);
    EXPECT_EQ(basic.at(1).signal_dbm, 0);
    EXPECT_EQ(basic.at(1).hw.txqueuelen, 0);
}

} // namespace
