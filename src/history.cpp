#include "history.h"

#include "sealed_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace history {

namespace {

constexpr char kMagic[8] = {'V', 'M', 'H', 'I', 'S', 'T', '1', '\0'};
constexpr int32_t kSteps[Store::kTiers] = {10, 300, 3600};
constexpr int32_t kCounts[Store::kTiers] = {8640, 8928, 8784};
constexpr size_t kTierHeader = 16;

static_assert(sizeof kMagic + Store::kTiers * kTierHeader +
                  (kCounts[0] + kCounts[1] + kCounts[2]) * 12 ==
              Store::kPayloadSize);

// Wall-clock times past the year 30 000 come from a broken clock. Refusing them keeps every
// slot index far away from 64-bit overflow, in memory and in what a file may claim.
constexpr double kMaxEpoch = 1e12;
// A series is built from at most this many slots (over a century of hours); longer spans
// are cut to it.
constexpr int64_t kMaxSlotsWanted = 1'000'000;

size_t ring_pos(int64_t slot, int32_t count) {
    int64_t m = slot % count;
    return static_cast<size_t>(m < 0 ? m + count : m);
}

void clear_slots(Tier& t, int64_t from, int64_t to) {
    for (int64_t i = from; i <= to; ++i) {
        size_t p = ring_pos(i, t.count);
        t.rx[p] = 0;
        t.tx[p] = 0;
        t.seen[p] = 0;
    }
}

void put_u32(char* at, uint32_t v) {
    for (int b = 0; b < 4; ++b) at[b] = static_cast<char>(v >> (8 * b));
}

void put_u64(char* at, uint64_t v) {
    for (int b = 0; b < 8; ++b) at[b] = static_cast<char>(v >> (8 * b));
}

uint32_t get_u32(const char* at) {
    uint32_t v = 0;
    for (int b = 0; b < 4; ++b) v |= uint32_t(static_cast<unsigned char>(at[b])) << (8 * b);
    return v;
}

uint64_t get_u64(const char* at) {
    uint64_t v = 0;
    for (int b = 0; b < 8; ++b) v |= uint64_t(static_cast<unsigned char>(at[b])) << (8 * b);
    return v;
}

char* put_floats(char* at, const std::vector<float>& values) {
    for (float f : values) {
        put_u32(at, std::bit_cast<uint32_t>(f));
        at += 4;
    }
    return at;
}

const char* get_floats(const char* at, std::vector<float>& values) {
    for (float& f : values) {
        f = std::bit_cast<float>(get_u32(at));
        at += 4;
    }
    return at;
}

} // namespace

Store::Store() {
    for (int k = 0; k < kTiers; ++k) {
        Tier& t = m_t[static_cast<size_t>(k)];
        t.step = kSteps[k];
        t.count = kCounts[k];
        t.last = -1;
        t.rx.assign(static_cast<size_t>(t.count), 0.0f);
        t.tx.assign(static_cast<size_t>(t.count), 0.0f);
        t.seen.assign(static_cast<size_t>(t.count), 0.0f);
    }
}

void Store::add(double epoch, double rx_rate, double tx_rate, double dt) {
    if (!(dt > 0 && dt <= 30)) return;
    if (!std::isfinite(rx_rate) || !std::isfinite(tx_rate)) return;
    if (!(epoch >= 0 && epoch <= kMaxEpoch)) return;

    for (Tier& t : m_t) {
        const int64_t b = static_cast<int64_t>(std::floor(epoch / t.step));
        if (t.last == -1) {
            clear_slots(t, b - t.count + 1, b);
        } else if (t.last > b) {
            // The clock went back behind this tier's newest slot. Adding here would mix the
            // sample into a slot that already stands for a later time, so it is dropped
            // until time passes that slot again.
            continue;
        } else if (t.last < b) {
            // After a long gap at most one ring's worth needs clearing.
            clear_slots(t, std::max(b - t.count + 1, t.last + 1), b);
        }
        t.last = b;
        const size_t p = ring_pos(b, t.count);
        t.rx[p] = static_cast<float>(double(t.rx[p]) + dt * rx_rate);
        t.tx[p] = static_cast<float>(double(t.tx[p]) + dt * tx_rate);
        t.seen[p] = static_cast<float>(double(t.seen[p]) + dt);
    }
    m_dirty = true;
}

Series Store::series(double span_s, int max_points, double now) const {
    size_t ti = kTiers - 1;
    for (size_t k = 0; k < kTiers; ++k) {
        if (double(m_t[k].step) * m_t[k].count >= span_s) {
            ti = k;
            break;
        }
    }
    const Tier& t = m_t[ti];

    const double wanted = std::ceil(span_s / t.step);
    int64_t n = 2;
    if (wanted >= double(kMaxSlotsWanted)) {
        n = kMaxSlotsWanted;
    } else if (wanted > 2) {
        n = static_cast<int64_t>(wanted);
    }
    const int64_t most = std::max(1, max_points);
    const int64_t per = std::max<int64_t>(1, (n + most - 1) / most);
    const int64_t points = (n + per - 1) / per;

    if (!std::isfinite(now)) now = 0;
    now = std::clamp(now, -kMaxEpoch, kMaxEpoch);
    const int64_t b_now = static_cast<int64_t>(std::floor(now / t.step));

    Series s;
    s.step_s = double(per) * t.step;
    s.end_t = double(b_now + 1) * t.step;
    s.rx.reserve(static_cast<size_t>(points));
    s.tx.reserve(static_cast<size_t>(points));
    s.known.reserve(static_cast<size_t>(points));

    // Only slots still held by the ring count; everything else is unknown.
    const bool written = t.last >= 0;
    const int64_t lo = t.last - t.count + 1;
    const int64_t hi = t.last;
    for (int64_t k = 0; k < points; ++k) {
        const int64_t end = b_now - (points - 1 - k) * per;
        const int64_t from = std::max(end - per + 1, lo);
        const int64_t to = std::min(end, hi);
        double rx = 0, tx = 0, seen = 0;
        if (written) {
            for (int64_t i = from; i <= to; ++i) {
                const size_t p = ring_pos(i, t.count);
                rx += t.rx[p];
                tx += t.tx[p];
                seen += t.seen[p];
            }
        }
        const bool known = seen > 0;
        s.rx.push_back(known ? rx / seen : 0.0);
        s.tx.push_back(known ? tx / seen : 0.0);
        s.known.push_back(known);
    }
    return s;
}

std::string Store::payload() const {
    std::string out(kPayloadSize, '\0');
    char* at = out.data();
    std::memcpy(at, kMagic, sizeof kMagic);
    at += sizeof kMagic;
    for (const Tier& t : m_t) {
        put_u32(at, static_cast<uint32_t>(t.step));
        put_u32(at + 4, static_cast<uint32_t>(t.count));
        put_u64(at + 8, static_cast<uint64_t>(t.last));
        at += kTierHeader;
        at = put_floats(at, t.rx);
        at = put_floats(at, t.tx);
        at = put_floats(at, t.seen);
    }
    return out;
}

bool Store::load_payload(const std::string& payload) {
    if (payload.size() < sizeof kMagic || std::memcmp(payload.data(), kMagic, sizeof kMagic) != 0)
        return false;
    size_t off = sizeof kMagic;
    int loaded = 0;
    for (Tier& t : m_t) {
        const size_t left = payload.size() - off;
        if (left < kTierHeader) break;
        const char* at = payload.data() + off;
        const auto step = static_cast<int32_t>(get_u32(at));
        const auto count = static_cast<int32_t>(get_u32(at + 4));
        const auto last = static_cast<int64_t>(get_u64(at + 8));
        // Another layout of tiers (an older or newer program) stops the load here.
        if (step != t.step || count != t.count) break;
        const size_t arrays = 12 * static_cast<size_t>(count);
        if (left - kTierHeader < arrays) break;
        // A newest slot that no clock could have produced would freeze the tier (every
        // later sample would look like the clock going back), so the tier is not taken.
        if (last < -1 || double(last) > kMaxEpoch / step) break;
        at = get_floats(at + kTierHeader, t.rx);
        at = get_floats(at, t.tx);
        get_floats(at, t.seen);
        t.last = last;
        off += kTierHeader + arrays;
        ++loaded;
    }
    return loaded == kTiers;
}

bool Store::save(const std::string& path) const {
    if (!sealed::write(path, payload())) return false;
    m_dirty = false;
    return true;
}

bool Store::load(const std::string& path) {
    std::string text;
    if (sealed::read(path, &text) != sealed::Result::Ok) return false;
    return load_payload(text);
}

} // namespace history
