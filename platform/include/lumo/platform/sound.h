#pragma once
// Sound output: plays a wave file named by a device path, as the phone's PlaySound does with a
// file name, and keeps the wave-out volume. Playback runs on its own while the program goes on
// (the phone's programs always ask for asynchronous playback); one sound plays at a time, and a
// new one replaces it unless the caller asks not to interrupt it.
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumo::platform {

// Flags of Sound::play, with the phone's values.
inline constexpr std::uint32_t kSoundSync = 0x0000;       // wait until the sound has played
inline constexpr std::uint32_t kSoundAsync = 0x0001;      // return at once
inline constexpr std::uint32_t kSoundNoDefault = 0x0002;  // play nothing when the file fails
inline constexpr std::uint32_t kSoundNoStop = 0x0010;     // fail rather than cut a playing sound
inline constexpr std::uint32_t kSoundFlagsKnown = kSoundAsync | kSoundNoDefault | kSoundNoStop;

// The wave-out volume: left channel in the low 16 bits, right in the high 16 bits.
inline constexpr std::uint32_t kVolumeFull = 0xFFFFFFFF;
inline constexpr std::uint16_t volume_left(std::uint32_t v) {
    return std::uint16_t(v & 0xFFFF);
}
inline constexpr std::uint16_t volume_right(std::uint32_t v) {
    return std::uint16_t(v >> 16);
}

// The sound-event setting for all events: what the ringer and the system sounds do. The values
// are those the shell publishes as `Mode` under HKCU ControlPanel\Notifications\ShellOverrides
// (kRingerModeKey), where the platform mirrors every change so the indicators and the service
// see it: 0 on, 1 vibrate, anything else none (silent).
enum class RingerType : std::uint32_t { On = 0, Vibrate = 1, None = 2 };
inline constexpr std::u16string_view kRingerModeKey = u"ControlPanel\\Notifications\\ShellOverrides";
inline constexpr std::u16string_view kRingerModeValue = u"Mode";
inline constexpr RingerType ringer_from_mode(std::uint32_t mode) {
    return mode == 0 ? RingerType::On : mode == 1 ? RingerType::Vibrate : RingerType::None;
}

class Sound {
  public:
    virtual ~Sound() = default;
    // Plays the ".wav" file at `device_path`. False when it does not play: the file is missing
    // or not a wave the device can play (then, without kSoundNoDefault, the system's default
    // sound plays instead, and the call still counts as failed), or kSoundNoStop was given
    // while another sound plays.
    virtual bool play(std::u16string_view device_path, std::uint32_t flags) = 0;
    // Stops what plays; nothing when nothing does.
    virtual void stop() = 0;
    // The wave-out volume; nullopt when the device cannot tell.
    virtual std::optional<std::uint32_t> volume() = 0;
    virtual bool set_volume(std::uint32_t volume) = 0;
    // The ringer setting; nullopt when the device cannot tell.
    virtual std::optional<RingerType> ringer() = 0;
    // Switches the ringer for all sound events and publishes it as `Mode`.
    virtual bool set_ringer(RingerType type) = 0;
    // The system's default sound (the beep), at the wave-out volume, returning at once. A ringer
    // that is not on keeps the phone quiet: false then, and when nothing could play.
    virtual bool beep() = 0;
};

}  // namespace lumo::platform
