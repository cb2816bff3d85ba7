// Process entry: the window-less modes end in the command line; otherwise the start-up
// sequence takes the single-instance lock, opens the log and runs the application.
#include "app.h"
#include "autostart.h"
#include "cli.h"
#include "l10n.h"
#include "logger.h"
#include "paths.h"
#include "ruvasto.h"
#include "version.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The largest pid the kernel hands out. A number above it in the lock file names no process
// and must not reach kill(): cast to pid_t, 4294967295 becomes -1 (every process of the
// user) and 4294967296 becomes 0 (the own process group).
long pid_max() {
    long v = 0;
    if (FILE* f = fopen("/proc/sys/kernel/pid_max", "re")) {
        if (fscanf(f, "%ld", &v) != 1) v = 0;
        fclose(f);
    }
    return v > 0 ? v : 4194304; // the kernel's own ceiling
}

enum class Lock { Held, Busy, Without, Link };

// Only one windowed instance per user. Busy when another one holds the lock (it was asked
// to raise its window). The descriptor stays open for the life of the process, so the
// kernel drops the lock at exit or crash and a stale file never blocks a start.
Lock take_instance_lock(const std::string& dir) {
    const std::string path = dir + "/Velmora.lock";
    // A link planted under the lock's name would have us truncate the file it points to.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno == ELOOP ? Lock::Link : Lock::Without;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // From the moment the pid is visible another start may send SIGUSR1, whose default
        // action would end this process before App::run installs its handlers.
        signal(SIGUSR1, on_signal);
        if (ftruncate(fd, 0) == 0) {
            std::string pid = std::to_string(getpid());
            if (pwrite(fd, pid.data(), pid.size(), 0) < 0) {
            }
        }
        return Lock::Held;
    }
    if (errno != EWOULDBLOCK) return Lock::Without;
    char buf[32] = {};
    ssize_t n = pread(fd, buf, 31, 0);
    if (n > 0) {
        errno = 0;
        long pid = strtol(buf, nullptr, 10);
        if (errno == 0 && pid > 1 && pid <= pid_max()) kill(static_cast<pid_t>(pid), SIGUSR1);
    }
    close(fd);
    fputs("Velmora is already running\n", stderr);
    return Lock::Busy;
}

int start_window(const cli::Options& opts, int argc, char** argv) {
    const std::string dir = paths::config_dir();
    const Lock lock = take_instance_lock(dir);
    if (lock == Lock::Busy) return 0;

    // The log of the previous run survives as Velmora.log.1 for a crash report.
    ruvasto::rotate_log(dir + "/Velmora.log");
    logger::init(dir, "Velmora");
    ruvasto::set_log_file(logger::file_path());
    ruvasto::set_report_dir(dir);
    logger::info(std::string("Velmora ") + version::kVersion + " build " + version::kBuild +
                 ", package " + paths::package_kind() + ", " + ruvasto::package_line());
    ruvasto::record_system();
    if (lock == Lock::Link)
        logger::warn("Velmora.lock is a symbolic link, running without the single-instance lock");

    // Numbers are printed and parsed with a full stop whatever the user's locale says;
    // everything else follows the environment.
    setlocale(LC_ALL, "");
    setlocale(LC_NUMERIC, "C");
    L10n::init(dir);
    // An AppImage moved or replaced since the entry was written would not start at login.
    autostart::repair();

    auto app = std::make_unique<App>();
    app->force_mini = opts.force_mini;
    app->force_tab = opts.force_tab;
    app->force_theme = opts.force_theme;
    const int code = app->run(argc, argv);
    logger::shutdown();
    app.reset();
    return code;
}

// Before anything else, so that even the window-less modes run under the crash reporter.
void install_crash_reporter() {
    ruvasto::App app;
    app.name = version::kProduct;
    app.version = version::kVersion;
    app.build = version::kBuild;
    app.contact = VELMORA_SUPPORT_MAIL;
    app.package = "velmora";
    app.log = [](const std::string& level, const std::string& message) {
        if (!level.empty() && level[0] == 'W')
            logger::warn(message);
        else
            logger::info(message);
    };
    ruvasto::install(app);
}

} // namespace

int main(int argc, char** argv) {
    install_crash_reporter();
    const cli::Parsed parsed = cli::parse(argc, argv);
    if (parsed.action != cli::Action::Window) {
        const int code = cli::serve(parsed, stdout, stderr);
        fflush(stdout);
        return code;
    }
    return start_window(parsed.opts, argc, argv);
}
