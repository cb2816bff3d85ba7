// The interface language: texts looked up by dotted key ("geo.lan", "foot.conns"), the choice
// of language, its decimal separator and font family, and the language guard, a one-line file
// in the configuration directory that makes the next start run in English when a start in
// another language did not survive its first 20 seconds.
//
// Only the UI thread calls L10n. Keys are C strings so that a lookup builds nothing but the
// returned text; std::string keys are accepted for convenience.
#pragma once

#include <string>
#include <vector>

namespace i18n_data {
struct LangEntry;
}

class L10n {
public:
    struct LanguageInfo {
        std::string code;
        std::string native_name;
        bool rtl = false;
    };

    // Once at start: creates `config_dir` (mode 0700) for the guard file, an empty path turning
    // the guard off, and picks the language of the desktop without consulting the guard.
    static void init(const std::string& config_dir);
    // "auto" or "" follows the desktop's language list; a code selects that table, an unknown
    // code selects English. Consults and rewrites the guard file.
    static void setLanguage(const std::string& code);
    static std::string currentLanguage();
    static std::vector<LanguageInfo> available();

    // The text of `key` in the current language, English when it is not translated, the key
    // itself when it is unknown. The forms with arguments format the text with them and
    // accept only a text whose conversions are exactly the arguments' types: "s", "d", "sd",
    // "ss". A text that fails this falls back to English, then to the bare key.
    static std::string tr(const char* key);
    static std::string tr(const char* key, const char* s);
    static std::string tr(const char* key, int n);
    static std::string tr(const char* key, const char* s, int n);
    static std::string tr(const char* key, const char* a, const char* b);
    static std::string tr(const std::string& key) { return tr(key.c_str()); }
    static std::string tr(const std::string& key, const char* s) { return tr(key.c_str(), s); }
    static std::string tr(const std::string& key, int n) { return tr(key.c_str(), n); }
    static std::string tr(const std::string& key, const char* s, int n) {
        return tr(key.c_str(), s, n);
    }
    static std::string tr(const std::string& key, const char* a, const char* b) {
        return tr(key.c_str(), a, b);
    }

    static char decimalSeparator();
    static bool isRTL();
    static const char* uiFontFamily();

    // The guard's life cycle: the main loop reports 20 s of running, the application its clean
    // end; both remove the guard line this process wrote. onCrash puts it back and is safe to
    // call from a signal handler.
    static void startupSucceeded();
    static void cleanExit();
    static void onCrash();
    // True when this start runs in English because the guard blocked the chosen language.
    static bool fallbackActive();
    // Forgets the guard: the user picked a language by hand.
    static void clearFallback();

    // The placeholder signature of a printf format: "s" and "d" for each %s and %d in order,
    // "%%" skipped. False for any other conversion, flag, width or a trailing '%'.
    static bool conversions(const char* fmt, std::string& out);

    // Replaces the compiled tables by `langs` (i18n_data::LANG_COUNT entries over the same
    // keys, e.g. a copy with one text damaged); nullptr restores them. Tests use it to check
    // the defences against a bad translation, which the generator never lets through.
    static void useTables(const i18n_data::LangEntry* langs);

private:
    static int keyIndex(const char* key);
    static const char* lookup(const char* key);
    static const char* safeFormat(const char* key, const char* want);
    static std::string format(const char* text, ...);
    static std::string detectSystemLanguage();
    static int indexOfCode(const char* code);
    static bool guardBlocks(const char* line);
    static void writeGuard(const char* line);
    static void dropGuard(const char* line);
    static void activate(int index);
};
