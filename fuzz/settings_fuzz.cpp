// Settings text: any bytes must load without crashing, stay within the accepted ranges,
// and whatever was loaded must be written so that it loads back the same.
#include "settings.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Settings s;
    s.load_text(std::string(reinterpret_cast<const char*>(data), size));
    if (s.interval_ms != 500 && s.interval_ms != 1000 && s.interval_ms != 2000) __builtin_trap();
    if (s.tab < 0 || s.tab > 3) __builtin_trap();
    if (s.theme != "auto" && s.theme != "light" && s.theme != "dark") __builtin_trap();
    if (static_cast<unsigned>(s.full.w) > 20000 || static_cast<unsigned>(s.compact.h) > 20000)
        __builtin_trap();

    const std::string text = s.to_text();
    Settings again;
    again.load_text(text);
    if (!(again == s)) __builtin_trap();
    return 0;
}
