// The daily usage store: turning counter readings into daily increments across resets,
// restarts and reboots, calendar arithmetic in local time, retention and the file.
#include "support/support.h"
#include "usage_store.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

using testsupport::fixture;
using testsupport::keep_clear_of_midnight;
using testsupport::TempDir;
using testsupport::use_tz;
using usage::Store;
using usage::Sum;

namespace {

// Two boots of the same machine: boot_a and boot_b hold different boot identifiers.
const std::string kBootA = fixture("usage/boot_a");
const std::string kBootB = fixture("usage/boot_b");

TEST(Usage, ReadingsBecomeIncrementsAcrossCounterResets) {
    ASSERT_TRUE(use_tz("UTC0", 0));
    keep_clear_of_midnight();
    Store s;
    const int today = Store::today();
    s.observe("eth0", 1000, 50, true);
    s.observe("eth0", 1000, 50, true);
    EXPECT_FALSE(s.dirty()) << "a first or unchanged reading books nothing";
    EXPECT_TRUE(s.interfaces().empty());

    s.observe("eth0", 1500, 50, true);
    EXPECT_TRUE(s.dirty());
    EXPECT_EQ(s.day("eth0", today), (Sum{500, 0}));
    s.observe("eth0", 200, 10, true); // the counters restarted
    EXPECT_EQ(s.day("eth0", today), (Sum{700, 10}));
    s.observe("eth0", 700, 10, true);
    EXPECT_EQ(s.day("eth0", today), (Sum{1200, 10}));

    // An interface outside the total grows its own days only.
    s.observe("tun0", 0, 0, false);
    s.observe("tun0", 300, 400, false);
    EXPECT_EQ(s.day("tun0", today), (Sum{300, 400}));
    EXPECT_EQ(s.day("*", today), (Sum{1200, 10}));
    EXPECT_EQ(s.interfaces(), (std::vector<std::string>{"eth0", "tun0"}));

    // A reset forgets the days but keeps the readings, so counting goes on.
    s.reset();
    EXPECT_EQ(s.all("*"), Sum{});
    EXPECT_TRUE(s.interfaces().empty());
    s.observe("eth0", 750, 10, true);
    EXPECT_EQ(s.all("eth0"), (Sum{50, 0}));
}

TEST(Usage, RestartOnTheSameBootContinuesFromTheSavedReading) {
    ASSERT_TRUE(use_tz("UTC0", 0));
    keep_clear_of_midnight();
    TempDir tmp;
    const std::string path = tmp.path() + "/usage.dat";
    const int today = Store::today();
    {
        Store first;
        first.load(path, kBootA);
        first.observe("eth0", 1'000'000, 20'000, true);
        ASSERT_TRUE(first.save());
        EXPECT_FALSE(first.dirty());
    }
    Store same_boot;
    same_boot.load(path, kBootA);
    same_boot.observe("eth0", 1'300'000, 20'500, true);
    EXPECT_EQ(same_boot.day("eth0", today), (Sum{300'000, 500}));
    EXPECT_EQ(same_boot.day("*", today), (Sum{300'000, 500}));

    // After a reboot the counters began again at zero; the old reading must not bridge.
    Store rebooted;
    rebooted.load(path, kBootB);
    rebooted.observe("eth0", 1'300'000, 20'500, true);
    EXPECT_EQ(rebooted.all("eth0"), Sum{});
    rebooted.observe("eth0", 1'300'100, 20'500, true);
    EXPECT_EQ(rebooted.day("eth0", today), (Sum{100, 0}));

    // Without a readable boot identifier the stored one (of boot A) does not match either.
    Store unknown_boot;
    unknown_boot.load(path, tmp.path() + "/no-such-root");
    unknown_boot.observe("eth0", 1'300'000, 20'500, true);
    EXPECT_EQ(unknown_boot.all("eth0"), Sum{});
}

TEST(Usage, DayArithmeticInEveryKindOfZone) {
    // Central Europe: clocks go forward on 2024-03-31 and back on 2024-10-27, where a day has
    // 23 and 25 hours. BRT: clocks change at midnight, so one local midnight never happens.
    // IST: standard time in summer and one hour less in winter, which the C library reports
    // as daylight-saving time: midnight in the "standard" offset lies in the day before.
    const char* cet = "CET-1CEST,M3.5.0,M10.5.0/3";
    const char* brt = "BRT3BRST,M10.3.0/0,M2.3.0/0";
    const char* ist = "IST-1GMT0,M10.5.0,M3.5.0/1";
    const std::tuple<const char*, long, int, int, int> cases[] = {
        // zone, its January offset, day, step, result
        {"UTC0", 0, 20240301, -1, 20240229},      {"UTC0", 0, 20230301, -1, 20230228},
        {"UTC0", 0, 20231231, 1, 20240101},       {"UTC0", 0, 20240101, -1, 20231231},
        {"UTC0", 0, 20240131, 1, 20240201},       {"UTC0", 0, 20240229, 365, 20250228},
        {"UTC0", 0, 20000228, 1, 20000229},       {"UTC0", 0, 21000228, 1, 21000301},
        {"UTC0", 0, 20240615, -800, 20220407},    {"UTC0", 0, 20240615, 36524, 21240615},
        {cet, 3600, 20240330, 1, 20240331},       {cet, 3600, 20240331, 1, 20240401},
        {cet, 3600, 20240401, -2, 20240330},      {cet, 3600, 20241027, 1, 20241028},
        {cet, 3600, 20241028, -1, 20241027},      {brt, -2 * 3600, 20181020, 1, 20181021},
        {brt, -2 * 3600, 20190217, -1, 20190216}, {ist, 0, 20240115, 1, 20240116},
        {ist, 0, 20240701, -1, 20240630},
    };
    for (const auto& [tz, offset, day, n, expected] : cases) {
        ASSERT_TRUE(use_tz(tz, offset));
        EXPECT_EQ(Store::add_days(day, n), expected) << tz << " " << day << " " << n;
    }
    // Absurd steps neither overflow nor wrap into a plausible date.
    EXPECT_GT(Store::add_days(20240101, 2'000'000'000), 20240101);
    EXPECT_LT(Store::add_days(20240101, -2'000'000'000), 20240101);

    // Fourteen hours east of UTC the local date differs from UTC's for ten hours of every
    // day. A zone name needs three characters, or the angle brackets.
    ASSERT_TRUE(use_tz("<+14>-14", 14 * 3600));
    auto utc_plus_14 = [] {
        time_t t = time(nullptr) + 14 * 3600;
        tm u{};
        gmtime_r(&t, &u);
        return (u.tm_year + 1900) * 10000 + (u.tm_mon + 1) * 100 + u.tm_mday;
    };
    const int before = utc_plus_14(), today = Store::today(), after = utc_plus_14();
    EXPECT_TRUE(today == before || today == after) << today << " " << before;
}

TEST(Usage, SaveDropsDaysBeyondRetention) {
    ASSERT_TRUE(use_tz("UTC0", 0));
    keep_clear_of_midnight();
    TempDir tmp;
    const std::string path = tmp.path() + "/usage.dat";
    const int day800 = Store::add_days(Store::today(), -800);
    const int day801 = Store::add_days(Store::today(), -801);
    Store s;
    s.load(path, kBootA);
    s.load_payload("D eth0 " + std::to_string(day801) + " 1 1\nD eth0 " + std::to_string(day800) +
                   " 2 2\nD old0 " + std::to_string(day801) + " 3 3\n");
    ASSERT_TRUE(s.save());
    Store back;
    back.load(path, kBootA);
    EXPECT_EQ(back.day("eth0", day800), (Sum{2, 2}));
    EXPECT_EQ(back.first_day("eth0"), day800);
    EXPECT_EQ(back.interfaces(), std::vector<std::string>{"eth0"});

    Store unwritable;
    unwritable.load(tmp.write("file", "x") + "/usage.dat", kBootA);
    unwritable.reset();
    EXPECT_FALSE(unwritable.save());
    EXPECT_TRUE(unwritable.dirty()) << "a failed save must be retried";
}

TEST(Usage, PayloadLinesAndTheirParsing) {
    Store s;
    s.load_payload("B \n"
                   "D eth0 20240102 10 20\n"
                   "D eth0 20240101 1 2\n"
                   "D eth0 20240101 3 4\n" // a repeated day replaces the earlier one
                   "D eth0 0 99 99\n"      // day below 1
                   "D wlan0 20240103\n"    // missing numbers read as 0
                   "D wlan0 20240104 -5 x\n"
                   "D * 20240101 7 8\n"
                   "D\nR\nX eth0 20240101 5 5\n\n"
                   "D  lo \t 20240105   6   7  \n");
    EXPECT_EQ(s.interfaces(), (std::vector<std::string>{"eth0", "lo", "wlan0"}));
    EXPECT_EQ(s.range("eth0", 20240101, 20240102), (Sum{13, 24}));
    EXPECT_EQ(s.range("eth0", 20240102, 20240102), (Sum{10, 20}));
    EXPECT_EQ(s.first_day("wlan0"), 20240103);
    EXPECT_EQ(s.all("ppp0"), Sum{});
    EXPECT_EQ(s.first_day("ppp0"), 0);

    s.observe("eth0", 5, 5, true);
    EXPECT_EQ(s.payload(), "B \nR eth0 5 5\nD * 20240101 7 8\nD eth0 20240101 3 4\n"
                           "D eth0 20240102 10 20\nD lo 20240105 6 7\n"
                           "D wlan0 20240103 0 0\nD wlan0 20240104 0 0\n");
}

} // namespace
