// The crash reporter: a fatal signal leaves a plain-text report (written from the signal
// handler with async-signal-safe calls only), the log of the crashed run is kept, and the
// next start can mail both or throw them away. Self-contained: it knows nothing of the
// rest of the program but what `install` hands it.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ruvasto {

struct App {
    std::string name;    // product name, heads the report
    std::string version; // "1.0.4"
    std::string build;   // "1036"
    std::string contact; // where crash mails go
    std::string package; // packaging kind
    // The module's own log lines; the level text is "INFO" or "WARN".
    std::function<void(const std::string& level, const std::string& message)> log;
    // Opens a URI; when empty the module starts xdg-open itself.
    std::function<void(const std::string& uri)> open_uri;
};

enum Context { Graphics = 0, Audio = 1, System = 2 };

// First thing in main: copies `app`, sets the default report path (in XDG_RUNTIME_DIR,
// else TMPDIR, else /tmp) and installs the handler for SIGSEGV, SIGABRT, SIGFPE, SIGBUS,
// SIGILL and SIGTRAP.
void install(const App& app);

// The log file the report quotes from.
void set_log_file(const std::string& path);
// The report becomes dir/crash_report.txt, the crash log dir/crash_log.txt; a report left
// at the previous path is moved along.
void set_report_dir(const std::string& dir);
// Moves an existing log to log_path + ".1" before the new log truncates it; returns and
// remembers that path, or "" when there was no log or it could not be moved.
std::string rotate_log(const std::string& log_path);

// Build and store the report's System and Graphics contexts (each line also logged).
void record_system();
void record_graphics(const std::vector<std::string>& lines);
void record_audio(const std::vector<std::string>& lines);
// Publishes `text` (cut to 2,047 bytes) as the context of `kind`; safe against a handler
// reading it at the same moment on another thread.
void set_context(Context kind, const std::string& text);

// True when an earlier run left a non-empty report; its text goes to out_text. Then the
// previous run's log (see rotate_log) is copied to the crash log unless one exists.
bool pending(std::string& out_text);
// Removes the report and the crash log.
void discard();
// Moves the report and the crash log to their "-sent" names and composes a mail with
// them and log_path attached, on a detached thread.
void send(const std::string& log_path);

// How this program was installed ("deb velmora 1.0.4-1", "snap velmora 1.0.4 rev 12",
// "unpackaged", ...). Worked out once.
std::string package_line();
std::string report_path();
std::string crash_log_path();

// ---- pieces exposed for tests -----------------------------------------------------

// The installed handler; tests also install it for a signal of their choice.
void on_fatal_signal(int sig);

// The live text of a context read the way the handler reads it.
std::string context_text(Context kind);

// Where the package databases are; tests point them at fake trees.
struct PackageDb {
    std::string dpkg_info = "/var/lib/dpkg/info";
    std::string dpkg_status = "/var/lib/dpkg/status";
    std::string rpm = "/usr/bin/rpm";
    std::string pacman_local = "/var/lib/pacman/local";
    std::string flatpak_info = "/.flatpak-info";
};
// The package line for `exe` from the current environment and `db`, not cached.
std::string describe_package(const std::string& exe, const PackageDb& db);

// System and GPU lines; `root` prefixes every file read so tests can use a fake tree.
std::vector<std::string> system_lines(const std::string& root = "");
std::vector<std::string> gpu_lines(const std::string& root = "");

// "report.txt" -> "report-sent.txt", anything else gets "-sent" appended.
std::string sent_name(const std::string& path);
std::string url_encode(const std::string& text);

struct Mail {
    std::string to, subject, body;
    std::vector<std::string> attachments;
};
// The mail for the current report: reads it, moves the report and crash log to their
// sent names and lists them (and log_path, when it exists) as attachments.
Mail prepare_mail(const std::string& log_path);
// The body cut to `limit` bytes with a "[...]" mark, and the mailto URI built from it.
std::string shorten_body(const std::string& body, size_t limit = 6000);
std::string mailto_uri(const Mail& mail);

// The mail routes; each returns true when a mail was composed.
bool mail_thunderbird(const Mail& mail, std::string* note);
bool mail_portal(const Mail& mail, int timeout_ms = 30000);
bool mail_xdg_email(const Mail& mail);

enum class Route { Thunderbird, Portal, XdgEmail, Mailto };
// Tries the routes in order and falls back to mailto and the report folder; what `send`
// runs on its thread.
Route compose(const Mail& mail, int portal_timeout_ms = 30000);

} // namespace ruvasto
