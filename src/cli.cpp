#include "cli.h"

#include "gfx.h"
#include "net_procs.h"
#include "version.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace cli {

Parsed parse(int argc, const char* const* argv) {
    Parsed p;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--version") {
            p.action = Action::Version;
            return p;
        }
        if (a == "--help" || a == "-h") {
            p.action = Action::Help;
            return p;
        }
        if (a == "--list") {
            p.action = Action::List;
            return p;
        }
        if (a == "--render-icon" && i + 2 < argc) {
            p.action = Action::RenderIcon;
            p.icon_size = argv[i + 1];
            p.icon_file = argv[i + 2];
            return p;
        }
        if (a == "--mini") {
            p.opts.force_mini = true;
            continue;
        }
        if (a == "--tab" && i + 1 < argc) {
            // As strtol reads it: no digits give 0, and there is no range check here.
            p.opts.force_tab = static_cast<int>(strtol(argv[++i], nullptr, 10));
            continue;
        }
        if (a == "--theme" && i + 1 < argc) {
            p.opts.force_theme = argv[++i];
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            p.action = Action::Unknown;
            p.bad = a;
            return p;
        }
        // Bare words and single-hyphen words are ignored.
    }
    return p;
}

std::string version_line() {
    return std::string(version::kProduct) + " " + version::kVersion + " (build " + version::kBuild +
           ")\n";
}

std::string help_text() {
    return version_line() + "\n" +
           "  Velmora                    open the window\n"
           "  Velmora --mini             open in the minimal view\n"
           "  Velmora --tab <0-4>        overview, connections, programs, destinations, statistics\n"
           "  Velmora --theme dark|light this run only\n"
           "  Velmora --list             print interfaces and connections, no window\n"
           "  Velmora --version          print the version\n"
           "  Velmora --render-icon <size> <file.png>   write the app icon\n";
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char buf[5];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string interface_line(const net::Interface& r) {
    char buf[512];
    snprintf(buf, sizeof buf, "%-16s %-14s %-10s %-8s mtu=%-5d speed=%-6ld total=%d",
             printable(r.name).c_str(), net::kind_key(r.kind), r.detail.c_str(),
             r.operstate.c_str(), r.mtu, static_cast<long>(r.speed_mbps),
             r.counts_in_total ? 1 : 0);
    std::string line = buf;
    if (!r.master.empty()) line += " master=" + printable(r.master) + "(" + r.master_kind + ")";
    if (!r.members.empty()) {
        line += " members=";
        for (const auto& m : r.members) line += printable(m) + ",";
    }
    for (const auto& a : r.ipv4) line += " " + a;
    if (r.default_route) line += " default";
    if (!r.ssid.empty()) line += " ssid=" + printable(r.ssid);
    if (r.signal_dbm != 0) line += " signal=" + std::to_string(r.signal_dbm);
    line += "\n";
    return line;
}

namespace {

// Sleeps the whole time even when signals interrupt it.
void sleep_ms(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::string endpoint(const std::string& ip, int port) {
    return ip + ":" + std::to_string(port);
}

int list_sockets(FILE* out) {
    procs::Tracker tracker;
    tracker.set_resolve(false);
    tracker.sample();
    // The tracker waits 20 times the cost of a sample before it samples again; one more
    // second gives the rates a one-second base.
    sleep_ms(1000 + static_cast<long>(20000.0 * tracker.cost()));
    tracker.sample();
    const procs::Snapshot snap = tracker.snapshot();

    fprintf(out, "\nsocket diagnostics: %s, %zu sockets, %d without readable owner\n",
            snap.diag_ok ? "ok" : "FAILED", snap.conns.size(), snap.unmapped);
    for (const auto& c : snap.conns) {
        if (c.listening) continue;
        fprintf(out, "%s %-22s -> %-28s pid=%-7d rx=%llu tx=%llu\n", c.proto == 6 ? "tcp" : "udp",
                endpoint(c.local_ip, c.local_port).c_str(),
                endpoint(c.remote_ip, c.remote_port).c_str(), c.pid,
                static_cast<unsigned long long>(c.rx_bytes),
                static_cast<unsigned long long>(c.tx_bytes));
    }
    for (const auto& p : snap.procs) {
        fprintf(out, "proc %-7d %-24s tcp=%d udp=%d listen=%d\n", p.pid, printable(p.name).c_str(),
                p.tcp, p.udp, p.listen);
    }
    return snap.diag_ok ? 0 : 2;
}

} // namespace

int list(FILE* out) {
    for (const auto& r : net::scan_interfaces()) fputs(interface_line(r).c_str(), out);
    return list_sockets(out);
}

int serve(const Parsed& p, FILE* out, FILE* err) {
    switch (p.action) {
    case Action::Version:
        fputs(version_line().c_str(), out);
        return 0;
    case Action::Help:
        fputs(help_text().c_str(), out);
        return 0;
    case Action::List:
        return list(out);
    case Action::RenderIcon: return gfx::render_icon(p.icon_size, p.icon_file) ? 0 : 1;
    case Action::Unknown:
        fprintf(err, "unknown option: %s\n", p.bad.c_str());
        fputs(help_text().c_str(), out);
        return 2;
    case Action::Window:
        break;
    }
    return 0;
}

} // namespace cli
