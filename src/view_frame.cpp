// Window frame: the header band (menu bar and toolbar) and the status bar.
// FIXME: menus, tabs and status texts arrive with the frame's own work; the bands are
// drawn as empty rack panels until then.

#include "app.h"

void App::paint_header(cairo_t* cr, double w) {
    gfx::rack(cr, 6, 6, w - 12, 88 - 12, m_pal, m_pal.accent, false, 1, false);
}

void App::paint_statusbar(cairo_t* cr, double w, double y) {
    cairo_rectangle(cr, 0, y, w, 26);
    gfx::set(cr, m_pal.surface);
    cairo_fill(cr);
    cairo_move_to(cr, 0, y + 0.5);
    cairo_line_to(cr, w, y + 0.5);
    gfx::set(cr, m_pal.border);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}
