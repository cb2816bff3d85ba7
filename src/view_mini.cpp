// The mini view: a small borderless window with one strip per chosen device (and the total
// when asked), each a one-minute chart under the current rates. The window is dragged by its
// body and resized at its edges through the window system's hit test.
//
// Sections: strip list · geometry · painting · window hit test · clicks.

#include "app.h"
#include "format.h"
#include "l10n.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

// ---- strip list -----------------------------------------------------------------------

std::vector<IfState*> App::mini_list(bool* total) {
    // The strips follow the cards' order on the overview.
    const std::vector<IfState*> cards = card_list();
    std::vector<IfState*> out;
    for (IfState* s : cards)
        if (m_settings.mini_devices.count(s->info.name)) out.push_back(s);
    if (total) *total = m_settings.mini_devices.count("*") > 0 || out.empty();
    return out;
}

bool App::mini_total_shown() {
    bool total = false;
    mini_list(&total);
    return total;
}

// ---- geometry -------------------------------------------------------------------------

double mini_strip_h(double h, int n) {
    n = std::max(n, 1);
    return std::max(28.0, (h - 16 - 36 - 2 - (n - 1) * 6) / n);
}

double mini_rate_font(cairo_t* cr, double sh, double dw, bool bits, double* rw) {
    double fs = std::min(0.38 * sh, 16.0);
    double w = gfx::rate_width(cr, fs, true, bits);
    // Both rates must fit beside each other even in a narrow window.
    if (dw < 2 * w + 64) {
        fs *= dw / (2 * w + 64);
        w = gfx::rate_width(cr, fs, true, bits);
    }
    if (rw) *rw = w;
    return fs;
}

// ---- painting -------------------------------------------------------------------------

namespace {

struct Line {
    std::string name;
    net::Kind kind = net::Kind::Other;
    bool total = false;
    double rx = 0, tx = 0;
    const Ring* hrx = nullptr;
    const Ring* htx = nullptr;
};

} // namespace

void App::paint_mini(cairo_t* cr, double w, double h, bool over) {
    bool with_total = false;
    std::vector<Line> lines;
    const std::vector<IfState*> devs = mini_list(&with_total);
    if (with_total)
        lines.push_back({L10n::tr("total.title"), net::Kind::Other, true, m_total_rx_now,
                         m_total_tx_now, &m_total_rx, &m_total_tx});
    for (const IfState* s : devs)
        lines.push_back({s->info.name, s->info.kind, false, s->rx, s->tx, &s->hrx, &s->htx});

    const int n = static_cast<int>(lines.size());
    const double sh = mini_strip_h(h, n), dw = w - 40;
    const bool bits = m_settings.bits;

    if (!over) {
        paint_window_bg(cr);
        gfx::rack(cr, 2, 2, w - 4, h - 4, m_pal, m_pal.ok, true, 4, false);
        gfx::app_logo(cr, 28, 21, 9, m_pal);
        gfx::rainbow_text(cr, "Velmora", 44, 21, 14, m_dark);
        const int slots = std::max(1, 60000 / std::max(1, m_interval.load()));
        for (int i = 0; i < n; ++i) {
            const Line& l = lines[static_cast<size_t>(i)];
            const double top = 36 + i * (sh + 6);
            gfx::display(cr, 20, top, dw, sh, m_pal, false);
            const int count = static_cast<int>(std::min(l.hrx->size(), l.htx->size()));
            const int pts = std::min(slots, count);
            gfx::ChartOpts o;
            o.axis = false;
            o.time_axis = false;
            o.span_s = 60;
            o.slots = slots;
            o.step_s = m_interval.load() / 1000.0;
            o.bits = bits;
            o.hover_x = -2;
            const Ring* rx = l.hrx;
            const Ring* tx = l.htx;
            gfx::chart(
                cr, 22, top + 3, dw - 4, sh - 5, pts,
                [rx, tx, count, pts](int k, double* r, double* t) {
                    const auto at = static_cast<size_t>(count - pts + k);
                    *r = rx->at(at);
                    *t = tx->at(at);
                },
                m_pal, o);
        }
        return;
    }

    gfx::TextStyle rate;
    rate.bold = true;
    rate.tnum = true;
    rate.middle = true;
    rate.align = gfx::Align::Right;
    for (int i = 0; i < n; ++i) {
        const Line& l = lines[static_cast<size_t>(i)];
        const double top = 36 + i * (sh + 6), cy = top + sh / 2;
        double rw = 0;
        const double fs = mini_rate_font(cr, sh, dw, bits, &rw);
        const double R = w - 30, block = R - (2 * rw + 48);

        // The numbers stay readable over the curves behind them.
        const double fx = std::max(21.0, block - 30), fr = 20 + dw - 1;
        if (fr > fx) {
            cairo_pattern_t* g = cairo_pattern_create_linear(block - 30, 0, block + 10, 0);
            const Rgba& c = m_pal.slot;
            cairo_pattern_add_color_stop_rgba(g, 0, c.r, c.g, c.b, 0);
            cairo_pattern_add_color_stop_rgba(g, 1, c.r, c.g, c.b, 0.8);
            cairo_rectangle(cr, fx, top + 1, fr - fx, sh - 2);
            cairo_set_source(cr, g);
            cairo_fill(cr);
            cairo_pattern_destroy(g);
        }

        double nx = 30;
        if (!l.total) {
            gfx::kind_icon(cr, l.kind, 37, cy, 7, m_pal.dim);
            nx = 50;
        }
        const double room = block - 34 - nx;
        if (room > 30) {
            gfx::TextStyle name;
            name.size = 0.82 * fs;
            name.bold = true;
            name.middle = true;
            name.max_w = room;
            gfx::text(cr, l.name, nx, cy, m_pal.text, name);
        }

        rate.size = fs;
        gfx::text(cr, fmt::rate(l.tx, bits), R, cy, m_pal.up, rate);
        const double A = R - (0.6 * fs + rw);
        gfx::arrow(cr, A, cy, 0.8 * fs, true, m_pal.up);
        const double rx_edge = A - 0.9 * fs;
        gfx::text(cr, fmt::rate(l.rx, bits), rx_edge, cy, m_pal.down, rate);
        gfx::arrow(cr, rx_edge - (0.6 * fs + rw), cy, 0.8 * fs, false, m_pal.down);
    }

    gfx::device_button(cr, w - 38, 9, 24, 2, m_over_hover == "mini:expand", m_pal);
    m_over_hits.push_back(Hit{w - 38, 9, 24, 24, "mini:expand", 0, L10n::tr("mini.full")});
}

// ---- window hit test ------------------------------------------------------------------

SDL_HitTestResult mini_hit_area(int x, int y, int w, int h, bool on_button) {
    const bool top = y <= 9, bottom = y >= h - 10, left = x <= 9, right = x >= w - 10;
    // Corners reach a little further along each edge than the edge band is deep.
    if ((top && x <= 17) || (left && y <= 17)) return SDL_HITTEST_RESIZE_TOPLEFT;
    if ((top && x >= w - 18) || (right && y <= 17)) return SDL_HITTEST_RESIZE_TOPRIGHT;
    if ((bottom && x <= 17) || (left && y >= h - 18)) return SDL_HITTEST_RESIZE_BOTTOMLEFT;
    if ((bottom && x >= w - 18) || (right && y >= h - 18)) return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
    if (top) return SDL_HITTEST_RESIZE_TOP;
    if (bottom) return SDL_HITTEST_RESIZE_BOTTOM;
    if (left) return SDL_HITTEST_RESIZE_LEFT;
    if (right) return SDL_HITTEST_RESIZE_RIGHT;
    return on_button ? SDL_HITTEST_NORMAL : SDL_HITTEST_DRAGGABLE;
}

SDL_HitTestResult mini_hit_test(SDL_Window* win, const SDL_Point* pt, void* data) {
    App* app = static_cast<App*>(data);
    if (!app || !pt || !app->m_settings.mini) return SDL_HITTEST_NORMAL;
    int w = 0, h = 0;
    SDL_GetWindowSize(win, &w, &h);
    const SDL_HitTestResult r =
        mini_hit_area(pt->x, pt->y, w, h, app->hit_at(pt->x, pt->y, true) != nullptr);
    if (r != SDL_HITTEST_DRAGGABLE) return r;
    // A press on the body goes to the window system as the start of a move and never reaches
    // the program, so a double click there could not be seen: the second press of a quick
    // pair at the same spot is let through and counts as the double click.
    const Uint32 now = SDL_GetTicks();
    if (app->m_mini_press_at && now - app->m_mini_press_at < 500 &&
        std::abs(pt->x - app->m_mini_press_x) <= 4 && std::abs(pt->y - app->m_mini_press_y) <= 4) {
        app->m_mini_press_at = 0;
        app->m_mini_double = true;
        return SDL_HITTEST_NORMAL;
    }
    app->m_mini_press_at = now;
    app->m_mini_press_x = pt->x;
    app->m_mini_press_y = pt->y;
    return r;
}

// ---- clicks ---------------------------------------------------------------------------

void App::mini_click(const std::string& id, double x, double y, int button, int clicks) {
    auto leave = [this] {
        if (m_menu.open) close_menu();
        set_mini(false); // remembers the mini geometry first, then applies the full view
    };
    const bool second = std::exchange(m_mini_double, false) && button == 1;
    if ((button == 1 && id == "mini:expand") || clicks > 1 || second) {
        leave();
    } else if (button == 3) {
        std::vector<MenuItem> items;
        items.push_back({L10n::tr("mini.full"), leave, "", false, false});
        items.push_back({L10n::tr("tip.settings"),
                         [this, leave] {
                             leave();
                             open_settings(1);
                         },
                         "", false, false});
        items.push_back({L10n::tr("set.mini_ontop"),
                         [this] {
                             m_settings.mini_on_top = !m_settings.mini_on_top;
                             apply_mode(true);
                             save_later();
                         },
                         "", m_settings.mini_on_top, false});
        items.push_back({L10n::tr("mini.quit"), [this] { m_running = false; }, "", false, false});
        open_menu(x, y, std::move(items));
    }
}
