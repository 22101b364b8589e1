#include "fake_windows.h"

#include <algorithm>
#include <array>

#include "lumo/platform/text.h"

namespace lumo::platform::fake {
namespace {

bool offers(std::uint32_t flags, int button) {
    auto buttons = message_box_buttons(flags);
    return std::find(buttons.begin(), buttons.end(), button) != buttons.end();
}

}  // namespace

FakePlatform::FakeWindows::FakeWindows(FakePlatform& p)
    : p_(p), z_([this](Hwnd h) { return topmost(h); }) {
    responder_ = [](const DialogInfo& box) { return std::optional<int>(message_box_default_button(box.flags)); };
}

// --- lookups and z-order (the lock is held) ---------------------------------------------------

FakePlatform::FakeWindows::Window* FakePlatform::FakeWindows::find(Hwnd hwnd) {
    auto it = windows_.find(hwnd);
    return it == windows_.end() ? nullptr : &it->second;
}

Hwnd FakePlatform::FakeWindows::top_level(Hwnd hwnd) {
    for (auto* w = find(hwnd); w; w = find(w->parent))
        if (w->parent == 0) return w->hwnd;
    return 0;
}

bool FakePlatform::FakeWindows::topmost(Hwnd hwnd) {
    auto* w = find(hwnd);
    return w && (w->ex_style & WS_EX_TOPMOST);
}

void FakePlatform::FakeWindows::place_top(Hwnd hwnd) { z_.place_top(hwnd); }

void FakePlatform::FakeWindows::place_bottom(Hwnd hwnd) { z_.place_bottom(hwnd); }

void FakePlatform::FakeWindows::place_below(Hwnd hwnd, Hwnd other) {
    auto* o = find(other);
    if (o && !o->parent) z_.place_below(hwnd, other);
}

// --- procedures -----------------------------------------------------------------------------

LResult FakePlatform::FakeWindows::call(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam,
                                        std::optional<PrevProc> below) {
    WndProc proc;
    std::uint32_t owner = 0;
    {
        std::lock_guard lock(p_.mutex_);
        auto* w = find(hwnd);
        if (!w) return 0;
        std::size_t index = w->chain.size();  // the entry to call is chain[index - 1]
        if (below) {
            // A subclass that already left passes on to what was below it then.
            PrevProc token = *below;
            for (;;) {
                auto it = std::find_if(w->chain.begin(), w->chain.end(),
                                       [&](const Subclass& s) { return s.token == token; });
                if (it != w->chain.end()) {
                    index = std::size_t(it - w->chain.begin());
                    break;
                }
                auto gone = removed_.find(token);
                if (gone == removed_.end() || gone->second == 0) {
                    index = 0;
                    break;
                }
                token = gone->second;
                // `token` is itself a live or removed subclass: call it, not below it.
                auto live = std::find_if(w->chain.begin(), w->chain.end(),
                                         [&](const Subclass& s) { return s.token == token; });
                if (live != w->chain.end()) {
                    index = std::size_t(live - w->chain.begin()) + 1;
                    break;
                }
            }
        }
        proc = index == 0 ? w->class_proc : w->chain[index - 1].proc;
        owner = index == 0 ? w->pid : w->chain[index - 1].pid;
    }
    if (!proc) return 0;
    // A procedure runs as the program it belongs to, as on the phone, whoever caused the call.
    auto scope = p_.as_process(owner);
    return proc(hwnd, msg, wparam, lparam);
}

// --- classes and windows --------------------------------------------------------------------

bool FakePlatform::FakeWindows::register_class(std::u16string_view name, WndProc proc) {
    std::lock_guard lock(p_.mutex_);
    if (name.empty() || !proc) return false;
    return classes_.try_emplace({p_.current_process(), fold_case(name)}, std::u16string(name), proc)
        .second;
}

Hwnd FakePlatform::FakeWindows::new_window(std::uint32_t pid, std::u16string class_name,
                                           const CreateWindowParams& params, WndProc class_proc) {
    Hwnd h = next_hwnd_;
    next_hwnd_ += 4;
    Window w;
    w.hwnd = h;
    w.pid = pid;
    w.class_name = std::move(class_name);
    w.title = params.title;
    w.style = params.style & ~WS_VISIBLE;
    w.ex_style = params.ex_style;
    w.rect = params.rect;
    w.parent = params.parent;
    w.class_proc = std::move(class_proc);
    windows_[h] = std::move(w);
    if (params.parent) {
        find(params.parent)->children.push_back(h);
    } else {
        place_top(h);
    }
    return h;
}

Hwnd FakePlatform::FakeWindows::finish_create(Hwnd h, std::uint32_t style) {
    if (call(h, WM_CREATE, 0, 0) == -1) {
        destroy_window(h);
        return 0;
    }
    if ((style & WS_VISIBLE) && is_window(h)) show_window(h, SW_SHOW);
    return is_window(h) ? h : 0;
}

Hwnd FakePlatform::FakeWindows::create_window(const CreateWindowParams& params) {
    Hwnd h;
    {
        std::lock_guard lock(p_.mutex_);
        auto pid = p_.current_process();
        auto cls = classes_.find({pid, fold_case(params.class_name)});
        if (cls == classes_.end()) return 0;
        if (params.parent && !find(params.parent)) return 0;
        h = new_window(pid, cls->second.first, params, cls->second.second);
    }
    return finish_create(h, params.style);
}

void FakePlatform::FakeWindows::forget(Hwnd hwnd) {
    auto* w = find(hwnd);
    if (!w) return;
    if (auto* parent = find(w->parent)) std::erase(parent->children, hwnd);
    for (auto& s : w->chain) removed_[s.token] = 0;
    z_.erase(hwnd);
    std::erase_if(timers_, [&](auto& t) { return t.first.first == hwnd; });
    if (auto box = boxes_.find(hwnd); box != boxes_.end() && !box->second.pending)
        box->second.pending = message_box_cancel_button(dialogs_[box->second.record].flags);
    windows_.erase(hwnd);
    input_method_keys_.erase(hwnd);
}

void FakePlatform::FakeWindows::destroy_tree(Hwnd hwnd, bool notify) {
    if (notify) call(hwnd, WM_DESTROY, 0, 0);
    std::vector<Hwnd> children;
    {
        std::lock_guard lock(p_.mutex_);
        if (auto* w = find(hwnd)) children = w->children;
    }
    for (Hwnd c : children) destroy_tree(c, notify);
    std::lock_guard lock(p_.mutex_);
    forget(hwnd);
}

bool FakePlatform::FakeWindows::destroy_window(Hwnd hwnd) {
    bool was_foreground;
    {
        std::lock_guard lock(p_.mutex_);
        auto* w = find(hwnd);
        if (!w) return false;
        was_foreground = w->parent == 0 && foreground_ == hwnd;
    }
    destroy_tree(hwnd, true);
    if (was_foreground) pass_activation(hwnd, false);
    return true;
}

bool FakePlatform::FakeWindows::is_window(Hwnd hwnd) {
    std::lock_guard lock(p_.mutex_);
    return find(hwnd) != nullptr;
}

Hwnd FakePlatform::FakeWindows::find_window(std::optional<std::u16string_view> class_name,
                                            std::optional<std::u16string_view> title) {
    std::lock_guard lock(p_.mutex_);
    for (Hwnd h : z_.list()) {
        auto* w = find(h);
        if ((!class_name || equal_no_case(w->class_name, *class_name)) &&
            (!title || equal_no_case(w->title, *title)))
            return h;
    }
    return 0;
}

std::optional<WindowInfo> FakePlatform::FakeWindows::window_info(Hwnd hwnd) {
    std::lock_guard lock(p_.mutex_);
    auto* w = find(hwnd);
    if (!w) return std::nullopt;
    return WindowInfo{w->class_name, w->title,  w->style | (w->visible ? WS_VISIBLE : 0u),
                      w->ex_style,   w->rect,   w->parent,
                      w->pid,        w->visible, w->minimized};
}

bool FakePlatform::FakeWindows::set_window_text(Hwnd hwnd, std::u16string_view text) {
    std::lock_guard lock(p_.mutex_);
    auto* w = find(hwnd);
    if (!w) return false;
    w->title = text;
    return true;
}

bool FakePlatform::FakeWindows::set_style(Hwnd hwnd, std::uint32_t style) {
    std::lock_guard lock(p_.mutex_);
    auto* w = find(hwnd);
    if (!w) return false;
    w->style = style & ~WS_VISIBLE;  // visibility changes through show_window only
    return true;
}

bool FakePlatform::FakeWindows::set_ex_style(Hwnd hwnd, std::uint32_t ex_style) {
    std::lock_guard lock(p_.mutex_);
    auto* w = find(hwnd);
    if (!w) return false;
    bool band_changes = ((w->ex_style ^ ex_style) & WS_EX_TOPMOST) != 0;
    w->ex_style = ex_style;
    if (band_changes && w->parent == 0) place_top(hwnd);
    return true;
}

Hwnd FakePlatform::FakeWindows::get_window(Hwnd hwnd, Relation relation) {
    std::lock_guard lock(p_.mutex_);
    auto* w = find(hwnd);
    if (!w) return 0;
    if (relation == Relation::Parent) return w->parent;
    if (relation == Relation::FirstChild) return w->children.empty() ? 0 : w->children.front();
    // Siblings: the parent's children, or the z-order for top-level windows.
    const auto& list = w->parent ? find(w->parent)->children : z_.list();
    auto it = std::find(list.begin(), list.end(), hwnd);
    if (it == list.end()) return 0;
    if (relation == Relation::Next) return it + 1 == list.end() ? 0 : *(it + 1);
    return it == list.begin() ? 0 : *(it - 1);
}

std::vector<Hwnd> FakePlatform::FakeWindows::top_level_windows() {
    std::lock_guard lock(p_.mutex_);
    return z_.list();
}

// --- showing, placing, activation -----------------------------------------------------------

void FakePlatform::FakeWindows::activate(Hwnd hwnd) {
    Hwnd n, old;
    {
        std::lock_guard lock(p_.mutex_);
        n = top_level(hwnd);
        if (!n || n == foreground_) return;
        old = foreground_;
        foreground_ = n;
        if (old && !find(old)) old = 0;
    }
    if (old) call(old, WM_ACTIVATE, WA_INACTIVE, LParam(n));
    call(n, WM_ACTIVATE, WA_ACTIVE, LParam(old));
    call(n, WM_SETFOCUS, focus_from(n, old), 0);
}

// Focus belongs to a program's own thread: a window that takes it from another program's
// window is told none lost it.
Hwnd FakePlatform::FakeWindows::focus_from(Hwnd gaining, Hwnd losing) {
    std::lock_guard lock(p_.mutex_);
    auto* g = find(gaining);
    auto* l = losing ? find(losing) : nullptr;
    return g && l ? store::focus_lost_by(g->pid, losing, l->pid) : 0;
}

void FakePlatform::FakeWindows::pass_activation(Hwnd leaving, bool leaving_alive) {
    Hwnd next = 0;
    {
        std::lock_guard lock(p_.mutex_);
        if (foreground_ != leaving) return;
        next = z_.next_active(leaving, [this](Hwnd h) {
            auto* w = find(h);
            return w->visible && !w->minimized && !(w->ex_style & WS_EX_NOACTIVATE);
        });
        foreground_ = next;
        leaving_alive = leaving_alive && find(leaving);
    }
    if (leaving_alive) call(leaving, WM_ACTIVATE, WA_INACTIVE, LParam(next));
    if (next) {
        Hwnd old = leaving_alive ? leaving : 0;
        call(next, WM_ACTIVATE, WA_ACTIVE, LParam(old));
        call(next, WM_SETFOCUS, focus_from(next, old), 0);
    }
}

bool FakePlatform::FakeWindows::show_window(Hwnd hwnd, int show_command) {
    bool was, top;
    {
        std::lock_guard lock(p_.mutex_);
        auto* w = find(hwnd);
        if (!w) return false;
        was = w->visible;
        top = w->parent == 0;
        switch (show_command) {
            case SW_HIDE:
                if (!was) return false;
                w->visible = false;
                break;
            case SW_SHOWNA:
            case SW_SHOWNOACTIVATE:
                w->visible = true;
                break;
            case SW_MINIMIZE:
            case SW_SHOWMINIMIZED:
                w->visible = true;
                w->minimized = true;
                if (top) place_bottom(hwnd);
                break;
            default:
                w->visible = true;
                w->minimized = false;
                if (top) place_top(hwnd);
                break;
        }
    }
    if (show_command == SW_HIDE) {
        call(hwnd, WM_SHOWWINDOW, 0, 0);
        call(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
        if (top) pass_activation(hwnd, true);
        return true;
    }
    if (!was) call(hwnd, WM_SHOWWINDOW, 1, 0);
    call(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
    if (!top || show_command == SW_SHOWNA || show_command == SW_SHOWNOACTIVATE) return was;
    if (show_command == SW_MINIMIZE || show_command == SW_SHOWMINIMIZED) {
        pass_activation(hwnd, true);
    } else {
        activate(hwnd);
    }
    return was;
}

bool FakePlatform::FakeWindows::move_window(Hwnd hwnd, const Rect& rect) {
    {
        std::lock_guard lock(p_.mutex_);
        auto* w = find(hwnd);
        if (!w) return false;
        w->rect = rect;
    }
    call(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
    return true;
}

bool FakePlatform::FakeWindows::set_window_pos(Hwnd hwnd, Hwnd after, const Rect& rect,
                                               std::uint32_t flags) {
    bool was, visible, top;
    {
        std::lock_guard lock(p_.mutex_);
        auto* w = find(hwnd);
        if (!w) return false;
        if (!(flags & SWP_NOMOVE)) {
            w->rect = {rect.left, rect.top, rect.left + w->rect.width(), rect.top + w->rect.height()};
        }
        if (!(flags & SWP_NOSIZE)) {
            w->rect.right = w->rect.left + rect.width();
            w->rect.bottom = w->rect.top + rect.height();
        }
        top = w->parent == 0;
        if (!(flags & SWP_NOZORDER) && top) {
            if (after == HWND_TOPMOST) w->ex_style |= WS_EX_TOPMOST;
            if (after == HWND_NOTOPMOST) w->ex_style &= ~WS_EX_TOPMOST;
            if (after > HWND_BOTTOM && after < HWND_NOTOPMOST) {
                place_below(hwnd, after);
            } else {
                z_.place_after(hwnd, after);
            }
        }
        was = w->visible;
        if (flags & SWP_SHOWWINDOW) w->visible = true;
        if (flags & SWP_HIDEWINDOW) w->visible = false;
        visible = w->visible;
    }
    if (visible != was) call(hwnd, WM_SHOWWINDOW, visible ? 1 : 0, 0);
    call(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
    if (!top || !is_window(hwnd)) return true;
    if (was && !visible) pass_activation(hwnd, true);
    if (!(flags & SWP_NOACTIVATE) && visible) activate(hwnd);
    return true;
}

Hwnd FakePlatform::FakeWindows::foreground_window() {
    std::lock_guard lock(p_.mutex_);
    return foreground_;
}

bool FakePlatform::FakeWindows::set_foreground_window(Hwnd hwnd) {
    Hwnd n;
    {
        std::lock_guard lock(p_.mutex_);
        n = top_level(hwnd);
        if (!n) return false;
        place_top(n);
    }
    activate(n);
    return true;
}

bool FakePlatform::FakeWindows::bring_to_top(Hwnd hwnd) {
    bool visible;
    Hwnd n;
    {
        std::lock_guard lock(p_.mutex_);
        n = top_level(hwnd);
        if (!n) return false;
        place_top(n);
        visible = find(n)->visible;
    }
    call(n, WM_WINDOWPOSCHANGED, 0, 0);
    if (visible) activate(n);
    return true;
}

Hwnd FakePlatform::FakeWindows::window_from_point(std::int32_t x, std::int32_t y) {
    std::lock_guard lock(p_.mutex_);
    for (Hwnd h : z_.list()) {
        auto* w = find(h);
        if (w->visible && !w->minimized && w->rect.contains(x, y)) return h;
    }
    return 0;
}

// --- messages -------------------------------------------------------------------------------

bool FakePlatform::FakeWindows::post(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam) {
    std::lock_guard lock(p_.mutex_);
    if (!find(hwnd)) return false;
    p_.posted_.push_back({hwnd, msg, wparam, lparam});
    return true;
}

std::optional<LResult> FakePlatform::FakeWindows::send(Hwnd hwnd, std::uint32_t msg,
                                                       WParam wparam, LParam lparam,
                                                       std::optional<std::uint32_t>) {
    if (!is_window(hwnd)) return std::nullopt;
    return call(hwnd, msg, wparam, lparam);
}

FakePlatform::FakeWindows::Take FakePlatform::FakeWindows::take(Message& out, bool remove,
                                                                bool advance) {
    std::lock_guard lock(p_.mutex_);
    int stalls = 0;
    for (;;) {
        if (!p_.posted_.empty()) {
            out = p_.posted_.front();
            if (remove) p_.posted_.pop_front();
            return out.hwnd == 0 && out.message == WM_QUIT ? Take::Quit : Take::Message;
        }
        auto now = p_.now_ms_.load();
        auto due = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) {
            return std::pair(a.second.due, a.second.seq) < std::pair(b.second.due, b.second.seq);
        });
        if (due != timers_.end() && due->second.due <= now) {
            out = {due->first.first, WM_TIMER, due->first.second, 0};
            // Fired now; the next one is a period away, however late this one was.
            if (remove) due->second.due = now + due->second.period;
            return Take::Message;
        }
        std::optional<std::uint64_t> next = p_.next_registry_due();
        if (due != timers_.end()) next = next ? std::min(*next, due->second.due) : due->second.due;
        // (A due time already passed that produced nothing would loop forever.)
        if (!advance || !next || (*next <= now && stalls++ > 0)) {
            out = {};
            return Take::Nothing;
        }
        p_.now_ms_ = std::max(now, *next);
        p_.deliver();
    }
}

bool FakePlatform::FakeWindows::get_message(Message& out) {
    return take(out, true, true) == Take::Message;
}

bool FakePlatform::FakeWindows::peek_message(Message& out, bool remove) {
    return take(out, remove, false) != Take::Nothing;
}

LResult FakePlatform::FakeWindows::dispatch(const Message& m) {
    return call(m.hwnd, m.message, m.wparam, m.lparam);
}

void FakePlatform::FakeWindows::post_quit(int exit_code) {
    std::lock_guard lock(p_.mutex_);
    p_.posted_.push_back({0, WM_QUIT, WParam(exit_code), 0});
}

LResult FakePlatform::FakeWindows::default_proc(Hwnd hwnd, std::uint32_t msg, WParam, LParam) {
    if (msg == WM_CLOSE) destroy_window(hwnd);
    return 0;
}

// --- timers ---------------------------------------------------------------------------------

bool FakePlatform::FakeWindows::set_timer(Hwnd hwnd, std::uint32_t id, std::uint32_t ms) {
    std::lock_guard lock(p_.mutex_);
    auto* w = find(hwnd);
    if (!w || w->pid != p_.current_process()) return false;
    timers_[{hwnd, id}] = Timer{ms, p_.now_ms_ + ms, timer_seq_++};
    return true;
}

bool FakePlatform::FakeWindows::kill_timer(Hwnd hwnd, std::uint32_t id) {
    std::lock_guard lock(p_.mutex_);
    return timers_.erase({hwnd, id}) > 0;
}

std::optional<std::uint64_t> FakePlatform::FakeWindows::next_timer_due() {
    std::lock_guard lock(p_.mutex_);
    std::optional<std::uint64_t> next;
    for (auto& [key, t] : timers_) next = next ? std::min(*next, t.due) : t.due;
    return next;
}

// --- subclassing ----------------------------------------------------------------------------

std::optional<PrevProc> FakePlatform::FakeWindows::subclass(Hwnd hwnd, WndProc proc) {
    std::lock_guard lock(p_.mutex_);
    auto* w = find(hwnd);
    if (!w || !proc) return std::nullopt;
    PrevProc token = next_token_++;
    w->chain.push_back({token, p_.current_process(), std::move(proc)});
    return token;
}

LResult FakePlatform::FakeWindows::call_previous(PrevProc prev, Hwnd hwnd, std::uint32_t msg,
                                                 WParam wparam, LParam lparam) {
    return call(hwnd, msg, wparam, lparam, prev);
}

bool FakePlatform::FakeWindows::remove_subclass(Hwnd hwnd, PrevProc prev) {
    std::lock_guard lock(p_.mutex_);
    auto* w = find(hwnd);
    if (!w) return false;
    auto it = std::find_if(w->chain.begin(), w->chain.end(), [&](const Subclass& s) {
        return s.token == prev && s.pid == p_.current_process();
    });
    if (it == w->chain.end()) return false;
    removed_[prev] = it == w->chain.begin() ? 0 : (it - 1)->token;
    w->chain.erase(it);
    return true;
}

// --- keyboard -------------------------------------------------------------------------------

HookHandle FakePlatform::FakeWindows::set_keyboard_hook(KeyHookProc proc) {
    std::lock_guard lock(p_.mutex_);
    if (!proc || p_.refuse_keyboard_hook) return 0;
    HookHandle h = next_hook_++;
    hooks_.insert(hooks_.begin(), Hook{h, p_.current_process(), std::move(proc)});
    return h;
}

bool FakePlatform::FakeWindows::remove_keyboard_hook(HookHandle hook) {
    std::lock_guard lock(p_.mutex_);
    return std::erase_if(hooks_, [&](const Hook& h) { return h.handle == hook; }) > 0;
}

void FakePlatform::FakeWindows::key_event(std::uint8_t vk, std::uint32_t flags) {
    KeyEvent event{vk, (flags & KEYEVENTF_KEYUP) != 0, true, flags};
    std::vector<Hook> hooks;
    {
        std::lock_guard lock(p_.mutex_);
        hooks = hooks_;
    }
    for (auto& hook : hooks) {
        {
            // An earlier hook may have removed this one, or ended its program.
            std::lock_guard lock(p_.mutex_);
            if (std::none_of(hooks_.begin(), hooks_.end(),
                             [&](const Hook& h) { return h.handle == hook.handle; }))
                continue;
        }
        if (hook.proc(event)) return;
    }
    std::lock_guard lock(p_.mutex_);
    if (!foreground_) return;
    WParam key = vk;
    if (flags & KEYEVENTF_INPUTMETHOD) {
        input_method_keys_[foreground_] = vk;
        key = VK_PROCESSKEY;
    }
    p_.posted_.push_back({foreground_, event.up ? WM_KEYUP : WM_KEYDOWN, key, 0});
}

std::uint8_t FakePlatform::FakeWindows::input_method_key(Hwnd hwnd) {
    std::lock_guard lock(p_.mutex_);
    auto it = input_method_keys_.find(hwnd);
    return it == input_method_keys_.end() ? 0 : it->second;
}

// --- message boxes --------------------------------------------------------------------------

int FakePlatform::FakeWindows::message_box(Hwnd owner, std::u16string_view text,
                                           std::u16string_view caption, std::uint32_t flags) {
    Hwnd box;
    {
        std::lock_guard lock(p_.mutex_);
        CreateWindowParams params{u"Dialog", std::u16string(caption), WS_POPUP | WS_BORDER,
                                  WS_EX_TOPMOST, Rect{0, 0, 240, 160}, 0};
        // The box's own procedure: closing it is its cancel answer.
        box = new_window(p_.current_process(), u"Dialog", params,
                         [this](Hwnd h, std::uint32_t msg, WParam, LParam) -> LResult {
                             if (msg != WM_CLOSE) return 0;
                             std::lock_guard inner(p_.mutex_);
                             auto it = boxes_.find(h);
                             if (it != boxes_.end() && !it->second.pending)
                                 it->second.pending =
                                     message_box_cancel_button(dialogs_[it->second.record].flags);
                             return 0;
                         });
        dialogs_.push_back(DialogInfo{box, p_.current_process(), owner, std::u16string(text),
                                      std::u16string(caption), flags, std::nullopt});
        boxes_[box] = Box{dialogs_.size() - 1, std::nullopt};
    }
    finish_create(box, WS_VISIBLE);

    for (;;) {
        DialogInfo info;
        DialogResponder responder;
        std::optional<int> pressed;
        {
            std::lock_guard lock(p_.mutex_);
            auto& b = boxes_[box];
            pressed = b.pending;
            info = dialogs_[b.record];
            responder = responder_;
        }
        if (pressed) {
            finish_box(box, *pressed);
            return *pressed;
        }
        if (auto answer = responder ? responder(info) : std::nullopt; answer && offers(flags, *answer)) {
            finish_box(box, *answer);
            return *answer;
        }
        Message m;
        auto got = take(m, true, true);
        if (got == Take::Message) {
            dispatch(m);
            continue;
        }
        if (got == Take::Quit) post_quit(int(m.wparam));  // the caller's loop still has to end
        // Nothing can ever answer the box now: it takes the answer a user's Enter gives.
        int answer = got == Take::Quit ? message_box_cancel_button(flags) : message_box_default_button(flags);
        finish_box(box, answer);
        return answer;
    }
}

void FakePlatform::FakeWindows::finish_box(Hwnd box, int answer) {
    {
        std::lock_guard lock(p_.mutex_);
        auto it = boxes_.find(box);
        if (it == boxes_.end()) return;
        dialogs_[it->second.record].answer = answer;
        boxes_.erase(it);
    }
    destroy_window(box);
}

void FakePlatform::FakeWindows::set_dialog_responder(DialogResponder responder) {
    std::lock_guard lock(p_.mutex_);
    responder_ = std::move(responder);
}

bool FakePlatform::FakeWindows::press_dialog(int button) {
    std::lock_guard lock(p_.mutex_);
    // The newest open box is the one in front.
    Box* newest = nullptr;
    for (auto& [h, b] : boxes_)
        if (!newest || b.record > newest->record) newest = &b;
    if (!newest || newest->pending || !offers(dialogs_[newest->record].flags, button)) return false;
    newest->pending = button;
    return true;
}

std::vector<DialogInfo> FakePlatform::FakeWindows::dialogs() const {
    std::lock_guard lock(p_.mutex_);
    return dialogs_;
}

// --- processes ending -----------------------------------------------------------------------

void FakePlatform::FakeWindows::remove_process(std::uint32_t pid) {
    std::vector<Hwnd> owned;
    {
        std::lock_guard lock(p_.mutex_);
        std::erase_if(hooks_, [&](const Hook& h) { return h.pid == pid; });
        std::erase_if(classes_, [&](auto& c) { return c.first.first == pid; });
        for (auto& [h, w] : windows_) {
            for (auto it = w.chain.begin(); it != w.chain.end();) {
                if (it->pid == pid) {
                    removed_[it->token] = it == w.chain.begin() ? 0 : (it - 1)->token;
                    it = w.chain.erase(it);
                } else {
                    ++it;
                }
            }
            // Its top-level windows, and children it made inside other programs' windows.
            auto* parent = find(w.parent);
            if (w.pid == pid && (!parent || parent->pid != pid)) owned.push_back(h);
        }
    }
    for (Hwnd h : owned) {
        bool was_foreground;
        {
            std::lock_guard lock(p_.mutex_);
            if (!find(h)) continue;
            was_foreground = foreground_ == h;
        }
        // Its procedures are gone with it: nothing is sent.
        destroy_tree(h, false);
        if (was_foreground) pass_activation(h, false);
    }
}

}  // namespace lumo::platform::fake

namespace lumo::platform::fake {

// --- the shell --------------------------------------------------------------------------------

// The shell's elements are whatever top-level windows of their classes the test made.
bool FakePlatform::FakeWindows::full_screen(Hwnd hwnd, std::uint32_t flags) {
    if (!is_window(hwnd)) return false;
    const std::pair<std::u16string_view, std::uint32_t> elements[] = {
        {kShellTaskBarClass, SHFS_SHOWTASKBAR},
        {kShellSipButtonClass, SHFS_SHOWSIPBUTTON},
        {kShellStartIconClass, SHFS_SHOWSTARTICON},
    };
    for (auto [cls, show] : elements) {
        const std::uint32_t hide = show << 1;
        if (!(flags & (show | hide))) continue;
        std::vector<Hwnd> found;
        {
            std::lock_guard lock(p_.mutex_);
            for (Hwnd h : z_.list())
                if (auto* w = find(h); w && equal_no_case(w->class_name, cls)) found.push_back(h);
        }
        for (Hwnd h : found) show_window(h, (flags & show) ? SW_SHOWNA : SW_HIDE);
    }
    return true;
}

Rect FakePlatform::FakeWindows::work_area() {
    auto m = p_.display().metrics();
    Rect area{0, 0, m.width, m.height};
    std::lock_guard lock(p_.mutex_);
    for (Hwnd h : z_.list()) {
        auto* w = find(h);
        if (w && w->visible && equal_no_case(w->class_name, kShellTaskBarClass) && w->rect.top <= 0 &&
            w->rect.bottom > 0)
            area.top = std::max(area.top, w->rect.bottom);
    }
    return area;
}

}  // namespace lumo::platform::fake
