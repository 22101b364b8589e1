#pragma once
// The device's window manager: every window of every program lives here, with its z-order, the
// foreground window, subclass chains, keyboard hooks and message boxes. Window procedures run in
// the owning programs; the host routes messages to them. Windows of simulated programs and
// message boxes have their procedure inside the host.
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "host.h"
#include "lumo/store/window_order.h"
#include "lumo/platform/windows.h"

namespace lumo::host {

using platform::Hwnd;
using platform::LResult;
using platform::Rect;

// The procedure of a window that lives in the host.
using HostProc = std::function<LResult(Hwnd, std::uint32_t, platform::WParam, platform::LParam)>;

struct HostWindow {
    Hwnd hwnd = 0;
    std::uint32_t client = 0;  // the program that owns it (0: the host itself)
    std::uint32_t pid = 0;
    std::u16string class_name, title;
    std::uint32_t style = 0, ex_style = 0;
    Rect rect;
    Hwnd parent = 0;
    bool visible = false, minimized = false;
    std::vector<Hwnd> children;
    struct Subclass {
        std::uint32_t entry;
        std::uint32_t client;
    };
    std::vector<Subclass> chain;  // bottom first
    HostProc host_proc;           // set for windows whose procedure runs in the host
    std::u16string body;          // what a host window shows under its title (simulated programs)
};

struct DialogRecord {
    Hwnd hwnd = 0;
    std::uint32_t client = 0;
    std::uint32_t pid = 0;
    std::uint32_t flags = 0;
    std::u16string text, caption;
};

class WindowService {
public:
    explicit WindowService(Host& host);

    HostWindow* find(Hwnd hwnd);
    Hwnd foreground() const { return foreground_; }
    const std::vector<Hwnd>& z_order() const { return z_.list(); }

    // For the host's own windows (simulated programs, message boxes).
    Hwnd create_host_window(std::uint32_t client, std::uint32_t pid, std::u16string class_name,
                            std::u16string title, std::uint32_t style, std::uint32_t ex_style,
                            Rect rect, HostProc proc, Hwnd parent = 0);
    // Sets a window's text (its title), as the owner's SetWindowText does.
    bool set_text(Hwnd hwnd, std::u16string text);
    void destroy(Hwnd hwnd);
    bool show(Hwnd hwnd, int command);
    void set_foreground(Hwnd hwnd);
    bool post(Hwnd hwnd, std::uint32_t msg, platform::WParam w, platform::LParam l);
    // Runs a key event through the hooks, then to the foreground window.
    void key_event(std::uint8_t vk, std::uint32_t flags);
    // Asked before every key event; false drops it (set by the power manager: a key is
    // activity, and a sleeping phone hears none).
    std::function<bool(std::uint8_t vk, std::uint32_t flags)> key_gate;
    // The screen as programs see it now (set by the display); message boxes are laid out on it.
    std::function<platform::Rect()> screen_rect;
    // The height a message box of that width needs to show all of its text (set by the display).
    std::function<int(const std::u16string& text, int width)> box_height;
    // Sends a message to every top-level window, as the window manager does on a system change.
    void broadcast(std::uint32_t msg, platform::WParam w, platform::LParam l);
    // Removes every window of a process (it ended).
    void remove_process_windows(std::uint32_t pid);

    std::vector<DialogRecord> dialogs() const;
    bool press_dialog(Hwnd hwnd, int button);

private:
    Hwnd focus_from(Hwnd gaining, Hwnd losing);
    void register_handlers();
    // The window a request names, or nullptr after answering the request with NotFound.
    HostWindow* answer_missing(Hwnd hwnd, wire::Writer& out);
    void client_closed(ClientConn& c);

    Hwnd top_level(Hwnd hwnd);
    void place_top(Hwnd hwnd);
    void place_bottom(Hwnd hwnd);
    void place_below(Hwnd hwnd, Hwnd other);
    void activate(Hwnd hwnd);
    void pass_activation(Hwnd leaving, bool leaving_alive);
    void destroy_tree(Hwnd hwnd, bool notify);
    void set_pos(Hwnd hwnd, Hwnd after, const Rect& rect, std::uint32_t flags);

    // Delivers a message the window manager sends (activation, position, destroy, ...): the
    // owner gets it without anybody waiting for the result.
    void notify(Hwnd hwnd, std::uint32_t msg, platform::WParam w, platform::LParam l);
    // Where a message to `hwnd` goes next: the subclass below `below` (0: the top of the
    // chain), or the window's own procedure (entry 0).
    struct Route {
        std::uint32_t client = 0;
        std::uint32_t entry = 0;
        bool host = false;
    };
    Route route(const HostWindow& w, std::uint32_t below) const;
    void send_to_client(std::uint32_t client, std::uint32_t send_id, Hwnd hwnd, std::uint32_t msg,
                        platform::WParam w, platform::LParam l, std::uint32_t entry);

    void next_hook();
    void close_dialog(Hwnd hwnd, int button);

    Host& host_;
    std::map<Hwnd, HostWindow> windows_;
    store::ZOrder z_;  // top-level windows, top first; topmost ones lead
    Hwnd foreground_ = 0;
    Hwnd next_hwnd_ = 0x00010000;
    std::uint32_t next_entry_ = 1;

    struct PendingSend {
        Host::Deferred reply;
        std::uint32_t target = 0;
    };
    std::map<std::uint32_t, PendingSend> sends_;
    std::uint32_t next_send_ = 1;
    // Pairs of programs (lower id first) the host opened a link between; the host keeps no end
    // of it, only the note, so that one pair gets one link.
    std::set<std::pair<std::uint32_t, std::uint32_t>> links_;

    struct Hook {
        std::uint32_t id;
        std::uint32_t client;
    };
    std::vector<Hook> hooks_;  // newest first
    std::uint32_t next_hook_id_ = 1;
    struct KeyWork {
        std::uint8_t vk;
        std::uint32_t flags;
    };
    std::deque<KeyWork> keys_;
    bool key_busy_ = false;
    std::vector<std::uint32_t> key_hooks_;  // the hooks the current key still has to pass
    std::size_t key_index_ = 0;
    std::uint32_t key_call_ = 0;
    std::uint32_t next_call_ = 1;
    Host::TimerId key_timer_ = 0;

    std::map<Hwnd, DialogRecord> dialogs_;
    std::map<Hwnd, std::uint8_t> input_method_keys_;  // what each window's VK_PROCESSKEY stood for
    std::vector<Hwnd> dialog_order_;  // oldest first
};

}  // namespace lumo::host
