// Hardware details: id databases, sysfs fixture trees, the summary, and the live kernel's
// ethtool answers for devices made in a private network namespace.
#include "hw_info.h"
#include "support/support.h"

#include <chrono>
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

TEST(HwIdDb, ParsesUntilTheClassSection) {
    hw::IdDb pci;
    hw::parse_ids(testsupport::read_file(fixture("hw/ids/pci.ids")), pci);
    EXPECT_EQ(pci.vendors.size(), 3u) << "short lines and vendors after the classes are skipped";
    EXPECT_EQ(pci.vendors.count("ffee"), 0u);
    EXPECT_EQ(pci.vendors["1b44"], "Halvard Systems Corporation");
    EXPECT_EQ(pci.devices["1af0:1533"], "NB210 Gigabit Network Connection");
    EXPECT_EQ(pci.devices["1b44:0002"], "HS-2 Dual Port");
    EXPECT_EQ(pci.subsystems.size(), 3u);
    EXPECT_EQ(pci.subsystems["1af0:10d3:1af0:a01f"], "NB5710 Desktop Adapter");
    EXPECT_EQ(pci.subsystems["1af0:1533:7777:0001"], "Mystery Board");
    EXPECT_EQ(pci.subsystems["10ec:8168:10ec:8168"], "short");

    hw::IdDb usb;
    hw::parse_ids(testsupport::read_file(fixture("hw/ids/usb.ids")), usb);
    EXPECT_EQ(usb.vendors.size(), 1u);
    EXPECT_EQ(usb.devices.size(), 2u) << "class, HID and audio tables are not devices";
    EXPECT_EQ(usb.devices["2c7a:0200"], "KU200 Fast Ethernet");

    // Hostile text: a device line before any vendor, lines cut inside the id or before
    // the name, no final newline.
    hw::IdDb odd;
    hw::parse_ids("\t12\n\t1234  Orphan\nabcd  V\n\t12\n\t\t1234 56\n\t5678\nbeef  Last", odd);
    EXPECT_EQ(odd.devices[":1234"], "Orphan");
    EXPECT_EQ(odd.devices["abcd:12"], "");
    EXPECT_EQ(odd.devices["abcd:5678"], "");
    EXPECT_TRUE(odd.subsystems.empty());
    EXPECT_EQ(odd.vendors["beef"], "Last");
}

TEST(HwIdDb, SearchPathsAndLoadingOnce) {
    unsetenv("SNAP");
    unsetenv("APPDIR");
    unsetenv("FLATPAK_ID");
    EXPECT_EQ(hw::db_candidates(hw::Db::Pci),
              (std::vector<std::string>{"/usr/share/hwdata/pci.ids", "/usr/share/misc/pci.ids",
                                        "/usr/share/pci.ids"}));
    setenv("SNAP", "/snap/velmora/7", 1);
    setenv("FLATPAK_ID", "org.example.Velmora", 1);
    const auto usb = hw::db_candidates(hw::Db::Usb);
    ASSERT_EQ(usb.size(), 12u);
    EXPECT_EQ(usb[0], "/snap/velmora/7/usr/share/hwdata/usb.ids");
    EXPECT_EQ(usb[3], "/snap/velmora/7/var/lib/usbutils/usb.ids");
    EXPECT_EQ(usb[4], "/app/share/hwdata/usb.ids");
    EXPECT_EQ(usb[7], "/app/lib/usbutils/usb.ids");
    EXPECT_EQ(usb[8], "/usr/share/hwdata/usb.ids");
    unsetenv("FLATPAK_ID");

    // Every SNAP path comes before any APPDIR path, whatever table position they hold.
    testsupport::TempDir snap, appdir;
    snap.write("usr/share/misc/pci.ids", "1af0  From Snap\n");
    appdir.write("usr/share/hwdata/pci.ids", "1af0  From AppImage\n");
    setenv("SNAP", snap.path().c_str(), 1);
    setenv("APPDIR", appdir.path().c_str(), 1);
    hw::reset_databases();
    EXPECT_FALSE(hw::db_stats(hw::Db::Pci).loaded);
    EXPECT_EQ(hw::lookup(hw::Db::Pci, hw::Table::Vendors, "1af0"), "From Snap");
    EXPECT_EQ(hw::lookup(hw::Db::Pci, hw::Table::Devices, "1af0:0001"), "");
    auto stats = hw::db_stats(hw::Db::Pci);
    EXPECT_EQ(stats.path, snap.path() + "/usr/share/misc/pci.ids");
    EXPECT_EQ(stats.parses, 1);
    EXPECT_EQ(stats.entries, 1u);
    EXPECT_FALSE(hw::db_stats(hw::Db::Usb).loaded) << "each database loads on its own first use";
    unsetenv("SNAP");
    unsetenv("APPDIR");

    // A database that cannot be read stays empty and is not searched again.
    hw::use_database(hw::Db::Pci, "/nonexistent/pci.ids");
    EXPECT_EQ(hw::lookup(hw::Db::Pci, hw::Table::Vendors, "8086"), "");
    stats = hw::db_stats(hw::Db::Pci);
    EXPECT_TRUE(stats.loaded);
    EXPECT_EQ(stats.parses, 0);
    EXPECT_EQ(stats.path, "");
}

TEST(HwFixture, PciNics) {
    use_fixture_databases();
    // nic0: PCIe link with " PCIe" suffixes, subsystem entry, revision, MSI vectors,
    // hwmon temperature, module version, hidden queue entry.
    hw::Info a = hw::query("nic0", kTree);
    EXPECT_TRUE(a.present);
    EXPECT_EQ(a.bus, "PCI");
    EXPECT_EQ(a.address, "0000:03:00.0");
    EXPECT_EQ(a.ids, "1af0:10d3 rev 03");
    EXPECT_EQ(a.vendor, "Nortbrook Semiconductor Co., Ltd.");
    EXPECT_EQ(a.product, "NB5710 Gigabit Network Connection");
    EXPECT_EQ(a.subsystem, "Nortbrook Semiconductor Co., Ltd. NB5710 Desktop Adapter");
    EXPECT_EQ(a.pcie_now, "8.0 GT/s x4");
    EXPECT_EQ(a.pcie_max, "16.0 GT/s x8");
    EXPECT_EQ(a.numa, 0);
    EXPECT_EQ(a.irqs, 3);
    EXPECT_EQ(a.rx_queues, 2);
    EXPECT_EQ(a.tx_queues, 3);
    EXPECT_EQ(a.txqueuelen, 1000);
    EXPECT_EQ(a.carrier_changes, 4);
    EXPECT_DOUBLE_EQ(a.temp_c, 48.5) << "first hwmon* entry with a reading";
    EXPECT_EQ(a.driver, "nbgbe");
    EXPECT_EQ(a.driver_version, "3.2.1-k");
    EXPECT_EQ(a.phy, "");
    EXPECT_EQ(hw::summary(a), "Nortbrook NB5710 Gigabit Network Connection");

    // nic1: vendor without "0x", no revision, subsystem vendor differs and has no entry,
    // link speed Unknown and width 0, legacy interrupt only, no NUMA node.
    hw::Info b = hw::query("nic1", kTree);
    EXPECT_EQ(b.ids, "10ec:8168");
    EXPECT_EQ(b.subsystem, "Halvard Systems Corporation");
    EXPECT_EQ(b.pcie_now, "");
    EXPECT_EQ(b.pcie_max, "");
    EXPECT_EQ(b.irqs, 1);
    EXPECT_EQ(b.numa, -1);
    EXPECT_EQ(b.temp_c, -1000.0);
    EXPECT_EQ(b.driver_version, "") << "no module version file";
    EXPECT_EQ(b.carrier_changes, -1);
    EXPECT_EQ(hw::summary(b), "Kestrel Microsystems KM8168 PCI Express Gigabit Ethernet");

    // nic2: subsystem entry under an unknown subsystem vendor; plain PCI, irq 0.
    hw::Info c = hw::query("nic2", kTree);
    EXPECT_EQ(c.subsystem, "Mystery Board");
    EXPECT_EQ(c.pcie_now, "") << "no link files is no link, not \" x\"";
    EXPECT_EQ(c.irqs, 0);
    EXPECT_EQ(c.driver, "");

    // nic3: device unknown to the database, same subsystem vendor.
    hw::Info d = hw::query("nic3", kTree);
    EXPECT_EQ(d.product, "");
    EXPECT_EQ(d.subsystem, "");
    EXPECT_EQ(hw::summary(d), "PCI 1af0:9999 rev 01");
}

TEST(HwFixture, UsbAdapters) {
    // usb0 has manufacturer and product files; usb1 has neither.
    use_fixture_databases();
    hw::Info a = hw::query("usb0", kTree);
    EXPECT_TRUE(a.present);
    EXPECT_EQ(a.bus, "USB");
    EXPECT_EQ(a.address, "2-1:1.0");
    EXPECT_EQ(a.ids, "2c7a:0153");
    EXPECT_EQ(a.vendor, "Kestrel");
    EXPECT_EQ(a.product, "USB 10/100/1000 LAN");
    EXPECT_EQ(a.usb_speed, "5000 Mbit/s");
    EXPECT_EQ(a.driver, "kusbnet");
    EXPECT_EQ(hw::summary(a), "Kestrel USB 10/100/1000 LAN");

    hw::Info b = hw::query("usb1", kTree);
    EXPECT_EQ(b.vendor, "Kestrel Microsystems Corp.");
    EXPECT_EQ(b.product, "KU200 Fast Ethernet");
    EXPECT_EQ(b.usb_speed, "480 Mbit/s");
    EXPECT_EQ(hw::summary(b), "Kestrel Microsystems KU200 Fast Ethernet");

    // Without a USB database the adapter's own strings still name it; the other falls
    // back to bus and ids.
    hw::use_database(hw::Db::Usb, "/nonexistent/usb.ids");
    EXPECT_EQ(hw::summary(hw::query("usb0", kTree)), "Kestrel USB 10/100/1000 LAN");
    EXPECT_EQ(hw::summary(hw::query("usb1", kTree)), "USB 2c7a:0200");
}

TEST(HwFixture, VirtualOtherBusAndMissing) {
    use_fixture_databases();
    // veth0: no device link at all.
    hw::Info v = hw::query("veth0", kTree);
    EXPECT_FALSE(v.present);
    EXPECT_EQ(v.bus, "");
    EXPECT_EQ(v.rx_queues, 1);
    EXPECT_EQ(v.tx_queues, 1);
    EXPECT_EQ(v.txqueuelen, 1000);
    EXPECT_EQ(v.carrier_changes, 2);
    EXPECT_EQ(hw::summary(v), "");

    // wlan0: an SDIO card keeps the subsystem name and its modalias; no product name,
    // so the driver names it.
    hw::Info w = hw::query("wlan0", kTree);
    EXPECT_TRUE(w.present);
    EXPECT_EQ(w.bus, "sdio");
    EXPECT_EQ(w.ids, "sdio:c00v02D0dA9A6");
    EXPECT_EQ(w.phy, "phy0");
    EXPECT_EQ(hw::summary(w), "fxwifi");

    hw::Info none = hw::query("gone0", kTree);
    EXPECT_FALSE(none.present);
    EXPECT_EQ(none.txqueuelen, 0);
    EXPECT_EQ(none.carrier_changes, -1);
    EXPECT_EQ(none.numa, -1);
    EXPECT_EQ(none.temp_c, -1000.0);
}

TEST(HwSummary, VendorShortening) {
    struct Case {
        const char* vendor;
        const char* product;
        const char* want;
    } cases[] = {
        {"Intel Corporation", "I210 Gigabit", "Intel I210 Gigabit"},
        {"Realtek Semiconductor Co., Ltd.", "RTL8125", "Realtek RTL8125"},
        {"Broadcom Inc. and subsidiaries", "BCM5720", "Broadcom BCM5720"},
        {"Aquantia Corp.", "AQC107", "Aquantia AQC107"},
        {"Mellanox Technologies", "MT27800", "Mellanox Technologies MT27800"},
        {"Kestrel Technology Group", "K1", "Kestrel K1"},
        {"Qualcomm Atheros", "QCA6174", "Qualcomm Atheros QCA6174"},
        {"Marvell, Inc.", "88E8056", "Marvell 88E8056"},
        {" Corporation", "X", " Corporation X"}, // a cut at the very start is no name
        {"Kestrel Inc.", "Kestrel K2 Adapter", "Kestrel K2 Adapter"},
        {"", "Bare Product", "Bare Product"},
    };
    for (const auto& c : cases) {
        hw::Info i;
        i.present = true;
        i.bus = "PCI";
        i.vendor = c.vendor;
        i.product = c.product;
        EXPECT_EQ(hw::summary(i), c.want) << c.vendor;
    }
    hw::Info i;
    i.present = true;
    i.bus = "platform";
    i.driver = "stmmac";
    EXPECT_EQ(hw::summary(i), "stmmac");
    i.present = false;
    i.product = "Named";
    EXPECT_EQ(hw::summary(i), "");
}

TEST(HwPieces, LinkTextDriverInfoPortsAndModes) {
    EXPECT_EQ(hw::link_text("5.0 GT/s PCIe", "1"), "5.0 GT/s x1");
    EXPECT_EQ(hw::link_text("2.5 GT/s", "16"), "2.5 GT/s x16");
    EXPECT_EQ(hw::link_text("Unknown PCIe", "4"), "");
    EXPECT_EQ(hw::link_text("8.0 GT/s PCIe", "0"), "");
    EXPECT_EQ(hw::link_text("", ""), "");

    hw::Info info;
    hw::apply_drvinfo(info, "e1000e", "1.0", "N/A");
    EXPECT_EQ(info.driver, "e1000e");
    EXPECT_EQ(info.driver_version, "");
    EXPECT_EQ(info.firmware, "");
    info.driver_version = "from-module";
    hw::apply_drvinfo(info, "other", "", "0.13-4");
    EXPECT_EQ(info.driver, "e1000e") << "the sysfs driver name is kept";
    EXPECT_EQ(info.driver_version, "from-module");
    EXPECT_EQ(info.firmware, "0.13-4");
    hw::apply_drvinfo(info, "other", "6.1.0-k", "");
    EXPECT_EQ(info.driver_version, "6.1.0-k");
    EXPECT_EQ(info.firmware, "0.13-4");

    // The kernel's own port numbering.
    EXPECT_EQ(hw::port_name(PORT_TP), "TP");
    EXPECT_EQ(hw::port_name(PORT_AUI), "AUI");
    EXPECT_EQ(hw::port_name(PORT_MII), "MII");
    EXPECT_EQ(hw::port_name(PORT_FIBRE), "FIBRE");
    EXPECT_EQ(hw::port_name(PORT_BNC), "BNC");
    EXPECT_EQ(hw::port_name(PORT_DA), "DA");
    EXPECT_EQ(hw::port_name(PORT_NONE), "");
    EXPECT_EQ(hw::port_name(PORT_OTHER), "");

    std::vector<std::string> names = {
        "10baseT/Half",   "10baseT/Full",   "100baseT/Half", "100baseT/Full",
        "1000baseT/Half", "1000baseT/Full", "Autoneg",       "TP",
        "Backplane",      "Pause"};
    names.resize(34, "Asym_Pause");
    names[33] = "40000baseSR4/Full";
    // Bits 0, 1, 5 (media), 6, 7, 8 (not media), 33 (second word), 40 (beyond the names).
    const uint32_t mask[2] = {(1u << 0) | (1u << 1) | (1u << 5) | (1u << 6) | (1u << 7) | (1u << 8),
                              (1u << 1) | (1u << 8)};
    EXPECT_EQ(hw::mode_list(names, mask, 2),
              (std::vector<std::string>{"10baseT", "1000baseT", "40000baseSR4"}));
    EXPECT_EQ(hw::mode_list(names, mask, 1), (std::vector<std::string>{"10baseT", "1000baseT"}));
    EXPECT_TRUE(hw::mode_list({}, mask, 2).empty());
}

TEST(HwKernel, VethAndDummyThroughEthtool) {
    if (auto why = testsupport::enter_private_netns(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(testsupport::sh("ip link add v0 type veth peer name v1"));
    ASSERT_TRUE(testsupport::sh("ip link add br0 type bridge"));

    // veth: driver from ethtool (no device link), its placeholder version "1.0" dropped,
    // no firmware, no permanent address, fixed twisted-pair link without autoneg.
    hw::Info v = hw::query("v0");
    EXPECT_FALSE(v.present);
    EXPECT_EQ(v.driver, "veth");
    EXPECT_EQ(v.driver_version, "");
    EXPECT_EQ(v.firmware, "");
    EXPECT_EQ(v.perm_mac, "");
    EXPECT_EQ(v.autoneg, "off");
    EXPECT_EQ(v.port, "TP");
    EXPECT_TRUE(v.modes_supported.empty());
    EXPECT_EQ(v.txqueuelen, 1000);
    EXPECT_GE(v.rx_queues, 1);
    EXPECT_GE(v.tx_queues, 1);
    EXPECT_EQ(hw::summary(v), "");

    // A bridge has a real version and a port of type "other", which has no name.
    hw::Info b = hw::query("br0");
    EXPECT_EQ(b.driver, "bridge");
    EXPECT_NE(b.driver_version, "");
    EXPECT_EQ(b.autoneg, "off");
    EXPECT_EQ(b.port, "");
    // Loopback answers neither driver info nor link settings.
    hw::Info lo = hw::query("lo");
    EXPECT_EQ(lo.driver, "");
    EXPECT_EQ(lo.autoneg, "");
    EXPECT_EQ(lo.port, "");

    // The link-mode names come from the kernel's own table, in bit order.
    auto names = hw::link_mode_names("v0");
    ASSERT_GT(names.size(), 40u);
    EXPECT_EQ(names[0], "10baseT/Half");
    EXPECT_EQ(names[ETHTOOL_LINK_MODE_1000baseT_Full_BIT], "1000baseT/Full");

    // Requests for names the kernel does not know, or cannot hold, change nothing.
    hw::Info none;
    hw::read_ethtool("nosuchdev0", none);
    hw::read_ethtool("a-name-longer-than-ifnamsiz", none);
    EXPECT_EQ(none.driver, "");
    EXPECT_EQ(none.autoneg, "");
    EXPECT_TRUE(hw::link_mode_names("nosuchdev0").empty());
}

TEST(HwKernel, ListShowsNoWirelessFieldsForWiredDevices) {
    if (auto why = testsupport::enter_private_netns(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(testsupport::sh("ip link add v0 type veth peer name v1"));
    ASSERT_TRUE(testsupport::sh("ip link add br0 type bridge && ip link set br0 up"));
    auto r = testsupport::run(testsupport::velmora_bin(), {"--list"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char* name : {"lo ", "v0 ", "v1 ", "br0 "})
        EXPECT_NE(("\n" + r.out).find(std::string("\n") + name), std::string::npos)
            << name << " in\n"
            << r.out;
    EXPECT_EQ(r.out.find("ssid="), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("signal="), std::string::npos) << r.out;
}

TEST(HwKernel, SystemPciIdsParsedOnce) {
    unsetenv("SNAP");
    unsetenv("APPDIR");
    unsetenv("FLATPAK_ID");
    hw::reset_databases();
    auto t0 = std::chrono::steady_clock::now();
    std::string intel = hw::lookup(hw::Db::Pci, hw::Table::Vendors, "8086");
    auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0);
    auto stats = hw::db_stats(hw::Db::Pci);
    if (stats.path.empty()) GTEST_SKIP() << "no pci.ids installed (setup.sh installs it)";
    printf("pci.ids: %s, %zu entries, loaded in %.1f ms\n", stats.path.c_str(), stats.entries,
           ms.count());
    RecordProperty("pci_ids_entries", static_cast<int>(stats.entries));
    RecordProperty("pci_ids_load_ms", static_cast<int>(ms.count()));
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
    std::vector<std::thread> threads;
    std::vector<std::string> got(8);
    for (size_t i = 0; i < got.size(); ++i) {
        threads.emplace_back([&got, i] {
            for (int n = 0; n < 50; ++n) {
                got[i] = hw::lookup(hw::Db::Pci, hw::Table::Devices, "1b44:0002");
                hw::db_stats(hw::Db::Pci);
            }
        });
    }
    for (auto& t : threads) t.join();
    unsetenv("SNAP");
    for (const auto& g : got) EXPECT_EQ(g, "HS-2 Dual Port");
    EXPECT_EQ(hw::db_stats(hw::Db::Pci).parses, 1);
}

} // namespace
