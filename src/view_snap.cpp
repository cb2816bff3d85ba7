// The Snap permissions panel: which of the three observation plugs are connected, what
// each allows, and the one terminal line that connects them all. Painted as a modal and
// inline on an empty table page.

#include "app.h"

#include "l10n.h"
#include "paths.h"

#include <algorithm>
#include <cstdlib>
#include <sys/wait.h>

namespace {

constexpr const char* kPlugs[3] = {"network-observe", "system-observe", "hardware-observe"};
constexpr const char* kPlugText[3] = {"snap.net", "snap.sys", "snap.hw"};

gfx::TextStyle ts(double size, bool bold = false) {
    gfx::TextStyle st;
    st.size = size;
    st.bold = bold;
    return st;
}

gfx::TextStyle label_style() {
    gfx::TextStyle st = ts(12.5, true);
    st.align = gfx::Align::Center;
    st.middle = true;
    return st;
}

void check_mark(cairo_t* cr, double cx, double cy, const Rgba& c) {
    cairo_move_to(cr, cx - 5, cy);
    cairo_line_to(cr, cx - 1.5, cy + 4);
    cairo_line_to(cr, cx + 5.5, cy - 5);
    gfx::set(cr, c);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
}

void cross(cairo_t* cr, double cx, double cy, const Rgba& c) {
    cairo_move_to(cr, cx - 5, cy - 5);
    cairo_line_to(cr, cx + 5, cy + 5);
    cairo_move_to(cr, cx + 5, cy - 5);
    cairo_line_to(cr, cx - 5, cy + 5);
    gfx::set(cr, c);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
}

} // namespace

void App::check_snap_plugs() {
    // Outside a Snap nothing is confined, so nothing is asked.
    const bool snap = paths::package_kind()[0] == 's';
    for (int i = 0; i < 3; ++i) {
        m_snap_plug[i] = true;
        if (!snap) continue;
        const std::string cmd = std::string("snapctl is-connected ") + kPlugs[i] + " 2>/dev/null";
        const int r = std::system(cmd.c_str());
        m_snap_plug[i] = r != -1 && WIFEXITED(r) && WEXITSTATUS(r) == 0;
    }
}

bool App::snap_all_connected() const {
    return m_snap_plug[0] && m_snap_plug[1] && m_snap_plug[2];
}

void App::open_snap_panel() {
    check_snap_plugs();
    if (m_menu.open) close_menu();
    m_modal = Modal::Snap;
    m_over_dirty = true;
}

std::string App::snap_command() {
    return "sudo sh -c 'for i in network-observe system-observe hardware-observe; do snap "
           "connect velmora:$i; done'";
}

bool App::snap_click(const std::string& id) {
    if (id == "snap:copy") {
        copy(snap_command());
        m_copied_until = SDL_GetTicks() + 2000;
        m_dirty = m_over_dirty = true;
        return true;
    }
    if (id == "snap:close") {
        m_modal = Modal::None;
        m_over_dirty = true;
        return true;
    }
    return id == "snap:panel";
}

double App::paint_snap_panel(cairo_t* cr, double x, double y, double w, std::vector<Hit>& hits,
                             const std::string& hover, bool modal) {
    const Palette& p = m_pal;
    const double iw = w - 52;
    const std::string cmd = snap_command();
    const std::string intro = L10n::tr("snap.intro"), howto = L10n::tr("snap.howto"),
                      hint = L10n::tr("hint.restart");

    // Heights first, measured with the same fonts on a scratch surface.
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* m = cairo_create(scratch);
    // A plug's text starts 24 right of its mark and ends at the intro's right edge.
    const double plug_w = iw - 70 - 24;
    const double intro_h = gfx::wrapped(m, intro, 0, 0, iw - 70, nullptr, ts(12.5));
    double plug_h[3];
    for (int i = 0; i < 3; ++i)
        plug_h[i] = std::max(
            22.0, gfx::wrapped(m, L10n::tr(kPlugText[i]), 0, 0, plug_w, nullptr, ts(12)) + 8);
    const double cmd_h = gfx::wrapped(m, cmd, 0, 0, iw - 150, nullptr, ts(12, true));
    const double hint_h = gfx::wrapped(m, hint, 0, 0, iw, nullptr, ts(12));
    cairo_destroy(m);
    cairo_surface_destroy(scratch);
    const double head_h = std::max(56.0, intro_h + 30) + 38;
    double h = head_h;
    for (double ph : plug_h) h += ph;
    h += 12 + 22 + (cmd_h + 28) + 12 + hint_h + 24 + (modal ? 52 : 0);

    hits.push_back(Hit{x, y, w, h, "snap:panel", 0, ""});
    gfx::rack(cr, x, y, w, h, p, p.warn, true, 7, false);
    gfx::app_logo(cr, x + 52, y + 50, 26, p);
    gfx::TextStyle title = ts(16, true);
    title.max_w = w - 96 - 26;
    gfx::text(cr, L10n::tr("snap.title"), x + 96, y + 34 - 16, p.text_strong, title);
    gfx::wrapped(cr, intro, x + 96, y + 40, iw - 70, &p.text, ts(12.5));

    double ry = std::max(y + 80, y + 40 + intro_h) + 14;
    for (int i = 0; i < 3; ++i) {
        if (m_snap_plug[i])
            check_mark(cr, x + 96 + 6, ry + 9, p.ok);
        else
            cross(cr, x + 96 + 6, ry + 9, p.err);
        gfx::wrapped(cr, L10n::tr(kPlugText[i]), x + 96 + 24, ry + 1, plug_w,
                     m_snap_plug[i] ? &p.dim : &p.text, ts(12));
        ry += plug_h[i];
    }

    const double hy = ry + 12;
    gfx::wrapped(cr, howto, x + 26, hy, iw, &p.text, ts(12.5));
    const double box_y = hy + 22, box_h = cmd_h + 28;
    gfx::display(cr, x + 26, box_y, iw, box_h, p, false);
    gfx::wrapped(cr, cmd, x + 26 + 14, box_y + 14, iw - 150, &p.up, ts(12, true));

    const std::string copy_label =
        L10n::tr(SDL_GetTicks() < m_copied_until ? "snap.copied" : "btn.copy");
    const double bw = std::max(110.0, gfx::text_width(cr, copy_label, 12.5, true) + 34);
    const double bx = x + 26 + iw - 12 - bw, by = box_y + (box_h - 34) / 2;
    gfx::rounded(cr, bx, by, bw, 34, 8);
    Rgba c = p.chip_on;
    if (hover == "snap:copy")
        c = Rgba{std::min(1.0, c.r + 0.08), std::min(1.0, c.g + 0.08), std::min(1.0, c.b + 0.08),
                 c.a};
    gfx::set(cr, c);
    cairo_fill(cr);
    gfx::text(cr, copy_label, bx + bw / 2, by + 17, p.chip_on_text, label_style());
    hits.push_back(Hit{bx, by, bw, 34, "snap:copy", 0, ""});

    gfx::wrapped(cr, hint, x + 26, box_y + box_h + 12, iw, &p.dim, ts(12));

    if (modal) {
        const std::string close = L10n::tr("btn.close");
        const double cw = std::max(110.0, gfx::text_width(cr, close, 12.5, true) + 36);
        const double cx = x + w - 26 - cw, cy = y + h - 24 - 36;
        gfx::rounded(cr, cx, cy, cw, 36, 8);
        gfx::set(cr, hover == "snap:close" ? p.button_hot : p.button);
        cairo_fill_preserve(cr);
        gfx::set(cr, p.panel_edge);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        gfx::text(cr, close, cx + cw / 2, cy + 18, p.text, label_style());
        hits.push_back(Hit{cx, cy, cw, 36, "snap:close", 0, ""});
    }
    return h;
}

void App::paint_snap_modal(cairo_t* cr, double W, double H) {
    cairo_rectangle(cr, 0, 0, W, H);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
    cairo_fill(cr);
    const double pw = std::min(W - 40, 760.0);
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* m = cairo_create(scratch);
    std::vector<Hit> throwaway;
    const double h = paint_snap_panel(m, 0, 0, pw, throwaway, "", true);
    cairo_destroy(m);
    cairo_surface_destroy(scratch);
    paint_snap_panel(cr, (W - pw) / 2, std::max(20.0, (H - h) / 2), pw, m_over_hits, m_over_hover,
                     true);
}
