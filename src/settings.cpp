#include "settings.h"

#include "sealed_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <string_view>

namespace {

constexpr int kFormatVersion = 4;
constexpr unsigned kMaxWindowSide = 20000;

using Lines = std::map<std::string, std::string>;

// A value holding a line feed would end its line early and turn the rest into a line of
// its own (a filter text "x\nversion=1" would downgrade the file), so line feeds are
// stored as spaces.
std::string one_line(std::string value) {
    std::replace(value.begin(), value.end(), '\n', ' ');
    return value;
}

// Sets are written in byte order; an empty element adds nothing.
std::string join(const std::set<std::string>& items) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += ',';
        out += one_line(item);
    }
    return out;
}

std::string join_ordered(const std::vector<std::string>& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        out += one_line(items[i]);
    }
    return out;
}

std::string geo(const Geometry& g) {
    return std::to_string(g.x) + " " + std::to_string(g.y) + " " + std::to_string(g.w) + " " +
           std::to_string(g.h) + " " + (g.has_pos ? "1" : "0");
}

// The integer after the whitespace at `pos`, read the way a stream reads it ("12abc" gives
// 12 and the next read fails); false (pos unchanged) when there is none or it does not fit
// an int.
bool next_int(const std::string& text, size_t& pos, int& value) {
    size_t p = pos;
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
    if (p >= text.size()) return false;
    const char* start = text.c_str() + p;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    pos = p + static_cast<size_t>(end - start);
    return true;
}

Geometry parse_geo(const std::string& text) {
    Geometry g;
    size_t pos = 0;
    int flag = 0;
    if (next_int(text, pos, g.x) && next_int(text, pos, g.y) && next_int(text, pos, g.w) &&
        next_int(text, pos, g.h) && next_int(text, pos, flag)) {
        g.has_pos = flag == 1;
    }
    // A negative size counts as too large, like any size no screen has.
    if (static_cast<unsigned>(g.w) > kMaxWindowSide || static_cast<unsigned>(g.h) > kMaxWindowSide)
        return Geometry{};
    return g;
}

// strtol semantics (no digits gives 0), except that values beyond an int are garbage too.
int parse_int(const std::string& value) {
    errno = 0;
    long v = std::strtol(value.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return 0;
    return static_cast<int>(v);
}

void split_into(const std::string& value, auto&& add) {
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        if (comma > start) add(value.substr(start, comma - start));
        start = comma + 1;
    }
}

std::set<std::string> parse_set(const std::string& value) {
    std::set<std::string> out;
    split_into(value, [&](std::string item) { out.insert(std::move(item)); });
    return out;
}

std::vector<std::string> parse_list(const std::string& value) {
    std::vector<std::string> out;
    split_into(value, [&](std::string item) { out.push_back(std::move(item)); });
    return out;
}

// Key = the text before the first "=", value = everything after it; the last of repeated
// keys wins and lines without "=" are skipped.
Lines split_lines(std::string_view text) {
    Lines lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = text.substr(start, nl - start);
        size_t eq = line.find('=');
        if (eq != std::string_view::npos)
            lines[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
        start = nl + 1;
    }
    return lines;
}

} // namespace

void Settings::load(const std::string& path) {
    m_path = path;
    std::string text;
    if (sealed::read(path, &text) != sealed::Result::Ok) return;
    load_text(text);
}

bool Settings::save() const {
    return sealed::write(m_path, to_text());
}

void Settings::load_text(const std::string& text) {
    const Lines lines = split_lines(text);
    auto with = [&](const char* key, auto&& apply) {
        auto it = lines.find(key);
        if (it != lines.end()) apply(it->second);
    };
    auto str = [&](const char* key, std::string& field) {
        with(key, [&](const std::string& v) { field = v; });
    };
    auto flag = [&](const char* key, bool& field) {
        with(key, [&](const std::string& v) { field = v == "1"; });
    };
    auto num = [&](const char* key, int& field) {
        with(key, [&](const std::string& v) { field = parse_int(v); });
    };
    auto set = [&](const char* key, std::set<std::string>& field) {
        with(key, [&](const std::string& v) { field = parse_set(v); });
    };

    str("language", language);
    str("theme", theme);
    flag("bits", bits);
    num("interval_ms", interval_ms);
    num("span_s", span_s);
    flag("show_loopback", show_loopback);
    flag("show_inactive", show_inactive);
    flag("show_virtual", show_virtual);
    flag("resolve_names", resolve_names);
    flag("show_local_conns", show_local_conns);
    flag("show_listening", show_listening);
    flag("group_programs", group_programs);
    flag("always_on_top", always_on_top);
    flag("mini_on_top", mini_on_top);
    flag("mini", mini);
    num("tab", tab);
    set("hidden", hidden);
    set("mini_devices", mini_devices);
    set("total_on", total_on);
    set("total_off", total_off);
    str("proc_sort", proc_sort);
    flag("proc_desc", proc_desc);
    str("conn_sort", conn_sort);
    flag("conn_desc", conn_desc);
    str("stats_iface", stats_iface);
    str("dest_sort", dest_sort);
    flag("dest_desc", dest_desc);
    str("cols_conn", cols_conn);
    str("cols_proc", cols_proc);
    str("cols_dest", cols_dest);
    str("conn_filter", conn_filter);
    str("proc_filter", proc_filter);
    str("dest_filter", dest_filter);
    with("card_order", [&](const std::string& v) { card_order = parse_list(v); });
    str("expanded", expanded);
    flag("animate", animate);
    with("full", [&](const std::string& v) { full = parse_geo(v); });
    with("compact", [&](const std::string& v) { compact = parse_geo(v); });
    with("plans", [&](const std::string& v) { plans = plan::parse_plans(v); });
    with("plan_alerts", [&](const std::string& v) { plan_alerts = plan::parse_alerts(v); });

    if (interval_ms != 500 && interval_ms != 2000) interval_ms = 1000;
    static const int ok[] = {60, 300, 900, 3600, 43200, 86400, 604800, 2592000, 31536000};
    if (std::find(std::begin(ok), std::end(ok), span_s) == std::end(ok)) span_s = 300;

    // Files written by older versions hold values whose meaning has changed since; those
    // fall back to their defaults. A file without a version line is of the first version.
    int version = 1;
    with("version", [&](const std::string& v) { version = parse_int(v); });
    if (version <= 1) {
        span_s = 300;
        conn_sort = "rx";
        conn_desc = true;
    }
    if (version <= 2) {
        dest_sort = "rx";
        dest_desc = true;
    }
    if (version <= 3) compact = Geometry{};

    if (theme != "light" && theme != "dark") theme = "auto";
    if (tab < 0 || tab > 3) tab = 0;
}

std::string Settings::to_text() const {
    std::string out;
    auto line = [&](const char* key, const std::string& value) {
        out += key;
        out += '=';
        out += value;
        out += '\n';
    };
    auto str = [&](const char* key, const std::string& v) { line(key, one_line(v)); };
    auto flag = [&](const char* key, bool v) { line(key, v ? "1" : "0"); };
    auto num = [&](const char* key, int v) { line(key, std::to_string(v)); };

    num("version", kFormatVersion);
    str("language", language);
    str("theme", theme);
    flag("bits", bits);
    num("interval_ms", interval_ms);
    num("span_s", span_s);
    flag("show_loopback", show_loopback);
    flag("show_inactive", show_inactive);
    flag("show_virtual", show_virtual);
    flag("resolve_names", resolve_names);
    flag("show_local_conns", show_local_conns);
    flag("show_listening", show_listening);
    flag("group_programs", group_programs);
    flag("always_on_top", always_on_top);
    flag("mini_on_top", mini_on_top);
    flag("mini", mini);
    num("tab", tab);
    line("hidden", join(hidden));
    line("mini_devices", join(mini_devices));
    line("total_on", join(total_on));
    line("total_off", join(total_off));
    str("proc_sort", proc_sort);
    flag("proc_desc", proc_desc);
    str("conn_sort", conn_sort);
    flag("conn_desc", conn_desc);
    str("stats_iface", stats_iface);
    str("expanded", expanded);
    str("dest_sort", dest_sort);
    flag("dest_desc", dest_desc);
    str("cols_conn", cols_conn);
    str("cols_proc", cols_proc);
    str("cols_dest", cols_dest);
    str("conn_filter", conn_filter);
    str("proc_filter", proc_filter);
    str("dest_filter", dest_filter);
    flag("animate", animate);
    line("card_order", join_ordered(card_order));
    line("full", geo(full));
    line("compact", geo(compact));
    // Written only when used, so that files of users without a plan stay as they were.
    if (!plans.empty()) line("plans", plan::to_text(plans));
    if (!plan_alerts.empty()) line("plan_alerts", plan::to_text(plan_alerts));
    return out;
}
