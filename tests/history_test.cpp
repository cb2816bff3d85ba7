// The long history: slot bookkeeping of the three rings, gaps and a clock going back,
// resampling into chart points, and the file.
#include "history.h"
#include "sealed_file.h"
#include "support/support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using history::Series;
using history::Store;
using history::Tier;
using testsupport::TempDir;

namespace {

// A Monday at 00:00:00 UTC; a multiple of every slot length.
constexpr double kT0 = 1717977600;
constexpr double kDay = 86400;

int used_slots(const Tier& t) {
    int n = 0;
    for (float s : t.seen) n += s > 0;
    return n;
}

size_t pos(const Tier& t, double epoch) {
    return static_cast<size_t>(static_cast<int64_t>(std::floor(epoch / t.step)) % t.count);
}

void expect_same_tiers(const Store& a, const Store& b) {
    for (int k = 0; k < Store::kTiers; ++k) {
        const Tier &x = a.tier(k), &y = b.tier(k);
        EXPECT_EQ(x.last, y.last) << "tier " << k;
        // Bit for bit, so that even NaN payload slots would have to match.
        EXPECT_EQ(std::memcmp(x.rx.data(), y.rx.data(), x.rx.size() * 4), 0) << "tier " << k;
        EXPECT_EQ(std::memcmp(x.tx.data(), y.tx.data(), x.tx.size() * 4), 0) << "tier " << k;
        EXPECT_EQ(std::memcmp(x.seen.data(), y.seen.data(), x.seen.size() * 4), 0) << "tier " << k;
    }
}

TEST(History, FreshStoreAndFirstSample) {
    Store s;
    const int steps[] = {10, 300, 3600}, counts[] = {8640, 8928, 8784};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(s.tier(k).step, steps[k]);
        EXPECT_EQ(s.tier(k).count, counts[k]);
        EXPECT_EQ(s.tier(k).last, -1);
        EXPECT_EQ(s.tier(k).rx.size(), static_cast<size_t>(counts[k]));
    }
    EXPECT_FALSE(s.dirty());

    s.add(kT0 + 12345, 1000, 250, 1);
    EXPECT_TRUE(s.dirty());
    for (int k = 0; k < 3; ++k) {
        const Tier& t = s.tier(k);
        EXPECT_EQ(t.last, static_cast<int64_t>((kT0 + 12345) / t.step)) << k;
        EXPECT_EQ(used_slots(t), 1) << k;
        EXPECT_EQ(t.rx[pos(t, kT0 + 12345)], 1000.0f);
        EXPECT_EQ(t.tx[pos(t, kT0 + 12345)], 250.0f);
        EXPECT_EQ(t.seen[pos(t, kT0 + 12345)], 1.0f);
    }
}

TEST(History, SamplesInOneSlotAverageByTime) {
    Store s;
    s.add(kT0, 100, 10, 5);
    s.add(kT0 + 5, 300, 30, 5);
    Series one = s.series(20, 100, kT0 + 9);
    ASSERT_EQ(one.rx.size(), 2u);
    EXPECT_FALSE(one.known[0]);
    EXPECT_EQ(one.rx[0], 0.0);
    EXPECT_TRUE(one.known[1]);
    EXPECT_DOUBLE_EQ(one.rx[1], 200.0);
    EXPECT_DOUBLE_EQ(one.tx[1], 20.0);
    EXPECT_EQ(one.end_t, kT0 + 10);
}

TEST(History, RejectedSamplesChangeNothing) {
    Store s;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    s.add(kT0, 1, 1, 0);
    s.add(kT0, 1, 1, -1);
    s.add(kT0, 1, 1, 30.5);
    s.add(kT0, 1, 1, nan);
    s.add(kT0, nan, 1, 1);
    s.add(kT0, 1, inf, 1);
    s.add(kT0, -inf, 1, 1);
    s.add(nan, 1, 1, 1);
    s.add(inf, 1, 1, 1);
    s.add(1e300, 1, 1, 1);
    s.add(-20, 1, 1, 1);
    EXPECT_FALSE(s.dirty());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(s.tier(k).last, -1);
    s.add(kT0, 1, 1, 30);
    EXPECT_TRUE(s.dirty());
}

TEST(History, TwoDayGapClearsTheFineRingAndOnlyTheGapElsewhere) {
    Store s;
    // Two hours of samples, then two days of silence, then one more.
    for (double t = kT0; t < kT0 + 7200; t += 10) s.add(t, 500, 50, 10);
    ASSERT_EQ(used_slots(s.tier(0)), 720);
    ASSERT_EQ(used_slots(s.tier(1)), 24);
    ASSERT_EQ(used_slots(s.tier(2)), 2);
    const double later = kT0 + 7200 + 2 * kDay;
    s.add(later, 800, 80, 10);
    EXPECT_EQ(used_slots(s.tier(0)), 1);
    EXPECT_EQ(used_slots(s.tier(1)), 25);
    EXPECT_EQ(used_slots(s.tier(2)), 3);

    Series day = s.series(kDay, 8640, later);
    ASSERT_EQ(day.known.size(), 8640u);
    for (size_t i = 0; i + 1 < day.known.size(); ++i) ASSERT_FALSE(day.known[i]) << i;
    EXPECT_TRUE(day.known.back());
    EXPECT_DOUBLE_EQ(day.rx.back(), 800.0);

    // Points of 20 minutes end with the slot of `later`, so they are not aligned with the two
    // hours: those spread over seven points, and the last sample has one of its own.
    Series week = s.series(7 * kDay, 600, later);
    int known = 0;
    for (size_t i = 0; i < week.known.size(); ++i) {
        if (!week.known[i]) continue;
        ++known;
        EXPECT_DOUBLE_EQ(week.rx[i], i + 1 == week.known.size() ? 800.0 : 500.0) << i;
    }
    EXPECT_EQ(known, 8);
}

TEST(History, ClockGoingBackSkipsOnlyTiersAheadOfIt) {
    Store s;
    s.add(kT0 + 100, 100, 100, 1);
    const Tier before = s.tier(0);
    // Thirty seconds back: an earlier 10-second slot, but the same 5-minute and hour slots.
    s.add(kT0 + 70, 900, 900, 1);
    EXPECT_EQ(s.tier(0).last, before.last);
    EXPECT_EQ(s.tier(0).rx, before.rx);
    EXPECT_EQ(s.tier(0).seen, before.seen);
    EXPECT_EQ(s.tier(1).seen[pos(s.tier(1), kT0)], 2.0f);
    EXPECT_EQ(s.tier(1).rx[pos(s.tier(1), kT0)], 1000.0f);
    EXPECT_EQ(s.tier(2).seen[pos(s.tier(2), kT0)], 2.0f);

    // Once time passes the newest slot again, the fine ring takes samples as before.
    s.add(kT0 + 110, 100, 100, 1);
    EXPECT_EQ(s.tier(0).last, before.last + 1);
    EXPECT_EQ(used_slots(s.tier(0)), 2);
}

TEST(History, SeriesPicksTheTierAndPointCount) {
    Store s;
    const double now = kT0 + 400 * kDay + 1234;
    struct Case {
        double span;
        int max_points;
        size_t points;
        double step_s;
    };
    const Case cases[] = {
        {3600, 360, 360, 10},
        {86400 * 7, 600, 504, 1200},
        {86400, 600, 576, 150},        // 8640 slots, 15 per point
        {60, 1000, 6, 10},             // more points asked than slots
        {5, 10, 2, 10},                // at least two slots
        {86400 * 31, 100, 100, 27000}, // 8928 five-minute slots, 90 per point
        {86400 * 400, 400, 400, 86400},
        {86400 * 7, 0, 1, 604800}, // no width: one point
    };
    for (const auto& c : cases) {
        Series r = s.series(c.span, c.max_points, now);
        EXPECT_EQ(r.rx.size(), c.points) << c.span;
        EXPECT_EQ(r.tx.size(), c.points) << c.span;
        EXPECT_EQ(r.known.size(), c.points) << c.span;
        EXPECT_EQ(r.step_s, c.step_s) << c.span;
    }
    EXPECT_EQ(s.series(3600, 360, now).end_t, std::floor(now / 10) * 10 + 10);
    EXPECT_EQ(s.series(86400 * 400, 400, now).end_t, std::floor(now / 3600) * 3600 + 3600);

    // Absurd arguments stay bounded instead of overflowing or allocating without end.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_LE(s.series(1e300, 1000000, now).rx.size(), 1000000u);
    EXPECT_EQ(s.series(nan, 10, now).rx.size(), 2u);
    EXPECT_EQ(s.series(-5, 10, nan).rx.size(), 2u);
}

TEST(History, SeriesAveragesHourlyOverMoreThanAYear) {
    Store s;
    const double start = kT0;
    const double now = start + 400 * kDay - 1;
    for (double t = start; t <= now; t += 3600) s.add(t, 1000, 100, 30);
    Series r = s.series(400 * kDay, 400, now);
    ASSERT_EQ(r.known.size(), 400u);
    // The hour ring holds 366 days: the first 34 daily points are beyond it.
    for (size_t i = 0; i < 34; ++i) EXPECT_FALSE(r.known[i]) << i;
    for (size_t i = 34; i < 400; ++i) {
        ASSERT_TRUE(r.known[i]) << i;
        EXPECT_NEAR(r.rx[i], 1000.0, 1e-3);
        EXPECT_NEAR(r.tx[i], 100.0, 1e-3);
    }
}

Store busy_store() {
    Store s;
    double t = kT0;
    for (int i = 0; i < 20000; ++i) {
        s.add(t, 1000.0 + (i * 7919 % 1000) / 3.0, i % 97 * 1.5, 1 + i % 10);
        t += 1 + i % 13 + (i % 2000 == 0 ? 5000 : 0);
    }
    return s;
}

TEST(History, SaveAndLoadReproduceEverySlot) {
    TempDir tmp;
    const std::string path = tmp.path() + "/history.dat";
    Store s = busy_store();
    ASSERT_TRUE(s.save(path));
    EXPECT_FALSE(s.dirty());
    std::string plain;
    ASSERT_EQ(sealed::read(path, &plain), sealed::Result::Ok);
    EXPECT_EQ(plain.size(), 316280u);
    EXPECT_EQ(plain.substr(0, 8), std::string("VMHIST1\0", 8));

    Store back;
    EXPECT_TRUE(back.load(path));
    EXPECT_FALSE(back.dirty());
    expect_same_tiers(back, s);
    EXPECT_EQ(back.payload(), plain);
}

TEST(History, FailedSaveKeepsDirty) {
    TempDir tmp;
    Store s;
    s.add(kT0, 1, 1, 1);
    EXPECT_FALSE(s.save(tmp.write("file", "x") + "/history.dat"));
    EXPECT_TRUE(s.dirty());
}

void put_le(std::string& p, size_t at, uint64_t v, int bytes) {
    for (int b = 0; b < bytes; ++b)
        p[at + static_cast<size_t>(b)] = static_cast<char>(v >> (8 * b));
}

TEST(History, LoadStopsAtAForeignOrDamagedTier) {
    const Store full = busy_store();
    const std::string good = full.payload();
    const size_t tier1_at = 8 + 16 + 8640 * 12;
    const size_t tier2_at = tier1_at + 16 + 8928 * 12;

    struct Case {
        const char* what;
        std::string payload;
        int tiers_loaded;
    };
    std::vector<Case> cases;
    std::string p = good;
    put_le(p, tier1_at + 4, 8929, 4);
    cases.push_back({"tier 1 count of another layout", p, 1});
    p = good;
    put_le(p, 8, 5, 4);
    cases.push_back({"tier 0 step of another layout", p, 0});
    p = good;
    put_le(p, tier2_at + 8, static_cast<uint64_t>(INT64_MAX), 8);
    cases.push_back({"tier 2 newest slot no clock can reach", p, 2});
    p = good;
    put_le(p, 16, static_cast<uint64_t>(-7), 8);
    cases.push_back({"tier 0 newest slot below -1", p, 0});
    cases.push_back({"cut inside tier 2's arrays", good.substr(0, good.size() - 1), 2});
    cases.push_back({"cut inside tier 1's header", good.substr(0, tier1_at + 10), 1});
    cases.push_back({"cut after tier 1", good.substr(0, tier2_at + 3), 2});
    cases.push_back({"magic only", good.substr(0, 8), 0});
    cases.push_back({"short magic", good.substr(0, 7), -1});
    p = good;
    p[6] = '2';
    cases.push_back({"other magic", p, -1});
    cases.push_back({"empty", "", -1});

    const Store empty;
    for (const auto& c : cases) {
        Store s;
        EXPECT_EQ(s.load_payload(c.payload), c.tiers_loaded == 3) << c.what;
        for (int k = 0; k < 3; ++k) {
            const Tier& want = (k < c.tiers_loaded ? full : empty).tier(k);
            EXPECT_EQ(s.tier(k).last, want.last) << c.what << " tier " << k;
            EXPECT_EQ(s.tier(k).seen, want.seen) << c.what << " tier " << k;
        }
    }
}

TEST(History, LoadOfAMissingOrTamperedFileLeavesTheStoreAlone) {
    TempDir tmp;
    Store s = busy_store();
    const Store before = s;
    EXPECT_FALSE(s.load(tmp.path() + "/history.dat"));
    const std::string plain = tmp.write("plain.dat", before.payload());
    EXPECT_FALSE(s.load(plain)); // an unsealed payload
    expect_same_tiers(s, before);

    // A sealed file of another layout.
    std::string foreign = Store().payload();
    put_le(foreign, 12, 4320, 4);
    ASSERT_TRUE(sealed::write(tmp.path() + "/foreign.dat", foreign));
    EXPECT_FALSE(s.load(tmp.path() + "/foreign.dat"));
    expect_same_tiers(s, before);
}

} // namespace
