// The accelerated chart layer: charts, level meters, LEDs and statistic bars drawn by the
// SDL renderer as triangles between the two cairo layers, animated every frame. While a
// page paints in collecting mode the drawing calls below hand over records; otherwise, or
// where the renderer cannot draw geometry, they draw with cairo at once.
#pragma once

#include "gfx.h"

#include <SDL.h>
#include <cairo.h>
#include <functional>
#include <string>
#include <vector>

namespace gpu {

struct Chart {
    std::string id;
    double x = 0, y = 0, w = 0, h = 0;
    int n = 0;
    int slots = 0;
    gfx::SeriesFn get;
    double maxv = 1000;
    double span_s = 300, step_s = 1, end_t = 0;
    bool bits = false;
    bool hover = false;
    double alpha = 1;
    bool head = true;
};

struct Meter {
    std::string id;
    double x = 0, y = 0, w = 0, h = 0;
    int segs = 10;
    bool vertical = true;
    double frac = 0;
    int scheme = 0; // 0: colours by level, otherwise `color`
    Rgba color;
};

struct Led {
    double x = 0, y = 0, r = 3;
    Rgba color;
    double activity = 0;
};

struct Bar {
    double x = 0, y_bottom = 0, w = 0;
    double lo = 0, hi = 0;
    Rgba lo_c, hi_c;
    int index = 0;
    bool hover = false;
};

void init(SDL_Renderer* ren, SDL_BlendMode premul, SDL_BlendMode fallback, bool software);
bool available();
void set_palette(const Palette& p);
void begin(cairo_t* cr, double logical_scale);
void end();
bool collecting();
void chart(cairo_t* cr, const Chart& c);
void meter(cairo_t* cr, const Meter& m);
void led(cairo_t* cr, const Led& l);
void bar(cairo_t* cr, const Bar& b);
void clear();
void render(const Palette& p, double k, const SDL_Rect& view, double mx, double my, bool animate);
void sample_arrived(double interval);
void restart_intro();
bool intro_running();
// True while the layer is on and either runs its intro or, with `animate`, holds records
// that move on screen; otherwise every frame would be the same as the last.
bool animating(bool animate);
void shutdown();

// ---- the arithmetic of the animation, exposed for tests --------------------------------

// The clock every animation reads (monotonic seconds); tests pin it. Null restores it.
void set_clock(std::function<double()> clock);

// One meter's eased fill and its peak hold.
struct Level {
    double value = 0;
    double peak = 0;
    double peak_t = 0; // when the peak was last raised
};
Level meter_step(Level s, double frac, double dt, double t);
// Whether segment i of `segs` is lit for this level.
bool segment_lit(const Level& s, int i, int segs);
// Alpha factor of an LED at x with this activity at time t.
double led_factor(double x, double activity, double t);
// Height factor of bar `index` `since` seconds after the intro started.
double bar_factor(int index, double since);
// The current estimate of the sampling interval.
double interval_estimate();
// Glows and discs add light only on a dark background with premultiplied blending.
bool glow_additive(bool dark, bool premul_ok);
// An Rgba times `factor` as the renderer's colour under the blending rules.
SDL_Color to_color(const Rgba& c, double factor, bool premul, bool additive);

// What the current page handed over (positions in device-independent points).
struct Records {
    std::vector<Chart> charts;
    std::vector<Meter> meters;
    std::vector<Led> leds;
    std::vector<Bar> bars;
};
const Records& records();
// Tests: turn collecting on without a renderer (render then draws nothing), and record
// the device-independent rectangles the cairo fallback draws into `fallback_trace()`.
void force_on(bool on);
void trace_fallback(bool on);
const Records& fallback_trace();
// The chart rectangle cairo drew itself, for the trace.
void note_fallback(cairo_t* cr, double x, double y, double w, double h);

} // namespace gpu
