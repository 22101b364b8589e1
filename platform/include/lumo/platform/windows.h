#pragma once
// The window manager, as the phone's programs see it: window classes and windows shared by every
// process of the device, z-order and the foreground window, posted and sent messages, the
// message loop with per-process timers, subclassing (also of other programs' windows), the
// low-level keyboard hook with key injection, and modal message boxes (windows of class
// "Dialog" titled with their caption).
//
// Threads: windows belong to the thread that created them (each program's main thread). Any
// thread may post, send, find and query; get_message, dispatch, timers and message boxes belong
// to the window thread. While a thread waits for a sent message's result it still handles
// messages other programs send to its own windows, so two programs sending to each other never
// deadlock.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/platform/types.h"
#include "lumo/platform/winuser.h"

namespace lumo::platform {

using LResult = std::int32_t;
using WndProc = std::function<LResult(Hwnd, std::uint32_t msg, WParam, LParam)>;
// Stands for "the procedure a subclass replaced", to pass messages on with call_previous.
using PrevProc = std::uint32_t;
using HookHandle = std::uint32_t;  // 0 is "none"

// The shell's full-screen service: which of its elements a window wants shown or hidden.
inline constexpr std::uint32_t SHFS_SHOWTASKBAR = 0x0001, SHFS_HIDETASKBAR = 0x0002,
                               SHFS_SHOWSIPBUTTON = 0x0004, SHFS_HIDESIPBUTTON = 0x0008,
                               SHFS_SHOWSTARTICON = 0x0010, SHFS_HIDESTARTICON = 0x0020;
// The classes of the shell's elements those flags act on.
inline constexpr std::u16string_view kShellTaskBarClass = u"HHTaskBar";
inline constexpr std::u16string_view kShellSipButtonClass = u"MS_SIPBUTTON";
inline constexpr std::u16string_view kShellStartIconClass = u"MS_STARTICON";

struct Rect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::int32_t width() const { return right - left; }
    std::int32_t height() const { return bottom - top; }
    bool contains(std::int32_t x, std::int32_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct CreateWindowParams {
    std::u16string class_name;
    std::u16string title;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    Rect rect;
    Hwnd parent = 0;
};

struct WindowInfo {
    std::u16string class_name;
    std::u16string title;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    Rect rect;
    Hwnd parent = 0;
    std::uint32_t process_id = 0;
    bool visible = false;
    bool minimized = false;
};

enum class Relation : std::uint8_t { FirstChild, Next, Previous, Parent };

struct KeyEvent {
    std::uint8_t vk = 0;
    bool up = false;
    bool injected = false;  // came from key injection rather than the device's keys
    std::uint32_t flags = 0;
};
// A low-level keyboard hook returns true to swallow the event.
using KeyHookProc = std::function<bool(const KeyEvent&)>;

class Windows {
public:
    virtual ~Windows() = default;

    // --- classes and windows -------------------------------------------------------------
    // Registers a class of this process; false when it is registered already.
    virtual bool register_class(std::u16string_view name, WndProc proc) = 0;
    // Creates a window of a registered class. WM_CREATE reaches the procedure before this
    // returns; a result of -1 from it destroys the window again and gives 0.
    virtual Hwnd create_window(const CreateWindowParams& params) = 0;
    // WM_DESTROY reaches the window (and its children, children first) before it goes.
    virtual bool destroy_window(Hwnd hwnd) = 0;
    virtual bool is_window(Hwnd hwnd) = 0;
    // The first top-level window whose class and title match without regard to case; an empty
    // optional matches anything.
    virtual Hwnd find_window(std::optional<std::u16string_view> class_name,
                             std::optional<std::u16string_view> title) = 0;
    virtual std::optional<WindowInfo> window_info(Hwnd hwnd) = 0;
    virtual bool set_window_text(Hwnd hwnd, std::u16string_view text) = 0;
    virtual bool set_style(Hwnd hwnd, std::uint32_t style) = 0;
    virtual bool set_ex_style(Hwnd hwnd, std::uint32_t ex_style) = 0;
    // Child windows: FirstChild of a window, then Next through its siblings.
    virtual Hwnd get_window(Hwnd hwnd, Relation relation) = 0;
    // Top-level windows in z-order, top first.
    virtual std::vector<Hwnd> top_level_windows() = 0;

    // --- showing, placing, z-order ----------------------------------------------------------
    virtual bool show_window(Hwnd hwnd, int show_command) = 0;
    virtual bool move_window(Hwnd hwnd, const Rect& rect) = 0;
    // insert_after: a window, HWND_TOP, HWND_BOTTOM, HWND_TOPMOST or HWND_NOTOPMOST.
    virtual bool set_window_pos(Hwnd hwnd, Hwnd insert_after, const Rect& rect,
                                std::uint32_t flags) = 0;
    virtual Hwnd foreground_window() = 0;
    virtual bool set_foreground_window(Hwnd hwnd) = 0;
    virtual bool bring_to_top(Hwnd hwnd) = 0;
    // The top-most visible window containing the point.
    virtual Hwnd window_from_point(std::int32_t x, std::int32_t y) = 0;

    // --- messages -----------------------------------------------------------------------------
    // Queues a message at the window's program; false when the window does not exist.
    virtual bool post(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam) = 0;
    // Runs the window's procedure and returns its result; nullopt when the window does not
    // exist, its program died meanwhile, or `timeout_ms` passed.
    virtual std::optional<LResult> send(Hwnd hwnd, std::uint32_t msg, WParam wparam,
                                        LParam lparam,
                                        std::optional<std::uint32_t> timeout_ms = {}) = 0;
    // Waits for the next message of this thread's windows (posted messages, then due timers);
    // false when it is WM_QUIT.
    virtual bool get_message(Message& out) = 0;
    // Like get_message without waiting; false when nothing is there.
    virtual bool peek_message(Message& out, bool remove) = 0;
    // Calls the window's procedure (through its subclasses) for a message taken from the queue.
    virtual LResult dispatch(const Message& m) = 0;
    virtual void post_quit(int exit_code) = 0;
    // The default handling: WM_CLOSE destroys the window; everything else gives 0.
    virtual LResult default_proc(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam) = 0;

    // --- timers -------------------------------------------------------------------------------
    // Arms (or re-arms, replacing) timer `id` of a window of this process; WM_TIMER with the id
    // in wParam. A 0 ms timer fires on the next pass of the loop.
    virtual bool set_timer(Hwnd hwnd, std::uint32_t id, std::uint32_t ms) = 0;
    virtual bool kill_timer(Hwnd hwnd, std::uint32_t id) = 0;

    // --- subclassing --------------------------------------------------------------------------
    // Puts `proc` in front of the window's procedure, also for another program's window. The
    // result passes messages on with call_previous; nullopt when the window does not exist.
    virtual std::optional<PrevProc> subclass(Hwnd hwnd, WndProc proc) = 0;
    virtual LResult call_previous(PrevProc prev, Hwnd hwnd, std::uint32_t msg, WParam wparam,
                                  LParam lparam) = 0;
    // Takes this program's subclass off the window again.
    virtual bool remove_subclass(Hwnd hwnd, PrevProc prev) = 0;

    // --- keyboard -----------------------------------------------------------------------------
    // Every key event reaches the newest hook first; a hook that returns true swallows it.
    virtual HookHandle set_keyboard_hook(KeyHookProc proc) = 0;
    virtual bool remove_keyboard_hook(HookHandle hook) = 0;
    // Presses or releases a virtual key as if on the device (KEYEVENTF_KEYUP, KEYEVENTF_SILENT).
    virtual void key_event(std::uint8_t vk, std::uint32_t flags) = 0;
    // The key the input method took for the window (its last VK_PROCESSKEY); 0 when none.
    virtual std::uint8_t input_method_key(Hwnd hwnd) = 0;

    // --- message boxes ------------------------------------------------------------------------
    // Shows a modal box (a window of class "Dialog" titled `caption`) and returns the button
    // chosen (IDOK, ...). The caller's timers and posted messages keep being handled meanwhile;
    // a WM_CLOSE to the box answers it with its cancel button.
    virtual int message_box(Hwnd owner, std::u16string_view text, std::u16string_view caption,
                            std::uint32_t flags) = 0;

    // --- the shell ----------------------------------------------------------------------------
    // Shows or hides the shell's task bar, input-panel button and start icon for `hwnd`
    // (SHFS_* flags; a show wins over a hide of the same element). False when the window does
    // not exist.
    virtual bool full_screen(Hwnd hwnd, std::uint32_t flags) = 0;
    // The part of the screen programs get: the screen less a task bar that shows on it.
    virtual Rect work_area() = 0;
};

}  // namespace lumo::platform
