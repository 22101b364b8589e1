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
};

}  // namespace lumo::platform
