// The socket tracker's parsers fed with crafted bytes: inet_diag reply datagrams, tcp_info
// blocks, /proc stat lines and command lines, plus the small vocabularies.
#include "net_procs.h"
#include "support/netlink.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <tuple>

namespace {

using nl::attr;

std::string nlmsg(uint16_t type, const std::string& body, int64_t len = -1) {
    return nl::msg(type, 0, body, len);
}

// A tcp_info block of `len` bytes (the kernel's size differs between versions).
std::string tcp_info_block(size_t len, uint64_t received, uint64_t acked) {
    std::string block(std::max(len, sizeof(tcp_info)), '\0');
    tcp_info ti{};
    ti.tcpi_rtt = 1500;
    ti.tcpi_rttvar = 700;
    ti.tcpi_total_retrans = 3;
    ti.tcpi_snd_cwnd = 10;
    ti.tcpi_bytes_received = received;
    ti.tcpi_bytes_acked = acked;
    memcpy(block.data(), &ti, sizeof ti);
    block.resize(len, '\x5a');
    return block;
}

struct Sock {
    int family = AF_INET;
    int state = 1;
    const char* src = "192.0.2.10";
    const char* dst = "198.51.100.7";
    uint16_t sport = 40000;
    uint16_t dport = 443;
    uint64_t cookie = 0x1122334455667788ull;
    uint32_t inode = 777;
    uint32_t uid = 1000;
};

std::string diag_body(const Sock& s, const std::string& attrs = "") {
    inet_diag_msg m{};
    m.idiag_family = static_cast<uint8_t>(s.family);
    m.idiag_state = static_cast<uint8_t>(s.state);
    m.id.idiag_sport = htons(s.sport);
    m.id.idiag_dport = htons(s.dport);
    inet_pton(s.family, s.src, m.id.idiag_src);
    inet_pton(s.family, s.dst, m.id.idiag_dst);
    m.id.idiag_cookie[0] = static_cast<uint32_t>(s.cookie);
    m.id.idiag_cookie[1] = static_cast<uint32_t>(s.cookie >> 32);
    m.idiag_inode = s.inode;
    m.idiag_uid = s.uid;
    return nl::raw(m) + attrs;
}

std::string sock_msg(const Sock& s, const std::string& attrs = "") {
    return nlmsg(SOCK_DIAG_BY_FAMILY, diag_body(s, attrs));
}

// The parsed fields of a socket in one line; the flags only when set.
std::string describe(const procs::Conn& c) {
    char buf[400];
    snprintf(buf, sizeof buf, "v%d %s state %d %s:%d -> %s:%d%s%s", c.family == AF_INET6 ? 6 : 4,
             c.proto == IPPROTO_TCP ? "tcp" : "udp", c.state, c.local_ip.c_str(), c.local_port,
             c.remote_ip.c_str(), c.remote_port, c.listening ? " listening" : "",
             c.loopback ? " loopback" : "");
    std::string s = buf;
    if (c.has_bytes) s += " bytes " + std::to_string(c.rx_bytes) + "/" + std::to_string(c.tx_bytes);
    snprintf(buf, sizeof buf, " rtt %u/%u retrans %u cwnd %u pid %d inode %u uid %u cookie %llx",
             c.rtt_us, c.rttvar_us, c.retrans, c.cwnd, c.pid, c.inode, unsigned(c.uid),
             static_cast<unsigned long long>(c.cookie));
    return s + buf;
}

struct Walked {
    procs::Walk end;
    std::vector<procs::Conn> conns;
};

Walked walk(const std::string& datagram, int family = AF_INET, int proto = IPPROTO_TCP,
            const std::unordered_set<std::string>* own = nullptr) {
    Walked w;
    procs::DumpContext ctx{family, proto, own};
    w.end = procs::walk_dump(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size(),
                             ctx, &w.conns);
    return w;
}

TEST(DiagParse, SocketFieldsFromACompleteDump) {
    Sock a;
    Sock b;
    b.family = AF_INET6;
    b.src = "::ffff:10.1.2.3"; // a dual-stack socket talking IPv4
    b.dst = "2001:db8::5";
    b.cookie = 42;
    const std::string info = attr(INET_DIAG_INFO, tcp_info_block(232, 5000, 1200));
    auto w = walk(sock_msg(a, info) + nlmsg(NLMSG_DONE, std::string(4, '\0')));
    ASSERT_EQ(w.end, procs::Walk::Done);
    ASSERT_EQ(w.conns.size(), 1u);
    EXPECT_EQ(describe(w.conns[0]), "v4 tcp state 1 192.0.2.10:40000 -> 198.51.100.7:443 bytes "
                                    "5000/1200 rtt 1500/700 retrans 3 cwnd 10 pid -1 inode 777 "
                                    "uid 1000 cookie 1122334455667788");

    // Replies span datagrams: without the end marker the walk asks for more.
    w = walk(sock_msg(b) + sock_msg(a), AF_INET6);
    ASSERT_EQ(w.end, procs::Walk::More);
    ASSERT_EQ(w.conns.size(), 2u);
    EXPECT_EQ(describe(w.conns[0]), "v6 tcp state 1 10.1.2.3:40000 -> 2001:db8::5:443 rtt 0/0 "
                                    "retrans 0 cwnd 0 pid -1 inode 777 uid 1000 cookie 2a");
}

TEST(DiagParse, ErrorsAndBrokenLengthsEndTheWalkSafely) {
    Sock s;
    // An error message in the middle of a dump fails it; what came before is kept.
    auto w = walk(sock_msg(s) + nlmsg(NLMSG_ERROR, std::string(20, '\0')) + sock_msg(s));
    EXPECT_EQ(w.end, procs::Walk::Failed);
    EXPECT_EQ(w.conns.size(), 1u);

    // Datagrams shorter than a header are ignored.
    EXPECT_EQ(walk("").end, procs::Walk::More);
    EXPECT_EQ(walk(std::string(15, '\x03')).conns.size(), 0u);

    // A message cut off at the end of the datagram, lengths below the header size (which
    // would loop forever) and lengths past the end stop the walk.
    const std::string full = sock_msg(s);
    w = walk(full + full.substr(0, 60));
    EXPECT_EQ(w.end, procs::Walk::More);
    EXPECT_EQ(w.conns.size(), 1u);
    for (uint32_t bad : {0u, 1u, 15u, 4096u, 0xFFFFFFFFu}) {
        w = walk(nlmsg(SOCK_DIAG_BY_FAMILY, diag_body(s), bad) + nlmsg(NLMSG_DONE, ""));
        EXPECT_EQ(w.end, procs::Walk::More) << bad;
        EXPECT_TRUE(w.conns.empty()) << bad;
    }

    // A consistent message too short to describe a socket is skipped, not read past its
    // end; the walk goes on to the next message.
    w = walk(nlmsg(SOCK_DIAG_BY_FAMILY, diag_body(s).substr(0, 40)) + sock_msg(s) +
             nlmsg(NLMSG_DONE, ""));
    EXPECT_EQ(w.end, procs::Walk::Done);
    EXPECT_EQ(w.conns.size(), 1u);

    // The end marker as the very last bytes, with no padding after it.
    w = walk(full + nlmsg(NLMSG_DONE, ""));
    EXPECT_EQ(w.end, procs::Walk::Done);
}

TEST(DiagParse, TcpInfoOfEveryLength) {
    auto info = [](size_t len, uint64_t rx, uint64_t tx) {
        return attr(INET_DIAG_INFO, tcp_info_block(len, rx, tx));
    };
    std::string too_long = info(232, 5, 6), tiny = attr(INET_DIAG_MEMINFO, "") + info(232, 5, 6);
    too_long.replace(0, 2, nl::raw<uint16_t>(400));
    tiny.replace(0, 2, nl::raw<uint16_t>(3));
    const std::string all = " rtt 1500/700 retrans 3 cwnd 10", none = " rtt 0/0 retrans 0 cwnd 0";
    const std::pair<std::string, std::string> cases[] = {
        // 136 bytes reach the received-bytes counter; 135 do not.
        {info(136, 9, 8), " bytes 9/8" + all},
        {info(135, 9, 8), all},
        {info(104, 9, 8), all}, // an old kernel's short block: only the early fields
        // A newer kernel's longer block: the extra tail is ignored.
        {info(400, 123456789012ull, 77), " bytes 123456789012/77" + all},
        // Other attributes before it are stepped over at their aligned length.
        {attr(INET_DIAG_MEMINFO, "x") + info(232, 5, 6), " bytes 5/6" + all},
        // Attribute lengths past the end or below 4 stop the attribute walk.
        {too_long, none},
        {tiny, none},
    };
    for (const auto& [attrs, want] : cases) {
        const auto w = walk(sock_msg(Sock{}, attrs));
        ASSERT_EQ(w.conns.size(), 1u) << want;
        EXPECT_EQ(describe(w.conns[0]), "v4 tcp state 1 192.0.2.10:40000 -> 198.51.100.7:443" +
                                            want +
                                            " pid -1 inode 777 uid 1000 cookie 1122334455667788");
    }
}

TEST(DiagParse, ListeningAndLoopbackRules) {
    const std::unordered_set<std::string> own = {"192.0.2.10", "2001:db8::1"};
    struct Case {
        int proto, state;
        const char* dst;
        uint16_t dport;
        const char* want; // "listening", "loopback" or ""
    };
    // TCP listens in state 10 only, never in another state without a peer. UDP listens
    // unconnected or with remote port 0. Loopback: 127/8, ::1, mapped 127/8, own addresses.
    // clang-format off
    const Case cases[] = {
        {IPPROTO_TCP, 10, "0.0.0.0", 0, "listening"}, {IPPROTO_TCP, 7, "0.0.0.0", 0, ""},
        {IPPROTO_UDP, 7, "0.0.0.0", 0, "listening"}, {IPPROTO_UDP, 7, "198.51.100.7", 0, "listening"},
        {IPPROTO_UDP, 7, "198.51.100.7", 53, ""}, {IPPROTO_UDP, 7, "::", 0, "listening"},
        {IPPROTO_TCP, 1, "127.0.0.1", 443, "loopback"}, {IPPROTO_TCP, 1, "127.8.9.10", 443, "loopback"},
        {IPPROTO_TCP, 1, "192.0.2.10", 443, "loopback"}, {IPPROTO_TCP, 1, "::1", 443, "loopback"},
        {IPPROTO_TCP, 1, "::ffff:127.0.0.53", 443, "loopback"},
        {IPPROTO_TCP, 1, "2001:db8::1", 443, "loopback"}, {IPPROTO_TCP, 1, "192.0.2.11", 443, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        Sock s;
        s.state = c.state;
        s.dst = c.dst;
        s.dport = c.dport;
        if (std::strchr(c.dst, ':')) {
            s.family = AF_INET6;
            s.src = "::1";
        }
        const auto w = walk(sock_msg(s), s.family, c.proto, &own);
        ASSERT_EQ(w.conns.size(), 1u) << c.dst;
        const std::string got = w.conns[0].listening  ? "listening"
                                : w.conns[0].loopback ? "loopback"
                                                      : "";
        EXPECT_EQ(got, c.want) << c.proto << " " << c.state << " " << c.dst << ":" << c.dport;
    }
    // Without the own-address set only the fixed loopback ranges count.
    EXPECT_FALSE(walk(sock_msg(Sock{.dst = "192.0.2.10"})).conns.at(0).loopback);
}

TEST(ProcFiles, StatLines) {
    struct Case {
        const char* what;
        std::string line;
        std::string name;
        uint64_t start;
    };
    const std::string tail =
        " S 1 1234 1234 0 -1 4194560 1029 0 0 0 3 1 0 0 20 0 1 0 98765 8761344 "
        "1213 18446744073709551615 1 1 0 0 0 0 65536 3670020 1266777851 0 0 0 "
        "17 1 0 0 0 0 0";
    const Case cases[] = {
        {"ordinary", "1234 (bash)" + tail, "bash", 98765},
        {"name with parentheses and spaces", "1234 (a) (b c))" + tail, "a) (b c)", 98765},
        {"empty name", "1234 ()" + tail, "", 98765},
        {"short line", "1234 (short) S 1 2 3", "short", 0},
        {"ends at the name", "1234 (x)", "x", 0},
        {"ends one past the name", "1234 (x) ", "x", 0},
        {"start field not a number", "1234 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 z",
         "x", 0},
        {"start field overflows",
         "1 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 "
         "99999999999999999999999",
         "x", 0},
        {"no closing parenthesis", "1234 (bash S 1 2", "", 0},
        {"closing before opening", "1234 )bash( S 1 2", "", 0},
        {"empty", "", "", 0},
    };
    for (const auto& c : cases) {
        std::string name = "stale";
        uint64_t start = 5;
        procs::parse_stat(c.line, &name, &start);
        EXPECT_EQ(name, c.name) << c.what;
        EXPECT_EQ(start, c.start) << c.what;
    }
}

TEST(ProcFiles, CommandLinesAndTheNameRule) {
    struct Case {
        const char* what;
        std::string stat_name;
        std::string content;
        std::string name;
        std::string cmdline;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"truncated name completed from the program path", "velmora-sampler",
         "/opt/velmora/bin/velmora-sampler-helper\0--fast\0"s, "velmora-sampler-helper",
         "/opt/velmora/bin/velmora-sampler-helper --fast"},
        {"name not a prefix of the base stays", "bash", "/bin/sh\0-c\0true\0"s, "bash",
         "/bin/sh -c true"},
        {"rewritten into one string with spaces", "nginx", "nginx: worker process"s,
         "nginx:", "nginx: worker process"},
        {"kernel thread", "kworker/0:1", ""s, "kworker/0:1", ""},
        {"only NUL bytes", "idle", "\0\0\0"s, "idle", ""},
        {"trailing NULs removed, inner ones become spaces", "py", "python3\0\0a\0\0\0"s, "python3",
         "python3  a"},
        {"longer name than the base stays", "python3.11", "/usr/bin/python3\0"s, "python3.11",
         "/usr/bin/python3"},
        {"path ending in a slash", "sh", "/usr/bin/\0"s, "sh", "/usr/bin/"},
    };
    for (const auto& c : cases) {
        std::string name = c.stat_name, cmdline;
        procs::apply_cmdline(c.content, &name, &cmdline);
        EXPECT_EQ(name, c.name) << c.what;
        EXPECT_EQ(cmdline, c.cmdline) << c.what;
    }

    EXPECT_EQ(procs::socket_inode("socket:[4294967295]"), 4294967295u);
    for (const char* no : {"socket:[4294967296]", "socket:[]", "socket:[", "pipe:[12345]",
                           "/dev/null", "anon_inode:[eventfd]", "socket:[x1]"})
        EXPECT_EQ(procs::socket_inode(no), 0u) << no;
}

TEST(ProcsVocab, AddressesServicesStatesUsers) {
    uint32_t a[4] = {};
    // IPv4-mapped only with the exact ::ffff:0:0/96 prefix.
    for (const auto& [family, ip, want] : {std::tuple{AF_INET, "10.0.0.254", "10.0.0.254"},
                                           {AF_INET, "0.0.0.0", "0.0.0.0"},
                                           {AF_INET, "255.255.255.255", "255.255.255.255"},
                                           {AF_INET, "99.0.10.200", "99.0.10.200"},
                                           {AF_INET6, "::ffff:192.168.1.9", "192.168.1.9"},
                                           {AF_INET6, "fe80::1:ffff:0:1", "fe80::1:ffff:0:1"},
                                           {AF_INET6, "::fffe:192.168.1.9", "::fffe:c0a8:109"}}) {
        inet_pton(family, ip, a);
        EXPECT_EQ(procs::addr_str(family, a), want);
    }
    EXPECT_EQ(procs::addr_str(AF_UNIX, a), "");

    // One port whose name depends on the protocol; the tables themselves are data.
    EXPECT_STREQ(procs::service_name(443, 6), "https");
    EXPECT_STREQ(procs::service_name(443, 17), "quic");
    EXPECT_STREQ(procs::service_name(12345, 6), "");
    EXPECT_STREQ(procs::state_key(8, 6, true), "conn.state.closewait");
    EXPECT_STREQ(procs::state_key(1, 17, true), "conn.state.open");
    EXPECT_STREQ(procs::state_key(10, 17, false), "conn.state.connected");

    EXPECT_EQ(procs::user_name(0), "root");
    EXPECT_EQ(procs::user_name(3999999), "uid 3999999");
}

} // namespace
