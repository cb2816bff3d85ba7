#include "net_procs.h"

#include "net_stats.h"
#include "sysfs.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace procs {

// ---------------------------------------------------------------------------------------
// Vocabularies: addresses, services, states, users

namespace {

// Dotted IPv4 text. The C library formats it through printf, which dominated the cost of
// a sample with tens of thousands of sockets.
std::string dotted(const uint8_t* b) {
    char buf[16];
    char* p = buf;
    for (int i = 0; i < 4; ++i) {
        unsigned v = b[i];
        if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
        *p++ = static_cast<char>('0' + v % 10);
        if (i < 3) *p++ = '.';
    }
    return std::string(buf, static_cast<size_t>(p - buf));
}

} // namespace

std::string addr_str(int family, const uint32_t addr[4]) {
    uint8_t bytes[16];
    memcpy(bytes, addr, 16);
    if (family == AF_INET) return dotted(bytes);
    if (family != AF_INET6) return {};
    static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (memcmp(bytes, kMapped, sizeof kMapped) == 0) return dotted(bytes + 12);
    char buf[INET6_ADDRSTRLEN];
    return inet_ntop(AF_INET6, bytes, buf, sizeof buf) ? buf : "";
}

namespace {

struct Service {
    int port;
    const char* name;
};

const Service kUdpServices[] = {
    {53, "dns"},         {67, "dhcp"},     {68, "dhcp"},    {69, "tftp"},    {123, "ntp"},
    {137, "netbios"},    {138, "netbios"}, {161, "snmp"},   {443, "quic"},   {500, "ike"},
    {514, "syslog"},     {546, "dhcpv6"},  {547, "dhcpv6"}, {1900, "ssdp"},  {3478, "stun"},
    {4500, "ipsec-nat"}, {5060, "sip"},    {5353, "mdns"},  {5355, "llmnr"},
};

const Service kTcpServices[] = {
    {20, "ftp-data"},    {21, "ftp"},     {22, "ssh"},           {23, "telnet"},
    {25, "smtp"},        {53, "dns"},     {80, "http"},          {110, "pop3"},
    {119, "nntp"},       {143, "imap"},   {179, "bgp"},          {389, "ldap"},
    {443, "https"},      {445, "smb"},    {465, "smtps"},        {587, "submission"},
    {631, "ipp"},        {636, "ldaps"},  {853, "dns-over-tls"}, {873, "rsync"},
    {993, "imaps"},      {995, "pop3s"},  {1883, "mqtt"},        {2049, "nfs"},
    {3389, "rdp"},       {5222, "xmpp"},  {5060, "sip"},         {5061, "sips"},
    {5900, "vnc"},       {6667, "irc"},   {6697, "ircs"},        {8080, "http-alt"},
    {8443, "https-alt"}, {8883, "mqtts"}, {9418, "git"},
};

} // namespace

const char* service_name(int port, int proto) {
    if (proto == IPPROTO_UDP) {
        for (const auto& s : kUdpServices)
            if (s.port == port) return s.name;
        return "";
    }
    for (const auto& s : kTcpServices)
        if (s.port == port) return s.name;
    return "";
}

const char* state_key(int state, int proto, bool listening) {
    if (proto == IPPROTO_UDP) return listening ? "conn.state.open" : "conn.state.connected";
    switch (state) {
    case 1:
        return "conn.state.established";
    case 2:
    case 3:
        return "conn.state.connecting";
    case 4:
    case 5:
    case 6:
    case 9:
    case 11:
        return "conn.state.closing";
    case 8:
        return "conn.state.closewait";
    case 10:
        return "conn.state.listen";
    default:
        return "conn.state.closed";
    }
}

std::string user_name(uid_t uid) {
    passwd pw{};
    passwd* found = nullptr;
    char buf[1024];
    if (getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

// ---------------------------------------------------------------------------------------
// Dump replies

namespace {

constexpr size_t kNlHeader = sizeof(nlmsghdr); // 16
constexpr size_t kAttrHeader = 4;
// Older kernels send a shorter tcp_info, newer ones a longer one; only the part that
// both this header and the reader agree on is copied.
constexpr size_t kTcpInfoCopy = 232;
// The byte counters end at offset 136, so a shorter block has none.
constexpr size_t kTcpInfoWithBytes = offsetof(tcp_info, tcpi_bytes_received) + 8;
static_assert(kNlHeader == 16 && sizeof(inet_diag_msg) == 72);
static_assert(kTcpInfoWithBytes == 136 && sizeof(tcp_info) >= kTcpInfoWithBytes);

constexpr size_t align4(size_t n) {
    return (n + 3) & ~size_t{3};
}

} // namespace

void apply_attributes(const uint8_t* attrs, size_t len, Conn* c) {
    size_t off = 0;
    while (len - off >= kAttrHeader) {
        uint16_t alen = 0, type = 0;
        memcpy(&alen, attrs + off, 2);
        memcpy(&type, attrs + off + 2, 2);
        if (alen < kAttrHeader || alen > len - off) break;
        if (type == INET_DIAG_INFO) {
            const size_t payload = alen - kAttrHeader;
            tcp_info ti{};
            memcpy(&ti, attrs + off + kAttrHeader, std::min({payload, kTcpInfoCopy, sizeof ti}));
            c->rtt_us = ti.tcpi_rtt;
            c->rttvar_us = ti.tcpi_rttvar;
            c->retrans = ti.tcpi_total_retrans;
            c->cwnd = ti.tcpi_snd_cwnd;
            if (payload >= kTcpInfoWithBytes) {
                c->has_bytes = true;
                c->rx_bytes = ti.tcpi_bytes_received;
                c->tx_bytes = ti.tcpi_bytes_acked;
            }
        }
        const size_t step = align4(alen);
        if (step >= len - off) break;
        off += step;
    }
}

bool parse_socket(const uint8_t* msg, size_t len, const DumpContext& ctx, Conn* c) {
    if (len < sizeof(inet_diag_msg)) return false;
    inet_diag_msg m;
    memcpy(&m, msg, sizeof m);
    *c = Conn{};
    c->cookie = (static_cast<uint64_t>(m.id.idiag_cookie[1]) << 32) | m.id.idiag_cookie[0];
    c->inode = m.idiag_inode;
    c->uid = m.idiag_uid;
    c->state = m.idiag_state;
    c->family = ctx.family;
    c->proto = ctx.proto;
    c->local_ip = addr_str(ctx.family, m.id.idiag_src);
    c->remote_ip = addr_str(ctx.family, m.id.idiag_dst);
    c->local_port = ntohs(m.id.idiag_sport);
    c->remote_port = ntohs(m.id.idiag_dport);
    const std::string& r = c->remote_ip;
    if (ctx.proto == IPPROTO_TCP)
        c->listening = c->state == 10;
    else
        c->listening = r == "0.0.0.0" || r == "::" || r.empty() || c->remote_port == 0;
    if (!c->listening) {
        c->loopback = r.rfind("127.", 0) == 0 || r == "::1" || (ctx.own && ctx.own->count(r));
    }
    apply_attributes(msg + sizeof m, len - sizeof m, c);
    return true;
}

Walk walk_dump(const uint8_t* data, size_t len, const DumpContext& ctx, std::vector<Conn>* out) {
    if (len < kNlHeader) return Walk::More;
    size_t off = 0;
    while (len - off >= kNlHeader) {
        nlmsghdr h;
        memcpy(&h, data + off, sizeof h);
        // A length that cannot hold its own header or runs past the datagram means the
        // rest cannot be trusted.
        if (h.nlmsg_len < kNlHeader || h.nlmsg_len > len - off) break;
        if (h.nlmsg_type == NLMSG_DONE) return Walk::Done;
        if (h.nlmsg_type == NLMSG_ERROR) return Walk::Failed;
        // A message too short for the socket description is skipped rather than read past
        // its end.
        Conn c;
        if (parse_socket(data + off + kNlHeader, h.nlmsg_len - kNlHeader, ctx, &c))
            out->push_back(std::move(c));
        const size_t step = align4(h.nlmsg_len);
        if (step >= len - off) break;
        off += step;
    }
    return Walk::More;
}

// ---------------------------------------------------------------------------------------
// Process files

void parse_stat(std::string_view line, std::string* name, uint64_t* start) {
    name->clear();
    *start = 0;
    const size_t open = line.find('(');
    const size_t close = line.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return;
    name->assign(line.substr(open + 1, close - open - 1));
    // The name may hold spaces and parentheses itself, so fields are counted from the
    // state letter that follows the last ")".
    size_t pos = close + 2;
    if (pos >= line.size()) return;
    for (int skip = 0; skip < 19; ++skip) {
        pos = line.find(' ', pos);
        if (pos == std::string_view::npos) return;
        ++pos;
    }
    const char* first = line.data() + pos;
    const char* last = line.data() + line.size();
    uint64_t v = 0;
    auto res = std::from_chars(first, last, v);
    if (res.ec == std::errc()) *start = v;
}

void apply_cmdline(std::string_view content, std::string* name, std::string* cmdline) {
    while (!content.empty() && content.back() == '\0') content.remove_suffix(1);
    if (content.empty()) return;
    std::string_view prog = content.substr(0, content.find('\0'));
    prog = prog.substr(0, prog.find(' '));
    cmdline->assign(content);
    std::replace(cmdline->begin(), cmdline->end(), '\0', ' ');
    // The kernel keeps 15 bytes of the name; the program path tells the rest.
    const size_t slash = prog.rfind('/');
    const std::string_view base = slash == std::string_view::npos ? prog : prog.substr(slash + 1);
    if (name->size() < base.size() && base.substr(0, name->size()) == *name) name->assign(base);
}

uint32_t socket_inode(std::string_view link) {
    constexpr std::string_view kPrefix = "socket:[";
    if (link.size() < 9 || link.substr(0, kPrefix.size()) != kPrefix) return 0;
    uint64_t v = 0;
    auto res = std::from_chars(link.data() + kPrefix.size(), link.data() + link.size(), v);
    if (res.ec != std::errc() || v > UINT32_MAX) return 0;
    return static_cast<uint32_t>(v);
}

// ---------------------------------------------------------------------------------------
// Dumps

namespace {

constexpr uint32_t kTcpStates = 0xFB7; // all but SYN_RECV and TIME_WAIT
constexpr uint32_t kUdpStates = 0xFFF;

// One inet_diag dump of every socket of a family and protocol. True only when the kernel
// ended the dump; sockets received before a failure stay in `out`.
bool dump(int family, int protocol, uint32_t states, const DumpContext& ctx,
          std::vector<Conn>* out) {
    int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) return false;
    timeval tv{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    struct {
        nlmsghdr h;
        inet_diag_req_v2 r;
    } req{};
    static_assert(sizeof req == 72);
    req.h.nlmsg_len = sizeof req;
    req.h.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.r.sdiag_family = static_cast<uint8_t>(family);
    req.r.sdiag_protocol = static_cast<uint8_t>(protocol);
    req.r.idiag_ext = protocol == IPPROTO_TCP ? (1u << (INET_DIAG_INFO - 1)) : 0;
    req.r.idiag_states = states;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd, &req, sizeof req, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
        static_cast<ssize_t>(sizeof req)) {
        close(fd);
        return false;
    }

    alignas(8) uint8_t buf[64 * 1024];
    Walk w = Walk::More;
    while (w == Walk::More) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        // A signal handled by another part of the program must not cut the dump short:
        // socket calls with a receive timeout are not restarted automatically.
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        w = walk_dump(buf, static_cast<size_t>(n), ctx, out);
    }
    close(fd);
    return w == Walk::Done;
}

std::unordered_set<std::string> own_addresses() {
    std::unordered_set<std::string> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    char buf[INET6_ADDRSTRLEN];
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr) continue;
        const void* p = nullptr;
        if (a->ifa_addr->sa_family == AF_INET)
            p = &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr;
        else if (a->ifa_addr->sa_family == AF_INET6)
            p = &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr;
        if (p && inet_ntop(a->ifa_addr->sa_family, p, buf, sizeof buf)) out.insert(buf);
    }
    freeifaddrs(list);
    return out;
}

bool all_digits(const char* s) {
    if (!*s) return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Tracker

Tracker::Tracker(const std::string& root) : m_root(root) {
    m_rthread = std::thread([this] { resolver_loop(); });
}

Tracker::~Tracker() {
    {
        std::lock_guard lk(m_rmutex);
        m_stop = true;
    }
    m_rcv.notify_all();
    m_rthread.join();
}

Tracker::Budget::~Budget() {
    t->m_cost = net::monotonic_seconds() - t0;
    t->m_next_due = t0 + std::min(20.0 * t->m_cost, 10.0);
}

void Tracker::rescan_fds() {
    m_inode_pid.clear();
    m_meta.clear();
    const std::string proc = m_root + "/proc";
    DIR* d = opendir(proc.c_str());
    if (!d) return;
    const int proc_fd = dirfd(d);
    while (dirent* e = readdir(d)) {
        if (!all_digits(e->d_name)) continue;
        int pid = 0;
        auto res = std::from_chars(e->d_name, e->d_name + strlen(e->d_name), pid);
        if (res.ec != std::errc()) continue;
        char sub[300];
        snprintf(sub, sizeof sub, "%s/fd", e->d_name);
        int fd_dir = openat(proc_fd, sub, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_dir < 0) continue;
        DIR* fds = fdopendir(fd_dir);
        if (!fds) {
            close(fd_dir);
            continue;
        }
        while (dirent* f = readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            char link[64];
            ssize_t n = readlinkat(fd_dir, f->d_name, link, sizeof link - 1);
            if (n < 9) continue;
            const uint32_t inode = socket_inode(std::string_view(link, static_cast<size_t>(n)));
            // Several processes share a socket after fork or descriptor passing; the first
            // one in directory order keeps it.
            if (inode) m_inode_pid.emplace(inode, pid);
        }
        closedir(fds);
    }
    closedir(d);
}

// Account names are looked up once a minute per uid: getpwuid_r may ask a network
// directory, and 2,000 processes of one user need one answer, not 2,000.
const std::string& Tracker::user_for(uid_t uid, double now) {
    constexpr double kUserNameLife = 60.0;
    if (m_users.size() > 4096) m_users.clear();
    UserName& u = m_users[uid];
    if (u.name.empty() || now - u.looked_up > kUserNameLife) {
        u.name = user_name(uid);
        u.looked_up = now;
    }
    return u.name;
}

const Tracker::ProcMeta* Tracker::meta_for(int pid, double now) {
    auto it = m_meta.find(pid);
    if (it != m_meta.end()) return &it->second;
    const std::string dir = m_root + "/proc/" + std::to_string(pid);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return nullptr;
    ProcMeta m;
    m.uid = st.st_uid;
    m.user = user_for(m.uid, now);
    parse_stat(sysfs::first_line(dir + "/stat"), &m.name, &m.start);
    apply_cmdline(sysfs::read_file(dir + "/cmdline"), &m.name, &m.cmdline);
    return &m_meta.emplace(pid, std::move(m)).first->second;
}

bool Tracker::proc_alive(const ProcKey& key) const {
    const std::string dir = m_root + "/proc/" + std::to_string(key.pid);
    if (!sysfs::exists(dir)) return false;
    // A reused pid belongs to another process: its start time tells them apart.
    std::string name;
    uint64_t start = 0;
    parse_stat(sysfs::first_line(dir + "/stat"), &name, &start);
    return name.empty() || start == key.start;
}

void Tracker::sample() {
    const double now = net::monotonic_seconds();
    if (m_next_due > now) return;
    Budget guard{this, now};

    const std::unordered_set<std::string> own = own_addresses();
    std::vector<Conn> conns;
    conns.reserve(m_prev.size() + 64);
    const bool tcp4 = dump(AF_INET, IPPROTO_TCP, kTcpStates, {AF_INET, IPPROTO_TCP, &own}, &conns);
    const bool tcp6 =
        dump(AF_INET6, IPPROTO_TCP, kTcpStates, {AF_INET6, IPPROTO_TCP, &own}, &conns);
    dump(AF_INET, IPPROTO_UDP, kUdpStates, {AF_INET, IPPROTO_UDP, &own}, &conns);
    dump(AF_INET6, IPPROTO_UDP, kUdpStates, {AF_INET6, IPPROTO_UDP, &own}, &conns);
    const bool diag_ok = tcp4 || tcp6;

    // The descriptor walk is the expensive part: on demand when an unknown socket shows up
    // (at most every 2 s), and every 15 s to notice sockets that changed hands.
    const double age = now - m_last_scan;
    bool rescan = age > 15.0;
    if (!rescan) {
        for (const Conn& c : conns) {
            if (c.inode && !m_inode_pid.count(c.inode) && !m_unowned.count(c.inode)) {
                rescan = age > 2.0;
                break;
            }
        }
    }
    if (rescan) {
        rescan_fds();
        m_last_scan = now;
        m_unowned.clear();
        for (const Conn& c : conns)
            if (c.inode && !m_inode_pid.count(c.inode)) m_unowned.insert(c.inode);
    }

    // From here to the publication only this thread's tables are touched, without the
    // lock: reading process files may block (a process in D state), and so may the user
    // database. The snapshot's time is written by this thread alone.
    const double dt = m_snap.t > 0 ? now - m_snap.t : 0;
    if (m_reset_totals.exchange(false)) {
        for (auto& [key, p] : m_procs) p.rx_total = p.tx_total = 0;
        for (auto& [uid, p] : m_uid_groups) p.rx_total = p.tx_total = 0;
    }
    auto clear_rates = [](Proc& p) {
        p.rx_rate = p.tx_rate = 0;
        p.tcp = p.udp = p.listen = 0;
    };
    for (auto& [key, p] : m_procs) clear_rates(p);
    for (auto& [uid, p] : m_uid_groups) clear_rates(p);

    int unmapped = 0;
    for (Conn& c : conns) {
        uint64_t drx = 0, dtx = 0;
        auto old = std::lower_bound(m_prev.begin(), m_prev.end(), c.cookie);
        if (old != m_prev.end() && old->cookie == c.cookie) {
            const PrevCounters& o = *old;
            c.first_seen = o.first_seen;
            if (c.has_bytes && o.has_bytes) {
                drx = c.rx_bytes >= o.rx_bytes ? c.rx_bytes - o.rx_bytes : 0;
                dtx = c.tx_bytes >= o.tx_bytes ? c.tx_bytes - o.tx_bytes : 0;
            }
        } else {
            c.first_seen = now;
            // A connection born between two samples moved all its bytes in this interval.
            if (!m_first && c.has_bytes) {
                drx = c.rx_bytes;
                dtx = c.tx_bytes;
            }
        }
        if (dt > 0) {
            c.rx_rate = static_cast<double>(drx) / dt;
            c.tx_rate = static_cast<double>(dtx) / dt;
        }

        Proc* row = nullptr;
        const ProcMeta* meta = nullptr;
        int pid = -1;
        if (c.inode) {
            auto ip = m_inode_pid.find(c.inode);
            if (ip != m_inode_pid.end()) {
                pid = ip->second;
                meta = meta_for(pid, now);
            }
            if (!meta) ++unmapped;
        }
        if (meta) {
            c.pid = pid;
            row = &m_procs[ProcKey{pid, meta->start}];
            if (row->name.empty()) {
                row->pid = pid;
                row->uid = meta->uid;
                row->name = meta->name;
                row->cmdline = meta->cmdline;
                row->user = meta->user;
            }
            row->exited = false;
        } else {
            auto [g, created] = m_uid_groups.try_emplace(c.uid);
            row = &g->second;
            if (created) {
                row->pid = static_cast<int>(~static_cast<uint32_t>(c.uid));
                row->uid = c.uid;
                row->name = row->user = user_for(c.uid, now);
            }
        }

        if (c.listening)
            ++row->listen;
        else if (c.proto != IPPROTO_TCP)
            ++row->udp;
        else
            ++row->tcp;
        if (!c.loopback) {
            row->rx_rate += c.rx_rate;
            row->tx_rate += c.tx_rate;
            row->rx_total += drx;
            row->tx_total += dtx;
            if (drx || dtx) row->last_active = now;
        }
    }

    // Ascending cookies; a socket listed twice (it moved within the hash tables while the
    // dump ran) keeps its later record.
    std::vector<std::pair<uint64_t, uint32_t>> order;
    order.reserve(conns.size());
    for (size_t i = 0; i < conns.size(); ++i)
        order.emplace_back(conns[i].cookie, static_cast<uint32_t>(i));
    std::sort(order.begin(), order.end());
    Snapshot next;
    m_prev.clear();
    m_prev.reserve(order.size());
    next.conns.reserve(order.size());
    for (size_t k = 0; k < order.size(); ++k) {
        if (k + 1 < order.size() && order[k + 1].first == order[k].first) continue;
        Conn& c = conns[order[k].second];
        m_prev.push_back({c.cookie, c.rx_bytes, c.tx_bytes, c.first_seen, c.has_bytes});
        next.conns.push_back(std::move(c));
    }
    conns = {};
    m_first = false;

    for (auto it = m_procs.begin(); it != m_procs.end();) {
        Proc& p = it->second;
        if (p.tcp + p.udp + p.listen == 0) {
            p.exited = !proc_alive(it->first);
            if (p.rx_total + p.tx_total == 0) {
                it = m_procs.erase(it);
                continue;
            }
        }
        ++it;
    }
    if (m_procs.size() > 2000)
        std::erase_if(m_procs, [](const auto& kv) { return kv.second.exited; });

    next.diag_ok = diag_ok;
    next.unmapped = unmapped;
    next.t = now;
    next.procs.reserve(m_procs.size() + m_uid_groups.size());
    for (const auto& [key, p] : m_procs) next.procs.push_back(p);
    for (const auto& [uid, p] : m_uid_groups)
        if (p.tcp + p.udp + p.listen > 0 || p.rx_total + p.tx_total > 0) next.procs.push_back(p);

    feed_resolver(next.conns);
    {
        std::lock_guard lk(m_mutex);
        std::swap(m_snap, next);
    }
    // `next` holds the previous snapshot now and is freed here, outside the lock.
}

void Tracker::feed_resolver(const std::vector<Conn>& conns) {
    std::lock_guard rlk(m_rmutex);
    if (!m_resolve) return;
    bool queued = false;
    for (const Conn& c : conns) {
        if (c.listening || c.loopback) continue;
        const std::string& r = c.remote_ip;
        if (r.empty() || r == "0.0.0.0" || r == "::") continue;
        if (m_names.try_emplace(r).second) {
            m_rqueue.push_back(r);
            queued = true;
        }
    }
    if (m_names.size() > 20000) {
        // Everything not in the cache is queued again by the next sample; keeping the old
        // queue as well would let it grow without bound while lookups are slow.
        m_names.clear();
        m_rqueue.clear();
        queued = false;
    }
    if (queued) m_rcv.notify_one();
}

Snapshot Tracker::snapshot() const {
    std::lock_guard lk(m_mutex);
    return m_snap;
}

void Tracker::reset_totals() {
    m_reset_totals = true;
}

// ---------------------------------------------------------------------------------------
// Resolver

void Tracker::set_resolve(bool on) {
    std::lock_guard lk(m_rmutex);
    m_resolve = on;
    if (on) return;
    // Addresses dropped from the queue lose their pending mark too, or they would count as
    // looked up and never be queued again once lookups are switched back on.
    for (const std::string& ip : m_rqueue) {
        auto it = m_names.find(ip);
        if (it != m_names.end() && it->second.empty()) m_names.erase(it);
    }
    m_rqueue.clear();
}

std::string Tracker::host_name(const std::string& ip) const {
    std::lock_guard lk(m_rmutex);
    auto it = m_names.find(ip);
    return it == m_names.end() ? std::string() : it->second;
}

size_t Tracker::pending_lookups() const {
    std::lock_guard lk(m_rmutex);
    return m_rqueue.size();
}

namespace {

// The reverse name of an address, or "" when it has none.
std::string reverse_lookup(const std::string& ip) {
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (ip.find(':') != std::string::npos) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
        a->sin6_family = AF_INET6;
        if (inet_pton(AF_INET6, ip.c_str(), &a->sin6_addr) != 1) return {};
        len = sizeof(sockaddr_in6);
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&ss);
        a->sin_family = AF_INET;
        if (inet_pton(AF_INET, ip.c_str(), &a->sin_addr) != 1) return {};
        len = sizeof(sockaddr_in);
    }
    char host[1025];
    if (getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return {};
    return host;
}

} // namespace

void Tracker::resolver_loop() {
    for (;;) {
        std::string ip;
        {
            std::unique_lock lk(m_rmutex);
            m_rcv.wait(lk, [this] { return m_stop || !m_rqueue.empty(); });
            if (m_stop) return;
            ip = std::move(m_rqueue.front());
            m_rqueue.pop_front();
        }
        // The system resolver may block for seconds; nobody waits on this lock meanwhile.
        std::string name = reverse_lookup(ip);
        std::lock_guard lk(m_rmutex);
        m_names[ip] = name.empty() ? "-" : std::move(name);
    }
}

} // namespace procs
