// The real program on a private X server: a fatal signal leaves the report in the
// configuration directory, and the next start finds it with the log of the crashed run.
#include "support/display.h"
#include "support/support.h"

#include <csignal>
#include <gtest/gtest.h>

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

    std::unique_ptr<testsupport::Background> start() {
        std::vector<std::string> env = {"DISPLAY=" + x.display(),
                                        "HOME=" + home.path(),
                                        "XDG_CONFIG_HOME=" + home.path() + "/cfg",
                                        "LANG=C.UTF-8",
                                        "LANGUAGE=",
                                        "XDG_RUNTIME_DIR=" + home.path()};
        if (const char* asan = getenv("ASAN_OPTIONS"))
            env.push_back(std::string("ASAN_OPTIONS=") + asan + ":detect_leaks=0");
        auto app = std::make_unique<testsupport::Background>(testsupport::velmora_bin(),
                                                             std::vector<std::string>{}, env);
        wait_until(15000, [&] {
            auto g = x.window("Velmora");
            return g.found && x.pixel(g.x + g.w / 2, g.y + g.h / 2) != 0;
        });
        return app;
    }

    testsupport::XServer x;
    testsupport::TempDir home;
    std::string cfg;
};

TEST_F(CrashWindow, SegvLeavesAReportThatTheNextStartFinds) {
    auto app = start();
    ASSERT_TRUE(x.window("Velmora").found) << app->stderr_text();
    const std::string first_log = read_file(cfg + "/Velmora.log");
    // The first line names the package; the system and graphics lines follow.
    EXPECT_NE(first_log.find("Velmora 1.0.4 build 1036, package plain, "), std::string::npos);
    EXPECT_NE(first_log.find("INFO  System: OS: "), std::string::npos) << first_log;
    EXPECT_NE(first_log.find("INFO  Graphics: Video: x11"), std::string::npos) << first_log;

    app->signal(SIGSEGV);
    ASSERT_TRUE(app->wait_exit(5000));
    EXPECT_EQ(app->exit_code(), -1); // killed by the signal
    const std::string report = read_file(cfg + "/crash_report.txt");
    EXPECT_EQ(
        report.rfind("=== Velmora crash report ===\nVersion: 1.0.4 (Build 1036)\nPackage: ", 0), 0u)
        << report;
    EXPECT_NE(report.find("\nSignal: SIGSEGV (Segmentation fault)\n"), std::string::npos);
    EXPECT_NE(report.find("\n--- Graphics ---\nVideo: x11\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\n--- System ---\nOS: "), std::string::npos);
    EXPECT_NE(report.find("Velmora 1.0.4 build 1036, package plain"), std::string::npos)
        << "the log tail";
    EXPECT_NE(report.find("\nLog file:\n  " + cfg + "/Velmora.log\n=== end of report ===\n"),
              std::string::npos);

    auto next = start();
    ASSERT_TRUE(x.window("Velmora").found) << next->stderr_text();
    EXPECT_TRUE(wait_until(3000, [&] {
        return read_file(cfg + "/Velmora.log")
                   .find("crash report from an earlier run: " + cfg + "/crash_report.txt") !=
               std::string::npos;
    }));
    EXPECT_EQ(read_file(cfg + "/crash_log.txt"), read_file(cfg + "/Velmora.log.1"));
    EXPECT_NE(read_file(cfg + "/crash_log.txt").find("INFO  Graphics: "), std::string::npos);
    next->signal(SIGTERM);
    EXPECT_TRUE(next->wait_exit(5000));
    EXPECT_EQ(next->exit_code(), 0);
}

} // namespace
