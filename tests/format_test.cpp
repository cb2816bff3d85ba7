// Display strings of rates, amounts, packet rates, link speeds, times and days, with the
// decimal point of English and the decimal comma of German.
#include "format.h"
#include "l10n.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

void language(const char* code) {
    testsupport::use_languages("en");
    L10n::setLanguage(code);
    ASSERT_EQ(L10n::currentLanguage(), code);
}

struct Row {
    std::string got;
    const char* en;
    const char* de; // nullptr: the same as English
};

// The same calls in both languages: only '.' produced by the number printing changes.
std::vector<Row> worked_results() {
    return {
        {fmt::rate(0, false), "0 B/s", nullptr},
        {fmt::rate(999.4, false), "999 B/s", nullptr},
        {fmt::rate(1234, false), "1.23 kB/s", "1,23 kB/s"},
        {fmt::rate(1234, true), "9.87 kbit/s", "9,87 kbit/s"},
        {fmt::rate(125000000, true), "1.00 Gbit/s", "1,00 Gbit/s"},
        {fmt::bytes(0), "0 B", nullptr},
        {fmt::bytes(1536), "1.54 kB", "1,54 kB"},
        {fmt::bytes(1200000000000000000ULL), "1200 PB", nullptr},
        {fmt::pps(7.5), "7.5", "7,5"},
        {fmt::pps(12345), "12.3 k", "12,3 k"},
        {fmt::duration(59.9), "0:59", nullptr},
        {fmt::duration(3725), "1:02:05", nullptr},
        {fmt::duration(-1), "0:00", nullptr},
        {fmt::speed_mbps(1000), "1 Gbit/s", nullptr},
        {fmt::speed_mbps(2500), "2.5 Gbit/s", "2,5 Gbit/s"},
        {fmt::speed_mbps(1600000), "1.6 Tbit/s", "1,6 Tbit/s"},
        {fmt::speed_mbps(0), "", nullptr},
        {fmt::date(20240105), "2024-01-05", nullptr},
        // Edge cases.
        {fmt::rate(999.5, false), "1.00 kB/s", "1,00 kB/s"}, // the step is at 999.5
        {fmt::rate(5000e12, false), "5000 TB/s", nullptr},   // rates have no peta unit
        {fmt::rate(0.004, false), "0.00 B/s", "0,00 B/s"},   // only exact zero loses decimals
        {fmt::rate(-0.0, false), "0 B/s", nullptr},
        {fmt::bytes(99960), "100.0 kB", "100,0 kB"},   // chosen on the unrounded 99.96
        {fmt::bytes(9996000), "10.00 MB", "10,00 MB"}, // chosen on the unrounded 9.996
        {fmt::bytes(999), "999 B", nullptr},
        {fmt::bytes(999499), "999 kB", nullptr},
        {fmt::bytes(999600), "1.00 MB", "1,00 MB"},
        {fmt::bytes(UINT64_MAX), "18447 PB", nullptr}, // unsigned over the whole range
        {fmt::pps(0), "0.0", "0,0"},
        {fmt::pps(9.99), "10.0", "10,0"},
        {fmt::pps(10), "10", nullptr},
        {fmt::pps(1000), "1.00 k", "1,00 k"},
        {fmt::pps(999999), "1000 k", nullptr},
        {fmt::pps(1000000), "1.00 M", "1,00 M"},
        {fmt::pps(-2.5), "-2.5", "-2,5"},
        {fmt::duration(3599.9), "59:59", nullptr},
        {fmt::duration(3600), "1:00:00", nullptr},
        {fmt::duration(90000), "25:00:00", nullptr}, // hours do not wrap into days
        {fmt::duration(std::nan("")), "0:00", nullptr},
        {fmt::speed_mbps(999), "999 Mbit/s", nullptr},
        {fmt::speed_mbps(999999), "1000.0 Gbit/s", "1000,0 Gbit/s"},
        {fmt::number(1234567.891, 2), "1234567.89", "1234567,89"}, // no grouping
        {fmt::number(-0.5, 1), "-0.5", "-0,5"},
        {fmt::date(5), "0000-00-05", nullptr},
    };
}

TEST(Format, WorkedResultsInEnglishAndGerman) {
    for (const char* lang : {"en", "de"}) {
        language(lang);
        for (const auto& r : worked_results())
            EXPECT_EQ(r.got, *lang == 'd' && r.de ? r.de : r.en) << lang << " " << r.en;
    }
}

TEST(Format, NonFiniteAndHugeInputs) {
    language("de");
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // A NaN rate is shown, not passed off as zero; infinity climbs to the last unit.
    EXPECT_EQ(fmt::rate(nan, false), "nan B/s");
    EXPECT_EQ(fmt::rate(inf, true), "inf Tbit/s");
    EXPECT_EQ(fmt::rate(-inf, false), "0 B/s");
    EXPECT_EQ(fmt::pps(inf), "inf M");
    // Far beyond the 64-byte print buffer: all digits, not a cut number.
    const std::string big = fmt::rate(1e300, false);
    EXPECT_EQ(big.size(), 289u + std::string(" TB/s").size()) << big;
    EXPECT_EQ(big.substr(0, 4), "1000");
    EXPECT_EQ(fmt::number(1e80, 1).size(), 83u);
    EXPECT_EQ(fmt::number(1e80, 1).substr(81), ",0");
    EXPECT_EQ(fmt::duration(1e300), "2555555555555555:33:20");
    EXPECT_EQ(fmt::duration(inf), "2555555555555555:33:20");
}

// ---------------------------------------------------------------------------------------------
// Local times. The rule is written out, so no time-zone database is needed.

// In Central Europe 2024-03-31 00:59:59 UTC is the last second of winter time (01:59:59
// CET); one second later it is 03:00:00 CEST. 2024-10-27 00:30 UTC is 02:30 CEST, one hour
// later 02:30 CET again.
const double kBeforeSpring = 1711846799, kAutumn = 1729989000;
const double kMarch17 = 1710681900; // 13:25 UTC, 14:25 CET

TEST(Format, StampsAndMomentsInTheLocalZone) {
    language("en");
    struct Case {
        const char* tz;
        long january_offset;
        double t;
        double span; // 0: fmt::stamp with the time, -1: without it; else fmt::moment
        const char* want;
    };
    const char* cet = "CET-1CEST,M3.5.0,M10.5.0/3";
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {cet, 3600, kBeforeSpring, 0, "2024-03-31 01:59"},
        {cet, 3600, kBeforeSpring + 1, 0, "2024-03-31 03:00"},
        {cet, 3600, kBeforeSpring, 3600, "01:59"},
        {cet, 3600, kBeforeSpring + 1, 3600, "03:00"},
        {cet, 3600, kAutumn, 0, "2024-10-27 02:30"},
        {cet, 3600, kAutumn + 3600, 0, "2024-10-27 02:30"},
        {cet, 3600, kAutumn + 7200, 0, "2024-10-27 03:30"},
        {cet, 3600, kBeforeSpring + 0.999, 0, "2024-03-31 01:59"}, // truncated, not rounded
        // The day changes at local midnight: 2024-01-04 23:30 UTC is already the 5th here.
        {cet, 3600, 1704411000, -1, "2024-01-05"},
        {"UTC0", 0, 1704411000, -1, "2024-01-04"},
        {"UTC0", 0, 0, 0, "1970-01-01 00:00"},
        {"UTC0", 0, -1.5, 0, "1969-12-31 23:59"},
        // The pattern follows the span: one day and 1 % still shows the time, 31 days the date.
        {cet, 3600, kMarch17, 87264, "14:25"},
        {cet, 3600, kMarch17, 87265, "03-17"},
        {cet, 3600, kMarch17, 2678400, "03-17"},
        {cet, 3600, kMarch17, 2678401, "2024-03"},
        {cet, 3600, kMarch17, 1e12, "2024-03"},
        // Times without an answer are empty.
        {"UTC0", 0, std::nan(""), 0, ""},
        {"UTC0", 0, inf, 0, ""},
        {"UTC0", 0, -1e30, 0, ""},
        {"UTC0", 0, 9.3e18, 0, ""},
        {"UTC0", 0, 1e17, 0, ""},
        {"UTC0", 0, std::nan(""), 60, ""},
        {"UTC0", 0, 1e17, 60, ""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(testsupport::use_tz(c.tz, c.january_offset));
        const std::string got =
            c.span > 0 ? fmt::moment(c.t, c.span) : fmt::stamp(c.t, c.span == 0);
        EXPECT_EQ(got, c.want) << c.tz << " " << std::fixed << c.t << " " << c.span;
    }
}

} // namespace
