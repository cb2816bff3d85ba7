// The settings panel with its five tabs, the languages panel, and what is re-applied when
// a setting changes.
//
// Sections: drawing helpers · the sheet (scrolled rows) · tabs · panel · languages panel ·
// clicks · re-application.

#include "app.h"

#include "autostart.h"
#include "format.h"
#include "l10n.h"
#include "logger.h"
#include "paths.h"
#include "version.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kThemes[3] = {"auto", "dark", "light"};
constexpr int kIntervals[3] = {500, 1000, 2000};
constexpr const char* kSnapLines = "sudo snap connect velmora:network-observe\n"
                                   "sudo snap connect velmora:system-observe\n"
                                   "sudo snap connect velmora:hardware-observe";

bool starts(const std::string& s, const char* prefix) {
    return s.compare(0, strlen(prefix), prefix) == 0;
}

gfx::TextStyle ts(double size, bool bold = false, gfx::Align align = gfx::Align::Left,
                  bool middle = false) {
    gfx::TextStyle st;
    st.size = size;
    st.bold = bold;
    st.align = align;
    st.middle = middle;
    return st;
}

// Cuts a text at `w` only when it is wider: a layout of fixed width would move a
// right-to-left text to the far end of that width.
gfx::TextStyle fitted(cairo_t* cr, const std::string& text, gfx::TextStyle st, double w) {
    if (gfx::text_width(cr, text, st.size, st.bold) > w) st.max_w = w;
    return st;
}

Rgba lighter(const Rgba& c, double d) {
    return Rgba{std::min(1.0, c.r + d), std::min(1.0, c.g + d), std::min(1.0, c.b + d), c.a};
}

void button(cairo_t* cr, double x, double y, double w, double h, const std::string& label,
            bool primary, bool hot, const Palette& p) {
    gfx::rounded(cr, x, y, w, h, 8);
    if (primary) {
        gfx::set(cr, hot ? lighter(p.chip_on, 0.08) : p.chip_on);
        cairo_fill(cr);
    } else {
        gfx::set(cr, hot ? p.button_hot : p.button);
        cairo_fill_preserve(cr);
        gfx::set(cr, p.panel_edge);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    const gfx::TextStyle st = fitted(cr, label, ts(12.5, true, gfx::Align::Center, true), w - 16);
    gfx::text(cr, label, x + w / 2, y + h / 2, primary ? p.chip_on_text : p.text, st);
}

void toggle_switch(cairo_t* cr, double x, double y, bool on, const Palette& p) {
    gfx::rounded(cr, x, y, 40, 22, 11);
    gfx::set(cr, on ? p.ok : hex(p.dark ? "#4A4846" : "#A5A29C"));
    cairo_fill(cr);
    gfx::dot(cr, on ? x + 29 : x + 11, y + 11, 8, Rgba{1, 1, 1, 1});
}

// The tab contents: rows laid out downwards from `y`, which starts scrolled; hits are cut
// to the visible band so that a row scrolled under the tabs cannot be clicked there.
struct Sheet {
    App& a;
    cairo_t* cr;
    const Palette& p;
    double x, w;        // the content column
    double top, bottom; // the visible band
    double y;           // the next row's top

    bool hot(const std::string& id) const { return a.m_over_hover == id; }

    void hit(double hx, double hy, double hw, double hh, const std::string& id, int n = 0) {
        const double y0 = std::max(hy, top), y1 = std::min(hy + hh, bottom);
        if (y1 > y0) a.m_over_hits.push_back(Hit{hx, y0, hw, y1 - y0, id, n, ""});
    }

    double wrap(const std::string& s, double wx, double wy, double ww, const Rgba& c, double size,
                bool bold = false) {
        return gfx::wrapped(cr, s, wx, wy, ww, &c, ts(size, bold));
    }

    void heading(const std::string& s) {
        y += 14;
        y += wrap(s, x, y, w, p.text_strong, 12.5, true) + 10;
    }

    void paragraph(const std::string& s, const Rgba& c, double size = 12) {
        y += wrap(s, x, y, w, c, size) + 12;
    }

    void switch_row(const std::string& label, const std::string& note, const std::string& name,
                    bool on) {
        const double lw = w - 60;
        double h = std::max(22.0, wrap(label, x, y + 2, lw, p.text, 13));
        if (!note.empty()) h += 4 + wrap(note, x, y + h + 4, lw, p.dim, 12);
        toggle_switch(cr, x + w - 40, y, on, p);
        hit(x, y - 4, w, h + 8, "set:sw:" + name);
        y += h + 14;
    }

    // A label and a segmented control 240 to its right; where that does not fit, the
    // control moves below the label, and its text shrinks before it passes the edge.
    void segment_row(const std::string& label, const std::string& name,
                     const std::vector<std::string>& labels, int selected) {
        const double lh = wrap(label, x, y + 7, std::min(220.0, w), p.text, 13);
        double size = 12.5;
        double sx = x + 240, room = w - 240;
        if (gfx::segmented_width(cr, labels, size) > room) {
            sx = x;
            room = w;
            y += lh + 10;
        }
        while (size > 9 && gfx::segmented_width(cr, labels, size) > room) size -= 0.5;
        const std::string prefix = "set:seg:" + name + ":";
        int hovered = -1;
        if (starts(a.m_over_hover, prefix.c_str()))
            hovered = std::atoi(a.m_over_hover.c_str() + prefix.size());
        std::vector<Hit> hits;
        cairo_save(cr);
        cairo_rectangle(cr, x, top, w, bottom - top);
        cairo_clip(cr);
        gfx::segmented_bar(cr, sx, y, 30, labels, selected, hovered, p, size, hits, prefix);
        cairo_restore(cr);
        for (const Hit& h : hits) hit(h.x, h.y, std::min(h.w, x + w - h.x), h.h, h.id, h.n);
        y += std::max(42.0, sx == x ? 42.0 : lh + 16);
    }

    // A button at (bx, y) on the current row; returns its width.
    double button_at(double bx, const std::string& label, const std::string& id, bool primary) {
        const double bw = std::min(w, std::max(120.0, gfx::text_width(cr, label, 12.5, true) + 36));
        button(cr, bx, y, bw, 36, label, primary, hot(id), p);
        hit(bx, y, bw, 36, id);
        return bw;
    }

    void link(const std::string& label, const std::string& target, double lx) {
        const std::string id = "set:link:" + target;
        const double lw = std::min(gfx::text_width(cr, label, 12.5, false), x + w - lx);
        gfx::TextStyle st = ts(12.5);
        st.max_w = x + w - lx;
        gfx::text(cr, label, lx, y, p.accent, st);
        if (hot(id)) {
            cairo_move_to(cr, lx, y + 17.5);
            cairo_line_to(cr, lx + lw, y + 17.5);
            gfx::set(cr, p.accent);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
        }
        hit(lx, y, lw, 18, id);
    }
};

std::string website() {
    return VELMORA_WEBSITE;
}
std::string mail() {
    return std::string("mailto:") + VELMORA_SUPPORT_MAIL;
}

// ---- tabs -------------------------------------------------------------------------------

void tab_general(Sheet& s) {
    App& a = s.a;
    const Settings& st = a.m_settings;
    std::string current = L10n::tr("set.lang.auto");
    if (st.language != "auto")
        for (const auto& l : L10n::available())
            if (l.code == st.language) current = l.native_name;
    const double lh =
        s.wrap(L10n::tr("set.language"), s.x, s.y + 9, std::min(220.0, s.w), s.p.text, 13);
    const double bx = s.w > 480 ? s.x + 240 : s.x;
    if (bx == s.x) s.y += lh + 14;
    const double bw =
        std::min(s.x + s.w - bx, std::max(220.0, gfx::text_width(s.cr, current, 12.5, true) + 60));
    button(s.cr, bx, s.y, bw, 36, "", false, s.hot("set:lang"), s.p);
    gfx::text(s.cr, current, bx + 14, s.y + 18, s.p.text,
              fitted(s.cr, current, ts(12.5, true, gfx::Align::Left, true), bw - 44));
    gfx::text(s.cr, "›", bx + bw - 14, s.y + 18, s.p.dim, ts(16, true, gfx::Align::Right, true));
    s.hit(bx, s.y, bw, 36, "set:lang");
    s.y += std::max(48.0, lh + 22);

    s.heading(L10n::tr("set.display"));
    const int theme = st.theme == "dark" ? 1 : st.theme == "light" ? 2 : 0;
    s.segment_row(
        L10n::tr("set.theme"), "theme",
        {L10n::tr("set.theme.auto"), L10n::tr("set.theme.dark"), L10n::tr("set.theme.light")},
        theme);
    s.segment_row(L10n::tr("set.units"), "units",
                  {"kB/s … GB/s … TB/s", "Mbit/s … Gbit/s … Tbit/s"}, st.bits ? 1 : 0);
    std::vector<std::string> iv;
    int sel = -1;
    for (int i = 0; i < 3; ++i) {
        iv.push_back(fmt::number(kIntervals[i] / 1000.0, kIntervals[i] % 1000 ? 1 : 0) + " s");
        if (kIntervals[i] == st.interval_ms) sel = i;
    }
    s.segment_row(L10n::tr("set.interval"), "interval", iv, sel);
    s.switch_row(L10n::tr("set.animate"), L10n::tr("set.animate_note"), "animate", st.animate);

    s.heading(L10n::tr("set.window"));
    s.switch_row(L10n::tr("set.autostart"), "", "autostart", a.m_autostart);
    s.switch_row(L10n::tr("set.ontop"), "", "ontop", st.always_on_top);
    s.switch_row(L10n::tr("set.mini_ontop"), "", "mini_ontop", st.mini_on_top);
    s.paragraph(L10n::tr("set.window_note"), s.p.dim);
}

// The sum line of the minimal view shows when chosen, or when no listed device is.
bool sum_line_shown(const App& a) {
    const auto& chosen = a.m_settings.mini_devices;
    if (chosen.count("*")) return true;
    for (const auto& [name, st] : a.m_if)
        if (chosen.count(name)) return false;
    return true;
}

void tab_devices(Sheet& s) {
    App& a = s.a;
    const Settings& st = a.m_settings;
    s.switch_row(L10n::tr("set.show_inactive"), "", "inactive", st.show_inactive);
    s.switch_row(L10n::tr("set.show_virtual"), "", "virtual", st.show_virtual);
    s.switch_row(L10n::tr("set.show_loopback"), "", "loopback", st.show_loopback);

    s.heading(L10n::tr("set.devices"));
    s.paragraph(L10n::tr("set.devices_note"), s.p.dim);

    // Name and type share what the three switch columns leave.
    const double sw = std::clamp(s.w * 0.14, 64.0, 120.0);
    const double name_w = (s.w - 3 * sw) * 0.42, kind_w = s.w - 3 * sw - name_w;
    const double cx[5] = {s.x, s.x + name_w, s.x + name_w + kind_w, s.x + name_w + kind_w + sw,
                          s.x + name_w + kind_w + 2 * sw};
    const char* heads[5] = {"set.col.device", "set.col.kind", "set.col.show", "set.col.mini",
                            "set.col.total"};
    double head_h = 18;
    for (int i = 0; i < 5; ++i) {
        const double cw = (i < 2 ? (i == 0 ? name_w : kind_w) : sw) - 8;
        head_h = std::max(head_h, gfx::wrapped(s.cr, L10n::tr(heads[i]), cx[i], s.y, cw, &s.p.dim,
                                               ts(11.5, true)));
    }
    s.y += head_h + 6;
    cairo_move_to(s.cr, s.x, s.y + 0.5);
    cairo_line_to(s.cr, s.x + s.w, s.y + 0.5);
    gfx::set(s.cr, s.p.panel_edge);
    cairo_set_line_width(s.cr, 1);
    cairo_stroke(s.cr);

    auto row = [&](const std::string& name, const std::string& kind, bool show, bool mini,
                   int total) {
        const std::string shown = name == "*" ? "Σ" : name;
        gfx::text(s.cr, shown, cx[0], s.y + 18, s.p.text,
                  fitted(s.cr, shown, ts(13, name == "*", gfx::Align::Left, true), name_w - 10));
        gfx::text(s.cr, kind, cx[1], s.y + 18, s.p.dim,
                  fitted(s.cr, kind, ts(12.5, false, gfx::Align::Left, true), kind_w - 10));
        const struct {
            int col;
            const char* what;
            int on;
        } sws[3] = {{2, "show", show ? 1 : 0}, {3, "mini", mini ? 1 : 0}, {4, "total", total}};
        for (const auto& k : sws) {
            if (k.on < 0) continue;
            toggle_switch(s.cr, cx[k.col], s.y + 7, k.on == 1, s.p);
            s.hit(cx[k.col], s.y + 7, 40, 22, std::string("set:dev:") + k.what + ":" + name);
        }
        s.y += 36;
    };
    // The sum row's overview switch stores "*" in the hidden set like a device name.
    row("*", L10n::tr("set.kind.sum"), !st.hidden.count("*"), sum_line_shown(a), -1);
    for (IfState* d : a.ordered(false))
        row(d->info.name, L10n::tr(net::kind_key(d->info.kind)), !st.hidden.count(d->info.name),
            st.mini_devices.count(d->info.name) > 0, a.counts(d->info) ? 1 : 0);
    s.y += 14;
    s.button_at(s.x, L10n::tr("set.devices_reset"), "set:btn:devreset", false);
    s.y += 50;
}

void tab_connections(Sheet& s) {
    const Settings& st = s.a.m_settings;
    s.paragraph(L10n::tr("set.resolve_note"), s.p.dim);
    s.switch_row(L10n::tr("chip.resolve"), "", "resolve", st.resolve_names);
    s.switch_row(L10n::tr("chip.local"), "", "local", st.show_local_conns);
    s.switch_row(L10n::tr("chip.listening"), "", "listen", st.show_listening);
    s.switch_row(L10n::tr("chip.group"), "", "group", st.group_programs);

    s.heading(L10n::tr("set.howitworks"));
    s.paragraph(L10n::tr("set.howitworks_text"), s.p.text, 12.5);

    if (paths::is_sandboxed()) {
        s.heading(L10n::tr("set.sandbox"));
        s.paragraph(L10n::tr("set.sandbox_text"), s.p.text, 12.5);
        const std::string copy =
            L10n::tr(SDL_GetTicks() < s.a.m_copied_until ? "snap.copied" : "btn.copy");
        const double bw = std::max(110.0, gfx::text_width(s.cr, copy, 12.5, true) + 34);
        const double tw = s.w - bw - 40;
        const double th = gfx::wrapped(s.cr, kSnapLines, 0, 0, tw, nullptr, ts(12, true));
        const double bh = std::max(th, 34.0) + 28;
        gfx::display(s.cr, s.x, s.y, s.w, bh, s.p, false);
        s.wrap(kSnapLines, s.x + 14, s.y + 14, tw, s.p.up, 12, true);
        const double save_y = s.y;
        s.y += (bh - 36) / 2;
        s.button_at(s.x + s.w - 12 - bw, copy, "set:btn:copycmd", true);
        s.y = save_y + bh + 12;
        s.paragraph(L10n::tr("hint.restart"), s.p.dim);
    }

    s.heading(L10n::tr("tab.statistics"));
    s.paragraph(L10n::tr("set.stats_text"), s.p.text, 12.5);
    s.button_at(s.x, L10n::tr("set.stats_reset"), "set:btn:statsreset", false);
    s.y += 50;
}

void tab_about(Sheet& s) {
    s.y += s.wrap("Velmora", s.x, s.y, s.w, s.p.text_strong, 20, true) + 6;
    s.paragraph(L10n::tr("about.version", version::kVersion, version::kBuild), s.p.text, 12.5);
    s.paragraph(L10n::tr("about.comment"), s.p.text, 12.5);
    s.paragraph("© The Velmora developers", s.p.dim);

    const std::string report = L10n::tr("about.report");
    const double rw = gfx::text_width(s.cr, report, 12.5, false);
    if (L10n::isRTL())
        gfx::text(s.cr, report, s.x + s.w, s.y, s.p.text, ts(12.5, false, gfx::Align::Right));
    else
        gfx::text(s.cr, report, s.x, s.y, s.p.text, ts(12.5));
    // A right-to-left label runs from the right, so the address goes below it there.
    const bool wraps =
        L10n::isRTL() || rw + 12 + gfx::text_width(s.cr, VELMORA_SUPPORT_MAIL, 12.5, false) > s.w;
    if (wraps) s.y += 22;
    s.link(VELMORA_SUPPORT_MAIL, mail(), wraps ? s.x : s.x + rw + 8);
    s.y += 26;
    s.link(website(), website(), s.x);
    s.y += 30;
    s.paragraph(L10n::tr("about.formats"), s.p.text, 12.5);
    s.y -= 6;
    s.link(website(), website(), s.x);
    s.y += 30;
    s.paragraph(L10n::tr("about.package", paths::package_kind()), s.p.text, 12.5);

    // What this build really links, with the licence of each.
    s.heading(L10n::tr("about.third_party"));
    for (const char* line : {"libsodium — ISC · SDL2 — zlib · Cairo, Pango, GLib — LGPL · "
                             "HarfBuzz — MIT",
                             "DB-IP Lite country data — CC BY 4.0 · Unicode CLDR — Unicode License",
                             "pci.ids / usb.ids — BSD-3-Clause"})
        s.y += s.wrap(line, s.x, s.y, s.w, s.p.dim, 12) + 4;
    s.y += 8;
    s.heading(L10n::tr("about.disclaimer.title"));
    s.paragraph(L10n::tr("about.disclaimer.text"), s.p.dim);
}

void tab_keys(Sheet& s) {
    struct Key {
        const char* keys; // a translation key when it begins with a lower-case letter
        const char* action;
    };
    static constexpr Key kKeys[] = {
        {"Ctrl+1 … Ctrl+5", "keys.tabs"},
        {"Ctrl+M", "tip.mini"},
        {"Ctrl+F", "keys.filter"},
        {"Ctrl+,", "tip.settings"},
        {"F10", "keys.menu"},
        {"keys.wheel", "keys.scroll"},
        {"keys.drag", "dev.drag_hint"},
        {"keys.rightclick", "keys.context"},
        {"Esc", "keys.escape"},
        {"Ctrl+Q", "mini.quit"},
    };
    auto keys_text = [](const char* k) {
        return std::islower(static_cast<unsigned char>(k[0])) ? L10n::tr(k) : std::string(k);
    };
    double kw = 0;
    for (const Key& k : kKeys)
        kw = std::max(kw, gfx::text_width(s.cr, keys_text(k.keys), 13, true));
    kw = std::min(kw + 28, s.w * 0.4);
    for (const Key& k : kKeys) {
        const double h1 = s.wrap(keys_text(k.keys), s.x, s.y, kw - 16, s.p.text_strong, 13, true);
        const double h2 = s.wrap(L10n::tr(k.action), s.x + kw, s.y, s.w - kw, s.p.text, 13);
        s.y += std::max(h1, h2) + 12;
    }
}

} // namespace

// ---- panel ------------------------------------------------------------------------------

void App::paint_settings(cairo_t* cr, double W, double H) {
    const Palette& p = m_pal;
    cairo_rectangle(cr, 0, 0, W, H);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
    cairo_fill(cr);
    const double pw = std::min(W - 40, 980.0), ph = std::min(H - 40, 700.0);
    const double x = (W - pw) / 2, y = (H - ph) / 2;
    gfx::modal_panel(cr, x, y, pw, ph, p);
    m_over_hits.push_back(Hit{x, y, pw, ph, "set:pane", 0, ""});

    gfx::TextStyle title = ts(17, true);
    title.max_w = pw - 48;
    gfx::text(cr, L10n::tr("tip.settings"), x + 24, y + 20, p.text_strong, title);

    // Tabs: their text shrinks before the row passes the panel's edge.
    std::vector<std::string> tabs;
    for (const char* k : {"set.tab.general", "set.tab.devices", "set.tab.connections",
                          "set.tab.about", "mi.shortcuts"})
        tabs.push_back(L10n::tr(k));
    double size = 13;
    while (size > 9 && gfx::segmented_width(cr, tabs, size) > pw - 48) size -= 0.5;
    int hovered = -1;
    if (starts(m_over_hover, "set:tab:")) hovered = std::atoi(m_over_hover.c_str() + 8);
    gfx::segmented_bar(cr, x + 24, y + 54, 34, tabs, m_set_tab, hovered, p, size, m_over_hits,
                       "set:tab:");

    const double top = y + 104, bottom = y + ph - 68;
    m_set_view_h = std::max(0.0, bottom - top);
    m_set_scroll = std::clamp(m_set_scroll, 0.0, std::max(0.0, m_set_content_h - m_set_view_h));
    cairo_save(cr);
    cairo_rectangle(cr, x + 1, top, pw - 2, bottom - top);
    cairo_clip(cr);
    Sheet s{*this, cr, p, x + 28, pw - 56, top, bottom, top - m_set_scroll};
    switch (m_set_tab) {
    case 0:
        tab_general(s);
        break;
    case 1:
        tab_devices(s);
        break;
    case 2:
        tab_connections(s);
        break;
    case 3:
        tab_about(s);
        break;
    default:
        tab_keys(s);
        break;
    }
    cairo_restore(cr);
    m_set_content_h = s.y + m_set_scroll - top;
    // A tab that became shorter (another tab, fewer devices) keeps its offset in range.
    m_set_scroll = std::clamp(m_set_scroll, 0.0, std::max(0.0, m_set_content_h - m_set_view_h));

    // A thin bar shows where the view lies in a longer tab.
    if (m_set_content_h > m_set_view_h + 1) {
        const double frac = m_set_view_h / m_set_content_h;
        const double bh = std::max(24.0, m_set_view_h * frac);
        const double by = top + (m_set_view_h - bh) * m_set_scroll /
                                    std::max(1.0, m_set_content_h - m_set_view_h);
        gfx::rounded(cr, x + pw - 10, by, 4, bh, 2);
        gfx::set(cr, p.faint);
        cairo_fill(cr);
    }
    cairo_move_to(cr, x + 16, bottom + 0.5);
    cairo_line_to(cr, x + pw - 16, bottom + 0.5);
    gfx::set(cr, p.panel_edge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    const std::string close = L10n::tr("btn.close");
    const double bw = std::max(120.0, gfx::text_width(cr, close, 12.5, true) + 36);
    const double bx = x + pw - 24 - bw, by = y + ph - 52;
    button(cr, bx, by, bw, 36, close, true, m_over_hover == "set:close", p);
    m_over_hits.push_back(Hit{bx, by, bw, 36, "set:close", 0, ""});
}

// ---- languages panel --------------------------------------------------------------------

void App::paint_languages(cairo_t* cr, double W, double H) {
    const Palette& p = m_pal;
    cairo_rectangle(cr, 0, 0, W, H);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
    cairo_fill(cr);
    const double pw = std::min(W - 60, 860.0), ph = std::min(H - 60, 600.0);
    const double x = (W - pw) / 2, y = (H - ph) / 2;
    gfx::modal_panel(cr, x, y, pw, ph, p);
    m_over_hits.push_back(Hit{x, y, pw, ph, "lang:panel", 0, ""});
    gfx::TextStyle title = ts(17, true, gfx::Align::Left, true);
    title.max_w = pw - 48;
    gfx::text(cr, L10n::tr("set.language"), x + 24, y + 28, p.text_strong, title);

    std::vector<L10n::LanguageInfo> entries = {{"auto", L10n::tr("set.lang.auto"), L10n::isRTL()}};
    for (auto& l : L10n::available()) entries.push_back(std::move(l));

    const int cols = std::max(1, static_cast<int>(std::floor((pw - 40) / 200)));
    const double cw = (pw - 40) / cols;
    const int rows = (static_cast<int>(entries.size()) + cols - 1) / cols;
    const double top = y + 54, bottom = y + ph - 16, list_h = std::max(0.0, bottom - top);
    m_lang_scroll = std::clamp(m_lang_scroll, 0.0, std::max(0.0, rows * 30 - list_h));

    cairo_save(cr);
    cairo_rectangle(cr, x, top, pw, list_h);
    cairo_clip(cr);
    for (size_t i = 0; i < entries.size(); ++i) {
        const int r = static_cast<int>(i) / cols, c = static_cast<int>(i) % cols;
        const double ex = x + 20 + c * cw, ey = top + r * 30 - m_lang_scroll;
        if (ey + 30 <= top || ey >= bottom) continue;
        const std::string id = "lang:" + entries[i].code;
        const bool chosen = entries[i].code == m_settings.language;
        if (chosen || m_over_hover == id) {
            gfx::rounded(cr, ex + 2, ey + 2, cw - 4, 26, 6);
            gfx::set(cr, chosen ? p.chip_on : p.hover);
            cairo_fill(cr);
        }
        // A left-to-right name is cut at the cell's end; a right-to-left one is never that
        // long, and a layout of fixed width would move it to the cell's far end.
        gfx::TextStyle st = ts(13, chosen, gfx::Align::Left, true);
        if (!entries[i].rtl) st.max_w = cw - 24;
        gfx::text(cr, entries[i].native_name, ex + 12, ey + 15, chosen ? p.chip_on_text : p.text,
                  st);
        const double y0 = std::max(ey, top), y1 = std::min(ey + 30, bottom);
        m_over_hits.push_back(Hit{ex, y0, cw, y1 - y0, id, 0, ""});
    }
    cairo_restore(cr);
}

// ---- clicks -----------------------------------------------------------------------------

void App::settings_click(const Hit& hit) {
    const std::string& id = hit.id;
    Settings& st = m_settings;
    if (id == "set:close") {
        m_modal = Modal::None;
    } else if (starts(id, "set:tab:")) {
        m_set_tab = std::clamp(hit.n, 0, 4);
        m_set_scroll = 0;
    } else if (id == "set:lang") {
        m_modal = Modal::Languages;
        m_lang_scroll = 0;
    } else if (starts(id, "set:link:")) {
        open_url(id.substr(9));
    } else if (id == "set:sw:autostart") {
        if (autostart::set(!m_autostart, "")) m_autostart = !m_autostart;
    } else if (starts(id, "set:sw:")) {
        const std::string name = id.substr(7);
        const std::pair<const char*, bool*> flags[] = {
            {"animate", &st.animate},        {"ontop", &st.always_on_top},
            {"mini_ontop", &st.mini_on_top}, {"inactive", &st.show_inactive},
            {"virtual", &st.show_virtual},   {"loopback", &st.show_loopback},
            {"local", &st.show_local_conns}, {"listen", &st.show_listening},
            {"group", &st.group_programs},   {"resolve", &st.resolve_names},
        };
        for (const auto& [n, flag] : flags)
            if (name == n) *flag = !*flag;
        settings_changed(false); // passes resolve_names to the tracker
    } else if (starts(id, "set:seg:")) {
        const int n = std::clamp(hit.n, 0, 2);
        if (starts(id, "set:seg:theme:")) {
            st.theme = kThemes[n];
            force_theme.clear(); // a choice made now outranks the command line
            apply_theme();
        } else if (starts(id, "set:seg:units:")) {
            st.bits = n == 1;
        } else if (starts(id, "set:seg:interval:")) {
            st.interval_ms = kIntervals[n];
            {
                std::lock_guard<std::mutex> lock(m_qmutex);
                m_interval = st.interval_ms;
            }
            reset_history();
            m_qcv.notify_all();
        }
        settings_changed(false);
    } else if (starts(id, "set:dev:")) {
        const std::string rest = id.substr(8);
        const size_t colon = rest.find(':');
        const std::string what = rest.substr(0, colon), dev = rest.substr(colon + 1);
        auto flip = [&dev](std::set<std::string>& set) {
            if (!set.erase(dev)) set.insert(dev);
        };
        if (what == "show") {
            flip(st.hidden);
        } else if (what == "mini") {
            flip(st.mini_devices);
        } else if (what == "total") {
            const auto it = m_if.find(dev);
            const bool was = it != m_if.end() && counts(it->second.info);
            st.total_on.erase(dev);
            st.total_off.erase(dev);
            // A device at its default gets the opposite override; one that was overridden
            // is back at its default with the overrides gone.
            if (it != m_if.end() && was == it->second.info.counts_in_total)
                (was ? st.total_off : st.total_on).insert(dev);
        }
        settings_changed(false);
    } else if (id == "set:btn:devreset") {
        st.hidden.clear();
        st.mini_devices.clear();
        st.total_on.clear();
        st.total_off.clear();
        st.card_order.clear();
        settings_changed(false);
    } else if (id == "set:btn:copycmd") {
        copy(kSnapLines);
        m_copied_until = SDL_GetTicks() + 2000;
    } else if (id == "set:btn:statsreset") {
        confirm(L10n::tr("set.stats_confirm"), L10n::tr("set.stats_reset"), [this] {
            m_usage.reset();
            m_hist = history::Store();
            m_hist.save(m_config_dir + "/history.dat");
            m_usage.save();
            logger::info("usage history reset by the user");
            m_dirty = true;
        });
    }
}

void App::languages_click(const Hit& hit) {
    if (!starts(hit.id, "lang:") || hit.id == "lang:panel") return;
    m_settings.language = hit.id.substr(5);
    L10n::clearFallback();
    L10n::setLanguage(m_settings.language);
    m_modal = Modal::Settings;
    settings_changed(true);
}

// ---- re-application ---------------------------------------------------------------------

void App::settings_changed(bool relayout) {
    for (auto& [name, s] : m_if) s.counts = counts(s.info);
    if (m_win)
        window_on_top(m_win, m_settings.mini ? m_settings.mini_on_top : m_settings.always_on_top);
    m_tracker.set_resolve(m_settings.resolve_names);
    if (relayout) {
        // The titles are rebuilt in the new language by the next fill.
        for (Table* t : {&m_conn, &m_proc, &m_dest}) t->cols.clear();
    }
    if (m_settings.tab >= 1 && m_settings.tab <= 3) fill_table(m_settings.tab);
    save_later();
    m_dirty = m_over_dirty = true;
}
