#include "l10n.h"

#include "data/i18n_data.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

using i18n_data::KEY_COUNT;
using i18n_data::KEYS;
using i18n_data::LANG_COUNT;

namespace {

// Languages written with a decimal comma; every other one uses a point.
const char* const COMMA[] = {
    "af", "az", "be", "bg", "bs", "ca", "cs", "da", "de", "el", "es", "et", "eu", "fi", "fr", "gl",
    "hr", "hu", "hy", "id", "is", "it", "ka", "kk", "ky", "lt", "lv", "mk", "mn", "nb", "nl", "pl",
    "pt", "ro", "ru", "rw", "sk", "sl", "sq", "sr", "sv", "tg", "tk", "tr", "uk", "uz", "vi", "ku"};

// Scripts that monospaced fonts cover badly or not at all; these get a proportional face.
const char* const NON_MONO[] = {"zh", "zh_TW", "ja", "ko", "ar", "fa", "ur", "ps", "he",
                                "hi", "ne",    "mr", "bn", "th", "gu", "pa", "ta", "te",
                                "kn", "ml",    "si", "am", "my", "km", "lo"};

template <size_t N> bool listed(const char* const (&list)[N], const char* code) {
    for (const char* c : list)
        if (strcmp(c, code) == 0) return true;
    return false;
}

// The tables in use: the compiled ones unless a test substitutes its own.
const i18n_data::LangEntry* g_langs = i18n_data::LANGS;

std::string g_setting = "auto";
const char* g_code = "en"; // always a code of the tables (static storage)
int g_index = 0;
int g_en = 0;
bool g_rtl = false;
bool g_guarded = false;
bool g_fallback = false;
// Plain arrays, not strings: onCrash reads them from a signal handler.
char g_guard_path[512];
char g_guard_line[64];
// The guard line that made this start fall back to English; a clean end of this run removes
// it, so that the next start tries that language again instead of never again.
char g_blocked_line[64];
// Derived from g_code on every switch, so the per-frame callers do not search the lists.
char g_decimal = '.';
bool g_proportional = false;

// Moves p past the next conversion and returns 's' or 'd'; 0 at the end of the text, -1 for
// anything that is not %s, %d or %%.
int next_conversion(const char*& p) {
    for (;;) {
        const char* q = strchr(p, '%');
        if (!q) {
            p += strlen(p);
            return 0;
        }
        if (q[1] == '%') {
            p = q + 2;
            continue;
        }
        if (q[1] == 's' || q[1] == 'd') {
            p = q + 2;
            return q[1];
        }
        return -1;
    }
}

// conversions(text) == want, without building the signature.
bool signature_is(const char* text, const char* want) {
    const char* p = text;
    for (;;) {
        int c = next_conversion(p);
        if (c <= 0) return c == 0 && *want == '\0';
        if (*want != c) return false;
        ++want;
    }
}

bool present(const char* text) {
    return text != nullptr && text[0] != '\0';
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Lookups

int L10n::keyIndex(const char* key) {
    if (!key) return -1;
    int lo = 0, hi = KEY_COUNT;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (strcmp(KEYS[mid], key) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < KEY_COUNT && strcmp(KEYS[lo], key) == 0 ? lo : -1;
}

const char* L10n::lookup(const char* key) {
    int i = keyIndex(key);
    if (i < 0) return key ? key : "";
    const char* v = g_langs[g_index].values[i];
    if (!present(v)) v = g_langs[g_en].values[i];
    return present(v) ? v : key;
}

bool L10n::conversions(const char* fmt, std::string& out) {
    out.clear();
    if (!fmt) return false;
    const char* p = fmt;
    for (;;) {
        int c = next_conversion(p);
        if (c < 0) return false;
        if (c == 0) return true;
        out += static_cast<char>(c);
    }
}

const char* L10n::safeFormat(const char* key, const char* want) {
    int i = keyIndex(key);
    if (i < 0) return nullptr;
    const char* v = g_langs[g_index].values[i];
    if (present(v) && signature_is(v, want)) return v;
    v = g_langs[g_en].values[i];
    if (present(v) && signature_is(v, want)) return v;
    return nullptr;
}

std::string L10n::format(const char* text, ...) {
    va_list ap;
    va_start(ap, text);
    va_list again;
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, text, ap);
    va_end(ap);
    std::string out;
    if (n < 0) {
        out = text;
    } else {
        out.resize(static_cast<size_t>(n));
        vsnprintf(out.data(), out.size() + 1, text, again);
    }
    va_end(again);
    return out;
}

std::string L10n::tr(const char* key) {
    return lookup(key);
}

std::string L10n::tr(const char* key, const char* s) {
    const char* text = safeFormat(key, "s");
    if (!text) return key ? key : "";
    return format(text, s ? s : "");
}

std::string L10n::tr(const char* key, int n) {
    const char* text = safeFormat(key, "d");
    if (!text) return key ? key : "";
    return format(text, n);
}

std::string L10n::tr(const char* key, const char* s, int n) {
    const char* text = safeFormat(key, "sd");
    if (!text) return key ? key : "";
    return format(text, s ? s : "", n);
}

std::string L10n::tr(const char* key, const char* a, const char* b) {
    const char* text = safeFormat(key, "ss");
    if (!text) return key ? key : "";
    return format(text, a ? a : "", b ? b : "");
}

void L10n::useTables(const i18n_data::LangEntry* langs) {
    g_langs = langs ? langs : i18n_data::LANGS;
    activate(g_index);
}

// ---------------------------------------------------------------------------------------------
// Language choice

std::string L10n::currentLanguage() {
    return g_code;
}

std::vector<L10n::LanguageInfo> L10n::available() {
    std::vector<LanguageInfo> out;
    out.reserve(LANG_COUNT);
    for (int i = 0; i < LANG_COUNT; ++i)
        out.push_back({g_langs[i].code, g_langs[i].native_name, g_langs[i].rtl});
    return out;
}

char L10n::decimalSeparator() {
    return g_decimal;
}
bool L10n::isRTL() {
    return g_rtl;
}
const char* L10n::uiFontFamily() {
    return g_proportional ? "sans-serif" : "monospace";
}
bool L10n::fallbackActive() {
    return g_fallback;
}

int L10n::indexOfCode(const char* code) {
    for (int i = 0; i < LANG_COUNT; ++i)
        if (strcmp(g_langs[i].code, code) == 0) return i;
    return -1;
}

std::string L10n::detectSystemLanguage() {
    // Most preferred first, already expanded by GLib: "de_DE.UTF-8" is followed by "de_DE",
    // "de.UTF-8" and "de", and the list always ends in "C".
    for (const gchar* const* names = g_get_language_names(); names && *names; ++names) {
        std::string name = *names;
        if (name.empty() || name == "C") continue;
        name.resize(std::min(name.find('.'), name.size()));
        name.resize(std::min(name.find('@'), name.size()));
        if (indexOfCode(name.c_str()) >= 0) return name;
        size_t us = name.find('_');
        if (us != std::string::npos) {
            name.resize(us);
            if (indexOfCode(name.c_str()) >= 0) return name;
        }
    }
    return "en";
}

void L10n::activate(int index) {
    g_index = index;
    g_code = g_langs[index].code;
    g_rtl = g_langs[index].rtl;
    g_decimal = listed(COMMA, g_code) ? ',' : '.';
    g_proportional = listed(NON_MONO, g_code);
}

void L10n::init(const std::string& config_dir) {
    int en = indexOfCode("en");
    g_en = en >= 0 ? en : 0;
    // A second init (tests simulate restarts) starts over like a fresh process.
    g_setting = "auto";
    g_guarded = false;
    g_guard_line[0] = '\0';
    g_guard_path[0] = '\0';
    g_blocked_line[0] = '\0';
    if (!config_dir.empty()) {
        g_mkdir_with_parents(config_dir.c_str(), 0700);
        std::string path = config_dir + "/language-guard";
        // A cut path would name another file; without room the guard stays off.
        if (path.size() < sizeof g_guard_path) memcpy(g_guard_path, path.c_str(), path.size() + 1);
    }
    setLanguage(g_setting);
    g_guarded = true;
}

void L10n::setLanguage(const std::string& code) {
    g_setting = code.empty() ? "auto" : code;
    std::string candidate = g_setting == "auto" ? detectSystemLanguage() : g_setting;
    int index = indexOfCode(candidate.c_str());
    if (index < 0) index = g_en;

    char previous[sizeof g_guard_line];
    memcpy(previous, g_guard_line, sizeof previous);
    g_fallback = false;
    g_guard_line[0] = '\0';

    if (index == g_en || !g_guarded) {
        if (previous[0] && g_guard_path[0]) dropGuard(previous);
    } else {
        char line[sizeof g_guard_line];
        snprintf(line, sizeof line, "%s %s\n", g_langs[index].code, version::kBuild);
        if (strcmp(line, previous) != 0 && guardBlocks(line)) {
            fprintf(stderr,
                    "Velmora: language '%s' did not start cleanly last time — running in "
                    "English\n",
                    g_langs[index].code);
            g_fallback = true;
            memcpy(g_blocked_line, line, sizeof line);
            index = g_en;
        } else {
            memcpy(g_guard_line, line, sizeof line);
            if (g_guard_path[0]) writeGuard(line);
        }
    }
    activate(index);
}

// ---------------------------------------------------------------------------------------------
// The guard file

bool L10n::guardBlocks(const char* line) {
    if (!g_guard_path[0]) return false;
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(g_guard_path, &contents, &length, nullptr)) return false;
    bool same = length == strlen(line) && memcmp(contents, line, length) == 0;
    g_free(contents);
    return same;
}

// Only async-signal-safe calls: onCrash runs this from the crash handler.
void L10n::writeGuard(const char* line) {
    int fd = open(g_guard_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    // An older file keeps its mode through O_CREAT; the guard is private either way.
    (void)fchmod(fd, 0600);
    size_t len = strlen(line), done = 0;
    while (done < len) {
        ssize_t n = write(fd, line + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
}

// Removes the guard file when it still holds `line`: the line this process wrote. A file
// that now holds another line belongs to someone else (another start) and stays.
void L10n::dropGuard(const char* line) {
    if (guardBlocks(line)) g_unlink(g_guard_path);
}

void L10n::startupSucceeded() {
    if (g_guard_line[0] && g_guard_path[0]) dropGuard(g_guard_line);
}

void L10n::cleanExit() {
    if (g_guard_line[0] && g_guard_path[0]) dropGuard(g_guard_line);
    if (g_blocked_line[0] && g_guard_path[0]) dropGuard(g_blocked_line);
}

void L10n::onCrash() {
    if (g_guard_path[0] && g_guard_line[0]) writeGuard(g_guard_line);
}

void L10n::clearFallback() {
    if (g_guard_path[0]) g_unlink(g_guard_path);
    g_fallback = false;
}
