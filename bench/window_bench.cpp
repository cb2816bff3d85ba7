// The window's cost: one full repaint of the base layer, and the real program's CPU use and
// peak memory under a private X server (Xvfb) with stored settings chosen per case.
//
//   build/bin/window_bench                     all cases (about two minutes)
//   build/bin/window_bench --benchmark_filter=Repaint
#include "app.h"
#include "settings.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <dirent.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void BM_BaseRepaint(benchmark::State& state) {
    App app;
    app.m_W = 1200;
    app.m_H = 760;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 760);
    for (auto _ : state) {
        cairo_t* cr = cairo_create(s);
        app.paint_base(cr);
        cairo_destroy(cr);
        cairo_surface_flush(s);
    }
    cairo_surface_destroy(s);
}
BENCHMARK(BM_BaseRepaint)->Unit(benchmark::kMillisecond);

// The overlay with an open menu of 25 entries (and a few separators), as a user opening one
// from the menu bar makes it repaint.
void BM_OverRepaintMenu25(benchmark::State& state) {
    App app;
    app.m_W = 1200;
    app.m_H = 760;
    std::vector<App::MenuItem> items;
    for (int i = 0; i < 25; ++i) {
        items.push_back({"Menu entry number " + std::to_string(i), [] {}, i < 5 ? "Ctrl+1" : "",
                         i % 3 == 0, false});
        if (i % 6 == 5) items.push_back({"", {}, "", false, true});
    }
    app.open_menu(36, 28, items);
    app.m_over_hover = "menu:3";
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
BENCHMARK(BM_OverRepaintMenu25)->Unit(benchmark::kMillisecond);

// Clock ticks of user plus system time of a process.
long cpu_ticks(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    size_t close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = atol(field.c_str());
        if (i == 15) stime = atol(field.c_str());
    }
    return utime + stime;
}

// Clock ticks of the threads whose name begins with `prefix` (Mesa's llvmpipe threads
// draw the frames when OpenGL runs on the CPU).
long thread_ticks(pid_t pid, const std::string& prefix) {
    long sum = 0;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream comm(dir + "/" + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind(prefix, 0) != 0) continue;
        std::ifstream f(dir + "/" + e->d_name + "/stat");
        std::string line;
        std::getline(f, line);
        size_t close = line.rfind(')');
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        for (int i = 3; i <= 15 && rest >> field; ++i)
            if (i == 14 || i == 15) sum += atol(field.c_str());
    }
    closedir(d);
    return sum;
}

long peak_rss_kb(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0) return atol(line.c_str() + 6);
    return -1;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto& e : env) putenv(strdup(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        FILE* null = freopen("/dev/null", "w", stderr);
        (void)null;
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Runs the program for `seconds` with the given settings and reports its CPU use.
// With `mini`, the mini view shows the total and two devices (three strips).
void run_window(benchmark::State& state, bool animate, int interval_ms, int seconds,
                bool mini = false) {
    char home[] = "/tmp/velmora-bench-XXXXXX";
    if (!mkdtemp(home)) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string cfg = std::string(home) + "/Velmora";
    mkdir(cfg.c_str(), 0700);
    Settings s;
    s.m_path = cfg + "/settings.dat";
    s.animate = animate;
    s.interval_ms = interval_ms;
    if (mini) {
        s.mini = true;
        s.show_loopback = true;
        s.mini_devices = {"*", "lo", "eth0"};
    }
    s.save();

    const std::string display = ":" + std::to_string(900 + getpid() % 90);
    pid_t xvfb = spawn({"Xvfb", display, "-screen", "0", "1600x1000x24", "-nolisten", "tcp"}, {});
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    std::vector<std::string> env = {"DISPLAY=" + display, "XDG_CONFIG_HOME=" + std::string(home)};
    if (const char* driver = getenv("SDL_RENDER_DRIVER"))
        env.push_back(std::string("SDL_RENDER_DRIVER=") + driver);
    pid_t app = spawn({VELMORA_BIN}, env);
    // Start-up (first scan, window creation) is not part of the steady state.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    for (auto _ : state) {
        long before = cpu_ticks(app), gl_before = thread_ticks(app, "llvmpipe");
        auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        long after = cpu_ticks(app), gl_after = thread_ticks(app, "llvmpipe");
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (before < 0 || after < 0) {
            state.SkipWithError("the program did not keep running");
            break;
        }
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] =
            100.0 * static_cast<double>(after - before) / sysconf(_SC_CLK_TCK) / wall;
        state.counters["gl_cpu_percent"] =
            100.0 * static_cast<double>(gl_after - gl_before) / sysconf(_SC_CLK_TCK) / wall;
        state.counters["peak_rss_MB"] = static_cast<double>(peak_rss_kb(app)) / 1024.0;
    }
    kill(app, SIGTERM);
    waitpid(app, nullptr, 0);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    std::string rm = std::string("rm -rf ") + home;
    if (system(rm.c_str()) != 0) {
    }
}

void BM_IdleAnimationOff(benchmark::State& state) { run_window(state, false, 1000, 20); }
void BM_IdleAnimationOn(benchmark::State& state) { run_window(state, true, 1000, 20); }
void BM_RssAfterOneMinute(benchmark::State& state) { run_window(state, false, 1000, 60); }
void BM_MiniThreeStrips(benchmark::State& state) { run_window(state, false, 1000, 20, true); }

BENCHMARK(BM_IdleAnimationOff)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleAnimationOn)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_RssAfterOneMinute)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_MiniThreeStrips)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
