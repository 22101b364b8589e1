#pragma once
// A service under test on the fake platform: installed in \Program Files\Lumo with a lock
// screen that is a window of class and title "Lumo" recording what reaches it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/service/service.h"

namespace lumo::service::test {

using namespace platform;

inline constexpr std::u16string_view kServicePath = u"\\Program Files\\Lumo\\Vardex2.exe";
inline constexpr std::u16string_view kLockPath = u"\\Program Files\\Lumo\\lumo.exe";
inline constexpr std::uint32_t kLockPid = 500;

struct Received {
    std::uint32_t msg;
    WParam w;
    LParam l;
};

class ServiceHarness {
  public:
    explicit ServiceHarness(bool with_lock_screen_file = true) {
        p.set_own_path(std::u16string(kServicePath));
        if (with_lock_screen_file) put_file(kLockPath);
        p.install_program(
            std::u16string(kLockPath), [this](std::uint32_t pid, std::u16string_view args) {
                lock_pid = pid;
                bool shown = !protocol::starts_with_switch(args, protocol::lock_switch::kHide);
                open_lock_screen(shown);
                if (shown && lock_screen_locks)
                    p.windows().post(service_window(), protocol::WM_Locked, 0, 0);
            });
        p.set_boot_age(0);
    }

    void put_file(std::u16string_view device_path) {
        auto host = p.processes().host_path(device_path);
        ASSERT_TRUE(host);
        std::filesystem::create_directories(host->parent_path());
        std::ofstream(*host) << "x";
    }

    // The lock screen's window, as lumo makes it.
    Hwnd open_lock_screen(bool shown) {
        auto& win = p.windows();
        auto name = std::u16string(protocol::window_name(protocol::Program::LockScreen));
        win.register_class(name, [this](Hwnd h, std::uint32_t m, WParam w, LParam l) -> LResult {
            if (m >= WM_APP || m == WM_CLOSE) lock_received.push_back({m, w, l});
            return p.windows().default_proc(h, m, w, l);
        });
        CreateWindowParams cp;
        cp.class_name = name;
        cp.title = name;
        lock_window = win.create_window(cp);
        win.show_window(lock_window, shown ? SW_SHOW : SW_HIDE);
        return lock_window;
    }

    std::vector<std::uint32_t> lock_messages() const {
        std::vector<std::uint32_t> out;
        for (auto& r : lock_received) out.push_back(r.msg);
        return out;
    }

    // Starts the service in this test's process; the first-start boxes are answered.
    bool start(std::u16string_view command_line = u"") {
        return service::start(s, p, command_line);
    }

    Hwnd service_window() { return p.windows().find_window(u"Vardex2", u"Vardex2"); }

    void set_byte(std::u16string_view name, std::uint8_t v) {
        p.registry().create_key(Root::CurrentUser, protocol::kRootKey);
        std::byte b{v};
        p.registry().set_binary(Root::CurrentUser, protocol::kRootKey, name, {&b, 1});
    }
    void set_number(std::u16string_view name, std::uint32_t v) {
        p.registry().create_key(Root::CurrentUser, protocol::kRootKey);
        p.registry().set_dword(Root::CurrentUser, protocol::kRootKey, name, v);
    }

    // The service's log as text lines (UTF-16 in the file).
    std::vector<std::string> log_lines() {
        auto host = p.processes().host_path(u"\\Program Files\\Lumo\\Vardex2.log");
        std::ifstream in(*host, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8));
        std::vector<std::string> lines;
        std::string all = to_utf8(text);
        std::size_t pos = 0;
        while (pos < all.size()) {
            auto end = all.find("\r\n", pos);
            if (end == std::string::npos) end = all.size();
            auto line = all.substr(pos, end - pos);
            auto tab = line.find('\t');
            lines.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
            pos = end + 2;
        }
        return lines;
    }

    fake::FakePlatform p;
    State s;
    Hwnd lock_window = 0;
    std::vector<Received> lock_received;
    // lumo's process, and whether it locks as soon as it is started shown (as the real one does,
    // telling the service with WM_Locked).
    std::uint32_t lock_pid = 0;
    bool lock_screen_locks = false;
};

}  // namespace lumo::service::test
