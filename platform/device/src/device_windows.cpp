// The window manager as a device program sees it. Windows live in the host; this program keeps
// the procedures of its own windows, its subclasses, hooks and timers, and serves what the host
// sends to them on its window thread.
#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "internal.h"
#include "lumo/platform/text.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Packet;
using wire::Reader;
using wire::Status;
using Clock = std::chrono::steady_clock;

bool is_kind(const Packet& p, Kind k) { return p.header.kind == static_cast<std::uint16_t>(k); }

// What the window thread serves even while it waits for something else.
bool is_urgent(const Packet& p) {
    return is_kind(p, Kind::SentMessage) || is_kind(p, Kind::LinkSend) || is_kind(p, Kind::HookCall) ||
           is_kind(p, Kind::SubclassState) || is_kind(p, Kind::DialogClosed);
}
bool is_posted(const Packet& p) { return is_kind(p, Kind::PostedMessage); }

void write_rect(wire::Writer& w, const Rect& r) { w.i32(r.left).i32(r.top).i32(r.right).i32(r.bottom); }

class DeviceWindows final : public Windows {
public:
    explicit DeviceWindows(wire::Client& c) : c_(c) {}

    // --- classes and windows -------------------------------------------------------------
    bool register_class(std::u16string_view name, WndProc proc) override {
        std::lock_guard lock(m_);
        claim_window_thread();
        return classes_.emplace(fold_case(name), std::move(proc)).second;
    }

    Hwnd create_window(const CreateWindowParams& p) override {
        WndProc proc;
        {
            std::lock_guard lock(m_);
            auto it = classes_.find(fold_case(p.class_name));
            if (it == classes_.end()) return 0;
            proc = it->second;
            claim_window_thread();
        }
        auto& w = c_.begin(Kind::WinCreate);
        w.u32(p.style).u32(p.ex_style);
        write_rect(w, p.rect);
        w.u32(p.parent).s16(p.class_name).s16(p.title);
        auto r = request(w);
        if (!r || r->status != Status::Ok) return 0;
        Reader rd(r->body);
        Hwnd h = rd.u32();
        if (!rd.ok() || h == 0) return 0;
        {
            std::lock_guard lock(m_);
            procs_[h] = proc;
        }
        if (proc(h, WM_CREATE, 0, 0) == -1) {
            destroy_window(h);
            return 0;
        }
        if (p.style & WS_VISIBLE) show_window(h, SW_SHOW);
        return h;
    }

    bool destroy_window(Hwnd hwnd) override {
        auto& w = c_.begin(Kind::WinDestroy);
        w.u32(hwnd);
        auto r = request(w);
        bool ok = r && r->status == Status::Ok;
        if (ok) forget(hwnd);
        return ok;
    }

    bool is_window(Hwnd hwnd) override { return hwnd && window_info(hwnd).has_value(); }

    Hwnd find_window(std::optional<std::u16string_view> cls,
                     std::optional<std::u16string_view> title) override {
        auto& w = c_.begin(Kind::WinFind);
        w.u32((cls ? 1u : 0u) | (title ? 2u : 0u)).s16(cls.value_or(u"")).s16(title.value_or(u""));
        return hwnd_reply(request(w));
    }

    std::optional<WindowInfo> window_info(Hwnd hwnd) override {
        auto& w = c_.begin(Kind::WinInfo);
        w.u32(hwnd);
        auto r = request(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        WindowInfo info;
        info.class_name = rd.s16();
        info.title = rd.s16();
        info.style = rd.u32();
        info.ex_style = rd.u32();
        info.rect.left = rd.i32();
        info.rect.top = rd.i32();
        info.rect.right = rd.i32();
        info.rect.bottom = rd.i32();
        info.parent = rd.u32();
        info.process_id = rd.u32();
        auto flags = rd.u32();
        if (!rd.ok()) return std::nullopt;
        info.visible = flags & 1;
        info.minimized = flags & 2;
        return info;
    }

    bool set_window_text(Hwnd hwnd, std::u16string_view text) override {
        auto& w = c_.begin(Kind::WinSetText);
        w.u32(hwnd).s16(text);
        return ok(request(w));
    }
    bool set_style(Hwnd hwnd, std::uint32_t style) override {
        auto& w = c_.begin(Kind::WinSetStyle);
        w.u32(hwnd).u32(0).u32(style);
        return ok(request(w));
    }
    bool set_ex_style(Hwnd hwnd, std::uint32_t ex_style) override {
        auto& w = c_.begin(Kind::WinSetStyle);
        w.u32(hwnd).u32(1).u32(ex_style);
        return ok(request(w));
    }
    Hwnd get_window(Hwnd hwnd, Relation relation) override {
        auto& w = c_.begin(Kind::WinRelation);
        w.u32(hwnd).u32(static_cast<std::uint32_t>(relation));
        return hwnd_reply(request(w));
    }
    std::vector<Hwnd> top_level_windows() override {
        auto& w = c_.begin(Kind::WinList);
        auto r = request(w);
        std::vector<Hwnd> out;
        if (!r || r->status != Status::Ok) return out;
        Reader rd(r->body);
        auto n = rd.u32();
        for (std::uint32_t i = 0; i < n && rd.ok(); ++i) out.push_back(rd.u32());
        if (!rd.ok()) out.clear();
        return out;
    }

    // --- showing, placing, z-order ----------------------------------------------------------
    bool show_window(Hwnd hwnd, int command) override {
        auto& w = c_.begin(Kind::WinShow);
        w.u32(hwnd).i32(command);
        return hwnd_reply(request(w)) != 0;
    }
    bool move_window(Hwnd hwnd, const Rect& rect) override {
        return set_window_pos(hwnd, 0, rect, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    bool set_window_pos(Hwnd hwnd, Hwnd after, const Rect& rect, std::uint32_t flags) override {
        auto& w = c_.begin(Kind::WinSetPos);
        w.u32(hwnd).u32(after);
        write_rect(w, rect);
        w.u32(flags);
        return ok(request(w));
    }
    Hwnd foreground_window() override {
        auto& w = c_.begin(Kind::WinForeground);
        return hwnd_reply(request(w));
    }
    bool set_foreground_window(Hwnd hwnd) override {
        auto& w = c_.begin(Kind::WinSetForeground);
        w.u32(hwnd);
        return ok(request(w));
    }
    bool bring_to_top(Hwnd hwnd) override {
        auto& w = c_.begin(Kind::WinBringToTop);
        w.u32(hwnd);
        return ok(request(w));
    }
    Hwnd window_from_point(std::int32_t x, std::int32_t y) override {
        auto& w = c_.begin(Kind::WinFromPoint);
        w.i32(x).i32(y);
        return hwnd_reply(request(w));
    }

    // --- messages -----------------------------------------------------------------------------
    bool post(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam) override {
        // To another program's window straight over the link between the two once there is
        // one: then every thread's posts to that program go that one way, in order.
        if (auto peer = link_peer(hwnd)) {
            wire::Writer pw(Kind::PostedMessage, wire::PacketType::Event, 0);
            pw.u32(hwnd).u32(msg).u32(wparam).i32(lparam);
            if (c_.post_link(peer, pw.bytes()) == wire::Client::LinkPost::Sent) return true;
        }
        auto& w = c_.begin(Kind::MsgPost);
        w.u32(hwnd).u32(msg).u32(wparam).i32(lparam);
        auto r = c_.call(w);  // a post never waits on another program
        return ok(r);
    }

    std::optional<LResult> send(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam,
                                std::optional<std::uint32_t> timeout_ms) override {
        if (on_window_thread()) {
            if (auto proc = direct_proc(hwnd)) return (*proc)(hwnd, msg, wparam, lparam);
            bool answered = false;
            auto r = send_over_link(hwnd, msg, wparam, lparam, timeout_ms, answered);
            if (answered) return r;
        }
        return send_via_host(hwnd, msg, wparam, lparam, 0, timeout_ms);
    }

    bool get_message(Message& out) override {
        for (;;) {
            // A program whose device is gone (the host ended or dropped it) ends: its timers
            // would otherwise keep it running for nothing, every call failing at once.
            if (!c_.alive()) {
                out = {0, WM_QUIT, 0, 0};
                return false;
            }
            // Links whose peers left are closed here too: a program that only receives over
            // links would otherwise keep one socket for every program that ever linked to it.
            c_.close_dead_links();
            // What the socket holds is read by the wait below; only a due timer, which yields
            // to every message, needs a look at the socket first.
            if (take_ready(out, true, timer_due())) return out.message != WM_QUIT;
            auto wait = next_timer_wait();
            auto p = c_.next_event_if(wait, [](const Packet& e) { return is_urgent(e) || is_posted(e); });
            if (!p) {
                if (!c_.alive()) {
                    out = {0, WM_QUIT, 0, 0};
                    return false;
                }
                continue;  // a timer fell due
            }
            if (is_posted(*p)) {
                if (decode_posted(*p, out)) return true;
            } else {
                serve(std::move(*p));
            }
        }
    }

    bool peek_message(Message& out, bool remove) override { return take_ready(out, remove); }

    LResult dispatch(const Message& m) override {
        if (m.message == WM_TIMER && m.lparam != 0) return 0;
        bool chained;
        WndProc proc;
        {
            std::lock_guard lock(m_);
            auto it = procs_.find(m.hwnd);
            if (it == procs_.end()) return 0;  // not one of ours (a notification sink, a gone window)
            chained = subclassed_.count(m.hwnd) != 0;
            proc = it->second;
        }
        if (chained) return send_via_host(m.hwnd, m.message, m.wparam, m.lparam, 0, {}).value_or(0);
        return proc(m.hwnd, m.message, m.wparam, m.lparam);
    }

    void post_quit(int exit_code) override {
        std::lock_guard lock(m_);
        quit_ = true;
        quit_code_ = exit_code;
    }

    LResult default_proc(Hwnd hwnd, std::uint32_t msg, WParam, LParam) override {
        if (msg == WM_CLOSE) destroy_window(hwnd);
        return 0;
    }

    // --- timers -------------------------------------------------------------------------------
    bool set_timer(Hwnd hwnd, std::uint32_t id, std::uint32_t ms) override {
        bool elsewhere;
        {
            std::lock_guard lock(m_);
            if (!procs_.count(hwnd)) return false;
            std::erase_if(timers_, [&](auto& t) { return t.hwnd == hwnd && t.id == id; });
            timers_.push_back({hwnd, id, ms, Clock::now() + std::chrono::milliseconds(ms), next_timer_seq_++});
            elsewhere = window_thread_set_ && window_thread_ != std::this_thread::get_id();
        }
        // Armed from a worker thread: the window thread may be waiting with an older deadline;
        // a null message wakes it to take the new timer into account.
        if (elsewhere) post(hwnd, WM_NULL, 0, 0);
        return true;
    }
    bool kill_timer(Hwnd hwnd, std::uint32_t id) override {
        std::lock_guard lock(m_);
        return std::erase_if(timers_, [&](auto& t) { return t.hwnd == hwnd && t.id == id; }) != 0;
    }

    // --- subclassing --------------------------------------------------------------------------
    std::optional<PrevProc> subclass(Hwnd hwnd, WndProc proc) override {
        auto& w = c_.begin(Kind::Subclass);
        w.u32(hwnd);
        auto r = request(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto entry = rd.u32();
        if (!rd.ok()) return std::nullopt;
        std::lock_guard lock(m_);
        subclass_procs_[entry] = std::move(proc);
        return entry;
    }
    LResult call_previous(PrevProc prev, Hwnd hwnd, std::uint32_t msg, WParam wparam,
                          LParam lparam) override {
        return send_via_host(hwnd, msg, wparam, lparam, prev, {}).value_or(0);
    }
    bool remove_subclass(Hwnd hwnd, PrevProc prev) override {
        auto& w = c_.begin(Kind::Unsubclass);
        w.u32(hwnd).u32(prev);
        bool removed = ok(request(w));
        std::lock_guard lock(m_);
        subclass_procs_.erase(prev);
        return removed;
    }

    // --- keyboard -----------------------------------------------------------------------------
    HookHandle set_keyboard_hook(KeyHookProc proc) override {
        std::lock_guard lock(m_);
        claim_window_thread();
        auto& w = c_.begin(Kind::HookSet);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return 0;
        Reader rd(r->body);
        auto id = rd.u32();
        if (!rd.ok()) return 0;
        hooks_[id] = std::move(proc);
        return id;
    }
    bool remove_keyboard_hook(HookHandle hook) override {
        auto& w = c_.begin(Kind::HookRemove);
        w.u32(hook);
        bool removed = ok(c_.call(w));
        std::lock_guard lock(m_);
        hooks_.erase(hook);
        return removed;
    }
    void key_event(std::uint8_t vk, std::uint32_t flags) override {
        auto& w = c_.begin(Kind::KeyEvent);
        w.u32(vk).u32(flags);
        c_.call(w);
    }

    std::uint8_t input_method_key(Hwnd hwnd) override {
        auto& w = c_.begin(Kind::InputMethodKey);
        w.u32(hwnd);
        auto r = request(w);
        if (!r || r->status != wire::Status::Ok) return 0;
        wire::Reader rd(r->body);
        auto vk = rd.u32();
        return rd.done() && vk <= 0xFE ? std::uint8_t(vk) : 0;
    }

    // --- the shell ----------------------------------------------------------------------------
    bool full_screen(Hwnd hwnd, std::uint32_t flags) override {
        auto& w = c_.begin(Kind::ShellFullScreen);
        w.u32(hwnd).u32(flags);
        return ok(request(w));
    }
    Rect work_area() override {
        auto& w = c_.begin(Kind::WorkArea);
        auto r = request(w);
        Rect out;
        if (!r || r->status != wire::Status::Ok) return out;
        wire::Reader rd(r->body);
        Rect got{rd.i32(), rd.i32(), rd.i32(), rd.i32()};
        return rd.done() ? got : out;
    }

    // --- message boxes ------------------------------------------------------------------------
    int message_box(Hwnd owner, std::u16string_view text, std::u16string_view caption,
                    std::uint32_t flags) override {
        auto& w = c_.begin(Kind::MessageBox);
        w.u32(owner).u32(flags).s16(text).s16(caption);
        Hwnd box = hwnd_reply(request(w));
        if (!box) return 0;
        // The modal loop: the caller's windows keep getting their messages and timers.
        for (;;) {
            if (!c_.alive()) return 0;
            {
                std::lock_guard lock(m_);
                if (auto it = dialog_results_.find(box); it != dialog_results_.end()) {
                    int result = it->second;
                    dialog_results_.erase(it);
                    return result;
                }
            }
            Message m;
            if (take_ready(m, true)) {
                if (m.message == WM_QUIT) {
                    // The program is ending: the box closes with its cancel answer and the
                    // quit stays for the main loop.
                    post_quit(static_cast<int>(m.wparam));
                    auto& press = c_.begin(Kind::DialogPress);
                    press.u32(box).i32(message_box_cancel_button(flags));
                    request(press);
                    std::lock_guard lock(m_);
                    dialog_results_.try_emplace(box, message_box_cancel_button(flags));
                } else {
                    dispatch(m);
                }
                continue;
            }
            {
                // take_ready may just have served the answer.
                std::lock_guard lock(m_);
                if (dialog_results_.count(box)) continue;
            }
            auto p = c_.next_event_if(next_timer_wait(),
                                      [](const Packet& e) { return is_urgent(e) || is_posted(e); });
            if (!p) {
                if (!c_.alive()) return 0;
                continue;
            }
            if (is_posted(*p)) {
                if (decode_posted(*p, m)) dispatch(m);
            } else {
                serve(std::move(*p));
            }
        }
    }

private:
    struct Timer {
        Hwnd hwnd;
        std::uint32_t id;
        std::uint32_t period;
        Clock::time_point due;
        std::uint64_t seq;  // arming order breaks ties
    };

    static bool ok(const std::optional<wire::Client::Reply>& r) { return r && r->status == Status::Ok; }
    static Hwnd hwnd_reply(const std::optional<wire::Client::Reply>& r) {
        if (!r || r->status != Status::Ok) return 0;
        Reader rd(r->body);
        auto h = rd.u32();
        return rd.ok() ? h : 0;
    }

    void claim_window_thread() {
        if (!window_thread_set_) {
            window_thread_ = std::this_thread::get_id();
            window_thread_set_ = true;
        }
    }
    bool on_window_thread() {
        std::lock_guard lock(m_);
        return window_thread_set_ && window_thread_ == std::this_thread::get_id();
    }

    // A request that may make the host send to this program's windows (activation, position,
    // destroy): on the window thread those messages are handled before it returns, as the
    // phone delivers them synchronously to the caller's own windows.
    std::optional<wire::Client::Reply> request(wire::Writer& w, int timeout_ms = -1) {
        if (!on_window_thread()) return c_.call(w, timeout_ms);
        auto r = c_.call_serving(w, timeout_ms, is_urgent, [this](Packet&& p) { serve(std::move(p)); });
        // Messages the host sent just before its reply were read before it: they are queued.
        while (auto p = c_.take_queued_if(is_urgent)) serve(std::move(*p));
        return r;
    }

    std::optional<WndProc> direct_proc(Hwnd hwnd) {
        std::lock_guard lock(m_);
        auto it = procs_.find(hwnd);
        if (it == procs_.end() || subclassed_.count(hwnd)) return std::nullopt;
        return it->second;
    }

    std::optional<LResult> send_via_host(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam,
                                         std::uint32_t below, std::optional<std::uint32_t> timeout_ms) {
        auto& w = c_.begin(Kind::MsgSend);
        w.u32(hwnd).u32(msg).u32(wparam).i32(lparam).u32(below);
        int t = timeout_ms ? static_cast<int>(*timeout_ms) : -1;
        auto r = request(w, t);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto result = rd.i32();
        if (!rd.ok()) return std::nullopt;
        return result;
    }

    // A send to another program's window straight over the link the host opened between the
    // two (asked for at the first send to that window). `answered` is false when the link did
    // not take it: no link, the window is subclassed, gone or the host's own; the host routes
    // it then, which is always right. Only the window thread sends over links, as it serves
    // what comes over them while it waits.
    std::optional<LResult> send_over_link(Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam,
                                          std::optional<std::uint32_t> timeout_ms, bool& answered) {
        c_.close_dead_links();
        std::uint32_t peer = link_peer(hwnd);
        if (peer == 0 || !c_.has_link(peer)) return std::nullopt;
        auto& w = c_.begin(Kind::LinkSend);
        w.u32(hwnd).u32(msg).u32(wparam).i32(lparam);
        int t = timeout_ms ? static_cast<int>(*timeout_ms) : -1;
        bool sent = false;
        auto r = c_.call_link(peer, w, t, is_urgent, [this](Packet&& p) { serve(std::move(p)); }, &sent);
        if (!sent) return std::nullopt;
        if (!r) {  // it left and no answer came in time, as through the host
            answered = true;
            return std::nullopt;
        }
        if (r->status != Status::Ok) {
            // Not for the link after all (subclassed, gone, its owner left): the host decides.
            std::lock_guard lock(m_);
            owners_.erase(hwnd);
            return std::nullopt;
        }
        Reader rd(r->body);
        auto result = rd.i32();
        answered = true;
        if (!rd.ok()) return std::nullopt;
        while (auto p = c_.take_queued_if(is_urgent)) serve(std::move(*p));
        return result;
    }

    // The program owning `hwnd` when the host links this program to it; 0 for this program's
    // own windows, the host's and windows that do not exist. Asked of the host once a window
    // (the asking opens the link).
    std::uint32_t link_peer(Hwnd hwnd) {
        {
            std::lock_guard lock(m_);
            if (procs_.count(hwnd)) return 0;
            if (auto it = owners_.find(hwnd); it != owners_.end()) return it->second;
        }
        auto& w = c_.begin(Kind::PeerLink);
        w.u32(hwnd);
        auto r = request(w);
        if (!r) return 0;
        std::uint32_t peer = 0;
        if (r->status == Status::Ok) {
            Reader rd(r->body);
            peer = rd.u32();
            if (!rd.ok()) peer = 0;
        }
        // A window the host cannot reach over a link (its own) is not asked again; one that
        // does not exist, or whose program is busy, is asked again next time.
        if (r->status == Status::Ok || r->status == Status::Unsupported) {
            std::lock_guard lock(m_);
            owners_[hwnd] = peer;
        }
        return peer;
    }

    void forget(Hwnd hwnd) {
        std::lock_guard lock(m_);
        procs_.erase(hwnd);
        subclassed_.erase(hwnd);
        std::erase_if(timers_, [&](auto& t) { return t.hwnd == hwnd; });
    }

    // Handles one event the host sent to this program's windows, hooks or subclasses.
    void serve(Packet&& p) {
        Reader rd(p.body);
        if (is_kind(p, Kind::SentMessage)) {
            auto id = rd.u32();
            Hwnd h = rd.u32();
            auto msg = rd.u32();
            auto wp = rd.u32();
            auto lp = rd.i32();
            auto entry = rd.u32();
            if (!rd.ok()) return;
            WndProc proc;
            {
                std::lock_guard lock(m_);
                if (entry) {
                    if (auto it = subclass_procs_.find(entry); it != subclass_procs_.end()) proc = it->second;
                } else if (auto it = procs_.find(h); it != procs_.end()) {
                    proc = it->second;
                }
            }
            LResult result = proc ? proc(h, msg, wp, lp) : 0;
            if (msg == WM_DESTROY && entry == 0) forget(h);
            if (id) {
                auto& w = c_.begin(Kind::MsgReply);
                w.u32(id).i32(result);
                c_.send_only(w);
            }
        } else if (is_kind(p, Kind::LinkSend)) {
            // From a program over its link: answered here when the window is this program's
            // and nobody subclassed it; anything else goes back to the host's routing.
            Hwnd h = rd.u32();
            auto msg = rd.u32();
            auto wp = rd.u32();
            auto lp = rd.i32();
            wire::Writer w(Kind::LinkSend, wire::PacketType::Reply, p.header.seq);
            WndProc proc;
            {
                std::lock_guard lock(m_);
                if (auto it = procs_.find(h); rd.done() && it != procs_.end() && !subclassed_.count(h))
                    proc = it->second;
            }
            if (!proc) {
                w.status(rd.done() ? Status::NotFound : Status::BadRequest);
                c_.reply_link(p.link, w);
                return;
            }
            LResult result = proc(h, msg, wp, lp);
            if (msg == WM_DESTROY) forget(h);
            w.status(Status::Ok).i32(result);
            c_.reply_link(p.link, w);
        } else if (is_kind(p, Kind::HookCall)) {
            auto call = rd.u32();
            auto hook = rd.u32();
            auto vk = rd.u32();
            auto flags = rd.u32();
            if (!rd.ok()) return;
            KeyHookProc proc;
            {
                std::lock_guard lock(m_);
                if (auto it = hooks_.find(hook); it != hooks_.end()) proc = it->second;
            }
            KeyEvent ev{static_cast<std::uint8_t>(vk), (flags & KEYEVENTF_KEYUP) != 0, true, flags};
            bool swallow = proc && proc(ev);
            auto& w = c_.begin(Kind::HookReply);
            w.u32(call).u32(swallow ? 1 : 0);
            c_.send_only(w);
        } else if (is_kind(p, Kind::SubclassState)) {
            Hwnd h = rd.u32();
            auto on = rd.u32();
            if (!rd.ok()) return;
            std::lock_guard lock(m_);
            if (on) {
                subclassed_.insert(h);
            } else {
                subclassed_.erase(h);
            }
        } else if (is_kind(p, Kind::DialogClosed)) {
            Hwnd h = rd.u32();
            auto button = rd.i32();
            if (!rd.ok()) return;
            std::lock_guard lock(m_);
            dialog_results_[h] = button;
        }
    }

    // A posted message to take: from the host, or from a link for a window of this program
    // (one posted as its window was going, or a peer's forgery, is dropped).
    bool decode_posted(const Packet& p, Message& out) {
        Reader rd(p.body);
        out.hwnd = rd.u32();
        out.message = rd.u32();
        out.wparam = rd.u32();
        out.lparam = rd.i32();
        if (!rd.done()) return false;
        if (p.link == 0) return true;
        std::lock_guard lock(m_);
        return procs_.count(out.hwnd) != 0;
    }

    // Serves what was sent, then takes the oldest posted message, the quit, or a due timer.
    bool take_ready(Message& out, bool remove, bool from_socket = true) {
        auto next = [&](const wire::Client::EventFilter& want) {
            return from_socket ? c_.next_event_if(0, want) : c_.take_queued_if(want);
        };
        while (auto p = next(is_urgent)) serve(std::move(*p));
        {
            std::lock_guard lock(m_);
            if (peeked_) {
                out = *peeked_;
                if (remove) peeked_.reset();
                return true;
            }
        }
        if (remove) {
            while (auto p = next(is_posted))
                if (decode_posted(*p, out)) return true;
        } else {
            // Peeking without removing: put it back in front by handling it ourselves next time.
            while (auto p = next(is_posted)) {
                if (!decode_posted(*p, out)) continue;
                std::lock_guard lock(m_);
                peeked_ = out;
                return true;
            }
        }
        std::lock_guard lock(m_);
        if (quit_) {
            out = {0, WM_QUIT, static_cast<WParam>(quit_code_), 0};
            if (remove) quit_ = false;
            return true;
        }
        auto now = Clock::now();
        Timer* due = nullptr;
        for (auto& t : timers_)
            if (t.due <= now && (!due || t.due < due->due || (t.due == due->due && t.seq < due->seq))) due = &t;
        if (!due) return false;
        out = {due->hwnd, WM_TIMER, due->id, 0};
        if (remove) {
            // The next one counts from when this one was taken: a late loop gets one WM_TIMER,
            // never a burst of catch-ups.
            due->due = now + std::chrono::milliseconds(std::max<std::uint32_t>(due->period, 1));
        }
        return true;
    }

    bool timer_due() {
        std::lock_guard lock(m_);
        auto now = Clock::now();
        return std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.due <= now; });
    }

    int next_timer_wait() {
        std::lock_guard lock(m_);
        if (timers_.empty()) return -1;
        auto next = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) { return a.due < b.due; })->due;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left + 1, 60000));
    }

    wire::Client& c_;
    std::mutex m_;
    std::thread::id window_thread_;
    bool window_thread_set_ = false;
    std::map<std::u16string, WndProc> classes_;  // folded names
    std::map<Hwnd, WndProc> procs_;
    std::set<Hwnd> subclassed_;
    std::map<std::uint32_t, WndProc> subclass_procs_;
    std::map<HookHandle, KeyHookProc> hooks_;
    std::vector<Timer> timers_;
    std::uint64_t next_timer_seq_ = 0;
    std::map<Hwnd, int> dialog_results_;
    std::optional<Message> peeked_;
    std::map<Hwnd, std::uint32_t> owners_;  // who takes a window's messages over a link (0: nobody)
    bool quit_ = false;
    int quit_code_ = 0;
};

}  // namespace

std::unique_ptr<Windows> make_windows(wire::Client& c) { return std::make_unique<DeviceWindows>(c); }

}  // namespace lumo::platform::device
