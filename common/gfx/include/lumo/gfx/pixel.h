#pragma once
// The display's 16-bit pixel formats and the one blending arithmetic used by every drawing loop.
//
// A pixel is "spread" over 32 bits so that each colour field gets guard bits above it; then one
// multiply scales all three fields at once. Alphas run 0..32 everywhere, 32 being opaque.
#include <cstdint>

namespace lumo::gfx {

struct PixelFormat {
    int red_shift;
    int green_reduction;  // an 8-bit green is shifted right by this much
    std::uint32_t green_mask;
    std::uint32_t blend_mask;
    int fold_shift;
    std::uint32_t imaging_id;  // the imaging library's id for this format

    friend bool operator==(const PixelFormat&, const PixelFormat&) = default;
};

inline constexpr PixelFormat kRgb565{11, 2, 0x07E0, 0x07E0F81Fu, 16, 0x21006};
// Only when the raw frame buffer reports its format 2.
inline constexpr PixelFormat kRgb555{10, 3, 0x03E0, 0x01F07C1Fu, 15, 0x21005};

inline constexpr int kOpaque = 32;

// Packs 8-bit components into the format (the name is historical: it also packs 555).
constexpr std::uint16_t RGBTo565(const PixelFormat& f, int r, int g, int b) {
    return std::uint16_t(((unsigned(r) & 0xFF) >> 3) << f.red_shift |
                         ((unsigned(g) & 0xFF) >> f.green_reduction) << 5 |
                         ((unsigned(b) & 0xFF) >> 3));
}

// A colour given as 0x00BBGGRR, as callers of the text renderer write them.
constexpr std::uint16_t ColourToPixel(const PixelFormat& f, std::uint32_t bgr) {
    return RGBTo565(f, int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

// The format's fields back to 8-bit components (low bits replicated), for saving pictures.
constexpr void PixelToRGB(const PixelFormat& f, std::uint16_t p, int& r, int& g, int& b) {
    unsigned r5 = (p >> f.red_shift) & 0x1F;
    unsigned gbits = 8 - unsigned(f.green_reduction);
    unsigned gv = (p >> 5) & ((1u << gbits) - 1);
    unsigned b5 = p & 0x1F;
    r = int(r5 << 3 | r5 >> 2);
    g = int(gv << f.green_reduction | gv >> (gbits - f.green_reduction));
    b = int(b5 << 3 | b5 >> 2);
}

// Compile-time twins of the two formats for the hot loops.
struct Fmt565 {
    static constexpr std::uint32_t M = 0x07E0F81Fu;
    static constexpr int S = 16;
};
struct Fmt555 {
    static constexpr std::uint32_t M = 0x01F07C1Fu;
    static constexpr int S = 15;
};

constexpr std::uint32_t Spread(std::uint32_t mask, int shift, std::uint32_t p) {
    return mask & (p | (p << shift));
}

constexpr std::uint16_t Fold(int shift, std::uint32_t r) { return std::uint16_t(r | (r >> shift)); }

// d + (s - d) × a / 32 per field. Unsigned wrap-around gives the same low 27 bits as the signed
// arithmetic the formula is written in, and only those survive the mask.
constexpr std::uint16_t Blend(std::uint32_t mask, int shift, std::uint32_t s, std::uint32_t d,
                              std::uint32_t a) {
    std::uint32_t ss = Spread(mask, shift, s), sd = Spread(mask, shift, d);
    return Fold(shift, mask & (sd + (((ss - sd) * a) >> 5)));
}

// d × a / 32 per field (fades).
constexpr std::uint16_t Darken(std::uint32_t mask, int shift, std::uint32_t d, std::uint32_t a) {
    return Fold(shift, mask & ((a * Spread(mask, shift, d)) >> 5));
}

constexpr std::uint16_t Blend(const PixelFormat& f, std::uint16_t s, std::uint16_t d, int a) {
    return Blend(f.blend_mask, f.fold_shift, s, d, std::uint32_t(a));
}
constexpr std::uint16_t Darken(const PixelFormat& f, std::uint16_t d, int a) {
    return Darken(f.blend_mask, f.fold_shift, d, std::uint32_t(a));
}

}  // namespace lumo::gfx
