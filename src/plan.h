// A data plan: a monthly allowance that renews on a billing day, the billing period a day
// falls into, how much of the allowance is used and where the period will probably end,
// and the once-per-period state of the 80 % and 100 % alerts. Days are YYYYMMDD numbers
// as the usage store keeps them; everything here is plain arithmetic on them, so nothing
// depends on the time zone and nothing allocates per sample.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plan {

// The allowance of one device, or of all devices together when `iface` is "*".
struct Plan {
    std::string iface;
    uint64_t allowance = 0; // bytes per billing period; 0 means no plan
    int billing_day = 1;    // 1..31; beyond a month's length it means the month's last day

    bool operator==(const Plan&) const = default;
};

// What has been announced for a device's plan: the start of the period and the highest
// level announced in it.
struct Alerted {
    std::string iface;
    int period = 0;
    int level = 0;

    bool operator==(const Alerted&) const = default;
};

// An inclusive range of days.
struct Period {
    int start = 0;
    int end = 0;
    int days = 0;
};

// Alert levels: below 80 %, from 80 %, from 100 % of the allowance.
enum Level { kNone = 0, kWarn = 1, kFull = 2 };

struct Status {
    Period period;
    uint64_t used = 0;
    uint64_t remaining = 0;
    int percent = 0; // rounded down, may pass 100
    int level = kNone;
    bool has_projection = false;
    uint64_t projected = 0;
};

int days_in_month(int year, int month);
// Days since 1970-01-01 of a YYYYMMDD day, and back.
int serial(int ymd);
int from_serial(int serial);

// The billing period that contains `today` for a plan renewing on `billing_day`.
Period period(int today, int billing_day);

// Usage of the period so far. `first_data_day` is the earliest day the store holds for the
// device (0 when none): the projection averages over the days since the period started
// or, when recording began later, since then; without any recorded day there is none.
Status evaluate(uint64_t allowance, const Period& p, int today, uint64_t used, int first_data_day);

// The level to announce now (kNone when nothing is due), recording it in `a`: every level
// once per period, a jump past both only as the higher one, and a new period starts over.
int alert_step(Alerted& a, int period_start, int level);

// An amount as typed by the user: a number with "." or "," as decimal mark, optionally
// followed by a unit: B, kB, MB, GB, TB, PB (steps of 1000) or KiB, MiB, GiB, TiB, PiB
// (steps of 1024), case-insensitive, the "B" optional. False for anything else or zero.
bool parse_bytes(std::string_view text, uint64_t* out);

// The settings lines: "iface:bytes:day" and "iface:period:level" entries separated by
// spaces (device names never hold spaces or colons). Malformed entries are skipped.
std::string to_text(const std::vector<Plan>& plans);
std::string to_text(const std::vector<Alerted>& alerts);
std::vector<Plan> parse_plans(std::string_view text);
std::vector<Alerted> parse_alerts(std::string_view text);

} // namespace plan
