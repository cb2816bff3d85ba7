// Table contents from synthetic snapshots (connections, programs, destinations, countries),
// the painting of rows and the input of the three table pages, and hostile names.
#include "app.h"
#include "l10n.h"
#include "support/ui.h"

#include <glib.h>
#include <gtest/gtest.h>

namespace {

procs::Conn conn(uint64_t cookie, int pid, int proto, const std::string& local, int lport,
                 const std::string& remote, int rport, double rx = 0, double tx = 0) {
    procs::Conn c;
    c.cookie = cookie;
    c.pid = pid;
    c.proto = proto;
    c.state = proto == 6 ? 1 : 7;
    c.local_ip = local;
    c.local_port = lport;
    c.remote_ip = remote;
    c.remote_port = rport;
    c.has_bytes = proto == 6;
    c.rx_rate = rx;
    c.tx_rate = tx;
    c.rx_bytes = static_cast<uint64_t>(rx * 10);
    return c;
}

procs::Proc proc(int pid, const std::string& name, double rx = 0, bool exited = false) {
    procs::Proc p;
    p.pid = pid;
    p.name = name;
    p.cmdline = "/usr/bin/" + name;
    p.user = "ana";
    p.rx_rate = rx;
    p.rx_total = static_cast<uint64_t>(rx * 10);
    p.tcp = 1;
    p.exited = exited;
    return p;
}

const std::string& cell(const Table& t, const Row& r, const std::string& key) {
    for (size_t i = 0; i < t.cols.size(); ++i)
        if (t.cols[i].key == key) return r.cells.at(i);
    throw std::runtime_error("no column " + key);
}

const Row* find_row(const Table& t, const std::string& id) {
    for (const auto& r : t.rows)
        if (r.id == id) return &r;
    return nullptr;
}

struct Page : testsupport::Ui {
    Page() {
        testsupport::use_languages("en");
        app.m_settings.resolve_names = false;
        app.m_settings.show_listening = true;
        app.m_conn.sort_key = app.m_proc.sort_key = app.m_dest.sort_key = "rate";
    }
};

TEST(TableContents, ConnectionCells) {
    Page ui;
    auto listen = conn(1, 50, 6, "0.0.0.0", 22, "0.0.0.0", 0, 500);
    listen.listening = true;
    auto v6 = conn(2, 50, 6, "2001:db8::1", 50000, "2001:db8::2", 443, 2000);
    v6.rtt_us = 1500;
    auto udp = conn(3, 51, 17, "10.0.0.1", 5353, "10.0.0.9", 40001);
    auto other = conn(4, -1, 6, "10.0.0.1", 40000, "10.0.0.7", 8080, 0, 10);
    other.rtt_us = 25000;
    ui.sockets({listen, v6, udp, other});
    ui.app.m_ps.procs = {proc(50, "sshd"), proc(51, "avahi")};
    ui.app.fill_table(1);
    const Table& t = ui.app.m_conn;
    // Program, protocol, local, host, remote, country ("?": not checked) and latency.
    const struct {
        const char* id;
        const char* cells;
        bool dim;
    } cases[] = {
        {"1|50|", "sshd  50|TCP|0.0.0.0:22|Port 22 open|||", true},
        {"2|50|", "sshd  50|TCP6|[2001:db8::1]:50000|2001:db8::2|[2001:db8::2]:443|?|1.5 ms",
         false},
        {"3|51|", "avahi  51|UDP|10.0.0.1:5353|10.0.0.9|10.0.0.9:40001|Local network|", true},
        {"4|-1|", "(root)|TCP|10.0.0.1:40000|10.0.0.7|10.0.0.7:8080|Local network|25 ms", false},
    };
    ASSERT_EQ(t.rows.size(), 4u);
    for (const auto& c : cases) {
        const Row* r = find_row(t, c.id);
        ASSERT_TRUE(r) << c.id;
        std::string got;
        for (size_t i : {0, 1, 2, 3, 4, 5, 12})
            got += (i == 5 && std::string(c.cells).find("|?|") != std::string::npos ? "?"
                                                                                    : r->cells[i]) +
                   (i < 12 ? "|" : "");
        EXPECT_EQ(got, c.cells);
        EXPECT_EQ(r->dim, c.dim) << c.id;
    }
    const Row* udp_row = find_row(t, "3|51|");
    EXPECT_EQ(cell(t, *udp_row, "rx"), "");
    EXPECT_NE(udp_row->tooltip.find(L10n::tr("tip.udp_nobytes")), std::string::npos);
    EXPECT_EQ(find_row(t, "1|50|")->tooltip.find(L10n::tr("col.remote")), std::string::npos);
    // Sorted by the rate sum: the busiest first.
    EXPECT_EQ(t.rows[0].id, "2|50|");

    // The chips decide which sockets are listed at all.
    ui.app.m_settings.show_listening = false;
    ui.app.fill_table(1);
    EXPECT_FALSE(find_row(ui.app.m_conn, "1|50|"));
}

TEST(TableContents, ProgramsGroupEndAndOtherTraffic) {
    Page ui;
    ui.app.m_ps.procs = {proc(10, "chrome", 100), proc(11, "chrome", 50), proc(12, "chrome"),
                         proc(20, "gone", 0, true), proc(21, "idle")};
    ui.app.m_ps.procs[4].tcp = 0; // holds nothing: listed only with "Open ports"
    ui.app.m_ps.procs[4].listen = 1;
    ui.app.m_total_rx_now = 100; // less than the programs' sum: other traffic stays at 0
    ui.app.m_sess_rx = 5000;
    // Sorted by PID ascending: "Other traffic" (-2) before grouped rows (-1).
    const struct {
        bool group, listening;
        const char* filter;
        const char* rows;
    } cases[] = {
        {true, true, "", "other| pchrome|10|11|12| pgone|20| pidle|21| "},
        {false, false, "", "other| p10/chrome|10| p11/chrome|11| p12/chrome|12| p20/gone|20| "},
        {true, false, "o", "pchrome|10|11|12| pgone|20| "},
    };
    for (const auto& c : cases) {
        ui.app.m_settings.group_programs = c.group;
        ui.app.m_settings.show_listening = c.listening;
        ui.app.m_proc_field.text = c.filter;
        ui.app.m_proc.sort_key = "pid";
        ui.app.m_proc.desc = false;
        ui.app.fill_table(2);
        std::string got;
        for (const auto& r : ui.app.m_proc.rows) got += r.id + " ";
        EXPECT_EQ(got, c.rows) << c.group << c.listening << c.filter;
    }
    EXPECT_EQ(ui.app.m_settings.proc_filter, "o"); // the filter persists
    ui.app.m_proc_field.text = "";
    ui.app.m_settings.group_programs = true;
    ui.app.fill_table(2);
    const Table& t = ui.app.m_proc;
    const Row* chrome = find_row(t, "pchrome|10|11|12|");
    ASSERT_TRUE(chrome);
    EXPECT_EQ(chrome->cells[0], "chrome  (3×)");
    EXPECT_EQ(cell(t, *chrome, "pid"), "");
    const Row* gone = find_row(t, "pgone|20|");
    EXPECT_EQ(gone->cells[0], "gone  · ended");
    EXPECT_TRUE(gone->dim);
    const Row* other = find_row(t, "other|");
    EXPECT_EQ(other->keys[3], 0);
    EXPECT_EQ(other->accent, 2);
    EXPECT_EQ(ui.app.m_other_rx, 0);
    EXPECT_EQ(other->keys[5], 5000 - 1500);
    ui.app.m_total_rx_now = 400;
    ui.app.fill_table(2);
    EXPECT_EQ(ui.app.m_other_rx, 250);

    // A double click on the group filters the connections by the bare name; on a single
    // process by its number.
    ui.app.m_settings.tab = 2;
    for (const auto& [id, filter] :
         {std::pair{"pchrome|10|11|12|", "chrome"}, std::pair{"pgone|20|", "pid:20"}}) {
        ui.app.table_click(2, Hit{0, 0, 1, 1, std::string("tbl:row:") + id, 0, ""}, 0, 0, 1, 2);
        EXPECT_EQ(ui.app.m_settings.tab, 1);
        EXPECT_EQ(ui.app.m_conn_field.text, filter);
        ui.app.m_settings.tab = 2;
    }
}

TEST(TableContents, DestinationsJoinProgramsServicesAndCountries) {
    Page ui;
    ui.sockets({conn(1, 10, 6, "10.0.0.1", 1000, "10.9.0.5", 443, 300),
                conn(2, 11, 6, "10.0.0.1", 1001, "10.9.0.5", 47123, 0, 200),
                conn(3, 11, 6, "10.0.0.1", 1002, "10.9.0.6", 443, 10),
                conn(4, 11, 6, "127.0.0.1", 1003, "127.0.0.1", 80)});
    ui.app.m_ps.conns[3].loopback = true;
    ui.app.m_ps.procs = {proc(10, "firefox"), proc(11, "curl")};
    ui.app.fill_table(3);
    const Table& t = ui.app.m_dest;
    ASSERT_EQ(t.rows.size(), 2u);
    const Row& r = t.rows[0];
    EXPECT_EQ(r.id, "d10.9.0.5|");
    EXPECT_EQ(cell(t, r, "prog"), "curl, firefox");
    EXPECT_EQ(cell(t, r, "svc"), "47123, https");
    EXPECT_EQ(cell(t, r, "conns"), "2");
    ASSERT_EQ(ui.app.m_countries.size(), 1u);
    EXPECT_EQ(ui.app.m_countries[0].cc, "LAN");
    EXPECT_EQ(ui.app.m_countries[0].hosts, 2);
    EXPECT_EQ(ui.app.m_countries[0].rx + ui.app.m_countries[0].tx, 510);

    // The row menu's last items show the address's connections and copy the line.
    ui.app.m_settings.tab = 3;
    ui.app.table_menu(3, "d10.9.0.5|", 0, 0);
    ASSERT_EQ(ui.app.m_menu.items.size(), 4u);
    EXPECT_EQ(ui.app.m_menu.items[2].label, L10n::tr("menu.show_conns"));
    ui.app.m_menu.items[3].act();
    char* clip = SDL_GetClipboardText();
    EXPECT_EQ(std::string(clip).substr(0, 32), "10.9.0.5\t10.9.0.5\tLocal network\t");
    SDL_free(clip);
    ui.app.m_menu.items[2].act();
    EXPECT_EQ(ui.app.m_settings.tab, 1);
    EXPECT_EQ(ui.app.m_conn_field.text, "10.9.0.5");
    EXPECT_EQ(ui.app.m_conn.rows.size(), 2u);
    // A double click does the same; a click on a country filters the destinations by it.
    ui.app.m_conn_field.text.clear();
    ui.app.select_tab(3);
    ui.app.table_click(3, Hit{0, 0, 1, 1, "tbl:row:d10.9.0.6|", 0, ""}, 0, 0, 1, 2);
    EXPECT_EQ(ui.app.m_conn_field.text, "10.9.0.6");
    ui.app.select_tab(3);
    ui.app.m_scroll[3] = 90;
    ui.app.table_click(3, Hit{0, 0, 1, 1, "tbl:cc:LAN", 0, ""}, 0, 0, 1, 1);
    EXPECT_EQ(ui.app.m_dest_field.text, "Local network");
    EXPECT_EQ(ui.app.m_scroll[3], 0);
    EXPECT_EQ(ui.app.m_dest.rows.size(), 2u);
}

// Typing narrows the built rows; the result must equal a full rebuild at every step, and
// the "Other traffic" row goes with the first character.
TEST(TableContents, NarrowingByTypingEqualsARebuild) {
    Page ui;
    ui.sockets({conn(1, 10, 6, "10.0.0.1", 1000, "10.9.0.5", 443, 300),
                conn(2, 11, 17, "10.0.0.1", 1001, "10.9.0.6", 53),
                conn(3, 11, 6, "10.0.0.1", 1002, "10.9.0.6", 443, 10)});
    ui.app.m_ps.procs = {proc(10, "Firefox", 300), proc(11, "curl", 10)};
    for (int page : {1, 2, 3}) {
        TextField* f = ui.app.field_of(page);
        f->text.clear();
        ui.app.fill_table(page);
        for (const char* typed : {"u", "ur", "URL", "1", "10.9.0.6", "pid:1", "pid:11"}) {
            f->text = typed;
            ui.app.fill_table(page);
            std::string narrowed, rebuilt;
            for (const auto& r : ui.app.table_of(page).rows) narrowed += r.id + " ";
            ui.app.m_fill_inputs[static_cast<size_t>(page)].clear();
            ui.app.fill_table(page);
            for (const auto& r : ui.app.table_of(page).rows) rebuilt += r.id + " ";
            EXPECT_EQ(narrowed, rebuilt) << page << " " << typed;
            EXPECT_EQ(narrowed.find("other|"), std::string::npos);
        }
    }
}

TEST(TablePaint, CountryPanelShowsFourPerGridColumn) {
    const struct {
        double w;
        size_t shown;
    } cases[] = {{900, 8}, {1300, 10}, {300, 4}};
    for (const auto& c : cases) {
        Page ui;
        ui.resize(c.w, 760);
        ui.app.m_settings.tab = 3;
        for (int i = 0; i < 10; ++i) {
            App::Country k;
            k.cc = std::string(1, char('A' + i)) + "X";
            k.rx = 100 - i;
            ui.app.m_countries.push_back(k);
        }
        ui.paint();
        size_t n = 0;
        for (const auto& id : ui.ids())
            if (id.rfind("tbl:cc:", 0) == 0) ++n;
        EXPECT_EQ(n, c.shown) << c.w;
        EXPECT_EQ(bool(ui.find("tbl:cc:JX")), c.shown == 10) << c.w;
    }
}

TEST(TablePaint, OnlyVisibleRowsWithClampedScrollAndMeters) {
    Page ui;
    std::vector<procs::Conn> many;
    for (int i = 0; i < 1000; ++i)
        many.push_back(
            conn(uint64_t(i + 1), 7, 6, "10.0.0.1", 2000 + i, "10.0.0.2", 443, i == 999 ? 5e6 : 0));
    ui.sockets(many);
    ui.app.m_settings.tab = 1;
    ui.app.fill_table(1);
    ui.app.m_scroll[1] = 1e9;
    ui.paint();
    const double body = 760 - App::kHeaderH - App::kStatusH - 52 - 34 - 26;
    EXPECT_DOUBLE_EQ(ui.app.m_scroll[1], 1000 * 30 + 10 - body);
    ui.app.m_scroll[1] = 0;
    ui.key(SDLK_END); // the keyboard reaches the same end: the last row above the footer
    EXPECT_DOUBLE_EQ(ui.app.m_scroll[1], 1000 * 30 + 10 - body);
    size_t rows = 0;
    for (const auto& id : ui.ids())
        if (id.rfind("tbl:row:", 0) == 0) ++rows;
    EXPECT_GT(rows, 10u);
    EXPECT_LE(rows, size_t(body / 30) + 2);
    // The fastest row sorts first: scrolled to the top its rx meter lights in the down colour.
    ui.app.m_scroll[1] = 0;
    ui.paint();
    const auto head = ui.find("tbl:head:rx");
    const auto first = ui.find("tbl:row:1000|7|");
    ASSERT_TRUE(head && first);
    EXPECT_TRUE(testsupport::Ui::near(ui.pixel(head->x + 10, first->y + 15), ui.app.m_pal.down))
        << "first meter segment";
    // An empty table paints no rows.
    ui.sockets({});
    ui.app.fill_table(1);
    ui.paint();
    for (const auto& id : ui.ids()) EXPECT_NE(id.rfind("tbl:row:", 0), 0u) << id;
}

TEST(TableInput, ColumnMenuTypingChipsAndRowMenu) {
    Page ui;
    ui.app.m_settings.tab = 1;
    ui.sockets({conn(1, 10, 6, "10.0.0.1", 1000, "10.9.0.5", 443, 300),
                conn(2, 11, 6, "10.0.0.1", 1001, "10.9.0.6", 443, 100)});
    ui.app.m_ps.procs = {proc(10, "firefox"), proc(11, "curl")};
    ui.app.select_tab(1);
    ui.paint();

    // Right click on a header: one item per column but the first, then "Reset columns".
    auto head = ui.find("tbl:head:proto");
    ASSERT_TRUE(head);
    ui.press(head->x + 5, head->y + 5, 3);
    ASSERT_TRUE(ui.app.m_menu.open);
    ASSERT_EQ(ui.app.m_menu.items.size(), ui.app.m_conn.cols.size() + 1);
    EXPECT_EQ(ui.app.m_menu.items[7].label,
              L10n::tr("dir.download") + " · " + L10n::tr("col.rate"));
    EXPECT_TRUE(ui.app.m_menu.items[0].checked);
    ui.app.m_menu.items[0].act(); // "proto"
    ui.app.close_menu();
    ui.paint();
    EXPECT_EQ(ui.app.m_settings.cols_conn, "proto=0/1;");
    EXPECT_FALSE(ui.find("tbl:head:proto"));
    ui.app.column_menu(1, 0, 0);
    EXPECT_FALSE(ui.app.m_menu.items[0].checked);
    ui.app.m_menu.items.back().act();
    ui.app.close_menu();
    EXPECT_EQ(ui.app.m_settings.cols_conn, "");

    // Ctrl+F focuses the field; typing refills at once, without waiting for a sample.
    ui.key(SDLK_f, KMOD_LCTRL);
    EXPECT_TRUE(ui.app.m_conn_field.focus);
    ui.type("curl");
    ASSERT_EQ(ui.app.m_conn.rows.size(), 1u);
    EXPECT_EQ(ui.app.m_conn.rows[0].id, "2|11|");
    ui.key(SDLK_ESCAPE);
    EXPECT_EQ(ui.app.m_conn.rows.size(), 2u);

    // A chip click refills and is stored.
    ui.paint();
    auto chip = ui.find("tbl:chip:resolve");
    ASSERT_TRUE(chip);
    ui.click(chip->x + 5, chip->y + 5);
    EXPECT_TRUE(ui.app.m_settings.resolve_names);
    EXPECT_EQ(ui.app.m_conn.rows[0].cells[3], "…"); // lookups pending

    // Right click on a row: copy items, the whole line last.
    ui.paint();
    auto row = ui.find("tbl:row:1|10|");
    ASSERT_TRUE(row);
    ui.press(row->x + 40, row->y + 5, 3);
    ASSERT_TRUE(ui.app.m_menu.open);
    EXPECT_EQ(ui.app.m_conn.selected, "1|10|");
    ASSERT_EQ(ui.app.m_menu.items.size(), 3u);
    ui.app.m_menu.items[0].act();
    char* clip = SDL_GetClipboardText();
    EXPECT_STREQ(clip, "10.9.0.5:443");
    SDL_free(clip);
    EXPECT_EQ(ui.app.m_menu.items[2].label, L10n::tr("menu.copy_row"));
}

TEST(TableContents, HostileNamesArePlainVisibleAndClipped) {
    const std::string rlo = "\u202E";
    const struct {
        std::string in, out;
    } cases[] = {
        {"<b>x</b> &amp;", "<b>x</b> &amp;"},            // never markup, so left alone
        {"a\nb\x1b[31m", "a\u240Ab\u241B[31m"},          // controls become their symbols
        {"evil" + rlo + "gpj.exe", "evil\uFFFDgpj.exe"}, // no direction override
        {"\xff\xc3(\xed\xa0\x80", "\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD"}, // not UTF-8
        {"caf\u00e9\x7f", "caf\u00e9\u2421"},
    };
    for (const auto& c : cases) EXPECT_EQ(plain_text(c.in), c.out) << c.in;
    std::string ptr = "<b>bold</b>&\n\x1b" + rlo;
    while (ptr.size() < 10000) ptr += "\u00e9x";
    const std::string shown = plain_text(ptr);
    EXPECT_LE(shown.size(), 240u + 4);
    EXPECT_EQ(shown.substr(shown.size() - 4), " …");
    EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr));

    // Through the tables: cell, tooltip and clipboard all get the safe text.
    Page ui;
    ui.sockets({conn(1, 10, 6, "10.0.0.1", 1000, "10.9.0.5", 443, 300)});
    ui.app.m_ps.procs = {proc(10, ptr)};
    ui.app.m_ps.procs[0].cmdline = ptr;
    ui.app.m_settings.tab = 2;
    ui.app.fill_table(2);
    const Row& r = ui.app.m_proc.rows.at(0);
    ASSERT_NE(r.id, "other|");
    for (const std::string* s : {&r.cells[0], &r.tooltip}) {
        EXPECT_TRUE(g_utf8_validate(s->c_str(), -1, nullptr));
        EXPECT_EQ(s->find_first_of("\n\x1b"), std::string::npos);
        EXPECT_EQ(s->find(rlo), std::string::npos);
        EXPECT_LE(s->size(), 260u);
    }
    ui.paint();
    // A picture to look at: build/screenshots/tables-hostile-names.png.
    testsupport::make_dirs(std::string(VELMORA_BUILD_DIR) + "/screenshots");
    cairo_surface_t* shot = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1200, 760);
    cairo_t* cr = cairo_create(shot);
    ui.app.paint_base(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(shot, VELMORA_BUILD_DIR "/screenshots/tables-hostile-names.png");
    cairo_surface_destroy(shot);
    ui.app.table_menu(2, r.id, 0, 0);
    ASSERT_TRUE(ui.app.m_menu.open);
    ui.app.m_menu.items[0].act(); // "Copy command line"
    char* clip = SDL_GetClipboardText();
    EXPECT_EQ(std::string(clip), r.tooltip);
    SDL_free(clip);
}

} // namespace
