#pragma once
// The service program Vardex2: its command line, single-instance rules, start-up, main window
// procedure, settings reload and shutdown. main() is a thin wrapper over run().
#include <cstdint>
#include <string_view>

#include "lumo/platform/platform.h"
#include "lumo/service/state.h"

namespace lumo::service {

// What a command line asks for, decided by prefix in this order.
enum class Command : std::uint8_t {
    Slide,     // bring the lock screen up in this process, then exit
    Reset,     // zero the system unread counters, then exit
    Unlock,    // post WM_Unlock to lumo, then exit
    Password,  // with a running service: WM_LOCK_PASSWORD to lumo
    Stop,      // with a running service: close lumo and the service (box unless -nomsg)
    Start,     // no service running: start it (-show locks at once)
};
struct CommandTable {
    std::u16string_view prefix;
    Command command;
    bool needs_running;  // only when a service runs already
};
inline constexpr CommandTable kCommandTable[] = {
    {protocol::service_switch::kSlide, Command::Slide, false},
    {protocol::service_switch::kReset, Command::Reset, false},
    {protocol::service_switch::kUnlock, Command::Unlock, false},
    {protocol::service_switch::kPassword, Command::Password, true},
};
Command classify(std::u16string_view command_line, bool service_running);

// The whole program: the command line, then either a one-shot action or the service's life.
// Always 0, as the phone's program returns.
int run(platform::Platform& platform, std::u16string_view command_line);

// The service's life in steps, for tests that drive the window procedure in between.
// Opens the log and runs the instance start-up up to and including the first-lock decisions
// (steps 1 to 7 before the loop); false when the service is not to run.
bool start(State& state, platform::Platform& platform, std::u16string_view command_line);
// Dispatches until the loop ends (WM_QUIT; on the fake also when nothing is left to do).
void message_loop(State& state);
// The steps after the loop.
void after_loop(State& state);

// The main window procedure.
platform::LResult window_proc(State& state, Hwnd hwnd, std::uint32_t msg, platform::WParam wparam,
                              platform::LParam lparam);

// Whether the procedure has a handler of its own for a private message, and whether a timer
// keeps running after it fired (the others are stopped before their handler runs).
bool handles_message(std::uint32_t msg);
bool timer_repeats(std::uint32_t id);

// Settings load (every start and WM_RefreshSetting): first start with its two boxes and the
// default set, else repair; then the service's own corrections and its paths.
void load_settings(State& state);

// Texts of the first start.
inline constexpr std::u16string_view kLicenceCaption = u"Lumo v2.30 by Vesk";
inline constexpr std::u16string_view kDisclaimerCaption = u"DISCLAIMER";
extern const std::u16string_view kLicenceText;
extern const std::u16string_view kDisclaimerText;
// The closing box of WM_CLOSE with wParam 1.
inline constexpr std::u16string_view kClosingCaption = u"Vardex2 Message";
inline constexpr const char* kClosingFormat = "Vardex2 & %s are closing...";
inline constexpr std::u16string_view kDialogClass = u"Dialog";
// The box of a keyboard hook that cannot be installed (titled kClosingCaption).
inline constexpr std::u16string_view kKeyHookFailedText =
    u"Cannot hook the keyboard. Some of the functions will be disabled.";
// The box after the system's own device lock was switched off (titled kLicenceCaption).
inline constexpr std::u16string_view kDeviceLockText =
    u"Just turned off the system device lock. Please soft reset the device, otherwise it'll be "
    u"double locked.";
inline constexpr const char* kVersionLine = "Vardex2 v2.30";

// The lock screen as the protocol reaches it: the cached window, re-found when stale.
Hwnd find_slide_window(State& state);
// Posts to lumo with lParam = LcdOff; false when lumo is not running.
bool post_to_lock_screen(State& state, std::uint32_t msg, platform::WParam wparam);

}  // namespace lumo::service
