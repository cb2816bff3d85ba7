// Input: SDL events to the window state. Pointer input is resolved against the hit regions
// the painters recorded; keys go to the focused filter field or to the shortcuts.
//
// Sections: event dispatch · pointer · wheel and scrolling · keyboard and text fields ·
// pages and views.

#include "app.h"

#include "gpu.h"

#include <algorithm>
#include <cstring>

namespace {

bool starts(const std::string& s, const char* prefix) {
    return s.compare(0, strlen(prefix), prefix) == 0;
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte offset of the character before / after `pos` in UTF-8 text.
size_t prev_char(const std::string& s, size_t pos) {
    if (pos == 0) return 0;
    --pos;
    while (pos > 0 && continuation(static_cast<unsigned char>(s[pos]))) --pos;
    return pos;
}

size_t next_char(const std::string& s, size_t pos) {
    if (pos >= s.size()) return s.size();
    ++pos;
    while (pos < s.size() && continuation(static_cast<unsigned char>(s[pos]))) ++pos;
    return pos;
}

} // namespace

// ---- event dispatch -------------------------------------------------------------------

void App::handle(const SDL_Event& e) {
    switch (e.type) {
    case SDL_QUIT: m_running = false; break;
    case SDL_WINDOWEVENT:
        switch (e.window.event) {
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            update_scale();
            m_dirty = m_over_dirty = true;
            m_base.shown.clear(); // the screen lost the picture: present the next one whole
            m_over.shown.clear();
            if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) save_later();
            break;
        case SDL_WINDOWEVENT_MOVED: save_later(); break;
        case SDL_WINDOWEVENT_LEAVE:
            m_mx = m_my = -1;
            if (m_mini_hover) {
                m_mini_hover = false;
                m_over_dirty = true;
            }
            if (!m_hover.empty()) {
                m_hover.clear();
                m_dirty = true;
            }
            break;
        default: break;
        }
        break;
    case SDL_KEYDOWN: key(e.key.keysym); break;
    case SDL_TEXTINPUT: text_input(e.text.text); break;
    case SDL_MOUSEMOTION: mouse_move(e.motion.x, e.motion.y); break;
    case SDL_MOUSEBUTTONDOWN: {
        const int b = e.button.button == SDL_BUTTON_LEFT    ? 1
                      : e.button.button == SDL_BUTTON_RIGHT ? 3
                                                            : 2;
        mouse_down(e.button.x, e.button.y, b, e.button.clicks);
        break;
    }
    case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT) mouse_up(e.button.x, e.button.y, 1);
        break;
    case SDL_MOUSEWHEEL: {
        int x = 0, y = 0;
#if SDL_VERSION_ATLEAST(2, 26, 0)
        x = e.wheel.mouseX;
        y = e.wheel.mouseY;
#else
        SDL_GetMouseState(&x, &y);
#endif
        int amount = e.wheel.y;
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) amount = -amount;
        if (amount == 0) break;
        wheel(x, y, amount < 0 ? 1 : -1);
        break;
    }
    case SDL_RENDER_TARGETS_RESET:
    case SDL_RENDER_DEVICE_RESET:
        m_dirty = m_over_dirty = true;
        m_base.shown.clear();
        m_over.shown.clear();
        break;
    default: break; // the sampler's wake-up and everything else only end the wait
    }
}

const Hit* App::hit_at(double x, double y, bool over) const {
    const auto& list = over ? m_over_hits : m_hits;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->contains(x, y)) return &*it;
    return nullptr;
}

// ---- pointer --------------------------------------------------------------------------

void App::mouse_down(double x, double y, int button, int clicks) {
    if (m_tip_shown) {
        m_tip_shown = false;
        m_over_dirty = true; // the shown box goes away with the click
    }

    if (m_menu.open) {
        const Hit* h = hit_at(x, y, true);
        if (h && starts(h->id, "menu:") && h->n >= 0 &&
            static_cast<size_t>(h->n) < m_menu.items.size() && m_menu.items[h->n].act) {
            auto act = m_menu.items[h->n].act; // closing the menu frees the items
            close_menu();
            act();
            return;
        }
        const int was_open = m_menubar_open;
        const Hit* b = hit_at(x, y, false);
        if (b && starts(b->id, "mb:")) {
            const int n = b->n;
            close_menu();
            if (n != was_open) open_menubar(n);
            return;
        }
        close_menu();
        return;
    }

    if (m_modal != Modal::None) {
        if (const Hit* h = hit_at(x, y, true)) {
            if (button == 1) {
                const Hit copy = *h;
                if (m_modal == Modal::Plan) plan_click(copy);
                else over_click(copy, x, y);
            }
        } else if (m_modal == Modal::Plan) {
            close_plan_editor();
        } else if (m_modal == Modal::Settings || m_modal == Modal::Snap) {
            m_modal = Modal::None;
        } else if (m_modal == Modal::Languages) {
            m_modal = Modal::Settings;
        } // a confirmation or crash dialog waits for its answer
        m_over_dirty = true;
        return;
    }

    if (m_settings.mini) {
        const Hit* h = hit_at(x, y, true);
        mini_click(h ? h->id : std::string(), x, y, button, clicks);
        return;
    }

    const Hit* found = hit_at(x, y, false);
    if (TextField* f = focused_field(); f && !(found && starts(found->id, "field:"))) {
        f->focus = false;
        SDL_StopTextInput();
        m_dirty = true;
    }
    if (!found) return;
    const Hit h = *found; // handlers may change the hit list
    const int tab = std::clamp(m_settings.tab, 0, 4);
    const bool left = button == 1;
    if (starts(h.id, "mb:")) {
        open_menubar(h.n);
    } else if (starts(h.id, "tab:")) {
        if (left) select_tab(h.n);
    } else if (h.id == "head:settings") {
        if (left) open_settings(0);
    } else if (h.id == "head:mini") {
        if (left) set_mini(true);
    } else if (starts(h.id, "ov:")) {
        ov_press(h, x, y - kHeaderH + m_scroll[0], button, clicks);
    } else if (starts(h.id, "snap:")) {
        if (left) snap_click(h.id);
    } else if (starts(h.id, "tbl:") || starts(h.id, "field:")) {
        table_click(tab, h, x, y, button, clicks);
    } else if (starts(h.id, "plan:")) {
        if (left) plan_click(h);
    } else if (starts(h.id, "st:scroll:")) {
        if (left) {
            m_st_chip_scroll += h.n * 240;
            m_dirty = true;
        }
    } else if (starts(h.id, "st:if:")) {
        if (left) {
            m_settings.stats_iface = h.id.substr(6);
            m_st_chip_follow = true;
            gpu::restart_intro();
            m_dirty = true;
            save_later();
        }
    }
}

void App::mouse_up(double, double, int) {
    if (m_col_drag) {
        m_col_drag = false;
        store_columns(m_col_page);
        m_dirty = true;
    } else if (!m_settings.mini && m_settings.tab == 0) {
        ov_release();
    }
}

void App::mouse_move(double x, double y) {
    m_mx = x;
    m_my = y;
    if (m_col_drag) {
        auto& st = m_colstate[static_cast<size_t>(std::clamp(m_col_page, 0, 3))][m_col_key];
        st.w = std::max(48.0, x - m_col_x0 + m_col_w0);
        m_dirty = true;
        return;
    }
    if (m_settings.mini && !m_mini_hover) {
        m_mini_hover = true;
        m_over_dirty = true;
    }
    if (m_menu.open && m_menu.bar >= 0) {
        // Sliding along the menu bar with a menu open switches menus without a click.
        const Hit* b = hit_at(x, y, false);
        if (b && starts(b->id, "mb:") && b->n != m_menu.bar) open_menubar(b->n);
    }
    if (!m_settings.mini && m_settings.tab == 0 && m_modal == Modal::None && !m_menu.open)
        ov_motion(x, y - kHeaderH + m_scroll[0]);

    const bool over = m_modal != Modal::None || m_menu.open || m_settings.mini;
    const Hit* h = hit_at(x, y, over);
    const std::string id = h ? h->id : std::string();

    const bool we = !over && starts(id, "tbl:resize:");
    if (we != m_cursor_is_we && m_cursor_arrow && m_cursor_we) {
        SDL_SetCursor(we ? m_cursor_we : m_cursor_arrow);
        m_cursor_is_we = we;
    }

    std::string& remembered = over ? m_over_hover : m_hover;
    if (id == remembered) return;
    remembered = id;
    m_hover_since = SDL_GetTicks();
    if (m_tip_shown) {
        m_tip_shown = false;
        m_over_dirty = true;
    }
    (over ? m_over_dirty : m_dirty) = true;
}

// ---- wheel and scrolling --------------------------------------------------------------

void App::wheel(double x, double y, double dir) {
    if (m_modal == Modal::Languages) {
        m_lang_scroll = std::max(0.0, m_lang_scroll + 60 * dir);
        m_over_dirty = true;
        return;
    }
    if (m_modal == Modal::Settings) {
        const double max = std::max(0.0, m_set_content_h - m_set_view_h);
        m_set_scroll = std::clamp(m_set_scroll + 60 * dir, 0.0, max);
        m_over_dirty = true;
        return;
    }
    if (m_modal != Modal::None || m_menu.open) return;
    if (!m_settings.mini && m_settings.tab == 4) {
        const Hit* h = hit_at(x, y, false);
        if (h && (h->id == "st:chiprow" || starts(h->id, "st:if:") ||
                  starts(h->id, "st:scroll:")) &&
            m_st_chip_max > 0) {
            m_st_chip_scroll = std::clamp(m_st_chip_scroll + 80 * dir, 0.0, m_st_chip_max);
            m_dirty = true;
            return;
        }
    }
    if (y > kHeaderH && y < m_H - kStatusH) scroll_page(90 * dir);
}

void App::scroll_page(double delta) {
    if (m_settings.mini) return;
    const int tab = std::clamp(m_settings.tab, 0, 4);
    auto& scroll = m_scroll[static_cast<size_t>(tab)];
    const double page = m_H - kHeaderH - kStatusH;
    double max = 0;
    if (tab >= 1 && tab <= 3) {
        const double content = static_cast<double>(table_of(tab).rows.size()) * 30 + 10;
        const double visible = page - table_top(tab) - 34 - 26; // header band, footer band
        max = std::max(0.0, content - visible);
    } else {
        max = std::max(0.0, m_content_h[static_cast<size_t>(tab)] - page);
    }
    scroll = std::clamp(scroll + delta, 0.0, max);
    m_dirty = true;
}

// ---- keyboard and text fields ---------------------------------------------------------

TextField* App::focused_field() {
    for (TextField* f : {&m_conn_field, &m_proc_field, &m_dest_field})
        if (f->focus) return f;
    return nullptr;
}

namespace {

// The filter changed or the caret moved: the table follows at once, the caret shows.
void after_edit(App& app, const TextField* f) {
    const int tab = f == &app.m_conn_field ? 1 : f == &app.m_proc_field ? 2 : 3;
    app.m_scroll[static_cast<size_t>(tab)] = 0;
    app.fill_table(tab);
    app.m_caret_on = true;
    app.m_blink_at = SDL_GetTicks() + 530;
    app.m_dirty = true;
}

} // namespace

void App::key(const SDL_Keysym& k) {
    const bool ctrl = (k.mod & KMOD_CTRL) != 0;
    if (m_modal == Modal::Plan && plan_key(k)) return;
    if (TextField* f = focused_field()) {
        std::string& t = f->text;
        f->caret = std::min(f->caret, t.size());
        switch (k.sym) {
        case SDLK_ESCAPE:
            if (!t.empty()) {
                t.clear();
                f->caret = 0;
            } else {
                f->focus = false;
                SDL_StopTextInput();
            }
            break;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            f->focus = false;
            SDL_StopTextInput();
            break;
        case SDLK_BACKSPACE: {
            const size_t from = prev_char(t, f->caret);
            t.erase(from, f->caret - from);
            f->caret = from;
            break;
        }
        case SDLK_DELETE: t.erase(f->caret, next_char(t, f->caret) - f->caret); break;
        case SDLK_LEFT: f->caret = prev_char(t, f->caret); break;
        case SDLK_RIGHT: f->caret = next_char(t, f->caret); break;
        case SDLK_HOME: f->caret = 0; break;
        case SDLK_END: f->caret = t.size(); break;
        case SDLK_v: {
            if (!ctrl) return;
            char* clip = SDL_GetClipboardText();
            std::string paste = clip ? clip : "";
            SDL_free(clip);
            paste.erase(std::remove_if(paste.begin(), paste.end(),
                                       [](char c) { return c == '\n' || c == '\r'; }),
                        paste.end());
            t.insert(f->caret, paste);
            f->caret += paste.size();
            break;
        }
        default: return; // characters arrive as text input
        }
        after_edit(*this, f);
        return;
    }

    if (k.sym == SDLK_ESCAPE) {
        if (m_menu.open) {
            close_menu();
        } else if (m_modal == Modal::Languages) {
            m_modal = Modal::Settings;
            m_over_dirty = true;
        } else if (m_modal == Modal::Settings || m_modal == Modal::Confirm ||
                   m_modal == Modal::Snap) {
            m_modal = Modal::None;
            m_confirm_act = nullptr;
            m_dirty = m_over_dirty = true;
        } else if (m_settings.mini) {
            set_mini(false);
        }
        return;
    }

    if (ctrl) {
        switch (k.sym) {
        case SDLK_1:
        case SDLK_2:
        case SDLK_3:
        case SDLK_4:
        case SDLK_5:
            if (!m_settings.mini) select_tab(k.sym - SDLK_1);
            break;
        case SDLK_f:
            if (!m_settings.mini && m_settings.tab >= 1 && m_settings.tab <= 3) {
                TextField* f = field_of(m_settings.tab);
                f->focus = true;
                f->caret = f->text.size();
                SDL_StartTextInput();
                m_dirty = true;
            }
            break;
        case SDLK_COMMA: open_settings(0); break;
        case SDLK_m: set_mini(!m_settings.mini); break;
        case SDLK_q: m_running = false; break;
        default: break;
        }
        return;
    }

    if (m_settings.mini || m_modal != Modal::None) return;
    const double page = m_H - kHeaderH - kStatusH;
    switch (k.sym) {
    case SDLK_F10: open_menubar(0); break;
    case SDLK_UP: scroll_page(-60); break;
    case SDLK_DOWN: scroll_page(60); break;
    case SDLK_PAGEUP: scroll_page(-0.85 * page); break;
    case SDLK_PAGEDOWN: scroll_page(0.85 * page); break;
    case SDLK_HOME: scroll_page(-1e9); break;
    case SDLK_END: scroll_page(1e9); break;
    default: break;
    }
}

void App::text_input(const char* text) {
    if (m_modal == Modal::Plan) {
        plan_text(text);
        return;
    }
    TextField* f = focused_field();
    if (!f || !text) return;
    f->caret = std::min(f->caret, f->text.size());
    const std::string s(text);
    f->text.insert(f->caret, s);
    f->caret += s.size();
    after_edit(*this, f);
}

// ---- pages and views ------------------------------------------------------------------

void App::select_tab(int t) {
    t = std::clamp(t, 0, 4);
    m_settings.tab = t;
    if (t == 4) gpu::restart_intro();
    if (t >= 1 && t <= 3) fill_table(t);
    m_conn_field.focus = m_proc_field.focus = m_dest_field.focus = false;
    SDL_StopTextInput();
    m_dirty = true;
    save_later();
}

void App::set_mini(bool on) {
    if (m_win) {
        const Uint32 f = SDL_GetWindowFlags(m_win);
        if (!(f & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED |
                   SDL_WINDOW_MAXIMIZED)))
            remember_geometry();
    }
    m_settings.mini = on;
    if (m_menu.open) close_menu();
    apply_mode(on);
    save_later();
}

void App::copy(const std::string& text) { SDL_SetClipboardText(text.c_str()); }
