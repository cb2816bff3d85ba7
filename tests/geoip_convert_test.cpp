// The converter that builds geoip.bin from the range data: ordering, merging, the /64
// mapping of IPv6 ranges that start or end inside a /64, and refusal of bad input.
#include "geoip.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <unistd.h>

using testsupport::TempDir;

namespace {

class GeoipConvert : public ::testing::Test {
protected:
    void SetUp() override {
        if (m_node.empty() && std::getenv("CI")) FAIL() << "node is missing";
        if (m_node.empty()) GTEST_SKIP() << "node is not installed";
    }
    // Runs the converter on the two CSV texts; true when it wrote a table that parses.
    bool convert(const std::string& v4, const std::string& v6) {
        const std::string out = m_tmp.path() + "/out.bin";
        m_run = testsupport::run(m_node, {std::string(VELMORA_SOURCE_DIR) + "/tools/make_geoip.js",
                                          "--v4", m_tmp.write("v4.csv", v4), "--v6",
                                          m_tmp.write("v6.csv", v6), "--out", out});
        const std::string bytes = testsupport::read_file(out);
        return !bytes.empty() && geoip::parse(bytes, m_table);
    }
    const std::string m_node = testsupport::find_program("node");
    TempDir m_tmp;
    testsupport::RunResult m_run;
    geoip::Table m_table;
};

template <typename R> std::string dump(const std::vector<R>& v) {
    std::ostringstream s;
    for (const R& r : v)
        s << std::hex << uint64_t{r.a} << "-" << uint64_t{r.b} << " " << std::string(r.cc, 2)
          << "\n";
    return s.str();
}

} // namespace

TEST_F(GeoipConvert, MergesNeighboursAndMapsIPv6ToPrefixes) {
    ASSERT_TRUE(convert(
        // Out of order; AU and CN continue in later lines; a gap keeps the last CN apart;
        // one line in the numeric form of the package's *-num files (2.0.8.0-2.0.8.255).
        "2.0.4.0,2.0.7.255,CN\n2.0.0.0,2.0.0.255,AU\n2.0.1.0,2.0.3.255,AU\n"
        "33556480,33556735,CN\n2.0.10.0,2.0.10.255,CN\n",
        // /64s 0-3 whole NL. /64 4: 256 addresses NL, the rest BE, which goes on to half of
        // /64 5, where a small FR part and unlisted addresses share the other half. /64 7:
        // only its upper half listed, as LU. /64 8: a tie of two addresses each for DE and
        // AT; /64 9 whole DE.
        "2001:db8::,2001:db8:0:3:ffff:ffff:ffff:ffff,NL\n"
        "2001:db8:0:4::,2001:db8:0:4::ff,NL\n"
        "2001:db8:0:4::100,2001:db8:0:5:7fff:ffff:ffff:ffff,BE\n"
        "2001:db8:0:5:8000::,2001:db8:0:5:8000::ffff,FR\n"
        "2001:db8:0:7:8000::,2001:db8:0:7:ffff:ffff:ffff:ffff,LU\n"
        "2001:db8:0:8::2,2001:db8:0:8::3,AT\n"
        "2001:db8:0:8::,2001:db8:0:8::1,DE\n"
        "2001:db8:0:9::,2001:db8:0:9:ffff:ffff:ffff:ffff,DE\n"))
        << m_run.err;
    EXPECT_EQ(dump(m_table.v4), "2000000-20003ff AU\n2000400-20008ff CN\n2000a00-2000aff CN\n");
    // Each /64 goes to the country holding most of it, unlisted addresses not competing,
    // a tie to the lowest part; then neighbours of one country merge.
    EXPECT_EQ(dump(m_table.v6), "20010db800000000-20010db800000003 NL\n"
                                "20010db800000004-20010db800000005 BE\n"
                                "20010db800000007-20010db800000007 LU\n"
                                "20010db800000008-20010db800000009 DE\n");
}

TEST_F(GeoipConvert, RefusesInputItCannotTrust) {
    // clang-format off
    const char* const cases[][2] = {
        {"2.0.0.0,2.0.0.255,AU\n2.0.0.128,2.0.1.0,NZ\n", ""}, // overlap
        {"", "2001:db8::,2001:db8::ff,NL\n2001:db8::80,2001:db8::1ff,BE\n"},
        {"2.0.0.9,2.0.0.0,AU\n", ""}, {"2.0.0.0,2.0.0.256,AU\n", ""}, {"0,4294967296,AU\n", ""},
        {"::1,::2,AU\n", ""}, {"", "2001:db8::1::2,2001:db8::3,NL\n"},
        {"2.0.0.0,2.0.0.255,A1\n", ""}, {"2.0.0.0,2.0.0.255,au\n", ""}, {"2.0.0.0,2.0.0.255\n", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_FALSE(convert(c[0], c[1])) << c[0] << c[1];
        EXPECT_EQ(m_run.exit_code, 1) << c[0] << c[1];
        EXPECT_NE(m_run.err.find("make_geoip:"), std::string::npos) << c[0] << c[1];
        EXPECT_NE(access((m_tmp.path() + "/out.bin").c_str(), F_OK), 0) << "wrote a file";
    }
}
