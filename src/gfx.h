// Colours, the two theme palettes and the drawing primitives every page uses: text with a
// font cache, the rack look (panels, screws, recessed displays), icons and rate charts.
#pragma once

#include "net_stats.h"

#include <cairo.h>
#include <cstdint>
#include <functional>
#include <string>

struct Rgba {
    double r = 0, g = 0, b = 0, a = 1;
};

// "#RRGGBB" or "RRGGBB" with each channel / 255 and alpha `a`.
Rgba hex(const std::string& h, double a = 1.0);

struct Palette {
    bool dark = true;
    Rgba bg, surface, surface2, border, text, dim, faint, grid, down, up, ok, warn, err, accent,
        chip, chip_on, chip_on_text, hover, select, bg_top, bg_bottom, panel_top, panel_bottom,
        panel_edge, shine, slot, slot_edge, led_off, text_strong, button, button_hot;

    static Palette make(bool dark);
};

namespace gfx {

enum class Align { Left = 0, Center = 1, Right = 2 };

struct TextStyle {
    double size = 13;
    bool bold = false;
    bool tnum = false;
    Align align = Align::Left;
    double max_w = 0;    // above 0: ellipsise at the end to this width
    bool middle = false; // y is the vertical centre instead of the top
};

struct ChartOpts {
    bool axis = true;
    bool time_axis = true;
    double span_s = 300;
    bool bits = false;
    double hover_x = -2; // -1: only the accelerated layer reads out, -2: no read-out
    int slots = 0;       // horizontal positions; 0 = as many as points
    double step_s = 1;
    double end_t = 0; // epoch of the right edge; 0 or less = now, relative labels
};

// Point i of a chart: receive and transmit rate in bytes per second, 0 = oldest.
using SeriesFn = std::function<void(int i, double* rx, double* tx)>;

// ---- colours and shapes ----
void set(cairo_t* cr, const Rgba& c);
void rounded(cairo_t* cr, double x, double y, double w, double h, double r);
void window_bg(cairo_t* cr, double w, double h, const Palette& p);
Rgba vu_color(double f, const Palette& p);
void dot(cairo_t* cr, double cx, double cy, double r, const Rgba& c);

// ---- rack look ----
void screw(cairo_t* cr, double cx, double cy, double rot, const Palette& p);
void rack(cairo_t* cr, double x, double y, double w, double h, const Palette& p, const Rgba& strip,
          bool lit, int seed, bool hot);
void card(cairo_t* cr, double x, double y, double w, double h, const Palette& p, bool hover);
// A dialog's body: a soft shadow below, the panel gradient and its edge.
void modal_panel(cairo_t* cr, double x, double y, double w, double h, const Palette& p);
// The interface's figure style: tabular digits, vertically centred on y.
TextStyle ui_style(double size, bool bold, Align align = Align::Left, double max_w = 0);
void display(cairo_t* cr, double x, double y, double w, double h, const Palette& p, bool grid);
void device_button(cairo_t* cr, double x, double y, double s, int kind, bool hot, const Palette& p);

// ---- icons ----
void arrow(cairo_t* cr, double cx, double cy, double s, bool up, const Rgba& c);
void gear(cairo_t* cr, double cx, double cy, double r, const Rgba& c);
void icon_mini(cairo_t* cr, double cx, double cy, double r, const Rgba& c);
void icon_expand(cairo_t* cr, double cx, double cy, double r, const Rgba& c);
void signal_bars(cairo_t* cr, double x, double y, double h, int level, const Rgba& on,
                 const Rgba& off);
void kind_icon(cairo_t* cr, net::Kind k, double cx, double cy, double r, const Rgba& c);
void app_logo(cairo_t* cr, double cx, double cy, double r, const Palette& p);

// ---- text ----
double text(cairo_t* cr, const std::string& s, double x, double y, const Rgba& c,
            const TextStyle& st);
double caption(cairo_t* cr, const std::string& s, double x, double y, const Palette& p,
               const Rgba* color = nullptr);
double text_width(cairo_t* cr, const std::string& s, double size, bool bold);
// Word-wrapped to `w` (st.max_w and st.align are ignored); returns the height. A null
// colour only measures.
double wrapped(cairo_t* cr, const std::string& s, double x, double y, double w, const Rgba* c,
               const TextStyle& st);
double rainbow_text(cairo_t* cr, const std::string& s, double x, double y, double size, bool dark);
double rate_width(cairo_t* cr, double size, bool bold, bool bits);
double bytes_width(cairo_t* cr, double size, bool bold);

// ---- charts ----
double nice_max(double v);
double log_frac(double bps, double cap);
void smooth_path(cairo_t* cr, const double* xs, const double* ys, int n);
double chart(cairo_t* cr, double x, double y, double w, double h, int n, const SeriesFn& get,
             const Palette& p, const ChartOpts& o);
void chart_curves(cairo_t* cr, double cx0, double y, double cw, double ch, int n,
                  const SeriesFn& get, double maxv, const Palette& p, const ChartOpts& o);

// The scale top a chart of these points gets (bytes per second), as `chart` returns it.
double chart_scale(int n, const SeriesFn& get, bool bits);

// Writes the application mark as a size × size PNG. False when size < 1 or writing failed.
bool render_icon(const std::string& size_text, const std::string& file);

} // namespace gfx
