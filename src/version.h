// Product name, version and build number: shown by --version and --help, in the first log
// line, the language guard and the crash record.
#pragma once

namespace version {
inline constexpr const char* kProduct = "Velmora";
inline constexpr const char* kVersion = "1.0.4";
inline constexpr const char* kBuild = "1036";
} // namespace version
