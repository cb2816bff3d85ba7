// The daily usage store as a spreadsheet file: RFC 4180 CSV with a header line and one row
// per device and day (ISO date, device, bytes received, bytes sent), written atomically.
#pragma once

#include "usage_store.h"

#include <string>
#include <string_view>

namespace csv {

// One field: as it is, or in double quotes (inner quotes doubled) when it holds a comma,
// a quote, a line feed or a carriage return.
std::string field(std::string_view text);

// The whole file: every stored day of every device, devices in name order, days ascending.
std::string build(const usage::Store& store);

// "velmora-statistics-YYYY-MM-DD.csv" for a YYYYMMDD day.
std::string file_name(int day);

// Where an export goes without a file chooser: the user's download folder, else the home.
std::string download_dir();

// Writes `content` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. On any failure the temporary file is removed, `path` is left as it was, and the
// reason is returned; an empty result means success.
std::string write_atomic(const std::string& path, const std::string& content);

} // namespace csv
