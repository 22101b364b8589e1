#include "phone_app.h"

#include <cstdio>

#include "display_service.h"
#include "simulated_programs.h"
#include "lumo/platform/contacts.h"
#include "lumo/platform/registry.h"
#include "lumo/platform/text.h"
#include "lumo/platform/winuser.h"
#include "window_service.h"

namespace lumo::host {

using namespace platform;

namespace {

constexpr std::uint8_t kVkTalk = 0x72;
constexpr std::uint8_t kVkEnd = 0x73;
constexpr std::u16string_view kNotifyKey = u"ControlPanel\\Notifications\\Phone";

std::u16string call_time(std::uint64_t ms) {
    auto s = ms / 1000;
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%u:%02u:%02u", unsigned(s / 3600), unsigned(s / 60 % 60), unsigned(s % 60));
    else
        std::snprintf(buf, sizeof buf, "%u:%02u", unsigned(s / 60), unsigned(s % 60));
    return to_u16(buf);
}

// Who the other party is, as the phone's screens show it: name and number on two lines.
std::u16string party(const store::TelephonyModel::CallView& call) {
    std::u16string who;
    if (!call.name.empty()) who += call.name + u"\n";
    if (!call.number.empty())
        who += call.number;
    else if (call.caller_id_flags & kPartyIdOutOfArea)
        who += u"Out of area";
    else if (call.caller_id_flags & kPartyIdBlocked)
        who += u"Private number";
    else
        who += u"Unknown";
    return who;
}

const char16_t* state_text(std::uint32_t state) {
    switch (state) {
        case kCallStateDialing: return u"Calling...";
        case kCallStateConnected: return u"Connected";
        case kCallStateOnHold: return u"On hold";
        case kCallStateOffering: return u"Incoming call";
    }
    return u"";
}

}  // namespace

PhoneApp::PhoneApp(Host& host, WindowService& windows, store::TelephonyModel& model)
    : host_(host), ws_(windows), model_(model) {}

Hwnd PhoneApp::make(const std::u16string& cls, const std::u16string& title, std::uint32_t ex, Rect rect,
                    Hwnd parent) {
    return ws_.create_host_window(0, pid_, cls, title, WS_POPUP, ex, rect,
                                  [this](Hwnd h, std::uint32_t m, WParam w, LParam l) { return proc(h, m, w, l); },
                                  parent);
}

bool PhoneApp::running() { return pid_ != 0 && ws_.find(main_) != nullptr; }

std::u16string PhoneApp::phone_name() {
    // The phone's notification name: "Phone - Incoming" names the program "Phone".
    auto v = host_.registry().find_value(Root::CurrentUser, kNotifyKey, u"Default");
    std::u16string text = v && v->info.type == ValueType::String ? decode_string_value(*v->data) : u"";
    auto cut = text.find(u':');
    if (cut == std::u16string::npos) cut = text.find(u' ');
    text = text.substr(0, cut);
    return text.empty() ? u"Phone" : text;
}

void PhoneApp::start(std::uint32_t pid, bool shown) {
    pid_ = pid;
    // The name the notifications and the phone's windows go by, as a new phone has it.
    if (!host_.registry().find_value(Root::CurrentUser, kNotifyKey, u"Default")) {
        host_.registry().create_key(Root::CurrentUser, kNotifyKey);
        auto bytes = encode_string_value(u"Phone - Incoming");
        host_.registry().write_value(Root::CurrentUser, kNotifyKey, u"Default", ValueType::String, bytes);
    }
    const auto& profile = chosen_profile();
    main_ = make(u"MSCprog", u"Phone", 0, {0, 0, profile.width, profile.height});
    if (shown) ws_.show(main_, SW_SHOW);
    dialog_ = elapsed_ = caller_ = incoming_ = menu_ = softkey_ = sip_ = history_ = 0;
    ringing_ = shown_call_ = 0;
    calls_changed();
}

void PhoneApp::calls_changed() {
    if (!running()) return;
    auto ring = model_.ringing();
    if (ring) {
        if (auto view = model_.call(*ring)) show_incoming(*view);
    } else {
        drop_incoming();
    }
    auto calls = model_.calls();
    bool talking = false;
    for (auto& c : calls)
        talking |= c.state == kCallStateConnected || c.state == kCallStateOnHold || c.state == kCallStateDialing;
    if (talking) {
        show_dialog();
    } else if (dialog_ && ws_.find(dialog_)) {
        // The dialog stays, hidden, with the last call's time and party: the lock screen reads
        // them for its last-call line.
        if (tick_) host_.cancel(tick_);
        tick_ = 0;
        ws_.show(dialog_, SW_HIDE);
        refresh_dialog();
    }
}

void PhoneApp::show_incoming(const store::TelephonyModel::CallView& call) {
    // The screen as it is turned now: a window made in landscape fills the landscape screen.
    const auto& profile = chosen_profile();
    const Rect screen = ws_.screen_rect ? ws_.screen_rect() : Rect{0, 0, profile.width, profile.height};
    const int w = screen.width(), h = screen.height(), bar = task_bar_height(profile.dpi);
    if (!incoming_ || !ws_.find(incoming_)) {
        incoming_ = make(u"Dialog", std::u16string(kIncomingCaption), WS_EX_TOPMOST, {0, bar, w, h - bar});
        menu_ = make(u"menu_worker", u"Answer | Ignore", WS_EX_TOPMOST | kMenuWorkerExStyle, {0, h - bar, w, h});
        softkey_ = make(u"MS_SOFTKEY_CE_1.0", u"", 0, {0, h - bar, w, h});
        sip_ = make(u"MS_SIPBUTTON", u"", WS_EX_TOPMOST, {w - bar, h - bar, w, h});
        ws_.show(incoming_, SW_SHOW);
        ws_.show(menu_, SW_SHOWNA);
        ws_.show(sip_, SW_SHOWNA);
        host_.log().printf("phone: incoming window shown");
    }
    ringing_ = call.id;
    std::u16string who = party(call);
    if (auto* win = ws_.find(incoming_))
        win->body = u"Incoming call\n\n" + who + u"\n\nTalk: answer     End: ignore";
}

void PhoneApp::drop_incoming() {
    for (Hwnd* h : {&incoming_, &menu_, &softkey_, &sip_}) {
        if (*h && ws_.find(*h)) ws_.destroy(*h);
        *h = 0;
    }
    if (ringing_) host_.log().printf("phone: incoming window dropped");
    ringing_ = 0;
}

void PhoneApp::show_dialog() {
    // The screen as it is turned now: a window made in landscape fills the landscape screen.
    const auto& profile = chosen_profile();
    const Rect screen = ws_.screen_rect ? ws_.screen_rect() : Rect{0, 0, profile.width, profile.height};
    const int w = screen.width(), h = screen.height(), bar = task_bar_height(profile.dpi);
    if (!dialog_ || !ws_.find(dialog_)) {
        dialog_ = make(u"Dialog", phone_name(), 0, {0, bar, w, h});
        elapsed_ = make(u"MS_PHONE_ELAPSEDTIME", u"0:00", 0, {w / 4, h / 2, 3 * w / 4, h / 2 + bar}, dialog_);
        caller_ = make(u"MS_PHONE_CALLERIDINFO", u"", 0, {0, h / 4, w, h / 4 + 2 * bar}, dialog_);
        ws_.show(elapsed_, SW_SHOWNA);
        ws_.show(caller_, SW_SHOWNA);
    }
    auto* win = ws_.find(dialog_);
    if (win && !win->visible) ws_.show(dialog_, SW_SHOW);
    refresh_dialog();
    if (!tick_) {
        // The call time ticks while calls last.
        auto self = this;
        tick_ = host_.schedule(1000, [self] {
            self->tick_ = 0;
            self->calls_changed();
        });
    }
}

void PhoneApp::refresh_dialog() {
    if (!dialog_ || !ws_.find(dialog_)) return;
    auto active = model_.active();
    std::optional<store::TelephonyModel::CallView> view;
    if (active) view = model_.call(*active);
    if (!view) {
        for (auto& c : model_.calls())
            if (c.state == kCallStateOnHold) view = c;
    }
    if (view) shown_call_ = view->id;
    if (!view) {
        // Ended: the time stays at what the call lasted, the party as it was.
        if (auto* win = ws_.find(dialog_)) win->body = u"Call ended";
        return;
    }
    std::u16string time = view->connected_ms ? call_time(host_.now_ms() - view->connected_ms) : u"0:00";
    ws_.set_text(elapsed_, time);
    ws_.set_text(caller_, view->name + u"\r\n" + view->number);
    std::u16string body = std::u16string(state_text(view->state)) + u"\n\n" + party(*view) + u"\n\n" + time +
                          u"\n\nEnd: hang up";
    int held = 0;
    for (auto& c : model_.calls()) held += c.state == kCallStateOnHold && c.id != view->id;
    if (held) body += u"\n1 call on hold";
    if (auto* win = ws_.find(dialog_)) win->body = body;
}

void PhoneApp::show_history() {
    // The screen as it is turned now: a window made in landscape fills the landscape screen.
    const auto& profile = chosen_profile();
    const Rect screen = ws_.screen_rect ? ws_.screen_rect() : Rect{0, 0, profile.width, profile.height};
    const int w = screen.width(), h = screen.height(), bar = task_bar_height(profile.dpi);
    model_.reset_missed_count();
    if (!history_ || !ws_.find(history_)) history_ = make(u"Dialog", u"Call History", 0, {0, bar, w, h});
    std::u16string body;
    for (auto& e : recent_calls ? recent_calls() : std::vector<CallLogEntry>{}) {
        const char16_t* kind = call_log_missed(e.flags) ? u"Missed" : (e.flags & kCallLogOutgoing) ? u"Outgoing" : u"Incoming";
        std::u16string who = !e.name.empty() ? e.name : !e.number.empty() ? e.number : u"Unknown";
        body += std::u16string(kind) + u": " + who + u"\n";
    }
    if (auto* win = ws_.find(history_)) win->body = body.empty() ? u"No calls" : body;
    ws_.show(history_, SW_SHOW);
    host_.log().printf("phone: call history opened");
}

void PhoneApp::command(std::uint32_t id) {
    auto ring = model_.ringing();
    if (id == kPhoneCommandAnswer) {
        if (ring) model_.answer(*ring);
    } else if (id == kPhoneCommandEnd) {
        if (ring)
            model_.hang_up(*ring);
        else if (auto a = model_.active())
            model_.hang_up(*a);
    }
}

void PhoneApp::key(std::uint8_t vk) {
    if (vk == kVkTalk) {
        if (auto ring = model_.ringing()) model_.answer(*ring);
    } else if (vk == kVkEnd) {
        // The end key ends the call that talks; with none, it refuses the ringing one.
        if (auto a = model_.active())
            model_.hang_up(*a);
        else if (auto ring = model_.ringing())
            model_.hang_up(*ring);
    }
}

LResult PhoneApp::proc(Hwnd hwnd, std::uint32_t msg, WParam w, LParam) {
    switch (msg) {
        case WM_COMMAND:
            host_.log().printf("phone: command %u", unsigned(w & 0xFFFF));
            command(w & 0xFFFF);
            return 0;
        case WM_KEYDOWN:
            key(std::uint8_t(w));
            return 0;
        case kPhoneShowHistory:
            show_history();
            return 0;
        case kPhoneKeyTone:
            // The tone would go down the line; the log is what a test can hear of it.
            host_.log().printf("phone: key tone %c", w >= 0x20 && w < 0x7F ? char(w) : '?');
            return 0;
        case WM_CLOSE:
            // The phone's windows hide on close; the program keeps running.
            if (hwnd == history_) ws_.show(hwnd, SW_HIDE);
            return 0;
    }
    return 0;
}

}  // namespace lumo::host
