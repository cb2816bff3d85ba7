#include "support.h"

#include "l10n.h"
#include "net_stats.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& env, int out_fd, int err_fd,
            const std::function<void()>& before_exec) {
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        for (const auto& e : env) putenv(strdup(e.c_str()));
        if (before_exec) before_exec();
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env, const std::function<void()>& before_exec) {
    RunResult r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return r;
    pid_t pid = spawn(program, args, env, out[1], err[1], before_exec);
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_fds = 2;
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string in_child(const std::function<void(Report&)>& body) {
    int fd[2];
    if (pipe(fd) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        Report r;
        body(r);
        dprintf(fd[1], "%s", r.text.c_str());
        _exit(0);
    }
    close(fd[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fd[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "child did not exit normally\n";
    return out;
}

std::string velmora_bin() {
    return VELMORA_BIN;
}

std::string find_program(const std::string& name) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return {};
}

std::string fixture(const std::string& name) {
    return std::string(VELMORA_FIXTURES) + "/" + name;
}

TempDir::TempDir() {
    char tmpl[] = "/tmp/velmora-test-XXXXXX";
    const char* p = mkdtemp(tmpl);
    m_path = p ? p : "/tmp";
}

TempDir::~TempDir() {
    if (m_path.rfind("/tmp/velmora-test-", 0) == 0) {
        std::string cmd = "chmod -R u+rwx '" + m_path + "' 2>/dev/null; rm -rf '" + m_path + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
}

void make_dirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
    }
}

void write_file(const std::string& path, const std::string& content) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string TempDir::write(const std::string& rel, const std::string& content) const {
    std::string p = m_path + "/" + rel;
    write_file(p, content);
    return p;
}

std::string TempDir::link(const std::string& rel, const std::string& target) const {
    std::string p = m_path + "/" + rel;
    size_t slash = p.rfind('/');
    make_dirs(p.substr(0, slash));
    unlink(p.c_str());
    if (symlink(target.c_str(), p.c_str()) != 0) perror("symlink");
    return p;
}

std::string TempDir::mkdir(const std::string& rel) const {
    std::string p = m_path + "/" + rel;
    make_dirs(p);
    return p;
}

std::string enter_private_netns() {
    if (geteuid() != 0) return "needs root for a private network namespace (CI runs as root)";
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
        return std::string("unshare(CLONE_NEWNET|CLONE_NEWNS) failed: ") + strerror(errno);
    // Keep our mounts out of the parent namespace, then show this namespace's devices.
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making / private failed: ") + strerror(errno);
    if (mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
        return std::string("mounting a fresh sysfs failed: ") + strerror(errno);
    if (!sh("ip link set lo up")) return "the ip command (iproute2) is missing";
    return {};
}

bool sh(const std::string& command) {
    int rc = system((command + " >/dev/null 2>&1").c_str());
    return rc == 0;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

bool clean_utf8(const std::string& s, bool line_feeds) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned c = *p;
        const int more = c < 0x80             ? 0
                         : (c & 0xE0) == 0xC0 ? 1
                         : (c & 0xF0) == 0xE0 ? 2
                         : (c & 0xF8) == 0xF0 ? 3
                                              : -1;
        if (more < 0 || end - p <= more || (c < 0x20 && !(c == '\n' && line_feeds)) || c == 0x7F)
            return false;
        uint32_t cp = more == 0 ? c : c & (0x3F >> more);
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((more == 1 && cp < 0x80) || (more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += more + 1;
    }
    return true;
}

std::string le(uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    return out;
}

void use_languages(const char* list) {
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    setenv("LC_ALL", "C", 1);
    setenv("LANGUAGE", list, 1);
    L10n::init("");
}

std::string describe(const net::Interface& i) {
    auto add = [](std::string& s, bool when, const std::string& text) {
        if (when) s += " " + text;
    };
    auto join = [](const std::vector<std::string>& v) {
        std::string out;
        for (const auto& x : v) out += (out.empty() ? "" : ",") + x;
        return out;
    };
    std::string s = std::string(net::kind_key(i.kind)).substr(5);
    if (!i.detail.empty()) s += "/" + i.detail;
    add(s, !i.bus.empty() || !i.driver.empty(), i.bus + ":" + i.driver);
    add(s, !i.master.empty(), "in " + i.master + "(" + i.master_kind + ")" + i.slave_state);
    add(s, !i.members.empty(), "of " + join(i.members));
    add(s, !i.bond_mode.empty(), "bond " + i.bond_mode + "/" + i.bond_active + "/" + i.bond_mii);
    add(s, i.vlan_id != -1 || !i.vlan_parent.empty(),
        "vlan " + std::to_string(i.vlan_id) + "@" + i.vlan_parent);
    add(s, i.admin_up, "up");
    add(s, i.carrier, "carrier");
    add(s, !i.operstate.empty(), "state=" + i.operstate);
    add(s, i.speed_mbps != -1 || !i.duplex.empty(), std::to_string(i.speed_mbps) + i.duplex);
    add(s, i.mtu != 0, "mtu=" + std::to_string(i.mtu));
    add(s, !i.mac.empty(), i.mac);
    add(s, i.default_route, "default" + (i.gateway.empty() ? "" : " via " + i.gateway));
    add(s, i.counts_in_total, "counted");
    return s;
}

bool use_tz(const char* tz, long january_offset) {
    setenv("TZ", tz, 1);
    tzset();
    const time_t instant = 1705320000; // 2024-01-15 12:00:00 UTC
    tm local{};
    if (!localtime_r(&instant, &local)) return false;
    const long offset = local.tm_gmtoff;
    if (offset != january_offset)
        fprintf(stderr, "TZ=%s gives %+ld s, not %+ld s: the zone did not take effect\n", tz,
                offset, january_offset);
    return offset == january_offset;
}

void keep_clear_of_midnight(int margin) {
    for (;;) {
        const time_t now = time(nullptr);
        tm local{};
        localtime_r(&now, &local);
        const int left = 86400 - (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
        if (left > margin) return;
        sleep(static_cast<unsigned>(left + 1));
    }
}

} // namespace testsupport
