#pragma once
// The display back-ends behind a Screen: the raw frame buffer, a DirectDraw primary surface and a
// GDI bitmap, chosen per device from the DisplayMode setting, the settings program's switches and
// a table of device profiles keyed on the OEM information string, with fallbacks when the chosen
// one cannot be opened.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/gfx/screen.h"
#include "lumo/platform/display.h"

namespace lumo::gfx {

// Devices whose OEM information begins with `prefix` get `backend` (0: as requested).
struct DeviceProfile {
    std::u16string_view prefix;
    int backend;
};
inline constexpr DeviceProfile kDeviceProfiles[] = {
    {u"HTC Touch HD", 0},
    {u"HTC", 1}, {u"ELF", 1}, {u"MDA", 1}, {u"Xda", 1}, {u"TITA", 1}, {u"VOGU", 1},
    {u"NIKI", 1}, {u"Kaiser", 1}, {u"Polaris", 1}, {u"P3050", 1}, {u"DIA", 1}, {u"RAPH", 1},
    {u"BLACK", 1}, {u"X1", 1},
    {u"Palm Treo 800w", 3},
    {u"Asus CANNES", 2},
    {u"PM300", 1},
    {u"SAMSUNG SCH-i770", 2},
    {u"SAMSUNG", 1}, {u"SEDN100", 1},
};

// The back-end asked for: DisplayMode + 1, where a command line beginning "-ddraw" counts as
// DisplayMode 1 and one beginning "-gdi" as 2. Values out of range ask for the frame buffer.
int RequestedBackend(int display_mode, std::u16string_view command_line = {});

// The back-end the profile table gives a device for a request (first matching prefix wins).
int ProfileBackend(std::u16string_view oem_info, int requested);

using ScreenLogFn = std::function<void(const std::string&)>;

// Opens the display for `window`: profile, back-end with fallbacks, back buffer, key input,
// orientation and rotation. `backend` is the request on entry and what was opened on return.
// Failures: error 100 (no back-end), 102 (no memory), or no imaging library. Logs "Angle=%d".
bool OpenScreen(Screen& s, platform::Display& display, platform::Hwnd window, int& backend,
                platform::Imaging* imaging, const ScreenLogFn& log = {});

// The lock screen's start-up lines about the display, in order.
std::vector<std::string> ScreenStartupLines(const Screen& s, platform::Display& display,
                                            std::string_view version_text, std::uint32_t ticks);

}  // namespace lumo::gfx
