// Page painters not built yet: the overview, the statistics and table pages, the mini view.
// FIXME: each page arrives with its own work; until then they paint nothing.

#include "app.h"

double App::paint_overview(cairo_t*, double) { return 0; }
double App::paint_stats(cairo_t*, double) { return 0; }
void App::paint_table_page(cairo_t*, double, double, int) {}
void App::paint_mini(cairo_t* cr, double w, double h, bool over) {
    if (!over) paint_window_bg(cr);
    (void)w;
    (void)h;
}

void App::paint_card(cairo_t* cr, const IfState&, double x, double y, double w, double h) {
    gfx::card(cr, x, y, w, h, m_pal, false);
}
