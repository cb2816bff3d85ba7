#include "autostart.h"

#include "logger.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace autostart {

namespace {

constexpr const char* kFile = "velmora.desktop";

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

bool exists(const std::string& dir) {
    if (dir.empty()) return false;
    struct stat st;
    return ::stat((dir + "/" + kFile).c_str(), &st) == 0;
}

// Inside a Snap only the Snap's private home is read by the Snap's session start; outside,
// a Snap's view of the real home comes first.
std::string autostart_dir() {
    const char* home = nullptr;
    if (env("SNAP")) {
        home = env("HOME");
    } else {
        home = env("SNAP_REAL_HOME");
        if (!home) home = env("HOME");
    }
    return home ? std::string(home) + "/.config/autostart" : std::string();
}

void make_dirs(const std::string& dir) {
    for (size_t i = 1; i < dir.size(); ++i)
        if (dir[i] == '/' && i > 1) ::mkdir(dir.substr(0, i).c_str(), 0755);
    ::mkdir(dir.c_str(), 0755);
}

std::string own_program() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "Velmora";
    return quoted(std::string(buf, static_cast<size_t>(n)));
}

std::string entry_text(const std::string& args) {
    std::string exec, icon = "velmora";
    if (const char* snap = env("SNAP_NAME")) {
        exec = snap;
        icon = std::string("/snap/") + snap + "/current/meta/gui/icon.png";
    } else if (const char* id = env("FLATPAK_ID")) {
        exec = std::string("flatpak run ") + id;
        icon = id;
    } else if (const char* image = env("APPIMAGE")) {
        exec = quoted(image);
    } else {
        exec = own_program();
    }
    if (!args.empty()) exec += " " + args;
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Velmora\n"
           "Comment=Live traffic of every network device, connections and programs\n"
           "Exec=" +
           exec + "\nIcon=" + icon +
           "\n"
           "Terminal=false\n"
           "Categories=Network;Monitor;\n"
           "StartupWMClass=Velmora\n"
           "X-GNOME-Autostart-Delay=3\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool ends_with_appimage(const std::string& path) {
    static const std::string tail = ".appimage";
    if (path.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - tail.size() + i])) !=
            tail[i])
            return false;
    return true;
}

} // namespace

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\\\\\"; break;
        case '"':
        case '$':
        case '`':
            out += "\\\\";
            out += c;
            break;
        case '%': out += "%%"; break;
        // A line break would end the Exec line and let the rest of a path pose as more
        // keys of the entry: the file format's own escapes keep it on one line.
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

std::string program_of(const std::string& exec) {
    // The string-value escapes of the file format first.
    std::string v;
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '\\' || i + 1 == exec.size()) {
            v += exec[i];
            continue;
        }
        const char c = exec[++i];
        v += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    std::string prog;
    if (!v.empty() && v[0] == '"') {
        for (size_t i = 1; i < v.size() && v[i] != '"'; ++i) {
            if (v[i] == '\\' && i + 1 < v.size()) ++i;
            prog += v[i];
        }
    } else {
        prog = v.substr(0, v.find(' '));
    }
    std::string out;
    for (size_t i = 0; i < prog.size(); ++i) {
        out += prog[i];
        if (prog[i] == '%' && i + 1 < prog.size() && prog[i + 1] == '%') ++i;
    }
    return out;
}

bool enabled() {
    return exists(autostart_dir());
}

bool set(bool on, const std::string& args) {
    const std::string dir = autostart_dir();
    if (dir.empty()) return false;
    const std::string path = dir + "/" + kFile;
    if (!on) {
        ::unlink(path.c_str());
        logger::info("Autostart removed");
        return true;
    }
    make_dirs(dir);
    std::ofstream f(path, std::ios::trunc);
    if (!f) {
        logger::error("Autostart not writable: " + path);
        logger::error("Autostart NOT enabled");
        return false;
    }
    f << entry_text(args);
    f.close();
    logger::info("Autostart enabled");
    return true;
}

std::string command() {
    const std::string dir = autostart_dir();
    if (dir.empty()) return ""; // never "/velmora.desktop" at the root
    std::ifstream f(dir + "/" + kFile);
    std::string line;
    while (f && std::getline(f, line))
        if (line.rfind("Exec=", 0) == 0) return line.substr(5);
    return "";
}

void repair() {
    if (!enabled()) return;
    const std::string prog = program_of(command());
    if (env("APPIMAGE") && prog.find("/.mount_") == std::string::npos && !ends_with_appimage(prog))
        return;
    if (prog.find('/') == std::string::npos) return;
    struct stat st;
    if (::stat(prog.c_str(), &st) == 0) return;
    set(true, "");
    logger::info("Autostart rewritten, its program was gone: " + prog);
}

} // namespace autostart
