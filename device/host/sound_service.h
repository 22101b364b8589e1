#pragma once
// The device's sound output. Programs play wave files of the device's folder, one at a time, as
// the phone's PlaySound does; the host decodes them with SDL and queues them on an SDL audio
// device it opens on first use. Where no audio device can be opened (a headless machine, CI), a
// sound still plays logically: it is logged and counts as playing for the clip's length, so
// programs and the control tool see the same thing everywhere. Also keeps the wave-out volume.
#include <SDL.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host.h"
#include "lumo/wire/protocol.h"

namespace lumo::host {

class SoundService {
  public:
    explicit SoundService(Host& host);
    ~SoundService();
    SoundService(const SoundService&) = delete;
    SoundService& operator=(const SoundService&) = delete;

    // Plays a device path with the platform's sound flags; Ok with the clip's length, NotFound
    // for a missing file, BadRequest for a path that is no file of the device, Failed for a
    // file that is not a playable wave or when kSoundNoStop meets a playing sound.
    wire::Status play(std::u16string_view device_path, std::uint32_t flags, std::uint32_t* clip_ms);
    void stop();
    bool playing() const;
    // The system's default sound at the wave-out volume; false when the ringer keeps it quiet.
    bool beep();

    // 16-bit stereo at the output's rate: what the audio device is opened with.
    struct Clip {
        std::vector<std::int16_t> samples;  // interleaved left, right
        std::uint32_t ms = 0;
    };
    // Decodes a whole wave file held in memory; nullopt with the reason when it is not one the
    // device plays. The fuzzer calls this with arbitrary bytes.
    static std::optional<Clip> decode_wave(std::span<const std::byte> bytes, std::string* why);

  private:
    std::optional<std::filesystem::path> resolve(std::u16string_view device_path,
                                                 wire::Status* status, std::string* why) const;
    std::optional<Clip> decode(const std::filesystem::path& file, std::string* why) const;
    static Clip default_clip();
    void start(const Clip& clip, std::u16string name);
    bool open_output();
    void register_handlers();

    Host& host_;
    std::filesystem::path fs_root_;
    SDL_AudioDeviceID device_ = 0;
    bool audio_subsystem_ = false;
    bool output_failed_ = false;
    std::u16string current_;  // empty when nothing plays
    std::u16string last_;
    std::uint32_t plays_ = 0;
    std::uint64_t ends_at_ = 0;
    Host::TimerId end_timer_ = 0;
    std::uint32_t volume_ = 0xFFFFFFFF;
};

}  // namespace lumo::host
