#pragma once
// The password keypad and the emergency-call keypad: the lock's conditions, the keypad's fields,
// and the entry points the window procedure and the frame composition call.
#include <array>
#include <cstdint>
#include <string>

#include "lumo/gfx/image.h"
#include "lumo/platform/platform.h"

namespace lumo::lockscreen {

struct Context;

inline constexpr int kKeypadKeys = 12;
inline constexpr int kCodeLength = 4;
inline constexpr std::size_t kDialMax = 50;
// Key values beside the digits.
inline constexpr std::uint8_t kKeyEmergency = 10;  // the star on the emergency keypad
inline constexpr std::uint8_t kKeyCancel = 11;     // the hash on the emergency keypad
inline constexpr std::uint8_t kKeyDelete = 13;
// EmergencyCallPhase.
inline constexpr std::uint8_t kPhaseIdle = 8, kPhaseDialing = 2, kPhaseConnected = 6;
// The phone program's window and its key-tone command.
inline constexpr std::u16string_view kPhoneProgramClass = u"MSCprog";
inline constexpr std::uint32_t kPhoneKeyToneMessage = 32771;

// Where everything of the keypad stands (screen pixels, before the animation offsets).
struct KeypadLayout {
    int key_w = 0, key_h = 0, keys_x = 0, keys_top = 0;
    int box_w = 0, box_h = 0, box_gap = 0, boxes_x = 0, boxes_y = 0;
    int header_y = 0, band_top = 0, band_bottom = 0, spacing = 0;
    // The panel beside the keys in landscape (header, boxes, number): its left and width.
    int side_x = 0, side_w = 0;
    // The emergency keypad: the typed number's row, the delete arrow, the button bar.
    int dial_top = 0, dial_bottom = 0, arrow_x = 0, arrow_y = 0;
    int bar_top = 0;
    int call_x = 0, right_x = 0, button_y = 0, button_w = 0, button_h = 0;
};

struct KeypadState {
    // The lock's conditions as last read.
    bool in_force = false;
    std::array<char, kCodeLength> code{};
    std::uint32_t password_time = 0;
    // The right code was typed just now: the unlock request that follows needs no keypad.
    bool code_entered = false;

    std::array<char, kCodeLength> EnteredDigits{};
    std::array<std::uint8_t, kKeypadKeys> KeyMap{10, 0, 11, 7, 8, 9, 4, 5, 6, 1, 2, 3};
    std::array<bool, kKeypadKeys> PressedKey{};
    std::uint32_t PressTick = 0;
    bool WrongShown = false;
    int FlashAlpha = 0;
    std::u16string DialText;
    int DialFontSize = 0, dial_font_start = 0;
    std::uint8_t EmergencyCallPhase = kPhaseIdle;
    bool DialingOwn = false;
    bool HangUpAsked = false;
    std::uint32_t CallSeconds = 0;
    bool StatusShown = false;
    int after_ticks = 0;        // ticks of timer 1050 since the call ended
    bool status_until_touch = false;  // "invalid" stays until the next touch
    std::u16string status;      // " - calling...", " - 00:12", ...
    // The emergency keypad's own buttons under the finger.
    bool arrow_down = false, call_down = false, right_down = false;
    std::uint8_t key_down = 0;  // a hardware key pressed while the keypad is up

    KeypadLayout at;
    int slide_x = 0, slide_y = 0;  // offset of the keypad scene while it moves
    int curtain = 0;               // 0..8: how far the lock screen's panels have left
    bool loaded = false, labels_made = false;
    int label_size = 0;            // height of the digit labels' font
    gfx::Image box, key, mark, arrow, star, call_buttons, hang_up;
    gfx::Image key_src, box_src;   // as loaded, to be fitted to the screen
    // Digits 0..9, emergency, cancel, hash, and the header and the typed number.
    gfx::Image labels[15];
    gfx::Image end_text;           // the right-hand button's text during a call
    std::u16string header_text;
};

// Reads PasswordLock, SavedPassword, PasswordTime and the two pictures; true when the lock is
// in force. HintCounter under the system's password key turns NoSystemLock on.
bool read_password_lock(Context& c);
// The code is asked for now: the lock is in force and its grace time is over.
bool code_needed(Context& c);
// The lock screen lost the foreground to another program while locked: with the code needed,
// the lock comes back over it (the repeat lock), unless a call's own windows took it.
void guard_lock(Context& c);
// True once after the right code was typed.
bool take_code_entered(Context& c);
// An emergency call of the keypad is being dialled or talked.
bool emergency_call_going(const Context& c);
// Stylus and keys in PasswordEntry and EmergencyCall; false in other states.
bool keypad_touch(Context& c, std::uint32_t msg, int x, int y);
bool keypad_key(Context& c, std::uint32_t msg, std::uint8_t vk);
void keypad_timer(Context& c, std::uint32_t id);
void relayout_keypad(Context& c);
void compose_keypad(Context& c);

}  // namespace lumo::lockscreen
