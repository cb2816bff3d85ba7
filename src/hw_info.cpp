// Hardware details of the device behind a network interface.
//
// Sections: file helpers · id databases · sysfs (PCI, USB, other buses) · ethtool · query ·
// summary.

#include "hw_info.h"

#include "sysfs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <mutex>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hw {
namespace {

// ---- file helpers ---------------------------------------------------------------------

// First line without trailing spaces and line feeds. Carriage returns stay: sysfs never
// writes them, and a name that holds one is shown as the kernel has it.
std::string line_of(const std::string& path) {
    std::string s = sysfs::first_line(path);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.pop_back();
    return s;
}

// A base-10 number at the start of the file's first line.
bool number_of(const std::string& path, long& out) {
    const std::string s = line_of(path);
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(s.c_str(), &end, 10);
    if (end == s.c_str() || errno == ERANGE) return false;
    out = v;
    return true;
}

int clamp_int(long v) {
    return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
}

std::string last_component_of_link(const std::string& path) {
    return sysfs::basename_of(sysfs::link_target(path));
}

// ---- id databases ---------------------------------------------------------------------

constexpr const char* PCI_PATHS[] = {
    "/usr/share/hwdata/pci.ids",
    "/usr/share/misc/pci.ids",
    "/usr/share/pci.ids",
};
constexpr const char* USB_PATHS[] = {
    "/usr/share/hwdata/usb.ids",
    "/usr/share/misc/usb.ids",
    "/usr/share/usb.ids",
    "/var/lib/usbutils/usb.ids",
};

struct Slot {
    IdDb db;
    int parses = 0;
};

// Guards both databases for loading and lookup: the sampler thread and a UI-thread scan
// may resolve names at the same time.
std::mutex g_db_mutex;
Slot g_pci;
Slot g_usb;

Slot& slot_locked(Db which) {
    return which == Db::Pci ? g_pci : g_usb;
}

void read_into_locked(Slot& slot, const std::string& path) {
    std::string text;
    if (!sysfs::read_into(path, text)) return;
    slot.db.path = path;
    parse_ids(text, slot.db);
    ++slot.parses;
}

// A failed load is not retried: a machine without the database stays without it, and
// searching the paths again on every scan would cost more than it could bring.
void load_locked(Slot& slot, Db which) {
    slot.db.loaded = true;
    for (const auto& path : db_candidates(which)) {
        read_into_locked(slot, path);
        if (!slot.db.path.empty()) return;
    }
}

const std::map<std::string, std::string>& table_of(const IdDb& db, Table table) {
    switch (table) {
    case Table::Vendors:
        return db.vendors;
    case Table::Devices:
        return db.devices;
    default:
        return db.subsystems;
    }
}

// ---- sysfs ----------------------------------------------------------------------------

std::string without_0x(std::string s) {
    if (s.size() > 2 && s[0] == '0' && s[1] == 'x') s.erase(0, 2);
    return s;
}

void read_pci(Info& info, const std::string& D) {
    info.bus = "PCI";
    const std::string vendor = without_0x(line_of(D + "/vendor"));
    const std::string device = without_0x(line_of(D + "/device"));
    const std::string sub_vendor = without_0x(line_of(D + "/subsystem_vendor"));
    const std::string sub_device = without_0x(line_of(D + "/subsystem_device"));
    const std::string revision = without_0x(line_of(D + "/revision"));
    info.ids = vendor + ":" + device;
    if (!revision.empty()) info.ids += " rev " + revision;

    info.vendor = lookup(Db::Pci, Table::Vendors, vendor);
    info.product = lookup(Db::Pci, Table::Devices, vendor + ":" + device);
    const std::string sub = lookup(Db::Pci, Table::Subsystems,
                                   vendor + ":" + device + ":" + sub_vendor + ":" + sub_device);
    const std::string sub_vendor_name = lookup(Db::Pci, Table::Vendors, sub_vendor);
    if (!sub.empty())
        info.subsystem = sub_vendor_name.empty() ? sub : sub_vendor_name + " " + sub;
    else if (sub_vendor != vendor && !sub_vendor_name.empty())
        info.subsystem = sub_vendor_name;

    info.pcie_now =
        link_text(line_of(D + "/current_link_speed"), line_of(D + "/current_link_width"));
    info.pcie_max = link_text(line_of(D + "/max_link_speed"), line_of(D + "/max_link_width"));

    long v = 0;
    if (number_of(D + "/numa_node", v)) info.numa = clamp_int(v);
    info.irqs = static_cast<int>(sysfs::list_dir(D + "/msi_irqs").size());
    // Without MSI the device has its one legacy line; 0 means none is routed.
    if (info.irqs == 0 && number_of(D + "/irq", v) && v != 0) info.irqs = 1;
}

void read_usb(Info& info, const std::string& D) {
    info.bus = "USB";
    // The network interface belongs to one USB interface; ids and strings live on the
    // device above it.
    const std::string U = D + "/..";
    const std::string vendor = line_of(U + "/idVendor");
    const std::string product = line_of(U + "/idProduct");
    info.ids = vendor + ":" + product;
    info.vendor = line_of(U + "/manufacturer");
    if (info.vendor.empty()) info.vendor = lookup(Db::Usb, Table::Vendors, vendor);
    info.product = line_of(U + "/product");
    if (info.product.empty())
        info.product = lookup(Db::Usb, Table::Devices, vendor + ":" + product);
    const std::string speed = line_of(U + "/speed");
    if (!speed.empty()) info.usb_speed = speed + " Mbit/s";
}

void read_temperature(Info& info, const std::string& D) {
    for (const auto& entry : sysfs::list_dir(D + "/hwmon")) {
        if (entry.rfind("hwmon", 0) != 0) continue;
        long milli = 0;
        if (number_of(D + "/hwmon/" + entry + "/temp1_input", milli)) {
            info.temp_c = static_cast<double>(milli) / 1000.0;
            return;
        }
    }
}

// ---- ethtool --------------------------------------------------------------------------

class EthtoolSocket {
public:
    explicit EthtoolSocket(const std::string& ifname) {
        if (ifname.empty() || ifname.size() >= IFNAMSIZ) return;
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        memcpy(m_name, ifname.data(), ifname.size());
    }
    ~EthtoolSocket() {
        if (m_fd >= 0) ::close(m_fd);
    }
    EthtoolSocket(const EthtoolSocket&) = delete;
    EthtoolSocket& operator=(const EthtoolSocket&) = delete;

    bool ok() const { return m_fd >= 0; }

    // One SIOCETHTOOL request; `buf` starts with the command word and is updated in place.
    bool request(void* buf) const {
        ifreq ifr{};
        memcpy(ifr.ifr_name, m_name, sizeof ifr.ifr_name);
        ifr.ifr_data = static_cast<char*>(buf);
        return ::ioctl(m_fd, SIOCETHTOOL, &ifr) == 0;
    }

private:
    int m_fd = -1;
    char m_name[IFNAMSIZ] = {};
};

// Requests with trailing variable-length data go through plain byte buffers; the header
// structs are copied in and out so nothing is read through a mismatched type.
template <typename Head> std::vector<uint8_t> with_tail(const Head& head, size_t tail) {
    std::vector<uint8_t> buf(sizeof(Head) + tail, 0);
    memcpy(buf.data(), &head, sizeof(Head));
    return buf;
}

template <typename Head> Head head_of(const std::vector<uint8_t>& buf) {
    Head head;
    memcpy(&head, buf.data(), sizeof(Head));
    return head;
}

std::string text_of(const char* field, size_t cap) {
    return std::string(field, strnlen(field, cap));
}

void read_drvinfo(const EthtoolSocket& sock, Info& info) {
    ethtool_drvinfo d{};
    d.cmd = ETHTOOL_GDRVINFO;
    if (!sock.request(&d)) return;
    apply_drvinfo(info, text_of(d.driver, sizeof d.driver), text_of(d.version, sizeof d.version),
                  text_of(d.fw_version, sizeof d.fw_version));
}

void read_perm_addr(const EthtoolSocket& sock, Info& info) {
    constexpr size_t kMaxAddr = 32; // MAX_ADDR_LEN
    ethtool_perm_addr head{};
    head.cmd = ETHTOOL_GPERMADDR;
    head.size = kMaxAddr;
    auto buf = with_tail(head, kMaxAddr);
    if (!sock.request(buf.data())) return;
    head = head_of<ethtool_perm_addr>(buf);
    if (head.size != 6) return;
    const uint8_t* a = buf.data() + sizeof head;
    if (std::all_of(a, a + 6, [](uint8_t b) { return b == 0; })) return;
    char text[18];
    snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4],
             a[5]);
    info.perm_mac = text;
}

std::vector<std::string> fetch_mode_names(const EthtoolSocket& sock) {
    ethtool_sset_info info_head{};
    info_head.cmd = ETHTOOL_GSSET_INFO;
    info_head.sset_mask = uint64_t{1} << ETH_SS_LINK_MODES;
    auto info_buf = with_tail(info_head, sizeof(uint32_t));
    if (!sock.request(info_buf.data())) return {};
    info_head = head_of<ethtool_sset_info>(info_buf);
    if (!(info_head.sset_mask & (uint64_t{1} << ETH_SS_LINK_MODES))) return {};
    uint32_t count = 0;
    memcpy(&count, info_buf.data() + sizeof info_head, sizeof count);
    if (count < 1 || count > 512) return {};

    ethtool_gstrings str_head{};
    str_head.cmd = ETHTOOL_GSTRINGS;
    str_head.string_set = ETH_SS_LINK_MODES;
    str_head.len = count;
    auto str_buf = with_tail(str_head, size_t{count} * ETH_GSTRING_LEN);
    if (!sock.request(str_buf.data())) return {};
    str_head = head_of<ethtool_gstrings>(str_buf);
    const uint32_t got = std::min(str_head.len, count);
    std::vector<std::string> names;
    names.reserve(got);
    for (uint32_t i = 0; i < got; ++i) {
        const char* s = reinterpret_cast<const char*>(str_buf.data() + sizeof str_head) +
                        size_t{i} * ETH_GSTRING_LEN;
        names.push_back(text_of(s, ETH_GSTRING_LEN));
    }
    return names;
}

void read_link_settings(const EthtoolSocket& sock, Info& info) {
    constexpr int kMaxWords = 127; // the mask count is a signed byte
    ethtool_link_settings head{};
    head.cmd = ETHTOOL_GLINKSETTINGS;
    // Handshake: asked with 0 mask words, the kernel answers with the negated count it
    // needs and fills nothing else; the second request carries that count.
    auto buf = with_tail(head, 0);
    if (!sock.request(buf.data())) return;
    head = head_of<ethtool_link_settings>(buf);
    if (head.link_mode_masks_nwords < -kMaxWords || head.link_mode_masks_nwords > -1) return;
    const size_t nwords = static_cast<size_t>(-head.link_mode_masks_nwords);

    head = ethtool_link_settings{};
    head.cmd = ETHTOOL_GLINKSETTINGS;
    head.link_mode_masks_nwords = static_cast<int8_t>(nwords);
    buf = with_tail(head, 3 * nwords * sizeof(uint32_t));
    if (!sock.request(buf.data())) return;
    head = head_of<ethtool_link_settings>(buf);
    if (head.link_mode_masks_nwords != static_cast<int8_t>(nwords)) return;

    info.autoneg = head.autoneg == AUTONEG_ENABLE ? "on" : "off";
    info.port = port_name(head.port);

    std::vector<uint32_t> masks(3 * nwords);
    memcpy(masks.data(), buf.data() + sizeof head, masks.size() * sizeof(uint32_t));
    if (std::all_of(masks.begin(), masks.end(), [](uint32_t w) { return w == 0; })) return;
    const auto names = fetch_mode_names(sock);
    if (names.empty()) return;
    info.modes_supported = mode_list(names, masks.data(), nwords);
    info.modes_advertised = mode_list(names, masks.data() + nwords, nwords);
    info.modes_partner = mode_list(names, masks.data() + 2 * nwords, nwords);
}

} // namespace

// ---- id databases ---------------------------------------------------------------------

void parse_ids(std::string_view text, IdDb& db) {
    std::string vendor, device;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        const std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (line.empty() || line[0] == '#') continue;
        // Classes, and in usb.ids the HID and language tables, follow the devices.
        if (line.starts_with("C ")) break;
        if (line[0] != '\t') {
            if (line.size() < 6) continue;
            vendor.assign(line.substr(0, 4));
            device.clear();
            db.vendors.emplace(vendor, line.substr(6));
        } else if (line.size() >= 2 && line[1] == '\t') {
            if (line.size() < 14) continue;
            std::string key = vendor + ":" + device + ":";
            key.append(line.substr(2, 4)).append(":").append(line.substr(7, 4));
            db.subsystems.emplace(std::move(key), line.substr(13));
        } else {
            device.assign(line.substr(1, 4));
            db.devices.emplace(vendor + ":" + device,
                               line.size() > 7 ? line.substr(7) : std::string_view{});
        }
    }
}

std::vector<std::string> db_candidates(Db which) {
    std::vector<std::string> table;
    if (which == Db::Pci)
        table.assign(std::begin(PCI_PATHS), std::end(PCI_PATHS));
    else
        table.assign(std::begin(USB_PATHS), std::end(USB_PATHS));

    std::vector<std::string> out;
    for (const char* var : {"SNAP", "APPDIR"}) {
        if (const char* prefix = getenv(var))
            for (const auto& p : table) out.push_back(prefix + p);
    }
    // Flatpak mounts the application's own /usr at /app.
    if (getenv("FLATPAK_ID"))
        for (const auto& p : table) out.push_back("/app" + p.substr(4));
    out.insert(out.end(), table.begin(), table.end());
    return out;
}

std::string lookup(Db which, Table table, const std::string& key) {
    std::lock_guard<std::mutex> lock(g_db_mutex);
    Slot& slot = slot_locked(which);
    if (!slot.db.loaded) load_locked(slot, which);
    const auto& map = table_of(slot.db, table);
    auto it = map.find(key);
    return it == map.end() ? std::string() : it->second;
}

DbStats db_stats(Db which) {
    std::lock_guard<std::mutex> lock(g_db_mutex);
    const Slot& slot = slot_locked(which);
    DbStats s;
    s.loaded = slot.db.loaded;
    s.path = slot.db.path;
    s.entries = slot.db.vendors.size() + slot.db.devices.size() + slot.db.subsystems.size();
    s.parses = slot.parses;
    return s;
}

void reset_databases() {
    std::lock_guard<std::mutex> lock(g_db_mutex);
    g_pci = Slot{};
    g_usb = Slot{};
}

void use_database(Db which, const std::string& path) {
    std::lock_guard<std::mutex> lock(g_db_mutex);
    Slot& slot = slot_locked(which);
    slot = Slot{};
    slot.db.loaded = true;
    read_into_locked(slot, path);
}

// ---- pieces of query ------------------------------------------------------------------

std::string link_text(std::string speed, const std::string& width) {
    constexpr std::string_view kSuffix = " PCIe";
    if (speed.ends_with(kSuffix)) speed.resize(speed.size() - kSuffix.size());
    // Non-PCIe devices and older kernels have no link files at all; "Unknown" and a width
    // of 0 are what a link that is down reports.
    if (speed.empty() || width.empty()) return {};
    if (speed.find("Unknown") != std::string::npos || width == "0") return {};
    return speed + " x" + width;
}

void apply_drvinfo(Info& info, std::string_view driver, std::string_view version,
                   std::string_view firmware) {
    if (info.driver.empty()) info.driver = driver;
    if (!version.empty() && version != "1.0") info.driver_version = version;
    if (!firmware.empty() && firmware != "N/A") info.firmware = firmware;
}

std::string port_name(int port) {
    switch (port) {
    case PORT_TP:
        return "TP";
    case PORT_AUI:
        return "AUI";
    case PORT_MII:
        return "MII";
    case PORT_FIBRE:
        return "FIBRE";
    case PORT_BNC:
        return "BNC";
    case PORT_DA:
        return "DA";
    default:
        return {};
    }
}

std::vector<std::string> mode_list(const std::vector<std::string>& names, const uint32_t* mask,
                                   size_t nwords) {
    std::vector<std::string> out;
    const size_t bits = std::min(names.size(), nwords * 32);
    for (size_t bit = 0; bit < bits; ++bit) {
        if (!(mask[bit / 32] & (uint32_t{1} << (bit % 32)))) continue;
        const std::string& name = names[bit];
        if (name.find("base") == std::string::npos) continue;
        std::string medium = name.substr(0, name.find('/'));
        if (std::find(out.begin(), out.end(), medium) == out.end())
            out.push_back(std::move(medium));
    }
    return out;
}

void read_ethtool(const std::string& ifname, Info& info) {
    EthtoolSocket sock(ifname);
    if (!sock.ok()) return;
    read_drvinfo(sock, info);
    read_perm_addr(sock, info);
    read_link_settings(sock, info);
}

std::vector<std::string> link_mode_names(const std::string& ifname) {
    EthtoolSocket sock(ifname);
    if (!sock.ok()) return {};
    return fetch_mode_names(sock);
}

// ---- query ----------------------------------------------------------------------------

Info query(const std::string& ifname, const std::string& root) {
    Info info;
    const std::string N = root + "/sys/class/net/" + ifname;
    const std::string D = N + "/device";

    long v = 0;
    if (number_of(N + "/tx_queue_len", v)) info.txqueuelen = clamp_int(v);
    if (number_of(N + "/carrier_changes", v)) info.carrier_changes = v;
    for (const auto& q : sysfs::list_dir(N + "/queues")) {
        if (q.rfind("rx-", 0) == 0)
            ++info.rx_queues;
        else if (q.rfind("tx-", 0) == 0)
            ++info.tx_queues;
    }

    info.driver = last_component_of_link(D + "/driver");
    const std::string bus = last_component_of_link(D + "/subsystem");
    info.address = last_component_of_link(D);

    // Purely virtual devices (veth, bridges, tunnels) have no device link.
    if (!sysfs::link_target(D).empty()) {
        info.present = true;
        if (bus == "pci") {
            read_pci(info, D);
        } else if (bus == "usb") {
            read_usb(info, D);
        } else {
            info.bus = bus;
            info.ids = line_of(D + "/modalias");
        }
        read_temperature(info, D);
    }

    info.phy = line_of(N + "/phy80211/name");
    // Read before ethtool, whose answer replaces it when the driver reports a real one.
    if (!info.driver.empty())
        info.driver_version = line_of(root + "/sys/module/" + info.driver + "/version");
    if (root.empty()) read_ethtool(ifname, info);
    return info;
}

// ---- summary --------------------------------------------------------------------------

std::string summary(const Info& info) {
    if (!info.present) return {};
    if (info.product.empty()) {
        if (info.bus == "PCI" || info.bus == "USB") return info.bus + " " + info.ids;
        return info.driver;
    }
    std::string vendor = info.vendor;
    for (const char* suffix : {" Semiconductor", " Corporation", " Corp.", " Co.,", " Inc.", ",",
                               " Technology", " Communications"}) {
        size_t at = vendor.find(suffix);
        if (at != std::string::npos && at > 0) vendor.resize(at);
    }
    if (info.product.starts_with(vendor)) return info.product;
    return vendor + " " + info.product;
}

} // namespace hw
