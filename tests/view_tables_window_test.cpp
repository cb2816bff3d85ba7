// The real program on a private X server: Ctrl+2, Ctrl+3 and Ctrl+4 show the three table
// pages with their filter field, chips and header, in the dark theme in English and in the
// light theme in German. Screenshots go to build/screenshots/tables-*.png.
#include "procs_peer.h"
#include "support/display.h"
#include "support/support.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

int channel(uint32_t rgb, int shift) {
    return static_cast<int>((rgb >> shift) & 255);
}

TEST(TablesWindow, CtrlTwoThreeFourShowTheThreePages) {
    testsupport::XServer x;
    if (const std::string why = x.start(); !why.empty()) GTEST_SKIP() << why;
    if (!testsupport::sh("command -v xdotool >/dev/null 2>&1")) GTEST_SKIP() << "no xdotool";
    testsupport::TempDir home;
    ASSERT_TRUE(testsupport::seed_window_size(home.path() + "/cfg"));
    const std::string shots = std::string(VELMORA_BUILD_DIR) + "/screenshots";
    testsupport::make_dirs(shots);
    const struct {
        const char* name;
        const char* lang;
        std::vector<std::string> args;
        int slot; // red channel of the filter field's fill
    } runs[] = {{"dark", "C.UTF-8", {"--theme", "dark"}, 0x0B},
                {"light-de", "de_DE.UTF-8", {"--theme", "light"}, 0xF4}};
    // A busy connection inside this computer, so that the connections page has rows once
    // "Local connections" is on (clicked in the first run, stored for the second).
    int port = 0;
    const int lst = peer::tcp_listener(&port);
    const int out = peer::tcp_connect("127.0.0.1", port);
    const int in = accept4(lst, nullptr, nullptr, SOCK_CLOEXEC); // not for the program
    ASSERT_GE(in, 0);
    std::atomic<bool> stop{false};
    std::thread pump([&] {
        while (!stop && peer::send_over(out, in, 40000))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    struct Join {
        std::atomic<bool>& stop;
        std::thread& t;
        ~Join() {
            stop = true;
            t.join();
        }
    } join{stop, pump};
    for (const auto& run : runs) {
        // Under AddressSanitizer, libraries' allocations kept past exit would turn the exit
        // code into a leak report; the unit tests check the program's own leaks.
        const char* asan = getenv("ASAN_OPTIONS");
        testsupport::Background app(
            testsupport::velmora_bin(), run.args,
            {"DISPLAY=" + x.display(), "HOME=" + home.path(),
             "XDG_CONFIG_HOME=" + home.path() + "/cfg", "LANG=" + std::string(run.lang),
             "LANGUAGE=", "LC_ALL=",
             std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0"});
        testsupport::XServer::Geometry g;
        ASSERT_TRUE(testsupport::wait_until(15000, [&] {
            g = x.window("Velmora");
            return g.found && x.pixel(g.x + g.w / 2, g.y + g.h / 2) != 0;
        })) << app.stderr_text();
        ASSERT_TRUE(
            x.xdotool("mousemove " + std::to_string(g.x + 600) + " " + std::to_string(g.y + 500)));
        std::vector<std::vector<uint32_t>> bands;
        for (int page = 2; page <= 4; ++page) {
            const auto before = x.region(g.x, g.y + 88, g.w, 300);
            ASSERT_TRUE(x.xdotool("key ctrl+" + std::to_string(page)));
            EXPECT_TRUE(testsupport::wait_until(
                3000, [&] { return x.region(g.x, g.y + 88, g.w, 300) != before; }))
                << run.name << " page " << page;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const auto body = [&] { return x.region(g.x, g.y + 88 + 86, g.w, 60); };
            if (page == 2 && &run == &runs[0]) {
                const auto empty = body();
                ASSERT_TRUE(x.xdotool("mousemove " + std::to_string(g.x + 420) + " " +
                                      std::to_string(g.y + 88 + 27) + " click 1"));
                EXPECT_TRUE(testsupport::wait_until(4000, [&] { return body() != empty; }))
                    << "no rows after \"Local connections\"";
                ASSERT_TRUE(x.xdotool("mousemove " + std::to_string(g.x + 600) + " " +
                                      std::to_string(g.y + 600)));
            }
            if (page == 2) std::this_thread::sleep_for(std::chrono::milliseconds(2200)); // rates
            x.save_png(shots + "/tables-" + run.name + "-" + std::to_string(page) + ".png", g.x,
                       g.y, g.w, g.h);
            // Inside the filter field, right of the magnifier and below the text.
            EXPECT_NEAR(channel(x.pixel(g.x + 200, g.y + 88 + 38), 16), run.slot, 3)
                << run.name << " page " << page;
            // The header band: chips and titles, different on every page.
            bands.push_back(x.region(g.x, g.y + 88 + 12, g.w, 30));
        }
        EXPECT_NE(bands[0], bands[1]);
        EXPECT_NE(bands[1], bands[2]);
        ASSERT_TRUE(x.xdotool("key ctrl+q"));
        ASSERT_TRUE(app.wait_exit(5000));
        EXPECT_EQ(app.exit_code(), 0);
    }
}

} // namespace
