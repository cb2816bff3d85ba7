// The socket tracker against the real kernel: sockets made by the test in a private network
// namespace, a remote peer behind a veth pair, forked children, another user, a process
// that may not use netlink, and /proc fixture trees that own real sockets.
#include "net_procs.h"
#include "procs_peer.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <optional>

using namespace std::string_literals;

namespace {

using testsupport::TempDir;

std::optional<procs::Conn> conn_at(const procs::Snapshot& s, int proto, int local_port,
                                   int remote_port = -1) {
    for (const auto& c : s.conns)
        if (c.proto == proto && c.local_port == local_port &&
            (remote_port < 0 || c.remote_port == remote_port))
            return c;
    return std::nullopt;
}

std::optional<procs::Proc> row_of(const procs::Snapshot& s, int pid) {
    for (const auto& p : s.procs)
        if (p.pid == pid) return p;
    return std::nullopt;
}

// The owner of the UDP socket `fd`, -2 when the socket is not in the snapshot.
int owner_of(const procs::Snapshot& s, int fd) {
    const auto c = conn_at(s, 17, peer::local_port(fd));
    return c ? c->pid : -2;
}

std::string user_of(uid_t uid) {
    return procs::user_name(uid) + "(" + std::to_string(uid) + ")";
}

// The next sample, once the tracker lets it through.
procs::Snapshot next(procs::Tracker& tr) {
    peer::wait_due(tr);
    tr.sample();
    return tr.snapshot();
}

// A child that runs `body` (opening sockets), reports ready and waits to be killed.
pid_t fork_holding(const std::function<void()>& body) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        body();
        if (write(ready[1], "r", 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char c;
    const bool ok = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    close(ready[1]);
    return ok ? child : -1;
}

void end_child(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

class TrackerKernel : public ::testing::Test {
protected:
    void SetUp() override {
        ENTER_PRIVATE_NETNS_OR_SKIP();
        ASSERT_EQ(m_remote.start(), "");
    }
    peer::Remote m_remote;
};

using peer::describe, peer::inode_of, peer::tcp_listener, peer::udp_socket;

TEST_F(TrackerKernel, RatesTotalsAndCounts) {
    const int far = peer::connect_remote();
    ASSERT_GE(far, 0);
    int port = 0;
    const int lst = tcp_listener(&port);
    const int c_lo = peer::tcp_connect("127.0.0.1", port);
    const int a_lo = accept4(lst, nullptr, nullptr, SOCK_CLOEXEC);
    // Traffic to one of the machine's own addresses never leaves it either.
    const int c_own = peer::tcp_connect(peer::kLocal, port);
    const int a_own = accept4(lst, nullptr, nullptr, SOCK_CLOEXEC);
    const int u_open = udp_socket();
    const int u_conn = udp_socket(peer::kRemote, 9);

    procs::Tracker tr;
    tr.set_resolve(false);
    tr.sample();
    const procs::Snapshot s1 = tr.snapshot();
    ASSERT_TRUE(s1.diag_ok);
    EXPECT_EQ(s1.conns.size(), 8u);
    EXPECT_EQ(s1.unmapped, 0);
    for (const auto& c : s1.conns) {
        EXPECT_EQ(c.first_seen, s1.t);
        EXPECT_EQ(c.rx_rate + c.tx_rate, 0.0);
        EXPECT_EQ(c.pid, getpid());
    }
    // Called again at once, the tracker leaves its snapshot alone.
    tr.sample();
    EXPECT_EQ(tr.snapshot().t, s1.t);

    ASSERT_TRUE(peer::exchange(far));
    ASSERT_TRUE(peer::send_over(c_lo, a_lo, 70000));
    ASSERT_TRUE(peer::send_over(a_own, c_own, 30000));
    const procs::Snapshot s2 = next(tr);
    const double dt = s2.t - s1.t;
    ASSERT_GT(dt, 0);

    const auto f = conn_at(s2, 6, peer::local_port(far));
    ASSERT_TRUE(f); // its addresses and byte counts: ListPrintsTheSocketSection
    EXPECT_EQ(f->state, 1);
    EXPECT_FALSE(f->loopback);
    EXPECT_TRUE(f->has_bytes);
    EXPECT_NEAR(f->rx_rate, peer::kDown / dt, 1e-6);
    EXPECT_NEAR(f->tx_rate, peer::kUp / dt, 1e-6);
    EXPECT_GT(f->rtt_us, 0u);
    EXPECT_GT(f->cwnd, 0u);
    EXPECT_EQ(f->first_seen, s1.t);

    const auto lo = conn_at(s2, 6, peer::local_port(c_lo));
    ASSERT_TRUE(lo);
    EXPECT_TRUE(lo->loopback);
    EXPECT_EQ(lo->tx_bytes, 70000u + peer::kSyn);
    const auto own = conn_at(s2, 6, port, peer::local_port(c_own));
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->loopback);
    EXPECT_EQ(own->remote_ip, peer::kLocal);
    EXPECT_EQ(own->tx_bytes, 30000u);
    const auto l = conn_at(s2, 6, port, 0);
    ASSERT_TRUE(l);
    EXPECT_TRUE(l->listening);

    const auto uo = conn_at(s2, 17, peer::local_port(u_open));
    ASSERT_TRUE(uo);
    EXPECT_TRUE(uo->listening);
    EXPECT_EQ(uo->remote_port, 0);
    const auto uc = conn_at(s2, 17, peer::local_port(u_conn));
    ASSERT_TRUE(uc);
    EXPECT_FALSE(uc->listening);
    EXPECT_FALSE(uc->loopback);
    EXPECT_FALSE(uc->has_bytes);
    EXPECT_EQ(uc->remote_port, 9);

    for (size_t i = 1; i < s2.conns.size(); ++i)
        EXPECT_LT(s2.conns[i - 1].cookie, s2.conns[i].cookie);

    // Only the remote connection moves the process's figures.
    ASSERT_EQ(s2.procs.size(), 1u);
    const procs::Proc& me = s2.procs[0];
    EXPECT_EQ(describe(me), std::to_string(getpid()) + " velmora_tests " + user_of(geteuid()) +
                                " tcp=5 udp=1 listen=2 rx=250000 tx=100000");
    EXPECT_NEAR(me.rx_rate, peer::kDown / dt, 1e-6);
    EXPECT_NEAR(me.tx_rate, peer::kUp / dt, 1e-6);
    EXPECT_EQ(me.last_active, s2.t);

    // Quiet interval: rates fall to 0, totals stay; loopback traffic changes nothing.
    ASSERT_TRUE(peer::send_over(c_lo, a_lo, 5000));
    const auto quiet = row_of(next(tr), getpid());
    ASSERT_TRUE(quiet);
    EXPECT_EQ(quiet->rx_rate + quiet->tx_rate, 0.0);
    EXPECT_EQ(quiet->rx_total, peer::kDown);
    EXPECT_EQ(quiet->last_active, s2.t);
    for (int fd : {far, lst, c_lo, a_lo, c_own, a_own, u_open, u_conn}) close(fd);
}

TEST_F(TrackerKernel, ConnectionBornBetweenSamplesCountsAllItsBytes) {
    constexpr int kRounds = 20; // 5 MB down, 2 MB up
    const int old_conn = peer::connect_remote();
    ASSERT_TRUE(peer::exchange(old_conn, kRounds));
    procs::Tracker tr;
    tr.set_resolve(false);
    tr.sample();
    const procs::Snapshot s1 = tr.snapshot();

    const int young = peer::connect_remote();
    ASSERT_TRUE(peer::exchange(young, kRounds));
    // A socket newer than the last descriptor walk finds its owner once 2 seconds passed.
    std::this_thread::sleep_for(
        std::chrono::duration<double>(s1.t + 2.1 - net::monotonic_seconds()));
    const procs::Snapshot s2 = next(tr);
    const double dt = s2.t - s1.t;

    const auto y = conn_at(s2, 6, peer::local_port(young));
    const auto o = conn_at(s2, 6, peer::local_port(old_conn));
    ASSERT_TRUE(y && o);
    EXPECT_EQ(y->first_seen, s2.t);
    EXPECT_NEAR(y->rx_rate, kRounds * peer::kDown / dt, 1e-6);
    EXPECT_EQ(o->first_seen, s1.t);
    EXPECT_EQ(o->rx_rate, 0.0);
    EXPECT_EQ(o->rx_bytes, kRounds * peer::kDown);
    const auto me = row_of(s2, getpid());
    ASSERT_TRUE(me);
    EXPECT_EQ(me->rx_total, kRounds * peer::kDown);
    EXPECT_EQ(me->tx_total, kRounds * peer::kUp + peer::kSyn);
    close(young);
    close(old_conn);
}

TEST_F(TrackerKernel, ForkedChildrenOwnTheirSocketsAndOutliveThemAsExited) {
    const int shared = peer::connect_remote();
    int to_child[2], from_child[2];
    ASSERT_EQ(pipe(to_child), 0);
    ASSERT_EQ(pipe(from_child), 0);
    const pid_t child = fork();
    if (child == 0) {
        // Keeps the inherited `shared` socket open as well.
        const int mine = peer::connect_remote();
        const int port = peer::local_port(mine);
        char c;
        if (write(from_child[1], &port, sizeof port) != sizeof port ||
            read(to_child[0], &c, 1) != 1 || !peer::exchange(mine, 2) ||
            write(from_child[1], &port, sizeof port) != sizeof port ||
            read(to_child[0], &c, 1) != 1)
            _exit(1);
        _exit(0);
    }
    int port = 0;
    ASSERT_EQ(read(from_child[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));

    procs::Tracker tr;
    tr.set_resolve(false);
    tr.sample();
    ASSERT_EQ(write(to_child[1], "g", 1), 1);
    ASSERT_EQ(read(from_child[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    procs::Snapshot s = next(tr);
    const auto theirs = conn_at(s, 6, port);
    ASSERT_TRUE(theirs);
    EXPECT_EQ(theirs->pid, child);
    // A shared socket belongs to the first process in /proc order: the parent's lower pid.
    const auto both = conn_at(s, 6, peer::local_port(shared));
    ASSERT_TRUE(both);
    EXPECT_EQ(both->pid, getpid());
    auto line = [](pid_t pid, const std::string& rest) {
        return std::to_string(pid) + " velmora_tests " + user_of(geteuid()) + " " + rest;
    };
    auto row = row_of(s, child);
    ASSERT_TRUE(row && row_of(s, getpid()));
    EXPECT_EQ(describe(*row), line(child, "tcp=1 udp=0 listen=0 rx=500000 tx=200000"));
    EXPECT_EQ(describe(*row_of(s, getpid())), line(getpid(), "tcp=1 udp=0 listen=0 rx=0 tx=0"));

    ASSERT_EQ(write(to_child[1], "q", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    s = next(tr);
    row = row_of(s, child);
    ASSERT_TRUE(row);
    EXPECT_EQ(describe(*row), line(child, "tcp=0 udp=0 listen=0 rx=500000 tx=200000 exited"));
    // The parent's row has no totals but still sockets, so it stays and is not exited.
    ASSERT_TRUE(row_of(s, getpid()));
    EXPECT_FALSE(row_of(s, getpid())->exited);

    tr.reset_totals();
    EXPECT_EQ(row_of(tr.snapshot(), child)->rx_total, 2 * peer::kDown); // until the next sample
    EXPECT_FALSE(row_of(next(tr), child));
    close(shared);
}

TEST_F(TrackerKernel, HostNamesFromTheBackgroundResolver) {
    TempDir etc;
    ASSERT_TRUE(peer::use_silent_name_server(etc));
    const int far = peer::connect_remote();
    const char* const nameless[] = {"10.88.1.1", "10.88.1.2", "10.88.1.3"};
    std::vector<int> fds = {far};
    for (const char* ip : nameless) fds.push_back(udp_socket(ip, 53));
    int port = 0;
    fds.push_back(tcp_listener(&port));
    fds.push_back(peer::tcp_connect("127.0.0.1", port));

    procs::Tracker tr;
    EXPECT_EQ(tr.host_name(peer::kRemote), "");
    tr.sample();
    // Switching lookups off and on drops what was still queued; the next sample queues it
    // again rather than leaving it marked as pending for ever.
    tr.set_resolve(false);
    tr.set_resolve(true);
    next(tr);
    auto all_known = [&] {
        for (const char* ip : nameless)
            if (tr.host_name(ip).empty()) return false;
        return !tr.host_name(peer::kRemote).empty();
    };
    for (int i = 0; i < 1500 && !all_known(); ++i) usleep(10000);
    EXPECT_EQ(tr.host_name(peer::kRemote), "peer.velmora.test");
    for (const char* ip : nameless) EXPECT_EQ(tr.host_name(ip), "-") << ip;
    EXPECT_EQ(tr.host_name("10.77.0.200"), "");
    // Loopback and listening sockets are never looked up.
    EXPECT_EQ(tr.host_name("127.0.0.1"), "");
    EXPECT_EQ(tr.host_name("0.0.0.0"), "");

    // Switched off, new addresses are not queued.
    tr.set_resolve(false);
    fds.push_back(udp_socket("10.77.0.10", 53));
    next(tr);
    usleep(300000);
    EXPECT_EQ(tr.host_name("10.77.0.10"), "");
    for (int fd : fds) close(fd);
}

TEST_F(TrackerKernel, NameCacheAndQueueStayBounded) {
    TempDir etc;
    ASSERT_TRUE(peer::use_silent_name_server(etc));
    // 20001 remote addresses, one more than the cache holds, from two processes so that
    // neither needs more than about 10000 descriptors.
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_max < 10100) GTEST_SKIP() << "needs 10100 descriptors";
    lim.rlim_cur = std::max<rlim_t>(lim.rlim_cur, 10100);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    auto open_range = [](int from, int to) {
        std::vector<int> fds;
        for (int i = from; i < to; ++i) {
            const std::string ip =
                "10.88." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
            fds.push_back(udp_socket(ip.c_str(), 53));
        }
        return fds;
    };
    const pid_t child = fork_holding([&] { open_range(10000, 20001); });
    ASSERT_GT(child, 0);
    std::vector<int> fds = open_range(0, 10000);
    procs::Tracker tr;
    tr.set_resolve(false);
    tr.sample();
    EXPECT_EQ(tr.pending_lookups(), 0u);
    tr.set_resolve(true);
    next(tr);
    // The cache was cleared, and the queue with it: everything is queued again by the next
    // sample, so nothing piles up while lookups are slow.
    EXPECT_EQ(tr.pending_lookups(), 0u);
    EXPECT_EQ(tr.host_name("10.88.1.1"), "");
    close(fds.back());
    fds.pop_back();
    close(fds.back());
    fds.pop_back();
    next(tr);
    EXPECT_GE(tr.pending_lookups(), 19998u);
    end_child(child);
    for (int fd : fds) close(fd);
}

TEST_F(TrackerKernel, ListPrintsTheSocketSection) {
    // A name with an escape sequence must not reach the terminal raw.
    const pid_t child = fork_holding([] {
        prctl(PR_SET_NAME, "ev\x1b[2Jil");
        udp_socket();
    });
    ASSERT_GT(child, 0);
    const int far = peer::connect_remote();
    ASSERT_TRUE(peer::exchange(far));

    const double t0 = net::monotonic_seconds();
    auto r = testsupport::run(testsupport::velmora_bin(), {"--list"});
    EXPECT_GE(net::monotonic_seconds() - t0, 1.0);
    end_child(child);
    EXPECT_EQ(r.exit_code, 0);
    // The pids and the local port vary; everything else is fixed text.
    auto pid7 = [](pid_t pid) { return (std::to_string(pid) + "       ").substr(0, 7); };
    const std::string port = std::to_string(peer::local_port(far));
    ASSERT_EQ(port.size(), 5u) << "an ephemeral port";
    for (const std::string& line :
         {"socket diagnostics: ok, 2 sockets, 0 without readable owner"s,
          "tcp 10.77.0.1:" + port + "        -> 10.77.0.2:5000               pid=" +
              pid7(getpid()) + " rx=250000 tx=100001",
          "proc " + pid7(getpid()) + " velmora_tests            tcp=1 udp=0 listen=0",
          "proc " + pid7(child) + " ev\\x1B[2Jil              tcp=0 udp=0 listen=1"})
        EXPECT_NE(r.out.find("\n" + line + "\n"), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    close(far);
}

// A /proc tree copied from tests/fixtures/procs/tree whose descriptor links point at real
// sockets of the test. The processes in it:
//   1200 truncated name completed from its program path    1300 name with parentheses
//   1400 kernel-thread-like, empty cmdline                  1500 cmdline rewritten with spaces
//   1600 malformed stat line                                1700, 1800 share one socket
class TrackerProcTree : public TrackerKernel {
protected:
    void SetUp() override {
        TrackerKernel::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(testsupport::sh("cp -r '" + testsupport::fixture("procs/tree") + "/proc' '" +
                                    m_tree.path() + "/'"));
    }
    void own(int pid_dir, int fd_no, uint32_t inode) const {
        m_tree.link("proc/" + std::to_string(pid_dir) + "/fd/" + std::to_string(fd_no),
                    "socket:[" + std::to_string(inode) + "]");
    }
    TempDir m_tree;
};

TEST_F(TrackerProcTree, OwnersAndProcessData) {
    std::map<int, int> sock; // pid directory -> socket
    for (int pid : {1200, 1300, 1400, 1500, 1600, 1700}) {
        sock[pid] = udp_socket();
        own(pid, 3, inode_of(sock[pid]));
    }
    own(1800, 7, inode_of(sock[1700]));
    m_tree.link("proc/1200/fd/0", "/dev/null");
    m_tree.link("proc/1200/fd/1", "pipe:[99]");
    // Entries that must not claim a socket: a hidden descriptor name, a non-numeric directory.
    const int hidden = udp_socket(), not_pid = udp_socket();
    own(1300, 0, 0); // "socket:[0]" is no socket
    m_tree.link("proc/1300/fd/.9", "socket:[" + std::to_string(inode_of(hidden)) + "]");
    m_tree.link("proc/net/fd/3", "socket:[" + std::to_string(inode_of(not_pid)) + "]");

    procs::Tracker tr(m_tree.path());
    tr.set_resolve(false);
    tr.sample();
    const procs::Snapshot s = tr.snapshot();
    ASSERT_TRUE(s.diag_ok);
    auto owner = [&](int fd) { return owner_of(s, fd); };
    for (int pid : {1200, 1300, 1400, 1500, 1600}) EXPECT_EQ(owner(sock[pid]), pid);
    EXPECT_EQ(owner(hidden), -1);
    EXPECT_EQ(owner(not_pid), -1);
    EXPECT_EQ(s.unmapped, 2);

    // The first of 1700 and 1800 in directory order keeps their shared socket.
    std::string first;
    for (const auto& e : std::filesystem::directory_iterator(m_tree.path() + "/proc"))
        if (first.empty() && (e.path().filename() == "1700" || e.path().filename() == "1800"))
            first = e.path().filename();
    EXPECT_EQ(std::to_string(owner(sock[1700])), first);

    struct stat st {};
    ASSERT_EQ(stat((m_tree.path() + "/proc/1200").c_str(), &st), 0);
    const std::pair<int, std::pair<const char*, const char*>> expected[] = {
        {1200, {"velmora-sampler-helper", "/opt/velmora/bin/velmora-sampler-helper --fast"}},
        {1300, {"Web (Content)", "/usr/lib/browser/browser -contentproc"}},
        {1400, {"kthreadish", ""}},
        {1500, {"nginx:", "nginx: worker process"}},
        {1600, {"tool", "/usr/bin/tool"}},
    };
    const std::string user = user_of(st.st_uid);
    for (const auto& [pid, texts] : expected) {
        const auto p = row_of(s, pid);
        ASSERT_TRUE(p) << pid;
        EXPECT_EQ(describe(*p), std::to_string(pid) + " " + texts.first + " " + user +
                                    " tcp=0 udp=0 listen=1 rx=0 tx=0");
        EXPECT_EQ(p->cmdline, texts.second) << pid;
    }
    // Process rows by pid, then the user-group row of the unowned sockets.
    ASSERT_EQ(s.procs.size(), 7u);
    for (size_t i = 1; i + 1 < s.procs.size(); ++i) EXPECT_LT(s.procs[i - 1].pid, s.procs[i].pid);
    EXPECT_EQ(describe(s.procs.back()), std::to_string(-1 - int(geteuid())) + " " +
                                            procs::user_name(geteuid()) + " " + user_of(geteuid()) +
                                            " tcp=0 udp=0 listen=2 rx=0 tx=0");
    EXPECT_EQ(s.procs.back().cmdline, "");
}

TEST_F(TrackerProcTree, DescriptorsAreRescannedOnlyWhenNeeded) {
    const int known = udp_socket(), unowned = udp_socket();
    own(1200, 3, inode_of(known));
    procs::Tracker tr(m_tree.path());
    tr.set_resolve(false);
    const double t0 = net::monotonic_seconds();
    tr.sample();
    auto owner = [&](int fd) { return owner_of(tr.snapshot(), fd); };
    EXPECT_EQ(owner(known), 1200);
    EXPECT_EQ(owner(unowned), -1);

    // A socket known to have no owner does not trigger a walk, even after 2 seconds.
    own(1300, 3, inode_of(unowned));
    std::this_thread::sleep_for(std::chrono::duration<double>(t0 + 2.2 - net::monotonic_seconds()));
    tr.sample();
    EXPECT_EQ(owner(unowned), -1);

    // A new unknown socket does, once 2 seconds have passed; the walk finds both.
    const int fresh = udp_socket();
    own(1400, 3, inode_of(fresh));
    next(tr);
    EXPECT_EQ(owner(fresh), 1400);
    EXPECT_EQ(owner(unowned), 1300);

    // Right after a walk, another new socket waits for the next one.
    const int soon = udp_socket();
    own(1500, 3, inode_of(soon));
    next(tr);
    EXPECT_EQ(owner(soon), -1);
    EXPECT_EQ(tr.snapshot().unmapped, 1);
    for (int fd : {known, unowned, fresh, soon}) close(fd);
}

TEST_F(TrackerProcTree, ReusedPidIsNotTheSameProcess) {
    const int far = peer::connect_remote();
    own(1200, 3, inode_of(far));
    procs::Tracker tr(m_tree.path());
    tr.set_resolve(false);
    tr.sample();
    ASSERT_TRUE(peer::exchange(far));
    const auto before = row_of(next(tr), 1200);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->rx_total, peer::kDown);
    close(far);

    auto exited_after_sample = [&] {
        const auto p = row_of(next(tr), 1200);
        return p ? int(p->exited) : -1;
    };
    // Another process now has pid 1200: it started at another time.
    const std::string stat = m_tree.path() + "/proc/1200/stat";
    const std::string original = testsupport::read_file(stat);
    std::string reused = original;
    reused.replace(reused.find(" 5000 "), 6, " 5001 ");
    testsupport::write_file(stat, reused);
    EXPECT_EQ(exited_after_sample(), 1);
    testsupport::write_file(stat, original);
    EXPECT_EQ(exited_after_sample(), 0);
    ASSERT_TRUE(testsupport::sh("rm -r '" + m_tree.path() + "/proc/1200'"));
    EXPECT_EQ(exited_after_sample(), 1);
    EXPECT_EQ(row_of(tr.snapshot(), 1200)->rx_total, peer::kDown);
    tr.reset_totals();
    EXPECT_EQ(exited_after_sample(), -1);
}

TEST(TrackerOtherUser, SocketsOfRootGoToItsUserGroup) {
    ENTER_PRIVATE_NETNS_OR_SKIP();
    int port = 0;
    const int lst = tcp_listener(&port);
    const int c = peer::tcp_connect("127.0.0.1", port);
    const int a = accept4(lst, nullptr, nullptr, SOCK_CLOEXEC);
    const std::string report = testsupport::in_child([&](testsupport::Report& r) {
        // Without inherited copies of root's sockets, which this process could read itself.
        for (int fd : {lst, c, a}) close(fd);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
        procs::Tracker tr;
        tr.set_resolve(false);
        tr.sample();
        const procs::Snapshot s = tr.snapshot();
        int attributed = 0;
        for (const auto& conn : s.conns) attributed += conn.pid != -1;
        std::string got = std::to_string(s.diag_ok) + " " + std::to_string(s.conns.size()) + " " +
                          std::to_string(s.unmapped) + " " + std::to_string(attributed);
        for (const auto& p : s.procs)
            got += " | " + std::to_string(p.pid) + " " + std::to_string(p.uid) + " " + p.name +
                   " " + std::to_string(p.tcp) + " " + std::to_string(p.listen);
        // Three sockets, none readable as this user's: one group row for root's.
        r.eq("diag, sockets, unmapped, attributed | rows", got, "1 3 3 0 | -1 0 root 2 1");
    });
    EXPECT_EQ(report, "");
    for (int fd : {lst, c, a}) close(fd);
}

// Installs a seccomp filter that fails socket(AF_NETLINK, ...) with EPERM.
bool forbid_netlink() {
#if defined(__x86_64__)
    constexpr uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "args[0] low word offset");
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog prog{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

TEST(TrackerNoNetlink, EmptyValidSnapshotAndListFails) {
    const std::string report = testsupport::in_child([&](testsupport::Report& r) {
        if (!forbid_netlink()) return r.check(false, "no seccomp filter");
        r.check(socket(AF_NETLINK, SOCK_DGRAM, 4) < 0 && errno == EPERM, "netlink still allowed");
        const int u = udp_socket(); // other sockets still work
        procs::Tracker tr;
        tr.sample();
        const procs::Snapshot s = tr.snapshot();
        close(u);
        r.check(!s.diag_ok, "diag_ok");
        r.check(s.conns.empty() && s.procs.empty() && s.unmapped == 0, "not empty");
        r.check(s.t > 0, "no time stamp");
    });
    if (report == "no seccomp filter\n") GTEST_SKIP() << "no seccomp filter on this machine";
    EXPECT_EQ(report, "");

    const auto list = testsupport::run(testsupport::velmora_bin(), {"--list"}, {}, [] {
        if (!forbid_netlink()) _exit(10);
    });
    EXPECT_EQ(list.exit_code, 2);
    EXPECT_NE(list.out.find("\nsocket diagnostics: FAILED, 0 sockets, 0 without readable owner\n"),
              std::string::npos)
        << list.out;
}

} // namespace
