// The program's log: one line per message with the local time and a level, written to
// <dir>/<name>.log and kept in memory (the last 500 lines). Safe to call from any thread,
// before init() and after shutdown() too (then only the memory tail is kept).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace logger {

// Opens dir + "/" + name + ".log", truncating it. Ignored while a log file is open.
void init(const std::string& dir, const std::string& name);

void info(const std::string& message);
void warn(const std::string& message);
void error(const std::string& message);

// Full path of the log file; empty before init().
std::string file_path();

// The last min(n, held) lines without their line feed, oldest first.
std::vector<std::string> tail(size_t n);

// Closes the file; later lines reach only the memory tail.
void shutdown();

} // namespace logger
