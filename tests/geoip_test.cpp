// The country table: file checks, lookups with the private ranges, the once-only loader
// over its candidate paths, concurrent first use, and the real table built by set-up.
#include "data/country_data.h"
#include "geoip.h"
#include "geoip_table.h"
#include "logger.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <latch>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using geoiptest::prefix6;
using geoiptest::table_bytes;
using testsupport::TempDir;

namespace {

// A small table: a gap below the first range, a gap between ranges, two IPv6 ranges.
std::string small_table() {
    return table_bytes({{"2.0.0.0", "2.0.0.255", "AU"},
                        {"2.0.4.0", "2.0.7.255", "CN"},
                        {"8.8.8.0", "8.8.8.255", "US"}},
                       {{prefix6("2001:200::"), prefix6("2001:200:ffff:ffff::"), "JP"},
                        {prefix6("2a00:1::"), prefix6("2a00:1::"), "DE"}});
}

// One range covering every address, so that each non-private address finds a country.
geoip::Table everything() {
    geoip::Table t;
    EXPECT_TRUE(geoip::parse(
        table_bytes({{"0.0.0.0", "255.255.255.255", "ZZ"}}, {{0, ~uint64_t(0), "ZZ"}}), t));
    return t;
}

// Collects failed checks in a child process, where gtest's assertions do not reach.
struct Report {
    std::string text;
    void eq(const std::string& what, const std::string& got, const std::string& want) {
        if (got != want) text += what + ": got \"" + got + "\", want \"" + want + "\"\n";
    }
    void check(bool ok, const std::string& what) {
        if (!ok) text += what + "\n";
    }
};

// The loader runs once per process, so each loading scenario runs in a fresh child.
// Returns the child's failed checks, empty when all held.
std::string in_child(const std::function<void(Report&)>& body) {
    int fd[2];
    if (pipe(fd) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        Report r;
        body(r);
        const char* p = r.text.data();
        size_t left = r.text.size();
        while (left > 0) {
            ssize_t n = write(fd[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fd[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "child did not exit normally\n";
    return out;
}

// Log lines of `level` ending in `text`.
int logged(const std::string& level, const std::string& text) {
    int n = 0;
    for (const auto& line : logger::tail(200)) {
        if (line.find(level) != std::string::npos && line.size() >= text.size() &&
            line.compare(line.size() - text.size(), text.size(), text) == 0)
            ++n;
    }
    return n;
}

int logged_containing(const std::string& text) {
    int n = 0;
    for (const auto& line : logger::tail(200)) n += line.find(text) != std::string::npos;
    return n;
}

const char* const kNotFound =
    "country table not found \u2014 the Destinations page shows no countries";

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

TEST(GeoipParse, ReadsRecordsLittleEndian) {
    geoip::Table t;
    ASSERT_TRUE(geoip::parse(small_table(), t));
    ASSERT_EQ(t.v4.size(), 3u);
    ASSERT_EQ(t.v6.size(), 2u);
    // The records are packed: gtest binds references, so it is handed copies of the fields.
    EXPECT_EQ(uint64_t{t.v4[1].a}, 0x02000400u);
    EXPECT_EQ(uint64_t{t.v4[1].b}, 0x020007ffu);
    EXPECT_EQ(std::string(t.v4[1].cc, 2), "CN");
    EXPECT_EQ(uint64_t{t.v6[0].a}, 0x2001020000000000u);
    EXPECT_EQ(uint64_t{t.v6[0].b}, 0x20010200ffffffffu);
    EXPECT_EQ(std::string(t.v6[1].cc, 2), "DE");

    // Empty sections are a valid (if useless) table; bytes after the sections are ignored.
    ASSERT_TRUE(geoip::parse(table_bytes({}, {}), t));
    EXPECT_TRUE(t.v4.empty() && t.v6.empty());
    ASSERT_TRUE(geoip::parse(small_table() + "trailing", t));
    EXPECT_EQ(t.v4.size(), 3u);
}

TEST(GeoipParse, RejectsShortWrongMagicAndEveryTruncation) {
    const std::string good = small_table();
    geoip::Table t;
    ASSERT_TRUE(geoip::parse(good, t));

    EXPECT_FALSE(geoip::parse("", t));
    EXPECT_FALSE(geoip::parse(std::string("VMGEO1\0\0\0\0\0\0\0\0\0", 15), t)) << "15 bytes";
    std::string magic = good;
    magic[5] = '2';
    EXPECT_FALSE(geoip::parse(magic, t)) << "wrong magic";
    EXPECT_FALSE(geoip::parse("vmgeo1" + good.substr(6), t)) << "magic is case-sensitive";

    // Cut anywhere (inside the IPv4 section, the IPv6 count or the IPv6 section) the file
    // is rejected whole, and the previous content of the output is left alone.
    for (size_t len = 0; len < good.size(); ++len) {
        geoip::Table keep;
        keep.v4.push_back({1, 2, {'Q', 'Q'}});
        EXPECT_FALSE(geoip::parse(good.substr(0, len), keep)) << "cut to " << len << " bytes";
        EXPECT_EQ(keep.v4.size(), 1u);
        EXPECT_TRUE(keep.v6.empty());
    }
}

TEST(GeoipParse, RejectsCountsThatWrapAround) {
    // 10 x 0x1999999A is 0x1_0000_0004: in 32-bit arithmetic the IPv4 section would seem
    // to be 4 bytes long and fit this 40-byte file.
    std::string f = "VMGEO1xx";
    geoiptest::put_le(f, 0x1999999A, 4);
    f += std::string(28, '\0');
    geoip::Table t;
    EXPECT_FALSE(geoip::parse(f, t));

    // Likewise a huge IPv6 count after a valid IPv4 section (18 x 0xE38E38E4 wraps to 8).
    std::string g = table_bytes({{"2.0.0.0", "2.0.0.255", "AU"}}, {});
    g.resize(g.size() - 4);
    geoiptest::put_le(g, 0xE38E38E4u, 4);
    g += std::string(16, '\0');
    EXPECT_FALSE(geoip::parse(g, t));
    EXPECT_FALSE(geoip::parse(g + std::string(64, '\0'), t));
}

TEST(GeoipParse, RejectsRangesThatBinarySearchCannotUse) {
    geoip::Table t;
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"unsorted IPv4",
         table_bytes({{"8.0.0.0", "8.0.0.9", "US"}, {"2.0.0.0", "2.0.0.9", "AU"}}, {})},
        {"overlapping IPv4",
         table_bytes({{"2.0.0.0", "2.0.0.9", "AU"}, {"2.0.0.9", "2.0.0.20", "NZ"}}, {})},
        {"inverted IPv4", table_bytes({{"2.0.0.9", "2.0.0.0", "AU"}}, {})},
        {"unsorted IPv6", table_bytes({}, {{9, 9, "US"}, {3, 4, "AU"}})},
        {"overlapping IPv6", table_bytes({}, {{3, 9, "US"}, {9, 12, "AU"}})},
        {"inverted IPv6", table_bytes({}, {{9, 3, "US"}})},
        {"control byte in code", table_bytes({{"2.0.0.0", "2.0.0.9", std::string("A\n")}}, {})},
        {"NUL in code", table_bytes({}, {{1, 2, std::string("\0A", 2)}})},
    };
    for (const auto& c : cases) EXPECT_FALSE(geoip::parse(c.bytes, t)) << c.what;
    // Touching but not overlapping ranges are fine.
    EXPECT_TRUE(
        geoip::parse(table_bytes({{"2.0.0.0", "2.0.0.9", "AU"}, {"2.0.0.10", "2.0.0.20", "NZ"}},
                                 {{3, 9, "US"}, {10, 12, "AU"}}),
                     t));
}

// ---- Lookups -------------------------------------------------------------------------

TEST(GeoipLookup, PrivateRangeBoundaries) {
    const geoip::Table t = everything();
    struct Case {
        const char* ip;
        const char* want;
    } cases[] = {
        {"0.0.0.0", "LAN"},
        {"0.255.255.255", "LAN"},
        {"1.0.0.0", "ZZ"},
        {"9.255.255.255", "ZZ"},
        {"10.0.0.0", "LAN"},
        {"10.255.255.255", "LAN"},
        {"11.0.0.0", "ZZ"},
        {"100.63.255.255", "ZZ"},
        {"100.64.0.1", "LAN"},
        {"100.127.255.255", "LAN"},
        {"100.128.0.1", "ZZ"},
        {"126.255.255.255", "ZZ"},
        {"127.0.0.1", "LAN"},
        {"127.255.255.255", "LAN"},
        {"128.0.0.0", "ZZ"},
        {"169.253.255.255", "ZZ"},
        {"169.254.0.0", "LAN"},
        {"169.254.255.255", "LAN"},
        {"169.255.0.0", "ZZ"},
        {"172.15.0.1", "ZZ"},
        {"172.15.255.255", "ZZ"},
        {"172.16.0.1", "LAN"},
        {"172.31.255.255", "LAN"},
        {"172.32.0.1", "ZZ"},
        {"192.167.255.255", "ZZ"},
        {"192.168.0.0", "LAN"},
        {"192.168.255.255", "LAN"},
        {"192.169.0.0", "ZZ"},
        {"223.255.255.255", "ZZ"},
        {"224.0.0.1", "LAN"},
        {"239.255.255.255", "LAN"},
        {"240.0.0.1", "LAN"},
        {"255.255.255.255", "LAN"},
        // IPv6: unique local fc00::/7, link-local fe80::/10, loopback.
        {"fbff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ZZ"},
        {"fc00::", "LAN"},
        {"fd12:3456::1", "LAN"},
        {"fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "LAN"},
        {"fe00::1", "ZZ"},
        {"fe7f:ffff:ffff:ffff::1", "ZZ"},
        {"fe80::1", "LAN"},
        {"febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "LAN"},
        {"fec0::1", "ZZ"},
        {"::1", "LAN"},
        {"0:0:0:0:0:0:0:1", "LAN"},
        {"::2", "ZZ"},
        {"::", "ZZ"},
        {"ff02::1", "ZZ"},
        // An IPv4-mapped text is an IPv6 address: no private-range rule of IPv4 applies.
        {"::ffff:10.0.0.1", "ZZ"},
    };
    for (const auto& c : cases) EXPECT_EQ(geoip::lookup(t, c.ip), c.want) << c.ip;

    // Without any table the private ranges still say "LAN" and the rest nothing.
    const geoip::Table none;
    EXPECT_EQ(geoip::lookup(none, "172.16.0.1"), "LAN");
    EXPECT_EQ(geoip::lookup(none, "fe80::1"), "LAN");
    EXPECT_EQ(geoip::lookup(none, "8.8.8.8"), "");
    EXPECT_EQ(geoip::lookup(none, "2001:200::1"), "");
}

TEST(GeoipLookup, RangeBoundsAndGaps) {
    geoip::Table t;
    ASSERT_TRUE(geoip::parse(small_table(), t));
    struct Case {
        const char* ip;
        const char* want;
    } cases[] = {
        {"1.255.255.255", ""}, // below the first range
        {"2.0.0.0", "AU"},
        {"2.0.0.255", "AU"},
        {"2.0.1.0", ""}, // between two ranges
        {"2.0.3.255", ""},
        {"2.0.4.0", "CN"},
        {"2.0.7.255", "CN"},
        {"8.8.8.7", "US"},
        {"8.8.9.0", ""}, // above the last range
        {"223.1.2.3", ""},
        {"2001:1ff:ffff:ffff:ffff:ffff:ffff:ffff", ""},
        {"2001:200::", "JP"},
        // Only the upper 64 bits count: the last address of the last /64 still matches.
        {"2001:200:ffff:ffff:ffff:ffff:ffff:ffff", "JP"},
        {"2001:201::", ""},
        {"2a00:1::dead:beef", "DE"},
        {"2a00:1:0:1::", ""},
        {"2c00::1", ""},
        // IPv4-mapped: the /64 prefix is zero, which no range of a real table holds.
        {"::ffff:8.8.8.8", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(geoip::lookup(t, c.ip), c.want) << c.ip;
}

TEST(GeoipLookup, TextThatIsNoAddress) {
    const geoip::Table t = everything();
    const std::string cases[] = {
        "",
        "localhost",
        "8.8.8",
        "8.8.8.8.8",
        "256.1.1.1",
        " 8.8.8.8",
        "8.8.8.8 ",
        "8.8.8.8/24",
        "0x8.8.8.8",
        "2001:db8::g",
        ":::",
        "2001:db8::1::2",
        "fe80::1%eth0",
        "[2001:db8::1]",
        std::string("8.8.8.8\0garbage", 15),
        std::string(4096, '1'),
    };
    for (const auto& ip : cases) EXPECT_EQ(geoip::lookup(t, ip), "") << ip;
}

TEST(GeoipLookup, Ipv6TextReadExactlyLikeInetPton) {
    auto same = [](const std::string& text) {
        unsigned char want[16] = {}, got[16] = {};
        const bool ok_want = inet_pton(AF_INET6, text.c_str(), want) == 1;
        const bool ok_got = geoip::parse_ipv6(text, got);
        if (ok_want != ok_got) return ::testing::AssertionFailure() << "accepts differ: " << text;
        if (ok_got && std::memcmp(want, got, 16) != 0)
            return ::testing::AssertionFailure() << "bytes differ: " << text;
        return ::testing::AssertionSuccess();
    };
    const char* edge[] = {
        "",
        ":",
        "::",
        ":::",
        "::1",
        "1::",
        "1:",
        ":1",
        "1::2",
        "1::2::3",
        "1:2:3:4:5:6:7:8",
        "1:2:3:4:5:6:7",
        "1:2:3:4:5:6:7:8:9",
        "1:2:3:4:5:6:7::",
        "::2:3:4:5:6:7:8",
        "1:2:3:4:5:6:7::8",
        "::1:2:3:4:5:6:7:8",
        "1:2:3:4::5:6:7:8",
        "12345::",
        "01234::",
        "0000:0000:0000:0000:0000:0000:0000:0001",
        "ABCD:ef01::",
        "abcd:EF01::g",
        "1::2:",
        "::ffff:1.2.3.4",
        "::1.2.3.4",
        "1:2:3:4:5:6:1.2.3.4",
        "1:2:3:4:5:6:7:1.2.3.4",
        "::1.2.3",
        "::1.2.3.04",
        "::256.1.1.1",
        "1.2.3.4",
        "::1.2.3.4:5",
        "fe80::1%eth0",
        " ::1",
        "::1 ",
        "[::1]",
        "::-1",
        "::+1",
        "1:::2",
        "::0:",
        "0x1::",
    };
    for (const char* e : edge) EXPECT_TRUE(same(e));

    // Random texts from the characters that matter, and valid addresses with one change.
    std::mt19937 rng(7);
    const std::string alphabet = "0123456789abcdefABCDEF:::::...gx %";
    for (int i = 0; i < 100000; ++i) {
        std::string t(rng() % 24, ' ');
        for (char& c : t) c = alphabet[rng() % alphabet.size()];
        ASSERT_TRUE(same(t));
    }
    for (int i = 0; i < 100000; ++i) {
        char buf[INET6_ADDRSTRLEN];
        unsigned char b[16];
        for (auto& x : b) x = static_cast<unsigned char>(rng() % 3 == 0 ? 0 : rng());
        std::string t = inet_ntop(AF_INET6, b, buf, sizeof buf);
        ASSERT_TRUE(same(t));
        t[rng() % t.size()] = alphabet[rng() % alphabet.size()];
        if (rng() % 2) t.insert(rng() % (t.size() + 1), 1, alphabet[rng() % alphabet.size()]);
        ASSERT_TRUE(same(t));
    }
}

// ---- Candidate paths and the once-only loader ----------------------------------------

TEST(GeoipLoad, CandidateOrder) {
    TempDir root;
    root.link("proc/self/exe", "/opt/velmora/bin/velmora");
    const std::string r = root.path();
    setenv("VELM_GEOIP", "/x/mine.bin", 1);
    setenv("SNAP", "/snap/velmora/7", 1);
    setenv("APPDIR", "/tmp/.mount_v", 1);
    EXPECT_EQ(geoip::candidate_paths(r), (std::vector<std::string>{
                                             "/x/mine.bin",
                                             r + "/opt/velmora/bin/../share/velmora/geoip.bin",
                                             "/snap/velmora/7/usr/share/velmora/geoip.bin",
                                             "/tmp/.mount_v/usr/share/velmora/geoip.bin",
                                             r + "/app/share/velmora/geoip.bin",
                                             r + "/usr/share/velmora/geoip.bin",
                                             r + "/opt/velmora/bin/../data/geoip.bin",
                                         }));

    // Unset variables contribute nothing; an unreadable executable link leaves the
    // directory empty.
    clear_search_env();
    TempDir bare;
    const std::string b = bare.path();
    EXPECT_EQ(geoip::candidate_paths(b),
              (std::vector<std::string>{
                  b + "/../share/velmora/geoip.bin", b + "/app/share/velmora/geoip.bin",
                  b + "/usr/share/velmora/geoip.bin", b + "/../data/geoip.bin"}));

    // The real link: this test program's own directory.
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    std::string dir(self, static_cast<size_t>(n));
    dir.resize(dir.rfind('/'));
    EXPECT_EQ(geoip::candidate_paths().front(), dir + "/../share/velmora/geoip.bin");
}

TEST(GeoipLoad, FirstCandidateIsVelmGeoip) {
    TempDir tmp;
    const std::string mine = tmp.write("mine.bin", small_table());
    // A valid table also waits at a later candidate; the variable must win.
    tmp.write("root/usr/share/velmora/geoip.bin",
              table_bytes({{"2.0.0.0", "2.0.0.255", "NZ"}}, {}));
    std::string fails = in_child([&](Report& r) {
        clear_search_env();
        setenv("VELM_GEOIP", mine.c_str(), 1);
        geoip::set_search_root(tmp.path() + "/root");
        r.check(geoip::available(), "available()");
        r.eq("2.0.0.1", geoip::country("2.0.0.1"), "AU");
        r.eq("2001:200:1::1", geoip::country("2001:200:1::1"), "JP");
        r.eq("10.1.1.1", geoip::country("10.1.1.1"), "LAN");
        r.check(logged("INFO", "country table " + mine + ": 3 + 2 ranges") == 1,
                "one INFO line naming the file and its counts");
        r.check(logged_containing("not found") == 0, "no warning");
    });
    EXPECT_EQ(fails, "");
}

TEST(GeoipLoad, BadCandidatesAreSkippedInOrder) {
    TempDir tmp;
    const std::string r = tmp.path() + "/root";
    tmp.link("root/proc/self/exe", "/opt/v/bin/velmora");
    std::string truncated6 = small_table();
    truncated6.resize(truncated6.size() - 1);
    std::string magic = small_table();
    magic[0] = 'X';
    // Each candidate fails in its own way; the first valid one is the sixth.
    const std::string velm = tmp.write("truncated6.bin", truncated6);
    tmp.write("root/opt/v/share/velmora/geoip.bin", magic);
    tmp.mkdir("snap/usr/share/velmora/geoip.bin"); // a directory, not a file
    tmp.write("root/app/share/velmora/geoip.bin", "VMGEO1\0\0\0\0");
    const std::string good = tmp.write("root/usr/share/velmora/geoip.bin",
                                       table_bytes({{"2.0.0.0", "2.0.0.255", "NZ"}}, {}));
    tmp.write("root/opt/v/data/geoip.bin", small_table()); // later: never reached

    std::string fails = in_child([&](Report& rep) {
        clear_search_env();
        setenv("VELM_GEOIP", velm.c_str(), 1);
        setenv("SNAP", (tmp.path() + "/snap").c_str(), 1);
        setenv("APPDIR", (tmp.path() + "/missing").c_str(), 1);
        geoip::set_search_root(r);
        rep.check(geoip::available(), "available()");
        rep.eq("2.0.0.1", geoip::country("2.0.0.1"), "NZ");
        rep.eq("8.8.8.8", geoip::country("8.8.8.8"), "");
        rep.eq("2001:200::1", geoip::country("2001:200::1"), "");
        rep.check(logged("INFO", "country table " + good + ": 1 + 0 ranges") == 1,
                  "INFO line names the sixth candidate");
        rep.check(logged_containing("country table") == 1, "exactly one country table line");
    });
    EXPECT_EQ(fails, "");
}

TEST(GeoipLoad, NoTableWarnsOnceAndStillKnowsPrivateRanges) {
    TempDir tmp;
    std::string fails = in_child([&](Report& r) {
        clear_search_env();
        setenv("VELM_GEOIP", (tmp.path() + "/nothing.bin").c_str(), 1);
        geoip::set_search_root(tmp.path());
        r.check(!geoip::available(), "available() is false");
        r.eq("8.8.8.8", geoip::country("8.8.8.8"), "");
        r.eq("2001:200::1", geoip::country("2001:200::1"), "");
        r.eq("192.168.1.1", geoip::country("192.168.1.1"), "LAN");
        r.eq("::1", geoip::country("::1"), "LAN");
        r.check(!geoip::available(), "still false; never reloaded");
        r.check(logged("WARN", kNotFound) == 1, "exactly one warning with the em dash");
        r.check(logged_containing("country table") == 1, "nothing else about the table");
    });
    EXPECT_EQ(fails, "");
}

TEST(GeoipLoad, LoadedOnceNeverReloaded) {
    TempDir tmp;
    const std::string path = tmp.write("t.bin", small_table());
    std::string fails = in_child([&](Report& r) {
        clear_search_env();
        setenv("VELM_GEOIP", path.c_str(), 1);
        geoip::set_search_root(tmp.path());
        r.eq("before", geoip::country("2.0.0.1"), "AU");
        // A table installed while the program runs is seen only after a restart.
        testsupport::write_file(path, table_bytes({{"2.0.0.0", "2.0.0.255", "NZ"}}, {}));
        r.eq("after rewrite", geoip::country("2.0.0.1"), "AU");
        unlink(path.c_str());
        r.check(geoip::available(), "still available after removal");
        r.check(logged_containing("country table") == 1, "one load");
    });
    EXPECT_EQ(fails, "");
}

TEST(GeoipLoad, RejectsNonRegularFiles) {
    TempDir tmp;
    const std::string fifo = tmp.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    geoip::Table t;
    // A FIFO with no writer would block a plain open(); it must be skipped at once.
    EXPECT_EQ(geoip::load_first({fifo, "/dev/zero", tmp.path(), "", "/nonexistent"}, t), "");
    const std::string good = tmp.write("g.bin", small_table());
    EXPECT_EQ(geoip::load_first({fifo, tmp.path(), good}, t), good);
    EXPECT_EQ(t.v4.size(), 3u);
}

// ---- Concurrent first use ------------------------------------------------------------

TEST(GeoipThreads, ConcurrentFirstUseLoadsOnce) {
    TempDir tmp;
    const std::string path = tmp.write("t.bin", small_table());
    std::string fails = in_child([&](Report& r) {
        clear_search_env();
        setenv("VELM_GEOIP", path.c_str(), 1);
        geoip::set_search_root(tmp.path());

        constexpr int kThreads = 8;
        const char* ips[] = {"2.0.0.1", "2.0.5.5",  "8.8.8.8", "2001:200::1", "2a00:1::1",
                             "1.2.3.4", "10.0.0.1", "fe80::1", "nonsense"};
        const char* want[] = {"AU", "CN", "US", "JP", "DE", "", "LAN", "LAN", ""};
        std::latch start(kThreads);
        std::atomic<int> wrong{0}, unavailable{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                // All threads make their first call at the same moment.
                start.arrive_and_wait();
                for (int round = 0; round < 200; ++round) {
                    size_t k = static_cast<size_t>(i + round) % std::size(ips);
                    if (geoip::country(ips[k]) != want[k]) ++wrong;
                    if (!geoip::available()) ++unavailable;
                }
            });
        }
        for (auto& th : threads) th.join();
        r.check(wrong == 0, std::to_string(wrong.load()) + " wrong answers");
        r.check(unavailable == 0, std::to_string(unavailable.load()) + " times unavailable");
        r.check(logged("INFO", "country table " + path + ": 3 + 2 ranges") == 1, "loaded once");
    });
    EXPECT_EQ(fails, "");
}

// ---- The real table ------------------------------------------------------------------

class GeoipRealTable : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string bytes = testsupport::read_file(real_table_path());
        s_loaded = !bytes.empty() && geoip::parse(bytes, s_table);
        s_present = !bytes.empty();
    }
    void SetUp() override {
        if (!s_present && !std::getenv("CI"))
            GTEST_SKIP() << real_table_path()
                         << " is missing: run `bash tools/setup.d/geoip.sh build` (setup.sh does)";
        ASSERT_TRUE(s_present) << real_table_path() << " is missing; set-up must build it";
        ASSERT_TRUE(s_loaded) << real_table_path() << " is not a valid table";
    }
    static geoip::Table s_table;
    static bool s_present, s_loaded;
};
geoip::Table GeoipRealTable::s_table;
bool GeoipRealTable::s_present = false;
bool GeoipRealTable::s_loaded = false;

TEST_F(GeoipRealTable, WellKnownAddresses) {
    // Registry and university networks whose country has not changed in decades.
    struct Case {
        const char* ip;
        const char* want;
    } cases[] = {
        {"8.8.8.8", "US"},         // Google public DNS
        {"193.99.144.80", "DE"},   // heise.de
        {"133.11.0.1", "JP"},      // University of Tokyo
        {"195.113.0.1", "CZ"},     // CESNET
        {"200.160.2.3", "BR"},     // registro.br
        {"2001:200::1", "JP"},     // WIDE project
        {"2001:638::1", "DE"},     // DFN
        {"2001:67c:2e8::1", "NL"}, // RIPE NCC
        {"2001:12ff::1", "BR"},    // NIC.br
        {"192.168.1.1", "LAN"},    {"::ffff:8.8.8.8", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(geoip::lookup(s_table, c.ip), c.want) << c.ip;
}

TEST_F(GeoipRealTable, SortedDisjointMergedAndNamed) {
    // A table that is much smaller than the data set was cut short or built wrongly.
    EXPECT_GT(s_table.v4.size(), 200000u);
    EXPECT_GT(s_table.v6.size(), 200000u);
    std::set<std::string> codes(std::begin(country_data::CODES), std::end(country_data::CODES));
    auto walk = [&](const auto& v, const char* family) {
        std::set<std::string> unnamed;
        size_t bad_order = 0, unmerged = 0;
        for (size_t i = 0; i < v.size(); ++i) {
            const std::string cc(v[i].cc, 2);
            if (!codes.count(cc)) unnamed.insert(cc);
            if (v[i].a > v[i].b) ++bad_order;
            if (i == 0) continue;
            if (v[i].a <= v[i - 1].b) ++bad_order;
            if (v[i].a - 1 == v[i - 1].b && cc == std::string(v[i - 1].cc, 2)) ++unmerged;
        }
        EXPECT_EQ(bad_order, 0u) << family;
        EXPECT_EQ(unmerged, 0u) << family << ": neighbours of one country left apart";
        EXPECT_TRUE(unnamed.empty())
            << family << ": codes without a name, e.g. " << *unnamed.begin();
    };
    walk(s_table.v4, "IPv4");
    walk(s_table.v6, "IPv6");
}

TEST_F(GeoipRealTable, FoundBesideTheExecutable) {
    const std::string beside = geoip::candidate_paths().at(std::getenv("VELM_GEOIP") ? 1 : 0);
    struct stat a {
    }, b{};
    if (stat(beside.c_str(), &a) != 0 || stat(real_table_path().c_str(), &b) != 0 ||
        a.st_ino != b.st_ino)
        GTEST_SKIP() << "this test program does not run from the build tree's bin/";
    const std::string n4 = std::to_string(s_table.v4.size());
    const std::string n6 = std::to_string(s_table.v6.size());
    std::string fails = in_child([&](Report& r) {
        clear_search_env();
        geoip::set_search_root("");
        r.check(geoip::available(), "available()");
        r.eq("8.8.8.8", geoip::country("8.8.8.8"), "US");
        r.check(logged("INFO", "country table " + beside + ": " + n4 + " + " + n6 + " ranges") == 1,
                "INFO line names the executable-relative path");
    });
    EXPECT_EQ(fails, "");
}
