// The classic X11 window name, which some window managers read instead of the EWMH title.

#include "app.h"

#include <SDL_syswm.h>

void x11_plain_title(SDL_Window* window, const char* title) {
    if (!window) return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    using StoreName = int (*)(void*, unsigned long, const char*);
    using Flush = int (*)(void*);
    // libX11 is loaded once at run time so the program has no link-time X11 dependency.
    static void* lib = SDL_LoadObject("libX11.so.6");
    static auto store = lib ? reinterpret_cast<StoreName>(SDL_LoadFunction(lib, "XStoreName")) : nullptr;
    static auto flush = lib ? reinterpret_cast<Flush>(SDL_LoadFunction(lib, "XFlush")) : nullptr;
    if (!store || !flush) return;
    store(info.info.x11.display, info.info.x11.window, title);
    flush(info.info.x11.display);
}
