// The machine's total receive and transmit rate over the past day, month and year: three
// fixed rings of time slots (10 s, 5 min, 1 h) that every sample is added into, resampled
// into chart points on request and kept in a sealed file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace history {

// One ring of time slots. Absolute slot i = floor(epoch / step) lives at ring position
// i mod count and is valid while last - count < i <= last.
struct Tier {
    int32_t step = 0;
    int32_t count = 0;
    int64_t last = -1;     // newest slot written, -1 while never written
    std::vector<float> rx; // per slot: sum of rate x seconds
    std::vector<float> tx;
    std::vector<float> seen; // per slot: seconds observed
};

struct Series {
    std::vector<double> rx; // average rate per point, oldest first
    std::vector<double> tx;
    std::vector<bool> known; // an unknown point has rate 0
    double step_s = 0;       // seconds per point
    double end_t = 0;        // epoch second at which the last point ends
};

class Store {
public:
    static constexpr int kTiers = 3;
    static constexpr size_t kPayloadSize = 316280;

    Store();

    // One sample: wall-clock `epoch` seconds, the summed rates in bytes per second over the
    // last `dt` seconds. Dropped unless 0 < dt <= 30 and everything is finite.
    void add(double epoch, double rx_rate, double tx_rate, double dt);

    // About `max_points` points covering the `span_s` seconds that end with the slot
    // holding `now`.
    Series series(double span_s, int max_points, double now) const;

    // Seals payload() into `path`; clears dirty() on success.
    bool save(const std::string& path) const;
    // True only when all three tiers were read; leaves the store unchanged when the file is
    // missing, tampered or foreign.
    bool load(const std::string& path);

    // The file's plain payload, and the parser that load() applies to it.
    std::string payload() const;
    bool load_payload(const std::string& payload);

    bool dirty() const { return m_dirty; }
    const Tier& tier(int i) const { return m_t[static_cast<size_t>(i)]; }

private:
    std::array<Tier, kTiers> m_t;
    mutable bool m_dirty = false;
};

} // namespace history
