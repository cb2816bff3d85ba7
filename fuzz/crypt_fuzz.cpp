// The envelope: any bytes must be judged without crashing or over-reading, and only an
// intact envelope may decrypt. Every input must also survive a seal and unseal unchanged.
#include "save_crypt.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string out = "stale";
    const crypt::ReadResult r = crypt::decrypt(bytes, &out);
    if (r != crypt::ReadResult::Ok && !out.empty()) __builtin_trap();
    if (r == crypt::ReadResult::NotFound && size != 0) __builtin_trap();
    if (r == crypt::ReadResult::Ok && !crypt::looks_sealed(bytes)) __builtin_trap();

    const std::string sealed = crypt::encrypt(bytes);
    if (sealed.size() != size + crypt::kHeaderSize) __builtin_trap();
    if (crypt::decrypt(sealed, &out) != crypt::ReadResult::Ok || out != bytes) __builtin_trap();
    return 0;
}
