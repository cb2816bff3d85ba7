// The three table pages (connections, programs, destinations): one model, one width layout,
// one stable sort, one filter test and the user's column states.
//
// Sections: helpers · filter · layout · sorting · column states · page, header and clicks.

#include "app.h"
#include "l10n.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
// FIXME: the filter field, chips, rows, footer and page contents arrive with the next steps.

void App::paint_table_page(cairo_t* cr, double w, double, int page) {
    Table& t = table_of(page);
    layout_table(t, w, page);
    paint_table_header(cr, t, w, page);
    // An empty table inside a Snap most likely lacks a permission: say which, and how.
    if (t.rows.empty() && !snap_all_connected()) {
        const double pw = std::min(w - 32, 760.0);
        paint_snap_panel(cr, (w - pw) / 2, table_top(page) + 50, pw, m_hits, m_hover, false);
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

void App::table_click(int page, const Hit& hit, double x, double, int button, int) {
    if (page < 1 || page > 3) return;
    Table& t = table_of(page);
    auto column = [&](const std::string& key) -> int {
        for (size_t i = 0; i < t.cols.size(); ++i)
            if (t.cols[i].key == key) return static_cast<int>(i);
        return -1;
    };
    if (hit.id.rfind("tbl:resize:", 0) == 0 && button == 1) {
        const std::string key = hit.id.substr(11);
        const int i = column(key);
        if (i < 0) return;
        m_col_drag = true;
        m_col_page = page;
        m_col_key = key;
        m_col_x0 = x;
        const auto ui = static_cast<size_t>(i);
        m_col_w0 = ui < t.widths.size() && t.widths[ui] > 0 ? t.widths[ui] : t.cols[ui].min_w;
        m_dirty = true;
    } else if (hit.id.rfind("tbl:head:", 0) == 0 && button == 1) {
        const std::string key = hit.id.substr(9);
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
    }
}

void App::fill_table(int) {}

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
