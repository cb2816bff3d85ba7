// The crash reporter. Sections:
//   1. static state the handler reads
//   2. the fatal-signal handler (async-signal-safe only)
//   3. install, paths, log rotation, pending, discard
//   4. contexts: system, graphics, audio lines and the two-slot store
//   5. package line
//   6. sending: the mail, the routes, the fallback
#include "ruvasto.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <fstream>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gnu/libc-version.h>
#include <mutex>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ruvasto {

// ---- 1. static state ------------------------------------------------------------------

namespace {

constexpr size_t kTail = 2500;
constexpr size_t kSlot = 2048;
constexpr size_t kReportMax = 262144;
constexpr size_t kCrashLogMax = 49152;

App g_app;
char g_name[128];
char g_version[64];
char g_build[32];
char g_package[512];
char g_log_path[1024];
char g_report_path[1024];
char g_crash_log_path[1024];
std::string g_prev_log;
time_t g_start = 0;
char g_tail[kTail + 1];

// Two slots per context kind. A writer fills the slot that is not live and then publishes
// it; each slot also carries a sequence number (odd while being written) so that a reader
// can tell when a second rewrite caught up with the slot it was copying. The bytes are
// atomics so that the copy on the crashing thread is never a data race.
struct Slot {
    std::atomic<unsigned> seq{0};
    std::atomic<char> text[kSlot];
};
Slot g_slots[3][2];
std::atomic<int> g_live[3];
std::mutex g_write_mutex; // writers only; the handler never takes it

std::atomic<int> g_handling{0}; // thread id of the thread writing a report

void copy_bounded(char* dst, size_t cap, const std::string& src) {
    size_t n = std::min(src.size(), cap - 1);
    memcpy(dst, src.data(), n);
    dst[n] = 0;
}

void log_line(const char* level, const std::string& message) {
    if (g_app.log) g_app.log(level, message);
}

} // namespace

// ---- 2. the fatal-signal handler ---------------------------------------------------------

namespace {

void put(int fd, const char* s, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, s, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        s += w;
        n -= static_cast<size_t>(w);
    }
}

void put(int fd, const char* s) {
    put(fd, s, strlen(s));
}

void put_number(int fd, long long v) {
    char buf[24];
    char* p = buf + sizeof buf;
    unsigned long long u =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u > 0);
    if (v < 0) *--p = '-';
    put(fd, p, static_cast<size_t>(buf + sizeof buf - p));
}

const char* signal_name(int sig) {
    switch (sig) {
    case SIGILL:
        return "SIGILL (Illegal instruction)";
    case SIGTRAP:
        return "SIGTRAP (Trap - usually a fatal GLib/GTK error)";
    case SIGABRT:
        return "SIGABRT (Abort)";
    case SIGBUS:
        return "SIGBUS (Bus error)";
    case SIGFPE:
        return "SIGFPE (Floating point exception)";
    case SIGSEGV:
        return "SIGSEGV (Segmentation fault)";
    default:
        return "unknown signal";
    }
}

// Copies the live text of `kind` into out (cap bytes, zero-terminated); empty when no
// complete copy could be taken because writers kept rewriting the slot.
size_t read_slot(int kind, char* out, size_t cap) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int live = g_live[kind].load(std::memory_order_acquire);
        Slot& s = g_slots[kind][live];
        const unsigned before = s.seq.load(std::memory_order_acquire);
        if (before & 1u) continue;
        size_t n = 0;
        while (n + 1 < cap && n < kSlot) {
            // Acquire, not a fence (which ThreadSanitizer cannot follow): a byte of a newer
            // rewrite brings that rewrite's odd sequence number along, so the check below
            // sees it changed.
            char c = s.text[n].load(std::memory_order_acquire);
            if (c == 0) break;
            out[n++] = c;
        }
        out[n] = 0;
        if (s.seq.load(std::memory_order_relaxed) == before) return n;
    }
    out[0] = 0;
    return 0;
}

// Opens the report for writing without following a planted link and without harming a
// file that is not this user's own regular file; -1 when it cannot be used.
int open_report() {
    int fd = open(g_report_path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        ftruncate(fd, 0) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void put_log_tail(int fd) {
    if (!g_log_path[0]) return;
    int lf = open(g_log_path, O_RDONLY | O_CLOEXEC);
    if (lf < 0) return;
    struct stat st;
    if (fstat(lf, &st) == 0 && st.st_size > 0) {
        // One byte more than the tail when the file is longer: it tells whether the tail
        // starts on a line boundary.
        const off_t size = st.st_size;
        const bool inside = size > static_cast<off_t>(kTail);
        const off_t from = inside ? size - static_cast<off_t>(kTail) - 1 : 0;
        const size_t want = static_cast<size_t>(size - from);
        size_t got = 0;
        while (got < want) {
            ssize_t r = pread(lf, g_tail + got, want - got, from + static_cast<off_t>(got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        size_t start = 0;
        if (inside && got > 0) {
            if (g_tail[0] == '\n') {
                start = 1; // the tail begins exactly at a line
            } else {
                while (start < got && g_tail[start] != '\n') ++start;
                if (start < got) ++start;
            }
        }
        if (start < got && g_tail[start] == '\n') ++start;
        put(fd, g_tail + start, got - start);
    }
    close(lf);
}

void write_report(int sig) {
    int fd = open_report();
    if (fd < 0) return;
    put(fd, "=== ");
    put(fd, g_name);
    put(fd, " crash report ===\nVersion: ");
    put(fd, g_version);
    put(fd, " (Build ");
    put(fd, g_build);
    put(fd, ")\n");
    if (g_package[0]) {
        put(fd, "Package: ");
        put(fd, g_package);
        put(fd, "\n");
    }
    const char* rev = getenv("SNAP_REVISION");
    if (rev && *rev) {
        put(fd, "Snap revision: ");
        put(fd, rev);
        put(fd, "\n");
    }
    put(fd, "Signal: ");
    put(fd, signal_name(sig));
    put(fd, "\nTime (unix): ");
    const time_t now = time(nullptr);
    put_number(fd, static_cast<long long>(now));
    put(fd, "\n");
    if (g_start) {
        put(fd, "Running for (s): ");
        put_number(fd, static_cast<long long>(now - g_start));
        put(fd, "\n");
    }
    struct utsname u;
    if (uname(&u) == 0) {
        put(fd, "System: ");
        for (const char* part : {u.sysname, u.release, u.version}) {
            put(fd, part);
            put(fd, " ");
        }
        put(fd, u.machine);
        put(fd, "\n");
    }
    const char* desk = getenv("XDG_CURRENT_DESKTOP");
    if (desk && *desk) {
        put(fd, "Desktop: ");
        put(fd, desk);
        put(fd, "\n");
    }
    const char* session = getenv("XDG_SESSION_TYPE");
    if (session && *session) {
        put(fd, "Session: ");
        put(fd, session);
        put(fd, "\n");
    }

    put(fd, "\nBacktrace:\n");
    void* frames[48];
    const int n = backtrace(frames, 48);
    backtrace_symbols_fd(frames, n, fd);

    static const char* const titles[3] = {"\n--- Graphics ---\n", "\n--- Audio ---\n",
                                          "\n--- System ---\n"};
    static char ctx[kSlot];
    for (int k = 0; k < 3; ++k) {
        if (read_slot(k, ctx, sizeof ctx) == 0) continue;
        put(fd, titles[k]);
        put(fd, ctx);
    }

    put(fd, "\nLog (last lines before the crash):\n");
    put_log_tail(fd);
    put(fd, "\nLog file:\n  ");
    put(fd, g_log_path[0] ? g_log_path : "(unknown)");
    put(fd, "\n=== end of report ===\n");
    close(fd);
}

} // namespace

void on_fatal_signal(int sig) {
    const int self = static_cast<int>(syscall(SYS_gettid));
    int expected = 0;
    if (!g_handling.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // The handler itself failed: let this signal take its default course.
            signal(sig, SIG_DFL);
            raise(sig);
            return;
        }
        // Another thread is writing the report and ends the process when done.
        for (;;) pause();
    }
    write_report(sig);
    signal(sig, SIG_DFL);
    raise(sig);
}

// ---- 3. install, paths, log rotation, pending, discard --------------------------------------

namespace {

std::string dir_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool own_regular(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

std::string read_text(const std::string& path, size_t max) {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    std::string out;
    char buf[8192];
    while (out.size() < max) {
        ssize_t r = read(fd, buf, std::min(sizeof buf, max - out.size()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        out.append(buf, static_cast<size_t>(r));
    }
    close(fd);
    return out;
}

bool copy_file(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    char buf[65536];
    bool ok = true;
    while (ok && in) {
        in.read(buf, sizeof buf);
        std::streamsize n = in.gcount();
        if (n > 0) ok = write(fd, buf, static_cast<size_t>(n)) == n;
    }
    return close(fd) == 0 && ok;
}

const char* nonempty_env(const char* name) {
    const char* v = getenv(name);
    return v && *v ? v : nullptr;
}

} // namespace

void install(const App& app) {
    g_app = app;
    copy_bounded(g_name, sizeof g_name, app.name);
    copy_bounded(g_version, sizeof g_version, app.version);
    copy_bounded(g_build, sizeof g_build, app.build);
    const char* dir = nonempty_env("XDG_RUNTIME_DIR");
    if (!dir) dir = nonempty_env("TMPDIR");
    if (!dir) dir = "/tmp";
    snprintf(g_report_path, sizeof g_report_path, "%s/%s_crash.txt", dir, g_name);
    g_crash_log_path[0] = 0;
    // backtrace() loads libgcc on first use, which must not happen inside the handler.
    void* probe[2];
    backtrace(probe, 2);
    g_start = time(nullptr);

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_fatal_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;
    for (int sig : {SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL, SIGTRAP})
        sigaction(sig, &sa, nullptr);
}

void set_log_file(const std::string& path) {
    copy_bounded(g_log_path, sizeof g_log_path, path);
}

void set_report_dir(const std::string& dir) {
    const std::string old = g_report_path;
    char fresh[sizeof g_report_path];
    snprintf(fresh, sizeof fresh, "%s/crash_report.txt", dir.c_str());
    snprintf(g_crash_log_path, sizeof g_crash_log_path, "%s/crash_log.txt", dir.c_str());
    // Only this user's own report is carried over; in a shared directory the name may
    // belong to somebody else.
    if (!old.empty() && old != fresh && own_regular(old)) rename(old.c_str(), fresh);
    memcpy(g_report_path, fresh, sizeof fresh);
}

std::string rotate_log(const std::string& log_path) {
    g_prev_log.clear();
    const std::string kept = log_path + ".1";
    if (exists(log_path) && rename(log_path.c_str(), kept.c_str()) == 0) g_prev_log = kept;
    return g_prev_log;
}

std::string report_path() {
    return g_report_path;
}

std::string crash_log_path() {
    if (g_crash_log_path[0]) return g_crash_log_path;
    return dir_of(g_report_path) + "/crash_log.txt";
}

bool pending(std::string& out_text) {
    out_text = read_text(g_report_path, kReportMax);
    if (out_text.empty()) return false;
    const std::string crash_log = crash_log_path();
    if (!g_prev_log.empty() && !exists(crash_log)) copy_file(g_prev_log, crash_log);
    return true;
}

void discard() {
    unlink(g_report_path);
    unlink(crash_log_path().c_str());
}

// ---- 4. contexts -------------------------------------------------------------------

void set_context(Context kind, const std::string& text) {
    std::lock_guard<std::mutex> lock(g_write_mutex);
    const int idle = 1 - g_live[kind].load(std::memory_order_relaxed);
    Slot& s = g_slots[kind][idle];
    const unsigned seq = s.seq.load(std::memory_order_relaxed);
    s.seq.store(seq + 1, std::memory_order_relaxed);
    // Release stores carry the odd number to any reader that sees one of these bytes.
    const size_t n = std::min(text.size(), kSlot - 1);
    for (size_t i = 0; i < n; ++i) s.text[i].store(text[i], std::memory_order_release);
    s.text[n].store(0, std::memory_order_release);
    s.seq.store(seq + 2, std::memory_order_release);
    g_live[kind].store(idle, std::memory_order_release);
}

std::string context_text(Context kind) {
    char buf[kSlot];
    size_t n = read_slot(kind, buf, sizeof buf);
    return std::string(buf, n);
}

namespace {

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::string unquote(std::string v) {
    v = trim(v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

std::string env_or(const char* name, const char* fallback) {
    const char* v = nonempty_env(name);
    return v ? v : fallback;
}

std::string join(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        if (!out.empty()) out += '\n';
        out += l;
    }
    return out;
}

void record(Context kind, const char* prefix, const std::vector<std::string>& lines) {
    for (const auto& l : lines) log_line("INFO", prefix + l);
    set_context(kind, join(lines));
}

std::string os_line(const std::string& root) {
    static const char* const files[] = {"/etc/os-release",
                                        "/usr/lib/os-release",
                                        "/run/host/os-release",
                                        "/run/host/usr/lib/os-release",
                                        "/var/lib/snapd/hostfs/etc/os-release",
                                        "/var/lib/snapd/hostfs/usr/lib/os-release"};
    for (const char* f : files) {
        std::ifstream in(root + f);
        if (!in) continue;
        std::string pretty, version, like, line;
        while (std::getline(in, line)) {
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            const std::string key = line.substr(0, eq), value = unquote(line.substr(eq + 1));
            if (key == "PRETTY_NAME")
                pretty = value;
            else if (key == "VERSION_ID")
                version = value;
            else if (key == "ID_LIKE")
                like = value;
        }
        std::string out = "OS: " + (pretty.empty() ? std::string("?") : pretty);
        if (!version.empty()) out += " " + version;
        if (!like.empty()) out += ", like " + like;
        return out;
    }
    if (const char* kind = nonempty_env("SNAP")         ? "snap"
                           : nonempty_env("FLATPAK_ID") ? "flatpak"
                                                        : nullptr)
        return std::string("OS: host not readable from the sandbox; sandbox: ") + kind;
    return "OS: unknown";
}

std::string cpu_line(const std::string& root) {
    std::ifstream in(root + "/proc/cpuinfo");
    std::string model, line;
    int threads = 0;
    while (std::getline(in, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = trim(line.substr(0, colon));
        if (key == "processor")
            ++threads;
        else if (key == "model name" && model.empty())
            model = trim(line.substr(colon + 1));
    }
    return "CPU: " + (model.empty() ? std::string("?") : model) + ", " + std::to_string(threads) +
           " threads";
}

std::string ram_line(const std::string& root) {
    std::ifstream in(root + "/proc/meminfo");
    std::string line;
    long long total = -1, avail = -1;
    while (std::getline(in, line)) {
        long long kb = 0;
        if (sscanf(line.c_str(), "MemTotal: %lld kB", &kb) == 1)
            total = kb;
        else if (sscanf(line.c_str(), "MemAvailable: %lld kB", &kb) == 1)
            avail = kb;
    }
    auto mb = [](long long kb) { return kb < 0 ? std::string("?") : std::to_string(kb / 1024); };
    return "RAM: " + mb(total) + " MB, available " + mb(avail) + " MB";
}

} // namespace

std::vector<std::string> system_lines(const std::string& root) {
    std::vector<std::string> out;
    out.push_back(os_line(root));
    struct utsname u;
    out.push_back(std::string("Kernel: ") + (uname(&u) == 0 ? u.release : "?"));
    out.push_back(std::string("glibc: ") + gnu_get_libc_version());
    out.push_back(cpu_line(root));
    out.push_back(ram_line(root));
    std::string session = "Session: desktop " + env_or("XDG_CURRENT_DESKTOP", "?") + ", type " +
                          env_or("XDG_SESSION_TYPE", "?");
    if (const char* d = nonempty_env("DISPLAY")) session += std::string(", X ") + d;
    if (const char* w = nonempty_env("WAYLAND_DISPLAY")) session += std::string(", Wayland ") + w;
    session += ", lang " + env_or("LANG", "?");
    out.push_back(session);
    out.push_back("Package: " + package_line());
    std::ifstream cards(root + "/proc/asound/cards");
    if (!cards) {
        out.push_back("ALSA cards: not readable");
    } else {
        std::string line;
        size_t before = out.size();
        while (std::getline(cards, line)) {
            std::string t = trim(line);
            if (!t.empty() && t[0] >= '0' && t[0] <= '9') out.push_back("ALSA card " + t);
        }
        if (out.size() == before) out.push_back("ALSA cards: none");
    }
    return out;
}

std::vector<std::string> gpu_lines(const std::string& root) {
    const std::string drm = root + "/sys/class/drm";
    DIR* d = opendir(drm.c_str());
    if (!d) return {"GPUs: /sys/class/drm not readable"};
    std::vector<std::pair<long, std::string>> cards;
    while (dirent* e = readdir(d)) {
        const char* n = e->d_name;
        if (strncmp(n, "card", 4) != 0 || !n[4]) continue;
        char* end = nullptr;
        long num = strtol(n + 4, &end, 10);
        if (*end) continue; // "card0-HDMI-A-1" is a connector
        auto id = [&](const char* file) {
            std::string v = trim(read_text(drm + "/" + n + "/device/" + file, 64));
            return v.rfind("0x", 0) == 0 ? v.substr(2) : v;
        };
        std::string line = "GPU " + std::to_string(num) + ": PCI " + id("vendor") + ":" +
                           id("device") + " (subsystem " + id("subsystem_vendor") + ":" +
                           id("subsystem_device") + ")";
        char target[PATH_MAX];
        const std::string drv = drm + "/" + n + "/device/driver";
        ssize_t len = readlink(drv.c_str(), target, sizeof target - 1);
        if (len > 0) {
            target[len] = 0;
            const char* slash = strrchr(target, '/');
            line += std::string(", driver ") + (slash ? slash + 1 : target);
        }
        if (trim(read_text(drm + "/" + n + "/device/boot_vga", 8)) == "1") line += ", boot_vga";
        cards.emplace_back(num, line);
    }
    closedir(d);
    if (cards.empty()) return {"GPUs: none in /sys/class/drm"};
    std::sort(cards.begin(), cards.end());
    std::vector<std::string> out;
    for (auto& c : cards) out.push_back(std::move(c.second));
    return out;
}

void record_system() {
    copy_bounded(g_package, sizeof g_package, package_line());
    record(System, "System: ", system_lines());
}

void record_graphics(const std::vector<std::string>& lines) {
    std::vector<std::string> all = lines;
    for (auto& l : gpu_lines()) all.push_back(std::move(l));
    record(Graphics, "Graphics: ", all);
}

void record_audio(const std::vector<std::string>& lines) {
    static std::mutex m;
    static std::string last;
    {
        std::lock_guard<std::mutex> lock(m);
        const std::string text = join(lines);
        if (text == last) return;
        last = text;
    }
    record(Audio, "Audio: ", lines);
}

// ---- 5. package line -----------------------------------------------------------------

namespace {

// Runs argv[0] (an absolute path) with the given arguments, no shell involved, and returns
// what it wrote to standard output.
std::string run_capture(const std::vector<std::string>& args) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(pipefd[1]);
    std::string out;
    if (rc == 0) {
        char buf[4096];
        ssize_t r;
        while ((r = read(pipefd[0], buf, sizeof buf)) != 0) {
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) break;
            if (out.size() < 65536) out.append(buf, static_cast<size_t>(r));
        }
        int st;
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
    }
    close(pipefd[0]);
    return out;
}

bool list_holds(const std::string& file, const std::string& path) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line == path) return true;
    return false;
}

std::string dpkg_owner(const std::string& exe, const PackageDb& db) {
    std::string owner;
    auto check = [&](const std::string& list) {
        if (list.size() < 6 || list.compare(list.size() - 5, 5, ".list") != 0) return false;
        if (!list_holds(db.dpkg_info + "/" + list, exe)) return false;
        owner = list.substr(0, list.size() - 5);
        size_t colon = owner.find(':'); // "name:amd64" for a multi-arch package
        if (colon != std::string::npos) owner.resize(colon);
        return true;
    };
    DIR* d = opendir(db.dpkg_info.c_str());
    if (!d) return {};
    std::vector<std::string> lists;
    while (dirent* e = readdir(d)) lists.emplace_back(e->d_name);
    closedir(d);
    // The package is usually named after the program; look there before reading them all.
    const std::string base = exe.substr(exe.rfind('/') + 1);
    bool found = false;
    for (const auto& l : lists)
        if (l.rfind(base, 0) == 0 && (found = check(l))) break;
    if (!found)
        for (const auto& l : lists)
            if ((found = check(l))) break;
    if (!found) return {};
    std::ifstream status(db.dpkg_status);
    std::string line, version;
    bool in_pkg = false;
    while (std::getline(status, line)) {
        if (line.rfind("Package: ", 0) == 0)
            in_pkg = trim(line.substr(9)) == owner;
        else if (in_pkg && line.rfind("Version: ", 0) == 0) {
            version = trim(line.substr(9));
            break;
        }
    }
    return "deb " + owner + (version.empty() ? "" : " " + version);
}

std::string rpm_owner(const std::string& exe, const PackageDb& db) {
    if (access(db.rpm.c_str(), X_OK) != 0) return {};
    std::string out =
        trim(run_capture({db.rpm, "-qf", "--qf", "%{NAME} %{VERSION}-%{RELEASE}", exe}));
    if (out.empty() || out.find("not owned") != std::string::npos) return {};
    return "rpm " + out;
}

std::string pacman_owner(const std::string& exe, const PackageDb& db) {
    DIR* d = opendir(db.pacman_local.c_str());
    if (!d) return {};
    const std::string rel = exe.empty() ? exe : exe.substr(1); // listed without the leading '/'
    std::string result;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string pkg = db.pacman_local + "/" + e->d_name;
        if (!list_holds(pkg + "/files", rel)) continue;
        std::ifstream desc(pkg + "/desc");
        std::string line, name, version, *next = nullptr;
        while (std::getline(desc, line)) {
            if (next) {
                *next = trim(line);
                next = nullptr;
            } else if (line == "%NAME%") {
                next = &name;
            } else if (line == "%VERSION%") {
                next = &version;
            }
        }
        result = "arch " + (name.empty() ? std::string(e->d_name) : name + " " + version);
        break;
    }
    closedir(d);
    return result;
}

} // namespace

std::string describe_package(const std::string& exe, const PackageDb& db) {
    if (nonempty_env("SNAP"))
        return "snap " + env_or("SNAP_INSTANCE_NAME", "?") + " " + env_or("SNAP_VERSION", "?") +
               " rev " + env_or("SNAP_REVISION", "?");
    if (const char* id = nonempty_env("FLATPAK_ID")) {
        std::string out = std::string("flatpak ") + id;
        std::ifstream info(db.flatpak_info);
        std::string line;
        while (std::getline(info, line))
            if (line.rfind("branch=", 0) == 0 || line.rfind("app-commit=", 0) == 0)
                out += " " + trim(line);
        return out;
    }
    if (const char* image = nonempty_env("APPIMAGE")) return std::string("appimage ") + image;
    if (!exe.empty()) {
        for (auto* owner : {dpkg_owner, rpm_owner, pacman_owner}) {
            std::string line = owner(exe, db);
            if (!line.empty()) return line;
        }
    }
    return "unpackaged";
}

std::string package_line() {
    static std::once_flag once;
    static std::string line;
    std::call_once(once, [] {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        line = describe_package(n > 0 ? std::string(exe, static_cast<size_t>(n)) : "", PackageDb{});
    });
    return line;
}

// ---- 6. sending ------------------------------------------------------------------------

namespace {

std::vector<char*> argv_of(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Starts a program looked up on PATH with an argument vector, standard input and output
// on /dev/null; the pid, or -1 when it could not be started.
pid_t start(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    auto argv = argv_of(args);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

int wait_status(pid_t pid) {
    int st = 0;
    while (waitpid(pid, &st, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Starts a program that may run for long (a mail client, a file manager) and reaps it
// in the background; true when it started.
bool start_detached(const std::vector<std::string>& args) {
    pid_t pid = start(args);
    if (pid < 0) return false;
    std::thread([pid] { wait_status(pid); }).detach();
    return true;
}

void open_uri(const std::string& uri) {
    if (g_app.open_uri)
        g_app.open_uri(uri);
    else
        start_detached({"xdg-open", uri});
}

std::string find_on_path(const std::string& program) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        const std::string full = dir + "/" + program;
        struct stat st;
        if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(full.c_str(), X_OK) == 0)
            return full;
    }
    return {};
}

std::string base_name(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

} // namespace

std::string sent_name(const std::string& path) {
    const std::string ext = ".txt";
    if (path.size() >= ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0)
        return path.substr(0, path.size() - ext.size()) + "-sent.txt";
    return path + "-sent";
}

std::string url_encode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

Mail prepare_mail(const std::string& log_path) {
    Mail mail;
    const std::string report = read_text(g_report_path, kReportMax);
    std::string crash_log_text;
    bool have_crash_log = false;
    for (const std::string& path : {std::string(g_report_path), crash_log_path()}) {
        if (!exists(path)) continue;
        const std::string sent = sent_name(path);
        if (rename(path.c_str(), sent.c_str()) != 0) continue;
        mail.attachments.push_back(sent);
    }
    if (!log_path.empty() && exists(log_path)) mail.attachments.push_back(log_path);
    for (const auto& a : mail.attachments) {
        if (base_name(a).find("crash_log") == std::string::npos) continue;
        crash_log_text = read_text(a, kCrashLogMax);
        have_crash_log = true;
        break;
    }
    mail.to = g_app.contact;
    mail.subject = g_app.name + " " + g_app.version + " (Build " + g_app.build + ") crash report";
    mail.body = "Attached: crash report and log files. The same follows as text.\n\n" + report;
    if (have_crash_log)
        mail.body += "\n=== crash_log.txt (log of the crashed run) ===\n" + crash_log_text;
    return mail;
}

std::string shorten_body(const std::string& body, size_t limit) {
    if (body.size() <= limit) return body;
    const std::string mark = "\n[...]";
    size_t cut = limit - mark.size();
    // Never split a UTF-8 sequence: step back to the start of a character.
    while (cut > 0 && (static_cast<unsigned char>(body[cut]) & 0xC0) == 0x80) --cut;
    std::string out = body.substr(0, cut);
    out += (cut > 0 && body[cut - 1] == '\n') ? mark.substr(1) : mark;
    return out;
}

std::string mailto_uri(const Mail& mail) {
    return "mailto:" + mail.to + "?subject=" + url_encode(mail.subject) +
           "&body=" + url_encode(shorten_body(mail.body));
}

bool mail_thunderbird(const Mail& mail, std::string* note) {
    const std::string exe = find_on_path("thunderbird");
    if (exe.empty()) return false;
    std::vector<std::string> files = mail.attachments;
    std::string folder = dir_of(files.empty() ? std::string(g_report_path) : files.front());
    if (exe.rfind("/snap/", 0) == 0) {
        // A snap cannot read the files where they are; the Downloads folder it can.
        const char* home = getenv("HOME");
        folder = std::string(home ? home : "") + "/Downloads";
        mkdir(folder.c_str(), 0700);
        for (auto& f : files) {
            const std::string copy = folder + "/" + base_name(f);
            unlink(copy.c_str());
            if (copy_file(f, copy)) f = copy;
        }
        if (note) *note = " (files copied to " + folder + ")";
    }
    const std::string body_file = folder + "/mail-body.txt";
    FILE* bf = fopen(body_file.c_str(), "wb");
    if (!bf) return false;
    const bool written = fwrite(mail.body.data(), 1, mail.body.size(), bf) == mail.body.size();
    if (fclose(bf) != 0 || !written) return false;
    std::string arg =
        "to='" + mail.to + "',subject='" + mail.subject + "',message='" + body_file + "'";
    if (!files.empty()) {
        arg += ",attachment='";
        for (size_t i = 0; i < files.size(); ++i) arg += (i ? "," : "") + files[i];
        arg += "'";
    }
    return start_detached({exe, "-compose", arg});
}

namespace {

struct PortalWait {
    bool done = false;
    guint32 code = 2;
};

void on_portal_response(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                        GVariant* params, gpointer data) {
    auto* wait = static_cast<PortalWait*>(data);
    if (g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})")))
        g_variant_get(params, "(u@a{sv})", &wait->code, nullptr);
    wait->done = true;
}

gboolean wake(gpointer) {
    return G_SOURCE_CONTINUE;
}

} // namespace

bool mail_portal(const Mail& mail, int timeout_ms) {
    static const char* const kBus = "org.freedesktop.portal.Desktop";
    static const char* const kPath = "/org/freedesktop/portal/desktop";
    GMainContext* ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    bool ok = false;
    GError* err = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    GDBusConnection* bus =
        address
            ? g_dbus_connection_new_for_address_sync(
                  address,
                  static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                  nullptr, nullptr, &err)
            : nullptr;
    g_free(address);
    g_clear_error(&err);
    GVariant* reply = nullptr;
    guint32 version = 0;
    if (bus)
        reply = g_dbus_connection_call_sync(
            bus, kBus, kPath, "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", "org.freedesktop.portal.Email", "version"), G_VARIANT_TYPE("(v)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (reply) {
        GVariant* v = nullptr;
        g_variant_get(reply, "(v)", &v);
        if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) version = g_variant_get_uint32(v);
        g_variant_unref(v);
        g_variant_unref(reply);

        std::string sender = g_dbus_connection_get_unique_name(bus);
        if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
        for (char& c : sender)
            if (c == '.') c = '_';
        static std::atomic<unsigned> counter{0};
        const std::string token =
            "velmora" + std::to_string(getpid()) + "_" + std::to_string(++counter);
        const std::string request = std::string(kPath) + "/request/" + sender + "/" + token;
        PortalWait wait;
        guint sub = g_dbus_connection_signal_subscribe(
            bus, kBus, "org.freedesktop.portal.Request", "Response", request.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, on_portal_response, &wait, nullptr);

        GUnixFDList* fds = g_unix_fd_list_new();
        GVariantBuilder handles;
        g_variant_builder_init(&handles, G_VARIANT_TYPE("ah"));
        for (const auto& a : mail.attachments) {
            int fd = open(a.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            gint index = g_unix_fd_list_append(fds, fd, nullptr);
            close(fd);
            if (index >= 0) g_variant_builder_add(&handles, "h", index);
        }
        const char* to[] = {mail.to.c_str(), nullptr};
        GVariantBuilder opts;
        g_variant_builder_init(&opts, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&opts, "{sv}", "addresses", g_variant_new_strv(to, -1));
        g_variant_builder_add(&opts, "{sv}", "subject", g_variant_new_string(mail.subject.c_str()));
        g_variant_builder_add(&opts, "{sv}", "body", g_variant_new_string(mail.body.c_str()));
        g_variant_builder_add(&opts, "{sv}", "attachment_fds", g_variant_builder_end(&handles));
        g_variant_builder_add(&opts, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        GVariant* handle = g_dbus_connection_call_with_unix_fd_list_sync(
            bus, kBus, kPath, "org.freedesktop.portal.Email", "ComposeEmail",
            g_variant_new("(sa{sv})", "", &opts), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
            timeout_ms, fds, nullptr, nullptr, nullptr);
        g_object_unref(fds);
        if (handle) {
            g_variant_unref(handle);
            GSource* tick = g_timeout_source_new(100);
            g_source_set_callback(tick, wake, nullptr, nullptr);
            g_source_attach(tick, ctx);
            const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
            while (!wait.done && g_get_monotonic_time() < deadline)
                g_main_context_iteration(ctx, TRUE);
            g_source_destroy(tick);
            g_source_unref(tick);
            log_line("INFO", "Mail portal v" + std::to_string(version) + ": response " +
                                 (wait.done ? std::to_string(wait.code) : std::string("none")));
            ok = wait.done && wait.code == 0;
        }
        g_dbus_connection_signal_unsubscribe(bus, sub);
    }
    if (bus) {
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
    }
    // Deliver whatever the closing queued, so nothing refers to the context afterwards.
    while (g_main_context_iteration(ctx, FALSE)) {
    }
    g_main_context_pop_thread_default(ctx);
    g_main_context_unref(ctx);
    return ok;
}

bool mail_xdg_email(const Mail& mail) {
    if (nonempty_env("SNAP") || nonempty_env("FLATPAK_ID")) return false;
    // The kernel refuses a single argument over 128 KiB; the files carry everything anyway.
    std::vector<std::string> args = {"xdg-email",  "--utf8", "--subject",
                                     mail.subject, "--body", shorten_body(mail.body, 100000)};
    for (const auto& a : mail.attachments) {
        args.push_back("--attach");
        args.push_back(a);
    }
    args.push_back(mail.to);
    pid_t pid = start(args);
    if (pid < 0) return false;
    const int code = wait_status(pid);
    log_line("INFO", "xdg-email: exit " + std::to_string(code));
    return code == 0;
}

Route compose(const Mail& mail, int portal_timeout_ms) {
    std::string note;
    Route route = Route::Mailto;
    if (mail_thunderbird(mail, &note))
        route = Route::Thunderbird;
    else if (mail_portal(mail, portal_timeout_ms))
        route = Route::Portal;
    else if (mail_xdg_email(mail))
        route = Route::XdgEmail;
    if (route != Route::Mailto) {
        log_line("INFO", "Crash report: mail composed with " +
                             std::to_string(mail.attachments.size()) + " attachments" + note);
        return route;
    }
    open_uri(mailto_uri(mail));
    std::string folder = "file://";
    for (char c : dir_of(g_report_path))
        folder += c == '/' ? std::string("/") : url_encode(std::string(1, c));
    open_uri(folder);
    log_line("WARN", "Crash report: no way to attach files - opened mailto and the folder");
    return route;
}

void send(const std::string& log_path) {
    Mail mail = prepare_mail(log_path);
    std::thread([mail = std::move(mail)] { compose(mail); }).detach();
}

} // namespace ruvasto
