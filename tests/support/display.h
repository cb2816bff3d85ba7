// A private X server (Xvfb) for tests of the real window, with screenshots read from its
// frame buffer file, and background processes of the real binary.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class XServer {
public:
    XServer() = default;
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Starts Xvfb with a black root window; empty string on success, else the reason.
    std::string start(int width = 1600, int height = 1000);
    // ":N"
    const std::string& display() const { return m_display; }

    // What the server wrote to its standard error.
    std::string server_log() const;

    // The screen's pixel at (x, y) as 0xRRGGBB, read from the frame buffer.
    uint32_t pixel(int x, int y) const;
    // A rectangle of the screen, row by row, as 0xRRGGBB; empty when it cannot be read.
    std::vector<uint32_t> region(int x, int y, int w, int h) const;
    // Writes a rectangle of the screen as a PNG file (for looking at what a test saw).
    bool save_png(const std::string& path, int x, int y, int w, int h) const;

    // Runs xdotool on this display with `args`; true when it succeeded.
    bool xdotool(const std::string& args) const;

    struct Geometry {
        bool found = false;
        int x = 0, y = 0, w = 0, h = 0;
    };
    // Position and size of the top-level window with exactly this title.
    Geometry window(const std::string& title) const;

private:
    pid_t m_pid = -1;
    int m_display_fd = -1;
    std::string m_display;
    std::string m_fbdir;
    int m_width = 0, m_height = 0;
};

// A program running in the background with extra environment variables.
class Background {
public:
    Background(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t pid() const { return m_pid; }
    // Waits up to `ms` milliseconds; true when the process has ended (exit code stored).
    bool wait_exit(int ms);
    int exit_code() const { return m_code; }
    bool running() const { return m_pid > 0 && m_code == -2; }
    void signal(int sig) const;
    std::string stderr_text() const;

private:
    pid_t m_pid = -1;
    int m_code = -2; // -2 running, -1 killed by a signal
    std::string m_err_path;
};

// Stores a full-view window size (centred, no position) in the settings under
// `config_home` (what XDG_CONFIG_HOME will be), so that a test's coordinates do not depend
// on the size the program would choose for the test's screen.
bool seed_window_size(const std::string& config_home, int w = 1200, int h = 760);

// Runs `cmd` through the shell and returns its standard output.
std::string capture(const std::string& cmd);

// Polls `ready` every 20 ms for up to `ms` milliseconds.
bool wait_until(int ms, const std::function<bool()>& ready);

} // namespace testsupport
