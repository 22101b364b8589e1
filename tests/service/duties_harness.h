#pragma once
// A started service over the fake with its power thread left out (tests hand it power records),
// the waits of its rules moving the manual clock, and lumo recorded.
#include <algorithm>
#include <chrono>
#include <thread>

#include "../src/parts.h"
#include "service_harness.h"

namespace lumo::service::test {

class DutiesHarness : public ServiceHarness {
  public:
    DutiesHarness() {
        p.power().refuse_requests = true;
        s.sleep = [this](std::uint32_t ms) {
            // The listener thread sleeps too; only the main thread's waits move the clock.
            if (std::this_thread::get_id() != s.MainThread) return;
            slept.push_back(ms);
            p.advance(ms);
        };
    }

    void boot(std::u16string_view command_line = u"") {
        p.set_boot_age(120000);
        ASSERT_TRUE(start(command_line));
        p.run_for(kLaunchSettleMs);
        ASSERT_TRUE(lock_window);
        prev_ = *p.windows().subclass(lock_window,
                                      [this](Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
                                          seen.push_back({m, wp, lp});
                                          return p.windows().call_previous(prev_, w, m, wp, lp);
                                      });
    }

    void transition(std::uint32_t flags, std::u16string_view name) {
        PowerRecord r;
        r.type = kPowerTransition;
        r.flags = flags;
        r.state_name = std::u16string(name);
        on_power_record(s, r);
        p.run_until_idle();
    }

    void lock() {
        wake_lock_screen(s, kWakeFront);
        p.windows().post(service_window(), protocol::WM_Locked, 0, 0);
        p.run_until_idle();
        ASSERT_TRUE(s.Locked);
    }
    void unlock() {
        p.windows().show_window(lock_window, SW_HIDE);
        p.windows().post(service_window(), protocol::WM_Unlock, 0, 0);
        p.run_until_idle();
    }
    // Hides lumo and hands the front to another window, as after an unlock.
    void lock_screen_away() {
        p.windows().show_window(lock_window, SW_HIDE);
        Hwnd other = outside_window(0, u"Other", true);
        p.windows().set_foreground_window(other);
    }

    int count(std::uint32_t msg, std::optional<WParam> w = {}) const {
        return int(std::count_if(seen.begin(), seen.end(), [&](const Received& r) {
            return r.msg == msg && (!w || r.w == *w);
        }));
    }
    bool logged(std::string_view line) {
        auto lines = log_lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool lock_in_front() { return p.windows().foreground_window() == lock_window; }

    // A plain window of another program (this one when `pid` is 0).
    Hwnd outside_window(std::uint32_t pid, std::u16string_view cls, bool shown) {
        std::optional<fake::FakePlatform::ProcessScope> scope;
        if (pid) scope.emplace(p, pid);
        auto& win = p.windows();
        win.register_class(cls, [this](Hwnd h, std::uint32_t m, WParam w, LParam l) {
            return p.windows().default_proc(h, m, w, l);
        });
        CreateWindowParams cp;
        cp.class_name = std::u16string(cls);
        cp.title = std::u16string(cls);
        Hwnd h = win.create_window(cp);
        if (shown) win.show_window(h, SW_SHOWNA);
        return h;
    }

    // Waits in real time for a worker thread's effect.
    template <class Pred>
    bool eventually(Pred pred, int ms = 3000) {
        for (int i = 0; i < ms / 10; ++i) {
            if (pred()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return pred();
    }

    std::optional<std::uint32_t> dword(Root root, std::u16string_view key,
                                       std::u16string_view name) {
        return p.registry().get_dword(root, key, name);
    }
    void put_dword(Root root, std::u16string_view key, std::u16string_view name,
                   std::uint32_t v) {
        p.registry().create_key(root, key);
        p.registry().set_dword(root, key, name, v);
    }

    std::vector<Received> seen;
    std::vector<std::uint32_t> slept;

  private:
    PrevProc prev_ = 0;
};

}  // namespace lumo::service::test
