// Theme, scale and window placement: the desktop's dark or light preference (portal, then
// GTK's own settings), live switching, the size and place of both views, and a few desktop
// services (icon, on-top, links).

#include "app.h"

#include "gpu.h"
#include "logger.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gio/gio.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsIface = "org.freedesktop.portal.Settings";

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One portal question in flight, answered within a deadline by a private main context.
struct PortalQuery {
    GCancellable* cancel = g_cancellable_new();
    gint64 deadline = g_get_monotonic_time() + 500 * 1000;
    GDBusConnection* bus = nullptr;
    GVariant* reply = nullptr;
    bool done = false;
};

void on_portal_reply(GObject* src, GAsyncResult* res, gpointer data) {
    auto* q = static_cast<PortalQuery*>(data);
    q->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(src), res, nullptr);
    q->done = true;
}

void on_portal_bus(GObject*, GAsyncResult* res, gpointer data) {
    auto* q = static_cast<PortalQuery*>(data);
    q->bus = g_dbus_connection_new_for_address_finish(res, nullptr);
    const gint64 left_ms = (q->deadline - g_get_monotonic_time()) / 1000;
    if (!q->bus || left_ms <= 0) {
        q->done = true;
        return;
    }
    g_dbus_connection_set_exit_on_close(q->bus, FALSE);
    g_dbus_connection_call(q->bus, kPortalName, kPortalPath, kSettingsIface, "Read",
                           g_variant_new("(ss)", "org.freedesktop.appearance", "color-scheme"),
                           G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, static_cast<int>(left_ms),
                           q->cancel, on_portal_reply, q);
}

// The portal's colour scheme: 1 dark, 2 light, 0 no preference; -1 when it cannot be read.
// Connecting and asking share one 500 ms budget, so that a bus that accepts the connection
// but never answers (a stopped daemon) cannot hold up the start either.
int portal_color_scheme() {
    gchar* addr = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!addr) return -1;
    GMainContext* ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    PortalQuery q;
    g_dbus_connection_new_for_address(
        addr,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, q.cancel, on_portal_bus, &q);
    g_free(addr);
    GSource* timer = g_timeout_source_new(500);
    g_source_set_callback(
        timer,
        [](gpointer c) {
            g_cancellable_cancel(static_cast<GCancellable*>(c));
            return G_SOURCE_REMOVE;
        },
        q.cancel, nullptr);
    g_source_attach(timer, ctx);
    while (!q.done) g_main_context_iteration(ctx, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);

    int scheme = -1;
    if (q.reply) {
        GVariant* v = nullptr;
        g_variant_get(q.reply, "(v)", &v);
        // Older portals wrap the value in one more variant.
        while (v && g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
            GVariant* inner = g_variant_get_variant(v);
            g_variant_unref(v);
            v = inner;
        }
        if (v && g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32))
            scheme = static_cast<int>(g_variant_get_uint32(v));
        if (v) g_variant_unref(v);
        g_variant_unref(q.reply);
    }
    if (q.bus) {
        g_dbus_connection_close_sync(q.bus, nullptr, nullptr);
        g_object_unref(q.bus);
    }
    g_object_unref(q.cancel);
    // Let GDBus finish what the closing queued on this context before it goes away.
    while (g_main_context_iteration(ctx, FALSE)) {
    }
    g_main_context_pop_thread_default(ctx);
    g_main_context_unref(ctx);
    return scheme;
}

// GTK's own settings: only the first settings.ini that opens counts.
bool gtk_settings_dark() {
    const std::pair<const char*, const char*> candidates[] = {
        {"XDG_CONFIG_HOME", "/gtk-3.0/settings.ini"},
        {"SNAP_REAL_HOME", "/.config/gtk-3.0/settings.ini"},
        {"HOME", "/.config/gtk-3.0/settings.ini"},
    };
    for (const auto& [var, rel] : candidates) {
        const char* base = getenv(var);
        if (!base) continue;
        FILE* f = fopen((std::string(base) + rel).c_str(), "r");
        if (!f) continue;
        bool dark = false;
        char line[512];
        while (!dark && fgets(line, sizeof line, f)) {
            const std::string l = lower(line);
            if (l.find("gtk-application-prefer-dark-theme") != std::string::npos)
                dark = l.find('1') != std::string::npos || l.find("true") != std::string::npos;
            else if (l.find("gtk-theme-name") != std::string::npos)
                dark = l.find("dark") != std::string::npos;
        }
        fclose(f);
        return dark;
    }
    return false;
}

// Our own connection for the change signal (a bus going away then never ends the process,
// as it would with the shared one), and its connecting while that is under way.
GDBusConnection* g_theme_bus = nullptr;
GCancellable* g_theme_connecting = nullptr;

void on_setting_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                        GVariant* params, gpointer data) {
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(ssv)"))) return;
    const gchar* ns = nullptr;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(params, "(&s&sv)", &ns, &key, &value);
    if (value) g_variant_unref(value);
    auto* app = static_cast<App*>(data);
    if (strcmp(ns, "org.freedesktop.appearance") == 0 && strcmp(key, "color-scheme") == 0 &&
        app->m_settings.theme == "auto")
        app->apply_theme();
}

// Usable bounds of display 0; a fixed 1920 × 1080 when SDL cannot tell.
SDL_Rect usable0() {
    SDL_Rect u{0, 0, 1920, 1080};
    if (SDL_GetDisplayUsableBounds(0, &u) != 0) u = SDL_Rect{0, 0, 1920, 1080};
    return u;
}

} // namespace

bool App::system_prefers_dark() {
    const int scheme = portal_color_scheme();
    if (scheme == 1) return true;
    if (scheme == 2) return false;
    if (const char* gtk = getenv("GTK_THEME")) return lower(gtk).find("dark") != std::string::npos;
    return gtk_settings_dark();
}

void App::apply_theme() {
    const std::string& wanted = force_theme.empty() ? m_settings.theme : force_theme;
    m_dark = wanted == "dark" ? true : wanted == "light" ? false : system_prefers_dark();
    m_pal = Palette::make(m_dark);
    gpu::set_palette(m_pal);
    m_ghost_dirty = true;
    m_dirty = m_over_dirty = true;
}

void App::watch_system_theme() {
    if (m_portal_sub || g_theme_connecting) return;
    if (g_theme_bus) {
        m_portal_sub = g_dbus_connection_signal_subscribe(
            g_theme_bus, kPortalName, kSettingsIface, "SettingChanged", kPortalPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, on_setting_changed, this, nullptr);
        return;
    }
    gchar* addr = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!addr) return;
    // Connected in the background: a bus that never answers must not hold up the start. The
    // main loop's pass over the default context completes it.
    g_theme_connecting = g_cancellable_new();
    g_dbus_connection_new_for_address(
        addr,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, g_theme_connecting,
        [](GObject*, GAsyncResult* res, gpointer data) {
            GDBusConnection* bus = g_dbus_connection_new_for_address_finish(res, nullptr);
            const bool cancelled = g_cancellable_is_cancelled(g_theme_connecting);
            g_object_unref(g_theme_connecting);
            g_theme_connecting = nullptr;
            if (cancelled) { // the App that asked is gone
                if (bus) g_object_unref(bus);
                return;
            }
            if (!bus) return;
            g_dbus_connection_set_exit_on_close(bus, FALSE);
            g_theme_bus = bus;
            static_cast<App*>(data)->watch_system_theme();
        },
        this);
    g_free(addr);
}

void App::unwatch_system_theme() {
    if (g_theme_connecting) g_cancellable_cancel(g_theme_connecting);
    if (m_portal_sub && g_theme_bus)
        g_dbus_connection_signal_unsubscribe(g_theme_bus, m_portal_sub);
    m_portal_sub = 0;
}

void App::set_icon() {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    cairo_t* cr = cairo_create(s);
    gfx::app_logo(cr, 32, 32, 29.44, m_pal);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(cairo_image_surface_get_data(s), 64, 64,
                                                           32, cairo_image_surface_get_stride(s),
                                                           SDL_PIXELFORMAT_ARGB8888);
    if (icon) {
        SDL_SetWindowIcon(m_win, icon);
        SDL_FreeSurface(icon);
    }
    cairo_surface_destroy(s);
}

void App::update_scale() {
    if (!m_win) return; // no window (tests): the size set by hand stays
    int w = 0, h = 0, pw = 0, ph = 0;
    if (m_win) SDL_GetWindowSize(m_win, &w, &h);
    if (m_ren) SDL_GetRendererOutputSize(m_ren, &pw, &ph);
    m_px = m_k = w < 1 ? 1.0 : static_cast<double>(pw) / w;
    m_W = w;
    m_H = h;
}

ModeBox mode_box(const Settings& st, bool mini, int lines, const SDL_Rect& u) {
    ModeBox m;
    const Geometry& g = mini ? st.compact : st.full;
    const bool saved = g.w > 0 && g.h > 0;
    if (saved) {
        m.w = g.w;
        m.h = g.h;
    } else if (mini) {
        m.w = 380;
        m.h = std::max(1, lines) * 54 + 60;
    } else {
        m.w = std::clamp(u.w * 55 / 100, 1100, 1700);
        m.h = std::min(m.w * 10 / 16, u.h - 80);
    }
    m.w = std::min(m.w, u.w);
    m.h = std::min(m.h, std::max(u.h - 80, 200));
    auto centred = [&] {
        m.x = u.x + (u.w - m.w) / 2;
        m.y = u.y + (u.h - m.h) / 2;
    };
    if (saved && g.has_pos) {
        m.x = g.x;
        m.y = g.y;
    } else if (mini && st.full.w > 0 && st.full.h > 0 && st.full.has_pos) {
        // The first mini window opens where the full one was, pulled onto the screen.
        const int fx = st.full.x, fy = st.full.y;
        m.x = fx >= u.x ? std::min(fx, u.x + u.w - m.w) : u.x;
        m.y = fy >= u.y ? std::min(fy, u.y + u.h - m.h) : u.y;
    } else {
        centred();
    }
    return m;
}

ModeBox App::window_box(bool mini) {
    bool total = false;
    const int lines = mini ? static_cast<int>(mini_list(&total).size()) + (total ? 1 : 0) : 0;
    return mode_box(m_settings, mini, lines, usable0());
}

void App::apply_mode(bool mini) {
    const ModeBox m = window_box(mini);
    if (m_win) {
        SDL_SetWindowBordered(m_win, mini ? SDL_FALSE : SDL_TRUE);
        SDL_SetWindowHitTest(m_win, mini ? mini_hit_test : nullptr, mini ? this : nullptr);
        SDL_SetWindowMinimumSize(m_win, mini ? 260 : 820, mini ? 80 : 520);
        SDL_SetWindowSize(m_win, m.w, m.h);
        window_on_top(m_win, mini ? m_settings.mini_on_top : m_settings.always_on_top);
    }
    place(m.x, m.y, m.w, m.h);
    update_scale();
    m_dirty = m_over_dirty = true;
}

void App::place(int x, int y, int w, int h) {
    bool reachable = false;
    const int cx = x + w / 2, cy = y + 10;
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
        SDL_Rect b;
        if (SDL_GetDisplayUsableBounds(i, &b) == 0 && cx >= b.x && cx < b.x + b.w && cy >= b.y &&
            cy < b.y + b.h)
            reachable = true;
    }
    if (!reachable) {
        const SDL_Rect u = usable0();
        x = u.x + (u.w - w) / 2;
        y = u.y + (u.h - h) / 2;
    }
    m_req_x = x;
    m_req_y = y;
    if (m_win) SDL_SetWindowPosition(m_win, x, y);
    m_frame_check_at = SDL_GetTicks() + 400;
}

void App::remember_geometry() {
    if (!m_win) return;
    const Uint32 f = SDL_GetWindowFlags(m_win);
    if (f &
        (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED | SDL_WINDOW_MAXIMIZED))
        return;
    Geometry g;
    SDL_GetWindowSize(m_win, &g.w, &g.h);
    SDL_GetWindowPosition(m_win, &g.x, &g.y);
    g.x -= m_frame_dx;
    g.y -= m_frame_dy;
    g.has_pos = true;
    (m_settings.mini ? m_settings.compact : m_settings.full) = g;
}

void window_on_top(SDL_Window* window, bool on) {
    using Fn = void (*)(SDL_Window*, SDL_bool);
    // Looked up at run time so that SDL libraries older than 2.0.16 still work.
    static Fn fn = [] {
        void* lib = SDL_LoadObject("libSDL2-2.0.so.0");
        return lib ? reinterpret_cast<Fn>(SDL_LoadFunction(lib, "SDL_SetWindowAlwaysOnTop"))
                   : nullptr;
    }();
    if (fn && window) fn(window, on ? SDL_TRUE : SDL_FALSE);
}

void App::open_url(const std::string& url) {
    using Fn = int (*)(const char*);
    // SDL_OpenURL exists from SDL 2.0.14 on; older libraries fall back to xdg-open.
    static Fn fn = [] {
        void* lib = SDL_LoadObject("libSDL2-2.0.so.0");
        return lib ? reinterpret_cast<Fn>(SDL_LoadFunction(lib, "SDL_OpenURL")) : nullptr;
    }();
    if (fn && fn(url.c_str()) == 0) return;
    // Detached twice over, so that no zombie remains and the browser never blocks us.
    const pid_t child = fork();
    if (child == 0) {
        if (fork() == 0) {
            execlp("xdg-open", "xdg-open", url.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(0);
    }
    if (child > 0) waitpid(child, nullptr, 0);
}
