// Sound through the device host, which decodes and plays the file from the device's folder.
#include <chrono>
#include <thread>

#include "internal.h"
#include "lumo/platform/sound.h"
#include "lumo/wire/protocol.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;

class DeviceSound final : public Sound {
  public:
    explicit DeviceSound(wire::Client& c) : c_(c) {}

    bool play(std::u16string_view device_path, std::uint32_t flags) override {
        auto& w = c_.begin(Kind::SoundPlay);
        w.u32(flags & kSoundFlagsKnown).s16(device_path);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return false;
        Reader rd(r->body);
        auto ms = rd.u32();
        if (!rd.ok()) return false;
        // A synchronous play returns once the clip has played, as on the phone.
        if (!(flags & kSoundAsync)) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    }

    void stop() override {
        auto& w = c_.begin(Kind::SoundStop);
        c_.call(w);
    }

    std::optional<std::uint32_t> volume() override { return volume_call(0, 0); }

    bool set_volume(std::uint32_t volume) override { return volume_call(1, volume).has_value(); }

    std::optional<RingerType> ringer() override {
        auto v = ringer_call(0, 0);
        if (!v) return std::nullopt;
        return ringer_from_mode(*v);
    }

    bool set_ringer(RingerType type) override {
        return ringer_call(1, static_cast<std::uint32_t>(type)).has_value();
    }

    bool beep() override {
        auto& w = c_.begin(Kind::SoundBeep);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return false;
        Reader rd(r->body);
        auto audible = rd.u32();
        return rd.ok() && audible != 0;
    }

  private:
    std::optional<std::uint32_t> volume_call(std::uint32_t set, std::uint32_t value) {
        auto& w = c_.begin(Kind::SoundVolume);
        w.u32(set).u32(value);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto v = rd.u32();
        if (!rd.ok()) return std::nullopt;
        return v;
    }

    std::optional<std::uint32_t> ringer_call(std::uint32_t set, std::uint32_t value) {
        auto& w = c_.begin(Kind::SoundRinger);
        w.u32(set).u32(value);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto v = rd.u32();
        if (!rd.ok()) return std::nullopt;
        return v;
    }

    wire::Client& c_;
};

}  // namespace

std::unique_ptr<Sound> make_sound(wire::Client& c) {
    return std::make_unique<DeviceSound>(c);
}

}  // namespace lumo::platform::device
