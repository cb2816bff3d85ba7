// tools/gen_i18n.py on copies of po/: every kind of broken translation file stops the
// generator with a message naming file, line and fault; good ones are read like gettext.
// (That the committed tables are current is checked by every build.)
#include "support/support.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

using testsupport::read_file;
using testsupport::RunResult;
using testsupport::sh;
using testsupport::TempDir;
using testsupport::write_file;

namespace {

const std::string kSource = VELMORA_SOURCE_DIR;

// A copy of the translation sources to damage.
struct Tree {
    TempDir tmp;
    std::string po = tmp.path() + "/po";
    std::string names = tmp.path() + "/names.tsv";
    std::string out = tmp.path() + "/out";

    // The languages the cases below edit start untranslated.
    Tree() {
        EXPECT_TRUE(sh("mkdir -p '" + po + "' && cp '" + kSource + "'/po/*.po '" + po +
                       "/' && cp '" + kSource + "/tools/native_names.tsv' '" + names + "'"));
        for (const char* code : {"de", "fr", "ja"}) untranslate(code);
    }

    // Empties every translation of po/<code>.po (keeping the header), so the cases below
    // start from the same untranslated file whatever the shipped translation says.
    void untranslate(const std::string& code) const {
        const std::string path = po + "/" + code + ".po";
        std::string out;
        bool pending = false, skipping = false;
        for (const std::string& line : testsupport::lines(read_file(path))) {
            if (skipping && !line.empty() && line[0] == '"') continue;
            skipping = false;
            if (pending && line.rfind("msgstr ", 0) == 0) {
                out += "msgstr \"\"\n";
                pending = false;
                skipping = true;
                continue;
            }
            if (line.rfind("msgid \"", 0) == 0) pending = line != "msgid \"\"";
            out += line + "\n";
        }
        write_file(path, out);
    }

    RunResult gen(std::vector<std::string> extra = {}) const {
        std::vector<std::string> args = {
            kSource + "/tools/gen_i18n.py", "--po-dir", po, "--names", names, "--out-dir", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return testsupport::run(testsupport::find_program("python3"), args);
    }

    // Replaces the first `from` in po/<code>.po by `to`; false when it is not there.
    bool edit(const std::string& code, const std::string& from, const std::string& to) const {
        const std::string path = po + "/" + code + ".po";
        std::string text = read_file(path);
        size_t at = text.find(from);
        if (at == std::string::npos) return false;
        text.replace(at, from.size(), to);
        write_file(path, text);
        return true;
    }

    std::string source() const { return read_file(out + "/i18n_data.cpp"); }
};

TEST(GenI18n, RejectsBrokenTranslations) {
    struct Case {
        const char* what;
        const char* code;
        const char* from;
        const char* to;
        const char* message;
    };
    const Case cases[] = {
        {"unknown key", "de", "msgid \"geo.lan\"", "msgid \"geo.lann\"", "unknown key 'geo.lann'"},
        {"duplicate", "fr", "msgid \"geo.unknown\"\nmsgstr \"\"",
         "msgid \"geo.unknown\"\nmsgstr \"\"\n\nmsgid \"geo.unknown\"\nmsgstr \"Inconnu\"",
         "duplicate key 'geo.unknown'"},
        {"wrong conversion", "de", "msgid \"foot.conns\"\nmsgstr \"\"",
         "msgid \"foot.conns\"\nmsgstr \"Verbindungen: %s\"",
         "placeholders of 'foot.conns' are 's', English has 'd'"},
        {"missing conversion", "ja", "msgid \"about.version\"\nmsgstr \"\"",
         "msgid \"about.version\"\nmsgstr \"バージョン %s\"",
         "placeholders of 'about.version' are 's', English has 'ss'"},
        {"positional form", "de", "msgid \"about.version\"\nmsgstr \"\"",
         "msgid \"about.version\"\nmsgstr \"Build %2$s, Version %1$s\"",
         "placeholders of 'about.version' are invalid"},
        {"lone percent in a plain text", "fr", "msgid \"geo.lan\"\nmsgstr \"\"",
         "msgid \"geo.lan\"\nmsgstr \"100 % local\"", "placeholders of 'geo.lan' are invalid"},
        {"no msgstr", "de", "msgid \"geo.lan\"\nmsgstr \"\"", "msgid \"geo.lan\"",
         "msgid 'geo.lan' has no msgstr"},
        {"stray line", "de", "msgid \"geo.lan\"", "msgid \"geo.lan\"\nmsgstr_x \"\"",
         "not a PO line"},
        {"unterminated string", "de", "msgid \"geo.lan\"\nmsgstr \"\"",
         "msgid \"geo.lan\"\nmsgstr \"abc", "expected a quoted string"},
        {"quote inside", "de", "msgid \"geo.lan\"\nmsgstr \"\"",
         "msgid \"geo.lan\"\nmsgstr \"a\"b\"", "unescaped quote"},
        {"unknown escape", "de", "msgid \"geo.lan\"\nmsgstr \"\"",
         "msgid \"geo.lan\"\nmsgstr \"a\\qb\"", "unknown escape \\q"},
        {"NUL escape", "de", "msgid \"geo.lan\"\nmsgstr \"\"",
         "msgid \"geo.lan\"\nmsgstr \"a\\0b\"", "escape \\0 is not allowed"},
        {"continuation outside an entry", "de", "#. Local network\nmsgid \"geo.lan\"",
         "\"orphan\"\n\n#. Local network\nmsgid \"geo.lan\"", "string outside an entry"},
        {"plural form", "de", "msgid \"geo.lan\"\nmsgstr \"\"",
         "msgid \"geo.lan\"\nmsgid_plural \"geo.lans\"\nmsgstr[0] \"\"",
         "msgid_plural is not used"},
        {"context", "de", "msgid \"geo.lan\"", "msgctxt \"x\"\nmsgid \"geo.lan\"",
         "msgctxt is not used"},
        {"not UTF-8", "de", "msgid \"geo.lan\"\nmsgstr \"\"",
         "msgid \"geo.lan\"\nmsgstr \"Gr\xFC\xDF\"", "not valid UTF-8"},
        {"wrong Language header", "de", "Language: de", "Language: fr",
         "header says Language: 'fr'"},
        {"other charset", "de", "charset=UTF-8", "charset=ISO-8859-1", "charset=UTF-8"},
        {"header not first", "de", "msgid \"\"\nmsgstr \"\"",
         "msgid \"aaa.first\"\nmsgstr \"\"\n\nmsgid \"\"\nmsgstr \"\"", "must come first"},
        {"empty English text", "en", "msgid \"geo.lan\"\nmsgstr \"Local network\"",
         "msgid \"geo.lan\"\nmsgstr \"\"", "English text of 'geo.lan' is empty"},
        {"bad English placeholder", "en", "msgstr \"%d hidden\"", "msgstr \"%i hidden\"",
         "English text of 'dev.hidden' uses a placeholder"},
        {"malformed key", "en", "msgid \"geo.lan\"", "msgid \"Geo Lan\"",
         "key 'Geo Lan' is not lower-case dotted words"},
        {"missing key", "de", "msgid \"geo.lan\"\nmsgstr \"\"\n", "",
         "de.po: missing key 'geo.lan'"},
        {"misspelt key", "de", "msgid \"geo.lan\"", "msgid \"geo.lam\"",
         "unknown key 'geo.lam' (not in en.po)"},
        // A key added to English but not yet to the other languages is missing there.
        {"new English key", "en", "msgid \"geo.lan\"",
         "msgid \"geo.new\"\nmsgstr \"New\"\n\nmsgid \"geo.lan\"", "zu.po: missing key 'geo.new'"},
    };
    for (const auto& c : cases) {
        Tree t;
        ASSERT_TRUE(t.edit(c.code, c.from, c.to)) << c.what;
        auto r = t.gen();
        EXPECT_EQ(r.exit_code, 1) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << "\n" << r.err;
        EXPECT_NE(r.err.find("tables not written"), std::string::npos) << c.what;
        EXPECT_NE(access((t.out + "/i18n_data.cpp").c_str(), F_OK), 0) << c.what;
    }
}

TEST(GenI18n, MissingAndUnknownFiles) {
    Tree t;
    ASSERT_TRUE(sh("mv '" + t.po + "/sv.po' '" + t.po + "/xx.po'"));
    auto r = t.gen();
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("sv.po: file missing"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("xx.po: no language 'xx'"), std::string::npos) << r.err;
}

TEST(GenI18n, ReadsPoStringsLikeGettext) {
    Tree t;
    // Multi-line strings, escapes, a fuzzy entry (not used), a literal percent sign.
    ASSERT_TRUE(t.edit("de", "msgid \"geo.lan\"\nmsgstr \"\"",
                       "msgid \"geo.lan\"\nmsgstr \"\"\n\"Lokales \"\n\"\\\"Netz\\\"\\\\\\t\\n\""));
    ASSERT_TRUE(t.edit("de", "msgid \"geo.unknown\"\nmsgstr \"\"",
                       "#, fuzzy\nmsgid \"geo.unknown\"\nmsgstr \"Unbek.\""));
    // A tab after the keywords, as some editors write it.
    ASSERT_TRUE(t.edit("de", "msgid \"dev.on\"\nmsgstr \"\"",
                       "# translator's remark\nmsgid\t\"dev.on\"\nmsgstr\t\"an %s (100%%)\""));
    ASSERT_TRUE(t.edit("de", "msgid \"tab.overview\"\nmsgstr \"\"",
                       "#~ msgid \"tab.old\"\n#~ msgstr \"Alt\"\nmsgid \"tab.overview\"\n"
                       "msgstr \"\\303\\234bersicht\\x21\""));
    auto r = t.gen();
    ASSERT_EQ(r.exit_code, 1) << "octal bytes above 0x7F must be refused";
    EXPECT_NE(r.err.find("escape \\303 is not allowed"), std::string::npos) << r.err;
    ASSERT_TRUE(t.edit("de", "\\303\\234bersicht\\x21", "Übersicht\\x21"));
    r = t.gen();
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string src = t.source();
    EXPECT_NE(src.find("/* geo.lan */ \"Lokales \\\"Netz\\\"\\\\\\t\\n\","), std::string::npos);
    EXPECT_NE(src.find("/* geo.unknown */ nullptr,"), std::string::npos);
    EXPECT_NE(src.find("/* dev.on */ \"an %s (100%%)\","), std::string::npos);
    EXPECT_NE(src.find("/* tab.overview */ \"Übersicht!\","), std::string::npos);
    EXPECT_NE(src.find("/* col.host */ nullptr,"), std::string::npos);
    EXPECT_EQ(src.find("tab.old"), std::string::npos);
}

TEST(GenI18n, UpdateKeepsTranslationsInKeyOrder) {
    Tree t;
    // A translator's file in another order, with an obsolete key and a missing one.
    ASSERT_TRUE(
        t.edit("de", "msgid \"geo.lan\"\nmsgstr \"\"", "msgid \"geo.lan\"\nmsgstr \"LAN\""));
    ASSERT_TRUE(t.edit("de", "msgid \"unit.pps\"\nmsgstr \"\"\n", ""));
    ASSERT_TRUE(t.edit("de", "msgid \"about.comment\"",
                       "msgid \"zzz.gone\"\nmsgstr \"Weg\"\n\nmsgid \"about.comment\""));
    ASSERT_TRUE(t.edit("en", "msgstr \"Local network\"", "msgstr \"Local net\""));
    auto r = t.gen({"--update-po"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("dropping the translation of removed key 'zzz.gone'"), std::string::npos);
    const std::string de = read_file(t.po + "/de.po");
    EXPECT_NE(de.find("#. Local net\nmsgid \"geo.lan\"\nmsgstr \"LAN\"\n"), std::string::npos);
    EXPECT_NE(de.find("#. pkt/s\nmsgid \"unit.pps\"\nmsgstr \"\"\n"), std::string::npos);
    EXPECT_EQ(de.find("zzz.gone"), std::string::npos);
    // The refreshed files compile; the one translation shows up in the table.
    r = t.gen();
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(t.source().find("/* geo.lan */ \"LAN\","), std::string::npos);
    // Another run changes nothing.
    r = t.gen({"--update-po"});
    EXPECT_EQ(read_file(t.po + "/de.po"), de);
}

} // namespace
