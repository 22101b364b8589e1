#pragma once
// A list the finger moves and that runs on, slowing down, once it is let go. The drag adds up the
// distance and the time it took; every tick of the fling then moves the list by
// distance × gain / time pixels and keeps `decay` of the distance. Each program picks its own
// gain, decay and tick.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace lumo::gfx {

struct KineticScroll {
    int offset = 0;  // pixels the list has moved up
    int down_x = 0, down_y = 0, last_x = 0, last_y = 0;
    std::uint32_t last_tick = 0;
    double distance = 0;     // accumulated pixels; positive moves the list up
    std::uint32_t time = 0;  // accumulated milliseconds
    bool dragging = false;
    bool moved = false;  // more than a tap's slack: the lift is not a tap
    bool flinging = false;

    void stop() {
        flinging = false;
        distance = 0;
        time = 0;
    }
    // The finger touches: a running fling stops there.
    void press(int x, int y, std::uint32_t now) {
        stop();
        dragging = true;
        moved = false;
        down_x = last_x = x;
        down_y = last_y = y;
        last_tick = now;
    }
    // True once the finger has gone further than `slack` from where it touched.
    bool passed_slack(int x, int y, int slack) {
        if (std::abs(y - down_y) > slack || std::abs(x - down_x) > slack) moved = true;
        return moved;
    }
    // The list follows the finger to `y`, staying within 0..max.
    void drag_list(int y, std::uint32_t now, int max) {
        int dy = last_y - y;
        offset = std::clamp(offset + dy, 0, max);
        distance += dy;
        time += now - last_tick;
        last_tick = now;
        last_y = y;
    }
    // The finger lifts; true when it dragged rather than tapped.
    bool release() {
        bool was_drag = dragging && moved;
        dragging = false;
        return was_drag;
    }
    void start_fling() {
        if (time == 0) time = 1;
        flinging = true;
    }
    // One tick of a running fling; false when the list has come to rest (an end, or too slow to
    // move a pixel).
    bool fling_step(double gain, double decay, int max) {
        int step = int(distance * gain / double(time));
        int before = offset;
        offset = std::clamp(offset + step, 0, max);
        distance *= decay;
        return step != 0 && offset != before;
    }
};

}  // namespace lumo::gfx
