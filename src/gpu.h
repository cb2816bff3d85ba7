// The accelerated chart layer: charts (and later meters, LEDs and bars) drawn by the SDL
// renderer between the two cairo layers. While it is off, every call draws with cairo.
#pragma once

#include "gfx.h"

#include <SDL.h>
#include <cairo.h>
#include <string>

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

void init(SDL_Renderer* ren, SDL_BlendMode premul, SDL_BlendMode fallback, bool software);
bool available();
void set_palette(const Palette& p);
void begin(cairo_t* cr, double logical_scale);
void end();
bool collecting();
void chart(cairo_t* cr, const Chart& c);
void clear();
void render(const Palette& p, double k, const SDL_Rect& view, double mx, double my, bool animate);
void sample_arrived(double interval);
void restart_intro();
bool intro_running();
// True while the layer is on and either runs its intro or, with `animate`, holds records
// that move on screen; otherwise every frame would be the same as the last.
bool animating(bool animate);
void shutdown();

// One bar of the statistics charts: `lo` stacked under `hi`, both heights in points above
// `y_bottom`; `index` staggers the intro.
struct Bar {
    double x = 0, y_bottom = 0, w = 0;
    double lo = 0, hi = 0;
    Rgba lo_c, hi_c;
    int index = 0;
    bool hover = false;
};
void bar(cairo_t* cr, const Bar& b);

} // namespace gpu
