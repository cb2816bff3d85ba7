// Input dispatch: SDL events to the window state, hit regions and hover.
// FIXME: clicks, keys, the wheel and the text fields arrive with the pages they serve.

#include "app.h"

void App::handle(const SDL_Event& e) {
    switch (e.type) {
    case SDL_QUIT: m_running = false; break;
    case SDL_WINDOWEVENT:
        switch (e.window.event) {
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            update_scale();
            m_dirty = m_over_dirty = true;
            if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) m_save_at = SDL_GetTicks() + 700;
            break;
        case SDL_WINDOWEVENT_MOVED: m_save_at = SDL_GetTicks() + 700; break;
        case SDL_WINDOWEVENT_LEAVE:
            m_mx = m_my = -1;
            if (m_mini_hover) {
                m_mini_hover = false;
                m_over_dirty = true;
            }
            if (!m_hover.empty()) {
                m_hover.clear();
                m_dirty = true;
            }
            break;
        default: break;
        }
        break;
    case SDL_MOUSEMOTION:
        m_mx = e.motion.x;
        m_my = e.motion.y;
        break;
    case SDL_RENDER_TARGETS_RESET:
    case SDL_RENDER_DEVICE_RESET: m_dirty = m_over_dirty = true; break;
    default: break; // the sampler's wake-up and everything else only end the wait
    }
}

const Hit* App::hit_at(double x, double y, bool over) const {
    const auto& list = over ? m_over_hits : m_hits;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->contains(x, y)) return &*it;
    return nullptr;
}
