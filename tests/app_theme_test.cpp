// The desktop's dark or light preference on a private session bus with a fake settings
// portal, the GTK fallbacks, live switching, and opening links without blocking.
#include "support/display.h"
#include "support/support.h"
#include "support/ui.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::TempDir;

namespace {

const char* kXml =
    "<node><interface name='org.freedesktop.portal.Settings'>"
    "<method name='Read'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='v' direction='out'/></method>"
    "<signal name='SettingChanged'><arg type='s'/><arg type='s'/><arg type='v'/></signal>"
    "</interface></node>";

// A session bus of its own with a portal answering `scheme` (-1: never answers), served by
// a thread with its own main context.
class FakePortal {
public:
    std::string start() {
        const std::string daemon = testsupport::find_program("dbus-daemon");
        if (daemon.empty()) return "dbus-daemon is not installed";
        address = "unix:path=" + dir.path() + "/bus";
        const int null = open("/dev/null", O_WRONLY);
        m_daemon = testsupport::spawn(
            daemon, {"--session", "--nofork", "--nopidfile", "--address=" + address}, {}, null,
            null);
        close(null);
        if (!testsupport::wait_until(
                5000, [&] { return access((dir.path() + "/bus").c_str(), F_OK) == 0; }))
            return "dbus-daemon did not start";
        m_thread = std::thread([this] { serve(); });
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_state != 0; });
        return m_state == 1 ? "" : "the fake portal could not take its name";
    }
    ~FakePortal() {
        if (m_loop) g_main_loop_quit(m_loop);
        if (m_thread.joinable()) m_thread.join();
        if (m_loop) g_main_loop_unref(m_loop);
        if (m_daemon > 0 && kill(m_daemon, SIGCONT) == 0 && kill(m_daemon, SIGTERM) == 0)
            waitpid(m_daemon, nullptr, 0);
    }
    // The daemon still accepts connections but answers nothing.
    void freeze() { kill(m_daemon, SIGSTOP); }
    void emit(const char* ns, const char* key, uint32_t v) {
        g_dbus_connection_emit_signal(m_conn, nullptr, kPath, kIface, "SettingChanged",
                                      g_variant_new("(ssv)", ns, key, g_variant_new_uint32(v)),
                                      nullptr);
        g_dbus_connection_flush_sync(m_conn, nullptr, nullptr);
    }

    TempDir dir;
    std::string address;
    std::atomic<int> scheme{0};
    std::atomic<bool> nested{false};

private:
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* kIface = "org.freedesktop.portal.Settings";

    static void on_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                        GVariant*, GDBusMethodInvocation* inv, gpointer data) {
        auto* self = static_cast<FakePortal*>(data);
        if (self->scheme < 0) return self->m_held.push_back(inv); // answered only at the end
        GVariant* v = g_variant_new_uint32(static_cast<uint32_t>(self->scheme.load()));
        g_dbus_method_invocation_return_value(
            inv, g_variant_new("(v)", self->nested ? g_variant_new_variant(v) : v));
    }

    void serve() {
        GMainContext* ctx = g_main_context_new();
        g_main_context_push_thread_default(ctx);
        m_conn = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kXml, nullptr);
        static const GDBusInterfaceVTable vtable = {on_call, nullptr, nullptr, {}};
        GVariant* owned = nullptr;
        if (m_conn && info &&
            g_dbus_connection_register_object(m_conn, kPath, info->interfaces[0], &vtable, this,
                                              nullptr, nullptr))
            owned = g_dbus_connection_call_sync(
                m_conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), nullptr,
                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        m_loop = g_main_loop_new(ctx, FALSE);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_state = owned ? 1 : 2;
        }
        m_cv.notify_all();
        if (owned) {
            g_variant_unref(owned);
            g_main_loop_run(m_loop);
        }
        for (auto* inv : m_held)
            g_dbus_method_invocation_return_value(inv,
                                                  g_variant_new("(v)", g_variant_new_uint32(0)));
        if (info) g_dbus_node_info_unref(info);
        if (m_conn) {
            g_dbus_connection_close_sync(m_conn, nullptr, nullptr);
            g_object_unref(m_conn);
        }
        g_main_context_pop_thread_default(ctx);
        g_main_context_unref(ctx);
    }

    pid_t m_daemon = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_state = 0;
    GMainLoop* m_loop = nullptr;
    GDBusConnection* m_conn = nullptr;
    std::vector<GDBusMethodInvocation*> m_held;
};

// The environment every case starts from: the given bus, no GTK theme, empty homes.
struct Env {
    explicit Env(const std::string& bus) {
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        unsetenv("GTK_THEME");
        unsetenv("SNAP_REAL_HOME");
        setenv("HOME", home.path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home.path() + "/xdg").c_str(), 1);
    }
    TempDir home;
};

double seconds_of(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

#define START_PORTAL_OR_SKIP(p)                                                                    \
    if (const std::string why_ = (p).start(); !why_.empty()) GTEST_SKIP() << why_

TEST(ThemePortal, AnswerWinsOverTheFallbacks) {
    FakePortal portal;
    START_PORTAL_OR_SKIP(portal);
    struct Case {
        int scheme;
        bool nested;
        const char* gtk_theme; // null: unset
        bool dark;
    } cases[] = {
        {1, false, nullptr, true},         {2, false, "Adwaita:dark", false},
        {0, false, "Adwaita:DARK", true},  {0, false, nullptr, false},
        {1, true, nullptr, true},          {2, true, "Yaru-dark", false},
        {7, false, "HighContrast", false},
    };
    for (const Case& c : cases) {
        Env env(portal.address);
        if (c.gtk_theme) setenv("GTK_THEME", c.gtk_theme, 1);
        portal.scheme = c.scheme;
        portal.nested = c.nested;
        EXPECT_EQ(App::system_prefers_dark(), c.dark) << c.scheme << " " << c.nested;
    }
}

TEST(ThemePortal, SilentPortalTimesOutAfterHalfASecond) {
    FakePortal portal;
    START_PORTAL_OR_SKIP(portal);
    Env env(portal.address);
    setenv("GTK_THEME", "Adwaita:dark", 1);
    portal.scheme = -1;
    bool dark = false;
    const double t = seconds_of([&] { dark = App::system_prefers_dark(); });
    EXPECT_TRUE(dark);
    EXPECT_GE(t, 0.45);
    EXPECT_LT(t, 1.0);
    // A bus that takes the connection but never answers costs the same half second.
    portal.freeze();
    dark = false;
    const double frozen = seconds_of([&] { dark = App::system_prefers_dark(); });
    EXPECT_TRUE(dark);
    EXPECT_LT(frozen, 1.0);
    // Without any bus the answer comes at once.
    Env none("unix:path=" + env.home.path() + "/no-bus");
    EXPECT_LT(seconds_of([] { App::system_prefers_dark(); }), 0.2);
}

TEST(ThemePortal, ChangeSignalSwitchesOnlyWhileAuto) {
    FakePortal portal;
    START_PORTAL_OR_SKIP(portal);
    Env env(portal.address);
    testsupport::Ui ui;
    ui.app.m_settings.theme = "auto";
    portal.scheme = 1;
    ui.app.apply_theme();
    ASSERT_TRUE(ui.app.m_dark);
    ui.app.watch_system_theme();

    auto pump = [&](int ms, const std::function<bool()>& done) {
        return testsupport::wait_until(ms, [&] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            return done();
        });
    };
    // Subscribed once the main loop has run the connection's completion.
    ASSERT_TRUE(pump(3000, [&] { return ui.app.m_portal_sub != 0; }));
    pump(200, [] { return false; }); // the bus has taken the subscription
    // Another key or another namespace changes nothing; the colour scheme does.
    portal.scheme = 2;
    portal.emit("org.freedesktop.appearance", "accent-color", 2);
    portal.emit("org.example", "color-scheme", 2);
    portal.emit("org.freedesktop.appearance", "color-scheme", 2);
    EXPECT_TRUE(pump(3000, [&] { return !ui.app.m_dark; }));
    EXPECT_EQ(ui.app.m_pal.bg.r, Palette::make(false).bg.r);

    // With the theme chosen by hand the signal is ignored.
    ui.app.m_settings.theme = "light";
    portal.scheme = 1;
    portal.emit("org.freedesktop.appearance", "color-scheme", 1);
    EXPECT_FALSE(pump(600, [&] { return ui.app.m_dark; }));
}

TEST(ThemeGtk, OnlyTheFirstReadableSettingsFileCounts) {
    struct Case {
        const char* xdg;  // contents of $XDG_CONFIG_HOME/gtk-3.0/settings.ini, null: none
        const char* snap; // $SNAP_REAL_HOME/.config/gtk-3.0/settings.ini
        const char* home; // $HOME/.config/gtk-3.0/settings.ini
        bool dark;
    } cases[] = {
        {"[Settings]\ngtk-theme-name=Adwaita\n", nullptr, "gtk-application-prefer-dark-theme=1\n",
         false},
        {nullptr, nullptr, "[Settings]\ngtk-application-prefer-dark-theme=true\n", true},
        {nullptr, "gtk-theme-name=Yaru-Dark\n", "gtk-theme-name=Adwaita\n", true},
        {"gtk-application-prefer-dark-theme=0\n", nullptr, nullptr, false},
        {nullptr, nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        Env env("unix:path=/nonexistent/bus");
        TempDir snap;
        setenv("SNAP_REAL_HOME", snap.path().c_str(), 1);
        if (c.xdg) env.home.write("xdg/gtk-3.0/settings.ini", c.xdg);
        if (c.snap) snap.write(".config/gtk-3.0/settings.ini", c.snap);
        if (c.home) env.home.write(".config/gtk-3.0/settings.ini", c.home);
        EXPECT_EQ(App::system_prefers_dark(), c.dark)
            << (c.xdg ? c.xdg : "") << (c.home ? c.home : "");
    }
}

TEST(OpenUrl, SlowHandlerNeitherBlocksNorLeavesAZombie) {
    const std::string report = testsupport::in_child([](testsupport::Report& r) {
        TempDir bin;
        const std::string mark = bin.path() + "/opened";
        bin.write("xdg-open", "#!/bin/sh\necho \"$1\" > " + mark + "\nsleep 3\n");
        chmod((bin.path() + "/xdg-open").c_str(), 0755);
        setenv("PATH", (bin.path() + ":/usr/bin:/bin").c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        App app;
        const double t = seconds_of([&] { app.open_url("https://example.org/a b"); });
        r.check(t < 0.5, "open_url took " + std::to_string(t) + " s");
        r.check(testsupport::wait_until(3000, [&] { return access(mark.c_str(), F_OK) == 0; }),
                "the handler never ran");
        r.eq("url", testsupport::read_file(mark), "https://example.org/a b\n");
        // The handler still sleeps, yet this process has no child left to reap.
        errno = 0;
        r.check(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD, "a child is left over");
    });
    EXPECT_EQ(report, "");
}

} // namespace
