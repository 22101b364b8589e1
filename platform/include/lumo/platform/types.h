#pragma once
// Basic types the programs exchange with the platform: window handles and messages as the phone's
// window system carries them.
#include <cstdint>
#include <string>

namespace lumo::platform {

using Hwnd = std::uint32_t;  // 0 is "no window"
using WParam = std::uint32_t;
using LParam = std::int32_t;

struct Message {
    Hwnd hwnd = 0;
    std::uint32_t message = 0;
    WParam wparam = 0;
    LParam lparam = 0;
};

inline bool operator==(const Message& a, const Message& b) {
    return a.hwnd == b.hwnd && a.message == b.message && a.wparam == b.wparam && a.lparam == b.lparam;
}

}  // namespace lumo::platform
