// Country names: the generated tables and the choice of language.
#include "data/country_data.h"
#include "geoip.h"
#include "l10n.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

TEST(CountryData, TablesAreComplete) {
    using namespace country_data;
    for (size_t i = 0; i < CODE_COUNT; ++i) {
        EXPECT_TRUE(strlen(CODES[i]) == 2 && isupper(CODES[i][0]) && isupper(CODES[i][1]));
        EXPECT_TRUE(i == 0 || strcmp(CODES[i - 1], CODES[i]) < 0) << "order at " << CODES[i];
    }
    std::set<std::string> langs;
    for (const auto& l : LANGS) {
        EXPECT_TRUE(langs.insert(l.code).second) << "twice: " << l.code;
        std::set<std::string> names;
        for (size_t i = 0; i < CODE_COUNT; ++i) {
            ASSERT_NE(l.names[i], nullptr);
            EXPECT_TRUE(*l.names[i] && testsupport::clean_utf8(l.names[i]))
                << l.code << " " << CODES[i];
            names.insert(l.names[i]);
        }
        // Two codes sharing a name would make the destinations list ambiguous.
        EXPECT_EQ(names.size(), CODE_COUNT) << l.code;
    }
    for (const char* code : {"en", "de", "zh", "zh_TW", "nb", "sr", "ku", "pt", "tl", "zu"})
        EXPECT_TRUE(langs.count(code)) << code;
}

TEST(CountryData, LocalesAndFallbacks) {
    // clang-format off
    const char* const cases[][3] = {
        {"de", "DE", "Deutschland"}, {"en", "DE", "Germany"}, {"fr", "DE", "Allemagne"},
        {"zh", "DE", "德国"} /* Simplified */, {"zh_TW", "DE", "德國"} /* Traditional */,
        {"zh_TW", "TW", "台灣"}, {"sr", "DE", "Немачка"} /* Cyrillic */,
        {"ku", "DE", "Almanya"} /* Kurmanji, Latin script */, {"nb", "DE", "Tyskland"},
        {"pt", "DE", "Alemanha"}, {"de", "AT", "Österreich"}, {"en", "XK", "Kosovo"},
        // Unknown codes stay as they are; unknown languages use English, with no guessing
        // from a prefix.
        {"de", "ZZ", "ZZ"}, {"de", "de", "de"}, {"de", "DEU", "DEU"}, {"xx", "DE", "Germany"},
        {"", "DE", "Germany"}, {"zh_CN", "DE", "Germany"},
    };
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(geoip::name_in(c[1], c[0]), c[2]) << c[0] << " " << c[1];
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
}
