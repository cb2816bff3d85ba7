#include "geoip.h"

#include "data/country_data.h"
#include "l10n.h"
#include "logger.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace geoip {

namespace {

constexpr char kMagic[6] = {'V', 'M', 'G', 'E', 'O', '1'};

// The real table is about 10 MB; anything far beyond that is not one, and reading it
// whole could exhaust memory.
constexpr uint64_t kMaxFileSize = 256ull << 20;

std::once_flag g_once;
Table g_table;
std::string g_root;

uint32_t le32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

// Copies a section of records as they are, fixing the byte order on big-endian hosts.
template <typename R> std::vector<R> copy_records(const char* p, size_t n) {
    std::vector<R> v(n);
    if (n) std::memcpy(v.data(), p, n * sizeof(R));
    if constexpr (std::endian::native == std::endian::big) {
        for (R& r : v) {
            if constexpr (sizeof(r.a) == 4) {
                r.a = __builtin_bswap32(r.a);
                r.b = __builtin_bswap32(r.b);
            } else {
                r.a = __builtin_bswap64(r.a);
                r.b = __builtin_bswap64(r.b);
            }
        }
    }
    return v;
}

bool code_ok(const char* cc) {
    auto printable = [](char c) { return c > ' ' && c < 0x7f; };
    return printable(cc[0]) && printable(cc[1]);
}

// Ranges must be ordered and disjoint for the binary search to find the one holding an
// address; a table that breaks this would give wrong countries without a trace.
template <typename R> bool records_ok(const std::vector<R>& v) {
    for (size_t i = 0; i < v.size(); ++i) {
        const R& r = v[i];
        if (r.a > r.b || !code_ok(r.cc)) return false;
        if (i > 0 && r.a <= v[i - 1].b) return false;
    }
    return true;
}

// The whole of a regular file; false when it cannot be read or is not a plausible table.
bool read_whole(const std::string& path, std::string& out) {
    if (path.empty()) return false;
    // O_NONBLOCK: a FIFO named by the environment must not hang the caller in open().
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        ::close(fd);
        return false;
    }
    out.clear();
    out.reserve(static_cast<size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > kMaxFileSize) {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

// The directory of the running executable, empty when the link cannot be read.
std::string exe_dir(const std::string& root) {
    char buf[4096];
    ssize_t n = ::readlink((root + "/proc/self/exe").c_str(), buf, sizeof buf);
    // A target as long as the buffer may have been cut short; treat it as unreadable.
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return {};
    std::string target(buf, static_cast<size_t>(n));
    size_t slash = target.rfind('/');
    return slash == std::string::npos ? std::string() : target.substr(0, slash);
}

template <typename R, typename K> std::vector<K> samples_of(const std::vector<R>& v) {
    std::vector<K> s;
    s.reserve(v.size() / SAMPLE_STRIDE + 1);
    for (size_t i = 0; i < v.size(); i += SAMPLE_STRIDE) s.push_back(v[i].a);
    return s;
}

// The range holding `key`: the last record whose first address is not above it, when
// that record reaches it. The samples pick the block of records to search.
template <typename R, typename K>
const R* find_range(const std::vector<R>& v, const std::vector<K>& samples, K key) {
    size_t lo = 0, hi = v.size();
    if (!samples.empty()) {
        const size_t j = static_cast<size_t>(std::upper_bound(samples.begin(), samples.end(), key) -
                                             samples.begin());
        if (j == 0) return nullptr;
        lo = (j - 1) * SAMPLE_STRIDE;
        hi = std::min(v.size(), j * SAMPLE_STRIDE);
    }
    const auto first = v.begin() + static_cast<ptrdiff_t>(lo);
    auto it = std::upper_bound(first, v.begin() + static_cast<ptrdiff_t>(hi), key,
                               [](K k, const R& r) { return k < static_cast<K>(r.a); });
    if (it == v.begin()) return nullptr;
    --it;
    return static_cast<K>(it->b) < key ? nullptr : &*it;
}

void load_once() {
    Table t;
    std::string path = load_first(candidate_paths(g_root), t);
    if (path.empty()) {
        logger::warn("country table not found \u2014 the Destinations page shows no countries");
        return;
    }
    logger::info("country table " + path + ": " + std::to_string(t.v4.size()) + " + " +
                 std::to_string(t.v6.size()) + " ranges");
    g_table = std::move(t);
}

const Table& table() {
    std::call_once(g_once, load_once);
    return g_table;
}

} // namespace

bool parse(std::string_view bytes, Table& out) {
    if (bytes.size() < 16 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
    // 64-bit sums: with 32-bit arithmetic a huge count wraps around and passes the check.
    const uint64_t n4 = le32(bytes.data() + 8);
    const uint64_t end4 = 16 + 10 * n4;
    if (end4 > bytes.size()) return false;
    const uint64_t n6 = le32(bytes.data() + 12 + 10 * n4);
    if (end4 + 18 * n6 > bytes.size()) return false;

    Table t;
    t.v4 = copy_records<R4>(bytes.data() + 12, n4);
    t.v6 = copy_records<R6>(bytes.data() + end4, n6);
    if (!records_ok(t.v4) || !records_ok(t.v6)) return false;
    t.s4 = samples_of<R4, uint32_t>(t.v4);
    t.s6 = samples_of<R6, uint64_t>(t.v6);
    out = std::move(t);
    return true;
}

// glibc's inet_pton for IPv6 tests every character against a digit string and costs more
// than the whole table search, so the plain forms are read here. The rules are those of
// inet_pton: groups of one to four hex digits, at most one "::", eight groups in all (at
// least one of them stood for by "::"), nothing else. Forms with a dotted IPv4 tail are
// left to inet_pton itself.
// Hex digit values, 16 for every other byte: one load per character instead of three
// range tests whose branches random address texts keep mispredicting.
constexpr auto kHex = [] {
    std::array<unsigned char, 256> t{};
    for (auto& v : t) v = 16;
    for (int c = 0; c < 10; ++c) t['0' + c] = static_cast<unsigned char>(c);
    for (int c = 0; c < 6; ++c) {
        t['a' + c] = static_cast<unsigned char>(10 + c);
        t['A' + c] = static_cast<unsigned char>(10 + c);
    }
    return t;
}();

bool parse_ipv6(std::string_view s, unsigned char out[16]) {
    auto hex = [](char c) -> unsigned { return kHex[static_cast<unsigned char>(c)]; };
    uint16_t g[8] = {};
    int n = 0, gap = -1;
    size_t i = 0;
    const size_t len = s.size();
    if (len == 0) return false;
    if (s[0] == ':') {
        if (len < 2 || s[1] != ':') return false;
        gap = 0;
        i = 2;
    }
    while (i < len) {
        unsigned v = 0;
        int digits = 0;
        for (unsigned h; i < len && digits < 5 && (h = hex(s[i])) < 16; ++i, ++digits)
            v = v * 16 + h;
        if (i < len && s[i] == '.') {
            if (s.find('\0') != std::string_view::npos) return false;
            return inet_pton(AF_INET6, std::string(s).c_str(), out) == 1;
        }
        if (digits == 0 || digits > 4 || n == 8) return false;
        g[n++] = static_cast<uint16_t>(v);
        if (i == len) break;
        if (s[i] != ':' || ++i == len) return false; // a stray character or a trailing ":"
        if (s[i] == ':') {
            if (gap >= 0) return false;
            gap = n;
            ++i;
        }
    }
    if (gap >= 0 ? n == 8 : n != 8) return false;
    const int zeros = 8 - n;
    for (int k = 0, src = 0; k < 8; ++k) {
        const uint16_t v = (gap >= 0 && k >= gap && k < gap + zeros) ? 0 : g[src++];
        out[2 * k] = static_cast<unsigned char>(v >> 8);
        out[2 * k + 1] = static_cast<unsigned char>(v & 0xff);
    }
    return true;
}

std::string lookup(const Table& t, const std::string& ip) {
    // inet_pton stops at a NUL byte; "1.2.3.4\0junk" is not an address.
    if (ip.find('\0') != std::string::npos) return {};
    unsigned char b[16];
    if (inet_pton(AF_INET, ip.c_str(), b) == 1) {
        const uint32_t x = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) |
                           uint32_t(b[3]);
        const unsigned o1 = b[0], o2 = b[1];
        if (o1 == 10 || o1 == 127 || o1 == 0 || o1 >= 224 || (o1 == 172 && o2 >= 16 && o2 <= 31) ||
            (o1 == 192 && o2 == 168) || (o1 == 169 && o2 == 254) ||
            (o1 == 100 && o2 >= 64 && o2 <= 127))
            return "LAN";
        const R4* r = find_range(t.v4, t.s4, x);
        return r ? std::string(r->cc, 2) : std::string();
    }
    if (!parse_ipv6(ip, b)) return {};
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if ((b[0] & 0xfe) == 0xfc || (b[0] == 0xfe && (b[1] & 0xc0) == 0x80) ||
        std::memcmp(b, loopback, 16) == 0)
        return "LAN";
    uint64_t p = 0;
    for (int i = 0; i < 8; ++i) p = (p << 8) | b[i];
    const R6* r = find_range(t.v6, t.s6, p);
    return r ? std::string(r->cc, 2) : std::string();
}

std::vector<std::string> candidate_paths(const std::string& root) {
    std::vector<std::string> out;
    if (const char* v = std::getenv("VELM_GEOIP")) out.emplace_back(v);
    const std::string dir = exe_dir(root);
    out.push_back(root + dir + "/../share/velmora/geoip.bin");
    if (const char* v = std::getenv("SNAP"))
        out.push_back(std::string(v) + "/usr/share/velmora/geoip.bin");
    if (const char* v = std::getenv("APPDIR"))
        out.push_back(std::string(v) + "/usr/share/velmora/geoip.bin");
    out.push_back(root + "/app/share/velmora/geoip.bin");
    out.push_back(root + "/usr/share/velmora/geoip.bin");
    out.push_back(root + dir + "/../data/geoip.bin");
    return out;
}

std::string load_first(const std::vector<std::string>& paths, Table& out) {
    std::string bytes;
    for (const auto& path : paths) {
        if (read_whole(path, bytes) && parse(bytes, out)) return path;
    }
    return {};
}

bool available() {
    return !table().v4.empty();
}

std::string country(const std::string& ip) {
    return lookup(table(), ip);
}

std::string name(const std::string& cc) {
    if (cc == "LAN") return L10n::tr("geo.lan");
    if (cc.empty()) return L10n::tr("geo.unknown");
    return name_in(cc, L10n::currentLanguage());
}

std::string name_in(const std::string& cc, const std::string& lang) {
    const country_data::Lang* chosen = nullptr;
    for (const auto& l : country_data::LANGS) {
        if (lang == l.code) {
            chosen = &l;
            break;
        }
        if (std::strcmp(l.code, "en") == 0) chosen = &l;
    }
    for (size_t i = 0; i < country_data::CODE_COUNT; ++i) {
        if (cc == country_data::CODES[i]) return chosen ? chosen->names[i] : cc;
    }
    return cc;
}

const char* attribution() {
    return "IP Geolocation by DB-IP";
}
const char* attribution_url() {
    return "https://db-ip.com";
}

void set_search_root(const std::string& root) {
    g_root = root;
}

} // namespace geoip
