#pragma once
// The device's power manager: the system power state (on, backlight off, display idle, suspend,
// resuming, and the unattended state the power button leads to), external power and the battery
// level, the timeouts that step the phone down while nobody touches it, and how lit the display
// is. Its timeouts are the ones the phone's control panel keeps in the registry, in seconds:
// `BatteryTimeout`/`ACTimeout` under HKCU ControlPanel\BackLight for the backlight,
// `BattUserIdle`/`ACUserIdle` and `BattSuspendTimeout`/`ACSuspendTimeout` under
// HKLM System\CurrentControlSet\Control\Power\Timeouts for the display and the suspend. A missing
// or zero value never times out. All are counted from the last touch or key. Programs read the
// transitions and power-information changes from notification queues, ask for the on or idle
// state, hold unattended-mode requests (the power button then leaves the phone running with the
// display off; with none held it suspends) and switch the display through the video power escape.
#include <cstdint>
#include <functional>
#include <map>
#include <vector>
#include <string_view>

#include "display_service.h"
#include "host.h"

namespace lumo::host {

class WindowService;

enum class PowerState : std::uint8_t {
    On, BacklightOff, DisplayIdle, Suspend, Resuming, Unattended,
    Off  // switched off: only the power button does something, a cold boot
};

// The name and flags a transition to the state is announced with.
struct PowerStateInfo {
    PowerState state;
    std::u16string_view name;
    std::uint32_t flags;
    DisplayService::Light light;
};
const PowerStateInfo& power_state_info(PowerState state);

class PowerService {
public:
    PowerService(Host& host, DisplayService& display, WindowService& windows);
    ~PowerService();

    PowerState state() const { return state_; }
    bool on_ac() const { return on_ac_; }
    int battery_percent() const { return battery_; }

    // The power button: off to the unattended state while the display is lit, else wakes up.
    void button();
    // The power button held down: the phone asks whether to switch off (a power notification
    // of its own kind); a dark display lights up first, a switched-off phone boots.
    void hold();
    // Goes to a state as if its timeout or a request took it there.
    void go(PowerState state);
    void set_ac(bool on);
    void set_battery(int percent);
    // A touch or key: counts as activity. False when it must not reach the programs (touches
    // while the display is off wake nothing).
    bool input(bool is_touch);
    // The display switched off by a program's video power escape (the power state is unchanged).
    bool video_off() const { return video_off_; }
    void set_video_off(bool off);
    // The phone is switched off (its programs have ended): the display goes black and nothing
    // but the power button wakes it, which boots it through `cold_boot`.
    void switch_off();
    std::function<void()> cold_boot;
    // A timed event woke the phone from suspend: it resumes into the unattended state (display
    // dark) and, unless a program takes an unattended request within `grace_ms`, suspends again.
    void wake_unattended(std::uint32_t grace_ms);
    // Unattended-mode requests held by every program together.
    std::uint32_t unattended_holds() const;
    // A program's idle-timer reset: the timeouts count from now, nothing lights up.
    void reset_idle_timer();

private:
    struct Timeouts {
        std::uint32_t backlight_ms = 0, idle_ms = 0, suspend_ms = 0;
    };
    Timeouts timeouts() const;
    void enter(PowerState state);
    void wake();
    void arm();
    void register_handlers();
    // Delivers a record to every queue that asked for its kind.
    void deliver(std::uint32_t kind, const std::vector<std::byte>& record);
    void send_power_info();
    // In the unattended state with no request held the phone suspends.
    void check_unattended();
    void apply_light();

    Host& host_;
    DisplayService& display_;
    WindowService& windows_;
    PowerState state_ = PowerState::On;
    std::uint64_t unattended_grace_until_ = 0;
    bool on_ac_ = false;
    int battery_ = 100;
    std::uint64_t last_activity_ = 0;
    Host::TimerId timer_ = 0;
    struct Queue {
        std::uint32_t client = 0;
        std::uint32_t mask = 0;
    };
    std::map<std::uint32_t, Queue> queues_;
    std::uint32_t next_queue_ = 1;
    bool video_off_ = false;
    // The power key is down and not yet held long enough to count as held.
    Host::TimerId hold_timer_ = 0;
    bool power_key_down_ = false;
    std::map<std::uint32_t, std::uint32_t> unattended_;  // client -> requests held
    std::uint32_t idle_resets_ = 0;  // shown by `lumo-devctl power status`
};

}  // namespace lumo::host
