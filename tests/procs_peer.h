// A remote machine for the socket tracker's tests: a forked process in its own network
// namespace, joined to the test's private namespace by a veth pair. Traffic to it is not
// loopback, because its address is not one of the test namespace's own.
#pragma once

#include "support/support.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "net_procs.h"
#include "net_stats.h"

namespace peer {

constexpr const char* kLocal = "10.77.0.1"; // this namespace's end of the veth pair
constexpr const char* kRemote = "10.77.0.2";
constexpr int kPort = 5000;
// Each round the client sends kUp bytes and the peer answers with kDown bytes.
constexpr size_t kUp = 100000;
constexpr size_t kDown = 250000;
// The kernel counts the acknowledged SYN of a connection as one byte sent.
constexpr size_t kSyn = 1;

inline bool read_all(int fd, char* buf, size_t n) {
    while (n > 0) {
        ssize_t r = read(fd, buf, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        buf += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

inline bool write_all(int fd, const char* buf, size_t n) {
    while (n > 0) {
        ssize_t r = write(fd, buf, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        buf += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

[[noreturn]] inline void serve(int listener) {
    static char buf[kDown];
    for (;;) {
        int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        if (fork() == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            while (read_all(c, buf, kUp) && write_all(c, buf, kDown)) {
            }
            _exit(0);
        }
        close(c);
    }
}

// The peer process; killed with everything it forked on destruction.
class Remote {
public:
    Remote() = default;
    Remote(const Remote&) = delete;
    Remote& operator=(const Remote&) = delete;
    ~Remote() {
        if (m_pid > 0) {
            kill(-m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // Call in the test's private namespace. Empty on success, else what failed.
    std::string start() {
        int ready[2];
        if (pipe(ready) != 0) return "pipe failed";
        m_pid = fork();
        if (m_pid == 0) {
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (unshare(CLONE_NEWNET) != 0) _exit(1);
            int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(kPort);
            if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 512) != 0)
                _exit(1);
            if (write(ready[1], "x", 1) != 1) _exit(1);
            serve(l);
        }
        close(ready[1]);
        char c;
        const bool ok = read(ready[0], &c, 1) == 1;
        close(ready[0]);
        if (!ok) return "the peer process did not start";
        const std::string in_peer = "nsenter -t " + std::to_string(m_pid) + " -n ";
        if (!testsupport::sh("ip link add vm0 type veth peer name vm1 netns " +
                             std::to_string(m_pid)) ||
            !testsupport::sh("ip addr add " + std::string(kLocal) + "/24 dev vm0") ||
            !testsupport::sh("ip link set vm0 up") ||
            !testsupport::sh(in_peer + "ip addr add " + kRemote + "/24 dev vm1") ||
            !testsupport::sh(in_peer + "ip link set vm1 up") ||
            !testsupport::sh(in_peer + "ip link set lo up"))
            return "setting up the veth pair failed (ip, nsenter)";
        return {};
    }

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

inline int tcp_connect(const char* ip, int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip, &a.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline int local_port(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

inline int tcp_listener(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 16);
    *port = local_port(fd);
    return fd;
}

// A UDP socket bound to any port, or connected to `connect_to`:`port`.
inline int udp_socket(const char* connect_to = nullptr, int port = 0) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (connect_to) {
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, connect_to, &a.sin_addr);
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    return fd;
}

inline uint32_t inode_of(int fd) {
    struct stat st {};
    fstat(fd, &st);
    return static_cast<uint32_t>(st.st_ino);
}

// `n` bytes written to `from` and read back from `to`.
inline bool send_over(int from, int to, size_t n) {
    std::string buf(n, 'x');
    return write_all(from, buf.data(), n) && read_all(to, buf.data(), n);
}

inline int connect_remote() {
    return tcp_connect(kRemote, kPort);
}

// `rounds` exchanges with the peer: kUp bytes out, kDown bytes back, each.
inline bool exchange(int fd, int rounds = 1) {
    static char buf[kDown];
    for (int i = 0; i < rounds; ++i)
        if (!write_all(fd, buf, kUp) || !read_all(fd, buf, kDown)) return false;
    return true;
}

// Replaces the resolver's files in this private mount namespace: the peer has a name in the
// hosts file, and `resolv` names the name server.
inline bool use_resolver_files(const testsupport::TempDir& dir, const std::string& resolv) {
    const std::pair<const char*, std::string> files[] = {
        {"hosts", "127.0.0.1 localhost\n10.77.0.2 peer.velmora.test\n"},
        {"resolv.conf", resolv},
        {"nsswitch.conf", "hosts: files dns\n"},
    };
    for (const auto& [name, text] : files) {
        const std::string src = dir.write(name, text);
        const std::string dst = std::string("/etc/") + name;
        // An earlier test of this process may have covered the file with one since deleted.
        if (mount(src.c_str(), dst.c_str(), nullptr, MS_BIND, nullptr) != 0 &&
            (umount2(dst.c_str(), MNT_DETACH) != 0 ||
             mount(src.c_str(), dst.c_str(), nullptr, MS_BIND, nullptr) != 0))
            return false;
    }
    return true;
}

// A process row in one line: pid, name, user (uid), socket counts, totals, exited.
inline std::string describe(const procs::Proc& p) {
    auto n = [](auto v) { return std::to_string(v); };
    return n(p.pid) + " " + p.name + " " + p.user + "(" + n(p.uid) + ") tcp=" + n(p.tcp) +
           " udp=" + n(p.udp) + " listen=" + n(p.listen) + " rx=" + n(p.rx_total) +
           " tx=" + n(p.tx_total) + (p.exited ? " exited" : "");
}

// Names only from the hosts file: every other lookup waits a second for a name server that
// never answers, because the peer drops whatever is routed through it.
inline bool use_silent_name_server(const testsupport::TempDir& dir) {
    return use_resolver_files(dir, "nameserver 10.88.0.1\noptions timeout:1 attempts:1\n") &&
           testsupport::sh("ip route add 10.88.0.0/16 via 10.77.0.2");
}

// Sleeps until a tracker's throttle lets the next sample through.
template <class T> void wait_due(const T& tracker) {
    const double left = tracker.next_due() - net::monotonic_seconds();
    if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double>(left + 0.002));
}

} // namespace peer
