// Window frame: the header (menu bar, toolbar with word mark, page tabs, rate readout and
// the two buttons), the status bar, and the segmented control the tabs and other pages use.

#include "app.h"

#include "format.h"
#include "l10n.h"
#include "version.h"

#include <algorithm>

namespace {

constexpr const char* kMenuTitles[4] = {"mb.file", "mb.view", "mb.tools", "mb.help"};
constexpr const char* kTabTitles[5] = {"tab.overview", "tab.connections", "tab.processes",
                                       "tab.destinations", "tab.statistics"};

// The menu bar and the status bar share one band colour, darker than the panels.
Rgba band_colour(bool dark) { return hex(dark ? "#0D0D0E" : "#E9E8E4"); }

void hline(cairo_t* cr, double y, double w, const Rgba& c) {
    cairo_rectangle(cr, 0, y, w, 1);
    gfx::set(cr, c);
    cairo_fill(cr);
}

gfx::TextStyle style(double size, bool bold, gfx::Align align = gfx::Align::Left,
                     double max_w = 0) {
    return gfx::ui_style(size, bold, align, max_w);
}

// The number after `prefix` in a hover id, -1 when the id has another prefix.
int hovered_index(const std::string& hover, const std::string& prefix) {
    if (hover.compare(0, prefix.size(), prefix) != 0) return -1;
    return atoi(hover.c_str() + prefix.size());
}

} // namespace

std::string span_label(int seconds) {
    if (seconds == 604800) return L10n::tr("span.week");
    if (seconds == 2592000) return L10n::tr("span.month");
    if (seconds == 31536000) return L10n::tr("span.year");
    if (seconds < 3600) return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds / 3600) + " h";
}

// ---- header ---------------------------------------------------------------------------

void App::paint_header(cairo_t* cr, double w) {
    const Palette& p = m_pal;

    // Menu bar.
    cairo_rectangle(cr, 0, 0, w, 30);
    gfx::set(cr, band_colour(m_dark));
    cairo_fill(cr);
    gfx::app_logo(cr, 18, 15, 9, p);
    m_menubar_hits.clear();
    double x = 36;
    for (int i = 0; i < 4; ++i) {
        const std::string label = L10n::tr(kMenuTitles[i]);
        const double slot = gfx::text_width(cr, label, 13, false) + 20;
        const std::string id = "mb:" + std::to_string(i);
        const bool open = m_menubar_open == i;
        if (open || m_hover == id) {
            gfx::rounded(cr, x, 3, slot, 24, 5);
            gfx::set(cr, open ? p.chip_on : p.hover);
            cairo_fill(cr);
        }
        gfx::text(cr, label, x + 10, 15, open ? p.chip_on_text : p.text, style(13, false));
        Hit h{x, 0, slot, 30, id, i, ""};
        m_hits.push_back(h);
        m_menubar_hits.push_back(h);
        x += slot;
    }
    hline(cr, 29, w, p.panel_edge);

    // Toolbar.
    cairo_pattern_t* grad = cairo_pattern_create_linear(0, 30, 0, 88);
    cairo_pattern_add_color_stop_rgba(grad, 0, p.panel_top.r, p.panel_top.g, p.panel_top.b,
                                      p.panel_top.a);
    cairo_pattern_add_color_stop_rgba(grad, 1, p.bg_top.r, p.bg_top.g, p.bg_top.b, p.bg_top.a);
    cairo_rectangle(cr, 0, 30, w, 58);
    cairo_set_source(cr, grad);
    cairo_fill(cr);
    cairo_pattern_destroy(grad);

    const double settings_x = w - 54, mini_x = w - 100;
    gfx::device_button(cr, settings_x, 40, 38, 0, m_hover == "head:settings", p);
    gfx::device_button(cr, mini_x, 40, 38, 1, m_hover == "head:mini", p);
    m_hits.push_back(Hit{settings_x, 40, 38, 38, "head:settings", 0, L10n::tr("tip.settings")});
    m_hits.push_back(Hit{mini_x, 40, 38, 38, "head:mini", 0, L10n::tr("tip.mini")});
    const double space_end = mini_x - 12;

    // Word mark and tabs: the mark goes first when space is short, then the tabs shrink.
    std::vector<std::string> tabs;
    for (const char* key : kTabTitles) tabs.push_back(L10n::tr(key));
    const double mark_w = gfx::text_width(cr, "Velmora", 19, true) + 24;
    double size = 13;
    double tabs_x = 18;
    if (18 + mark_w + gfx::segmented_width(cr, tabs, size) <= space_end) {
        tabs_x = gfx::rainbow_text(cr, "Velmora", 18, 59, 19, m_dark) + 42;
    } else {
        while (size > 9.5 && 18 + gfx::segmented_width(cr, tabs, size) > space_end) size -= 0.5;
    }
    const double tabs_w =
        gfx::segmented_bar(cr, tabs_x, 42, 34, tabs, std::clamp(m_settings.tab, 0, 4),
                           hovered_index(m_hover, "tab:"), p, size, m_hits, "tab:");

    // Rate readout, only with room to spare beside the tabs.
    const double half = gfx::rate_width(cr, 15, true, m_settings.bits) + 30;
    const double dw = 2 * half + 10;
    const double dx = mini_x - 14 - dw;
    if (dx > tabs_x + tabs_w + 16) {
        gfx::display(cr, dx, 40, dw, 38, p, false);
        gfx::arrow(cr, dx + 16, 59, 13, false, p.down);
        gfx::text(cr, fmt::rate(m_total_rx_now, m_settings.bits), dx + 28, 59, p.down,
                  style(15, true));
        gfx::arrow(cr, dx + half + 14, 59, 13, true, p.up);
        gfx::text(cr, fmt::rate(m_total_tx_now, m_settings.bits), dx + half + 26, 59, p.up,
                  style(15, true));
    }
    hline(cr, 87, w, p.panel_edge);
}

// ---- status bar -----------------------------------------------------------------------

void App::paint_statusbar(cairo_t* cr, double w, double y) {
    const Palette& p = m_pal;
    cairo_rectangle(cr, 0, y, w, 26);
    gfx::set(cr, band_colour(m_dark));
    cairo_fill(cr);
    hline(cr, y, w, p.panel_edge);
    const double cy = y + 13.5;

    gfx::TextStyle st = style(11.5, false);
    st.max_w = 0.45 * w;
    if (!m_notice.empty() && m_notice_until && SDL_TICKS_PASSED(SDL_GetTicks(), m_notice_until))
        m_notice.clear();
    if (m_notice.empty()) gfx::text(cr, status_counts(), 14, cy, p.dim, st);
    else gfx::text(cr, m_notice, 14, cy, m_notice_warn ? p.warn : p.text, st);

    double rx = w;
    auto segment = [&](const std::string& text, const Rgba& c) {
        const double tw = gfx::text(cr, text, rx - 14, cy, c, style(11.5, false, gfx::Align::Right));
        rx -= tw + 28;
        cairo_rectangle(cr, rx, y + 6, 1, 14);
        gfx::set(cr, p.panel_edge);
        cairo_fill(cr);
    };
    segment(std::string(version::kVersion) + " (" + version::kBuild + ")", p.faint);
    segment(L10n::tr("sb.interval") + " " + interval_label(m_interval.load()), p.dim);
    const usage::Sum today = m_usage.day(usage::Store::kTotal, usage::Store::today());
    segment(L10n::tr("sb.today") + " " + fmt::bytes(today.rx + today.tx), p.dim);

    const gfx::TextStyle bold = style(11.5, true, gfx::Align::Right);
    const double tx_w = gfx::text(cr, fmt::rate(m_total_tx_now, m_settings.bits), rx - 14, cy,
                                  p.up, bold);
    const double tx_left = rx - 14 - tx_w;
    gfx::arrow(cr, tx_left - 8, cy, 9, true, p.up);
    const double rx_w = gfx::text(cr, fmt::rate(m_total_rx_now, m_settings.bits), tx_left - 22,
                                  cy, p.down, bold);
    gfx::arrow(cr, tx_left - 22 - rx_w - 8, cy, 9, false, p.down);
}

std::string App::status_counts() const {
    int conns = 0;
    for (const auto& c : m_ps.conns)
        if (!c.listening && !c.loopback) ++conns;
    int devices = 0, connected = 0;
    for (const auto& [name, s] : m_if) {
        if (s.info.kind == net::Kind::Loopback) continue;
        ++devices;
        if (s.info.carrier) ++connected;
    }
    std::string left = L10n::tr("sb.conns", conns) + "  ·  " +
                       L10n::tr("sb.connected", connected) + "  ·  " +
                       L10n::tr("sb.devices", devices);
    // Before the first snapshot nothing is known yet, which is not a failure to report.
    if (m_ps.t > 0 && !m_ps.diag_ok) left += "  ·  " + L10n::tr("hint.nodiag");
    return left;
}

std::string interval_label(int ms) { return fmt::number(ms / 1000.0, ms % 1000 ? 1 : 0) + " s"; }

// ---- segmented control ----------------------------------------------------------------

double gfx::segmented_width(cairo_t* cr, const std::vector<std::string>& labels, double size) {
    double w = 8;
    for (const auto& l : labels) w += gfx::text_width(cr, l, size, true) + 26;
    return w;
}

double gfx::segmented_bar(cairo_t* cr, double x, double y, double h,
                          const std::vector<std::string>& labels, int selected, int hovered,
                          const Palette& p, double size, std::vector<Hit>& hits,
                          const std::string& prefix) {
    const double w = segmented_width(cr, labels, size);
    gfx::rounded(cr, x, y, w, h, 9);
    gfx::set(cr, p.slot);
    cairo_fill_preserve(cr);
    gfx::set(cr, p.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    double sx = x + 4;
    for (size_t i = 0; i < labels.size(); ++i) {
        const int n = static_cast<int>(i);
        const double sw = gfx::text_width(cr, labels[i], size, true) + 26;
        if (n == selected || n == hovered) {
            gfx::rounded(cr, sx, y + 3.5, sw, h - 7, 6);
            if (n == selected) {
                cairo_pattern_t* g = cairo_pattern_create_linear(0, y + 3.5, 0, y + h - 3.5);
                const Rgba& c = p.chip_on;
                cairo_pattern_add_color_stop_rgba(g, 0, c.r, c.g, c.b, c.a);
                cairo_pattern_add_color_stop_rgba(g, 1, c.r * 0.8, c.g * 0.8, c.b * 0.8, c.a);
                cairo_set_source(cr, g);
                cairo_fill(cr);
                cairo_pattern_destroy(g);
            } else {
                gfx::set(cr, p.hover);
                cairo_fill(cr);
            }
        }
        gfx::TextStyle st = style(size, true, gfx::Align::Center);
        gfx::text(cr, labels[i], sx + sw / 2, y + h / 2, n == selected ? p.chip_on_text : p.text,
                  st);
        hits.push_back(Hit{sx, y, sw, h, prefix + std::to_string(i), n, ""});
        sx += sw;
    }
    return w;
}
