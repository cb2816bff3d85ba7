// What the three table pages show: one row per socket, per program and per remote address,
// the country summary of the destinations page, the row menus and the jumps from a program
// or destination to its connections.
//
// Host names come from reverse lookups (the owner of the address picks them), process names
// and command lines from any local user: every such text passes plain_text() before it
// becomes a cell, a tooltip or clipboard content.
//
// Sections: safe text · refill · connections · programs · destinations · menus and jumps.

#include "app.h"
#include "format.h"
#include "geoip.h"
#include "l10n.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

void put(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at s[i] and its code point; 0 when malformed
// (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
size_t decode(const std::string& s, size_t i, uint32_t* cp) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n;
    uint32_t v, min;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        n = 2, v = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, v = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, v = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b(i + k) & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return n;
}

// Characters that would change how the rest of the line reads or where it breaks.
bool unsafe_format(uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
           (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

// Short texts of printable ASCII are the common case and pass without a copy.
bool plain_ascii(const std::string& s) {
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F) return false;
    }
    return true;
}

// "address:port", with an IPv6 address in brackets.
void endpoint_into(std::string& out, const std::string& ip, int port) {
    out.clear();
    const bool v6 = ip.find(':') != std::string::npos;
    if (v6) out += '[';
    out += ip;
    if (v6) out += ']';
    out += ':';
    out += std::to_string(port);
}

std::string join(const std::set<std::string>& items, const char* sep) {
    std::string out;
    for (const auto& s : items) {
        if (!out.empty()) out += sep;
        out += s;
    }
    return out;
}

// The process number the tracker gives a socket: its pid, or -uid-1 for sockets of other
// users whose program cannot be read.
int proc_number(const procs::Conn& c) {
    return c.pid >= 0 ? c.pid : -static_cast<int>(c.uid) - 1;
}

struct Agg {
    std::string name, user, cmd;
    int pid = 0;
    double rx = 0, tx = 0;
    uint64_t rxt = 0, txt = 0;
    int conns = 0, listen = 0, count = 0;
    bool exited = true;
    bool group = false;
    std::string pids;
};

struct Dest {
    std::set<std::string> progs, svcs;
    int conns = 0;
    double rx = 0, tx = 0;
    uint64_t rxt = 0, txt = 0;
};

uint64_t sub0(uint64_t a, uint64_t b) {
    return a > b ? a - b : 0;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

// ---- safe text ------------------------------------------------------------------------

std::string plain_text(const std::string& s, size_t max_bytes) {
    if (s.size() <= max_bytes && plain_ascii(s)) return s;
    std::string out;
    out.reserve(std::min(s.size(), max_bytes) + 8);
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t n = decode(s, i, &cp);
        if (n == 0) {
            n = 1;
            cp = 0xFFFD;
        } else if (cp < 0x20) {
            cp += 0x2400; // "␀".."␟": a newline or an escape byte stays visible and inert
        } else if (cp == 0x7F) {
            cp = 0x2421;
        } else if (unsafe_format(cp)) {
            cp = 0xFFFD;
        }
        const size_t before = out.size();
        put(out, cp);
        if (out.size() > max_bytes) {
            out.resize(before);
            out += " …";
            return out;
        }
        i += n;
    }
    return out;
}

// ---- refill ---------------------------------------------------------------------------

void App::fill_table(int page) {
    if (m_conn_field.text != m_settings.conn_filter ||
        m_proc_field.text != m_settings.proc_filter ||
        m_dest_field.text != m_settings.dest_filter) {
        m_settings.conn_filter = m_conn_field.text;
        m_settings.proc_filter = m_proc_field.text;
        m_settings.dest_filter = m_dest_field.text;
        save_later();
    }
    if (page < 1 || page > 3) return;
    const auto p = static_cast<size_t>(page);
    const std::string& filter = field_of(page)->text;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%.17g/%zu/%zu/%.17g/%.17g/%d%d%d%d%d/", m_ps.t,
                  m_ps.conns.size(), m_ps.procs.size(), m_total_rx_now, m_total_tx_now,
                  m_settings.show_local_conns, m_settings.show_listening, m_settings.resolve_names,
                  m_settings.group_programs, m_settings.bits);
    const std::string inputs = buf + L10n::currentLanguage();
    // Typing one more character: nothing else changed, so only rows that passed the
    // shorter filter can pass the longer one. Every sample, chip or option rebuilds.
    const std::string& before = m_fill_filter[p];
    const bool narrows = inputs == m_fill_inputs[p] && filter != before &&
                         lower(filter).find(lower(before)) != std::string::npos &&
                         lower(before).rfind("pid:", 0) != 0 && lower(filter).rfind("pid:", 0) != 0;
    m_fill_inputs[p] = inputs;
    m_fill_filter[p] = filter;
    if (narrows) {
        auto& rows = table_of(page).rows;
        std::erase_if(rows, [&](const Row& r) { return r.id == "other|" || !matches(r, filter); });
        return;
    }
    switch (page) {
    case 1:
        fill_conn_table();
        break;
    case 2:
        fill_proc_table();
        break;
    default:
        fill_dest_table();
        break;
    }
}

// ---- connections ----------------------------------------------------------------------

void App::fill_conn_table() {
    using L = L10n;
    const bool bits = m_settings.bits;
    m_conn.cols = {
        {"prog", L::tr("col.program"), 1.3, 150, false, 0, 0},
        {"proto", L::tr("col.proto"), 0, 72, false, 0, 3},
        {"local", L::tr("col.local"), 0.9, 150, false, 0, 5},
        {"host", L::tr("col.host"), 1.7, 170, false, 0, 0},
        {"remote", L::tr("col.remote"), 1.1, 160, false, 0, 1},
        {"cc", L::tr("col.country"), 0.5, 110, false, 0, 3},
        {"service", L::tr("col.service"), 0, 86, false, 0, 4},
        {"state", L::tr("col.state"), 0, 112, false, 0, 2},
        {"rx", L::tr("col.rate"), 0, 132, true, -1, 0},
        {"tx", L::tr("col.rate"), 0, 132, true, +1, 0},
        {"rxt", L::tr("col.total"), 0, 92, true, -1, 2},
        {"txt", L::tr("col.total"), 0, 92, true, +1, 2},
        {"rtt", L::tr("col.rtt"), 0, 76, true, 0, 4},
        {"age", L::tr("col.age"), 0, 76, true, 0, 5},
    };
    // Everything that repeats across sockets is worked out once per refill.
    struct Owner {
        std::string name, cmd;
    };
    std::unordered_map<int, Owner> owners;
    for (const auto& p : m_ps.procs) owners[p.pid] = {plain_text(p.name), plain_text(p.cmdline)};
    std::unordered_map<uid_t, std::string> users;
    std::map<std::string, std::string> countries;
    std::unordered_map<std::string, const std::string*> by_ip;
    std::map<std::pair<int, int>, std::string> states;
    const std::string local_label = L::tr("col.local") + ": ";
    const std::string remote_label = L::tr("col.remote") + ": ";
    const std::string udp_tip = L::tr("tip.udp_nobytes");
    const std::string retrans = L::tr("tip.retrans") + ": ";
    const std::string here = L::tr("conn.this_machine");
    const bool resolve = m_settings.resolve_names;
    const std::string& filter = m_conn_field.text;

    // Rows are refilled in place: the strings of the previous refill keep their buffers,
    // which saves most allocations when thousands of sockets are listed every second.
    std::vector<Row> rows = std::move(m_conn.rows);
    size_t kept = 0;
    const std::string zero_rate = fmt::rate(0, bits), zero_bytes = fmt::bytes(0);
    std::unordered_map<long, std::string> ages;
    for (const auto& c : m_ps.conns) {
        if (c.loopback && !m_settings.show_local_conns) continue;
        if (c.listening && !m_settings.show_listening) continue;
        if (kept == rows.size()) rows.emplace_back();
        Row& r = rows[kept];
        r.cells.resize(14);
        const int n = proc_number(c);
        const auto own = owners.find(n);
        std::string& prog = r.cells[0];
        prog.clear();
        if (c.pid < 0) prog += '(';
        if (own != owners.end()) {
            prog += own->second.name;
        } else {
            auto u = users.find(c.uid);
            if (u == users.end())
                u = users.emplace(c.uid, plain_text(procs::user_name(c.uid))).first;
            prog += u->second;
        }
        if (c.pid < 0)
            prog += ')';
        else
            prog.append("  ").append(std::to_string(c.pid));

        const bool tcp = c.proto == 6;
        r.cells[1] = tcp ? "TCP" : "UDP";
        if (c.remote_ip.find(':') != std::string::npos) r.cells[1] += '6';
        endpoint_into(r.cells[2], c.local_ip, c.local_port);
        std::string& host = r.cells[3];
        if (c.listening) {
            host = L::tr("conn.listening_on", std::to_string(c.local_port).c_str());
        } else if (c.loopback) {
            host = here;
        } else if (resolve) {
            const std::string name = m_tracker.host_name(c.remote_ip);
            host = name.empty() ? "…" : name == "-" ? c.remote_ip : plain_text(name);
        } else {
            host = c.remote_ip;
        }
        if (c.listening)
            r.cells[4].clear();
        else
            endpoint_into(r.cells[4], c.remote_ip, c.remote_port);
        r.cells[5].clear();
        if (!c.listening && !c.loopback) {
            // Many sockets share a remote address: each is looked up once per refill.
            auto at = by_ip.find(c.remote_ip);
            if (at == by_ip.end()) {
                std::string cc = geoip::country(c.remote_ip);
                auto it = countries.find(cc);
                if (it == countries.end()) it = countries.emplace(cc, geoip::name(cc)).first;
                at = by_ip.emplace(c.remote_ip, &it->second).first;
            }
            r.cells[5] = *at->second;
        }
        const char* svc = procs::service_name(c.listening ? c.local_port : c.remote_port, c.proto);
        r.cells[6] = svc ? svc : "";
        auto st = states.find({c.state, c.proto * 2 + c.listening});
        if (st == states.end())
            st = states
                     .emplace(std::pair{c.state, c.proto * 2 + c.listening},
                              L::tr(procs::state_key(c.state, c.proto, c.listening)))
                     .first;
        r.cells[7] = st->second;
        const double age = m_ps.t - c.first_seen;

        r.id.assign(std::to_string(c.cookie)).append("|").append(std::to_string(n)).append("|");
        if (c.has_bytes) {
            r.cells[8] = c.rx_rate > 0 ? fmt::rate(c.rx_rate, bits) : zero_rate;
            r.cells[9] = c.tx_rate > 0 ? fmt::rate(c.tx_rate, bits) : zero_rate;
            r.cells[10] = c.rx_bytes ? fmt::bytes(c.rx_bytes) : zero_bytes;
            r.cells[11] = c.tx_bytes ? fmt::bytes(c.tx_bytes) : zero_bytes;
        } else {
            for (size_t i = 8; i < 12; ++i) r.cells[i].clear();
        }
        if (tcp && c.rtt_us != 0)
            r.cells[12] = fmt::number(c.rtt_us / 1000.0, c.rtt_us <= 9999 ? 1 : 0) + " ms";
        else
            r.cells[12].clear();
        // Sockets seen first in the same sample share their age text.
        const long whole = age >= 0 && age < 1e9 ? static_cast<long>(age) : -1;
        auto d = ages.find(whole);
        if (d == ages.end()) d = ages.emplace(whole, fmt::duration(age)).first;
        r.cells[13] = d->second;
        r.keys.assign({kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, c.rx_rate, c.tx_rate,
                       static_cast<double>(c.rx_bytes), static_cast<double>(c.tx_bytes),
                       tcp ? static_cast<double>(c.rtt_us) : -1.0, age});
        const double sum = c.rx_rate + c.tx_rate;
        r.dim = c.listening || sum == 0;
        r.accent = sum > 0 ? 1 : 0;

        std::string& tip = r.tooltip;
        tip.clear();
        if (own != owners.end() && !own->second.cmd.empty()) tip.append(own->second.cmd) += '\n';
        tip.append(local_label).append(r.cells[2]);
        if (!c.listening) tip.append("\n").append(remote_label).append(r.cells[4]);
        if (!tcp) {
            tip.append("\n").append(udp_tip);
        } else {
            tip.append("\n").append(retrans).append(std::to_string(c.retrans));
            if (c.rtt_us != 0)
                tip.append("   RTT ± ").append(fmt::number(c.rttvar_us / 1000.0, 1)).append(" ms");
            if (c.cwnd != 0) tip.append("   cwnd ").append(std::to_string(c.cwnd));
        }
        if (matches(r, filter)) ++kept;
    }
    rows.resize(kept);
    m_conn.rows = std::move(rows);
    sort_table(m_conn);
}

// ---- programs -------------------------------------------------------------------------

void App::fill_proc_table() {
    using L = L10n;
    const bool bits = m_settings.bits;
    const bool grouping = m_settings.group_programs;
    m_proc.cols = {
        {"name", L::tr("col.program"), 1.6, 170, false, 0, 0},
        {"pid", L::tr("col.pid"), 0, 72, true, 0, 2},
        {"user", L::tr("col.user"), 0.5, 100, false, 0, 3},
        {"rx", L::tr("col.rate"), 0, 138, true, -1, 0},
        {"tx", L::tr("col.rate"), 0, 138, true, +1, 0},
        {"rxt", L::tr("col.session"), 0, 108, true, -1, 1},
        {"txt", L::tr("col.session"), 0, 108, true, +1, 1},
        {"conns", L::tr("col.conns"), 0, 100, true, 0, 2},
        {"listen", L::tr("col.ports"), 0, 90, true, 0, 4},
    };
    std::map<std::string, Agg> aggs;
    double sum_rx = 0, sum_tx = 0;
    uint64_t sum_rxt = 0, sum_txt = 0;
    for (const auto& p : m_ps.procs) {
        std::string key = !grouping    ? std::to_string(p.pid) + "/" + p.name
                          : p.pid >= 0 ? p.name
                                       : "uid" + std::to_string(p.uid);
        Agg& a = aggs[key];
        a.name = p.pid < 0 ? "(" + p.name + ")" : p.name;
        a.user = p.user;
        if (a.cmd.empty()) a.cmd = p.cmdline;
        a.rx += p.rx_rate;
        a.tx += p.tx_rate;
        a.rxt += p.rx_total;
        a.txt += p.tx_total;
        a.conns += p.tcp + p.udp;
        a.listen += p.listen;
        a.count += 1;
        a.pid = p.pid;
        a.exited = a.exited && p.exited;
        a.group = p.pid < 0;
        a.pids += "|" + std::to_string(p.pid);
        sum_rx += p.rx_rate;
        sum_tx += p.tx_rate;
        sum_rxt += p.rx_total;
        sum_txt += p.tx_total;
    }
    m_other_rx = std::max(0.0, m_total_rx_now - sum_rx);
    m_other_tx = std::max(0.0, m_total_tx_now - sum_tx);

    const std::string& filter = m_proc_field.text;
    const std::string ended = "  · " + L::tr("proc.exited");
    const std::string uid_tip = L::tr("tip.uid_group");
    m_proc.rows.clear();
    for (auto& [key, a] : aggs) {
        if (a.conns == 0 && a.rxt + a.txt == 0 && !m_settings.show_listening) continue;
        Row r;
        r.id = "p" + key + a.pids + "|";
        std::string name = plain_text(a.name);
        if (grouping && a.count > 1) name += "  (" + std::to_string(a.count) + "×)";
        if (a.exited) name += ended;
        const bool no_pid = a.group || (grouping && a.count >= 2);
        r.cells = {std::move(name),
                   no_pid ? "" : std::to_string(a.pid),
                   plain_text(a.user),
                   fmt::rate(a.rx, bits),
                   fmt::rate(a.tx, bits),
                   fmt::bytes(a.rxt),
                   fmt::bytes(a.txt),
                   std::to_string(a.conns),
                   a.listen ? std::to_string(a.listen) : ""};
        r.keys = {kNaN,
                  a.group ? -1.0 : static_cast<double>(a.pid),
                  kNaN,
                  a.rx,
                  a.tx,
                  static_cast<double>(a.rxt),
                  static_cast<double>(a.txt),
                  static_cast<double>(a.conns),
                  static_cast<double>(a.listen)};
        r.dim = a.exited || a.rx + a.tx == 0;
        r.accent = a.rx + a.tx > 0 ? 1 : 0;
        r.tooltip = a.group ? uid_tip : plain_text(a.cmd);
        if (matches(r, filter)) m_proc.rows.push_back(std::move(r));
    }
    if (filter.empty()) {
        Row r;
        r.id = "other|";
        const uint64_t orx = sub0(m_sess_rx, sum_rxt), otx = sub0(m_sess_tx, sum_txt);
        r.cells = {L::tr("proc.other"),
                   "",
                   "",
                   fmt::rate(m_other_rx, bits),
                   fmt::rate(m_other_tx, bits),
                   fmt::bytes(orx),
                   fmt::bytes(otx),
                   "",
                   ""};
        r.keys = {kNaN, -2, kNaN, m_other_rx, m_other_tx, double(orx), double(otx), -1, -1};
        r.accent = 2;
        r.tooltip = L::tr("tip.other");
        m_proc.rows.push_back(std::move(r));
    }
    sort_table(m_proc);
}

// ---- destinations ---------------------------------------------------------------------

void App::fill_dest_table() {
    using L = L10n;
    const bool bits = m_settings.bits;
    m_dest.cols = {
        {"host", L::tr("col.host"), 1.8, 190, false, 0, 0},
        {"ip", L::tr("col.address"), 1.0, 150, false, 0, 2},
        {"cc", L::tr("col.country"), 0.7, 130, false, 0, 1},
        {"prog", L::tr("col.programs"), 1.2, 140, false, 0, 3},
        {"svc", L::tr("col.services"), 0.6, 100, false, 0, 4},
        {"conns", L::tr("col.conns"), 0, 100, true, 0, 3},
        {"rx", L::tr("col.rate"), 0, 132, true, -1, 0},
        {"tx", L::tr("col.rate"), 0, 132, true, +1, 0},
        {"rxt", L::tr("col.total"), 0, 92, true, -1, 1},
        {"txt", L::tr("col.total"), 0, 92, true, +1, 1},
    };
    std::unordered_map<int, std::string> names;
    for (const auto& p : m_ps.procs)
        names[p.pid] = plain_text(p.pid < 0 ? "(" + p.name + ")" : p.name);
    std::map<std::string, Dest> dests;
    for (const auto& c : m_ps.conns) {
        if (c.listening || c.loopback || c.remote_ip.empty()) continue;
        Dest& d = dests[c.remote_ip];
        d.conns += 1;
        d.rx += c.rx_rate;
        d.tx += c.tx_rate;
        d.rxt += c.rx_bytes;
        d.txt += c.tx_bytes;
        if (const auto it = names.find(proc_number(c)); it != names.end())
            d.progs.insert(it->second);
        const char* svc = procs::service_name(c.remote_port, c.proto);
        d.svcs.insert(svc && *svc ? svc : std::to_string(c.remote_port));
    }

    const std::string& filter = m_dest_field.text;
    const std::string progs_label = L::tr("col.programs") + ": ";
    std::map<std::string, Country> by_cc;
    std::map<std::string, std::string> cc_names;
    m_dest.rows.clear();
    for (const auto& [ip, d] : dests) {
        const std::string cc = geoip::country(ip);
        Country& k = by_cc[cc];
        k.cc = cc;
        k.rx += d.rx;
        k.tx += d.tx;
        k.bytes += d.rxt + d.txt;
        k.hosts += 1;
        auto cn = cc_names.find(cc);
        if (cn == cc_names.end()) cn = cc_names.emplace(cc, geoip::name(cc)).first;

        std::string name;
        if (m_settings.resolve_names) name = m_tracker.host_name(ip);
        const bool named = !name.empty() && name != "-";
        if (named) name = plain_text(name);
        Row r;
        r.id = "d" + ip + "|";
        const std::string progs = join(d.progs, ", ");
        r.cells = {!m_settings.resolve_names ? ip
                   : named                   ? name
                   : name.empty()            ? "…"
                                             : ip,
                   ip,
                   cn->second,
                   progs,
                   join(d.svcs, ", "),
                   std::to_string(d.conns),
                   fmt::rate(d.rx, bits),
                   fmt::rate(d.tx, bits),
                   fmt::bytes(d.rxt),
                   fmt::bytes(d.txt)};
        r.keys = {kNaN, kNaN, kNaN,          kNaN,         kNaN, double(d.conns),
                  d.rx, d.tx, double(d.rxt), double(d.txt)};
        r.dim = d.rx + d.tx == 0;
        r.accent = d.rx + d.tx > 0 ? 1 : 0;
        r.tooltip =
            (named ? name + "  ·  " + ip : ip) + "\n" + cn->second + "\n" + progs_label + progs;
        if (matches(r, filter)) m_dest.rows.push_back(std::move(r));
    }
    sort_table(m_dest);

    m_countries.clear();
    for (auto& [cc, k] : by_cc) m_countries.push_back(std::move(k));
    std::stable_sort(m_countries.begin(), m_countries.end(),
                     [](const Country& a, const Country& b) {
                         const double ra = a.rx + a.tx, rb = b.rx + b.tx;
                         if (ra != rb) return ra > rb;
                         return a.bytes > b.bytes;
                     });
}

// ---- menus and jumps ------------------------------------------------------------------

void App::show_connections(const std::string& filter) {
    m_conn_field.text = filter;
    m_conn_field.caret = filter.size();
    m_scroll[1] = 0;
    select_tab(1);
}

void App::table_menu(int page, const std::string& row_id, double x, double y) {
    const Table& t = table_of(page);
    const auto it =
        std::find_if(t.rows.begin(), t.rows.end(), [&](const Row& r) { return r.id == row_id; });
    if (it == t.rows.end() || page < 1 || page > 3) return;
    const Row& r = *it;
    auto cell = [&](size_t i) { return i < r.cells.size() ? r.cells[i] : std::string(); };
    std::vector<MenuItem> items;
    auto copy_item = [&](const char* key, const std::string& text) {
        if (text.empty()) return;
        items.push_back({L10n::tr(key), [this, text] { copy(text); }, "", false, false});
    };
    if (page == 1) {
        copy_item("menu.copy_remote", cell(4));
        copy_item("menu.copy_host", cell(3));
    } else if (page == 2) {
        copy_item("menu.copy_cmd", r.tooltip);
        copy_item("menu.copy_name", cell(0));
    } else {
        copy_item("menu.copy_host", cell(0));
        copy_item("menu.copy_remote", cell(1));
        const std::string ip = cell(1);
        if (!ip.empty())
            items.push_back({L10n::tr("menu.show_conns"), [this, ip] { show_connections(ip); }, "",
                             false, false});
    }
    std::string line;
    for (const auto& c : r.cells) {
        if (c.empty()) continue;
        if (!line.empty()) line += '\t';
        line += c;
    }
    copy_item("menu.copy_row", line);
    if (!items.empty()) open_menu(x, y, std::move(items));
}
