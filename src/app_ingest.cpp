// The sampler thread and the ingestion of its records on the UI thread: rates, peaks,
// session totals and history rings per interface, the machine total, the usage and
// history stores, and which interfaces are shown in which order.

#include "app.h"

#include "gpu.h"
#include "logger.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string_view>
#include <unordered_set>

namespace {

constexpr size_t kQueueBound = 20;      // waiting records; the oldest is dropped beyond
constexpr double kRescanSeconds = 3.0;  // interface scan at least this often
constexpr double kStoreWriteSeconds = 60.0;

int kind_rank(net::Kind k) {
    switch (k) {
    case net::Kind::Bond: return 0;
    case net::Kind::Ethernet: return 1;
    case net::Kind::Wireless: return 2;
    case net::Kind::Mobile: return 3;
    case net::Kind::Vpn: return 4;
    case net::Kind::Tunnel: return 5;
    case net::Kind::Vlan: return 6;
    case net::Kind::Bridge: return 7;
    case net::Kind::Virtual: return 8;
    case net::Kind::Loopback: return 10;
    default: return 9;
    }
}

// A counter that went backwards was reset; everything since the reset is new traffic.
uint64_t delta(uint64_t now, uint64_t before) { return now >= before ? now - before : now; }

} // namespace

// ---- sampler thread -------------------------------------------------------------------

void App::sampler_loop() {
    std::vector<std::string> last_names;
    double last_scan = -1e9;
    while (!m_stop.load()) {
        Out out;
        net::read_counters(&out.counters);
        if (out.counters.names != last_names || out.counters.t - last_scan >= kRescanSeconds) {
            out.ifaces = net::scan_interfaces();
            out.has_ifaces = true;
            last_names = out.counters.names;
            last_scan = out.counters.t;
        }
        m_tracker.sample();
        {
            std::lock_guard<std::mutex> lock(m_qmutex);
            if (m_queue.size() > kQueueBound) m_queue.pop_front();
            m_queue.push_back(std::move(out));
        }
        SDL_Event wake{};
        wake.type = SDL_USEREVENT;
        SDL_PushEvent(&wake);

        std::unique_lock<std::mutex> lock(m_qmutex);
        const int interval = m_interval.load();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval);
        // A new interval from the settings takes effect at once: sample now, then wait anew.
        m_qcv.wait_until(lock, deadline, [this, interval] {
            return m_stop.load() || m_interval.load() != interval;
        });
    }
}

void App::start_sampler() {
    if (m_sampler.joinable()) return;
    m_stop = false;
    m_sampler = std::thread([this] { sampler_loop(); });
}

void App::stop_sampler() {
    {
        std::lock_guard<std::mutex> lock(m_qmutex);
        m_stop = true;
    }
    m_qcv.notify_all();
    if (m_sampler.joinable()) m_sampler.join();
}

// ---- ingestion ------------------------------------------------------------------------

void App::drain_samples() {
    std::deque<Out> batch;
    {
        std::lock_guard<std::mutex> lock(m_qmutex);
        batch.swap(m_queue);
    }
    if (batch.empty()) return;
    for (auto& out : batch) consume(out);
    m_ps = m_tracker.snapshot();
    gpu::sample_arrived(m_interval.load() / 1000.0);
    if (m_settings.mini) {
        m_dirty = m_over_dirty = true;
    } else {
        if (m_settings.tab >= 1 && m_settings.tab <= 3) fill_table(m_settings.tab);
        m_dirty = true;
    }
}

void App::consume(Out& out) {
    if (out.has_ifaces) apply_ifaces(out.ifaces);
    const double t = out.counters.t;
    const double dt = m_last_t > 0 ? t - m_last_t : 0;
    m_last_t = t;

    double rx_sum = 0, tx_sum = 0;
    const auto& names = out.counters.names;
    for (size_t i = 0; i < names.size() && i < out.counters.values.size(); ++i) {
        auto it = m_if.find(names[i]);
        if (it == m_if.end()) continue;
        IfState& s = it->second;
        const net::Counters& c = out.counters.values[i];
        s.cur = c;
        if (s.have_last && dt > 0) {
            const uint64_t drx = delta(c.rx_bytes, s.last.rx_bytes);
            const uint64_t dtx = delta(c.tx_bytes, s.last.tx_bytes);
            s.rx = static_cast<double>(drx) / dt;
            s.tx = static_cast<double>(dtx) / dt;
            s.rx_pps = static_cast<double>(delta(c.rx_packets, s.last.rx_packets)) / dt;
            s.tx_pps = static_cast<double>(delta(c.tx_packets, s.last.tx_packets)) / dt;
            s.err_ps = (static_cast<double>(delta(c.rx_errors, s.last.rx_errors)) +
                        static_cast<double>(delta(c.tx_errors, s.last.tx_errors))) /
                       dt;
            s.drop_ps = (static_cast<double>(delta(c.rx_dropped, s.last.rx_dropped)) +
                         static_cast<double>(delta(c.tx_dropped, s.last.tx_dropped))) /
                        dt;
            s.peak_rx = std::max(s.peak_rx, s.rx);
            s.peak_tx = std::max(s.peak_tx, s.tx);
            s.sess_rx += drx;
            s.sess_tx += dtx;
            s.hrx.push(s.rx);
            s.htx.push(s.tx);
            if (s.counts) {
                rx_sum += s.rx;
                tx_sum += s.tx;
                m_sess_rx += drx;
                m_sess_tx += dtx;
            }
        }
        s.last = c;
        s.have_last = true;
        // Also on the first reading, so the usage store learns where the counters start.
        m_usage.observe(names[i], c.rx_bytes, c.tx_bytes, s.counts);
    }

    if (dt > 0) {
        m_total_rx_now = rx_sum;
        m_total_tx_now = tx_sum;
        m_total_peak_rx = std::max(m_total_peak_rx, rx_sum);
        m_total_peak_tx = std::max(m_total_peak_tx, tx_sum);
        m_total_rx.push(rx_sum);
        m_total_tx.push(tx_sum);
        m_hist.add(static_cast<double>(time(nullptr)), rx_sum, tx_sum, dt);
    }

    check_plans();

    if (t - m_last_usage_save > kStoreWriteSeconds && m_usage.dirty()) {
        if (!m_usage.save()) logger::warn("usage history could not be written");
        if (m_hist.dirty() && !m_hist.save(m_config_dir + "/history.dat"))
            logger::warn("long history could not be written");
        m_last_usage_save = t;
    }
}

void App::apply_ifaces(const std::vector<net::Interface>& list) {
    std::unordered_set<std::string_view> seen;
    for (const auto& iface : list) {
        seen.insert(iface.name);
        IfState& s = m_if[iface.name];
        const bool fresh = s.info.name.empty();
        s.info = iface;
        if (fresh) {
            const size_t cap = ring_capacity();
            s.hrx.resize(cap);
            s.htx.resize(cap);
            std::string line = "interface " + iface.name + " kind=" + net::kind_key(iface.kind) +
                               " detail=" + iface.detail + " state=" + iface.operstate;
            if (!iface.master.empty()) line += " master=" + iface.master;
            const std::string chip = hw::summary(iface.hw);
            if (!chip.empty()) line += " chip=" + chip;
            logger::info(line);
        }
        s.counts = counts(iface);
    }
    for (auto it = m_if.begin(); it != m_if.end();) {
        if (seen.count(it->first)) {
            ++it;
            continue;
        }
        logger::info("interface gone: " + it->first);
        if (m_expanded == it->first) m_expanded.clear();
        it = m_if.erase(it);
    }
}

size_t App::ring_capacity() const {
    const int interval = std::max(1, m_interval.load());
    return static_cast<size_t>(3600000 / interval) + 1;
}

void App::reset_history() {
    const size_t cap = ring_capacity();
    m_total_rx.resize(cap);
    m_total_tx.resize(cap);
    for (auto& [name, s] : m_if) {
        s.hrx.resize(cap);
        s.htx.resize(cap);
    }
}

bool App::counts(const net::Interface& iface) const {
    if (m_settings.total_on.count(iface.name)) return true;
    if (m_settings.total_off.count(iface.name)) return false;
    return iface.counts_in_total;
}

bool App::visible(const IfState& s) const {
    const net::Interface& i = s.info;
    if (m_settings.hidden.count(i.name)) return false;
    if (i.kind == net::Kind::Loopback && !m_settings.show_loopback) return false;
    if (i.kind == net::Kind::Virtual && !m_settings.show_virtual) return false;
    if (m_settings.show_inactive) return true;
    if (!i.admin_up) return false;
    if (i.carrier) return true;
    // Devices that do not report a link state at all.
    return i.operstate == "unknown";
}

std::vector<IfState*> App::ordered(bool only_visible) {
    std::vector<IfState*> out;
    for (auto& [name, s] : m_if)
        if (!only_visible || visible(s)) out.push_back(&s);

    // A bond member sorts inside its bond's group, right after the bond itself.
    auto group = [this](const IfState* s) {
        const net::Interface& i = s->info;
        if (i.master_kind == "bond") {
            auto m = m_if.find(i.master);
            if (m != m_if.end()) return std::make_pair(kind_rank(m->second.info.kind), i.master);
        }
        return std::make_pair(kind_rank(i.kind), i.name);
    };
    std::stable_sort(out.begin(), out.end(), [&](const IfState* a, const IfState* b) {
        auto ga = group(a), gb = group(b);
        if (ga.first != gb.first) return ga.first < gb.first;
        if (ga.second != gb.second) return ga.second < gb.second;
        const bool ma = a->info.name != ga.second, mb = b->info.name != gb.second;
        if (ma != mb) return !ma;
        return a->info.name < b->info.name;
    });
    return out;
}
