// The alerts and the export against fake desktop services on a private session bus, through
// the interface harness.
#include "csv_export.h"
#include "l10n.h"
#include "support/bus.h"
#include "support/ui.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

using testsupport::FakeDesktop;

#define PRIVATE_BUS_OR_SKIP(bus)                                                                   \
    testsupport::PrivateBus bus;                                                                   \
    if (!bus.why().empty()) GTEST_SKIP() << bus.why()

// Three devices added one after the other: the first receives 450 bytes with each feed,
// so its plan of 1000 bytes passes 45 %, 90 % and 135 %.
void traffic(testsupport::Ui& ui, int steps) {
    const char* names[] = {"eth9", "dummy1", "dummy2"};
    for (int i = 0; i < steps; ++i)
        ui.device(names[i], i ? net::Kind::Virtual : net::Kind::Ethernet, i ? 0 : 450, 0);
}

TEST(PlanAlerts, NotificationsOncePerPeriodAndNotAfterRestart) {
    PRIVATE_BUS_OR_SKIP(bus);
    ASSERT_TRUE(testsupport::use_tz("XXX-14", 14 * 3600));
    testsupport::keep_clear_of_midnight(10);
    testsupport::use_languages("en");
    FakeDesktop desk(bus.address(), {});
    const std::string body90 = L10n::tr("plan.alert", "eth9", 90);
    const std::string body135 = L10n::tr("plan.alert", "eth9", 135);
    ASSERT_NE(body90.find("eth9"), std::string::npos);
    ASSERT_NE(body90.find("90 %"), std::string::npos);

    testsupport::Ui ui;
    ui.app.m_settings.plans = {{"eth9", 1000, 1}};
    traffic(ui, 3);
    EXPECT_EQ(desk.calls(), (std::vector<std::string>{"Notify Data plan|" + body90,
                                                      "Notify Data plan|" + body135}));
    EXPECT_EQ(ui.app.m_notice, "") << "a service answered: nothing in the status bar";

    // A restart in the same period reads what was announced back from the file.
    testsupport::Ui again;
    again.app.m_settings.load(ui.app.m_settings.m_path);
    again.app.m_usage.load_payload(ui.app.m_usage.payload());
    traffic(again, 3);
    EXPECT_EQ(desk.calls().size(), 2u);
}

TEST(PlanAlerts, WithoutAServiceTheStatusBarWarns) {
    ASSERT_TRUE(testsupport::use_tz("XXX-14", 14 * 3600));
    testsupport::keep_clear_of_midnight(10);
    testsupport::use_languages("en");
    struct Case {
        const char* what;
        bool bus;
    } cases[] = {{"a bus without the service", true}, {"no bus at all", false}};
    for (const Case& c : cases) {
        std::unique_ptr<testsupport::PrivateBus> bus;
        if (c.bus) {
            bus = std::make_unique<testsupport::PrivateBus>();
            if (!bus->why().empty()) GTEST_SKIP() << bus->why();
        } else {
            setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
        }
        testsupport::Ui ui(1000, 600);
        ui.app.m_settings.plans = {{"*", 1000, 1}};
        traffic(ui, 2);
        EXPECT_EQ(ui.app.m_notice, L10n::tr("plan.alert", L10n::tr("stats.all").c_str(), 90))
            << c.what;
        // The warning replaces the counts at the left of the status bar, in its colour.
        ui.paint();
        int warm = 0;
        for (double x = 14; x < 300; x += 0.5)
            warm += testsupport::Ui::near(ui.pixel(x, 600 - 13), ui.app.m_pal.warn, 0.12);
        EXPECT_GT(warm, 5) << c.what;
    }
}

TEST(CsvExport, ThroughThePortalOrIntoDownloads) {
    PRIVATE_BUS_OR_SKIP(bus);
    testsupport::keep_clear_of_midnight(10);
    testsupport::TempDir home;
    const std::string downloads = home.mkdir("Downloads");
    home.write("config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"" + downloads + "\"\n");
    setenv("XDG_CONFIG_HOME", (home.path() + "/config").c_str(), 1);
    g_reload_user_special_dirs_cache();
    const std::string name = csv::file_name(usage::Store::today());
    const std::string chosen = home.path() + "/picked.csv";

    struct Case {
        const char* what;
        bool portal;
        int response;
        std::string written; // empty: nothing may be written
        std::vector<std::string> calls;
    } cases[] = {{"file chosen", true, 0, chosen, {"SaveFile " + name}},
                 {"dialog cancelled", true, 1, "", {"SaveFile " + name}},
                 {"no portal",
                  false,
                  0,
                  downloads + "/" + name,
                  {"ShowItems file://" + downloads + "/" + name}}};
    for (const Case& c : cases) {
        FakeDesktop desk(bus.address(), {true, c.portal, true, c.response, chosen});
        testsupport::Ui ui;
        ui.app.m_usage.load_payload("B x\nD eth0 20260101 1 2\nD wlan,0 20260102 3 4\n");
        ui.app.export_stats();
        testsupport::pump_until([&] { return desk.calls().size() >= c.calls.size(); });
        testsupport::pump_until([] { return false; }, 200); // a late write would land now
        EXPECT_EQ(desk.calls(), c.calls) << c.what;
        for (const std::string& f : {chosen, downloads + "/" + name}) {
            const std::string got = testsupport::read_file(f);
            EXPECT_EQ(got, f == c.written ? csv::build(ui.app.m_usage) : "") << c.what << ": " << f;
            unlink(f.c_str());
        }
    }
}

} // namespace
