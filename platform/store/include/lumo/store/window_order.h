#pragma once
// The window rules the device's window manager and the in-process fake share, so the two order
// and activate windows alike by construction: the top-level z-order in two bands (topmost
// windows above all others), the window that takes the activation when the active one leaves,
// and who lost the focus as the window taking it is told.
#include <cstdint>
#include <functional>
#include <vector>

#include "lumo/platform/types.h"

namespace lumo::store {

using platform::Hwnd;

class ZOrder {
public:
    // `topmost` tells a window's band; it is asked whenever a window is placed.
    explicit ZOrder(std::function<bool(Hwnd)> topmost) : topmost_(std::move(topmost)) {}

    // Top-level windows, top first.
    const std::vector<Hwnd>& list() const { return z_; }
    void erase(Hwnd hwnd);
    // At the top (or bottom) of the window's own band.
    void place_top(Hwnd hwnd);
    void place_bottom(Hwnd hwnd);
    // Just below `other` when both share a band; below a window of the other band is the
    // nearest edge of the window's own band, as bands never mix.
    void place_below(Hwnd hwnd, Hwnd other);
    // Where set_window_pos puts a window for its insert-after argument (HWND_TOP, HWND_BOTTOM,
    // HWND_TOPMOST, HWND_NOTOPMOST or a window). The caller has already changed the window's
    // band for the two topmost arguments.
    void place_after(Hwnd hwnd, Hwnd insert_after);
    // The top-most window other than `leaving` that `can_activate` accepts; 0 when none.
    Hwnd next_active(Hwnd leaving, const std::function<bool(Hwnd)>& can_activate) const;

private:
    std::function<bool(Hwnd)> topmost_;
    std::vector<Hwnd> z_;
};

// WM_SETFOCUS's wParam for a window taking the focus from `losing`: focus belongs to a program's
// own thread, so a window of another program is not named (the lock screen starts its lock
// only on focus that comes from outside).
inline Hwnd focus_lost_by(std::uint32_t gaining_pid, Hwnd losing, std::uint32_t losing_pid) {
    return losing && gaining_pid == losing_pid ? losing : 0;
}

}  // namespace lumo::store
