#pragma once
// Small RIFF/WAVE files written by the tests themselves: a plain 16-bit PCM clip, and damaged
// variants of it.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lumo::test {

// A mono or stereo 16-bit PCM wave of `ms` milliseconds of a 440 Hz tone.
inline std::vector<std::uint8_t> pcm_wave(std::uint32_t ms, std::uint32_t rate = 22050,
                                          std::uint16_t channels = 1) {
    const std::uint32_t frames = rate * ms / 1000;
    const std::uint32_t data_bytes = frames * channels * 2;
    std::vector<std::uint8_t> out;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
    };
    auto u16 = [&](std::uint16_t v) {
        out.push_back(std::uint8_t(v));
        out.push_back(std::uint8_t(v >> 8));
    };
    auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
    tag("RIFF");
    u32(36 + data_bytes);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);  // PCM
    u16(channels);
    u32(rate);
    u32(rate * channels * 2);
    u16(std::uint16_t(channels * 2));
    u16(16);
    tag("data");
    u32(data_bytes);
    for (std::uint32_t i = 0; i < frames; ++i) {
        auto v = std::int16_t(6000 * std::sin(2 * 3.14159265358979 * 440 * i / rate));
        for (std::uint16_t c = 0; c < channels; ++c) u16(std::uint16_t(v));
    }
    return out;
}

inline void write_file(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace lumo::test
