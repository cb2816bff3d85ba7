// Application lifecycle: start-up of the window and renderer, the main loop with its frame
// pacing, the two cairo layers and their composition, the deferred save and shutdown.
//
// Sections: construction · run · window start-up · main loop · layers and composition ·
// saving · shutdown · signals.

#include "app.h"

#include "gpu.h"
#include "l10n.h"
#include "logger.h"
#include "notify.h"
#include "paths.h"
#include "ruvasto.h"

#include <SDL_opengl.h>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <glib.h>

std::atomic<uint8_t> g_sig_quit{0};
std::atomic<uint8_t> g_sig_raise{0};

// ---- construction ---------------------------------------------------------------------

App::App() = default;

App::~App() {
    stop_sampler();
    unwatch_system_theme();
    notify::forget_pending(); // an export dialog still open must not call back into us
    // An App that never ran shutdown_window (tests) may still hold the background.
    if (m_bg) cairo_surface_destroy(m_bg);
}

// ---- run ------------------------------------------------------------------------------

int App::run(int, char**) {
    m_config_dir = paths::config_dir();
    m_settings.load(m_config_dir + "/settings.dat");
    m_usage.load(m_config_dir + "/usage.dat");
    m_hist.load(m_config_dir + "/history.dat");
    m_expanded = m_settings.expanded;

    if (force_mini) m_settings.mini = true;
    if (force_tab >= 0 && force_tab <= 4) {
        m_settings.tab = force_tab;
        m_settings.mini = force_mini; // --tab without --mini leaves the mini view
    }

    L10n::setLanguage(m_settings.language);
    m_interval = m_settings.interval_ms;
    m_tracker.set_resolve(m_settings.resolve_names);

    m_conn.sort_key = m_settings.conn_sort;
    m_conn.desc = m_settings.conn_desc;
    m_proc.sort_key = m_settings.proc_sort;
    m_proc.desc = m_settings.proc_desc;
    m_dest.sort_key = m_settings.dest_sort;
    m_dest.desc = m_settings.dest_desc;
    load_columns();
    check_snap_plugs();

    auto take_filter = [](TextField& f, const std::string& text) {
        f.text = text;
        f.caret = text.size();
    };
    take_filter(m_conn_field, m_settings.conn_filter);
    take_filter(m_proc_field, m_settings.proc_filter);
    take_filter(m_dest_field, m_settings.dest_filter);

    reset_history();
    logger::info("language " + L10n::currentLanguage() + ", theme " + m_settings.theme +
                 ", interval " + std::to_string(m_interval.load()) + " ms");

    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);
    signal(SIGHUP, on_signal);
    signal(SIGUSR1, on_signal);

    // One sample on this thread first, so the device cards exist before the window shows
    // (and the mini window is created at the size of its strips).
    {
        Out first;
        net::read_counters(&first.counters);
        first.ifaces = net::scan_interfaces();
        first.has_ifaces = true;
        consume(first);
    }

    if (!init_window()) {
        // No translated text was shown yet, so this failure says nothing about the language.
        L10n::cleanExit();
        shutdown_window();
        return 1;
    }
    apply_theme();
    watch_system_theme();
    set_icon();

    apply_mode(m_settings.mini);
    SDL_ShowWindow(m_win);
    x11_plain_title(m_win, "Velmora");
    // The window manager may have moved or resized the window while mapping it.
    apply_mode(m_settings.mini);
    if (m_settings.tab == 4) gpu::restart_intro();

    start_sampler();
    offer_crash_report();

    loop();

    stop_sampler();
    save_now();
    m_usage.save();
    m_hist.save(m_config_dir + "/history.dat");
    L10n::cleanExit();
    shutdown_window();
    logger::info("clean exit");
    return 0;
}

// ---- window start-up ------------------------------------------------------------------

bool App::init_window() {
    SDL_SetHint("SDL_NO_SIGNAL_HANDLERS", "1"); // the program handles its signals itself
    SDL_SetHint("SDL_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR", "0");
    SDL_SetHint("SDL_MOUSE_FOCUS_CLICKTHROUGH", "1");
    SDL_SetHint("SDL_RENDER_DRIVER", "opengl");
    setenv("SDL_VIDEO_X11_WMCLASS", "Velmora", 0);

    const char* forced = getenv("SDL_VIDEODRIVER");
    const char* display = getenv("DISPLAY");
    if (!forced && display && *display) {
        setenv("SDL_VIDEODRIVER", "x11", 1);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            logger::warn(std::string("X11 not reachable (") + SDL_GetError() +
                         "), trying SDL's default");
            unsetenv("SDL_VIDEODRIVER");
            SDL_Quit();
        }
    } else {
        SDL_InitSubSystem(SDL_INIT_VIDEO);
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        logger::error(std::string("SDL_Init: ") + SDL_GetError());
        return false;
    }

    // Created at its final size: a hidden window resized later keeps its old drawing buffer
    // under some OpenGL drivers, and the picture would sit offset in the window.
    const ModeBox box = window_box(m_settings.mini);
    m_win = SDL_CreateWindow("Velmora", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, box.w,
                             box.h,
                             SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!m_win) {
        logger::error(std::string("SDL_CreateWindow: ") + SDL_GetError());
        return false;
    }
    x11_plain_title(m_win, "Velmora");

    m_ren = SDL_CreateRenderer(m_win, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!m_ren) m_ren = SDL_CreateRenderer(m_win, -1, SDL_RENDERER_ACCELERATED);
    if (!m_ren) m_ren = SDL_CreateRenderer(m_win, -1, SDL_RENDERER_SOFTWARE);
    if (!m_ren) {
        logger::error(std::string("SDL_CreateRenderer: ") + SDL_GetError());
        return false;
    }
    SDL_RendererInfo info{};
    SDL_GetRendererInfo(m_ren, &info);
    m_software = !(info.flags & SDL_RENDERER_ACCELERATED);
    const char* driver = SDL_GetCurrentVideoDriver();
    std::string rname = info.name ? info.name : "?";
    logger::info(std::string("video ") + (driver ? driver : "?") + ", renderer " + rname +
                 (m_software ? " (software)" : " (accelerated)") +
                 ((info.flags & SDL_RENDERER_PRESENTVSYNC) ? ", vsync" : ""));

    // Premultiplied alpha for the translucent layers, where the renderer accepts it.
    SDL_BlendMode premul = SDL_ComposeCustomBlendMode(
        SDL_BLENDFACTOR_ONE, SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA, SDL_BLENDOPERATION_ADD,
        SDL_BLENDFACTOR_ONE, SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA, SDL_BLENDOPERATION_ADD);
    m_premul = SDL_BLENDMODE_BLEND;
    if (SDL_Texture* probe =
            SDL_CreateTexture(m_ren, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, 1, 1)) {
        if (SDL_SetTextureBlendMode(probe, premul) == 0) m_premul = premul;
        SDL_DestroyTexture(probe);
    }

    // Mesa drawing on the CPU reports an accelerated OpenGL renderer; its name tells.
    bool cpu_gl = false;
    std::string gl_renderer, gl_version;
    bool have_gl = false;
    if (SDL_GL_GetCurrentContext()) {
        using GetString = const GLubyte* (*)(GLenum);
        auto get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
        if (get) {
            have_gl = true;
            const GLubyte* r = get(GL_RENDERER);
            const GLubyte* v = get(GL_VERSION);
            gl_renderer = r ? reinterpret_cast<const char*>(r) : "?";
            gl_version = v ? reinterpret_cast<const char*>(v) : "?";
            logger::info("OpenGL renderer: " + gl_renderer);
            cpu_gl = gl_renderer.find("llvmpipe") != std::string::npos ||
                     gl_renderer.find("softpipe") != std::string::npos;
        }
    }
    gpu::init(m_ren, m_premul, m_premul, m_software);

    // Graphics lines for the crash report.
    std::vector<std::string> graphics;
    graphics.push_back(std::string("Video: ") + (driver ? driver : "?"));
    graphics.push_back("Renderer: " + rname + (m_software ? " (software)" : " (accelerated)"));
    if (have_gl) graphics.push_back("OpenGL: " + gl_renderer + " · " + gl_version);
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
        SDL_Rect b;
        if (SDL_GetDisplayBounds(i, &b) == 0)
            graphics.push_back("Display " + std::to_string(i) + ": " + std::to_string(b.w) + "x" +
                               std::to_string(b.h));
    }
    ruvasto::record_graphics(graphics);

    if (cpu_gl) {
        logger::info("Mesa renders on the CPU: animation limited to 24 frames per second");
        m_software = true;
    }
    m_cursor_arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    m_cursor_we = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_SIZEWE);
    update_scale();
    return true;
}

// ---- main loop ------------------------------------------------------------------------

void App::loop() {
    const Uint32 started = SDL_GetTicks();
    bool startup_noted = false;
    Uint32 last_frame = 0;
    while (m_running) {
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, animating() ? 4 : 100)) {
            handle(e);
            while (SDL_PollEvent(&e)) handle(e);
        }
        if (g_sig_quit.load()) m_running = false;
        if (g_sig_raise.exchange(0)) {
            SDL_RestoreWindow(m_win);
            SDL_RaiseWindow(m_win);
        }
        if (!m_running) break;

        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        drain_samples();

        const Uint32 now = SDL_GetTicks();
        if (!startup_noted && now - started > 20000) {
            startup_noted = true;
            L10n::startupSucceeded();
        }
        run_timers(now);

        const Uint32 flags = SDL_GetWindowFlags(m_win);
        if (flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) continue;
        const Uint32 interval = m_software ? 41 : (flags & SDL_WINDOW_INPUT_FOCUS) ? 16 : 33;
        const bool due = last_frame == 0 || SDL_GetTicks() - last_frame >= interval;
        auto repaint_over = [this] {
            m_over_dirty = false;
            return paint_layer(m_over, false, [this](cairo_t* cr) { paint_over(cr); });
        };
        const bool had_over = m_has_over;
        bool changed = false;
        if (m_dirty) {
            if (!due) continue;
            m_dirty = false;
            changed = paint_layer(m_base, true, [this](cairo_t* cr) { paint_base(cr); });
            if (m_over_dirty) changed |= repaint_over();
        } else if (m_over_dirty) {
            if (!due) continue;
            changed = repaint_over();
        } else if (animating() && due) {
            changed = true;
        } else {
            continue;
        }
        // A repaint that came out the same as the picture on screen (a sample that moved no
        // figure, a hover that changed nothing visible) is neither uploaded nor presented.
        if (!changed && m_has_over == had_over && !m_dragging) continue;

        if (m_dragging && m_ghost_dirty) {
            m_ghost_dirty = false;
            auto it = m_if.find(m_press_card);
            if (it != m_if.end()) {
                int pw = static_cast<int>(std::ceil(m_ghost_w * m_k));
                int ph = static_cast<int>(std::ceil(m_ghost_h * m_k));
                cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
                cairo_surface_set_device_scale(s, m_k, m_k);
                cairo_t* cr = cairo_create(s);
                paint_card(cr, it->second, 0, 0, m_ghost_w, m_ghost_h);
                cairo_destroy(cr);
                cairo_surface_flush(s);
                if (!m_ghost || m_ghost_pw != pw || m_ghost_ph != ph) {
                    if (m_ghost) SDL_DestroyTexture(m_ghost);
                    m_ghost = SDL_CreateTexture(m_ren, SDL_PIXELFORMAT_ARGB8888,
                                                SDL_TEXTUREACCESS_STREAMING, pw, ph);
                }
                m_ghost_pw = pw;
                m_ghost_ph = ph;
                if (m_ghost) {
                    SDL_SetTextureBlendMode(m_ghost, m_premul);
                    SDL_SetTextureAlphaMod(m_ghost, 240);
                    SDL_UpdateTexture(m_ghost, nullptr, cairo_image_surface_get_data(s),
                                      cairo_image_surface_get_stride(s));
                }
                cairo_surface_destroy(s);
            }
        }
        compose();
        last_frame = SDL_GetTicks();
        if (last_frame == 0) last_frame = 1;
    }
}

bool App::animating() const {
    // Only what the accelerated layer moves on screen, its intro and a dragged card count:
    // a page without charts, meters, LEDs or bars, or the layer off, leaves nothing that
    // changes between samples, so composing frames for it would only burn the processor.
    return m_dragging || gpu::animating(m_settings.animate);
}

void App::run_timers(Uint32 now) {
    if (m_copied_until && SDL_TICKS_PASSED(now, m_copied_until)) {
        m_copied_until = 0;
        m_dirty = m_over_dirty = true;
    }
    if (m_frame_check_at && SDL_TICKS_PASSED(now, m_frame_check_at)) {
        m_frame_check_at = 0;
        int x = 0, y = 0;
        if (m_win) SDL_GetWindowPosition(m_win, &x, &y);
        int dx = x - m_req_x, dy = y - m_req_y;
        if (m_win && dx >= -79 && dx <= 79 && dy >= -79 && dy <= 79) {
            m_frame_dx = dx;
            m_frame_dy = dy;
        }
    }
    if (m_save_at && SDL_TICKS_PASSED(now, m_save_at)) {
        m_save_at = 0;
        save_now();
    }
    if (focused_field() && SDL_TICKS_PASSED(now, m_blink_at)) {
        m_caret_on = !m_caret_on;
        m_blink_at = now + 530;
        m_dirty = true;
    }
    if (!m_tip_shown && now - m_hover_since > 650 && !m_dragging && m_mx >= 0) {
        const bool over = m_modal != Modal::None || m_menu.open || m_settings.mini;
        const Hit* h = hit_at(m_mx, m_my, over);
        if (h && !h->tip.empty()) {
            m_tip_shown = true;
            m_over_dirty = true;
        }
    }
}

void App::save_later() { m_save_at = SDL_GetTicks() + 700; }

// ---- layers and composition -----------------------------------------------------------

void App::compose() {
    SDL_SetRenderDrawColor(m_ren, 0, 0, 0, 255);
    SDL_RenderClear(m_ren);
    if (m_base.tex) SDL_RenderCopy(m_ren, m_base.tex, nullptr, nullptr);

    SDL_Rect area;
    if (m_settings.mini) {
        area = {0, 0, static_cast<int>(std::lround(m_W * m_k)),
                static_cast<int>(std::lround(m_H * m_k))};
    } else {
        area = {0, static_cast<int>(std::lround(kHeaderH * m_k)),
                static_cast<int>(std::lround(m_W * m_k)),
                static_cast<int>(std::lround((m_H - kStatusH - kHeaderH) * m_k))};
    }
    const bool blocked = m_modal != Modal::None || m_menu.open;
    gpu::render(m_pal, m_k, area, blocked ? -1 : m_mx, blocked ? -1 : m_my, m_settings.animate);

    if (m_dragging && m_ghost) {
        const double gx = m_mx - m_grab_dx, gy = m_my - m_grab_dy;
        SDL_SetRenderDrawBlendMode(m_ren, SDL_BLENDMODE_BLEND);
        SDL_SetRenderDrawColor(m_ren, 0, 0, 0, 12);
        for (int i = 12; i >= 2; i -= 2) {
            SDL_Rect r{static_cast<int>((gx - i + 6) * m_k), static_cast<int>((gy - i + 12) * m_k),
                       static_cast<int>((m_ghost_w + 2 * i - 12) * m_k),
                       static_cast<int>((m_ghost_h + 2 * i - 12) * m_k)};
            SDL_RenderFillRect(m_ren, &r);
        }
        SDL_Rect dst{static_cast<int>(gx * m_k), static_cast<int>(gy * m_k), m_ghost_pw,
                     m_ghost_ph};
        SDL_RenderCopy(m_ren, m_ghost, nullptr, &dst);
    }
    if (m_has_over && m_over.tex) SDL_RenderCopy(m_ren, m_over.tex, nullptr, nullptr);
    SDL_RenderPresent(m_ren);
}

bool App::paint_layer(Layer& layer, bool opaque, const std::function<void(cairo_t*)>& paint) {
    int pw = 0, ph = 0;
    SDL_GetRendererOutputSize(m_ren, &pw, &ph);
    if (pw < 1) pw = 1;
    if (ph < 1) ph = 1;
    if (!layer.surf || layer.pw != pw || layer.ph != ph) {
        if (layer.surf) cairo_surface_destroy(layer.surf);
        if (layer.tex) SDL_DestroyTexture(layer.tex);
        layer.surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
        // cairo's premultiplied ARGB32 is the byte layout of SDL's ARGB8888 on this host.
        layer.tex = SDL_CreateTexture(m_ren, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                      pw, ph);
        if (layer.tex) SDL_SetTextureBlendMode(layer.tex, opaque ? SDL_BLENDMODE_NONE : m_premul);
        layer.pw = pw;
        layer.ph = ph;
        layer.shown.clear();
    }
    cairo_surface_set_device_scale(layer.surf, m_k, m_k);
    cairo_t* cr = cairo_create(layer.surf);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);
    paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(layer.surf);
    if (!layer.tex) return true;
    const unsigned char* data = cairo_image_surface_get_data(layer.surf);
    const int stride = cairo_image_surface_get_stride(layer.surf);
    const auto bands = changed_bands(layer.shown, data, stride, ph);
    for (const auto& [y, n] : bands) {
        SDL_Rect r{0, y, pw, n};
        SDL_UpdateTexture(layer.tex, &r, data + static_cast<size_t>(y) * stride, stride);
    }
    return !bands.empty();
}

std::vector<std::pair<int, int>> changed_bands(std::vector<unsigned char>& shown,
                                               const unsigned char* pixels, int stride, int rows) {
    const size_t len = static_cast<size_t>(stride) * static_cast<size_t>(std::max(rows, 0));
    std::vector<std::pair<int, int>> bands;
    if (shown.size() != len) {
        shown.assign(pixels, pixels + len);
        if (rows > 0) bands.emplace_back(0, rows);
        return bands;
    }
    // Rows of text change with gaps between the lines; uploading a few equal rows costs
    // less than one more upload call.
    constexpr int kGap = 8;
    auto same = [&](int y) {
        const size_t off = static_cast<size_t>(y) * stride;
        return memcmp(shown.data() + off, pixels + off, static_cast<size_t>(stride)) == 0;
    };
    for (int y = 0; y < rows;) {
        if (same(y)) {
            ++y;
            continue;
        }
        const int first = y;
        int last = y; // last differing row of this band
        for (++y; y < rows && y - last <= kGap; ++y)
            if (!same(y)) last = y;
        bands.emplace_back(first, last - first + 1);
        const size_t off = static_cast<size_t>(first) * stride;
        memcpy(shown.data() + off, pixels + off, static_cast<size_t>(last - first + 1) * stride);
        y = last + 1;
    }
    return bands;
}

void App::paint_base(cairo_t* cr) {
    m_hits.clear();
    gpu::clear();
    gpu::begin(cr, m_k);
    if (m_settings.mini) {
        paint_mini(cr, m_W, m_H, false);
        gpu::end();
        return;
    }
    paint_window_bg(cr);
    const double page_h = m_H - kStatusH - kHeaderH;
    const int tab = std::clamp(m_settings.tab, 0, 4);
    cairo_save(cr);
    cairo_rectangle(cr, 0, kHeaderH, m_W, page_h);
    cairo_clip(cr);
    const size_t first_page_hit = m_hits.size();
    if (tab == 0 || tab == 4) {
        auto t = static_cast<size_t>(tab);
        const double dy = kHeaderH - m_scroll[t];
        cairo_translate(cr, 0, dy);
        m_content_h[t] = tab == 0 ? paint_overview(cr, m_W) : paint_stats(cr, m_W);
        for (size_t i = first_page_hit; i < m_hits.size(); ++i) m_hits[i].y += dy;
        const double max_scroll = std::max(0.0, m_content_h[t] - page_h);
        if (m_scroll[t] > max_scroll + 0.5) {
            m_scroll[t] = max_scroll;
            m_dirty = true;
        }
    } else {
        cairo_translate(cr, 0, kHeaderH);
        paint_table_page(cr, m_W, page_h, tab);
        for (size_t i = first_page_hit; i < m_hits.size(); ++i) m_hits[i].y += kHeaderH;
    }
    cairo_restore(cr);
    gpu::end();

    // Page regions never reach into the header or the status bar.
    std::vector<Hit> kept;
    kept.reserve(m_hits.size());
    for (auto& h : m_hits) {
        if (h.y < kHeaderH) {
            h.h -= kHeaderH - h.y;
            h.y = kHeaderH;
        }
        if (h.y + h.h > m_H - kStatusH) h.h = m_H - kStatusH - h.y;
        if (h.h > 0) kept.push_back(std::move(h));
    }
    m_hits = std::move(kept);

    if (tab == 0 || tab == 4) {
        auto t = static_cast<size_t>(tab);
        const double content = m_content_h[t];
        if (content > page_h + 1) {
            double len = page_h * page_h / content;
            double drawn = len <= 30 ? 26 : len - 4;
            if (len <= 30) len = 30;
            const double top = kHeaderH + 2 + (m_scroll[t] / (content - page_h)) * (page_h - len);
            gfx::rounded(cr, m_W - 9, top, 5, drawn, 2.5);
            Rgba c = m_pal.faint;
            c.a *= 0.55;
            gfx::set(cr, c);
            cairo_fill(cr);
        }
    }
    paint_header(cr, m_W);
    paint_statusbar(cr, m_W, m_H - kStatusH);
}

void App::paint_window_bg(cairo_t* cr) {
    const int pw = static_cast<int>(std::ceil(m_W * m_k)), ph = static_cast<int>(std::ceil(m_H * m_k));
    const std::string key = std::to_string(pw) + "x" + std::to_string(ph) + (m_dark ? "d" : "l");
    if (!m_bg || key != m_bg_key) {
        if (m_bg) cairo_surface_destroy(m_bg);
        m_bg = cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(pw, 1), std::max(ph, 1));
        cairo_surface_set_device_scale(m_bg, m_k, m_k);
        cairo_t* bg = cairo_create(m_bg);
        gfx::window_bg(bg, m_W, m_H, m_pal);
        cairo_destroy(bg);
        m_bg_key = key;
    }
    cairo_save(cr);
    cairo_set_source_surface(cr, m_bg, 0, 0);
    cairo_rectangle(cr, 0, 0, m_W, m_H);
    cairo_fill(cr);
    cairo_restore(cr);
}

void App::paint_over(cairo_t* cr) {
    m_over_hits.clear();
    m_has_over = false;
    if (m_settings.mini) {
        paint_mini(cr, m_W, m_H, true);
        m_has_over = true;
    }
    if (m_modal == Modal::Settings || m_modal == Modal::Languages) {
        paint_settings(cr, m_W, m_H);
        if (m_modal == Modal::Languages) paint_languages(cr, m_W, m_H);
        m_has_over = true;
    }
    if (m_modal == Modal::Confirm || m_modal == Modal::Crash) {
        paint_confirm(cr, m_W, m_H, m_modal == Modal::Crash);
        m_has_over = true;
    }
    if (m_modal == Modal::Snap) {
        paint_snap_modal(cr, m_W, m_H);
        m_has_over = true;
    }
    if (m_modal == Modal::Plan) {
        paint_plan_modal(cr, m_W, m_H);
        m_has_over = true;
    }
    if (m_menu.open) {
        paint_menu(cr);
        m_has_over = true;
    }
    if (m_tip_shown) paint_tooltip(cr); // sets m_has_over only when it draws a box
}

// ---- saving ---------------------------------------------------------------------------

void App::save_now() {
    static std::string last_line;
    if (m_win) {
        const Uint32 f = SDL_GetWindowFlags(m_win);
        if (!(f & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED |
                   SDL_WINDOW_MAXIMIZED)))
            remember_geometry();
    }
    const Geometry& g = m_settings.mini ? m_settings.compact : m_settings.full;
    std::string line = std::string(m_settings.mini ? "mini " : "full ") + std::to_string(g.x) +
                       "," + std::to_string(g.y) + " " + std::to_string(g.w) + "x" +
                       std::to_string(g.h) + " frame " + std::to_string(m_frame_dx) + "," +
                       std::to_string(m_frame_dy);
    if (line != last_line) {
        logger::info("window " + line);
        last_line = line;
    }
    if (!m_settings.save()) logger::warn("settings could not be written");
}

// ---- shutdown -------------------------------------------------------------------------

void App::shutdown_window() {
    if (m_cursor_arrow) SDL_FreeCursor(m_cursor_arrow);
    if (m_cursor_we) SDL_FreeCursor(m_cursor_we);
    m_cursor_arrow = m_cursor_we = nullptr;
    for (Layer* l : {&m_base, &m_over}) {
        if (l->tex) SDL_DestroyTexture(l->tex);
        if (l->surf) cairo_surface_destroy(l->surf);
        *l = Layer{};
    }
    if (m_ghost) SDL_DestroyTexture(m_ghost);
    m_ghost = nullptr;
    if (m_bg) cairo_surface_destroy(m_bg);
    m_bg = nullptr;
    gpu::shutdown();
    if (m_ren) SDL_DestroyRenderer(m_ren);
    if (m_win) SDL_DestroyWindow(m_win);
    m_ren = nullptr;
    m_win = nullptr;
    SDL_Quit();
}

// ---- signals --------------------------------------------------------------------------

void on_signal(int sig) {
    if (sig == SIGUSR1) g_sig_raise.store(1);
    else g_sig_quit.store(1);
}
