// Where the window procedure hands input and drawing to the states that have parts of their own
// (the keypad, the volume control, the shutdown slider, the views and the music keys). Each
// part takes its messages here; a state without its part yet takes none, and its frame is the
// lock screen darkened, so that the screen plainly is not in its usual state.
#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/lockscreen/lockscreen.h"

namespace lumo::lockscreen {

bool route_to_state_touch(Context& c, std::uint32_t msg, int x, int y) {
    switch (c.state) {
        case ScreenState::Normal:
            // The music panel's buttons and bar, when it shows; else the slider's.
            return music_touch(c, msg, x, y);
        case ScreenState::PasswordEntry:
        case ScreenState::EmergencyCall:
            // The slider underneath is not the keypad's, whether a key was hit or not.
            keypad_touch(c, msg, x, y);
            return true;
        case ScreenState::VolumeControl:
        case ScreenState::InCallVolume:
            // Their own touches only: the slider underneath is not theirs.
            return true;
        default:
            return false;
    }
}

bool route_to_state_keys(Context& c, std::uint32_t msg, std::uint8_t vk, LParam) {
    switch (c.state) {
        case ScreenState::Normal:
            return music_key(c, vk, msg == platform::WM_KEYDOWN);
        case ScreenState::PasswordEntry:
        case ScreenState::EmergencyCall:
            keypad_key(c, msg, vk);
            return true;
        case ScreenState::VolumeControl:
        case ScreenState::InCallVolume:
            return true;
        default:
            return false;
    }
}

void compose_state_scene(Context& c) {
    compose_lock_scene(c);
    auto& scr = c.screen;
    gfx::Brush black = gfx::MakeBrush(gfx::RGBTo565(scr.format, 0, 0, 0));
    auto* old = gfx::SelectBrush(scr, &black);
    gfx::FillRect(scr, 0, 0, c.screen_width, c.screen_height, 21);
    if (old) gfx::SelectBrush(scr, old);
}

}  // namespace lumo::lockscreen
