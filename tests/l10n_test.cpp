// Text lookup with its fallbacks and placeholder checks, the choice of language from the
// settings and the desktop's language list, and the language guard file.
#include "data/i18n_data.h"
#include "l10n.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testsupport::read_file;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

int key_index(const char* key) {
    for (int i = 0; i < i18n_data::KEY_COUNT; ++i)
        if (std::string(i18n_data::KEYS[i]) == key) return i;
    return -1;
}

int lang_index(const char* code) {
    for (int i = 0; i < i18n_data::LANG_COUNT; ++i)
        if (std::string(i18n_data::LANGS[i].code) == code) return i;
    return -1;
}

// A copy of the compiled tables in which German has the texts given here and nothing else,
// the shape a hand-edited or damaged table would have.
class FakeGerman {
public:
    explicit FakeGerman(std::vector<std::pair<const char*, const char*>> texts)
        : m_values(i18n_data::KEY_COUNT, nullptr),
          m_langs(i18n_data::LANGS, i18n_data::LANGS + i18n_data::LANG_COUNT) {
        for (auto& [key, text] : texts) m_values[key_index(key)] = text;
        m_langs[lang_index("de")].values = m_values.data();
        L10n::useTables(m_langs.data());
    }
    ~FakeGerman() { L10n::useTables(nullptr); }

private:
    std::vector<const char*> m_values;
    std::vector<i18n_data::LangEntry> m_langs;
};

void use_languages(const char* language_list) {
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    setenv("LC_ALL", "C", 1);
    setenv("LANGUAGE", language_list, 1);
}

// ---------------------------------------------------------------------------------------------

TEST(L10nLookup, PlainTextsAndUnknownKeys) {
    use_languages("en_US");
    L10n::init("");
    EXPECT_EQ(L10n::tr("geo.lan"), "Local network");
    EXPECT_EQ(L10n::tr(std::string("tab.processes")), "Programs");
    // First and last key of the sorted table: the binary search reaches both ends.
    EXPECT_EQ(L10n::tr("about.comment"),
              "Network monitor for every device: live traffic, connections, programs and "
              "statistics.");
    EXPECT_EQ(L10n::tr("unit.pps"), "pkt/s");

    EXPECT_EQ(L10n::tr("no.such.key"), "no.such.key");
    EXPECT_EQ(L10n::tr("no.such.key", 5), "no.such.key");
    EXPECT_EQ(L10n::tr("no.such.key", "x", "y"), "no.such.key");
    EXPECT_EQ(L10n::tr(""), "");
    EXPECT_EQ(L10n::tr("geo.la"), "geo.la");     // a prefix of a key
    EXPECT_EQ(L10n::tr("geo.lan "), "geo.lan "); // a key with something after it
    EXPECT_EQ(L10n::tr("GEO.LAN"), "GEO.LAN");
    EXPECT_EQ(L10n::tr("zzz"), "zzz"); // beyond the last key
    EXPECT_EQ(L10n::tr(static_cast<const char*>(nullptr)), "");
}

TEST(L10nLookup, ArgumentsMustMatchTheText) {
    use_languages("en_US");
    L10n::init("");
    EXPECT_EQ(L10n::tr("foot.conns", 12), "Connections: 12");
    EXPECT_EQ(L10n::tr("dev.hidden", -3), "-3 hidden");
    EXPECT_EQ(L10n::tr("conn.listening_on", "443"), "Port 443 open");
    EXPECT_EQ(L10n::tr("about.version", "1.0.4", "1036"), "Version 1.0.4 (build 1036)");
    EXPECT_EQ(L10n::tr(std::string("dev.on"), "eth0"), "on eth0");

    // The caller's types decide: a text demanding "d" is never fed a string, and so on.
    EXPECT_EQ(L10n::tr("foot.conns", "x"), "foot.conns");
    EXPECT_EQ(L10n::tr("stats.since", 5), "stats.since");
    EXPECT_EQ(L10n::tr("about.version", "1.0.4"), "about.version");
    EXPECT_EQ(L10n::tr("conn.listening_on", "443", 2), "conn.listening_on");
    EXPECT_EQ(L10n::tr("geo.lan", 3), "geo.lan"); // a plain text takes no argument

    // A null string argument prints as nothing, never as "(null)" or a crash.
    EXPECT_EQ(L10n::tr("stats.since", nullptr), "Since ");
    EXPECT_EQ(L10n::tr("about.version", nullptr, "7"), "Version  (build 7)");

    // Long arguments are formatted whole: the result is measured before it is printed.
    const std::string longname(5000, 'n');
    EXPECT_EQ(L10n::tr("dev.member_of", longname.c_str()), "Member of " + longname);
}

TEST(L10nLookup, PlaceholderSignatures) {
    struct Case {
        const char* text;
        bool ok;
        const char* sig;
    };
    const Case cases[] = {
        {"Port %s open", true, "s"},
        {"Version %s (build %s)", true, "ss"},
        {"%d hidden", true, "d"},
        {"%s: %d", true, "sd"},
        {"no placeholders", true, ""},
        {"", true, ""},
        {"100%% done", true, ""},
        {"%d%%", true, "d"},
        {"%%%s", true, "s"}, // a literal percent, then a conversion
        {"%%d", true, ""},   // a literal percent followed by the letter d
        {"%5d", false, ""},  // width
        {"%-s", false, ""},  // flag
        {"%ld", false, ""},  // length modifier
        {"%1$s", false, ""}, // positional
        {"%x", false, ""},   // another conversion
        {"50%", false, ""},  // a percent sign at the very end
        {"%s %", false, ""},
        {"% d", false, ""},
    };
    for (const auto& c : cases) {
        std::string sig = "junk";
        EXPECT_EQ(L10n::conversions(c.text, sig), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(sig, c.sig) << c.text;
        }
    }
    std::string sig;
    EXPECT_FALSE(L10n::conversions(nullptr, sig));
}

TEST(L10nLookup, TranslationsFallBackToEnglish) {
    use_languages("de_DE.UTF-8");
    L10n::init("");
    ASSERT_EQ(L10n::currentLanguage(), "de");
    {
        FakeGerman de({{"geo.lan", "Lokales Netz"},
                       {"geo.unknown", ""},                   // empty: not translated
                       {"foot.conns", "Verbindungen: %s"},    // wrong conversion
                       {"dev.hidden", "%d ausgeblendet, %d"}, // one too many
                       {"dev.members", "Mitglieder: %5d"},    // a width
                       {"sb.conns", "Verbindungen: %d"},      // correct
                       {"dev.on", "an %s (100%%)"},           // correct, literal percent
                       {"stats.since", "Seit %s"},
                       {"tab.overview", "100% Übersicht"}}); // plain: shown as written
        EXPECT_EQ(L10n::tr("geo.lan"), "Lokales Netz");
        EXPECT_EQ(L10n::tr("geo.unknown"), "Unknown");
        EXPECT_EQ(L10n::tr("col.host"), "Remote host"); // null entry
        EXPECT_EQ(L10n::tr("tab.overview"), "100% Übersicht");

        EXPECT_EQ(L10n::tr("foot.conns", 12), "Connections: 12");
        EXPECT_EQ(L10n::tr("dev.hidden", 2), "2 hidden");
        EXPECT_EQ(L10n::tr("dev.members", 4), "Members: 4");
        EXPECT_EQ(L10n::tr("sb.conns", 7), "Verbindungen: 7");
        EXPECT_EQ(L10n::tr("dev.on", "eth0"), "an eth0 (100%)");
        EXPECT_EQ(L10n::tr("stats.since", nullptr), "Seit ");
        // The caller's mismatch is not rescued by the translation either.
        EXPECT_EQ(L10n::tr("sb.conns", "7"), "sb.conns");
    }
    // The real German table is back in use.
    const char* real = i18n_data::LANGS[lang_index("de")].values[key_index("geo.lan")];
    EXPECT_EQ(L10n::tr("geo.lan"), real && *real ? real : "Local network");
}

TEST(L10nLookup, EnglishItselfBrokenGivesTheKey) {
    use_languages("en");
    L10n::init("");
    std::vector<const char*> english(i18n_data::LANGS[lang_index("en")].values,
                                     i18n_data::LANGS[lang_index("en")].values +
                                         i18n_data::KEY_COUNT);
    english[key_index("geo.lan")] = "";
    english[key_index("foot.conns")] = "Connections: %ld";
    std::vector<i18n_data::LangEntry> langs(i18n_data::LANGS,
                                            i18n_data::LANGS + i18n_data::LANG_COUNT);
    langs[lang_index("en")].values = english.data();
    L10n::useTables(langs.data());
    EXPECT_EQ(L10n::tr("geo.lan"), "geo.lan");
    EXPECT_EQ(L10n::tr("foot.conns", 12), "foot.conns");
    // A plain lookup shows a text as written, conversions and all.
    EXPECT_EQ(L10n::tr("foot.conns"), "Connections: %ld");
    L10n::useTables(nullptr);
}

// ---------------------------------------------------------------------------------------------

TEST(L10nLanguage, DesktopLanguageList) {
    struct Case {
        const char* list;
        const char* code;
    };
    const Case cases[] = {
        {"de_DE.UTF-8", "de"},
        {"zh_TW.UTF-8", "zh_TW"}, // a table of its own, not Chinese in general
        {"zh_CN.UTF-8", "zh"},
        {"pt_BR.UTF-8", "pt"},
        {"sr@latin", "sr"},
        {"sr_RS.UTF-8@latin", "sr"},
        {"nb_NO.UTF-8", "nb"},
        {"C", "en"},
        {"C.UTF-8", "en"},
        {"POSIX", "en"},
        {"xx_YY:fr_FR", "fr"}, // the first known entry of the list wins
        {"it:de", "it"},
        {"tlh", "en"}, // nothing known at all
    };
    for (const auto& c : cases) {
        use_languages(c.list);
        L10n::init("");
        EXPECT_EQ(L10n::currentLanguage(), c.code) << c.list;
    }
    // Without LANGUAGE the locale variables speak.
    unsetenv("LANGUAGE");
    setenv("LC_ALL", "uk_UA.UTF-8", 1);
    L10n::init("");
    EXPECT_EQ(L10n::currentLanguage(), "uk");
}

TEST(L10nLanguage, SettingsCodes) {
    use_languages("fr_FR.UTF-8");
    L10n::init("");
    EXPECT_EQ(L10n::currentLanguage(), "fr");

    L10n::setLanguage("zh_TW");
    EXPECT_EQ(L10n::currentLanguage(), "zh_TW");
    // Only "auto" strips the territory: a stored "pt_BR" is no table code.
    L10n::setLanguage("pt_BR");
    EXPECT_EQ(L10n::currentLanguage(), "en");
    for (const char* bad : {"xx", "DE", "de ", "de.UTF-8", "zh_tw"}) {
        L10n::setLanguage(bad);
        EXPECT_EQ(L10n::currentLanguage(), "en") << bad;
    }
    L10n::setLanguage("ja");
    EXPECT_EQ(L10n::currentLanguage(), "ja");
    L10n::setLanguage("");
    EXPECT_EQ(L10n::currentLanguage(), "fr");
    L10n::setLanguage("auto");
    EXPECT_EQ(L10n::currentLanguage(), "fr");
}

TEST(L10nLanguage, SeparatorDirectionAndFont) {
    use_languages("en");
    L10n::init("");
    for (const char* code : {"de", "fr", "ru", "pt", "ku", "vi", "id"}) {
        L10n::setLanguage(code);
        EXPECT_EQ(L10n::decimalSeparator(), ',') << code;
    }
    for (const char* code : {"en", "ja", "zh", "he", "zh_TW", "ar", "th"}) {
        L10n::setLanguage(code);
        EXPECT_EQ(L10n::decimalSeparator(), '.') << code;
    }
    for (const char* code : {"ar", "fa", "he", "ps", "ur"}) {
        L10n::setLanguage(code);
        EXPECT_TRUE(L10n::isRTL()) << code;
    }
    L10n::setLanguage("de");
    EXPECT_FALSE(L10n::isRTL());
    EXPECT_STREQ(L10n::uiFontFamily(), "monospace");
    for (const char* code : {"ja", "zh_TW", "hi", "lo", "ar"}) {
        L10n::setLanguage(code);
        EXPECT_STREQ(L10n::uiFontFamily(), "sans-serif") << code;
    }
    L10n::setLanguage("ru");
    EXPECT_STREQ(L10n::uiFontFamily(), "monospace");

    // available() hands out the table in order, names and directions included.
    auto langs = L10n::available();
    ASSERT_EQ(langs.size(), 83u);
    EXPECT_EQ(langs[13].code, "en");
    EXPECT_EQ(langs[lang_index("zh_TW")].native_name, "繁體中文");
    EXPECT_TRUE(langs[lang_index("ar")].rtl);
}

// ---------------------------------------------------------------------------------------------
// The guard. Every case starts like the program: init with the configuration directory
// (language detection only), then the language from the settings.

struct GuardDir {
    TempDir tmp;
    std::string dir = tmp.path() + "/config/velmora";
    std::string file = dir + "/language-guard";
    bool exists() const { return access(file.c_str(), F_OK) == 0; }
};

std::string start(const GuardDir& g, const char* setting) {
    use_languages("en_GB.UTF-8");
    testing::internal::CaptureStderr();
    L10n::init(g.dir);
    L10n::setLanguage(setting);
    return testing::internal::GetCapturedStderr();
}

const char kMessage[] =
    "Velmora: language 'de' did not start cleanly last time — running in English\n";

TEST(L10nGuard, StartWritesTheGuardAndSuccessRemovesIt) {
    GuardDir g;
    EXPECT_EQ(start(g, "de"), "");
    EXPECT_EQ(L10n::currentLanguage(), "de");
    EXPECT_FALSE(L10n::fallbackActive());
    EXPECT_EQ(read_file(g.file), "de 1036\n");
    struct stat st {};
    ASSERT_EQ(stat(g.file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(g.dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    L10n::startupSucceeded();
    EXPECT_FALSE(g.exists());
    // A crash later in the run arms the guard again for the next start.
    L10n::onCrash();
    EXPECT_EQ(read_file(g.file), "de 1036\n");
    L10n::cleanExit();
    EXPECT_FALSE(g.exists());
}

TEST(L10nGuard, EnglishAndAutoDetectionWriteNothing) {
    GuardDir g;
    start(g, "en");
    EXPECT_FALSE(g.exists());
    // init's own detection never consults or writes the guard, even for another language.
    use_languages("de_DE.UTF-8");
    write_file(g.file, "de 1036\n");
    testing::internal::CaptureStderr();
    L10n::init(g.dir);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(L10n::currentLanguage(), "de");
    EXPECT_EQ(read_file(g.file), "de 1036\n");
    L10n::onCrash(); // nothing of this process's own to restore
    EXPECT_EQ(read_file(g.file), "de 1036\n");
}

TEST(L10nGuard, FailedStartFallsBackToEnglish) {
    GuardDir g;
    write_file(g.file, "de 1036\n");
    EXPECT_EQ(start(g, "de"), kMessage);
    EXPECT_EQ(L10n::currentLanguage(), "en");
    EXPECT_TRUE(L10n::fallbackActive());
    EXPECT_EQ(L10n::tr("geo.lan"), "Local network");
    EXPECT_EQ(L10n::decimalSeparator(), '.');

    // Surviving 20 s in English says nothing about German, nor does a crash: the next start
    // falls back again.
    L10n::startupSucceeded();
    L10n::onCrash();
    EXPECT_EQ(read_file(g.file), "de 1036\n");
    EXPECT_EQ(start(g, "de"), kMessage);
    EXPECT_TRUE(L10n::fallbackActive());
    // A clean end of the English run gives German another try; so does a language picked by
    // hand.
    L10n::cleanExit();
    EXPECT_FALSE(g.exists());
    EXPECT_EQ(start(g, "de"), "");
    EXPECT_EQ(L10n::currentLanguage(), "de");
    write_file(g.file, "de 1036\n");
    EXPECT_EQ(start(g, "de"), kMessage);
    L10n::clearFallback();
    EXPECT_FALSE(L10n::fallbackActive());
    EXPECT_FALSE(g.exists());
    testing::internal::CaptureStderr();
    L10n::setLanguage("de");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(L10n::currentLanguage(), "de");
    EXPECT_EQ(read_file(g.file), "de 1036\n");
}

TEST(L10nGuard, OtherBuildOrLanguageRewritesTheFile) {
    for (const char* old : {"de 1035\n", "fr 1036\n", "de 1036", "de 1036\n\n", "", "garbage"}) {
        GuardDir g;
        write_file(g.file, old);
        EXPECT_EQ(start(g, "de"), "") << old;
        EXPECT_EQ(L10n::currentLanguage(), "de") << old;
        EXPECT_FALSE(L10n::fallbackActive()) << old;
        EXPECT_EQ(read_file(g.file), "de 1036\n") << old;
    }
}

TEST(L10nGuard, MilestonesRemoveOnlyThisProcesssLine) {
    GuardDir g;
    start(g, "fr");
    ASSERT_EQ(read_file(g.file), "fr 1036\n");
    // Something else put its own line there since; it is not ours to remove.
    write_file(g.file, "ja 1036\n");
    L10n::startupSucceeded();
    L10n::cleanExit();
    EXPECT_EQ(read_file(g.file), "ja 1036\n");
    // Switching to English does not remove it either.
    L10n::setLanguage("en");
    EXPECT_EQ(read_file(g.file), "ja 1036\n");
}

TEST(L10nGuard, SwitchingLanguagesAtRunTime) {
    GuardDir g;
    start(g, "de");
    // Picking the same language again must not read its own line as a failed start.
    L10n::setLanguage("de");
    EXPECT_EQ(L10n::currentLanguage(), "de");
    EXPECT_FALSE(L10n::fallbackActive());
    EXPECT_EQ(read_file(g.file), "de 1036\n");

    L10n::setLanguage("fr");
    EXPECT_EQ(L10n::currentLanguage(), "fr");
    EXPECT_EQ(read_file(g.file), "fr 1036\n");

    L10n::setLanguage("en");
    EXPECT_EQ(L10n::currentLanguage(), "en");
    EXPECT_FALSE(g.exists());
    L10n::cleanExit();
    L10n::onCrash();
    EXPECT_FALSE(g.exists());

    // Back to German after the file is gone, and the crash path restores the current line.
    L10n::setLanguage("de");
    L10n::startupSucceeded();
    EXPECT_FALSE(g.exists());
    L10n::onCrash();
    EXPECT_EQ(read_file(g.file), "de 1036\n");
}

TEST(L10nGuard, UnusableGuardFilesAreIgnored) {
    {
        // A directory where the file belongs: unreadable and unwritable, no fallback.
        GuardDir g;
        testsupport::make_dirs(g.file);
        EXPECT_EQ(start(g, "de"), "");
        EXPECT_EQ(L10n::currentLanguage(), "de");
        L10n::cleanExit();
        L10n::onCrash();
        L10n::clearFallback();
        struct stat st {};
        EXPECT_EQ(stat(g.file.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
    {
        // An existing guard with a loose mode is made private when rewritten.
        GuardDir g;
        write_file(g.file, "fr 1036\n");
        chmod(g.file.c_str(), 0644);
        start(g, "de");
        struct stat st {};
        ASSERT_EQ(stat(g.file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    {
        // Without a configuration directory the guard is off: nothing is written anywhere.
        TempDir cwd;
        ASSERT_EQ(chdir(cwd.path().c_str()), 0);
        use_languages("en");
        L10n::init("");
        L10n::setLanguage("de");
        L10n::onCrash();
        EXPECT_EQ(L10n::currentLanguage(), "de");
        EXPECT_NE(access("language-guard", F_OK), 0);
        EXPECT_NE(access("/language-guard", F_OK), 0);
        ASSERT_EQ(chdir("/"), 0);
    }
}

} // namespace
