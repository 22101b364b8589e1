#include "sound_service.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lumo/platform/files.h"
#include "lumo/platform/process.h"
#include "lumo/platform/sound.h"
#include "lumo/platform/text.h"
#include "lumo/store/ringer.h"

namespace lumo::host {

namespace fs = std::filesystem;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
// The phone's sounds are short clips; a bigger file is refused rather than stalling the loop
// while it decodes.
constexpr std::uintmax_t kMaxWaveBytes = platform::kMaxWaveBytes;

std::uint32_t clip_ms(std::size_t samples) {
    return std::uint32_t(std::uint64_t(samples / kChannels) * 1000 / kRate);
}

}  // namespace

SoundService::SoundService(Host& host)
    : host_(host), fs_root_(fs::path(host.options().dir) / "fs") {
    register_handlers();
}

SoundService::~SoundService() {
    if (end_timer_) host_.cancel(end_timer_);
    if (device_) SDL_CloseAudioDevice(device_);
    if (audio_subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SoundService::playing() const {
    return !current_.empty() && host_.now_ms() < ends_at_;
}

std::optional<fs::path> SoundService::resolve(std::u16string_view device_path, Status* status,
                                              std::string* why) const {
    *status = Status::BadRequest;
    auto file = platform::map_device_path(fs_root_, device_path);
    if (!file) {
        *why = "not a path inside the device";
        return std::nullopt;
    }
    // Links inside the folder must not lead a program out of it either.
    std::error_code ec;
    auto root = fs::weakly_canonical(fs_root_, ec);
    auto real = fs::weakly_canonical(*file, ec);
    if (ec || !path_inside(root, real)) {
        *why = "outside the device's folder";
        return std::nullopt;
    }
    if (!fs::is_regular_file(real, ec)) {
        *status = Status::NotFound;
        *why = "no such file";
        return std::nullopt;
    }
    return real;
}

std::optional<SoundService::Clip> SoundService::decode(const fs::path& file,
                                                       std::string* why) const {
    // Opened without blocking: a pipe swapped in after the path was checked must not stall the
    // host's one loop.
    auto bytes = platform::read_file(file, kMaxWaveBytes, why);
    if (!bytes) return std::nullopt;
    return decode_wave(std::as_bytes(std::span(*bytes)), why);
}

namespace {

// A RIFF wave whose chunks all lie within the bytes. The decoder sizes its buffers from the
// chunk headers, so a few forged bytes could otherwise make it allocate gigabytes.
bool wave_chunks_fit(std::span<const std::byte> bytes) {
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    auto tag = [&](std::size_t at, const char* name) {
        return std::memcmp(bytes.data() + at, name, 4) == 0;
    };
    if (bytes.size() < 12 || !tag(0, "RIFF") || !tag(8, "WAVE")) return false;
    for (std::size_t pos = 12; pos + 8 <= bytes.size();) {
        std::uint64_t len = u32(pos + 4);
        if (len > bytes.size() - pos - 8) return false;
        pos += 8 + std::size_t(len) + (len & 1);
    }
    return true;
}

}  // namespace

std::optional<SoundService::Clip> SoundService::decode_wave(std::span<const std::byte> bytes,
                                                            std::string* why) {
    if (bytes.size() > kMaxWaveBytes) {
        *why = "larger than a sound clip can be";
        return std::nullopt;
    }
    if (!wave_chunks_fit(bytes)) {
        *why = "not a wave file, or its chunks claim more than the file holds";
        return std::nullopt;
    }
    // A file cut short is a broken file, not a shorter sound.
    SDL_SetHint(SDL_HINT_WAVE_TRUNCATION, "strict");
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), int(bytes.size()));
    if (!rw) {
        *why = SDL_GetError();
        return std::nullopt;
    }
    SDL_AudioSpec spec{};
    Uint8* buf = nullptr;
    Uint32 len = 0;
    if (!SDL_LoadWAV_RW(rw, 1, &spec, &buf, &len)) {
        *why = std::string("not a playable wave: ") + SDL_GetError();
        return std::nullopt;
    }
    Clip clip;
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, kChannels,
                          kRate) < 0) {
        *why = std::string("cannot convert: ") + SDL_GetError();
        SDL_FreeWAV(buf);
        return std::nullopt;
    }
    std::vector<Uint8> data(std::size_t(len) * std::size_t(std::max(cvt.len_mult, 1)));
    std::memcpy(data.data(), buf, len);
    SDL_FreeWAV(buf);
    cvt.buf = data.data();
    cvt.len = int(len);
    if (cvt.needed && SDL_ConvertAudio(&cvt) < 0) {
        *why = std::string("cannot convert: ") + SDL_GetError();
        return std::nullopt;
    }
    std::size_t out = cvt.needed ? std::size_t(cvt.len_cvt) : len;
    // Whole stereo frames only: a stray half frame would swap the channels of what follows it.
    out -= out % (sizeof(std::int16_t) * kChannels);
    if (out < sizeof(std::int16_t) * kChannels) {
        *why = "the wave holds no sound";
        return std::nullopt;
    }
    clip.samples.resize(out / sizeof(std::int16_t));
    std::memcpy(clip.samples.data(), data.data(), clip.samples.size() * sizeof(std::int16_t));
    clip.ms = clip_ms(clip.samples.size());
    return clip;
}

// The system's default sound: a short 880 Hz beep.
SoundService::Clip SoundService::default_clip() {
    Clip clip;
    constexpr int kFrames = kRate / 5;
    clip.samples.resize(std::size_t(kFrames) * kChannels);
    for (int i = 0; i < kFrames; ++i) {
        auto v = std::int16_t(8000 * std::sin(2 * M_PI * 880 * i / kRate));
        clip.samples[std::size_t(i) * 2] = clip.samples[std::size_t(i) * 2 + 1] = v;
    }
    clip.ms = clip_ms(clip.samples.size());
    return clip;
}

bool SoundService::open_output() {
    if (device_) return true;
    if (output_failed_) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        host_.log().printf("sound: no audio output (%s); sounds play silently", SDL_GetError());
        output_failed_ = true;
        return false;
    }
    audio_subsystem_ = true;
    SDL_AudioSpec want{}, have{};
    want.freq = kRate;
    want.format = AUDIO_S16SYS;
    want.channels = kChannels;
    want.samples = 2048;
    // No changes allowed: SDL converts to whatever the hardware takes, our clips stay as they are.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!device_) {
        host_.log().printf("sound: no audio output (%s); sounds play silently", SDL_GetError());
        output_failed_ = true;
        return false;
    }
    host_.log().printf("sound: audio output '%s'", SDL_GetCurrentAudioDriver());
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void SoundService::start(const Clip& clip, std::u16string name) {
    stop();
    if (open_output()) {
        // The wave-out volume scales each channel on its way out.
        auto samples = clip.samples;
        const std::uint32_t left = platform::volume_left(volume_),
                            right = platform::volume_right(volume_);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = std::int16_t(std::int32_t(samples[i]) *
                                      std::int32_t(i % 2 ? right : left) / 0xFFFF);
        if (SDL_QueueAudio(device_, samples.data(),
                           Uint32(samples.size() * sizeof(std::int16_t))) != 0)
            host_.log().printf("sound: audio output refused the clip (%s)", SDL_GetError());
    }
    current_ = name;
    last_ = std::move(name);
    ++plays_;
    ends_at_ = host_.now_ms() + clip.ms;
    end_timer_ = host_.schedule(clip.ms, [this] {
        end_timer_ = 0;
        current_.clear();
    });
    host_.log().printf("sound: playing %s (%u ms)", platform::to_utf8(current_).c_str(), clip.ms);
}

void SoundService::stop() {
    if (end_timer_) host_.cancel(end_timer_);
    end_timer_ = 0;
    if (device_) SDL_ClearQueuedAudio(device_);
    current_.clear();
}

Status SoundService::play(std::u16string_view device_path, std::uint32_t flags, std::uint32_t* ms) {
    auto name = platform::to_utf8(device_path);
    if ((flags & platform::kSoundNoStop) && playing()) {
        host_.log().printf("sound: %s not played: %s is playing", name.c_str(),
                           platform::to_utf8(current_).c_str());
        return Status::Failed;
    }
    Status status = Status::Ok;
    std::string why;
    std::optional<Clip> clip;
    if (auto file = resolve(device_path, &status, &why)) {
        clip = decode(*file, &why);
        if (!clip) status = Status::Failed;
    }
    if (!clip) {
        host_.log().printf("sound: cannot play %s: %s", name.c_str(), why.c_str());
        if (!(flags & platform::kSoundNoDefault)) start(default_clip(), u"(default sound)");
        return status;
    }
    *ms = clip->ms;
    start(*clip, std::u16string(device_path));
    return Status::Ok;
}

bool SoundService::beep() {
    // A phone set to vibrate or silent makes no system sounds.
    if (store::read_ringer(host_.registry()) != platform::RingerType::On) {
        host_.log().line("sound: beep not played: the ringer is not on");
        return false;
    }
    start(default_clip(), u"(beep)");
    return true;
}

void SoundService::register_handlers() {
    host_.add_handler(Kind::SoundPlay, [this](ClientConn&, Reader& in, Writer& out) {
        auto flags = in.u32();
        auto path = in.s16();
        if (!in.done()) return false;
        std::uint32_t ms = 0;
        auto status = play(path, flags, &ms);
        out.status(status);
        if (status == Status::Ok) out.u32(ms);
        return true;
    });
    host_.add_handler(Kind::SoundStop, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        stop();
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::SoundStatus, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        bool on = playing();
        out.status(Status::Ok).u32(on ? 1 : 0).s16(on ? current_ : u"");
        out.u32(on ? std::uint32_t(ends_at_ - host_.now_ms()) : 0)
            .s16(last_)
            .u32(plays_)
            .u32(volume_);
        out.u32(device_ ? 1 : 0);
        return true;
    });
    host_.add_handler(Kind::SoundRinger, [this](ClientConn&, Reader& in, Writer& out) {
        auto set = in.u32();
        auto type = in.u32();
        if (!in.done()) return false;
        if (set > 1 || type > static_cast<std::uint32_t>(platform::RingerType::None)) {
            out.status(Status::BadRequest);
            return true;
        }
        if (set) {
            if (!store::write_ringer(host_.registry(), static_cast<platform::RingerType>(type))) {
                out.status(Status::Failed);
                return true;
            }
            static const char* const kNames[] = {"on", "vibrate", "none"};
            host_.log().printf("sound: ringer %s", kNames[type]);
        }
        out.status(Status::Ok).u32(static_cast<std::uint32_t>(store::read_ringer(host_.registry())));
        return true;
    });
    host_.add_handler(Kind::SoundBeep, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        out.status(Status::Ok).u32(beep() ? 1 : 0);
        return true;
    });
    host_.add_handler(Kind::SoundVolume, [this](ClientConn&, Reader& in, Writer& out) {
        auto set = in.u32();
        auto value = in.u32();
        if (!in.done()) return false;
        if (set > 1) {
            out.status(Status::BadRequest);
            return true;
        }
        if (set) {
            volume_ = value;
            host_.log().printf("sound: volume 0x%08X", value);
        }
        out.status(Status::Ok).u32(volume_);
        return true;
    });
}

}  // namespace lumo::host
