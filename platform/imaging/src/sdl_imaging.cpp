#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::platform {
namespace {

// Larger pictures are refused outright: no theme picture or wallpaper comes near this, and the
// product's own buffers could not hold it.
constexpr std::int64_t kMaxPixels = 4096ll * 4096ll;

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

bool sane_size(int w, int h) {
    return w > 0 && h > 0 && std::int64_t(w) * h <= kMaxPixels;
}

std::uint32_t be32(const std::uint8_t* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
std::uint16_t be16(const std::uint8_t* p) { return std::uint16_t(p[0] << 8 | p[1]); }
std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[1] << 8 | p[0]); }
std::int32_t le32(const std::uint8_t* p) {
    return std::int32_t(std::uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0]);
}

// Walks a GIF's blocks: the decoder allocates each frame at its own descriptor's size, so every
// frame and the sum of all frames must stay within bounds, not only the logical screen.
bool gif_frames_allowed(SDL_RWops* rw, Sint64 start, std::uint8_t screen_flags) {
    auto skip = [&](Sint64 n) { return SDL_RWseek(rw, n, RW_SEEK_CUR) >= 0; };
    auto skip_sub_blocks = [&] {
        for (int guard = 0; guard < (1 << 20); ++guard) {
            std::uint8_t len;
            if (SDL_RWread(rw, &len, 1, 1) != 1) return false;
            if (len == 0) return true;
            if (!skip(len)) return false;
        }
        return false;
    };
    SDL_RWseek(rw, start + 13, RW_SEEK_SET);
    if ((screen_flags & 0x80) && !skip(3 * (2 << (screen_flags & 7)))) return false;
    std::int64_t total = 0;
    for (int frames = 0; frames < 10000;) {
        std::uint8_t block;
        if (SDL_RWread(rw, &block, 1, 1) != 1) return frames > 0;  // cut short: decoder's call
        if (block == 0x3B) return frames > 0;
        if (block == 0x21) {
            if (!skip(1) || !skip_sub_blocks()) return frames > 0;
        } else if (block == 0x2C) {
            std::uint8_t d[9];
            if (SDL_RWread(rw, d, 1, 9) != 9) return frames > 0;
            int w = le16(d + 4), hh = le16(d + 6);
            if (!sane_size(std::max(w, 1), std::max(hh, 1))) return false;
            total += std::int64_t(std::max(w, 1)) * std::max(hh, 1);
            if (total > kMaxPixels) return false;
            ++frames;
            if ((d[8] & 0x80) && !skip(3 * (2 << (d[8] & 7)))) return false;
            if (!skip(1) || !skip_sub_blocks()) return false;
        } else {
            return frames > 0;
        }
    }
    return false;
}

// Reads the picture's size from its header without decoding it, so that a file claiming an
// enormous picture is refused before any memory is spent on it. Only the phone's imaging
// formats (PNG, JPEG, GIF, BMP) are accepted.
// The SDL_image type of an allowed picture ("PNG", "JPG", "GIF", "BMP"), or nullptr: decoding
// with the type named keeps SDL_image from trying its other loaders on bytes it cannot place.
const char* header_allows(SDL_RWops* rw) {
    auto start = SDL_RWtell(rw);
    const char* type = nullptr;
    std::uint8_t h[32] = {};
    auto n = SDL_RWread(rw, h, 1, sizeof h);
    bool ok = false;
    if (n >= 24 && std::memcmp(h, "\x89PNG\r\n\x1a\n", 8) == 0) {
        ok = sane_size(int(std::min<std::uint32_t>(be32(h + 16), 1u << 30)),
                       int(std::min<std::uint32_t>(be32(h + 20), 1u << 30)));
        type = "PNG";
    } else if (n >= 13 && (std::memcmp(h, "GIF87a", 6) == 0 || std::memcmp(h, "GIF89a", 6) == 0)) {
        ok = sane_size(le16(h + 6), le16(h + 8)) && gif_frames_allowed(rw, start, h[10]);
        type = "GIF";
    } else if (n >= 26 && h[0] == 'B' && h[1] == 'M') {
        auto w = le32(h + 18), hh = le32(h + 22);
        ok = w != INT32_MIN && hh != INT32_MIN && sane_size(std::abs(w), std::abs(hh));
        type = "BMP";
    } else if (n >= 3 && h[0] == 0xFF && h[1] == 0xD8) {
        // Walk the JPEG markers to the frame header.
        SDL_RWseek(rw, start + 2, RW_SEEK_SET);
        for (int guard = 0; guard < 1000; ++guard) {
            std::uint8_t m[9];
            if (SDL_RWread(rw, m, 1, 4) != 4 || m[0] != 0xFF) break;
            std::uint8_t marker = m[1];
            std::uint16_t len = be16(m + 2);
            bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
            if (sof) {
                if (SDL_RWread(rw, m + 4, 1, 5) != 5) break;
                ok = sane_size(be16(m + 7), be16(m + 5));
                type = "JPG";
                break;
            }
            if (len < 2 || SDL_RWseek(rw, len - 2, RW_SEEK_CUR) < 0) break;
        }
    }
    SDL_RWseek(rw, start, RW_SEEK_SET);
    return ok ? type : nullptr;
}

// Copies a 32-bit surface row by row into tightly packed R, G, B, A bytes.
void copy_rows(SDL_Surface* s, std::uint8_t* out) {
    auto* src = static_cast<const std::uint8_t*>(s->pixels);
    auto row = std::size_t(s->w) * 4;
    for (int y = 0; y < s->h; ++y) std::memcpy(out + row * y, src + std::size_t(s->pitch) * y, row);
}

SurfacePtr to_rgba(SDL_Surface* s) {
    return SurfacePtr(SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGBA32, 0));
}

class SdlPicture final : public DecodedPicture {
public:
    SdlPicture(SurfacePtr rgba, bool alpha) : rgba_(std::move(rgba)), alpha_(alpha) {}
    int width() const override { return rgba_->w; }
    int height() const override { return rgba_->h; }
    bool has_alpha() const override { return alpha_; }

    bool read_rgba(int w, int h, std::span<std::uint8_t> out) const override {
        if (!sane_size(w, h) || out.size() < std::size_t(w) * std::size_t(h) * 4) return false;
        if (w == rgba_->w && h == rgba_->h) {
            copy_rows(rgba_.get(), out.data());
            return true;
        }
        SurfacePtr dst(SDL_CreateRGBSurfaceWithFormatFrom(out.data(), w, h, 32, w * 4,
                                                          SDL_PIXELFORMAT_RGBA32));
        if (!dst) return false;
        return SDL_SoftStretchLinear(rgba_.get(), nullptr, dst.get(), nullptr) == 0;
    }

private:
    SurfacePtr rgba_;
    bool alpha_;
};

std::unique_ptr<DecodedPicture> decode(SDL_RWops* rw) {
    if (!rw) return nullptr;
    const char* type = header_allows(rw);
    if (!type) {
        SDL_RWclose(rw);
        return nullptr;
    }
    SurfacePtr raw(IMG_LoadTyped_RW(rw, 1, type));
    if (!raw || !sane_size(raw->w, raw->h)) return nullptr;
    bool alpha = raw->format->Amask != 0 || SDL_HasColorKey(raw.get());
    auto rgba = to_rgba(raw.get());
    if (!rgba) return nullptr;
    return std::make_unique<SdlPicture>(std::move(rgba), alpha);
}

std::optional<DecodedAnimation> decode_animation(SDL_RWops* rw) {
    if (!rw) return std::nullopt;
    const char* type = header_allows(rw);
    if (!type) {
        SDL_RWclose(rw);
        return std::nullopt;
    }
    DecodedAnimation out;
    out.is_gif = IMG_isGIF(rw) != 0;
    IMG_Animation* anim = IMG_LoadAnimationTyped_RW(rw, 1, type);
    if (!anim) return std::nullopt;
    bool ok = anim->count > 0 && sane_size(anim->w, anim->h) &&
              std::int64_t(anim->w) * anim->h * anim->count <= kMaxPixels;
    out.width = anim->w;
    out.height = anim->h;
    for (int i = 0; ok && i < anim->count; ++i) {
        SDL_Surface* f = anim->frames[i];
        if (!f || f->w != anim->w || f->h != anim->h) {
            ok = false;
            break;
        }
        auto rgba = to_rgba(f);
        if (!rgba) {
            ok = false;
            break;
        }
        out.frames.emplace_back(std::size_t(f->w) * std::size_t(f->h) * 4);
        copy_rows(rgba.get(), out.frames.back().data());
        out.delays_ms.push_back(anim->delays ? std::max(0, anim->delays[i]) : 0);
    }
    IMG_FreeAnimation(anim);
    if (!ok) return std::nullopt;
    return out;
}

class SdlImaging final : public Imaging {
public:
    explicit SdlImaging(PathResolver resolve) : resolve_(std::move(resolve)) {}

    std::unique_ptr<DecodedPicture> open(std::u16string_view path) override {
        auto host = host_path(path);
        return host ? decode(SDL_RWFromFile(host->c_str(), "rb")) : nullptr;
    }
    std::unique_ptr<DecodedPicture> open_memory(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty()) return nullptr;
        return decode(SDL_RWFromConstMem(bytes.data(), int(bytes.size())));
    }
    std::optional<DecodedAnimation> load_animation(std::u16string_view path) override {
        auto host = host_path(path);
        if (!host) return std::nullopt;
        return decode_animation(SDL_RWFromFile(host->c_str(), "rb"));
    }
    std::optional<DecodedAnimation> load_animation_memory(
        std::span<const std::uint8_t> bytes) override {
        if (bytes.empty()) return std::nullopt;
        return decode_animation(SDL_RWFromConstMem(bytes.data(), int(bytes.size())));
    }
    bool save_png(const std::filesystem::path& host, int w, int h,
                  std::span<const std::uint8_t> rgba) override {
        if (!sane_size(w, h) || rgba.size() < std::size_t(w) * std::size_t(h) * 4) return false;
        // SDL only reads through this pointer while saving.
        SurfacePtr s(SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint8_t*>(rgba.data()), w,
                                                        h, 32, w * 4, SDL_PIXELFORMAT_RGBA32));
        if (!s) return false;
        // A picture without transparency is written without an alpha channel.
        bool opaque = true;
        for (std::size_t i = 3; i < std::size_t(w) * h * 4 && opaque; i += 4) opaque = rgba[i] == 255;
        if (opaque) {
            SurfacePtr rgb(SDL_ConvertSurfaceFormat(s.get(), SDL_PIXELFORMAT_RGB24, 0));
            return rgb && IMG_SavePNG(rgb.get(), host.c_str()) == 0;
        }
        return IMG_SavePNG(s.get(), host.c_str()) == 0;
    }

private:
    std::optional<std::filesystem::path> host_path(std::u16string_view path) {
        if (path.empty()) return std::nullopt;
        if (resolve_) return resolve_(path);
        auto utf8 = to_utf8(path);
        std::replace(utf8.begin(), utf8.end(), '\\', '/');
        return std::filesystem::path(utf8);
    }

    PathResolver resolve_;
};

}  // namespace

std::unique_ptr<Imaging> make_sdl_imaging(PathResolver resolve) {
    return std::make_unique<SdlImaging>(std::move(resolve));
}

}  // namespace lumo::platform
