// Country of a remote address from the range table geoip.bin shipped beside the program,
// and country names in the interface language.
//
// The table is loaded once per process, on the first call of available() or country(),
// from the first of the candidate paths that holds a valid table; it is read-only
// afterwards, so lookups may come from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace geoip {

// File and memory layout of one range (no padding): first and last address as numbers,
// and the two-letter country code, not terminated. Being packed, the fields may sit at odd
// addresses: read them by value, never bind a reference or pointer to them.
#pragma pack(push, 1)
struct R4 {
    uint32_t a;
    uint32_t b;
    char cc[2];
};
// IPv6 ranges are keyed on /64 prefixes: a and b are the upper 64 bits of the first and
// last address.
struct R6 {
    uint64_t a;
    uint64_t b;
    char cc[2];
};
#pragma pack(pop)
static_assert(sizeof(R4) == 10 && sizeof(R6) == 18);

// The records of both families, and every SAMPLE_STRIDE-th first address of them: a few
// hundred kilobytes that stay in cache and narrow each search to one short block.
inline constexpr size_t SAMPLE_STRIDE = 16;
struct Table {
    std::vector<R4> v4;
    std::vector<R6> v6;
    std::vector<uint32_t> s4;
    std::vector<uint64_t> s6;
};

// Checks `bytes` as the content of a table file; on success replaces `out` with its
// records (and their samples) and returns true. On failure `out` is left untouched.
bool parse(std::string_view bytes, Table& out);

// "LAN" for private, link-local, loopback and multicast addresses, else the code of the
// range of `t` holding `ip`, else empty (no range, or not an address).
std::string lookup(const Table& t, const std::string& ip);

// Reads IPv6 text into 16 bytes; accepts exactly what inet_pton(AF_INET6) accepts.
bool parse_ipv6(std::string_view text, unsigned char out[16]);

// The places a table is looked for, best first. `root` prefixes the system paths (not the
// ones taken from the environment) so tests can point them at a fixture tree.
std::vector<std::string> candidate_paths(const std::string& root = "");

// Loads the first of `paths` that holds a valid table into `out` and returns its path;
// empty when none does.
std::string load_first(const std::vector<std::string>& paths, Table& out);

// Loads the table if not yet done; true when it holds at least one IPv4 range.
bool available();

// Loads the table if not yet done, then lookup() in it.
std::string country(const std::string& ip);

// Display name of a code in the current interface language: the translated "LAN" and
// "unknown" texts for "LAN" and "", the code itself for a code without a name.
std::string name(const std::string& cc);

// The name of a country code in language `lang` (English when there is no such table);
// the code itself when it has no name.
std::string name_in(const std::string& cc, const std::string& lang);

// The credit the licence of the range data asks for (CC BY 4.0), with its link.
const char* attribution();
const char* attribution_url();

// Test hook: the root prefix of the process-wide loader's candidate paths. Only has an
// effect before the first load.
void set_search_root(const std::string& root);

} // namespace geoip
