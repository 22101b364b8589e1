#pragma once
// Sound for tests: every play request is recorded with its flags and whether it played. A file
// plays when it exists in the fake's folder; it then plays until the test says it finished (or
// a later play or stop cuts it), so tests decide when a sound is still playing.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lumo/platform/sound.h"

namespace lumo::platform::fake {

struct PlayRequest {
    std::u16string path;
    std::uint32_t flags = 0;
    bool played = false;          // the file itself plays
    bool default_played = false;  // the system's default sound played instead
};

class FakeSound final : public Sound {
  public:
    // `file_exists` tells whether a device path names a file of the fake's folder.
    explicit FakeSound(std::function<bool(std::u16string_view)> file_exists);

    bool play(std::u16string_view device_path, std::uint32_t flags) override;
    void stop() override;
    std::optional<std::uint32_t> volume() override;
    bool set_volume(std::uint32_t volume) override;
    std::optional<RingerType> ringer() override;
    bool set_ringer(RingerType type) override;
    bool beep() override;

    // The ringer setting kept by the fake's registry (set by the fake platform).
    std::function<RingerType()> read_ringer;
    std::function<bool(RingerType)> write_ringer;
    // Every beep asked for: the wave-out volume it came at and whether it was heard.
    struct Beep {
        std::uint32_t volume = 0;
        bool audible = false;
    };
    std::vector<Beep> beeps() const;

    // Every play request so far, oldest first.
    std::vector<PlayRequest> requests() const;
    void clear_requests();
    // The sound playing now (a file path, or "default"); nullopt when none.
    std::optional<std::u16string> playing() const;
    // The playing sound came to its end.
    void finish();
    // While set, files that exist still fail to play, as a corrupt wave does.
    bool refuse_files = false;

  private:
    std::function<bool(std::u16string_view)> file_exists_;
    // Worker threads of a program under test may play sounds.
    mutable std::mutex mutex_;
    std::vector<PlayRequest> requests_;
    std::optional<std::u16string> playing_;
    std::uint32_t volume_ = kVolumeFull;
    std::vector<Beep> beeps_;
};

}  // namespace lumo::platform::fake
