#include <algorithm>
#include <cstring>
#include <new>

#include "lumo/gfx/image.h"

namespace lumo::gfx {
namespace {

// No picture the programs handle comes near this; larger requests are refused as "memory short".
constexpr std::uint64_t kMaxPixels = 1ull << 28;

bool CopyInto(Image& dst, const Image& src) {
    if (!ResizeBuffers(dst, src.width, src.height, src.has_alpha())) return false;
    std::size_t count = std::size_t(src.width) * std::size_t(src.height);
    std::memcpy(dst.pixels.get(), src.pixels.get(), count * 2);
    if (src.has_alpha()) std::memcpy(dst.alpha.get(), src.alpha.get(), count);
    return true;
}

// Builds into dst, or into a scratch Image first when dst is also the source.
template <class Make>
bool Build(Image& dst, const Image& src, Make make) {
    if (&dst != &src) return make(dst);
    thread_local Image scratch;
    return make(scratch) && CopyInto(dst, scratch);
}

struct Fields {
    int r, g, b;
};

Fields Split(const PixelFormat& f, std::uint16_t p) {
    return {(p >> f.red_shift) & 0x1F, int((p & f.green_mask) >> 5), p & 0x1F};
}

std::uint16_t Join(const PixelFormat& f, int r, int g, int b) {
    return std::uint16_t(r << f.red_shift | g << 5 | b);
}

std::int64_t RoundDiv(std::int64_t a, std::int64_t b) { return (a + b / 2) / b; }

}  // namespace

bool ResizeBuffers(Image& img, int w, int h, bool with_alpha) {
    if (w <= 0 || h <= 0 || std::uint64_t(w) * std::uint64_t(h) > kMaxPixels) return false;
    std::size_t count = std::size_t(w) * std::size_t(h);
    std::unique_ptr<std::uint16_t[]> pixels;
    std::unique_ptr<std::uint8_t[]> alpha;
    if (count * 2 > img.pixel_capacity) {
        pixels.reset(new (std::nothrow) std::uint16_t[count]);
        if (!pixels) return false;
    }
    if (with_alpha && (count > img.alpha_capacity || !img.alpha)) {
        alpha.reset(new (std::nothrow) std::uint8_t[count]);
        if (!alpha) return false;
    }
    if (pixels) {
        img.pixels = std::move(pixels);
        img.pixel_capacity = count * 2;
    }
    if (alpha) {
        img.alpha = std::move(alpha);
        img.alpha_capacity = count;
    } else if (!with_alpha) {
        img.alpha.reset();
        img.alpha_capacity = 0;
    }
    img.width = w;
    img.height = h;
    return true;
}

bool FillImage(Image& img, const Screen& s, int w, int h, std::uint8_t byte, bool with_alpha,
               int alpha) {
    if (w == 0) w = s.logical_width;
    if (h == 0) h = s.logical_height;
    if (!ResizeBuffers(img, w, h, with_alpha)) return false;
    std::size_t count = std::size_t(w) * std::size_t(h);
    std::memset(img.pixels.get(), byte, count * 2);
    if (with_alpha) std::memset(img.alpha.get(), std::clamp(alpha, 0, kOpaque), count);
    return true;
}

bool KeyToAlpha(Image& img, int a) {
    if (img.empty()) return false;
    if (!img.has_alpha() && !ResizeBuffers(img, img.width, img.height, true)) return false;
    std::size_t count = std::size_t(img.width) * std::size_t(img.height);
    const std::uint16_t key = img.pixels[0];
    const auto value = std::uint8_t(std::clamp(a, 0, kOpaque));
    for (std::size_t i = 0; i < count; ++i) img.alpha[i] = img.pixels[i] == key ? 0 : value;
    return true;
}

bool BlurImage(Image& dst, const Screen& s, const Image& src, int n) {
    if (src.empty()) return false;
    n = std::max(n, 1) | 1;
    const int c = n / 2, W = src.width, H = src.height;
    const bool alpha = src.has_alpha();
    const PixelFormat& f = s.format;
    // Window sums along rows first (r, g, b, alpha per pixel), then down the columns.
    thread_local std::vector<std::int32_t> rows;
    rows.resize(std::size_t(W) * H * 4);
    for (int y = 0; y < H; ++y) {
        const std::uint16_t* p = src.row(y);
        const std::uint8_t* pa = alpha ? src.alpha_row(y) : nullptr;
        std::int32_t sum[4] = {0, 0, 0, 0};
        for (int x = 0; x < W; ++x) {
            Fields in = Split(f, p[x]);
            sum[0] += in.r, sum[1] += in.g, sum[2] += in.b, sum[3] += pa ? pa[x] : 0;
            if (x >= n) {
                Fields out = Split(f, p[x - n]);
                sum[0] -= out.r, sum[1] -= out.g, sum[2] -= out.b, sum[3] -= pa ? pa[x - n] : 0;
            }
            if (x >= n - 1) std::copy(sum, sum + 4, &rows[(std::size_t(y) * W + x - c) * 4]);
        }
    }
    thread_local Image out;
    if (!CopyInto(out, src)) return false;
    if (alpha) {
        // The border, where the window would leave the picture, becomes invisible.
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (x < c || y < c || x >= W - c || y >= H - c) out.alpha_row(y)[x] = 0;
    }
    const int area = n * n;
    for (int x = c; x < W - c; ++x) {
        std::int32_t sum[4] = {0, 0, 0, 0};
        for (int y = 0; y < H; ++y) {
            const std::int32_t* in = &rows[(std::size_t(y) * W + x) * 4];
            for (int k = 0; k < 4; ++k) sum[k] += in[k];
            if (y >= n) {
                const std::int32_t* old = &rows[(std::size_t(y - n) * W + x) * 4];
                for (int k = 0; k < 4; ++k) sum[k] -= old[k];
            }
            if (y >= n - 1) {
                int oy = y - c;
                out.row(oy)[x] = Join(f, sum[0] / area, sum[1] / area, sum[2] / area);
                if (alpha) out.alpha_row(oy)[x] = std::uint8_t(std::min(sum[3] / area, kOpaque));
            }
        }
    }
    return CopyInto(dst, out);
}

bool CropImage(Image& dst, const Image& src, int w, int h, int x, int y, std::uint8_t fill) {
    if (src.empty()) return false;
    if (w <= 0 || h <= 0) {
        w = src.width, h = src.height, x = 0, y = 0;
    }
    return Build(dst, src, [&](Image& out) {
        if (!ResizeBuffers(out, w, h, src.has_alpha())) return false;
        std::size_t count = std::size_t(w) * std::size_t(h);
        std::memset(out.pixels.get(), fill, count * 2);
        if (src.has_alpha()) std::memset(out.alpha.get(), 0, count);
        int x0 = std::max(x, 0), y0 = std::max(y, 0);
        int x1 = std::min<std::int64_t>(std::int64_t(x) + w, src.width);
        int y1 = std::min<std::int64_t>(std::int64_t(y) + h, src.height);
        for (int sy = y0; sy < y1 && x0 < x1; ++sy) {
            std::memcpy(out.row(sy - y) + (x0 - x), src.row(sy) + x0, std::size_t(x1 - x0) * 2);
            if (src.has_alpha())
                std::memcpy(out.alpha_row(sy - y) + (x0 - x), src.alpha_row(sy) + x0,
                            std::size_t(x1 - x0));
        }
        return true;
    });
}

Size FitInside(int pic_w, int pic_h, int w, int h) {
    if (pic_w <= 0 || pic_h <= 0 || w <= 0 || h <= 0) return {w, h};
    std::int64_t nw = RoundDiv(std::int64_t(pic_w) * h, pic_h), nh = h;
    if (nw > w) {
        nh = RoundDiv(std::int64_t(pic_h) * w, pic_w);
        nw = w;
    }
    if (std::abs(nw - w) <= 1) nw = w;
    if (std::abs(nh - h) <= 1) nh = h;
    return {int(std::max<std::int64_t>(nw, 1)), int(std::max<std::int64_t>(nh, 1))};
}

bool ResizeImage(Image& dst, const Screen& s, const Image& src, int w, int h, bool bilinear,
                 bool keep_aspect) {
    if (src.empty()) return false;
    if (w <= 0) w = src.width;
    if (h <= 0) h = src.height;
    if (keep_aspect) {
        Size fit = FitInside(src.width, src.height, w, h);
        w = fit.width, h = fit.height;
    }
    const PixelFormat& f = s.format;
    return Build(dst, src, [&](Image& out) {
        bool alpha = src.has_alpha() && !bilinear;
        if (!ResizeBuffers(out, w, h, alpha)) return false;
        // Steps in 8.8 fixed point.
        const std::int64_t step_x = (std::int64_t(src.width) << 8) / w;
        const std::int64_t step_y = (std::int64_t(src.height) << 8) / h;
        for (int y = 0; y < h; ++y) {
            const std::int64_t fy = y * step_y;
            const int sy0 = std::min<int>(int(fy >> 8), src.height - 1);
            const int sy1 = std::min(sy0 + 1, src.height - 1);
            const int wy = int(fy & 255);
            std::uint16_t* o = out.row(y);
            for (int x = 0; x < w; ++x) {
                const std::int64_t fx = x * step_x;
                const int sx0 = std::min<int>(int(fx >> 8), src.width - 1);
                if (!bilinear) {
                    o[x] = src.row(sy0)[sx0];
                    if (alpha) out.alpha_row(y)[x] = src.alpha_row(sy0)[sx0];
                    continue;
                }
                const int sx1 = std::min(sx0 + 1, src.width - 1);
                const int wx = int(fx & 255);
                Fields p00 = Split(f, src.row(sy0)[sx0]), p01 = Split(f, src.row(sy0)[sx1]);
                Fields p10 = Split(f, src.row(sy1)[sx0]), p11 = Split(f, src.row(sy1)[sx1]);
                auto mix = [&](int a00, int a01, int a10, int a11) {
                    return ((a00 * (256 - wx) + a01 * wx) * (256 - wy) +
                            (a10 * (256 - wx) + a11 * wx) * wy) >> 16;
                };
                o[x] = Join(f, mix(p00.r, p01.r, p10.r, p11.r), mix(p00.g, p01.g, p10.g, p11.g),
                            mix(p00.b, p01.b, p10.b, p11.b));
            }
        }
        return true;
    });
}

bool RotateImage(Image& dst, const Image& src, int turn) {
    if (src.empty() || (turn != 0 && turn != 1 && turn != 2 && turn != 4)) return false;
    const int W = src.width, H = src.height;
    const bool swap = turn == 1 || turn == 4;
    return Build(dst, src, [&](Image& out) {
        if (!ResizeBuffers(out, swap ? H : W, swap ? W : H, src.has_alpha())) return false;
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                int sx = x, sy = y;
                if (turn == 1) sx = y, sy = H - 1 - x;
                else if (turn == 2) sx = W - 1 - x, sy = H - 1 - y;
                else if (turn == 4) sx = W - 1 - y, sy = x;
                out.row(y)[x] = src.row(sy)[sx];
                if (src.has_alpha()) out.alpha_row(y)[x] = src.alpha_row(sy)[sx];
            }
        }
        return true;
    });
}

bool MirrorImage(Image& dst, const Image& src) {
    if (src.empty()) return false;
    return Build(dst, src, [&](Image& out) {
        if (!ResizeBuffers(out, src.width, src.height, src.has_alpha())) return false;
        for (int y = 0; y < src.height; ++y) {
            std::reverse_copy(src.row(y), src.row(y) + src.width, out.row(y));
            if (src.has_alpha())
                std::reverse_copy(src.alpha_row(y), src.alpha_row(y) + src.width, out.alpha_row(y));
        }
        return true;
    });
}

bool MakeReflection(Image& dst, const Image& src, int rows) {
    if (src.empty()) return false;
    if (rows <= 0) rows = src.height / 2;
    rows = std::min(rows, src.height);
    if (rows <= 0) return false;
    return Build(dst, src, [&](Image& out) {
        if (!ResizeBuffers(out, src.width, rows, true)) return false;
        for (int y = 0; y < rows; ++y)
            std::memcpy(out.row(y), src.row(src.height - 1 - y), std::size_t(src.width) * 2);
        std::memset(out.alpha.get(), kReflectionAlpha, std::size_t(src.width) * rows);
        return true;
    });
}

bool MakeShineMask(Image& img, int x, int width) {
    if (img.empty()) return false;
    if (!img.has_alpha() && !ResizeBuffers(img, img.width, img.height, true)) return false;
    std::memset(img.alpha.get(), 0, std::size_t(img.width) * img.height);
    const int third = width / 3;
    if (third <= 0) return true;
    const int step = kOpaque / third;
    for (int c = 0; c < width; ++c) {
        const std::int64_t col = std::int64_t(x) + c;
        if (col < 0 || col >= img.width) continue;
        int a = kOpaque;
        if (c < third) a = std::min(kOpaque, step * (c + 1));
        else if (c >= 2 * third) a = std::max(0, kOpaque - step * (c - 2 * third + 1));
        for (int y = 0; y < img.height; ++y) img.alpha_row(y)[col] = std::uint8_t(a);
    }
    return true;
}

namespace {

// Reads a frame in the back buffer's layout into an Image of the logical size.
bool FromFrame(Image& img, const Screen& s, const std::uint16_t* frame) {
    if (!ResizeBuffers(img, s.logical_width, s.logical_height, false)) return false;
    const std::uint16_t* base = frame + s.origin;
    const std::ptrdiff_t xs = s.xstep / 2, ys = s.ystep / 2;
    for (int y = 0; y < img.height; ++y) {
        std::uint16_t* o = img.row(y);
        const std::uint16_t* p = base + y * ys;
        for (int x = 0; x < img.width; ++x) o[x] = p[x * xs];
    }
    return true;
}

}  // namespace

bool ImageFromBackBuffer(Image& img, const Screen& s) {
    if (!s.back_buffer) return false;
    return FromFrame(img, s, s.back_buffer.get());
}

bool CaptureScreen(Image& img, Screen& s) {
    if (!s.presenter || s.pixel_count == 0) return false;
    // Where the display can show the whole picture (other programs' windows too), that is what
    // the screen shows. A layout kept through a quarter turn has the other shape and reads only
    // its own memory below.
    {
        thread_local std::vector<std::uint16_t> shown;
        shown.resize(std::size_t(s.logical_width) * std::size_t(s.logical_height));
        if (s.presenter->capture_shown(shown, s.logical_width, s.logical_height) &&
            ResizeBuffers(img, s.logical_width, s.logical_height, false)) {
            for (int y = 0; y < img.height; ++y)
                std::copy_n(shown.data() + std::size_t(y) * std::size_t(img.width), img.width, img.row(y));
            return true;
        }
    }
    thread_local std::vector<std::uint16_t> frame;
    frame.resize(s.pixel_count);
    if (!s.presenter->capture(frame)) return false;
    return FromFrame(img, s, frame.data());
}

void ReleaseImage(Image& img, bool free_pixels) {
    img.kept.reset();
    img.extra.reset();
    img.frame_delays.clear();
    img.frame_delays.shrink_to_fit();
    if (free_pixels) {
        img.pixels.reset();
        img.pixel_capacity = 0;
        img.alpha.reset();
        img.alpha_capacity = 0;
    }
    img.width = 0;
    img.height = 0;
}

}  // namespace lumo::gfx
