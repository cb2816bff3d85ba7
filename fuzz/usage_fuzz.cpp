// Usage payload: any bytes must load without crashing; the queries must agree with each
// other, and a store written out must read back with the same days.
#include "usage_store.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    usage::Store s;
    s.load_payload(std::string(reinterpret_cast<const char*>(data), size));

    usage::Store again;
    again.load_payload(s.payload());
    for (const auto& name : s.interfaces()) {
        if (name == "*") __builtin_trap();
        const int first = s.first_day(name);
        if (first < 1) __builtin_trap();
        // Days past 99999999 are not dates, but a file may hold them; all() ignores them.
        const usage::Sum all = s.range(name, 0, INT_MAX);
        const usage::Sum head = s.range(name, 0, first);
        const usage::Sum rest = first < INT_MAX ? s.range(name, first + 1, INT_MAX) : usage::Sum{};
        if (head.rx + rest.rx != all.rx || head.tx + rest.tx != all.tx) __builtin_trap();
        if (!(again.range(name, 0, INT_MAX) == all) || again.first_day(name) != first)
            __builtin_trap();
    }
    s.observe("fuzz0", 1, 1, true);
    s.observe("fuzz0", 2, 3, true);
    return 0;
}
