#include "display.h"

#include "support.h"
#include "settings.h"

#include <cairo.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

} // namespace

bool wait_until(int ms, const std::function<bool()>& ready) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ready();
}

std::string capture(const std::string& cmd) {
    std::string out;
    FILE* f = popen(cmd.c_str(), "r");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    pclose(f);
    return out;
}

std::string XServer::server_log() const {
    std::ifstream f(m_fbdir + "/xvfb.log");
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

XServer::~XServer() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int st;
        waitpid(m_pid, &st, 0);
    }
    if (m_display_fd >= 0) close(m_display_fd);
    if (!m_fbdir.empty()) {
        std::string cmd = "rm -rf '" + m_fbdir + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
}

std::string XServer::start(int width, int height) {
    if (system("command -v Xvfb >/dev/null 2>&1") != 0) return "Xvfb is not installed";
    char tmpl[] = "/tmp/velmora-xvfb-XXXXXX";
    if (!mkdtemp(tmpl)) return "no temporary directory";
    m_fbdir = tmpl;
    m_width = width;
    m_height = height;
    // Each server gets its own display number: with -displayfd alone, servers started at
    // the same moment by parallel tests can end up sharing one number.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int number = 100 + (getpid() * 7 + attempt * 13) % 800;
        int fds[2];
        if (pipe(fds) != 0) return "pipe failed";
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            int log = open((m_fbdir + "/xvfb.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(log, 1);
            dup2(log, 2);
            std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
            std::string fd = std::to_string(fds[1]);
            std::string display = ":" + std::to_string(number);
            execlp("Xvfb", "Xvfb", display.c_str(), "-displayfd", fd.c_str(), "-screen", "0",
                   screen.c_str(), "-br", "-nolisten", "tcp", "-fbdir", m_fbdir.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // Read up to the line feed and keep our end open: the server writes the number and
        // the line feed separately and dies when the second write finds the pipe closed.
        std::string got;
        char c;
        while (got.find('\n') == std::string::npos && read(fds[0], &c, 1) == 1) got += c;
        if (!got.empty()) {
            m_display_fd = fds[0];
            m_display = ":" + std::to_string(atoi(got.c_str()));
            return {};
        }
        close(fds[0]);
        // That display was taken: the server gave up without announcing itself.
        int st;
        waitpid(m_pid, &st, 0);
        m_pid = -1;
    }
    return "Xvfb did not start";
}

uint32_t XServer::pixel(int x, int y) const {
    // Xvfb keeps its frame buffer as an XWD image: a big-endian header, the colour map,
    // then the pixels (32 bits each at depth 24).
    std::ifstream f(m_fbdir + "/Xvfb_screen0", std::ios::binary);
    unsigned char h[100];
    if (!f.read(reinterpret_cast<char*>(h), sizeof h)) return 0xFFFFFFFF;
    uint32_t header = be32(h), ncolors = be32(h + 76), bpl = be32(h + 48);
    std::streamoff off = header + ncolors * 12 + static_cast<std::streamoff>(y) * bpl + x * 4;
    f.seekg(off);
    unsigned char p[4];
    if (!f.read(reinterpret_cast<char*>(p), 4)) return 0xFFFFFFFF;
    return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0]; // B G R X in memory
}

std::vector<uint32_t> XServer::region(int x, int y, int w, int h) const {
    std::vector<uint32_t> out;
    std::ifstream f(m_fbdir + "/Xvfb_screen0", std::ios::binary);
    unsigned char hdr[100];
    if (w <= 0 || h <= 0 || !f.read(reinterpret_cast<char*>(hdr), sizeof hdr)) return out;
    const uint32_t header = be32(hdr), ncolors = be32(hdr + 76), bpl = be32(hdr + 48);
    std::vector<unsigned char> row(static_cast<size_t>(w) * 4);
    for (int r = 0; r < h; ++r) {
        f.seekg(header + ncolors * 12 + static_cast<std::streamoff>(y + r) * bpl + x * 4);
        if (!f.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size())))
            return {};
        for (int c = 0; c < w; ++c) {
            const unsigned char* p = &row[static_cast<size_t>(c) * 4];
            out.push_back((uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0]);
        }
    }
    return out;
}

bool XServer::save_png(const std::string& path, int x, int y, int w, int h) const {
    std::vector<uint32_t> px = region(x, y, w, h);
    if (px.empty()) return false;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int r = 0; r < h; ++r)
        memcpy(data + r * stride, &px[static_cast<size_t>(r) * w], static_cast<size_t>(w) * 4);
    cairo_surface_mark_dirty(s);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

bool XServer::xdotool(const std::string& args) const {
    return sh("DISPLAY=" + m_display + " xdotool " + args + " >/dev/null 2>&1");
}

XServer::Geometry XServer::window(const std::string& title) const {
    Geometry g;
    std::string out = capture("DISPLAY=" + m_display + " xwininfo -name '" + title + "' 2>/dev/null");
    auto field = [&](const char* key, int* v) {
        size_t p = out.find(key);
        if (p == std::string::npos) return false;
        *v = atoi(out.c_str() + p + strlen(key));
        return true;
    };
    g.found = field("Absolute upper-left X:", &g.x) && field("Absolute upper-left Y:", &g.y) &&
              field("Width:", &g.w) && field("Height:", &g.h);
    return g;
}

Background::Background(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& env) {
    char tmpl[] = "/tmp/velmora-err-XXXXXX";
    int fd = mkstemp(tmpl);
    m_err_path = tmpl;
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    m_pid = spawn(program, args, env, devnull, fd);
    close(devnull);
    close(fd);
}

Background::~Background() {
    if (running()) {
        kill(m_pid, SIGKILL);
        wait_exit(5000);
    }
    unlink(m_err_path.c_str());
}

bool Background::wait_exit(int ms) {
    if (m_code != -2) return true;
    return wait_until(ms, [this] {
        int st = 0;
        pid_t r = waitpid(m_pid, &st, WNOHANG);
        if (r != m_pid) return false;
        m_code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return true;
    });
}

void Background::signal(int sig) const {
    if (m_pid > 0) kill(m_pid, sig);
}

std::string Background::stderr_text() const {
    std::ifstream f(m_err_path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool seed_window_size(const std::string& config_home, int w, int h) {
    const std::string dir = config_home + "/Velmora";
    make_dirs(dir);
    Settings st;
    st.load(dir + "/settings.dat");
    st.full = Geometry{0, 0, w, h, false};
    return st.save();
}

} // namespace testsupport
