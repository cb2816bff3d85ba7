// The command line: option parsing, the help text and the text listing (--list).
#pragma once

#include "net_stats.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

enum class Action {
    Window,     // no window-less mode: open the window with `opts`
    Version,    // print the version, exit 0
    Help,       // print the help text, exit 0
    List,       // the text listing
    RenderIcon, // write the icon (`icon_size`, `icon_file`)
    Unknown,    // unknown option `bad`: message, help, exit 2
};

struct Options {
    bool force_mini = false;
    int force_tab = -1;
    std::string force_theme;
};

struct Parsed {
    Action action = Action::Window;
    Options opts;
    std::string bad;
    std::string icon_size;
    std::string icon_file;
};

// Examines the arguments left to right; the first window-less option decides.
Parsed parse(int argc, const char* const* argv);

// "Velmora 1.0.4 (build 1036)" and the option lines, byte for byte.
std::string version_line();
std::string help_text();

// Bytes below 0x20 and 0x7F written as \xNN so that names taken from the system
// (interface names, SSIDs, process names) cannot send escape sequences to a terminal.
std::string printable(std::string_view text);

// One --list line of an interface, with its newline.
std::string interface_line(const net::Interface& iface);

// The whole text listing; returns the exit code (0, or 2 when socket diagnostics failed).
int list(FILE* out);

// Runs a parsed command line that needs no window; returns the exit code.
int serve(const Parsed& parsed, FILE* out, FILE* err);

} // namespace cli
