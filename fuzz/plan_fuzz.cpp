// Allowances as the user types them: any text must parse without crashing, a number that
// parses is never zero, and plain byte counts read back exactly.
#include "plan.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    uint64_t v = 0;
    if (plan::parse_bytes(text, &v) && v == 0) __builtin_trap();

    if (size >= 8) {
        uint64_t n = 0;
        for (int i = 0; i < 8; ++i) n = n << 8 | data[i];
        n %= 1000000000000000ULL; // below a petabyte of plain bytes
        if (n == 0) return 0;
        uint64_t back = 0;
        if (!plan::parse_bytes(std::to_string(n) + " B", &back) || back != n) __builtin_trap();
    }
    return 0;
}
