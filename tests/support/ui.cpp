#include "ui.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// Fontconfig keeps its font caches for the life of the process where the leak checker
// cannot see them; they are the library's, not the program's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace testsupport {

Ui::Ui(double w, double h, double scale) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
    if (!SDL_WasInit(SDL_INIT_VIDEO)) SDL_InitSubSystem(SDL_INIT_VIDEO);
    app.m_config_dir = dir.path();
    app.m_settings.m_path = dir.path() + "/settings.dat";
    resize(w, h, scale);
}

Ui::~Ui() {
    if (m_base) cairo_surface_destroy(m_base);
    if (m_over) cairo_surface_destroy(m_over);
}

void Ui::resize(double w, double h, double scale) {
    app.m_W = w;
    app.m_H = h;
    app.m_k = app.m_px = scale;
    app.m_dirty = app.m_over_dirty = true;
}

void Ui::theme(bool dark) {
    app.m_settings.theme = dark ? "dark" : "light";
    app.apply_theme();
}

void Ui::feed(double t, bool advance) {
    App::Out o;
    o.counters.t = t;
    for (auto& d : m_devs) {
        if (advance) {
            d.rx_bytes += static_cast<uint64_t>(d.rx);
            d.tx_bytes += static_cast<uint64_t>(d.tx);
        }
        o.counters.names.push_back(d.info.name);
        net::Counters c;
        c.rx_bytes = d.rx_bytes;
        c.tx_bytes = d.tx_bytes;
        o.counters.values.push_back(c);
        o.ifaces.push_back(d.info);
    }
    o.has_ifaces = true;
    app.consume(o);
}

void Ui::device(const std::string& name, net::Kind kind, double rx, double tx, bool carrier) {
    Dev d;
    d.info.name = name;
    d.info.kind = kind;
    d.info.admin_up = true;
    d.info.carrier = carrier;
    d.info.operstate = carrier ? "up" : "down";
    d.info.counts_in_total = kind != net::Kind::Loopback && kind != net::Kind::Virtual;
    d.rx = rx;
    d.tx = tx;
    d.rx_bytes = 1000000;
    d.tx_bytes = 1000000;
    m_devs.push_back(d);
    // The new device's first reading is only its base; the second gives every rate.
    feed(m_t, false);
    feed(m_t + 1, true);
    m_t += 2;
    app.m_dirty = true;
}

void Ui::sockets(std::vector<procs::Conn> conns, bool diag_ok) {
    app.m_ps.conns = std::move(conns);
    app.m_ps.diag_ok = diag_ok;
    app.m_ps.t = m_t;
    app.m_dirty = true;
}

void Ui::paint() {
    paint_layer(true);
    paint_layer(false);
}

void Ui::paint_overlay() { paint_layer(false); }

Hit Ui::overlay_bounds() const {
    Hit b;
    if (!m_over) return b;
    const int w = cairo_image_surface_get_width(m_over), h = cairo_image_surface_get_height(m_over);
    const int stride = cairo_image_surface_get_stride(m_over);
    const unsigned char* data = cairo_image_surface_get_data(m_over);
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (data[y * stride + x * 4 + 3]) { // alpha byte of native-endian ARGB
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
    if (x1 < 0) return b;
    const double k = app.m_k;
    return Hit{x0 / k, y0 / k, (x1 + 1 - x0) / k, (y1 + 1 - y0) / k, "", 0, ""};
}

void Ui::paint_layer(bool base) {
    const int pw = static_cast<int>(std::ceil(app.m_W * app.m_k));
    const int ph = static_cast<int>(std::ceil(app.m_H * app.m_k));
    {
        cairo_surface_t** s = base ? &m_base : &m_over;
        if (*s && (cairo_image_surface_get_width(*s) != pw ||
                   cairo_image_surface_get_height(*s) != ph)) {
            cairo_surface_destroy(*s);
            *s = nullptr;
        }
        if (!*s) *s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
        cairo_surface_set_device_scale(*s, app.m_k, app.m_k);
        cairo_t* cr = cairo_create(*s);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        if (s == &m_base) app.paint_base(cr);
        else app.paint_over(cr);
        cairo_destroy(cr);
        cairo_surface_flush(*s);
    }
    (base ? app.m_dirty : app.m_over_dirty) = false;
}

std::optional<Hit> Ui::hit(double x, double y, bool over) const {
    const Hit* h = app.hit_at(x, y, over);
    return h ? std::optional<Hit>(*h) : std::nullopt;
}

std::optional<Hit> Ui::find(const std::string& id) const {
    for (const auto* list : {&app.m_hits, &app.m_over_hits})
        for (const Hit& h : *list)
            if (h.id == id) return h;
    return std::nullopt;
}

std::vector<std::string> Ui::ids(bool over) const {
    std::vector<std::string> out;
    for (const Hit& h : over ? app.m_over_hits : app.m_hits) out.push_back(h.id);
    return out;
}

Rgba Ui::pixel(double x, double y) const {
    auto read = [&](cairo_surface_t* s, double out[4]) {
        out[0] = out[1] = out[2] = out[3] = 0;
        if (!s) return;
        const int px = static_cast<int>(x * app.m_k), py = static_cast<int>(y * app.m_k);
        if (px < 0 || py < 0 || px >= cairo_image_surface_get_width(s) ||
            py >= cairo_image_surface_get_height(s))
            return;
        const unsigned char* row =
            cairo_image_surface_get_data(s) + py * cairo_image_surface_get_stride(s);
        uint32_t v;
        memcpy(&v, row + px * 4, 4);
        out[0] = ((v >> 16) & 255) / 255.0; // premultiplied
        out[1] = ((v >> 8) & 255) / 255.0;
        out[2] = (v & 255) / 255.0;
        out[3] = (v >> 24) / 255.0;
    };
    double b[4], o[4];
    read(m_base, b);
    read(m_over, o);
    return Rgba{o[0] + b[0] * (1 - o[3]), o[1] + b[1] * (1 - o[3]), o[2] + b[2] * (1 - o[3]), 1};
}

bool Ui::near(const Rgba& got, const Rgba& want, double tol) {
    return std::fabs(got.r - want.r) <= tol && std::fabs(got.g - want.g) <= tol &&
           std::fabs(got.b - want.b) <= tol;
}

void Ui::move(double x, double y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = static_cast<Sint32>(x);
    e.motion.y = static_cast<Sint32>(y);
    app.handle(e);
}

void Ui::press(double x, double y, int button, int clicks) {
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = static_cast<Uint8>(button == 1   ? SDL_BUTTON_LEFT
                                         : button == 3 ? SDL_BUTTON_RIGHT
                                                       : SDL_BUTTON_MIDDLE);
    e.button.clicks = static_cast<Uint8>(clicks);
    e.button.x = static_cast<Sint32>(x);
    e.button.y = static_cast<Sint32>(y);
    app.handle(e);
}

void Ui::click(double x, double y, int button) {
    press(x, y, button);
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONUP;
    e.button.button = static_cast<Uint8>(button == 1 ? SDL_BUTTON_LEFT : SDL_BUTTON_RIGHT);
    e.button.x = static_cast<Sint32>(x);
    e.button.y = static_cast<Sint32>(y);
    app.handle(e);
}

void Ui::key(SDL_Keycode sym, Uint16 mod) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    app.handle(e);
}

void Ui::type(const std::string& utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    snprintf(e.text.text, sizeof e.text.text, "%s", utf8.c_str());
    app.handle(e);
}

void Ui::wheel(double x, double y, int amount) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = amount;
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    e.wheel.mouseX = static_cast<Sint32>(x);
    e.wheel.mouseY = static_cast<Sint32>(y);
    app.handle(e);
}

void Ui::rest() {
    app.m_hover_since = SDL_GetTicks() - 700;
    app.run_timers(SDL_GetTicks());
}

} // namespace testsupport
