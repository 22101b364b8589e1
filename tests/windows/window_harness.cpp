#include "window_harness.h"

#include <chrono>
#include <thread>

#include "lumo/platform/device/device_platform.h"

#include <array>
#include <cstdio>

namespace lumo::test {
namespace {

using namespace platform;

struct MessageName {
    std::uint32_t msg;
    const char* name;
};
constexpr std::array kMessageNames{
    MessageName{WM_CREATE, "WM_CREATE"},
    MessageName{WM_DESTROY, "WM_DESTROY"},
    MessageName{WM_ACTIVATE, "WM_ACTIVATE"},
    MessageName{WM_SETFOCUS, "WM_SETFOCUS"},
    MessageName{WM_KILLFOCUS, "WM_KILLFOCUS"},
    MessageName{WM_CLOSE, "WM_CLOSE"},
    MessageName{WM_QUIT, "WM_QUIT"},
    MessageName{WM_SHOWWINDOW, "WM_SHOWWINDOW"},
    MessageName{WM_WINDOWPOSCHANGED, "WM_WINDOWPOSCHANGED"},
    MessageName{WM_KEYDOWN, "WM_KEYDOWN"},
    MessageName{WM_KEYUP, "WM_KEYUP"},
    MessageName{WM_TIMER, "WM_TIMER"},
};

}  // namespace

std::string message_name(std::uint32_t msg) {
    for (auto& n : kMessageNames)
        if (n.msg == msg) return n.name;
    char buf[32];
    if (msg >= WM_USER) {
        std::snprintf(buf, sizeof buf, "WM_USER+%u", msg - WM_USER);
    } else {
        std::snprintf(buf, sizeof buf, "0x%04X", msg);
    }
    return buf;
}

WndProc Recorder::proc(Windows& windows) {
    return [this, &windows](Hwnd hwnd, std::uint32_t msg, WParam wparam, LParam lparam) -> LResult {
        if (msg == WM_CREATE && !pending_.empty()) {
            name(hwnd, pending_);
            pending_.clear();
        }
        log_.push_back({hwnd, msg, wparam, lparam});
        if (handler)
            if (auto r = handler(hwnd, msg, wparam, lparam)) return *r;
        if (msg == WM_CREATE) {
            auto it = create_result.find(role_of(hwnd));
            return it == create_result.end() ? 0 : it->second;
        }
        return windows.default_proc(hwnd, msg, wparam, lparam);
    };
}

std::string Recorder::role_of(Hwnd hwnd) const {
    if (hwnd == 0) return "0";
    auto it = names_.find(hwnd);
    if (it != names_.end()) return it->second;
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%X", hwnd);
    return buf;
}

Hwnd Recorder::hwnd_of(const std::string& role) const {
    for (auto& [h, r] : names_)
        if (r == role) return h;
    return 0;
}

std::vector<std::string> Recorder::roles(const std::vector<Hwnd>& hwnds) const {
    std::vector<std::string> out;
    for (Hwnd h : hwnds) out.push_back(role_of(h));
    return out;
}

std::string Recorder::render_param(std::uint32_t msg, bool is_lparam, std::uint32_t value) const {
    // The parameters that carry a window handle print as its role.
    bool is_window = (msg == WM_ACTIVATE && is_lparam) || (msg == WM_SETFOCUS && !is_lparam);
    return is_window ? role_of(value) : std::to_string(value);
}

std::vector<std::string> Recorder::take() {
    std::vector<std::string> out;
    for (auto& m : log_)
        out.push_back(role_of(m.hwnd) + " " + message_name(m.message) + "(" +
                      render_param(m.message, false, m.wparam) + ", " +
                      render_param(m.message, true, std::uint32_t(m.lparam)) + ")");
    log_.clear();
    return out;
}

std::vector<std::string> Recorder::render(const std::vector<Row>& rows) const {
    auto arg = [](const Arg& a) { return a.role ? std::string(a.role) : std::to_string(a.value); };
    std::vector<std::string> out;
    for (auto& r : rows)
        out.push_back(std::string(r.role) + " " + message_name(r.msg) + "(" + arg(r.wparam) +
                      ", " + arg(r.lparam) + ")");
    return out;
}

DeviceWindowHarness::DeviceWindowHarness() {
    if (!device_.start()) {
        ADD_FAILURE() << "device did not start: " << device_.last_error;
        return;
    }
    std::string error;
    first_ = platform::device::connect(device_.socket_path(), u"window-suite", &error);
    second_ = platform::device::connect(device_.socket_path(), u"window-suite-2", &error);
    if (!first_ || !second_) ADD_FAILURE() << error;
}

void DeviceWindowHarness::as_second(const std::function<void()>& body) {
    if (!second_) {
        ADD_FAILURE() << "the second program has ended";
        return;
    }
    acting_second_ = true;
    body();
    acting_second_ = false;
}

void DeviceWindowHarness::end_second() {
    second_.reset();
    // The host tidies up after a program once it sees the connection end.
    for (int i = 0; i < 200; ++i) {
        if (device_.ctl({"status"}).out.find("window-suite-2") == std::string::npos) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "the device did not notice the second program end";
}

std::uint32_t DeviceWindowHarness::second_id() {
    return second_ ? second_->processes().own_id() : 0;
}

void DeviceWindowHarness::let_time_pass(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool DeviceWindowHarness::press_dialog(int button) {
    auto names = std::to_string(button);
    return device_.ctl({"dialog", "press", names}).status == 0;
}

void DeviceWindowHarness::pump() {
    // Idle means nothing arrived for a little while: the host answers within microseconds.
    platform::Message m;
    for (int quiet = 0; quiet < 20;) {
        if (first_->windows().peek_message(m, true)) {
            if (m.message != platform::WM_QUIT) first_->windows().dispatch(m);
            quiet = 0;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++quiet;
        }
    }
}

void WindowSuite::SetUp() {
    h = make_harness(GetParam());
    ASSERT_TRUE(w().register_class(u"LumoTest", rec.proc(w())));
}

Hwnd WindowSuite::make(const std::string& role, std::uint32_t style, std::uint32_t ex_style,
                       Rect rect, Hwnd parent, std::u16string title) {
    rec.expect_create(role);
    Hwnd hwnd = w().create_window({u"LumoTest", std::move(title), style, ex_style, rect, parent});
    if (hwnd) rec.name(hwnd, role);
    return hwnd;
}

void WindowSuite::expect_sequence(const std::vector<Row>& rows) {
    h->pump();
    EXPECT_EQ(rec.take(), rec.render(rows));
}

std::vector<std::string> WindowSuite::z_order() { return rec.roles(w().top_level_windows()); }

std::string WindowSuite::foreground() { return rec.role_of(w().foreground_window()); }

}  // namespace lumo::test
