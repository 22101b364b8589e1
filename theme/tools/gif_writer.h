// A small animated-GIF encoder (GIF89a, one global palette, LZW), enough for the sample wallpaper.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumo::theme {

struct GifAnimation {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> palette;             // 0xRRGGBB, 2 to 256 entries
    std::vector<std::vector<uint8_t>> frames;  // width * height palette indices each
    int delay_cs = 10;                         // per frame, hundredths of a second
};

// The encoded file, or an empty vector when the animation is malformed (sizes, palette, indices).
std::vector<uint8_t> encode_gif(const GifAnimation& gif);

}  // namespace lumo::theme
