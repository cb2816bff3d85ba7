// The overview page: the machine's total (hero) with readouts, level meters and the main
// chart, then one card per shown device in a grid; one card opens into a wide detail card.
// Cards are reordered by dragging and carry a context menu.

#include "app.h"

#include "format.h"
#include "gpu.h"
#include "l10n.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <tuple>

namespace {

constexpr double kCardH = 230;
constexpr double kRowPitch = 246;
constexpr double kGridTop = 380;
constexpr double kDragStart = 6;

gfx::TextStyle style(double size, bool bold, gfx::Align align = gfx::Align::Left,
                     double max_w = 0) {
    return gfx::ui_style(size, bold, align, max_w);
}

Rgba alpha_of(const Rgba& c, double f) {
    return Rgba{c.r, c.g, c.b, c.a * f};
}

bool live_state(const char* key) {
    return std::string(key) == "state.connected" || std::string(key) == "state.active";
}

double link_capacity(const net::Interface& i) {
    return i.speed_mbps > 0 ? static_cast<double>(i.speed_mbps) * 1e6 / 8 : 125000000.0;
}

double activity(double rate, double cap) {
    return rate > 64 ? gfx::log_frac(rate, cap) : 0;
}

std::string join(const std::vector<std::string>& v, const char* sep) {
    std::string out;
    for (const auto& s : v) {
        if (s.empty()) continue;
        if (!out.empty()) out += sep;
        out += s;
    }
    return out;
}

std::string integer(uint64_t v) {
    return std::to_string(v);
}

// A chart over the newest `n` entries of two rings.
gfx::SeriesFn ring_series(const Ring* rx, const Ring* tx, int n) {
    const size_t base = rx->size() - static_cast<size_t>(n);
    return [rx, tx, base](int i, double* r, double* t) {
        *r = rx->at(base + static_cast<size_t>(i));
        *t = tx->at(base + static_cast<size_t>(i));
    };
}

} // namespace

Rgba kind_color(net::Kind kind, const Palette& p) {
    const bool d = p.dark;
    switch (kind) {
    case net::Kind::Ethernet:
        return p.down;
    case net::Kind::Wireless:
        return hex(d ? "#DDA7AE" : "#A0646D");
    case net::Kind::Mobile:
        return hex(d ? "#E8B79A" : "#A3683F");
    case net::Kind::Bond:
        return p.up;
    case net::Kind::Bridge:
        return hex(d ? "#C9C29A" : "#7C744A");
    case net::Kind::Vlan:
        return hex(d ? "#D9A08A" : "#96583F");
    case net::Kind::Vpn:
        return hex(d ? "#CFAF8F" : "#8A6A48");
    case net::Kind::Tunnel:
        return hex(d ? "#B9B4AC" : "#6E6A63");
    default:
        return p.faint;
    }
}

const char* state_key(const net::Interface& info) {
    if (!info.admin_up) return "state.disabled";
    if (info.operstate == "up" || (info.operstate == "unknown" && info.carrier))
        return "state.connected";
    if (info.operstate == "dormant") return "state.dormant";
    if (info.operstate == "unknown") return "state.active";
    return "state.nolink";
}

std::string utilisation_label(double rate, int64_t speed_mbps) {
    if (speed_mbps <= 0) return "";
    const double u = std::min(1.0, rate / (static_cast<double>(speed_mbps) * 1e6 / 8));
    return fmt::number(u * 100, u * 100 < 10 ? 1 : 0) + " %";
}

// ---- helpers of the page ------------------------------------------------------------------

double App::chip(cairo_t* cr, const std::string& s, double x, double cy, const Rgba& fg,
                 const Rgba& bg, double size) {
    const double w = gfx::text_width(cr, s, size, true) + 14;
    gfx::rounded(cr, x, cy - 9.5, w, 19, 5);
    gfx::set(cr, bg);
    cairo_fill(cr);
    gfx::text(cr, s, x + 7, cy, fg, style(size, true));
    return w;
}

std::vector<IfState*> App::card_list() {
    std::vector<IfState*> out = ordered(true);
    const auto& order = m_settings.card_order;
    auto pos = [&](const IfState* s) {
        auto it = std::find(order.begin(), order.end(), s->info.name);
        return it == order.end() ? order.size() : static_cast<size_t>(it - order.begin());
    };
    std::stable_sort(out.begin(), out.end(),
                     [&](const IfState* a, const IfState* b) { return pos(a) < pos(b); });
    return out;
}

double App::capacity_bps() const {
    double sum = 0;
    for (const auto& [name, s] : m_if)
        if (s.counts && s.info.speed_mbps > 0)
            sum += static_cast<double>(s.info.speed_mbps) * 1e6 / 8;
    return sum > 0 ? sum : 125000000.0;
}

std::string App::device_summary(const IfState& s) const {
    const net::Interface& i = s.info;
    std::vector<std::string> parts;
    if (i.kind == net::Kind::Wireless && !i.ssid.empty()) parts.push_back(i.ssid);
    if (!i.ipv4.empty()) {
        parts.push_back(i.ipv4.front());
    } else if (i.master.empty()) {
        for (const auto& a : i.ipv6)
            if (a.rfind("fe80", 0) != 0) {
                parts.push_back(a);
                break;
            }
    }
    parts.push_back(fmt::speed_mbps(i.speed_mbps));
    if (i.kind == net::Kind::Bond || i.kind == net::Kind::Bridge)
        parts.push_back(L10n::tr("dev.members", static_cast<int>(i.members.size())));
    if (!i.master.empty()) {
        std::string m = L10n::tr("dev.member_of", i.master.c_str());
        if (i.slave_state == "active" || i.slave_state == "backup")
            m += " · " + L10n::tr("dev.slave." + i.slave_state);
        parts.push_back(m);
    }
    if (i.kind == net::Kind::Vlan && !i.vlan_parent.empty())
        parts.push_back(L10n::tr("dev.on", i.vlan_parent.c_str()));
    std::string out = join(parts, "  ·  ");
    return out.empty() ? L10n::tr("dev.noaddress") : out;
}

// ---- page ---------------------------------------------------------------------------------

double App::paint_overview(cairo_t* cr, double W) {
    const Palette& p = m_pal;
    const double cw = W - 36;
    m_slots.clear();
    draw_hero(cr, 18, 18, cw, 316);

    std::vector<IfState*> cards = card_list();
    const int hidden = static_cast<int>(m_if.size()) - static_cast<int>(cards.size());
    gfx::text(cr, L10n::tr("dev.title", static_cast<int>(cards.size())), 18, 360, p.text,
              style(14, true));
    std::string hint = L10n::tr("dev.drag_hint");
    if (hidden > 0) hint = L10n::tr("dev.hidden", hidden) + "   ·   " + hint;
    gfx::text(cr, hint, W - 24, 360, p.dim, style(11.5, false, gfx::Align::Right));

    const int cols = std::max(1, static_cast<int>(std::floor((cw + 16) / 396)));
    const double cwid = (cw - (cols - 1) * 16) / cols;
    if (m_dragging)
        cards.erase(std::remove_if(cards.begin(), cards.end(),
                                   [&](const IfState* s) { return s->info.name == m_press_card; }),
                    cards.end());

    const double page_h = m_H - kHeaderH - kStatusH;
    const double view_top = m_scroll[0] - 40, view_bottom = m_scroll[0] + page_h + 40;
    double y = kGridTop, bottom = kGridTop;
    int col = 0;
    auto next_cell = [&](double& cx) {
        if (col == cols) {
            col = 0;
            y += kRowPitch;
        }
        cx = 18 + col * (cwid + 16);
        ++col;
        bottom = std::max(bottom, y + kCardH);
    };
    auto placeholder = [&] {
        double cx = 0;
        next_cell(cx);
        const Rgba& a = p.accent;
        gfx::rounded(cr, cx + 2, y + 2, cwid - 4, kCardH - 4, 10);
        gfx::set(cr, alpha_of(a, 0.08));
        cairo_fill_preserve(cr);
        const double dash[] = {6, 5};
        cairo_set_dash(cr, dash, 2, 0);
        cairo_set_line_width(cr, 1.5);
        gfx::set(cr, alpha_of(a, 0.7));
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
        m_slots.emplace_back("",
                             Hit{cx, y, cwid, kCardH, "", static_cast<int>(m_slots.size()), ""});
    };
    for (size_t ci = 0; ci < cards.size(); ++ci) {
        const IfState& s = *cards[ci];
        if (m_dragging && static_cast<int>(m_slots.size()) == m_drop_index) placeholder();
        const int index = static_cast<int>(m_slots.size());
        if (!m_dragging && s.info.name == m_expanded) {
            if (col > 0) {
                y += kRowPitch;
                col = 0;
            }
            const double h = draw_card_expanded(cr, s, 18, y, cw, 540);
            m_slots.emplace_back(s.info.name,
                                 Hit{18, y, cw, h, "ov:card:" + s.info.name, index, ""});
            bottom = std::max(bottom, y + h);
            y += h + 16 - kRowPitch; // the next card starts a new row below it
            col = cols;
            continue;
        }
        double cx = 0;
        next_cell(cx);
        if (y + kCardH >= view_top && y <= view_bottom)
            draw_card(cr, s, cx, y, cwid, kCardH, index + 2, true);
        m_slots.emplace_back(s.info.name,
                             Hit{cx, y, cwid, kCardH, "ov:card:" + s.info.name, index, ""});
    }
    if (m_dragging && m_drop_index >= static_cast<int>(m_slots.size())) placeholder();
    if (cards.empty() && !m_dragging) {
        gfx::text(cr, L10n::tr("dev.none"), W / 2, kGridTop + 40, p.dim,
                  style(13, false, gfx::Align::Center));
        bottom = kGridTop + 80;
    }
    if (m_dragging && (cwid != m_ghost_w || kCardH != m_ghost_h)) {
        m_ghost_dirty = true;
        m_ghost_w = cwid;
        m_ghost_h = kCardH;
    }
    return bottom + 2;
}

void App::paint_card(cairo_t* cr, const IfState& s, double x, double y, double w, double h) {
    draw_card(cr, s, x, y, w, h, 0, false);
}

// A device's own chart over the chosen span, up to the hour its live ring holds.
void App::device_chart(cairo_t* cr, const IfState& s, double x, double y, double w, double h) {
    const int interval = std::max(1, m_interval.load());
    const int span = std::min(m_settings.span_s, 3600);
    const int slots = static_cast<int>(static_cast<int64_t>(span) * 1000 / interval);
    const int n = std::min(slots, static_cast<int>(s.hrx.size()));
    gfx::ChartOpts o;
    o.axis = o.time_axis = false;
    o.span_s = span;
    o.bits = m_settings.bits;
    o.hover_x = -1;
    o.slots = slots;
    o.step_s = interval / 1000.0;
    gfx::chart(cr, x, y, w, h, n, ring_series(&s.hrx, &s.htx, n), m_pal, o);
}

// ---- hero ---------------------------------------------------------------------------------

void App::draw_hero(cairo_t* cr, double x, double y, double w, double h) {
    const Palette& p = m_pal;
    const bool bits = m_settings.bits;
    const double lw = std::clamp(w * 0.27, 250.0, 330.0);
    gfx::rack(cr, x, y, w, h, p, p.ok, true, 1, false);

    int counted = 0;
    for (const auto& [name, s] : m_if) counted += s.counts ? 1 : 0;
    const std::string title = L10n::tr("total.title");
    std::string sub = L10n::tr("total.devices", counted);
    // With a data plan for all devices, what is left of it belongs beside the count.
    if (const std::string left = plan_remaining(); !left.empty()) sub += "  ·  " + left;
    gfx::text(cr, title, x + 26, y + 30, p.text_strong, style(15, true));
    gfx::text(cr, sub, x + 26, y + 50, p.dim, style(11.5, false));
    const double title_w =
        std::max(gfx::text_width(cr, title, 15, true), gfx::text_width(cr, sub, 11.5, false));

    // Span selector: segmented where it fits right of the title, else a button with a menu.
    std::vector<std::string> labels;
    int selected = 0;
    for (size_t i = 0; i < kSpans.size(); ++i) {
        labels.push_back(span_label(kSpans[i]));
        if (kSpans[i] == m_settings.span_s) selected = static_cast<int>(i);
    }
    const double bar_w = gfx::segmented_width(cr, labels, 11);
    if (x + w - 26 - bar_w >= x + 26 + title_w + 20) {
        int hovered = -1;
        if (m_hover.rfind("ov:span:", 0) == 0) hovered = atoi(m_hover.c_str() + 8);
        gfx::segmented_bar(cr, x + w - 26 - bar_w, y + 18, 28, labels, selected, hovered, p, 11,
                           m_hits, "ov:span:");
    } else {
        const std::string label = span_label(m_settings.span_s) + "  ▾";
        const double bw = gfx::text_width(cr, label, 11, true) + 24;
        const double bx = x + w - 26 - bw;
        const bool hot = m_hover == "ov:spanmenu";
        gfx::rounded(cr, bx, y + 18, bw, 28, 8);
        gfx::set(cr, hot ? p.button_hot : p.slot);
        cairo_fill_preserve(cr);
        gfx::set(cr, p.panel_edge);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        gfx::text(cr, label, bx + bw / 2, y + 32, p.text, style(11, true, gfx::Align::Center));
        m_hits.push_back(Hit{bx, y + 18, bw, 28, "ov:spanmenu", 0, L10n::tr("mi.span")});
    }

    // Big readouts.
    for (int dir = 0; dir < 2; ++dir) {
        const double top = y + (dir == 0 ? 68 : 142);
        const Rgba& c = dir == 0 ? p.down : p.up;
        gfx::display(cr, x + 26, top, lw, 66, p, false);
        gfx::arrow(cr, x + 46, top + 30, 18, dir == 1, c);
        gfx::text(cr, fmt::rate(dir == 0 ? m_total_rx_now : m_total_tx_now, bits), x + 64, top + 28,
                  c, style(25, true));
        gfx::text(cr, L10n::tr(dir == 0 ? "dir.download" : "dir.upload"), x + 64, top + 52, p.dim,
                  style(11, false));
    }

    // Today, session and peak.
    struct L {
        std::string label, dn, up;
    };
    const usage::Sum today = m_usage.day("*", usage::Store::today());
    const L rows[3] = {{L10n::tr("total.today"), fmt::bytes(today.rx), fmt::bytes(today.tx)},
                       {L10n::tr("total.session"), fmt::bytes(m_sess_rx), fmt::bytes(m_sess_tx)},
                       {L10n::tr("total.peak"), fmt::rate(m_total_peak_rx, bits),
                        fmt::rate(m_total_peak_tx, bits)}};
    const double vw =
        std::max(gfx::rate_width(cr, 11.5, true, bits), gfx::bytes_width(cr, 11.5, true));
    const double R2 = x + 26 + lw, R1 = R2 - vw - 26;
    for (int i = 0; i < 3; ++i) {
        const double ry = y + 232 + i * 21;
        gfx::text(cr, rows[i].label, x + 26, ry, p.dim,
                  style(11.5, false, gfx::Align::Left, std::max(1.0, R1 - vw - 19 - (x + 26))));
        gfx::arrow(cr, R1 - vw - 10, ry, 8, false, p.down);
        gfx::text(cr, rows[i].dn, R1, ry, p.text, style(11.5, true, gfx::Align::Right));
        gfx::arrow(cr, R2 - vw - 10, ry, 8, true, p.up);
        gfx::text(cr, rows[i].up, R2, ry, p.text, style(11.5, true, gfx::Align::Right));
    }

    // Level meters on a log scale.
    const bool meters = w >= 760;
    const double mx = x + w - 78;
    if (meters) {
        const double T =
            std::max(1.25 * std::max(m_total_peak_rx, m_total_peak_tx), capacity_bps());
        const double mt = y + 72, mh = h - 118;
        gfx::display(cr, mx - 70, mt - 12, 70 + 52 + 14, mh + 44, p, false);
        double highest = -1;
        for (double r = 1000; r < 0.75 * T; r *= 10) {
            highest = mt + mh - gfx::log_frac(r, T) * mh;
            gfx::text(cr, fmt::rate(r, bits), mx - 6, highest, p.faint,
                      style(9.5, false, gfx::Align::Right));
        }
        if (highest < 0 || highest - mt > 14)
            gfx::text(cr, fmt::rate(T, bits), mx - 6, mt, p.dim,
                      style(9.5, true, gfx::Align::Right));
        const double now_rate[2] = {m_total_rx_now, m_total_tx_now};
        for (int dir = 0; dir < 2; ++dir) {
            gpu::Meter m;
            m.id = dir == 0 ? "m_rx_total" : "m_tx_total";
            m.x = mx + dir * 26;
            m.y = mt;
            m.w = 16;
            m.h = mh;
            m.segs = 26;
            m.vertical = true;
            m.frac = gfx::log_frac(now_rate[dir], T);
            m.scheme = 1;
            m.color = dir == 0 ? p.down : p.up;
            gpu::meter(cr, m);
            gfx::arrow(cr, m.x + 8, mt + mh + 17, 11, dir == 1, m.color);
        }
    }

    // Main chart.
    const double dx = x + 26 + lw + 22;
    const double dr = meters ? mx - 70 - 30 : x + w - 26;
    const double dy = y + 62, dh = y + h - 22 - dy;
    gfx::display(cr, dx, dy, dr - dx, dh, p, true);
    gfx::ChartOpts o;
    o.span_s = m_settings.span_s;
    o.bits = bits;
    o.hover_x = -1;
    const double chx = dx + 10, chy = dy + 12, chw = dr - dx - 16, chh = dh - 16;
    bool known = false;
    if (m_settings.span_s > 3600) {
        const int pts = std::max(static_cast<int>(std::floor(chw / 2)), 60);
        auto series = std::make_shared<history::Series>(
            m_hist.series(m_settings.span_s, pts, static_cast<double>(time(nullptr))));
        known = std::find(series->known.begin(), series->known.end(), true) != series->known.end();
        o.slots = static_cast<int>(series->rx.size());
        o.step_s = series->step_s;
        o.end_t = series->end_t;
        gfx::chart(
            cr, chx, chy, chw, chh, static_cast<int>(series->rx.size()),
            [series](int i, double* r, double* t) {
                *r = series->rx[static_cast<size_t>(i)];
                *t = series->tx[static_cast<size_t>(i)];
            },
            p, o);
    } else {
        const int interval = std::max(1, m_interval.load());
        const int slots =
            static_cast<int>(static_cast<int64_t>(m_settings.span_s) * 1000 / interval);
        const int n = std::min(slots, static_cast<int>(m_total_rx.size()));
        o.slots = slots;
        o.step_s = interval / 1000.0;
        known = n >= 2;
        gfx::chart(cr, chx, chy, chw, chh, n, ring_series(&m_total_rx, &m_total_tx, n), p, o);
    }
    if (!known)
        gfx::text(cr, L10n::tr("total.collecting"), dx + (dr - dx) / 2, dy + dh / 2, p.faint,
                  style(12, false, gfx::Align::Center));
}

// ---- device card --------------------------------------------------------------------------

void App::draw_card(cairo_t* cr, const IfState& s, double x, double y, double w, double h, int seed,
                    bool live) {
    const Palette& p = m_pal;
    const net::Interface& i = s.info;
    const std::string& name = i.name;
    const Rgba kc = kind_color(i.kind, p);
    const char* skey = state_key(i);
    const bool is_live = live_state(skey);
    const std::string card_id = "ov:card:" + name;
    gfx::rack(cr, x, y, w, h, p, kc, is_live && s.counts, seed, live && m_hover == card_id);
    if (live) m_hits.push_back(Hit{x, y, w, h, card_id, 0, ""});

    gfx::display(cr, x + 24, y + 18, 38, 38, p, false);
    gfx::kind_icon(cr, i.kind, x + 43, y + 37, 11, is_live ? kc : p.faint);

    const std::string state = L10n::tr(skey);
    const Rgba& sc = is_live ? p.ok : std::string(skey) == "state.dormant" ? p.warn : p.faint;
    const double sw =
        gfx::text(cr, state, x + w - 24, y + 27, sc, style(11, true, gfx::Align::Right));
    const double r = x + w - 24 - sw - 18;
    const double cap = link_capacity(i);
    const double rates[2] = {s.rx, s.tx};
    for (int d = 0; d < 2; ++d) {
        gpu::Led l;
        l.x = r - 30 + d * 26;
        l.y = y + 27;
        l.r = 3.2;
        l.color = d == 0 ? p.down : p.up;
        l.activity = activity(rates[d], cap);
        gpu::led(cr, l);
        gfx::text(cr, d == 0 ? "RX" : "TX", l.x, y + 42, p.faint,
                  style(8.5, true, gfx::Align::Center));
    }

    // Mini toggle.
    const bool in_mini = m_settings.mini_devices.count(name) > 0;
    const std::string mini = L10n::tr("card.mini");
    const double mw = gfx::text_width(cr, mini, 9.5, true) + 16;
    const double mx0 = r - 52 - mw;
    const std::string mini_id = "ov:mini:" + name;
    gfx::rounded(cr, mx0, y + 19, mw, 18, 5);
    gfx::set(cr, in_mini ? p.chip_on : (m_hover == mini_id && live) ? p.button_hot : p.slot);
    cairo_fill_preserve(cr);
    gfx::set(cr, in_mini ? p.chip_on : p.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    gfx::text(cr, mini, mx0 + mw / 2, y + 28, in_mini ? p.chip_on_text : p.dim,
              style(9.5, true, gfx::Align::Center));
    if (live)
        m_hits.push_back(Hit{mx0, y + 19, mw, 18, mini_id, 0,
                             L10n::tr(in_mini ? "menu.mini_remove" : "menu.mini_add")});

    // Name and chips.
    const double name_end = mx0 - 8;
    double cx = x + 74 +
                gfx::text(cr, name, x + 74, y + 27, p.text_strong,
                          style(15.5, true, gfx::Align::Left, std::max(1.0, name_end - x - 74)));
    const std::string kind_name = L10n::tr(net::kind_key(i.kind));
    struct C {
        std::string s;
        Rgba fg, bg;
    };
    std::vector<C> chips{{kind_name, kc, alpha_of(kc, 0.14)}};
    if (i.kind != net::Kind::Vlan && !i.detail.empty()) chips.push_back({i.detail, p.dim, p.chip});
    if (i.default_route) chips.push_back({L10n::tr("dev.default"), p.chip_on_text, p.chip_on});
    for (const auto& c : chips) {
        cx += 8;
        if (cx + gfx::text_width(cr, c.s, 10, true) + 14 > name_end) break;
        cx += chip(cr, c.s, cx, y + 27, c.fg, c.bg, 10);
    }

    const std::string hw_line = hw::summary(i.hw);
    gfx::text(cr, hw_line.empty() ? kind_name : hw_line, x + 74, y + 47, p.dim,
              style(11, true, gfx::Align::Left, std::max(20.0, r - 30 - 12 - x - 74)));
    gfx::text(cr, device_summary(s), x + 24, y + 72, p.faint,
              style(11.5, false, gfx::Align::Left, w - 48));
    if (s.err_ps > 0 || s.drop_ps > 0)
        gfx::text(cr, L10n::tr("dev.errors_now"), x + w - 24, y + 72, p.err,
                  style(11, true, gfx::Align::Right));

    // Rates.
    const bool bits = m_settings.bits;
    gfx::arrow(cr, x + 31, y + 98, 13, false, p.down);
    gfx::text(cr, fmt::rate(s.rx, bits), x + 44, y + 98, p.down, style(18, true));
    const double ux = x + 44 + gfx::rate_width(cr, 18, true, bits) + 22;
    gfx::arrow(cr, ux, y + 98, 13, true, p.up);
    const double tw = gfx::text(cr, fmt::rate(s.tx, bits), ux + 13, y + 98, p.up, style(18, true));
    const std::string pps = fmt::pps(s.rx_pps + s.tx_pps) + " " + L10n::tr("unit.pps");
    if (ux + 13 + tw + 16 + gfx::text_width(cr, pps, 11, false) < x + w - 24)
        gfx::text(cr, pps, x + w - 24, y + 98, p.dim, style(11, false, gfx::Align::Right));

    // One-hour chart.
    gfx::display(cr, x + 24, y + 118, w - 48, h - 158, p, true);
    device_chart(cr, s, x + 30, y + 124, w - 60, h - 170);

    // Since boot and utilisation.
    const double by = y + h - 22;
    double bx = x + 24 +
                gfx::text(cr, L10n::tr("dev.since_boot"), x + 24, by, p.dim, style(11, false)) + 10;
    gfx::arrow(cr, bx, by, 8, false, p.down);
    bx += 8 + gfx::text(cr, fmt::bytes(s.cur.rx_bytes), bx + 8, by, p.text, style(11, true)) + 14;
    gfx::arrow(cr, bx, by, 8, true, p.up);
    bx += 8 + gfx::text(cr, fmt::bytes(s.cur.tx_bytes), bx + 8, by, p.text, style(11, true));
    const std::string util = utilisation_label(std::max(s.rx, s.tx), i.speed_mbps);
    if (!util.empty()) {
        const double meter_x = x + w - 114;
        const double text_x = meter_x - 8;
        if (text_x - gfx::text_width(cr, util, 11, true) > bx + 12) {
            gfx::text(cr, util, text_x, by, p.dim, style(11, true, gfx::Align::Right));
            gpu::Meter m;
            m.id = "util:" + name;
            m.x = meter_x;
            m.y = by - 4;
            m.w = 90;
            m.h = 8;
            m.segs = 15;
            m.vertical = false;
            m.frac = std::min(1.0, std::max(s.rx, s.tx) / cap);
            m.scheme = 1;
            m.color = p.ok;
            gpu::meter(cr, m);
        }
    }
}

// ---- expanded card ------------------------------------------------------------------------

double App::draw_card_expanded(cairo_t* cr, const IfState& s, double x, double y, double w,
                               double h) {
    const Palette& p = m_pal;
    const net::Interface& i = s.info;
    const bool bits = m_settings.bits;
    const hw::Info& hwi = i.hw;
    struct Sec {
        std::string title;
        std::vector<std::pair<std::string, std::string>> kv;
    };
    auto row = [](Sec& sec, const char* key, const std::string& v) {
        if (!v.empty()) sec.kv.emplace_back(key, v);
    };
    const std::string pps = L10n::tr("unit.pps");
    auto pair = [](const std::string& a, const std::string& b) { return a + " / " + b; };

    Sec traffic{"det.sec.traffic", {}};
    row(traffic, "det.rate_down", fmt::rate(s.rx, bits) + "  ·  " + fmt::pps(s.rx_pps) + " " + pps);
    row(traffic, "det.rate_up", fmt::rate(s.tx, bits) + "  ·  " + fmt::pps(s.tx_pps) + " " + pps);
    row(traffic, "det.peak", pair(fmt::rate(s.peak_rx, bits), fmt::rate(s.peak_tx, bits)));
    row(traffic, "det.session", pair(fmt::bytes(s.sess_rx), fmt::bytes(s.sess_tx)));
    row(traffic, "det.boot", pair(fmt::bytes(s.cur.rx_bytes), fmt::bytes(s.cur.tx_bytes)));
    row(traffic, "det.packets", pair(integer(s.cur.rx_packets), integer(s.cur.tx_packets)));
    row(traffic, "det.errors", pair(integer(s.cur.rx_errors), integer(s.cur.tx_errors)));
    row(traffic, "det.dropped", pair(integer(s.cur.rx_dropped), integer(s.cur.tx_dropped)));
    if (s.cur.multicast) row(traffic, "det.multicast", integer(s.cur.multicast));
    if (s.cur.collisions) row(traffic, "det.collisions", integer(s.cur.collisions));
    row(traffic, "det.total", L10n::tr(s.counts ? "det.total.yes" : "det.total.no"));

    Sec link{"det.sec.link", {}};
    row(link, "det.state", L10n::tr(state_key(i)) + " (" + i.operstate + ")");
    std::string speed = fmt::speed_mbps(i.speed_mbps);
    if (!speed.empty() && (i.duplex == "full" || i.duplex == "half"))
        speed += " · " + L10n::tr(i.duplex == "full" ? "det.duplex.full" : "det.duplex.half");
    row(link, "det.speed", speed);
    for (const auto& a : i.ipv4) row(link, "det.ipv4", a);
    for (const auto& a : i.ipv6) row(link, "det.ipv6", a);
    row(link, "det.gateway", i.gateway);
    row(link, "det.mac", i.mac);
    row(link, "det.mtu", i.mtu > 0 ? std::to_string(i.mtu) : "");
    if (i.kind == net::Kind::Bond) {
        row(link, "det.bond_mode", i.bond_mode);
        row(link, "det.bond_active", i.bond_active);
        row(link, "det.bond_mii", i.bond_mii);
    }
    for (const auto& m : i.members) {
        std::string v = m;
        auto it = m_if.find(m);
        if (it != m_if.end()) {
            v += " · " + L10n::tr(state_key(it->second.info));
            if (!it->second.info.slave_state.empty()) v += " · " + it->second.info.slave_state;
            const std::string hs = hw::summary(it->second.info.hw);
            if (!hs.empty()) v += " · " + hs;
        }
        row(link, "det.member", v);
    }
    row(link, "det.master", i.master);
    if (i.vlan_id >= 0)
        row(link, "det.vlan",
            std::to_string(i.vlan_id) + (i.vlan_parent.empty() ? "" : " · " + i.vlan_parent));
    if (i.kind == net::Kind::Wireless) {
        row(link, "det.ssid", i.ssid);
        if (i.freq_mhz > 0) {
            const char* band = i.freq_mhz <= 4900   ? "2.4 GHz"
                               : i.freq_mhz <= 5900 ? "5 GHz"
                                                    : "6 GHz";
            row(link, "det.freq", std::to_string(i.freq_mhz) + " MHz · " + band);
        }
        if (i.signal_dbm != 0) row(link, "det.signal", std::to_string(i.signal_dbm) + " dBm");
        if (i.tx_bitrate_kbps > 0 || i.rx_bitrate_kbps > 0)
            row(link, "det.bitrate",
                fmt::number(i.tx_bitrate_kbps / 1000.0, 1) + " / " +
                    fmt::number(i.rx_bitrate_kbps / 1000.0, 1) + " Mbit/s");
    }

    Sec hard{"det.sec.hardware", {}};
    if (hwi.present) {
        row(hard, "hw.vendor", hwi.vendor);
        row(hard, "hw.chip", hwi.product);
        row(hard, "hw.board", hwi.subsystem);
        row(hard, "hw.ids", hwi.ids);
        row(hard, "hw.address", hwi.address);
        row(hard, "det.driver", join({hwi.driver, hwi.driver_version}, " "));
        row(hard, "hw.firmware", hwi.firmware);
        row(hard, "hw.pcie",
            hwi.pcie_max.empty() || hwi.pcie_max == hwi.pcie_now
                ? hwi.pcie_now
                : pair(hwi.pcie_now, hwi.pcie_max));
        row(hard, "hw.usb", hwi.usb_speed);
        row(hard, "hw.port", hwi.port);
        row(hard, "hw.modes", join(hwi.modes_supported, ", "));
        row(hard, "hw.partner", join(hwi.modes_partner, ", "));
        row(hard, "hw.perm_mac", hwi.perm_mac);
        if (hwi.rx_queues || hwi.tx_queues)
            row(hard, "hw.queues",
                pair(std::to_string(hwi.rx_queues), std::to_string(hwi.tx_queues)));
        if (hwi.irqs > 0) row(hard, "hw.irqs", std::to_string(hwi.irqs));
        if (hwi.numa >= 0) row(hard, "hw.numa", std::to_string(hwi.numa));
        if (hwi.temp_c > -273) row(hard, "hw.temp", fmt::number(hwi.temp_c, 1) + " °C");
        if (hwi.carrier_changes >= 0)
            row(hard, "hw.carrier_changes", std::to_string(hwi.carrier_changes));
        row(hard, "hw.phy", hwi.phy);
    }
    const Sec* secs[3] = {&traffic, &link, &hard};
    double need = 84 + 26;
    for (const Sec* sec : secs)
        if (!sec->kv.empty()) need += static_cast<double>(sec->kv.size()) * 18 + 28;
    h = std::max(h, need);

    const Rgba kc = kind_color(i.kind, p);
    const std::string card_id = "ov:card:" + i.name;
    gfx::rack(cr, x, y, w, h, p, kc, true, 7, m_hover == card_id);
    m_hits.push_back(Hit{x, y, w, h, card_id, 0, ""});
    gfx::display(cr, x + 26, y + 18, 44, 44, p, false);
    gfx::kind_icon(cr, i.kind, x + 48, y + 40, 13, kc);
    const std::string collapse = L10n::tr("dev.collapse");
    const double col_w = gfx::text_width(cr, collapse, 11, false);
    gfx::text(cr, collapse, x + w - 26, y + 31, p.faint, style(11, false, gfx::Align::Right));
    const double name_end = x + w - 26 - col_w - 16;
    double cx = x + 84 +
                gfx::text(cr, i.name, x + 84, y + 31, p.text_strong,
                          style(19, true, gfx::Align::Left, std::max(1.0, name_end - x - 84)));
    std::vector<std::tuple<std::string, Rgba, Rgba>> chips{
        {L10n::tr(net::kind_key(i.kind)), kc, alpha_of(kc, 0.14)}};
    if (!i.detail.empty()) chips.emplace_back(i.detail, p.dim, p.chip);
    if (i.default_route) chips.emplace_back(L10n::tr("dev.default"), p.chip_on_text, p.chip_on);
    for (const auto& [text, fg, bg] : chips) {
        cx += 8;
        if (cx + gfx::text_width(cr, text, 10.5, true) + 14 > name_end) break;
        cx += chip(cr, text, cx, y + 31, fg, bg, 10.5);
    }
    std::string line2 = device_summary(s);
    const std::string hs = hw::summary(hwi);
    if (!hs.empty()) line2 += "  ·  " + hs;
    gfx::text(cr, line2, x + 84, y + 52, p.dim,
              style(12, false, gfx::Align::Left, std::max(1.0, w - 312)));

    // Chart column.
    const double cw = w * 0.52 > 360 ? w * 0.52 : 360;
    const double dwid = cw - 26;
    const double dtop = y + 78, dh = h - 26 - 78;
    gfx::display(cr, x + 26, dtop, dwid, dh, p, true);
    device_chart(cr, s, x + 32, dtop + 6, dwid - 12, dh - 12);

    // Facts column.
    const double fx = x + cw + 14, fw = w - cw - 40;
    const double lab = std::min(0.4 * fw, 180.0);
    const double limit = y + h - 26;
    double ty = y + 84;
    for (const Sec* sec : secs) {
        if (sec->kv.empty() || ty > limit - 30) continue;
        const std::string title = L10n::tr(sec->title);
        const double tw = gfx::text(cr, title, fx, ty, kc, style(11.5, true));
        cairo_rectangle(cr, fx + tw + 8, std::round(ty), std::max(0.0, fw - tw - 8), 1);
        gfx::set(cr, p.panel_edge);
        cairo_fill(cr);
        double ry = ty + 20;
        for (const auto& [key, value] : sec->kv) {
            if (ry > limit - 4) break;
            gfx::text(cr, L10n::tr(key), fx, ry, p.dim,
                      style(11.5, false, gfx::Align::Left, std::max(1.0, lab - 8)));
            gfx::text(cr, value, fx + lab, ry, p.text,
                      style(11.5, true, gfx::Align::Left, std::max(1.0, fw - lab)));
            ry += 18;
        }
        ty = ry - 18 + 8 + 20;
    }
    return h;
}

// ---- interaction --------------------------------------------------------------------------

void App::toggle_expanded(const std::string& name) {
    m_expanded = m_expanded == name ? std::string() : name;
    m_settings.expanded = m_expanded;
    m_dirty = true;
    save_later();
}

void App::ov_press(const Hit& hit, double x, double y, int button, int) {
    const std::string& id = hit.id;
    if (id.rfind("ov:span:", 0) == 0) {
        if (button != 1) return;
        const int i = std::clamp(atoi(id.c_str() + 8), 0, static_cast<int>(kSpans.size()) - 1);
        m_settings.span_s = kSpans[static_cast<size_t>(i)];
        m_dirty = true;
        save_later();
    } else if (id == "ov:spanmenu") {
        std::vector<MenuItem> items;
        for (int s : kSpans) {
            MenuItem it;
            it.label = span_label(s);
            it.checked = s == m_settings.span_s;
            it.act = [this, s] {
                m_settings.span_s = s;
                m_dirty = true;
                save_later();
            };
            items.push_back(std::move(it));
        }
        open_menu(hit.x, hit.y + hit.h + 4, std::move(items));
    } else if (id.rfind("ov:mini:", 0) == 0) {
        if (button != 1) return;
        const std::string name = id.substr(8);
        if (!m_settings.mini_devices.erase(name)) m_settings.mini_devices.insert(name);
        m_dirty = true;
        save_later();
    } else if (id.rfind("ov:card:", 0) == 0) {
        const std::string name = id.substr(8);
        if (button == 3) {
            device_menu(name, x, y + kHeaderH - m_scroll[0]);
        } else if (button == 1) {
            m_press_card = name;
            m_press_x = x;
            m_press_y = y;
            m_dragging = false;
            for (const auto& [n, h] : m_slots)
                if (n == name) {
                    m_grab_dx = x - h.x;
                    m_grab_dy = y - h.y;
                }
        }
    }
}

void App::ov_motion(double x, double y) {
    if (m_press_card.empty()) return;
    if (!m_dragging) {
        if (m_press_card == m_expanded) return;
        if (std::hypot(x - m_press_x, y - m_press_y) <= kDragStart) return;
        m_drop_index = -1;
        for (const auto& [n, h] : m_slots)
            if (n == m_press_card) m_drop_index = h.n;
        m_dragging = true;
        m_ghost_dirty = true;
        m_dirty = true;
        return;
    }
    for (const auto& [n, h] : m_slots)
        if (h.contains(x, y) && h.n != m_drop_index) {
            m_drop_index = h.n;
            m_dirty = true;
            break;
        }
    const double page_h = m_H - kHeaderH - kStatusH;
    const double top = m_scroll[0], max_scroll = std::max(0.0, m_content_h[0] - page_h);
    double scroll = m_scroll[0];
    if (y < top + 30)
        scroll -= 12;
    else if (y > top + page_h - 30)
        scroll += 12;
    scroll = std::clamp(scroll, 0.0, max_scroll);
    if (scroll != m_scroll[0]) {
        m_scroll[0] = scroll;
        m_dirty = true;
    }
}

void App::ov_release() {
    const std::string name = m_press_card;
    const bool dragged = m_dragging;
    m_press_card.clear();
    m_dragging = false;
    if (name.empty()) return;
    if (!dragged) {
        toggle_expanded(name);
        return;
    }
    std::vector<std::string> names;
    for (const IfState* s : card_list())
        if (s->info.name != name) names.push_back(s->info.name);
    const size_t at =
        m_drop_index < 0 ? 0 : std::min(static_cast<size_t>(m_drop_index), names.size());
    names.insert(names.begin() + static_cast<std::ptrdiff_t>(at), name);
    for (const auto& old : m_settings.card_order)
        if (std::find(names.begin(), names.end(), old) == names.end()) names.push_back(old);
    m_settings.card_order = std::move(names);
    m_drop_index = -1;
    m_dirty = true;
    save_later();
}

void App::device_menu(const std::string& name, double x, double y) {
    auto it = m_if.find(name);
    if (it == m_if.end()) return;
    const IfState& s = it->second;
    std::vector<MenuItem> items;
    auto add = [&](const std::string& label, std::function<void()> act, bool checked = false) {
        MenuItem m;
        m.label = label;
        m.act = std::move(act);
        m.checked = checked;
        items.push_back(std::move(m));
    };
    add(L10n::tr(m_expanded == name ? "dev.collapse" : "menu.details"),
        [this, name] { toggle_expanded(name); });
    add(
        L10n::tr("card.mini"),
        [this, name] {
            if (!m_settings.mini_devices.erase(name)) m_settings.mini_devices.insert(name);
            m_dirty = true;
            save_later();
        },
        m_settings.mini_devices.count(name) > 0);
    add(
        L10n::tr("menu.total_add"),
        [this, name] {
            auto f = m_if.find(name);
            if (f == m_if.end()) return;
            const bool now = f->second.counts;
            m_settings.total_on.erase(name);
            m_settings.total_off.erase(name);
            if (f->second.info.counts_in_total == now)
                (now ? m_settings.total_off : m_settings.total_on).insert(name);
            f->second.counts = counts(f->second.info);
            m_dirty = true;
            save_later();
        },
        s.counts);
    MenuItem sep;
    sep.separator = true;
    items.push_back(sep);
    add(L10n::tr("menu.hide"), [this, name] {
        m_settings.hidden.insert(name);
        m_dirty = true;
        save_later();
    });
    add(L10n::tr("menu.copy_name"), [this, name] { copy(name); });
    if (!s.info.ipv4.empty()) {
        const std::string ip = s.info.ipv4.front().substr(0, s.info.ipv4.front().find('/'));
        add(L10n::tr("menu.copy_ip"), [this, ip] { copy(ip); });
    }
    open_menu(x, y, std::move(items));
}
