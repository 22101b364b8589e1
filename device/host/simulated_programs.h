#pragma once
// Outside programs the product meets (messaging, the phone application, the music player, ...)
// run inside the host as simulated processes: a table of executable names and what starting
// one does.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <span>
#include <string_view>

namespace lumo::host {

class WindowService;

struct SimulatedProgram {
    std::u16string_view exe;  // file name, compared without regard to case
    std::function<void(WindowService&, std::uint32_t pid, std::u16string_view arguments,
                       bool shown)>
        start;
};

std::span<const SimulatedProgram> simulated_programs();
// The music player (zorp_player.cpp): starting \Windows\zorp.exe starts it.
void start_zorp(WindowService& ws, std::uint32_t pid, std::u16string_view arguments, bool shown);

// The messaging program shows the message its command line names ("-service NAME -mid ID", as the
// phone's mail display asks it): this finds the text to show (set by the stores' service).
using MessageLookup = std::function<std::optional<std::u16string>(std::u16string_view arguments)>;
void set_message_lookup(MessageLookup lookup);
// Every command line the messaging program was started with, oldest first.
const std::vector<std::u16string>& messaging_arguments();
// Every address the browser (iexplore.exe) was started with, oldest first; its window is titled
// "<address> - Internet Explorer".
const std::vector<std::u16string>& browser_addresses();
// The phone's shut-down program (\Windows\ShutDown.exe, what a lock screen's ShutDownEXE names):
// starting it switches the phone off through this, which the device sets.
void set_switch_off(std::function<void()> switch_off);
// What the shell's notification window does on WM_COMMAND 0x200B (dismiss the active reminder),
// which the device sets.
void set_reminder_dismiss(std::function<void()> dismiss);
inline constexpr std::uint32_t kDismissReminderCommand = 0x200B;
// Every command line the simulated program `exe` (its file name, any case) was started with,
// oldest first.
std::vector<std::u16string> program_arguments(std::u16string_view exe);

// The shell: started at every boot as a simulated process owning the task bar, the Today screen
// (the desktop window), the notification window and, on Windows Mobile 6.5, the start menu.
inline constexpr std::u16string_view kShellPath = u"\\Windows\\shell32.exe";
inline constexpr std::u16string_view kTaskBarClass = u"HHTaskBar";
inline constexpr std::u16string_view kDesktopClass = u"DesktopExplorerWindow";
inline constexpr std::u16string_view kNotifyClass = u"WinCENotify";
inline constexpr std::u16string_view kStartMenuClass = u"MSSTARTMENU";
// Height of the task bar for a screen of the given dots per inch.
constexpr int task_bar_height(int dpi) { return dpi >= 192 ? 52 : 26; }

}  // namespace lumo::host
