// The table pages with 10,000 connections from 200 processes, the shape the socket
// benchmarks hold open: one refill of each page, one paint of the connections page at
// 1200 × 760, and one typed filter character from the key to the painted layer.
//
// The snapshot is built in memory, because refills and painting read nothing else; how long
// the tracker takes to produce such a snapshot is net_procs_bench's measure.
#include "app.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kConns = 10000;
constexpr int kProcs = 200;

void fill_snapshot(App& app) {
    procs::Snapshot s;
    s.diag_ok = true;
    s.t = 5000;
    for (int p = 0; p < kProcs; ++p) {
        procs::Proc pr;
        pr.pid = 1000 + p;
        pr.name = "worker" + std::to_string(p % 40);
        pr.cmdline = "/usr/bin/" + pr.name + " --serve --port " + std::to_string(p);
        pr.user = "ana";
        s.procs.push_back(pr);
    }
    for (int i = 0; i < kConns; ++i) {
        procs::Conn c;
        c.cookie = static_cast<uint64_t>(i + 1);
        c.pid = 1000 + i % kProcs;
        c.proto = i % 10 == 0 ? 17 : 6;
        c.state = 1;
        c.local_ip = "10.0.0.1";
        c.local_port = 20000 + i;
        c.remote_ip = i % 3 == 0
                          ? "2001:db8::" + std::to_string(i % 500)
                          : "198.51." + std::to_string(i % 50) + "." + std::to_string(i % 200);
        c.remote_port = i % 2 ? 443 : 8000 + i % 100;
        c.has_bytes = c.proto == 6;
        c.rx_rate = (i % 7) * 1234.5;
        c.tx_rate = (i % 5) * 321.0;
        c.rx_bytes = static_cast<uint64_t>(i) * 1000;
        c.tx_bytes = static_cast<uint64_t>(i) * 300;
        c.rtt_us = c.proto == 6 ? 1200 + i % 30000 : 0;
        c.first_seen = 100;
        auto& owner = s.procs[static_cast<size_t>(i % kProcs)];
        owner.rx_rate += c.rx_rate;
        owner.tx_rate += c.tx_rate;
        owner.tcp += c.proto == 6;
        owner.udp += c.proto == 17;
        s.conns.push_back(c);
    }
    app.m_ps = std::move(s);
    app.m_settings.resolve_names = false;
    app.m_conn.sort_key = app.m_proc.sort_key = app.m_dest.sort_key = "rate";
}

void BM_fill(benchmark::State& state) {
    App app;
    fill_snapshot(app);
    const int page = static_cast<int>(state.range(0));
    for (auto _ : state) app.fill_table(page);
    state.SetLabel(page == 1   ? "fill_conn_table"
                   : page == 2 ? "fill_proc_table"
                               : "fill_dest_table");
}
BENCHMARK(BM_fill)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

struct Canvas {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 760);
    cairo_t* cr = cairo_create(s);
    ~Canvas() {
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }
};

void BM_paint_conn_page(benchmark::State& state) {
    App app;
    fill_snapshot(app);
    app.m_W = 1200;
    app.m_H = 760;
    app.m_settings.tab = 1;
    app.fill_table(1);
    Canvas c;
    for (auto _ : state) {
        app.m_hits.clear();
        app.paint_table_page(c.cr, 1200, 760 - App::kHeaderH - App::kStatusH, 1);
    }
}
BENCHMARK(BM_paint_conn_page)->Unit(benchmark::kMillisecond);

// One character typed into the focused field: the refill and the whole base layer. "w"
// matches most rows ("worker..."), the costly case.
void BM_typed_character(benchmark::State& state) {
    App app;
    fill_snapshot(app);
    app.m_W = 1200;
    app.m_H = 760;
    app.m_settings.tab = 1;
    app.m_conn_field.focus = true;
    Canvas c;
    for (auto _ : state) {
        state.PauseTiming(); // the rows as they stand before the key: built for no filter
        app.m_conn_field.text.clear();
        app.m_conn_field.caret = 0;
        app.fill_table(1);
        state.ResumeTiming();
        app.text_input("w");
        app.paint_base(c.cr);
    }
}
BENCHMARK(BM_typed_character)->Unit(benchmark::kMillisecond);

} // namespace
