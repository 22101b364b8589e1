// Stands in for the lock screen in the service's end-to-end tests until the real one is
// installed: a window of class and title "Lumo" (hidden with -hide) that records the last
// private message it received under HKCU\Software\LumoTest and ends on WM_CLOSE.
#include <string>

#include "lumo/platform/device/device_platform.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

using namespace lumo::platform;

namespace {
device::DevicePlatform* g_platform = nullptr;

LResult proc(Hwnd h, std::uint32_t msg, WParam w, LParam l) {
    auto& win = g_platform->windows();
    if (msg >= WM_APP) {
        g_platform->registry().create_key(Root::CurrentUser, u"Software\\LumoTest");
        g_platform->registry().set_dword(Root::CurrentUser, u"Software\\LumoTest", u"LastMessage",
                                         msg);
    }
    if (msg == WM_DESTROY) {
        win.post_quit(0);
        return 0;
    }
    return win.default_proc(h, msg, w, l);
}
}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto platform = device::connect("", u"lumo", &error);
    if (!platform) return 3;
    g_platform = platform.get();
    auto name = lumo::protocol::window_name(lumo::protocol::Program::LockScreen);
    platform->windows().register_class(name, proc);
    CreateWindowParams p;
    p.class_name = std::u16string(name);
    p.title = std::u16string(name);
    p.rect = {0, 0, 480, 800};
    Hwnd self = platform->windows().create_window(p);
    if (!self) return 4;
    bool hide = argc > 1 && lumo::protocol::starts_with_switch(to_u16(argv[1]),
                                                               lumo::protocol::lock_switch::kHide);
    platform->windows().show_window(self, hide ? SW_HIDE : SW_SHOW);
    Message m;
    while (platform->windows().get_message(m)) platform->windows().dispatch(m);
    return 0;
}
