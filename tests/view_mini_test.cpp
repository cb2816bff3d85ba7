// The mini view: its window hit test, the strips it lists, their geometry and fonts, and the
// clicks that leave it or open its menu.
#include "l10n.h"
#include "support/ui.h"

#include <gtest/gtest.h>

using testsupport::Ui;

double mini_strip_h(double h, int n);
double mini_rate_font(cairo_t* cr, double sh, double dw, bool bits, double* rw);

namespace {

TEST(MiniHitTest, EdgesCornersButtonAndBody) {
    const int w = 380, h = 222;
    struct Case {
        int x, y;
        bool button;
        SDL_HitTestResult want;
    } cases[] = {
        {5, 12, false, SDL_HITTEST_RESIZE_TOPLEFT},
        {12, 5, false, SDL_HITTEST_RESIZE_TOPLEFT},
        {5, 30, false, SDL_HITTEST_RESIZE_LEFT},
        {30, 5, false, SDL_HITTEST_RESIZE_TOP},
        {370, 4, false, SDL_HITTEST_RESIZE_TOPRIGHT},
        {375, 17, false, SDL_HITTEST_RESIZE_TOPRIGHT},
        {375, 18, false, SDL_HITTEST_RESIZE_RIGHT},
        {9, 210, false, SDL_HITTEST_RESIZE_BOTTOMLEFT},
        {17, 215, false, SDL_HITTEST_RESIZE_BOTTOMLEFT},
        {365, 212, false, SDL_HITTEST_RESIZE_BOTTOMRIGHT},
        {200, 212, false, SDL_HITTEST_RESIZE_BOTTOM},
        {200, 100, false, SDL_HITTEST_DRAGGABLE},
        {350, 20, true, SDL_HITTEST_NORMAL},
        {10, 100, false, SDL_HITTEST_DRAGGABLE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mini_hit_area(c.x, c.y, w, h, c.button), c.want) << c.x << "," << c.y;
}

TEST(MiniStrips, HeightsAndFonts) {
    struct Case {
        double h;
        int n;
        double sh;
    } cases[] = {{222, 3, (222 - 54 - 12) / 3.0}, {114, 1, 60}, {150, 6, 28}, {80, 0, 28}};
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(mini_strip_h(c.h, c.n), c.sh) << c.h << " " << c.n;

    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(s);
    double rw = 0;
    EXPECT_DOUBLE_EQ(mini_rate_font(cr, 60, 340, false, &rw), 16); // capped
    EXPECT_DOUBLE_EQ(mini_rate_font(cr, 30, 340, false, &rw), 0.38 * 30);
    for (bool bits : {false, true}) {
        // A narrow window shrinks the font until both rates and their arrows fit.
        const double fs = mini_rate_font(cr, 60, 220, bits, &rw);
        EXPECT_LT(fs, 16) << bits;
        EXPECT_LE(2 * rw + 64, 220 * 1.05) << bits; // hinting: not quite proportional
        EXPECT_DOUBLE_EQ(rw, gfx::rate_width(cr, fs, true, bits));
    }
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}

struct MiniUi : Ui {
    MiniUi() : Ui(380, 222) {
        L10n::setLanguage("en");
        app.m_settings.mini = true;
        device("wlan0", net::Kind::Wireless, 5e6, 1e5);
        device("eth0", net::Kind::Ethernet, 2e3, 1e3);
        device("enp9", net::Kind::Ethernet, 0, 0);
    }
    std::vector<std::string> names() {
        bool total = false;
        std::vector<std::string> out;
        for (const IfState* s : app.mini_list(&total)) out.push_back(s->info.name);
        if (total) out.insert(out.begin(), "*");
        return out;
    }
};

TEST(MiniStrips, ListFollowsTheSettingInCardOrder) {
    MiniUi ui;
    using V = std::vector<std::string>;
    EXPECT_EQ(ui.names(), V{"*"}); // nothing chosen: the total alone
    ui.app.m_settings.mini_devices = {"*", "wlan0", "eth0", "gone0"};
    EXPECT_EQ(ui.names(), (V{"*", "eth0", "wlan0"}));
    ui.app.m_settings.card_order = {"wlan0"};
    EXPECT_EQ(ui.names(), (V{"*", "wlan0", "eth0"}));
    ui.app.m_settings.mini_devices = {"eth0"};
    EXPECT_EQ(ui.names(), V{"eth0"});
    EXPECT_FALSE(ui.app.mini_total_shown());
}

TEST(MiniView, StripsPaintedWhereTheGeometrySays) {
    MiniUi ui;
    ui.app.m_settings.mini_devices = {"*", "wlan0", "eth0"};
    ui.paint();
    const double sh = mini_strip_h(222, 3);
    // Each strip's recessed display begins at 36 + i × (sh + 6); the panel shows between.
    for (int i = 0; i < 3; ++i) {
        const double top = 36 + i * (sh + 6);
        EXPECT_FALSE(Ui::near(ui.pixel(25, top - 3), ui.pixel(25, top + sh / 2), 0.02)) << i;
    }
    const auto expand = ui.find("mini:expand");
    ASSERT_TRUE(expand);
    EXPECT_EQ(expand->tip, "Full view");
    EXPECT_DOUBLE_EQ(expand->x, 380 - 38);
}

TEST(MiniView, ClicksLeaveOrOpenTheMenu) {
    struct Case {
        const char* what;
        int button, clicks;
        bool on_expand;
        bool mini_after;
        bool menu;
    } cases[] = {
        {"expand", 1, 1, true, false, false},
        {"double click", 1, 2, false, false, false},
        {"single click", 1, 1, false, true, false},
        {"right click", 3, 1, false, true, true},
    };
    for (const Case& c : cases) {
        MiniUi ui;
        ui.paint();
        const auto e = *ui.find("mini:expand");
        const double x = c.on_expand ? e.x + 5 : 150, y = c.on_expand ? e.y + 5 : 120;
        ui.press(x, y, c.button, c.clicks);
        EXPECT_EQ(ui.app.m_settings.mini, c.mini_after) << c.what;
        EXPECT_EQ(ui.app.m_menu.open, c.menu) << c.what;
        if (!c.menu) continue;
        ASSERT_EQ(ui.app.m_menu.items.size(), 4u);
        EXPECT_EQ(ui.app.m_menu.items[2].checked, ui.app.m_settings.mini_on_top);
        const bool before = ui.app.m_settings.mini_on_top;
        ui.app.m_menu.items[2].act();
        EXPECT_NE(ui.app.m_settings.mini_on_top, before);
        ui.app.m_menu.items[1].act(); // settings: leaves the mini view on the Devices tab
        EXPECT_FALSE(ui.app.m_settings.mini);
        EXPECT_EQ(ui.app.m_modal, App::Modal::Settings);
        EXPECT_EQ(ui.app.m_set_tab, 1);
    }
}

} // namespace

namespace {

// The window system sees presses on the body first: the second of a quick pair at the same
// spot is let through as the double click, a slow or distant second press is another move.
TEST(MiniHitTest, SecondPressOfADoubleClickReachesTheView) {
    MiniUi ui;
    ui.paint();
    SDL_Window* win = SDL_CreateWindow("t", 0, 0, 380, 222, SDL_WINDOW_HIDDEN);
    ASSERT_TRUE(win) << SDL_GetError();
    SDL_Point body{150, 120}, far{190, 120};
    EXPECT_EQ(mini_hit_test(win, &body, &ui.app), SDL_HITTEST_DRAGGABLE);
    EXPECT_EQ(mini_hit_test(win, &far, &ui.app), SDL_HITTEST_DRAGGABLE);
    EXPECT_EQ(mini_hit_test(win, &far, &ui.app), SDL_HITTEST_NORMAL);
    ui.press(far.x, far.y); // delivered with clicks = 1, yet it leaves
    EXPECT_FALSE(ui.app.m_settings.mini);
    ui.app.m_settings.mini = true;
    EXPECT_EQ(mini_hit_test(win, &body, &ui.app), SDL_HITTEST_DRAGGABLE);
    ui.app.m_mini_press_at -= 600;
    EXPECT_EQ(mini_hit_test(win, &body, &ui.app), SDL_HITTEST_DRAGGABLE);
    SDL_DestroyWindow(win);
}

} // namespace
