#include "simulated_programs.h"

#include <string>
#include <vector>

#include "display_service.h"
#include "shell.h"
#include "window_service.h"

namespace lumo::host {
namespace {

using namespace platform;

// A program that shows one window of its class below the task bar; closing the window
// leaves the process running, as such programs do.
std::function<void(WindowService&, std::uint32_t, std::u16string_view, bool)> one_window(
    std::u16string_view class_name, std::u16string_view title) {
    return [cls = std::u16string(class_name), t = std::u16string(title)](
               WindowService& ws, std::uint32_t pid, std::u16string_view arguments, bool shown) {
        // Below the task bar, filling the rest of the screen as it is turned now.
        const auto& profile = chosen_profile();
        Rect rect = ws.screen_rect ? ws.screen_rect() : Rect{0, 0, profile.width, profile.height};
        rect.top = task_bar_height(profile.dpi);
        Hwnd h = ws.create_host_window(0, pid, cls, t, WS_POPUP, 0, rect,
                                       [&ws](Hwnd self, std::uint32_t msg, WParam, LParam) -> LResult {
                                           if (msg == WM_CLOSE) ws.destroy(self);
                                           return 0;
                                       });
        // What it was started with shows in its window (the messaging program shows the
        // message a program asked it to write).
        if (auto* w = ws.find(h)) w->body = std::u16string(arguments);
        if (shown) ws.show(h, SW_SHOW);
    };
}

std::function<void()>& reminder_dismiss_action() {
    static std::function<void()> action;
    return action;
}

// Every simulated program's command lines, by its file name in lower case.
std::vector<std::pair<std::u16string, std::u16string>>& recorded_starts() {
    static std::vector<std::pair<std::u16string, std::u16string>> starts;
    return starts;
}

std::u16string lower(std::u16string_view s) {
    std::u16string out(s);
    for (auto& ch : out)
        if (ch >= u'A' && ch <= u'Z') ch = char16_t(ch - u'A' + u'a');
    return out;
}

// A program whose whole job here is to be started: it records its command line and shows its
// window.
std::function<void(WindowService&, std::uint32_t, std::u16string_view, bool)> recorded(
    std::u16string_view exe, std::u16string_view class_name, std::u16string_view title) {
    return [exe = lower(exe), window = one_window(class_name, title)](WindowService& ws, std::uint32_t pid,
                                                                      std::u16string_view arguments, bool shown) {
        recorded_starts().emplace_back(exe, std::u16string(arguments));
        window(ws, pid, arguments, shown);
    };
}

MessageLookup& message_lookup() {
    static MessageLookup lookup;
    return lookup;
}

std::vector<std::u16string>& recorded_messaging_arguments() {
    static std::vector<std::u16string> args;
    return args;
}

// tmail.exe: one window, as above, that shows the message it was asked to open (or, for any
// other command line, the command line itself: a new message to write).
void start_messaging(WindowService& ws, std::uint32_t pid, std::u16string_view arguments, bool shown) {
    recorded_messaging_arguments().emplace_back(arguments);
    one_window(u"tmail", u"Messaging")(ws, pid, arguments, shown);
    std::optional<std::u16string> text;
    if (message_lookup()) text = message_lookup()(arguments);
    for (Hwnd h : ws.z_order()) {
        auto* w = ws.find(h);
        if (w && w->pid == pid && w->class_name == u"tmail") w->body = text.value_or(std::u16string(arguments));
    }
}

std::vector<std::u16string>& recorded_browser_addresses() {
    static std::vector<std::u16string> addresses;
    return addresses;
}

// iexplore.exe: one window titled with the address it was started with, as a browser shows the
// page it opened; every address is kept.
void start_browser(WindowService& ws, std::uint32_t pid, std::u16string_view arguments, bool shown) {
    std::u16string address(arguments);
    if (address.size() >= 2 && address.front() == u'"' && address.back() == u'"')
        address = address.substr(1, address.size() - 2);
    recorded_browser_addresses().push_back(address);
    one_window(u"IExplore", address.empty() ? u"Internet Explorer" : address + u" - Internet Explorer")(
        ws, pid, arguments, shown);
}

// The shell's windows never close on request: a program posting WM_CLOSE to the task bar or the
// Today screen must not take the shell down. The start menu closes by hiding.
void start_shell(WindowService& ws, std::uint32_t pid, std::u16string_view, bool) {
    const auto& profile = chosen_profile();
    const int w = profile.width, h = profile.height, bar = task_bar_height(profile.dpi);
    auto stays = [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; };
    Hwnd desktop = ws.create_host_window(0, pid, std::u16string(kDesktopClass), u"Desktop", WS_POPUP,
                                         0, {0, bar, w, h}, stays);
    ws.show(desktop, SW_SHOW);
    Hwnd taskbar = ws.create_host_window(0, pid, std::u16string(kTaskBarClass), u"", WS_POPUP, 0,
                                         {0, 0, w, bar}, stays);
    ws.show(taskbar, SW_SHOWNA);
    ws.create_host_window(0, pid, std::u16string(kNotifyClass), std::u16string(kNotifyClass),
                          WS_POPUP, 0, {0, 0, 0, 0}, [](Hwnd, std::uint32_t msg, WParam wp, LParam) -> LResult {
                              if (msg == WM_COMMAND && (wp & 0xFFFF) == kDismissReminderCommand)
                                  if (auto& dismiss = reminder_dismiss_action()) dismiss();
                              return 0;
                          });
    if (profile.wm65) {
        ws.create_host_window(0, pid, std::u16string(kStartMenuClass), u"Start", WS_POPUP, 0,
                              {0, bar, w, h},
                              [&ws](Hwnd self, std::uint32_t msg, WParam, LParam l) -> LResult {
                                  if (msg == WM_CLOSE) ws.show(self, SW_HIDE);
                                  if (msg == WM_LBUTTONUP)
                                      if (auto* shell = running_shell())
                                          shell->menu_tap(self, std::int16_t(std::uint32_t(l) >> 16));
                                  return 0;
                              });
    }
    // The start icon, the input-panel button and the start menu.
    if (auto* shell = running_shell()) shell->add_controls(pid);
}

std::function<void()>& switch_off_action() {
    static std::function<void()> action;
    return action;
}

// Switches the phone off once the program has started (not inside its own start).
void start_shut_down(WindowService&, std::uint32_t, std::u16string_view, bool) {
    if (auto& off = switch_off_action()) off();
}

const std::vector<SimulatedProgram>& table() {
    static const std::vector<SimulatedProgram> programs = {
        {u"tmail.exe", start_messaging},
        {u"shell32.exe", start_shell},
        // Programs the lock conditions look for: the exception list and the music test.
        {u"iexplore.exe", start_browser},
        {u"wmplayer.exe", one_window(u"WMPlayer", u"Windows Media")},
        {u"player.exe", one_window(u"Player", u"Music")},
        {u"camera.exe", one_window(u"camera", u"Camera")},
        {u"fmradio.exe", one_window(u"FMRadioMain", u"FM Radio")},
        {u"ShutDown.exe", start_shut_down},
        {u"zorp.exe", start_zorp},
        // What the lock screen opens after the unlock (voice mail is the phone program's):
        // tasks, FlexMail and the instant messenger.
        {u"tasks.exe", recorded(u"tasks.exe", u"Tasks", u"Tasks")},
        {u"flexmail.exe", recorded(u"flexmail.exe", u"FlexMail", u"FlexMail")},
        {u"WLMLauncher.exe", recorded(u"WLMLauncher.exe", u"WLM", u"Windows Live")},
    };
    return programs;
}

}  // namespace

std::span<const SimulatedProgram> simulated_programs() { return table(); }

void set_message_lookup(MessageLookup lookup) { message_lookup() = std::move(lookup); }

const std::vector<std::u16string>& messaging_arguments() { return recorded_messaging_arguments(); }
const std::vector<std::u16string>& browser_addresses() { return recorded_browser_addresses(); }
void set_switch_off(std::function<void()> switch_off) { switch_off_action() = std::move(switch_off); }
void set_reminder_dismiss(std::function<void()> dismiss) { reminder_dismiss_action() = std::move(dismiss); }

std::vector<std::u16string> program_arguments(std::u16string_view exe) {
    if (lower(exe) == u"tmail.exe") return messaging_arguments();
    std::vector<std::u16string> out;
    for (auto& [name, args] : recorded_starts())
        if (name == lower(exe)) out.push_back(args);
    return out;
}

}  // namespace lumo::host
