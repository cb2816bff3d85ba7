// The interface scan and the counters against the real kernel, in a private network
// namespace with freshly created devices (root only; skipped elsewhere with the reason).
#include "cli.h"
#include "net_stats.h"
#include "support/support.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <map>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

using testsupport::sh;

namespace {

class NetKernel : public ::testing::Test {
protected:
    void SetUp() override {
        ENTER_PRIVATE_NETNS_OR_SKIP();
        // Without IPv6 the kernel sends nothing on its own (no DAD, no router
        // solicitations), so the counters move only by what the test sends.
        sh("sysctl -qw net.ipv6.conf.default.disable_ipv6=1");
        sh("sysctl -qw net.ipv6.conf.all.disable_ipv6=1");
        ASSERT_TRUE(sh("ip link add veth0 type veth peer name veth1"));
        ASSERT_TRUE(sh("ip link add veth2 type veth peer name veth3"));
        ASSERT_TRUE(sh("ip link add br0 type bridge"));
        ASSERT_TRUE(sh("ip link set veth3 master br0"));
        ASSERT_TRUE(sh("ip link add vx0 type vxlan id 42 dstport 4789 dev veth0"));
        ASSERT_TRUE(sh("ip link add mv0 link veth0 type macvlan"));
        ASSERT_TRUE(sh("ip tuntap add tn0 mode tun"));
        ASSERT_TRUE(sh("ip tuntap add zt0 mode tap"));
        for (const char* n : {"veth0", "veth1", "veth2", "veth3", "br0"})
            ASSERT_TRUE(sh(std::string("ip link set ") + n + " up"));
        ASSERT_TRUE(sh("ip addr add 10.99.0.1/24 dev veth0"));
        ASSERT_TRUE(sh("ip route add default via 10.99.0.254 dev veth0"));
    }

    std::map<std::string, net::Interface> scan() {
        std::map<std::string, net::Interface> out;
        for (auto& r : net::scan_interfaces()) out[r.name] = r;
        return out;
    }
};

TEST_F(NetKernel, KindsLinksAndTotalsOfRealDevices) {
    auto all = scan();
    ASSERT_EQ(all.size(), 10u); // lo and the nine devices made above

    EXPECT_EQ(all["lo"].kind, net::Kind::Loopback);
    EXPECT_FALSE(all["lo"].counts_in_total);

    for (const char* n : {"veth0", "veth1", "veth2", "veth3"}) {
        EXPECT_EQ(all[n].kind, net::Kind::Virtual) << n;
        EXPECT_EQ(all[n].detail, "veth") << n;
        EXPECT_EQ(all[n].bus, "virtual") << n;
        EXPECT_FALSE(all[n].counts_in_total) << n;
        EXPECT_GT(all[n].ifindex, 0) << n;
        EXPECT_EQ(all[n].mtu, 1500) << n;
        EXPECT_FALSE(all[n].mac.empty()) << n;
    }
    EXPECT_TRUE(all["veth0"].admin_up);
    EXPECT_TRUE(all["veth0"].carrier);
    EXPECT_EQ(all["veth0"].operstate, "up");
    EXPECT_EQ(all["veth0"].speed_mbps, 10000); // veth reports 10 Gbit/s
    EXPECT_EQ(all["veth0"].duplex, "full");
    EXPECT_EQ(all["veth0"].ipv4, (std::vector<std::string>{"10.99.0.1/24"}));
    EXPECT_TRUE(all["veth0"].default_route);
    EXPECT_EQ(all["veth0"].gateway, "10.99.0.254");
    EXPECT_FALSE(all["veth1"].default_route);

    EXPECT_EQ(all["br0"].kind, net::Kind::Bridge);
    EXPECT_EQ(all["br0"].members, (std::vector<std::string>{"veth3"}));
    EXPECT_EQ(all["veth3"].master, "br0");
    EXPECT_EQ(all["veth3"].master_kind, "bridge");
    EXPECT_FALSE(all["br0"].counts_in_total);

    EXPECT_EQ(all["vx0"].kind, net::Kind::Tunnel);
    EXPECT_EQ(all["vx0"].detail, "VXLAN");
    // Kernels differ in whether macvlan devices announce a DEVTYPE; without one the
    // device is still recognised as virtual.
    EXPECT_EQ(all["mv0"].kind, net::Kind::Virtual);
    EXPECT_TRUE(all["mv0"].detail == "macvlan" || all["mv0"].detail.empty()) << all["mv0"].detail;

    EXPECT_EQ(all["tn0"].kind, net::Kind::Vpn);
    EXPECT_EQ(all["tn0"].detail, "TUN");
    EXPECT_EQ(all["zt0"].kind, net::Kind::Vpn);
    EXPECT_EQ(all["zt0"].detail, "TAP");
    EXPECT_FALSE(all["zt0"].carrier); // a TAP without a reader has no carrier
    EXPECT_EQ(all["zt0"].speed_mbps, -1);
}

TEST_F(NetKernel, CountersGrowByTheBytesSent) {
    auto find = [](const net::CounterSample& s, const std::string& n) {
        for (size_t i = 0; i < s.names.size(); ++i)
            if (s.names[i] == n) return s.values[i];
        ADD_FAILURE() << n << " missing from the counter file";
        return net::Counters{};
    };
    net::CounterSample before, after;
    ASSERT_TRUE(net::read_counters(&before));

    // Raw Ethernet frames on veth0 arrive on veth1: exact byte counts on both ends.
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = static_cast<int>(if_nametoindex("veth0"));
    to.sll_halen = ETH_ALEN;
    memset(to.sll_addr, 0xff, ETH_ALEN);
    unsigned char frame[1000] = {};
    memset(frame, 0xff, 6); // broadcast destination
    frame[6] = 0x02;        // locally administered source
    frame[12] = 0x88;       // a local experimental EtherType
    frame[13] = 0xb5;
    const int kFrames = 25;
    for (int i = 0; i < kFrames; ++i)
        ASSERT_EQ(sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(sizeof frame));
    close(fd);

    ASSERT_TRUE(net::read_counters(&after));
    EXPECT_GT(after.t, before.t);
    auto tx0 = find(after, "veth0"), tx0b = find(before, "veth0");
    auto rx1 = find(after, "veth1"), rx1b = find(before, "veth1");
    EXPECT_EQ(tx0.tx_bytes - tx0b.tx_bytes, kFrames * sizeof frame);
    EXPECT_EQ(tx0.tx_packets - tx0b.tx_packets, static_cast<uint64_t>(kFrames));
    // A veth pair books each frame whole on both ends.
    EXPECT_EQ(rx1.rx_bytes - rx1b.rx_bytes, kFrames * sizeof frame);
    EXPECT_EQ(rx1.rx_packets - rx1b.rx_packets, static_cast<uint64_t>(kFrames));
}

TEST_F(NetKernel, ListingOfTheRealBinary) {
    auto r = testsupport::run(testsupport::velmora_bin(), {"--list"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::map<std::string, std::string> lines;
    for (const auto& line : testsupport::lines(r.out)) {
        if (line.empty()) break; // the socket section follows an empty line
        lines[line.substr(0, line.find(' '))] = line;
    }
    ASSERT_EQ(lines.size(), 10u) << r.out;
    // Each line is the same text the library formats for that interface.
    for (const auto& i : net::scan_interfaces())
        EXPECT_EQ(lines[i.name] + "\n", cli::interface_line(i));
    EXPECT_EQ(lines["veth0"],
              "veth0            kind.virtual   veth       up       mtu=1500  speed=10000  "
              "total=0 10.99.0.1/24 default");
    EXPECT_NE(lines["br0"].find(" members=veth3,"), std::string::npos) << lines["br0"];
    EXPECT_NE(lines["veth3"].find(" master=br0(bridge)"), std::string::npos) << lines["veth3"];
    EXPECT_EQ(lines["zt0"].substr(0, 36), "zt0              kind.vpn       TAP ");
    // Wired devices show no wireless fields.
    EXPECT_EQ(r.out.find("ssid="), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("signal="), std::string::npos) << r.out;
}

} // namespace
