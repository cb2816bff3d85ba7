// Display strings of the figures every page shows: rates, byte counts, packet rates, link
// speeds, times, durations and days. Units step by 1000; the decimal separator is the
// current language's, and no thousands grouping is ever inserted.
#pragma once

#include <cstdint>
#include <string>

namespace fmt {

// v with `decimals` decimals: "12.35", or "12,35" in a decimal-comma language.
std::string number(double v, int decimals);
// A rate in bytes per second, as bytes ("1.23 kB/s") or bits ("9.87 kbit/s"); below 0 is 0.
std::string rate(double bps, bool bits);
// A byte count: "1.54 kB", up to "PB".
std::string bytes(uint64_t n);
// A packet rate without its unit: "7.5", "950", "12.3 k", "2.50 M".
std::string pps(double v);
// A chart-axis label of a local time: "14:05", "03-17" or "2024-03" by the visible span.
std::string moment(double epoch, double span_s);
// A local date ("2024-03-17"), with the time ("2024-03-17 14:05") when asked.
std::string stamp(double epoch, bool with_time);
// "1:05" or "2:01:05"; hours do not wrap into days. Negative is "0:00".
std::string duration(double s);
// A link speed in Mbit/s: "100 Mbit/s", "2.5 Gbit/s", "1.6 Tbit/s"; empty when unknown (<= 0).
std::string speed_mbps(int64_t mbps);
// A YYYYMMDD day number as "YYYY-MM-DD".
std::string date(int ymd);

} // namespace fmt
