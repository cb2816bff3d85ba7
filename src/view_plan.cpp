// The data plan and the statistics export: the plan section of the statistics page, its
// editor, the alerts at 80 % and 100 % of an allowance, and the CSV export through the
// file-chooser portal or into the download folder.
//
// Sections: helpers · plan section · editor · alerts · export · status notice.

#include "app.h"

#include "csv_export.h"
#include "format.h"
#include "l10n.h"
#include "logger.h"
#include "notify.h"

#include <algorithm>
#include <cstring>

namespace {

gfx::TextStyle style(double size, bool bold, gfx::Align align = gfx::Align::Left,
                     double max_w = 0) {
    return gfx::ui_style(size, bold, align, max_w);
}

std::string device_label(const std::string& iface) {
    return iface == usage::Store::kTotal ? L10n::tr("stats.all") : iface;
}

// An allowance as the editor shows it again: exact, in the largest unit that divides it.
std::string exact_amount(uint64_t v) {
    static constexpr struct {
        uint64_t unit;
        const char* name;
    } kUnits[] = {{1ull << 50, "PiB"}, {1'000'000'000'000'000ull, "PB"},
                  {1ull << 40, "TiB"}, {1'000'000'000'000ull, "TB"},
                  {1ull << 30, "GiB"}, {1'000'000'000ull, "GB"},
                  {1ull << 20, "MiB"}, {1'000'000ull, "MB"},
                  {1ull << 10, "KiB"}, {1000ull, "kB"}};
    for (const auto& u : kUnits)
        if (v >= u.unit && v % u.unit == 0) return std::to_string(v / u.unit) + " " + u.name;
    return std::to_string(v) + " B";
}

Rgba level_colour(int level, const Palette& p) {
    return level == plan::kFull ? p.err : level == plan::kWarn ? p.warn : p.ok;
}

// A push button; returns its width. `primary` buttons are filled with the accent.
double button(cairo_t* cr, double x, double y, const std::string& label, bool hot, bool primary,
              const Palette& p, std::vector<Hit>& hits, const std::string& id, bool right) {
    const double w = gfx::text_width(cr, label, 12, true) + 28, h = 30;
    if (right) x -= w;
    gfx::rounded(cr, x, y, w, h, 7);
    if (primary) {
        gfx::set(cr, hot ? p.accent : p.chip_on);
        cairo_fill(cr);
    } else {
        gfx::set(cr, hot ? p.button_hot : p.button);
        cairo_fill_preserve(cr);
        gfx::set(cr, p.panel_edge);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    gfx::text(cr, label, x + w / 2, y + h / 2, primary ? p.chip_on_text : p.text,
              style(12, true, gfx::Align::Center));
    hits.push_back(Hit{x, y, w, h, id, 0, ""});
    return w;
}

} // namespace

// ---- helpers --------------------------------------------------------------------------

const plan::Plan* App::find_plan(const std::string& iface) const {
    for (const plan::Plan& p : m_settings.plans)
        if (p.iface == iface) return &p;
    return nullptr;
}

plan::Status App::plan_status(const plan::Plan& p) const {
    const int today = usage::Store::today();
    const plan::Period period = plan::period(today, p.billing_day);
    const usage::Sum used = m_usage.range(p.iface, period.start, today);
    return plan::evaluate(p.allowance, period, today, used.rx + used.tx,
                          m_usage.first_day(p.iface));
}

std::string App::plan_remaining() const {
    const plan::Plan* p = find_plan(usage::Store::kTotal);
    if (!p) return "";
    return L10n::tr("plan.left", fmt::bytes(plan_status(*p).remaining).c_str());
}

// ---- plan section ---------------------------------------------------------------------

double App::paint_plan(cairo_t* cr, double x, double y, double w) {
    const Palette& p = m_pal;
    const plan::Plan* pl = find_plan(m_settings.stats_iface);
    const double h = pl ? 150 : 104;
    gfx::rack(cr, x, y, w, h, p, p.down, false, 13, false);

    gfx::text(cr, L10n::tr("plan.title") + "  ·  " + device_label(m_settings.stats_iface), x + 26,
              y + 28, p.text_strong, style(14, true));
    double bx = x + w - 20;
    bx -= button(cr, bx, y + 13, L10n::tr("mi.export"), m_hover == "plan:export", false, p, m_hits,
                 "plan:export", true) +
          10;
    button(cr, bx, y + 13, L10n::tr("plan.set"), m_hover == "plan:edit", false, p, m_hits,
           "plan:edit", true);

    if (!pl) {
        gfx::TextStyle st = style(12, false);
        st.max_w = w - 52;
        gfx::text(cr, L10n::tr("plan.none"), x + 26, y + 70, p.dim, st);
        return h;
    }

    const plan::Status s = plan_status(*pl);
    const Rgba tone = level_colour(s.level, p);
    const std::string used =
        L10n::tr("plan.used", fmt::bytes(s.used).c_str(), fmt::bytes(pl->allowance).c_str());
    gfx::text(cr, used, x + 26, y + 64, p.text, style(15, true));
    gfx::text(cr,
              std::to_string(s.percent) + " %  ·  " +
                  L10n::tr("plan.left", fmt::bytes(s.remaining).c_str()),
              x + w - 26, y + 64, tone, style(15, true, gfx::Align::Right));

    // The bar: the allowance across the whole width, the used part in the level's colour.
    const double bar_x = x + 24, bar_w = w - 48, bar_y = y + 82;
    gfx::display(cr, bar_x, bar_y, bar_w, 18, p, false);
    const double frac =
        std::min(1.0, static_cast<double>(s.used) / static_cast<double>(pl->allowance));
    if (frac > 0) {
        gfx::rounded(cr, bar_x + 3, bar_y + 3, std::max(6.0, (bar_w - 6) * frac), 12, 4);
        gfx::set(cr, tone);
        cairo_fill(cr);
    }
    // A tick at 80 %, where the bar turns to the warning colour.
    cairo_rectangle(cr, bar_x + 3 + (bar_w - 6) * 0.8, bar_y + 2, 1, 14);
    gfx::set(cr, p.faint);
    cairo_fill(cr);
    m_hits.push_back(
        Hit{bar_x, bar_y, bar_w, 18, "plan:bar", s.level, std::to_string(s.percent) + " %"});

    const std::string period =
        L10n::tr("plan.period", fmt::date(s.period.start).c_str(), fmt::date(s.period.end).c_str());
    gfx::text(cr, period, x + 26, y + 124, p.dim, style(11.5, false));
    if (s.has_projection) {
        const bool over = s.projected > pl->allowance;
        gfx::text(cr, L10n::tr("plan.projection", fmt::bytes(s.projected).c_str()), x + w - 26,
                  y + 124, over ? p.warn : p.dim, style(11.5, false, gfx::Align::Right));
    }
    return h;
}

// ---- editor ---------------------------------------------------------------------------

void App::open_plan_editor() {
    if (m_menu.open) close_menu();
    m_plan_iface = m_settings.stats_iface;
    const plan::Plan* pl = find_plan(m_plan_iface);
    m_plan_field.text = pl ? exact_amount(pl->allowance) : "";
    m_plan_field.caret = m_plan_field.text.size();
    m_plan_field.focus = true;
    m_plan_day = pl ? pl->billing_day : 1;
    m_plan_bad = false;
    m_modal = Modal::Plan;
    SDL_StartTextInput();
    m_dirty = m_over_dirty = true;
}

void App::close_plan_editor() {
    m_plan_field.focus = false;
    SDL_StopTextInput();
    m_modal = Modal::None;
    m_dirty = m_over_dirty = true;
}

void App::save_plan() {
    auto& plans = m_settings.plans;
    const auto same = [this](const plan::Plan& p) { return p.iface == m_plan_iface; };
    uint64_t bytes = 0;
    const bool empty = m_plan_field.text.find_first_not_of(" \t") == std::string::npos;
    if (!empty && !plan::parse_bytes(m_plan_field.text, &bytes)) {
        m_plan_bad = true;
        m_over_dirty = true;
        return;
    }
    // An empty amount removes the plan, like the remove button.
    std::erase_if(plans, same);
    if (!empty) plans.push_back(plan::Plan{m_plan_iface, bytes, m_plan_day});
    // Alert state for a device without a plan is of no use; one for a kept plan stays, so
    // that a changed allowance does not announce a level twice in one period.
    std::erase_if(m_settings.plan_alerts, [&](const plan::Alerted& a) {
        return std::none_of(plans.begin(), plans.end(),
                            [&](const plan::Plan& p) { return p.iface == a.iface; });
    });
    for (const plan::Plan& p : plans)
        if (std::none_of(m_settings.plan_alerts.begin(), m_settings.plan_alerts.end(),
                         [&](const plan::Alerted& a) { return a.iface == p.iface; }))
            m_settings.plan_alerts.push_back(plan::Alerted{p.iface, 0, 0});
    save_later();
    close_plan_editor();
    check_plans();
}

void App::plan_click(const Hit& hit) {
    const std::string& id = hit.id;
    if (id == "plan:edit")
        open_plan_editor();
    else if (id == "plan:export")
        export_stats();
    else if (id == "plan:day:+")
        m_plan_day = m_plan_day % 31 + 1;
    else if (id == "plan:day:-")
        m_plan_day = (m_plan_day + 29) % 31 + 1;
    else if (id == "plan:save")
        save_plan();
    else if (id == "plan:remove") {
        m_plan_field.text.clear();
        save_plan();
    } else if (id == "plan:cancel")
        close_plan_editor();
    else if (id == "plan:field")
        m_plan_field.focus = true;
    m_over_dirty = true;
}

bool App::plan_key(const SDL_Keysym& k) {
    std::string& t = m_plan_field.text;
    size_t& c = m_plan_field.caret;
    c = std::min(c, t.size());
    auto back = [&](size_t pos) {
        while (pos > 0 && (static_cast<unsigned char>(t[pos]) & 0xC0) == 0x80) --pos;
        return pos;
    };
    switch (k.sym) {
    case SDLK_ESCAPE:
        close_plan_editor();
        return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        save_plan();
        return true;
    case SDLK_BACKSPACE:
        if (c > 0) {
            const size_t from = back(c - 1);
            t.erase(from, c - from);
            c = from;
        }
        break;
    case SDLK_LEFT:
        c = c > 0 ? back(c - 1) : 0;
        break;
    case SDLK_RIGHT:
        if (c < t.size()) {
            ++c;
            while (c < t.size() && (static_cast<unsigned char>(t[c]) & 0xC0) == 0x80) ++c;
        }
        break;
    case SDLK_HOME:
        c = 0;
        break;
    case SDLK_END:
        c = t.size();
        break;
    case SDLK_UP:
        m_plan_day = m_plan_day % 31 + 1;
        break;
    case SDLK_DOWN:
        m_plan_day = (m_plan_day + 29) % 31 + 1;
        break;
    default:
        return (k.mod & KMOD_CTRL) == 0; // text arrives as text input; shortcuts pass
    }
    m_plan_bad = false;
    m_over_dirty = true;
    return true;
}

void App::plan_text(const char* text) {
    if (!text) return;
    const std::string s(text);
    m_plan_field.caret = std::min(m_plan_field.caret, m_plan_field.text.size());
    m_plan_field.text.insert(m_plan_field.caret, s);
    m_plan_field.caret += s.size();
    m_plan_bad = false;
    m_over_dirty = true;
}

void App::paint_plan_modal(cairo_t* cr, double w, double h) {
    const Palette& p = m_pal;
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
    cairo_fill(cr);
    const double pw = std::min(w - 40, 480.0), ph = 236;
    const double x = (w - pw) / 2, y = std::max(20.0, (h - ph) / 2);
    gfx::rack(cr, x, y, pw, ph, p, p.accent, true, 7, false);
    m_over_hits.push_back(Hit{x, y, pw, ph, "plan:panel", 0, ""});

    gfx::TextStyle head = style(14, true);
    head.max_w = pw - 48;
    gfx::text(cr, L10n::tr("plan.title") + "  ·  " + device_label(m_plan_iface), x + 24, y + 30,
              p.text_strong, head);

    // Allowance field.
    gfx::text(cr, L10n::tr("plan.allowance"), x + 24, y + 64, p.dim, style(12, false));
    const double fx = x + 24, fy = y + 78, fw = pw - 48, fh = 34;
    gfx::display(cr, fx, fy, fw, fh, p, false);
    if (m_plan_bad) {
        gfx::rounded(cr, fx + 0.5, fy + 0.5, fw - 1, fh - 1, 6);
        gfx::set(cr, p.err);
        cairo_set_line_width(cr, 1.5);
        cairo_stroke(cr);
    }
    const gfx::TextStyle field = style(14, false);
    gfx::text(cr, m_plan_field.text, fx + 12, fy + fh / 2, p.text, field);
    const double cx =
        fx + 12 + gfx::text_width(cr, m_plan_field.text.substr(0, m_plan_field.caret), 14, false);
    cairo_rectangle(cr, cx, fy + 8, 1.5, fh - 16);
    gfx::set(cr, p.accent);
    cairo_fill(cr);
    m_over_hits.push_back(Hit{fx, fy, fw, fh, "plan:field", 0, ""});

    // Billing day stepper.
    const double sy = y + 128;
    gfx::TextStyle day_st = style(12, false);
    day_st.middle = false;
    const double day_w = pw - 48 - 140;
    const double day_h = gfx::wrapped(cr, L10n::tr("plan.day"), 0, 0, day_w, nullptr, day_st);
    gfx::wrapped(cr, L10n::tr("plan.day"), x + 24, sy + 15 - day_h / 2, day_w, &p.dim, day_st);
    double sx = x + pw - 24 - 30;
    for (const char* id : {"plan:day:+", "plan:day:-"}) {
        const bool hot = m_over_hover == id;
        gfx::rounded(cr, sx, sy, 30, 30, 7);
        gfx::set(cr, hot ? p.button_hot : p.button);
        cairo_fill_preserve(cr);
        gfx::set(cr, p.panel_edge);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        gfx::text(cr, id[9] == '+' ? "+" : "−", sx + 15, sy + 15, p.text,
                  style(15, true, gfx::Align::Center));
        m_over_hits.push_back(Hit{sx, sy, 30, 30, id, 0, ""});
        sx -= id[9] == '+' ? 64 : 0;
    }
    gfx::display(cr, sx + 34, sy, 26, 30, p, false);
    gfx::text(cr, std::to_string(m_plan_day), sx + 47, sy + 15, p.text_strong,
              style(13, true, gfx::Align::Center));

    // Buttons: save on the right, cancel beside it, remove on the left when there is a plan.
    const double by = y + ph - 24 - 30;
    double bx = x + pw - 24;
    bx -= button(cr, bx, by, L10n::tr("plan.save"), m_over_hover == "plan:save", true, p,
                 m_over_hits, "plan:save", true) +
          10;
    button(cr, bx, by, L10n::tr("btn.cancel"), m_over_hover == "plan:cancel", false, p, m_over_hits,
           "plan:cancel", true);
    if (find_plan(m_plan_iface))
        button(cr, x + 24, by, L10n::tr("plan.remove"), m_over_hover == "plan:remove", false, p,
               m_over_hits, "plan:remove", false);
}

// ---- alerts ---------------------------------------------------------------------------

void App::check_plans() {
    for (const plan::Plan& pl : m_settings.plans) {
        plan::Alerted* state = nullptr;
        for (plan::Alerted& a : m_settings.plan_alerts)
            if (a.iface == pl.iface) state = &a;
        if (!state) {
            m_settings.plan_alerts.push_back(plan::Alerted{pl.iface, 0, 0});
            state = &m_settings.plan_alerts.back();
        }
        const plan::Status s = plan_status(pl);
        if (plan::alert_step(*state, s.period.start, s.level) == plan::kNone) continue;
        // Written at once: an alert must not come back after a restart, even an unclean one.
        if (!m_settings.m_path.empty() && !m_settings.save())
            logger::warn("settings could not be written");
        const std::string text = L10n::tr("plan.alert", device_label(pl.iface).c_str(), s.percent);
        logger::info("data plan of " + pl.iface + " at " + std::to_string(s.percent) + " %");
        if (!notify::send(L10n::tr("plan.title"), text, s.level == plan::kFull))
            show_notice(text, true, 0);
    }
}

// ---- export ---------------------------------------------------------------------------

void App::export_stats() {
    const std::string name = csv::file_name(usage::Store::today());
    const bool asked = notify::save_file(
        L10n::tr("mi.export"), name, [this, name](int response, const std::string& path) {
            if (response == notify::kChosen)
                finish_export(path, false);
            else if (response == notify::kFailed)
                finish_export(csv::download_dir() + "/" + name, true);
        });
    if (!asked) finish_export(csv::download_dir() + "/" + name, true);
}

void App::finish_export(const std::string& path, bool show_folder) {
    const std::string err = csv::write_atomic(path, csv::build(m_usage));
    if (!err.empty()) {
        logger::warn("statistics export to " + path + " failed: " + err);
        show_notice(L10n::tr("plan.export_failed", err.c_str()), true, 0);
        return;
    }
    logger::info("statistics exported to " + path);
    show_notice(L10n::tr("plan.exported", path.c_str()), false, 15000);
    if (show_folder && !notify::show_file(path)) {
        const size_t slash = path.rfind('/');
        open_url("file://" + (slash == std::string::npos ? path : path.substr(0, slash)));
    }
}

// ---- status notice --------------------------------------------------------------------

void App::show_notice(const std::string& text, bool warn, Uint32 ms) {
    m_notice = text;
    m_notice_warn = warn;
    m_notice_until = ms ? SDL_GetTicks() + ms : 0;
    m_dirty = true;
}
