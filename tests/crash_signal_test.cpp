// Real fatal signals in child processes with the crash handler installed: the report they
// leave, read line by line, and how the child ends.
#include "ruvasto.h"
#include "support/support.h"

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Left to the hardware: the undefined-behaviour checker would turn these into an abort.
__attribute__((no_sanitize("undefined"))) void null_write() {
    volatile int* volatile p = nullptr;
    *p = 1;
}

__attribute__((no_sanitize("undefined"))) void divide_by_zero() {
    volatile int zero = 0, seven = 7; // both unknown, so a real division instruction runs
    volatile int r = seven / zero;
    (void)r;
}

// Touching a shared mapping beyond the end of its file is a bus error.
void bus_error() {
    char name[] = "/tmp/velmora-bus-XXXXXX";
    int fd = mkstemp(name);
    unlink(name);
    auto* p =
        static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    p[0] = 1;
}

void illegal_instruction() {
    __builtin_trap();
}

void do_abort() {
    abort();
}

void do_trap() {
    raise(SIGTRAP);
}

// Signal 10 has no name in the report; the handler is installed for it by hand.
void unnamed_signal() {
    struct sigaction sa = {};
    sa.sa_handler = ruvasto::on_fatal_signal;
    sa.sa_flags = SA_RESETHAND;
    sigaction(10, &sa, nullptr);
    raise(10);
}

enum class Log { Short, Long, None };

// Forks a child that installs the handler, reports into `dir` and runs `trigger`; returns
// the signal that ended it (0 when it exited).
int crash_child(const std::string& dir, Log log, void (*trigger)()) {
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        setenv("SNAP_REVISION", "42", 1);
        setenv("XDG_CURRENT_DESKTOP", "TestDesk", 1);
        setenv("XDG_SESSION_TYPE", "x11", 1);
        ruvasto::App app;
        app.name = "Velmora";
        app.version = "1.0.4";
        app.build = "1036";
        ruvasto::install(app);
        ruvasto::set_report_dir(dir);
        if (log != Log::None) ruvasto::set_log_file(dir + "/Velmora.log");
        ruvasto::set_context(ruvasto::System, "OS: Test 1\nKernel: 6.1");
        ruvasto::set_context(ruvasto::Graphics, "Video: x11");
        ruvasto::set_context(ruvasto::Audio, "ALSA cards: none");
        trigger();
        _exit(99);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFSIGNALED(st) ? WTERMSIG(st) : 0;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return out;
}

bool digits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Writes a log of about `bytes` bytes and returns what the report should quote of it.
std::string make_log(const std::string& path, size_t bytes) {
    std::string text;
    for (int i = 0; text.size() < bytes; ++i)
        text += "12:00:00 INFO  line " + std::to_string(i) + " of the crashed run\n";
    testsupport::write_file(path, text);
    if (text.size() <= 2500) return text;
    size_t start = text.size() - 2500;
    if (text[start - 1] != '\n') start = text.find('\n', start) + 1;
    return text.substr(start);
}

TEST(CrashSignal, EachFatalSignalLeavesItsReportAndEndsTheChild) {
    struct Case {
        const char* what;
        int sig;
        void (*trigger)();
        const char* name;
        Log log;
    };
    const Case cases[] = {
        {"null write", SIGSEGV, null_write, "SIGSEGV (Segmentation fault)", Log::Short},
        {"abort", SIGABRT, do_abort, "SIGABRT (Abort)", Log::Long},
        {"division by zero", SIGFPE, divide_by_zero, "SIGFPE (Floating point exception)",
         Log::None},
        {"mapping past the file", SIGBUS, bus_error, "SIGBUS (Bus error)", Log::Short},
        {"trap instruction", SIGILL, illegal_instruction, "SIGILL (Illegal instruction)",
         Log::Long},
        {"raised trap", SIGTRAP, do_trap, "SIGTRAP (Trap - usually a fatal GLib/GTK error)",
         Log::Short},
        {"signal 10", 10, unnamed_signal, "unknown signal", Log::Short},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        std::string quoted;
        if (c.log == Log::Short) quoted = make_log(dir.path() + "/Velmora.log", 900);
        if (c.log == Log::Long) quoted = make_log(dir.path() + "/Velmora.log", 9000);
        const time_t t0 = time(nullptr);
        EXPECT_EQ(crash_child(dir.path(), c.log, c.trigger), c.sig);
        const time_t t1 = time(nullptr);

        const std::string text = testsupport::read_file(dir.path() + "/crash_report.txt");
        const auto l = lines_of(text);
        ASSERT_GT(l.size(), 20u) << text;
        EXPECT_EQ(l[0], "=== Velmora crash report ===");
        EXPECT_EQ(l[1], "Version: 1.0.4 (Build 1036)");
        EXPECT_EQ(l[2], "Snap revision: 42");
        EXPECT_EQ(l[3], std::string("Signal: ") + c.name);
        ASSERT_EQ(l[4].rfind("Time (unix): ", 0), 0u) << l[4];
        const long when = std::stol(l[4].substr(13));
        EXPECT_TRUE(when >= t0 && when <= t1) << l[4];
        ASSERT_EQ(l[5].rfind("Running for (s): ", 0), 0u) << l[5];
        EXPECT_TRUE(digits(l[5].substr(17))) << l[5];
        EXPECT_EQ(l[6].rfind("System: Linux ", 0), 0u) << l[6];
        EXPECT_EQ(l[7], "Desktop: TestDesk");
        EXPECT_EQ(l[8], "Session: x11");
        EXPECT_EQ(l[9], "");
        EXPECT_EQ(l[10], "Backtrace:");
        // At least one frame, then the contexts in their fixed order.
        const size_t graphics = text.find("\n\n--- Graphics ---\nVideo: x11\n");
        ASSERT_NE(graphics, std::string::npos) << text;
        EXPECT_GT(graphics, text.find("Backtrace:\n") + 12) << "no backtrace frame";
        EXPECT_NE(text.find("Video: x11\n--- Audio ---\nALSA cards: none\n--- System ---\n"
                            "OS: Test 1\nKernel: 6.1\nLog (last lines before the crash):\n"),
                  std::string::npos)
            << text;

        const std::string head = "Log (last lines before the crash):\n";
        const std::string foot = "\nLog file:\n  ";
        const size_t a = text.find(head) + head.size(), b = text.find(foot);
        ASSERT_NE(b, std::string::npos);
        EXPECT_EQ(text.substr(a, b - a), quoted);
        const std::string path = c.log == Log::None ? "(unknown)" : dir.path() + "/Velmora.log";
        EXPECT_EQ(text.substr(b + foot.size()), path + "\n=== end of report ===\n");
    }
}

// The report lies in a directory where somebody may have planted a link or a file of
// their own under its name: neither the link's target nor that file is touched.
TEST(CrashSignal, PlantedLinkOrForeignFileIsNeverWritten) {
    testsupport::TempDir dir;
    const std::string victim = dir.write("victim", "precious\n");
    dir.link("crash_report.txt", victim);
    EXPECT_EQ(crash_child(dir.path(), Log::None, null_write), SIGSEGV);
    EXPECT_EQ(testsupport::read_file(victim), "precious\n");
    struct stat st;
    ASSERT_EQ(lstat((dir.path() + "/crash_report.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    if (geteuid() != 0) GTEST_SKIP() << "a file owned by another user needs root (CI runs as root)";
    unlink((dir.path() + "/crash_report.txt").c_str());
    const std::string foreign = dir.write("crash_report.txt", "not yours\n");
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_EQ(crash_child(dir.path(), Log::None, null_write), SIGSEGV);
    EXPECT_EQ(testsupport::read_file(foreign), "not yours\n");
}

} // namespace
