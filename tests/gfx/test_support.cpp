#include "test_support.h"

#include <unistd.h>

#include <cstring>

#include "lumo/platform/imaging.h"

namespace lumo::gfx::test {

Screen MakeScreen(int w, int h, const PixelFormat& f, int dpi) {
    Screen s;
    EXPECT_TRUE(InitScreen(s, w, h, 2, w * 2, f, dpi));
    return s;
}

void Scramble(Screen& s, std::uint32_t seed, std::uint16_t mask) {
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < s.pixel_count; ++i) s.back_buffer[i] = std::uint16_t(rng() & mask);
}

Image RandomImage(int w, int h, bool with_alpha, std::uint32_t seed, std::uint16_t mask) {
    Image img;
    EXPECT_TRUE(ResizeBuffers(img, w, h, with_alpha));
    std::mt19937 rng(seed);
    for (int i = 0; i < w * h; ++i) {
        img.pixels[i] = std::uint16_t(rng() & mask);
        if (with_alpha) img.alpha[i] = std::uint8_t(rng() % 33);
    }
    return img;
}

Image CopyOf(const Image& img) {
    Image out;
    if (img.empty()) return out;
    EXPECT_TRUE(ResizeBuffers(out, img.width, img.height, img.has_alpha()));
    std::memcpy(out.pixels.get(), img.pixels.get(), std::size_t(img.width) * img.height * 2);
    if (img.has_alpha())
        std::memcpy(out.alpha.get(), img.alpha.get(), std::size_t(img.width) * img.height);
    return out;
}

std::uint16_t At(const Screen& s, int x, int y) {
    return s.back_buffer[s.origin + x * (s.xstep / 2) + y * (s.ystep / 2)];
}

std::filesystem::path TempFolder(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() /
               ("lumo_gfx_" + std::to_string(::getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

bool SavePng(const Image& img, const PixelFormat& f, const std::filesystem::path& path) {
    std::vector<std::uint8_t> rgba(std::size_t(img.width) * img.height * 4);
    for (int i = 0; i < img.width * img.height; ++i) {
        int r, g, b;
        PixelToRGB(f, img.pixels[i], r, g, b);
        rgba[i * 4 + 0] = std::uint8_t(r);
        rgba[i * 4 + 1] = std::uint8_t(g);
        rgba[i * 4 + 2] = std::uint8_t(b);
        rgba[i * 4 + 3] = img.has_alpha() ? std::uint8_t(std::min(255, img.alpha[i] * 255 / 32)) : 255;
    }
    auto imaging = platform::make_sdl_imaging();
    return imaging->save_png(path, img.width, img.height, rgba);
}

}  // namespace lumo::gfx::test
