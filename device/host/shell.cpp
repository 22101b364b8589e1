#include "shell.h"

#include <algorithm>

#include "display_service.h"
#include "lumo/platform/text.h"
#include "lumo/wire/protocol.h"
#include "simulated_programs.h"
#include "window_service.h"

namespace lumo::host {
namespace {

using namespace platform;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

ShellService* g_shell = nullptr;

std::vector<StartMenuEntry>& shown_entries() {
    static std::vector<StartMenuEntry> entries;
    return entries;
}

int g_row_height = 0;

// The menu's margin above and below its rows.
int menu_margin(int dpi) { return start_menu_row_height(dpi) / 5; }

}  // namespace

const std::vector<StartMenuEntry>& start_menu_programs() {
    static const std::vector<StartMenuEntry> programs = {
        {u"Lumo Settings", u"\\Program Files\\Lumo\\LumoSettings.exe"},
        {u"Internet Explorer", u"\\Windows\\iexplore.exe"},
        {u"Messaging", u"\\Windows\\tmail.exe"},
        {u"Windows Media", u"\\Windows\\wmplayer.exe"},
        {u"Music", u"\\Windows\\player.exe"},
        {u"Camera", u"\\Windows\\camera.exe"},
        {u"FM Radio", u"\\Windows\\fmradio.exe"},
    };
    return programs;
}

const std::vector<StartMenuEntry>& start_menu_shown() { return shown_entries(); }
int start_menu_shown_row_height() { return g_row_height ? g_row_height : start_menu_row_height(chosen_profile().dpi); }

ShellService* running_shell() { return g_shell; }

ShellService::ShellService(Host& host, WindowService& windows) : host_(host), windows_(windows) {
    g_shell = this;
    host.add_handler(Kind::ShellFullScreen, [this](ClientConn&, Reader& in, Writer& out) {
        auto hwnd = in.u32();
        auto flags = in.u32();
        if (!in.done()) return false;
        if (!windows_.find(hwnd)) {
            out.status(Status::NotFound);
            return true;
        }
        full_screen(flags);
        out.status(Status::Ok);
        return true;
    });
    host.add_handler(Kind::WorkArea, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        auto r = work_area();
        out.status(Status::Ok).i32(r.left).i32(r.top).i32(r.right).i32(r.bottom);
        return true;
    });
}

ShellService::~ShellService() {
    if (g_shell == this) g_shell = nullptr;
}

Hwnd ShellService::shell_window(std::u16string_view class_name) {
    // The shell's own element: the phone application makes an input-panel button of its own
    // while a call rings, which is not the shell's to show or hide.
    Hwnd any = 0;
    for (Hwnd h : windows_.z_order()) {
        auto* w = windows_.find(h);
        if (!w || !equal_no_case(w->class_name, class_name)) continue;
        if (!(w->ex_style & WS_EX_TOPMOST)) return h;
        if (!any) any = h;
    }
    return any;
}

Hwnd ShellService::menu_window() {
    Hwnd menu = shell_window(kDropDownMenuClass);
    return menu ? menu : shell_window(kStartMenuClass);
}

void ShellService::add_controls(std::uint32_t pid) {
    const auto& profile = chosen_profile();
    const int w = profile.width, h = profile.height, bar = task_bar_height(profile.dpi);
    Hwnd icon = windows_.create_host_window(
        0, pid, std::u16string(kShellStartIconClass), u"Start", WS_POPUP, WS_EX_NOACTIVATE,
        {0, 0, start_icon_width(profile.dpi), bar}, [](Hwnd, std::uint32_t msg, WParam, LParam) -> LResult {
            if (msg == WM_LBUTTONUP)
                if (auto* shell = running_shell()) shell->toggle_menu();
            return 0;
        });
    windows_.show(icon, SW_SHOWNA);
    // The input-panel button sits at the bottom right, as on the phone's menu bar.
    Hwnd sip = windows_.create_host_window(0, pid, std::u16string(kShellSipButtonClass), u"", WS_POPUP, WS_EX_NOACTIVATE,
                                           {w - bar, h - bar, w, h},
                                           [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
    windows_.show(sip, SW_SHOWNA);
    if (!profile.wm65) {
        windows_.create_host_window(0, pid, std::u16string(kDropDownMenuClass), u"Start", WS_POPUP, 0,
                                    {0, bar, w, h}, [this](Hwnd self, std::uint32_t msg, WParam, LParam l) -> LResult {
                                        if (msg == WM_CLOSE) windows_.show(self, SW_HIDE);
                                        if (msg == WM_LBUTTONUP) menu_tap(self, std::int16_t(std::uint32_t(l) >> 16));
                                        return 0;
                                    });
    }
}

void ShellService::toggle_menu() {
    auto* shell_bar = windows_.find(task_bar());
    if (!shell_bar || !shell_bar->visible || shell_bar->rect.bottom <= 0) return;
    Hwnd menu = menu_window();
    auto* w = windows_.find(menu);
    if (!w) return;
    if (w->visible) {
        windows_.show(menu, SW_HIDE);
        return;
    }
    auto& entries = shown_entries();
    entries.clear();
    for (const auto& e : start_menu_programs())
        if (!installed || installed(e.path)) entries.push_back(e);
    const auto& profile = chosen_profile();
    Rect screen = windows_.screen_rect ? windows_.screen_rect() : Rect{0, 0, profile.width, profile.height};
    const int bar = task_bar_height(profile.dpi), margin = menu_margin(profile.dpi);
    // Every row fits under the bar, the rows getting lower on a short (turned) screen.
    const int count = std::max(1, int(entries.size()));
    g_row_height = std::max(1, std::min(start_menu_row_height(profile.dpi),
                                        (screen.height() - bar - 2 * margin) / count));
    const int row = g_row_height;
    if (equal_no_case(w->class_name, kDropDownMenuClass)) {
        // Under the task bar at the left, as tall as its rows.
        int width = std::min(screen.width(), std::max(screen.width() * 2 / 3, 10 * row));
        int height = count * row + 2 * margin;
        w->rect = {0, bar, width, bar + height};
    } else {
        w->rect = {0, bar, screen.right, screen.bottom};
    }
    windows_.show(menu, SW_SHOW);
    host_.log().printf("start menu opened: %zu programs", entries.size());
}

void ShellService::menu_tap(Hwnd menu, int y) {
    const int dpi = chosen_profile().dpi;
    int index = (y - menu_margin(dpi)) / start_menu_shown_row_height();
    const auto& entries = shown_entries();
    if (y < menu_margin(dpi) || index < 0 || std::size_t(index) >= entries.size()) return;
    std::u16string path = entries[std::size_t(index)].path;
    windows_.show(menu, SW_HIDE);
    host_.log().printf("start menu: %s", to_utf8(path).c_str());
    // Started from the host's loop rather than inside the tap's delivery.
    host_.schedule(0, [this, path] {
        if (launch && !launch(path)) host_.log().printf("start menu: cannot start %s", to_utf8(path).c_str());
    });
}

void ShellService::full_screen(std::uint32_t flags) {
    const std::pair<std::u16string_view, std::uint32_t> elements[] = {
        {kShellTaskBarClass, SHFS_SHOWTASKBAR},
        {kShellSipButtonClass, SHFS_SHOWSIPBUTTON},
        {kShellStartIconClass, SHFS_SHOWSTARTICON},
    };
    for (auto [cls, show] : elements) {
        const std::uint32_t hide = show << 1;
        if (!(flags & (show | hide))) continue;
        Hwnd h = shell_window(cls);
        if (!h) continue;
        windows_.show(h, (flags & show) ? SW_SHOWNA : SW_HIDE);
    }
    // The start menu goes with its icon.
    if ((flags & SHFS_HIDESTARTICON) && !(flags & SHFS_SHOWSTARTICON))
        if (Hwnd menu = menu_window(); menu && windows_.find(menu)->visible) windows_.show(menu, SW_HIDE);
}

Rect ShellService::work_area() {
    const auto& profile = chosen_profile();
    Rect area = windows_.screen_rect ? windows_.screen_rect() : Rect{0, 0, profile.width, profile.height};
    if (Hwnd bar = shell_window(kShellTaskBarClass)) {
        auto* w = windows_.find(bar);
        if (w->visible && w->rect.top <= 0 && w->rect.bottom > 0) area.top = std::max(area.top, w->rect.bottom);
    }
    return area;
}

}  // namespace lumo::host
