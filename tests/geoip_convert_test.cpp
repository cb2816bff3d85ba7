// The converter that builds geoip.bin from the range data: ordering, merging, the /64
// mapping of IPv6 ranges that start or end inside a /64, and refusal of bad input.
#include "geoip.h"
#include "geoip_table.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <unistd.h>

using geoiptest::ip4;
using testsupport::TempDir;

namespace {

std::string find_node() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string p = dir + "/node";
        if (access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

struct Converted {
    testsupport::RunResult run;
    bool parsed = false;
    geoip::Table table;
};

Converted convert(const TempDir& tmp, const std::string& v4, const std::string& v6) {
    Converted c;
    const std::string out = tmp.path() + "/out.bin";
    c.run = testsupport::run(find_node(), {std::string(VELMORA_SOURCE_DIR) + "/tools/make_geoip.js",
                                           "--v4", tmp.write("v4.csv", v4), "--v6",
                                           tmp.write("v6.csv", v6), "--out", out});
    const std::string bytes = testsupport::read_file(out);
    c.parsed = !bytes.empty() && geoip::parse(bytes, c.table);
    return c;
}

class GeoipConvert : public ::testing::Test {
protected:
    void SetUp() override {
        if (find_node().empty()) {
            if (std::getenv("CI")) FAIL() << "node is missing; the country table needs it";
            GTEST_SKIP() << "node is not installed";
        }
    }
};

constexpr uint64_t P = 0x20010db800000000; // the /64 prefix of 2001:db8::

} // namespace

TEST_F(GeoipConvert, SortsAndMergesIPv4) {
    TempDir tmp;
    // Out of order; AU and CN each continue in a later line; a gap keeps the last CN apart;
    // one line uses the numeric form of the package's *-num files.
    auto c = convert(tmp,
                     "2.0.4.0,2.0.7.255,CN\n"
                     "2.0.0.0,2.0.0.255,AU\n"
                     "2.0.1.0,2.0.3.255,AU\n"
                     "33556480,33556735,CN\n" // 2.0.8.0 - 2.0.8.255
                     "2.0.10.0,2.0.10.255,CN\n",
                     "");
    ASSERT_EQ(c.run.exit_code, 0) << c.run.err;
    ASSERT_TRUE(c.parsed);
    ASSERT_EQ(c.table.v4.size(), 3u);
    const struct {
        uint32_t a, b;
        const char* cc;
    } want[] = {{ip4("2.0.0.0"), ip4("2.0.3.255"), "AU"},
                {ip4("2.0.4.0"), ip4("2.0.8.255"), "CN"},
                {ip4("2.0.10.0"), ip4("2.0.10.255"), "CN"}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(uint64_t{c.table.v4[i].a}, want[i].a) << i;
        EXPECT_EQ(uint64_t{c.table.v4[i].b}, want[i].b) << i;
        EXPECT_EQ(std::string(c.table.v4[i].cc, 2), want[i].cc) << i;
    }
    EXPECT_TRUE(c.table.v6.empty());
}

TEST_F(GeoipConvert, IPv6RangesBecomeDisjointPrefixRanges) {
    TempDir tmp;
    auto c = convert(tmp, "",
                     // /64s 0-3 whole.
                     "2001:db8::,2001:db8:0:3:ffff:ffff:ffff:ffff,NL\n"
                     // /64 4: 256 addresses NL, the rest BE; BE goes on to half of /64 5.
                     "2001:db8:0:4::,2001:db8:0:4::ff,NL\n"
                     "2001:db8:0:4::100,2001:db8:0:5:7fff:ffff:ffff:ffff,BE\n"
                     // /64 5: a small FR part beside BE's half; the rest unlisted.
                     "2001:db8:0:5:8000::,2001:db8:0:5:8000::ffff,FR\n"
                     // /64 7: only its upper half listed, as LU.
                     "2001:db8:0:7:8000::,2001:db8:0:7:ffff:ffff:ffff:ffff,LU\n"
                     // /64 8: two addresses each for DE and AT; /64 9 whole DE.
                     "2001:db8:0:8::2,2001:db8:0:8::3,AT\n"
                     "2001:db8:0:8::,2001:db8:0:8::1,DE\n"
                     "2001:db8:0:9::,2001:db8:0:9:ffff:ffff:ffff:ffff,DE\n");
    ASSERT_EQ(c.run.exit_code, 0) << c.run.err;
    ASSERT_TRUE(c.parsed);
    const struct {
        uint64_t a, b;
        const char* cc;
    } want[] = {
        {P + 0, P + 3, "NL"},
        {P + 4, P + 5, "BE"}, // the majority of /64 4 and of /64 5, merged
        {P + 7, P + 7, "LU"}, // unlisted addresses do not compete
        {P + 8, P + 9, "DE"}, // a tie goes to the lowest part, then merges with /64 9
    };
    ASSERT_EQ(c.table.v6.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        EXPECT_EQ(uint64_t{c.table.v6[i].a}, want[i].a) << i;
        EXPECT_EQ(uint64_t{c.table.v6[i].b}, want[i].b) << i;
        EXPECT_EQ(std::string(c.table.v6[i].cc, 2), want[i].cc) << i;
    }
    EXPECT_EQ(geoip::lookup(c.table, "2001:db8:0:4::1"), "BE");
    EXPECT_EQ(geoip::lookup(c.table, "2001:db8:0:6::1"), "");
}

TEST_F(GeoipConvert, RefusesInputItCannotTrust) {
    struct Case {
        const char *what, *v4, *v6;
    } cases[] = {
        {"overlapping IPv4", "2.0.0.0,2.0.0.255,AU\n2.0.0.128,2.0.1.0,NZ\n", ""},
        {"overlapping IPv6", "", "2001:db8::,2001:db8::ff,NL\n2001:db8::80,2001:db8::1ff,BE\n"},
        {"inverted range", "2.0.0.9,2.0.0.0,AU\n", ""},
        {"octet out of range", "2.0.0.0,2.0.0.256,AU\n", ""},
        {"number too large", "0,4294967296,AU\n", ""},
        {"IPv6 address in IPv4 data", "::1,::2,AU\n", ""},
        {"bad IPv6", "", "2001:db8::1::2,2001:db8::3,NL\n"},
        {"code not two letters", "2.0.0.0,2.0.0.255,A1\n", ""},
        {"lower-case code", "2.0.0.0,2.0.0.255,au\n", ""},
        {"missing field", "2.0.0.0,2.0.0.255\n", ""},
    };
    for (const auto& k : cases) {
        TempDir tmp;
        auto c = convert(tmp, k.v4, k.v6);
        EXPECT_NE(c.run.exit_code, 0) << k.what;
        EXPECT_NE(c.run.err.find("make_geoip:"), std::string::npos) << k.what;
        EXPECT_EQ(access((tmp.path() + "/out.bin").c_str(), F_OK), -1)
            << k.what << ": wrote a file";
    }
}
