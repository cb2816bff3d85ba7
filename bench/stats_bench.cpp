// The statistics page and the theme query at start.
//
//   build/bin/stats_bench --benchmark_filter=PaintStats
#include "app.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The page at 1200 × 760 with two years of days for 10 devices and their total: 48 store
// queries, six tiles and 42 bars per paint.
void BM_PaintStats(benchmark::State& state) {
    App app;
    app.m_W = 1200;
    app.m_H = 760;
    std::string payload;
    const int today = usage::Store::today();
    for (int i = 0; i < 730; ++i) {
        const std::string d = std::to_string(usage::Store::add_days(today, -i));
        payload += "D * " + d + " 9000000000 900000000\n";
        for (int n = 0; n < 10; ++n)
            payload += "D eth" + std::to_string(n) + " " + d + " 900000000 90000000\n";
    }
    app.m_usage.load_payload(payload);
    app.m_settings.stats_iface = "eth4";
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 760);
    for (auto _ : state) {
        cairo_t* cr = cairo_create(s);
        // As the frame paints it: below the header, clipped above the status bar.
        cairo_rectangle(cr, 0, App::kHeaderH, 1200, 760 - App::kHeaderH - App::kStatusH);
        cairo_clip(cr);
        cairo_translate(cr, 0, App::kHeaderH);
        app.m_hits.clear();
        benchmark::DoNotOptimize(app.paint_stats(cr, 1200));
        cairo_destroy(cr);
        cairo_surface_flush(s);
    }
    cairo_surface_destroy(s);
}
BENCHMARK(BM_PaintStats)->Unit(benchmark::kMillisecond);

// The dark-or-light question at start without any session bus, and on a bus where no
// portal answers (the bus itself replies at once that the name is unknown).
void BM_PortalQueryNoBus(benchmark::State& state) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    for (auto _ : state) benchmark::DoNotOptimize(App::system_prefers_dark());
}
BENCHMARK(BM_PortalQueryNoBus)->Unit(benchmark::kMicrosecond);

void BM_PortalQueryBusWithoutPortal(benchmark::State& state) {
    char dir[] = "/tmp/velmora-bench-bus-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string address = std::string("unix:path=") + dir + "/bus";
    const pid_t daemon = fork();
    if (daemon == 0) {
        const std::string arg = "--address=" + address;
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", arg.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 100 && access((std::string(dir) + "/bus").c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    for (auto _ : state) benchmark::DoNotOptimize(App::system_prefers_dark());
    kill(daemon, SIGTERM);
    waitpid(daemon, nullptr, 0);
    const std::string rm = std::string("rm -rf ") + dir;
    if (system(rm.c_str()) != 0) {
    }
}
BENCHMARK(BM_PortalQueryBusWithoutPortal)->Unit(benchmark::kMicrosecond);

} // namespace
