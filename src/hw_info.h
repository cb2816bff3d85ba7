// Hardware details of the device behind a network interface: bus, ids and names from the
// system's pci.ids/usb.ids, driver and firmware, PCIe link, queues, temperature and the
// link modes reported by ethtool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
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
// (tests point it at a fixture tree); production callers leave it empty. With a non-empty
// root the ethtool requests are not made: the live kernel's answer for that name would
// describe this machine rather than the tree.
Info query(const std::string& ifname, const std::string& root = "");

// One short device name for the interface cards, empty for virtual devices.
std::string summary(const Info& info);

// ---- Identifier databases (pci.ids, usb.ids) ------------------------------------------

// Keys are ids as the database writes them (4 lower-case hex digits): vendor; vendor:device;
// vendor:device:subvendor:subdevice.
struct IdDb {
    bool loaded = false;
    std::string path;
    std::map<std::string, std::string> vendors;
    std::map<std::string, std::string> devices;
    std::map<std::string, std::string> subsystems;
};

enum class Db { Pci, Usb };
enum class Table { Vendors, Devices, Subsystems };

// Adds the entries of a database text to `db`; stops at the class section.
void parse_ids(std::string_view text, IdDb& db);

// The files tried for a database, in order, under the current environment (SNAP, APPDIR
// and FLATPAK_ID prefixes first, then the system paths).
std::vector<std::string> db_candidates(Db which);

// The name for `key`, or empty. The first lookup in a database loads it, once per process.
std::string lookup(Db which, Table table, const std::string& key);

struct DbStats {
    bool loaded = false;
    std::string path; // the file that was read; empty when none opened
    size_t entries = 0;
    int parses = 0; // how often a file was read for this database in this process
};
DbStats db_stats(Db which);

// Test and benchmark hooks: forget both databases so the next lookup searches again, or
// replace one with the contents of `path` (marked loaded even when the file is missing).
void reset_databases();
void use_database(Db which, const std::string& path);

// ---- Pieces of query, exposed for tests ------------------------------------------------

// PCIe link text: "8.0 GT/s PCIe" and "4" give "8.0 GT/s x4"; unknown links give "".
std::string link_text(std::string speed, const std::string& width);

// Applies an ETHTOOL_GDRVINFO answer: drivers that never set a version report "1.0", and
// "N/A" is the placeholder of drivers without firmware.
void apply_drvinfo(Info& info, std::string_view driver, std::string_view version,
                   std::string_view firmware);

// Name of an ethtool port byte (PORT_TP ...), empty for none/other.
std::string port_name(int port);

// The media of the set bits of one link-mode mask: names containing "base", cut at "/"
// (the duplex), each once, in bit order.
std::vector<std::string> mode_list(const std::vector<std::string>& names, const uint32_t* mask,
                                   size_t nwords);

// The ethtool part of query for a live interface: driver info, permanent address, link
// settings and link modes. Fields of failing requests are left alone.
void read_ethtool(const std::string& ifname, Info& info);

// The kernel's link-mode names (index = bit number); empty when the request fails.
std::vector<std::string> link_mode_names(const std::string& ifname);

} // namespace hw
