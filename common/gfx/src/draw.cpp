#include "lumo/gfx/draw.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "target.h"

namespace lumo::gfx {
namespace {

using detail::Kind;

// The loop for a mode, chosen once per call. nullopt: unknown mode. `skip`: nothing to draw.
std::optional<Kind> KindFor(std::uint32_t mode, bool has_alpha, int alpha, bool& skip) {
    skip = false;
    if (has_alpha) {
        switch (mode) {
        case kCopy:
        case kConstant:
        case kColourKey: return alpha >= kOpaque ? Kind::Alpha : Kind::AlphaConst;
        case kAlphaKey: return Kind::AlphaKey;
        default: return std::nullopt;
        }
    }
    switch (mode) {
    case kCopy: return Kind::Copy;
    case kConstant: return alpha >= kOpaque ? Kind::Copy : Kind::Const;
    case kColourKey: return alpha >= kOpaque ? Kind::Key : Kind::KeyConst;
    case kAlphaKey: skip = true; return Kind::Copy;
    default: return std::nullopt;
    }
}

// Draws the w × h rectangle of `img` at sx, sy to x, y of the target. With `row_mode` the source
// row sy is repeated on every target row.
bool DrawRect(const detail::Target& t, const PixelFormat& f, const Image& img, std::int64_t x,
              std::int64_t y, std::int64_t sx, std::int64_t sy, std::int64_t w, std::int64_t h,
              std::uint32_t mode, int alpha, bool row_mode) {
    if (img.empty()) return false;
    alpha = std::clamp(alpha, 0, kOpaque);
    bool skip = false;
    auto kind = KindFor(mode, img.has_alpha(), alpha, skip);
    if (!kind) return false;
    if (skip || (alpha == 0 && *kind != Kind::Copy)) return true;

    if (sx < 0) {
        x -= sx;
        w += sx;
        sx = 0;
    }
    w = std::min<std::int64_t>(w, img.width - sx);
    if (row_mode) {
        if (sy < 0 || sy >= img.height) return false;
    } else {
        if (sy < 0) {
            y -= sy;
            h += sy;
            sy = 0;
        }
        h = std::min<std::int64_t>(h, img.height - sy);
    }
    if (w <= 0 || h <= 0) return true;

    std::ptrdiff_t offset = sy * img.width + sx;
    detail::Source src{img.pixels.get() + offset, img.has_alpha() ? img.alpha.get() + offset : nullptr,
                       1, row_mode ? 0 : img.width};
    detail::Run(t, f, *kind, std::uint32_t(alpha), img.pixels[0], src, x, y, w, h);
    return true;
}

}  // namespace

bool DrawImage(const Image& img, Screen& s, int x, int y, int src_x, int width, int height,
               std::uint32_t mode, int alpha) {
    if (width <= 0 || width > img.width) width = img.width;
    if (height <= 0) height = img.height;
    return DrawRect(detail::ScreenTarget(s), s.format, img, x, y, src_x, 0, width, height, mode,
                    alpha, false);
}

bool DrawImagePart(const Image& img, Screen& s, int x, int y, int src_w, int src_h, int src_x,
                   int src_y, std::uint32_t mode, int alpha) {
    std::int64_t w = src_w > 0 ? src_w : std::int64_t(img.width) - src_x;
    std::int64_t h = src_h > 0 ? src_h : std::int64_t(img.height) - src_y;
    return DrawRect(detail::ScreenTarget(s), s.format, img, x, y, src_x, src_y, w, h, mode, alpha,
                    false);
}

bool DrawImageRow(const Image& img, Screen& s, int x, int y, int row, int height, int width,
                  std::uint32_t mode, int alpha) {
    if (width <= 0) width = img.width;
    return DrawRect(detail::ScreenTarget(s), s.format, img, x, y, 0, row, width, height, mode,
                    alpha, true);
}

bool DimToScreen(const Image& img, Screen& s, int a) {
    if (!s.back_buffer) return false;
    if (img.empty() || img.width != s.logical_width || img.height != s.logical_height)
        std::memset(s.back_buffer.get(), 0, s.byte_size);
    if (img.empty()) return true;
    a = std::clamp(a, 0, kOpaque);
    detail::Source src{img.pixels.get(), nullptr, 1, img.width};
    detail::Run(detail::ScreenTarget(s), s.format, a == kOpaque ? Kind::Copy : Kind::Dim,
                std::uint32_t(a), 0, src, 0, 0, img.width, img.height);
    return true;
}

bool ComposeImage(Image& target, const Screen& s, const Image& src, int x, int y, int w, int h,
                  int src_x, int src_y, std::uint32_t mode, int alpha) {
    if (&target == &src || target.empty()) return false;
    std::int64_t ww = w > 0 ? w : std::int64_t(src.width) - src_x;
    std::int64_t hh = h > 0 ? h : std::int64_t(src.height) - src_y;
    return DrawRect(detail::ImageTarget(target), s.format, src, x, y, src_x, src_y, ww, hh, mode,
                    alpha, false);
}

}  // namespace lumo::gfx
