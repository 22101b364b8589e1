#include "power_service.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "lumo/platform/power.h"
#include "lumo/platform/text.h"
#include "lumo/platform/winuser.h"
#include "lumo/wire/protocol.h"
#include "window_service.h"

namespace lumo::host {

using platform::Root;
using platform::ValueType;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;
using Light = DisplayService::Light;

namespace {

// The flags are the ones the platform's power notifications carry for each state.
constexpr std::array<PowerStateInfo, 7> kStates{{
    {PowerState::On, u"on", 0x00010000, Light::On},
    {PowerState::BacklightOff, u"backlightoff", 0x10010000, Light::Dim},
    {PowerState::DisplayIdle, u"useridle", 0x00100000, Light::Off},
    {PowerState::Suspend, u"suspend", 0x00200000, Light::Off},
    {PowerState::Resuming, u"resuming", 0x00000000, Light::Off},
    {PowerState::Unattended, u"unattended", 0x00400000, Light::Off},
    {PowerState::Off, u"off", 0x00020000, Light::Off},
}};

constexpr std::uint8_t kPowerKey = 0xDF;  // VK_OFF
// How long the power key is held before the phone counts it as the long press.
constexpr std::uint32_t kPowerHoldMs = 1500;

constexpr std::u16string_view kBackLightKey = u"ControlPanel\\BackLight";
constexpr std::u16string_view kTimeoutsKey = u"System\\CurrentControlSet\\Control\\Power\\Timeouts";

// The states the inactivity timeouts step through, in order.
int rank(PowerState s) {
    switch (s) {
        case PowerState::On: return 0;
        case PowerState::BacklightOff: return 1;
        case PowerState::DisplayIdle: return 2;
        default: return 3;
    }
}

bool dark(PowerState s) { return power_state_info(s).light == Light::Off; }

}  // namespace

const PowerStateInfo& power_state_info(PowerState state) {
    return kStates[static_cast<std::size_t>(state)];
}

PowerService::PowerService(Host& host, DisplayService& display, WindowService& windows)
    : host_(host), display_(display), windows_(windows) {
    last_activity_ = host_.now_ms();
    display_.set_light(Light::On);
    display_.touch_gate = [this] { return input(true); };
    windows_.key_gate = [this](std::uint8_t vk, std::uint32_t flags) {
        // The power key is the power button, whoever presses it (the lock screen presses it to
        // switch the phone off).
        if (vk == kPowerKey) {
            // A press acts when the key comes up; one held past kPowerHoldMs is the long press,
            // and its release does nothing more.
            if (!(flags & platform::KEYEVENTF_KEYUP)) {
                if (power_key_down_) return false;  // the key's auto-repeat
                power_key_down_ = true;
                hold_timer_ = host_.schedule(kPowerHoldMs, [this] {
                    hold_timer_ = 0;
                    hold();
                });
            } else if (power_key_down_) {
                power_key_down_ = false;
                if (hold_timer_) {
                    host_.cancel(hold_timer_);
                    hold_timer_ = 0;
                    button();
                }
            }
            return false;
        }
        return input(false);
    };
    register_handlers();
    arm();
}

PowerService::~PowerService() {
    display_.touch_gate = nullptr;
    windows_.key_gate = nullptr;
    if (timer_) host_.cancel(timer_);
    if (hold_timer_) host_.cancel(hold_timer_);
}

PowerService::Timeouts PowerService::timeouts() const {
    auto seconds = [this](Root root, std::u16string_view key, std::u16string_view name) -> std::uint32_t {
        auto v = host_.registry().find_value(root, key, name);
        if (!v || v->info.type != ValueType::Dword || v->data->size() != 4) return 0;
        std::uint32_t s = 0;
        std::memcpy(&s, v->data->data(), 4);
        // Beyond a day counts as never; also keeps the milliseconds within range.
        return s > 86400 ? 0 : s * 1000;
    };
    Timeouts t;
    t.backlight_ms = seconds(Root::CurrentUser, kBackLightKey, on_ac_ ? u"ACTimeout" : u"BatteryTimeout");
    t.idle_ms = seconds(Root::LocalMachine, kTimeoutsKey, on_ac_ ? u"ACUserIdle" : u"BattUserIdle");
    t.suspend_ms = seconds(Root::LocalMachine, kTimeoutsKey,
                           on_ac_ ? u"ACSuspendTimeout" : u"BattSuspendTimeout");
    return t;
}

void PowerService::enter(PowerState state) {
    if (state == state_) return;
    state_ = state;
    const auto& info = power_state_info(state);
    // A suspend ends every unattended-mode request: the programs count theirs as gone.
    if (state == PowerState::Suspend) unattended_.clear();
    apply_light();
    host_.log().printf("power state %s (0x%08X)", platform::to_utf8(info.name).c_str(), info.flags);
    deliver(platform::kPowerTransition, platform::encode_power_transition(info.flags, info.name));
    arm();
    check_unattended();
}

void PowerService::apply_light() {
    display_.set_light(video_off_ ? Light::Off : power_state_info(state_).light,
                       state_ == PowerState::Suspend);
}

void PowerService::set_video_off(bool off) {
    if (off == video_off_) return;
    video_off_ = off;
    host_.log().printf("display %s by the video power escape", off ? "off" : "on");
    apply_light();
}

std::uint32_t PowerService::unattended_holds() const {
    std::uint32_t n = 0;
    for (const auto& [client, count] : unattended_) n += count;
    return n;
}

void PowerService::check_unattended() {
    if (state_ != PowerState::Unattended || unattended_holds() != 0) return;
    // Deferred, so the unattended transition reaches every queue before the suspend does; after
    // a timed wake-up the programs get their grace to take a request first.
    const auto now = host_.now_ms();
    const auto wait = unattended_grace_until_ > now ? unattended_grace_until_ - now : 0;
    host_.schedule(std::uint32_t(wait), [this] {
        if (state_ == PowerState::Unattended && unattended_holds() == 0) enter(PowerState::Suspend);
    });
}

void PowerService::wake_unattended(std::uint32_t grace_ms) {
    if (state_ != PowerState::Suspend) return;
    host_.log().line("woken by a timed event");
    unattended_grace_until_ = host_.now_ms() + grace_ms;
    enter(PowerState::Resuming);
    enter(PowerState::Unattended);
}

void PowerService::wake() {
    last_activity_ = host_.now_ms();
    if (video_off_) {
        video_off_ = false;
        apply_light();
    }
    if (state_ == PowerState::Suspend) enter(PowerState::Resuming);
    enter(PowerState::On);
    arm();
}

void PowerService::switch_off() {
    if (state_ == PowerState::Off) return;
    if (timer_) host_.cancel(timer_);
    timer_ = 0;
    unattended_.clear();
    video_off_ = false;
    // Nobody is left to hear of it: the state changes without a transition.
    state_ = PowerState::Off;
    display_.switched_off = true;
    display_.set_light(Light::Off, true);
    host_.log().line("power state off");
}

void PowerService::go(PowerState state) {
    if (state_ == PowerState::Off) {
        if (state == PowerState::On) button();
        return;
    }
    if (state == PowerState::On) {
        wake();
    } else {
        enter(state);
    }
}

void PowerService::button() {
    if (state_ == PowerState::Off) {
        host_.log().line("cold boot");
        last_activity_ = host_.now_ms();
        state_ = PowerState::On;
        display_.switched_off = false;
        apply_light();
        arm();
        if (cold_boot) cold_boot();
        return;
    }
    if (dark(state_)) {
        wake();
    } else {
        enter(PowerState::Unattended);
    }
}

void PowerService::hold() {
    if (state_ == PowerState::Off) {
        button();
        return;
    }
    if (dark(state_)) wake();
    host_.log().line("power button held");
    deliver(platform::kPowerButtonHeld, platform::encode_power_button_held());
}

void PowerService::set_ac(bool on) {
    if (on == on_ac_) return;
    if (state_ == PowerState::Off) {
        on_ac_ = on;
        return;
    }
    on_ac_ = on;
    host_.log().printf("external power %s", on ? "connected" : "disconnected");
    send_power_info();
    // Plugging or unplugging lights a lit display up again; the timeouts change with the source.
    if (!dark(state_)) {
        wake();
    } else {
        arm();
    }
}

void PowerService::set_battery(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == battery_) return;
    battery_ = percent;
    host_.log().printf("battery %d%%", percent);
    send_power_info();
}

void PowerService::reset_idle_timer() {
    ++idle_resets_;
    if (state_ == PowerState::Off) return;
    // The timeouts count from now; the display keeps the state it has.
    last_activity_ = host_.now_ms();
    arm();
}

bool PowerService::input(bool is_touch) {
    // A display a program switched off stays dark for touches; a key lights it again.
    if (video_off_ && (state_ == PowerState::On || state_ == PowerState::BacklightOff)) {
        if (is_touch) return false;
        wake();
        return true;
    }
    switch (state_) {
        case PowerState::On:
        case PowerState::BacklightOff:
            wake();
            return true;
        case PowerState::DisplayIdle:
            // A key brings an idle display back; a touch on a dark panel does nothing.
            if (is_touch) return false;
            wake();
            return true;
        case PowerState::Unattended:
            // The phone runs with the display off: keys still reach the programs (the music
            // player's volume), without waking the display.
            return !is_touch;
        default: return false;
    }
}

void PowerService::arm() {
    if (timer_) host_.cancel(timer_);
    timer_ = 0;
    if (state_ == PowerState::Off) return;
    auto t = timeouts();
    const std::pair<PowerState, std::uint32_t> stages[] = {
        {PowerState::BacklightOff, t.backlight_ms},
        {PowerState::DisplayIdle, t.idle_ms},
        {PowerState::Suspend, t.suspend_ms},
    };
    int current = rank(state_);
    if (current > rank(PowerState::DisplayIdle)) return;
    for (const auto& [next, ms] : stages) {
        if (rank(next) <= current || ms == 0) continue;
        std::uint64_t due = last_activity_ + ms, now = host_.now_ms();
        auto delay = static_cast<std::uint32_t>(due > now ? due - now : 0);
        timer_ = host_.schedule(delay, [this, state = next] {
            timer_ = 0;
            enter(state);
        });
        return;
    }
}

void PowerService::send_power_info() {
    platform::PowerInfo info;
    info.ac_line_status = on_ac_ ? 1 : 0;
    info.battery_percent = std::uint8_t(battery_);
    info.battery_flag = std::uint8_t((battery_ > 20 ? 1 : battery_ > 5 ? 2 : 4) | (on_ac_ ? 8 : 0));
    deliver(platform::kPowerInfoChange, platform::encode_power_info(info));
}

void PowerService::deliver(std::uint32_t kind, const std::vector<std::byte>& record) {
    for (const auto& [id, q] : queues_) {
        if (!(q.mask & kind)) continue;
        Writer ev(Kind::PowerNotification, wire::PacketType::Event, 0);
        ev.u32(id).bin(record);
        host_.send_event(q.client, ev);
    }
}

void PowerService::register_handlers() {
    host_.add_handler(Kind::PowerNotifyOpen, [this](ClientConn& c, Reader& in, Writer& out) {
        auto mask = in.u32();
        if (!in.done()) return false;
        constexpr std::uint32_t kKnown =
            platform::kPowerTransition | platform::kPowerInfoChange | platform::kPowerButtonHeld;
        if (mask == 0 || (mask & ~kKnown)) {
            out.status(Status::BadRequest);
            return true;
        }
        auto id = next_queue_++;
        queues_[id] = {c.id, mask};
        out.status(Status::Ok).u32(id);
        return true;
    });
    host_.add_handler(Kind::PowerNotifyClose, [this](ClientConn& c, Reader& in, Writer& out) {
        auto id = in.u32();
        if (!in.done()) return false;
        auto it = queues_.find(id);
        if (it == queues_.end() || it->second.client != c.id) {
            out.status(Status::NotFound);
            return true;
        }
        queues_.erase(it);
        out.status(Status::Ok);
        return true;
    });
    host_.on_client_closed([this](ClientConn& c) {
        std::erase_if(queues_, [&](const auto& q) { return q.second.client == c.id; });
        // A program that ends gives its unattended requests back.
        if (unattended_.erase(c.id)) check_unattended();
    });
    host_.add_handler(Kind::PowerHold, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        hold();
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::PowerAction, [this](ClientConn& c, Reader& in, Writer& out) {
        auto action = in.u32();
        auto value = in.u32();
        if (!in.done()) return false;
        switch (static_cast<wire::PowerAction>(action)) {
            case wire::PowerAction::Button: button(); break;
            case wire::PowerAction::On: go(PowerState::On); break;
            case wire::PowerAction::BacklightOff: go(PowerState::BacklightOff); break;
            case wire::PowerAction::Idle: go(PowerState::DisplayIdle); break;
            case wire::PowerAction::Suspend: go(PowerState::Suspend); break;
            case wire::PowerAction::Ac:
                if (value > 1) {
                    out.status(Status::BadRequest);
                    return true;
                }
                set_ac(value == 1);
                break;
            case wire::PowerAction::Capacity:
                if (value > 100) {
                    out.status(Status::BadRequest);
                    return true;
                }
                set_battery(int(value));
                break;
            case wire::PowerAction::SystemState:
                if (value == platform::kPowerStateOn) {
                    go(PowerState::On);
                } else if (value == platform::kPowerStateIdle) {
                    go(PowerState::DisplayIdle);
                } else {
                    out.status(Status::BadRequest);
                    return true;
                }
                break;
            case wire::PowerAction::Unattended:
                if (value == 1) {
                    ++unattended_[c.id];
                } else if (value == 0 && unattended_[c.id] > 0) {
                    if (--unattended_[c.id] == 0) unattended_.erase(c.id);
                    check_unattended();
                } else {
                    if (unattended_[c.id] == 0) unattended_.erase(c.id);
                    out.status(Status::NotFound);
                    return true;
                }
                break;
            case wire::PowerAction::IdleTimerReset:
                reset_idle_timer();
                break;
            case wire::PowerAction::VideoPower:
                if (value == platform::kVideoPowerOn || value == platform::kVideoPowerOff) {
                    set_video_off(value == platform::kVideoPowerOff);
                } else if (value != 0) {
                    out.status(Status::BadRequest);
                    return true;
                }
                break;
            default: out.status(Status::BadRequest); return true;
        }
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::PowerStatus, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        const auto& info = power_state_info(state_);
        out.status(Status::Ok).u32(std::uint32_t(state_)).s16(info.name);
        out.u32(on_ac_ ? 1 : 0).u32(std::uint32_t(battery_));
        auto light = video_off_ ? Light::Off : info.light;
        out.u32(light == Light::Off ? 0 : light == Light::Dim ? 1 : 2);
        out.u32(video_off_ ? 1 : 0).u32(unattended_holds()).u32(idle_resets_);
        return true;
    });
}

}  // namespace lumo::host
