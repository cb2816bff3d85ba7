// Hardware details of the device behind a network interface: bus, ids and names from the
// system's pci.ids/usb.ids, driver and firmware, PCIe link, queues, temperature and the
// link modes reported by ethtool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hw {

struct Info {
    bool present = false;
    std::string bus;
    std::string address;
    std::string vendor;
    std::string product;
    std::string subsystem;
    std::string ids;
    std::string driver;
    std::string driver_version;
    std::string firmware;
    std::string pcie_now;
    std::string pcie_max;
    int numa = -1;
    int irqs = 0;
    int rx_queues = 0;
    int tx_queues = 0;
    int txqueuelen = 0;
    int64_t carrier_changes = -1;
    double temp_c = -1000.0;
    std::string usb_speed;
    std::string perm_mac;
    std::string port;
    std::string autoneg;
    std::vector<std::string> modes_supported;
    std::vector<std::string> modes_advertised;
    std::vector<std::string> modes_partner;
    std::string phy;
};

// Everything known about the device behind `ifname`. `root` prefixes every sysfs path
// (tests point it at a fixture tree); production callers leave it empty.
Info query(const std::string& ifname, const std::string& root = "");

// One short device name for the interface cards, empty for virtual devices.
std::string summary(const Info& info);

} // namespace hw
