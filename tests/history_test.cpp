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
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

int used_slots(const Tier& t) {
    int n = 0;
    for (float s : t.seen) n += s > 0;
    return n;
}

size_t pos(const Tier& t, double epoch) {
    return static_cast<size_t>(static_cast<int64_t>(std::floor(epoch / t.step)) % t.count);
}

TEST(History, FirstSampleAndRejectedSamples) {
    Store s;
    const double inf = std::numeric_limits<double>::infinity();
    // dt outside (0, 30], a rate or time that is not finite, a time before 1970 or absurdly late.
    const double bad[][4] = {{kT0, 1, 1, 0},    {kT0, 1, 1, 30.5}, {kT0, 1, 1, kNaN},
                             {kT0, kNaN, 1, 1}, {kT0, 1, -inf, 1}, {kNaN, 1, 1, 1},
                             {-20, 1, 1, 1},    {1e300, 1, 1, 1}};
    for (const auto& b : bad) s.add(b[0], b[1], b[2], b[3]);
    EXPECT_FALSE(s.dirty());

    s.add(kT0 + 12345, 1000, 250, 1);
    EXPECT_TRUE(s.dirty());
    for (int k = 0; k < Store::kTiers; ++k) {
        const Tier& t = s.tier(k);
        EXPECT_EQ(t.last, static_cast<int64_t>((kT0 + 12345) / t.step)) << k;
        EXPECT_EQ(used_slots(t), 1) << k;
        const size_t p = pos(t, kT0 + 12345);
        EXPECT_EQ(std::tie(t.rx[p], t.tx[p], t.seen[p]), std::make_tuple(1000.0f, 250.0f, 1.0f));
    }
}

TEST(History, SamplesInOneSlotAverageByTime) {
    Store s;
    s.add(kT0, 100, 10, 5);
    s.add(kT0 + 5, 300, 30, 5);
    Series one = s.series(20, 100, kT0 + 9);
    ASSERT_EQ(one.rx.size(), 2u);
    EXPECT_EQ(one.known, (std::vector<bool>{false, true}));
    EXPECT_EQ(std::tie(one.rx[1], one.tx[1], one.end_t), std::make_tuple(200.0, 20.0, kT0 + 10));
}

TEST(History, TwoDayGapClearsTheFineRingAndOnlyTheGapElsewhere) {
    Store s;
    for (double t = kT0; t < kT0 + 7200; t += 10) s.add(t, 500, 50, 10); // two hours
    ASSERT_EQ(used_slots(s.tier(1)), 24);
    const double later = kT0 + 7200 + 2 * kDay;
    s.add(later, 800, 80, 10);
    EXPECT_EQ(used_slots(s.tier(0)), 1);
    EXPECT_EQ(used_slots(s.tier(1)), 25);
    EXPECT_EQ(used_slots(s.tier(2)), 3);

    Series day = s.series(kDay, 8640, later);
    ASSERT_EQ(day.known.size(), 8640u);
    EXPECT_EQ(std::count(day.known.begin(), day.known.end(), true), 1);
    EXPECT_TRUE(day.known.back());
    // Points of 20 minutes end with the slot of `later`, so they are not aligned with the
    // two hours: those spread over seven points, and the last sample has one of its own.
    Series week = s.series(7 * kDay, 600, later);
    EXPECT_EQ(std::count(week.known.begin(), week.known.end(), true), 8);
    for (size_t i = 0; i + 1 < week.known.size(); ++i)
        EXPECT_DOUBLE_EQ(week.rx[i], week.known[i] ? 500.0 : 0.0) << i;
}

TEST(History, ClockGoingBackSkipsOnlyTiersAheadOfIt) {
    Store s;
    s.add(kT0 + 100, 100, 100, 1);
    const Tier fine = s.tier(0);
    // Thirty seconds back: an earlier 10-second slot, but the same 5-minute and hour slots.
    s.add(kT0 + 70, 900, 900, 1);
    EXPECT_EQ(s.tier(0).last, fine.last);
    EXPECT_EQ(s.tier(0).seen, fine.seen);
    EXPECT_EQ(s.tier(1).rx[pos(s.tier(1), kT0)], 1000.0f);
    EXPECT_EQ(s.tier(2).seen[pos(s.tier(2), kT0)], 2.0f);
    // Once time passes the newest slot again, the fine ring takes samples as before.
    s.add(kT0 + 110, 100, 100, 1);
    EXPECT_EQ(used_slots(s.tier(0)), 2);
}

TEST(History, SeriesPicksTheTierAndPointCount) {
    Store s;
    const double now = kT0 + 400 * kDay + 1234;
    // span, max_points -> points, seconds per point
    const std::tuple<double, int, size_t, double> cases[] = {
        {3600, 360, 360, 10},
        {86400 * 7, 600, 504, 1200},
        {86400, 600, 576, 150},
        {60, 1000, 6, 10},
        {5, 10, 2, 10},
        {86400 * 31, 100, 100, 27000},
        {86400 * 400, 400, 400, 86400},
        {86400 * 7, 0, 1, 604800},
        {kNaN, 10, 2, 3600},
        {1e300, 1000000, 1000000, 3600},
    };
    for (const auto& [span, max_points, points, step_s] : cases) {
        Series r = s.series(span, max_points, now);
        EXPECT_EQ(std::make_tuple(r.rx.size(), r.known.size(), r.step_s),
                  std::make_tuple(points, points, step_s))
            << span;
    }
    EXPECT_EQ(s.series(86400 * 400, 400, now).end_t, std::floor(now / 3600) * 3600 + 3600);
}

TEST(History, SeriesOverMoreThanAYearMarksWhatTheRingLost) {
    Store s;
    const double now = kT0 + 400 * kDay - 1;
    for (double t = kT0; t <= now; t += 3600) s.add(t, 1000, 100, 30);
    Series r = s.series(400 * kDay, 400, now);
    ASSERT_EQ(r.known.size(), 400u);
    // The hour ring holds 366 days: the first 34 daily points are beyond it.
    for (size_t i = 0; i < 400; ++i) {
        ASSERT_EQ(r.known[i], i >= 34) << i;
        EXPECT_NEAR(r.rx[i], i >= 34 ? 1000.0 : 0.0, 1e-3);
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

void expect_tiers(const Store& got, const Store& want, int from, int to, const char* what) {
    for (int k = from; k < to; ++k) {
        const Tier &x = got.tier(k), &y = want.tier(k);
        EXPECT_EQ(x.last, y.last) << what << " tier " << k;
        EXPECT_EQ(std::memcmp(x.rx.data(), y.rx.data(), x.rx.size() * 4), 0) << what << k;
        EXPECT_EQ(std::memcmp(x.tx.data(), y.tx.data(), x.tx.size() * 4), 0) << what << k;
        EXPECT_EQ(std::memcmp(x.seen.data(), y.seen.data(), x.seen.size() * 4), 0) << what << k;
    }
}

TEST(History, SaveAndLoadReproduceEverySlot) {
    TempDir tmp;
    const std::string path = tmp.path() + "/history.dat";
    const Store s = busy_store();
    ASSERT_TRUE(s.save(path));
    EXPECT_FALSE(s.dirty());
    std::string plain;
    ASSERT_EQ(sealed::read(path, &plain), sealed::Result::Ok);
    EXPECT_EQ(plain.substr(0, 8), std::string("VMHIST1\0", 8));
    Store back;
    EXPECT_TRUE(back.load(path));
    expect_tiers(back, s, 0, 3, "reloaded");

    // Missing and unwritable files leave the store and its dirty flag alone.
    EXPECT_FALSE(back.load(tmp.path() + "/absent.dat"));
    expect_tiers(back, s, 0, 3, "after a missing file");
    back.add(kT0 + 400 * kDay, 1, 1, 1);
    EXPECT_FALSE(back.save(tmp.write("file", "x") + "/history.dat"));
    EXPECT_TRUE(back.dirty());
}

TEST(History, LoadStopsAtAForeignOrDamagedTier) {
    const Store full = busy_store(), empty;
    const std::string good = full.payload();
    const size_t tier1 = 8 + 16 + 8640 * 12, tier2 = tier1 + 16 + 8928 * 12;
    auto patched = [&](size_t at, uint64_t v, int bytes) {
        return std::string(good).replace(at, size_t(bytes), testsupport::le(v, bytes));
    };
    // what, payload, tiers that load before the stop (-1: not even the magic)
    const std::tuple<const char*, std::string, int> cases[] = {
        {"tier 1 count of another layout", patched(tier1 + 4, 8929, 4), 1},
        {"tier 0 step of another layout", patched(8, 5, 4), 0},
        {"tier 2 newest slot no clock reaches", patched(tier2 + 8, INT64_MAX, 8), 2},
        {"tier 0 newest slot below -1", patched(16, uint64_t(-7), 8), 0},
        {"cut inside tier 2's arrays", good.substr(0, good.size() - 1), 2},
        {"cut inside tier 1's header", good.substr(0, tier1 + 10), 1},
        {"other magic", patched(6, '2', 1), -1},
        {"short magic", good.substr(0, 7), -1},
    };
    for (const auto& [what, payload, loaded] : cases) {
        Store s;
        EXPECT_EQ(s.load_payload(payload), loaded == 3) << what;
        expect_tiers(s, full, 0, std::max(loaded, 0), what);
        expect_tiers(s, empty, std::max(loaded, 0), 3, what);
    }
}

} // namespace
