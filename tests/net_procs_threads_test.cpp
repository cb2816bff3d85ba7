// The tracker shared between the sampling thread, the UI thread and its own resolver thread.
// These also run under ThreadSanitizer.
#include "net_procs.h"
#include "procs_peer.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <future>
#include <memory>
#include <sys/stat.h>

namespace {

class TrackerThreads : public ::testing::Test {
protected:
    void SetUp() override {
        ENTER_PRIVATE_NETNS_OR_SKIP();
        ASSERT_EQ(m_remote.start(), "");
    }
    peer::Remote m_remote;
    testsupport::TempDir m_etc;
};

TEST_F(TrackerThreads, SampleWhileTheUiReadsResetsAndToggles) {
    ASSERT_TRUE(
        peer::use_resolver_files(m_etc, "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"));
    const int far = peer::connect_remote();
    ASSERT_GE(far, 0);
    std::vector<int> udp;
    for (int i = 10; i < 40; ++i)
        udp.push_back(peer::udp_socket(("10.77.0." + std::to_string(i)).c_str(), 53));

    procs::Tracker tr;
    std::atomic<bool> stop{false};
    std::atomic<int> real_samples{0};
    std::thread sampler([&] {
        double last = -1;
        while (!stop) {
            tr.sample();
            // Only this thread samples, so reading the tracker's own figures here is allowed.
            if (tr.next_due() != last) {
                last = tr.next_due();
                ++real_samples;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::thread traffic([&] {
        while (!stop && peer::exchange(far)) {
        }
    });

    // At least 1.5 s and three real samples; a loaded machine samples less often, since the
    // tracker waits 20 times the cost of a sample.
    const double t0 = net::monotonic_seconds();
    auto busy = [&] {
        const double age = net::monotonic_seconds() - t0;
        return age < 60 && (age < 1.5 || real_samples < 3);
    };
    double last_t = 0;
    for (int i = 0; busy(); ++i) {
        const procs::Snapshot s = tr.snapshot();
        EXPECT_GE(s.t, last_t);
        last_t = s.t;
        for (size_t k = 1; k < s.conns.size(); ++k)
            ASSERT_LT(s.conns[k - 1].cookie, s.conns[k].cookie);
        for (const auto& p : s.procs) ASSERT_GE(p.rx_rate, 0.0);
        const std::string name = tr.host_name(peer::kRemote);
        EXPECT_TRUE(name.empty() || name == "peer.velmora.test") << name;
        tr.set_resolve(i % 3 != 0);
        if (i % 7 == 0) tr.reset_totals();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    tr.set_resolve(true);
    stop = true;
    traffic.join();
    sampler.join();
    EXPECT_GE(real_samples.load(), 3);

    // Whatever the toggling dropped is queued again by the next samples.
    for (int i = 0; i < 300 && tr.host_name(peer::kRemote) != "peer.velmora.test"; ++i) {
        peer::wait_due(tr);
        tr.sample();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(tr.host_name(peer::kRemote), "peer.velmora.test");
    close(far);
    for (int fd : udp) close(fd);
}

TEST_F(TrackerThreads, DestructionWithLookupsPendingJoinsPromptly) {
    ASSERT_TRUE(peer::use_silent_name_server(m_etc));
    // Connections that stay in SYN_SENT give 100 distinct remote addresses to look up.
    std::vector<int> fds;
    for (int i = 1; i <= 100; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(80);
        inet_pton(AF_INET, ("10.88.1." + std::to_string(i)).c_str(), &a.sin_addr);
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fds.push_back(fd);
    }
    auto tr = std::make_unique<procs::Tracker>();
    tr->sample();
    ASSERT_EQ(tr->snapshot().conns.size(), 100u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int pending = 0;
    for (int i = 1; i <= 100; ++i) pending += tr->host_name("10.88.1." + std::to_string(i)).empty();
    EXPECT_GE(pending, 98);

    const double t0 = net::monotonic_seconds();
    tr.reset();
    EXPECT_LT(net::monotonic_seconds() - t0, 3.0);
    for (int fd : fds) close(fd);
}

// A process whose command line cannot be read (in D state the read blocks; a FIFO without
// a writer stands in for it here) holds up the sampling thread only: snapshot() answers.
TEST_F(TrackerThreads, StuckProcessFileDoesNotBlockSnapshot) {
    testsupport::TempDir tree;
    ASSERT_TRUE(testsupport::sh("cp -r '" + testsupport::fixture("procs/tree") + "/proc' '" +
                                tree.path() + "/'"));
    const std::string fifo = tree.path() + "/proc/1200/cmdline";
    ASSERT_EQ(unlink(fifo.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    struct stat st {};
    fstat(sock, &st);
    tree.link("proc/1200/fd/3", "socket:[" + std::to_string(st.st_ino) + "]");

    procs::Tracker tr(tree.path());
    tr.set_resolve(false);
    std::thread sampler([&] { tr.sample(); });
    // A writer can open the FIFO once the sample is reading it.
    int writer = -1;
    for (int i = 0; i < 2000 && writer < 0; ++i) {
        writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(writer, 0) << "the sample never read the command line";
    auto ui = std::async(std::launch::async, [&] { return tr.snapshot(); });
    EXPECT_EQ(ui.wait_for(std::chrono::seconds(2)), std::future_status::ready)
        << "snapshot() waited for the stuck read";
    if (writer >= 0) {
        EXPECT_EQ(write(writer, "stuck\0--daemon\0", 15), 15);
        close(writer);
    }
    sampler.join();
    ui.wait();
    bool found = false;
    for (const auto& p : tr.snapshot().procs)
        if (p.pid == 1200) found = p.cmdline == "stuck --daemon";
    EXPECT_TRUE(found);
    close(sock);
}

} // namespace
