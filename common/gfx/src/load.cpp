#include "lumo/gfx/load.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace lumo::gfx {
namespace {

int RoundDiv(std::int64_t a, std::int64_t b) { return int((a + b / 2) / b); }

// The picture's own colour over black, as drawing it into a cleared bitmap gives.
std::uint16_t Opaque(const PixelFormat& f, const std::uint8_t* p) {
    unsigned a = p[3];
    if (a == 255) return RGBTo565(f, p[0], p[1], p[2]);
    return RGBTo565(f, int((p[0] * a + 127) / 255), int((p[1] * a + 127) / 255),
                    int((p[2] * a + 127) / 255));
}

Size Target(const Screen& s, int w, int h) {
    return {w > 0 ? w : s.logical_width, h > 0 ? h : s.logical_height};
}

}  // namespace

Size FitSize(int mode, int pw, int ph, int tw, int th) {
    const Size native{pw, ph};
    if (pw <= 0 || ph <= 0 || tw <= 0 || th <= 0) return native;
    const int big = std::max(tw, th), small = std::min(tw, th);
    const bool larger_than_big = pw > big && ph > big;
    switch (mode) {
    case kFitLongSide: {
        if (!larger_than_big) return native;
        if (tw > th) {
            int h = RoundDiv(std::int64_t(ph) * big, pw);
            return {big, std::abs(h - small) <= 1 ? small : h};
        }
        int w = RoundDiv(std::int64_t(pw) * big, ph);
        return {std::abs(w - small) <= 1 ? small : w, big};
    }
    case kFitThumbnail: {
        if (!larger_than_big) return native;
        bool width_big = tw < th || (tw == th && ph > pw);
        if (width_big) return {big, std::max(1, RoundDiv(std::int64_t(ph) * big, pw))};
        return {std::max(1, RoundDiv(std::int64_t(pw) * big, ph)), big};
    }
    case kFitShrinkInside:
        if (pw <= small && ph <= small) return native;
        return FitInside(pw, ph, tw, th);
    case kFitInside: return FitInside(pw, ph, tw, th);
    default: return native;
    }
}

bool HasPngName(std::u16string_view path) {
    if (path.size() < 4) return false;
    auto ext = path.substr(path.size() - 4);
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    return ext[0] == u'.' && lower(ext[1]) == u'p' && lower(ext[2]) == u'n' && lower(ext[3]) == u'g';
}

bool LoadImageFromPicture(Image& img, Screen& s, const platform::DecodedPicture& pic,
                          bool png_name, int fit, int target_w, int target_h) {
    Size t = Target(s, target_w, target_h);
    Size out = FitSize(fit, pic.width(), pic.height(), t.width, t.height);
    if (out.width <= 0 || out.height <= 0) return false;
    thread_local std::vector<std::uint8_t> rgba;
    rgba.resize(std::size_t(out.width) * std::size_t(out.height) * 4);
    if (!pic.read_rgba(out.width, out.height, rgba)) return false;
    const bool alpha = pic.has_alpha() && png_name;
    if (!ResizeBuffers(img, out.width, out.height, alpha)) return false;
    const std::size_t count = std::size_t(out.width) * std::size_t(out.height);
    const PixelFormat& f = s.format;
    const std::uint8_t* p = rgba.data();
    if (alpha) {
        for (std::size_t i = 0; i < count; ++i, p += 4) {
            img.pixels[i] = RGBTo565(f, p[0], p[1], p[2]);
            img.alpha[i] = std::uint8_t((p[3] + 1) >> 3);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i, p += 4) img.pixels[i] = Opaque(f, p);
    }
    img.frame_delays.clear();
    return true;
}

bool LoadImageFile(Image& img, Screen& s, std::u16string_view path, int fit, int target_w,
                   int target_h) {
    if (!s.imaging) return false;
    auto pic = s.imaging->open(path);
    if (!pic || !LoadImageFromPicture(img, s, *pic, HasPngName(path), fit, target_w, target_h))
        return false;
    img.kept.reset();
    return true;
}

bool LoadImageKeep(Image& img, Screen& s, std::u16string_view path, int fit, int target_w,
                   int target_h) {
    if (!s.imaging) return false;
    auto pic = s.imaging->open(path);
    bool png = HasPngName(path);
    if (!pic || !LoadImageFromPicture(img, s, *pic, png, fit, target_w, target_h)) return false;
    img.kept = std::make_unique<KeptPicture>();
    img.kept->picture = std::move(pic);
    img.kept->png_name = png;
    return true;
}

bool RefitImage(Image& img, Screen& s, int fit, int target_w, int target_h) {
    if (!img.kept || !img.kept->picture) return false;
    return LoadImageFromPicture(img, s, *img.kept->picture, img.kept->png_name, fit, target_w,
                                target_h);
}

bool LoadImage(Image& img, Screen& s, std::optional<std::u16string_view> path, int fit,
               int target_w, int target_h, bool keep) {
    if (!path) return ImageFromBackBuffer(img, s);
    return keep ? LoadImageKeep(img, s, *path, fit, target_w, target_h)
                : LoadImageFile(img, s, *path, fit, target_w, target_h);
}

bool LoadImageMemory(Image& img, Screen& s, std::span<const std::uint8_t> bytes, bool png_name,
                     int fit, int target_w, int target_h) {
    if (!s.imaging) return false;
    auto pic = s.imaging->open_memory(bytes);
    if (!pic || !LoadImageFromPicture(img, s, *pic, png_name, fit, target_w, target_h))
        return false;
    img.kept.reset();
    return true;
}

namespace {

int StoreAnimation(Image& img, Screen& s, const std::optional<platform::DecodedAnimation>& anim) {
    if (!anim || anim->frames.empty() || anim->width <= 0 || anim->height <= 0) return 0;
    // Only a GIF is taken as animated; anything else shows its first frame.
    const std::size_t frames = anim->is_gif ? anim->frames.size() : 1;
    const std::int64_t strip = std::int64_t(anim->width) * std::int64_t(frames);
    if (strip > INT32_MAX) return 0;
    const std::size_t frame_bytes = std::size_t(anim->width) * std::size_t(anim->height) * 4;
    for (std::size_t i = 0; i < frames; ++i)
        if (anim->frames[i].size() < frame_bytes) return 0;
    if (!ResizeBuffers(img, int(strip), anim->height, false)) return 0;
    const PixelFormat& f = s.format;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* p = anim->frames[i].data();
        for (int y = 0; y < anim->height; ++y) {
            std::uint16_t* o = img.row(y) + std::ptrdiff_t(i) * anim->width;
            for (int x = 0; x < anim->width; ++x, p += 4) o[x] = Opaque(f, p);
        }
    }
    img.frame_delays.clear();
    if (anim->is_gif) {
        // The decoder reports milliseconds; the programs count in hundredths of a second.
        for (std::size_t i = 0; i < frames; ++i) {
            int ms = i < anim->delays_ms.size() ? anim->delays_ms[i] : 0;
            img.frame_delays.push_back(std::uint16_t(std::clamp((ms + 5) / 10, 0, 0xFFFF)));
        }
    }
    img.kept.reset();
    return int(frames);
}

}  // namespace

int LoadAnimation(Image& img, Screen& s, std::u16string_view path) {
    if (!s.imaging) return 0;
    return StoreAnimation(img, s, s.imaging->load_animation(path));
}

int LoadAnimationMemory(Image& img, Screen& s, std::span<const std::uint8_t> bytes) {
    if (!s.imaging) return 0;
    return StoreAnimation(img, s, s.imaging->load_animation_memory(bytes));
}

int GetFrameDelay(const Image& img, int n) {
    if (n < 1 || std::size_t(n) > img.frame_delays.size()) return 0;
    return img.frame_delays[std::size_t(n) - 1];
}

bool LoadContactPicture(Image& img, Screen& s, ContactPictures& store, std::u16string_view key,
                        int kind, ContactFit fit, int size) {
    if (!s.imaging) return false;
    auto bytes = store.picture(key, kind);
    if (!bytes || bytes->empty()) return false;
    auto pic = s.imaging->open_memory(*bytes);
    if (!pic) return false;
    Size box{s.logical_width, s.logical_height};
    if (fit == ContactFit::HalfScreen) box = {s.logical_width / 2, s.logical_height / 2};
    if (fit == ContactFit::Square) box = {size, size};
    if (box.width <= 0 || box.height <= 0) return false;
    if (!LoadImageFromPicture(img, s, *pic, false, kFitInside, box.width, box.height)) return false;
    img.kept.reset();
    return true;
}

}  // namespace lumo::gfx
