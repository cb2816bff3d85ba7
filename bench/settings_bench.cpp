// The overlay's panels: one repaint of the settings panel per tab (with twelve devices on
// the Devices tab) and of the languages panel with every language.
//
//   build/bin/settings_bench
#include "app.h"
#include "l10n.h"

#include <benchmark/benchmark.h>

namespace {

void repaint(benchmark::State& state, App& app) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 760);
    for (auto _ : state) {
        cairo_t* cr = cairo_create(s);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        app.paint_over(cr);
        cairo_destroy(cr);
        cairo_surface_flush(s);
    }
    cairo_surface_destroy(s);
}

void BM_SettingsTab(benchmark::State& state) {
    L10n::setLanguage("en");
    App app;
    app.m_W = 1200;
    app.m_H = 760;
    for (int i = 0; i < 12; ++i) {
        IfState& d = app.m_if["eth" + std::to_string(i)];
        d.info.name = "eth" + std::to_string(i);
        d.info.kind = net::Kind::Ethernet;
    }
    app.open_settings(static_cast<int>(state.range(0)));
    repaint(state, app);
}
BENCHMARK(BM_SettingsTab)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

void BM_LanguagesPanel(benchmark::State& state) {
    L10n::setLanguage("en");
    App app;
    app.m_W = 1200;
    app.m_H = 760;
    app.open_settings(0);
    app.m_modal = App::Modal::Languages;
    state.counters["entries"] = static_cast<double>(L10n::available().size() + 1);
    if (state.range(0) == 0) {
        repaint(state, app); // the overlay as shown: the settings panel beneath it
        return;
    }
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 760);
    for (auto _ : state) {
        cairo_t* cr = cairo_create(s);
        app.m_over_hits.clear();
        app.paint_languages(cr, 1200, 760);
        cairo_destroy(cr);
    }
    cairo_surface_destroy(s);
}
BENCHMARK(BM_LanguagesPanel)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
