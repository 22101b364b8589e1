#pragma once
// The shell's controls beside its task bar: the start icon, the input-panel button and the start
// menu with the phone's programs, and the full-screen service that hides and shows the task bar,
// the input-panel button and the start icon for a program that covers the whole screen.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host.h"
#include "lumo/platform/windows.h"

namespace lumo::host {

class WindowService;

// The start menu of a Windows Mobile 6.1 phone drops down under the task bar; a 6.5 phone shows
// its full-screen start menu (MSSTARTMENU) instead.
inline constexpr std::u16string_view kDropDownMenuClass = u"StartMenu";

struct StartMenuEntry {
    std::u16string label;
    std::u16string path;  // device path of the program
};

// Every program the start menu knows, in its order; only those installed on the phone show.
const std::vector<StartMenuEntry>& start_menu_programs();
// What the menu shows now (set each time it opens), top row first, and the height of its rows
// (smaller than usual when they would not all fit the screen as turned).
const std::vector<StartMenuEntry>& start_menu_shown();
int start_menu_shown_row_height();
// Height of one menu row and the start icon's width, for a screen of the given dots per inch.
constexpr int start_menu_row_height(int dpi) { return dpi >= 192 ? 60 : 30; }
constexpr int start_icon_width(int dpi) { return dpi >= 192 ? 120 : 60; }

class ShellService {
public:
    ShellService(Host& host, WindowService& windows);
    // Starts a program of the menu; set by the device.
    std::function<bool(std::u16string_view path)> launch;
    // Whether a program of the menu is installed; set by the device (all are, without it).
    std::function<bool(std::u16string_view path)> installed;

    // Makes the start icon, the input-panel button and (6.1) the drop-down menu for the shell
    // process `pid`; called when the shell starts.
    void add_controls(std::uint32_t pid);
    // Applies SHFS_* flags to the shell's elements.
    void full_screen(std::uint32_t flags);
    platform::Rect work_area();
    // A tap on the start icon opens the menu, or closes it when open (not while the task bar,
    // which the icon is part of, is hidden or moved off the screen).
    void toggle_menu();
    platform::Hwnd task_bar() { return shell_window(platform::kShellTaskBarClass); }
    // A tap on a row of the menu (y in the menu's own coordinates) starts its program.
    void menu_tap(platform::Hwnd menu, int y);
    ~ShellService();

private:
    platform::Hwnd shell_window(std::u16string_view class_name);
    platform::Hwnd menu_window();

    Host& host_;
    WindowService& windows_;
};

// The shell service of the running device (the shell's start reaches it through this).
ShellService* running_shell();

}  // namespace lumo::host
