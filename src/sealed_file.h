// Stored files written whole, encrypted and atomically; on reading, a missing file is told
// apart from one that was altered, and an altered file is moved aside to path + ".manipuliert".
#pragma once

#include <string>

namespace sealed {

enum class Result { Ok = 0, Missing = 1, Tampered = 2 };

// Encrypts `content` into path + ".tmp", flushes it to the disk, renames it over `path` and
// flushes the directory. True when the new file is durably in place; on false the old file
// is untouched and no temporary file is left behind.
bool write(const std::string& path, const std::string& content);

// Missing when the file is absent, unreadable or empty. Tampered when it is not an intact
// envelope: the file is then renamed to path + ".manipuliert" and a warning is logged.
// *out (when given) holds the payload on Ok and is empty otherwise.
Result read(const std::string& path, std::string* out);

} // namespace sealed
