#pragma once
// The window, message, process, named-object and clock suites run against every platform
// implementation through this harness. Each harness is a fresh device with the test as one
// program on it, and a second program the test can act as.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "device_process.h"
#include "lumo/platform/clock.h"
#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/process.h"
#include "lumo/platform/sync.h"
#include "lumo/platform/windows.h"

namespace lumo::platform {
// Readable failure messages for broken-down times.
inline void PrintTo(const LocalTime& t, std::ostream* os) {
    *os << t.year << '-' << t.month << '-' << t.day << " (weekday " << t.day_of_week << ") "
        << t.hour << ':' << t.minute << ':' << t.second << '.' << t.milliseconds;
}
}  // namespace lumo::platform

namespace lumo::test {

using platform::Hwnd;
using platform::LParam;
using platform::LResult;
using platform::Message;
using platform::WParam;

class WindowHarness {
public:
    virtual ~WindowHarness() = default;
    virtual platform::Windows& windows() = 0;
    virtual platform::Sync& sync() = 0;
    virtual platform::Clock& clock() = 0;
    virtual platform::Processes& processes() = 0;
    // Runs `body` as the second program: what it creates through the accessors above belongs
    // to that program.
    virtual void as_second(const std::function<void()>& body) = 0;
    virtual std::uint32_t second_id() = 0;
    // Ends the second program as a kill would.
    virtual void end_second() = 0;
    // Lets time pass without handling anything (fake: the manual clock; device: a sleep).
    virtual void let_time_pass(std::uint32_t ms) = 0;
    // Answers the open message box with `button`; false when it was refused.
    virtual bool press_dialog(int button) = 0;
    // Handles everything pending for the test's program (sent, posted, due timers) until idle.
    virtual void pump() = 0;
};

class FakeWindowHarness final : public WindowHarness {
public:
    FakeWindowHarness() {
        // Boxes stay open until a test answers them, as on a device nobody touches.
        fake_.set_dialog_responder([](const platform::fake::DialogInfo&) { return std::nullopt; });
        second_ = fake_.add_process(u"\\Program Files\\Other\\other.exe");
    }
    platform::Windows& windows() override { return fake_.windows(); }
    platform::Sync& sync() override { return fake_.sync(); }
    platform::Clock& clock() override { return fake_.clock(); }
    platform::Processes& processes() override { return fake_.processes(); }
    void as_second(const std::function<void()>& body) override {
        auto scope = fake_.as_process(second_);
        body();
    }
    std::uint32_t second_id() override { return second_; }
    void end_second() override { fake_.processes().terminate(second_); }
    void let_time_pass(std::uint32_t ms) override { fake_.advance(ms); }
    bool press_dialog(int button) override { return fake_.press_dialog(button); }
    void pump() override { fake_.run_until_idle(); }

    platform::fake::FakePlatform& fake() { return fake_; }

private:
    platform::fake::FakePlatform fake_;
    std::uint32_t second_ = 0;
};

// A real device host with the test as one connected program. Suites that act as a second
// program in the same process run on the fake only: a real second program is a process of its
// own (see the cross-process tests of the device).
class DeviceWindowHarness final : public WindowHarness {
public:
    DeviceWindowHarness();
    platform::Windows& windows() override { return current().windows(); }
    platform::Sync& sync() override { return current().sync(); }
    platform::Clock& clock() override { return current().clock(); }
    platform::Processes& processes() override { return current().processes(); }
    // The second program is a second connection used from this thread: good for everything
    // but messages between the two, which need a thread of their own on each side.
    void as_second(const std::function<void()>& body) override;
    std::uint32_t second_id() override;
    void end_second() override;
    void let_time_pass(std::uint32_t ms) override;
    bool press_dialog(int button) override;
    void pump() override;

private:
    platform::Platform& current() { return acting_second_ && second_ ? *second_ : *first_; }
    DeviceProcess device_;
    std::unique_ptr<platform::Platform> first_, second_;
    bool acting_second_ = false;
};

enum class Impl { Fake, Device };

inline std::unique_ptr<WindowHarness> make_harness(Impl impl) {
    if (impl == Impl::Device) return std::make_unique<DeviceWindowHarness>();
    return std::make_unique<FakeWindowHarness>();
}

inline std::string impl_name(const testing::TestParamInfo<Impl>& info) {
    return info.param == Impl::Fake ? "Fake" : "Device";
}

// --- message sequences as tables ------------------------------------------------------------

// A message parameter in a table: a number, or the handle of a named window ("B").
struct Arg {
    Arg(std::uint32_t v) : value(v) {}  // NOLINT: tables read best without wrapping
    Arg(int v) : value(std::uint32_t(v)) {}  // NOLINT
    Arg(const char* r) : role(r) {}  // NOLINT
    std::uint32_t value = 0;
    const char* role = nullptr;
};

struct Row {
    const char* role;
    std::uint32_t msg;
    Arg wparam = 0;
    Arg lparam = 0;
};

std::string message_name(std::uint32_t msg);

// Records every message the windows of the test class receive, in order, and names the windows
// by role so that sequences can be compared with tables.
class Recorder {
public:
    // The procedure of the recording class. Messages go to `handler` first (when set), then to
    // the default procedure.
    platform::WndProc proc(platform::Windows& windows);

    // The next WM_CREATE names its window `role` (windows get their handle only after it).
    void expect_create(std::string role) { pending_ = std::move(role); }
    // Names a window; a role names one live window at a time.
    void name(Hwnd hwnd, const std::string& role) {
        std::erase_if(names_, [&](auto& n) { return n.second == role; });
        names_[hwnd] = role;
    }
    std::string role_of(Hwnd hwnd) const;
    Hwnd hwnd_of(const std::string& role) const;
    // Roles of a list of handles, e.g. the z-order.
    std::vector<std::string> roles(const std::vector<Hwnd>& hwnds) const;

    // The recorded messages since the last take, rendered "B WM_ACTIVATE(1, A)".
    std::vector<std::string> take();
    std::vector<std::string> render(const std::vector<Row>& rows) const;
    void clear() { log_.clear(); }

    // Custom handling for one test; a result stops the message there.
    std::function<std::optional<LResult>(Hwnd, std::uint32_t, WParam, LParam)> handler;
    // WM_CREATE answers this for windows of these roles.
    std::map<std::string, LResult> create_result;

private:
    std::string render_param(std::uint32_t msg, bool is_lparam, std::uint32_t value) const;

    std::vector<Message> log_;
    std::map<Hwnd, std::string> names_;
    std::string pending_;
};

// Each suite: a fresh harness and the recording class "LumoTest" registered by the test's
// program.
class WindowSuite : public testing::TestWithParam<Impl> {
protected:
    void SetUp() override;

    platform::Windows& w() { return h->windows(); }
    // Creates a window of the recording class named `role`.
    Hwnd make(const std::string& role, std::uint32_t style = 0, std::uint32_t ex_style = 0,
              platform::Rect rect = {0, 0, 100, 100}, Hwnd parent = 0,
              std::u16string title = u"");
    // Compares what was recorded since the last check with a table.
    void expect_sequence(const std::vector<Row>& rows);
    // The z-order by role.
    std::vector<std::string> z_order();
    std::string foreground();

    std::unique_ptr<WindowHarness> h;
    Recorder rec;
};

}  // namespace lumo::test
