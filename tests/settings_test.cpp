// The settings file: its exact text, the load rules for damaged, old and hostile files,
// and a full round trip through the sealed layer.
#include "sealed_file.h"
#include "settings.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <random>

using testsupport::TempDir;

namespace {

Settings from_text(const std::string& text) {
    Settings s;
    s.load_text(text);
    return s;
}

TEST(Settings, DefaultTextHasEveryKeyInOrder) {
    EXPECT_EQ(Settings().to_text(), "version=4\n"
                                    "language=auto\n"
                                    "theme=auto\n"
                                    "bits=0\n"
                                    "interval_ms=1000\n"
                                    "span_s=300\n"
                                    "show_loopback=0\n"
                                    "show_inactive=1\n"
                                    "show_virtual=1\n"
                                    "resolve_names=1\n"
                                    "show_local_conns=0\n"
                                    "show_listening=0\n"
                                    "group_programs=0\n"
                                    "always_on_top=0\n"
                                    "mini_on_top=1\n"
                                    "mini=0\n"
                                    "tab=0\n"
                                    "hidden=\n"
                                    "mini_devices=\n"
                                    "total_on=\n"
                                    "total_off=\n"
                                    "proc_sort=rate\n"
                                    "proc_desc=1\n"
                                    "conn_sort=rx\n"
                                    "conn_desc=1\n"
                                    "stats_iface=*\n"
                                    "expanded=\n"
                                    "dest_sort=rx\n"
                                    "dest_desc=1\n"
                                    "cols_conn=\n"
                                    "cols_proc=\n"
                                    "cols_dest=\n"
                                    "conn_filter=\n"
                                    "proc_filter=\n"
                                    "dest_filter=\n"
                                    "animate=1\n"
                                    "card_order=\n"
                                    "full=0 0 0 0 0\n"
                                    "compact=0 0 0 0 0\n");
}

Settings every_field_changed() {
    Settings s;
    s.language = "pt_BR";
    s.theme = "light";
    s.bits = true;
    s.interval_ms = 2000;
    s.span_s = 31536000;
    s.show_loopback = true;
    s.show_inactive = false;
    s.show_virtual = false;
    s.resolve_names = false;
    s.show_local_conns = true;
    s.show_listening = true;
    s.group_programs = true;
    s.always_on_top = true;
    s.mini_on_top = false;
    s.mini = true;
    s.tab = 3;
    s.hidden = {"wlan0", "docker0"};
    s.mini_devices = {"eth0"};
    s.total_on = {"tun0", "wg0"};
    s.total_off = {"virbr0"};
    s.proc_sort = "name";
    s.proc_desc = false;
    s.conn_sort = "remote";
    s.conn_desc = false;
    s.stats_iface = "wlan0";
    s.dest_sort = "country";
    s.dest_desc = false;
    s.cols_conn = "proto:40,local:-1";
    s.cols_proc = "pid:60";
    s.cols_dest = "host:200";
    s.conn_filter = "port=443 ";
    s.proc_filter = "fire fox";
    s.dest_filter = "äöü";
    s.card_order = {"wlan0", "eth0", "lo"};
    s.expanded = "eth0";
    s.animate = false;
    s.full = {-1920, 40, 1200, 760, true};
    s.compact = {10, 20, 300, 90, false};
    return s;
}

TEST(Settings, EveryFieldSurvivesSaveAndLoad) {
    TempDir tmp;
    Settings s = every_field_changed();
    s.m_path = tmp.path() + "/settings.dat";
    ASSERT_TRUE(s.save());

    std::string plain;
    ASSERT_EQ(sealed::read(s.m_path, &plain), sealed::Result::Ok);
    EXPECT_NE(plain.find("\nhidden=docker0,wlan0\n"), std::string::npos) << plain;
    EXPECT_NE(plain.find("\ncard_order=wlan0,eth0,lo\n"), std::string::npos);
    EXPECT_NE(plain.find("\nfull=-1920 40 1200 760 1\n"), std::string::npos);

    Settings back;
    back.load(s.m_path);
    EXPECT_EQ(back, s);
    EXPECT_EQ(back.to_text(), s.to_text());
}

TEST(Settings, MissingOrTamperedFileGivesDefaultsAndRemembersThePath) {
    TempDir tmp;
    const std::string path = tmp.path() + "/settings.dat";
    Settings s;
    s.load(path);
    EXPECT_EQ(s.m_path, path);
    Settings expected;
    expected.m_path = path;
    EXPECT_EQ(s, expected);

    testsupport::write_file(path, "version=4\ntheme=dark\n"); // plain text, not sealed
    Settings t;
    t.load(path);
    EXPECT_EQ(t, expected);
    EXPECT_EQ(testsupport::read_file(path + ".manipuliert"), "version=4\ntheme=dark\n");
    ASSERT_TRUE(t.save());
    Settings u;
    u.load(path);
    EXPECT_EQ(u, expected);
}

TEST(Settings, SaveReportsAFailedWrite) {
    TempDir tmp;
    Settings s;
    s.m_path = tmp.write("file", "x") + "/settings.dat";
    EXPECT_FALSE(s.save());
}

TEST(Settings, OlderVersionsResetWhatChangedMeaning) {
    // No version line: a first-version file.
    auto s = from_text("conn_sort=program\nconn_desc=0\nspan_s=3600\ndest_sort=host\n");
    EXPECT_EQ(s.conn_sort, "rx");
    EXPECT_TRUE(s.conn_desc);
    EXPECT_EQ(s.span_s, 300);
    EXPECT_EQ(s.dest_sort, "rx");

    s = from_text("version=2\nconn_sort=program\nspan_s=3600\ndest_sort=host\ndest_desc=0\n"
                  "compact=1 2 300 90 1\nfull=5 6 800 600 1\n");
    EXPECT_EQ(s.conn_sort, "program");
    EXPECT_EQ(s.span_s, 3600);
    EXPECT_EQ(s.dest_sort, "rx");
    EXPECT_TRUE(s.dest_desc);
    EXPECT_EQ(s.compact, Geometry{});
    EXPECT_EQ(s.full, (Geometry{5, 6, 800, 600, true}));

    s = from_text("version=3\ndest_sort=host\ncompact=1 2 300 90 1\nfull=5 6 800 600 1\n");
    EXPECT_EQ(s.dest_sort, "host");
    EXPECT_EQ(s.compact, Geometry{});
    EXPECT_EQ(s.full, (Geometry{5, 6, 800, 600, true}));

    s = from_text("version=9\ncompact=1 2 300 90 1\n");
    EXPECT_EQ(s.compact, (Geometry{1, 2, 300, 90, true}));
}

TEST(Settings, NumbersOutsideTheirRangesFallBack) {
    struct Case {
        const char* line;
        int interval, span, tab;
    };
    const Case cases[] = {
        {"interval_ms=750", 1000, 300, 0},
        {"interval_ms=500", 500, 300, 0},
        {"interval_ms=2000", 2000, 300, 0},
        {"interval_ms=500ms", 500, 300, 0},
        {"interval_ms=", 1000, 300, 0},
        // Beyond an int: garbage, not the low 32 bits (which would be 500).
        {"interval_ms=4294967796", 1000, 300, 0},
        {"span_s=43200", 1000, 43200, 0},
        {"span_s=7200", 1000, 300, 0},
        {"span_s=31536000", 1000, 31536000, 0},
        {"tab=3", 1000, 300, 3},
        {"tab=4", 1000, 300, 0},
        {"tab=-1", 1000, 300, 0},
        {"tab=4294967298", 1000, 300, 0},
        {"tab= 2", 1000, 300, 2},
    };
    for (const auto& c : cases) {
        auto s = from_text(std::string("version=4\n") + c.line + "\n");
        EXPECT_EQ(s.interval_ms, c.interval) << c.line;
        EXPECT_EQ(s.span_s, c.span) << c.line;
        EXPECT_EQ(s.tab, c.tab) << c.line;
    }
}

TEST(Settings, GeometryLimits) {
    struct Case {
        const char* text;
        Geometry g;
    };
    const Case cases[] = {
        {"120 80 1200 760 1", {120, 80, 1200, 760, true}},
        {"10 20 30000 700 1", {}},
        {"10 20 700 20001 1", {}},
        {"10 20 20000 20000 0", {10, 20, 20000, 20000, false}},
        {"-50 -20 1200 700 1", {-50, -20, 1200, 700, true}},
        {"10 20 -1 700 1", {}},
        {"1 2 3 4 2", {1, 2, 3, 4, false}},
        // Partly readable: what came before the first failure stays.
        {"1 2 3", {1, 2, 3, 0, false}},
        {"1 2 x 4 1", {1, 2, 0, 0, false}},
        {"7 8 640 480 1trailing", {7, 8, 640, 480, true}},
        {"1 2 99999999999 4 1", {1, 2, 0, 0, false}},
        {"", {}},
    };
    for (const auto& c : cases) {
        auto s = from_text(std::string("version=4\nfull=") + c.text + "\ncompact=" + c.text + "\n");
        EXPECT_EQ(s.full, c.g) << c.text;
        EXPECT_EQ(s.compact, c.g) << c.text;
    }
}

TEST(Settings, LineRules) {
    Settings s = from_text("version=4\nhidden=eth0,wlan0\n");
    ASSERT_EQ(s.hidden.size(), 2u);
    // A present but empty value empties the set; a missing key keeps it.
    s.load_text("version=4\nhidden=\n");
    EXPECT_TRUE(s.hidden.empty());
    s.mini_devices = {"eth0"};
    s.load_text("version=4\n");
    EXPECT_EQ(s.mini_devices, std::set<std::string>{"eth0"});

    s = from_text("version=4\n"
                  "theme=Dark\n"
                  "animate = 0\n"     // key "animate " is unknown
                  "conn_filter=a=b\n" // only the first "=" splits
                  "proc_filter=first\nproc_filter=second\n"
                  "bits=true\n" // only "1" is true
                  "mini_on_top=0\n"
                  "total_on=,a,,b,\n"
                  "card_order=eth0,,lo,eth0\n"
                  "no equals sign here\n"
                  "=value without key\n"
                  "language=de\r\n");
    EXPECT_EQ(s.theme, "auto");
    EXPECT_TRUE(s.animate);
    EXPECT_EQ(s.conn_filter, "a=b");
    EXPECT_EQ(s.proc_filter, "second");
    EXPECT_FALSE(s.bits);
    EXPECT_FALSE(s.mini_on_top);
    EXPECT_EQ(s.total_on, (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(s.card_order, (std::vector<std::string>{"eth0", "lo", "eth0"}));
    EXPECT_EQ(s.language, "de\r");
    EXPECT_EQ(from_text("theme=dark\n").theme, "dark");
}

TEST(Settings, LineFeedsInValuesCannotForgeLines) {
    Settings s;
    s.conn_filter = "x\nversion=1\nconn_sort=evil";
    s.conn_sort = "remote";
    s.hidden = {"a\nb"};
    Settings back = from_text(s.to_text());
    EXPECT_EQ(back.conn_filter, "x version=1 conn_sort=evil");
    EXPECT_EQ(back.conn_sort, "remote");
    EXPECT_EQ(back.hidden, std::set<std::string>{"a b"});
}

// Random bytes, and text made of settings-like fragments, inside an intact seal.
TEST(Settings, GarbageInsideAValidSealLoadsSafely) {
    TempDir tmp;
    const std::string path = tmp.path() + "/settings.dat";
    std::mt19937 rng(42);
    Settings defaults;
    defaults.m_path = path;
    for (int i = 0; i < 100; ++i) {
        std::string junk(rng() % 2000, '\0');
        for (char& c : junk) c = static_cast<char>(rng());
        ASSERT_TRUE(sealed::write(path, junk));
        Settings s;
        s.load(path);
        EXPECT_EQ(s, defaults) << "round " << i;
    }
    const char* pieces[] = {"tab=",         "full=",   "version=", "-", "9",       "99999999999",
                            "\n",           "=",       ",",        " ", "hidden=", "1",
                            "interval_ms=", "span_s=", "\0"};
    for (int i = 0; i < 300; ++i) {
        std::string text;
        for (int k = rng() % 40; k > 0; --k) text += pieces[rng() % std::size(pieces)];
        ASSERT_TRUE(sealed::write(path, text));
        Settings s;
        s.load(path);
        EXPECT_TRUE(s.interval_ms == 500 || s.interval_ms == 1000 || s.interval_ms == 2000);
        EXPECT_GE(s.tab, 0);
        EXPECT_LE(s.tab, 3);
        EXPECT_LE(static_cast<unsigned>(s.full.w), 20000u);
        EXPECT_LE(static_cast<unsigned>(s.full.h), 20000u);
        // Whatever was loaded is written so that it loads back the same.
        EXPECT_EQ(from_text(s.to_text()).to_text(), s.to_text()) << text;
    }
}

} // namespace
