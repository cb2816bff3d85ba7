// The envelope of Velmora's stored files: XChaCha20-Poly1305 with a key built into the
// program, so that any change made outside the program, and any corruption, is detected.
//
//   offset 0   4 bytes  "VELM"
//          4   1 byte   format version 1
//          5  24 bytes  nonce, new for every encryption
//         29  16 bytes  Poly1305 tag
//         45   n bytes  ciphertext, as long as the payload
#pragma once

#include <cstddef>
#include <string>

// A struct of static functions rather than a namespace: glibc's <unistd.h> declares a
// global function crypt(), and a namespace may not share its name. Qualified calls such as
// crypt::encrypt() still find the struct, because a name before "::" ignores functions.
struct crypt {
    enum class ReadResult { Ok = 0, NotFound = 1, Tampered = 2 };

    static constexpr char kMagic[4] = {'V', 'E', 'L', 'M'};
    static constexpr unsigned char kVersion = 1;
    static constexpr size_t kHeaderSize = 45;

    // The complete envelope around `plain`.
    static std::string encrypt(const std::string& plain);

    // NotFound for empty input, Tampered for anything that is not an intact envelope, Ok
    // with the payload in *out otherwise. *out (when given) is emptied first in every case.
    static ReadResult decrypt(const std::string& sealed, std::string* out);

    // At least a header long and starting with the magic; no decryption.
    static bool looks_sealed(const std::string& data);

    crypt() = delete;
};
