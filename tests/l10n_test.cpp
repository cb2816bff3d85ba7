// Text lookup with its fallbacks and placeholder checks, the choice of language from the
// settings and the desktop's language list, and the language guard file.
#include "data/i18n_data.h"
#include "l10n.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using testsupport::read_file;
using testsupport::TempDir;
using testsupport::use_languages;
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

// A copy of the compiled tables in which language `code` has the texts given here and,
// unless `keep_rest`, nothing else: the shape a hand-edited or damaged table would have.
class FakeTable {
public:
    FakeTable(const char* code, std::vector<std::pair<const char*, const char*>> texts,
              bool keep_rest = false)
        : m_langs(i18n_data::LANGS, i18n_data::LANGS + i18n_data::LANG_COUNT) {
        auto& lang = m_langs[lang_index(code)];
        m_values.assign(lang.values, lang.values + i18n_data::KEY_COUNT);
        if (!keep_rest) m_values.assign(i18n_data::KEY_COUNT, nullptr);
        for (auto& [key, text] : texts) m_values[key_index(key)] = text;
        lang.values = m_values.data();
        L10n::useTables(m_langs.data());
    }
    ~FakeTable() { L10n::useTables(nullptr); }

private:
    std::vector<const char*> m_values;
    std::vector<i18n_data::LangEntry> m_langs;
};

// ---------------------------------------------------------------------------------------------

TEST(L10nLookup, TextsUnknownKeysAndArguments) {
    use_languages("en_US");
    EXPECT_EQ(L10n::tr("geo.lan"), "Local network");
    EXPECT_EQ(L10n::tr(std::string("tab.processes")), "Programs");
    // First and last key of the sorted table: the binary search reaches both ends.
    EXPECT_NE(L10n::tr("about.comment"), "about.comment");
    EXPECT_EQ(L10n::tr("unit.pps"), "pkt/s");

    // Unknown keys: a prefix of a key, a key with something after it, beyond the last key.
    for (const char* key : {"no.such.key", "", "geo.la", "geo.lan ", "GEO.LAN", "zzz"})
        EXPECT_EQ(L10n::tr(key), key);
    EXPECT_EQ(L10n::tr("no.such.key", 5), "no.such.key");
    EXPECT_EQ(L10n::tr("no.such.key", "x", "y"), "no.such.key");
    EXPECT_EQ(L10n::tr(static_cast<const char*>(nullptr)), "");

    // Arguments must match the text.
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
    // The signature, or "bad" for texts that are refused. "%%%s": a literal percent, then a
    // conversion; "%%d": a literal percent followed by the letter d. Refused: width, flag,
    // length modifier, positional, another conversion, a percent sign at the very end.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"Port %s open", "s"}, {"Version %s (build %s)", "ss"}, {"%d hidden", "d"},
        {"%s: %d", "sd"}, {"no placeholders", ""}, {"", ""}, {"100%% done", ""}, {"%d%%", "d"},
        {"%%%s", "s"}, {"%%d", ""}, {"%5d", "bad"}, {"%-s", "bad"}, {"%ld", "bad"},
        {"%1$s", "bad"}, {"%x", "bad"}, {"50%", "bad"}, {"%s %", "bad"}, {"% d", "bad"},
        {nullptr, "bad"},
    };
    // clang-format on
    for (const auto& [text, want] : cases) {
        std::string sig = "junk";
        const bool ok = L10n::conversions(text, sig);
        EXPECT_EQ(ok ? sig : "bad", want) << (text ? text : "(null)");
    }
}

TEST(L10nLookup, TranslationsFallBackToEnglish) {
    use_languages("de_DE.UTF-8");
    ASSERT_EQ(L10n::currentLanguage(), "de");
    {
        FakeTable de("de", {{"geo.lan", "Lokales Netz"},
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
    FakeTable en("en", {{"geo.lan", ""}, {"foot.conns", "Connections: %ld"}}, true);
    EXPECT_EQ(L10n::tr("geo.lan"), "geo.lan");
    EXPECT_EQ(L10n::tr("foot.conns", 12), "foot.conns");
    // A plain lookup shows a text as written, conversions and all.
    EXPECT_EQ(L10n::tr("foot.conns"), "Connections: %ld");
    EXPECT_EQ(L10n::tr("tab.processes"), "Programs");
}

// ---------------------------------------------------------------------------------------------

TEST(L10nLanguage, DesktopLanguageList) {
    // zh_TW has a table of its own; the first known entry of a list wins; "tlh" is unknown.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"de_DE.UTF-8", "de"}, {"zh_TW.UTF-8", "zh_TW"}, {"zh_CN.UTF-8", "zh"},
        {"pt_BR.UTF-8", "pt"}, {"sr@latin", "sr"}, {"sr_RS.UTF-8@latin", "sr"},
        {"nb_NO.UTF-8", "nb"}, {"C", "en"}, {"C.UTF-8", "en"}, {"POSIX", "en"},
        {"xx_YY:fr_FR", "fr"}, {"it:de", "it"}, {"tlh", "en"},
    };
    // clang-format on
    for (const auto& [list, code] : cases) {
        use_languages(list);
        EXPECT_EQ(L10n::currentLanguage(), code) << list;
    }
    // Without LANGUAGE the locale variables speak.
    unsetenv("LANGUAGE");
    setenv("LC_ALL", "uk_UA.UTF-8", 1);
    L10n::init("");
    EXPECT_EQ(L10n::currentLanguage(), "uk");
}

TEST(L10nLanguage, SettingsCodes) {
    use_languages("fr_FR.UTF-8");
    EXPECT_EQ(L10n::currentLanguage(), "fr");
    // Only "auto" (and "") strips the territory: a stored "pt_BR" is no table code.
    // clang-format off
    for (const auto& [code, want] : {std::pair{"zh_TW", "zh_TW"}, {"pt_BR", "en"}, {"xx", "en"},
            {"DE", "en"}, {"de ", "en"}, {"de.UTF-8", "en"}, {"zh_tw", "en"}, {"ja", "ja"},
            {"", "fr"}, {"auto", "fr"}}) {
        // clang-format on
        L10n::setLanguage(code);
        EXPECT_EQ(L10n::currentLanguage(), want) << code;
    }
}

TEST(L10nLanguage, SeparatorDirectionAndFontOfOneLanguageEach) {
    use_languages("en");
    L10n::setLanguage("de");
    EXPECT_EQ(std::tuple(L10n::decimalSeparator(), L10n::isRTL()), std::tuple(',', false));
    EXPECT_STREQ(L10n::uiFontFamily(), "monospace");
    L10n::setLanguage("ar");
    EXPECT_EQ(std::tuple(L10n::decimalSeparator(), L10n::isRTL()), std::tuple('.', true));
    EXPECT_STREQ(L10n::uiFontFamily(), "sans-serif");
    EXPECT_EQ(L10n::available().at(lang_index("zh_TW")).native_name, "繁體中文");
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

int mode_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// One step of a guard script: what happens ("start xx" like the program with the setting
// xx, "detect xx" by the desktop's list only, "set xx" by hand, the milestones "ok", "exit",
// "crash", "clear", or "foreign": another process's line), then the language, the fallback
// flag and the guard file's content that must follow (nullptr: no file).
struct Step {
    std::string act;
    const char* lang;
    bool fallback;
    const char* file;
};

TEST(L10nGuard, Scripts) {
    const char* const de = "de 1036\n";
    struct Case {
        const char* what;
        const char* before; // the guard file left by an earlier run, nullptr: none
        std::vector<Step> steps;
    };
    // clang-format off
    const Case cases[] = {
        {"a good start removes the guard; a later crash arms it again", nullptr,
         {{"start de", "de", false, de}, {"ok", "de", false, nullptr},
          {"crash", "de", false, de}, {"exit", "de", false, nullptr}}},
        {"English writes nothing", nullptr, {{"start en", "en", false, nullptr}}},
        {"detection alone neither consults nor writes the guard", de,
         {{"detect de_DE.UTF-8", "de", false, de}, {"crash", "de", false, de}}},
        // Surviving 20 s in English says nothing about German, nor does a crash, so the next
        // start falls back again; a clean end of the English run gives German another try.
        {"a failed start falls back to English", de,
         {{"start de", "en", true, de}, {"ok", "en", true, de}, {"crash", "en", true, de},
          {"start de", "en", true, de}, {"exit", "en", true, nullptr},
          {"start de", "de", false, de}}},
        {"a language picked by hand after a fallback", de,
         {{"start de", "en", true, de}, {"clear", "en", false, nullptr},
          {"set de", "de", false, de}}},
        {"another build", "de 1035\n", {{"start de", "de", false, de}}},
        {"another language", "fr 1036\n", {{"start de", "de", false, de}}},
        {"no line feed", "de 1036", {{"start de", "de", false, de}}},
        {"two line feeds", "de 1036\n\n", {{"start de", "de", false, de}}},
        {"empty", "", {{"start de", "de", false, de}}},
        {"garbage", "garbage", {{"start de", "de", false, de}}},
        {"milestones remove only this process's line", nullptr,
         {{"start fr", "fr", false, "fr 1036\n"}, {"foreign", "fr", false, "ja 1036\n"},
          {"ok", "fr", false, "ja 1036\n"}, {"exit", "fr", false, "ja 1036\n"},
          {"set en", "en", false, "ja 1036\n"}}},
        // Picking the same language again must not read its own line as a failed start.
        {"switching at run time", nullptr,
         {{"start de", "de", false, de}, {"set de", "de", false, de},
          {"set fr", "fr", false, "fr 1036\n"}, {"set en", "en", false, nullptr},
          {"exit", "en", false, nullptr}, {"crash", "en", false, nullptr},
          {"set de", "de", false, de}, {"ok", "de", false, nullptr},
          {"crash", "de", false, de}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        GuardDir g;
        if (c.before) write_file(g.file, c.before); // with a loose mode, 0644
        for (const auto& s : c.steps) {
            const std::string arg = s.act.substr(s.act.find(' ') + 1),
                              where = c.what + (" / " + s.act);
            std::string err;
            if (s.act.starts_with("start ")) {
                err = start(g, arg.c_str());
            } else {
                testing::internal::CaptureStderr();
                if (s.act.starts_with("detect ")) {
                    setenv("LANGUAGE", arg.c_str(), 1);
                    L10n::init(g.dir);
                } else if (s.act.starts_with("set ")) {
                    L10n::setLanguage(arg);
                } else if (s.act == "foreign") {
                    write_file(g.file, "ja 1036\n");
                    chmod(g.file.c_str(), 0600);
                } else {
                    s.act == "ok"      ? L10n::startupSucceeded()
                    : s.act == "exit"  ? L10n::cleanExit()
                    : s.act == "crash" ? L10n::onCrash()
                                       : L10n::clearFallback();
                }
                err = testing::internal::GetCapturedStderr();
            }
            const bool warned = s.act.starts_with("start ") && s.fallback;
            EXPECT_EQ(err, warned ? kMessage : "") << where;
            EXPECT_EQ(L10n::currentLanguage(), s.lang) << where;
            EXPECT_EQ(L10n::fallbackActive(), s.fallback) << where;
            EXPECT_EQ(g.exists() ? read_file(g.file) : "(none)", s.file ? s.file : "(none)")
                << where;
            // What this process writes is private, in a directory it made private.
            const bool wrote = s.act.starts_with("start ") || s.act.starts_with("set ");
            EXPECT_EQ(s.file && !s.fallback && wrote ? mode_of(g.file) : 0600, 0600) << where;
            EXPECT_EQ(!c.before && wrote ? mode_of(g.dir) : 0700, 0700) << where;
        }
    }
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
        EXPECT_EQ(mode_of(g.file) & 0700, 0700) << "still the directory";
    }
    {
        // Without a configuration directory the guard is off: nothing is written anywhere.
        TempDir cwd;
        ASSERT_EQ(chdir(cwd.path().c_str()), 0);
        use_languages("en");
        L10n::setLanguage("de");
        L10n::onCrash();
        EXPECT_EQ(L10n::currentLanguage(), "de");
        EXPECT_NE(access("language-guard", F_OK), 0);
        EXPECT_NE(access("/language-guard", F_OK), 0);
        ASSERT_EQ(chdir("/"), 0);
    }
}

} // namespace
