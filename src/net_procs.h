// Sockets and the programs that own them: TCP and UDP sockets from the kernel's
// socket-diagnostics netlink dumps, per-connection rates from the TCP byte counters,
// owners found through the descriptor lists under /proc, per-process aggregates, and
// reverse host names looked up on a background thread.
//
// Sections of net_procs.cpp: vocabularies (addresses, services, states, users), parsing
// of dump replies, parsing of process files, the descriptor scan, the dumps themselves,
// the tracker's sample, the resolver thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace procs {

struct Conn {
    uint64_t cookie = 0;
    uint32_t inode = 0;
    uid_t uid = 0;
    int family = 0;
    int proto = 0;
    int state = 0;
    std::string local_ip;
    std::string remote_ip;
    int local_port = 0;
    int remote_port = 0;
    bool loopback = false;
    bool listening = false;
    bool has_bytes = false;
    uint64_t rx_bytes = 0;
    uint64_t tx_bytes = 0;
    double rx_rate = 0;
    double tx_rate = 0;
    uint32_t rtt_us = 0;
    uint32_t rttvar_us = 0;
    uint32_t retrans = 0;
    uint32_t cwnd = 0;
    double first_seen = 0;
    int pid = -1;
};

// A process, or the sockets of one user whose processes cannot be read (negative pid).
struct Proc {
    int pid = 0;
    uid_t uid = 0;
    std::string name;
    std::string cmdline;
    std::string user;
    double rx_rate = 0;
    double tx_rate = 0;
    uint64_t rx_total = 0;
    uint64_t tx_total = 0;
    int tcp = 0;
    int udp = 0;
    int listen = 0;
    bool exited = false;
    double last_active = 0;
};

struct Snapshot {
    std::vector<Conn> conns;
    std::vector<Proc> procs;
    bool diag_ok = false;
    int unmapped = 0;
    double t = 0;
};

// Address text; an IPv4-mapped IPv6 address is printed as plain dotted IPv4.
std::string addr_str(int family, const uint32_t addr[4]);

// Well-known service of a port: the UDP table for proto 17, the TCP table otherwise; "" when
// the port is not listed.
const char* service_name(int port, int proto);

// Translation key of a connection state; `listening` matters for UDP only.
const char* state_key(int state, int proto, bool listening);

// Account name of a uid, or "uid N" when there is no entry.
std::string user_name(uid_t uid);

// --- Parsing, kept apart from the sockets and files so that tests and fuzzers feed bytes.

// How one reply datagram of a dump ended.
enum class Walk {
    More,   // no end marker yet: keep receiving
    Done,   // NLMSG_DONE: the dump is complete
    Failed, // NLMSG_ERROR: the kernel refused or aborted the dump
};

// What the per-socket step needs besides the message: the request's family and protocol,
// and the machine's own addresses (traffic to them never leaves the machine).
struct DumpContext {
    int family = 0;
    int proto = 0;
    const std::unordered_set<std::string>* own = nullptr;
};

// Walks the netlink messages of one received datagram and appends one Conn per socket
// message to `out`. Stops at the first message whose length does not fit.
Walk walk_dump(const uint8_t* data, size_t len, const DumpContext& ctx, std::vector<Conn>* out);

// Builds a Conn from one inet_diag message body (`msg`, `len` bytes after the netlink
// header). False when the body is too short to hold the fixed part.
bool parse_socket(const uint8_t* msg, size_t len, const DumpContext& ctx, Conn* out);

// Applies the attribute list that follows the fixed part (the tcp_info block).
void apply_attributes(const uint8_t* attrs, size_t len, Conn* out);

// Name (between the first "(" and the last ")") and start time (field 22) of a stat line.
// Each stays empty or 0 when its part of the line is missing or malformed.
void parse_stat(std::string_view line, std::string* name, uint64_t* start);

// The raw /proc/<pid>/cmdline content turned into the shown command line; a truncated
// `name` is completed from the program's base name.
void apply_cmdline(std::string_view content, std::string* name, std::string* cmdline);

// The inode of a descriptor link "socket:[N]", 0 when the link is not a socket.
uint32_t socket_inode(std::string_view link);

class Tracker {
public:
    struct ProcMeta {
        std::string name;
        std::string cmdline;
        std::string user;
        uid_t uid = 0;
        uint64_t start = 0;
    };

    // `root` prefixes every /proc path (fixture trees in tests); the sockets are always real.
    explicit Tracker(const std::string& root = "");
    ~Tracker();
    Tracker(const Tracker&) = delete;
    Tracker& operator=(const Tracker&) = delete;

    // One measurement; returns at once while the tracker throttles itself. Everything slow
    // (dumps, process files, the user database) happens before the result is published,
    // so snapshot() never waits for it.
    void sample();
    Snapshot snapshot() const;
    // Takes effect at the next sample, which is also when the published totals change.
    void reset_totals();
    void set_resolve(bool on);
    std::string host_name(const std::string& ip) const;
    // Addresses waiting for the resolver thread.
    size_t pending_lookups() const;

    // Duration in seconds of the last real sample, and the earliest time of the next one.
    // Read on the sampling thread only.
    double cost() const { return m_cost; }
    double next_due() const { return m_next_due; }

private:
    // What the next sample needs of a connection to compute its deltas.
    struct PrevCounters {
        uint64_t cookie = 0;
        uint64_t rx_bytes = 0;
        uint64_t tx_bytes = 0;
        double first_seen = 0;
        bool has_bytes = false;
        bool operator<(uint64_t c) const { return cookie < c; }
    };
    struct ProcKey {
        int pid = 0;
        uint64_t start = 0;
        bool operator<(const ProcKey& o) const {
            return pid != o.pid ? pid < o.pid : start < o.start;
        }
    };
    // Records the cost of a sample and the next due time however sample() returns.
    struct Budget {
        Tracker* t;
        double t0;
        ~Budget();
    };

    struct UserName {
        std::string name;
        double looked_up = 0;
    };

    void rescan_fds();
    const ProcMeta* meta_for(int pid, double now);
    const std::string& user_for(uid_t uid, double now);
    // Queues the remote addresses of `conns` not looked up yet.
    void feed_resolver(const std::vector<Conn>& conns);
    void resolver_loop();
    bool proc_alive(const ProcKey& key) const;

    // Guards m_snap only. The process rows and every other table below belong to the
    // sampling thread; the UI thread reaches them through the published snapshot alone.
    mutable std::mutex m_mutex;
    Snapshot m_snap;
    std::atomic<bool> m_reset_totals{false};
    // The connections of the last sample by ascending cookie; the full records are in
    // m_snap.conns, in the same order.
    std::vector<PrevCounters> m_prev;
    std::unordered_map<uint32_t, int> m_inode_pid;
    std::unordered_set<uint32_t> m_unowned;
    std::unordered_map<int, ProcMeta> m_meta;
    std::map<ProcKey, Proc> m_procs;
    std::map<uid_t, Proc> m_uid_groups;
    std::unordered_map<uid_t, UserName> m_users;
    double m_last_scan = 0;
    double m_next_due = 0;
    double m_cost = 0;
    bool m_first = true;

    mutable std::mutex m_rmutex;
    std::condition_variable m_rcv;
    std::deque<std::string> m_rqueue;
    std::map<std::string, std::string> m_names;
    bool m_resolve = true;
    bool m_stop = false;

    std::string m_root;
    std::thread m_rthread;
};

} // namespace procs
