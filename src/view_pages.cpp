// Pages not built yet: the overview, the statistics and table pages, the mini view and the
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

// ---- tables ----
void App::paint_table_page(cairo_t*, double, double, int) {}
void App::table_click(int, const Hit&, double, double, int, int) {}
void App::fill_table(int) {}
void App::store_columns(int) {}

Table& App::table_of(int tab) { return tab == 1 ? m_conn : tab == 2 ? m_proc : m_dest; }

TextField* App::field_of(int tab) {
    switch (tab) {
    case 1: return &m_conn_field;
    case 2: return &m_proc_field;
    case 3: return &m_dest_field;
    default: return nullptr;
    }
}

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
