// Where the window procedure hands stylus and keys to the parts with states of their own after
// the overlays and the call screens had theirs: the keypad, the music panel in Normal, and the
// volume states, which swallow what their overlay left (the slider underneath is not theirs).
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

}  // namespace lumo::lockscreen
