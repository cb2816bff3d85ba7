#include "gpu.h"

#include "format.h"
#include "logger.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <dlfcn.h>
#include <map>
#include <utility>

namespace gpu {
namespace {

using GeometryFn = int (*)(SDL_Renderer*, SDL_Texture*, const SDL_Vertex*, int, const int*, int);

SDL_Renderer* g_ren = nullptr;
SDL_BlendMode g_premul = SDL_BLENDMODE_BLEND;
bool g_premul_ok = false;
GeometryFn g_geometry = nullptr;
bool g_on = false;
bool g_collect = false;
cairo_t* g_cr = nullptr;
double g_scale = 1;
double g_k = 1;
Palette g_pal = Palette::make(true);
Records g_rec;
std::vector<SDL_Vertex> g_v;
std::map<std::string, double> g_ease;
std::map<std::string, Level> g_peak;
double g_last = -1;
double g_interval = 1;
double g_sample_t = -1;
double g_intro_t = -1e9;
SDL_Texture* g_tip = nullptr;
std::string g_tip_key;
int g_tip_w = 0, g_tip_h = 0;
bool g_trace = false;
Records g_traced;
std::function<double()> g_clock;

double now() {
    if (g_clock) return g_clock();
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The record's corner in points of the page: the context's transformation undone down to
// the logical scale, so page offsets and scrolling are applied.
void to_points(cairo_t* cr, double& x, double& y) {
    cairo_user_to_device(cr, &x, &y);
    double sx = 1, sy = 1;
    cairo_surface_get_device_scale(cairo_get_target(cr), &sx, &sy);
    const double f = sx / (g_collect ? g_scale : sx);
    x *= f;
    y *= f;
}

Rgba scaled(const Rgba& c, double f, double add) {
    return Rgba{std::min(1.0, c.r * f + add), std::min(1.0, c.g * f + add),
                std::min(1.0, c.b * f + add), c.a};
}

void fill_vertical(cairo_t* cr, double y0, double y1, const Rgba& top, const Rgba& bottom) {
    cairo_pattern_t* g = cairo_pattern_create_linear(0, y0, 0, y1);
    cairo_pattern_add_color_stop_rgba(g, 0, top.r, top.g, top.b, top.a);
    cairo_pattern_add_color_stop_rgba(g, 1, bottom.r, bottom.g, bottom.b, bottom.a);
    cairo_set_source(cr, g);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
}

// ---- vertex building -------------------------------------------------------------------

struct Pt {
    double x, y;
};

void flush() {
    if (!g_v.empty() && g_geometry && g_ren)
        g_geometry(g_ren, nullptr, g_v.data(), static_cast<int>(g_v.size()), nullptr, 0);
    g_v.clear();
}

void vtx(double x, double y, SDL_Color c) {
    SDL_Vertex v{};
    v.position = SDL_FPoint{static_cast<float>(x), static_cast<float>(y)};
    v.color = c;
    g_v.push_back(v);
}

void tri(Pt a, SDL_Color ca, Pt b, SDL_Color cb, Pt c, SDL_Color cc) {
    vtx(a.x, a.y, ca);
    vtx(b.x, b.y, cb);
    vtx(c.x, c.y, cc);
}

// Quad a-b-c-d (in order around its edge).
void quad(Pt a, SDL_Color ca, Pt b, SDL_Color cb, Pt c, SDL_Color cc, Pt d, SDL_Color cd) {
    tri(a, ca, b, cb, c, cc);
    tri(a, ca, c, cc, d, cd);
}

// A disc fading from `inner` at the centre to `outer` at radius r (pixels).
void disc(double cx, double cy, double r, SDL_Color inner, SDL_Color outer) {
    const int n = std::clamp(static_cast<int>(r * 1.5), 10, 40);
    for (int i = 0; i < n; ++i) {
        const double a0 = 2 * M_PI * i / n, a1 = 2 * M_PI * (i + 1) / n;
        tri({cx, cy}, inner, {cx + r * std::cos(a0), cy + r * std::sin(a0)}, outer,
            {cx + r * std::cos(a1), cy + r * std::sin(a1)}, outer);
    }
}

SDL_Color rgba_of(const Rgba& c, double f, bool additive) {
    return to_color(c, f, g_premul_ok, additive);
}

// A line with a soft halo and an anti-aliased core; widths in points, points in pixels.
void glow_line(const std::vector<Pt>& p, const Rgba& c, double core, double halo, double halo_a,
               bool additive) {
    if (p.size() < 2) return;
    const double k = g_k;
    const double wc = core * k, wh = halo * k, wa = (core + 1) * k;
    const Rgba light = scaled(c, 0.95, 0.04);
    const SDL_Color full = rgba_of(light, 1, additive), clear = rgba_of(light, 0, additive);
    const SDL_Color hin = rgba_of(c, halo_a, additive), hout = rgba_of(c, 0, additive);
    Pt prev_n{0, 0};
    bool have_prev = false;
    for (size_t i = 1; i < p.size(); ++i) {
        const double dx = p[i].x - p[i - 1].x, dy = p[i].y - p[i - 1].y;
        const double len = std::hypot(dx, dy);
        if (len < 1e-6) continue;
        const Pt nrm{-dy / len, dx / len};
        const Pt a = p[i - 1], b = p[i];
        auto at = [&](Pt q, double w) { return Pt{q.x + nrm.x * w, q.y + nrm.y * w}; };
        quad(at(a, -wc), full, at(b, -wc), full, at(b, wc), full, at(a, wc), full); // the core
        for (double s : {1.0, -1.0}) {
            quad(at(a, s * wc), hin, at(b, s * wc), hin, at(b, s * wh), hout, at(a, s * wh), hout);
            quad(at(a, s * wc), full, at(b, s * wc), full, at(b, s * wa), clear, at(a, s * wa),
                 clear);
        }
        const double turn =
            have_prev ? std::remainder(std::atan2(nrm.y, nrm.x) - std::atan2(prev_n.y, prev_n.x),
                                       2 * M_PI)
                      : 0;
        // Round join on the outer side of a bend, where the two ribbons leave a wedge open
        // (on the inner side they overlap). Slight bends leave a wedge too thin to see.
        if (have_prev && std::fabs(turn) > 0.25) {
            const double a0 = std::atan2(prev_n.y, prev_n.x) + (turn > 0 ? M_PI : 0);
            const int steps = std::max(1, static_cast<int>(std::fabs(turn) / 0.35));
            for (int j = 0; j < steps; ++j) {
                const double t0 = a0 + turn * j / steps, t1 = a0 + turn * (j + 1) / steps;
                auto at = [&](double t, double r) {
                    return Pt{a.x + r * std::cos(t), a.y + r * std::sin(t)};
                };
                tri(a, full, at(t0, wc), full, at(t1, wc), full);
                quad(at(t0, wc), hin, at(t1, wc), hin, at(t1, wh), hout, at(t0, wh), hout);
            }
        }
        prev_n = nrm;
        have_prev = true;
    }
}

// The midpoint curve of the cairo charts, sampled into points.
std::vector<Pt> smooth(const std::vector<Pt>& p) {
    if (p.size() < 3) return p;
    std::vector<Pt> out{p[0]};
    Pt e = p[0];
    for (size_t i = 2; i < p.size(); ++i) {
        const Pt q = p[i - 1];
        const Pt m{(p[i - 1].x + p[i].x) / 2, (p[i - 1].y + p[i].y) / 2};
        // Sixths of the piece, but no closer than 2 pixels: finer steps cost triangles
        // nobody can see.
        const double len = std::hypot(m.x - e.x, m.y - e.y);
        const int steps = std::clamp(static_cast<int>(len / 2), 1, 6);
        for (int s = 1; s <= steps; ++s) {
            const double t = static_cast<double>(s) / steps, u = 1 - t;
            out.push_back({u * u * e.x + 2 * u * t * q.x + t * t * m.x,
                           u * u * e.y + 2 * u * t * q.y + t * t * m.y});
        }
        e = m;
    }
    out.push_back(p.back());
    return out;
}

void set_clip(const SDL_Rect* r) {
    flush();
    SDL_RenderSetClipRect(g_ren, r);
}

SDL_Rect intersect(SDL_Rect a, const SDL_Rect& b) {
    SDL_Rect out{};
    if (!SDL_IntersectRect(&a, &b, &out)) out = SDL_Rect{0, 0, 0, 0};
    return out;
}

struct Hover {
    const Chart* c = nullptr;
    int index = -1;
    double x = 0, yr = 0, yt = 0, rx = 0, tx = 0;
};

void render_chart(const Chart& c, const Palette& p, const SDL_Rect& view, double t, double dt,
                  double u_live, double mx, double my, bool additive, Hover& hover) {
    if (c.n < 2 || !c.get) return;
    const double k = g_k;
    SDL_Rect clip{static_cast<int>(std::floor(c.x * k)), static_cast<int>(std::floor(c.y * k)),
                  static_cast<int>(std::ceil(c.w * k)), static_cast<int>(std::ceil(c.h * k))};
    clip = intersect(clip, view);
    if (clip.w <= 0 || clip.h <= 0) return;
    set_clip(&clip);

    auto [it, fresh] = g_ease.try_emplace(c.id, c.maxv);
    if (!fresh) it->second += (c.maxv - it->second) * std::min(6 * dt, 1.0);
    const double top = std::max(it->second, 1e-9);

    const bool live = c.end_t <= 0;
    const double u = live ? u_live : 1;
    const int total = std::max(c.n, c.slots);
    const double spacing = c.w / std::max(total - 2, 1);
    const double right = c.x + c.w;
    const double bottom = c.y + c.h;
    const int group =
        spacing * k > 0.01 ? std::max(1, static_cast<int>(std::lround(2 / (spacing * k)))) : 200;

    // Point i sits (n - 1 - i) spacings left of the right edge, shifted by the part of
    // the interval still to come, so that the chart slides instead of jumping.
    std::vector<Pt> rxp, txp;
    double last_rx = 0, last_tx = 0, prev_rx = 0, prev_tx = 0;
    c.get(c.n - 1, &last_rx, &last_tx);
    c.get(c.n - 2, &prev_rx, &prev_tx);
    const double head_rx = prev_rx + (last_rx - prev_rx) * u;
    const double head_tx = prev_tx + (last_tx - prev_tx) * u;
    auto ypos = [&](double v) { return bottom - std::min(v / top, 1.0) * (c.h - 2); };
    const double first_visible = c.n - 1 - (c.w / spacing) - 2;
    for (int i = std::max(0, static_cast<int>(first_visible)); i < c.n; i += group) {
        double r = 0, s = 0;
        const int last = std::min(c.n - 1, i + group - 1);
        for (int j = i; j <= last; ++j) {
            double a = 0, b = 0;
            if (j == c.n - 1) {
                a = head_rx;
                b = head_tx;
            } else {
                c.get(j, &a, &b);
            }
            r = std::max(r, a);
            s = std::max(s, b);
        }
        const double x = right - (c.n - 1 - last - (1 - u)) * spacing;
        rxp.push_back({x * k, ypos(r) * k});
        txp.push_back({x * k, ypos(s) * k});
    }
    const std::vector<Pt> sr = smooth(rxp), st = smooth(txp);
    const double fill_a[2] = {p.dark ? 0.34 : 0.3, p.dark ? 0.28 : 0.24};
    const std::vector<Pt>* series[2] = {&sr, &st};
    const Rgba colors[2] = {p.down, p.up};
    for (int s = 0; s < 2; ++s) {
        const auto& pts = *series[s];
        for (size_t i = 1; i < pts.size(); ++i) {
            auto col = [&](const Pt& q) {
                const double f = (bottom * k - q.y) / (c.h * k);
                return rgba_of(colors[s], fill_a[s] * c.alpha * (0.2 + 0.8 * f), false);
            };
            const SDL_Color zero = rgba_of(colors[s], 0, false);
            quad(pts[i - 1], col(pts[i - 1]), pts[i], col(pts[i]), {pts[i].x, bottom * k}, zero,
                 {pts[i - 1].x, bottom * k}, zero);
        }
    }
    glow_line(sr, Rgba{p.down.r, p.down.g, p.down.b, p.down.a * c.alpha}, 1.1, 9,
              p.dark ? 0.24 : 0.14, additive);
    glow_line(st, Rgba{p.up.r, p.up.g, p.up.b, p.up.a * c.alpha}, 1.0, 8, p.dark ? 0.22 : 0.12,
              additive);

    if (c.head) {
        const double pulse = 0.75 + 0.25 * std::sin(4 * t);
        const double hx = (right - 1) * k;
        disc(hx, ypos(head_rx) * k, 12 * k, rgba_of(p.down, c.alpha * pulse * 0.5, additive),
             rgba_of(p.down, 0, additive));
        disc(hx, ypos(head_tx) * k, 11 * k, rgba_of(p.up, c.alpha * pulse * 0.5, additive),
             rgba_of(p.up, 0, additive));
    }

    if (c.hover && mx >= c.x && mx < right && my >= c.y && my < bottom) {
        int idx = static_cast<int>(std::lround(c.n - 1 + (1 - u) - (right - mx) / spacing));
        idx = std::clamp(idx, 0, c.n - 1);
        hover.c = &c;
        hover.index = idx;
        c.get(idx, &hover.rx, &hover.tx);
        hover.x = right - (c.n - 1 - idx - (1 - u)) * spacing;
        hover.yr = ypos(hover.rx);
        hover.yt = ypos(hover.tx);
    }
}

void render_tip(const Hover& h, const Palette& p, const SDL_Rect& view, bool additive) {
    const Chart& c = *h.c;
    const double k = g_k;
    SDL_Rect clip{static_cast<int>(c.x * k), static_cast<int>(c.y * k),
                  static_cast<int>(std::ceil(c.w * k)), static_cast<int>(std::ceil(c.h * k))};
    clip = intersect(clip, view);
    set_clip(&clip);
    const SDL_Color line = rgba_of(p.dim, 0.6, false);
    const double lx = std::round(h.x * k);
    quad({lx, c.y * k}, line, {lx + 1, c.y * k}, line, {lx + 1, (c.y + c.h) * k}, line,
         {lx, (c.y + c.h) * k}, line);
    disc(h.x * k, h.yr * k, 9 * k, rgba_of(p.down, 0.9, additive), rgba_of(p.down, 0, additive));
    disc(h.x * k, h.yt * k, 9 * k, rgba_of(p.up, 0.9, additive), rgba_of(p.up, 0, additive));
    flush();

    std::string label;
    const double age = (c.n - 1 - h.index) * c.step_s;
    if (c.end_t > 0)
        label = fmt::moment(c.end_t - age, c.span_s);
    else if (c.span_s > 86400)
        label = fmt::stamp(static_cast<double>(time(nullptr)) - age, true);
    else
        label = "-" + fmt::duration(age);
    const std::string r1 = fmt::rate(h.rx, c.bits), r2 = fmt::rate(h.tx, c.bits);
    const std::string key =
        label + "|" + r1 + "|" + r2 + "|" + std::to_string(k) + (p.dark ? "d" : "l");
    if (key != g_tip_key || !g_tip) {
        const int pw = static_cast<int>(std::ceil(150 * k)),
                  ph = static_cast<int>(std::ceil(66 * k));
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
        cairo_surface_set_device_scale(s, k, k);
        cairo_t* cr = cairo_create(s);
        gfx::rounded(cr, 0.5, 0.5, 149, 64, 8);
        gfx::set(cr, Rgba{p.surface2.r, p.surface2.g, p.surface2.b, 0.96});
        cairo_fill_preserve(cr);
        gfx::set(cr, p.border);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        gfx::TextStyle st;
        st.tnum = true;
        st.middle = true;
        st.size = 11;
        gfx::text(cr, label, 10, 13, p.faint, st);
        st.size = 12;
        gfx::arrow(cr, 14, 32, 10, false, p.down);
        gfx::text(cr, r1, 24, 32, p.text, st);
        gfx::arrow(cr, 14, 51, 10, true, p.up);
        gfx::text(cr, r2, 24, 51, p.text, st);
        cairo_destroy(cr);
        cairo_surface_flush(s);
        if (!g_tip || g_tip_w != pw || g_tip_h != ph) {
            if (g_tip) SDL_DestroyTexture(g_tip);
            g_tip = SDL_CreateTexture(g_ren, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                      pw, ph);
            if (g_tip) SDL_SetTextureBlendMode(g_tip, g_premul_ok ? g_premul : SDL_BLENDMODE_BLEND);
        }
        if (g_tip)
            SDL_UpdateTexture(g_tip, nullptr, cairo_image_surface_get_data(s),
                              cairo_image_surface_get_stride(s));
        cairo_surface_destroy(s);
        g_tip_key = key;
        g_tip_w = pw;
        g_tip_h = ph;
    }
    if (!g_tip) return;
    double bx = h.x + 14;
    if (bx + 150 > c.x + c.w) bx = h.x - 164;
    SDL_Rect dst{static_cast<int>(bx * k), static_cast<int>((c.y + 6) * k), g_tip_w, g_tip_h};
    SDL_RenderCopy(g_ren, g_tip, nullptr, &dst);
}

void render_meter(const Meter& m, const Palette& p, double t, double dt) {
    Level& s = g_peak[m.id];
    s = meter_step(s, m.frac, dt, t);
    const double k = g_k;
    const double len = m.vertical ? m.h : m.w;
    const double pitch = len / std::max(m.segs, 1);
    for (int i = 0; i < m.segs; ++i) {
        const bool lit = segment_lit(s, i, m.segs);
        double x0, y0, x1, y1;
        if (m.vertical) {
            x0 = m.x;
            x1 = m.x + m.w;
            y1 = m.y + m.h - i * pitch - 1;
            y0 = y1 - (pitch - 2);
        } else {
            y0 = m.y;
            y1 = m.y + m.h;
            x0 = m.x + i * pitch + 1;
            x1 = x0 + pitch - 2;
        }
        Rgba c = p.led_off;
        if (lit) c = m.scheme == 0 ? gfx::vu_color((i + 0.5) / m.segs, p) : m.color;
        const SDL_Color top = rgba_of(lit ? scaled(c, 1.15, 0.05) : c, 1, false);
        const SDL_Color bot = rgba_of(lit ? scaled(c, 0.8, 0) : c, 1, false);
        quad({x0 * k, y0 * k}, top, {x1 * k, y0 * k}, top, {x1 * k, y1 * k}, bot, {x0 * k, y1 * k},
             bot);
    }
}

void render_bar(const Bar& b, double t, double dt) {
    const double k = g_k;
    const double since = t - g_intro_t;
    const double f = bar_factor(b.index, since);
    const std::string key = "bar" + std::to_string(b.index);
    double& lo = g_ease[key + "l"];
    double& hi = g_ease[key + "h"];
    if (since < 1.6) {
        lo = b.lo;
        hi = b.hi;
    } else {
        lo += (b.lo - lo) * std::min(6 * dt, 1.0);
        hi += (b.hi - hi) * std::min(6 * dt, 1.0);
    }
    const double x0 = std::round(b.x * k);
    const double x1 = std::max(x0 + 1, std::round((b.x + b.w) * k));
    const double base = b.y_bottom * k;
    const double hlo = lo * f * k, hhi = hi * f * k;
    auto part = [&](double y_bottom, double hgt, const Rgba& c0) {
        if (hgt < 1) return;
        const Rgba c = b.hover ? scaled(c0, 1.1, 0.05) : c0;
        const SDL_Color top = rgba_of(c, 1, false), bot = rgba_of(scaled(c0, 0.55, 0), 1, false);
        const double y0 = y_bottom - hgt;
        quad({x0, y0}, top, {x1, y0}, top, {x1, y_bottom}, bot, {x0, y_bottom}, bot);
        const SDL_Color edge = rgba_of(Rgba{1, 1, 1, 1}, 0.12, false);
        quad({x0, y0}, edge, {x1, y0}, edge, {x1, y0 + 1}, edge, {x0, y0 + 1}, edge);
    };
    part(base, hlo, b.lo_c);
    part(base - hlo, hhi, b.hi_c);
}

void render_led(const Led& l, double t, bool additive) {
    const double k = g_k;
    const double f = led_factor(l.x, l.activity, t);
    disc(l.x * k, l.y * k, 2.8 * l.r * k, rgba_of(l.color, f, additive),
         rgba_of(l.color, 0, additive));
    disc(l.x * k, l.y * k, l.r * k, rgba_of(l.color, f, false), rgba_of(l.color, f * 0.8, false));
}

} // namespace

// ---- arithmetic --------------------------------------------------------------------------

void set_clock(std::function<double()> clock) {
    g_clock = std::move(clock);
}

Level meter_step(Level s, double frac, double dt, double t) {
    const double rate = frac > s.value ? 18 : 3.5;
    s.value += (frac - s.value) * std::min(dt * rate, 1.0);
    if (s.value >= s.peak) {
        s.peak = s.value;
        s.peak_t = t;
    } else if (t - s.peak_t > 1.2) {
        s.peak = std::max(s.value, s.peak - 0.35 * dt);
    }
    return s;
}

bool segment_lit(const Level& s, int i, int segs) {
    if ((i + 0.5) / segs <= s.value) return true;
    const int peak_seg = std::clamp(static_cast<int>(std::floor(s.peak * segs - 0.5)), 0, segs - 1);
    return s.peak > 0.02 && i == peak_seg;
}

double led_factor(double x, double activity, double t) {
    if (activity <= 0) return 0.14;
    const double f = activity > 1 ? 17 : 3 + 14 * activity;
    const double v = (x * 0.013 + t) * f;
    const double phase = v - std::floor(v);
    return phase >= 0.55 ? 0.35 : 1;
}

double bar_factor(int index, double since) {
    const double p = std::clamp((since - 0.022 * index) / 0.6, 0.0, 1.0);
    return 1 - std::pow(1 - p, 3);
}

double interval_estimate() {
    return g_interval;
}

bool glow_additive(bool dark, bool premul_ok) {
    return dark && premul_ok;
}

SDL_Color to_color(const Rgba& c, double factor, bool premul, bool additive) {
    const double a = std::clamp(c.a * factor, 0.0, 1.0);
    auto ch = [](double v) {
        return static_cast<Uint8>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
    };
    if (premul)
        return SDL_Color{ch(c.r * a), ch(c.g * a), ch(c.b * a), additive ? Uint8{0} : ch(a)};
    return SDL_Color{ch(c.r), ch(c.g), ch(c.b), ch(a)};
}

const Records& records() {
    return g_rec;
}
void force_on(bool on) {
    g_on = on;
}
void trace_fallback(bool on) {
    g_trace = on;
    g_traced = Records{};
}
const Records& fallback_trace() {
    return g_traced;
}
void note_fallback(cairo_t* cr, double x, double y, double w, double h) {
    if (!g_trace) return;
    Chart c;
    c.x = x;
    c.y = y;
    c.w = w;
    c.h = h;
    to_points(cr, c.x, c.y);
    g_traced.charts.push_back(std::move(c));
}

// ---- lifecycle ---------------------------------------------------------------------------

void init(SDL_Renderer* ren, SDL_BlendMode premul, SDL_BlendMode, bool software) {
    g_ren = ren;
    g_premul = premul;
    g_geometry = nullptr;
    // Looked up at run time: the program also starts on SDL builds from before 2.0.18.
    if (void* lib = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD))
        g_geometry = reinterpret_cast<GeometryFn>(dlsym(lib, "SDL_RenderGeometry"));
    else if (void* lib2 = dlopen("libSDL2-2.0.so.0", RTLD_NOW))
        g_geometry = reinterpret_cast<GeometryFn>(dlsym(lib2, "SDL_RenderGeometry"));
    g_premul_ok =
        ren && SDL_SetRenderDrawBlendMode(ren, premul) == 0 && premul != SDL_BLENDMODE_BLEND;
    if (!g_premul_ok && ren) SDL_SetRenderDrawBlendMode(ren, SDL_BLENDMODE_BLEND);
    g_on = g_geometry != nullptr && ren != nullptr && !software;
    std::string line = std::string("GPU drawing: ") + (g_on ? "on" : "off");
    if (!g_on && !g_geometry) line += " (SDL before 2.0.18)";
    if (!g_on && software) line += " (software renderer)";
    if (g_premul_ok) line += ", premultiplied blending";
    logger::info(line);
}

bool available() {
    return g_on;
}

void set_palette(const Palette& p) {
    g_pal = p;
}

void begin(cairo_t* cr, double logical_scale) {
    if (!g_on) return;
    g_collect = true;
    g_cr = cr;
    g_scale = logical_scale > 0 ? logical_scale : 1;
}

void end() {
    g_collect = false;
    g_cr = nullptr;
}

bool collecting() {
    return g_collect;
}

void clear() {
    g_rec.charts.clear();
    g_rec.meters.clear();
    g_rec.leds.clear();
    g_rec.bars.clear();
}

// ---- drawing calls -----------------------------------------------------------------------

void chart(cairo_t* cr, const Chart& c) {
    Chart r = c;
    to_points(cr, r.x, r.y);
    if (g_collect && cr == g_cr) {
        g_rec.charts.push_back(std::move(r));
        return;
    }
    if (g_trace) g_traced.charts.push_back(r);
    gfx::ChartOpts o;
    o.span_s = c.span_s;
    o.slots = c.slots;
    o.step_s = c.step_s;
    o.end_t = c.end_t;
    o.bits = c.bits;
    o.hover_x = -2;
    if (c.alpha < 1) cairo_push_group(cr);
    gfx::chart_curves(cr, c.x, c.y, c.w, c.h, c.n, c.get, c.maxv, g_pal, o);
    if (c.alpha < 1) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, c.alpha);
    }
}

void meter(cairo_t* cr, const Meter& m) {
    Meter r = m;
    to_points(cr, r.x, r.y);
    if (g_collect && cr == g_cr) {
        g_rec.meters.push_back(std::move(r));
        return;
    }
    if (g_trace) g_traced.meters.push_back(r);
    const Palette& p = g_pal;
    const double len = m.vertical ? m.h : m.w;
    const double pitch = len / std::max(m.segs, 1);
    for (int i = 0; i < m.segs; ++i) {
        const bool lit = (i + 0.5) / m.segs <= m.frac;
        if (m.vertical)
            gfx::rounded(cr, m.x, m.y + m.h - (i + 1) * pitch + 1, m.w, pitch - 2, 1.2);
        else
            gfx::rounded(cr, m.x + i * pitch + 1, m.y, pitch - 2, m.h, 1.2);
        gfx::set(cr, !lit            ? p.led_off
                     : m.scheme == 0 ? gfx::vu_color((i + 0.5) / m.segs, p)
                                     : m.color);
        cairo_fill(cr);
    }
}

void led(cairo_t* cr, const Led& l) {
    Led r = l;
    to_points(cr, r.x, r.y);
    if (g_collect && cr == g_cr) {
        g_rec.leds.push_back(r);
        return;
    }
    if (g_trace) g_traced.leds.push_back(r);
    cairo_arc(cr, l.x, l.y, l.r, 0, 2 * M_PI);
    Rgba c = l.color;
    if (l.activity <= 0) c.a *= 0.2;
    gfx::set(cr, c);
    cairo_fill(cr);
}

void bar(cairo_t* cr, const Bar& b) {
    Bar r = b;
    to_points(cr, r.x, r.y_bottom);
    if (g_collect && cr == g_cr) {
        g_rec.bars.push_back(r);
        return;
    }
    if (g_trace) g_traced.bars.push_back(r);
    if (b.lo >= 0.5) {
        cairo_rectangle(cr, b.x, b.y_bottom - b.lo, b.w, b.lo);
        fill_vertical(cr, b.y_bottom - b.lo, b.y_bottom, b.lo_c, scaled(b.lo_c, 0.55, 0));
    }
    if (b.hi >= 0.5) {
        const double top = b.y_bottom - std::max(b.lo, 0.0) - b.hi;
        cairo_rectangle(cr, b.x, top, b.w, b.hi);
        fill_vertical(cr, top, top + b.hi, b.hi_c, scaled(b.hi_c, 0.55, 0));
    }
}

// ---- frame -------------------------------------------------------------------------------

void render(const Palette& p, double k, const SDL_Rect& view, double mx, double my, bool animate) {
    if (!g_on || !g_ren || !g_geometry) return;
    const double t = now();
    const double dt = g_last < 0 ? 0.016 : std::clamp(t - g_last, 0.0, 0.1);
    g_last = t;
    g_k = k;
    SDL_SetRenderDrawBlendMode(g_ren, g_premul_ok ? g_premul : SDL_BLENDMODE_BLEND);
    const bool additive = glow_additive(p.dark, g_premul_ok);
    const double u =
        animate ? std::clamp((t - g_sample_t) / std::max(g_interval, 0.05), 0.0, 1.0) : 1.0;

    Hover hover;
    for (const Chart& c : g_rec.charts) render_chart(c, p, view, t, dt, u, mx, my, additive, hover);
    set_clip(&view);
    for (const Bar& b : g_rec.bars) render_bar(b, t, dt);
    for (const Meter& m : g_rec.meters) render_meter(m, p, t, dt);
    for (const Led& l : g_rec.leds) render_led(l, t, additive);
    flush();
    if (hover.c) render_tip(hover, p, view, additive);
    flush();
    SDL_RenderSetClipRect(g_ren, nullptr);
}

void sample_arrived(double interval) {
    const double t = now();
    const double gap = t - g_sample_t;
    if (g_sample_t >= 0 && gap > 0.1 && gap < 3 * interval)
        g_interval = 0.7 * g_interval + 0.3 * gap;
    else
        g_interval = interval;
    g_sample_t = t;
}

void restart_intro() {
    g_intro_t = now();
}
bool intro_running() {
    return now() - g_intro_t < 1.6;
}

bool animating(bool animate) {
    const bool any = !g_rec.charts.empty() || !g_rec.meters.empty() || !g_rec.leds.empty() ||
                     !g_rec.bars.empty();
    return g_on && ((intro_running() && !g_rec.bars.empty()) || (animate && any));
}

void shutdown() {
    if (g_tip) SDL_DestroyTexture(g_tip);
    g_tip = nullptr;
    g_tip_key.clear();
}

} // namespace gpu
