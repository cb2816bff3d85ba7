// Table mechanics: width layout and hiding order, the stable sort and its tie rules, the
// stored column states and the filter test.
#include "app.h"
#include "support/ui.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

Row row(std::string id, std::vector<std::string> cells, std::vector<double> keys,
        std::string tip = "") {
    Row r;
    r.id = std::move(id);
    r.cells = std::move(cells);
    r.keys = std::move(keys);
    r.tooltip = std::move(tip);
    return r;
}

// The connections page's columns: key, weight, min width, priority.
std::vector<Column> conn_columns() {
    const struct {
        const char* key;
        double weight, min_w;
        int prio;
    } spec[] = {{"prog", 1.3, 150, 0}, {"proto", 0, 72, 3},     {"local", 0.9, 150, 5},
                {"host", 1.7, 170, 0}, {"remote", 1.1, 160, 1}, {"cc", 0.5, 110, 3},
                {"service", 0, 86, 4}, {"state", 0, 112, 2},    {"rx", 0, 132, 0},
                {"tx", 0, 132, 0},     {"rxt", 0, 92, 2},       {"txt", 0, 92, 2},
                {"rtt", 0, 76, 4},     {"age", 0, 76, 5}};
    std::vector<Column> cols;
    for (const auto& s : spec) cols.push_back({s.key, s.key, s.weight, s.min_w, false, 0, s.prio});
    return cols;
}

std::string hidden_keys(const Table& t) {
    std::string out;
    for (size_t i = 0; i < t.cols.size(); ++i)
        if (t.widths[i] == 0) out += t.cols[i].key + " ";
    return out;
}

TEST(TableLayout, HidesByPriorityFromTheRightAndKeepsUserWidths) {
    const struct {
        double width;
        const char* user_w; // a column with a user width of 200, or ""
        const char* hidden;
    } cases[] = {
        {1654, "", ""}, // every minimum fits exactly
        {1653, "", "age "},
        {1577, "", "local age "},
        {1200, "", "local cc service rtt age "},
        {800, "", "proto local cc service state rxt txt rtt age "},
        {400, "", "proto local remote cc service state rxt txt rtt age "},
        {1200, "local", "proto cc service txt rtt age "},
        {400, "age", "proto local remote cc service state rxt txt rtt "},
    };
    for (const auto& c : cases) {
        App app;
        if (*c.user_w) app.m_colstate[1][c.user_w].w = 200;
        app.m_colstate[1]["prog"].hidden = true; // never takes effect on the first column
        Table t;
        t.cols = conn_columns();
        app.layout_table(t, c.width, 1);
        EXPECT_EQ(hidden_keys(t), c.hidden) << c.width << " " << c.user_w;
        double sum = 0;
        for (double w : t.widths) sum += w;
        if (sum <= c.width - 44) {
            EXPECT_NEAR(sum, c.width - 44, 1e-9) << c.width;
        }
        if (*c.user_w) {
            EXPECT_EQ(t.widths[c.user_w == std::string("local") ? 2 : 13], 200);
        }
    }
}

TEST(TableLayout, SpareWidthGoesByWeightOrToTheLastColumn) {
    App app;
    Table t;
    t.cols = conn_columns();
    app.layout_table(t, 1654 + 110, 1); // 110 spare over a weight sum of 5.5
    EXPECT_NEAR(t.widths[0], 150 + 26, 1e-9);
    EXPECT_NEAR(t.widths[3], 170 + 34, 1e-9);
    EXPECT_EQ(t.widths[1], 72);
    // Only weightless columns left besides a user-sized first one: the last visible one
    // takes the spare width.
    app.m_colstate[1]["prog"].w = 100;
    for (const char* k : {"local", "host", "remote", "cc", "rtt", "age"})
        app.m_colstate[1][k].hidden = true;
    app.layout_table(t, 1000, 1);
    EXPECT_EQ(t.widths[0], 100);
    // 956 available, 818 needed by prog, proto, service, state, rx, tx, rxt and txt.
    EXPECT_NEAR(t.widths[11], 92 + 138, 1e-9);
}

TEST(TableSort, TiesNaNTextAndTheRateFallback) {
    const struct {
        const char* key;
        bool desc;
        bool rates; // the table has "rx" and "tx" columns
        const char* order;
    } cases[] = {
        {"n", false, true, "3 2 5 1 4 "},    {"n", true, true, "4 2 5 1 3 "},
        {"name", false, true, "2 3 1 5 4 "}, {"name", true, true, "4 1 5 2 3 "},
        {"rate", true, true, "2 5 1 4 3 "},  {"rate", false, true, "3 2 5 1 4 "},
        {"rate", true, false, "5 4 3 2 1 "},
    };
    for (const auto& c : cases) {
        Table t;
        for (const char* k : {"name", c.rates ? "rx" : "a", c.rates ? "tx" : "b", "n"})
            t.cols.push_back({k, k, 0, 50, false, 0, 0});
        // Input order 5..1: equal numbers keep it (stable), equal texts order by id.
        t.rows = {row("5", {"beta"}, {kNaN, 0, 10, 5}), row("4", {"gamma"}, {kNaN, 5, 5, 9}),
                  row("3", {"alpha"}, {kNaN, 0, 0, 2}), row("2", {"Alpha"}, {kNaN, 3, 7, 5}),
                  row("1", {"beta"}, {kNaN, 10, 0, 5})};
        t.sort_key = c.key;
        t.desc = c.desc;
        App::sort_table(t);
        std::string got;
        for (const auto& r : t.rows) got += r.id + " ";
        EXPECT_EQ(got, c.order) << c.key << " desc " << c.desc << " rates " << c.rates;
    }
}

TEST(TableSort, StrayNaNInANumericColumnStillGivesAnOrder) {
    std::mt19937 rng(7);
    Table t;
    t.cols = {{"name", "", 0, 50, false, 0, 0}, {"rx", "", 0, 50, true, 0, 0}};
    for (int i = 0; i < 500; ++i) {
        const double k = i % 17 == 0 ? kNaN : double(rng() % 50);
        t.rows.push_back(
            row(std::to_string(i), {std::string(1, char('a' + rng() % 26)), "x"}, {kNaN, k}));
    }
    t.sort_key = "rx";
    App::sort_table(t);
    ASSERT_EQ(t.rows.size(), 500u);
    for (size_t i = 1; i < t.rows.size(); ++i) // sorted as text, by "x" and then by id
        EXPECT_LE(t.rows[i - 1].id, t.rows[i].id);
}

TEST(TableColumns, LoadSkipsHostileEntriesAndStoresInKeyOrder) {
    const struct {
        const char* text;
        const char* stored;
    } cases[] = {
        {"host=240/0;rtt=0/1;", "host=240/0;rtt=0/1;"}, // round trip
        {"host=-5/0;rtt=-1/1;", "rtt=0/1;"},            // negative: automatic
        {"rx=5000/0;tx=4000/0;", "tx=4000/0;"},         // above 4000: automatic
        {"host=240;rtt=0/1", "rtt=0/1;"},               // no '/': skipped
        {"host240/0;=5/0;name=0/0;", ""},               // no '=', no key, no effect
        {"x=nan/1;y=inf/0;z=abc/0;a=12.6/1;", "a=13/1;x=0/1;"},
        {"b=1/0;a=2/0;a=9/0;", "a=9/0;b=1/0;"},
    };
    for (const auto& c : cases) {
        App app;
        app.m_settings.cols_conn = c.text;
        app.m_settings.cols_dest = "host=300/0;";
        app.load_columns();
        for (const auto& [key, st] : app.m_colstate[1])
            EXPECT_TRUE(st.w >= 0 && st.w <= 4000) << c.text << " " << key;
        EXPECT_EQ(app.m_colstate[3]["host"].w, 300);
        app.store_columns(1);
        EXPECT_EQ(app.m_settings.cols_conn, c.stored) << c.text;
        EXPECT_NE(app.m_save_at, 0u);
    }
}

TEST(TableFilter, MatchesCellsTooltipAndProcessNumbers) {
    const Row conn =
        row("8812|1234|", {"firefox  1234", "TCP6", "[::1]:443"}, {}, "/usr/bin/Firefox --new");
    const Row pair = row("7||", {"x"}, {});
    const struct {
        const char* filter;
        bool conn, pair;
    } cases[] = {
        {"", true, true},          {"FIREFOX", true, false},
        {"tcp", true, false},      {"--NEW", true, false},
        {"udp", false, false},     {"PID:1234", true, false},
        {"pid:123", false, false}, {"pid:8812", false, false},
        {"pid:", false, true},     {"pid: 1234", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matches(conn, c.filter), c.conn) << c.filter;
        EXPECT_EQ(matches(pair, c.filter), c.pair) << c.filter;
    }
}

TEST(TableInput, HeaderClicksSortAndAreStored) {
    testsupport::Ui ui;
    ui.app.m_settings.tab = 1;
    ui.app.m_conn.cols = conn_columns();
    ui.app.m_conn.cols[8].right = true; // "rx"
    ui.app.m_conn.rows = {row("1|1|", {"b"}, {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, 5}),
                          row("2|2|", {"A"}, {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, 9})};
    const struct {
        const char* key;
        const char* sort;
        bool desc;
        const char* first;
    } steps[] = {{"prog", "prog", false, "2|2|"}, // a left-aligned column: ascending first
                 {"prog", "prog", true, "1|1|"},
                 {"rx", "rx", true, "2|2|"}}; // a right-aligned one: descending first
    for (const auto& s : steps) {
        ui.paint();
        const auto h = ui.find(std::string("tbl:head:") + s.key);
        ASSERT_TRUE(h) << s.key;
        ui.click(h->x + h->w / 2, h->y + h->h / 2);
        EXPECT_EQ(ui.app.m_settings.conn_sort, s.sort);
        EXPECT_EQ(ui.app.m_settings.conn_desc, s.desc) << s.key;
        EXPECT_EQ(ui.app.m_conn.rows[0].id, s.first) << s.key;
    }
}

TEST(TableInput, DraggedWidthIsStoredAndReloaded) {
    testsupport::Ui ui;
    ui.app.m_settings.tab = 1;
    ui.app.m_conn.cols = conn_columns();
    ui.paint();
    const double before = ui.app.m_conn.widths[3];
    for (const auto& [dx, want] : {std::pair{40.0, before + 40}, std::pair{-1000.0, 48.0}}) {
        const auto edge = ui.find("tbl:resize:host");
        ASSERT_TRUE(edge);
        const double x = edge->x + 5, y = edge->y + 17;
        ui.press(x, y);
        ui.move(x + dx, y);
        SDL_Event up{};
        up.type = SDL_MOUSEBUTTONUP;
        up.button.button = SDL_BUTTON_LEFT;
        ui.app.handle(up);
        ui.paint();
        EXPECT_NEAR(ui.app.m_conn.widths[3], want, 1) << dx;
    }
    EXPECT_EQ(ui.app.m_settings.cols_conn, "host=48/0;");
    ui.app.m_colstate[1].clear();
    ui.app.load_columns();
    EXPECT_EQ(ui.app.m_colstate[1]["host"].w, 48);
}

} // namespace
