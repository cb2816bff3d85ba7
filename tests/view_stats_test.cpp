// The statistics page: the tiles' day and month arithmetic, the chart bars, the tile grid,
// bar labels and scale, the chip row with its arrows, and the fallback for a vanished device.
#include "l10n.h"
#include "support/ui.h"

#include <gtest/gtest.h>

using testsupport::Ui;

namespace {

usage::Store store_of(const std::string& payload) {
    usage::Store st;
    st.load_payload(payload);
    return st;
}

// Where the first chart's bar slots begin: below the tiles, in window units.
double bars_top(const Ui& ui) {
    return ui.find("st:bar:11:0")->y;
}

TEST(StatsFigures, TilesFollowTheCalendar) {
    L10n::setLanguage("en");
    // One byte pattern per day, so each sum tells exactly which days it covered.
    const auto st = store_of("D * 20231130 1 0\nD * 20231201 10 0\nD * 20231231 100 0\n"
                             "D * 20240101 1000 0\nD * 20240109 10000 0\nD * 20240110 100000 7\n"
                             "D * 20240229 1000000 0\nD * 20240301 0 1\nD * 20240331 0 10\n"
                             "D eth0 20240110 5 5\n");
    struct Case {
        int today;
        size_t tile;
        uint64_t rx, tx;
    } cases[] = {
        {20240110, 0, 100000, 7},   // today
        {20240110, 1, 10000, 0},    // yesterday
        {20240101, 1, 100, 0},      // yesterday across the year
        {20240110, 2, 110000, 7},   // 7 days: Jan 4 .. 10
        {20240110, 3, 111000, 7},   // this month
        {20240110, 4, 110, 0},      // last month = December of the previous year
        {20240303, 3, 0, 11},       // this month reaches day 31
        {20240303, 4, 1000000, 0},  // February of a leap year
        {20240303, 5, 1111111, 18}, // all time
    };
    for (const Case& c : cases) {
        const auto tiles = stats_tiles(st, "*", c.today);
        ASSERT_EQ(tiles.size(), 6u);
        EXPECT_EQ(tiles[c.tile].sum, (usage::Sum{c.rx, c.tx})) << c.today << " tile " << c.tile;
    }
    EXPECT_EQ(stats_tiles(st, "*", 20240110)[5].label, "Since 2023-11-30");
    EXPECT_EQ(stats_tiles(st, "eth0", 20240110)[0].sum, (usage::Sum{5, 5}));
    const auto empty = stats_tiles(usage::Store{}, "*", 20240110);
    EXPECT_EQ(empty[5].label, "All time");
    EXPECT_EQ(empty[5].sum, usage::Sum{});
}

TEST(StatsFigures, BarsCoverThirtyDaysAndTwelveMonths) {
    const auto st = store_of("D * 20240210 3 4\nD * 20230201 5 0\nD * 20230131 9 0\n");
    const auto days = stats_bars(st, "*", 20240310, false);
    ASSERT_EQ(days.size(), 30u);
    EXPECT_EQ(days.front().label, "02-10"); // 29 days back over a leap February
    EXPECT_EQ(days.front().sum, (usage::Sum{3, 4}));
    EXPECT_EQ(days.back().label, "03-10");
    const auto months = stats_bars(st, "*", 20240110, true);
    ASSERT_EQ(months.size(), 12u);
    EXPECT_EQ(months.front().label, "2023-02");
    EXPECT_EQ(months.front().sum, (usage::Sum{5, 0})); // January 31 is outside
    EXPECT_EQ(months.back().label, "2024-01");
}

TEST(StatsPage, TilesWrapByWidth) {
    struct Case {
        double w;
        int rows;
    } cases[] = {{1300, 1}, {1000, 2}, {700, 3}};
    for (const Case& c : cases) {
        Ui ui(c.w, 900);
        ui.app.m_settings.tab = 4;
        ui.paint();
        // The plan section (104 high without a plan) starts 8 below the last tile row, the
        // first chart 8 below it, and the chart's bar slots 64 lower.
        EXPECT_DOUBLE_EQ(bars_top(ui), App::kHeaderH + 66 + c.rows * 148 + 8 + 104 + 8 + 64)
            << c.w;
        EXPECT_EQ(stats_tiles_per_row(c.w), 6 / c.rows) << c.w;
    }
}

TEST(StatsPage, EmptyStoreScaleAndLabels) {
    testsupport::keep_clear_of_midnight();
    Ui ui(1300, 1200);
    ui.app.m_settings.tab = 4;
    // Half a megabyte today: on the 1 MB floor of the scale the bar is half the 184-unit
    // maximum, 92 high above the baseline.
    const int d = usage::Store::today();
    ui.app.m_usage.load_payload("D * " + std::to_string(d) + " 500000 0\n");
    ui.paint();
    const auto last = ui.find("st:bar:11:29");
    ASSERT_TRUE(last);
    const double cx = last->x + last->w / 2, base = last->y + 184;
    EXPECT_TRUE(Ui::near(ui.pixel(cx, base - 85), ui.app.m_pal.down, 0.35));
    EXPECT_FALSE(Ui::near(ui.pixel(cx, base - 100), ui.app.m_pal.down, 0.35));

    // Labels under bars 0, 5, ..., 25 and 29 only: something differs from the plot
    // background 16 below the baseline there and nowhere else.
    const Rgba bg = ui.pixel(last->x + last->w + 20, base + 16);
    for (int i = 0; i < 30; ++i) {
        const auto slot = ui.find("st:bar:11:" + std::to_string(i));
        ASSERT_TRUE(slot);
        bool ink = false;
        for (double x = slot->x + slot->w / 2 - 3; x <= slot->x + slot->w / 2 + 3; x += 1)
            for (double y = base + 12; y <= base + 20; y += 1)
                ink |= !Ui::near(ui.pixel(x, y), bg, 0.08);
        EXPECT_EQ(ink, i % 5 == 0 || i == 29) << "bar " << i;
    }
}

TEST(StatsPage, ChipRowOverflowsWithArrowsAndFollowsTheSelection) {
    Ui ui(700, 760);
    ui.app.m_settings.tab = 4;
    std::string payload;
    for (int i = 0; i < 12; ++i)
        payload += "D enp" + std::to_string(i) + "s31f6-usb-dock 20240110 1 1\n";
    ui.app.m_usage.load_payload(payload);
    ui.paint();
    auto left = ui.find("st:scroll:left"), right = ui.find("st:scroll:right");
    ASSERT_TRUE(left && right);
    auto fill = [&](const Hit& h) { return ui.pixel(h.x + 4, h.y + h.h / 2); };
    EXPECT_TRUE(Ui::near(fill(*left), ui.app.m_pal.slot, 0.03)); // disabled at offset 0
    EXPECT_TRUE(Ui::near(fill(*right), ui.app.m_pal.button_hot, 0.03));

    ui.click(right->x + 5, right->y + 5);
    ui.paint();
    EXPECT_DOUBLE_EQ(ui.app.m_st_chip_scroll, 240);
    EXPECT_TRUE(Ui::near(fill(*ui.find("st:scroll:left")), ui.app.m_pal.button_hot, 0.03));

    // The last chip (names sort as text), once chosen, is scrolled fully into view at the next
    // paint.
    ui.app.m_settings.stats_iface = "enp9s31f6-usb-dock";
    ui.app.m_st_chip_follow = true;
    ui.paint();
    const auto chip = ui.find("st:if:enp9s31f6-usb-dock");
    ASSERT_TRUE(chip);
    EXPECT_NEAR(chip->x + chip->w, 700 - 48, 0.01);
    EXPECT_DOUBLE_EQ(ui.app.m_st_chip_scroll, ui.app.m_st_chip_max);
    ui.wheel(chip->x, chip->y + 5, 1); // wheel up moves back by 80
    EXPECT_DOUBLE_EQ(ui.app.m_st_chip_scroll, ui.app.m_st_chip_max - 80);
}

TEST(StatsPage, VanishedDeviceFallsBackToAll) {
    Ui ui(1000, 760);
    ui.app.m_settings.tab = 4;
    ui.app.m_usage.load_payload("D eth0 20240110 1 1\n");
    ui.app.m_settings.stats_iface = "wlan7";
    ui.paint();
    EXPECT_EQ(ui.app.m_settings.stats_iface, "*");
    EXPECT_TRUE(ui.find("st:if:eth0"));
    EXPECT_FALSE(ui.find("st:scroll:left")); // two chips fit
    ui.click(ui.find("st:if:eth0")->x + 3, ui.find("st:if:eth0")->y + 3);
    EXPECT_EQ(ui.app.m_settings.stats_iface, "eth0");
}

} // namespace
