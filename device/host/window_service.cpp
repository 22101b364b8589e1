#include "window_service.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "lumo/platform/text.h"

namespace lumo::host {

using namespace platform;
using wire::Kind;
using wire::PacketType;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

constexpr std::uint32_t kHookTimeoutMs = 1000;  // a hook that does not answer is skipped

Rect read_rect(Reader& in) {
    Rect r;
    r.left = in.i32();
    r.top = in.i32();
    r.right = in.i32();
    r.bottom = in.i32();
    return r;
}

void write_rect(Writer& out, const Rect& r) { out.i32(r.left).i32(r.top).i32(r.right).i32(r.bottom); }

bool is_topmost(const HostWindow& w) { return (w.ex_style & WS_EX_TOPMOST) != 0; }

}  // namespace

WindowService::WindowService(Host& host)
    : host_(host), z_([this](Hwnd h) {
          auto* w = find(h);
          return w && is_topmost(*w);
      }) {
    register_handlers();
    host_.on_client_closed([this](ClientConn& c) { client_closed(c); });
    host_.post_router = [this](std::uint32_t registering, const Message& m) {
        if (find(m.hwnd)) return post(m.hwnd, m.message, m.wparam, m.lparam);
        // Not a window: a sink of the program that asked for the notification.
        return host_.post_to_client(registering, m);
    };
}

HostWindow* WindowService::answer_missing(Hwnd hwnd, Writer& out) {
    auto* w = find(hwnd);
    if (!w) out.status(Status::NotFound);
    return w;
}

HostWindow* WindowService::find(Hwnd hwnd) {
    auto it = windows_.find(hwnd);
    return it == windows_.end() ? nullptr : &it->second;
}

Hwnd WindowService::top_level(Hwnd hwnd) {
    for (auto* w = find(hwnd); w; w = find(w->parent))
        if (w->parent == 0) return w->hwnd;
    return 0;
}

// --- z-order ------------------------------------------------------------------------------------

void WindowService::place_top(Hwnd hwnd) {
    auto* w = find(hwnd);
    if (w && !w->parent) z_.place_top(hwnd);
}

void WindowService::place_bottom(Hwnd hwnd) {
    auto* w = find(hwnd);
    if (w && !w->parent) z_.place_bottom(hwnd);
}

void WindowService::place_below(Hwnd hwnd, Hwnd other) {
    auto* w = find(hwnd);
    auto* o = find(other);
    if (w && !w->parent && o && !o->parent) z_.place_below(hwnd, other);
}

// --- activation ---------------------------------------------------------------------------------

void WindowService::activate(Hwnd hwnd) {
    Hwnd n = top_level(hwnd);
    if (!n || n == foreground_) return;
    Hwnd old = foreground_;
    foreground_ = n;
    if (old && find(old)) notify(old, WM_ACTIVATE, WA_INACTIVE, LParam(n));
    notify(n, WM_ACTIVATE, WA_ACTIVE, LParam(old));
    notify(n, WM_SETFOCUS, focus_from(n, old), 0);
}

Hwnd WindowService::focus_from(Hwnd gaining, Hwnd losing) {
    auto* g = find(gaining);
    auto* l = losing ? find(losing) : nullptr;
    return g && l ? store::focus_lost_by(g->pid, losing, l->pid) : 0;
}

void WindowService::pass_activation(Hwnd leaving, bool leaving_alive) {
    if (foreground_ != leaving) return;
    Hwnd next = z_.next_active(leaving, [this](Hwnd h) {
        auto* w = find(h);
        return w->visible && !w->minimized && !(w->ex_style & WS_EX_NOACTIVATE);
    });
    foreground_ = 0;
    if (leaving_alive && find(leaving)) notify(leaving, WM_ACTIVATE, WA_INACTIVE, LParam(next));
    if (next) {
        foreground_ = next;
        notify(next, WM_ACTIVATE, WA_ACTIVE, leaving_alive ? LParam(leaving) : 0);
        notify(next, WM_SETFOCUS, leaving_alive ? focus_from(next, leaving) : 0, 0);
    }
}

void WindowService::set_foreground(Hwnd hwnd) {
    Hwnd n = top_level(hwnd);
    if (!n) return;
    place_top(n);
    activate(n);
}

// --- routing ------------------------------------------------------------------------------------

WindowService::Route WindowService::route(const HostWindow& w, std::uint32_t below) const {
    auto& chain = w.chain;
    std::size_t top = chain.size();
    if (below != 0) {
        auto it = std::find_if(chain.begin(), chain.end(), [&](auto& s) { return s.entry == below; });
        top = it == chain.end() ? 0 : std::size_t(it - chain.begin());
    }
    if (top > 0) return {chain[top - 1].client, chain[top - 1].entry, false};
    if (w.host_proc) return {0, 0, true};
    return {w.client, 0, false};
}

void WindowService::send_to_client(std::uint32_t client, std::uint32_t send_id, Hwnd hwnd,
                                   std::uint32_t msg, WParam w, LParam l, std::uint32_t entry) {
    Writer ev(Kind::SentMessage, PacketType::Event, 0);
    ev.u32(send_id).u32(hwnd).u32(msg).u32(w).i32(l).u32(entry);
    host_.send_event(client, ev);
}

void WindowService::notify(Hwnd hwnd, std::uint32_t msg, WParam w, LParam l) {
    auto* win = find(hwnd);
    if (!win) return;
    auto r = route(*win, 0);
    if (r.host) {
        win->host_proc(hwnd, msg, w, l);
    } else {
        send_to_client(r.client, 0, hwnd, msg, w, l, r.entry);
    }
}

bool WindowService::post(Hwnd hwnd, std::uint32_t msg, WParam w, LParam l) {
    auto* win = find(hwnd);
    if (!win) return false;
    if (win->host_proc) {
        // The host's own windows take posted messages at once, through their subclasses.
        notify(hwnd, msg, w, l);
        return true;
    }
    return host_.post_to_client(win->client, {hwnd, msg, w, l});
}

// --- windows ------------------------------------------------------------------------------------

Hwnd WindowService::create_host_window(std::uint32_t client, std::uint32_t pid,
                                       std::u16string class_name, std::u16string title,
                                       std::uint32_t style, std::uint32_t ex_style, Rect rect,
                                       HostProc proc, Hwnd parent) {
    Hwnd h = next_hwnd_;
    next_hwnd_ += 4;
    HostWindow w;
    w.hwnd = h;
    w.client = client;
    w.pid = pid;
    w.class_name = std::move(class_name);
    w.title = std::move(title);
    w.style = style & ~WS_VISIBLE;
    w.ex_style = ex_style;
    w.rect = rect;
    w.host_proc = std::move(proc);
    w.parent = find(parent) ? parent : 0;
    windows_[h] = std::move(w);
    if (auto* p = find(parent)) {
        p->children.push_back(h);
    } else {
        place_top(h);
    }
    if (style & WS_VISIBLE) show(h, SW_SHOW);
    return h;
}

bool WindowService::set_text(Hwnd hwnd, std::u16string text) {
    auto* w = find(hwnd);
    if (!w) return false;
    w->title = std::move(text);
    return true;
}

void WindowService::destroy_tree(Hwnd hwnd, bool notify_owner) {
    auto* w = find(hwnd);
    if (!w) return;
    if (notify_owner) notify(hwnd, WM_DESTROY, 0, 0);
    auto children = w->children;
    for (Hwnd c : children) destroy_tree(c, notify_owner);
    w = find(hwnd);
    if (!w) return;
    if (auto* p = find(w->parent)) std::erase(p->children, hwnd);
    z_.erase(hwnd);
    dialogs_.erase(hwnd);
    std::erase(dialog_order_, hwnd);
    windows_.erase(hwnd);
    input_method_keys_.erase(hwnd);
}

void WindowService::destroy(Hwnd hwnd) {
    if (!find(hwnd)) return;
    bool was_foreground = foreground_ == top_level(hwnd) && find(hwnd)->parent == 0;
    destroy_tree(hwnd, true);
    if (was_foreground) pass_activation(hwnd, false);
}

bool WindowService::show(Hwnd hwnd, int command) {
    auto* w = find(hwnd);
    if (!w) return false;
    bool was = w->visible;
    bool top = w->parent == 0;
    switch (command) {
        case SW_HIDE:
            if (!was) return false;
            w->visible = false;
            notify(hwnd, WM_SHOWWINDOW, 0, 0);
            notify(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
            if (top) pass_activation(hwnd, true);
            return true;
        case SW_SHOWNA:
        case SW_SHOWNOACTIVATE:
            w->visible = true;
            if (!was) notify(hwnd, WM_SHOWWINDOW, 1, 0);
            notify(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
            return was;
        case SW_MINIMIZE:
        case SW_SHOWMINIMIZED:
            w->visible = true;
            w->minimized = true;
            if (top) place_bottom(hwnd);
            if (!was) notify(hwnd, WM_SHOWWINDOW, 1, 0);
            notify(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
            if (top) pass_activation(hwnd, true);
            return was;
        default:
            w->visible = true;
            w->minimized = false;
            if (top) place_top(hwnd);
            if (!was) notify(hwnd, WM_SHOWWINDOW, 1, 0);
            notify(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
            if (top) activate(hwnd);
            return was;
    }
}

void WindowService::set_pos(Hwnd hwnd, Hwnd after, const Rect& rect, std::uint32_t flags) {
    auto* w = find(hwnd);
    if (!w) return;
    if (!(flags & SWP_NOMOVE)) {
        w->rect.right = rect.left + w->rect.width();
        w->rect.bottom = rect.top + w->rect.height();
        w->rect.left = rect.left;
        w->rect.top = rect.top;
    }
    if (!(flags & SWP_NOSIZE)) {
        w->rect.right = w->rect.left + rect.width();
        w->rect.bottom = w->rect.top + rect.height();
    }
    if (!(flags & SWP_NOZORDER) && w->parent == 0) {
        if (after == HWND_TOPMOST) w->ex_style |= WS_EX_TOPMOST;
        if (after == HWND_NOTOPMOST) w->ex_style &= ~WS_EX_TOPMOST;
        if (after > HWND_BOTTOM && after < HWND_NOTOPMOST) {
            place_below(hwnd, after);
        } else {
            z_.place_after(hwnd, after);
        }
    }
    bool was = w->visible;
    if ((flags & SWP_SHOWWINDOW) && !was) {
        w->visible = true;
        notify(hwnd, WM_SHOWWINDOW, 1, 0);
    } else if ((flags & SWP_HIDEWINDOW) && was) {
        w->visible = false;
        notify(hwnd, WM_SHOWWINDOW, 0, 0);
    }
    notify(hwnd, WM_WINDOWPOSCHANGED, 0, 0);
    w = find(hwnd);
    if (!w) return;
    if ((flags & SWP_HIDEWINDOW) && was && w->parent == 0) pass_activation(hwnd, true);
    if (!(flags & SWP_NOACTIVATE) && w->visible && w->parent == 0) activate(hwnd);
}

void WindowService::broadcast(std::uint32_t msg, WParam w, LParam l) {
    auto targets = z_.list();  // a procedure in the host may change the list
    for (Hwnd h : targets) notify(h, msg, w, l);
}

void WindowService::remove_process_windows(std::uint32_t pid) {
    std::vector<Hwnd> mine;
    for (auto& [h, w] : windows_)
        if (w.pid == pid && (w.parent == 0 || !find(w.parent) || find(w.parent)->pid != pid))
            mine.push_back(h);
    for (Hwnd h : mine) {
        if (!find(h)) continue;
        bool was_foreground = foreground_ == h;
        destroy_tree(h, false);
        if (was_foreground) pass_activation(h, false);
    }
}

void WindowService::client_closed(ClientConn& c) {
    std::erase_if(links_, [&](auto& pair) { return pair.first == c.id || pair.second == c.id; });
    // Sends it was answering fail; sends it was waiting for need no answer any more.
    for (auto it = sends_.begin(); it != sends_.end();) {
        if (it->second.target == c.id) {
            host_.reply_later(it->second.reply, [](Writer& w) { w.status(Status::NotFound); });
            it = sends_.erase(it);
        } else if (it->second.reply.client == c.id) {
            it = sends_.erase(it);
        } else {
            ++it;
        }
    }
    // Its subclasses come off other programs' windows.
    for (auto& [h, w] : windows_) {
        auto before = w.chain.size();
        std::erase_if(w.chain, [&](auto& s) { return s.client == c.id; });
        if (before && w.chain.empty() && w.client && w.client != c.id) {
            Writer ev(Kind::SubclassState, PacketType::Event, 0);
            ev.u32(h).u32(0);
            host_.send_event(w.client, ev);
        }
    }
    std::erase_if(hooks_, [&](auto& hk) { return hk.client == c.id; });
    std::vector<Hwnd> owned;
    for (auto& [h, w] : windows_)
        if (w.client == c.id && w.parent == 0) owned.push_back(h);
    for (Hwnd h : owned) {
        bool was_foreground = foreground_ == h;
        destroy_tree(h, false);
        if (was_foreground) pass_activation(h, false);
    }
}

// --- keyboard -----------------------------------------------------------------------------------

void WindowService::key_event(std::uint8_t vk, std::uint32_t flags) {
    if (key_gate && !key_gate(vk, flags)) return;
    keys_.push_back({vk, flags});
    if (!key_busy_) next_hook();
}

void WindowService::next_hook() {
    for (;;) {
        if (!key_busy_) {
            if (keys_.empty()) return;
            key_busy_ = true;
            key_hooks_.clear();
            for (auto& hk : hooks_) key_hooks_.push_back(hk.id);
            key_index_ = 0;
        }
        auto& key = keys_.front();
        while (key_index_ < key_hooks_.size()) {
            auto id = key_hooks_[key_index_];
            auto it = std::find_if(hooks_.begin(), hooks_.end(), [&](auto& h) { return h.id == id; });
            if (it == hooks_.end() || !host_.client(it->client)) {
                ++key_index_;
                continue;
            }
            key_call_ = next_call_++;
            Writer ev(Kind::HookCall, PacketType::Event, 0);
            ev.u32(key_call_).u32(id).u32(key.vk).u32(key.flags);
            host_.send_event(it->client, ev);
            auto call = key_call_;
            key_timer_ = host_.schedule(kHookTimeoutMs, [this, call] {
                if (call != key_call_) return;
                host_.log().printf("keyboard hook %u did not answer; skipped", key_hooks_[key_index_]);
                key_timer_ = 0;
                ++key_index_;
                next_hook();
            });
            return;
        }
        // No hook swallowed it: the foreground window gets it.
        if (foreground_) {
            bool up = key.flags & KEYEVENTF_KEYUP;
            WParam vk = key.vk;
            if (key.flags & KEYEVENTF_INPUTMETHOD) {
                input_method_keys_[foreground_] = key.vk;
                vk = VK_PROCESSKEY;
            }
            post(foreground_, up ? WM_KEYUP : WM_KEYDOWN, vk, 0);
        }
        keys_.pop_front();
        key_busy_ = false;
    }
}

// --- message boxes ------------------------------------------------------------------------------

std::vector<DialogRecord> WindowService::dialogs() const {
    std::vector<DialogRecord> out;
    for (Hwnd h : dialog_order_) out.push_back(dialogs_.at(h));
    return out;
}

bool WindowService::press_dialog(Hwnd hwnd, int button) {
    if (hwnd == 0 && !dialog_order_.empty()) hwnd = dialog_order_.back();
    auto it = dialogs_.find(hwnd);
    if (it == dialogs_.end()) return false;
    auto buttons = message_box_buttons(it->second.flags);
    if (std::find(buttons.begin(), buttons.end(), button) == buttons.end()) return false;
    close_dialog(hwnd, button);
    return true;
}

void WindowService::close_dialog(Hwnd hwnd, int button) {
    auto it = dialogs_.find(hwnd);
    if (it == dialogs_.end()) return;
    auto client = it->second.client;
    host_.log().printf("message box \"%s\" answered %d",
                       to_utf8(it->second.caption).c_str(), button);
    destroy(hwnd);
    Writer ev(Kind::DialogClosed, PacketType::Event, 0);
    ev.u32(hwnd).i32(button);
    host_.send_event(client, ev);
}

// --- requests -----------------------------------------------------------------------------------

void WindowService::register_handlers() {
    host_.add_handler(Kind::WinCreate, [this](ClientConn& c, Reader& in, Writer& out) {
        auto style = in.u32();
        auto ex = in.u32();
        auto rect = read_rect(in);
        auto parent = in.u32();
        auto cls = in.s16();
        auto title = in.s16();
        if (!in.done()) return false;
        if (cls.size() > kMaxNameChars || title.size() > 4096 || (parent && !find(parent))) {
            out.status(Status::BadRequest);
            return true;
        }
        Hwnd h = next_hwnd_;
        next_hwnd_ += 4;
        HostWindow w;
        w.hwnd = h;
        w.client = c.id;
        w.pid = static_cast<std::uint32_t>(c.pid);
        w.class_name = std::move(cls);
        w.title = std::move(title);
        w.style = style & ~WS_VISIBLE;  // the program shows it after WM_CREATE
        w.ex_style = ex;
        w.rect = rect;
        w.parent = parent;
        windows_[h] = std::move(w);
        if (parent) {
            find(parent)->children.push_back(h);
        } else {
            place_top(h);
        }
        out.status(Status::Ok).u32(h);
        return true;
    });
    host_.add_handler(Kind::WinDestroy, [this](ClientConn& c, Reader& in, Writer& out) {
        auto h = in.u32();
        if (!in.done()) return false;
        auto* w = find(h);
        if (!w) {
            out.status(Status::NotFound);
        } else if (w->client != c.id || w->host_proc) {
            out.status(Status::Failed);  // only the owner destroys a window
        } else {
            destroy(h);
            out.status(Status::Ok);
        }
        return true;
    });
    host_.add_handler(Kind::WinInfo, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        if (!in.done()) return false;
        auto* w = answer_missing(h, out);
        if (!w) return true;
        out.status(Status::Ok).s16(w->class_name).s16(w->title).u32(w->style | (w->visible ? WS_VISIBLE : 0)).u32(w->ex_style);
        write_rect(out, w->rect);
        out.u32(w->parent).u32(w->pid).u32((w->visible ? 1u : 0u) | (w->minimized ? 2u : 0u));
        return true;
    });
    host_.add_handler(Kind::WinFind, [this](ClientConn&, Reader& in, Writer& out) {
        auto which = in.u32();
        auto cls = in.s16();
        auto title = in.s16();
        if (!in.done()) return false;
        Hwnd found = 0;
        for (Hwnd h : z_.list()) {
            auto* w = find(h);
            if ((which & 1) && !equal_no_case(w->class_name, cls)) continue;
            if ((which & 2) && !equal_no_case(w->title, title)) continue;
            found = h;
            break;
        }
        out.status(Status::Ok).u32(found);
        return true;
    });
    host_.add_handler(Kind::WinSetText, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        auto text = in.s16();
        if (!in.done()) return false;
        auto* w = find(h);
        if (w) w->title = std::move(text);
        out.status(w ? Status::Ok : Status::NotFound);
        return true;
    });
    host_.add_handler(Kind::WinSetStyle, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        auto which = in.u32();
        auto value = in.u32();
        if (!in.done()) return false;
        auto* w = answer_missing(h, out);
        if (!w) return true;
        if (which == 0) {
            w->style = value & ~WS_VISIBLE;
        } else {
            bool band_changes = ((w->ex_style ^ value) & WS_EX_TOPMOST) != 0;
            w->ex_style = value;
            if (band_changes) place_top(h);
        }
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::WinRelation, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        auto rel = in.u32();
        if (!in.done()) return false;
        auto* w = find(h);
        Hwnd result = 0;
        if (w) {
            switch (static_cast<Relation>(rel)) {
                case Relation::FirstChild:
                    if (!w->children.empty()) result = w->children.front();
                    break;
                case Relation::Parent: result = w->parent; break;
                case Relation::Next:
                case Relation::Previous: {
                    const auto& list = w->parent ? find(w->parent)->children : z_.list();
                    auto it = std::find(list.begin(), list.end(), h);
                    if (it == list.end()) break;
                    if (static_cast<Relation>(rel) == Relation::Next) {
                        if (it + 1 != list.end()) result = *(it + 1);
                    } else if (it != list.begin()) {
                        result = *(it - 1);
                    }
                    break;
                }
            }
        }
        out.status(w ? Status::Ok : Status::NotFound).u32(result);
        return true;
    });
    host_.add_handler(Kind::WinList, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        out.status(Status::Ok).u32(static_cast<std::uint32_t>(z_.list().size()));
        for (Hwnd h : z_.list()) out.u32(h);
        return true;
    });
    host_.add_handler(Kind::WinShow, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        auto cmd = in.i32();
        if (!in.done()) return false;
        if (!answer_missing(h, out)) return true;
        bool was = show(h, cmd);
        out.status(Status::Ok).u32(was ? 1 : 0);
        return true;
    });
    host_.add_handler(Kind::WinSetPos, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        auto after = in.u32();
        auto rect = read_rect(in);
        auto flags = in.u32();
        if (!in.done()) return false;
        if (!answer_missing(h, out)) return true;
        set_pos(h, after, rect, flags);
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::WinForeground, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        out.status(Status::Ok).u32(foreground_);
        return true;
    });
    host_.add_handler(Kind::WinSetForeground, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        if (!in.done()) return false;
        if (!answer_missing(h, out)) return true;
        set_foreground(h);
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::WinBringToTop, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        if (!in.done()) return false;
        auto* w = answer_missing(h, out);
        if (!w) return true;
        Hwnd top = top_level(h);
        place_top(top);
        notify(top, WM_WINDOWPOSCHANGED, 0, 0);
        if (auto* t = find(top); t && t->visible) activate(top);
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::WinFromPoint, [this](ClientConn&, Reader& in, Writer& out) {
        auto x = in.i32();
        auto y = in.i32();
        if (!in.done()) return false;
        Hwnd found = 0;
        for (Hwnd h : z_.list()) {
            auto* w = find(h);
            if (w->visible && !w->minimized && w->rect.contains(x, y)) {
                found = h;
                break;
            }
        }
        out.status(Status::Ok).u32(found);
        return true;
    });
    host_.add_handler(Kind::MsgPost, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        auto msg = in.u32();
        auto w = in.u32();
        auto l = in.i32();
        if (!in.done()) return false;
        out.status(post(h, msg, w, l) ? Status::Ok : Status::NotFound);
        return true;
    });
    host_.add_handler(Kind::MsgSend, [this](ClientConn& c, Reader& in, Writer& out) {
        auto h = in.u32();
        auto msg = in.u32();
        auto w = in.u32();
        auto l = in.i32();
        auto below = in.u32();
        if (!in.done()) return false;
        auto* win = find(h);
        if (!win) {
            out.status(Status::NotFound);
            return true;
        }
        auto r = route(*win, below);
        if (r.host) {
            auto result = win->host_proc(h, msg, w, l);
            out.status(Status::Ok).i32(result);
            return true;
        }
        if (!host_.client(r.client)) {
            out.status(Status::NotFound);
            return true;
        }
        auto id = next_send_++;
        sends_[id] = {host_.defer(), r.client};
        send_to_client(r.client, id, h, msg, w, l, r.entry);
        (void)c;
        return true;
    });
    host_.add_handler(Kind::PeerLink, [this](ClientConn& c, Reader& in, Writer& out) {
        auto h = in.u32();
        if (!in.done()) return false;
        auto* win = find(h);
        if (!win) {
            out.status(Status::NotFound);
            return true;
        }
        auto owner = win->client;
        auto* peer = owner && owner != c.id && !win->host_proc ? host_.client(owner) : nullptr;
        if (!peer) {
            out.status(Status::Unsupported);
            return true;
        }
        auto pair = std::minmax(c.id, owner);
        if (!links_.count(pair) && !peer->out.empty()) {
            // Messages the asker posted still wait in the owner's queue here; a link now would
            // let the next ones overtake them. Asked again with the next message.
            out.status(Status::Failed);
            return true;
        }
        if (links_.count(pair)) {
            out.status(Status::Ok).u32(owner);
            return true;
        }
        // A socket pair, one end to each; the owner hears of it before the asker's reply, so
        // the link is there before the first message comes over it.
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
            out.status(Status::Unsupported);
            return true;
        }
        Writer news(Kind::LinkOpened, PacketType::Event, 0);
        news.u32(c.id);
        bool opened = host_.send_with_fd(*peer, news.bytes(), ends[1]);
        if (opened) {
            auto d = host_.defer();
            Writer reply(Kind::PeerLink, PacketType::Reply, d.seq);
            reply.status(Status::Ok).u32(owner);
            if (host_.send_with_fd(c, reply.bytes(), ends[0])) {
                links_.insert(pair);
            } else {
                // The owner's end sees the other close and lets its link go.
                host_.reply_later(d, [](Writer& w) { w.status(Status::Unsupported); });
            }
        } else {
            out.status(Status::Unsupported);
        }
        ::close(ends[0]);
        ::close(ends[1]);
        return true;
    });
    host_.add_handler(Kind::MsgReply, [this](ClientConn& c, Reader& in, Writer& out) {
        auto id = in.u32();
        auto result = in.i32();
        if (!in.done()) return false;
        // Only the program the message was sent to answers it; anybody else's answer is not
        // taken, or a third program could put words in another's mouth.
        auto it = sends_.find(id);
        if (it == sends_.end() || it->second.target != c.id) {
            out.status(Status::NotFound);
            return true;
        }
        host_.reply_later(it->second.reply, [&](Writer& w) { w.status(Status::Ok).i32(result); });
        sends_.erase(it);
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::Subclass, [this](ClientConn& c, Reader& in, Writer& out) {
        auto h = in.u32();
        if (!in.done()) return false;
        auto* w = answer_missing(h, out);
        if (!w) return true;
        auto entry = next_entry_++;
        bool first = w->chain.empty();
        w->chain.push_back({entry, c.id});
        if (first && w->client && !w->host_proc) {
            Writer ev(Kind::SubclassState, PacketType::Event, 0);
            ev.u32(h).u32(1);
            host_.send_event(w->client, ev);
        }
        out.status(Status::Ok).u32(entry);
        return true;
    });
    host_.add_handler(Kind::Unsubclass, [this](ClientConn& c, Reader& in, Writer& out) {
        auto h = in.u32();
        auto entry = in.u32();
        if (!in.done()) return false;
        auto* w = find(h);
        // A program takes off only its own subclass.
        auto removed = w ? std::erase_if(w->chain, [&](auto& s) { return s.entry == entry && s.client == c.id; }) : 0;
        if (removed && w->chain.empty() && w->client && !w->host_proc) {
            Writer ev(Kind::SubclassState, PacketType::Event, 0);
            ev.u32(h).u32(0);
            host_.send_event(w->client, ev);
        }
        out.status(removed ? Status::Ok : Status::NotFound);
        return true;
    });
    host_.add_handler(Kind::HookSet, [this](ClientConn& c, Reader& in, Writer& out) {
        if (!in.done()) return false;
        auto id = next_hook_id_++;
        hooks_.insert(hooks_.begin(), {id, c.id});
        out.status(Status::Ok).u32(id);
        return true;
    });
    host_.add_handler(Kind::HookRemove, [this](ClientConn& c, Reader& in, Writer& out) {
        auto id = in.u32();
        if (!in.done()) return false;
        auto n = std::erase_if(hooks_, [&](auto& h) { return h.id == id && h.client == c.id; });
        out.status(n ? Status::Ok : Status::NotFound);
        return true;
    });
    host_.add_handler(Kind::HookReply, [this](ClientConn& c, Reader& in, Writer& out) {
        auto call = in.u32();
        auto swallow = in.u32();
        if (!in.done()) return false;
        out.status(Status::Ok);
        if (!key_busy_ || call != key_call_) return true;  // late: its time ran out already
        // The answer counts only from the program whose hook was called.
        auto hook = std::find_if(hooks_.begin(), hooks_.end(),
                                 [&](auto& h) { return h.id == key_hooks_[key_index_]; });
        if (hook == hooks_.end() || hook->client != c.id) return true;
        key_call_ = 0;
        if (key_timer_) host_.cancel(key_timer_);
        key_timer_ = 0;
        if (swallow) {
            keys_.pop_front();
            key_busy_ = false;
        } else {
            ++key_index_;
        }
        next_hook();
        return true;
    });
    host_.add_handler(Kind::InputMethodKey, [this](ClientConn&, Reader& in, Writer& out) {
        auto hwnd = in.u32();
        if (!in.done()) return false;
        auto it = input_method_keys_.find(hwnd);
        out.status(Status::Ok).u32(it == input_method_keys_.end() ? 0 : it->second);
        return true;
    });
    host_.add_handler(Kind::KeyEvent, [this](ClientConn&, Reader& in, Writer& out) {
        auto vk = in.u32();
        auto flags = in.u32();
        if (!in.done()) return false;
        if (vk == 0 || vk > 0xFE) {
            out.status(Status::BadRequest);
            return true;
        }
        out.status(Status::Ok);
        key_event(static_cast<std::uint8_t>(vk), flags);
        return true;
    });
    host_.add_handler(Kind::MessageBox, [this](ClientConn& c, Reader& in, Writer& out) {
        [[maybe_unused]] auto owner = in.u32();
        auto flags = in.u32();
        auto text = in.s16();
        auto caption = in.s16();
        if (!in.done()) return false;
        // Centred, nearly the screen's width and three tenths of its height.
        platform::Rect screen = screen_rect ? screen_rect() : platform::Rect{0, 0, 480, 800};
        const int margin = screen.width() / 20;
        int box_h = screen.height() * 3 / 10;
        if (box_height) box_h = std::max(box_h, box_height(text, screen.width() - 2 * margin));
        box_h = std::min(box_h, screen.height() - 2 * margin);
        const int top = (screen.height() - box_h) / 2;
        Hwnd h = create_host_window(c.id, static_cast<std::uint32_t>(c.pid), u"Dialog", caption,
                               WS_POPUP | WS_BORDER, WS_EX_TOPMOST,
                               {margin, top, screen.width() - margin, top + box_h},
                               [this](Hwnd self, std::uint32_t msg, WParam w, LParam) -> LResult {
                                   auto it = dialogs_.find(self);
                                   if (it == dialogs_.end()) return 0;
                                   auto kind = it->second.flags;
                                   // Closing or Escape gives the cancel answer; a tap on the box
                                   // or Enter its default button.
                                   if (msg == WM_CLOSE || (msg == WM_KEYDOWN && w == 0x1B)) {
                                       close_dialog(self, message_box_cancel_button(kind));
                                   } else if (msg == WM_LBUTTONUP || (msg == WM_KEYDOWN && w == 0x0D)) {
                                       close_dialog(self, message_box_default_button(kind));
                                   }
                                   return 0;
                               });
        dialogs_[h] = {h, c.id, static_cast<std::uint32_t>(c.pid), flags, text, caption};
        dialog_order_.push_back(h);
        host_.log().printf("message box \"%s\": %s", to_utf8(caption).c_str(), to_utf8(text).c_str());
        show(h, SW_SHOW);
        if (auto ms = host_.options().auto_dismiss_ms) {
            host_.schedule(ms, [this, h] {
                auto it = dialogs_.find(h);
                if (it != dialogs_.end()) close_dialog(h, message_box_default_button(it->second.flags));
            });
        }
        out.status(Status::Ok).u32(h);
        return true;
    });
    host_.add_handler(Kind::DialogList, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        auto list = dialogs();
        out.status(Status::Ok).u32(static_cast<std::uint32_t>(list.size()));
        for (auto& d : list) out.u32(d.hwnd).u32(d.pid).u32(d.flags).s16(d.caption).s16(d.text);
        return true;
    });
    host_.add_handler(Kind::DialogPress, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        auto button = in.i32();
        if (!in.done()) return false;
        if (dialogs_.empty()) {
            out.status(Status::NotFound);
        } else {
            out.status(press_dialog(h, button) ? Status::Ok : Status::BadRequest);
        }
        return true;
    });
}

}  // namespace lumo::host
