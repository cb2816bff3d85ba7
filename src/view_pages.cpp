// Pages not built yet: the overview and the Snap permissions panel. Input already reaches
// them by these names.
// FIXME: each page arrives with its own work; until then they paint nothing and ignore
// their clicks.

#include "app.h"

// ---- overview ----
double App::paint_overview(cairo_t*, double) { return 0; }
void App::paint_card(cairo_t* cr, const IfState&, double x, double y, double w, double h) {
    gfx::card(cr, x, y, w, h, m_pal, false);
}
void App::ov_press(const Hit&, double, double, int, int) {}
void App::ov_release() {}
void App::ov_motion(double, double) {}

// ---- Snap permissions ----
void App::open_snap_panel() {
    if (m_menu.open) close_menu();
    m_modal = Modal::Snap;
    m_over_dirty = true;
}
void App::snap_click(const std::string&) {}
void App::paint_snap_modal(cairo_t*, double, double) {}
