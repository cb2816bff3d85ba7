// The real program on a private X server: a fatal signal leaves the report in the
// configuration directory, and the next start finds it with the log of the crashed run.
#include "support/display.h"
#include "support/support.h"

#include <csignal>
#include <gtest/gtest.h>

using testsupport::read_file;

namespace {

TEST(CrashWindow, SegvLeavesAReportThatTheNextStartFinds) {
    testsupport::XServer x;
    if (const std::string why = x.start(); !why.empty()) GTEST_SKIP() << why;
    testsupport::TempDir home;
    const std::string h = home.path(), cfg = h + "/cfg/Velmora";
    auto start = [&] {
        auto env =
            testsupport::lines("DISPLAY=" + x.display() + "\nHOME=" + h + "\nXDG_CONFIG_HOME=" + h +
                               "/cfg\nLANG=C.UTF-8\nLANGUAGE=\nXDG_RUNTIME_DIR=" + h);
        if (const char* asan = getenv("ASAN_OPTIONS"))
            env.push_back(std::string("ASAN_OPTIONS=") + asan + ":detect_leaks=0");
        auto app = std::make_unique<testsupport::Background>(testsupport::velmora_bin(),
                                                             std::vector<std::string>{}, env);
        testsupport::wait_until(15000, [&] {
            auto g = x.window("Velmora");
            return g.found && x.pixel(g.x + g.w / 2, g.y + g.h / 2) != 0;
        });
        return app;
    };
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

} // namespace
