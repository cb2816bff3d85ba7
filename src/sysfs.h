// Small, allocation-light readers for sysfs and procfs files shared by the collectors.
// Every function degrades to an empty result when the path cannot be read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sysfs {

// Appends the file's content, at most `limit` bytes, to `out`; false only when the file
// cannot be opened (an empty file is true).
bool read_into(const std::string& path, std::string& out, size_t limit = SIZE_MAX);

// The whole file, at most `limit` bytes. Empty when it cannot be opened.
std::string read_file(const std::string& path, size_t limit = 1 << 20);

// The first line of a file without its line feed (nothing else removed); empty when the
// file cannot be opened or is empty.
std::string first_line(const std::string& path);

// Names of the entries not beginning with "." in ascending byte order.
std::vector<std::string> list_dir(const std::string& path);

// Target of a symbolic link (at most 1023 bytes); empty when not a link.
std::string link_target(const std::string& path);

// The text after the last "/" (the whole text when there is none).
std::string basename_of(const std::string& path);

// stat() follows links and succeeds.
bool exists(const std::string& path);
bool is_dir(const std::string& path);

// Words separated by any whitespace.
std::vector<std::string> split_ws(const std::string& text);

} // namespace sysfs
