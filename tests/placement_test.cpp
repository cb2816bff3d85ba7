// Window size and place of both views: the size rules, then the real program on private X
// servers of several sizes, with and without a reparenting window manager.
#include "app.h"
#include "settings.h"
#include "support/display.h"
#include "support/support.h"

#include <csignal>
#include <gtest/gtest.h>

using testsupport::Background;
using testsupport::TempDir;
using testsupport::wait_until;
using testsupport::XServer;

namespace {

TEST(Placement, SizeRulesOfBothViews) {
    struct Case {
        const char* what;
        SDL_Rect u;
        bool mini;
        int lines;
        Geometry full, compact;
        ModeBox want;
    } cases[] = {
        {"wide screen", {0, 0, 2560, 1400}, false, 0, {}, {}, {576, 260, 1408, 880}},
        {"small screen", {0, 0, 1280, 720}, false, 0, {}, {}, {90, 40, 1100, 640}},
        {"second screen origin", {1920, 0, 1920, 1080}, false, 0, {}, {}, {2330, 196, 1100, 687}},
        {"saved size and place",
         {0, 0, 1920, 1080},
         false,
         0,
         {40, 30, 900, 600, true},
         {},
         {40, 30, 900, 600}},
        {"saved size beyond the screen",
         {0, 0, 1280, 720},
         false,
         0,
         {0, 0, 3000, 2000, false},
         {},
         {0, 40, 1280, 640}},
        {"mini with three lines", {0, 0, 1920, 1080}, true, 3, {}, {}, {770, 429, 380, 222}},
        {"mini at the full window's corner",
         {0, 0, 1920, 1080},
         true,
         1,
         {1800, 1050, 1100, 640, true},
         {},
         {1540, 966, 380, 114}},
        {"mini left of the screen",
         {0, 0, 1920, 1080},
         true,
         0,
         {-50, 20, 1100, 640, true},
         {},
         {0, 20, 380, 114}},
        {"mini saved", {0, 0, 1920, 1080}, true, 3, {}, {7, 8, 300, 90, true}, {7, 8, 300, 90}},
    };
    for (const Case& c : cases) {
        Settings st;
        st.full = c.full;
        st.compact = c.compact;
        const ModeBox got = mode_box(st, c.mini, c.lines, c.u);
        EXPECT_EQ(std::tie(got.x, got.y, got.w, got.h),
                  std::tie(c.want.x, c.want.y, c.want.w, c.want.h))
            << c.what;
    }
}

// The real program on a private X server, optionally under openbox.
class PlacementX : public ::testing::Test {
protected:
    // A fresh server and configuration for each start_x.
    std::string start_x(int w, int h) {
        cfg = home.path() + "/cfg" + std::to_string(++m_runs) + "/Velmora";
        return x->start(w, h);
    }
    std::vector<std::string> env() const {
        std::vector<std::string> e = {"DISPLAY=" + x->display(),
                                      "HOME=" + home.path(),
                                      "XDG_CONFIG_HOME=" + cfg.substr(0, cfg.size() - 8),
                                      "LANG=C.UTF-8",
                                      "LANGUAGE=",
                                      "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};
        if (const char* asan = getenv("ASAN_OPTIONS"))
            e.push_back(std::string("ASAN_OPTIONS=") + asan + ":detect_leaks=0");
        return e;
    }
    // Starts the program and waits for its window to be mapped with `w` columns.
    std::unique_ptr<Background> run(const std::vector<std::string>& args, XServer::Geometry* g,
                                    const std::function<bool(const XServer::Geometry&)>& ready) {
        auto app = std::make_unique<Background>(testsupport::velmora_bin(), args, env());
        wait_until(15000, [&] {
            *g = x->window("Velmora");
            return g->found && x->pixel(g->x + g->w / 2, g->y + g->h / 2) != 0 && ready(*g);
        });
        return app;
    }
    void stop(Background& app) {
        // The frame offset is measured 400 ms after placing; give it time before leaving.
        usleep(900 * 1000);
        app.signal(SIGTERM);
        ASSERT_TRUE(app.wait_exit(5000));
    }
    void save(const Geometry& full) const {
        testsupport::make_dirs(cfg);
        Settings s;
        s.m_path = cfg + "/settings.dat";
        s.full = full;
        ASSERT_TRUE(s.save());
    }
    std::unique_ptr<XServer> x = std::make_unique<XServer>();
    TempDir home;
    std::string cfg;
    int m_runs = 0;
};

auto any = [](const XServer::Geometry&) { return true; };

TEST_F(PlacementX, DefaultSizesByScreenAndUnreachablePlaceCentred) {
    struct Case {
        int sw, sh;
        Geometry saved;
        int x, y, w, h;
    } cases[] = {
        {2560, 1400, {}, 576, 260, 1408, 880},
        {1280, 720, {}, 90, 40, 1100, 640},
        // The top middle lies 5 left of the screen: centred instead.
        {1600, 1000, {-555, 100, 1100, 687, true}, 250, 156, 1100, 687},
        {1600, 1000, {-545, 100, 1100, 687, true}, -545, 100, 1100, 687},
    };
    for (const Case& c : cases) {
        x = std::make_unique<XServer>();
        const std::string why = start_x(c.sw, c.sh);
        if (!why.empty()) GTEST_SKIP() << why;
        if (c.saved.w) save(c.saved);
        XServer::Geometry g;
        auto app = run({}, &g, any);
        EXPECT_EQ(std::tie(g.x, g.y, g.w, g.h), std::tie(c.x, c.y, c.w, c.h))
            << c.sw << "x" << c.sh;
        stop(*app);
    }
}

TEST_F(PlacementX, EachViewReopensWhereItWasLeftUnderAWindowManager) {
    if (testsupport::find_program("openbox").empty()) GTEST_SKIP() << "openbox is not installed";
    if (testsupport::find_program("xdotool").empty()) GTEST_SKIP() << "xdotool is not installed";
    const std::string why = start_x(1600, 1000);
    if (!why.empty()) GTEST_SKIP() << why;
    Background wm(testsupport::find_program("openbox"), {"--sm-disable"}, env());
    ASSERT_TRUE(wait_until(10000, [&] {
        return testsupport::capture("DISPLAY=" + x->display() +
                                    " xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null")
                   .find("window id") != std::string::npos;
    })) << wm.stderr_text();

    struct View {
        const char* what;
        std::vector<std::string> args;
        int to_x, to_y;
    } views[] = {{"full", {"--tab", "0"}, 300, 200}, {"mini", {"--mini"}, 900, 500}};
    for (const View& v : views) {
        XServer::Geometry g;
        auto first = run(v.args, &g, any);
        ASSERT_TRUE(g.found) << v.what << first->stderr_text();
        usleep(2000 * 1000); // a move before the offset measurement would be taken for the frame
        ASSERT_TRUE(x->xdotool("search --name '^Velmora$' windowmove " + std::to_string(v.to_x) +
                               " " + std::to_string(v.to_y)));
        XServer::Geometry moved;
        ASSERT_TRUE(wait_until(3000, [&] {
            moved = x->window("Velmora");
            return moved.found && (moved.x != g.x || moved.y != g.y);
        })) << v.what;
        stop(*first);
        Settings kept;
        kept.load(cfg + "/settings.dat");
        const Geometry& kg = v.args[0] == "--mini" ? kept.compact : kept.full;
        EXPECT_TRUE(kg.has_pos) << v.what;
        const std::string log1 = testsupport::read_file(cfg + "/Velmora.log");
        // Only the framed full window has an offset to measure.
        EXPECT_EQ(log1.find("frame 0,0\n") == std::string::npos, v.args[0] != "--mini") << log1;

        XServer::Geometry again;
        auto second = run(v.args, &again, [&](const XServer::Geometry& n) {
            return n.x == moved.x && n.y == moved.y;
        });
        EXPECT_EQ(std::tie(again.x, again.y, again.w, again.h),
                  std::tie(moved.x, moved.y, moved.w, moved.h))
            << v.what << " kept " << kg.x << "," << kg.y << "\n"
            << log1;
        stop(*second);
    }
}

TEST_F(PlacementX, MiniWindowIsBorderlessAndADoubleClickReturnsToTheFullView) {
    if (testsupport::find_program("xdotool").empty()) GTEST_SKIP() << "xdotool is not installed";
    const std::string why = start_x(1600, 1000);
    if (!why.empty()) GTEST_SKIP() << why;
    XServer::Geometry g;
    auto app = run({"--mini"}, &g, any);
    ASSERT_TRUE(g.found) << app->stderr_text();
    EXPECT_EQ(g.w, 380);
    x->save_png(std::string(VELMORA_BUILD_DIR) + "/screenshots/mini.png", g.x, g.y, g.w, g.h);
    // A double click on the body, which the window system otherwise takes for a move.
    ASSERT_TRUE(x->xdotool("mousemove " + std::to_string(g.x + g.w / 2) + " " +
                           std::to_string(g.y + g.h / 2 + 10) + " click --repeat 2 --delay 120 1"));
    XServer::Geometry full;
    EXPECT_TRUE(wait_until(5000, [&] {
        full = x->window("Velmora");
        return full.found && full.w >= 820;
    })) << full.w;
    stop(*app);
    Settings stored;
    stored.load(cfg + "/settings.dat");
    EXPECT_FALSE(stored.mini);
    EXPECT_EQ(stored.compact.w, 380);
    EXPECT_TRUE(stored.compact.has_pos);
}

} // namespace
