#include "paths.h"

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace paths {

namespace {

bool set_and_not_empty(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// mkdir -p with mode 0700. Every failure is ignored: an existing directory is the common
// case, and a directory that cannot be made shows up later when a file in it cannot be
// written, which its owner reports.
void make_parents(const std::string& dir) {
    for (size_t i = 1; i < dir.size(); ++i) {
        if (dir[i] == '/' && i >= 2) ::mkdir(dir.substr(0, i).c_str(), 0700);
    }
    if (dir.size() > 1) ::mkdir(dir.c_str(), 0700);
}

} // namespace

std::string resolve_config_dir() {
    std::string dir;
    if (set_and_not_empty("XDG_CONFIG_HOME")) {
        dir = std::string(std::getenv("XDG_CONFIG_HOME")) + "/Velmora";
    } else if (set_and_not_empty("HOME")) {
        dir = std::string(std::getenv("HOME")) + "/.config/Velmora";
    } else {
        dir = ".Velmora";
    }
    make_parents(dir);
    return dir;
}

std::string config_dir() {
    static const std::string dir = resolve_config_dir();
    return dir;
}

const char* package_kind() {
    if (set_and_not_empty("SNAP")) return "snap";
    if (set_and_not_empty("FLATPAK_ID")) return "flatpak";
    if (set_and_not_empty("APPDIR")) return "appimage";
    return "plain";
}

bool is_sandboxed() {
    const char* kind = package_kind();
    return std::strcmp(kind, "snap") == 0 || std::strcmp(kind, "flatpak") == 0;
}

} // namespace paths
