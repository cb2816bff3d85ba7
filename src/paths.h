// Where Velmora keeps its files and how it was packaged.
#pragma once

#include <string>

namespace paths {

// The configuration directory without a trailing slash, created with mode 0700 (and every
// missing parent) on the first call. Computed once per process.
std::string config_dir();

// The same rules as config_dir() from the current environment, without remembering the
// result: $XDG_CONFIG_HOME/Velmora, else $HOME/.config/Velmora, else ".Velmora".
std::string resolve_config_dir();

// "snap", "flatpak", "appimage" or "plain", from the packaging variables.
const char* package_kind();

// Snap and Flatpak confine the program; an AppImage runs unconfined.
bool is_sandboxed();

} // namespace paths
