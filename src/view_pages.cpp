// Pages not built yet: the overview, the statistics page, the mini view and the
// Snap permissions panel. Input already reaches them by these names.
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

// ---- statistics ----
// The plan section stands in for the page until the page itself arrives.
double App::paint_stats(cairo_t* cr, double w) { return paint_plan(cr, 18, 18, w - 36) + 36; }

// ---- mini view ----
void App::paint_mini(cairo_t* cr, double w, double h, bool over) {
    if (!over) paint_window_bg(cr);
    (void)w;
    (void)h;
}
void App::mini_click(const std::string&, double, double, int, int) {}

// ---- Snap permissions ----
void App::open_snap_panel() {
    if (m_menu.open) close_menu();
    m_modal = Modal::Snap;
    m_over_dirty = true;
}
void App::snap_click(const std::string&) {}
void App::paint_snap_modal(cairo_t*, double, double) {}
