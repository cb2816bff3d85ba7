// The compiled translation tables beyond what the generator's own checks prove: the
// language list's names and directions, the English texts and arguments that other parts of
// the program depend on, and every language complete apart from the listed exceptions.
// (Sorted keys, valid UTF-8 and matching placeholders are checked by the build's --check.)
#include "data/i18n_data.h"
#include "l10n.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace {

const char* english(const char* key) {
    const char* const* en = i18n_data::LANGS[13].values;
    for (int i = 0; i < i18n_data::KEY_COUNT; ++i)
        if (strcmp(i18n_data::KEYS[i], key) == 0) return en[i];
    return nullptr;
}

TEST(I18nTables, LanguageNamesAndDirections) {
    std::set<std::string> rtl;
    std::map<std::string, std::string> names;
    for (const auto& l : i18n_data::LANGS) {
        if (l.rtl) rtl.insert(l.code);
        names[l.code] = l.native_name;
    }
    EXPECT_EQ(rtl, (std::set<std::string>{"ar", "fa", "he", "ps", "ur"}));
    EXPECT_EQ(names["fr"], "Français");
    EXPECT_EQ(names["nb"], "Norsk bokmål");
    EXPECT_EQ(names["zh_TW"], "繁體中文");
    EXPECT_EQ(names["ka"], "ქართული"); // Georgian has no capitalised first letter
    EXPECT_NE(names["zh"], names["zh_TW"]);
}

TEST(I18nTables, ArgumentKeysOfTheEnglishTable) {
    std::map<std::string, std::string> want = {
        {"about.package", "s"}, {"about.version", "ss"}, {"conn.listening_on", "s"},
        {"dest.hosts", "d"},    {"dev.hidden", "d"},     {"dev.member_of", "s"},
        {"dev.members", "d"},   {"dev.on", "s"},         {"dev.title", "d"},
        {"foot.conns", "d"},    {"foot.dests", "d"},     {"foot.procs", "d"},
        {"hint.unmapped", "d"}, {"sb.connected", "d"},   {"sb.conns", "d"},
        {"sb.devices", "d"},    {"stats.since", "s"},    {"total.devices", "d"}};
    want.insert({{"plan.alert", "sd"},
                 {"plan.export_failed", "s"},
                 {"plan.exported", "s"},
                 {"plan.left", "s"},
                 {"plan.period", "ss"},
                 {"plan.projection", "s"},
                 {"plan.used", "ss"}});
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
            EXPECT_TRUE(testsupport::clean_utf8(v, true))
                << code << " " << key << " holds a control byte";
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
