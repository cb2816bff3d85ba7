// The settings panel of the real program on a private X server: Ctrl+, opens General,
// "Start at login" writes and removes the entry that starts this very binary, and a
// language chosen in the languages panel re-titles the tabs and survives a restart.
#include "autostart.h"
#include "l10n.h"
#include "support/display.h"
#include "support/support.h"

#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using testsupport::Background;
using testsupport::wait_until;

namespace {

TEST(SettingsWindow, StartAtLoginAndLanguageThroughThePanel) {
    testsupport::XServer x;
    if (const std::string why = x.start(); !why.empty()) GTEST_SKIP() << why;
    if (!testsupport::sh("command -v xdotool >/dev/null 2>&1")) GTEST_SKIP() << "no xdotool";
    testsupport::TempDir home;
    ASSERT_TRUE(testsupport::seed_window_size(home.path() + "/cfg"));
    std::vector<std::string> env = {"DISPLAY=" + x.display(), "HOME=" + home.path(),
                                    "XDG_CONFIG_HOME=" + home.path() + "/cfg", "LANG=C.UTF-8",
                                    "LANGUAGE=", "GTK_THEME=Adwaita:dark",
                                    "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};
    if (const char* asan = getenv("ASAN_OPTIONS"))
        env.push_back(std::string("ASAN_OPTIONS=") + asan + ":detect_leaks=0");
    const std::string shots = std::string(VELMORA_BUILD_DIR) + "/screenshots";
    testsupport::make_dirs(shots);

    testsupport::XServer::Geometry g;
    auto start = [&] {
        auto app = std::make_unique<Background>(testsupport::velmora_bin(),
                                                std::vector<std::string>{}, env);
        wait_until(15000, [&] {
            g = x.window("Velmora");
            return g.found && x.pixel(g.x + g.w / 2, g.y + g.h / 2) != 0;
        });
        x.xdotool("mousemove " + std::to_string(g.x + 600) + " " + std::to_string(g.y + 20));
        return app;
    };
    auto click = [&](int dx, int dy) {
        return x.xdotool("mousemove " + std::to_string(g.x + dx) + " " + std::to_string(g.y + dy) +
                         " click 1");
    };
    // The panel of a 1200 × 760 window: 980 × 700 from (110, 30); tabs at y 84…118.
    auto tabs = [&] { return x.region(g.x + 134, g.y + 84, 900, 34); };
    auto settle = [&](const std::function<std::vector<uint32_t>()>& look) {
        std::vector<uint32_t> last;
        wait_until(3000, [&] {
            auto now = look();
            const bool same = now == last;
            last = std::move(now);
            return same;
        });
        usleep(150000);
        return look();
    };

    auto app = start();
    ASSERT_TRUE(g.found) << app->stderr_text();
    const auto closed = tabs();
    ASSERT_TRUE(x.xdotool("key ctrl+comma"));
    ASSERT_TRUE(wait_until(3000, [&] { return tabs() != closed; }));
    const auto english = settle(tabs);
    x.save_png(shots + "/settings-x-general.png", g.x, g.y, g.w, g.h);
    // General is open: its first tab is the marked one (the primary colour, not the slot).
    const auto off = [&](uint32_t c) {
        const int r = (c >> 16) & 255, gr = (c >> 8) & 255, b = c & 255;
        return std::abs(r - 0x4A) < 4 && std::abs(gr - 0x48) < 4 && std::abs(b - 0x46) < 4;
    };

    // The first switch that is off on General is "Start at login"; its track lies at the
    // right end of the content column.
    const int track_x = 110 + 28 + 924 - 40 + 30;
    int track_y = -1;
    for (int dy = 134; dy < 660 && track_y < 0; ++dy)
        if (off(x.pixel(g.x + track_x, g.y + dy))) track_y = dy + 8;
    ASSERT_GT(track_y, 0);
    const std::string entry = home.path() + "/.config/autostart/velmora.desktop";
    char self[PATH_MAX];
    ASSERT_TRUE(realpath(testsupport::velmora_bin().c_str(), self));
    ASSERT_TRUE(click(track_x, track_y));
    ASSERT_TRUE(wait_until(3000, [&] { return access(entry.c_str(), F_OK) == 0; }));
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("SNAP_REAL_HOME");
    EXPECT_EQ(autostart::program_of(autostart::command()), self);
    EXPECT_TRUE(wait_until(3000, [&] { return !off(x.pixel(g.x + track_x, g.y + track_y)); }));
    ASSERT_TRUE(click(track_x, track_y));
    EXPECT_TRUE(wait_until(3000, [&] { return access(entry.c_str(), F_OK) != 0; }));

    // The language button, then Deutsch in the grid of the languages panel (860 × 600 from
    // (170, 80), four columns 205 wide from x 190, rows 30 high from y 134).
    ASSERT_TRUE(click(110 + 28 + 240 + 60, 134 + 18));
    int index = 1;
    for (const auto& l : L10n::available()) {
        if (l.code == "de") break;
        ++index;
    }
    ASSERT_LT(index, 68);
    // The languages panel covers the tab row.
    EXPECT_TRUE(wait_until(3000, [&] { return tabs() != english; }));
    settle(tabs);
    x.save_png(shots + "/settings-x-languages.png", g.x, g.y, g.w, g.h);
    ASSERT_TRUE(click(190 + (index % 4) * 205 + 80, 134 + (index / 4) * 30 + 15));
    EXPECT_TRUE(wait_until(3000, [&] { return tabs() != english; }));
    const auto german = settle(tabs);
    x.save_png(shots + "/settings-x-german.png", g.x, g.y, g.w, g.h);
    ASSERT_TRUE(x.xdotool("key ctrl+q"));
    ASSERT_TRUE(app->wait_exit(5000));

    app = start();
    ASSERT_TRUE(g.found);
    ASSERT_TRUE(x.xdotool("key ctrl+comma"));
    EXPECT_TRUE(wait_until(3000, [&] { return tabs() == german; }));
    ASSERT_TRUE(x.xdotool("key ctrl+q"));
    EXPECT_TRUE(app->wait_exit(5000));
}

} // namespace
