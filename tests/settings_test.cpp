// The settings file: its exact text, the load rules for damaged, old and hostile files,
// and a full round trip through the sealed layer.
#include "settings.h"
#include "support/support.h"

#include <gtest/gtest.h>

using testsupport::TempDir;

namespace {

Settings from_text(const std::string& text) {
    Settings s;
    s.load_text(text);
    return s;
}

// Every value differs from its default; written back in the same order and encoding.
const char* const kChanged =
    "version=4\nlanguage=pt_BR\ntheme=light\nbits=1\ninterval_ms=2000\nspan_s=31536000\n"
    "show_loopback=1\nshow_inactive=0\nshow_virtual=0\nresolve_names=0\n"
    "show_local_conns=1\nshow_listening=1\ngroup_programs=1\nalways_on_top=1\n"
    "mini_on_top=0\nmini=1\ntab=3\nhidden=docker0,wlan0\nmini_devices=eth0\n"
    "total_on=tun0,wg0\ntotal_off=virbr0\nproc_sort=name\nproc_desc=0\nconn_sort=remote\n"
    "conn_desc=0\nstats_iface=wlan0\nexpanded=eth0\ndest_sort=country\ndest_desc=0\n"
    "cols_conn=proto:40,local:-1\ncols_proc=pid:60\ncols_dest=host:200\n"
    "conn_filter=port=443 \nproc_filter=fire fox\ndest_filter=\xc3\xa4\xc3\xb6\n"
    "animate=0\ncard_order=wlan0,eth0,lo\nfull=-1920 40 1200 760 1\ncompact=10 20 300 90 0\n";

TEST(Settings, EveryFieldSurvivesSaveAndLoad) {
    TempDir tmp;
    Settings s = from_text(kChanged);
    EXPECT_EQ(s.to_text(), kChanged);
    EXPECT_EQ(s.hidden, (std::set<std::string>{"docker0", "wlan0"}));
    EXPECT_EQ(s.card_order, (std::vector<std::string>{"wlan0", "eth0", "lo"}));
    EXPECT_EQ(s.full, (Geometry{-1920, 40, 1200, 760, true}));
    EXPECT_EQ(s.conn_filter, "port=443 ");

    s.m_path = tmp.path() + "/settings.dat";
    ASSERT_TRUE(s.save());
    Settings back;
    back.load(s.m_path);
    EXPECT_EQ(back, s);
}

// How damaged files are moved aside is the sealed layer's; here only the defaults that follow.
TEST(Settings, MissingTamperedOrUnwritableFiles) {
    TempDir tmp;
    Settings expected, t;
    expected.m_path = tmp.path() + "/settings.dat";
    for (bool present : {false, true}) { // absent, then plain text and not sealed
        if (present) testsupport::write_file(expected.m_path, kChanged);
        t.load(expected.m_path);
        EXPECT_EQ(t, expected) << present;
    }

    t.m_path = tmp.write("file", "x") + "/settings.dat";
    EXPECT_FALSE(t.save());
}

TEST(Settings, OlderVersionsResetWhatChangedMeaning) {
    const std::string old = "conn_sort=program\nconn_desc=0\nspan_s=3600\ndest_sort=host\n"
                            "dest_desc=0\ncompact=1 2 300 90 1\nfull=5 6 800 600 1\n";
    auto s = from_text(old); // no version line: the first version
    EXPECT_EQ(std::tie(s.conn_sort, s.conn_desc, s.span_s), std::make_tuple("rx", true, 300));
    EXPECT_EQ(std::tie(s.dest_sort, s.dest_desc), std::make_tuple("rx", true));

    s = from_text("version=2\n" + old);
    EXPECT_EQ(std::tie(s.conn_sort, s.span_s), std::make_tuple("program", 3600));
    EXPECT_EQ(std::tie(s.dest_sort, s.dest_desc), std::make_tuple("rx", true));
    EXPECT_EQ(s.compact, Geometry{});

    s = from_text("version=3\n" + old);
    EXPECT_EQ(s.dest_sort, "host");
    EXPECT_EQ(s.compact, Geometry{});
    EXPECT_EQ(s.full, (Geometry{5, 6, 800, 600, true}));
    EXPECT_EQ(from_text("version=9\n" + old).compact, (Geometry{1, 2, 300, 90, true}));
}

TEST(Settings, NumbersAndGeometriesOutsideTheirRangesFallBack) {
    // line, interval_ms, span_s, tab after loading
    const std::tuple<const char*, int, int, int> cases[] = {
        {"interval_ms=750", 1000, 300, 0},
        {"interval_ms=500", 500, 300, 0},
        {"interval_ms=500ms", 500, 300, 0},
        {"span_s=43200", 1000, 43200, 0},
        {"span_s=7200", 1000, 300, 0},
        {"tab=4", 1000, 300, 0},
        {"tab=-1", 1000, 300, 0},
        {"tab= 2", 1000, 300, 2},
        // Beyond an int is garbage, not its low 32 bits (500 and 2).
        {"interval_ms=4294967796", 1000, 300, 0},
        {"tab=4294967298", 1000, 300, 0},
    };
    for (const auto& [line, interval, span, tab] : cases) {
        auto s = from_text(std::string("version=4\n") + line + "\n");
        EXPECT_EQ(std::tie(s.interval_ms, s.span_s, s.tab), std::tie(interval, span, tab)) << line;
    }

    const std::pair<const char*, Geometry> geometries[] = {
        {"10 20 30000 700 1", {}},
        {"10 20 700 20001 1", {}},
        {"10 20 20000 20000 0", {10, 20, 20000, 20000, false}},
        {"-50 -20 1200 700 1", {-50, -20, 1200, 700, true}},
        {"10 20 -1 700 1", {}}, // a negative size counts as too large
        {"1 2 3 4 2", {1, 2, 3, 4, false}},
        // Partly readable: what came before the first failure stays.
        {"1 2 x 4 1", {1, 2, 0, 0, false}},
        {"7 8 640 480 1trailing", {7, 8, 640, 480, true}},
        {"1 2 99999999999 4 1", {1, 2, 0, 0, false}},
    };
    for (const auto& [text, g] : geometries) {
        auto s = from_text(std::string("version=4\nfull=") + text + "\ncompact=" + text + "\n");
        EXPECT_EQ(s.full, g) << text;
        EXPECT_EQ(s.compact, g) << text;
    }
}

TEST(Settings, LineRules) {
    Settings s = from_text("hidden=eth0,wlan0\nmini_devices=eth0\n");
    s.load_text("version=4\nhidden=\n"); // present but empty empties; absent keeps
    EXPECT_TRUE(s.hidden.empty());
    EXPECT_EQ(s.mini_devices, std::set<std::string>{"eth0"});

    s = from_text("version=4\ntheme=Dark\n"
                  "animate = 0\n" // the key is "animate " and unknown
                  "conn_filter=a=b\nproc_filter=first\nproc_filter=second\n"
                  "bits=true\ntotal_on=,a,,b,\ncard_order=eth0,,lo,eth0\n"
                  "no equals sign\n=no key\nlanguage=de\r\n");
    EXPECT_EQ(s.theme, "auto");
    EXPECT_TRUE(s.animate);
    EXPECT_EQ(s.conn_filter, "a=b");
    EXPECT_EQ(s.proc_filter, "second");
    EXPECT_FALSE(s.bits);
    EXPECT_EQ(s.total_on, (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(s.card_order, (std::vector<std::string>{"eth0", "lo", "eth0"}));
    EXPECT_EQ(s.language, "de\r");

    // A line feed inside a value must not forge lines of its own when read back.
    s.conn_filter = "x\nversion=1\nconn_sort=evil";
    s.conn_sort = "remote";
    Settings back = from_text(s.to_text());
    EXPECT_EQ(back.conn_filter, "x version=1 conn_sort=evil");
    EXPECT_EQ(back.conn_sort, "remote");
}

} // namespace
