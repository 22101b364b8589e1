#include "lumo/platform/fake/fake_sound.h"

namespace lumo::platform::fake {

FakeSound::FakeSound(std::function<bool(std::u16string_view)> file_exists)
    : file_exists_(std::move(file_exists)) {}

bool FakeSound::play(std::u16string_view device_path, std::uint32_t flags) {
    bool usable = !refuse_files && file_exists_ && file_exists_(device_path);
    std::lock_guard lock(mutex_);
    PlayRequest r{std::u16string(device_path), flags, false, false};
    if (!(flags & kSoundNoStop) || !playing_) {
        if (usable) {
            playing_ = r.path;
            r.played = true;
        } else if (!(flags & kSoundNoDefault)) {
            playing_ = u"default";
            r.default_played = true;
        }
    }
    requests_.push_back(r);
    return r.played;
}

void FakeSound::stop() {
    std::lock_guard lock(mutex_);
    playing_.reset();
}

std::optional<std::uint32_t> FakeSound::volume() {
    std::lock_guard lock(mutex_);
    return volume_;
}

bool FakeSound::set_volume(std::uint32_t volume) {
    std::lock_guard lock(mutex_);
    volume_ = volume;
    return true;
}

std::optional<RingerType> FakeSound::ringer() {
    if (!read_ringer) return std::nullopt;
    return read_ringer();
}

bool FakeSound::set_ringer(RingerType type) {
    return write_ringer && write_ringer(type);
}

bool FakeSound::beep() {
    bool on = !read_ringer || read_ringer() == RingerType::On;
    std::lock_guard lock(mutex_);
    beeps_.push_back({volume_, on});
    return on;
}

std::vector<FakeSound::Beep> FakeSound::beeps() const {
    std::lock_guard lock(mutex_);
    return beeps_;
}

std::vector<PlayRequest> FakeSound::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void FakeSound::clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::optional<std::u16string> FakeSound::playing() const {
    std::lock_guard lock(mutex_);
    return playing_;
}

void FakeSound::finish() {
    stop();
}

}  // namespace lumo::platform::fake
