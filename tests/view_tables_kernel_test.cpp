// The three table pages from real sockets: a child with a distinctive name talks to a peer
// behind a veth pair in a private network namespace, and every page shows it.
#include "l10n.h"
#include "procs_peer.h"
#include "support/ui.h"

#include <gtest/gtest.h>
#include <poll.h>

namespace {

constexpr const char* kName = "velmpeerclient";

// A child named kName that exchanges with the peer until told to stop ('s' on its pipe),
// then holds its idle connection until killed.
pid_t start_client(int* control, int* port) {
    int ctl[2], ready[2];
    if (pipe(ctl) != 0 || pipe(ready) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        prctl(PR_SET_NAME, kName);
        const int fd = peer::connect_remote();
        if (fd < 0) _exit(1);
        const int p = peer::local_port(fd);
        if (write(ready[1], &p, sizeof p) != sizeof p) _exit(1);
        pollfd pf{ctl[0], POLLIN, 0};
        while (poll(&pf, 1, 20) == 0)
            if (!peer::exchange(fd)) _exit(1);
        pause();
        _exit(0);
    }
    close(ctl[0]);
    close(ready[1]);
    const bool ok = read(ready[0], port, sizeof *port) == sizeof *port;
    close(ready[0]);
    *control = ctl[1];
    return ok ? child : -1;
}

void sample(testsupport::Ui& ui) {
    peer::wait_due(ui.app.m_tracker);
    ui.app.m_tracker.sample();
    ui.app.m_ps = ui.app.m_tracker.snapshot();
}

const Row* row_where(const Table& t, size_t col, const std::string& prefix) {
    for (const auto& r : t.rows)
        if (col < r.cells.size() && r.cells[col].rfind(prefix, 0) == 0) return &r;
    return nullptr;
}

TEST(TablesKernel, ChildConnectionOnEveryPage) {
    ENTER_PRIVATE_NETNS_OR_SKIP();
    peer::Remote remote;
    ASSERT_EQ(remote.start(), "");
    int control = -1, port = 0;
    const pid_t child = start_client(&control, &port);
    ASSERT_GT(child, 0);

    testsupport::Ui ui;
    ui.app.m_settings.resolve_names = false;
    ui.app.m_tracker.set_resolve(false);
    sample(ui);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sample(ui);

    const std::string pid = std::to_string(child);
    ui.app.fill_table(2);
    const Row* prog = row_where(ui.app.m_proc, 0, kName);
    ASSERT_TRUE(prog) << "no program row";
    EXPECT_EQ(prog->cells[1], pid);
    EXPECT_GT(prog->keys[3], 0) << "receive rate";

    ui.app.fill_table(1);
    const Row* c = row_where(ui.app.m_conn, 0, std::string(kName) + "  " + pid);
    ASSERT_TRUE(c) << "no connection row";
    EXPECT_EQ(c->cells[2], std::string(peer::kLocal) + ":" + std::to_string(port));
    EXPECT_EQ(c->cells[4], std::string(peer::kRemote) + ":" + std::to_string(peer::kPort));
    EXPECT_FALSE(c->dim);

    ui.app.fill_table(3);
    const Row* d = row_where(ui.app.m_dest, 1, peer::kRemote);
    ASSERT_TRUE(d) << "no destination row";
    EXPECT_EQ(d->cells[2], L10n::tr("geo.lan"));
    EXPECT_NE(d->cells[3].find(kName), std::string::npos);

    // The transfer ends: the connection stays, idle and dim.
    ASSERT_EQ(write(control, "s", 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sample(ui);
    sample(ui);
    ui.app.fill_table(1);
    c = row_where(ui.app.m_conn, 0, std::string(kName) + "  " + pid);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->dim);

    // The program ends: its row, if still listed, is dim.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(control);
    sample(ui);
    ui.app.fill_table(2);
    if (const Row* gone = row_where(ui.app.m_proc, 0, kName)) {
        EXPECT_TRUE(gone->dim);
    }
}

} // namespace
