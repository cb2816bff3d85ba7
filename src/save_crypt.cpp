#include "save_crypt.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <sodium.h>

namespace {

constexpr size_t kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr size_t kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr size_t kKeySize = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr size_t kNonceAt = 5;
constexpr size_t kTagAt = kNonceAt + kNonceSize;

static_assert(kNonceSize == 24 && kTagSize == 16 && kKeySize == 32);
static_assert(kTagAt + kTagSize == crypt::kHeaderSize);

// The key is the BLAKE2b hash of these two constants. Changing either makes every stored
// file unreadable (it then reads as tampered and is moved aside).
constexpr unsigned char kSeeds[32] = {
    0x3a, 0x91, 0x5e, 0xc7, 0x08, 0xf4, 0x6b, 0x2d, 0xa0, 0x17, 0xd9, 0x84, 0x4f, 0xe2, 0x73, 0x1c,
    0xb5, 0x66, 0x0e, 0x9a, 0xc3, 0x58, 0x21, 0xfd, 0x7e, 0x30, 0x8b, 0xe9, 0x12, 0x45, 0xa7, 0xd6,
};
constexpr char kTag[16] = {'v', 'e', 'l', 'm', 'o', 'r', 'a', '-',
                           's', 'e', 'a', 'l', '-', 'k', 'e', 'y'};

// sodium_init() is thread-safe and may run more than once, but once is enough.
void ensure_sodium() {
    static const bool ready = sodium_init() >= 0;
    (void)ready;
}

void derive_key(unsigned char key[kKeySize]) {
    unsigned char input[sizeof kSeeds + sizeof kTag];
    std::memcpy(input, kSeeds, sizeof kSeeds);
    std::memcpy(input + sizeof kSeeds, kTag, sizeof kTag);
    crypto_generichash(key, kKeySize, input, sizeof input, nullptr, 0);
    sodium_memzero(input, sizeof input);
}

// Random bytes mixed with the steady clock, so that even a weak random source cannot hand
// out the same nonce twice in one run.
void make_nonce(unsigned char nonce[kNonceSize]) {
    std::random_device rd("default");
    for (size_t i = 0; i < kNonceSize; i += 4) {
        uint32_t r = static_cast<uint32_t>(rd());
        for (size_t b = 0; b < 4; ++b) nonce[i + b] = static_cast<unsigned char>(r >> (8 * b));
    }
    uint64_t ticks =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (size_t b = 0; b < 8; ++b) nonce[b] ^= static_cast<unsigned char>(ticks >> (8 * b));
}

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

} // namespace

std::string crypt::encrypt(const std::string& plain) {
    ensure_sodium();
    std::string out(kHeaderSize + plain.size(), '\0');
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    std::memcpy(dst, kMagic, sizeof kMagic);
    dst[4] = kVersion;
    make_nonce(dst + kNonceAt);

    unsigned char key[kKeySize];
    derive_key(key);
    crypto_aead_xchacha20poly1305_ietf_encrypt_detached(dst + kHeaderSize, dst + kTagAt, nullptr,
                                                        bytes(plain), plain.size(), nullptr, 0,
                                                        nullptr, dst + kNonceAt, key);
    sodium_memzero(key, sizeof key);
    return out;
}

crypt::ReadResult crypt::decrypt(const std::string& sealed, std::string* out) {
    if (out) out->clear();
    if (sealed.empty()) return ReadResult::NotFound;
    if (sealed.size() < kHeaderSize) return ReadResult::Tampered;
    if (std::memcmp(sealed.data(), kMagic, sizeof kMagic) != 0) return ReadResult::Tampered;
    if (static_cast<unsigned char>(sealed[4]) != kVersion) return ReadResult::Tampered;

    ensure_sodium();
    const unsigned char* src = bytes(sealed);
    size_t n = sealed.size() - kHeaderSize;
    std::string plain(n, '\0');
    unsigned char key[kKeySize];
    derive_key(key);
    int rc = crypto_aead_xchacha20poly1305_ietf_decrypt_detached(
        reinterpret_cast<unsigned char*>(plain.data()), nullptr, src + kHeaderSize, n, src + kTagAt,
        nullptr, 0, src + kNonceAt, key);
    sodium_memzero(key, sizeof key);
    if (rc != 0) {
        sodium_memzero(plain.data(), plain.size());
        return ReadResult::Tampered;
    }
    if (out) out->assign(plain);
    sodium_memzero(plain.data(), plain.size());
    return ReadResult::Ok;
}

bool crypt::looks_sealed(const std::string& data) {
    return data.size() >= kHeaderSize && std::memcmp(data.data(), kMagic, sizeof kMagic) == 0;
}
