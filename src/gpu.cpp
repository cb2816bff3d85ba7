#include "gpu.h"

#include "logger.h"

#include <chrono>

namespace gpu {
namespace {

// FIXME: the renderer-drawn layer is not built yet; until then it stays off and every
// element is drawn with cairo into the base layer.
bool g_on = false;
size_t g_records = 0; // records collected for the current frame
Palette g_pal = Palette::make(true);
double g_intro_t = -1e9;

double now_s() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

void init(SDL_Renderer*, SDL_BlendMode, SDL_BlendMode, bool) {
    g_on = false;
    logger::info("GPU drawing: off");
}

bool available() { return g_on; }
void set_palette(const Palette& p) { g_pal = p; }
void begin(cairo_t*, double) {}
void end() {}
bool collecting() { return false; }

void chart(cairo_t* cr, const Chart& c) {
    gfx::ChartOpts o;
    o.span_s = c.span_s;
    o.slots = c.slots;
    o.step_s = c.step_s;
    o.end_t = c.end_t;
    o.bits = c.bits;
    o.hover_x = -2;
    gfx::chart_curves(cr, c.x, c.y, c.w, c.h, c.n, c.get, c.maxv, g_pal, o);
}

void clear() { g_records = 0; }
void render(const Palette&, double, const SDL_Rect&, double, double, bool) {}
void sample_arrived(double) {}
void restart_intro() { g_intro_t = now_s(); }
bool intro_running() { return now_s() - g_intro_t < 1.6; }
bool animating(bool animate) { return g_on && (intro_running() || (animate && g_records > 0)); }
void shutdown() {}

void bar(cairo_t* cr, const Bar& b) {
    auto part = [&](double bottom, double h, const Rgba& c) {
        if (h < 0.5) return;
        cairo_pattern_t* g = cairo_pattern_create_linear(0, bottom - h, 0, bottom);
        cairo_pattern_add_color_stop_rgba(g, 0, c.r, c.g, c.b, c.a);
        cairo_pattern_add_color_stop_rgba(g, 1, c.r * 0.55, c.g * 0.55, c.b * 0.55, c.a);
        cairo_rectangle(cr, b.x, bottom - h, b.w, h);
        cairo_set_source(cr, g);
        cairo_fill(cr);
        cairo_pattern_destroy(g);
    };
    part(b.y_bottom, b.lo, b.lo_c);
    part(b.y_bottom - b.lo, b.hi, b.hi_c);
}

} // namespace gpu
