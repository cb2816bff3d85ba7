// Real traffic end to end: in a private network namespace UDP datagrams leave one end of a
// veth pair and arrive at the other; the App, fed by its own sampler thread, shows the
// receiving card with a rate, a lit LED and a chart of several points.
#include "gpu.h"
#include "support/ui.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(OverviewTraffic, VethCardShowsRealBytes) {
    ENTER_PRIVATE_NETNS_OR_SKIP();
    // A permanent neighbour entry sends the datagrams out of va0 as frames, which vb0
    // receives (and, having no address, drops after counting them).
    ASSERT_TRUE(testsupport::sh(
        "ip link add va0 type veth peer name vb0 && ip link set va0 up && ip link set vb0 up && "
        "ip addr add 10.77.0.1/24 dev va0 && "
        "ip neigh add 10.77.0.2 lladdr $(cat /sys/class/net/vb0/address) dev va0 nud permanent"));

    gpu::force_on(true);
    testsupport::Ui ui(1200, 760);
    ui.app.m_interval = 200;
    ui.app.reset_history();
    ui.app.start_sampler();

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    inet_pton(AF_INET, "10.77.0.2", &to.sin_addr);
    const std::string payload(1000, 'x');
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1600);
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 20; ++i)
            sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ui.app.drain_samples();
    }
    close(fd);
    ui.app.stop_sampler();
    ui.app.drain_samples();
    ui.paint();

    ASSERT_TRUE(ui.app.m_if.count("vb0"));
    const IfState& vb = ui.app.m_if["vb0"];
    EXPECT_GT(vb.rx, 10000);
    EXPECT_GT(ui.app.m_if["va0"].tx, 10000);
    ASSERT_TRUE(ui.find("ov:card:vb0"));
    const Hit card = *ui.find("ov:card:vb0");
    bool lit = false, chart = false;
    for (const auto& l : gpu::records().leds)
        lit |= card.contains(l.x, l.y) && l.activity > 0 && l.color.r == ui.app.m_pal.down.r;
    for (const auto& c : gpu::records().charts) chart |= card.contains(c.x, c.y) && c.n > 1;
    EXPECT_TRUE(lit);
    EXPECT_TRUE(chart);
    gpu::force_on(false);
}

} // namespace
