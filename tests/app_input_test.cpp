// Input through synthetic SDL events: filter-field editing, the Escape chain, shortcuts,
// the wheel and its clamps, menu sliding, clicks beside dialogs and tooltip placement.
#include "support/ui.h"

#include <gtest/gtest.h>

using testsupport::Ui;

namespace {

TEST(InputField, EditingOverUtf8PasteAndEscape) {
    Ui ui;
    ui.app.m_settings.tab = 1;
    ui.key(SDLK_f, KMOD_LCTRL);
    TextField& f = ui.app.m_conn_field;
    ASSERT_TRUE(f.focus);
    EXPECT_EQ(ui.app.focused_field(), &f);

    struct Step {
        const char* what;
        std::function<void()> act;
        const char* text;
        size_t caret;
        bool focus;
        bool applied = true; // the field took the key: filter applied, list from the top
    } steps[] = {
        {"typed", [&] { ui.type("aé"); }, "aé", 3, true},
        {"backspace behind é", [&] { ui.key(SDLK_BACKSPACE); }, "a", 1, true},
        {"typed again", [&] { ui.type("ü€b"); }, "aü€b", 7, true},
        {"left twice", [&] { ui.key(SDLK_LEFT); ui.key(SDLK_LEFT); }, "aü€b", 3, true},
        {"delete at €", [&] { ui.key(SDLK_DELETE); }, "aüb", 3, true},
        {"right", [&] { ui.key(SDLK_RIGHT); }, "aüb", 4, true},
        {"right at the end", [&] { ui.key(SDLK_RIGHT); }, "aüb", 4, true},
        {"home", [&] { ui.key(SDLK_HOME); }, "aüb", 0, true},
        {"backspace at the start", [&] { ui.key(SDLK_BACKSPACE); }, "aüb", 0, true},
        {"paste joins a line break",
         [&] {
             SDL_SetClipboardText("x\ny");
             ui.key(SDLK_v, KMOD_RCTRL);
         },
         "xyaüb", 2, true},
        {"ctrl+q is not the field's and not the loop's", [&] { ui.key(SDLK_q, KMOD_LCTRL); },
         "xyaüb", 2, true, false},
        {"escape clears", [&] { ui.key(SDLK_ESCAPE); }, "", 0, true},
        {"escape again drops the focus", [&] { ui.key(SDLK_ESCAPE); }, "", 0, false},
        {"text without focus is ignored", [&] { ui.type("z"); }, "", 0, false, false},
    };
    for (const Step& s : steps) {
        ui.app.m_scroll[1] = 40;
        s.act();
        EXPECT_EQ(f.text, s.text) << s.what;
        EXPECT_EQ(f.caret, s.caret) << s.what;
        EXPECT_EQ(f.focus, s.focus) << s.what;
        // A key the field handles applies the filter at once, from the top of the list.
        EXPECT_EQ(ui.app.m_scroll[1], s.applied ? 0 : 40) << s.what;
    }
    EXPECT_TRUE(ui.app.m_running);

    // A click elsewhere takes the focus away; Return does too.
    ui.key(SDLK_f, KMOD_LCTRL);
    ui.paint();
    ui.click(600, 400);
    EXPECT_FALSE(f.focus);
    ui.key(SDLK_f, KMOD_LCTRL);
    ui.key(SDLK_KP_ENTER);
    EXPECT_FALSE(f.focus);
    ui.app.m_settings.tab = 0; // the overview has no field
    ui.key(SDLK_f, KMOD_LCTRL);
    EXPECT_EQ(ui.app.focused_field(), nullptr);
}

TEST(InputKeys, ShortcutsPagesAndViews) {
    Ui ui;
    struct Step {
        const char* what;
        SDL_Keycode sym;
        Uint16 mod;
        int tab;
        bool mini;
    } steps[] = {
        {"ctrl+5", SDLK_5, KMOD_LCTRL, 4, false},
        {"ctrl+2", SDLK_2, KMOD_RCTRL, 1, false},
        {"plain 3 does nothing", SDLK_3, KMOD_NONE, 1, false},
        {"ctrl+m into the mini view", SDLK_m, KMOD_LCTRL, 1, true},
        {"ctrl+5 in the mini view does nothing", SDLK_5, KMOD_LCTRL, 1, true},
        {"ctrl+m back", SDLK_m, KMOD_LCTRL, 1, false},
        {"ctrl+m again", SDLK_m, KMOD_LCTRL, 1, true},
        {"escape leaves the mini view", SDLK_ESCAPE, KMOD_NONE, 1, false},
        {"ctrl+1", SDLK_1, KMOD_LCTRL, 0, false},
    };
    for (const Step& s : steps) {
        ui.key(s.sym, s.mod);
        EXPECT_EQ(ui.app.m_settings.tab, s.tab) << s.what;
        EXPECT_EQ(ui.app.m_settings.mini, s.mini) << s.what;
    }
    EXPECT_GT(ui.app.m_save_at, 0u); // page and view changes are saved soon

    // F10 and Ctrl+Q go through the real program under Xvfb; Escape closes the settings too.
    ui.key(SDLK_COMMA, KMOD_LCTRL);
    EXPECT_EQ(ui.app.m_modal, App::Modal::Settings);
    ui.key(SDLK_ESCAPE);
    EXPECT_EQ(ui.app.m_modal, App::Modal::None);
}

TEST(InputScroll, WheelAndKeysClampToTheContent) {
    Ui ui; // page height 760 - 88 - 26 = 646
    ui.app.m_content_h[0] = 1000;
    struct Step {
        const char* what;
        std::function<void()> act;
        double scroll;
    } steps[] = {
        {"wheel over the header", [&] { ui.wheel(600, 50, -1); }, 0},
        {"wheel over the status bar", [&] { ui.wheel(600, 750, -1); }, 0},
        {"wheel down over the page", [&] { ui.wheel(600, 300, -1); }, 90},
        {"wheel up", [&] { ui.wheel(600, 300, 2); }, 0},
        {"down arrow", [&] { ui.key(SDLK_DOWN); }, 60},
        {"end", [&] { ui.key(SDLK_END); }, 1000 - 646},
        {"page up, more than the way back", [&] { ui.key(SDLK_PAGEUP); }, 0},
        {"page down, more than the way left", [&] { ui.key(SDLK_PAGEDOWN); }, 1000 - 646},
        {"up arrow", [&] { ui.key(SDLK_UP); }, 1000 - 646 - 60},
        {"home", [&] { ui.key(SDLK_HOME); }, 0},
    };
    for (const Step& s : steps) {
        s.act();
        EXPECT_DOUBLE_EQ(ui.app.m_scroll[0], s.scroll) << s.what;
    }

    // A table of three rows is shorter than its page and never scrolls.
    ui.app.m_settings.tab = 1;
    ui.app.m_conn.rows.resize(3);
    for (int i = 0; i < 5; ++i) ui.wheel(600, 300, -1);
    ui.key(SDLK_END);
    EXPECT_EQ(ui.app.m_scroll[1], 0);
    // 1210 tall in a body of 646 - 52 - 34 - 26 between the header band and the footer: the
    // end shows the last row whole.
    ui.app.m_conn.rows.resize(40);
    ui.key(SDLK_END);
    EXPECT_DOUBLE_EQ(ui.app.m_scroll[1], 40 * 30 + 10 - (646 - 52 - 34 - 26));

    // Nothing scrolls the page under a menu.
    ui.app.m_settings.tab = 0;
    ui.app.open_menubar(1);
    ui.wheel(600, 300, -1);
    EXPECT_EQ(ui.app.m_scroll[0], 0);
}

TEST(InputPointer, MenusTabsAndDialogs) {
    Ui ui;
    ui.paint();
    const Hit file = *ui.find("mb:0");
    const Hit view = *ui.find("mb:1");
    ui.click(file.x + 5, 15);
    ASSERT_EQ(ui.app.m_menubar_open, 0);
    ui.paint();
    // Sliding to the next title with the menu open switches menus without a click.
    ui.move(view.x + 5, 15);
    EXPECT_EQ(ui.app.m_menubar_open, 1);
    EXPECT_EQ(ui.app.m_menu.items.size(), ui.app.menubar_items(1).size());
    // A click on the open menu's title closes it; a click beside the menu too.
    ui.click(view.x + 5, 15);
    EXPECT_FALSE(ui.app.m_menu.open);
    ui.click(view.x + 5, 15);
    EXPECT_TRUE(ui.app.m_menu.open);
    ui.click(900, 500);
    EXPECT_FALSE(ui.app.m_menu.open);
    EXPECT_EQ(ui.app.m_menubar_open, -1);

    // Tabs take the left button only.
    ui.paint();
    const Hit tab = *ui.find("tab:2");
    ui.click(tab.x + 5, tab.y + 5, 3);
    EXPECT_EQ(ui.app.m_settings.tab, 0);
    ui.click(tab.x + 5, tab.y + 5, 1);
    EXPECT_EQ(ui.app.m_settings.tab, 2);

    // Beside a dialog: the settings panel closes, a question waits for its answer.
    struct {
        App::Modal open;
        App::Modal after;
    } dialogs[] = {{App::Modal::Confirm, App::Modal::Confirm},
                   {App::Modal::Settings, App::Modal::None},
                   {App::Modal::Languages, App::Modal::Settings},
                   {App::Modal::Snap, App::Modal::None}};
    for (const auto& d : dialogs) {
        ui.app.m_modal = d.open;
        ui.paint();
        ui.click(3, 3);
        EXPECT_EQ(ui.app.m_modal, d.after) << static_cast<int>(d.open);
        EXPECT_EQ(ui.app.m_settings.tab, 2); // the page under the dialog got nothing
    }
    ui.paint();
    const Hit gear = *ui.find("head:settings");
    ui.click(gear.x + 5, gear.y + 5);
    EXPECT_EQ(ui.app.m_modal, App::Modal::Settings);
}

// The rest time itself is checked against the real program under Xvfb.
TEST(InputTooltip, KeptInsideTheWindowAndHiddenElsewhere) {
    Ui ui;
    ui.paint();
    const Hit gear = *ui.find("head:settings");
    ui.move(gear.x + 19, gear.y + 19);
    ui.rest();
    ASSERT_TRUE(ui.app.m_tip_shown);
    ui.paint();
    const Hit box = ui.overlay_bounds();
    EXPECT_LE(box.x + box.w, 1200); // near the right edge it moves left
    EXPECT_GT(box.y, gear.y + 19);  // below the pointer
    ui.move(600, 400);              // another region hides it
    EXPECT_FALSE(ui.app.m_tip_shown);

    // Near the bottom-right corner the box opens above and to the left of the pointer; a
    // long tip wraps at 420.
    ui.paint();
    ui.app.m_hits.push_back(Hit{1100, 680, 100, 80, "test:corner", 0, std::string(300, 'x') + " y"});
    ui.move(1190, 750);
    ui.rest();
    ASSERT_TRUE(ui.app.m_tip_shown);
    ui.paint_overlay();
    const Hit c = ui.overlay_bounds();
    EXPECT_TRUE(c.x >= 0 && c.x + c.w < 1190 && c.y >= 0 && c.y + c.h < 750) << c.x << "," << c.y;
    EXPECT_LE(c.w, 420 + 20 + 2);
}

} // namespace
