#include "logger.h"

#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>

namespace logger {

namespace {

constexpr size_t kTailLines = 500;

std::mutex g_m;
FILE* g_f = nullptr;
std::string g_path;
std::deque<std::string> g_tail;

// The level texts are all five characters wide so that the messages line up.
void write_line(const char* level, const std::string& message) {
    std::lock_guard<std::mutex> lock(g_m);
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    snprintf(stamp, sizeof stamp, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);

    std::string line = stamp;
    line += ' ';
    line += level;
    line += ' ';
    line += message;
    g_tail.push_back(line);
    if (g_tail.size() > kTailLines) g_tail.pop_front();

    if (g_f) {
        // Flushed per line: the log is most useful after a crash, when buffered lines
        // would be lost with the process.
        fwrite(line.data(), 1, line.size(), g_f);
        fputc('\n', g_f);
        fflush(g_f);
    }
}

} // namespace

void init(const std::string& dir, const std::string& name) {
    std::lock_guard<std::mutex> lock(g_m);
    if (g_f) return;
    g_path = dir + "/" + name + ".log";
    g_f = fopen(g_path.c_str(), "we");
}

void info(const std::string& message) {
    write_line("INFO ", message);
}
void warn(const std::string& message) {
    write_line("WARN ", message);
}
void error(const std::string& message) {
    write_line("ERROR", message);
}

std::string file_path() {
    std::lock_guard<std::mutex> lock(g_m);
    return g_path;
}

std::vector<std::string> tail(size_t n) {
    std::lock_guard<std::mutex> lock(g_m);
    size_t take = n < g_tail.size() ? n : g_tail.size();
    return std::vector<std::string>(g_tail.end() - static_cast<std::ptrdiff_t>(take), g_tail.end());
}

void shutdown() {
    std::lock_guard<std::mutex> lock(g_m);
    if (g_f) fclose(g_f);
    g_f = nullptr;
}

} // namespace logger
