// Pages not built yet: the overview, the statistics page and the mini view. Input already
// reaches them by these names.
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
double App::paint_stats(cairo_t*, double) { return 0; }

// ---- mini view ----
void App::paint_mini(cairo_t* cr, double w, double h, bool over) {
    if (!over) paint_window_bg(cr);
    (void)w;
    (void)h;
}
void App::mini_click(const std::string&, double, double, int, int) {}
