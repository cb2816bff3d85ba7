// The "Start at login" entry: a desktop file in the user's autostart directory that names
// the program the way it was installed (Snap, Flatpak, AppImage or a plain program file).
// The file is the only state; nothing is kept in memory.
#pragma once

#include <string>

namespace autostart {

// True when the entry exists; false when the home directory is unknown.
bool enabled();

// Writes (on) or deletes (off) the entry; `args` follows the start command on the Exec
// line. Deleting an entry that is not there succeeds.
bool set(bool on, const std::string& args = "");

// The text after "Exec=" on the entry's first Exec line; empty without an entry or line.
std::string command();

// Rewrites an entry whose program file is gone (a moved or replaced AppImage), once at
// start. An entry that belongs to another installation is left alone.
void repair();

// One argument quoted for an Exec line: "a b" → "\"a b\"", with \ " $ ` and % escaped.
std::string quoted(const std::string& s);

// The program an Exec value starts, with the file format's escapes undone.
std::string program_of(const std::string& exec);

} // namespace autostart
