// Real fatal signals in child processes with the crash handler installed: the report they
// leave, read line by line, and how the child ends.
#include "ruvasto.h"
#include "support/support.h"

#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

// Left to the hardware: the undefined-behaviour checker would turn these into an abort.
__attribute__((no_sanitize("undefined"))) void null_write() {
    volatile int* volatile p = nullptr;
    *p = 1;
}

// Forks a child that installs the handler, reports into `dir` (quoting dir/Velmora.log when
// `log`) and crashes with `sig`; returns the signal that ended it (0 when it exited).
int crash_child(const std::string& dir, bool log, int sig) {
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        setenv("SNAP_REVISION", "42", 1);
        setenv("XDG_CURRENT_DESKTOP", "TestDesk", 1);
        setenv("XDG_SESSION_TYPE", "x11", 1);
        ruvasto::install({"Velmora", "1.0.4", "1036", "", "", {}, {}});
        ruvasto::set_report_dir(dir);
        signal(10, ruvasto::on_fatal_signal); // a signal without a name in the report
        if (log) ruvasto::set_log_file(dir + "/Velmora.log");
        ruvasto::set_context(ruvasto::System, "OS: Test 1\nKernel: 6.1");
        ruvasto::set_context(ruvasto::Graphics, "Video: x11");
        ruvasto::set_context(ruvasto::Audio, "ALSA cards: none");
        if (sig == SIGSEGV) null_write();
        raise(sig);
        _exit(99);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFSIGNALED(st) ? WTERMSIG(st) : 0;
}

// Writes a log of about `bytes` bytes (none for 0) and returns what the report should quote:
// all of it, or the last 2,500 bytes from the first whole line.
std::string make_log(const std::string& path, size_t bytes) {
    std::string text;
    for (int i = 0; text.size() < bytes; ++i)
        text += "12:00:00 INFO  line " + std::to_string(i) + " of the crashed run\n";
    if (bytes) testsupport::write_file(path, text);
    if (text.size() <= 2500) return text;
    return text.substr(text.find('\n', text.size() - 2501) + 1);
}

TEST(CrashSignal, EachFatalSignalLeavesItsReportAndEndsTheChild) {
    const std::tuple<int, const char*, size_t> cases[] = {
        {SIGSEGV, "SIGSEGV (Segmentation fault)", 900},
        {SIGABRT, "SIGABRT (Abort)", 9000},
        {SIGFPE, "SIGFPE (Floating point exception)", 0},
        {SIGBUS, "SIGBUS (Bus error)", 900},
        {SIGILL, "SIGILL (Illegal instruction)", 9000},
        {SIGTRAP, "SIGTRAP (Trap - usually a fatal GLib/GTK error)", 900},
        {10, "unknown signal", 900}};
    for (const auto& [sig, name, log_bytes] : cases) {
        SCOPED_TRACE(name);
        testsupport::TempDir dir;
        const std::string quoted = make_log(dir.path() + "/Velmora.log", log_bytes);
        const time_t t0 = time(nullptr);
        EXPECT_EQ(crash_child(dir.path(), log_bytes > 0, sig), sig);

        const std::string text = testsupport::read_file(dir.path() + "/crash_report.txt");
        const auto l = testsupport::lines(text);
        ASSERT_GT(l.size(), 20u) << text;
        const std::string head = "=== Velmora crash report ===\nVersion: 1.0.4 (Build 1036)\n"
                                 "Snap revision: 42\nSignal: " +
                                 std::string(name) + "\nTime (unix): " + l[4].substr(13) +
                                 "\nRunning for (s): " + l[5].substr(17) + "\nSystem: Linux " +
                                 l[6].substr(14) +
                                 "\nDesktop: TestDesk\nSession: x11\n\nBacktrace:\n";
        EXPECT_EQ(text.substr(0, head.size()), head);
        EXPECT_TRUE(std::stol(l[4].substr(13)) >= t0 && std::stol(l[4].substr(13)) <= time(nullptr))
            << l[4];
        EXPECT_EQ(l[5].find_first_not_of("0123456789", 17), std::string::npos) << l[5];

        // At least one frame, then the contexts in their fixed order, the log tail and path.
        const std::string tail =
            "\n--- Graphics ---\nVideo: x11\n--- Audio ---\nALSA cards: none\n--- System ---\n"
            "OS: Test 1\nKernel: 6.1\nLog (last lines before the crash):\n" +
            quoted + "\nLog file:\n  " + (log_bytes ? dir.path() + "/Velmora.log" : "(unknown)") +
            "\n=== end of report ===\n";
        const size_t frames = text.find("\nBacktrace:\n") + 12;
        ASSERT_GT(text.size(), frames + tail.size()) << "no backtrace frame\n" << text;
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    }
}

// The report lies in a directory where somebody may have planted a link or a file of
// their own under its name: neither the link's target nor that file is touched.
TEST(CrashSignal, PlantedLinkOrForeignFileIsNeverWritten) {
    testsupport::TempDir dir;
    const std::string victim = dir.write("victim", "precious\n");
    const std::string report = dir.link("crash_report.txt", victim);
    EXPECT_EQ(crash_child(dir.path(), false, SIGSEGV), SIGSEGV);
    EXPECT_EQ(testsupport::read_file(victim), "precious\n");
    struct stat st;
    EXPECT_TRUE(lstat(report.c_str(), &st) == 0 && S_ISLNK(st.st_mode));

    if (geteuid() != 0) GTEST_SKIP() << "a file owned by another user needs root (CI runs as root)";
    unlink(report.c_str());
    ASSERT_EQ(chown(dir.write("crash_report.txt", "not yours\n").c_str(), 65534, 65534), 0);
    EXPECT_EQ(crash_child(dir.path(), false, SIGSEGV), SIGSEGV);
    EXPECT_EQ(testsupport::read_file(report), "not yours\n");
}

} // namespace
