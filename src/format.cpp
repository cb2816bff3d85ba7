#include "format.h"

#include "l10n.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace fmt {

namespace {

const char* const RATE_UNITS[] = {"B", "kB", "MB", "GB", "TB"};
const char* const BIT_UNITS[] = {"bit", "kbit", "Mbit", "Gbit", "Tbit"};
const char* const BYTE_UNITS[] = {"B", "kB", "MB", "GB", "TB", "PB"};

// Appends v printed with "%.*f" and the language's decimal separator. The common results fit
// the short-string buffer of `out`, so a whole rate text is built without an allocation.
void append_number(std::string& out, double v, int decimals) {
    const size_t start = out.size();
    char buf[64];
    int n = snprintf(buf, sizeof buf, "%.*f", decimals, v);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof buf) {
        out.append(buf, static_cast<size_t>(n));
    } else {
        // Absurd magnitudes (1e300) print hundreds of digits; print them whole, not cut.
        out.resize(start + static_cast<size_t>(n));
        snprintf(out.data() + start, static_cast<size_t>(n) + 1, "%.*f", decimals, v);
    }
    const char sep = L10n::decimalSeparator();
    if (sep == '.') return;
    for (size_t i = start; i < out.size(); ++i)
        if (out[i] == '.') out[i] = sep;
}

// About three significant digits. The choice is made on the unrounded value, so 99.96
// prints "100.0" and 9.996 prints "10.00".
void sig3(std::string& out, double v) {
    int decimals = 2;
    if (v >= 100 || v == 0)
        decimals = 0;
    else if (v >= 10)
        decimals = 1;
    append_number(out, v, decimals);
}

// Steps through `units` by 1000. The threshold is 999.5, so that no value ever shows as
// "1000" of the smaller unit; the last unit grows without bound ("1200 PB").
std::string scaled(double v, const char* const* units, int count, double step, const char* suffix) {
    int u = 0;
    while (v >= 999.5 && u != count - 1) {
        v /= step;
        ++u;
    }
    std::string out;
    sig3(out, v);
    out += ' ';
    out += units[u];
    out += suffix;
    return out;
}

// Local broken-down time of an epoch truncated to whole seconds; false when it has none.
bool local_time(double epoch, tm& out) {
    // Converting NaN or a value beyond time_t to an integer is undefined; such input has no
    // time to show.
    if (!std::isfinite(epoch)) return false;
    const double t = std::trunc(epoch);
    if (t < -9.2e18 || t > 9.2e18) return false;
    const time_t tt = static_cast<time_t>(t);
    return localtime_r(&tt, &out) != nullptr;
}

std::string local_text(double epoch, const char* pattern) {
    tm t{};
    if (!local_time(epoch, t)) return {};
    char buf[32];
    size_t n = strftime(buf, sizeof buf, pattern, &t);
    return std::string(buf, n);
}

// 2.5 -> "2.5", 2.0 -> "2": a link speed shows a decimal only when it has one.
std::string link_speed(double x, const char* unit) {
    std::string out;
    append_number(out, x, x == std::floor(x) ? 0 : 1);
    out += unit;
    return out;
}

} // namespace

std::string number(double v, int decimals) {
    std::string out;
    append_number(out, v, decimals);
    return out;
}

std::string rate(double bps, bool bits) {
    // Negative rates (counter resets) show as zero, and so does -0. NaN stays visible.
    double v = (bps > 0 || std::isnan(bps)) ? bps : 0.0;
    if (bits) return scaled(v * 8, BIT_UNITS, 5, 1000, "/s");
    return scaled(v, RATE_UNITS, 5, 1000, "/s");
}

std::string bytes(uint64_t n) {
    return scaled(static_cast<double>(n), BYTE_UNITS, 6, 1000, "");
}

std::string pps(double v) {
    std::string out;
    if (v < 1000) {
        append_number(out, v, v < 10 ? 1 : 0);
    } else if (v < 1000000) {
        sig3(out, v / 1000);
        out += " k";
    } else {
        sig3(out, v / 1000000);
        out += " M";
    }
    return out;
}

std::string moment(double epoch, double span_s) {
    const char* pattern = span_s <= 87264 ? "%H:%M" : span_s <= 2678400 ? "%m-%d" : "%Y-%m";
    return local_text(epoch, pattern);
}

std::string stamp(double epoch, bool with_time) {
    return local_text(epoch, with_time ? "%Y-%m-%d %H:%M" : "%Y-%m-%d");
}

std::string duration(double s) {
    if (!(s >= 0)) return "0:00"; // negative, and NaN
    const long t = s >= 9.2e18 ? 9200000000000000000L : static_cast<long>(s);
    char buf[64];
    if (t > 3599)
        snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", t / 3600, (t / 60) % 60, t % 60);
    else
        snprintf(buf, sizeof buf, "%ld:%02ld", t / 60, t % 60);
    return buf;
}

std::string speed_mbps(int64_t mbps) {
    if (mbps <= 0) return {};
    if (mbps <= 999) {
        char buf[32];
        snprintf(buf, sizeof buf, "%" PRId64 " Mbit/s", mbps);
        return buf;
    }
    if (mbps <= 999999) return link_speed(static_cast<double>(mbps) / 1000, " Gbit/s");
    return link_speed(static_cast<double>(mbps) / 1000000, " Tbit/s");
}

std::string date(int ymd) {
    char buf[16];
    snprintf(buf, sizeof buf, "%04d-%02d-%02d", ymd / 10000, (ymd / 100) % 100, ymd % 100);
    return buf;
}

} // namespace fmt
