// Interface scan and counters on the fixture tree tests/fixtures/net/root, whose
// make_tree.py lists the situation each interface stands for.
#include "net_stats.h"
#include "support/support.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <map>
#include <net/if.h>

namespace {

using testsupport::describe;

const std::string kRoot = testsupport::fixture("net/root");

net::IfAddr addr4(const std::string& name, const char* ip, const char* mask, unsigned flags) {
    net::IfAddr a;
    a.name = name;
    a.flags = flags;
    a.family = AF_INET;
    a.has_addr = true;
    inet_pton(AF_INET, ip, a.addr.data());
    if (mask) {
        a.has_mask = true;
        inet_pton(AF_INET, mask, a.mask.data());
    }
    return a;
}

net::IfAddr addr6(const std::string& name, const char* ip, int prefix, unsigned flags) {
    net::IfAddr a;
    a.name = name;
    a.flags = flags;
    a.family = AF_INET6;
    a.has_addr = a.has_mask = true;
    inet_pton(AF_INET6, ip, a.addr.data());
    for (int i = 0; i < prefix; ++i) a.mask[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    return a;
}

std::map<std::string, net::Interface> scan(const std::vector<net::IfAddr>& addrs = {}) {
    std::map<std::string, net::Interface> out;
    for (auto& r : net::scan_interfaces(kRoot, addrs)) out[r.name] = r;
    return out;
}

// One row per interface of tests/fixtures/net/make_tree.py, which tells the situation each
// stands for: the classification rows, bus and driver, bonds, bridges and VLANs, link
// fields believed only with carrier, default routes and gateways, and who counts in the
// machine total. A wireless card enslaved to a bridge keeps its own kind.
TEST(NetScan, EveryInterfaceOfTheFixture) {
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {
        {"bare0", "ethernet counted"},
        {"bond0", "bond/active-backup virtual: of eth1,eth0 bond active-backup/eth1/up up carrier "
                  "state=up 2000full default counted"},
        {"br0", "bridge virtual: of eth2,wlan0 up carrier state=up"},
        {"br1", "bridge virtual:"},
        {"can0", "other/CAN virtual:"},
        {"dummy0", "virtual/dummy virtual:"},
        {"enx00e04c", "ethernet/USB usb:r8152 counted"},
        {"eth0", "ethernet pci:e1000e in bond0(bond)backup up carrier state=up 1000full mtu=1500 "
                 "default via 192.168.1.1"},
        {"eth0.100", "vlan/VLAN 100 virtual: vlan 100@eth0"},
        {"eth1", "ethernet pci: in bond0(bond)active up carrier state=up 1000full"},
        {"eth2", "ethernet pci:igb in br0(bridge) state=down counted"},
        {"eth3.7", "vlan/VLAN 7 virtual: vlan 7@eth3"},
        // A suffix that is not all digits gives no id, so the lower_ link names the parent.
        {"eth4.2x", "vlan/VLAN virtual: vlan -1@eth2"},
        {"gnv0", "tunnel/Geneve virtual:"},
        {"gre0", "tunnel/GRE virtual:"},
        {"gretap0", "tunnel/GRE virtual:"},
        {"guest.lan", "vlan/VLAN virtual: vlan -1@eth1"},
        {"ib0", "other/InfiniBand pci:"},
        {"ip6gre0", "tunnel/GRE virtual:"},
        {"ip6tnl0", "tunnel/IPv6-in-IPv6 virtual:"},
        {"ipip0", "tunnel/IPIP virtual:"},
        {"lback", "loopback virtual:"},
        {"lo", "loopback virtual: up carrier state=unknown mtu=65536"},
        {"mvl0", "virtual/macvlan virtual:"},
        {"myvpn1", "vpn/TAP virtual:"},
        {"noflags", "ethernet pci: counted"},
        {"ppp0", "vpn/PPP virtual:"},
        {"sit0", "tunnel/SIT virtual:"},
        {"sp1", "ethernet pci: carrier counted"},
        {"sp2", "ethernet pci: carrier -1half counted"},
        {"sp3", "ethernet pci: carrier counted"},
        {"sp4", "ethernet pci: counted"},
        {"tap0", "virtual/TAP virtual:"},
        {"tun0", "vpn/TUN virtual:"},
        {"usb0", "mobile/cdc_ncm usb:cdc_ncm counted"},
        {"veth0", "virtual/veth virtual:"},
        {"vlanx", "vlan/VLAN virtual: vlan -1@eth9"},
        {"vnet3", "virtual virtual:"},
        {"vti0", "vpn/IPsec virtual:"},
        {"vxlan0", "tunnel/VXLAN virtual:"},
        {"weird0", "other pci:"},
        {"wg0", "vpn/wireguard virtual:"},
        {"wlan0", "wireless pci:iwlwifi in br0(bridge) up carrier state=up mtu=1500 "
                  "a0:b1:c2:d3:e4:f5 default counted"},
        {"wlan1", "wireless pci: counted"},
        {"wwan0", "mobile pci: counted"},
        {"xfrm0", "vpn/IPsec virtual:"},
        {"zt0", "vpn/TAP virtual:"},
    };
    // clang-format on
    // Sorted by name, no hidden entries, no plain files such as bonding_masters.
    const auto list = net::scan_interfaces(kRoot, {});
    ASSERT_EQ(list.size(), std::size(rows));
    for (size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(list[i].name + " " + describe(list[i]),
                  std::string(rows[i].first) + " " + rows[i].second);
}

TEST(NetScan, FlagsFromTheAddressListWhenSysfsLacksThem) {
    // noflags has neither flags nor operstate files.
    auto none = scan();
    EXPECT_FALSE(none["noflags"].admin_up);
    EXPECT_EQ(none["noflags"].operstate, "");

    auto up = scan({addr4("noflags", "192.0.2.7", "255.255.255.0", IFF_UP)});
    EXPECT_TRUE(up["noflags"].admin_up);
    EXPECT_EQ(up["noflags"].operstate, "lowerlayerdown");
    EXPECT_FALSE(up["noflags"].carrier);

    // Flags of several entries of one name are combined; LOWER_UP alone means carrier.
    auto running = scan(
        {addr4("noflags", "192.0.2.7", nullptr, IFF_UP), addr6("noflags", "fe80::1", 64, 0x10000)});
    EXPECT_EQ(running["noflags"].operstate, "up");
    EXPECT_TRUE(running["noflags"].carrier);

    auto down = scan({addr4("noflags", "192.0.2.7", nullptr, IFF_RUNNING)});
    EXPECT_FALSE(down["noflags"].admin_up);
    EXPECT_EQ(down["noflags"].operstate, "down");
    // A flags file wins over the address list even when it says down.
    auto eth = scan({addr4("eth2", "192.0.2.8", nullptr, IFF_UP)});
    EXPECT_FALSE(eth["eth2"].admin_up);
}

TEST(NetScan, AddressesInListOrderWithPrefixLengths) {
    auto all = scan(
        {addr4("eth0", "192.168.1.20", "255.255.255.0", IFF_UP),
         addr6("eth0", "fe80::1234", 64, IFF_UP), addr4("eth0", "10.1.2.3", "255.255.0.0", IFF_UP),
         addr4("eth0", "10.9.9.9", nullptr, IFF_UP), addr6("eth0", "2001:db8::5", 128, IFF_UP),
         addr4("eth0:1", "10.5.5.5", "255.255.255.0", IFF_UP),
         addr4("ghost9", "10.0.0.1", "255.0.0.0", IFF_UP),
         addr4("ghost9:1", "10.0.0.2", nullptr, 0)});
    // A labelled address ("eth0:1") belongs to the interface before the colon.
    EXPECT_EQ(all["eth0"].ipv4, (std::vector<std::string>{"192.168.1.20/24", "10.1.2.3/16",
                                                          "10.9.9.9/0", "10.5.5.5/24"}));
    EXPECT_EQ(all["eth0"].ipv6, (std::vector<std::string>{"fe80::1234/64", "2001:db8::5/128"}));
    EXPECT_FALSE(all.count("ghost9"));
}

TEST(NetScan, MissingTreeGivesNothingAndNeverFails) {
    EXPECT_TRUE(net::scan_interfaces("/nonexistent/root", {}).empty());
}

TEST(NetCounters, ParsesTheKernelFile) {
    net::CounterSample s;
    s.t = -1;
    ASSERT_TRUE(net::read_counters(&s, kRoot));
    EXPECT_GT(s.t, 0);
    // The 15-number line of eth1 and the line without a colon are skipped.
    ASSERT_EQ(s.names, (std::vector<std::string>{"lo", "eth0", "wlan0"}));
    ASSERT_EQ(s.values.size(), 3u);
    const auto& e = s.values[1];
    EXPECT_EQ(e.rx_bytes, 1000u);
    EXPECT_EQ(e.rx_packets, 10u);
    EXPECT_EQ(e.rx_errors, 1u);
    EXPECT_EQ(e.rx_dropped, 2u);
    EXPECT_EQ(e.multicast, 6u);
    EXPECT_EQ(e.tx_bytes, 2000u);
    EXPECT_EQ(e.tx_packets, 20u);
    EXPECT_EQ(e.tx_errors, 7u);
    EXPECT_EQ(e.tx_dropped, 8u);
    EXPECT_EQ(e.collisions, 10u);
    EXPECT_EQ(s.values[2].rx_bytes, 18446744073709551615ull);
    EXPECT_EQ(s.values[0].tx_bytes, 123456u);
}

TEST(NetCounters, MissingFileKeepsTimeAndEmptiesLists) {
    net::CounterSample s;
    s.t = 42;
    s.names = {"old"};
    s.values.resize(1);
    EXPECT_FALSE(net::read_counters(&s, "/nonexistent/root"));
    EXPECT_EQ(s.t, 42);
    EXPECT_TRUE(s.names.empty());
    EXPECT_TRUE(s.values.empty());
}

TEST(NetCounters, TruncatedAndHostileFiles) {
    testsupport::TempDir d;
    // Header only, a line cut in the middle, a name with only spaces, a huge line.
    d.write("proc/net/dev", "h1\nh2\n  a: 1 2 3\n   : 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n" +
                                std::string(5000, 'x') +
                                ":1\nb: 1 2 3 4 5 6 7 8 9 10 11 12 13 "
                                "14 15 16");
    net::CounterSample s;
    ASSERT_TRUE(net::read_counters(&s, d.path()));
    EXPECT_EQ(s.names, (std::vector<std::string>{"", "b"}));
    d.write("proc/net/dev", "");
    ASSERT_TRUE(net::read_counters(&s, d.path()));
    EXPECT_TRUE(s.names.empty());
}

} // namespace
