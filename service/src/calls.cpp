// The call monitor: the telephony lines and their call states, the caller lookup, handing the
// caller to lumo, finding and hiding the phone's own incoming window, the phone keys lumo sends
// back, dialing, and deciding after a call whether the phone locks again.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"
#include "parts.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
namespace pr = protocol;

namespace {

constexpr std::uint32_t kTelephonyRestartMs = 500;
constexpr std::uint32_t kApiVersion = 0x20000;
constexpr std::uint32_t kReinitRetryMs = 5000;
constexpr std::uint32_t kReinitPauseMs = 100;
constexpr std::uint32_t kOpenPrivileges = kCallPrivilegeMonitor | kCallPrivilegeOwner;
constexpr std::uint32_t kOpenMediaModes = kMediaModeInteractiveVoice | kMediaModeDataModem;
constexpr std::uint32_t kHookOnLaterMs = 1000;
constexpr std::uint32_t kTopmostOffMs = 1000;
constexpr std::uint32_t kHideDialogMs = 1600;
constexpr std::uint32_t kHideDialogAfterDialingMs = 500;
constexpr std::uint32_t kHideDialogRetryMs = 500;
constexpr std::uint8_t kHideDialogRetries = 8;
constexpr std::uint32_t kSinceUnlockMs = 1599;
constexpr std::uint32_t kIncomingSearchMs = 9000;
constexpr std::uint32_t kIncomingStepMs = 100;
constexpr std::uint32_t kSkinStepMs = 200;
constexpr std::uint32_t kDialCloseWaitMs = 3000;
constexpr std::uint32_t kKeyFocusWaitMs = 50;
constexpr std::uint32_t kConnectVibrateMs = 150;
constexpr std::uint32_t kLumoTopmostStyle = 0x60000008;
constexpr std::uint32_t kLumoPlainStyle = 0x60000000;
constexpr std::uint32_t kMenuWorkerStyle = 0x20000000;
constexpr std::uint32_t kSoftKeyWrap = 0xC001;
constexpr WParam kCommandAnswer = 1, kCommandEnd = 2;
constexpr std::uint32_t kWmEraseBackground = 0x0014;
constexpr std::uint8_t kVkEnd = 0x73;
constexpr std::size_t kMailboxChars = 260;
constexpr std::size_t kDialNumberChars = 80;

constexpr std::u16string_view kMenuWorkerClass = u"menu_worker";
constexpr std::u16string_view kSoftKeyClass = u"MS_SOFTKEY_CE_1.0";
constexpr std::u16string_view kPhoneNotifyKey = u"ControlPanel\\Notifications\\Phone";
constexpr std::u16string_view kStateKey = u"System\\State";
constexpr std::u16string_view kLockValue = u"Lock";
constexpr std::u16string_view kUnknown = u"unknown";
constexpr std::u16string_view kOutOfArea = u"outofarea";
constexpr std::u16string_view kLongSend = u"\\windows\\long_send.lnk";
constexpr std::u16string_view kLongSendBackup = u"\\windows\\long_send.bak";

// The phone's incoming window in the languages it comes in, in search order.
constexpr std::u16string_view kIncomingCaptions[] = {
    u"Phone - Incoming...", u"Phone - Incoming", u"電話 - 來電...", u"電話 - 來電", u"電話 - 撥入電話...",
    u"电话 - 拨入...", u"电话 - 拨入", u"Téléphone - Entrant...", u"Téléphone - Appel entrant...",
    u"Téléphone - Appel entrant", u"Telefon - Eingehender Anruf...", u"Telefon - Eingehend...",
    u"Telefon - Eingehender Anruf", u"Eingehender Anruf", u"Telefoon - inkomend...", u"Telefoon - inkomend",
    u"Telefone - A receber...", u"Telefone - A receber", u"Telefon - Příchozí...", u"Telefon - Příchozí",
    u"Τηλέφωνο - Εισερχόμενη...", u"Τηλέφωνο - Εισερχόμενη", u"電話 - 着信中...", u"電話 - 着信中",
    u"전화 - 받는 중...", u"전화 - 받는 중", u"Telefon - Indgående...", u"Telefon - Indgående",
    u"Telefono - In entrata...", u"Telefono - In entrata", u"Telefono - In arrivo...", u"Telefono - In arrivo",
    u"Telefon — przychodzące...", u"Telefon — przychodzące", u"Telefone - Entrada...", u"Telefone - Entrada",
    u"Телефон - входящий звонок...", u"Телефон - входящий вызов", u"Telefon - inkommande...",
    u"Telefon - inkommande", u"Teléfono: recibiendo...", u"Teléfono: recibiendo", u"Telefon - innkommende...",
    u"Telefon - innkommende", u"Telefon - Gelen Arama...", u"Telefon - Gelen Arama",
    u"Teléfono: llamada entrante...", u"Teléfono: llamada entrante",
};

Windows& win(State& s) { return s.platform->windows(); }
Telephony& tel(State& s) { return s.platform->telephony(); }
std::uint32_t now(State& s) { return s.platform->clock().tick_count(); }

void set_timer(State& s, std::uint32_t id, std::uint32_t ms) {
    if (Hwnd self = s.ServiceWindow) win(s).set_timer(self, id, ms);
}
void kill_timer(State& s, std::uint32_t id) {
    if (Hwnd self = s.ServiceWindow) win(s).kill_timer(self, id);
}

void post_self(State& s, std::uint32_t msg, WParam w = 0) {
    trace(s, "TAPI: Msg=%d Talking=0x%0X Dialing=0x%0X Incoming=0x%0X", int(msg), s.Talking ? 1 : 0,
          s.Dialing ? 1 : 0, s.Incoming ? 1 : 0);
    if (Hwnd self = s.ServiceWindow) win(s).post(self, msg, w, 0);
}

std::u16string cut(std::u16string_view text, std::size_t chars) {
    return std::u16string(text.substr(0, std::min(text.size(), chars)));
}

void write_mailbox(State& s, std::u16string_view name, std::u16string_view value) {
    auto& reg = s.platform->registry();
    if (auto key = reg.open_key(Root::CurrentUser, pr::kRootKey))
        catalogue::write_text(reg, *key, name, cut(value, kMailboxChars));
}

std::u16string window_title(State& s, Hwnd h) {
    auto info = h ? win(s).window_info(h) : std::nullopt;
    return info ? info->title : std::u16string();
}

bool has_child(State& s, Hwnd h) { return win(s).get_window(h, Relation::FirstChild) != 0; }

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// The system's own lock is switched off while a call comes in, so that it cannot cover the call.
void open_system_lock(State& s) {
    if (setting(s, Id::NoSystemLock)) return;
    auto& reg = s.platform->registry();
    if (reg.get_dword(Root::LocalMachine, kStateKey, kLockValue)) reg.set_dword(Root::LocalMachine, kStateKey, kLockValue, 0);
}

void hook_off_for_call(State& s) {
    if (!setting(s, Id::InCallVolumeControl)) keyboard_hook_off(s);
}

void arm_hook_timer(State& s) {
    if (setting(s, Id::InCallVolumeControl)) return;
    trace(s, "WM_TurnOnHookLater");
    set_timer(s, kTimerHookOn, kHookOnLaterMs);
}

std::uint8_t caller_state_now(State& s) {
    if (s.CallWaiting) return 3;
    return s.Locked ? 1 : 2;
}

// --- calls by their media ---------------------------------------------------------------------

enum class Media { Unknown = 0, Voice = 1, Data = 2 };

Media find_call_media(State& s, CallHandle call) {
    LineCallInfo info;
    LineResult r = tel(s).get_call_info(call, info);
    Media m = Media::Unknown;
    if (r == 0) {
        if (info.media_mode & kMediaModeUnknown) m = Media::Unknown;
        else if (info.media_mode & (kMediaModeInteractiveVoice | kMediaModeAutomatedVoice)) m = Media::Voice;
        else if (info.media_mode & kMediaModeDataModem) m = Media::Data;
    }
    trace(s, "TAPI: FindCallMedia C=%0X %0X(%d)", call, info.media_mode, int(m));
    return m;
}

// A call of unknown media is a voice call: the phone's line carries nothing else for people.
bool is_data(Media m) { return m == Media::Data; }

void note_call(std::array<CallHandle, 2>& calls, CallHandle call) {
    if (std::find(calls.begin(), calls.end(), call) != calls.end()) return;
    auto free = std::find(calls.begin(), calls.end(), CallHandle{0});
    if (free != calls.end()) *free = call;
}

bool forget_call(std::array<CallHandle, 2>& calls, CallHandle call) {
    auto it = std::find(calls.begin(), calls.end(), call);
    if (it == calls.end()) return false;
    *it = 0;
    return true;
}

bool any_call(const std::array<CallHandle, 2>& calls) {
    return std::any_of(calls.begin(), calls.end(), [](CallHandle c) { return c != 0; });
}

// --- the phone application's windows ------------------------------------------------------------

void find_phone_window(State& s) {
    auto& w = win(s);
    Hwnd h = w.find_window(kDialogClass, s.PhoneName);
    if (!h) h = w.find_window(kDialogClass, s.PhoneName + u" ");
    if (!h) h = w.find_window(kDialogClass, u"PhonEx");
    s.PhoneWindow = h && has_child(s, h) ? h : 0;
}

// The incoming window's command window: a menu_worker of the same program.
Hwnd find_menu_worker(State& s) {
    auto& w = win(s);
    auto incoming = s.IncomingWindow ? w.window_info(s.IncomingWindow) : std::nullopt;
    if (!incoming) return 0;
    for (Hwnd h : w.top_level_windows()) {
        auto info = w.window_info(h);
        if (info && info->process_id == incoming->process_id && info->class_name == kMenuWorkerClass &&
            (info->ex_style & kMenuWorkerStyle))
            return h;
    }
    return 0;
}

LResult incoming_subclass(State& s, Hwnd h, std::uint32_t m, WParam wp, LParam lp) {
    if (m == WM_NCACTIVATE && s.Incoming) {
        trace(s, "Hide WMIncoming");
        win(s).show_window(h, SW_HIDE);
    }
    return win(s).call_previous(s.IncomingSubclass.prev, h, m, wp, lp);
}

LResult skin_subclass(State& s, Hwnd h, std::uint32_t m, WParam wp, LParam lp) {
    if (s.Incoming) {
        if (m == kWmEraseBackground) {
            win(s).show_window(h, SW_HIDE);
            trace(s, "Incoming WM_EBG (%0X) Ignored", h);
            return 1;
        }
        if (m == WM_TIMER) {
            win(s).show_window(h, SW_HIDE);
            trace(s, "Incoming WM_TMR Ignored");
            if (Hwnd lumo = find_slide_window(s)) {
                win(s).show_window(lumo, SW_SHOW);
                win(s).set_foreground_window(lumo);
            }
            return 0;
        }
    }
    return win(s).call_previous(s.SkinSubclass.prev, h, m, wp, lp);
}

void subclass_incoming(State& s, Hwnd h) {
    if (s.IncomingSubclass.window == h && win(s).is_window(h)) return;
    if (s.IncomingSubclass.window && win(s).is_window(s.IncomingSubclass.window))
        win(s).remove_subclass(s.IncomingSubclass.window, s.IncomingSubclass.prev);
    s.IncomingSubclass = {};
    auto prev = win(s).subclass(h, [&s](Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
        return incoming_subclass(s, w, m, wp, lp);
    });
    if (!prev) {
        trace(s, "SC WMIncoming fail:%d", 1400);
        return;
    }
    s.IncomingSubclass = {h, *prev};
    trace(s, "SC WMIncoming OK");
}

void find_skin_window(State& s) {
    auto& w = win(s);
    if (s.SkinWindow && w.is_window(s.SkinWindow)) return;
    auto incoming = s.IncomingWindow ? w.window_info(s.IncomingWindow) : std::nullopt;
    if (!incoming) return;
    Hwnd found = 0;
    for (Hwnd h : w.top_level_windows()) {
        if (h == s.IncomingWindow) continue;
        auto info = w.window_info(h);
        if (!info || info->process_id != incoming->process_id || info->class_name != kDialogClass) continue;
        if ((!has_child(s, h) && info->title.empty()) || starts_with(info->title, s.PhoneName)) {
            found = h;
            break;
        }
    }
    if (!found) return;
    s.SkinWindow = found;
    auto prev = w.subclass(found, [&s](Hwnd h, std::uint32_t m, WParam wp, LParam lp) {
        return skin_subclass(s, h, m, wp, lp);
    });
    if (!prev) {
        trace(s, "Incoming Skin SC fail:%d", 1400);
        return;
    }
    s.SkinSubclass = {found, *prev};
    trace(s, "Incoming Skin SC OK");
}

void remember_caption(State& s, std::u16string_view caption) {
    s.IncomingCaption = cut(caption, kMailboxChars);
    trace(s, "IncomingTEXT: %s", to_utf8(s.IncomingCaption).c_str());
    write_mailbox(s, pr::mailbox::kIncomingText, s.IncomingCaption);
}

// --- handing the caller to lumo ----------------------------------------------------------------

// On the skinned phone a long press of the send key runs a shortcut; while lumo's answer
// slider is up it runs lumo instead, so the key does not answer past the slider.
void replace_long_send(State& s) {
    namespace fs = std::filesystem;
    auto& procs = s.platform->processes();
    auto target = procs.host_path(kLongSend), backup = procs.host_path(kLongSendBackup);
    auto ours = procs.host_path(procs.special_folder(SpecialFolder::Windows) + u"\\Start Menu\\Programs\\Lumo\\lumo.lnk");
    if (!target || !backup || !ours) return;
    std::error_code ec;
    if (fs::exists(*target, ec)) {
        fs::remove(*backup, ec);
        fs::rename(*target, *backup, ec);
    }
    bool copied = fs::copy_file(*ours, *target, fs::copy_options::overwrite_existing, ec);
    trace(s, "%s %d", to_utf8(kLongSend).c_str(), copied ? 1 : 0);
}

void restore_long_send(State& s) {
    namespace fs = std::filesystem;
    auto& procs = s.platform->processes();
    auto target = procs.host_path(kLongSend), backup = procs.host_path(kLongSendBackup);
    if (!target || !backup) return;
    std::error_code ec;
    fs::remove(*target, ec);
    if (fs::exists(*backup, ec)) fs::rename(*backup, *target, ec);
}

void restore_shortcut(State& s) {
    if (s.SkinnedPhone) restore_long_send(s);
}

void set_lumo_topmost(State& s, Hwnd lumo, bool topmost) {
    win(s).set_ex_style(lumo, topmost ? kLumoTopmostStyle : kLumoPlainStyle);
    win(s).set_window_pos(lumo, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, {}, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void run_caller(State& s, bool pending) {
    trace(s, "RunCaller: %d(%d)", int(s.CallerState.load()), s.CallerShown ? 1 : 0);
    if (s.CallerShown) return;
    const std::uint32_t s2a = setting(s, Id::Slide2Answer);
    const std::uint8_t cs = s.CallerState;
    const bool slide = (s2a == 2 && (cs == 1 || cs == 2)) || (s2a != 0 && cs == 1);
    if (s.SkinnedPhone) {
        if (slide && !setting(s, Id::S2AAnsKey)) replace_long_send(s);
        else restore_long_send(s);
    }
    if (Hwnd lumo = find_slide_window(s)) {
        win(s).post(lumo, pr::WM_RunCaller, s.ServiceWindow, cs);
        set_lumo_topmost(s, lumo, true);
        s.CallerShown = true;
        trace(s, "Posted Caller: %d(%d)", int(cs), 1);
    } else {
        wake_lock_screen(s, kWakeSkipCallCheck);
    }
    if (pending) s.CallerPending = true;
    s.PropNameSeen = false;
}

// The caller's name: the contacts first, then the SIM's phone book, first by the same number,
// then by a number that ends the other.
void look_up_caller(State& s, std::u16string_view number, std::u16string_view network_name) {
    if (auto contact = s.platform->contacts().find(ContactMatch::PhoneNumber, number)) {
        write_mailbox(s, pr::mailbox::kIncomingName, contact->file_as);
        return;
    }
    if (number.size() >= 3) {
        for (const auto& e : s.SimBook)
            if (e.number == number) {
                write_mailbox(s, pr::mailbox::kIncomingName, e.name);
                return;
            }
        for (const auto& e : s.SimBook) {
            if (e.number.size() <= 3) continue;
            std::u16string_view a = e.number, b = number;
            if (a.size() > b.size()) std::swap(a, b);
            if (b.substr(b.size() - a.size()) == a) {
                write_mailbox(s, pr::mailbox::kIncomingName, e.name);
                return;
            }
        }
    }
    // Nobody the phone knows: the name the network sent, when it sent one.
    if (!network_name.empty()) write_mailbox(s, pr::mailbox::kIncomingName, network_name);
}

// --- the dial line --------------------------------------------------------------------------------

void close_dial_line(State& s) {
    if (!s.DialLine && !s.DialCall) return;
    trace(s, "CurrentLineClose %0X", s.DialLine);
    if (s.DialCall) {
        tel(s).drop(s.DialCall);
        s.sleep(kDialCloseWaitMs);
        tel(s).deallocate_call(s.DialCall);
        s.DialCall = 0;
    }
    if (s.DialLine) tel(s).close(s.DialLine);
    s.DialLine = 0;
    s.DialRequest = 0;
}

void make_phone_call(State& s, const std::u16string& number) {
    trace(s, "MakePhoneCall: %s", to_utf8(number).c_str());
    bool started = false;
    if (s.DialDevice >= 0 && std::size_t(s.DialDevice) < s.Lines.size()) {
        close_dial_line(s);
        const auto& rec = s.Lines[std::size_t(s.DialDevice)];
        LineHandle line = 0;
        LineResult r = tel(s).open(s.LineApp, rec.device, rec.version, kCallPrivilegeNone, kMediaModeInteractiveVoice,
                                   rec.device, line);
        trace(s, "MakePhoneCall H=%0X %d", line, int(r));
        if (r == 0) {
            s.DialLine = line;
            LineTranslateOutput out;
            r = tel(s).translate_address(s.LineApp, rec.device, rec.version, number, out);
            trace(s, "MakePhoneCall 1");
            LineCallParams params;
            params.bearer_mode = kBearerModeVoice;
            params.media_mode = kMediaModeInteractiveVoice;
            params.dialable_address = r == 0 && !out.dialable.empty() ? out.dialable : number;
            trace(s, "MakePhoneCall 2");
            trace(s, "MakePhoneCall %s", to_utf8(params.dialable_address).c_str());
            CallHandle call = 0;
            r = tel(s).make_call(line, u"", 0, &params, call);
            trace(s, "MakePhoneCall 3 %0X", std::uint32_t(r));
            if (r >= 0) {
                s.DialCall = call;
                s.DialRequest = r;
                started = true;
            }
        }
        if (!started) close_dial_line(s);
    }
    trace(s, "MakePhoneCall End %d", started ? 1 : 0);
}

// --- the phone keys -------------------------------------------------------------------------------

void soft_key_command(State& s, WParam command) {
    auto& w = win(s);
    Hwnd worker = s.MenuWorker;
    if (!worker || !w.is_window(worker)) {
        worker = find_menu_worker(s);
        s.MenuWorker = worker;
    }
    if (!worker) {
        trace(s, "Soft key %d: no menu_worker", int(command));
        return;
    }
    Hwnd soft = w.find_window(kSoftKeyClass, std::nullopt);
    if (soft) w.send(worker, kSoftKeyWrap, 1, LParam(soft));
    w.send(worker, WM_COMMAND, command, 0);
    if (soft) w.send(worker, kSoftKeyWrap, 0, LParam(soft));
}

void press_key_on(State& s, Hwnd window, std::uint8_t vk) {
    auto& w = win(s);
    if (window) {
        w.show_window(window, SW_SHOW);
        w.set_foreground_window(window);
        w.post(window, WM_SETFOCUS, 0, 0);
    }
    s.sleep(kKeyFocusWaitMs);
    w.key_event(vk, 0);
    w.key_event(vk, KEYEVENTF_KEYUP);
    s.sleep(setting(s, Id::CallerIDKeyDelay));
}

bool drop_with_privilege(State& s, CallHandle call) {
    if (!call) return false;
    LineResult r = tel(s).set_call_privilege(call, kCallPrivilegeOwner);
    trace(s, "lineSetCallPrivilege %0X", std::uint32_t(r));
    LineResult d = tel(s).drop(call);
    trace(s, "lineDrop %0X(%0X)", std::uint32_t(d), call);
    return d >= 0;
}

// --- the in-call lock and the end of a ring --------------------------------------------------

void in_call_lock_check(State& s) {
    trace(s, "IsInCallLock CID=%d IWND=%0X CWND=%0X", int(setting(s, Id::CallerID)), s.IncomingWindow,
          s.PhoneWindow);
    if (!in_call_lock_applies(s)) return;
    s.HideDialogRetries = 0;
    set_timer(s, kTimerHidePhoneDialog, kHideDialogMs);
    find_phone_window(s);
    if (setting(s, Id::CallerID) && s.IncomingWindow && s.PhoneWindow) {
        if (s.Locked) post_to_lock_screen(s, pr::WM_HideIncoming, 1);
        post_to_lock_screen(s, pr::WM_UpdateInCall, s.PhoneWindow);
    }
}

void hide_task_bar_for_call(State& s) {
    if (!s.TaskBarWindow) find_task_bar(s);
    Hwnd bar = s.TaskBarWindow;
    auto info = bar ? win(s).window_info(bar) : std::nullopt;
    if (!info || !info->visible) return;
    win(s).show_window(bar, SW_HIDE);
    s.TaskBarFullScreen = true;
}

// One step of the search for the incoming window and its command window; re-armed until both
// are found and hidden, the ring ends or the time is up. The message loop runs in between, so
// the caller id and the end of the call are heard meanwhile.
void incoming_search_step(State& s) {
    auto& w = win(s);
    if (!s.Incoming || now(s) - s.IncomingSearchStart > kIncomingSearchMs) {
        kill_timer(s, kTimerIncomingSearch);
        if (s.Incoming && !s.MenuWorker) trace(s, "Incoming no menu_worker!");
        return;
    }
    if (!s.IncomingWindow || !w.is_window(s.IncomingWindow)) {
        s.IncomingWindow = find_incoming_window(s);
        if (!s.IncomingWindow) {
            set_timer(s, kTimerIncomingSearch, kIncomingStepMs);
            return;
        }
    }
    if (s.SkinnedPhone) {
        trace(s, "Phone is skin");
        find_skin_window(s);
    }
    Hwnd worker = s.MenuWorker;
    if (!worker || !w.is_window(worker)) {
        if (!s.MenuWorkerSearchLogged) trace(s, "Finding incoming menu_worker...");
        s.MenuWorkerSearchLogged = true;
        worker = find_menu_worker(s);
        s.MenuWorker = worker;
        if (!worker) {
            set_timer(s, kTimerIncomingSearch, s.SkinnedPhone ? kSkinStepMs : kIncomingStepMs);
            return;
        }
    }
    kill_timer(s, kTimerIncomingSearch);
    // Out of sight: it still takes the soft-key commands.
    if (auto info = w.window_info(worker)) {
        Rect r = info->rect;
        w.move_window(worker, Rect{-20000, -20000, -20000 + r.width(), -20000 + r.height()});
    }
    w.set_window_pos(s.IncomingWindow, HWND_BOTTOM, {}, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    w.show_window(s.IncomingWindow, SW_HIDE);
    trace(s, "hidden incoming");
}

void on_incoming_changed(State& s) {
    const bool caller_id = setting(s, Id::CallerID) != 0;
    if (s.Incoming) {
        trace(s, "WM Phone is incoming IWnd=%0X MWnd=%0X", s.IncomingWindow, s.MenuWorker.load());
        if (!caller_id) {
            hide_slide(s);
            return;
        }
        hide_task_bar_for_call(s);
        // A new ring: the phone makes its incoming window anew.
        s.MenuWorker = 0;
        s.MenuWorkerSearchLogged = false;
        s.IncomingSearchStart = now(s);
        incoming_search_step(s);
        return;
    }
    kill_timer(s, kTimerIncomingSearch);
    const bool held = talking_or_held(s);
    trace(s, "EndCaller: lk=%d cw=%d nh=%d", s.Locked ? 1 : 0, s.CallWaiting ? 1 : 0, held ? 1 : 0);
    if (held) {
        if (caller_id) {
            s.CallerPending = false;
            post_to_lock_screen(s, pr::WM_EndCaller, 0);
            restore_shortcut(s);
            set_timer(s, kTimerCallEndedTopmost, kTopmostOffMs);
        }
        give_shell_back(s);
        in_call_lock_check(s);
    } else if (caller_id) {
        s.CallerPending = false;
        set_timer(s, kTimerCallEndedTopmost, kTopmostOffMs);
        bool stay_locked = false;
        if (!s.CallerShown) {
            // No caller screen came up (the caller hung up before the caller id): the lock
            // stays as it was.
            stay_locked = s.Locked;
        } else if (s.CallerState == 3) {
            stay_locked = s.Locked;
        } else if (s.CallerState == 1) {
            s.Locked = true;
            stay_locked = true;
            guard_shell_windows(s);
        } else {
            s.Locked = false;
        }
        if (Hwnd lumo = find_slide_window(s)) win(s).post(lumo, pr::WM_EndCaller, stay_locked ? 1 : 0, 0);
        restore_shortcut(s);
        if (!stay_locked) show_task_bar(s);
    } else if (s.Locked) {
        s.HideDialogRetries = 0;
        set_timer(s, kTimerHidePhoneDialog, kHideDialogMs);
    }
    show_task_bar(s);
}

void on_talking_changed(State& s) {
    const bool blank = setting(s, s.OnAC ? Id::ACBlankOnTalk : Id::BlankOnTalk) != 0;
    if (s.Talking) {
        if (blank) set_timer(s, kTimerBlankOnTalk, setting(s, Id::BlankOnTalkDelayMS));
        if (setting(s, Id::VibrateOnConnect)) post_self(s, pr::WM_Vibrate, kConnectVibrateMs);
        if (s.CallerState == 0) in_call_lock_check(s);
        return;
    }
    if (blank) {
        kill_timer(s, kTimerBlankOnTalk);
        switch_display(s, true);
    }
    find_phone_window(s);
    const bool update = s.Locked && setting(s, Id::CallerID) && s.IncomingWindow && s.PhoneWindow;
    trace(s, "UpdateLastCall? %d", update ? 1 : 0);
    if (update) post_to_lock_screen(s, pr::WM_UpdateLastCall, s.PhoneWindow);
    s.CallerState = 0;
    if (talking_or_held(s)) return;
    if (s.Locked) {
        post_to_lock_screen(s, pr::WM_HideIncoming, 1);
        s.HideDialogRetries = 0;
        set_timer(s, kTimerHidePhoneDialog, kHideDialogMs);
    } else if (in_call_lock_applies(s)) {
        post_to_lock_screen(s, pr::WM_UpdateLastCall, 0);
    }
}

void on_dialing_changed(State& s) {
    trace(s, "Dialing %d %d", s.Dialing ? 1 : 0, s.SlideDialing ? 1 : 0);
    s.CallerState = 0;
    if (s.SlideDialing) return;
    if (setting(s, Id::DialedID)) {
        Hwnd lumo = find_slide_window(s);
        find_phone_window(s);
        if (setting(s, Id::CallerID) && s.PhoneWindow && lumo) {
            if (s.Dialing) {
                s.CallerState = 4;
                win(s).post(lumo, pr::WM_RunCaller, s.PhoneWindow, 4);
            } else {
                win(s).post(lumo, pr::WM_EndCaller, s.Locked ? 1 : 0, 0);
                restore_shortcut(s);
            }
        }
    } else if (!s.Dialing) {
        if (talking_or_held(s)) {
            give_shell_back(s);
        } else if (s.Locked) {
            post_to_lock_screen(s, pr::WM_HideIncoming, 1);
            s.HideDialogRetries = 0;
            set_timer(s, kTimerHidePhoneDialog, kHideDialogAfterDialingMs);
        }
    }
    if (s.Dialing && s.Locked) hide_slide(s);
}

// --- the key tone ---------------------------------------------------------------------------------

struct Tone {
    char16_t key;
    int low, high;
};
constexpr Tone kTones[] = {
    {u'1', 697, 1209}, {u'2', 697, 1336}, {u'3', 697, 1477}, {u'4', 770, 1209},
    {u'5', 770, 1336}, {u'6', 770, 1477}, {u'7', 852, 1209}, {u'8', 852, 1336},
    {u'9', 852, 1477}, {u'w', 941, 1209}, {u'0', 941, 1336}, {u'x', 941, 1477},
};

// A short wave of the two tones, written once into the phone's temporary folder.
std::u16string tone_file(State& s, const Tone& t) {
    auto& procs = s.platform->processes();
    std::u16string path = procs.special_folder(SpecialFolder::Temp) + u"\\dtmf_" + std::u16string(1, t.key) + u".wav";
    auto host = procs.host_path(path);
    if (!host) return {};
    std::error_code ec;
    if (std::filesystem::is_regular_file(*host, ec)) return path;
    std::filesystem::create_directories(host->parent_path(), ec);
    constexpr int kRate = 8000, kSamples = kRate * 150 / 1000;
    std::vector<std::int16_t> pcm(kSamples);
    for (int i = 0; i < kSamples; ++i) {
        double x = std::sin(2 * M_PI * t.low * i / kRate) + std::sin(2 * M_PI * t.high * i / kRate);
        pcm[std::size_t(i)] = std::int16_t(x * 6000);
    }
    auto u32 = [](std::ofstream& o, std::uint32_t v) { o.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](std::ofstream& o, std::uint16_t v) { o.write(reinterpret_cast<const char*>(&v), 2); };
    std::ofstream out(*host, std::ios::binary);
    const std::uint32_t bytes = std::uint32_t(pcm.size() * 2);
    out.write("RIFF", 4);
    u32(out, 36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(out, 16);
    u16(out, 1);
    u16(out, 1);
    u32(out, kRate);
    u32(out, kRate * 2);
    u16(out, 2);
    u16(out, 16);
    out.write("data", 4);
    u32(out, bytes);
    out.write(reinterpret_cast<const char*>(pcm.data()), bytes);
    return out ? path : std::u16string();
}

void play_dtmf(State& s, char16_t key) {
    for (const auto& t : kTones) {
        if (t.key != key) continue;
        auto path = tone_file(s, t);
        if (s.ToneDoneEvent) s.platform->sync().reset_event(s.ToneDoneEvent);
        if (!path.empty()) s.platform->sound().play(path, kSoundAsync | kSoundNoDefault);
        if (s.ToneDoneEvent) s.platform->sync().set_event(s.ToneDoneEvent);
        return;
    }
}

// --- the telephony callback ------------------------------------------------------------------------

void on_call_state(State& s, CallHandle call, std::uint32_t state) {
    switch (state) {
        case kCallStateOffering:
            kill_timer(s, kTimerUnknownCaller);
            s.Incoming = true;
            open_system_lock(s);
            s.CallerShown = false;
            s.SuppressTalking = false;
            s.OfferedCall = call;
            s.CallWaiting = s.Talking.load();
            s.platform->power().set_system_power_state(kPowerStateOn);
            post_self(s, pr::WM_IncomingChanged);
            hook_off_for_call(s);
            set_timer(s, kTimerUnknownCaller, setting(s, Id::DelayUnknownCallerMS));
            return;
        case kCallStateDialing:
            if (is_data(find_call_media(s, call))) return;
            s.CurrentCall = call;
            s.Dialing = true;
            post_to_lock_screen(s, pr::WM_Dialing, 1);
            post_to_lock_screen(s, pr::WM_Talking, 0);
            s.Talking = false;
            s.CallWaiting = false;
            s.SuppressTalking = false;
            open_system_lock(s);
            post_self(s, pr::WM_DialingChanged);
            hook_off_for_call(s);
            post_to_lock_screen(s, pr::WM_DialingChanged, 0);
            return;
        case kCallStateBusy:
            post_to_lock_screen(s, pr::WM_CallBusy, 0);
            close_dial_line(s);
            return;
        case kCallStateSpecialInfo:
            close_dial_line(s);
            return;
        case kCallStateConnected: {
            trace(s, "Connected 0x%0X (%0X, %0X, %0X, %0X)", call, s.VoiceCalls[0], s.VoiceCalls[1], s.DataCalls[0],
                  s.DataCalls[1]);
            if (is_data(find_call_media(s, call))) {
                note_call(s.DataCalls, call);
                return;
            }
            note_call(s.VoiceCalls, call);
            s.CurrentCall = call;
            s.Talking = true;
            post_to_lock_screen(s, pr::WM_Talking, 1);
            if (s.Incoming) {
                s.Incoming = false;
                post_self(s, pr::WM_IncomingChanged);
            }
            if (s.Dialing) {
                s.Dialing = false;
                post_to_lock_screen(s, pr::WM_Dialing, 0);
                post_self(s, pr::WM_DialingChanged);
            }
            if (s.SuppressTalking) {
                s.SuppressTalking = false;
            } else {
                post_self(s, pr::WM_TalkingChanged);
                post_to_lock_screen(s, pr::WM_TalkingChanged, 0);
            }
            return;
        }
        default:
            return;
    }
}

}  // namespace

// Handles the telephony's messages; the call states in their order, the caller id, and the dial
// line's end.
void on_line_message(State& s, const LineMessage& m) {
    trace(s, "TAPI: dwMsg=%d 1=0x%0X 2=0x%0X 3=0x%0X", int(m.message), m.param1, m.param2, m.param3);
    trace(s, "TAPI: Talking=0x%0X Dialing=0x%0X Incoming=0x%0X, CallWaiting=0x%0X", s.Talking ? 1 : 0,
          s.Dialing ? 1 : 0, s.Incoming ? 1 : 0, s.CallWaiting ? 1 : 0);
    switch (m.message) {
        case kLineCallState:
            if (m.param1 == kCallStateDisconnected) {
                on_call_disconnected(s, m.device);
                return;
            }
            if (m.param1 == kCallStateIdle) {
                // The call is over for good; its handle goes back unless the dial line holds it.
                if (m.device != s.DialCall) tel(s).deallocate_call(m.device);
                if (s.OfferedCall == m.device) s.OfferedCall = 0;
                return;
            }
            on_call_state(s, m.device, m.param1);
            return;
        case kLineCallInfo:
            if ((m.param1 & kCallInfoCallerId) && m.device == s.OfferedCall) on_caller_id(s, m.device);
            return;
        case kLineClose:
            if (m.device == s.DialLine) {
                s.DialLine = 0;
                close_dial_line(s);
            }
            return;
        case kLineReply:
            if (s.DialRequest > 0 && std::int32_t(m.param1) == s.DialRequest && m.param2 != 0) close_dial_line(s);
            return;
        default:
            return;
    }
}

void on_call_disconnected(State& s, CallHandle call) {
    trace(s, "Disconnected 0x%0X (%0X, %0X, %0X, %0X)", call, s.VoiceCalls[0], s.VoiceCalls[1], s.DataCalls[0],
          s.DataCalls[1]);
    const bool noted_voice = std::find(s.VoiceCalls.begin(), s.VoiceCalls.end(), call) != s.VoiceCalls.end();
    const bool noted_data = std::find(s.DataCalls.begin(), s.DataCalls.end(), call) != s.DataCalls.end();
    if (noted_data || (!noted_voice && call != s.OfferedCall && call != s.CurrentCall &&
                       is_data(find_call_media(s, call)))) {
        forget_call(s.DataCalls, call);
        if (!any_call(s.DataCalls) && !any_call(s.VoiceCalls) && setting(s, Id::ResetTAPI))
            set_timer(s, kTimerTelephonyError, kTelephonyRestartMs);
        return;
    }
    s.LastCallEndTick = now(s);
    post_to_lock_screen(s, pr::WM_CallEnded, 0);
    s.CurrentCall = 0;
    if (!noted_voice) {
        // A call that never connected: the ring or the dialing ends.
        if (s.Incoming && (call == s.OfferedCall || s.OfferedCall == 0)) {
            s.Incoming = false;
            kill_timer(s, kTimerUnknownCaller);
            post_self(s, pr::WM_IncomingChanged);
        } else if (s.Dialing) {
            s.Dialing = false;
            post_to_lock_screen(s, pr::WM_Dialing, 0);
            post_self(s, pr::WM_DialingChanged);
        }
        arm_hook_timer(s);
        close_dial_line(s);
        return;
    }
    forget_call(s.VoiceCalls, call);
    if (!any_call(s.VoiceCalls)) {
        s.Talking = false;
        post_to_lock_screen(s, pr::WM_Talking, 0);
        arm_hook_timer(s);
    }
    if (!s.SuppressTalking) post_self(s, pr::WM_TalkingChanged);
    close_dial_line(s);
}

void on_caller_id(State& s, CallHandle call) {
    if (!setting(s, Id::CallerID) || !s.Incoming || s.CallerShown) return;
    kill_timer(s, kTimerUnknownCaller);
    LineCallInfo info;
    LineResult r = tel(s).get_call_info(call, info);
    std::u16string number = cut(info.caller_id, kMailboxChars);
    trace(s, "IncomingNumber: %s f=0x%0X r=0x%0X", to_utf8(number).c_str(), info.caller_id_flags, std::uint32_t(r));
    write_mailbox(s, pr::mailbox::kIncomingName, u"");
    s.ForcedUnknown = false;
    if (r == 0 && (info.caller_id_flags & (kPartyIdName | kPartyIdAddress))) {
        look_up_caller(s, number, cut(info.caller_id_name, kMailboxChars));
    } else if (info.caller_id_flags & kPartyIdOutOfArea) {
        number = std::u16string(kOutOfArea);
        trace(s, "IncomingNumber: outofarea");
        s.ForcedUnknown = true;
    } else {
        number = std::u16string(kUnknown);
        trace(s, "IncomingNumber: Unknown");
        s.ForcedUnknown = true;
    }
    write_mailbox(s, pr::mailbox::kIncomingNumber, number);
    s.CallerState = caller_state_now(s);
    run_caller(s, true);
}

// --- start and end of telephony ----------------------------------------------------------------

void load_phone_names(State& s) {
    auto value = s.platform->registry().get_string(Root::CurrentUser, kPhoneNotifyKey, u"Default").value_or(u"");
    if (auto nul = value.find(u'\0'); nul != std::u16string::npos) value.resize(nul);
    auto colon = value.find(u':');
    s.PhoneName = colon != std::u16string::npos ? value.substr(0, colon) : value.substr(0, value.find(u' '));
    trace(s, "PT (%s)", to_utf8(s.PhoneName).c_str());
    std::u16string caption = cut(s.settings.text(Id::IncomingText), kMailboxChars);
    if (caption.empty()) caption = cut(value, kMailboxChars);
    if (caption.empty()) caption = u"Nothing";
    s.IncomingCaption = caption;
}

void init_telephony(State& s) {
    auto& t = tel(s);
    const std::uint32_t start = now(s);
    LineAppHandle app = 0;
    std::uint32_t devices = 0;
    LineResult r;
    for (;;) {
        r = t.initialize([&s](const LineMessage& m) { on_line_message(s, m); }, u"Vardex2", kApiVersion, app, devices);
        if (r != kLineErrReinit || now(s) - start >= kReinitRetryMs) break;
        s.sleep(kReinitPauseMs);
    }
    if (r != 0) {
        if (r == kLineErrNoMem) trace(s, "TAPI: Out of Memory");
        else trace(s, "TAPI: Initialize Fails 0x%0X", std::uint32_t(r));
        return;
    }
    s.LineApp = app;
    s.LineDevices = devices;
    s.Lines.clear();
    s.DialDevice = -1;
    if (devices == 0) {
        trace(s, "TAPI: There are no devices available");
        return;
    }
    for (std::uint32_t d = 0; d < devices; ++d) {
        State::LineRecord rec;
        rec.device = d;
        if (t.negotiate_api_version(app, d, kTapiVersionLow, kTapiVersionHigh, rec.version) != 0) {
            s.Lines.push_back(rec);
            continue;
        }
        LineDevCaps caps;
        t.get_dev_caps(app, d, rec.version, caps);
        rec.addresses = caps.num_addresses;
        rec.voice = (caps.media_modes & kMediaModeInteractiveVoice) != 0;
        std::string name = caps.line_name.empty() ? "Line " + std::to_string(d) : to_utf8(caps.line_name);
        trace(s, "TAPI: %d %s 0x%0X %d %d %d", int(d), name.c_str(), caps.media_modes, int(rec.version),
              int(caps.num_addresses), rec.voice ? 1 : 0);
        if (rec.voice) {
            LineResult o = t.open(app, d, rec.version, kOpenPrivileges, kOpenMediaModes, d, rec.line);
            if (o == 0) {
                trace(s, "TAPI: %d Handle 0x%0X", int(d), rec.line);
                if (s.DialDevice < 0) s.DialDevice = int(s.Lines.size());
                std::vector<CallHandle> calls;
                t.get_calls(rec.line, calls);
                for (CallHandle c : calls) {
                    LineCallStatus st;
                    LineResult g = t.get_call_status(c, st);
                    trace(s, "TAPI: C=0x%0X S=0x%0X R=%d", c, st.call_state, int(g));
                    if (!(st.call_state & (kCallStateConnected | kCallStateOnHold))) continue;
                    Media m = find_call_media(s, c);
                    note_call(is_data(m) ? s.DataCalls : s.VoiceCalls, c);
                    trace(s, "TAPI: Status 1=%0X 2=%0X D1=%0X D2=%0X", s.VoiceCalls[0], s.VoiceCalls[1], s.DataCalls[0],
                          s.DataCalls[1]);
                }
            } else {
                trace(s, "TAPI: %d Error 0x%0X", int(d), std::uint32_t(o));
                rec.line = 0;
            }
        }
        s.Lines.push_back(rec);
    }
}

void shutdown_telephony(State& s) {
    close_dial_line(s);
    if (!s.LineApp) return;
    for (auto& rec : s.Lines)
        if (rec.line) tel(s).close(rec.line);
    tel(s).shutdown(s.LineApp);
    s.LineApp = 0;
    s.Lines.clear();
    s.DialDevice = -1;
    s.VoiceCalls = {};
    s.DataCalls = {};
}

void read_sim_phone_book(State& s) {
    auto& sim = s.platform->sim();
    if (!s.SimOpen) {
        s.SimOpen = sim.initialize([&s](std::uint32_t code, std::uint32_t) {
            if (code == kSimNotifyPhoneBookStored || code == kSimNotifyPhoneBookDeleted) read_sim_phone_book(s);
        });
        if (!s.SimOpen) return;
    }
    s.SimBook.clear();
    auto entries = sim.read(kSimStorageSim);
    if (!entries) return;
    for (const auto& e : *entries) {
        if (s.SimBook.size() >= kSimMaxEntries) break;
        // The card's texts fit 30 characters; a longer one is cut, never carried whole.
        s.SimBook.push_back({cut(e.number, kSimTextMaxChars), cut(e.name, kSimTextMaxChars)});
    }
}

void release_sim(State& s) {
    if (s.SimOpen) s.platform->sim().deinitialize();
    s.SimOpen = false;
    s.SimBook.clear();
}

Hwnd find_incoming_window(State& s) {
    auto& w = win(s);
    Hwnd found = w.find_window(kDialogClass, s.IncomingCaption);
    if (!found && !s.PhoneName.empty()) {
        for (std::u16string_view sep : {u" -", u": "}) {
            const std::u16string prefix = s.PhoneName + std::u16string(sep);
            for (Hwnd h : w.top_level_windows()) {
                auto info = w.window_info(h);
                if (info && info->class_name == kDialogClass && starts_with(info->title, prefix)) {
                    found = h;
                    break;
                }
            }
            if (found) break;
        }
    }
    if (!found) {
        std::u16string dotted = s.IncomingCaption + u"...";
        if (Hwnd h = w.find_window(kDialogClass, dotted)) {
            found = h;
            s.IncomingCaption = dotted;
        }
    }
    if (!found) {
        for (auto caption : kIncomingCaptions)
            if (Hwnd h = w.find_window(kDialogClass, caption)) {
                found = h;
                s.IncomingCaption = std::u16string(caption);
                break;
            }
    }
    if (!found) return 0;
    remember_caption(s, window_title(s, found));
    subclass_incoming(s, found);
    return found;
}

void restore_incoming_window(State& s) {
    auto& w = win(s);
    if (s.IncomingSubclass.window && w.is_window(s.IncomingSubclass.window))
        w.remove_subclass(s.IncomingSubclass.window, s.IncomingSubclass.prev);
    if (s.SkinSubclass.window && w.is_window(s.SkinSubclass.window))
        w.remove_subclass(s.SkinSubclass.window, s.SkinSubclass.prev);
    s.IncomingSubclass = {};
    s.SkinSubclass = {};
    s.IncomingWindow = 0;
}

// --- messages -----------------------------------------------------------------------------------

LResult on_phone_key(State& s, std::uint32_t, WParam key, LParam) {
    trace(s, "Phone Key %0X", std::uint32_t(key));
    switch (key) {
        case pr::kPhoneKeyAnswer:
            soft_key_command(s, kCommandAnswer);
            return 0;
        case pr::kPhoneKeyReject:
            if (s.CallWaiting) {
                trace(s, "End Call %0X", s.MenuWorker.load());
                soft_key_command(s, kCommandEnd);
            } else if (!drop_with_privilege(s, s.OfferedCall)) {
                soft_key_command(s, kCommandEnd);
            }
            return 0;
        default:
            break;
    }
    find_phone_window(s);
    if (key == pr::kPhoneKeyEnd && s.CallWaiting && s.PhoneWindow) {
        press_key_on(s, s.PhoneWindow, kVkEnd);
        trace(s, "End Call & Answer - %0X", s.MenuWorker.load());
        soft_key_command(s, kCommandAnswer);
        s.SuppressTalking = true;
        return 0;
    }
    press_key_on(s, s.IncomingWindow, std::uint8_t(key));
    if (Hwnd lumo = find_slide_window(s)) {
        win(s).show_window(lumo, SW_SHOW);
        win(s).post(lumo, WM_SETFOCUS, 1, 0);
    }
    return 0;
}

LResult on_slide_ready(State& s, std::uint32_t, WParam, LParam) {
    find_slide_window(s);
    if (s.CallerPending && s.Incoming) {
        s.CallerPending = false;
        s.CallerShown = false;
        run_caller(s, false);
    }
    return 0;
}

LResult on_call_event(State& s, std::uint32_t msg, WParam w, LParam) {
    switch (msg) {
        case pr::WM_IncomingChanged:
            on_incoming_changed(s);
            return 0;
        case pr::WM_TalkingChanged:
            on_talking_changed(s);
            return 0;
        case pr::WM_DialingChanged:
            on_dialing_changed(s);
            return 0;
        case pr::WM_SlideDialing:
            s.SlideDialing = w == 1;
            return 0;
        case pr::WM_MakeCall:
            if (w == pr::kMakeCallHangUp) {
                close_dial_line(s);
                return 0;
            }
            if (auto number = s.platform->registry().get_string(Root::CurrentUser, pr::kRootKey, pr::mailbox::kDialNumber)) {
                auto n = cut(*number, kDialNumberChars);
                if (auto nul = n.find(u'\0'); nul != std::u16string::npos) n.resize(nul);
                if (!n.empty()) make_phone_call(s, n);
            }
            return 0;
        case pr::WM_DropConnectedCall: {
            CallHandle call = s.CurrentCall;
            bool dropped = drop_with_privilege(s, call);
            trace(s, "DropConnectedCall %d", dropped ? 1 : 0);
            return 0;
        }
        case pr::WM_PlayDTMF:
            play_dtmf(s, char16_t(w));
            return 0;
        case pr::WM_CHANGE_INCOMINGPROPNAME:
            if (s.Incoming && !s.ForcedUnknown && !s.PropNameSeen) {
                s.PropNameSeen = true;
                post_to_lock_screen(s, msg, w);
            }
            return 0;
        case pr::WM_CHANGE_INCOMINGNAME:
            if (s.Incoming && s.ForcedUnknown) post_to_lock_screen(s, msg, w);
            return 0;
        default:
            return 0;
    }
}

void on_timer_telephony_restart(State& s) {
    init_telephony(s);
}

void on_timer_unknown_caller(State& s) {
    if (!s.Incoming || s.CallerShown || !s.MenuWorker) return;
    s.ForcedUnknown = true;
    s.CallerState = caller_state_now(s);
    write_mailbox(s, pr::mailbox::kIncomingName, u"");
    write_mailbox(s, pr::mailbox::kIncomingNumber, kUnknown);
    run_caller(s, true);
}

void on_timer_call_ended_topmost(State& s) {
    if (Hwnd lumo = find_slide_window(s)) set_lumo_topmost(s, lumo, false);
}

void on_timer_telephony_error(State& s) {
    trace(s, "TAPI_ReInitialize");
    shutdown_telephony(s);
    s.platform->windows().set_timer(s.ServiceWindow, kTimerTelephonyRestart, kTelephonyRestartMs);
}

void on_timer_hide_phone_dialog(State& s) {
    auto& w = win(s);
    if (now(s) - s.LastUnlockTick <= kSinceUnlockMs) return;
    // Whether the dialog is in front is asked before lumo is brought forward, which takes the
    // front from it.
    find_phone_window(s);
    const bool dialog_in_front = s.PhoneWindow && w.foreground_window() == s.PhoneWindow;
    Hwnd lumo = find_slide_window(s);
    if (!lumo || w.foreground_window() != lumo) wake_lock_screen(s, kWakeSkipCallCheck);
    if (s.HideDialogRetries >= kHideDialogRetries) return;
    ++s.HideDialogRetries;
    if (!dialog_in_front || talking_or_held(s)) {
        set_timer(s, kTimerHidePhoneDialog, kHideDialogRetryMs);
        return;
    }
    w.show_window(s.PhoneWindow, SW_MINIMIZE);
    trace(s, "Hide Dialog %0X", s.PhoneWindow);
}

void on_timer_incoming_search(State& s) {
    incoming_search_step(s);
}

void close_call_handle(State& s) {
    close_dial_line(s);
}

}  // namespace lumo::service
