#pragma once
// The platform's power notifications: a program asks for a queue of the kinds it wants and reads
// one record at a time, as the platform's point-to-point message queues deliver them. A record
// is at most 44 bytes: message type, flags and length (32 bits each), then for a transition the
// power-state name (UTF-16, NUL-terminated), or for a power-information change the battery
// figures (see PowerInfo).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::platform {

inline constexpr std::size_t kPowerRecordMax = 44;
inline constexpr std::uint32_t kPowerTransition = 0x00000001;
inline constexpr std::uint32_t kPowerInfoChange = 0x00000008;
// The power button was held down: the phone asks whether to switch off. The record carries no
// more than its header.
inline constexpr std::uint32_t kPowerButtonHeld = 0x00000100;

// Flags of the transitions; On and Idle are also the states a program may ask for.
inline constexpr std::uint32_t kPowerStateOn = 0x00010000;
inline constexpr std::uint32_t kPowerStateIdle = 0x00100000;
inline constexpr std::uint32_t kPowerStateSuspend = 0x00200000;
inline constexpr std::uint32_t kPowerStateUnattended = 0x00400000;
inline constexpr std::uint32_t kPowerStateBacklightOff = 0x10010000;

// The display driver's video power states (the escape's D0 and D4).
inline constexpr std::uint32_t kVideoPowerOn = 1;
inline constexpr std::uint32_t kVideoPowerOff = 4;

struct PowerInfo {
    std::uint32_t levels = 1;
    std::uint32_t battery_life_time = 0xFFFFFFFF, battery_full_life_time = 0xFFFFFFFF;
    std::uint32_t backup_life_time = 0xFFFFFFFF, backup_full_life_time = 0xFFFFFFFF;
    std::uint8_t ac_line_status = 0;  // 0 offline, 1 online
    std::uint8_t battery_flag = 1;    // 1 high, 2 low, 4 critical, 8 charging
    std::uint8_t battery_percent = 100;
    std::uint8_t backup_flag = 1, backup_percent = 100;
};

struct PowerRecord {
    std::uint32_t type = 0, flags = 0;
    std::u16string state_name;  // transitions
    PowerInfo info;             // information changes
};

// The record as the queue carries it. A name longer than the record holds is cut.
std::vector<std::byte> encode_power_transition(std::uint32_t flags, std::u16string_view name);
std::vector<std::byte> encode_power_info(const PowerInfo& info);
std::vector<std::byte> encode_power_button_held();
// nullopt for a record that is too short, too long or names an unknown type.
std::optional<PowerRecord> decode_power_record(const std::vector<std::byte>& bytes);

class PowerQueue {
public:
    virtual ~PowerQueue() = default;
    // The next record, waiting up to `timeout_ms`; nullopt when none came in time.
    virtual std::optional<std::vector<std::byte>> read(std::uint32_t timeout_ms) = 0;
};

class Power {
public:
    virtual ~Power() = default;
    // Starts notifications of the kinds in `mask` (kPowerTransition, kPowerInfoChange); closing
    // the queue (destroying it) stops them. nullptr when they cannot be had.
    virtual std::unique_ptr<PowerQueue> request_notifications(std::uint32_t mask) = 0;
    // External power and the battery now.
    virtual PowerInfo status() = 0;
    // Asks for a system power state: kPowerStateOn lights the display and wakes the phone,
    // kPowerStateIdle switches the display off while the phone keeps running. Other states are
    // refused (false).
    virtual bool set_system_power_state(std::uint32_t flags) = 0;
    // Unattended mode: while any program holds a request, the phone keeps running with the
    // display off after the power button, instead of suspending. Requests are counted per program
    // and end with it; releasing one that is not held is refused (false).
    virtual bool set_unattended(bool on) = 0;
    // The display driver's video power escape: whether the driver answers it, and switching the
    // display on (kVideoPowerOn) or off (kVideoPowerOff) without changing the system power state.
    virtual bool video_power_supported() = 0;
    virtual bool set_video_power(std::uint32_t state) = 0;
    // Resets the inactivity timeouts as a touch would, without lighting a dark display: a
    // program at long work keeps the phone from dimming and suspending under it.
    virtual bool reset_idle_timer() = 0;
};

}  // namespace lumo::platform
