// The plan section of the statistics page and its editor, through the interface harness.
#include "format.h"
#include "l10n.h"
#include "support/ui.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class PlanView : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testsupport::use_tz("XXX-14", 14 * 3600));
        testsupport::keep_clear_of_midnight(10);
        testsupport::use_languages("en");
        // No desktop services: alerts end in the status bar, never on this machine's desktop.
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
        ui.app.m_settings.tab = 4;
        ui.device("eth0", net::Kind::Ethernet, 1700, 0); // 1700 bytes booked today
    }
    void click(const std::string& id) {
        ui.paint();
        const auto h = ui.find(id);
        ASSERT_TRUE(h) << id;
        ui.click(h->x + h->w / 2, h->y + h->h / 2);
    }
    // Writes the window as it is to build/screenshots/<name>.png for a look by eye.
    void screenshot(const std::string& name) {
        const std::string dir = std::string(VELMORA_BUILD_DIR) + "/screenshots";
        mkdir(dir.c_str(), 0755);
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1000, 600);
        cairo_t* cr = cairo_create(s);
        ui.app.paint_base(cr);
        ui.app.paint_over(cr);
        cairo_destroy(cr);
        cairo_surface_write_to_png(s, (dir + "/" + name + ".png").c_str());
        cairo_surface_destroy(s);
    }
    testsupport::Ui ui{1000, 600};
};

TEST_F(PlanView, EditorSetsChangesAndRemovesAPlan) {
    ui.paint();
    EXPECT_FALSE(ui.find("plan:bar")) << "no plan, no bar";
    EXPECT_EQ(ui.app.plan_remaining(), "");

    click("plan:edit");
    ASSERT_EQ(ui.app.m_modal, App::Modal::Plan);
    ui.type("2,5 k");
    ui.key(SDLK_BACKSPACE);
    ui.type("KiB");
    click("plan:day:-"); // 1 → 31
    click("plan:day:-");
    click("plan:day:+");
    screenshot("plan-editor");
    ui.key(SDLK_RETURN);
    EXPECT_EQ(ui.app.m_modal, App::Modal::None);
    ASSERT_EQ(ui.app.m_settings.plans, (std::vector<plan::Plan>{{"*", 2560, 31}}));
    EXPECT_EQ(ui.app.plan_remaining(), L10n::tr("plan.left", fmt::bytes(2560 - 1700).c_str()));

    // Reopened, the editor shows the amount exactly; a wrong amount keeps it open.
    click("plan:edit");
    EXPECT_EQ(ui.app.m_plan_field.text, "2560 B");
    ui.key(SDLK_END);
    for (int i = 0; i < 6; ++i) ui.key(SDLK_BACKSPACE);
    ui.type("lots");
    ui.key(SDLK_RETURN);
    EXPECT_TRUE(ui.app.m_plan_bad);
    EXPECT_EQ(ui.app.m_modal, App::Modal::Plan);
    ui.key(SDLK_ESCAPE);
    EXPECT_EQ(ui.app.m_settings.plans.size(), 1u) << "Escape keeps the plan as it was";

    click("plan:edit");
    click("plan:remove");
    EXPECT_TRUE(ui.app.m_settings.plans.empty());
    EXPECT_TRUE(ui.app.m_settings.plan_alerts.empty());
}

TEST_F(PlanView, BarTurnsWarnAt80AndErrAt100Percent) {
    const struct {
        uint64_t allowance;
        int level;
        const Rgba& colour;
    } cases[] = {
        {1'000'000, plan::kNone, ui.app.m_pal.ok},
        {2000, plan::kWarn, ui.app.m_pal.warn}, // 85 %
        {1700, plan::kFull, ui.app.m_pal.err},  // 100 %
    };
    for (const auto& c : cases) {
        ui.app.m_settings.plans = {{"*", c.allowance, 1}};
        ui.paint();
        const auto bar = ui.find("plan:bar");
        ASSERT_TRUE(bar);
        EXPECT_EQ(bar->n, c.level) << c.allowance;
        EXPECT_TRUE(testsupport::Ui::near(ui.pixel(bar->x + 6, bar->y + 9), c.colour, 0.02))
            << c.allowance;
        if (c.level == plan::kFull) screenshot("plan-section-full");
    }
    // In the light theme and in German too, for the eye.
    ui.theme(false);
    testsupport::use_languages("de");
    ui.app.m_settings.plans = {{"*", 2000, 1}};
    ui.paint();
    screenshot("plan-section-light-de");
}

TEST_F(PlanView, ExportIsInTheFileMenu) {
    const auto items = ui.app.menubar_items(0);
    EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](const App::MenuItem& m) {
        return m.label == L10n::tr("mi.export") && m.act;
    }));
    ui.paint();
    EXPECT_TRUE(ui.find("plan:export"));
}

} // namespace
