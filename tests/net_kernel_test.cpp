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
        ASSERT_TRUE(sh("ip addr add 10.99.1.1/24 dev veth0 label veth0:1"));
        ASSERT_TRUE(sh("ip route add default via 10.99.0.254 dev veth0"));
    }

    std::map<std::string, net::Interface> scan() {
        std::map<std::string, net::Interface> out;
        for (auto& r : net::scan_interfaces()) out[r.name] = r;
        return out;
    }
};

TEST_F(NetKernel, KindsLinksAndTotalsOfRealDevices) {
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {
        {"br0", "bridge virtual: of veth3 up carrier state=up mtu=1500"},
        {"lo", "loopback virtual: up carrier state=unknown mtu=65536"},
        {"mv0", "virtual virtual: state=down mtu=1500"},
        {"tn0", "vpn/TUN virtual: state=down mtu=1500"},
        {"veth0", "virtual/veth virtual: up carrier state=up 10000full mtu=1500 default via 10.99.0.254"},
        {"veth1", "virtual/veth virtual: up carrier state=up 10000full mtu=1500"},
        {"veth2", "virtual/veth virtual: up carrier state=up 10000full mtu=1500"},
        {"veth3", "virtual/veth virtual: in br0(bridge) up carrier state=up 10000full mtu=1500"},
        {"vx0", "tunnel/VXLAN virtual: state=down mtu=1450"},
        {"zt0", "vpn/TAP virtual: state=down mtu=1500"}, // a TAP without a reader: no carrier
    };
    // clang-format on
    auto all = scan();
    ASSERT_EQ(all.size(), std::size(rows)); // lo and the nine devices made above
    for (auto& [name, i] : all) {
        EXPECT_GT(i.ifindex, 0) << name;
        EXPECT_EQ(i.mac.empty(), name == "lo" || name == "tn0") << name;
        i.mac.clear(); // random for most of these devices
    }
    // Kernels differ in whether macvlan devices announce a DEVTYPE; without one the device
    // is still recognised as virtual. A bridge's speed follows its members.
    EXPECT_TRUE(all["mv0"].detail == "macvlan" || all["mv0"].detail.empty()) << all["mv0"].detail;
    all["mv0"].detail.clear();
    all["br0"].speed_mbps = -1;
    for (const auto& [name, want] : rows) EXPECT_EQ(testsupport::describe(all[name]), want) << name;
    // The labelled address too, which the address list names "veth0:1".
    EXPECT_EQ(all["veth0"].ipv4, (std::vector<std::string>{"10.99.0.1/24", "10.99.1.1/24"}));
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
              "total=0 10.99.0.1/24 10.99.1.1/24 default");
    EXPECT_NE(lines["br0"].find(" members=veth3,"), std::string::npos) << lines["br0"];
    EXPECT_NE(lines["veth3"].find(" master=br0(bridge)"), std::string::npos) << lines["veth3"];
    EXPECT_EQ(lines["zt0"].substr(0, 36), "zt0              kind.vpn       TAP ");
    // Wired devices show no wireless fields.
    EXPECT_EQ(r.out.find("ssid="), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("signal="), std::string::npos) << r.out;
}

} // namespace
