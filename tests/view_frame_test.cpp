// The window frame through the interface harness: header layout at several widths, its hit
// regions, tooltips and colours, the status bar texts, and the pop-up menus.
#include "l10n.h"
#include "support/ui.h"

#include <gtest/gtest.h>

using testsupport::Ui;

namespace {

struct LangScope {
    explicit LangScope(const char* code) { L10n::setLanguage(code); }
    ~LangScope() { L10n::setLanguage("en"); }
};

// A cairo context for measuring text and menus.
struct Scratch {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(s);
    ~Scratch() {
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }
};

double measured(const std::string& s, double size) {
    Scratch m;
    return size > 0 ? gfx::text_width(m.cr, s, size, true) : gfx::rate_width(m.cr, 15, true, false);
}

TEST(FrameHeader, MarkGoesFirstThenTabsShrinkThenReadoutIsLeftOut) {
    LangScope en("en");
    const double readout_w = 2 * (measured("", 0) + 30) + 10;
    struct Case {
        double w;
        bool mark;      // tabs start right of the word mark
        bool full_size; // tab labels at 13
        bool readout;
    } cases[] = {
        {1200, true, true, true},   {820, true, true, false},   {700, false, true, false},
        {600, false, false, false}, {300, false, false, false},
    };
    for (const Case& c : cases) {
        Ui ui(c.w, 760);
        ui.paint();
        const auto first = ui.find("tab:0");
        const auto last = ui.find("tab:4");
        ASSERT_TRUE(first && last) << c.w;
        EXPECT_EQ(first->x > 18 + 4, c.mark) << c.w;
        const double label_13 = measured(L10n::tr("tab.overview"), 13) + 26;
        EXPECT_EQ(std::abs(first->w - label_13) < 0.01, c.full_size) << c.w << " " << first->w;
        const double tabs_end = last->x + last->w + 4;
        if (c.w >= 600) {
            EXPECT_LE(tabs_end, c.w - 100 - 12) << c.w; // the tabs fit
        } else { // too narrow even at the smallest size, which is where shrinking stops
            EXPECT_NEAR(first->w, measured(L10n::tr("tab.overview"), 9.5) + 26, 0.01);
        }
        // The readout's recessed display (slot colour) at its lower right.
        const double dx = c.w - 100 - 14 - readout_w;
        if (dx + readout_w - 4 > tabs_end) {
            EXPECT_EQ(Ui::near(ui.pixel(dx + readout_w - 4, 74), ui.app.m_pal.slot), c.readout)
                << c.w;
        }
    }
}

TEST(FrameHeader, HitRegionsTooltipsAndColours) {
    LangScope en("en");
    for (auto [dark, scale] : {std::pair{true, 1.0}, {false, 1.0}, {true, 2.0}}) {
        Ui ui(1200, 760, scale); // logical units: the same layout at two pixels per unit
        ui.theme(dark);
        ui.app.m_settings.tab = 2;
        ui.paint();
        struct Want {
            const char* id;
            const char* tip_key; // nullptr: no tooltip
        } wants[] = {{"mb:0", nullptr},      {"mb:3", nullptr},
                     {"tab:0", nullptr},     {"tab:4", nullptr},
                     {"head:settings", "tip.settings"}, {"head:mini", "tip.mini"}};
        for (const Want& w : wants) {
            const auto h = ui.find(w.id);
            ASSERT_TRUE(h) << w.id;
            EXPECT_EQ(h->tip, w.tip_key ? L10n::tr(w.tip_key) : "") << w.id;
            // The region is what a pointer finds at its centre.
            const auto at = ui.hit(h->x + h->w / 2, h->y + h->h / 2);
            ASSERT_TRUE(at) << w.id;
            EXPECT_EQ(at->id, w.id);
        }

        const Palette& p = ui.app.m_pal;
        EXPECT_TRUE(Ui::near(ui.pixel(700, 15), hex(dark ? "#0D0D0E" : "#E9E8E4")));
        EXPECT_TRUE(Ui::near(ui.pixel(700, 760 - 10), hex(dark ? "#0D0D0E" : "#E9E8E4")));
        const auto sel = ui.find("tab:2");
        EXPECT_TRUE(Ui::near(ui.pixel(sel->x + 3, sel->y + 6), p.chip_on, 0.03));
        const auto other = ui.find("tab:1");
        EXPECT_TRUE(Ui::near(ui.pixel(other->x + 3, other->y + 6), p.slot));

        // Hovering a title washes it; an open menu marks it in the accent colour.
        const Hit view = *ui.find("mb:1"); // a copy: painting refills the list
        const double vx = view.x + 3, vy = 15;
        const Rgba plain = ui.pixel(vx, vy);
        ui.move(view.x + view.w / 2, 15);
        ui.paint();
        EXPECT_FALSE(Ui::near(ui.pixel(vx, vy), plain, 0.001));
        ui.click(view.x + view.w / 2, 15);
        ui.paint();
        EXPECT_TRUE(Ui::near(ui.pixel(vx, vy), p.chip_on)) << dark;
    }
}

TEST(FrameStatus, CountsHintAndInterval) {
    LangScope en("en");
    Ui ui;
    ui.device("eth0", net::Kind::Ethernet, 1000, 500);
    ui.device("wlan0", net::Kind::Wireless, 0, 0, false);
    ui.device("lo", net::Kind::Loopback, 10, 10);
    procs::Conn open, listening, local;
    listening.listening = true;
    local.loopback = true;
    ui.sockets({open, open, listening, local}, true);
    EXPECT_EQ(ui.app.status_counts(), "Connections: 2  ·  Connected: 1  ·  Devices: 2");
    ui.sockets({}, false);
    EXPECT_EQ(ui.app.status_counts(), "Connections: 0  ·  Connected: 1  ·  Devices: 2  ·  " +
                                          L10n::tr("hint.nodiag"));
    ui.app.m_ps = procs::Snapshot(); // nothing measured yet: no hint
    EXPECT_EQ(ui.app.status_counts().find(L10n::tr("hint.nodiag")), std::string::npos);

    struct {
        const char* lang;
        int ms;
        const char* want;
    } intervals[] = {{"en", 1000, "1 s"}, {"en", 1500, "1.5 s"}, {"de", 1500, "1,5 s"},
                     {"de", 2000, "2 s"}, {"en", 500, "0.5 s"}};
    for (const auto& c : intervals) {
        LangScope lang(c.lang);
        EXPECT_EQ(interval_label(c.ms), c.want) << c.lang << " " << c.ms;
    }
    EXPECT_TRUE(ui.app.m_total_rx_now == 1000 && ui.app.m_total_tx_now == 500);
}

// ---- pop-up menus ----

std::vector<App::MenuItem> entries(int n, int separators = 0) {
    std::vector<App::MenuItem> items;
    for (int i = 0; i < n; ++i) items.push_back({"Entry " + std::to_string(i), [] {}, "", false, false});
    for (int i = 0; i < separators; ++i) items.push_back({"", {}, "", false, true});
    return items;
}

TEST(FrameMenu, PlacementAndWidth) {
    struct Case {
        const char* what;
        double win_w, win_h, ax, ay;
        int entries, separators;
        double x, y, w, h; // expected box
    } cases[] = {
        {"fits below the anchor", 1200, 760, 100, 28, 3, 1, 100, 28, 180, 8 + 3 * 28 + 9},
        {"opens upwards", 1200, 760, 100, 700, 5, 0, 100, 700 - 148, 180, 148},
        {"too short a window", 1200, 300, 100, 200, 25, 0, 100, 6, 180, 8 + 25 * 28},
        {"shifted from the right edge", 1200, 760, 1150, 100, 2, 0, 1200 - 180 - 6, 100, 180, 64},
        {"only separators", 1200, 760, 50, 50, 0, 4, 50, 50, 180, 8 + 4 * 9},
    };
    for (const Case& c : cases) {
        Ui ui(c.win_w, c.win_h);
        ui.app.open_menu(c.ax, c.ay, entries(c.entries, c.separators));
        ui.paint();
        const App::MenuBox b = ui.app.menu_box(Scratch().cr);
        EXPECT_EQ(std::make_tuple(b.x, b.y, b.w, b.h), std::make_tuple(c.x, c.y, c.w, c.h))
            << c.what;
        if (c.entries > 0) {
            const auto first = ui.find("menu:0");
            ASSERT_TRUE(first) << c.what;
            EXPECT_DOUBLE_EQ(first->y, c.y + 4) << c.what;
            EXPECT_TRUE(Ui::near(ui.pixel(b.x + b.w - 3, first->y + 14), ui.app.m_pal.surface2))
                << c.what;
        }
    }
}

TEST(FrameMenu, LongLabelsAndShortcutsWidenTheMenu) {
    Ui ui;
    Scratch m;
    const std::string label(40, 'W'), keys = "Ctrl+Shift+X";
    ui.app.open_menu(10, 40, {{label, [] {}, keys, false, false}});
    EXPECT_GT(ui.app.menu_box(m.cr).w, gfx::text_width(m.cr, label, 13, false) +
                                           gfx::text_width(m.cr, keys, 12, false) + 28);
}

TEST(FrameMenu, CheckedEntriesFollowTheSettings) {
    LangScope en("en");
    Ui ui;
    for (int s : kSpans) {
        ui.app.m_settings.span_s = s;
        std::vector<std::string> checked;
        for (const auto& it : ui.app.menubar_items(1))
            if (it.checked && it.label.starts_with(L10n::tr("mi.span")))
                checked.push_back(it.label);
        EXPECT_EQ(checked, std::vector<std::string>{L10n::tr("mi.span") + " " + span_label(s)});
    }
    // Choosing a span entry through the pointer changes the setting.
    ui.paint();
    ui.click(ui.find("mb:1")->x + 5, 15);
    ui.paint();
    const size_t hour = 8 + 3; // five pages, separator, mini view, separator, then the spans
    ASSERT_EQ(ui.app.m_menu.items.at(hour).label, "Time span 1 h");
    const auto h = ui.find("menu:" + std::to_string(hour));
    ASSERT_TRUE(h);
    ui.click(h->x + 20, h->y + 10);
    EXPECT_EQ(ui.app.m_settings.span_s, 3600);
    EXPECT_FALSE(ui.app.m_menu.open);

    struct {
        int menu;
        size_t entry;
        std::function<bool(const Settings&)> setting;
    } toggles[] = {
        {1, 19, [](const Settings& s) { return s.theme == "dark"; }},
        {1, 23, [](const Settings& s) { return s.bits; }},
        {2, 0, [](const Settings& s) { return s.resolve_names; }},
        {2, 1, [](const Settings& s) { return s.animate; }},
        {2, 2, [](const Settings& s) { return s.always_on_top; }},
    };
    for (auto& t : toggles) {
        for (int round = 0; round < 2; ++round) {
            auto list = ui.app.menubar_items(t.menu);
            ASSERT_LT(t.entry, list.size());
            EXPECT_EQ(list[t.entry].checked, t.setting(ui.app.m_settings)) << t.entry;
            list[t.entry].act();
            EXPECT_EQ(ui.app.menubar_items(t.menu)[t.entry].checked, t.setting(ui.app.m_settings));
        }
    }
}

TEST(FrameMenu, EveryMenuHasItsEntriesAndTheSnapEntryOnlyInASnap) {
    LangScope en("en");
    Ui ui;
    auto labels = [&](int m) {
        std::vector<std::string> out;
        for (const auto& it : ui.app.menubar_items(m)) out.push_back(it.separator ? "-" : it.label);
        return out;
    };
    EXPECT_EQ(labels(2).size(), 8u);
    EXPECT_TRUE(ui.app.menubar_items(4).empty());
    setenv("SNAP", "/snap/velmora/1", 1);
    EXPECT_EQ(labels(2).size(), 10u);
    EXPECT_EQ(labels(2)[0], L10n::tr("mi.snap"));
    EXPECT_EQ(labels(2)[1], "-");
    unsetenv("SNAP");

    // Delete statistics asks first; Cancel keeps the data, confirming clears it.
    ui.device("eth0", net::Kind::Ethernet, 1000, 0);
    ASSERT_GT(ui.app.m_usage.day("*", usage::Store::today()).rx, 0u);
    for (const char* answer : {"conf:no", "conf:ok"}) {
        ui.app.menubar_items(2)[5].act();
        ASSERT_EQ(ui.app.m_modal, App::Modal::Confirm);
        ui.paint();
        const auto b = ui.find(answer);
        ASSERT_TRUE(b) << answer;
        ui.click(b->x + 5, b->y + 5);
        EXPECT_EQ(ui.app.m_modal, App::Modal::None);
        EXPECT_EQ(ui.app.m_usage.day("*", usage::Store::today()).rx == 0,
                  std::string(answer) == "conf:ok");
    }
}

// Only the rows that changed since the last upload go to the texture; an unchanged picture
// uploads nothing and is not presented.
TEST(FrameUpload, ChangedBandsOfRows) {
    const int stride = 8, rows = 40;
    std::vector<unsigned char> shown;
    std::vector<unsigned char> px(static_cast<size_t>(stride) * rows, 0);
    using Bands = std::vector<std::pair<int, int>>;
    EXPECT_EQ(changed_bands(shown, px.data(), stride, rows), (Bands{{0, 40}})); // nothing known
    EXPECT_EQ(changed_bands(shown, px.data(), stride, rows), Bands{});
    struct Case {
        const char* what;
        std::vector<int> touched; // rows whose first byte changes
        Bands want;
    } cases[] = {
        {"one row", {5}, {{5, 1}}},
        {"rows with a small gap merge", {10, 14, 18}, {{10, 9}}},
        {"a wide gap splits", {0, 30}, {{0, 1}, {30, 1}}},
        {"the last row", {39}, {{39, 1}}},
    };
    for (const Case& c : cases) {
        for (int r : c.touched) px[static_cast<size_t>(r) * stride] ^= 0xFF;
        EXPECT_EQ(changed_bands(shown, px.data(), stride, rows), c.want) << c.what;
        EXPECT_EQ(shown, px) << c.what;
        EXPECT_EQ(changed_bands(shown, px.data(), stride, rows), Bands{}) << c.what;
    }
    shown.clear(); // the screen lost the picture
    EXPECT_EQ(changed_bands(shown, px.data(), stride, rows), (Bands{{0, 40}}));
}

} // namespace
