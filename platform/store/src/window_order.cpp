#include "lumo/store/window_order.h"

#include <algorithm>

#include "lumo/platform/winuser.h"

namespace lumo::store {

void ZOrder::erase(Hwnd hwnd) { std::erase(z_, hwnd); }

void ZOrder::place_top(Hwnd hwnd) {
    erase(hwnd);
    auto pos = z_.begin();
    if (!topmost_(hwnd)) pos = std::find_if(z_.begin(), z_.end(), [&](Hwnd h) { return !topmost_(h); });
    z_.insert(pos, hwnd);
}

void ZOrder::place_bottom(Hwnd hwnd) {
    erase(hwnd);
    auto pos = z_.end();
    if (topmost_(hwnd)) pos = std::find_if(z_.begin(), z_.end(), [&](Hwnd h) { return !topmost_(h); });
    z_.insert(pos, hwnd);
}

void ZOrder::place_below(Hwnd hwnd, Hwnd other) {
    if (hwnd == other) return;
    if (topmost_(hwnd) != topmost_(other)) {
        if (topmost_(hwnd)) {
            place_bottom(hwnd);
        } else {
            place_top(hwnd);
        }
        return;
    }
    erase(hwnd);
    auto pos = std::find(z_.begin(), z_.end(), other);
    z_.insert(pos == z_.end() ? pos : pos + 1, hwnd);
}

void ZOrder::place_after(Hwnd hwnd, Hwnd insert_after) {
    switch (insert_after) {
        case platform::HWND_TOPMOST:
        case platform::HWND_NOTOPMOST:
        case platform::HWND_TOP: place_top(hwnd); break;
        case platform::HWND_BOTTOM: place_bottom(hwnd); break;
        default: place_below(hwnd, insert_after); break;
    }
}

Hwnd ZOrder::next_active(Hwnd leaving, const std::function<bool(Hwnd)>& can_activate) const {
    for (Hwnd h : z_)
        if (h != leaving && can_activate(h)) return h;
    return 0;
}

}  // namespace lumo::store
