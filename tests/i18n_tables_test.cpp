// The compiled translation tables: the key list, every language's complete array, their
// placeholders, the language list with names and writing direction, and the English texts
// that other parts of the program depend on.
#include "data/i18n_data.h"
#include "l10n.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

namespace {

static_assert(i18n_data::KEY_COUNT == 287);
static_assert(i18n_data::LANG_COUNT == 83);
static_assert(std::size(i18n_data::KEYS) == 287);
static_assert(std::size(i18n_data::VALUES_zh_TW) == 287);

const char* english(const char* key) {
    const char* const* en = i18n_data::LANGS[13].values;
    for (int i = 0; i < i18n_data::KEY_COUNT; ++i)
        if (strcmp(i18n_data::KEYS[i], key) == 0) return en[i];
    return nullptr;
}

TEST(I18nTables, KeysAreSortedUniqueAndGrouped) {
    std::set<std::string> groups;
    for (int i = 0; i < i18n_data::KEY_COUNT; ++i) {
        const char* k = i18n_data::KEYS[i];
        ASSERT_NE(k, nullptr) << i;
        if (i > 0) {
            EXPECT_LT(strcmp(i18n_data::KEYS[i - 1], k), 0) << k; // sorted and unique
        }
        const std::string key = k;
        ASSERT_NE(key.find('.'), std::string::npos) << key;
        for (char c : key)
            EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_')
                << key;
        groups.insert(key.substr(0, key.find('.')));
    }
    EXPECT_EQ(groups.size(), 34u);
}

TEST(I18nTables, LanguageListInTableOrder) {
    const char* const codes[] = {
        "af", "am", "ar", "az", "be", "bg", "bn", "bs", "ca", "cs", "da", "de",    "el", "en",
        "es", "et", "eu", "fa", "fi", "fr", "gl", "gu", "ha", "he", "hi", "hr",    "hu", "hy",
        "id", "ig", "is", "it", "ja", "ka", "kk", "km", "kn", "ko", "ku", "ky",    "lo", "lt",
        "lv", "mg", "mk", "ml", "mn", "mr", "ms", "my", "nb", "ne", "nl", "pa",    "pl", "ps",
        "pt", "ro", "ru", "rw", "si", "sk", "sl", "so", "sq", "sr", "sv", "sw",    "ta", "te",
        "tg", "th", "tk", "tl", "tr", "uk", "ur", "uz", "vi", "yo", "zh", "zh_TW", "zu"};
    static_assert(std::size(codes) == i18n_data::LANG_COUNT);
    std::set<std::string> rtl;
    for (int i = 0; i < i18n_data::LANG_COUNT; ++i) {
        const auto& l = i18n_data::LANGS[i];
        EXPECT_STREQ(l.code, codes[i]);
        ASSERT_NE(l.values, nullptr) << l.code;
        ASSERT_NE(l.native_name, nullptr) << l.code;
        EXPECT_GT(strlen(l.native_name), 1u) << l.code;
        if (l.rtl) rtl.insert(l.code);
    }
    EXPECT_EQ(rtl, (std::set<std::string>{"ar", "fa", "he", "ps", "ur"}));

    std::map<std::string, std::string> names;
    for (const auto& l : i18n_data::LANGS) names[l.code] = l.native_name;
    EXPECT_EQ(names["de"], "Deutsch");
    EXPECT_EQ(names["en"], "English");
    EXPECT_EQ(names["fr"], "Français");
    EXPECT_EQ(names["nb"], "Norsk bokmål");
    EXPECT_EQ(names["id"], "Bahasa Indonesia");
    EXPECT_EQ(names["zh_TW"], "繁體中文");
    EXPECT_EQ(names["zu"], "isiZulu");
    EXPECT_EQ(names["ja"], "日本語");
    EXPECT_EQ(names["ka"], "ქართული"); // Georgian has no capitalised first letter
    EXPECT_NE(names["zh"], names["zh_TW"]);
}

// Every language has a text or a gap for each key; every text present carries exactly the
// English conversions, so no translation can make a formatted lookup read a wrong argument.
TEST(I18nTables, EveryLanguageMatchesEnglishPlaceholders) {
    const char* const* en = i18n_data::LANGS[13].values;
    ASSERT_STREQ(i18n_data::LANGS[13].code, "en");
    std::string en_sig, sig;
    for (int i = 0; i < i18n_data::KEY_COUNT; ++i) {
        ASSERT_NE(en[i], nullptr) << i18n_data::KEYS[i];
        EXPECT_NE(en[i][0], '\0') << i18n_data::KEYS[i];
        EXPECT_TRUE(L10n::conversions(en[i], en_sig)) << i18n_data::KEYS[i];
        for (const auto& l : i18n_data::LANGS) {
            const char* v = l.values[i]; // all 287 read, so a short array would be caught
            if (!v || !*v) continue;
            EXPECT_TRUE(L10n::conversions(v, sig)) << l.code << " " << i18n_data::KEYS[i];
            EXPECT_EQ(sig, en_sig) << l.code << " " << i18n_data::KEYS[i];
        }
    }
}

TEST(I18nTables, ArgumentKeysOfTheEnglishTable) {
    const std::map<std::string, std::string> want = {
        {"about.package", "s"}, {"about.version", "ss"}, {"conn.listening_on", "s"},
        {"dest.hosts", "d"},    {"dev.hidden", "d"},     {"dev.member_of", "s"},
        {"dev.members", "d"},   {"dev.on", "s"},         {"dev.title", "d"},
        {"foot.conns", "d"},    {"foot.dests", "d"},     {"foot.procs", "d"},
        {"hint.unmapped", "d"}, {"sb.connected", "d"},   {"sb.conns", "d"},
        {"sb.devices", "d"},    {"stats.since", "s"},    {"total.devices", "d"}};
    std::map<std::string, std::string> got;
    std::string sig;
    for (int i = 0; i < i18n_data::KEY_COUNT; ++i) {
        ASSERT_TRUE(L10n::conversions(i18n_data::LANGS[13].values[i], sig));
        if (!sig.empty()) got[i18n_data::KEYS[i]] = sig;
    }
    EXPECT_EQ(got, want);
}

TEST(I18nTables, EnglishTextsOthersRelyOn) {
    EXPECT_STREQ(english("tab.processes"), "Programs");
    EXPECT_STREQ(english("unit.pps"), "pkt/s");
    // Typographic punctuation survives the way from the .po file into the table.
    EXPECT_NE(std::string(english("set.howitworks_text")).find("“Other traffic”"),
              std::string::npos);
    // The license note names what the program links, and nothing it does not.
    const std::string licenses = english("about.licenses_text");
    for (const char* part :
         {"SDL2 (zlib)", "GLib", "Pango", "cairo", "(LGPL)", "HarfBuzz (MIT)", "libsodium (ISC)"})
        EXPECT_NE(licenses.find(part), std::string::npos) << part;
    for (const char* gone : {"GTK", "Monocypher", "CC0"})
        EXPECT_EQ(licenses.find(gone), std::string::npos) << gone;
    const std::string disclaimer = english("about.disclaimer.text");
    EXPECT_NE(disclaimer.find("warranty"), std::string::npos);
    EXPECT_NE(disclaimer.find("risk"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Completeness of the shipped languages.

// po/same-as-english.tsv: "code<TAB>key<TAB>reason" for texts that are rightly the same as
// English in that language ("*" for every language).
std::map<std::string, std::set<std::string>> same_as_english_allowed() {
    std::map<std::string, std::set<std::string>> allowed;
    std::ifstream f(std::string(VELMORA_SOURCE_DIR) + "/po/same-as-english.tsv");
    EXPECT_TRUE(f.good()) << "po/same-as-english.tsv is missing";
    std::string line;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t a = line.find('\t'), b = line.find('\t', a + 1);
        EXPECT_TRUE(a != std::string::npos && b != std::string::npos && b + 1 < line.size())
            << "a line without its reason: " << line;
        if (b == std::string::npos) continue;
        allowed[line.substr(0, a)].insert(line.substr(a + 1, b - a - 1));
    }
    return allowed;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(const char* s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        unsigned c = *p;
        int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0) return false;
        uint32_t cp = more == 0 ? c : more == 1 ? (c & 0x1F) : more == 2 ? (c & 0x0F) : (c & 0x07);
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((more == 1 && cp < 0x80) || (more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += more + 1;
    }
    return true;
}

TEST(I18nTables, EveryLanguageIsCompleteAndClean) {
    const auto allowed = same_as_english_allowed();
    const char* const* en = i18n_data::LANGS[13].values;
    std::set<std::string> used; // allow-list entries that matched, to find stale ones
    for (int l = 0; l < i18n_data::LANG_COUNT; ++l) {
        const auto& lang = i18n_data::LANGS[l];
        const std::string code = lang.code;
        for (int i = 0; i < i18n_data::KEY_COUNT; ++i) {
            const char* key = i18n_data::KEYS[i];
            const char* v = lang.values[i];
            ASSERT_TRUE(v && *v) << code << " " << key << " is empty";
            EXPECT_TRUE(valid_utf8(v)) << code << " " << key;
            for (const char* p = v; *p; ++p) {
                auto c = static_cast<unsigned char>(*p);
                EXPECT_FALSE((c < 0x20 && c != '\n') || c == 0x7F)
                    << code << " " << key << " holds control byte " << int(c);
                if (c == '%') {
                    // Only %s, %d and (in texts with arguments) %%.
                    EXPECT_TRUE(p[1] == 's' || p[1] == 'd' || p[1] == '%') << code << " " << key;
                    if (p[1]) ++p;
                }
            }
            if (code == "en" || strcmp(v, en[i]) != 0) continue;
            const bool ok = (allowed.count(code) && allowed.at(code).count(key)) ||
                            (allowed.count("*") && allowed.at("*").count(key));
            EXPECT_TRUE(ok) << code << " " << key << " is the English text \"" << v
                            << "\" and not in po/same-as-english.tsv";
            used.insert(code + " " + key);
        }
    }
    // Entries for one language must still be needed, so the list does not rot.
    for (const auto& [code, keys] : allowed) {
        if (code == "*") continue;
        for (const auto& key : keys)
            EXPECT_TRUE(used.count(code + " " + key))
                << "po/same-as-english.tsv lists " << code << " " << key
                << " but that text is translated now";
    }
}

} // namespace
