// Interface scan and counters on the fixture tree tests/fixtures/net/root, whose
// make_tree.py lists the situation each interface stands for.
#include "net_stats.h"
#include "support/support.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <map>
#include <net/if.h>

namespace {

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

struct Expect {
    const char* name;
    net::Kind kind;
    const char* detail;
};

TEST(NetClassify, EveryRowOfTheDecisionTable) {
    auto all = scan();
    const Expect rows[] = {
        {"lo", net::Kind::Loopback, ""},
        {"lback", net::Kind::Loopback, ""},
        {"wlan0", net::Kind::Wireless, ""},
        {"wlan1", net::Kind::Wireless, ""},
        {"bond0", net::Kind::Bond, "active-backup"},
        {"br0", net::Kind::Bridge, ""},
        {"br1", net::Kind::Bridge, ""},
        {"eth0.100", net::Kind::Vlan, "VLAN 100"},
        {"eth3.7", net::Kind::Vlan, "VLAN 7"},
        {"vlanx", net::Kind::Vlan, "VLAN"},
        {"guest.lan", net::Kind::Vlan, "VLAN"},
        {"eth4.2x", net::Kind::Vlan, "VLAN"},
        {"wg0", net::Kind::Vpn, "wireguard"},
        {"xfrm0", net::Kind::Vpn, "IPsec"},
        {"vti0", net::Kind::Vpn, "IPsec"},
        {"wwan0", net::Kind::Mobile, ""},
        {"usb0", net::Kind::Mobile, "cdc_ncm"},
        {"enx00e04c", net::Kind::Ethernet, "USB"},
        {"vxlan0", net::Kind::Tunnel, "VXLAN"},
        {"gnv0", net::Kind::Tunnel, "Geneve"},
        {"gretap0", net::Kind::Tunnel, "GRE"},
        {"mvl0", net::Kind::Virtual, "macvlan"},
        {"tun0", net::Kind::Vpn, "TUN"},
        {"zt0", net::Kind::Vpn, "TAP"},
        {"myvpn1", net::Kind::Vpn, "TAP"},
        {"tap0", net::Kind::Virtual, "TAP"},
        {"ipip0", net::Kind::Tunnel, "IPIP"},
        {"can0", net::Kind::Other, "CAN"},
        {"ppp0", net::Kind::Vpn, "PPP"},
        {"ib0", net::Kind::Other, "InfiniBand"},
        {"sit0", net::Kind::Tunnel, "SIT"},
        {"gre0", net::Kind::Tunnel, "GRE"},
        {"ip6gre0", net::Kind::Tunnel, "GRE"},
        {"ip6tnl0", net::Kind::Tunnel, "IPv6-in-IPv6"},
        {"veth0", net::Kind::Virtual, "veth"},
        {"dummy0", net::Kind::Virtual, "dummy"},
        {"vnet3", net::Kind::Virtual, ""},
        {"eth0", net::Kind::Ethernet, ""},
        {"weird0", net::Kind::Other, ""},
        {"bare0", net::Kind::Ethernet, ""},
    };
    for (const auto& e : rows) {
        ASSERT_TRUE(all.count(e.name)) << e.name;
        const auto& r = all[e.name];
        EXPECT_EQ(r.kind, e.kind) << e.name;
        EXPECT_EQ(r.detail, e.detail) << e.name;
    }
    // A wireless card enslaved to a bridge keeps its own kind.
    EXPECT_EQ(all["wlan0"].master, "br0");
    EXPECT_EQ(all["wlan0"].master_kind, "bridge");
}

TEST(NetClassify, BusDriverAndGroupFields) {
    auto all = scan();
    EXPECT_EQ(all["eth0"].bus, "pci");
    EXPECT_EQ(all["eth0"].driver, "e1000e");
    EXPECT_EQ(all["usb0"].bus, "usb");
    EXPECT_EQ(all["veth0"].bus, "virtual");
    // Without any readable sysfs data: not virtual, type 1, so Ethernet with no bus.
    EXPECT_EQ(all["bare0"].bus, "");
    EXPECT_EQ(all["bare0"].driver, "");

    const auto& bond = all["bond0"];
    EXPECT_EQ(bond.bond_mode, "active-backup");
    EXPECT_EQ(bond.bond_active, "eth1");
    EXPECT_EQ(bond.bond_mii, "up");
    EXPECT_EQ(bond.members, (std::vector<std::string>{"eth1", "eth0"}));
    EXPECT_EQ(all["eth0"].master, "bond0");
    EXPECT_EQ(all["eth0"].master_kind, "bond");
    EXPECT_EQ(all["eth0"].slave_state, "backup");
    EXPECT_EQ(all["eth1"].slave_state, "active");

    EXPECT_EQ(all["br0"].members, (std::vector<std::string>{"eth2", "wlan0"}));
    EXPECT_TRUE(all["br1"].members.empty());

    EXPECT_EQ(all["eth0.100"].vlan_id, 100);
    EXPECT_EQ(all["eth0.100"].vlan_parent, "eth0");
    EXPECT_EQ(all["eth3.7"].vlan_id, 7);
    EXPECT_EQ(all["eth3.7"].vlan_parent, "eth3");
    EXPECT_EQ(all["vlanx"].vlan_id, -1);
    EXPECT_EQ(all["vlanx"].vlan_parent, "eth9"); // the last lower_ entry wins
    // A name whose suffix is not a number gives no id, and the link names the parent.
    for (const auto& [name, parent] : {std::pair{"guest.lan", "eth1"}, {"eth4.2x", "eth2"}}) {
        EXPECT_EQ(all[name].vlan_id, -1) << name;
        EXPECT_EQ(all[name].vlan_parent, parent) << name;
    }
}

TEST(NetScan, OnlyDirectoriesNotHiddenAreInterfacesSortedByName) {
    auto list = net::scan_interfaces(kRoot, {});
    for (size_t i = 1; i < list.size(); ++i) EXPECT_LT(list[i - 1].name, list[i].name);
    for (const auto& r : list) {
        EXPECT_NE(r.name, ".hidden0");
        EXPECT_NE(r.name, "bonding_masters");
    }
    EXPECT_EQ(list.size(), 47u); // every entry of make_tree.py plus bare0
}

TEST(NetScan, LinkFieldsAndTheirEdgeCases) {
    auto all = scan();
    EXPECT_EQ(all["eth0"].speed_mbps, 1000);
    EXPECT_EQ(all["eth0"].duplex, "full");
    EXPECT_TRUE(all["eth0"].admin_up);
    EXPECT_TRUE(all["eth0"].carrier);
    EXPECT_EQ(all["eth0"].operstate, "up");
    EXPECT_EQ(all["eth0"].mtu, 1500);
    for (const char* n : {"sp1", "sp2", "sp3"}) {
        EXPECT_EQ(all[n].speed_mbps, -1) << n;
        EXPECT_TRUE(all[n].carrier) << n;
    }
    EXPECT_EQ(all["sp1"].duplex, ""); // "unknown"
    EXPECT_EQ(all["sp2"].duplex, "half");
    // Without carrier the speed and duplex files are not believed.
    EXPECT_EQ(all["sp4"].speed_mbps, -1);
    EXPECT_EQ(all["sp4"].duplex, "");
    EXPECT_EQ(all["eth2"].speed_mbps, -1);
    EXPECT_EQ(all["sp1"].mac, "");
    EXPECT_EQ(all["wlan0"].mac, "a0:b1:c2:d3:e4:f5");
    EXPECT_EQ(all["lo"].mac, "");
    EXPECT_TRUE(all["lo"].admin_up); // flags 0x9
    EXPECT_EQ(all["lo"].operstate, "unknown");
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

TEST(NetScan, DefaultRoutesAndGateway) {
    auto all = scan();
    EXPECT_TRUE(all["eth0"].default_route);
    EXPECT_EQ(all["eth0"].gateway, "192.168.1.1"); // the first of two defaults wins
    EXPECT_TRUE(all["wlan0"].default_route);
    EXPECT_EQ(all["wlan0"].gateway, "");     // a default without gateway
    EXPECT_TRUE(all["bond0"].default_route); // IPv6 default
    EXPECT_EQ(all["bond0"].gateway, "");
    EXPECT_FALSE(all["lo"].default_route);    // the kernel's unreachable entry
    EXPECT_FALSE(all["wlan1"].default_route); // not a default (prefix 40)
}

TEST(NetScan, WhoCountsInTheTotal) {
    auto all = scan();
    EXPECT_TRUE(all["bond0"].counts_in_total);
    EXPECT_FALSE(all["eth0"].counts_in_total); // bond member: its bond counts
    EXPECT_FALSE(all["eth1"].counts_in_total);
    EXPECT_TRUE(all["eth2"].counts_in_total); // physical bridge member counts
    EXPECT_TRUE(all["wlan0"].counts_in_total);
    EXPECT_TRUE(all["usb0"].counts_in_total); // mobile
    for (const char* n : {"lo", "br0", "eth0.100", "wg0", "vxlan0", "veth0", "tap0", "can0"})
        EXPECT_FALSE(all[n].counts_in_total) << n;
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

TEST(NetKind, Keys) {
    EXPECT_STREQ(net::kind_key(net::Kind::Ethernet), "kind.ethernet");
    EXPECT_STREQ(net::kind_key(net::Kind::Wireless), "kind.wireless");
    EXPECT_STREQ(net::kind_key(net::Kind::Loopback), "kind.loopback");
    EXPECT_STREQ(net::kind_key(net::Kind::Other), "kind.other");
    EXPECT_STREQ(net::kind_key(static_cast<net::Kind>(42)), "kind.other");
    EXPECT_STREQ(net::kind_key(static_cast<net::Kind>(-1)), "kind.other");
}

TEST(NetClock, MonotonicSecondsAdvance) {
    double a = net::monotonic_seconds();
    double b = net::monotonic_seconds();
    EXPECT_GT(a, 0);
    EXPECT_GE(b, a);
}

} // namespace
