// Pages not built yet: the statistics page, the mini view and the
// Snap permissions panel. Input already reaches them by these names.
// FIXME: each page arrives with its own work; until then they paint nothing and ignore
// their clicks.

#include "app.h"

// ---- statistics ----
double App::paint_stats(cairo_t*, double) { return 0; }

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
