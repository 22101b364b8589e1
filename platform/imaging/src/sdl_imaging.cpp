#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cstring>

#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::platform {
namespace {

// Larger pictures are refused outright: no theme picture or wallpaper comes near this, and the
// product's own buffers could not hold it.
constexpr std::int64_t kMaxPixels = 8192ll * 8192ll;

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

bool sane_size(int w, int h) {
    return w > 0 && h > 0 && std::int64_t(w) * h <= kMaxPixels;
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
    SurfacePtr raw(IMG_Load_RW(rw, 1));
    if (!raw || !sane_size(raw->w, raw->h)) return nullptr;
    bool alpha = raw->format->Amask != 0 || SDL_HasColorKey(raw.get());
    auto rgba = to_rgba(raw.get());
    if (!rgba) return nullptr;
    return std::make_unique<SdlPicture>(std::move(rgba), alpha);
}

std::optional<DecodedAnimation> decode_animation(SDL_RWops* rw) {
    if (!rw) return std::nullopt;
    DecodedAnimation out;
    out.is_gif = IMG_isGIF(rw) != 0;
    IMG_Animation* anim = IMG_LoadAnimation_RW(rw, 1);
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
