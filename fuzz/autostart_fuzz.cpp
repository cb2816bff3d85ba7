// Exec values of autostart entries: any bytes must read without crashing, and every program
// path the entry writer quotes must read back as the same path on one line.
#include "autostart.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)autostart::program_of(text);

    if (text.find('\0') != std::string::npos) return 0;
    const std::string exec = autostart::quoted(text);
    if (exec.find('\n') != std::string::npos || exec.find('\r') != std::string::npos)
        __builtin_trap();
    if (autostart::program_of(exec + " --mini") != text) __builtin_trap();
    return 0;
}
