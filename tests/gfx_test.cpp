// Drawing primitives: their numeric rules, a few golden images of the non-text shapes
// (tests/fixtures/gfx/*.png; VELMORA_UPDATE_GOLDEN=1 rewrites them), and the icon export.
#include "gfx.h"
#include "support/support.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

namespace {

const Palette kDark = Palette::make(true);
const Palette kLight = Palette::make(false);

TEST(Gfx, NiceMaxLogFracAndLevels) {
    const std::pair<double, double> nice[] = {{0, 1},       {-5, 1}, {1234, 1500}, {1500, 1500},
                                              {9000, 10000}, {7, 8},  {1000, 1000}, {0.25, 0.3}};
    for (auto [v, want] : nice) EXPECT_NEAR(gfx::nice_max(v), want, 1e-12) << v;

    // rate, cap, fraction; a cap of 100 MB/s spreads the scale over five decades above 1 kB/s.
    const double fracs[][3] = {{500, 0, 0.02}, {1000, 123, 0.04}, {10000, 5000, 1}, {-3, 0, 0},
                               {1e12, 0, 1},   {1e8, 1e8, 1},     {1e6, 1e8, 0.04 + 0.96 * 3 / 5}};
    for (const auto& f : fracs) EXPECT_NEAR(gfx::log_frac(f[0], f[1]), f[2], 1e-12) << f[0];

    for (auto [level, want] : {std::pair{0.68, kDark.ok}, {0.69, kDark.warn}, {0.86, kDark.warn},
                               {0.87, kDark.err}}) {
        const Rgba got = gfx::vu_color(level, kDark);
        EXPECT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b) << level;
    }
}

gfx::SeriesFn series(std::vector<double> rx, std::vector<double> tx) {
    return [rx, tx](int i, double* r, double* t) {
        *r = rx[static_cast<size_t>(i)];
        *t = tx[static_cast<size_t>(i)];
    };
}

TEST(Gfx, ChartScaleTops) {
    EXPECT_EQ(gfx::chart_scale(0, series({}, {}), false), 1000);
    EXPECT_EQ(gfx::chart_scale(0, series({}, {}), true), 1000); // 8 kbit/s
    EXPECT_EQ(gfx::chart_scale(2, series({0, 3}, {1, 0}), false), 1000);
    EXPECT_EQ(gfx::chart_scale(2, series({0, 5000}, {1200, 0}), false), 6000);
    EXPECT_EQ(gfx::chart_scale(2, series({0, 10}, {5000, 0}), true), 6250);
    EXPECT_EQ(gfx::chart_scale(1, series({1e9}, {0}), false), 1.5e9);
}

uint32_t pixel(cairo_surface_t* s, int x, int y) {
    cairo_surface_flush(s);
    const auto* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    return reinterpret_cast<const uint32_t*>(row)[x];
}

// Renders `draw` into a w × h ARGB surface on a transparent background.
struct Canvas {
    cairo_surface_t* s;
    cairo_t* cr;
    Canvas(int w, int h) {
        s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        cr = cairo_create(s);
    }
    ~Canvas() {
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }
    uint32_t px(int x, int y) { return pixel(s, x, y); }
};

TEST(Gfx, ShortSeriesGrowsInFromTheRight) {
    Canvas c(480, 100);
    std::vector<double> rx(30, 800), tx(30, 400);
    gfx::ChartOpts o;
    o.slots = 120;
    gfx::chart_curves(c.cr, 0, 0, 480, 100, 30, series(rx, tx), 1000, kDark, o);
    // Point i of 30 sits at (90 + i) / 119 of the width: the left three quarters stay empty.
    int first_ink = 0;
    auto column_empty = [&](int x) {
        for (int y = 0; y < 100; ++y)
            if (c.px(x, y) >> 24) return false;
        return true;
    };
    while (first_ink < 480 && column_empty(first_ink)) ++first_ink;
    EXPECT_GE(first_ink, 90 * 480 / 119 - 2);
    EXPECT_LE(first_ink, 90 * 480 / 119 + 2);
    EXPECT_NE(c.px(470, 99) >> 24, 0u); // the fill reaches the bottom on the right

    // One point draws no curve at all.
    Canvas one(100, 50);
    gfx::chart_curves(one.cr, 0, 0, 100, 50, 1, series({500}, {500}), 1000, kDark, o);
    for (int x = 0; x < 100; x += 7)
        for (int y = 0; y < 50; y += 7) EXPECT_EQ(one.px(x, y), 0u);
}

// Compares a rendered surface with its golden PNG: at most 0.5 % of the pixels may differ
// by more than 8 in any channel (anti-aliasing noise), never a structural change.
void expect_golden(cairo_surface_t* s, const std::string& name) {
    const std::string path = testsupport::fixture("gfx/" + name + ".png");
    if (getenv("VELMORA_UPDATE_GOLDEN")) {
        ASSERT_EQ(cairo_surface_write_to_png(s, path.c_str()), CAIRO_STATUS_SUCCESS);
        return;
    }
    cairo_surface_t* g = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(g), CAIRO_STATUS_SUCCESS) << path;
    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    ASSERT_EQ(cairo_image_surface_get_width(g), w);
    ASSERT_EQ(cairo_image_surface_get_height(g), h);
    int bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t a = pixel(s, x, y), b = pixel(g, x, y);
            for (int sh = 0; sh < 32; sh += 8)
                if (std::abs(int((a >> sh) & 255) - int((b >> sh) & 255)) > 8) {
                    ++bad;
                    break;
                }
        }
    cairo_surface_destroy(g);
    EXPECT_LE(bad, w * h / 200) << name << ": " << bad << " pixels differ";
}

TEST(GfxGolden, NonTextPrimitives) {
    const net::Kind kinds[] = {net::Kind::Ethernet, net::Kind::Wireless, net::Kind::Mobile,
                               net::Kind::Bond,     net::Kind::Bridge,   net::Kind::Vlan,
                               net::Kind::Vpn,      net::Kind::Tunnel,   net::Kind::Virtual,
                               net::Kind::Loopback, net::Kind::Other};
    std::vector<double> rx, tx;
    for (int i = 0; i < 60; ++i) {
        rx.push_back(500 + 400 * std::sin(i / 6.0));
        tx.push_back(300 + 200 * std::cos(i / 4.0));
    }
    struct Case {
        const char* name;
        int w, h;
        std::function<void(cairo_t*)> draw;
    };
    const Case cases[] = {
        {"rack_dark", 260, 120,
         [](cairo_t* cr) { gfx::rack(cr, 10, 10, 240, 96, kDark, kDark.accent, true, 3, false); }},
        {"rack_light", 260, 120,
         [](cairo_t* cr) {
             gfx::rack(cr, 10, 10, 240, 96, kLight, kLight.accent, true, 3, false);
         }},
        {"screws_button", 120, 40,
         [](cairo_t* cr) {
             gfx::screw(cr, 20, 20, 30, kDark);
             gfx::screw(cr, 60, 20, 120, kLight);
             gfx::device_button(cr, 80, 2, 36, 0, true, kDark);
         }},
        {"display_icons", 300, 90,
         [&](cairo_t* cr) {
             gfx::display(cr, 4, 4, 120, 80, kDark, true);
             for (int i = 0; i < 11; ++i)
                 gfx::kind_icon(cr, kinds[i], 140 + (i % 6) * 26, 22 + (i / 6) * 30, 10,
                                kDark.text);
             gfx::arrow(cr, 150, 78, 10, false, kDark.down);
             gfx::arrow(cr, 170, 78, 10, true, kDark.up);
             gfx::gear(cr, 195, 78, 9, kDark.text);
             gfx::icon_mini(cr, 220, 78, 9, kDark.text);
             gfx::icon_expand(cr, 245, 78, 8, kDark.text);
             gfx::signal_bars(cr, 262, 66, 20, 3, kDark.ok, kDark.led_off);
         }},
        {"chart_curves", 400, 120,
         [&](cairo_t* cr) {
             gfx::ChartOpts o;
             o.hover_x = -2;
             gfx::chart_curves(cr, 0, 0, 400, 120, 60, series(rx, tx), 1000, kDark, o);
         }},
    };
    for (const auto& c : cases) {
        Canvas canvas(c.w, c.h);
        c.draw(canvas.cr);
        expect_golden(canvas.s, c.name);
    }
}

TEST(GfxIcon, ExportWritesATransparentCorneredMark) {
    testsupport::TempDir d;
    const std::string file = d.path() + "/icon.png";
    auto r = testsupport::run(testsupport::velmora_bin(), {"--render-icon", "256", file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    cairo_surface_t* s = cairo_image_surface_create_from_png(file.c_str());
    ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(std::pair(cairo_image_surface_get_width(s), cairo_image_surface_get_height(s)),
              std::pair(256, 256));
    auto px = [&](int x, int y) { return pixel(s, x, y); };
    for (auto [x, y] : {std::pair{0, 0}, {255, 0}, {0, 255}, {255, 255}})
        EXPECT_EQ(px(x, y) >> 24, 0u) << x << "," << y;
    // The centre is on the dark body of the mark, opaque; the arrows on it are coloured.
    EXPECT_EQ(px(128, 200) >> 24, 255u);
    bool coloured = false;
    for (int y = 40; y < 200; ++y)
        for (int x = 40; x < 216; ++x) coloured |= ((px(x, y) >> 16) & 255) != (px(x, y) & 255);
    EXPECT_TRUE(coloured);
    cairo_surface_destroy(s);

    for (auto [size, to] :
         {std::pair{"0", file}, {"-4", file}, {"64", d.path() + "/no/dir/icon.png"}})
        EXPECT_EQ(
            testsupport::run(testsupport::velmora_bin(), {"--render-icon", size, to}).exit_code, 1)
            << size << " " << to;
}

} // namespace
