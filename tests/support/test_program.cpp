// A small device program for end-to-end tests of the window system: started with a role, it
// connects to the device named by LUMO_DEVICE_SOCKET and plays that role until it is killed or
// its window is closed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "lumo/gfx/display_backend.h"
#include "lumo/gfx/draw.h"
#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

using namespace lumo::platform;

namespace {

constexpr std::uint32_t kEcho = WM_APP + 2;      // send back to TestSink, add 1
constexpr std::uint32_t kSinkAsk = WM_APP + 3;   // what TestSink answers
constexpr std::uint32_t kSleep = WM_APP + 4;     // never answers in time
constexpr std::uint32_t kSwallow = WM_APP + 5;   // the subclass keeps it
constexpr std::uint32_t kPostBurst = WM_APP + 6; // post wParam messages to TestSink
constexpr std::uint32_t kBurstItem = WM_APP + 7;
constexpr std::uint32_t kPing = WM_APP + 8;      // post kPong back to TestSink
constexpr std::uint32_t kPong = WM_APP + 9;

device::DevicePlatform* g_platform = nullptr;
Windows& win() { return g_platform->windows(); }

LResult program_proc(Hwnd h, std::uint32_t msg, WParam w, LParam l) {
    switch (msg) {
        case kEcho: {
            static Hwnd sink = win().find_window(u"TestSink", std::nullopt);
            auto r = win().send(sink, kSinkAsk, w, 0);
            return r ? *r + 1 : -1;
        }
        case kSleep:
            std::this_thread::sleep_for(std::chrono::seconds(30));
            return 0;
        case kPostBurst: {
            auto sink = win().find_window(u"TestSink", std::nullopt);
            for (WParam i = 0; i < w; ++i) win().post(sink, kBurstItem, i, 0);
            return 0;
        }
        case kPing: {
            static Hwnd sink = win().find_window(u"TestSink", std::nullopt);
            win().post(sink, kPong, w, 0);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_MOUSEMOVE:
        case WM_LBUTTONUP: {
            // The display role reports the stylus to TestSink as it came.
            static Hwnd sink = win().find_window(u"TestSink", std::nullopt);
            win().post(sink, msg, w, l);
            return 0;
        }
        case WM_DESTROY:
            win().post_quit(0);
            return 0;
    }
    return win().default_proc(h, msg, w, l);
}

std::optional<PrevProc> g_prev;
LResult subclass_proc(Hwnd h, std::uint32_t msg, WParam w, LParam l) {
    if (msg == kSwallow) return 77;
    auto r = win().call_previous(*g_prev, h, msg, w, l);
    return msg == kSinkAsk ? r + 1000 : r;
}

// The display role: a full-screen window that opens the screen the way the product does and
// presents a pattern the test can recompute (display_e2e_test.cpp has the same formula).
std::uint16_t pattern_pixel(int x, int y) {
    return std::uint16_t(((x * 7 + y) & 31) << 11 | ((y * 3) & 63) << 5 | ((x ^ y) & 31));
}

bool present_pattern(device::DevicePlatform& p, Hwnd self) {
    static auto imaging = make_sdl_imaging();
    static lumo::gfx::Screen screen;
    auto m = p.display().metrics();
    win().set_window_pos(self, 0, {0, 0, m.width, m.height}, 0);
    win().show_window(self, SW_SHOW);
    int backend = lumo::gfx::RequestedBackend(0, to_u16(std::getenv("LUMO_TEST_SWITCH") ?: ""));
    if (!lumo::gfx::OpenScreen(screen, p.display(), self, backend, imaging.get())) return false;
    // Drawn as the program sees the screen, turned or not.
    lumo::gfx::Image pic;
    lumo::gfx::ResizeBuffers(pic, screen.logical_width, screen.logical_height, false);
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) pic.row(y)[x] = pattern_pixel(x, y);
    lumo::gfx::DrawImage(pic, screen, 0, 0, 0, 0, 0, lumo::gfx::kCopy, 32);
    return lumo::gfx::PresentScreen(screen);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lumo-testprog ROLE [ARG]\n"
                             "roles: window CLASS | subclass CLASS | hook VK | mutex NAME | display\n");
        return 2;
    }
    std::string role = argv[1];
    std::string arg = argc > 2 ? argv[2] : "";
    // Started by the device, the whole command line comes as one argument, as on the phone.
    if (argc == 2 && role.find(' ') != std::string::npos) {
        arg = role.substr(role.find(' ') + 1);
        role = role.substr(0, role.find(' '));
    }
    std::string error;
    auto platform = device::connect("", to_u16("testprog-" + role), &error);
    if (!platform) {
        std::fprintf(stderr, "lumo-testprog: %s\n", error.c_str());
        return 3;
    }
    g_platform = platform.get();
    if (role == "mutex") {
        bool existed = false;
        platform->sync().create_mutex(to_u16(arg), &existed);
        return existed ? 10 : 11;
    }
    win().register_class(u"TestProgram", program_proc);
    CreateWindowParams p;
    p.class_name = u"TestProgram";
    p.title = to_u16(role + " " + arg);
    p.rect = {0, 0, 100, 100};
    if (role == "window") {
        p.class_name = to_u16(arg);
        win().register_class(p.class_name, program_proc);
    }
    Hwnd self = win().create_window(p);
    if (!self) return 4;
    if (role == "subclass") {
        auto target = win().find_window(to_u16(arg), std::nullopt);
        g_prev = win().subclass(target, subclass_proc);
        if (!g_prev) return 5;
    } else if (role == "hook") {
        auto vk = static_cast<std::uint8_t>(std::strtoul(arg.c_str(), nullptr, 0));
        win().set_keyboard_hook([vk](const KeyEvent& e) { return e.vk == vk; });
    }
    if (role == "display" && !present_pattern(*platform, self)) return 6;
    // Ready: tests wait for this title.
    win().set_window_text(self, to_u16(role + " ready"));
    Message m;
    while (win().get_message(m)) win().dispatch(m);
    return 0;
}
