// FIXME: each page arrives with its own work; until then they paint nothing and ignore
// their clicks.

#include "app.h"


// ---- Snap permissions ----
void App::open_snap_panel() {
    if (m_menu.open) close_menu();
    m_modal = Modal::Snap;
    m_over_dirty = true;
}
void App::snap_click(const std::string&) {}
void App::paint_snap_modal(cairo_t*, double, double) {}
