// Shared helpers of the theme tests: the staged files and their pixels.
#pragma once

#include <SDL.h>
#include <SDL_image.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace lumo::theme::test {

inline std::string stage(const std::string& rel) { return std::string(LUMO_STAGE_DIR) + "/" + rel; }

inline std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A decoded picture as RGBA bytes, with whether the file itself carries an alpha channel.
struct Rgba {
    int w = 0, h = 0;
    bool file_has_alpha = false;
    std::vector<uint8_t> px;
    const uint8_t* at(int x, int y) const { return &px[(size_t(y) * w + x) * 4]; }
    uint8_t alpha(int x, int y) const { return at(x, y)[3]; }
};

inline std::optional<Rgba> load_rgba(const std::string& path) {
    SDL_Surface* s = IMG_Load(path.c_str());
    if (!s) return std::nullopt;
    Rgba out;
    out.w = s->w;
    out.h = s->h;
    out.file_has_alpha = s->format->Amask != 0;
    SDL_Surface* c = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGBA32, 0);
    SDL_FreeSurface(s);
    if (!c) return std::nullopt;
    out.px.resize(size_t(c->w) * c->h * 4);
    for (int y = 0; y < c->h; ++y)
        std::copy_n(static_cast<const uint8_t*>(c->pixels) + size_t(y) * c->pitch, size_t(c->w) * 4,
                    &out.px[size_t(y) * c->w * 4]);
    SDL_FreeSurface(c);
    return out;
}

}  // namespace lumo::theme::test
