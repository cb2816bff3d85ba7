// The overview page through the interface harness: grid columns, the expanded card's row,
// click against drag, the rewritten card order, the hero's meters and empty chart, the
// utilisation read-out, the total toggle, device summaries, and the accelerated layer
// receiving exactly what the cairo fallback draws.
#include "gpu.h"
#include "l10n.h"
#include "support/ui.h"

#include <gtest/gtest.h>

#include <set>

using testsupport::Ui;

namespace {

struct LayerScope { // the layer's state is global; leave it off for the next test
    explicit LayerScope(bool on) { gpu::force_on(on); }
    ~LayerScope() {
        gpu::force_on(false);
        gpu::trace_fallback(false);
    }
};

void three_cards(Ui& ui) {
    L10n::setLanguage("en");
    ui.app.reset_history();
    for (const char* n : {"eth0", "eth1", "eth2"}) ui.device(n, net::Kind::Ethernet, 5000, 1000);
}

const Hit* slot(Ui& ui, const std::string& name) {
    for (const auto& [n, h] : ui.app.m_slots)
        if (n == name) return &h;
    return nullptr;
}

// Window y of a content y on the overview.
double win_y(Ui& ui, double content_y) {
    return content_y + App::kHeaderH - ui.app.m_scroll[0];
}

void release(Ui& ui) {
    ui.app.mouse_up(0, 0, 1);
}

TEST(Overview, ColumnsByWidthAndTheExpandedCardOwnsARow) {
    for (auto [w, cols] : {std::pair{770.0, 1}, {1200.0, 2}, {1600.0, 3}}) {
        Ui ui(w, 900);
        three_cards(ui);
        ui.paint();
        std::set<double> xs;
        for (const auto& [n, h] : ui.app.m_slots) xs.insert(h.x);
        EXPECT_EQ(static_cast<int>(xs.size()), cols) << w;
        EXPECT_TRUE(ui.find("ov:card:eth0")) << w;
    }
    Ui ui(1200, 900);
    three_cards(ui);
    ui.app.m_expanded = "eth1";
    ui.paint();
    const Hit *a = slot(ui, "eth0"), *b = slot(ui, "eth1"), *c = slot(ui, "eth2");
    ASSERT_TRUE(a && b && c);
    EXPECT_DOUBLE_EQ(a->y, 380);
    EXPECT_DOUBLE_EQ(b->y, 380 + 246); // a new row although the first had room
    EXPECT_DOUBLE_EQ(b->w, 1200 - 36);
    EXPECT_GE(b->h, 540);
    EXPECT_DOUBLE_EQ(c->y, b->y + b->h + 16);
    EXPECT_DOUBLE_EQ(c->x, 18);
    EXPECT_DOUBLE_EQ(ui.app.m_content_h[0], c->y + 230 + 2);
}

TEST(Overview, SmallMoveIsAClickAndTheExpandedCardIsNotDragged) {
    Ui ui(1200, 900);
    three_cards(ui);
    ui.paint();
    struct Step {
        double dx;
        std::string expanded_after;
    } steps[] = {{6, "eth1"}, {0, ""}, {0, "eth1"}, {40, ""}}; // the last: expanded, no drag
    for (const Step& st : steps) {
        const Hit s = *slot(ui, "eth1");
        const double x = s.x + 100, y = win_y(ui, s.y + 100);
        ui.press(x, y);
        ui.move(x + st.dx, y);
        EXPECT_FALSE(ui.app.m_dragging) << st.dx;
        release(ui);
        EXPECT_EQ(ui.app.m_expanded, st.expanded_after) << st.dx;
        EXPECT_EQ(ui.app.m_settings.expanded, st.expanded_after);
        EXPECT_NE(ui.app.m_save_at, 0u);
        ui.paint();
    }
}

TEST(Overview, DragRewritesTheCardOrder) {
    Ui ui(1200, 900);
    three_cards(ui);
    ui.app.m_settings.card_order = {"gone0", "eth1"};
    ui.paint();
    ASSERT_TRUE(slot(ui, "eth1"));
    EXPECT_EQ(slot(ui, "eth1")->n, 0); // listed first
    const Hit from = *slot(ui, "eth1"), to = *slot(ui, "eth2");
    ui.press(from.x + 50, win_y(ui, from.y + 50));
    ui.move(from.x + 58, win_y(ui, from.y + 50));
    ASSERT_TRUE(ui.app.m_dragging);
    EXPECT_EQ(ui.app.m_drop_index, 0);
    ui.paint();
    ui.move(to.x + 50, win_y(ui, to.y + 50));
    EXPECT_EQ(ui.app.m_drop_index, 2);
    ui.paint();
    // The placeholder takes the dropped slot; the dragged card is out of the grid.
    EXPECT_EQ(slot(ui, "eth1"), nullptr);
    ASSERT_EQ(ui.app.m_slots.size(), 3u);
    EXPECT_EQ(ui.app.m_slots[2].first, "");
    EXPECT_DOUBLE_EQ(ui.app.m_ghost_w, from.w);
    release(ui);
    EXPECT_FALSE(ui.app.m_dragging);
    EXPECT_EQ(ui.app.m_expanded, ""); // a drag is no click
    EXPECT_EQ(ui.app.m_settings.card_order,
              (std::vector<std::string>{"eth0", "eth2", "eth1", "gone0"}));
}

TEST(Overview, SpanSelectorAndMiniSwitch) {
    // Wide: nine segments; narrow: one button whose menu lists the nine spans.
    for (auto [w, segmented] : {std::pair{1200.0, true}, {560.0, false}}) {
        Ui ui(w, 900);
        three_cards(ui);
        ui.paint();
        EXPECT_EQ(ui.find("ov:span:8").has_value(), segmented) << w;
        EXPECT_EQ(ui.find("ov:spanmenu").has_value(), !segmented) << w;
        if (segmented) {
            const Hit h = *ui.find("ov:span:3");
            ui.click(h.x + h.w / 2, h.y + h.h / 2);
            EXPECT_EQ(ui.app.m_settings.span_s, 3600);
        } else {
            const Hit h = *ui.find("ov:spanmenu");
            ui.click(h.x + 5, h.y + 5);
            ASSERT_TRUE(ui.app.m_menu.open);
            ASSERT_EQ(ui.app.m_menu.items.size(), 9u);
            EXPECT_TRUE(ui.app.m_menu.items[1].checked); // 5 min, the default
            EXPECT_DOUBLE_EQ(ui.app.m_menu.y, h.y + h.h + 4);
            ui.app.m_menu.items[6].act();
            EXPECT_EQ(ui.app.m_settings.span_s, 604800);
        }
    }
    Ui ui(1200, 900);
    three_cards(ui);
    for (bool in_mini : {true, false}) {
        ui.paint();
        const Hit h = *ui.find("ov:mini:eth1");
        EXPECT_EQ(h.tip, in_mini ? "Show in minimal view" : "Remove from minimal view")
            << "the tip tells what a click does";
        ui.click(h.x + 3, h.y + 3);
        EXPECT_EQ(ui.app.m_settings.mini_devices.count("eth1"), in_mini ? 1u : 0u);
        EXPECT_TRUE(ui.app.m_expanded.empty()); // the switch is no click on the card
    }
}

TEST(Overview, HeroMetersChartAndCollecting) {
    LayerScope on(true);
    for (auto [w, meters] : {std::pair{1200.0, true}, {776.0, false}}) {
        Ui ui(w, 900);
        ui.app.m_settings.span_s = 43200; // from the long history, empty here
        three_cards(ui);
        ui.app.m_hist = history::Store(); // right after installation
        ui.paint();
        int found = 0;
        for (const auto& m : gpu::records().meters)
            found += m.id == "m_rx_total" || m.id == "m_tx_total";
        EXPECT_EQ(found, meters ? 2 : 0) << w;
        ASSERT_FALSE(gpu::records().charts.empty());
        const gpu::Chart& hero = gpu::records().charts.front();
        const double meter_x = 18 + (w - 36) - 78; // the chart stops 100 left of it
        EXPECT_EQ(hero.x + hero.w < meter_x - 100, meters) << w;
        // "Collecting data …" in faint text at the middle of the chart display.
        auto faint_pixels = [&] {
            int n = 0;
            for (double x = hero.x + hero.w / 2 - 50; x < hero.x + hero.w / 2 + 50; x += 1)
                for (double y = hero.y + hero.h / 2 - 10; y < hero.y + hero.h / 2 + 14; y += 1)
                    n += Ui::near(ui.pixel(x, y), ui.app.m_pal.faint, 12.0 / 255);
            return n;
        };
        EXPECT_GT(faint_pixels(), 15) << w;
        ui.app.m_settings.span_s = 300; // live rings with samples: no text
        ui.paint();
        EXPECT_LT(faint_pixels(), 3) << w;
    }
}

TEST(Overview, UtilisationOfA100MbitLink) {
    struct Case {
        double rx;
        const char* text;
        double frac;
    } cases[] = {{12500000, "100 %", 1}, {9000000, "72 %", 0.72}, {1000000, "8.0 %", 0.08}};
    for (const Case& c : cases) {
        EXPECT_EQ(utilisation_label(c.rx, 100), c.text);
        LayerScope on(true);
        Ui ui(1200, 900);
        L10n::setLanguage("en");
        ui.device("eth0", net::Kind::Ethernet, c.rx, 1000);
        ui.app.m_if["eth0"].info.speed_mbps = 100;
        ui.paint();
        bool seen = false;
        for (const auto& m : gpu::records().meters)
            if (m.id == "util:eth0") {
                seen = true;
                EXPECT_NEAR(m.frac, c.frac, 1e-9);
                EXPECT_EQ(m.segs, 15);
            }
        EXPECT_TRUE(seen) << c.text;
    }
    EXPECT_EQ(utilisation_label(1e6, -1), ""); // unknown speed: no read-out
}

TEST(Overview, CountInTotalToggledTwiceLeavesNoOverride) {
    Ui ui(1200, 900);
    three_cards(ui);
    ui.paint();
    const Hit s = *slot(ui, "eth0");
    for (int round = 0; round < 2; ++round) {
        ui.press(s.x + 100, win_y(ui, s.y + 100), 3);
        ASSERT_TRUE(ui.app.m_menu.open);
        std::vector<std::string> labels;
        for (const auto& it : ui.app.m_menu.items) labels.push_back(it.separator ? "-" : it.label);
        EXPECT_EQ(labels, (std::vector<std::string>{"Show details", "Mini", "Count in total", "-",
                                                    "Hide this device", "Copy name"}));
        EXPECT_EQ(ui.app.m_menu.items[2].checked, round == 0);
        ui.app.m_menu.items[2].act();
        ui.app.close_menu();
        EXPECT_EQ(ui.app.m_if["eth0"].counts, round == 1);
    }
    EXPECT_TRUE(ui.app.m_settings.total_on.empty());
    EXPECT_TRUE(ui.app.m_settings.total_off.empty());
}

TEST(Overview, DeviceSummaries) {
    L10n::setLanguage("en");
    Ui ui;
    auto with = [](auto f) {
        IfState s;
        f(s.info);
        return s;
    };
    struct Case {
        IfState s;
        const char* want;
    } cases[] = {
        {with([](net::Interface& i) {
             i.kind = net::Kind::Wireless;
             i.ssid = "Cafe";
             i.ipv4 = {"192.168.1.5/24"};
             i.speed_mbps = 866;
         }),
         "Cafe  ·  192.168.1.5/24  ·  866 Mbit/s"},
        {with([](net::Interface& i) {
             i.kind = net::Kind::Bond;
             i.ipv6 = {"fe80::1/64", "2001:db8::2/64"};
             i.members = {"eth0", "eth1"};
         }),
         "2001:db8::2/64  ·  Members: 2"},
        {with([](net::Interface& i) {
             i.master = "br0";
             i.ipv6 = {"2001:db8::3/64"}; // a member shows no address of its own
             i.slave_state = "backup";
         }),
         "Member of br0 · standby"},
        {with([](net::Interface& i) {
             i.kind = net::Kind::Vlan;
             i.vlan_parent = "eth0";
             i.ipv4 = {"10.1.0.1/16"};
         }),
         "10.1.0.1/16  ·  on eth0"},
        {with([](net::Interface&) {}), "No address"},
    };
    for (const Case& c : cases) EXPECT_EQ(ui.app.device_summary(c.s), c.want);
}

TEST(Overview, LayerGetsTheRectanglesTheFallbackDraws) {
    auto paint = [](bool on) {
        LayerScope scope(on);
        gpu::trace_fallback(!on);
        Ui ui(1200, 760);
        three_cards(ui);
        ui.app.m_if["eth0"].info.speed_mbps = 1000;
        ui.app.m_scroll[0] = 100; // offsets and scrolling are applied
        ui.paint();
        return on ? gpu::records() : gpu::fallback_trace();
    };
    const gpu::Records off = paint(false), on = paint(true);
    ASSERT_EQ(on.charts.size(), off.charts.size());
    ASSERT_EQ(on.meters.size(), off.meters.size());
    ASSERT_EQ(on.leds.size(), off.leds.size());
    EXPECT_GE(on.charts.size(), 3u); // hero and the cards in view
    EXPECT_EQ(on.leds.size(), 6u);
    for (size_t i = 0; i < on.charts.size(); ++i) {
        const auto &a = on.charts[i], &b = off.charts[i];
        EXPECT_EQ(std::vector<double>({a.x, a.y, a.w, a.h}),
                  std::vector<double>({b.x, b.y, b.w, b.h}));
    }
    for (size_t i = 0; i < on.meters.size(); ++i) {
        const auto &a = on.meters[i], &b = off.meters[i];
        EXPECT_EQ(a.id, b.id);
        EXPECT_EQ(std::vector<double>({a.x, a.y, a.w, a.h}),
                  std::vector<double>({b.x, b.y, b.w, b.h}));
    }
    for (size_t i = 0; i < on.leds.size(); ++i)
        EXPECT_EQ(std::make_pair(on.leds[i].x, on.leds[i].y),
                  std::make_pair(off.leds[i].x, off.leds[i].y));
    // In window points: the receive meter of the hero sits at its place below the header.
    ASSERT_FALSE(on.meters.empty());
    EXPECT_EQ(on.meters[0].id, "m_rx_total");
    EXPECT_DOUBLE_EQ(on.meters[0].x, 18 + 1164 - 78);
    EXPECT_DOUBLE_EQ(on.meters[0].y, 18 + 72 + App::kHeaderH - 100);
}

} // namespace
