// The overlay's panels: pop-up menus with the four menu-bar menus, tooltips, and the
// settings panel with its dialogs.
//
// Sections: menu-bar menus · opening and closing · menu drawing · tooltips · settings panel
// and dialogs.

#include "app.h"

#include "autostart.h"
#include "l10n.h"
#include "logger.h"
#include "paths.h"
#include "ruvasto.h"

#include <algorithm>
#include <cstring>
#include <pango/pangocairo.h>

namespace {

constexpr const char* kMenuTitles[4] = {"mb.file", "mb.view", "mb.tools", "mb.help"};
constexpr const char* kTabTitles[5] = {"tab.overview", "tab.connections", "tab.processes",
                                       "tab.destinations", "tab.statistics"};

gfx::TextStyle menu_style(double size, gfx::Align align = gfx::Align::Left) {
    gfx::TextStyle st;
    st.size = size;
    st.tnum = true;
    st.align = align;
    st.middle = true;
    return st;
}

// A context for measuring text outside a paint (menu placement happens on input).
cairo_t* measuring_context() {
    static cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    return cairo_create(s);
}

} // namespace

// ---- menu-bar menus -------------------------------------------------------------------

std::vector<App::MenuItem> App::menubar_items(int index) {
    std::vector<MenuItem> items;
    auto add = [&](const std::string& label, std::function<void()> act, std::string shortcut,
                   bool checked) {
        items.push_back(MenuItem{label, std::move(act), std::move(shortcut), checked, false});
    };
    auto sep = [&] { items.push_back(MenuItem{"", {}, "", false, true}); };
    auto tr = [](const char* key) { return L10n::tr(key); };

    switch (index) {
    case 0:
        add(tr("mi.settings"), [this] { open_settings(0); }, "Ctrl+,", false);
        add(tr("mi.export"), [this] { export_stats(); }, "", false);
        sep();
        add(tr("mini.quit"), [this] { m_running = false; }, "Ctrl+Q", false);
        break;
    case 1: {
        for (int t = 0; t < 5; ++t)
            add(tr(kTabTitles[t]), [this, t] { select_tab(t); }, "Ctrl+" + std::to_string(t + 1),
                m_settings.tab == t);
        sep();
        add(tr("tip.mini"), [this] { set_mini(true); }, "Ctrl+M", false);
        sep();
        for (int s : kSpans)
            add(tr("mi.span") + " " + span_label(s),
                [this, s] {
                    m_settings.span_s = s;
                    save_later();
                    m_dirty = true;
                },
                "", m_settings.span_s == s);
        sep();
        for (const char* theme : {"auto", "dark", "light"}) {
            const std::string key = std::string("set.theme.") + theme;
            add(tr(key.c_str()),
                [this, theme] {
                    m_settings.theme = theme;
                    // A choice made now outranks the theme given on the command line.
                    force_theme.clear();
                    apply_theme();
                    save_later();
                },
                "", m_settings.theme == theme);
        }
        sep();
        for (bool bits : {false, true})
            add(tr(bits ? "set.units.bits" : "set.units.bytes"),
                [this, bits] {
                    m_settings.bits = bits;
                    save_later();
                    m_dirty = true;
                },
                "", m_settings.bits == bits);
        break;
    }
    case 2:
        if (strcmp(paths::package_kind(), "snap") == 0) {
            add(tr("mi.snap"), [this] { open_snap_panel(); }, "", false);
            sep();
        }
        add(tr("chip.resolve"),
            [this] {
                m_settings.resolve_names = !m_settings.resolve_names;
                m_tracker.set_resolve(m_settings.resolve_names);
                save_later();
                m_dirty = true;
            },
            "", m_settings.resolve_names);
        add(tr("set.animate"),
            [this] {
                m_settings.animate = !m_settings.animate;
                save_later();
            },
            "", m_settings.animate);
        add(tr("set.ontop"),
            [this] {
                m_settings.always_on_top = !m_settings.always_on_top;
                if (!m_settings.mini) window_on_top(m_win, m_settings.always_on_top);
                save_later();
            },
            "", m_settings.always_on_top);
        sep();
        add(tr("chip.reset_totals"),
            [this] {
                m_tracker.reset_totals();
                m_ps = m_tracker.snapshot();
                if (m_settings.tab >= 1 && m_settings.tab <= 3) fill_table(m_settings.tab);
                m_dirty = true;
            },
            "", false);
        add(tr("set.stats_reset"),
            [this] {
                confirm(L10n::tr("set.stats_confirm"), L10n::tr("set.stats_reset"), [this] {
                    m_usage.reset();
                    m_hist = history::Store();
                    m_hist.save(m_config_dir + "/history.dat");
                    m_usage.save();
                    logger::info("usage history reset by the user");
                    m_dirty = true;
                });
            },
            "", false);
        sep();
        add(tr("set.tab.devices"), [this] { open_settings(1); }, "", false);
        break;
    case 3:
        add(tr("mi.shortcuts"), [this] { open_settings(4); }, "", false);
        add(tr("mi.website"), [this] { open_url(VELMORA_WEBSITE); }, "", false);
        add(tr("mi.report"), [this] { open_url(std::string("mailto:") + VELMORA_SUPPORT_MAIL); },
            "", false);
        sep();
        add(tr("mi.about"), [this] { open_settings(3); }, "", false);
        break;
    default: break;
    }
    return items;
}

// ---- opening and closing --------------------------------------------------------------

void App::open_menubar(int index) {
    cairo_t* cr = measuring_context();
    double x = 36;
    for (int i = 0; i < index && i < 4; ++i)
        x += gfx::text_width(cr, L10n::tr(kMenuTitles[i]), 13, false) + 20;
    cairo_destroy(cr);
    open_menu(x, 28, menubar_items(index));
    m_menu.bar = index;
    m_menubar_open = index;
    m_dirty = m_over_dirty = true;
}

void App::open_menu(double x, double y, std::vector<MenuItem> items) {
    m_menu.x = x;
    m_menu.y = y;
    m_menu.items = std::move(items);
    m_menu.open = true;
    m_menu.bar = -1;
    m_menubar_open = -1;
    m_tip_shown = false;
    m_over_dirty = true;
}

void App::close_menu() {
    m_menu.open = false;
    m_menubar_open = -1;
    m_dirty = m_over_dirty = true;
}

// ---- menu drawing ---------------------------------------------------------------------

App::MenuBox App::menu_box(cairo_t* cr) const {
    MenuBox b;
    b.w = 180;
    b.h = 8;
    for (const auto& it : m_menu.items) {
        if (it.separator) {
            b.h += 9;
            continue;
        }
        b.h += 28;
        double w = 64 + gfx::text_width(cr, it.label, 13, false);
        if (!it.shortcut.empty()) w += 28 + gfx::text_width(cr, it.shortcut, 12, false);
        b.w = std::max(b.w, w);
    }
    b.x = std::min(m_menu.x, m_W - b.w - 6);
    b.y = m_menu.y;
    if (m_menu.y + b.h > m_H - 6) b.y = std::max(6.0, m_menu.y - b.h);
    return b;
}

void App::paint_menu(cairo_t* cr) {
    const Palette& p = m_pal;
    const MenuBox b = menu_box(cr);

    gfx::rounded(cr, b.x, b.y + 4, b.w, b.h, 10);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.32);
    cairo_fill(cr);
    gfx::rounded(cr, b.x, b.y, b.w, b.h, 10);
    gfx::set(cr, p.surface2);
    cairo_fill_preserve(cr);
    gfx::set(cr, p.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    double y = b.y + 4;
    for (size_t i = 0; i < m_menu.items.size(); ++i) {
        const MenuItem& it = m_menu.items[i];
        if (it.separator) {
            cairo_move_to(cr, b.x + 10, y + 4.5);
            cairo_line_to(cr, b.x + b.w - 10, y + 4.5);
            gfx::set(cr, p.panel_edge);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
            y += 9;
            continue;
        }
        const std::string id = "menu:" + std::to_string(i);
        const bool hot = m_over_hover == id;
        if (hot) {
            gfx::rounded(cr, b.x + 4, y, b.w - 8, 28, 6);
            gfx::set(cr, p.chip_on);
            cairo_fill(cr);
        }
        if (it.checked) {
            cairo_move_to(cr, b.x + 14, y + 14);
            cairo_line_to(cr, b.x + 18, y + 18);
            cairo_line_to(cr, b.x + 25, y + 9);
            gfx::set(cr, hot ? p.chip_on_text : p.accent);
            cairo_set_line_width(cr, 1.8);
            cairo_stroke(cr);
        }
        gfx::text(cr, it.label, b.x + 34, y + 14, hot ? p.chip_on_text : p.text, menu_style(13));
        gfx::text(cr, it.shortcut, b.x + b.w - 14, y + 14, hot ? p.chip_on_text : p.faint,
                  menu_style(12, gfx::Align::Right));
        m_over_hits.push_back(Hit{b.x, y, b.w, 28, id, static_cast<int>(i), ""});
        y += 28;
    }
}

// ---- tooltips -------------------------------------------------------------------------

void App::paint_tooltip(cairo_t* cr) {
    const bool over = m_modal != Modal::None || m_menu.open || m_settings.mini;
    const Hit* h = hit_at(m_mx, m_my, over);
    if (!h || h->tip.empty()) return;

    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Sans");
    pango_font_description_set_absolute_size(font, 12 * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_width(layout, 420 * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_text(layout, h->tip.c_str(), -1);
    int lw = 0, lh = 0;
    pango_layout_get_pixel_size(layout, &lw, &lh);

    const double bw = lw + 20, bh = lh + 14;
    double bx = m_mx + 14, by = m_my + 20;
    if (lw + bx + 20 > m_W) bx = m_W - bw - 24;
    if (by + bh > m_H) by = m_my - bh - 20;
    // Whatever the pointer's place, the box stays inside the window.
    bx = std::max(0.0, std::min(bx, m_W - bw));
    by = std::max(0.0, std::min(by, m_H - bh));

    gfx::rounded(cr, bx, by, bw, bh, 7);
    Rgba fill = m_pal.surface2;
    fill.a *= 0.98;
    gfx::set(cr, fill);
    cairo_fill_preserve(cr);
    gfx::set(cr, m_pal.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    gfx::set(cr, m_pal.text);
    cairo_move_to(cr, bx + 10, by + 7);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    m_has_over = true;
}

// ---- settings panel and dialogs -------------------------------------------------------
// The panel's tabs and the languages panel are in view_settings_panel.cpp.

void App::open_settings(int tab) {
    m_set_scroll = 0;
    if (m_menu.open) close_menu();
    m_set_tab = std::clamp(tab, 0, 4);
    m_autostart = autostart::enabled();
    m_modal = Modal::Settings;
    m_over_dirty = true;
}

void App::confirm(const std::string& text, const std::string& ok, std::function<void()> act) {
    m_confirm_text = text;
    m_confirm_ok = ok;
    m_confirm_act = std::move(act);
    m_modal = Modal::Confirm;
    m_over_dirty = true;
}

void App::offer_crash_report() {
    if (!ruvasto::pending(m_crash_report)) return;
    m_crash_pending = true;
    logger::info("crash report from an earlier run: " + ruvasto::report_path());
    if (m_menu.open) close_menu();
    m_modal = Modal::Crash;
    m_dirty = m_over_dirty = true;
}

void App::over_click(const Hit& hit, double, double) {
    if (m_modal == Modal::Crash && (hit.id == "conf:ok" || hit.id == "conf:no")) {
        m_modal = Modal::None;
        m_crash_pending = false;
        m_crash_report.clear();
        if (hit.id == "conf:ok") {
            logger::info("crash report: user chose send");
            ruvasto::send(logger::file_path());
        } else {
            logger::info("crash report: user chose discard");
            ruvasto::discard();
        }
    } else if (m_modal == Modal::Confirm && (hit.id == "conf:ok" || hit.id == "conf:no")) {
        m_modal = Modal::None;
        auto act = std::move(m_confirm_act);
        m_confirm_act = nullptr;
        if (hit.id == "conf:ok" && act) act();
    } else if (m_modal == Modal::Settings) {
        settings_click(hit);
    } else if (m_modal == Modal::Languages) {
        languages_click(hit);
    } else if (m_modal == Modal::Snap) {
        snap_click(hit.id);
    }
    m_dirty = m_over_dirty = true;
}

void App::paint_confirm(cairo_t* cr, double w, double h, bool crash) {
    const Palette& p = m_pal;
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
    cairo_fill(cr);

    gfx::TextStyle head;
    head.size = 14;
    head.bold = true;
    gfx::TextStyle body;
    body.size = 12.5;
    const std::string title = crash ? L10n::tr("crash.title") : m_confirm_text;
    const std::string text = crash ? L10n::tr("crash.text") : std::string();
    // The panel grows with its texts, which are much longer in some languages.
    const double pw = std::min(w - 40, 520.0), tw = pw - 48;
    const double head_h = gfx::wrapped(cr, title, 0, 0, tw, nullptr, head);
    const double body_h = gfx::wrapped(cr, text, 0, 0, tw, nullptr, body);
    const double ph = 24 + head_h + (body_h > 0 ? 12 + body_h : 0) + 28 + 36 + 24;
    const double x = (w - pw) / 2, y = std::max(20.0, (h - ph) / 2);

    gfx::modal_panel(cr, x, y, pw, ph, p);
    m_over_hits.push_back(Hit{x, y, pw, ph, "conf:panel", 0, ""});

    gfx::wrapped(cr, title, x + 24, y + 24, tw, &p.text, head);
    if (body_h > 0) gfx::wrapped(cr, text, x + 24, y + 24 + head_h + 12, tw, &p.dim, body);

    // Buttons from the right: the confirming one first, the other to its left.
    const std::string ok = crash ? L10n::tr("crash.send") : m_confirm_ok;
    const std::string no = L10n::tr(crash ? "crash.discard" : "btn.cancel");
    double bx = x + pw - 24;
    const double by = y + ph - 24 - 36;
    for (int i = 0; i < 2; ++i) {
        const std::string& label = i == 0 ? ok : no;
        const std::string id = i == 0 ? "conf:ok" : "conf:no";
        const double bw = std::max(120.0, gfx::text_width(cr, label, 12.5, true) + 36);
        bx -= bw;
        const bool hot = m_over_hover == id;
        gfx::rounded(cr, bx, by, bw, 36, 8);
        if (i == 0) {
            Rgba c = p.chip_on;
            if (hot) c = Rgba{std::min(1.0, c.r + 0.08), std::min(1.0, c.g + 0.08),
                              std::min(1.0, c.b + 0.08), c.a};
            gfx::set(cr, c);
            cairo_fill(cr);
        } else {
            gfx::set(cr, hot ? p.button_hot : p.button);
            cairo_fill_preserve(cr);
            gfx::set(cr, p.panel_edge);
            cairo_stroke(cr);
        }
        gfx::TextStyle bs;
        bs.size = 12.5;
        bs.bold = true;
        bs.align = gfx::Align::Center;
        bs.middle = true;
        gfx::text(cr, label, bx + bw / 2, by + 18, i == 0 ? p.chip_on_text : p.text, bs);
        m_over_hits.push_back(Hit{bx, by, bw, 36, id, 0, ""});
        bx -= 12;
    }
}
