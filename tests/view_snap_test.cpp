// The Snap permissions panel with a fake snapctl that reports only "system-observe" as
// missing: the marks, the inline panel on an empty table, copying the command, and the
// modal's placement. Outside a Snap nothing is asked.
#include "support/ui.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using testsupport::Ui;

namespace {

struct SnapUi {
    Ui ui{1000, 700};
    std::string calls;
    explicit SnapUi(bool in_snap = true) {
        const std::string bin = ui.dir.mkdir("bin");
        calls = ui.dir.path() + "/calls";
        testsupport::write_file(bin + "/snapctl", "#!/bin/sh\necho \"$*\" >> " + calls +
                                                      "\n[ \"$2\" != system-observe ]\n");
        chmod((bin + "/snapctl").c_str(), 0755);
        setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);
        unsetenv("FLATPAK_ID");
        if (in_snap)
            setenv("SNAP", "/snap/velmora/12", 1);
        else
            unsetenv("SNAP");
        ui.app.check_snap_plugs();
    }
    bool click(const std::string& id) {
        const auto h = ui.find(id);
        if (h) ui.click(h->x + h->w / 2, h->y + h->h / 2);
        ui.paint();
        return h.has_value();
    }
};

TEST(SnapPanel, OnlyTheMissingPlugIsCrossed) {
    SnapUi s;
    EXPECT_EQ(testsupport::read_file(s.calls),
              "is-connected network-observe\nis-connected system-observe\n"
              "is-connected hardware-observe\n");
    EXPECT_TRUE(s.ui.app.m_snap_plug[0] && s.ui.app.m_snap_plug[2]);
    EXPECT_FALSE(s.ui.app.m_snap_plug[1]);
    EXPECT_FALSE(s.ui.app.snap_all_connected());

    s.ui.app.open_snap_panel();
    s.ui.paint();
    const auto panel = s.ui.find("snap:panel");
    ASSERT_TRUE(panel);
    // The marks: each row's mark sits at x + 102, its middle 9 below the row top. Look for
    // the mark's colour in a small box around it, row by row.
    auto has = [&](double cy, const Rgba& c) {
        for (double dx = -5; dx <= 5; dx += 0.5)
            for (double dy = -5; dy <= 5; dy += 0.5)
                if (Ui::near(s.ui.pixel(panel->x + 102 + dx, cy + dy), c, 0.12)) return true;
        return false;
    };
    const Palette& p = s.ui.app.m_pal;
    std::vector<double> rows;
    for (double y = panel->y + 80; y < panel->y + panel->h && rows.size() < 3; y += 1)
        if (has(y, p.ok) || has(y, p.err)) {
            rows.push_back(y + 5);
            y += 20;
        }
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(has(rows[0], p.ok) && !has(rows[0], p.err));
    EXPECT_TRUE(has(rows[1], p.err) && !has(rows[1], p.ok));
    EXPECT_TRUE(has(rows[2], p.ok) && !has(rows[2], p.err));

    // Empty table pages show the same panel inline, without its Close button.
    s.ui.app.m_modal = App::Modal::None;
    for (int tab = 1; tab <= 3; ++tab) {
        s.ui.app.m_settings.tab = tab;
        s.ui.paint();
        EXPECT_TRUE(s.ui.hit(s.ui.find("snap:copy")->x + 5, s.ui.find("snap:copy")->y + 5)) << tab;
        EXPECT_FALSE(s.ui.find("snap:close")) << tab;
    }
}

TEST(SnapPanel, CopyReadsCopiedForTwoSeconds) {
    for (bool modal : {true, false}) {
        SnapUi s;
        if (modal)
            s.ui.app.open_snap_panel();
        else
            s.ui.app.m_settings.tab = 1;
        s.ui.paint();
        // The label's pixels along the button's middle line.
        auto label = [&s] {
            const auto b = s.ui.find("snap:copy");
            std::vector<double> line;
            for (double x = b->x + 4; x < b->x + b->w - 4; x += 1)
                line.push_back(s.ui.pixel(x, b->y + b->h / 2).r);
            return line;
        };
        const auto copy_label = label();
        SDL_SetClipboardText("");
        const Uint32 before = SDL_GetTicks();
        ASSERT_TRUE(s.click("snap:copy"));
        char* clip = SDL_GetClipboardText();
        EXPECT_STREQ(clip, App::snap_command().c_str());
        SDL_free(clip);
        const Uint32 until = s.ui.app.m_copied_until;
        EXPECT_GE(until, before + 2000);
        EXPECT_LE(until, SDL_GetTicks() + 2000);
        EXPECT_EQ(s.ui.app.m_modal, modal ? App::Modal::Snap : App::Modal::None);
        EXPECT_NE(label(), copy_label) << "the button reads Copied";
        s.ui.app.run_timers(until + 1);
        EXPECT_EQ(s.ui.app.m_copied_until, 0u);
        s.ui.paint();
        EXPECT_EQ(label(), copy_label) << "and Copy again after 2 s";
        if (modal) {
            ASSERT_TRUE(s.click("snap:close"));
            EXPECT_EQ(s.ui.app.m_modal, App::Modal::None);
        }
    }
}

TEST(SnapPanel, ModalPlacementAndNarrowCopyButton) {
    struct Case {
        double w, h;
    } cases[] = {{1000, 400}, {320, 700}, {1600, 1000}};
    for (const Case& c : cases) {
        SnapUi s;
        s.ui.resize(c.w, c.h);
        s.ui.app.open_snap_panel();
        s.ui.paint();
        const auto panel = s.ui.find("snap:panel");
        const auto copy = s.ui.find("snap:copy");
        ASSERT_TRUE(panel && copy);
        EXPECT_LE(panel->w, 760);
        EXPECT_GE(copy->w, 110) << c.w;
        if (panel->h > c.h - 40)
            EXPECT_EQ(panel->y, 20) << c.h;
        else
            EXPECT_NEAR(panel->y, (c.h - panel->h) / 2, 0.01);
    }
}

TEST(SnapPanel, OutsideASnapNothingRuns) {
    SnapUi s(false);
    EXPECT_TRUE(s.ui.app.snap_all_connected());
    s.ui.app.open_snap_panel();
    EXPECT_EQ(testsupport::read_file(s.calls), "");
    s.ui.app.m_modal = App::Modal::None;
    s.ui.app.m_settings.tab = 2;
    s.ui.paint();
    EXPECT_FALSE(s.ui.find("snap:panel"));
}

} // namespace
