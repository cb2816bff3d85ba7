// Cost of one socket-tracker sample next to `ss` listing the same sockets, with 1,000 and
// 10,000 established loopback TCP connections held by 1 and by 200 processes, the
// tracker's peak memory growth at 10,000 connections, and how long the UI thread's
// snapshot() waits while a sample walks the descriptors of 2,000 processes.
//
// Run as root, the program moves into a private network namespace first, so that the
// dumps hold exactly the benchmark's sockets; otherwise the machine's own sockets add to
// both sides. The descriptor walk always covers every process of the machine, as `ss -p`
// does. A summary against the targets is printed at the end.
#include "bench_util.h"
#include "net_procs.h"
#include "net_stats.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <sched.h>
#include <set>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool g_private_netns = false;
std::set<std::string> g_notes;

// Figures gathered for the summary: name -> {tracker ms, ss ms} or MB.
std::map<std::string, std::pair<double, double>> g_ratios;
std::map<std::string, double> g_rss;
std::vector<std::pair<std::string, double>> g_waits;

bool wait_byte(int fd) {
    char c;
    return read(fd, &c, 1) == 1;
}

// A listener on 127.0.0.1 with a free port.
int listener(int* port) {
    int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 4096) != 0) exit(3);
    socklen_t len = sizeof a;
    getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return l;
}

int connect_to(int port) {
    int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) exit(4);
    return c;
}

// Processes holding the connections of one configuration; killed on destruction.
class Load {
public:
    Load(int conns, int procs) : m_conns(conns), m_procs(procs) {
        rlimit lim{};
        getrlimit(RLIMIT_NOFILE, &lim);
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
        const int per_proc = (conns + procs - 1) / procs;
        // Both ends in one process when the descriptor limit allows it; otherwise the
        // accepted ends live in one extra process.
        const bool split = static_cast<rlim_t>(2 * per_proc + 64) > lim.rlim_cur;
        int server_port = 0;
        if (split) {
            g_notes.insert(std::to_string(conns) + " connections / " + std::to_string(procs) +
                           " process(es): the descriptor limit (" + std::to_string(lim.rlim_cur) +
                           ") puts the accepted ends in one extra process");
            int ready[2];
            if (pipe(ready) != 0) exit(5);
            int l = listener(&server_port);
            pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (write(ready[1], "r", 1) != 1) _exit(1);
                for (;;) accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
            }
            close(l);
            wait_byte(ready[0]);
            close(ready[0]);
            close(ready[1]);
            m_pids.push_back(pid);
        }
        int ready[2];
        if (pipe(ready) != 0) exit(5);
        for (int k = 0, left = conns; k < procs; ++k) {
            const int n = std::min(per_proc, left);
            left -= n;
            pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (split) {
                    for (int i = 0; i < n; ++i) connect_to(server_port);
                } else {
                    int port = 0;
                    int l = listener(&port);
                    for (int i = 0; i < n; ++i) {
                        connect_to(port);
                        accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
                    }
                    close(l);
                }
                if (write(ready[1], "r", 1) != 1) _exit(1);
                for (;;) pause();
            }
            m_pids.push_back(pid);
        }
        for (int k = 0; k < procs; ++k) wait_byte(ready[0]);
        close(ready[0]);
        close(ready[1]);
    }
    ~Load() {
        for (pid_t p : m_pids) kill(p, SIGKILL);
        for (pid_t p : m_pids) waitpid(p, nullptr, 0);
    }
    bool is(int conns, int procs) const { return conns == m_conns && procs == m_procs; }

private:
    int m_conns, m_procs;
    std::vector<pid_t> m_pids;
};

std::unique_ptr<Load> g_load;

void use_load(int conns, int procs) {
    if (g_load && g_load->is(conns, procs)) return;
    g_load.reset();
    g_load = std::make_unique<Load>(conns, procs);
}

// Wall time of one `ss` run with the given options, output discarded.
double time_ss(const char* opts) {
    const double t0 = net::monotonic_seconds();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execlp("ss", "ss", opts, nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return net::monotonic_seconds() - t0;
}

void wait_due(const procs::Tracker& t) {
    const double left = t.next_due() - net::monotonic_seconds();
    if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double>(left + 0.001));
}

std::string label(const benchmark::State& state) {
    return std::to_string(state.range(0)) + " conns/" + std::to_string(state.range(1)) + " procs";
}

void report(benchmark::State& state, const std::string& key, double tracker_s, double ss_s) {
    const double n = static_cast<double>(state.iterations());
    state.counters["tracker_ms"] = tracker_s / n * 1e3;
    state.counters["ss_ms"] = ss_s / n * 1e3;
    state.counters["ratio"] = tracker_s / ss_s;
    g_ratios[key] = {tracker_s / n * 1e3, ss_s / n * 1e3};
}

// A sample that finds every socket's owner known: dumps, deltas and attribution only.
void BM_SampleWithoutScan(benchmark::State& state) {
    use_load(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    auto tracker = std::make_unique<procs::Tracker>();
    tracker->set_resolve(false);
    tracker->sample();
    double born = net::monotonic_seconds();
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        // The tracker walks the descriptors again after 15 s; a fresh one stays clear of that.
        if (net::monotonic_seconds() - born > 12) {
            tracker = std::make_unique<procs::Tracker>();
            tracker->set_resolve(false);
            tracker->sample();
            born = net::monotonic_seconds();
        }
        wait_due(*tracker);
        const double t0 = net::monotonic_seconds();
        tracker->sample();
        const double dt = net::monotonic_seconds() - t0;
        state.SetIterationTime(dt);
        ours += dt;
        theirs += time_ss("-tuni");
    }
    report(state, "sample without descriptor scan vs ss -tuni, " + label(state), ours, theirs);
}

// A tracker's first sample: dumps, the walk of every process's descriptors, process data.
void BM_SampleWithScan(benchmark::State& state) {
    use_load(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        auto tracker = std::make_unique<procs::Tracker>();
        tracker->set_resolve(false);
        const double t0 = net::monotonic_seconds();
        tracker->sample();
        const double dt = net::monotonic_seconds() - t0;
        state.SetIterationTime(dt);
        ours += dt;
        theirs += time_ss("-tunapi");
    }
    report(state, "sample with descriptor scan vs ss -tunapi, " + label(state), ours, theirs);
}

long status_kb(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long v = -1;
    const size_t n = strlen(field);
    while (fgets(line, sizeof line, f))
        if (strncmp(line, field, n) == 0) v = strtol(line + n, nullptr, 10);
    fclose(f);
    return v;
}

// Peak resident memory added by a tracker that samples twice and hands out a snapshot,
// measured in a forked child whose peak is reset first.
void BM_PeakMemory(benchmark::State& state) {
    use_load(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    double mb = 0;
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0) exit(5);
        pid_t pid = fork();
        if (pid == 0) {
            malloc_trim(0);
            int fd = open("/proc/self/clear_refs", O_WRONLY);
            if (fd < 0 || write(fd, "5", 1) != 1) _exit(1);
            close(fd);
            const long base = status_kb("VmHWM:");
            {
                procs::Tracker t;
                t.set_resolve(false);
                t.sample();
                wait_due(t);
                t.sample();
                procs::Snapshot s = t.snapshot();
                benchmark::DoNotOptimize(s);
            }
            const long grown = status_kb("VmHWM:") - base;
            _exit(write(out[1], &grown, sizeof grown) == sizeof grown ? 0 : 1);
        }
        close(out[1]);
        long kb = -1;
        if (read(out[0], &kb, sizeof kb) != sizeof kb) kb = -1;
        close(out[0]);
        waitpid(pid, nullptr, 0);
        mb = static_cast<double>(kb) / 1024.0;
        state.SetIterationTime(1);
    }
    state.counters["rss_growth_MB"] = mb;
    g_rss["peak RSS growth, " + label(state)] = mb;
}

// Durations in seconds, sorted; the value at fraction q of the way up.
double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
}

// The longest time the UI thread spends in snapshot() while the sampling thread runs a
// sample that walks every process's descriptors and reads their process data. Each
// iteration opens a socket the tracker has not seen, which brings the walk once 2 s have
// passed since the last one. The copy itself costs the same without a sample running; that
// figure is printed beside it. On a busy machine, scheduling delays of either thread show
// up as long calls too: run under `chrt -f 10` to keep them out.
void BM_SnapshotWaitDuringRescan(benchmark::State& state) {
    use_load(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    procs::Tracker tracker;
    tracker.set_resolve(false);
    double last_walk = net::monotonic_seconds();
    tracker.sample();
    auto timed_snapshot = [&] {
        const double t0 = net::monotonic_seconds();
        benchmark::DoNotOptimize(tracker.snapshot());
        return net::monotonic_seconds() - t0;
    };
    std::vector<double> idle;
    for (int i = 0; i < 200; ++i) idle.push_back(timed_snapshot());
    std::vector<double> longest;
    double sample_s = 0;
    int fresh = -1;
    for (auto _ : state) {
        if (fresh >= 0) close(fresh);
        fresh = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fresh, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) exit(6);
        const double left = last_walk + 2.05 - net::monotonic_seconds();
        if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double>(left));
        wait_due(tracker);
        std::atomic<bool> done{false};
        std::thread sampler([&] {
            last_walk = net::monotonic_seconds();
            tracker.sample();
            sample_s += net::monotonic_seconds() - last_walk;
            done = true;
        });
        double worst = 0;
        while (!done) worst = std::max(worst, timed_snapshot());
        sampler.join();
        state.SetIterationTime(worst);
        longest.push_back(worst);
    }
    if (fresh >= 0) close(fresh);
    const double n = static_cast<double>(state.iterations());
    state.counters["longest_ms"] = quantile(longest, 1) * 1e3;
    state.counters["median_longest_ms"] = quantile(longest, 0.5) * 1e3;
    state.counters["idle_median_ms"] = quantile(idle, 0.5) * 1e3;
    state.counters["idle_max_ms"] = quantile(idle, 1) * 1e3;
    state.counters["sample_ms"] = sample_s / n * 1e3;
    const std::string l = label(state);
    g_waits = {
        {"longest snapshot() during a descriptor walk, median of " +
             std::to_string(longest.size()) + " walks, " + l,
         quantile(longest, 0.5) * 1e3},
        {"  the same, longest of all walks", quantile(longest, 1) * 1e3},
        {"  snapshot() without a sample running: median", quantile(idle, 0.5) * 1e3},
        {"  snapshot() without a sample running: longest", quantile(idle, 1) * 1e3},
    };
}

void configs(benchmark::internal::Benchmark* b) {
    for (int conns : {1000, 10000})
        for (int procs : {1, 200}) b->Args({conns, procs});
}

BENCHMARK(BM_SampleWithoutScan)
    ->Apply(configs)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SampleWithScan)
    ->Apply(configs)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeakMemory)
    ->Args({10000, 1})
    ->Args({10000, 200})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotWaitDuringRescan)
    ->Args({10000, 2000})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (geteuid() == 0) g_private_netns = benchutil::fresh_netns_with_veths(0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_load.reset();

    printf("\nsockets: %s\n", g_private_netns ? "private network namespace (only the benchmark's)"
                                              : "the machine's network namespace (not root)");
    for (const auto& n : g_notes) printf("note: %s\n", n.c_str());
    for (const auto& [name, v] : g_ratios)
        printf("%-70s %8.2f ms vs %8.2f ms  ratio %.2f (target <= 1.00)%s\n", name.c_str(), v.first,
               v.second, v.first / v.second, v.first <= v.second ? "" : "  MISSED");
    for (const auto& [name, mb] : g_rss)
        printf("%-70s %8.2f MB (target <= 16)%s\n", name.c_str(), mb, mb <= 16 ? "" : "  MISSED");
    for (const auto& [name, ms] : g_waits) {
        const bool target = name.rfind("longest", 0) == 0;
        printf("%-70s %8.2f ms%s\n", name.c_str(), ms,
               !target   ? ""
               : ms <= 2 ? " (target <= 2)"
                         : " (target <= 2)  MISSED");
    }
    return 0;
}
