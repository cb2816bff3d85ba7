// Network interfaces: the cheap per-tick counter reading and the full interface scan
// (state, link, addresses, default routes, kind, wireless and hardware details).
#pragma once

#include "hw_info.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace net {

struct Counters {
    uint64_t rx_bytes = 0;
    uint64_t tx_bytes = 0;
    uint64_t rx_packets = 0;
    uint64_t tx_packets = 0;
    uint64_t rx_errors = 0;
    uint64_t tx_errors = 0;
    uint64_t rx_dropped = 0;
    uint64_t tx_dropped = 0;
    uint64_t multicast = 0;
    uint64_t collisions = 0;
};

struct CounterSample {
    double t = 0;
    std::vector<std::string> names;
    std::vector<Counters> values;
};

enum class Kind {
    Ethernet = 0,
    Wireless = 1,
    Mobile = 2,
    Bond = 3,
    Bridge = 4,
    Vlan = 5,
    Vpn = 6,
    Tunnel = 7,
    Virtual = 8,
    Loopback = 9,
    Other = 10,
};

struct Interface {
    std::string name;
    Kind kind = Kind::Other;
    std::string detail;
    int ifindex = 0;
    bool admin_up = false;
    bool carrier = false;
    std::string operstate;
    int64_t speed_mbps = -1;
    std::string duplex;
    int mtu = 0;
    std::string mac;
    std::string driver;
    std::string bus;
    std::string master;
    std::string master_kind;
    std::vector<std::string> members;
    std::string bond_mode;
    std::string bond_active;
    std::string bond_mii;
    std::string slave_state;
    int vlan_id = -1;
    std::string vlan_parent;
    std::vector<std::string> ipv4;
    std::vector<std::string> ipv6;
    bool default_route = false;
    std::string gateway;
    std::string ssid;
    int freq_mhz = 0;
    int signal_dbm = 0;
    int tx_bitrate_kbps = 0;
    int rx_bitrate_kbps = 0;
    bool counts_in_total = false;
    bool present = true;
    hw::Info hw;
};

// One entry of the kernel's address list, as getifaddrs reports it. The scan takes these
// as a plain list so that tests can hand in the list that belongs to a fixture tree.
struct IfAddr {
    std::string name;
    unsigned flags = 0;
    int family = 0; // AF_INET, AF_INET6, or anything else (ignored)
    bool has_addr = false;
    bool has_mask = false;
    std::array<uint8_t, 16> addr{};
    std::array<uint8_t, 16> mask{};
};

// Monotonic clock in seconds; every time stamp of the data collection uses it.
double monotonic_seconds();

// Reads "/proc/net/dev" into `out` (its vectors are cleared, their storage kept).
// False only when the file cannot be opened; `t` is then unchanged.
bool read_counters(CounterSample* out, const std::string& root = "");

// The kernel's address list (empty when getifaddrs fails).
std::vector<IfAddr> read_ifaddrs();

// What a scan fills in. The program always wants everything; `Basic` leaves out the
// wireless and hardware queries so that benchmarks can weigh them.
enum class Details { All, Basic };

// Full description of every interface, sorted by name. Never fails.
std::vector<Interface> scan_interfaces(const std::string& root = "");
std::vector<Interface> scan_interfaces(const std::string& root, const std::vector<IfAddr>& addrs,
                                       Details details = Details::All);

// The parsers behind the readers above, taking the files' text (tests and fuzzers feed
// them directly). `list` must be sorted by name.
void parse_counters(std::string_view text, CounterSample* out);
void apply_routes(std::vector<Interface>& list, std::string_view route,
                  std::string_view ipv6_route);

// Translation key of a kind ("kind.ethernet" ...); "kind.other" for anything unknown.
const char* kind_key(Kind kind);

} // namespace net
