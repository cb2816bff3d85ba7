// Shared helpers of the test suite: running the real binary and forked children, temporary
// directories, fixture paths, private network namespaces, zones, languages and bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace net {
struct Interface;
}

namespace testsupport {

struct RunResult {
    int exit_code = -1; // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args` (argv[0] is the program path), waits, and captures both
// streams. `env` entries of the form NAME=VALUE are added to the environment; `before_exec`
// runs in the child just before the program replaces it.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env = {},
              const std::function<void()>& before_exec = {});

// Starts `program` with `args` and extra `env` entries, its standard output and error on
// the given descriptors; returns the child's pid.
pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& env, int out_fd, int err_fd,
            const std::function<void()>& before_exec = {});

// What a forked child found, where gtest's assertions do not reach.
struct Report {
    std::string text;
    void eq(const std::string& what, const std::string& got, const std::string& want) {
        if (got != want) text += what + ": got \"" + got + "\", want \"" + want + "\"\n";
    }
    void check(bool ok, const std::string& what) {
        if (!ok) text += what + "\n";
    }
};

// Runs `body` in a forked child (for code that works once per process, or must not change
// this one) and returns its report, plus a line when the child did not exit normally.
std::string in_child(const std::function<void(Report&)>& body);

// The velmora binary of this build.
std::string velmora_bin();

// The first executable `name` on PATH, or "" when there is none.
std::string find_program(const std::string& name);

// tests/fixtures/<name>
std::string fixture(const std::string& name);

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    // Writes `content` to path()/rel, creating parent directories.
    std::string write(const std::string& rel, const std::string& content) const;
    // Creates path()/rel as a symbolic link pointing to `target`.
    std::string link(const std::string& rel, const std::string& target) const;
    std::string mkdir(const std::string& rel) const;

private:
    std::string m_path;
};

void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
void make_dirs(const std::string& path);

// Moves this process into a private network and mount namespace with a fresh sysfs on
// /sys. Returns an empty string on success, otherwise why it is impossible here (tests
// skip with that reason). CI runs as root, where it always works.
std::string enter_private_netns();

// Runs a shell command; true when it exited with 0.
bool sh(const std::string& command);

// The lines of `text` without their line feeds; a final line feed ends the last line.
std::vector<std::string> lines(const std::string& text);

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) without control
// characters, but for line feeds where `line_feeds` allows them.
bool clean_utf8(const std::string& s, bool line_feeds = false);

// `v` as `bytes` little-endian bytes.
std::string le(uint64_t v, int bytes);

// The scanned fields of an interface in one line, fields at their initial value left out,
// so that one interface's expectation reads as one line.
std::string describe(const net::Interface& i);

// Picks the interface language like a desktop session whose LANGUAGE list is `list`.
void use_languages(const char* list);

// Sets TZ and proves that the C library took it: the local time of a fixed instant in
// January must lie `january_offset` seconds east of UTC. A zone string the library
// rejects silently means UTC, which would make a test pass at some hours only.
bool use_tz(const char* tz, long january_offset);

// Returns once the local date will not change for the next `margin` seconds, so that a
// test which reads today's date twice sees the same day both times.
void keep_clear_of_midnight(int margin = 5);

} // namespace testsupport

// Moves the test into a private network namespace, or skips it with the reason.
#define ENTER_PRIVATE_NETNS_OR_SKIP()                                                              \
    if (const std::string why_ = testsupport::enter_private_netns(); !why_.empty())                \
    GTEST_SKIP() << why_
