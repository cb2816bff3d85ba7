#include "usage_store.h"

#include "sealed_file.h"
#include "sysfs.h"

#include <charconv>
#include <climits>
#include <ctime>
#include <optional>
#include <string_view>

namespace usage {

namespace {

// Missing, malformed, negative or oversized numbers all read as 0.
template <typename T> T parse_num(std::string_view text) {
    T v{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return T{};
    return v;
}

// Splits `line` at runs of blanks into at most `max` fields; returns how many were found.
size_t split_fields(std::string_view line, std::string_view* fields, size_t max) {
    size_t n = 0;
    size_t i = 0;
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    while (n < max) {
        while (i < line.size() && blank(line[i])) ++i;
        if (i >= line.size()) break;
        size_t start = i;
        while (i < line.size() && !blank(line[i])) ++i;
        fields[n++] = line.substr(start, i - start);
    }
    return n;
}

void add_to(Sum& s, uint64_t rx, uint64_t tx) {
    s.rx += rx;
    s.tx += tx;
}

} // namespace

int Store::today() {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

int Store::add_days(int day, int n) {
    // Noon, so that a daylight-saving change on the way never moves the date. Steps of
    // more than about 27 000 years are cut short rather than overflowing the day field.
    constexpr int kMaxStep = 10'000'000;
    if (n > kMaxStep) n = kMaxStep;
    if (n < -kMaxStep) n = -kMaxStep;
    tm t{};
    t.tm_year = day / 10000 - 1900;
    t.tm_mon = (day / 100) % 100 - 1;
    t.tm_mday = day % 100 + n;
    t.tm_hour = 12;
    t.tm_isdst = 0;
    if (mktime(&t) == -1) return day;
    long long out = (t.tm_year + 1900LL) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
    if (out < INT_MIN || out > INT_MAX) return day;
    return static_cast<int>(out);
}

void Store::load(const std::string& path, const std::string& root) {
    m_path = path;
    m_boot = sysfs::first_line(root + "/proc/sys/kernel/random/boot_id");
    m_days.clear();
    m_raw_prev.clear();
    std::string text;
    if (sealed::read(path, &text) != sealed::Result::Ok) return;
    load_payload(text);
}

void Store::load_payload(const std::string& payload) {
    std::string stored_boot;
    std::string_view text = payload;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view f[5];
        size_t n = split_fields(text.substr(start, nl - start), f, 5);
        start = nl + 1;
        if (n == 0) continue;
        if (f[0] == "B") {
            stored_boot = n > 1 ? std::string(f[1]) : std::string();
        } else if (f[0] == "R") {
            if (n < 2) continue;
            m_raw_prev[std::string(f[1])] =
                Raw{parse_num<uint64_t>(n > 2 ? f[2] : ""), parse_num<uint64_t>(n > 3 ? f[3] : "")};
        } else if (f[0] == "D") {
            if (n < 2) continue;
            int d = parse_num<int>(n > 2 ? f[2] : "");
            if (d < 1) continue;
            auto it = m_days.find(f[1]);
            if (it == m_days.end()) it = m_days.emplace(std::string(f[1]), Days{}).first;
            it->second[d] =
                Sum{parse_num<uint64_t>(n > 3 ? f[3] : ""), parse_num<uint64_t>(n > 4 ? f[4] : "")};
        }
    }
    // After a reboot every kernel counter started again from zero; readings of an earlier
    // boot would turn the first new reading into a bogus increment.
    if (stored_boot != m_boot) m_raw_prev.clear();
}

std::string Store::payload() const {
    std::string out = "B " + m_boot + "\n";
    for (const auto& [name, raw] : m_raw) {
        out += "R " + name + " " + std::to_string(raw.rx) + " " + std::to_string(raw.tx) + "\n";
    }
    for (const auto& [name, days] : m_days) {
        for (const auto& [d, sum] : days) {
            out += "D " + name + " " + std::to_string(d) + " " + std::to_string(sum.rx) + " " +
                   std::to_string(sum.tx) + "\n";
        }
    }
    return out;
}

void Store::drop_before(int cutoff) {
    for (auto it = m_days.begin(); it != m_days.end();) {
        Days& days = it->second;
        days.erase(days.begin(), days.lower_bound(cutoff));
        it = days.empty() ? m_days.erase(it) : std::next(it);
    }
}

bool Store::save() {
    if (m_path.empty()) return false;
    drop_before(add_days(today(), -kKeepDays));
    if (!sealed::write(m_path, payload())) return false;
    m_dirty = false;
    return true;
}

void Store::observe(const std::string& name, uint64_t rx, uint64_t tx, bool counts) {
    std::optional<Raw> prev;
    auto cur = m_raw.find(name);
    if (cur != m_raw.end()) {
        prev = cur->second;
        cur->second = Raw{rx, tx};
    } else {
        // The first reading in this run continues from what an earlier run of the same
        // boot saved; without one it only sets the base.
        auto saved = m_raw_prev.find(name);
        if (saved != m_raw_prev.end()) prev = saved->second;
        m_raw.emplace(name, Raw{rx, tx});
    }
    if (!prev) return;

    // A counter below the previous reading was restarted (driver reload, device
    // re-created); all it has counted since then is new traffic.
    uint64_t d_rx = rx >= prev->rx ? rx - prev->rx : rx;
    uint64_t d_tx = tx >= prev->tx ? tx - prev->tx : tx;
    if (d_rx == 0 && d_tx == 0) return;

    const int d = today();
    auto days = m_days.find(name);
    if (days == m_days.end()) days = m_days.emplace(name, Days{}).first;
    add_to(days->second[d], d_rx, d_tx);
    if (counts) {
        auto total = m_days.find(std::string_view(kTotal));
        if (total == m_days.end()) total = m_days.emplace(kTotal, Days{}).first;
        add_to(total->second[d], d_rx, d_tx);
    }
    m_dirty = true;
}

Sum Store::range(const std::string& name, int from, int to) const {
    Sum out;
    auto it = m_days.find(name);
    if (it == m_days.end() || from > to) return out;
    const Days& days = it->second;
    for (auto d = days.lower_bound(from); d != days.end() && d->first <= to; ++d) {
        add_to(out, d->second.rx, d->second.tx);
    }
    return out;
}

int Store::first_day(const std::string& name) const {
    auto it = m_days.find(name);
    if (it == m_days.end() || it->second.empty()) return 0;
    return it->second.begin()->first;
}

std::vector<std::string> Store::interfaces() const {
    std::vector<std::string> out;
    for (const auto& [name, days] : m_days) {
        if (name != kTotal) out.push_back(name);
    }
    return out;
}

void Store::each_day(const std::string& name,
                     const std::function<void(int, const Sum&)>& fn) const {
    auto it = m_days.find(name);
    if (it == m_days.end()) return;
    for (const auto& [d, sum] : it->second) fn(d, sum);
}

void Store::reset() {
    m_days.clear();
    m_dirty = true;
}

} // namespace usage
