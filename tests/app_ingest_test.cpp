// Sample ingestion without a window: rates from counter deltas, rings, totals, which
// interfaces are shown and in which order, and the sampler thread's queue.
#include "app.h"
#include "logger.h"
#include "support/support.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

net::Interface iface(const std::string& name, net::Kind kind, bool counts = true) {
    net::Interface i;
    i.name = name;
    i.kind = kind;
    i.admin_up = true;
    i.carrier = true;
    i.operstate = "up";
    i.counts_in_total = counts;
    return i;
}

App::Out record(double t, const std::vector<std::pair<std::string, uint64_t>>& rx,
                const std::vector<net::Interface>* scan = nullptr) {
    App::Out o;
    o.counters.t = t;
    for (const auto& [name, bytes] : rx) {
        o.counters.names.push_back(name);
        net::Counters c;
        c.rx_bytes = bytes;
        c.tx_bytes = bytes / 2;
        c.rx_packets = bytes / 100;
        c.rx_errors = bytes / 1000;
        o.counters.values.push_back(c);
    }
    if (scan) {
        o.ifaces = *scan;
        o.has_ifaces = true;
    }
    return o;
}

void feed(App& app, double t, const std::vector<std::pair<std::string, uint64_t>>& rx,
          const std::vector<net::Interface>* scan = nullptr) {
    auto o = record(t, rx, scan);
    app.consume(o);
}

TEST(AppRing, PushWrapAndOrder) {
    Ring r;
    r.push(1); // capacity 0: nothing happens
    EXPECT_EQ(r.size(), 0u);
    r.resize(3);
    for (int i = 1; i <= 2; ++i) r.push(i);
    EXPECT_EQ(r.size(), 2u);
    EXPECT_EQ(r.at(0), 1.0f);
    EXPECT_EQ(r.at(1), 2.0f);
    for (int i = 3; i <= 7; ++i) r.push(i);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r.at(0), 5.0f); // the oldest kept sample
    EXPECT_EQ(r.at(2), 7.0f);
    r.resize(2);
    EXPECT_EQ(r.size(), 0u);
}

TEST(AppIngest, RatesFromDeltasAndCounterResets) {
    App app;
    std::vector<net::Interface> scan = {iface("eth0", net::Kind::Ethernet)};
    feed(app, 100.0, {{"eth0", 5000000}}, &scan);
    const IfState& s = app.m_if.at("eth0");
    // The first record establishes the base only.
    EXPECT_EQ(s.rx, 0);
    EXPECT_EQ(s.hrx.size(), 0u);
    EXPECT_EQ(app.m_total_rx.size(), 0u);

    feed(app, 101.0, {{"eth0", 5001000}});
    EXPECT_DOUBLE_EQ(s.rx, 1000);
    EXPECT_DOUBLE_EQ(s.tx, 500);
    EXPECT_DOUBLE_EQ(s.rx_pps, 10);
    EXPECT_DOUBLE_EQ(s.err_ps, 1);
    EXPECT_EQ(s.sess_rx, 1000u);
    EXPECT_EQ(s.hrx.size(), 1u);
    EXPECT_DOUBLE_EQ(app.m_total_rx_now, 1000);

    // The device was recreated: its counter fell from 5,001,000 to 1,000, which is the
    // traffic since then, not a huge wrapped difference.
    feed(app, 103.0, {{"eth0", 1000}});
    EXPECT_DOUBLE_EQ(s.rx, 500);
    EXPECT_EQ(s.sess_rx, 2000u);
    EXPECT_DOUBLE_EQ(s.peak_rx, 1000);
    EXPECT_EQ(app.m_sess_rx, 2000u);

    // A record with the same time stamp gives no rate and pushes nothing.
    feed(app, 103.0, {{"eth0", 9000}});
    EXPECT_DOUBLE_EQ(s.rx, 500);
    EXPECT_EQ(s.hrx.size(), 2u);
}

TEST(AppIngest, TwoRecordsInOnePassPushTwice) {
    App app;
    std::vector<net::Interface> scan = {iface("eth0", net::Kind::Ethernet)};
    feed(app, 10.0, {{"eth0", 0}}, &scan);
    {
        std::lock_guard<std::mutex> lock(app.m_qmutex);
        app.m_queue.push_back(record(11.0, {{"eth0", 2000}}));
        app.m_queue.push_back(record(12.0, {{"eth0", 5000}}));
    }
    app.drain_samples();
    const IfState& s = app.m_if.at("eth0");
    ASSERT_EQ(s.hrx.size(), 2u);
    EXPECT_EQ(s.hrx.at(0), 2000.0f);
    EXPECT_EQ(s.hrx.at(1), 3000.0f);
    EXPECT_TRUE(app.m_queue.empty());
}

TEST(AppIngest, MachineTotalOnlyOverCountedInterfacesAndSettingsOverride) {
    App app;
    std::vector<net::Interface> scan = {iface("eth0", net::Kind::Ethernet),
                                        iface("br0", net::Kind::Bridge, false),
                                        iface("wlan0", net::Kind::Wireless)};
    app.m_settings.total_off = {"wlan0"};
    feed(app, 1.0, {{"eth0", 0}, {"br0", 0}, {"wlan0", 0}}, &scan);
    feed(app, 2.0, {{"eth0", 100}, {"br0", 10000}, {"wlan0", 700}});
    EXPECT_DOUBLE_EQ(app.m_total_rx_now, 100);

    // An interface in both lists counts: total_on is asked first.
    app.m_settings.total_on = {"br0", "wlan0"};
    app.m_settings.total_off = {"wlan0"};
    EXPECT_TRUE(app.counts(scan[1]));
    EXPECT_TRUE(app.counts(scan[2]));
    app.m_settings.total_on.clear();
    EXPECT_FALSE(app.counts(scan[2]));
    EXPECT_TRUE(app.counts(scan[0]));
}

TEST(AppIngest, InterfacesAppearVanishAndAreRenamed) {
    App app;
    std::vector<net::Interface> one = {iface("eth0", net::Kind::Ethernet)};
    feed(app, 1.0, {{"eth0", 0}}, &one);
    feed(app, 2.0, {{"eth0", 1000}});
    EXPECT_DOUBLE_EQ(app.m_if.at("eth0").rx, 1000);

    // eth0 is renamed to lan0 between two scans.
    std::vector<net::Interface> renamed = {iface("lan0", net::Kind::Ethernet)};
    app.m_expanded = "eth0";
    feed(app, 3.0, {{"lan0", 2000}}, &renamed);
    EXPECT_FALSE(app.m_if.count("eth0"));
    EXPECT_TRUE(app.m_expanded.empty());
    const IfState& lan = app.m_if.at("lan0");
    EXPECT_EQ(lan.rx, 0); // a new interface starts without a base
    EXPECT_EQ(lan.sess_rx, 0u);
    auto tail = logger::tail(3);
    ASSERT_GE(tail.size(), 2u);
    EXPECT_NE(tail[tail.size() - 2].find("interface lan0 kind=kind.ethernet"), std::string::npos);
    EXPECT_NE(tail.back().find("interface gone: eth0"), std::string::npos);

    // Counters of names the application does not know are skipped.
    feed(app, 4.0, {{"lan0", 3000}, {"ghost", 99}});
    EXPECT_FALSE(app.m_if.count("ghost"));
    EXPECT_DOUBLE_EQ(app.m_if.at("lan0").rx, 1000);
}

TEST(AppIngest, NoStoreWritesWithoutTraffic) {
    testsupport::TempDir dir;
    App app;
    app.m_config_dir = dir.path();
    app.m_usage.load(dir.path() + "/usage.dat");
    std::vector<net::Interface> scan = {iface("eth0", net::Kind::Ethernet)};
    for (int i = 0; i < 200; ++i) feed(app, 1.0 + i, {{"eth0", 777}}, i == 0 ? &scan : nullptr);
    EXPECT_FALSE(testsupport::sh("test -e " + dir.path() + "/usage.dat"));
    EXPECT_FALSE(testsupport::sh("test -e " + dir.path() + "/history.dat"));

    // With traffic the once-a-minute write happens.
    feed(app, 300.0, {{"eth0", 5000}});
    // The files hold what the stores hold: the booked increment and the zero rates.
    usage::Store usage;
    usage.load(dir.path() + "/usage.dat");
    EXPECT_EQ(usage.all("eth0"), (usage::Sum{5000 - 777, 2500 - 388}));
    EXPECT_EQ(usage.all("*"), usage.all("eth0"));
    history::Store hist;
    ASSERT_TRUE(hist.load(dir.path() + "/history.dat"));
    EXPECT_EQ(hist.payload(), app.m_hist.payload());
}

TEST(AppIngest, VisibilityRules) {
    App app;
    IfState s;
    s.info = iface("eth0", net::Kind::Ethernet);
    app.m_settings.show_inactive = false;
    EXPECT_TRUE(app.visible(s));
    app.m_settings.hidden = {"eth0"};
    EXPECT_FALSE(app.visible(s));
    app.m_settings.hidden.clear();

    s.info.carrier = false;
    s.info.operstate = "unknown"; // up, no carrier, no reported state: shown
    EXPECT_TRUE(app.visible(s));
    s.info.operstate = "down";
    EXPECT_FALSE(app.visible(s));
    app.m_settings.show_inactive = true;
    EXPECT_TRUE(app.visible(s));
    app.m_settings.show_inactive = false;
    s.info.carrier = true;
    s.info.admin_up = false;
    EXPECT_FALSE(app.visible(s));

    IfState lo;
    lo.info = iface("lo", net::Kind::Loopback);
    EXPECT_FALSE(app.visible(lo));
    app.m_settings.show_loopback = true;
    EXPECT_TRUE(app.visible(lo));
    IfState v;
    v.info = iface("veth0", net::Kind::Virtual);
    EXPECT_TRUE(app.visible(v));
    app.m_settings.show_virtual = false;
    app.m_settings.show_inactive = true; // hiding virtual devices comes first
    EXPECT_FALSE(app.visible(v));
}

TEST(AppIngest, CardOrderGroupsBondsWithTheirMembers) {
    App app;
    auto member = [](const char* n, const char* master) {
        auto i = iface(n, net::Kind::Ethernet);
        i.master = master;
        i.master_kind = "bond";
        return i;
    };
    std::vector<net::Interface> scan = {
        iface("bond0", net::Kind::Bond),  member("eth1", "bond0"),
        member("eth0", "bond0"),          iface("eth2", net::Kind::Ethernet),
        iface("lo", net::Kind::Loopback), iface("wlan0", net::Kind::Wireless),
        member("eth9", "bondX"),          iface("br0", net::Kind::Bridge),
        iface("zz", net::Kind::Other),    iface("veth0", net::Kind::Virtual),
        iface("wg0", net::Kind::Vpn)};
    app.apply_ifaces(scan);
    auto names = [&](bool visible_only) {
        std::string out;
        for (auto* s : app.ordered(visible_only)) out += s->info.name + " ";
        return out;
    };
    EXPECT_EQ(names(false), "bond0 eth0 eth1 eth2 eth9 wlan0 wg0 br0 veth0 zz lo ");
    EXPECT_EQ(names(true), "bond0 eth0 eth1 eth2 eth9 wlan0 wg0 br0 veth0 zz "); // loopback hidden
}

TEST(AppSamplerThreads, QueueBoundAndDropOfTheOldest) {
    App app;
    app.m_interval = 1;
    const double first_t = net::monotonic_seconds();
    app.start_sampler();
    // The UI thread stalls: the sampler keeps at most 21 records, dropping the oldest.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    double newest_before = 0;
    size_t held = 0;
    {
        std::lock_guard<std::mutex> lock(app.m_qmutex);
        held = app.m_queue.size();
        ASSERT_GT(held, 0u) << "no pass in 400 ms";
        newest_before = app.m_queue.back().counters.t;
        for (size_t i = 1; i < app.m_queue.size(); ++i)
            EXPECT_LT(app.m_queue[i - 1].counters.t, app.m_queue[i].counters.t);
    }
    EXPECT_GE(held, 20u);
    EXPECT_LE(held, 21u);
    // The records held are the newest ones: the last is a fresh reading, not one kept from
    // the first few passes, and the first pass, the only one with an interface scan so far,
    // was dropped.
    EXPECT_GT(newest_before, net::monotonic_seconds() - 0.25);
    EXPECT_GT(newest_before, first_t + 0.25);
    app.stop_sampler();
    std::lock_guard<std::mutex> lock(app.m_qmutex);
    EXPECT_FALSE(app.m_queue.front().has_ifaces);
    EXPECT_GE(app.m_queue.back().counters.t, newest_before);
}

TEST(AppSamplerThreads, IntervalChangeAndPromptStop) {
    App app;
    app.m_interval = 2000;
    auto t0 = std::chrono::steady_clock::now();
    app.start_sampler();
    auto queued = [&] {
        std::lock_guard<std::mutex> lock(app.m_qmutex);
        return app.m_queue.size();
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(queued(), 1u); // one pass, then the 2 s wait
    // A shorter interval takes effect after the current wait, not during it.
    app.m_interval = 50;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(queued(), 1u);
    app.m_interval = 2000;
    app.stop_sampler();
    auto stopped = std::chrono::steady_clock::now() - t0;
    // Stopping interrupts the 2 s wait.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(stopped).count(), 1500);
    EXPECT_FALSE(app.m_sampler.joinable());
}

} // namespace
