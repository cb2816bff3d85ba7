// The country table: file checks, lookups with the private ranges, the once-only loader
// over its candidate paths, concurrent first use, and the real table built by set-up.
#include "data/country_data.h"
#include "geoip.h"
#include "logger.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::in_child;
using testsupport::le;
using testsupport::Report;
using testsupport::TempDir;

namespace {

// Table files are built byte by byte here, independently of the reader's record
// structures, so a layout mistake in either shows up as a mismatch.
struct V4 {
    std::string first, last, cc; // dotted addresses
};
struct V6 {
    uint64_t first, last; // /64 prefixes
    std::string cc;
};

// The upper 64 bits of an IPv6 address, or the IPv4 address, as a number.
uint64_t number(const std::string& text, int family = AF_INET6) {
    unsigned char b[16] = {};
    inet_pton(family, text.c_str(), b);
    uint64_t p = 0;
    for (int i = 0; i < (family == AF_INET ? 4 : 8); ++i) p = (p << 8) | b[i];
    return p;
}

std::string table_bytes(const std::vector<V4>& v4, const std::vector<V6>& v6) {
    std::string out = "VMGEO1\x07\x09"; // two bytes the reader must ignore
    out += le(v4.size(), 4);
    for (const auto& r : v4)
        out += le(number(r.first, AF_INET), 4) + le(number(r.last, AF_INET), 4) + r.cc.substr(0, 2);
    out += le(v6.size(), 4);
    for (const auto& r : v6) out += le(r.first, 8) + le(r.last, 8) + r.cc.substr(0, 2);
    return out;
}

// A gap below the first range and between ranges; two IPv6 ranges.
std::string small_table() {
    return table_bytes({{"2.0.0.0", "2.0.0.255", "AU"},
                        {"2.0.4.0", "2.0.7.255", "CN"},
                        {"8.8.8.0", "8.8.8.255", "US"}},
                       {{number("2001:200::"), number("2001:200:ffff:ffff::"), "JP"},
                        {number("2a00:1::"), number("2a00:1::"), "DE"}});
}

// Log lines containing `level` and ending in `text`.
int logged(const std::string& level, const std::string& text = "") {
    int n = 0;
    for (const auto& line : logger::tail(200))
        n += line.find(level) != std::string::npos && line.ends_with(text);
    return n;
}

void clear_search_env() {
    unsetenv("VELM_GEOIP");
    unsetenv("SNAP");
    unsetenv("APPDIR");
}

std::string real_table_path() {
    return std::string(VELMORA_BUILD_DIR) + "/share/velmora/geoip.bin";
}

} // namespace

// ---- File checks ---------------------------------------------------------------------

// The record layout is checked through lookups in the small table (GeoipLookup).
TEST(GeoipParse, RejectsShortWrongMagicTruncatedAndWrappingCounts) {
    const std::string good = small_table();
    geoip::Table t;
    // Empty sections are a valid table; bytes after the sections are ignored.
    ASSERT_TRUE(geoip::parse(table_bytes({}, {}), t));
    EXPECT_TRUE(t.v4.empty() && t.v6.empty());
    ASSERT_TRUE(geoip::parse(good + "trailing", t));
    EXPECT_EQ(t.v4.size() + t.v6.size(), 5u);
    std::string magic = good;
    magic[5] = '2';
    EXPECT_FALSE(geoip::parse(magic, t));
    EXPECT_FALSE(geoip::parse("vmgeo1" + good.substr(6), t));
    // Cut anywhere (too short, inside the IPv4 section, the IPv6 count or the IPv6 section)
    // the file is rejected whole, and the output keeps its previous content.
    for (size_t len = 0; len < good.size(); ++len) {
        geoip::Table keep;
        keep.v4.push_back({1, 2, {'Q', 'Q'}});
        EXPECT_FALSE(geoip::parse(good.substr(0, len), keep)) << "cut to " << len << " bytes";
        EXPECT_TRUE(keep.v4.size() == 1 && keep.v6.empty());
    }
    // 10 x 0x1999999A is 0x1_0000_0004: in 32-bit arithmetic the IPv4 section would seem
    // 4 bytes long and fit this 40-byte file. Likewise 18 x 0xE38E38E4 for IPv6.
    EXPECT_FALSE(geoip::parse("VMGEO1xx" + le(0x1999999A, 4) + std::string(28, '\0'), t));
    std::string g = table_bytes({{"2.0.0.0", "2.0.0.255", "AU"}}, {});
    g.resize(g.size() - 4);
    EXPECT_FALSE(geoip::parse(g + le(0xE38E38E4u, 4) + std::string(80, '\0'), t));
}

TEST(GeoipParse, RejectsRangesThatBinarySearchCannotUse) {
    geoip::Table t;
    // clang-format off
    const std::pair<const char*, std::string> cases[] = {
        {"unsorted", table_bytes({{"8.0.0.0", "8.0.0.9", "US"}, {"2.0.0.0", "2.0.0.9", "AU"}}, {})},
        {"overlap", table_bytes({{"2.0.0.0", "2.0.0.9", "AU"}, {"2.0.0.9", "2.0.0.20", "NZ"}}, {})},
        {"inverted", table_bytes({{"2.0.0.9", "2.0.0.0", "AU"}}, {})},
        {"unsorted6", table_bytes({}, {{9, 9, "US"}, {3, 4, "AU"}})},
        {"overlap6", table_bytes({}, {{3, 9, "US"}, {9, 12, "AU"}})},
        {"inverted6", table_bytes({}, {{9, 3, "US"}})},
        {"control byte in code", table_bytes({{"2.0.0.0", "2.0.0.9", "A\n"}}, {})},
        {"NUL in code", table_bytes({}, {{1, 2, std::string("\0A", 2)}})},
    };
    // clang-format on
    for (const auto& [what, bytes] : cases) EXPECT_FALSE(geoip::parse(bytes, t)) << what;
    const std::string touching =
        table_bytes({{"2.0.0.0", "2.0.0.9", "AU"}, {"2.0.0.10", "2.0.0.20", "NZ"}},
                    {{3, 9, "US"}, {10, 12, "AU"}});
    EXPECT_TRUE(geoip::parse(touching, t));
}

// ---- Lookups -------------------------------------------------------------------------

TEST(GeoipLookup, PrivateRangeBoundaries) {
    // One range over every address: each address that is not private finds "ZZ".
    geoip::Table t;
    ASSERT_TRUE(geoip::parse(
        table_bytes({{"0.0.0.0", "255.255.255.255", "ZZ"}}, {{0, ~uint64_t(0), "ZZ"}}), t));
    // Each private range's first and last address, then their outside neighbours. IPv6: unique
    // local fc00::/7, link-local fe80::/10, loopback; nothing else. An IPv4-mapped text is
    // IPv6: no private-range rule of IPv4 applies to it.
    // clang-format off
    for (const char* ip : {"0.0.0.0", "0.255.255.255", "10.0.0.0", "10.255.255.255", "100.64.0.1",
            "100.127.255.255", "127.0.0.1", "127.255.255.255", "169.254.0.0", "169.254.255.255",
            "172.16.0.1", "172.31.255.255", "192.168.0.0", "192.168.255.255", "224.0.0.1",
            "240.0.0.1", "255.255.255.255", "fc00::", "fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
            "fe80::1", "febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "::1", "0:0:0:0:0:0:0:1"})
        EXPECT_EQ(geoip::lookup(t, ip), "LAN") << ip;
    for (const char* ip : {"1.0.0.0", "9.255.255.255", "11.0.0.0", "100.63.255.255",
            "100.128.0.1", "126.255.255.255", "128.0.0.0", "169.253.255.255", "169.255.0.0",
            "172.15.0.1", "172.15.255.255", "172.32.0.1", "192.167.255.255", "192.169.0.0",
            "223.255.255.255", "fbff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "fe00::1",
            "fe7f:ffff:ffff:ffff::1", "fec0::1", "::2", "::", "ff02::1", "::ffff:10.0.0.1"})
        EXPECT_EQ(geoip::lookup(t, ip), "ZZ") << ip;
    // clang-format on

    // Without a table the private ranges still say "LAN" and the rest nothing.
    const geoip::Table none;
    for (const char* ip : {"172.16.0.1", "fe80::1"}) EXPECT_EQ(geoip::lookup(none, ip), "LAN");
    for (const char* ip : {"8.8.8.8", "2001:200::1"}) EXPECT_EQ(geoip::lookup(none, ip), "");
}

TEST(GeoipLookup, RangeBoundsGapsAndNonAddresses) {
    geoip::Table t;
    ASSERT_TRUE(geoip::parse(small_table(), t));
    // clang-format off
    const std::pair<std::string, const char*> cases[] = {
        {"1.255.255.255", ""}, // below the first range
        {"2.0.0.0", "AU"}, {"2.0.0.255", "AU"}, {"2.0.1.0", ""}, {"2.0.3.255", ""}, // a gap
        {"2.0.4.0", "CN"}, {"2.0.7.255", "CN"}, {"8.8.8.7", "US"}, {"8.8.9.0", ""},
        {"2001:1ff:ffff:ffff:ffff:ffff:ffff:ffff", ""}, {"2001:200::", "JP"},
        // Only the upper 64 bits count: the last address of the last /64 still matches.
        {"2001:200:ffff:ffff:ffff:ffff:ffff:ffff", "JP"}, {"2001:201::", ""},
        {"2a00:1::dead:beef", "DE"}, {"2a00:1:0:1::", ""}, {"2c00::1", ""},
        // IPv4-mapped: the /64 prefix is zero, which no range of a real table holds.
        {"::ffff:8.8.8.8", ""},
        // Not addresses.
        {"", ""}, {"localhost", ""}, {"8.8.8", ""}, {"8.8.8.8.8", ""}, {"256.1.1.1", ""},
        {" 8.8.8.8", ""}, {"8.8.8.8 ", ""}, {"8.8.8.8/24", ""}, {"2001:200::g", ""},
        {"2001:200::1::2", ""}, {"fe80::1%eth0", ""}, {"[2001:200::1]", ""},
        {std::string("8.8.8.8\0garbage", 15), ""}, {std::string(4096, '1'), ""},
    };
    // clang-format on
    for (const auto& [ip, want] : cases) EXPECT_EQ(geoip::lookup(t, ip), want) << ip;
}

TEST(GeoipLookup, Ipv6TextReadLikeInetPton) {
    auto same = [](const std::string& text) {
        unsigned char want[16] = {}, got[16] = {};
        const bool ok = inet_pton(AF_INET6, text.c_str(), want) == 1;
        if (geoip::parse_ipv6(text, got) != ok || (ok && std::memcmp(want, got, 16) != 0))
            return ::testing::AssertionFailure() << "differs from inet_pton: " << text;
        return ::testing::AssertionSuccess();
    };
    // clang-format off
    for (const char* e : {"", ":", "::", ":::", "1::", "1:", ":1", "1::2::3", "1:2:3:4:5:6:7",
                          "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7::", "1:2:3:4:5:6:7::8",
                          "::1:2:3:4:5:6:7:8", "12345::", "0000:00ff::", "ABCD:ef01::",
                          "::ffff:1.2.3.4", "1:2:3:4:5:6:7:1.2.3.4", "::1.2.3.04", "1::2:"})
        // clang-format on
        EXPECT_TRUE(same(e));
    // Random texts and mutated addresses are the fuzzer's part (fuzz/geoip_fuzz.cpp).
}

// ---- Candidate paths and the once-only loader ----------------------------------------

TEST(GeoipLoad, CandidateOrder) {
    TempDir root;
    root.link("proc/self/exe", "/opt/velmora/bin/velmora");
    const std::string r = root.path();
    setenv("VELM_GEOIP", "/x/mine.bin", 1);
    setenv("SNAP", "/snap/velmora/7", 1);
    setenv("APPDIR", "/tmp/.mount_v", 1);
    const std::vector<std::string> want = {"/x/mine.bin",
                                           r + "/opt/velmora/bin/../share/velmora/geoip.bin",
                                           "/snap/velmora/7/usr/share/velmora/geoip.bin",
                                           "/tmp/.mount_v/usr/share/velmora/geoip.bin",
                                           r + "/app/share/velmora/geoip.bin",
                                           r + "/usr/share/velmora/geoip.bin",
                                           r + "/opt/velmora/bin/../data/geoip.bin"};
    EXPECT_EQ(geoip::candidate_paths(r), want);

    // Unset variables add nothing; an unreadable executable link leaves the directory empty.
    clear_search_env();
    const std::string b = TempDir().path();
    EXPECT_EQ(geoip::candidate_paths(b),
              (std::vector<std::string>{
                  b + "/../share/velmora/geoip.bin", b + "/app/share/velmora/geoip.bin",
                  b + "/usr/share/velmora/geoip.bin", b + "/../data/geoip.bin"}));
    // The real link: this test program's own directory.
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    const std::string dir(exe, std::strrchr(exe, '/'));
    EXPECT_EQ(geoip::candidate_paths().front(), dir + "/../share/velmora/geoip.bin");
}

// The loader runs once per process, so each scenario runs in a fresh child. Candidates, in
// order: VELM_GEOIP, beside the executable, SNAP, APPDIR, /app, /usr, the data directory.
TEST(GeoipLoad, FirstUsableCandidateOnceAndOnlyOnce) {
    TempDir tmp;
    tmp.link("root/proc/self/exe", "/opt/v/bin/velmora");
    std::string truncated6 = small_table(), magic = small_table();
    truncated6.pop_back();
    magic[0] = 'X';
    const std::string nz = table_bytes({{"2.0.0.0", "2.0.0.255", "NZ"}}, {});
    const std::string small = tmp.write("small.bin", small_table());
    const std::string velm = tmp.write("truncated6.bin", truncated6);
    // Each candidate before the sixth fails in its own way.
    tmp.write("root/opt/v/share/velmora/geoip.bin", magic);
    tmp.mkdir("snap/usr/share/velmora/geoip.bin"); // a directory
    tmp.write("root/app/share/velmora/geoip.bin", std::string("VMGEO1\0\0\0\0", 10));
    const std::string usr = tmp.write("root/usr/share/velmora/geoip.bin", nz);
    tmp.write("root/opt/v/data/geoip.bin", small_table()); // never reached
    struct Case {
        const char* what;
        std::string velm, snap, root;
        std::vector<std::pair<const char*, const char*>> lookups; // address, country
        std::string info;                                         // the one log line
    };
    const std::string none = tmp.path() + "/nothing.bin", root = tmp.path() + "/root";
    // clang-format off
    const Case cases[] = {
        {"VELM_GEOIP wins", small, "", root,
         {{"2.0.0.1", "AU"}, {"2001:200:1::1", "JP"}, {"10.1.1.1", "LAN"}},
         "INFO country table " + small + ": 3 + 2 ranges"},
        {"bad candidates are skipped in order", velm, tmp.path() + "/snap", root,
         {{"2.0.0.1", "NZ"}, {"2001:200::1", ""}}, "INFO country table " + usr + ": 1 + 0 ranges"},
        {"no table: one warning, the private ranges still known", none, "", tmp.path(),
         {{"8.8.8.8", ""}, {"192.168.1.1", "LAN"}, {"::1", "LAN"}},
         "WARN country table not found \u2014 the Destinations page shows no countries"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const std::string fails = in_child([&](Report& r) {
            clear_search_env();
            setenv("VELM_GEOIP", c.velm.c_str(), 1);
            if (!c.snap.empty()) setenv("SNAP", c.snap.c_str(), 1);
            setenv("APPDIR", (tmp.path() + "/missing").c_str(), 1);
            geoip::set_search_root(c.root);
            for (int round = 0; round < 2; ++round) {
                r.check(geoip::available() == (c.velm != none), "available()");
                for (const auto& [ip, cc] : c.lookups) r.eq(ip, geoip::country(ip), cc);
                // A table replaced while the program runs is seen only after a restart.
                testsupport::write_file(small, nz);
            }
            const auto space = c.info.find(' ');
            r.check(logged(c.info.substr(0, space), c.info.substr(space + 1)) == 1, c.info);
            r.check(logged("country table") == 1, "one line about the table");
        });
        EXPECT_EQ(fails, "") << c.what;
        testsupport::write_file(small, small_table());
    }

    // Neither a FIFO (whose open() would wait for a writer) nor a device is read.
    const std::string fifo = tmp.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    geoip::Table t;
    EXPECT_EQ(geoip::load_first({fifo, "/dev/zero", tmp.path(), "", velm}, t), "");
    EXPECT_EQ(geoip::load_first({fifo, usr}, t), usr);
}

TEST(GeoipThreads, ConcurrentFirstUseLoadsOnce) {
    TempDir tmp;
    const std::string path = tmp.write("t.bin", small_table());
    std::string fails = in_child([&](Report& r) {
        clear_search_env();
        setenv("VELM_GEOIP", path.c_str(), 1);
        geoip::set_search_root(tmp.path());
        const char* ips[] = {"2.0.0.1", "2.0.5.5", "2001:200::1", "1.2.3.4", "fe80::1", "x"};
        const char* want[] = {"AU", "CN", "JP", "", "LAN", ""};
        constexpr int kThreads = 8;
        std::latch start(kThreads);
        std::atomic<int> wrong{0};
        std::vector<std::jthread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                start.arrive_and_wait(); // every thread makes its first call at once
                for (int round = 0; round < 200; ++round) {
                    const size_t k = size_t(i + round) % std::size(ips);
                    wrong += geoip::country(ips[k]) != want[k] || !geoip::available();
                }
            });
        threads.clear();
        r.check(wrong == 0, std::to_string(wrong.load()) + " wrong answers");
        r.check(logged("INFO", "country table " + path + ": 3 + 2 ranges") == 1, "loaded once");
    });
    EXPECT_EQ(fails, "");
}

// ---- The real table ------------------------------------------------------------------

class GeoipRealTable : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string bytes = testsupport::read_file(real_table_path());
        s_present = !bytes.empty();
        s_valid = s_present && geoip::parse(bytes, s_table);
    }
    void SetUp() override {
        if (!s_present && !std::getenv("CI"))
            GTEST_SKIP() << real_table_path()
                         << " is missing: run `bash tools/setup.d/geoip.sh build`";
        ASSERT_TRUE(s_present) << real_table_path() << " is missing; set-up must build it";
        ASSERT_TRUE(s_valid) << real_table_path() << " is not a valid table";
    }
    static inline geoip::Table s_table;
    static inline bool s_present = false, s_valid = false;
};

TEST_F(GeoipRealTable, WellKnownAddressesMergedAndNamed) {
    // Registry and university networks whose country has not changed in decades.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"8.8.8.8", "US"}, {"193.99.144.80", "DE"} /* heise.de */, {"133.11.0.1", "JP"} /* U Tokyo */,
        {"195.113.0.1", "CZ"} /* CESNET */, {"200.160.2.3", "BR"} /* registro.br */,
        {"2001:200::1", "JP"} /* WIDE */, {"2001:638::1", "DE"} /* DFN */,
        {"2001:67c:2e8::1", "NL"} /* RIPE NCC */, {"2001:12ff::1", "BR"} /* NIC.br */,
        {"192.168.1.1", "LAN"}, {"::ffff:8.8.8.8", ""},
    };
    // clang-format on
    for (const auto& [ip, want] : cases) EXPECT_EQ(geoip::lookup(s_table, ip), want) << ip;

    // A table much smaller than the data set was cut short or built wrongly.
    EXPECT_GT(s_table.v4.size(), 200000u);
    EXPECT_GT(s_table.v6.size(), 200000u);
    const std::set<std::string> codes(std::begin(country_data::CODES),
                                      std::end(country_data::CODES));
    auto walk = [&](const auto& v, const char* family) {
        // Order and overlaps are the reader's own checks, which the table passed.
        size_t unmerged = 0, unnamed = 0;
        for (size_t i = 0; i < v.size(); ++i) {
            const std::string cc(v[i].cc, 2);
            unnamed += !codes.count(cc);
            unmerged += i > 0 && v[i].a - 1 == v[i - 1].b && cc == std::string(v[i - 1].cc, 2);
        }
        EXPECT_EQ(unmerged, 0u) << family << ": neighbours of one country left apart";
        EXPECT_EQ(unnamed, 0u) << family << ": codes that have no name";
    };
    walk(s_table.v4, "IPv4");
    walk(s_table.v6, "IPv6");
}

TEST_F(GeoipRealTable, FoundBesideTheExecutable) {
    clear_search_env();
    const std::string beside = geoip::candidate_paths().front();
    struct stat a = {}, b = {};
    if (stat(beside.c_str(), &a) != 0 || stat(real_table_path().c_str(), &b) != 0 ||
        a.st_ino != b.st_ino)
        GTEST_SKIP() << "this test program does not run from the build tree's bin/";
    const std::string counts =
        std::to_string(s_table.v4.size()) + " + " + std::to_string(s_table.v6.size());
    std::string fails = in_child([&](Report& r) {
        r.eq("8.8.8.8", geoip::country("8.8.8.8"), "US");
        r.check(logged("INFO", "country table " + beside + ": " + counts + " ranges") == 1,
                "INFO line names the path beside the executable");
    });
    EXPECT_EQ(fails, "");
}
