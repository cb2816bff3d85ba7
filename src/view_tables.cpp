// The three table pages (connections, programs, destinations): one model, one width layout,
// one stable sort, one filter test and the user's column states.
//
// Sections: helpers · filter · layout · sorting · column states · page (field, chips, rows,
// footer, country panel), header, menus and clicks.

#include "app.h"
#include "format.h"
#include "geoip.h"
#include "l10n.h"
#include "paths.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

unsigned char fold(char c) {
    return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

// Byte-wise lower case; multi-byte UTF-8 sequences pass unchanged.
std::string lower(const std::string& s) {
    std::string out(s.size(), '\0');
    std::transform(s.begin(), s.end(), out.begin(), [](char c) { return char(fold(c)); });
    return out;
}

// Case-insensitive substring test without a lowered copy of the haystack; `needle` is
// already lower case. Runs for every cell of every row at each refill.
bool contains_folded(const std::string& hay, const std::string& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char h, char n) {
               return fold(h) == static_cast<unsigned char>(n);
           }) != hay.end();
}

std::string* column_setting(Settings& s, int page) {
    switch (page) {
    case 1:
        return &s.cols_conn;
    case 2:
        return &s.cols_proc;
    case 3:
        return &s.cols_dest;
    default:
        return nullptr;
    }
}

} // namespace

// ---- filter ---------------------------------------------------------------------------

bool matches(const Row& row, const std::string& filter) {
    if (filter.empty()) return true;
    const std::string f = lower(filter);
    if (f.rfind("pid:", 0) == 0) return row.id.find("|" + f.substr(4) + "|") != std::string::npos;
    for (const auto& cell : row.cells)
        if (contains_folded(cell, f)) return true;
    return contains_folded(row.tooltip, f);
}

// ---- layout ---------------------------------------------------------------------------

void App::layout_table(Table& t, double width, int page) {
    const size_t n = t.cols.size();
    const auto& states = m_colstate[static_cast<size_t>(std::clamp(page, 0, 3))];
    std::vector<bool> shown(n, true);
    std::vector<double> fixed(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const auto it = states.find(t.cols[i].key);
        if (it == states.end()) continue;
        if (it->second.hidden && i > 0) shown[i] = false;
        if (it->second.w > 0) fixed[i] = it->second.w;
    }
    const double avail = width - 44;
    auto need = [&] {
        double sum = 0;
        for (size_t i = 0; i < n; ++i)
            if (shown[i]) sum += fixed[i] > 0 ? fixed[i] : t.cols[i].min_w;
        return sum;
    };
    // The first column carries the row's identity, so even a narrow window keeps it.
    for (int p = 5; p >= 1 && need() > avail; --p)
        for (size_t i = n; i-- > 1;)
            if (shown[i] && t.cols[i].prio == p && fixed[i] <= 0 && need() > avail)
                shown[i] = false;

    double weights = 0;
    for (size_t i = 0; i < n; ++i)
        if (shown[i] && fixed[i] <= 0) weights += t.cols[i].weight;
    const double spare = std::max(0.0, avail - need());
    t.widths.assign(n, 0);
    size_t last = n;
    for (size_t i = 0; i < n; ++i) {
        if (!shown[i]) continue;
        last = i;
        if (fixed[i] > 0) {
            t.widths[i] = fixed[i];
        } else {
            t.widths[i] = t.cols[i].min_w;
            if (weights > 0) t.widths[i] += t.cols[i].weight * spare / weights;
        }
    }
    if (weights <= 0 && last < n) t.widths[last] += spare;
}

// ---- sorting --------------------------------------------------------------------------

// Sorts a permutation with precomputed keys, then moves the rows once: a text column is
// lowered once per row instead of once per comparison.
void App::sort_table(Table& t) {
    const size_t n = t.rows.size();
    if (n < 2) return;
    auto first_cell = [&](size_t r) -> const std::string& {
        static const std::string none;
        return t.rows[r].cells.empty() ? none : t.rows[r].cells[0];
    };
    auto key_of = [&](size_t r, size_t c) {
        const auto& keys = t.rows[r].keys;
        return c < keys.size() ? keys[c] : std::numeric_limits<double>::quiet_NaN();
    };
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    const bool desc = t.desc;

    size_t col = t.cols.size();
    for (size_t c = 0; c < t.cols.size(); ++c)
        if (t.cols[c].key == t.sort_key) col = c;

    if (col < t.cols.size()) {
        // A column with a NaN key anywhere sorts wholly by text. Deciding per pair instead
        // would let a stray NaN in a numeric column make the order circular, which the
        // sort algorithm does not survive.
        bool text = false;
        for (size_t r = 0; r < n && !text; ++r) text = std::isnan(key_of(r, col));
        if (text) {
            std::vector<std::string> low(n);
            for (size_t r = 0; r < n; ++r)
                if (col < t.rows[r].cells.size()) low[r] = lower(t.rows[r].cells[col]);
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                const int cmp = low[a].compare(low[b]);
                if (cmp == 0) return t.rows[a].id < t.rows[b].id;
                return desc ? cmp > 0 : cmp < 0;
            });
        } else {
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                const double ka = key_of(a, col), kb = key_of(b, col);
                if (ka == kb) return first_cell(a) < first_cell(b);
                return desc ? ka > kb : ka < kb;
            });
        }
    } else {
        size_t rx = t.cols.size(), tx = t.cols.size();
        for (size_t c = 0; c < t.cols.size(); ++c) {
            if (t.cols[c].key == "rx") rx = c;
            if (t.cols[c].key == "tx") tx = c;
        }
        if (rx == t.cols.size() || tx == t.cols.size()) return;
        std::vector<double> sum(n);
        for (size_t r = 0; r < n; ++r) {
            sum[r] = key_of(r, rx) + key_of(r, tx);
            if (std::isnan(sum[r])) sum[r] = -std::numeric_limits<double>::infinity();
        }
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            if (sum[a] == sum[b]) return first_cell(a) < first_cell(b);
            return desc ? sum[a] > sum[b] : sum[a] < sum[b];
        });
    }

    std::vector<Row> sorted;
    sorted.reserve(n);
    for (size_t r : order) sorted.push_back(std::move(t.rows[r]));
    t.rows = std::move(sorted);
}

// ---- column states --------------------------------------------------------------------

// Entries are "key=width/hidden;". The text comes from a file the user may have edited, so
// anything unusable is skipped or read as an automatic width.
void App::load_columns() {
    for (int page = 1; page <= 3; ++page) {
        auto& states = m_colstate[static_cast<size_t>(page)];
        states.clear();
        const std::string& text = *column_setting(m_settings, page);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(';', start);
            if (end == std::string::npos) end = text.size();
            const std::string piece = text.substr(start, end - start);
            start = end + 1;
            const size_t eq = piece.find('=');
            if (eq == std::string::npos || eq == 0) continue;
            const size_t slash = piece.find('/', eq + 1);
            if (slash == std::string::npos) continue;
            const std::string num = piece.substr(eq + 1, slash - eq - 1);
            double w = std::strtod(num.c_str(), nullptr);
            if (!(w >= 0 && w <= 4000)) w = 0; // also NaN
            states[piece.substr(0, eq)] = ColState{w, piece.substr(slash + 1) == "1"};
        }
    }
}

void App::store_columns(int page) {
    std::string* setting = column_setting(m_settings, page);
    if (!setting) return;
    std::string text;
    char buf[64];
    for (const auto& [key, st] : m_colstate[static_cast<size_t>(page)]) {
        if (!(st.w > 0) && !st.hidden) continue;
        const double w = st.w > 0 ? std::min(st.w, 4000.0) : 0.0;
        std::snprintf(buf, sizeof buf, "=%.0f/%d;", w, st.hidden ? 1 : 0);
        text += key;
        text += buf;
    }
    *setting = text;
    save_later();
}

// ---- page -----------------------------------------------------------------------------

void App::paint_table_page(cairo_t* cr, double w, double h, int page) {
    Table& t = table_of(page);
    paint_table_field(cr, w, page);
    const double fw = std::min(0.32 * w, 360.0);
    paint_table_chips(cr, 18 + fw + 14, page);
    if (page == 3) paint_country_panel(cr, w);
    layout_table(t, w, page);
    paint_table_header(cr, t, w, page);
    paint_table_rows(cr, t, w, h, page);
    paint_table_footer(cr, t, w, h, page);
    // An empty table inside a Snap most likely lacks a permission: say which, and how.
    if (t.rows.empty() && !snap_all_connected()) {
        const double pw = std::min(w - 32, 760.0);
        paint_snap_panel(cr, (w - pw) / 2, table_top(page) + 50, pw, m_hits, m_hover, false);
    }
}

// The filter field: a magnifier, the text scrolled so that its end stays in view, the caret.
void App::paint_table_field(cairo_t* cr, double w, int page) {
    static const char* const kNames[] = {"", "conn", "proc", "dest"};
    const TextField* f = field_of(page);
    const double fw = std::min(0.32 * w, 360.0);
    gfx::rounded(cr, 18, 12, fw, 30, 8);
    gfx::set(cr, m_pal.slot);
    cairo_fill_preserve(cr);
    gfx::set(cr, f->focus ? m_pal.accent : m_pal.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 31, 26, 5, 0, 2 * M_PI);
    cairo_move_to(cr, 34.6, 29.6);
    cairo_line_to(cr, 38, 33);
    cairo_set_line_width(cr, 1.6);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    gfx::set(cr, m_pal.dim);
    cairo_stroke(cr);

    gfx::TextStyle st;
    st.size = 12.5;
    st.middle = true;
    cairo_save(cr);
    cairo_rectangle(cr, 40, 12, fw - 26, 30);
    cairo_clip(cr);
    if (f->text.empty() && !f->focus) {
        const std::string key = std::string("filter.") + kNames[page];
        st.max_w = fw - 36;
        gfx::text(cr, L10n::tr(key), 46, 27, m_pal.faint, st);
    } else {
        // Pasted text may carry anything; it is shown the same safe way as the table.
        const std::string shown = plain_text(f->text, 4096);
        const double tw = gfx::text_width(cr, shown, st.size, false);
        const double x = tw > fw - 36 ? 46 - (tw - (fw - 36)) : 46;
        gfx::text(cr, shown, x, 27, m_pal.text, st);
        if (f->focus && m_caret_on) {
            cairo_rectangle(cr, x + tw + 1, 19, 1.5, 16);
            gfx::set(cr, m_pal.accent);
            cairo_fill(cr);
        }
    }
    cairo_restore(cr);
    m_hits.push_back({18, 12, fw, 30, std::string("field:") + kNames[page], page, ""});
}

// The page's toggle and button chips from `x`; returns where the row ends.
double App::paint_table_chips(cairo_t* cr, double x, int page) {
    struct Chip {
        const char* key;
        const char* name;
        const bool* on; // null for a button
    };
    std::vector<Chip> chips;
    if (page == 1)
        chips = {{"chip.local", "local", &m_settings.show_local_conns},
                 {"chip.listening", "listen", &m_settings.show_listening},
                 {"chip.resolve", "resolve", &m_settings.resolve_names}};
    else if (page == 2)
        chips = {{"chip.group", "group", &m_settings.group_programs},
                 {"chip.listening", "listen", &m_settings.show_listening},
                 {"chip.reset_totals", "reset", nullptr}};
    else
        chips = {{"chip.resolve", "resolve", &m_settings.resolve_names}};
    const double y = 14, mid = y + 13;
    for (const auto& c : chips) {
        const std::string label = L10n::tr(c.key);
        const std::string id = std::string("tbl:chip:") + c.name;
        const double tw = gfx::text_width(cr, label, 11.5, true);
        const bool on = c.on && *c.on;
        const double cw = tw + (c.on ? 38 : 22);
        gfx::rounded(cr, x, y, cw, 26, 8);
        gfx::set(cr, on ? m_pal.chip_on : m_hover == id ? m_pal.button_hot : m_pal.slot);
        if (on) {
            cairo_fill(cr);
        } else {
            cairo_fill_preserve(cr);
            gfx::set(cr, m_pal.panel_edge);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
        }
        double tx = x + 11;
        if (c.on) {
            if (on) {
                cairo_move_to(cr, x + 11, mid);
                cairo_line_to(cr, x + 14.5, mid + 3.5);
                cairo_line_to(cr, x + 21, mid - 4);
                cairo_set_line_width(cr, 1.8);
                cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
                gfx::set(cr, m_pal.chip_on_text);
                cairo_stroke(cr);
            } else {
                cairo_new_sub_path(cr);
                cairo_arc(cr, x + 16, mid, 4.5, 0, 2 * M_PI);
                cairo_set_line_width(cr, 1.2);
                gfx::set(cr, m_pal.faint);
                cairo_stroke(cr);
            }
            tx = x + 27;
        }
        gfx::TextStyle st;
        st.size = 11.5;
        st.bold = true;
        st.middle = true;
        gfx::text(cr, label, tx, mid, on ? m_pal.chip_on_text : m_pal.text, st);
        m_hits.push_back({x, y, cw, 26, id, page, ""});
        x += cw + 8;
    }
    return x;
}

// The visible rows with stripes, highlights and rate meters, the empty-table text and the
// scroll bar. Only rows inside the body are laid out, however long the table.
void App::paint_table_rows(cairo_t* cr, const Table& t, double w, double h, int page) {
    const double top = table_top(page) + 34, bottom = h - 26, body = bottom - top;
    const double content = static_cast<double>(t.rows.size()) * 30 + 10;
    double& scroll = m_scroll[static_cast<size_t>(page)];
    scroll = std::clamp(scroll, 0.0, std::max(0.0, content - body));
    if (t.rows.empty()) {
        // Inside a Snap that lacks a permission, the page explains that instead.
        if (!snap_all_connected()) return;
        gfx::TextStyle st;
        st.size = 12;
        st.align = gfx::Align::Center;
        gfx::text(cr, L10n::tr("tbl.empty"), w / 2, top + 40, m_pal.faint, st);
        return;
    }
    const double peak = std::max(m_total_peak_rx, m_total_peak_tx);
    const double most = std::max(peak, capacity_bps());
    const double scale = most > 10000 ? most / 1000 : 10;
    auto level = [&](double rate) {
        if (rate < 1000) return 0.06;
        return std::min(1.0, 0.06 + 0.94 * std::log10(rate / 1000) / std::log10(scale));
    };
    const size_t first = static_cast<size_t>(scroll / 30);
    const size_t last = std::min(t.rows.size(), static_cast<size_t>((scroll + body) / 30) + 2);

    cairo_save(cr);
    cairo_rectangle(cr, 14, top, w - 28, body);
    cairo_clip(cr);
    const Rgba stripe = m_pal.dark ? Rgba{1, 1, 1, 0.018} : Rgba{0, 0, 0, 0.022};
    gfx::TextStyle st;
    st.size = 12;
    st.middle = true;
    st.tnum = true;
    for (size_t i = first; i < last; ++i) {
        const Row& r = t.rows[i];
        const double y = top + 5 + static_cast<double>(i) * 30 - scroll;
        const std::string id = "tbl:row:" + r.id;
        if (i % 2 == 1) {
            cairo_rectangle(cr, 14, y, w - 28, 30);
            gfx::set(cr, stripe);
            cairo_fill(cr);
        }
        const bool selected = !t.selected.empty() && r.id == t.selected;
        if (selected || m_hover == id) {
            gfx::rounded(cr, 16, y + 1, w - 32, 28, 6);
            gfx::set(cr, selected ? m_pal.select : m_pal.hover);
            cairo_fill(cr);
        }
        const double mid = y + 15;
        double x = 22;
        for (size_t c = 0; c < t.cols.size() && c < t.widths.size(); ++c) {
            const double cw = t.widths[c];
            if (cw <= 0) continue;
            const Column& col = t.cols[c];
            static const std::string none;
            const std::string& text = c < r.cells.size() ? r.cells[c] : none;
            const double key = c < r.keys.size() ? r.keys[c] : 0;
            const bool rx = col.key == "rx", tx = col.key == "tx";
            const bool meter = (rx || tx) && key > 0;
            if (meter) {
                const double lv = level(key);
                for (int s = 0; s < 8; ++s) {
                    gfx::rounded(cr, x + 8 + s * 5.5, mid - 4, 4, 8, 1);
                    gfx::set(cr,
                             lv >= (s + 0.5) / 8 ? (rx ? m_pal.down : m_pal.up) : m_pal.led_off);
                    cairo_fill(cr);
                }
            }
            if (c == 0 && r.accent == 1) gfx::dot(cr, x + 4, mid, 2.6, m_pal.ok);
            if (!text.empty()) {
                const Rgba& colour = r.dim                     ? m_pal.faint
                                     : meter                   ? (rx ? m_pal.down : m_pal.up)
                                     : c == 0 && r.accent == 2 ? m_pal.warn
                                                               : m_pal.text;
                if (col.right) {
                    st.align = gfx::Align::Right;
                    st.max_w = std::max(1.0, cw - (meter ? 58 : 16));
                    gfx::text(cr, text, x + cw - 10, mid, colour, st);
                } else {
                    st.align = gfx::Align::Left;
                    st.max_w = std::max(1.0, cw - 18);
                    gfx::text(cr, text, x + 14, mid, colour, st);
                }
            }
            x += cw;
        }
        m_hits.push_back({14, y, w - 28, 30, id, static_cast<int>(i), r.tooltip});
    }
    cairo_restore(cr);

    if (content > body) {
        double len = body * body / content;
        const double drawn = len <= 30 ? 26 : len - 4;
        len = std::max(len, 30.0);
        const double y = top + 2 + (scroll / (content - body)) * (body - len);
        gfx::rounded(cr, w - 22, y, 5, drawn, 2.5);
        Rgba c = m_pal.faint;
        c.a *= 0.55;
        gfx::set(cr, c);
        cairo_fill(cr);
    }
}

// The count of shown rows on the left, the first hint that applies on the right.
void App::paint_table_footer(cairo_t* cr, const Table& t, double w, double h, int page) {
    int count = static_cast<int>(t.rows.size());
    if (page == 2)
        count = static_cast<int>(std::count_if(t.rows.begin(), t.rows.end(),
                                               [](const Row& r) { return r.id != "other|"; }));
    const char* foot = page == 1 ? "foot.conns" : page == 2 ? "foot.procs" : "foot.dests";
    gfx::TextStyle st;
    st.size = 11.5;
    st.middle = true;
    gfx::text(cr, L10n::tr(foot, count), 30, h - 13, m_pal.dim, st);

    const bool snap = std::strcmp(paths::package_kind(), "snap") == 0;
    std::string hint;
    Rgba colour = m_pal.faint;
    if (!m_ps.diag_ok) {
        hint = L10n::tr("hint.nodiag");
        if (snap) hint += "  " + L10n::tr("mi.snap");
        colour = m_pal.warn;
    } else if (m_ps.unmapped >= 1 && page <= 2) {
        hint = L10n::tr("hint.unmapped", m_ps.unmapped);
        if (snap && !m_snap_plug[1]) hint += "  " + L10n::tr("mi.snap");
    } else if (page == 3) {
        hint = L10n::tr("hint.urls");
    } else if (page == 2) {
        hint = L10n::tr("hint.other");
    }
    if (hint.empty()) return;
    st.align = gfx::Align::Right;
    st.max_w = 0.62 * w;
    gfx::text(cr, hint, w - 30, h - 13, colour, st);
}

// Traffic by country above the destinations table: four countries per grid column, one
// grid column per 300 units of width.
void App::paint_country_panel(cairo_t* cr, double w) {
    gfx::card(cr, 8, 52, w - 16, 140, m_pal, false);
    gfx::TextStyle title;
    title.size = 13;
    title.bold = true;
    title.middle = true;
    gfx::text(cr, L10n::tr("dest.by_country"), 32, 76, m_pal.text_strong, title);
    gfx::TextStyle small;
    small.size = 11;
    small.middle = true;
    if (!geoip::available()) {
        small.align = gfx::Align::Right;
        gfx::text(cr, L10n::tr("dest.no_table"), w - 32, 76, m_pal.warn, small);
        small.align = gfx::Align::Left;
    }
    if (m_countries.empty()) {
        small.size = 12;
        small.align = gfx::Align::Center;
        gfx::text(cr, L10n::tr("tbl.empty"), w / 2, 132, m_pal.faint, small);
        return;
    }
    const double inner = w - 56;
    const int grid = std::max(1, static_cast<int>(inner / 300));
    const double cell = inner / grid;
    const double name_w = std::min(0.4 * cell, 130.0);
    const double track = cell - name_w - 96;
    double most = 1;
    for (const auto& k : m_countries) most = std::max(most, k.rx + k.tx);
    const size_t shown = std::min(m_countries.size(), static_cast<size_t>(4 * grid));
    gfx::TextStyle name;
    name.size = 11.5;
    name.bold = true;
    name.middle = true;
    name.max_w = std::max(1.0, name_w - 8);
    small.tnum = true;
    small.align = gfx::Align::Right;
    for (size_t i = 0; i < shown; ++i) {
        const Country& k = m_countries[i];
        const double x = 30 + static_cast<double>(i / 4) * cell;
        const double y = 96 + static_cast<double>(i % 4) * 23;
        const std::string label = geoip::name(k.cc);
        gfx::text(cr, label, x, y + 9, m_pal.text, name);
        if (track > 0) {
            gfx::rounded(cr, x + name_w, y + 3, track, 12, 3);
            gfx::set(cr, m_pal.led_off);
            cairo_fill(cr);
            const double rw = track * k.rx / most, sw = track * k.tx / most;
            if (rw > 0.5) {
                gfx::rounded(cr, x + name_w, y + 3, rw, 12, 3);
                gfx::set(cr, m_pal.down);
                cairo_fill(cr);
            }
            if (sw > 0.5) {
                gfx::rounded(cr, x + name_w + rw, y + 3, sw, 12, 3);
                gfx::set(cr, m_pal.up);
                cairo_fill(cr);
            }
        }
        gfx::text(cr, fmt::rate(k.rx + k.tx, m_settings.bits), x + cell - 12, y + 9, m_pal.dim,
                  small);
        m_hits.push_back(
            {x, y, cell - 8, 20, "tbl:cc:" + k.cc, static_cast<int>(i),
             label + "\n" + fmt::bytes(k.bytes) + "\n" + L10n::tr("dest.hosts", k.hosts)});
    }
}

// Header band: titles with their direction arrows, the sort chevron, and one resize handle
// on each column's right edge.
void App::paint_table_header(cairo_t* cr, const Table& t, double w, int page) {
    const double top = table_top(page);
    const double mid = top + 17;
    gfx::card(cr, 8, top, w - 16, 34, m_pal, false);
    const std::string tip = L10n::tr("tip.columns");
    double x = 22;
    for (size_t i = 0; i < t.cols.size() && i < t.widths.size(); ++i) {
        const Column& c = t.cols[i];
        const double cw = t.widths[i];
        if (cw <= 0) continue;
        const bool sorted =
            c.key == t.sort_key || (t.sort_key == "rate" && (c.key == "rx" || c.key == "tx"));
        gfx::TextStyle st;
        st.size = 11.5;
        st.bold = true;
        st.middle = true;
        const double chevron = sorted ? 14 : 0;
        const double arrow = c.arrow != 0 ? 13 : 0;
        st.max_w = std::max(1.0, cw - 20 - arrow - chevron);
        const double tw = std::min(gfx::text_width(cr, c.title, st.size, true), st.max_w);
        const double tx = c.right ? x + cw - 10 - tw : x + 10 + arrow;
        const double lead = c.right ? tx - chevron - arrow : x + 10;
        if (c.arrow != 0)
            gfx::arrow(cr, lead + 4.5, mid, 9, c.arrow > 0, c.arrow > 0 ? m_pal.up : m_pal.down);
        gfx::text(cr, c.title, tx, mid, sorted ? m_pal.text_strong : m_pal.dim, st);
        if (sorted) {
            // Points down while descending, up while ascending.
            const double cx = c.right ? tx - 7 : tx + tw + 8;
            const double dy = t.desc ? 1 : -1;
            cairo_move_to(cr, cx - 3.5, mid - dy);
            cairo_line_to(cr, cx, mid + dy);
            cairo_line_to(cr, cx + 3.5, mid - dy);
            cairo_set_line_width(cr, 1.6);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            gfx::set(cr, m_pal.accent);
            cairo_stroke(cr);
        }
        m_hits.push_back({x, top, cw, 34, "tbl:head:" + c.key, static_cast<int>(i), tip});

        const std::string edge = "tbl:resize:" + c.key;
        const bool hot =
            m_hover == edge || (m_col_drag && m_col_page == page && m_col_key == c.key);
        const double lw = hot ? 3 : 1, lh = hot ? 22 : 16;
        cairo_rectangle(cr, x + cw - lw / 2, mid - lh / 2, lw, lh);
        gfx::set(cr, hot ? m_pal.accent : m_pal.panel_edge);
        cairo_fill(cr);
        m_hits.push_back({x + cw - 5, top, 10, 34, edge, static_cast<int>(i), tip});
        x += cw;
    }
}

void App::column_menu(int page, double x, double y) {
    if (page < 1 || page > 3) return;
    const Table& t = table_of(page);
    auto& states = m_colstate[static_cast<size_t>(page)];
    std::vector<MenuItem> items;
    for (size_t i = 1; i < t.cols.size(); ++i) {
        const Column& c = t.cols[i];
        std::string label = c.title;
        if (c.arrow != 0)
            label = L10n::tr(c.arrow < 0 ? "dir.download" : "dir.upload") + " · " + label;
        const std::string key = c.key;
        items.push_back({label,
                         [this, page, key] {
                             auto& st = m_colstate[static_cast<size_t>(page)][key];
                             st.hidden = !st.hidden;
                             store_columns(page);
                             m_dirty = true;
                         },
                         "", !states[key].hidden, false});
    }
    items.push_back({"", nullptr, "", false, true});
    items.push_back({L10n::tr("menu.cols_reset"),
                     [this, page] {
                         m_colstate[static_cast<size_t>(page)].clear();
                         store_columns(page);
                         m_dirty = true;
                     },
                     "", false, false});
    open_menu(x, y, std::move(items));
}

void App::table_click(int page, const Hit& hit, double x, double y, int button, int clicks) {
    if (page < 1 || page > 3) return;
    Table& t = table_of(page);
    const std::string& id = hit.id;
    auto starts = [&](const char* prefix) { return id.rfind(prefix, 0) == 0; };
    auto column = [&](const std::string& key) -> int {
        for (size_t i = 0; i < t.cols.size(); ++i)
            if (t.cols[i].key == key) return static_cast<int>(i);
        return -1;
    };
    const bool left = button == 1, right = button == 3;
    if (starts("field:")) {
        TextField* f = field_of(page);
        f->focus = true;
        f->caret = f->text.size();
        SDL_StartTextInput();
        m_caret_on = true;
        m_dirty = true;
    } else if (starts("tbl:chip:") && left) {
        const std::string chip = id.substr(9);
        if (chip == "local") {
            m_settings.show_local_conns = !m_settings.show_local_conns;
        } else if (chip == "listen") {
            m_settings.show_listening = !m_settings.show_listening;
        } else if (chip == "resolve") {
            m_settings.resolve_names = !m_settings.resolve_names;
            m_tracker.set_resolve(m_settings.resolve_names);
        } else if (chip == "group") {
            m_settings.group_programs = !m_settings.group_programs;
        } else if (chip == "reset") {
            m_tracker.reset_totals();
            m_ps = m_tracker.snapshot();
        } else {
            return;
        }
        save_later();
        fill_table(page);
        m_dirty = true;
    } else if (starts("tbl:cc:") && left && page == 3) {
        m_dest_field.text = geoip::name(id.substr(7));
        m_dest_field.caret = m_dest_field.text.size();
        m_scroll[3] = 0;
        fill_table(3);
        m_dirty = true;
    } else if ((starts("tbl:head:") || starts("tbl:resize:")) && right) {
        column_menu(page, x, y);
    } else if (starts("tbl:resize:") && left) {
        const std::string key = id.substr(11);
        const int i = column(key);
        if (i < 0) return;
        m_col_drag = true;
        m_col_page = page;
        m_col_key = key;
        m_col_x0 = x;
        const auto ui = static_cast<size_t>(i);
        m_col_w0 = ui < t.widths.size() && t.widths[ui] > 0 ? t.widths[ui] : t.cols[ui].min_w;
        m_dirty = true;
    } else if (starts("tbl:head:") && left) {
        const std::string key = id.substr(9);
        const int i = column(key);
        if (i < 0) return;
        if (t.sort_key == key) {
            t.desc = !t.desc;
        } else {
            t.sort_key = key;
            t.desc = t.cols[static_cast<size_t>(i)].right;
        }
        std::string& sort = page == 1   ? m_settings.conn_sort
                            : page == 2 ? m_settings.proc_sort
                                        : m_settings.dest_sort;
        bool& desc = page == 1   ? m_settings.conn_desc
                     : page == 2 ? m_settings.proc_desc
                                 : m_settings.dest_desc;
        sort = t.sort_key;
        desc = t.desc;
        save_later();
        sort_table(t);
        m_dirty = true;
    } else if (starts("tbl:row:")) {
        const std::string row = id.substr(8);
        t.selected = row;
        m_dirty = true;
        if (right) {
            table_menu(page, row, x, y);
        } else if (left && clicks >= 2 && page >= 2 && row != "other|") {
            if (page == 3) {
                // "d" address "|"
                show_connections(row.substr(1, row.size() >= 2 ? row.size() - 2 : 0));
                return;
            }
            const size_t a = row.find('|');
            const size_t b = a == std::string::npos ? a : row.find('|', a + 1);
            if (b == std::string::npos) return;
            const std::string pid = row.substr(a + 1, b - a - 1);
            const bool several = std::count(row.begin(), row.end(), '|') > 2;
            if (m_settings.group_programs && several) {
                const auto it = std::find_if(t.rows.begin(), t.rows.end(),
                                             [&](const Row& r) { return r.id == row; });
                if (it == t.rows.end() || it->cells.empty()) return;
                show_connections(it->cells[0].substr(0, it->cells[0].find("  ")));
            } else {
                show_connections("pid:" + pid);
            }
        }
    }
}

Table& App::table_of(int tab) {
    return tab == 1 ? m_conn : tab == 2 ? m_proc : m_dest;
}

TextField* App::field_of(int tab) {
    switch (tab) {
    case 1:
        return &m_conn_field;
    case 2:
        return &m_proc_field;
    case 3:
        return &m_dest_field;
    default:
        return nullptr;
    }
}
