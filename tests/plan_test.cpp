#include "plan.h"
#include "settings.h"
#include "support/support.h"

#include <gtest/gtest.h>

namespace {

TEST(Plan, BillingPeriods) {
    // The arithmetic runs on day numbers only; the zone is pinned anyway, so that a
    // dependence on local time crept in later would show at once.
    ASSERT_TRUE(testsupport::use_tz("XXX-14", 14 * 3600));
    struct Case {
        int today, day, start, end, days;
    } cases[] = {
        {20261206, 1, 20261201, 20261231, 31},  // renews on the first
        {20261201, 1, 20261201, 20261231, 31},  // on the renewal day itself
        {20270228, 31, 20270228, 20270330, 31}, // the 31st in February is its last day
        {20270227, 31, 20270131, 20270227, 28},
        {20280229, 31, 20280229, 20280330, 31}, // leap year
        {20270301, 30, 20270228, 20270329, 30},
        {20270103, 15, 20261215, 20270114, 31}, // across New Year
        {20261231, 15, 20261215, 20270114, 31},
        {20261210, 15, 20261115, 20261214, 30},
        {20261220, 15, 20261215, 20270114, 31}, // billing day moved mid-period: 15 ...
        {20261220, 5, 20261205, 20270104, 31},  // ... to the 5th, the period starts earlier
        {20261220, 25, 20261125, 20261224, 30}, // ... to the 25th, it ends sooner
        {20261220, 0, 20261201, 20261231, 31},  // out of range days are clamped
    };
    for (const Case& c : cases) {
        const plan::Period p = plan::period(c.today, c.day);
        EXPECT_EQ(p.start, c.start) << c.today << " day " << c.day;
        EXPECT_EQ(p.end, c.end) << c.today << " day " << c.day;
        EXPECT_EQ(p.days, c.days) << c.today << " day " << c.day;
    }
    for (int d : {19700101, 20000229, 20261231, 21000301})
        EXPECT_EQ(plan::from_serial(plan::serial(d)), d);
    EXPECT_EQ(plan::serial(20270101) - plan::serial(20261231), 1);
}

TEST(Plan, UsageAndProjection) {
    const plan::Period p = plan::period(20261201, 1); // 31 days
    struct Case {
        uint64_t allowance, used;
        int today, first;
        uint64_t remaining;
        int percent, level;
        bool proj;
        uint64_t projected;
    } cases[] = {
        {1000, 10, 20261201, 20261201, 990, 1, plan::kNone, true, 310}, // one day of data
        {1000, 0, 20261205, 0, 1000, 0, plan::kNone, false, 0},         // none at all
        {1000, 100, 20261210, 20260101, 900, 10, plan::kNone, true, 310},
        {1000, 100, 20261210, 20261206, 900, 10, plan::kNone, true, 520}, // recording began late
        {1000, 799, 20261231, 20261201, 201, 79, plan::kNone, true, 799},
        {1000, 800, 20261231, 20261201, 200, 80, plan::kWarn, true, 800},
        {7, 6, 20261215, 20261201, 1, 85, plan::kWarn, true, 12}, // 80 % of 7 is 5.6
        {7, 5, 20261215, 20261201, 2, 71, plan::kNone, true, 10},
        {1000, 1000, 20261215, 20261201, 0, 100, plan::kFull, true, 2067},
        {1000, 2500, 20261215, 20261201, 0, 250, plan::kFull, true, 5167}};
    for (const Case& c : cases) {
        const plan::Status s = plan::evaluate(c.allowance, p, c.today, c.used, c.first);
        const std::string at = std::to_string(c.used) + " of " + std::to_string(c.allowance);
        EXPECT_EQ(s.remaining, c.remaining) << at;
        EXPECT_EQ(s.percent, c.percent) << at;
        EXPECT_EQ(s.level, c.level) << at;
        EXPECT_EQ(s.has_projection, c.proj) << at;
        if (c.proj) {
            EXPECT_EQ(s.projected, c.projected) << at;
        }
    }
}

TEST(Plan, AlertsOncePerPeriod) {
    // Steps: (period start, level) → what is announced.
    struct Step {
        int period, level, announce;
    } steps[] = {{20261201, plan::kNone, plan::kNone}, {20261201, plan::kWarn, plan::kWarn},
                 {20261201, plan::kWarn, plan::kNone}, {20261201, plan::kFull, plan::kFull},
                 {20261201, plan::kFull, plan::kNone}, {20261201, plan::kWarn, plan::kNone},
                 {20270101, plan::kWarn, plan::kWarn}, // next period: again
                 {20270201, plan::kFull, plan::kFull}, // a jump past both: only the higher one
                 {20270201, plan::kWarn, plan::kNone}};
    plan::Alerted a{"wlan0", 0, 0};
    for (const Step& s : steps)
        EXPECT_EQ(plan::alert_step(a, s.period, s.level), s.announce)
            << s.period << " level " << s.level;

    // What was announced survives a restart through the settings file.
    Settings before;
    before.plan_alerts = {{"wlan0", 20261201, plan::kWarn}, {"*", 20261215, plan::kFull}};
    Settings after;
    after.load_text(before.to_text());
    ASSERT_EQ(after.plan_alerts, before.plan_alerts);
    EXPECT_EQ(plan::alert_step(after.plan_alerts[0], 20261201, plan::kWarn), plan::kNone);
    EXPECT_EQ(plan::alert_step(after.plan_alerts[1], 20261215, plan::kFull), plan::kNone);
}

TEST(Plan, TypedAmounts) {
    // 0: rejected.
    struct Case {
        const char* text;
        uint64_t bytes;
    } cases[] = {{"50 GB", 50'000'000'000},
                 {"50GB", 50'000'000'000},
                 {"1,5 TB", 1'500'000'000'000},
                 {"1.5 tb", 1'500'000'000'000},
                 {"20 GiB", 21'474'836'480},
                 {"20 gi", 21'474'836'480},
                 {"512 MiB", 536'870'912},
                 {"3 k", 3000},
                 {" 750 B ", 750},
                 {"750", 750},
                 {".5 kB", 500},
                 {"", 0},
                 {"GB", 0},
                 {"0 GB", 0},
                 {"5 XB", 0},
                 {"5 GBs", 0},
                 {"-5 GB", 0},
                 {"99999 PB", 0}};
    for (const Case& c : cases) {
        uint64_t v = 0;
        EXPECT_EQ(plan::parse_bytes(c.text, &v), c.bytes != 0) << c.text;
        EXPECT_EQ(v, c.bytes) << c.text;
    }
}

TEST(Plan, SettingsKeys) {
    Settings base;
    base.language = "de";
    base.hidden = {"lo", "virbr0"};
    const std::string old_text = base.to_text();
    EXPECT_EQ(old_text.find("plan"), std::string::npos) << "a file without plans stays as it was";

    // A file from before plans loads unchanged and without plans.
    Settings old_loaded;
    old_loaded.load_text(old_text);
    EXPECT_EQ(old_loaded, base);

    // Plans and alert state round-trip; malformed entries are skipped, not fatal.
    Settings with = base;
    with.plans = {{"*", 50'000'000'000, 31}, {"wwan0", 2'000'000'000, 1}};
    with.plan_alerts = {{"*", 20261201, 1}};
    Settings loaded;
    loaded.load_text(with.to_text());
    EXPECT_EQ(loaded, with);
    Settings damaged;
    damaged.load_text(old_text + "plans=eth0:12:40 :5:1 x:y:1 wwan0:9:3 eth0 ppp0:0:2\n");
    ASSERT_EQ(damaged.plans.size(), 1u);
    EXPECT_EQ(damaged.plans[0], (plan::Plan{"wwan0", 9, 3}));

    // A build that knows no plans treats both lines as unknown keys: the rest of the file
    // must read the same with those lines renamed to keys nobody knows.
    std::string unknown = with.to_text();
    for (const char* key : {"plans=", "plan_alerts="})
        unknown.replace(unknown.find(key), 4, "zzzz");
    Settings older_build;
    older_build.load_text(unknown);
    EXPECT_EQ(older_build, base);
}

} // namespace
