#pragma once
// The fake's window manager: one window table for every fake process, one posted queue (the
// FakePlatform's), timers on the manual clock, and direct calls for sent messages.
#include <map>
#include <set>
#include <utility>

#include "lumo/platform/fake/fake_platform.h"
#include "lumo/store/window_order.h"

namespace lumo::platform::fake {

class FakePlatform::FakeWindows final : public Windows {
public:
    explicit FakeWindows(FakePlatform& p);

    bool register_class(std::u16string_view name, WndProc proc) override;
    Hwnd create_window(const CreateWindowParams& params) override;
    bool destroy_window(Hwnd hwnd) override;
    bool is_window(Hwnd hwnd) override;
    Hwnd find_window(std::optional<std::u16string_view> class_name,
                     std::optional<std::u16string_view> title) override;
    std::optional<WindowInfo> window_info(Hwnd hwnd) override;
    bool set_window_text(Hwnd hwnd, std::u16string_view text) override;
    bool set_style(Hwnd hwnd, std::uint32_t style) override;
    bool set_ex_style(Hwnd hwnd, std::uint32_t ex_style) override;
    Hwnd get_window(Hwnd hwnd, Relation relation) override;
    std::vector<Hwnd> top_level_windows() override;

    bool show_window(Hwnd hwnd, int show_command) override;
    bool move_window(Hwnd hwnd, const Rect& rect) override;
    bool set_window_pos(Hwnd hwnd, Hwnd insert_after, const Rect& rect,
                        std::uint32_t flags) override;
    Hwnd foreground_window() override;
    bool set_foreground_window(Hwnd hwnd) override;
    bool bring_to_top(Hwnd hwnd) override;
    Hwnd window_from_point(std::int32_t x, std::int32_t y) override;

    bool post(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam) override;
    std::optional<LResult> send(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam,
                                std::optional<std::uint32_t> timeout_ms) override;
    bool get_message(Message& out) override;
    bool peek_message(Message& out, bool remove) override;
    LResult dispatch(const Message& m) override;
    void post_quit(int exit_code) override;
    LResult default_proc(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam) override;

    bool set_timer(Hwnd hwnd, std::uint32_t id, std::uint32_t ms) override;
    bool kill_timer(Hwnd hwnd, std::uint32_t id) override;

    std::optional<PrevProc> subclass(Hwnd hwnd, WndProc proc) override;
    LResult call_previous(PrevProc prev, Hwnd hwnd, std::uint32_t msg, WParam wparam,
                          LParam lparam) override;
    bool remove_subclass(Hwnd hwnd, PrevProc prev) override;

    HookHandle set_keyboard_hook(KeyHookProc proc) override;
    bool remove_keyboard_hook(HookHandle hook) override;
    void key_event(std::uint8_t vk, std::uint32_t flags) override;

    int message_box(Hwnd owner, std::u16string_view text, std::u16string_view caption,
                    std::uint32_t flags) override;

    bool full_screen(Hwnd hwnd, std::uint32_t flags) override;
    std::uint8_t input_method_key(Hwnd hwnd) override;
    Rect work_area() override;

    // --- for FakePlatform -------------------------------------------------------------------
    // A process ended: its windows go without messages, and its classes, timers, subclasses and
    // hooks with them.
    void remove_process(std::uint32_t pid);
    std::optional<std::uint64_t> next_timer_due();
    void set_dialog_responder(DialogResponder responder);
    bool press_dialog(int button);
    std::vector<DialogInfo> dialogs() const;

private:
    std::map<Hwnd, std::uint8_t> input_method_keys_;
    struct Subclass {
        PrevProc token = 0;
        std::uint32_t pid = 0;
        WndProc proc;
    };
    struct Window {
        Hwnd hwnd = 0;
        std::uint32_t pid = 0;
        std::u16string class_name, title;
        std::uint32_t style = 0, ex_style = 0;  // style without WS_VISIBLE: `visible` says it
        Rect rect;
        Hwnd parent = 0;
        std::vector<Hwnd> children;  // creation order
        bool visible = false, minimized = false;
        WndProc class_proc;
        std::vector<Subclass> chain;  // bottom first
    };
    struct Timer {
        std::uint32_t period = 0;
        std::uint64_t due = 0;
        std::uint64_t seq = 0;  // arming order breaks ties between timers due together
    };
    struct Hook {
        HookHandle handle = 0;
        std::uint32_t pid = 0;
        KeyHookProc proc;
    };
    struct Box {
        std::size_t record = 0;      // index into dialogs_
        std::optional<int> pending;  // pressed or closed, taken at the next pass
    };

    Window* find(Hwnd hwnd);
    Hwnd top_level(Hwnd hwnd);
    bool topmost(Hwnd hwnd);
    void place_top(Hwnd hwnd);
    void place_bottom(Hwnd hwnd);
    void place_below(Hwnd hwnd, Hwnd other);
    Hwnd new_window(std::uint32_t pid, std::u16string class_name, const CreateWindowParams& params,
                    WndProc class_proc);
    Hwnd finish_create(Hwnd hwnd, std::uint32_t style);

    // Calls the window's procedure chain from the subclass below `below` (nullopt: the top).
    // Runs without the lock; 0 when the window is gone.
    LResult call(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam,
                 std::optional<PrevProc> below = std::nullopt);
    void activate(Hwnd hwnd);
    Hwnd focus_from(Hwnd gaining, Hwnd losing);
    void pass_activation(Hwnd leaving, bool leaving_alive);
    void destroy_tree(Hwnd hwnd, bool notify);
    void forget(Hwnd hwnd);  // drops a window from every table (the lock is held)
    // Takes the next posted message or due timer; `advance` lets the clock run to the next one.
    enum class Take { Message, Quit, Nothing };
    Take take(Message& out, bool remove, bool advance);
    void finish_box(Hwnd box, int answer);

    FakePlatform& p_;
    std::map<std::pair<std::uint32_t, std::u16string>, std::pair<std::u16string, WndProc>> classes_;
    std::map<Hwnd, Window> windows_;
    store::ZOrder z_;  // top-level windows, top first; the topmost band leads
    Hwnd foreground_ = 0;
    Hwnd next_hwnd_ = 0x00010000;
    PrevProc next_token_ = 1;
    // Where a subclass that came off a chain passed messages on to when it left (0: the class
    // procedure), for a procedure still running when it is removed.
    std::map<PrevProc, PrevProc> removed_;
    std::map<std::pair<Hwnd, std::uint32_t>, Timer> timers_;
    std::uint64_t timer_seq_ = 0;
    std::vector<Hook> hooks_;  // newest first
    HookHandle next_hook_ = 1;
    DialogResponder responder_;
    std::vector<DialogInfo> dialogs_;
    std::map<Hwnd, Box> boxes_;  // open boxes
};

}  // namespace lumo::platform::fake
