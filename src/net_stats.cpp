// Interface discovery, counters, default routes and classification.
//
// Sections: file helpers · counter parsing · classification · scan · routes ·
// public entry points.

#include "net_stats.h"

#include "sysfs.h"
#include "wifi_info.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ifaddrs.h>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace net {
namespace {

// ---- file helpers -------------------------------------------------------------------

// First line with trailing spaces, carriage returns and line feeds removed (tabs stay).
std::string read_line(const std::string& path) {
    std::string s = sysfs::first_line(path);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
}

long read_long(const std::string& path, long fallback) {
    std::string s = read_line(path);
    if (s.empty()) return fallback;
    char* end = nullptr;
    errno = 0;
    long v = strtol(s.c_str(), &end, 10);
    if (end == s.c_str()) return fallback;
    return v;
}

// ---- counter parsing -------------------------------------------------------------------

// Parses up to `want` unsigned decimal numbers separated by blanks, as "%llu" would.
int parse_u64s(const char* p, const char* end, uint64_t* out, int want) {
    int got = 0;
    while (got < want) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (p >= end || *p < '0' || *p > '9') break;
        uint64_t v = 0;
        while (p < end && *p >= '0' && *p <= '9') v = v * 10 + static_cast<uint64_t>(*p++ - '0');
        out[got++] = v;
    }
    return got;
}

// ---- classification -----------------------------------------------------------------

constexpr const char* kMobileDrivers[] = {
    "qmi_wwan",       "cdc_mbim", "rndis_host", "ipheth",     "cdc_ncm",
    "huawei_cdc_ncm", "mhi_net",  "option",     "sierra_net", "cdc_ether_wwan",
};

bool is_mobile_driver(const std::string& driver) {
    for (const char* d : kMobileDrivers)
        if (driver == d) return true;
    return false;
}

bool starts_with(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::string uevent_devtype(const std::string& path) {
    std::string text = sysfs::read_file(path, 65536);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        if (text.compare(pos, 8, "DEVTYPE=") == 0) return text.substr(pos + 8, nl - pos - 8);
        pos = nl + 1;
    }
    return {};
}

void read_vlan(Interface& r, const std::string& root, const std::string& P) {
    std::string text = sysfs::read_file(root + "/proc/net/vlan/" + r.name, 65536);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        size_t v = line.find("VID:");
        if (v != std::string::npos)
            r.vlan_id = static_cast<int>(strtol(line.c_str() + v + 4, nullptr, 10));
        size_t d = line.find("Device:");
        if (d != std::string::npos) {
            auto words = sysfs::split_ws(line.substr(d + 7));
            if (!words.empty()) r.vlan_parent = words[0];
        }
    }
    if (r.vlan_id < 0) {
        // Only a number after the last dot is an id: "guest.lan" is a name like any other,
        // and its parent comes from the lower_ link below.
        const size_t dot = r.name.rfind('.');
        int id = -1;
        if (dot != std::string::npos) {
            const char* first = r.name.data() + dot + 1;
            const char* last = r.name.data() + r.name.size();
            const bool digits = first != last && std::all_of(first, last, [](char c) {
                                    return c >= '0' && c <= '9';
                                });
            if (!digits || std::from_chars(first, last, id).ec != std::errc()) id = -1;
        }
        if (id >= 0) {
            r.vlan_id = id;
            r.vlan_parent = r.name.substr(0, dot);
        }
    }
    if (r.vlan_parent.empty()) {
        for (const auto& e : sysfs::list_dir(P))
            if (starts_with(e, "lower_")) r.vlan_parent = e.substr(6);
    }
    r.detail = r.vlan_id >= 0 ? "VLAN " + std::to_string(r.vlan_id) : "VLAN";
}

void classify(Interface& r, const std::string& root) {
    const std::string P = root + "/sys/class/net/" + r.name;
    const long type = read_long(P + "/type", 1);
    const std::string devtype = uevent_devtype(P + "/uevent");
    const std::string devpath = sysfs::link_target(P);
    bool virt = false;
    if (devpath.find("/virtual/") != std::string::npos) {
        r.bus = "virtual";
        virt = true;
    } else if (devpath.find("/usb") != std::string::npos) {
        r.bus = "usb";
    } else if (devpath.find("/pci") != std::string::npos) {
        r.bus = "pci";
    }
    r.driver = sysfs::basename_of(sysfs::link_target(P + "/device/driver"));

    if (type == 772 || r.name == "lo") {
        r.kind = Kind::Loopback;
    } else if (devtype == "wlan" || sysfs::exists(P + "/wireless") ||
               sysfs::exists(P + "/phy80211")) {
        r.kind = Kind::Wireless;
    } else if (devtype == "bond" || sysfs::exists(P + "/bonding")) {
        r.kind = Kind::Bond;
        auto mode = sysfs::split_ws(read_line(P + "/bonding/mode"));
        r.bond_mode = mode.empty() ? std::string() : mode[0];
        r.bond_active = read_line(P + "/bonding/active_slave");
        r.bond_mii = read_line(P + "/bonding/mii_status");
        r.members = sysfs::split_ws(read_line(P + "/bonding/slaves"));
        r.detail = r.bond_mode;
    } else if (devtype == "bridge" || sysfs::exists(P + "/bridge")) {
        r.kind = Kind::Bridge;
        r.members = sysfs::list_dir(P + "/brif");
    } else if (devtype == "vlan") {
        r.kind = Kind::Vlan;
        read_vlan(r, root, P);
    } else if (devtype == "wireguard") {
        r.kind = Kind::Vpn;
        r.detail = devtype;
    } else if (devtype == "xfrm" || devtype == "vti") {
        r.kind = Kind::Vpn;
        r.detail = "IPsec";
    } else if (devtype == "wwan" || is_mobile_driver(r.driver)) {
        r.kind = Kind::Mobile;
        r.detail = r.driver;
    } else if (devtype == "vxlan") {
        r.kind = Kind::Tunnel;
        r.detail = "VXLAN";
    } else if (devtype == "geneve") {
        r.kind = Kind::Tunnel;
        r.detail = "Geneve";
    } else if (devtype == "gretap" || devtype == "ip6gretap") {
        r.kind = Kind::Tunnel;
        r.detail = "GRE";
    } else if (devtype == "macvlan" || devtype == "macvtap" || devtype == "ipvlan") {
        r.kind = Kind::Virtual;
        r.detail = devtype;
    } else if (sysfs::exists(P + "/tun_flags")) {
        // A TUN device carries no hardware header (ARPHRD_NONE); everything else is TAP.
        if (type == 65534) {
            r.kind = Kind::Vpn;
            r.detail = "TUN";
        } else {
            r.detail = "TAP";
            r.kind = (starts_with(r.name, "zt") || r.name.find("vpn") != std::string::npos)
                         ? Kind::Vpn
                         : Kind::Virtual;
        }
    } else if (type == 768) {
        r.kind = Kind::Tunnel;
        r.detail = "IPIP";
    } else if (type == 280) {
        r.kind = Kind::Other;
        r.detail = "CAN";
    } else if (type == 512) {
        r.kind = Kind::Vpn;
        r.detail = "PPP";
    } else if (type == 32) {
        r.kind = Kind::Other;
        r.detail = "InfiniBand";
    } else if (type == 776) {
        r.kind = Kind::Tunnel;
        r.detail = "SIT";
    } else if (type == 778 || type == 823) {
        r.kind = Kind::Tunnel;
        r.detail = "GRE";
    } else if (type == 769) {
        r.kind = Kind::Tunnel;
        r.detail = "IPv6-in-IPv6";
    } else if (virt) {
        r.kind = Kind::Virtual;
        if (starts_with(r.name, "veth"))
            r.detail = "veth";
        else if (starts_with(r.name, "dummy"))
            r.detail = "dummy";
    } else if (type == 1) {
        r.kind = Kind::Ethernet;
        if (r.bus == "usb") r.detail = "USB";
    } else {
        r.kind = Kind::Other;
    }
}

// ---- scan ---------------------------------------------------------------------------

// IFF_LOWER_UP lives in <linux/if.h>, which clashes with <net/if.h>.
constexpr unsigned kIffLowerUp = 0x10000;

int prefix_bits(const uint8_t* mask, size_t len) {
    int bits = 0;
    for (size_t i = 0; i < len; ++i) bits += __builtin_popcount(mask[i]);
    return bits;
}

Interface scan_one(const std::string& root, const std::string& name,
                   const std::map<std::string, unsigned>& flags) {
    Interface r;
    r.name = name;
    const std::string P = root + "/sys/class/net/" + name;
    auto fl = flags.find(name);

    r.ifindex = static_cast<int>(read_long(P + "/ifindex", 0));
    std::string flag_line = read_line(P + "/flags");
    if (!flag_line.empty())
        r.admin_up = (strtoul(flag_line.c_str(), nullptr, 16) & IFF_UP) != 0;
    else if (fl != flags.end())
        r.admin_up = (fl->second & IFF_UP) != 0;
    r.carrier = read_long(P + "/carrier", 0) == 1;
    r.operstate = read_line(P + "/operstate");
    if (r.operstate.empty() && fl != flags.end()) {
        r.carrier = (fl->second & (IFF_RUNNING | kIffLowerUp)) != 0;
        if (!(fl->second & IFF_UP))
            r.operstate = "down";
        else
            r.operstate = r.carrier ? "up" : "lowerlayerdown";
    }
    if (r.ifindex == 0) r.ifindex = static_cast<int>(if_nametoindex(name.c_str()));
    r.mtu = static_cast<int>(read_long(P + "/mtu", 0));
    r.mac = read_line(P + "/address");
    if (r.mac == "00:00:00:00:00:00") r.mac.clear();
    if (r.carrier) {
        // Without carrier the kernel reports stale or -1 values (or refuses the read).
        r.speed_mbps = read_long(P + "/speed", -1);
        if (r.speed_mbps < 1 || r.speed_mbps > 10000000) r.speed_mbps = -1;
        r.duplex = read_line(P + "/duplex");
    }
    if (r.duplex == "unknown") r.duplex.clear();
    r.master = sysfs::basename_of(sysfs::link_target(P + "/master"));
    if (!r.master.empty()) {
        r.master_kind =
            sysfs::exists(root + "/sys/class/net/" + r.master + "/bonding") ? "bond" : "bridge";
        if (r.master_kind == "bond") r.slave_state = read_line(P + "/bonding_slave/state");
    }
    classify(r, root);
    return r;
}

void add_addresses(std::vector<Interface>& list, const std::vector<IfAddr>& addrs) {
    std::map<std::string, Interface*> by_name;
    for (auto& r : list) by_name[r.name] = &r;
    for (const auto& a : addrs) {
        if (!a.has_addr) continue;
        auto it = by_name.find(a.name);
        // An IPv4 address with a label ("eth0:1") is listed under the label; interface
        // names cannot contain ':', so the text before it names the interface.
        if (it == by_name.end() && a.name.find(':') != std::string::npos)
            it = by_name.find(a.name.substr(0, a.name.find(':')));
        if (it == by_name.end()) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (a.family == AF_INET) {
            inet_ntop(AF_INET, a.addr.data(), text, sizeof text);
            int bits = a.has_mask ? prefix_bits(a.mask.data(), 4) : 0;
            it->second->ipv4.push_back(std::string(text) + "/" + std::to_string(bits));
        } else if (a.family == AF_INET6) {
            inet_ntop(AF_INET6, a.addr.data(), text, sizeof text);
            int bits = a.has_mask ? prefix_bits(a.mask.data(), 16) : 0;
            it->second->ipv6.push_back(std::string(text) + "/" + std::to_string(bits));
        }
    }
}

// ---- routes -------------------------------------------------------------------------

Interface* find_by_name(std::vector<Interface>& list, const std::string& name) {
    auto it = std::lower_bound(list.begin(), list.end(), name,
                               [](const Interface& r, const std::string& n) { return r.name < n; });
    return (it != list.end() && it->name == name) ? &*it : nullptr;
}

} // namespace

double monotonic_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void parse_counters(std::string_view text, CounterSample* out) {
    out->names.clear();
    out->values.clear();
    const char* p = text.data();
    const char* end = p + text.size();
    int line_no = 0;
    while (p < end) {
        const char* nl = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* line_end = nl ? nl : end;
        const char* next = nl ? nl + 1 : end;
        // Lines are read as if through a 512-byte buffer: longer ones are cut.
        if (line_end - p > 511) line_end = p + 511;
        if (line_no++ < 2) {
            p = next;
            continue;
        }
        const char* colon =
            static_cast<const char*>(memchr(p, ':', static_cast<size_t>(line_end - p)));
        if (colon) {
            uint64_t v[16];
            if (parse_u64s(colon + 1, line_end, v, 16) == 16) {
                const char* name = p;
                while (name < colon && *name == ' ') ++name;
                out->names.emplace_back(name, static_cast<size_t>(colon - name));
                Counters c;
                c.rx_bytes = v[0];
                c.rx_packets = v[1];
                c.rx_errors = v[2];
                c.rx_dropped = v[3];
                c.multicast = v[7];
                c.tx_bytes = v[8];
                c.tx_packets = v[9];
                c.tx_errors = v[10];
                c.tx_dropped = v[11];
                c.collisions = v[13];
                out->values.push_back(c);
            }
        }
        p = next;
    }
}

bool read_counters(CounterSample* out, const std::string& root) {
    out->names.clear();
    out->values.clear();
    const std::string path = root + "/proc/net/dev";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out->t = monotonic_seconds();

    // The file is generated per read; one buffer reused by this thread avoids allocating
    // on the sampler's hot path.
    thread_local std::string buf;
    buf.clear();
    char chunk[8192];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buf.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);

    parse_counters(buf, out);
    return true;
}

void apply_routes(std::vector<Interface>& list, std::string_view route,
                  std::string_view ipv6_route) {
    auto lines = [](std::string_view text, auto&& fn) {
        size_t pos = 0;
        while (pos < text.size()) {
            size_t nl = text.find('\n', pos);
            if (nl == std::string_view::npos) nl = text.size();
            fn(text.substr(pos, nl - pos));
            pos = nl + 1;
        }
    };
    bool header = true;
    lines(route, [&](std::string_view line) {
        if (header) {
            header = false;
            return;
        }
        auto w = sysfs::split_ws(std::string(line));
        if (w.size() < 8 || w[1] != "00000000" || w[7] != "00000000") return;
        Interface* r = find_by_name(list, w[0]);
        if (!r) return;
        r->default_route = true;
        if (w[2] != "00000000" && r->gateway.empty()) {
            // The kernel prints the network-order address as a native number, so storing
            // the parsed number unchanged gives the address bytes in the right order.
            uint32_t g = static_cast<uint32_t>(strtoul(w[2].c_str(), nullptr, 16));
            char buf[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &g, buf, sizeof buf);
            r->gateway = buf;
        }
    });
    lines(ipv6_route, [&](std::string_view line) {
        auto w = sysfs::split_ws(std::string(line));
        if (w.size() < 10) return;
        // The kernel's unreachable default on "lo" is not a way out of the machine.
        if (w[0] == std::string(32, '0') && w[1] == "00" && w[9] != "lo") {
            if (Interface* r = find_by_name(list, w[9])) r->default_route = true;
        }
    });
}

std::vector<IfAddr> read_ifaddrs() {
    std::vector<IfAddr> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name) continue;
        IfAddr e;
        e.name = a->ifa_name;
        e.flags = a->ifa_flags;
        if (a->ifa_addr) {
            e.family = a->ifa_addr->sa_family;
            if (e.family == AF_INET) {
                e.has_addr = true;
                memcpy(e.addr.data(), &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, 4);
                if (a->ifa_netmask) {
                    e.has_mask = true;
                    memcpy(e.mask.data(), &reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr,
                           4);
                }
            } else if (e.family == AF_INET6) {
                e.has_addr = true;
                memcpy(e.addr.data(), &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr, 16);
                if (a->ifa_netmask) {
                    e.has_mask = true;
                    memcpy(e.mask.data(),
                           &reinterpret_cast<sockaddr_in6*>(a->ifa_netmask)->sin6_addr, 16);
                }
            }
        }
        out.push_back(std::move(e));
    }
    freeifaddrs(list);
    return out;
}

std::vector<Interface> scan_interfaces(const std::string& root) {
    return scan_interfaces(root, read_ifaddrs());
}

std::vector<Interface> scan_interfaces(const std::string& root, const std::vector<IfAddr>& addrs,
                                       Details details) {
    std::map<std::string, unsigned> flags;
    for (const auto& a : addrs) flags[a.name] |= a.flags;

    std::vector<Interface> out;
    const std::string base = root + "/sys/class/net/";
    for (const auto& name : sysfs::list_dir(base)) {
        if (!sysfs::is_dir(base + name)) continue;
        out.push_back(scan_one(root, name, flags));
    }
    // list_dir already sorts by byte order, so the result is sorted by name.
    add_addresses(out, addrs);
    apply_routes(out, sysfs::read_file(root + "/proc/net/route"),
                 sysfs::read_file(root + "/proc/net/ipv6_route"));

    for (auto& r : out) {
        const bool all = details == Details::All;
        if (all && r.kind == Kind::Wireless) wifi::query(r, root);
        if (r.kind == Kind::Loopback) {
            r.counts_in_total = false;
            continue;
        }
        if (all) r.hw = hw::query(r.name, root);
        const bool physical = r.kind == Kind::Ethernet || r.kind == Kind::Wireless ||
                              r.kind == Kind::Mobile || r.kind == Kind::Bond;
        r.counts_in_total = physical && r.master_kind != "bond";
    }
    return out;
}

const char* kind_key(Kind kind) {
    switch (kind) {
    case Kind::Ethernet:
        return "kind.ethernet";
    case Kind::Wireless:
        return "kind.wireless";
    case Kind::Mobile:
        return "kind.mobile";
    case Kind::Bond:
        return "kind.bond";
    case Kind::Bridge:
        return "kind.bridge";
    case Kind::Vlan:
        return "kind.vlan";
    case Kind::Vpn:
        return "kind.vpn";
    case Kind::Tunnel:
        return "kind.tunnel";
    case Kind::Virtual:
        return "kind.virtual";
    case Kind::Loopback:
        return "kind.loopback";
    default:
        return "kind.other";
    }
}

} // namespace net
