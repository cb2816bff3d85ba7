// The crash dialog through the interface harness: a report left by an earlier run opens
// it, its buttons lie inside the panel in every language, and only its own buttons end it.
#include "l10n.h"
#include "ruvasto.h"
#include "support/ui.h"

#include <gtest/gtest.h>
#include <unistd.h>

using testsupport::Ui;

namespace {

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

struct CrashUi {
    Ui ui{900, 600};
    std::string report, crash_log;

    CrashUi() {
        ruvasto::set_report_dir(ui.dir.path());
        report = ruvasto::report_path();
        crash_log = ruvasto::crash_log_path();
        testsupport::write_file(report, "=== Velmora crash report ===\nSignal: SIGSEGV\n");
        testsupport::write_file(crash_log, "INFO  the crashed run\n");
        ui.app.offer_crash_report();
        ui.paint();
    }
};

TEST(CrashDialog, PendingReportShowsBothButtonsInsideThePanel) {
    for (const char* lang : {"en", "de", "fi", "ja"}) {
        L10n::setLanguage(lang);
        for (bool dark : {true, false}) {
            CrashUi c;
            c.ui.theme(dark);
            c.ui.paint();
            EXPECT_EQ(c.ui.app.m_modal, App::Modal::Crash) << lang;
            EXPECT_EQ(c.ui.app.m_crash_report, testsupport::read_file(c.report));
            const auto panel = c.ui.find("conf:panel");
            const auto ok = c.ui.find("conf:ok");
            const auto no = c.ui.find("conf:no");
            ASSERT_TRUE(panel && ok && no) << lang;
            EXPECT_LE(panel->w, 520);
            for (const Hit& b : {*ok, *no}) {
                EXPECT_GE(b.x, panel->x) << lang << " " << b.id;
                EXPECT_LE(b.x + b.w, panel->x + panel->w) << lang << " " << b.id;
                EXPECT_LE(b.y + b.h, panel->y + panel->h) << lang << " " << b.id;
                EXPECT_GE(b.w, 120);
            }
            EXPECT_LT(no->x + no->w, ok->x) << "Send report sits right of Discard";
            // The page below is dimmed; the send button is the primary colour.
            EXPECT_TRUE(
                Ui::near(c.ui.pixel(ok->x + 6, ok->y + ok->h / 2), c.ui.app.m_pal.chip_on, 0.02))
                << lang;
            // The texts are wrapped above the buttons, so the panel is taller than the
            // title line, the gaps and the buttons alone.
            EXPECT_GT(panel->h, 24 + 20 + 12 + 2 * 15 + 28 + 36 + 24) << lang;
        }
    }
    L10n::setLanguage("en");
}

TEST(CrashDialog, OnlyItsOwnButtonsCloseIt) {
    struct Case {
        const char* what;
        std::function<void(Ui&)> act;
        bool open_after;
        bool files_after;
    } cases[] = {
        {"click outside the panel", [](Ui& ui) { ui.click(5, 5); }, true, true},
        {"click on the panel",
         [](Ui& ui) {
             const auto p = ui.find("conf:panel");
             ui.click(p->x + 10, p->y + 10);
         },
         true, true},
        {"Escape", [](Ui& ui) { ui.key(SDLK_ESCAPE); }, true, true},
        {"Discard",
         [](Ui& ui) {
             const auto b = ui.find("conf:no");
             ui.click(b->x + b->w / 2, b->y + b->h / 2);
         },
         false, false},
    };
    for (const Case& k : cases) {
        CrashUi c;
        k.act(c.ui);
        c.ui.paint();
        EXPECT_EQ(c.ui.app.m_modal == App::Modal::Crash, k.open_after) << k.what;
        EXPECT_EQ(c.ui.find("conf:ok").has_value(), k.open_after) << k.what;
        EXPECT_EQ(exists(c.report), k.files_after) << k.what;
        EXPECT_EQ(exists(c.crash_log), k.files_after) << k.what;
    }
}

TEST(CrashDialog, NoReportOrAnEmptyOneOpensNothing) {
    for (const char* content : {static_cast<const char*>(""), static_cast<const char*>(nullptr)}) {
        Ui ui;
        ruvasto::set_report_dir(ui.dir.path());
        if (content) testsupport::write_file(ruvasto::report_path(), content);
        ui.app.offer_crash_report();
        EXPECT_EQ(ui.app.m_modal, App::Modal::None);
    }
}

} // namespace
