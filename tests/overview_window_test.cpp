// The overview of the real program on a private X server, in a private network namespace
// with veth devices: one card per device, a drag that reorders the cards and a click that
// opens one, both still there after a restart. Screenshots go to build/screenshots/.
#include "sealed_file.h"
#include "support/display.h"
#include "support/support.h"

#include <SDL.h>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using testsupport::Background;
using testsupport::wait_until;

namespace {

std::string setting(const std::string& cfg, const std::string& key) {
    std::string text;
    if (sealed::read(cfg + "/settings.dat", &text) != sealed::Result::Ok) return "?";
    for (const auto& line : testsupport::lines(text))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

TEST(OverviewWindow, DragAndClickSurviveARestart) {
    if (!testsupport::sh("command -v xdotool >/dev/null 2>&1")) GTEST_SKIP() << "no xdotool";
    ENTER_PRIVATE_NETNS_OR_SKIP();
    for (const char* pair : {"va0 type veth peer name vb0", "va1 type veth peer name vb1"})
        ASSERT_TRUE(testsupport::sh(std::string("ip link add ") + pair));
    ASSERT_TRUE(testsupport::sh("for d in va0 vb0 va1 vb1; do ip link set $d up; done"));
    // Bursts of datagrams out of va0 (see the traffic test), so the charts have a shape.
    ASSERT_TRUE(testsupport::sh("ip addr add 10.77.0.1/24 dev va0 && ip neigh add 10.77.0.2 "
                                "lladdr $(cat /sys/class/net/vb0/address) dev va0 nud permanent"));
    std::atomic<bool> stop{false};
    std::thread sender([&stop] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        inet_pton(AF_INET, "10.77.0.2", &to.sin_addr);
        const std::string payload(1200, 'x');
        for (int round = 0; !stop; ++round) {
            for (int i = 0; i < 5 + (round * 37) % 60; ++i)
                sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        close(fd);
    });
    struct Join {
        std::atomic<bool>& stop;
        std::thread& t;
        ~Join() {
            stop = true;
            t.join();
        }
    } join{stop, sender};
    testsupport::XServer x;
    if (const std::string why = x.start(); !why.empty()) GTEST_SKIP() << why;
    testsupport::TempDir home;
    ASSERT_TRUE(testsupport::seed_window_size(home.path() + "/cfg"));
    const std::string cfg = home.path() + "/cfg/Velmora";
    const std::string shots = std::string(VELMORA_BUILD_DIR) + "/screenshots";
    testsupport::make_dirs(shots);

    auto run = [&](const std::vector<std::string>& args, const std::string& lang,
                   const std::string& shot, const std::function<void(int, int)>& act) {
        // Under AddressSanitizer, Mesa's and libdbus's allocations kept past exit would turn
        // the exit code into a leak report; the unit tests check the program's own leaks.
        const char* asan = getenv("ASAN_OPTIONS");
        Background app(testsupport::velmora_bin(), args,
                       {"DISPLAY=" + x.display(), "HOME=" + home.path(),
                        "XDG_CONFIG_HOME=" + home.path() + "/cfg", "LANG=C.UTF-8",
                        "LANGUAGE=" + lang,
                        std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0"});
        testsupport::XServer::Geometry g;
        ASSERT_TRUE(wait_until(15000, [&] {
            g = x.window("Velmora");
            return g.found && x.pixel(g.x + g.w / 2, g.y + g.h / 2) != 0;
        })) << app.stderr_text();
        SDL_Delay(5000); // a few samples, so that the charts have points
        x.save_png(shots + "/overview-" + shot + ".png", g.x, g.y, g.w, g.h);
        act(g.x, g.y);
        ASSERT_TRUE(x.xdotool("mousemove " + std::to_string(g.x + 600) + " " +
                              std::to_string(g.y + 440) + " key ctrl+q"));
        ASSERT_TRUE(app.wait_exit(5000));
        EXPECT_EQ(app.exit_code(), 0);
    };
    auto mouse = [&](const std::string& cmd) { ASSERT_TRUE(x.xdotool(cmd)); };
    auto at = [](int gx, int gy, int dx, int dy) {
        return std::to_string(gx + dx) + " " + std::to_string(gy + dy);
    };
    // Cards: 2 columns at 1200 points; row 1 from window y 88 + 380. The four veth devices
    // list in name order: va0 va1 vb0 vb1.
    std::vector<uint32_t> gap_closed;
    run({}, "", "dark", [&](int gx, int gy) {
        gap_closed = x.region(gx + 18, gy + 700, 1164, 12);
        // Drag the second card (va1) onto the first slot.
        mouse("mousemove " + at(gx, gy, 800, 560) + " mousedown 1");
        for (int step = 1; step <= 8; ++step)
            mouse("mousemove " + at(gx, gy, 800 - step * 75, 560) + " sleep 0.05");
        SDL_Delay(300);
        x.save_png(shots + "/overview-dragging.png", gx, gy, 1200, 760);
        mouse("mouseup 1");
        SDL_Delay(300);
    });
    EXPECT_EQ(setting(cfg, "card_order"), "va1,va0,vb0,vb1");
    EXPECT_EQ(setting(cfg, "expanded"), "");

    run({"--theme", "light"}, "", "light", [&](int gx, int gy) {
        mouse("mousemove " + at(gx, gy, 300, 560) + " click 1"); // va1, first now
        SDL_Delay(500);
    });
    EXPECT_EQ(setting(cfg, "card_order"), "va1,va0,vb0,vb1");
    EXPECT_EQ(setting(cfg, "expanded"), "va1");

    run({}, "de", "expanded-de", [&](int gx, int gy) {
        // The open card fills the gap between the first two rows of closed cards.
        EXPECT_NE(x.region(gx + 18, gy + 700, 1164, 12), gap_closed);
    });
    EXPECT_EQ(setting(cfg, "expanded"), "va1");
    EXPECT_EQ(setting(cfg, "card_order"), "va1,va0,vb0,vb1");
}

} // namespace
