// Bytes received and sent per interface and local calendar day, kept for a little over two
// years. Fed with the raw kernel counters, it turns readings into increments itself and
// bridges restarts of the program within one boot.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace usage {

struct Sum {
    uint64_t rx = 0;
    uint64_t tx = 0;

    bool operator==(const Sum&) const = default;
};

class Store {
public:
    // A raw counter reading as the kernel reports it.
    struct Raw {
        uint64_t rx = 0;
        uint64_t tx = 0;
    };

    // The pseudo-interface holding the daily sum of every interface that counts.
    static constexpr const char* kTotal = "*";
    // Days older than today minus this many are dropped on save.
    static constexpr int kKeepDays = 800;

    // Days are YYYYMMDD in local time, so numeric order is calendar order.
    static int today();
    static int add_days(int day, int n);

    // Remembers the path and the current boot, then reads the file. `root` prefixes the
    // boot identifier's path (tests point it at a fixture tree).
    void load(const std::string& path, const std::string& root = "");
    // Writes the file after dropping days past retention; clears dirty() on success.
    bool save();

    // Applies the plain text of a usage file, as read by load() from a file written
    // during the boot identified by m_boot.
    void load_payload(const std::string& payload);
    // The plain text that save() seals.
    std::string payload() const;

    // One counter reading of an interface; `counts` adds the increment to the total too.
    void observe(const std::string& name, uint64_t rx, uint64_t tx, bool counts);

    Sum range(const std::string& name, int from, int to) const;
    Sum day(const std::string& name, int d) const { return range(name, d, d); }
    Sum all(const std::string& name) const { return range(name, 0, 99999999); }
    // The earliest stored day of `name`, 0 when none.
    int first_day(const std::string& name) const;
    // Stored interface names in order, without the total.
    std::vector<std::string> interfaces() const;
    // Every stored day of `name` in ascending order.
    void each_day(const std::string& name, const std::function<void(int, const Sum&)>& fn) const;

    // Forgets every day; the raw readings stay, so counting goes on seamlessly.
    void reset();

    bool dirty() const { return m_dirty; }
    const std::string& boot_id() const { return m_boot; }

private:
    using Days = std::map<int, Sum>;
    // Transparent comparison, so that look-ups by name never build a key string.
    using ByName = std::map<std::string, Days, std::less<>>;

    void drop_before(int cutoff);

    std::string m_path;
    std::string m_boot;
    ByName m_days;
    std::map<std::string, Raw, std::less<>> m_raw;
    std::map<std::string, Raw, std::less<>> m_raw_prev;
    bool m_dirty = false;
};

} // namespace usage
