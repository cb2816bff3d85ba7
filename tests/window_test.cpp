// The real program with its window on a private X server: start, paint, single instance,
// signals, and the stored state written at the end.
#include "history.h"
#include "sealed_file.h"
#include "settings.h"
#include "support/display.h"
#include "support/support.h"

#include <SDL.h>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::Background;
using testsupport::TempDir;
using testsupport::wait_until;

namespace {

class WindowX : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = x.start();
        if (!why.empty()) GTEST_SKIP() << why;
        cfg = home.path() + "/cfg/Velmora";
    }

    std::vector<std::string> env() const {
        std::vector<std::string> e = {"DISPLAY=" + x.display(), "HOME=" + home.path(),
                                      "XDG_CONFIG_HOME=" + home.path() + "/cfg", "LANG=C.UTF-8",
                                      "LANGUAGE=",
                                      // The desktop prefers dark, through GTK alone.
                                      "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus",
                                      "GTK_THEME=Adwaita:dark"};
        // Under AddressSanitizer: Mesa's software driver and libdbus keep allocations past
        // exit that the leak checker would report as the program's; the program's own
        // leaks are checked by the unit tests.
        if (const char* asan = getenv("ASAN_OPTIONS"))
            e.push_back(std::string("ASAN_OPTIONS=") + asan + ":detect_leaks=0");
        return e;
    }

    std::unique_ptr<Background> start(const std::vector<std::string>& args = {}) {
        return std::make_unique<Background>(testsupport::velmora_bin(), args, env());
    }

    // Waits until the window exists and its page area shows something other than the black
    // root window.
    testsupport::XServer::Geometry shown(int ms = 15000) {
        testsupport::XServer::Geometry g;
        wait_until(ms, [&] {
            g = x.window("Velmora");
            return g.found && x.pixel(g.x + g.w / 2, g.y + g.h / 2) != 0;
        });
        return g;
    }

    std::string diagnose(const Background& app) const {
        return "stderr: " + app.stderr_text() + "\nlog:\n" +
               testsupport::read_file(cfg + "/Velmora.log") + "windows:\n" +
               testsupport::capture("DISPLAY=" + x.display() + " xwininfo -root -tree 2>&1 | head -20") +
               "server:\n" + x.server_log();
    }

    std::string last_log_line() const {
        auto lines = testsupport::lines(testsupport::read_file(cfg + "/Velmora.log"));
        return lines.empty() ? "" : lines.back();
    }

    std::string lock() const { return testsupport::read_file(cfg + "/Velmora.lock"); }

    testsupport::XServer x;
    testsupport::TempDir home;
    std::string cfg;
};

int channel(uint32_t rgb, int shift) { return static_cast<int>((rgb >> shift) & 255); }

// The real program started, then driven as a user would, with keys and the pointer through
// xdotool, until Ctrl+Q ends it. Screenshots of each step go to build/screenshots/.
TEST_F(WindowX, StartsPaintsHoldsTheLockIsDrivenByKeysAndPointerAndEndsCleanly) {
    if (!testsupport::sh("command -v xdotool >/dev/null 2>&1")) GTEST_SKIP() << "no xdotool";
    auto app = start();
    auto g = shown();
    ASSERT_TRUE(g.found) << diagnose(*app);
    // 55 % of the 1600 × 1000 screen's width (at least 1100) at 16:10, centred.
    EXPECT_EQ(std::tie(g.x, g.y, g.w, g.h), std::make_tuple(250, 156, 1100, 687));

    // Dark theme: the window gradient runs from #161616 in the upper centre to #080808 at
    // the edges; the page area is that gradient, not the black root and not blank. (Window
    // y 430 lies between the overview's total panel and its title line.)
    uint32_t mid = x.pixel(g.x + g.w / 2, g.y + 430);
    EXPECT_NEAR(channel(mid, 16), 0x15, 3) << std::hex << mid;
    EXPECT_EQ(channel(mid, 16), channel(mid, 8));
    uint32_t corner = x.pixel(g.x + 3, g.y + g.h - 60);
    EXPECT_LT(channel(corner, 16), channel(mid, 16));
    EXPECT_GT(channel(corner, 16), 0);
    EXPECT_EQ(lock(), std::to_string(app->pid()));

    const std::string shots = std::string(VELMORA_BUILD_DIR) + "/screenshots";
    testsupport::make_dirs(shots);
    auto shot = [&](const std::string& name) {
        x.save_png(shots + "/session-" + name + ".png", g.x, g.y, g.w, g.h);
    };
    auto at = [&](int dx, int dy) { return x.pixel(g.x + dx, g.y + dy); };
    auto pointer = [&](int dx, int dy) {
        return x.xdotool("mousemove " + std::to_string(g.x + dx) + " " + std::to_string(g.y + dy));
    };
    const uint32_t menu_body = 0x202022; // surface2 of the dark theme
    // Keys go to the window under the pointer (no window manager here).
    ASSERT_TRUE(pointer(600, 400));
    shot("start");

    // F10 opens File; sliding to the View title switches to the longer View menu.
    ASSERT_TRUE(x.xdotool("key F10"));
    EXPECT_TRUE(wait_until(3000, [&] { return at(42, 50) == menu_body; }))
        << std::hex << at(42, 50);
    EXPECT_NE(at(250, 300), menu_body);
    shot("file-menu");
    ASSERT_TRUE(pointer(95, 15));
    EXPECT_TRUE(wait_until(3000, [&] { return at(250, 300) == menu_body; }));
    shot("view-menu");
    ASSERT_TRUE(x.xdotool("key Escape"));
    EXPECT_TRUE(wait_until(3000, [&] { return at(250, 300) != menu_body; }));
    ASSERT_TRUE(pointer(600, 400));

    // Ctrl+2 … Ctrl+5: each page marks its own tab.
    std::vector<std::vector<uint32_t>> tabs = {x.region(g.x, g.y + 40, 700, 40)};
    for (int page = 2; page <= 5; ++page) {
        ASSERT_TRUE(x.xdotool("key ctrl+" + std::to_string(page)));
        EXPECT_TRUE(
            wait_until(3000, [&] { return x.region(g.x, g.y + 40, 700, 40) != tabs.back(); }))
            << "page " << page;
        tabs.push_back(x.region(g.x, g.y + 40, 700, 40));
        shot("page-" + std::to_string(page));
    }
    for (size_t i = 0; i < tabs.size(); ++i)
        for (size_t j = i + 1; j < tabs.size(); ++j) EXPECT_NE(tabs[i], tabs[j]) << i << " " << j;

    // The settings button's tooltip shows after the pointer has rested there.
    const auto below = [&] { return x.region(g.x + g.w - 220, g.y + 80, 220, 40); };
    const auto before = below();
    ASSERT_TRUE(pointer(g.w - 54 + 19, 59));
    const auto moved = std::chrono::steady_clock::now();
    EXPECT_TRUE(wait_until(4000, [&] { return below() != before; }));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - moved)
                            .count();
    EXPECT_GE(waited, 600) << "the tooltip came before the rest time";
    shot("tooltip");

    ASSERT_TRUE(x.xdotool("key ctrl+q"));
    ASSERT_TRUE(app->wait_exit(5000));
    EXPECT_EQ(app->exit_code(), 0);
    EXPECT_NE(last_log_line().find("INFO  clean exit"), std::string::npos) << last_log_line();
    // The stored state reads back: intact seals, the settings text, a usage file that names
    // this boot, and a history of the right layout.
    std::string settings, usage;
    ASSERT_EQ(sealed::read(cfg + "/settings.dat", &settings), sealed::Result::Ok);
    EXPECT_TRUE(settings.starts_with("version=4\nlanguage=auto\ntheme=auto\n")) << settings;
    ASSERT_EQ(sealed::read(cfg + "/usage.dat", &usage), sealed::Result::Ok);
    EXPECT_TRUE(usage.starts_with("B ") && usage.size() > 3) << usage;
    EXPECT_TRUE(history::Store().load(cfg + "/history.dat"));
}

TEST_F(WindowX, SecondStartRaisesTheFirstAndExits) {
    auto first = start();
    auto g = shown();
    ASSERT_TRUE(g.found) << diagnose(*first);

    // Cover the screen with a red window, drawn by a child process so that the X client
    // libraries never live in the test process.
    pid_t blocker = fork();
    if (blocker == 0) {
        setenv("DISPLAY", x.display().c_str(), 1);
        if (SDL_Init(SDL_INIT_VIDEO) != 0) _exit(1);
        SDL_Window* w = SDL_CreateWindow("Blocker", 0, 0, 1600, 1000, SDL_WINDOW_BORDERLESS);
        if (!w) _exit(1);
        for (;;) {
            SDL_PumpEvents();
            SDL_Surface* s = SDL_GetWindowSurface(w);
            SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 255, 0, 0));
            SDL_UpdateWindowSurface(w);
            SDL_Delay(50);
        }
    }
    const int cx = g.x + g.w / 2, cy = g.y + 200;
    EXPECT_TRUE(wait_until(5000, [&] { return x.pixel(cx, cy) == 0xFF0000; }));

    auto r = testsupport::run(testsupport::velmora_bin(), {}, env());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "Velmora is already running\n");
    // The first instance comes to the front and paints over the red window.
    EXPECT_TRUE(wait_until(5000, [&] { return x.pixel(cx, cy) != 0xFF0000; }));
    EXPECT_TRUE(first->running());
    kill(blocker, SIGKILL);
    waitpid(blocker, nullptr, 0);
    first->signal(SIGTERM);
    EXPECT_TRUE(first->wait_exit(5000));
    EXPECT_EQ(first->exit_code(), 0);
}

// Two starts at the same moment: one gives way, the other lives on, every time. The nudge
// is sent before the one giving way exits, so a first instance it could kill would be gone
// shortly after; the last round also waits for the window.
TEST_F(WindowX, SimultaneousStartsLeaveExactlyOneWindow) {
    for (int round = 0; round < 50; ++round) {
        std::unique_ptr<Background> both[2] = {start(), start()};
        int gave_way = -1;
        auto one_ended = [&] {
            for (int i = 0; i < 2 && gave_way < 0; ++i)
                if (both[i]->wait_exit(0)) gave_way = i;
            return gave_way >= 0;
        };
        ASSERT_TRUE(wait_until(15000, one_ended)) << "round " << round;
        Background& loser = *both[gave_way];
        Background& winner = *both[1 - gave_way];
        EXPECT_EQ(loser.exit_code(), 0) << "round " << round;
        EXPECT_EQ(loser.stderr_text(), "Velmora is already running\n") << "round " << round;
        ASSERT_FALSE(winner.wait_exit(200))
            << "round " << round << ": the first instance did not survive\n"
            << diagnose(winner);
        if (round < 49) {
            winner.signal(SIGKILL);
            ASSERT_TRUE(winner.wait_exit(5000));
            continue;
        }
        ASSERT_TRUE(shown().found) << diagnose(winner);
        winner.signal(SIGTERM);
        ASSERT_TRUE(winner.wait_exit(5000));
        EXPECT_EQ(winner.exit_code(), 0);
    }
}

// A start that cannot open any window (no display) must not count against the language:
// the next starts run in the desktop's language. The second one is light for its run only.
TEST_F(WindowX, StartWithoutDisplayKeepsTheLanguageAndLightThemeForOneRun) {
    std::vector<std::string> de = env();
    de.push_back("LANG=de_DE.UTF-8");
    std::vector<std::string> headless = de;
    headless.insert(headless.end(), {"DISPLAY=", "SDL_VIDEODRIVER=x11"});
    EXPECT_EQ(testsupport::run(testsupport::velmora_bin(), {}, headless).exit_code, 1);
    const std::vector<std::string> args[] = {{}, {"--theme", "light"}};
    for (int run = 0; run < 2; ++run) {
        Background app(testsupport::velmora_bin(), args[run], de);
        auto g = shown();
        ASSERT_TRUE(g.found) << diagnose(app);
        const uint32_t mid = x.pixel(g.x + g.w / 2, g.y + 200); // #F2F1EE in light
        EXPECT_EQ(channel(mid, 16) > 0x80, run == 1) << std::hex << mid;
        app.signal(SIGTERM);
        ASSERT_TRUE(app.wait_exit(5000));
        const std::string log = testsupport::read_file(cfg + "/Velmora.log");
        EXPECT_NE(log.find("INFO  language de,"), std::string::npos) << log;
        EXPECT_NE(last_log_line().find("INFO  clean exit"), std::string::npos) << last_log_line();
    }
}

// The last run is started over the lock of a killed instance, which must not block it.
TEST_F(WindowX, TabOptionLeavesAStoredMiniViewAndAKilledLockDoesNotBlock) {
    auto mini = start({"--mini"});
    auto g = shown();
    ASSERT_TRUE(g.found) << mini->stderr_text();
    EXPECT_EQ(g.w, 380);
    mini->signal(SIGTERM);
    ASSERT_TRUE(mini->wait_exit(5000));
    Settings stored;
    stored.load(cfg + "/settings.dat");
    EXPECT_TRUE(stored.mini);

    auto killed = start({"--mini"});
    ASSERT_TRUE(shown().found) << killed->stderr_text();
    killed->signal(SIGKILL);
    ASSERT_TRUE(killed->wait_exit(5000));
    EXPECT_EQ(lock(), std::to_string(killed->pid()));

    auto full = start({"--tab", "3"});
    // Wait for the full-size window of this run (the mini ones are gone).
    testsupport::XServer::Geometry f;
    EXPECT_TRUE(wait_until(15000, [&] {
        f = x.window("Velmora");
        return f.found && f.w == 1100 && f.h == 687;
    })) << full->stderr_text();
    EXPECT_EQ(lock(), std::to_string(full->pid()));
    full->signal(SIGTERM);
    ASSERT_TRUE(full->wait_exit(5000));
    stored.load(cfg + "/settings.dat");
    EXPECT_FALSE(stored.mini);
    EXPECT_EQ(stored.tab, 3);
}

// The single-instance lock without a window: the start that finds the lock taken, and a
// lock file that is not a plain file.
struct StartUp : ::testing::Test {
    TempDir home;
    std::string cfg = home.path() + "/cfg/Velmora";
    std::vector<std::string> env() const {
        return {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path() + "/cfg", "LANG=C.UTF-8",
                "DISPLAY=", "SDL_VIDEODRIVER=x11"};
    }
};

// The lock holds a number that is no plausible pid: nobody is signalled. Run in a private
// pid namespace, where a bystander stands for every other process of the user; the last
// row names the bystander itself and shows that the signal does arrive.
TEST_F(StartUp, OnlyAPlausiblePidInTheLockIsSignalled) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a private pid namespace";
    testsupport::make_dirs(cfg);
    const std::string script =
        "sleep 30 & b=$!; lock=\"$2/Velmora.lock\"; "
        "printf %s \"$1\" | sed \"s/B/$b/\" > \"$lock\"; "
        "flock \"$lock\" sleep 30 & until ! flock -n \"$lock\" true; do sleep 0.01; done; "
        "\"$3\"; sleep 0.2; grep -q '^State:.*[RS]' /proc/$b/status && echo alive || echo dead";
    const std::pair<const char*, const char*> rows[] = {
        {"4294967295", "alive"},           // -1 as a pid: every process of the user
        {"4294967296", "alive"},           // 0: the own process group
        {"4294967298", "alive"},           // 2: the bystander, by wrap-around
        {"99999999999999999999", "alive"}, // beyond any integer
        {"B", "dead"},
    };
    for (const auto& [text, fate] : rows) {
        auto r = testsupport::run("/usr/bin/unshare",
                                  {"--pid", "--fork", "--mount-proc", "setsid", "sh", "-c", script,
                                   "sh", text, cfg, testsupport::velmora_bin()},
                                  env());
        EXPECT_EQ(r.out, std::string(fate) + "\n") << text << "\n" << r.err;
        EXPECT_NE(r.err.find("Velmora is already running\n"), std::string::npos) << text << r.err;
    }
}

// A symbolic link named like the lock file is not followed: the file it points to stays as
// it was, and the start goes on without the lock (and here ends for want of a display).
TEST_F(StartUp, LockFileThatIsALinkIsNotFollowed) {
    const std::string victim = home.write("notes.txt", "keep me\n");
    testsupport::make_dirs(cfg);
    ASSERT_EQ(symlink(victim.c_str(), (cfg + "/Velmora.lock").c_str()), 0);
    auto r = testsupport::run(testsupport::velmora_bin(), {}, env());
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(testsupport::read_file(victim), "keep me\n");
    const std::string log = testsupport::read_file(cfg + "/Velmora.log");
    EXPECT_NE(log.find("without the single-instance lock"), std::string::npos) << log;
}

} // namespace
