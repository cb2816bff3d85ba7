// Drawing primitives.
//
// Sections: colours and palettes · shapes · rack look · icons · text and its caches ·
// chart scale and curves · icon export.

#include "gfx.h"

#include "format.h"
#include "gpu.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <pango/pangocairo.h>
#include <unordered_map>
#include <vector>

// ---- colours and palettes -------------------------------------------------------------

Rgba hex(const std::string& h, double a) {
    const char* s = h.c_str();
    if (*s == '#') ++s;
    unsigned long v = strtoul(s, nullptr, 16);
    return Rgba{static_cast<double>((v >> 16) & 0xFF) / 255.0,
                static_cast<double>((v >> 8) & 0xFF) / 255.0,
                static_cast<double>(v & 0xFF) / 255.0, a};
}

Palette Palette::make(bool dark) {
    Palette p;
    p.dark = dark;
    auto c = [dark](const char* d, const char* l, double da = 1.0, double la = 1.0) {
        return dark ? hex(d, da) : hex(l, la);
    };
    p.bg = c("#0B0B0C", "#ECEBE8");
    p.surface = c("#18181A", "#FFFFFF");
    p.surface2 = c("#202022", "#F6F5F2");
    p.border = c("#2A2A2D", "#CFCDC8");
    p.text = c("#E2E0DC", "#22211F");
    p.dim = c("#8E8A84", "#6E6A64");
    p.faint = c("#5E5B57", "#A19D96");
    p.grid = c("#FFFFFF", "#000000", 0.06, 0.07);
    p.down = c("#A9C2A8", "#6E8A6C");
    p.up = c("#E4CDA6", "#A88552");
    p.ok = c("#A9C2A8", "#6E8A6C");
    p.warn = c("#E4CDA6", "#B08A55");
    p.err = c("#DE8C84", "#B5605A");
    p.accent = c("#9DB59B", "#6E8A6C");
    p.chip = c("#202022", "#E6E5E1");
    p.chip_on = c("#8FA98D", "#7E9A7C");
    p.chip_on_text = c("#141814", "#FFFFFF");
    p.hover = c("#FFFFFF", "#000000", 0.05, 0.04);
    p.select = c("#A9C2A8", "#7E9A7C", 0.14, 0.12);
    p.bg_top = c("#161616", "#F2F1EE");
    p.bg_bottom = c("#080808", "#E1E0DC");
    p.panel_top = c("#232325", "#FCFCFA");
    p.panel_bottom = c("#0E0E0F", "#E5E4E0");
    p.panel_edge = c("#2A2A2D", "#CFCDC8");
    p.shine = c("#FFFFFF", "#FFFFFF", 0.13, 0.4);
    p.slot = c("#0B0B0C", "#F4F4F2");
    p.slot_edge = c("#2C2C2F", "#BDBBB6");
    p.led_off = c("#18181A", "#E2E2DF");
    p.text_strong = c("#FFFFFF", "#000000");
    p.button = c("#202022", "#FFFFFF");
    p.button_hot = c("#2B2B2E", "#ECEBE7");
    return p;
}

namespace gfx {
namespace {

constexpr double kPi = 3.14159265358979323846;

double rad(double deg) { return deg * kPi / 180.0; }

Rgba with_alpha(const Rgba& c, double factor) { return Rgba{c.r, c.g, c.b, c.a * factor}; }

void add_stop(cairo_pattern_t* pat, double at, const Rgba& c) {
    cairo_pattern_add_color_stop_rgba(pat, at, c.r, c.g, c.b, c.a);
}

// A vertical linear gradient over [y0, y1] used as the source, then filled.
void fill_vertical(cairo_t* cr, double y0, double y1, const Rgba& top, const Rgba& bottom) {
    cairo_pattern_t* pat = cairo_pattern_create_linear(0, y0, 0, y1);
    add_stop(pat, 0, top);
    add_stop(pat, 1, bottom);
    cairo_set_source(cr, pat);
    cairo_fill(cr);
    cairo_pattern_destroy(pat);
}

Rgba mix(const Rgba& a, const Rgba& b, double t) {
    return Rgba{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a};
}

void line(cairo_t* cr, double x0, double y0, double x1, double y1) {
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
}

} // namespace

// ---- shapes ---------------------------------------------------------------------------

void set(cairo_t* cr, const Rgba& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

void rounded(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min(r, std::min(w, h) / 2);
    if (r < 0) r = 0;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, rad(-90), 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, rad(90));
    cairo_arc(cr, x + r, y + h - r, r, rad(90), rad(180));
    cairo_arc(cr, x + r, y + r, r, rad(180), rad(270));
    cairo_close_path(cr);
}

void window_bg(cairo_t* cr, double w, double h, const Palette& p) {
    cairo_pattern_t* pat =
        cairo_pattern_create_radial(w / 2, h / 4, 0, w / 2, h / 4, 0.9 * std::max(w, h));
    add_stop(pat, 0, p.bg_top);
    add_stop(pat, 1, p.bg_bottom);
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_set_source(cr, pat);
    cairo_fill(cr);
    cairo_pattern_destroy(pat);
}

Rgba vu_color(double f, const Palette& p) {
    if (f > 0.86) return p.err;
    if (f > 0.68) return p.warn;
    return p.ok;
}

void dot(cairo_t* cr, double cx, double cy, double r, const Rgba& c) {
    set(cr, with_alpha(c, 0.25));
    cairo_arc(cr, cx, cy, 1.8 * r, 0, 2 * kPi);
    cairo_fill(cr);
    set(cr, c);
    cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
    cairo_fill(cr);
}

// ---- rack look ------------------------------------------------------------------------

void screw(cairo_t* cr, double cx, double cy, double rot, const Palette& p) {
    cairo_save(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.33);
    cairo_arc(cr, cx, cy + 0.8, 4.2, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_arc(cr, cx, cy, 3.8, 0, 2 * kPi);
    fill_vertical(cr, cy - 3.8, cy + 3.8, p.dark ? hex("#76736E") : hex("#F4F4F2"),
                  p.dark ? hex("#1E1E1F") : hex("#A5A29C"));
    double dx = 2.8 * std::cos(rad(rot)), dy = 2.8 * std::sin(rad(rot));
    line(cr, cx - dx, cy - dy, cx + dx, cy + dy);
    set(cr, p.dark ? hex("#0B0B0B") : hex("#6E6A64"));
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void rack(cairo_t* cr, double x, double y, double w, double h, const Palette& p, const Rgba& strip,
          bool lit, int seed, bool hot) {
    cairo_save(cr);
    // Drop shadow and body.
    rounded(cr, x, y + 3, w, h, 10);
    cairo_set_source_rgba(cr, 0, 0, 0, p.dark ? 0.33 : 0.12);
    cairo_fill(cr);
    Rgba top = lit ? mix(p.panel_top, strip, p.dark ? 0.06 : 0.04) : p.panel_top;
    rounded(cr, x, y, w, h, 10);
    fill_vertical(cr, y, y + h, top, p.panel_bottom);

    // Brushed texture: faint hairlines inside the body.
    cairo_save(cr);
    rounded(cr, x + 2, y + 2, w - 4, h - 4, 9);
    cairo_clip(cr);
    cairo_set_line_width(cr, 1);
    for (double ly = y + 5.5; ly < y + h - 5; ly += 3) line(cr, x + 3, ly, x + w - 3, ly);
    if (p.dark) cairo_set_source_rgba(cr, 1, 1, 1, 0.024);
    else cairo_set_source_rgba(cr, 0, 0, 0, 0.035);
    cairo_stroke(cr);
    cairo_restore(cr);

    rounded(cr, x + 0.5, y + 0.5, w - 1, h - 1, 10);
    set(cr, hot ? with_alpha(strip, 0.55) : lit ? with_alpha(strip, 0.4) : p.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    line(cr, x + 10, y + 1.5, x + w - 10, y + 1.5);
    set(cr, p.shine);
    cairo_stroke(cr);

    if (strip.a > 0) {
        if (lit) {
            rounded(cr, x + 30, y, std::max(w - 60, 0.0), 8, 4);
            set(cr, with_alpha(strip, 0.08));
            cairo_fill(cr);
        }
        rounded(cr, x + 40, y + 1, std::max(w - 80, 0.0), 2.5, 1.2);
        set(cr, with_alpha(strip, lit ? 0.9 : 0.25));
        cairo_fill(cr);
    }

    // Each panel's screws sit at their own angles, stable from frame to frame.
    screw(cr, x + 11, y + 11, seed * 37 + 20, p);
    screw(cr, x + w - 11, y + 11, seed * 23 + 70, p);
    screw(cr, x + 11, y + h - 11, seed * 11 + 130, p);
    screw(cr, x + w - 11, y + h - 11, seed * 51 + 5, p);
    cairo_restore(cr);
}

void modal_panel(cairo_t* cr, double x, double y, double w, double h, const Palette& p) {
    rounded(cr, x, y + 6, w, h, 16);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.35);
    cairo_fill(cr);
    rounded(cr, x, y, w, h, 16);
    cairo_pattern_t* g = cairo_pattern_create_linear(0, y, 0, y + h);
    cairo_pattern_add_color_stop_rgba(g, 0, p.panel_top.r, p.panel_top.g, p.panel_top.b,
                                      p.panel_top.a);
    cairo_pattern_add_color_stop_rgba(g, 1, p.panel_bottom.r, p.panel_bottom.g, p.panel_bottom.b,
                                      p.panel_bottom.a);
    cairo_set_source(cr, g);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(g);
    set(cr, p.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

TextStyle ui_style(double size, bool bold, Align align, double max_w) {
    TextStyle st;
    st.size = size;
    st.bold = bold;
    st.tnum = true;
    st.align = align;
    st.max_w = max_w;
    st.middle = true;
    return st;
}

void card(cairo_t* cr, double x, double y, double w, double h, const Palette& p, bool hover) {
    rack(cr, x, y, w, h, p, p.accent, false, 0, hover);
}

void display(cairo_t* cr, double x, double y, double w, double h, const Palette& p, bool grid) {
    cairo_save(cr);
    rounded(cr, x, y, w, h, 6);
    set(cr, p.slot);
    cairo_fill(cr);
    rounded(cr, x + 0.5, y + 0.5, w - 1, h - 1, 6);
    set(cr, with_alpha(p.slot_edge, p.dark ? 0.9 : 0.8));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    rounded(cr, x + 1, y + 1, w - 2, h - 2, 5);
    cairo_clip(cr);
    cairo_rectangle(cr, x, y + 1, w, 10);
    fill_vertical(cr, y + 1, y + 11, Rgba{0, 0, 0, p.dark ? 0.55 : 0.12}, Rgba{0, 0, 0, 0});
    if (grid) {
        for (double gy = y + 6; gy < y + h - 2; gy += 8)
            for (double gx = x + 6; gx < x + w - 2; gx += 8) cairo_rectangle(cr, gx, gy, 1, 1);
        if (p.dark) cairo_set_source_rgba(cr, 1, 1, 1, 0.035);
        else cairo_set_source_rgba(cr, 0, 0, 0, 0.05);
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

void device_button(cairo_t* cr, double x, double y, double s, int kind, bool hot, const Palette& p) {
    cairo_save(cr);
    rounded(cr, x, y, s, s, 8);
    fill_vertical(cr, y, y + s, hot ? p.button_hot : p.button,
                  p.dark ? hex("#141415") : hex("#EBEAE6"));
    rounded(cr, x + 0.5, y + 0.5, s - 1, s - 1, 8);
    set(cr, p.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    const Rgba& c = hot ? p.text_strong : p.text;
    double cx = x + s / 2, cy = y + s / 2;
    if (kind == 0) gear(cr, cx, cy, 0.27 * s, c);
    else if (kind == 1) icon_mini(cr, cx, cy, 0.24 * s, c);
    else icon_expand(cr, cx, cy, 0.22 * s, c);
    cairo_restore(cr);
}

// ---- icons ----------------------------------------------------------------------------

void arrow(cairo_t* cr, double cx, double cy, double s, bool up, const Rgba& c) {
    cairo_save(cr);
    const double d = up ? -s : s;
    line(cr, cx, cy - d / 2, cx, cy + 0.45 * d);
    cairo_move_to(cr, cx - 0.36 * s, cy + 0.1 * d);
    cairo_line_to(cr, cx, cy + d / 2);
    cairo_line_to(cr, cx + 0.36 * s, cy + 0.1 * d);
    cairo_set_line_width(cr, std::max(0.16 * s, 1.4));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    set(cr, c);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void gear(cairo_t* cr, double cx, double cy, double r, const Rgba& c) {
    cairo_save(cr);
    cairo_new_path(cr);
    for (int k = 0; k < 8; ++k) {
        double a = k * 45.0;
        cairo_arc(cr, cx, cy, r, rad(a - 11.25), rad(a + 11.25));
        double v = rad(a + 22.5);
        cairo_line_to(cr, cx + 0.72 * r * std::cos(v), cy + 0.72 * r * std::sin(v));
    }
    cairo_close_path(cr);
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, 0.32 * r, 0, 2 * kPi);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    set(cr, c);
    cairo_fill(cr);
    cairo_restore(cr);
}

void icon_mini(cairo_t* cr, double cx, double cy, double r, const Rgba& c) {
    rounded(cr, cx - r, cy - 0.75 * r, 2 * r, 0.6 * r, 0.2 * r);
    rounded(cr, cx - r, cy + 0.15 * r, 2 * r, 0.6 * r, 0.2 * r);
    set(cr, c);
    cairo_fill(cr);
}

void icon_expand(cairo_t* cr, double cx, double cy, double r, const Rgba& c) {
    cairo_save(cr);
    for (int sx : {-1, 1})
        for (int sy : {-1, 1}) {
            double x = cx + sx * r, y = cy + sy * r;
            cairo_move_to(cr, x - sx * 0.45 * r, y);
            cairo_line_to(cr, x, y);
            cairo_line_to(cr, x, y - sy * 0.45 * r);
        }
    cairo_set_line_width(cr, std::max(0.2 * r, 1.5));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    set(cr, c);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void signal_bars(cairo_t* cr, double x, double y, double h, int level, const Rgba& on,
                 const Rgba& off) {
    for (int i = 0; i < 4; ++i) {
        double bh = (0.35 + 0.65 * i / 3.0) * h;
        rounded(cr, x + i * 0.32 * h, y + h - bh, 0.22 * h, bh, 0.066 * h);
        set(cr, i < level ? on : off);
        cairo_fill(cr);
    }
}

void kind_icon(cairo_t* cr, net::Kind k, double cx, double cy, double r, const Rgba& c) {
    cairo_save(cr);
    cairo_set_line_width(cr, std::max(0.14 * r, 1.4));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    set(cr, c);
    bool fill_dot = false;
    switch (k) {
    case net::Kind::Ethernet: {
        // RJ45 plug seen from the front: body with the latch step and three contacts.
        double w = 1.5 * r, h = 1.3 * r, x = cx - w / 2, y = cy - h / 2;
        cairo_move_to(cr, x, y);
        cairo_line_to(cr, x + w, y);
        cairo_line_to(cr, x + w, y + 0.7 * h);
        cairo_line_to(cr, x + 0.72 * w, y + 0.7 * h);
        cairo_line_to(cr, x + 0.72 * w, y + h);
        cairo_line_to(cr, x + 0.28 * w, y + h);
        cairo_line_to(cr, x + 0.28 * w, y + 0.7 * h);
        cairo_line_to(cr, x, y + 0.7 * h);
        cairo_close_path(cr);
        for (int i = 0; i < 3; ++i) {
            double lx = x + w * (0.3 + 0.2 * i);
            line(cr, lx, y + 0.18 * h, lx, y + 0.42 * h);
        }
        break;
    }
    case net::Kind::Wireless: {
        double by = cy + 0.55 * r;
        for (double rr : {0.38, 0.76, 1.14}) {
            cairo_new_sub_path(cr);
            cairo_arc(cr, cx, by, rr * r, rad(-135), rad(-45));
        }
        cairo_stroke(cr);
        cairo_arc(cr, cx, by, 0.13 * r, 0, 2 * kPi);
        fill_dot = true;
        break;
    }
    case net::Kind::Mobile: {
        double h = 1.5 * r;
        for (int i = 0; i < 4; ++i) {
            double bh = (0.35 + 0.65 * i / 3.0) * h;
            double bx = cx - 0.75 * r + i * 0.5 * r;
            line(cr, bx, cy + h / 2, bx, cy + h / 2 - bh);
        }
        break;
    }
    case net::Kind::Bond:
        rounded(cr, cx - 0.85 * r, cy - 0.45 * r, r, 0.62 * r, 0.31 * r);
        rounded(cr, cx - 0.15 * r, cy - 0.17 * r, r, 0.62 * r, 0.31 * r);
        break;
    case net::Kind::Bridge:
        line(cr, cx - r, cy + 0.35 * r, cx + r, cy + 0.35 * r);
        cairo_new_sub_path(cr);
        cairo_arc(cr, cx, cy + 0.35 * r, 0.85 * r, rad(180), rad(360));
        for (double f : {-0.45, 0.0, 0.45}) {
            double hx = cx + f * r;
            double hy = cy + 0.35 * r - std::sqrt(std::max(0.0, 0.85 * 0.85 - f * f)) * r;
            line(cr, hx, hy, hx, cy + 0.35 * r);
        }
        break;
    case net::Kind::Vlan: {
        // A luggage tag pointing right with its hole.
        cairo_move_to(cr, cx - 0.85 * r, cy - 0.5 * r);
        cairo_line_to(cr, cx + 0.35 * r, cy - 0.5 * r);
        cairo_line_to(cr, cx + 0.9 * r, cy);
        cairo_line_to(cr, cx + 0.35 * r, cy + 0.5 * r);
        cairo_line_to(cr, cx - 0.85 * r, cy + 0.5 * r);
        cairo_close_path(cr);
        cairo_stroke(cr);
        cairo_arc(cr, cx + 0.3 * r, cy, 0.13 * r, 0, 2 * kPi);
        fill_dot = true;
        break;
    }
    case net::Kind::Vpn:
        cairo_move_to(cr, cx, cy - 0.9 * r);
        cairo_curve_to(cr, cx + 0.45 * r, cy - 0.7 * r, cx + 0.75 * r, cy - 0.65 * r,
                       cx + 0.75 * r, cy - 0.6 * r);
        cairo_curve_to(cr, cx + 0.75 * r, cy + 0.2 * r, cx + 0.4 * r, cy + 0.7 * r, cx, cy + 0.95 * r);
        cairo_curve_to(cr, cx - 0.4 * r, cy + 0.7 * r, cx - 0.75 * r, cy + 0.2 * r,
                       cx - 0.75 * r, cy - 0.6 * r);
        cairo_curve_to(cr, cx - 0.75 * r, cy - 0.65 * r, cx - 0.45 * r, cy - 0.7 * r, cx,
                       cy - 0.9 * r);
        cairo_close_path(cr);
        cairo_stroke(cr);
        cairo_arc(cr, cx, cy, 0.17 * r, 0, 2 * kPi);
        fill_dot = true;
        break;
    case net::Kind::Tunnel:
        for (double rr : {0.85, 0.4}) {
            cairo_move_to(cr, cx - rr * r, cy + 0.75 * r);
            cairo_line_to(cr, cx - rr * r, cy + 0.1 * r);
            cairo_arc(cr, cx, cy + 0.1 * r, rr * r, rad(180), rad(360));
            cairo_line_to(cr, cx + rr * r, cy + 0.75 * r);
        }
        break;
    case net::Kind::Virtual: {
        // A cube: hexagon outline with three inner edges meeting in the centre.
        double pts[6][2];
        for (int i = 0; i < 6; ++i) {
            double a = rad(-90 + 60 * i);
            pts[i][0] = cx + 0.9 * r * std::cos(a);
            pts[i][1] = cy + 0.9 * r * std::sin(a);
        }
        cairo_move_to(cr, pts[0][0], pts[0][1]);
        for (int i = 1; i < 6; ++i) cairo_line_to(cr, pts[i][0], pts[i][1]);
        cairo_close_path(cr);
        for (int i : {1, 3, 5}) line(cr, cx, cy, pts[i][0], pts[i][1]);
        break;
    }
    case net::Kind::Loopback: {
        cairo_arc(cr, cx, cy, 0.7 * r, rad(-30), rad(270));
        double ax = cx, ay = cy - 0.7 * r;
        cairo_move_to(cr, ax - 0.28 * r, ay - 0.28 * r);
        cairo_line_to(cr, ax, ay);
        cairo_line_to(cr, ax - 0.28 * r, ay + 0.28 * r);
        break;
    }
    default:
        cairo_arc(cr, cx, cy, 0.75 * r, 0, 2 * kPi);
        cairo_stroke(cr);
        cairo_arc(cr, cx, cy, 0.2 * r, 0, 2 * kPi);
        fill_dot = true;
        break;
    }
    if (fill_dot) cairo_fill(cr);
    else cairo_stroke(cr);
    cairo_restore(cr);
}

void app_logo(cairo_t* cr, double cx, double cy, double r, const Palette&) {
    cairo_save(cr);
    rounded(cr, cx - r, cy - r, 2 * r, 2 * r, 0.42 * r);
    fill_vertical(cr, cy - r, cy + r, Rgba{0.22, 0.22, 0.23, 1}, Rgba{0.07, 0.07, 0.08, 1});
    double lw = std::max(0.05 * r, 1.0);
    rounded(cr, cx - r + lw / 2, cy - r + lw / 2, 2 * r - lw, 2 * r - lw, 0.42 * r);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.16);
    cairo_set_line_width(cr, lw);
    cairo_stroke(cr);

    // The pulse line: flat, one heartbeat peak, flat.
    double py = cy + 0.48 * r;
    cairo_move_to(cr, cx - 0.72 * r, py);
    cairo_line_to(cr, cx - 0.22 * r, py);
    cairo_line_to(cr, cx - 0.1 * r, py - 0.2 * r);
    cairo_line_to(cr, cx + 0.04 * r, py + 0.12 * r);
    cairo_line_to(cr, cx + 0.14 * r, py);
    cairo_line_to(cr, cx + 0.72 * r, py);
    cairo_set_source_rgba(cr, 0.89, 0.8, 0.65, 0.45);
    cairo_set_line_width(cr, 0.085 * r);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);

    arrow(cr, cx - 0.3 * r, cy - 0.16 * r, 0.95 * r, false, Rgba{0.66, 0.76, 0.66, 1});
    arrow(cr, cx + 0.3 * r, cy - 0.16 * r, 0.95 * r, true, Rgba{0.89, 0.8, 0.65, 1});
    cairo_restore(cr);
}

// ---- text and its caches ----------------------------------------------------------------

namespace {

// Font descriptions live for the whole process, one per (size, weight).
PangoFontDescription* font_for(double size, bool bold, int weight_override = 0) {
    static std::map<std::pair<int, int>, PangoFontDescription*> cache;
    int weight = weight_override ? weight_override : (bold ? 600 : 400);
    auto key = std::make_pair(static_cast<int>(size * 10), weight);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, "Sans");
    pango_font_description_set_absolute_size(d, size * PANGO_SCALE);
    pango_font_description_set_weight(d, static_cast<PangoWeight>(weight));
    cache.emplace(key, d);
    return d;
}

PangoLayout* make_layout(cairo_t* cr, const std::string& s, const TextStyle& st) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font_for(st.size, st.bold));
    if (st.tnum) {
        PangoAttrList* attrs = pango_attr_list_new();
        pango_attr_list_insert(attrs, pango_attr_font_features_new("tnum"));
        pango_layout_set_attributes(layout, attrs);
        pango_attr_list_unref(attrs);
    }
    pango_layout_set_text(layout, s.c_str(), static_cast<int>(s.size()));
    if (st.max_w > 0) {
        pango_layout_set_width(layout, static_cast<int>(st.max_w * PANGO_SCALE));
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    }
    return layout;
}

void layout_size(PangoLayout* layout, double* w, double* h) {
    int iw = 0, ih = 0;
    pango_layout_get_size(layout, &iw, &ih);
    *w = static_cast<double>(iw) / PANGO_SCALE;
    *h = static_cast<double>(ih) / PANGO_SCALE;
}

} // namespace

double text(cairo_t* cr, const std::string& s, double x, double y, const Rgba& c,
            const TextStyle& st) {
    if (s.empty()) return 0;
    PangoLayout* layout = make_layout(cr, s, st);
    double w, h;
    layout_size(layout, &w, &h);
    if (st.align == Align::Center) x -= w / 2;
    else if (st.align == Align::Right) x -= w;
    if (st.middle) y -= h / 2;
    cairo_move_to(cr, x, y);
    set(cr, c);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return w;
}

double caption(cairo_t* cr, const std::string& s, double x, double y, const Palette& p,
               const Rgba* color) {
    TextStyle st;
    st.size = 11.5;
    st.bold = true;
    st.tnum = true;
    st.middle = true;
    return text(cr, s, x, y, color ? *color : p.dim, st);
}

double text_width(cairo_t* cr, const std::string& s, double size, bool bold) {
    if (s.empty()) return 0;
    TextStyle st;
    st.size = size;
    st.bold = bold;
    st.tnum = true;
    PangoLayout* layout = make_layout(cr, s, st);
    double w, h;
    layout_size(layout, &w, &h);
    g_object_unref(layout);
    return w;
}

double wrapped(cairo_t* cr, const std::string& s, double x, double y, double w, const Rgba* c,
               const TextStyle& st) {
    if (s.empty() || w <= 0) return 0;
    TextStyle plain = st;
    plain.max_w = 0;
    PangoLayout* layout = make_layout(cr, s, plain);
    pango_layout_set_width(layout, static_cast<int>(w * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    double lw, lh;
    layout_size(layout, &lw, &lh);
    if (c) {
        cairo_move_to(cr, x, y);
        set(cr, *c);
        pango_cairo_show_layout(cr, layout);
    }
    g_object_unref(layout);
    return lh;
}

double rainbow_text(cairo_t* cr, const std::string& s, double x, double y, double size, bool dark) {
    if (s.empty()) return 0;
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font_for(size, true, 700));
    pango_layout_set_text(layout, s.c_str(), static_cast<int>(s.size()));
    double w, h;
    layout_size(layout, &w, &h);
    static const double kDark[6][3] = {{0.66, 0.76, 0.66}, {0.8, 0.84, 0.68}, {0.89, 0.8, 0.65},
                                       {0.92, 0.74, 0.62}, {0.9, 0.66, 0.64}, {0.87, 0.55, 0.52}};
    static const double kLight[6][3] = {{0.36, 0.5, 0.36},  {0.46, 0.5, 0.3},  {0.58, 0.46, 0.26},
                                        {0.64, 0.42, 0.28}, {0.62, 0.36, 0.38}, {0.64, 0.3, 0.28}};
    const auto& stops = dark ? kDark : kLight;
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_move_to(cr, x, y - h / 2);
    pango_cairo_layout_path(cr, layout);
    cairo_pattern_t* pat = cairo_pattern_create_linear(x, 0, x + w, 0);
    for (int i = 0; i < 6; ++i)
        cairo_pattern_add_color_stop_rgb(pat, i * 0.2, stops[i][0], stops[i][1], stops[i][2]);
    cairo_set_source(cr, pat);
    cairo_fill(cr);
    cairo_pattern_destroy(pat);
    cairo_restore(cr);
    g_object_unref(layout);
    return w;
}

namespace {

// The widest text any value of one kind can take (0 bytes, 1 byte rate, 2 bit rate), so
// columns of changing figures do not jitter. Measured once per decimal style and size.
double widest(cairo_t* cr, int kind, double size, bool bold) {
    static std::unordered_map<std::string, double> cache;
    char sz[64];
    snprintf(sz, sizeof sz, "%f", size);
    std::string key = fmt::number(1.5, 1) + static_cast<char>('0' + kind) + sz + (bold ? "b" : "r");
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    double best = 0;
    for (int k = 0; k <= 5; ++k) {
        for (double sample : {8.88, 88.8, 888.0}) {
            double v = sample * std::pow(1000.0, k);
            std::string s = kind == 0   ? fmt::bytes(static_cast<uint64_t>(v))
                            : kind == 1 ? fmt::rate(v, false)
                                        : fmt::rate(v / 8, true);
            best = std::max(best, text_width(cr, s, size, bold));
        }
    }
    cache.emplace(key, best);
    return best;
}

} // namespace

double rate_width(cairo_t* cr, double size, bool bold, bool bits) {
    return widest(cr, bits ? 2 : 1, size, bold);
}

double bytes_width(cairo_t* cr, double size, bool bold) { return widest(cr, 0, size, bold); }

// ---- chart scale and curves -------------------------------------------------------------

double nice_max(double v) {
    if (!(v > 0)) return 1;
    double m = std::pow(10.0, std::floor(std::log10(v)));
    for (double f : {1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0})
        if (f * m >= v) return f * m;
    return 10 * m;
}

double log_frac(double bps, double cap) {
    double f;
    if (bps < 1000) {
        f = std::max(bps, 0.0) / 1000.0 * 0.04;
    } else {
        double top = cap < 10000 ? 10.0 : cap / 1000.0;
        f = 0.04 + 0.96 * std::log10(bps / 1000.0) / std::log10(top);
    }
    return std::clamp(f, 0.0, 1.0);
}

void smooth_path(cairo_t* cr, const double* xs, const double* ys, int n) {
    if (n < 1) return;
    cairo_move_to(cr, xs[0], ys[0]);
    if (n == 2) {
        cairo_line_to(cr, xs[1], ys[1]);
        return;
    }
    double ex = xs[0], ey = ys[0];
    for (int i = 2; i < n; ++i) {
        // A quadratic through the midpoints with point i-1 as control, raised to a cubic.
        double qx = xs[i - 1], qy = ys[i - 1];
        double mx = (xs[i - 1] + xs[i]) / 2, my = (ys[i - 1] + ys[i]) / 2;
        cairo_curve_to(cr, ex + 2.0 / 3 * (qx - ex), ey + 2.0 / 3 * (qy - ey),
                       mx + 2.0 / 3 * (qx - mx), my + 2.0 / 3 * (qy - my), mx, my);
        ex = mx;
        ey = my;
    }
    cairo_line_to(cr, xs[n - 1], ys[n - 1]);
}

double chart_scale(int n, const SeriesFn& get, bool bits) {
    double peak = 0;
    for (int i = 0; i < n; ++i) {
        double rx = 0, tx = 0;
        get(i, &rx, &tx);
        peak = std::max({peak, rx, tx});
    }
    const double f = bits ? 8 : 1;
    const double floor = bits ? 8000 : 1000;
    double v = std::max(peak * f * 1.08, floor);
    return nice_max(v) / f;
}

double chart(cairo_t* cr, double x, double y, double w, double h, int n, const SeriesFn& get,
             const Palette& p, const ChartOpts& o) {
    const double maxv = chart_scale(n, get, o.bits);
    double pw = w, ph = h;
    if (o.axis) pw -= rate_width(cr, 10.5, false, o.bits) + 12;
    if (o.time_axis) ph -= 18;

    TextStyle label;
    label.size = 10.5;
    label.tnum = true;
    label.middle = true;
    cairo_save(cr);
    if (o.axis) {
        cairo_set_line_width(cr, 1);
        for (int i = 0; i <= 4; ++i) {
            double ly = std::round(y + ph - i * 0.25 * ph) + 0.5;
            line(cr, x, ly, x + pw, ly);
            if (i == 0) {
                cairo_set_dash(cr, nullptr, 0, 0);
                set(cr, with_alpha(p.slot_edge, 0.6));
            } else {
                const double dash[] = {2, 4};
                cairo_set_dash(cr, dash, 2, 0);
                set(cr, p.grid);
            }
            cairo_stroke(cr);
            if (i > 0) text(cr, fmt::rate(i * 0.25 * maxv, o.bits), x + pw + 8, ly, p.faint, label);
        }
        cairo_set_dash(cr, nullptr, 0, 0);
    }
    if (o.time_axis) {
        auto label_at = [&](int i) {
            double t = (1 - 0.25 * i) * o.span_s;
            if (o.end_t > 0) return fmt::moment(o.end_t - t, o.span_s);
            return i == 4 ? std::string("0") : "-" + fmt::duration(t);
        };
        double widest_label = text_width(cr, label_at(0), 10.5, false) + 14;
        int stride = widest_label <= pw / 4 ? 1 : widest_label > pw / 2 ? 4 : 2;
        for (int i = 0; i <= 4; i += stride) {
            label.align = i == 0 ? Align::Left : i == 4 ? Align::Right : Align::Center;
            text(cr, label_at(i), x + i * pw / 4, y + ph + 10, p.faint, label);
        }
    }
    cairo_restore(cr);

    if (gpu::collecting()) {
        gpu::Chart c;
        char id[64];
        snprintf(id, sizeof id, "c%.0f:%.0f", x, y);
        c.id = id;
        c.x = x;
        c.y = y;
        c.w = pw;
        c.h = ph;
        c.n = n;
        c.slots = o.slots;
        c.get = get;
        c.maxv = maxv;
        c.span_s = o.span_s;
        c.step_s = o.step_s;
        c.end_t = o.end_t;
        c.bits = o.bits;
        c.hover = o.hover_x != -2;
        c.alpha = 1;
        c.head = true;
        gpu::chart(cr, c);
    } else {
        chart_curves(cr, x, y, pw, ph, n, get, maxv, p, o);
        gpu::note_fallback(cr, x, y, pw, ph);
    }
    return maxv;
}

void chart_curves(cairo_t* cr, double cx0, double y, double cw, double ch, int n,
                  const SeriesFn& get, double maxv, const Palette& p, const ChartOpts& o) {
    if (n < 2) return;
    const int total = std::max(n, o.slots);
    std::vector<double> xs(static_cast<size_t>(n)), yr(xs.size()), yt(xs.size()), rx(xs.size()),
        tx(xs.size());
    const double bottom = y + ch;
    for (int i = 0; i < n; ++i) {
        auto k = static_cast<size_t>(i);
        get(i, &rx[k], &tx[k]);
        xs[k] = cx0 + static_cast<double>(total - n + i) / (total - 1) * cw;
        yr[k] = bottom - std::min(rx[k] / maxv, 1.0) * (ch - 2);
        yt[k] = bottom - std::min(tx[k] / maxv, 1.0) * (ch - 2);
    }
    cairo_save(cr);
    cairo_rectangle(cr, cx0, y, cw, ch);
    cairo_clip(cr);
    struct Curve {
        const std::vector<double>* ys;
        Rgba color;
        double top_alpha;
        double width;
    };
    const Curve curves[2] = {{&yr, p.down, p.dark ? 0.42 : 0.32, 2.0},
                             {&yt, p.up, p.dark ? 0.26 : 0.2, 1.8}};
    for (const auto& cv : curves) {
        smooth_path(cr, xs.data(), cv.ys->data(), n);
        cairo_line_to(cr, xs.back(), bottom);
        cairo_line_to(cr, xs.front(), bottom);
        cairo_close_path(cr);
        const Rgba& c = cv.color;
        fill_vertical(cr, y, bottom, Rgba{c.r, c.g, c.b, cv.top_alpha}, Rgba{c.r, c.g, c.b, 0.02});
        smooth_path(cr, xs.data(), cv.ys->data(), n);
        set(cr, cv.color);
        cairo_set_line_width(cr, cv.width);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke(cr);
    }
    cairo_restore(cr);

    if (!(o.hover_x >= xs.front() && o.hover_x <= cx0 + cw)) return;
    int idx = static_cast<int>(std::lround((o.hover_x - cx0) / cw * (total - 1))) - (total - n);
    idx = std::clamp(idx, 0, n - 1);
    auto k = static_cast<size_t>(idx);
    cairo_save(cr);
    double lx = std::round(xs[k]) + 0.5;
    line(cr, lx, y, lx, bottom);
    set(cr, with_alpha(p.dim, 0.6));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    dot(cr, xs[k], yr[k], 3.5, p.down);
    dot(cr, xs[k], yt[k], 3.5, p.up);

    const std::string age = "-" + fmt::duration((n - 1 - idx) * o.span_s / (total - 1));
    const std::string r1 = fmt::rate(rx[k], o.bits), r2 = fmt::rate(tx[k], o.bits);
    double wide = std::max({text_width(cr, age, 11, false), text_width(cr, r1, 12, false),
                            text_width(cr, r2, 12, false)});
    double bw = 34 + wide, bh = 64, by = y + 8;
    double bx = o.hover_x + 12;
    if (bx + bw > cx0 + cw) bx = o.hover_x - 12 - bw;
    rounded(cr, bx, by, bw, bh, 8);
    set(cr, with_alpha(p.surface2, 0.97));
    cairo_fill_preserve(cr);
    set(cr, p.border);
    cairo_stroke(cr);
    TextStyle st;
    st.tnum = true;
    st.middle = true;
    st.size = 11;
    text(cr, age, bx + 10, by + 13, p.faint, st);
    st.size = 12;
    arrow(cr, bx + 14, by + 32, 10, false, p.down);
    text(cr, r1, bx + 24, by + 32, p.text, st);
    arrow(cr, bx + 14, by + 51, 10, true, p.up);
    text(cr, r2, bx + 24, by + 51, p.text, st);
    cairo_restore(cr);
}

// ---- icon export ------------------------------------------------------------------------

bool render_icon(const std::string& size_text, const std::string& file) {
    long size = strtol(size_text.c_str(), nullptr, 10);
    if (size < 1 || size > 32767) return false;
    cairo_surface_t* surf =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(size), static_cast<int>(size));
    if (cairo_surface_status(surf) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surf);
        return false;
    }
    cairo_t* cr = cairo_create(surf);
    const double s = static_cast<double>(size);
    app_logo(cr, s * 0.5, s * 0.5, s * 0.46, Palette::make(false));
    cairo_destroy(cr);
    bool ok = cairo_surface_write_to_png(surf, file.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surf);
    return ok;
}

} // namespace gfx
