// The interface without a window: an App at a chosen size and scale, fed with synthetic
// devices and sockets, its two layers painted into images, and synthetic SDL events sent
// through App::handle. A page test reads: given these devices and sockets, at this size,
// the hit at (x, y) is X and the pixel there has the palette colour Y.
#pragma once

#include "app.h"
#include "support.h"

#include <SDL.h>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class Ui {
public:
    // SDL's dummy video driver backs the clipboard and text input; no X server is touched.
    explicit Ui(double w = 1200, double h = 760, double scale = 1.0);
    ~Ui();
    Ui(const Ui&) = delete;
    Ui& operator=(const Ui&) = delete;

    void resize(double w, double h, double scale = 1.0);
    void theme(bool dark);

    // A device receiving `rx` and sending `tx` bytes per second, fed through the sampler's
    // path as two records one second apart (earlier devices keep their rates).
    void device(const std::string& name, net::Kind kind, double rx, double tx,
                bool carrier = true);
    void sockets(std::vector<procs::Conn> conns, bool diag_ok = true);

    // Paints both layers as the main loop would: the base layer, then the overlay.
    void paint();
    // Paints the overlay alone (the base layer and its hits stay as they are).
    void paint_overlay();
    // Bounding box of what the overlay drew (w = 0 when it is empty).
    Hit overlay_bounds() const;

    // Copies, so that they outlive the next paint, which refills the lists.
    std::optional<Hit> hit(double x, double y, bool over = false) const;
    // The first region with this id in the base list, then in the overlay list.
    std::optional<Hit> find(const std::string& id) const;
    std::vector<std::string> ids(bool over = false) const;

    // The composed colour (overlay over base) at a logical point, alpha 1.
    Rgba pixel(double x, double y) const;
    // True when every channel lies within `tol` (0..1) of `want` (its alpha ignored).
    static bool near(const Rgba& got, const Rgba& want, double tol = 3.0 / 255);

    // Events, through App::handle.
    void move(double x, double y);
    void press(double x, double y, int button = 1, int clicks = 1);
    void click(double x, double y, int button = 1);
    void key(SDL_Keycode sym, Uint16 mod = KMOD_NONE);
    void type(const std::string& utf8);
    void wheel(double x, double y, int amount);
    // The pointer has rested past the tooltip delay: the loop's timers run.
    void rest();

    TempDir dir; // the configuration directory of this App
    App app;

private:
    struct Dev {
        net::Interface info;
        double rx, tx;
        uint64_t rx_bytes = 0, tx_bytes = 0;
    };
    void feed(double t, bool advance);
    void paint_layer(bool base);

    std::vector<Dev> m_devs;
    double m_t = 1;
    cairo_surface_t* m_base = nullptr;
    cairo_surface_t* m_over = nullptr;
};

} // namespace testsupport
