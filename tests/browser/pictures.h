#pragma once
// Pictures the browser's tests and benchmark write themselves: a colour ramp with a solid block
// in the top-left quarter, so that scaling, cropping and turning can be told apart, saved as
// JPEG, PNG or BMP by file ending.
#include <SDL.h>
#include <SDL_image.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace lumo::browser::test {

// The colour the ramp has at (x, y) of a w × h picture: red across, green down, blue fixed;
// the block in the top-left quarter is pure blue.
inline void ramp_colour(int x, int y, int w, int h, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b) {
    if (x < w / 4 && y < h / 4) {
        r = 0, g = 0, b = 255;
        return;
    }
    r = std::uint8_t(x * 255 / std::max(1, w - 1));
    g = std::uint8_t(y * 255 / std::max(1, h - 1));
    b = 64;
}

inline bool write_picture(const std::filesystem::path& file, int w, int h) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, w, h, 24, SDL_PIXELFORMAT_RGB24);
    if (!s) return false;
    for (int y = 0; y < h; ++y) {
        auto* row = static_cast<std::uint8_t*>(s->pixels) + std::ptrdiff_t(y) * s->pitch;
        for (int x = 0; x < w; ++x) ramp_colour(x, y, w, h, row[x * 3], row[x * 3 + 1], row[x * 3 + 2]);
    }
    std::filesystem::create_directories(file.parent_path());
    auto ext = file.extension().string();
    int rc;
    if (ext == ".jpg" || ext == ".jpeg") rc = IMG_SaveJPG(s, file.c_str(), 90);
    else if (ext == ".png") rc = IMG_SavePNG(s, file.c_str());
    else rc = SDL_SaveBMP(s, file.c_str());
    SDL_FreeSurface(s);
    return rc == 0;
}

}  // namespace lumo::browser::test
