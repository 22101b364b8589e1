#include "simulated_programs.h"

#include <string>
#include <vector>

#include "window_service.h"

namespace lumo::host {
namespace {

using namespace platform;

// A program that shows one window of its class below the task bar; closing the window
// leaves the process running, as such programs do.
std::function<void(WindowService&, std::uint32_t, std::u16string_view, bool)> one_window(
    std::u16string_view class_name, std::u16string_view title) {
    return [cls = std::u16string(class_name), t = std::u16string(title)](
               WindowService& ws, std::uint32_t pid, std::u16string_view, bool shown) {
        Hwnd h = ws.create_host_window(0, pid, cls, t, WS_POPUP, 0, {0, 52, 480, 800},
                                       [&ws](Hwnd self, std::uint32_t msg, WParam, LParam) -> LResult {
                                           if (msg == WM_CLOSE) ws.destroy(self);
                                           return 0;
                                       });
        if (shown) ws.show(h, SW_SHOW);
    };
}

const std::vector<SimulatedProgram>& table() {
    static const std::vector<SimulatedProgram> programs = {
        {u"tmail.exe", one_window(u"tmail", u"Messaging")},
    };
    return programs;
}

}  // namespace

std::span<const SimulatedProgram> simulated_programs() { return table(); }

}  // namespace lumo::host
