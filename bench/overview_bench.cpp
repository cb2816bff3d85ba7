// The overview's cost with 20 device cards at 1200 × 760: one cairo repaint of the page
// (charts handed to the accelerated layer), and one frame of the accelerated layer drawn
// by the SDL renderer. The second needs a display (run it under Xvfb for Mesa's software
// OpenGL); without one it is skipped.
//
//   build/bin/overview_bench
#include "app.h"
#include "gpu.h"

#include <benchmark/benchmark.h>

namespace {

// 20 devices with an hour of varied rates.
void feed(App& app) {
    app.reset_history();
    std::vector<net::Interface> list;
    for (int i = 0; i < 20; ++i) {
        net::Interface f;
        f.name = "veth" + std::to_string(i);
        f.kind = net::Kind::Virtual;
        f.admin_up = f.carrier = true;
        f.operstate = "up";
        f.speed_mbps = 10000;
        f.ipv4 = {"10.0." + std::to_string(i) + ".1/24"};
        list.push_back(f);
    }
    uint64_t bytes = 0;
    for (int t = 0; t < 400; ++t) {
        App::Out o;
        o.counters.t = 1 + t;
        bytes += 50000 + (t * 7919) % 90000;
        for (const auto& f : list) {
            net::Counters c;
            c.rx_bytes = bytes;
            c.tx_bytes = bytes / 3;
            c.rx_packets = bytes / 1000;
            o.counters.names.push_back(f.name);
            o.counters.values.push_back(c);
        }
        o.ifaces = list;
        o.has_ifaces = t == 0;
        app.consume(o);
    }
}

void BM_PaintOverview(benchmark::State& state) {
    App app;
    app.m_W = 1200;
    app.m_H = 760;
    feed(app);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 760);
    // Argument 1: the charts, meters and LEDs go to the accelerated layer as records.
    gpu::force_on(state.range(0) == 1);
    for (auto _ : state) {
        cairo_t* cr = cairo_create(s);
        app.m_hits.clear();
        gpu::clear();
        gpu::begin(cr, 1);
        app.paint_overview(cr, 1200);
        gpu::end();
        cairo_destroy(cr);
        cairo_surface_flush(s);
    }
    gpu::force_on(false);
    cairo_surface_destroy(s);
}
BENCHMARK(BM_PaintOverview)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_GpuRender(benchmark::State& state) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        state.SkipWithError("no display");
        return;
    }
    SDL_Window* win = SDL_CreateWindow("bench", 0, 0, 1200, 760, SDL_WINDOW_HIDDEN);
    SDL_Renderer* ren = win ? SDL_CreateRenderer(win, -1, SDL_RENDERER_ACCELERATED) : nullptr;
    if (!ren) {
        state.SkipWithError("no accelerated renderer");
        if (win) SDL_DestroyWindow(win);
        return;
    }
    const SDL_BlendMode premul = SDL_ComposeCustomBlendMode(
        SDL_BLENDFACTOR_ONE, SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA, SDL_BLENDOPERATION_ADD,
        SDL_BLENDFACTOR_ONE, SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA, SDL_BLENDOPERATION_ADD);
    gpu::init(ren, premul, premul, false);
    App app;
    app.m_W = 1200;
    app.m_H = 760;
    feed(app);
    gpu::set_palette(app.m_pal);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 760);
    cairo_t* cr = cairo_create(s);
    gpu::clear();
    gpu::begin(cr, 1);
    cairo_translate(cr, 0, App::kHeaderH);
    app.paint_overview(cr, 1200);
    gpu::end();
    cairo_destroy(cr);
    if (state.range(0) == 0) gpu::clear(); // the frame's clear and present alone, for comparison
    state.counters["charts"] = static_cast<double>(gpu::records().charts.size());
    const SDL_Rect view{0, 88, 1200, 646};
    for (auto _ : state) {
        SDL_RenderClear(ren);
        gpu::render(app.m_pal, 1, view, 600, 300, true);
        SDL_RenderPresent(ren);
    }
    cairo_surface_destroy(s);
    gpu::shutdown();
    SDL_DestroyRenderer(ren);
    SDL_DestroyWindow(win);
}
BENCHMARK(BM_GpuRender)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace
