// The statistics page: device chips, six summary tiles, the 30-day and 12-month bar charts
// and the note on how the figures are collected. Everything is read from the daily usage
// store on each paint; the store answers from memory.
//
// Sections: day arithmetic · figures · chip row · tiles · bar charts · page.

#include "app.h"
#include "format.h"
#include "gpu.h"
#include "l10n.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// ---- day arithmetic -------------------------------------------------------------------

namespace {

// Day numbers are YYYYMMDD, so a month is a range from its day 1 to its day 31 whatever
// its length: days that do not exist are simply never stored.
int month_first(int day) {
    return day / 100 * 100 + 1;
}
int month_last(int day) {
    return day / 100 * 100 + 31;
}

// The first day of the month `back` months before the month of `day`.
int months_back(int day, int back) {
    int index = (day / 10000) * 12 + (day / 100 % 100 - 1) - back;
    return (index / 12) * 10000 + (index % 12 + 1) * 100 + 1;
}

// Whether a rectangle meets the area still being drawn (the page is clipped to the window
// and scrolled, so most of it is usually out of sight).
bool in_clip(cairo_t* cr, double x, double y, double w, double h) {
    double x1, y1, x2, y2;
    cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
    return x < x2 && x + w > x1 && y < y2 && y + h > y1;
}

constexpr double kTileH = 132, kTilePitch = 148, kChartH = 300, kPlotTop = 50, kPlotH = 228,
                 kBase = 198, kBarMax = 184;

} // namespace

// ---- figures --------------------------------------------------------------------------

std::vector<StatFigure> stats_tiles(const usage::Store& st, const std::string& s, int d) {
    const int first = st.first_day(s);
    const int prev = months_back(d, 1);
    return {
        {L10n::tr("stats.today"), st.day(s, d)},
        {L10n::tr("stats.yesterday"), st.day(s, usage::Store::add_days(d, -1))},
        {L10n::tr("stats.7days"), st.range(s, usage::Store::add_days(d, -6), d)},
        {L10n::tr("stats.month"), st.range(s, month_first(d), month_last(d))},
        {L10n::tr("stats.lastmonth"), st.range(s, prev, month_last(prev))},
        {first ? L10n::tr("stats.since", fmt::date(first).c_str()) : L10n::tr("stats.alltime"),
         st.all(s)},
    };
}

std::vector<StatFigure> stats_bars(const usage::Store& st, const std::string& s, int d,
                                   bool months) {
    std::vector<StatFigure> out;
    char label[16];
    if (!months) {
        for (int i = 0; i < 30; ++i) {
            const int day = usage::Store::add_days(d, i - 29);
            snprintf(label, sizeof label, "%02d-%02d", day / 100 % 100, day % 100);
            out.push_back({label, st.day(s, day)});
        }
    } else {
        for (int i = 0; i < 12; ++i) {
            const int m = months_back(d, 11 - i);
            snprintf(label, sizeof label, "%04d-%02d", m / 10000, m / 100 % 100);
            out.push_back({label, st.range(s, m, month_last(m))});
        }
    }
    return out;
}

// ---- chip row -------------------------------------------------------------------------

namespace {

void chevron(cairo_t* cr, double cx, double cy, bool left, const Rgba& c) {
    const double s = left ? 1 : -1;
    cairo_move_to(cr, cx + 2.5 * s, cy - 5);
    cairo_line_to(cr, cx - 2.5 * s, cy);
    cairo_line_to(cr, cx + 2.5 * s, cy + 5);
    cairo_set_line_width(cr, 1.8);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    gfx::set(cr, c);
    cairo_stroke(cr);
}

} // namespace

void App::paint_stat_chips(cairo_t* cr, double w, const std::vector<std::string>& names) {
    const double cy = 34, row_y = cy - 16;
    std::vector<std::string> labels;
    std::vector<double> widths;
    double total = 0;
    for (const auto& n : names) {
        labels.push_back(n == "*" ? L10n::tr("stats.all") : n);
        widths.push_back(gfx::text_width(cr, labels.back(), 11.5, true) + 26);
        total += widths.back() + (widths.size() > 1 ? 8 : 0);
    }
    const bool overflow = total > w - 36;
    const double sx = overflow ? 48 : 18, sw = overflow ? w - 96 : w - 36;
    m_st_chip_max = std::max(0.0, total - sw);
    if (m_st_chip_follow) {
        m_st_chip_follow = false;
        double at = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == m_settings.stats_iface) {
                if (at < m_st_chip_scroll)
                    m_st_chip_scroll = at;
                else if (at + widths[i] > m_st_chip_scroll + sw)
                    m_st_chip_scroll = at + widths[i] - sw;
                break;
            }
            at += widths[i] + 8;
        }
    }
    m_st_chip_scroll = std::clamp(m_st_chip_scroll, 0.0, m_st_chip_max);
    m_hits.push_back(Hit{18, row_y, w - 36, 32, "st:chiprow", 0, ""});

    cairo_save(cr);
    cairo_rectangle(cr, sx, row_y, sw, 32);
    cairo_clip(cr);
    double x = sx - m_st_chip_scroll;
    for (size_t i = 0; i < names.size(); x += widths[i] + 8, ++i) {
        if (x + widths[i] <= sx || x >= sx + sw) continue;
        const std::string id = "st:if:" + names[i];
        const bool on = names[i] == m_settings.stats_iface;
        gfx::rounded(cr, x, cy - 14, widths[i], 28, 8);
        gfx::set(cr, on ? m_pal.chip_on : m_hover == id ? m_pal.button_hot : m_pal.slot);
        cairo_fill_preserve(cr);
        gfx::set(cr, on ? m_pal.chip_on : m_pal.panel_edge);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        gfx::TextStyle st;
        st.size = 11.5;
        st.bold = true;
        st.align = gfx::Align::Center;
        st.middle = true;
        gfx::text(cr, labels[i], x + widths[i] / 2, cy, on ? m_pal.chip_on_text : m_pal.text, st);
        const double vx = std::max(x, sx), vr = std::min(x + widths[i], sx + sw);
        m_hits.push_back(Hit{vx, row_y, vr - vx, 32, id, 0, ""});
    }
    cairo_restore(cr);

    if (!overflow) return;
    for (int dir : {-1, 1}) {
        const double ax = dir < 0 ? 31 : w - 31;
        const bool enabled =
            dir < 0 ? m_st_chip_scroll > 0.5 : m_st_chip_scroll < m_st_chip_max - 0.5;
        gfx::rounded(cr, ax - 13, cy - 14, 26, 28, 7);
        gfx::set(cr, enabled ? m_pal.button_hot : m_pal.slot);
        cairo_fill_preserve(cr);
        gfx::set(cr, m_pal.panel_edge);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        chevron(cr, ax, cy, dir < 0, enabled ? m_pal.text : m_pal.faint);
        m_hits.push_back(
            Hit{ax - 13, cy - 14, 26, 28, dir < 0 ? "st:scroll:left" : "st:scroll:right", dir, ""});
    }
}

// ---- tiles ----------------------------------------------------------------------------

int stats_tiles_per_row(double w) {
    return w > 1200 ? 6 : w > 720 ? 3 : 2;
}

double App::paint_stat_tiles(cairo_t* cr, double w, double y,
                             const std::vector<StatFigure>& tiles) {
    const int n = stats_tiles_per_row(w);
    const double gaps = n == 6 ? 80 : n == 3 ? 32 : 16;
    const double tw = (w - 36 - gaps) / n;
    gfx::TextStyle label;
    label.size = 11.5;
    label.middle = true;
    label.max_w = tw - 48;
    gfx::TextStyle big;
    big.size = 20;
    big.bold = true;
    big.tnum = true;
    big.middle = true;
    gfx::TextStyle small;
    small.size = 11.5;
    small.tnum = true;
    small.middle = true;
    for (size_t i = 0; i < tiles.size(); ++i) {
        const double x = 18 + static_cast<double>(i % n) * (tw + 16);
        const double ty = y + static_cast<double>(i / n) * kTilePitch;
        if (!in_clip(cr, x, ty, tw, kTileH)) continue;
        gfx::rack(cr, x, ty, tw, kTileH, m_pal, i == 0 ? m_pal.ok : m_pal.down, i == 0,
                  static_cast<int>(i) + 1, false);
        gfx::text(cr, tiles[i].label, x + 24, ty + 26, m_pal.dim, label);
        gfx::display(cr, x + 18, ty + 42, tw - 36, 72, m_pal, false);
        const usage::Sum& s = tiles[i].sum;
        gfx::text(cr, fmt::bytes(s.rx + s.tx), x + 30, ty + 62, m_pal.text_strong, big);
        gfx::arrow(cr, x + 35, ty + 94, 9, false, m_pal.down);
        const double rw = gfx::text(cr, fmt::bytes(s.rx), x + 44, ty + 94, m_pal.down, small);
        gfx::arrow(cr, x + 44 + rw + 16, ty + 94, 9, true, m_pal.up);
        gfx::text(cr, fmt::bytes(s.tx), x + 44 + rw + 16 + 9, ty + 94, m_pal.up, small);
    }
    const size_t rows = (tiles.size() + static_cast<size_t>(n) - 1) / static_cast<size_t>(n);
    return y + static_cast<double>(rows) * kTilePitch + 8;
}

// ---- bar charts -----------------------------------------------------------------------

double App::paint_stat_chart(cairo_t* cr, double w, double y, int chart, const std::string& title,
                             const std::vector<StatFigure>& bars, int first_index) {
    const double x = 18, cw = w - 36;
    const bool shown = in_clip(cr, x, y, cw, kChartH);
    if (shown) gfx::rack(cr, x, y, cw, kChartH, m_pal, m_pal.down, false, chart, false);
    // Out of sight only the bars' hit regions are needed (the hover read-out uses them).
    if (!shown) {
        const double slot = (cw - 44 - 90) / static_cast<double>(bars.size());
        for (size_t i = 0; i < bars.size(); ++i)
            m_hits.push_back(Hit{x + 22 + 12 + static_cast<double>(i) * slot, y + kPlotTop + 14,
                                 slot, kBarMax,
                                 "st:bar:" + std::to_string(chart) + ":" + std::to_string(i),
                                 static_cast<int>(i), ""});
        return y + kChartH + 16;
    }
    gfx::TextStyle st;
    st.size = 14;
    st.bold = true;
    st.middle = true;
    gfx::text(cr, title, x + 26, y + 30, m_pal.text_strong, st);

    gfx::TextStyle legend;
    legend.size = 11;
    legend.middle = true;
    legend.align = gfx::Align::Right;
    double lx = x + cw - 26;
    for (int up : {1, 0}) {
        const std::string t = L10n::tr(up ? "dir.upload" : "dir.download");
        const double tw = gfx::text(cr, t, lx, y + 30, m_pal.dim, legend);
        gfx::rounded(cr, lx - tw - 16, y + 25, 10, 10, 2);
        gfx::set(cr, up ? m_pal.up : m_pal.down);
        cairo_fill(cr);
        lx -= tw + 16 + 18;
    }

    const double wx = x + 22, wy = y + kPlotTop, ww = cw - 44;
    gfx::display(cr, wx, wy, ww, kPlotH, m_pal, false);
    const double base = wy + kBase;
    double top = 0;
    for (const auto& b : bars) top = std::max(top, static_cast<double>(b.sum.rx + b.sum.tx));
    const double T = gfx::nice_max(std::max(1e6, 1.05 * top));

    gfx::TextStyle axis;
    axis.size = 10;
    axis.middle = true;
    axis.align = gfx::Align::Right;
    axis.tnum = true;
    const double dash[] = {2, 4};
    for (int i = 1; i <= 4; ++i) {
        const double gy = std::round(base - kBarMax * i / 4) + 0.5;
        cairo_save(cr);
        cairo_set_dash(cr, dash, 2, 0);
        cairo_set_line_width(cr, 1);
        gfx::set(cr, m_pal.grid);
        cairo_move_to(cr, wx + 8, gy);
        cairo_line_to(cr, wx + ww - 8, gy);
        cairo_stroke(cr);
        cairo_restore(cr);
        gfx::text(cr, fmt::bytes(static_cast<uint64_t>(T * i / 4)), wx + ww - 10, gy - 8,
                  m_pal.faint, axis);
    }

    const int n = static_cast<int>(bars.size());
    const double slot = (ww - 90) / n, bw = std::max(4.0, 0.58 * slot);
    gfx::TextStyle lab;
    lab.size = 10;
    lab.middle = true;
    lab.align = gfx::Align::Center;
    lab.tnum = true;
    int hovered = -1;
    for (int i = 0; i < n; ++i) {
        const double sx = wx + 12 + i * slot;
        const std::string id = "st:bar:" + std::to_string(chart) + ":" + std::to_string(i);
        const bool hot = m_hover == id;
        if (hot) hovered = i;
        const usage::Sum& s = bars[static_cast<size_t>(i)].sum;
        gpu::Bar b;
        b.x = sx + (slot - bw) / 2;
        b.y_bottom = base;
        b.w = bw;
        b.lo = static_cast<double>(s.rx) * kBarMax / T;
        b.hi = static_cast<double>(s.tx) * kBarMax / T;
        b.lo_c = m_pal.down;
        b.hi_c = m_pal.up;
        b.index = first_index + i;
        b.hover = hot;
        gpu::bar(cr, b);
        m_hits.push_back(Hit{sx, wy + 14, slot, kBarMax, id, i, ""});
        if (n < 21 || i % 5 == 0 || i == n - 1)
            gfx::text(cr, bars[static_cast<size_t>(i)].label, sx + slot / 2, base + 16, m_pal.faint,
                      lab);
    }

    if (hovered >= 0) {
        const auto& b = bars[static_cast<size_t>(hovered)];
        const std::string line1 = b.label + "   " + fmt::bytes(b.sum.rx + b.sum.tx);
        const std::string rx = fmt::bytes(b.sum.rx), tx = fmt::bytes(b.sum.tx);
        const double w1 = gfx::text_width(cr, line1, 12, true);
        const double w2 =
            gfx::text_width(cr, rx, 11, false) + gfx::text_width(cr, tx, 11, false) + 50;
        const double bw_box = 24 + std::max(w1, w2);
        const double centre = wx + 12 + (hovered + 0.5) * slot;
        double bx = centre + 10;
        if (bx + bw_box > x + cw) bx = centre - 10 - bw_box;
        const double by = wy + 14;
        gfx::rounded(cr, bx, by, bw_box, 50, 8);
        Rgba fill = m_pal.surface2;
        fill.a *= 0.97;
        gfx::set(cr, fill);
        cairo_fill_preserve(cr);
        gfx::set(cr, m_pal.border);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        gfx::TextStyle t1;
        t1.size = 12;
        t1.bold = true;
        t1.tnum = true;
        t1.middle = true;
        gfx::text(cr, line1, bx + 12, by + 16, m_pal.text, t1);
        gfx::TextStyle t2;
        t2.size = 11;
        t2.tnum = true;
        t2.middle = true;
        gfx::arrow(cr, bx + 18, by + 35, 8, false, m_pal.down);
        const double used = gfx::text(cr, rx, bx + 28, by + 35, m_pal.down, t2);
        gfx::arrow(cr, bx + 28 + used + 18, by + 35, 8, true, m_pal.up);
        gfx::text(cr, tx, bx + 28 + used + 28, by + 35, m_pal.up, t2);
    }
    return y + kChartH + 16;
}

// ---- page -----------------------------------------------------------------------------

double App::paint_stats(cairo_t* cr, double w) {
    std::vector<std::string> names = {"*"};
    for (auto& n : m_usage.interfaces()) names.push_back(std::move(n));
    if (std::find(names.begin(), names.end(), m_settings.stats_iface) == names.end()) {
        // The device was removed or its days expired: show everything instead.
        m_settings.stats_iface = "*";
        m_st_chip_follow = true;
        save_later();
    }
    const std::string& s = m_settings.stats_iface;
    const int d = usage::Store::today();

    paint_stat_chips(cr, w, names);
    double y = paint_stat_tiles(cr, w, 66, stats_tiles(m_usage, s, d));
    // The data plan and the export button, where a user on a metered link looks first.
    y += paint_plan(cr, 18, y, w - 36) + 8;
    y = paint_stat_chart(cr, w, y, 11, L10n::tr("stats.days30"), stats_bars(m_usage, s, d, false),
                         0);
    y = paint_stat_chart(cr, w, y, 12, L10n::tr("stats.months12"), stats_bars(m_usage, s, d, true),
                         30);

    gfx::TextStyle note;
    note.size = 11;
    const double note_y = y + 6 - 16; // 6 below the last chart, whose advance added 16
    const double h = gfx::wrapped(cr, L10n::tr("stats.note"), 24, note_y, w - 36, &m_pal.dim, note);
    // A note wrapped to many lines (narrow window, long translation) still scrolls into view.
    return note_y + std::max(48.0, h + 16);
}
