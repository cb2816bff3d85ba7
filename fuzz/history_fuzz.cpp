// History payload: any bytes must load without crashing or over-reading; a payload that
// loads completely is reproduced byte for byte, and the loaded rings answer queries.
#include "history.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string payload(reinterpret_cast<const char*>(data), size);
    history::Store s;
    const bool complete = s.load_payload(payload);
    if (complete && s.payload() != payload.substr(0, history::Store::kPayloadSize))
        __builtin_trap();

    const double now = 1.7e9;
    for (double span : {3600.0, 86400.0 * 7, 86400.0 * 400}) {
        history::Series r = s.series(span, 300, now);
        if (r.rx.size() != r.known.size() || r.tx.size() != r.known.size()) __builtin_trap();
    }
    s.add(now, 10, 20, 1);
    s.add(now - 50, 10, 20, 1);
    return 0;
}
