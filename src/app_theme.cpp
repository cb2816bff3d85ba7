// Theme, scale and window placement.
// FIXME: the desktop's dark/light preference, saved placements and the mini view's shape
// arrive with their own work; until then the window opens 1200 × 760 on display 0.

#include "app.h"

#include "gpu.h"

#include <algorithm>
#include <sys/wait.h>
#include <unistd.h>

void App::apply_theme() {
    const std::string& wanted = force_theme.empty() ? m_settings.theme : force_theme;
    m_dark = wanted != "light";
    m_pal = Palette::make(m_dark);
    gpu::set_palette(m_pal);
    m_ghost_dirty = true;
    m_dirty = m_over_dirty = true;
}

void App::watch_system_theme() {}

void App::set_icon() {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    cairo_t* cr = cairo_create(s);
    gfx::app_logo(cr, 32, 32, 29.44, m_pal);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(
        cairo_image_surface_get_data(s), 64, 64, 32, cairo_image_surface_get_stride(s),
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

void App::apply_mode(bool mini) {
    SDL_Rect u{0, 0, 1920, 1080};
    if (SDL_GetDisplayUsableBounds(0, &u) != 0) u = SDL_Rect{0, 0, 1920, 1080};
    const int w = mini ? 380 : std::min(1200, u.w);
    const int h = mini ? 222 : std::min(760, std::max(u.h - 80, 200));
    if (m_win) {
        SDL_SetWindowBordered(m_win, mini ? SDL_FALSE : SDL_TRUE);
        SDL_SetWindowMinimumSize(m_win, mini ? 260 : 820, mini ? 80 : 520);
        SDL_SetWindowSize(m_win, w, h);
        window_on_top(m_win, mini ? m_settings.mini_on_top : m_settings.always_on_top);
    }
    place(u.x + (u.w - w) / 2, u.y + (u.h - h) / 2, w, h);
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
        SDL_Rect u{0, 0, 1920, 1080};
        if (SDL_GetDisplayUsableBounds(0, &u) != 0) u = SDL_Rect{0, 0, 1920, 1080};
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
    if (f & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED |
             SDL_WINDOW_MAXIMIZED))
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
