// The settings and languages panels through the interface harness: each control changes
// its setting and re-applies it, the panels close the way they should, and the tabs keep
// their contents inside the panel in long-word and right-to-left languages.
#include "l10n.h"
#include "support/display.h"
#include "support/ui.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

using testsupport::Ui;

namespace {

// The window as painted, for looking at each tab in long-word and right-to-left languages.
void shot(App& a, const std::string& name) {
    const std::string dir = std::string(VELMORA_BUILD_DIR) + "/screenshots";
    testsupport::make_dirs(dir);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(a.m_W),
                                                    static_cast<int>(a.m_H));
    cairo_t* cr = cairo_create(s);
    a.paint_base(cr);
    a.paint_over(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(s, (dir + "/" + name + ".png").c_str());
    cairo_surface_destroy(s);
}

struct SettingsUi {
    Ui ui{1100, 760};
    SettingsUi() {
        L10n::setLanguage("en");
        ui.device("eth0", net::Kind::Ethernet, 1000, 500);
        ui.device("docker0", net::Kind::Virtual, 10, 10);
        ui.app.open_settings(0);
        ui.paint();
    }
    // Clicks the middle of the overlay region `id`; false when it is not there.
    bool press(const std::string& id) {
        ui.paint();
        const auto h = ui.find(id);
        if (!h) return false;
        ui.click(h->x + h->w / 2, h->y + h->h / 2);
        ui.paint();
        return true;
    }
};

TEST(SettingsPanel, EveryTabStaysInsideThePanel) {
    for (const char* lang : {"en", "de", "ar", "fi"}) {
        for (double w : {1100.0, 640.0}) {
            L10n::setLanguage(lang);
            SettingsUi s;
            L10n::setLanguage(lang);
            s.ui.resize(w, 560);
            for (int tab = 0; tab < 5; ++tab) {
                s.ui.app.open_settings(tab);
                s.ui.paint();
                const auto pane = s.ui.find("set:pane");
                ASSERT_TRUE(pane) << lang;
                int inside = 0;
                for (const std::string& id : s.ui.ids(true)) {
                    const auto h = s.ui.find(id);
                    EXPECT_GE(h->x, pane->x) << lang << " " << w << " " << id;
                    EXPECT_LE(h->x + h->w, pane->x + pane->w + 0.01)
                        << lang << " " << w << " " << id;
                    EXPECT_LE(h->y + h->h, pane->y + pane->h + 0.01)
                        << lang << " " << w << " " << id;
                    inside += id != "set:pane";
                }
                EXPECT_GE(inside, 6) << lang << " tab " << tab;
                if (w > 1000) {
                    // German also in the light theme.
                    s.ui.theme(strcmp(lang, "de") != 0);
                    shot(s.ui.app, std::string("settings-") + lang + "-" + std::to_string(tab));
                    s.ui.theme(true);
                }
                // A tab longer than the panel scrolls, and the wheel stops at its end.
                for (int i = 0; i < 40; ++i) s.ui.wheel(pane->x + 50, pane->y + 200, -1);
                s.ui.paint();
                const App& a = s.ui.app;
                EXPECT_NEAR(a.m_set_scroll, std::max(0.0, a.m_set_content_h - a.m_set_view_h), 0.01)
                    << lang << " tab " << tab;
            }
        }
    }
    L10n::setLanguage("en");
}

TEST(SettingsPanel, TwoSecondsResetsHistoryAndWakesTheSampler) {
    SettingsUi s;
    App& a = s.ui.app;
    ASSERT_GT(a.m_if["eth0"].hrx.size(), 0u);
    a.start_sampler();
    auto next_sample = [&a] {
        const auto t0 = std::chrono::steady_clock::now();
        testsupport::wait_until(5000, [&a] {
            std::lock_guard<std::mutex> lock(a.m_qmutex);
            return !a.m_queue.empty();
        });
        std::lock_guard<std::mutex> lock(a.m_qmutex);
        a.m_queue.clear();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    next_sample();
    ASSERT_TRUE(s.press("set:seg:interval:2"));
    EXPECT_LT(next_sample(), 0.5) << "the sampler wakes at once";
    EXPECT_NEAR(next_sample(), 2.0, 0.3);
    a.stop_sampler();
    EXPECT_EQ(a.m_settings.interval_ms, 2000);
    EXPECT_EQ(a.m_if["eth0"].hrx.size(), 0u);
    EXPECT_EQ(a.m_if["eth0"].hrx.capacity(), 1801u);
    EXPECT_NE(a.m_save_at, 0u);
    EXPECT_EQ(interval_label(a.m_interval), "2 s");
}

TEST(SettingsPanel, SwitchesAndSegmentsChangeTheirSettings) {
    SettingsUi s;
    Settings& st = s.ui.app.m_settings;
    struct Case {
        int tab;
        const char* id;
        std::function<bool()> changed;
    } cases[] = {
        {0, "set:seg:theme:2", [&] { return st.theme == "light" && !s.ui.app.m_dark; }},
        {0, "set:seg:units:1", [&] { return st.bits; }},
        {0, "set:sw:animate", [&] { return !st.animate; }},
        {0, "set:sw:ontop", [&] { return st.always_on_top; }},
        {0, "set:sw:mini_ontop", [&] { return !st.mini_on_top; }},
        {1, "set:sw:inactive", [&] { return !st.show_inactive; }},
        {1, "set:sw:loopback", [&] { return st.show_loopback; }},
        {1, "set:dev:show:eth0", [&] { return st.hidden.count("eth0") == 1; }},
        {1, "set:dev:mini:eth0", [&] { return st.mini_devices.count("eth0") == 1; }},
        {2, "set:sw:resolve", [&] { return !st.resolve_names; }},
        {2, "set:sw:group", [&] { return st.group_programs; }},
        {2, "set:sw:listen", [&] { return st.show_listening; }},
    };
    for (const Case& c : cases) {
        s.ui.app.open_settings(c.tab);
        s.ui.app.m_save_at = 0;
        ASSERT_TRUE(s.press(c.id)) << c.id;
        EXPECT_TRUE(c.changed()) << c.id;
        EXPECT_NE(s.ui.app.m_save_at, 0u) << c.id;
        EXPECT_EQ(s.ui.app.m_modal, App::Modal::Settings) << c.id;
    }
}

TEST(SettingsPanel, DeviceChoicesAndTheirReset) {
    SettingsUi s;
    App& a = s.ui.app;
    Settings& st = a.m_settings;
    a.open_settings(1);
    // Total twice returns to the default without an override, both ways round.
    for (const char* dev : {"eth0", "docker0"}) {
        const bool before = a.m_if[dev].counts;
        ASSERT_TRUE(s.press(std::string("set:dev:total:") + dev));
        EXPECT_NE(a.m_if[dev].counts, before) << dev;
        ASSERT_TRUE(s.press(std::string("set:dev:total:") + dev));
        EXPECT_EQ(a.m_if[dev].counts, before) << dev;
    }
    EXPECT_TRUE(st.total_on.empty() && st.total_off.empty());
    // With no device chosen the sum line shows whatever is clicked.
    ASSERT_TRUE(s.press("set:dev:mini:*"));
    ASSERT_TRUE(s.press("set:dev:mini:eth0"));
    ASSERT_TRUE(s.press("set:dev:show:eth0"));
    ASSERT_TRUE(s.press("set:dev:total:eth0"));
    st.card_order = {"docker0", "eth0"};
    ASSERT_TRUE(s.press("set:btn:devreset"));
    EXPECT_TRUE(st.hidden.empty() && st.mini_devices.empty() && st.total_on.empty() &&
                st.total_off.empty() && st.card_order.empty());
    EXPECT_TRUE(a.m_if["eth0"].counts);
}

TEST(SettingsPanel, StatisticsResetAsksFirst) {
    for (bool confirm : {false, true}) {
        SettingsUi s;
        App& a = s.ui.app;
        a.m_usage.load(s.ui.dir.path() + "/usage.dat");
        a.open_settings(2);
        ASSERT_TRUE(s.press("set:btn:statsreset"));
        EXPECT_EQ(a.m_modal, App::Modal::Confirm);
        // A click beside the question does not answer it.
        s.ui.click(3, 3);
        EXPECT_EQ(a.m_modal, App::Modal::Confirm);
        ASSERT_TRUE(s.press(confirm ? "conf:ok" : "conf:no"));
        EXPECT_EQ(a.m_modal, App::Modal::None);
        EXPECT_EQ(access((s.ui.dir.path() + "/history.dat").c_str(), F_OK) == 0, confirm);
    }
}

TEST(SettingsPanel, LanguageChoiceRetitlesAndWritesTheGuard) {
    SettingsUi s;
    App& a = s.ui.app;
    L10n::init(s.ui.dir.path());
    a.m_conn.cols = {Column{"rx", "Download", 1, 60, true, -1, 0}};
    ASSERT_TRUE(s.press("set:lang"));
    EXPECT_EQ(a.m_modal, App::Modal::Languages);
    // The list is longer than the panel: it scrolls to the end and stops there.
    for (int i = 0; i < 60; ++i) s.ui.wheel(600, 400, -1);
    s.ui.paint();
    // 1100 × 760: a panel of 860 × 600, four columns, 530 high for rows of 30.
    const double rows = std::ceil((L10n::available().size() + 1) / 4.0);
    EXPECT_NEAR(a.m_lang_scroll, rows * 30 - 530, 0.01);
    a.m_lang_scroll = 0;
    ASSERT_TRUE(s.press("lang:de"));
    EXPECT_EQ(a.m_modal, App::Modal::Settings);
    EXPECT_EQ(a.m_settings.language, "de");
    EXPECT_EQ(L10n::currentLanguage(), "de");
    EXPECT_TRUE(a.m_conn.cols.empty()) << "the titles are rebuilt in German";
    EXPECT_NE(testsupport::read_file(s.ui.dir.path() + "/language-guard"), "");
    EXPECT_EQ(L10n::tr("set.tab.general"), "Allgemein");
    L10n::init("");
    L10n::setLanguage("en");
}

TEST(SettingsPanel, ClosingPaths) {
    struct Case {
        const char* what;
        std::function<void(SettingsUi&)> act;
        App::Modal after;
    } cases[] = {
        {"click outside", [](SettingsUi& s) { s.ui.click(3, 3); }, App::Modal::None},
        {"click on the panel",
         [](SettingsUi& s) {
             const auto p = s.ui.find("set:pane");
             s.ui.click(p->x + p->w / 2, p->y + p->h - 10);
         },
         App::Modal::Settings},
        {"Close", [](SettingsUi& s) { s.press("set:close"); }, App::Modal::None},
        {"Escape", [](SettingsUi& s) { s.ui.key(SDLK_ESCAPE); }, App::Modal::None},
        {"Escape from Languages",
         [](SettingsUi& s) {
             s.press("set:lang");
             s.ui.key(SDLK_ESCAPE);
         },
         App::Modal::Settings},
        {"Escape twice from Languages",
         [](SettingsUi& s) {
             s.press("set:lang");
             s.ui.key(SDLK_ESCAPE);
             s.ui.key(SDLK_ESCAPE);
         },
         App::Modal::None},
        {"Ctrl+, opens General",
         [](SettingsUi& s) {
             s.ui.app.m_set_tab = 3;
             s.ui.key(SDLK_ESCAPE);
             s.ui.key(SDLK_COMMA, KMOD_LCTRL);
             EXPECT_EQ(s.ui.app.m_set_tab, 0);
         },
         App::Modal::Settings},
        {"a tab",
         [](SettingsUi& s) {
             s.press("set:tab:4");
             EXPECT_EQ(s.ui.app.m_set_tab, 4);
         },
         App::Modal::Settings},
    };
    for (const Case& c : cases) {
        SettingsUi s;
        c.act(s);
        EXPECT_EQ(s.ui.app.m_modal, c.after) << c.what;
    }
}

// Where the entry cannot be written the switch keeps its state.
TEST(SettingsPanel, StartAtLoginStaysOffWhenTheEntryCannotBeWritten) {
    SettingsUi s;
    setenv("HOME", s.ui.dir.path().c_str(), 1);
    unsetenv("SNAP_REAL_HOME");
    unsetenv("SNAP");
    testsupport::write_file(s.ui.dir.path() + "/.config/autostart", "");
    s.ui.app.open_settings(0);
    ASSERT_TRUE(s.press("set:sw:autostart"));
    EXPECT_FALSE(s.ui.app.m_autostart);
}

} // namespace
