// Process entry: the window-less modes end in the command line; otherwise the start-up
// sequence takes the single-instance lock, opens the log and runs the application.
#include "app.h"
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

// Only one windowed instance per user. Returns false when another one holds the lock (it
// was asked to raise its window). The descriptor stays open for the life of the process,
// so the kernel drops the lock at exit or crash and a stale file never blocks a start.
bool take_instance_lock(const std::string& dir) {
    const std::string path = dir + "/Velmora.lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true; // no protection, but no reason not to start
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        if (ftruncate(fd, 0) == 0) {
            std::string pid = std::to_string(getpid());
            if (pwrite(fd, pid.data(), pid.size(), 0) < 0) {
            }
        }
        return true;
    }
    if (errno != EWOULDBLOCK) return true;
    char buf[32] = {};
    ssize_t n = pread(fd, buf, 31, 0);
    if (n > 0) {
        long pid = strtol(buf, nullptr, 10);
        if (pid > 1) kill(static_cast<pid_t>(pid), SIGUSR1);
    }
    close(fd);
    fputs("Velmora is already running\n", stderr);
    return false;
}

int start_window(const cli::Options& opts, int argc, char** argv) {
    const std::string dir = paths::config_dir();
    if (!take_instance_lock(dir)) return 0;

    // The log of the previous run survives as Velmora.log.1 for a crash report.
    ruvasto::rotate_log(dir + "/Velmora.log");
    logger::init(dir, "Velmora");
    ruvasto::set_log_file(logger::file_path());
    ruvasto::set_report_dir(dir);
    logger::info(std::string("Velmora ") + version::kVersion + " build " + version::kBuild +
                 ", package " + paths::package_kind() + ", " + ruvasto::package_line());
    ruvasto::record_system();

    // Numbers are printed and parsed with a full stop whatever the user's locale says;
    // everything else follows the environment.
    setlocale(LC_ALL, "");
    setlocale(LC_NUMERIC, "C");
    L10n::init(dir);

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
    app.contact = version::kSupportMail;
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
