// Hardware details: id databases, sysfs fixture trees, the summary, and the live kernel's
// ethtool answers for devices made in a private network namespace.
#include "hw_info.h"
#include "support/support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <linux/ethtool.h>
#include <thread>

using testsupport::fixture;

namespace {

// tests/fixtures/hw/tree: nic0..nic3 PCI NICs, usb0/usb1 USB adapters, veth0 virtual,
// wlan0 an SDIO wireless card. tests/fixtures/hw/ids: small pci.ids and usb.ids.
const std::string kTree = fixture("hw/tree");

void use_fixture_databases() {
    hw::use_database(hw::Db::Pci, fixture("hw/ids/pci.ids"));
    hw::use_database(hw::Db::Usb, fixture("hw/ids/usb.ids"));
}

// The sysfs-derived fields of a record in one line, so a fixture's expectation reads as one.
std::string describe(const hw::Info& i) {
    char temp[16];
    snprintf(temp, sizeof temp, "%.1f", i.temp_c);
    return std::string(i.present ? "present" : "absent") + "|" + i.bus + "|" + i.address + "|" +
           i.ids + "|" + i.vendor + "|" + i.product + "|" + i.subsystem + "|" + i.pcie_now + "|" +
           i.pcie_max + "|numa " + std::to_string(i.numa) + "|irqs " + std::to_string(i.irqs) +
           "|q " + std::to_string(i.rx_queues) + "/" + std::to_string(i.tx_queues) + "/" +
           std::to_string(i.txqueuelen) + "|cc " + std::to_string(i.carrier_changes) + "|" + temp +
           "C|" + i.usb_speed + "|" + i.driver + " " + i.driver_version + "|" + i.phy;
}

TEST(HwIdDb, ParsesUntilTheClassSection) {
    hw::IdDb pci, usb, odd;
    hw::parse_ids(testsupport::read_file(fixture("hw/ids/pci.ids")), pci);
    EXPECT_EQ(pci.vendors.size(), 3u) << "short lines and vendors after the classes are skipped";
    EXPECT_EQ(pci.vendors["1b44"], "Halvard Systems Corporation");
    EXPECT_EQ(pci.devices["1b44:0002"], "HS-2 Dual Port");
    EXPECT_EQ(pci.subsystems.size(), 3u);
    EXPECT_EQ(pci.subsystems["1af0:1533:7777:0001"], "Mystery Board");
    hw::parse_ids(testsupport::read_file(fixture("hw/ids/usb.ids")), usb);
    EXPECT_EQ(usb.vendors.size(), 1u);
    EXPECT_EQ(usb.devices.size(), 2u) << "class, HID and audio tables are not devices";

    // Hostile text: a device before any vendor, lines cut inside the id or before the
    // name, a short subsystem line, no final newline.
    hw::parse_ids("\t12\n\t1234  Orphan\nabcd  V\n\t12\n\t\t1234 56\n\t5678\nbeef  Last", odd);
    EXPECT_EQ(odd.devices[":1234"], "Orphan");
    EXPECT_EQ(odd.devices.count("abcd:12"), 1u);
    EXPECT_TRUE(odd.subsystems.empty());
    EXPECT_EQ(odd.vendors["beef"], "Last");
}

TEST(HwIdDb, SearchPathsAndLoadingOnce) {
    unsetenv("APPDIR");
    setenv("SNAP", "/snap/velmora/7", 1);
    setenv("FLATPAK_ID", "org.example.Velmora", 1);
    // The sandbox's own copies come before the system's.
    const auto usb = hw::db_candidates(hw::Db::Usb);
    ASSERT_GE(usb.size(), 2u);
    EXPECT_EQ(usb.front(), "/snap/velmora/7/usr/share/hwdata/usb.ids");
    EXPECT_LT(std::find(usb.begin(), usb.end(), "/app/share/hwdata/usb.ids"),
              std::find(usb.begin(), usb.end(), "/usr/share/hwdata/usb.ids"));
    unsetenv("FLATPAK_ID");

    // Every SNAP path comes before any APPDIR path, whatever table position they hold;
    // the file is read on the first lookup only.
    testsupport::TempDir snap, appdir;
    snap.write("usr/share/misc/pci.ids", "1af0  From Snap\n");
    appdir.write("usr/share/hwdata/pci.ids", "1af0  From AppImage\n");
    setenv("SNAP", snap.path().c_str(), 1);
    setenv("APPDIR", appdir.path().c_str(), 1);
    hw::reset_databases();
    EXPECT_EQ(hw::lookup(hw::Db::Pci, hw::Table::Vendors, "1af0"), "From Snap");
    EXPECT_EQ(hw::lookup(hw::Db::Pci, hw::Table::Devices, "1af0:0001"), "");
    auto stats = hw::db_stats(hw::Db::Pci);
    EXPECT_EQ(stats.path, snap.path() + "/usr/share/misc/pci.ids");
    EXPECT_EQ(stats.parses, 1);
    EXPECT_FALSE(hw::db_stats(hw::Db::Usb).loaded) << "each database loads on its own first use";
    unsetenv("SNAP");
    hw::reset_databases();
    EXPECT_EQ(hw::lookup(hw::Db::Pci, hw::Table::Vendors, "1af0"), "From AppImage");
    unsetenv("APPDIR");

    // A database that cannot be read stays empty and is not searched again.
    hw::use_database(hw::Db::Pci, "/nonexistent/pci.ids");
    EXPECT_EQ(hw::lookup(hw::Db::Pci, hw::Table::Vendors, "8086"), "");
    EXPECT_TRUE(hw::db_stats(hw::Db::Pci).loaded);
    EXPECT_EQ(hw::db_stats(hw::Db::Pci).parses, 0);
}

TEST(HwFixture, Devices) {
    use_fixture_databases();
    // nic0: " PCIe" suffixes, subsystem entry, revision, MSI vectors beside a legacy irq,
    // hwmon temperature (non-hwmon and unreadable entries first), module version, hidden
    // queue entry.
    hw::Info nic0 = hw::query("nic0", kTree);
    EXPECT_EQ(describe(nic0),
              "present|PCI|0000:03:00.0|1af0:10d3 rev 03|Nortbrook Semiconductor Co., Ltd."
              "|NB5710 Gigabit Network Connection|Nortbrook Semiconductor Co., Ltd. NB5710 "
              "Desktop Adapter|8.0 GT/s x4|16.0 GT/s x8|numa 0|irqs 3|q 2/3/1000|cc 4|48.5C||"
              "nbgbe 3.2.1-k|");
    EXPECT_EQ(hw::summary(nic0), "Nortbrook NB5710 Gigabit Network Connection");
    // nic1: vendor without "0x", no revision, subsystem vendor differs without an entry,
    // speed Unknown and width 0, legacy interrupt, no NUMA node.
    EXPECT_EQ(describe(hw::query("nic1", kTree)),
              "present|PCI|0000:04:00.0|10ec:8168|Kestrel Microsystems Inc.|Kestrel "
              "Microsystems KM8168 PCI Express Gigabit Ethernet|Halvard Systems Corporation|||"
              "numa -1|irqs 1|q 0/0/0|cc -1|-1000.0C||kgbe |");
    // nic2: subsystem entry under an unknown subsystem vendor; no link files, irq 0.
    // nic3: device unknown to the database.
    EXPECT_EQ(
        describe(hw::query("nic2", kTree)),
        "present|PCI|0000:05:01.0|1af0:1533|Nortbrook Semiconductor Co., Ltd.|NB210 "
        "Gigabit Network Connection|Mystery Board|||numa -1|irqs 0|q 0/0/0|cc -1|-1000.0C|| |");
    hw::Info nic3 = hw::query("nic3", kTree);
    EXPECT_EQ(nic3.subsystem, "") << "same subsystem vendor, no entry";
    EXPECT_EQ(hw::summary(nic3), "PCI 1af0:9999 rev 01");

    // usb0 has manufacturer and product files, usb1 neither.
    const hw::Info usb0 = hw::query("usb0", kTree), usb1 = hw::query("usb1", kTree);
    EXPECT_EQ(describe(usb0), "present|USB|2-1:1.0|2c7a:0153|Kestrel|USB 10/100/1000 LAN||||numa "
                              "-1|irqs 0|q 0/0/0|cc -1|-1000.0C|5000 Mbit/s|kusbnet |");
    EXPECT_EQ(hw::summary(usb0), "Kestrel USB 10/100/1000 LAN");
    EXPECT_EQ(hw::summary(usb1) + " " + usb1.usb_speed,
              "Kestrel Microsystems KU200 Fast Ethernet 480 Mbit/s");

    // veth0: no device link. wlan0: an SDIO card keeps its subsystem name and modalias and
    // is named by its driver. gone0: nothing at all.
    const hw::Info veth = hw::query("veth0", kTree), wlan = hw::query("wlan0", kTree);
    EXPECT_EQ(describe(veth), "absent|||||||||numa -1|irqs 0|q 1/1/1000|cc 2|-1000.0C|| |");
    EXPECT_EQ(hw::summary(veth), "");
    EXPECT_EQ(describe(wlan), "present|sdio|mmc1:0001:1|sdio:c00v02D0dA9A6|||||"
                              "|numa -1|irqs 0|q 0/0/0|cc -1|-1000.0C||fxwifi |phy0");
    EXPECT_EQ(hw::summary(wlan), "fxwifi");
    EXPECT_EQ(describe(hw::query("gone0", kTree)), describe(hw::Info{}));

    // Without a USB database an adapter's own strings still name it; the other falls back
    // to bus and ids.
    hw::use_database(hw::Db::Usb, "/nonexistent/usb.ids");
    EXPECT_EQ(hw::summary(hw::query("usb0", kTree)), "Kestrel USB 10/100/1000 LAN");
    EXPECT_EQ(hw::summary(hw::query("usb1", kTree)), "USB 2c7a:0200");
}

TEST(HwSummary, VendorShortening) {
    const char* const cases[][3] = {
        {"Intel Corporation", "I210", "Intel I210"},
        {"Realtek Semiconductor Co., Ltd.", "RTL8125", "Realtek RTL8125"},
        {"Broadcom Inc. and subsidiaries", "BCM5720", "Broadcom BCM5720"},
        {"Kestrel Technology Group", "K1", "Kestrel K1"},
        {"Marvell, Inc.", "88E8056", "Marvell 88E8056"},
        {"Qualcomm Atheros", "QCA6174", "Qualcomm Atheros QCA6174"},
        {" Corporation", "X", " Corporation X"}, // a cut at the very start leaves no name
        {"Kestrel Inc.", "Kestrel K2", "Kestrel K2"},
        {"", "Bare", "Bare"},
    };
    hw::Info i;
    i.present = true;
    i.driver = "stmmac";
    for (const auto& [vendor, product, want] : cases) {
        i.vendor = vendor;
        i.product = product;
        EXPECT_EQ(hw::summary(i), want) << vendor;
    }
    i.product.clear(); // no product: the driver names it
    EXPECT_EQ(hw::summary(i), "stmmac");
}

TEST(HwPieces, DriverInfoPortsAndModes) {
    hw::Info info;
    hw::apply_drvinfo(info, "e1000e", "1.0", "N/A");
    EXPECT_EQ(info.driver + "|" + info.driver_version + "|" + info.firmware, "e1000e||");
    info.driver_version = "from-module";
    hw::apply_drvinfo(info, "other", "", "0.13-4");
    EXPECT_EQ(info.driver + "|" + info.driver_version + "|" + info.firmware,
              "e1000e|from-module|0.13-4");
    hw::apply_drvinfo(info, "other", "6.1.0-k", "");
    EXPECT_EQ(info.driver_version, "6.1.0-k");

    // The kernel's own port numbering; "none" and "other" have no name to show.
    EXPECT_EQ(hw::port_name(PORT_FIBRE), "FIBRE");
    EXPECT_EQ(hw::port_name(PORT_OTHER), "");

    std::vector<std::string> names = {
        "10baseT/Half",   "10baseT/Full",   "100baseT/Half", "100baseT/Full",
        "1000baseT/Half", "1000baseT/Full", "Autoneg",       "TP",
        "Backplane"};
    names.resize(34, "Pause");
    names[33] = "40000baseSR4/Full";
    // Bits 0, 1, 5 (media), 6, 7, 8 (not media), 33 (second word), 40 (beyond the names).
    const uint32_t mask[2] = {0x1e3, (1u << 1) | (1u << 8)};
    EXPECT_EQ(hw::mode_list(names, mask, 2),
              (std::vector<std::string>{"10baseT", "1000baseT", "40000baseSR4"}));
    EXPECT_EQ(hw::mode_list(names, mask, 1), (std::vector<std::string>{"10baseT", "1000baseT"}));
}

std::string ethtool_fields(const hw::Info& i) {
    return i.driver + "|" + i.driver_version + "|" + i.firmware + "|" + i.perm_mac + "|" +
           i.autoneg + "|" + i.port + "|" + std::to_string(i.modes_supported.size());
}

TEST(HwKernel, EthtoolAnswersOfVirtualDevices) {
    ENTER_PRIVATE_NETNS_OR_SKIP();
    ASSERT_TRUE(testsupport::sh("ip link add v0 type veth peer name v1"));
    ASSERT_TRUE(testsupport::sh("ip link add br0 type bridge"));

    // veth: no device link, so the driver comes from ethtool; its placeholder version
    // "1.0" is dropped; no firmware, no permanent address; twisted pair without autoneg.
    hw::Info v = hw::query("v0");
    EXPECT_EQ(ethtool_fields(v), "veth||||off|TP|0");
    EXPECT_FALSE(v.present);
    EXPECT_EQ(v.txqueuelen, 1000);
    EXPECT_GE(v.rx_queues, 1);
    // A bridge has a real version and a port of type "other", which has no name; loopback
    // answers neither driver info nor link settings.
    hw::Info b = hw::query("br0");
    EXPECT_NE(b.driver_version, "");
    EXPECT_EQ(ethtool_fields(b), "bridge|" + b.driver_version + "|||off||0");
    EXPECT_EQ(ethtool_fields(hw::query("lo")), "||||||0");

    // The link-mode names come from the kernel's own table, in bit order.
    auto names = hw::link_mode_names("v0");
    ASSERT_GT(names.size(), 40u);
    EXPECT_EQ(names[0], "10baseT/Half");
    EXPECT_EQ(names[ETHTOOL_LINK_MODE_1000baseT_Full_BIT], "1000baseT/Full");

    // Names the kernel does not know, or that cannot be a name, change nothing.
    hw::Info none;
    hw::read_ethtool("nosuchdev0", none);
    hw::read_ethtool("a-name-longer-than-ifnamsiz", none);
    EXPECT_EQ(ethtool_fields(none), "||||||0");
    EXPECT_TRUE(hw::link_mode_names("nosuchdev0").empty());
}

TEST(HwKernel, SystemPciIdsParsedOnce) {
    unsetenv("SNAP");
    unsetenv("APPDIR");
    unsetenv("FLATPAK_ID");
    hw::reset_databases();
    const std::string intel = hw::lookup(hw::Db::Pci, hw::Table::Vendors, "8086");
    const auto stats = hw::db_stats(hw::Db::Pci);
    if (stats.path.empty()) GTEST_SKIP() << "no pci.ids installed (setup.sh installs it)";
    EXPECT_EQ(intel, "Intel Corporation");
    EXPECT_GT(stats.entries, 20000u);
    EXPECT_FALSE(hw::lookup(hw::Db::Pci, hw::Table::Devices, "8086:100e").empty());
    EXPECT_EQ(hw::lookup(hw::Db::Pci, hw::Table::Vendors, "C 02"), "") << "classes are not vendors";
    EXPECT_EQ(hw::db_stats(hw::Db::Pci).parses, 1);
}

TEST(HwDbThreads, ConcurrentFirstLookupsLoadOnce) {
    testsupport::TempDir snap;
    testsupport::write_file(snap.path() + "/usr/share/hwdata/pci.ids",
                            testsupport::read_file(fixture("hw/ids/pci.ids")));
    setenv("SNAP", snap.path().c_str(), 1);
    hw::reset_databases();
    std::vector<std::string> got(8);
    {
        std::vector<std::jthread> threads;
        for (size_t i = 0; i < got.size(); ++i)
            threads.emplace_back([&got, i] {
                for (int n = 0; n < 50; ++n) {
                    got[i] = hw::lookup(hw::Db::Pci, hw::Table::Devices, "1b44:0002");
                    hw::db_stats(hw::Db::Pci);
                }
            });
    }
    unsetenv("SNAP");
    for (const auto& g : got) EXPECT_EQ(g, "HS-2 Dual Port");
    EXPECT_EQ(hw::db_stats(hw::Db::Pci).parses, 1);
}

} // namespace
