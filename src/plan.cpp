#include "plan.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace plan {

namespace {

int ymd(int y, int m, int d) {
    return y * 10000 + m * 100 + d;
}

// The billing day's date in a month, clamped to the month's last day.
int renewal(int y, int m, int billing_day) {
    return ymd(y, m, std::min(billing_day, days_in_month(y, m)));
}

void next_month(int& y, int& m) {
    if (++m > 12) {
        m = 1;
        ++y;
    }
}

void prev_month(int& y, int& m) {
    if (--m < 1) {
        m = 12;
        --y;
    }
}

// The unsigned integer at the front of `s` (at most 20 digits); false when there is none.
bool take_u64(std::string_view& s, uint64_t& v) {
    size_t i = 0;
    v = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        const uint64_t d = static_cast<uint64_t>(s[i] - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
        ++i;
    }
    s.remove_prefix(i);
    return i > 0;
}

// Calls `each` for every space-separated entry split at its last two colons.
template <typename Fn> void entries(std::string_view text, Fn&& each) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view e = text.substr(start, end - start);
        const size_t c2 = e.rfind(':');
        const size_t c1 =
            c2 == std::string_view::npos || c2 == 0 ? std::string_view::npos : e.rfind(':', c2 - 1);
        if (c1 != std::string_view::npos && c1 > 0) {
            std::string_view a = e.substr(c1 + 1, c2 - c1 - 1), b = e.substr(c2 + 1);
            uint64_t x = 0, y = 0;
            if (take_u64(a, x) && a.empty() && take_u64(b, y) && b.empty())
                each(std::string(e.substr(0, c1)), x, y);
        }
        start = end + 1;
    }
}

} // namespace

int days_in_month(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return leap ? 29 : 28;
    }
    return kDays[std::clamp(month, 1, 12) - 1];
}

// Counting from March makes the leap day the last of its year, so a year's length up to
// any month is a closed formula.
int serial(int day) {
    int y = day / 10000;
    const int m = day / 100 % 100, d = day % 100;
    if (m <= 2) --y;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int from_serial(int n) {
    n += 719468;
    const int era = (n >= 0 ? n : n - 146096) / 146097;
    const int doe = n - era * 146097;
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    const int d = doy - (153 * mp + 2) / 5 + 1;
    const int m = mp < 10 ? mp + 3 : mp - 9;
    return ymd(yoe + era * 400 + (m <= 2 ? 1 : 0), m, d);
}

Period period(int today, int billing_day) {
    billing_day = std::clamp(billing_day, 1, 31);
    int y = today / 10000, m = today / 100 % 100;
    if (today < renewal(y, m, billing_day)) prev_month(y, m);
    Period p;
    p.start = renewal(y, m, billing_day);
    next_month(y, m);
    p.end = from_serial(serial(renewal(y, m, billing_day)) - 1);
    p.days = serial(p.end) - serial(p.start) + 1;
    return p;
}

Status evaluate(uint64_t allowance, const Period& p, int today, uint64_t used, int first_data_day) {
    Status s;
    s.period = p;
    s.used = used;
    s.remaining = used < allowance ? allowance - used : 0;
    if (allowance > 0) {
        s.percent = static_cast<int>(std::min(
            1e6, std::floor(static_cast<double>(used) * 100.0 / static_cast<double>(allowance))));
        // 80 % of an integer amount, rounded up, is the allowance less a fifth rounded down.
        if (used >= allowance)
            s.level = kFull;
        else if (used >= allowance - allowance / 5)
            s.level = kWarn;
    }
    const int from = std::max(p.start, first_data_day);
    if (first_data_day > 0 && from <= today && today <= p.end) {
        const int elapsed = serial(today) - serial(from) + 1;
        const int ahead = serial(p.end) - serial(today);
        const double per_day = static_cast<double>(used) / elapsed;
        s.has_projection = true;
        s.projected =
            static_cast<uint64_t>(std::llround(static_cast<double>(used) + per_day * ahead));
    }
    return s;
}

int alert_step(Alerted& a, int period_start, int level) {
    if (a.period != period_start) {
        a.period = period_start;
        a.level = kNone;
    }
    if (level <= a.level) return kNone;
    a.level = level;
    return level;
}

bool parse_bytes(std::string_view t, uint64_t* out) {
    auto trim = [](std::string_view& s) {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
            s.remove_prefix(1);
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    };
    trim(t);
    uint64_t whole = 0;
    const bool has_whole = take_u64(t, whole);
    double frac = 0;
    bool has_frac = false;
    if (!t.empty() && (t.front() == '.' || t.front() == ',')) {
        t.remove_prefix(1);
        double scale = 0.1;
        while (!t.empty() && std::isdigit(static_cast<unsigned char>(t.front()))) {
            frac += scale * (t.front() - '0');
            scale /= 10;
            has_frac = true;
            t.remove_prefix(1);
        }
    }
    if (!has_whole && !has_frac) return false;
    trim(t);
    std::string unit;
    for (char c : t) unit += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (unit.size() > 1 && unit.back() == 'b')
        unit.pop_back();
    else if (unit == "b")
        unit.clear();
    double mult = 1;
    if (!unit.empty()) {
        static constexpr std::string_view kPrefixes = "kmgtp";
        const size_t power = kPrefixes.find(unit[0]);
        const bool binary = unit.size() == 2 && unit[1] == 'i';
        if (power == std::string_view::npos || (unit.size() != 1 && !binary)) return false;
        mult = std::pow(binary ? 1024.0 : 1000.0, static_cast<double>(power + 1));
    }
    const double v = (static_cast<double>(whole) + frac) * mult;
    if (!(v >= 1) || v >= 1.8e19) return false;
    *out = static_cast<uint64_t>(std::llround(v));
    return true;
}

std::string to_text(const std::vector<Plan>& plans) {
    std::string out;
    for (const Plan& p : plans) {
        if (p.iface.empty() || p.allowance == 0) continue;
        if (!out.empty()) out += ' ';
        out += p.iface + ':' + std::to_string(p.allowance) + ':' + std::to_string(p.billing_day);
    }
    return out;
}

std::string to_text(const std::vector<Alerted>& alerts) {
    std::string out;
    for (const Alerted& a : alerts) {
        if (a.iface.empty()) continue;
        if (!out.empty()) out += ' ';
        out += a.iface + ':' + std::to_string(a.period) + ':' + std::to_string(a.level);
    }
    return out;
}

std::vector<Plan> parse_plans(std::string_view text) {
    std::vector<Plan> out;
    entries(text, [&](std::string iface, uint64_t bytes, uint64_t day) {
        if (bytes == 0 || day < 1 || day > 31) return;
        std::erase_if(out, [&](const Plan& p) { return p.iface == iface; });
        out.push_back(Plan{std::move(iface), bytes, static_cast<int>(day)});
    });
    return out;
}

std::vector<Alerted> parse_alerts(std::string_view text) {
    std::vector<Alerted> out;
    entries(text, [&](std::string iface, uint64_t period, uint64_t level) {
        if (period > 99991231 || level > kFull) return;
        std::erase_if(out, [&](const Alerted& a) { return a.iface == iface; });
        out.push_back(Alerted{std::move(iface), static_cast<int>(period), static_cast<int>(level)});
    });
    return out;
}

} // namespace plan
