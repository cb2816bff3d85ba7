// Country names: the generated tables and the choice of language.
#include "data/country_data.h"
#include "geoip.h"
#include "l10n.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

// True when `s` is well-formed UTF-8 without control characters.
bool clean_utf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f) return false;
        size_t extra = c < 0x80         ? 0
                       : (c >> 5) == 6  ? 1
                       : (c >> 4) == 14 ? 2
                       : (c >> 3) == 30 ? 3
                                        : 9;
        if (extra == 9 || i + extra >= s.size()) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

} // namespace

TEST(CountryData, CodesAndTablesAreComplete) {
    using namespace country_data;
    ASSERT_EQ(std::size(CODES), 250u);
    EXPECT_STREQ(CODES[0], "AD");
    EXPECT_STREQ(CODES[249], "ZW");
    for (size_t i = 0; i < CODE_COUNT; ++i) {
        const std::string c = CODES[i];
        EXPECT_TRUE(c.size() == 2 && isupper(c[0]) && isupper(c[1])) << c;
        if (i > 0) {
            EXPECT_LT(std::strcmp(CODES[i - 1], CODES[i]), 0) << "order at " << c;
        }
    }

    ASSERT_EQ(std::size(LANGS), 83u);
    std::set<std::string> langs;
    for (const auto& l : LANGS) {
        EXPECT_TRUE(langs.insert(l.code).second) << "duplicate language " << l.code;
        std::set<std::string> names;
        for (size_t i = 0; i < CODE_COUNT; ++i) {
            ASSERT_NE(l.names[i], nullptr) << l.code << " " << CODES[i];
            const std::string n = l.names[i];
            EXPECT_FALSE(n.empty()) << l.code << " " << CODES[i];
            EXPECT_TRUE(clean_utf8(n)) << l.code << " " << CODES[i];
            names.insert(n);
        }
        // Two codes sharing a name would make the destinations list ambiguous.
        EXPECT_EQ(names.size(), CODE_COUNT) << l.code;
    }
    for (const char* code : {"en", "de", "zh", "zh_TW", "nb", "sr", "ku", "pt", "tl", "zu"})
        EXPECT_TRUE(langs.count(code)) << code;
}

TEST(CountryData, LocalesChosenWithCare) {
    struct Case {
        const char *lang, *cc, *want;
    } cases[] = {
        {"de", "DE", "Deutschland"}, {"en", "DE", "Germany"},    {"fr", "DE", "Allemagne"},
        {"zh", "DE", "德国"},                                 // Simplified
        {"zh_TW", "DE", "德國"},                              // Traditional
        {"zh_TW", "TW", "台灣"},     {"sr", "DE", "Немачка"}, // Cyrillic, not Latin
        {"ku", "DE", "Almanya"},                              // Kurmanji in Latin script
        {"nb", "DE", "Tyskland"},    {"pt", "DE", "Alemanha"},   {"ja", "JP", "日本"},
        {"en", "XK", "Kosovo"},      {"de", "AT", "Österreich"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(geoip::name_in(c.cc, c.lang), c.want) << c.lang << " " << c.cc;
}

TEST(CountryData, UnknownCodesAndLanguages) {
    EXPECT_EQ(geoip::name_in("ZZ", "de"), "ZZ");
    EXPECT_EQ(geoip::name_in("de", "de"), "de"); // codes are upper case
    EXPECT_EQ(geoip::name_in("D", "de"), "D");
    EXPECT_EQ(geoip::name_in("DEU", "de"), "DEU");
    EXPECT_EQ(geoip::name_in("DE", "xx"), "Germany");
    EXPECT_EQ(geoip::name_in("DE", ""), "Germany");
    EXPECT_EQ(geoip::name_in("DE", "zh_CN"), "Germany"); // no prefix matching
    EXPECT_EQ(geoip::name_in("ZW", "zu"), "iZimbabwe");
}

TEST(GeoipName, FollowsTheInterfaceLanguage) {
    L10n::setLanguage("de");
    ASSERT_EQ(L10n::currentLanguage(), "de");
    EXPECT_EQ(geoip::name("DE"), "Deutschland");
    EXPECT_EQ(geoip::name("ZZ"), "ZZ");
    EXPECT_EQ(geoip::name("LAN"), L10n::tr("geo.lan"));
    EXPECT_EQ(geoip::name(""), L10n::tr("geo.unknown"));
    EXPECT_NE(geoip::name("LAN"), "LAN");

    L10n::setLanguage("en");
    EXPECT_EQ(geoip::name("DE"), "Germany");
    EXPECT_EQ(geoip::name("LAN"), L10n::tr("geo.lan"));
}
