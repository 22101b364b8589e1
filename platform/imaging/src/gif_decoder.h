#pragma once
// GIF decoding over giflib. The file's records are walked once without decoding any pixels, so
// that the screen size, every frame's size, the number of frames and the pixels all frames add up
// to are checked before any pixel memory is taken; only then are the frames decoded and composed
// on the logical screen.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumo::platform::gif {

// Limits of what the phone decodes: no wallpaper or theme picture comes near them.
inline constexpr std::int64_t kMaxPixels = 4096ll * 4096ll;  // one canvas, and all frames' output
inline constexpr std::int64_t kMaxDecodedPixels = kMaxPixels;  // all frame descriptors together
inline constexpr int kMaxFrames = 1000;

struct Decoded {
    int width = 0;   // the logical screen
    int height = 0;
    bool transparent = false;                       // some output pixel is not opaque
    std::vector<std::vector<std::uint8_t>> frames;  // R, G, B, A, width × height each, composed
    std::vector<int> delays_ms;                     // one per frame
};

// True when the bytes start like a GIF file ("GIF87a" or "GIF89a").
bool sniff(std::span<const std::uint8_t> bytes);

// All frames, or only the first one for a still picture. nullopt with the reason in `why` when the
// file is damaged or beyond the limits.
std::optional<Decoded> decode(std::span<const std::uint8_t> bytes, bool first_only,
                              std::string* why = nullptr);

}  // namespace lumo::platform::gif
