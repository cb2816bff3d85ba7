// The real program on a private X server: a fatal signal leaves the report in the
// configuration directory, and the next start finds it with the log of the crashed run,
// offers it in a dialog, and discards or sends it.
#include "app.h"
#include "support/display.h"
#include "support/support.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::read_file;
using testsupport::wait_until;

namespace {

class CrashWindow : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = x.start();
        if (!why.empty()) GTEST_SKIP() << why;
        cfg = home.path() + "/cfg/Velmora";
    }

    std::unique_ptr<testsupport::Background> start(std::vector<std::string> extra = {},
                                                   std::vector<std::string> args = {}) {
        std::vector<std::string> env = {"DISPLAY=" + x.display(),
                                        "HOME=" + home.path(),
                                        "XDG_CONFIG_HOME=" + home.path() + "/cfg",
                                        "LANG=C.UTF-8",
                                        "LANGUAGE=",
                                        "XDG_RUNTIME_DIR=" + home.path()};
        if (const char* asan = getenv("ASAN_OPTIONS"))
            env.push_back(std::string("ASAN_OPTIONS=") + asan + ":detect_leaks=0");
        env.insert(env.end(), extra.begin(), extra.end());
        auto app = std::make_unique<testsupport::Background>(testsupport::velmora_bin(), args, env);
        wait_until(15000, [&] {
            auto g = x.window("Velmora");
            return g.found && x.pixel(g.x + g.w / 2, g.y + g.h / 2) != 0;
        });
        return app;
    }

    // The crash dialog's "Send report" button, found by its colour (nothing else on the
    // dimmed window has it); w = 0 when it is not shown.
    testsupport::XServer::Geometry send_button() const {
        testsupport::XServer::Geometry b;
        const auto g = x.window("Velmora");
        if (!g.found) return b;
        const std::vector<uint32_t> px = x.region(g.x, g.y, g.w, g.h);
        if (px.size() != static_cast<size_t>(g.w) * g.h) return b;
        const Rgba want = Palette::make(true).chip_on;
        auto channel = [](uint32_t v, int shift, double c) {
            return std::abs(static_cast<int>((v >> shift) & 0xFF) - static_cast<int>(c * 255 + 0.5)) <= 2;
        };
        int x0 = g.w, y0 = g.h, x1 = -1, y1 = -1;
        long count = 0;
        for (int yy = 0; yy < g.h; ++yy)
            for (int xx = 0; xx < g.w; ++xx) {
                const uint32_t v = px[static_cast<size_t>(yy) * g.w + xx];
                if (!channel(v, 16, want.r) || !channel(v, 8, want.g) || !channel(v, 0, want.b))
                    continue;
                ++count;
                x0 = std::min(x0, xx), y0 = std::min(y0, yy);
                x1 = std::max(x1, xx), y1 = std::max(y1, yy);
            }
        if (x1 < 0 || x1 - x0 < 60 || y1 - y0 < 20) return b;
        // The button is one filled block; the page's selected tab, span and default-route
        // chips in the same colour lie apart and fill little of their common box.
        if (count * 2 < static_cast<long>(x1 - x0 + 1) * (y1 - y0 + 1)) return b;
        b.found = true;
        b.x = g.x + x0, b.y = g.y + y0, b.w = x1 - x0 + 1, b.h = y1 - y0 + 1;
        return b;
    }

    testsupport::XServer::Geometry wait_for_dialog() const {
        testsupport::XServer::Geometry b;
        wait_until(5000, [&] { return (b = send_button()).found; });
        return b;
    }

    void screenshot(const std::string& name) const {
        const std::string dir = std::string(VELMORA_BUILD_DIR) + "/screenshots";
        mkdir(dir.c_str(), 0755);
        const auto g = x.window("Velmora");
        x.save_png(dir + "/" + name + ".png", g.x, g.y, g.w, g.h);
    }

    bool exists(const std::string& name) const {
        return access((cfg + "/" + name).c_str(), F_OK) == 0;
    }

    testsupport::XServer x;
    testsupport::TempDir home;
    std::string cfg;
};

TEST_F(CrashWindow, SegvLeavesAReportThatTheNextStartFinds) {
    auto app = start();
    ASSERT_TRUE(x.window("Velmora").found) << app->stderr_text();
    app->signal(SIGSEGV);
    ASSERT_TRUE(app->wait_exit(5000) && app->exit_code() == -1); // ended by the signal
    const std::string report = read_file(cfg + "/crash_report.txt");
    for (const std::string& want : testsupport::lines(
             "=== Velmora crash report ===\nVersion: 1.0.4 (Build 1036)\nPackage: \n"
             "Signal: SIGSEGV (Segmentation fault)\n--- Graphics ---\nVideo: x11\n--- System ---\n"
             "Velmora 1.0.4 build 1036, package plain, \nLog file:\n  " +
             cfg + "/Velmora.log\n=== end of report ==="))
        EXPECT_NE(report.find(want), std::string::npos) << want << "\n" << report;

    auto next = start();
    ASSERT_TRUE(x.window("Velmora").found) << next->stderr_text();
    EXPECT_TRUE(testsupport::wait_until(3000, [&] {
        return read_file(cfg + "/Velmora.log").find("crash report from an earlier run: " + cfg) !=
               std::string::npos;
    }));
    EXPECT_EQ(read_file(cfg + "/crash_log.txt"), read_file(cfg + "/Velmora.log.1"));
    EXPECT_NE(read_file(cfg + "/crash_log.txt").find("INFO  Graphics: "), std::string::npos);
}

TEST_F(CrashWindow, DialogDiscardsThenSendsThroughXdgEmail) {
    if (!testsupport::sh("command -v xdotool >/dev/null 2>&1")) GTEST_SKIP() << "no xdotool";
    // Mail routes: no Thunderbird, a session bus that is not there (the portal fails at
    // once), and an xdg-email that records its arguments.
    const std::string bin = home.path() + "/bin";
    mkdir(bin.c_str(), 0755);
    testsupport::write_file(bin + "/xdg-email",
                            "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > " + home.path() +
                                "/xdg-email.args\n");
    chmod((bin + "/xdg-email").c_str(), 0755);
    const std::vector<std::string> mail_env = {
        "PATH=" + bin, "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home.path() + "/no-bus"};
    const std::vector<std::string> dark = {"--theme", "dark"};

    auto crash = [&](testsupport::Background& app) {
        app.signal(SIGSEGV);
        ASSERT_TRUE(app.wait_exit(5000));
        ASSERT_TRUE(exists("crash_report.txt"));
    };
    auto click = [&](int cx, int cy) {
        ASSERT_TRUE(x.xdotool("mousemove " + std::to_string(cx) + " " + std::to_string(cy) +
                              " click 1"));
    };

    auto first = start(mail_env, dark);
    ASSERT_TRUE(x.window("Velmora").found) << first->stderr_text();
    EXPECT_FALSE(send_button().found) << "no dialog without a report";
    crash(*first);

    // Discard: the button left of "Send report" removes the report and the crash log.
    auto second = start(mail_env, dark);
    auto b = wait_for_dialog();
    ASSERT_TRUE(b.found) << second->stderr_text();
    EXPECT_TRUE(exists("crash_log.txt"));
    screenshot("crash-dialog");
    click(b.x + b.w / 2, b.y + 2 * b.h); // below the panel, inside the dimmed window
    usleep(300 * 1000);
    EXPECT_TRUE(send_button().found) << "a click outside leaves the dialog open";
    EXPECT_TRUE(exists("crash_report.txt"));
    click(b.x - 12 - 40, b.y + b.h / 2);
    EXPECT_TRUE(wait_until(3000, [&] { return !exists("crash_report.txt"); }));
    EXPECT_FALSE(exists("crash_log.txt"));
    EXPECT_TRUE(wait_until(3000, [&] { return !send_button().found; }));
    EXPECT_NE(read_file(cfg + "/Velmora.log").find("crash report: user chose discard"),
              std::string::npos);
    crash(*second);

    // Send, in German: the files move to their sent names and xdg-email gets them.
    std::vector<std::string> german = mail_env;
    german.push_back("LANGUAGE=de");
    auto third = start(german, dark);
    b = wait_for_dialog();
    ASSERT_TRUE(b.found) << third->stderr_text();
    screenshot("crash-dialog-de");
    click(b.x + b.w / 2, b.y + b.h / 2);
    const std::string log = cfg + "/Velmora.log";
    EXPECT_TRUE(wait_until(5000, [&] {
        return read_file(log).find("Crash report: mail composed with 3 attachments") !=
               std::string::npos;
    })) << read_file(log);
    const std::string text = read_file(log);
    EXPECT_NE(text.find("crash report: user chose send"), std::string::npos);
    EXPECT_NE(text.find("xdg-email: exit 0"), std::string::npos) << text;
    EXPECT_FALSE(exists("crash_report.txt"));
    EXPECT_FALSE(exists("crash_log.txt"));
    EXPECT_TRUE(exists("crash_report-sent.txt"));
    EXPECT_TRUE(exists("crash_log-sent.txt"));
    const std::string args = read_file(home.path() + "/xdg-email.args");
    EXPECT_NE(args.find("--attach\n" + cfg + "/crash_report-sent.txt\n"), std::string::npos)
        << args;
    EXPECT_NE(args.find("--attach\n" + cfg + "/crash_log-sent.txt\n"), std::string::npos);
    EXPECT_FALSE(send_button().found);
    third->signal(SIGTERM);
    EXPECT_TRUE(third->wait_exit(5000));
}

} // namespace
