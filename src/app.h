// The application object: window, main loop, sampler hand-over, per-interface state,
// input, theme and placement. One instance per process; everything but the sampler thread
// runs on the UI thread.
#pragma once

#include "gfx.h"
#include "history.h"
#include "net_procs.h"
#include "net_stats.h"
#include "plan.h"
#include "settings.h"
#include "usage_store.h"

#include <SDL.h>
#include <array>
#include <atomic>
#include <cairo.h>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Fixed-capacity history of one rate; pushing never allocates.
class Ring {
public:
    void resize(size_t n) {
        m_d.assign(n, 0.0f);
        m_head = m_count = 0;
    }
    void push(double v) {
        if (m_d.empty()) return;
        m_d[m_head] = static_cast<float>(v);
        m_head = (m_head + 1) % m_d.size();
        if (m_count < m_d.size()) ++m_count;
    }
    size_t size() const { return m_count; }
    size_t capacity() const { return m_d.size(); }
    // i = 0 is the oldest sample.
    float at(size_t i) const { return m_d[(m_head + m_d.size() - m_count + i) % m_d.size()]; }

private:
    std::vector<float> m_d;
    size_t m_head = 0;
    size_t m_count = 0;
};

struct IfState {
    net::Interface info;
    net::Counters cur;
    net::Counters last;
    bool have_last = false;
    double rx = 0, tx = 0;
    double rx_pps = 0, tx_pps = 0;
    double err_ps = 0;
    double drop_ps = 0;
    double peak_rx = 0, peak_tx = 0;
    uint64_t sess_rx = 0, sess_tx = 0;
    Ring hrx, htx;
    bool counts = false;
};

// A clickable or hoverable region in logical window units.
struct Hit {
    double x = 0, y = 0, w = 0, h = 0;
    std::string id;
    int n = 0;
    std::string tip;
    bool contains(double px, double py) const {
        return x <= px && px < x + w && y <= py && py < y + h;
    }
};

// A single-line filter field; `caret` is a byte offset at a character boundary.
struct TextField {
    std::string text;
    size_t caret = 0;
    bool focus = false;
};

// One line of a table page. `keys` holds one sort key per column; NaN sorts that column by
// its text. `accent` 1 marks an active row, 2 paints its first cell in the warning colour.
struct Row {
    std::string id;
    std::vector<std::string> cells;
    std::vector<double> keys;
    std::string tooltip;
    bool dim = false;
    int accent = 0;
};

// One column of a table page. `prio` 1..5 is the order of hiding when the window is too
// narrow (5 first); 0 is never hidden automatically. `right` columns sort descending first.
struct Column {
    std::string key;
    std::string title;
    double weight = 0;
    double min_w = 0;
    bool right = false;
    int arrow = 0; // -1 download, +1 upload
    int prio = 0;
};

// The model of a table page; `widths` is laid out per paint, 0 for a hidden column.
struct Table {
    std::vector<Column> cols;
    std::vector<Row> rows;
    std::string sort_key;
    bool desc = true;
    std::string selected;
    std::vector<double> widths;
};

// True when the row passes the filter text: case-insensitive substring of a cell or the
// tooltip, or with "pid:" a process number between bars in the row id.
bool matches(const Row& row, const std::string& filter);

// Text that others choose (host names from reverse lookups, process names, command lines)
// made safe to lay out, copy or show as a tooltip: bytes that are not UTF-8 become U+FFFD,
// control characters their visible symbols (U+2400...), direction and line-separator
// controls U+FFFD; a text longer than `max_bytes` is cut at a character and ends in " …".
std::string plain_text(const std::string& s, size_t max_bytes = 240);

// The chart spans a user can choose, in seconds, and their short labels ("5 min", "1 h").
inline constexpr std::array<int, 9> kSpans = {60,    300,    900,     3600,    43200,
                                              86400, 604800, 2592000, 31536000};
std::string span_label(int seconds);
// The sampling interval as the status bar shows it: "1 s", "1.5 s" ("1,5 s" in German).
std::string interval_label(int ms);
// A device's colour by kind, and the translation key of its state ("state.connected" ...).
Rgba kind_color(net::Kind kind, const Palette& p);
const char* state_key(const net::Interface& info);
// The utilisation read-out of a card: "100 %", "72 %", "8.0 %"; empty without a link speed.
std::string utilisation_label(double rate, int64_t speed_mbps);

// One figure of the statistics page: a tile's label or a bar's date, and its bytes.
struct StatFigure {
    std::string label;
    usage::Sum sum;
};
// The six summary tiles of selection `s` on day `today` (YYYYMMDD), in page order.
std::vector<StatFigure> stats_tiles(const usage::Store& st, const std::string& s, int today);
// The bars of the 30-day chart, or with `months` of the 12-month chart, oldest first.
std::vector<StatFigure> stats_bars(const usage::Store& st, const std::string& s, int today,
                                   bool months);
int stats_tiles_per_row(double w);

namespace gfx {
// A segmented control (page tabs, span and mode switches): its width at `size` and its
// drawing, which adds one hit per segment with id `prefix` + index. Returns the width.
double segmented_width(cairo_t* cr, const std::vector<std::string>& labels, double size);
double segmented_bar(cairo_t* cr, double x, double y, double h,
                     const std::vector<std::string>& labels, int selected, int hovered,
                     const Palette& p, double size, std::vector<Hit>& hits,
                     const std::string& prefix);
} // namespace gfx

// Size and place of a view's window before the reachability test: the saved geometry of that
// view, else the defaults for display bounds `u`; `lines` is the mini view's strip count.
struct ModeBox {
    int x = 0, y = 0, w = 0, h = 0;
};
ModeBox mode_box(const Settings& st, bool mini, int lines, const SDL_Rect& u);

class App {
public:
    // One sampler result.
    struct Out {
        net::CounterSample counters;
        std::vector<net::Interface> ifaces;
        bool has_ifaces = false;
    };

    // One full-window drawing layer: a cairo image surface and its streaming texture, and
    // a copy of the pixels the texture holds (empty: unknown, upload everything).
    struct Layer {
        cairo_surface_t* surf = nullptr;
        SDL_Texture* tex = nullptr;
        int pw = 0, ph = 0;
        std::vector<unsigned char> shown;
    };

    enum class Modal {
        None = 0,
        Settings = 1,
        Confirm = 2,
        Crash = 3,
        Languages = 4,
        Snap = 5,
        Plan = 6
    };

    struct ColState {
        double w = 0;
        bool hidden = false;
    };
    // One entry of the destinations page's country panel.
    struct Country {
        std::string cc;
        double rx = 0, tx = 0;
        uint64_t bytes = 0;
        int hosts = 0;
    };
    struct MenuItem {
        std::string label;
        std::function<void()> act;
        std::string shortcut;
        bool checked = false;
        bool separator = false;
    };
    struct Menu {
        bool open = false;
        double x = 0, y = 0;
        std::vector<MenuItem> items;
        int bar = -1;
    };
    // Where the open pop-up menu lies in the window.
    struct MenuBox {
        double x = 0, y = 0, w = 0, h = 0;
    };

    // Heights of the full view's frame: header (menu bar and toolbar) and status bar.
    static constexpr double kHeaderH = 88;
    static constexpr double kStatusH = 26;

    App();
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // ---- lifecycle and main loop ----
    int run(int argc, char** argv);
    bool init_window();
    void loop();
    void compose();
    // Something on screen moves by itself, so the loop wakes every 4 ms instead of 100.
    bool animating() const;
    // The loop's timers: copied notice, frame offset, deferred save, caret, tooltip.
    void run_timers(Uint32 now);
    // Schedules the settings write 700 ms from now.
    void save_later();
    // Repaints a layer and uploads the rows that changed; false when the texture already
    // held exactly this picture.
    bool paint_layer(Layer& layer, bool opaque, const std::function<void(cairo_t*)>& paint);
    void paint_base(cairo_t* cr);
    void paint_over(cairo_t* cr);
    void save_now();
    void shutdown_window();
    void paint_window_bg(cairo_t* cr);

    // ---- sampler and ingestion ----
    void sampler_loop();
    void start_sampler();
    void stop_sampler();
    void drain_samples();
    void consume(Out& out);
    void apply_ifaces(const std::vector<net::Interface>& list);
    void reset_history();
    size_t ring_capacity() const;
    bool counts(const net::Interface& iface) const;
    bool visible(const IfState& s) const;
    std::vector<IfState*> ordered(bool only_visible);

    // ---- input (app_input.cpp) ----
    void handle(const SDL_Event& e);
    const Hit* hit_at(double x, double y, bool over) const;
    void key(const SDL_Keysym& k);
    void text_input(const char* text);
    void mouse_down(double x, double y, int button, int clicks);
    void mouse_up(double x, double y, int button);
    void mouse_move(double x, double y);
    void wheel(double x, double y, double dir);
    void scroll_page(double delta);
    void select_tab(int t);
    TextField* focused_field();
    void set_mini(bool on);
    void copy(const std::string& text);

    // ---- theme, scale and placement ----
    static bool system_prefers_dark();
    void apply_theme();
    void watch_system_theme();
    void unwatch_system_theme();
    void set_icon();
    void update_scale();
    void apply_mode(bool mini);
    // The size and place `apply_mode` gives the window of a view.
    ModeBox window_box(bool mini);
    void place(int x, int y, int w, int h);
    void remember_geometry();
    void open_url(const std::string& url);

    // ---- window frame (view_frame.cpp) ----
    void paint_header(cairo_t* cr, double w);
    void paint_statusbar(cairo_t* cr, double w, double y);
    // The status bar's left text: connections, connected devices, devices, a missing
    // socket-diagnostics hint.
    std::string status_counts() const;

    // ---- pop-up menus and tooltips (view_settings.cpp) ----
    std::vector<MenuItem> menubar_items(int index);
    void open_menubar(int index);
    void open_menu(double x, double y, std::vector<MenuItem> items);
    void close_menu();
    MenuBox menu_box(cairo_t* cr) const;
    void paint_menu(cairo_t* cr);
    void paint_tooltip(cairo_t* cr);

    // ---- overview page (view_overview) ----
    double paint_overview(cairo_t* cr, double w);
    void paint_card(cairo_t* cr, const IfState& s, double x, double y, double w, double h);
    void ov_press(const Hit& hit, double x, double y, int button, int clicks);
    void ov_release();
    void ov_motion(double x, double y);
    void draw_hero(cairo_t* cr, double x, double y, double w, double h);
    void draw_card(cairo_t* cr, const IfState& s, double x, double y, double w, double h, int seed,
                   bool live);
    double draw_card_expanded(cairo_t* cr, const IfState& s, double x, double y, double w,
                              double h);
    std::vector<IfState*> card_list();
    double capacity_bps() const;
    void device_chart(cairo_t* cr, const IfState& s, double x, double y, double w, double h);
    std::string device_summary(const IfState& s) const;
    void device_menu(const std::string& name, double x, double y);
    void toggle_expanded(const std::string& name);
    double chip(cairo_t* cr, const std::string& s, double x, double cy, const Rgba& fg,
                const Rgba& bg, double size);

    // ---- table pages (view_tables) ----
    void paint_table_page(cairo_t* cr, double w, double h, int tab);
    void paint_table_header(cairo_t* cr, const Table& t, double w, int page);
    void table_click(int tab, const Hit& hit, double x, double y, int button, int clicks);
    void fill_table(int tab);
    void fill_conn_table();
    void fill_proc_table();
    void fill_dest_table();
    // Pop-up menus of a row (copy items, "Show connections") and of the header (columns).
    void table_menu(int page, const std::string& row_id, double x, double y);
    void column_menu(int page, double x, double y);
    // The connections page, filtered by `filter`, scrolled to the top.
    void show_connections(const std::string& filter);
    void paint_table_field(cairo_t* cr, double w, int page);
    double paint_table_chips(cairo_t* cr, double x, int page);
    void paint_table_rows(cairo_t* cr, const Table& t, double w, double h, int page);
    void paint_table_footer(cairo_t* cr, const Table& t, double w, double h, int page);
    void paint_country_panel(cairo_t* cr, double w);
    // Fills `t.widths` for a page `width` units wide from the columns and the user's states.
    void layout_table(Table& t, double width, int page);
    static void sort_table(Table& t);
    void load_columns();
    void store_columns(int page);
    Table& table_of(int tab);
    TextField* field_of(int tab);
    // Where the page's table header begins: below the filter row, or below the country panel.
    static double table_top(int tab) { return tab == 3 ? 200 : 52; }

    // ---- statistics page (view_stats) ----
    double paint_stats(cairo_t* cr, double w);
    void paint_stat_chips(cairo_t* cr, double w, const std::vector<std::string>& names);
    double paint_stat_tiles(cairo_t* cr, double w, double y, const std::vector<StatFigure>& tiles);
    // Chart number `chart` (11, 12) at `y`; bars are numbered from `first_index` for the
    // intro. Returns the y below it.
    double paint_stat_chart(cairo_t* cr, double w, double y, int chart, const std::string& title,
                            const std::vector<StatFigure>& bars, int first_index);

    // ---- data plan and export (view_plan.cpp) ----
    // The plan section of the statistics page for the selected device, painted into the
    // page at (x, y) and `w` wide; returns its height.
    double paint_plan(cairo_t* cr, double x, double y, double w);
    // "12.3 GB left" of the all-devices plan for the overview's total panel; empty without one.
    std::string plan_remaining() const;
    const plan::Plan* find_plan(const std::string& iface) const;
    plan::Status plan_status(const plan::Plan& p) const;
    void plan_click(const Hit& hit);
    void open_plan_editor();
    void close_plan_editor();
    void save_plan();
    // Keys while the editor is open; false lets the shortcuts have them.
    bool plan_key(const SDL_Keysym& k);
    void plan_text(const char* text);
    void paint_plan_modal(cairo_t* cr, double w, double h);
    // Raises the alerts that became due; called with every sample.
    void check_plans();
    void export_stats();
    void finish_export(const std::string& path, bool show_folder);
    // A message in the status bar, in the warning colour when `warn`, for `ms` (0: until
    // replaced).
    void show_notice(const std::string& text, bool warn, Uint32 ms);

    // ---- mini view (view_mini) ----
    void paint_mini(cairo_t* cr, double w, double h, bool over);
    void mini_click(const std::string& id, double x, double y, int button, int clicks);
    // The devices of the mini view in card order; `total` tells whether the total strip
    // comes first.
    std::vector<IfState*> mini_list(bool* total);
    bool mini_total_shown();

    // ---- settings panel and dialogs (view_settings) ----
    void open_settings(int tab);
    void confirm(const std::string& text, const std::string& ok, std::function<void()> act);
    // A report left by an earlier crash opens the dialog that sends or discards it.
    void offer_crash_report();
    void over_click(const Hit& hit, double x, double y);
    void settings_click(const Hit& hit);
    void languages_click(const Hit& hit);
    // Re-applies the settings after a change; `relayout` after a language change.
    void settings_changed(bool relayout);
    void paint_settings(cairo_t* cr, double w, double h);
    void paint_languages(cairo_t* cr, double w, double h);
    void paint_confirm(cairo_t* cr, double w, double h, bool crash);

    // ---- Snap permissions panel (view_snap) ----
    void check_snap_plugs();
    bool snap_all_connected() const;
    void open_snap_panel();
    static std::string snap_command();
    // True when `id` was one of the panel's.
    bool snap_click(const std::string& id);
    // Paints the panel at (x, y), `w` wide, with its hits into `hits`; returns its height.
    double paint_snap_panel(cairo_t* cr, double x, double y, double w, std::vector<Hit>& hits,
                            const std::string& hover, bool modal);
    void paint_snap_modal(cairo_t* cr, double w, double h);

    // Command-line overrides, stored by the start-up sequence before run().
    bool force_mini = false;
    int force_tab = -1;
    std::string force_theme;

    // Sampler hand-over.
    std::thread m_sampler;
    std::mutex m_qmutex;
    std::condition_variable m_qcv;
    std::deque<Out> m_queue;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_interval{1000};

    // Per-interface state and totals.
    std::map<std::string, IfState> m_if;
    Ring m_total_rx, m_total_tx;
    double m_total_rx_now = 0, m_total_tx_now = 0;
    double m_total_peak_rx = 0, m_total_peak_tx = 0;
    uint64_t m_sess_rx = 0, m_sess_tx = 0;
    double m_last_t = 0;

    // Collectors and stores.
    procs::Tracker m_tracker;
    procs::Snapshot m_ps;
    usage::Store m_usage;
    history::Store m_hist;
    double m_last_usage_save = 0;

    // Window and renderer.
    SDL_Window* m_win = nullptr;
    SDL_Renderer* m_ren = nullptr;
    SDL_BlendMode m_premul = SDL_BLENDMODE_BLEND;
    bool m_software = false;

    // Layers. The window background gradient is costly to draw and changes only with the
    // size and theme, so it is kept ready in `m_bg` (pixel size and theme in `m_bg_key`).
    Layer m_base, m_over;
    cairo_surface_t* m_bg = nullptr;
    std::string m_bg_key;
    SDL_Texture* m_ghost = nullptr;
    int m_ghost_pw = 0, m_ghost_ph = 0;

    // Geometry of the drawing: pixels per logical unit, window size in logical units.
    double m_px = 1.0, m_k = 1.0;
    double m_W = 0, m_H = 0;

    // Repaint state.
    bool m_dirty = true;
    bool m_over_dirty = true;
    bool m_has_over = false;
    bool m_running = true;

    // Deferred save and placement.
    Uint32 m_save_at = 0;
    int m_req_x = 0, m_req_y = 0;
    int m_frame_dx = 0, m_frame_dy = 0;
    Uint32 m_frame_check_at = 0;

    // Theme.
    bool m_dark = true;
    Palette m_pal = Palette::make(true);
    unsigned m_portal_sub = 0;

    // Persistent settings.
    Settings m_settings;
    std::string m_config_dir;

    // Caret.
    Uint32 m_blink_at = 0;
    bool m_caret_on = true;

    // Hit regions and hover.
    std::vector<Hit> m_hits, m_over_hits, m_menubar_hits;
    std::string m_hover, m_over_hover;
    double m_mx = -1, m_my = -1;
    Uint32 m_hover_since = 0;
    bool m_tip_shown = false;
    int m_menubar_open = -1;

    // Page scrolling, per page.
    std::array<double, 5> m_scroll{};
    std::array<double, 5> m_content_h{};

    // Overview cards and dragging.
    std::string m_expanded, m_press_card;
    double m_press_x = 0, m_press_y = 0, m_grab_dx = 0, m_grab_dy = 0, m_ghost_w = 0,
           m_ghost_h = 0;
    bool m_dragging = false, m_ghost_dirty = false;
    int m_drop_index = -1;
    std::vector<std::pair<std::string, Hit>> m_slots;

    // Table pages.
    std::array<std::map<std::string, ColState>, 4> m_colstate;
    int m_col_page = 0;
    std::string m_col_key;
    double m_col_x0 = 0, m_col_w0 = 0;
    bool m_col_drag = false;
    SDL_Cursor* m_cursor_arrow = nullptr;
    SDL_Cursor* m_cursor_we = nullptr;
    bool m_cursor_is_we = false;
    Table m_conn, m_proc, m_dest;
    TextField m_conn_field, m_proc_field, m_dest_field;
    std::vector<Country> m_countries;
    double m_other_rx = 0, m_other_tx = 0;
    // What each page's rows were last built from (snapshot and options) and their filter:
    // a filter that only grows narrows the rows instead of rebuilding them.
    std::array<std::string, 4> m_fill_inputs, m_fill_filter;

    // Statistics and mini view.
    double m_st_chip_scroll = 0, m_st_chip_max = 0;
    bool m_st_chip_follow = true;
    bool m_mini_hover = false;
    // The last press on the mini view's body, which the window system took for a move, and
    // whether the press now delivered is the second of a double click there.
    Uint32 m_mini_press_at = 0;
    int m_mini_press_x = 0, m_mini_press_y = 0;
    bool m_mini_double = false;

    // Menus and dialogs.
    Menu m_menu;
    bool m_snap_plug[3] = {true, true, true};
    uint32_t m_copied_until = 0;
    Modal m_modal = Modal::None;
    std::string m_confirm_text, m_confirm_ok;
    std::function<void()> m_confirm_act;
    int m_set_tab = 0;
    bool m_autostart = false;
    double m_set_scroll = 0, m_set_content_h = 0, m_set_view_h = 0, m_lang_scroll = 0;
    TextField m_plan_field;   // the plan editor's allowance
    std::string m_plan_iface; // the device whose plan the editor changes
    int m_plan_day = 1;
    bool m_plan_bad = false; // the allowance did not read as an amount
    std::string m_notice;    // status-bar message, replacing the counts while shown
    bool m_notice_warn = false;
    Uint32 m_notice_until = 0;
    bool m_crash_pending = false; // an earlier run left a crash report
    std::string m_crash_report;   // its text
};

// The bands of rows (first row, row count) in which `pixels` differs from `shown`, gaps of a
// few equal rows merged; `shown` becomes a copy of `pixels`. A `shown` of another size
// counts as wholly different.
std::vector<std::pair<int, int>> changed_bands(std::vector<unsigned char>& shown,
                                               const unsigned char* pixels, int stride, int rows);

// Signal flags, set from the handler and polled by the main loop.
extern std::atomic<uint8_t> g_sig_quit;
extern std::atomic<uint8_t> g_sig_raise;
void on_signal(int sig);

// The mini window's hit-test callback (`data` is the App): drag by the body, resize at the
// edges and corners.
SDL_HitTestResult mini_hit_test(SDL_Window* win, const SDL_Point* pt, void* data);
// The same decision for a point in a w × h window, `on_button` when it lies on a control.
SDL_HitTestResult mini_hit_area(int x, int y, int w, int h, bool on_button);

// Keeps a window above others where the SDL library supports it.
void window_on_top(SDL_Window* window, bool on);

// Sets the classic X11 window name (window managers that read only that show it too).
void x11_plain_title(SDL_Window* window, const char* title);
