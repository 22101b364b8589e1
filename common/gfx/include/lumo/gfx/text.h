#pragma once
// Text rendered with the product's font (Tahoma) into Images that are then drawn with ColourKey:
// every rendered Image's top-left pixel is its background. Colours are 0x00BBGGRR.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "lumo/gfx/image.h"

namespace lumo::gfx {

// Format flags, as the platform's text drawing takes them.
enum TextFormat : std::uint32_t {
    kTextLeft = 0x0,
    kTextCenter = 0x1,
    kTextRight = 0x2,
    kTextVCenter = 0x4,  // single line only
    kTextBottom = 0x8,   // single line only
    kTextWordBreak = 0x10,
    kTextSingleLine = 0x20,
    kTextNoPrefix = 0x800,  // always added: '&' is never an accelerator mark
    kTextEndEllipsis = 0x8000,
    kTextWordEllipsis = 0x40000,
};

inline constexpr std::uint32_t kTextKeyColour = 0x5A5A5A;     // drop-shadow canvas
inline constexpr std::uint32_t kTextShadowColour = 0x0A0A0A;  // drop shadow and halo core
inline constexpr std::uint32_t kTextHaloColour = 0x636363;    // halo body

inline constexpr int kFontNormal = 400;
inline constexpr int kFontBold = 700;

// A Tahoma font of `height` pixels and `weight`; nullptr without a font engine.
std::unique_ptr<platform::Font> CreateTextFont(Screen& s, int height, int weight, bool italic = false);

// Width 0: the canvas is the measured text + 1 each way; else width + extra_width by height
// (height 0: as many lines as the text takes). With `shadow` the text gets a drop shadow
// `shadow_offset` down and right on a key-coloured canvas; else the canvas is `background`.
// The Image's height is the height the text took (plus the shadow offset).
bool RenderTextWithFont(Image& img, Screen& s, platform::Font& font, std::uint32_t colour,
                        std::u16string_view text, std::uint32_t format, int width, int height,
                        int extra_width, std::uint32_t background, bool shadow,
                        int shadow_offset);
bool RenderText(Image& img, Screen& s, int font_height, int weight, std::uint32_t colour,
                std::u16string_view text, std::uint32_t format, int width, int height,
                int extra_width, std::uint32_t background, bool shadow, int shadow_offset);

// The simple drop shadow is only used on high-resolution screens.
inline bool UseDropShadow(const Screen& s, int text_shadow) {
    return text_shadow != 0 && ScaleUnit(s, 1) > 1;
}

// Text with a soft halo, for TextShadow 1 (dark halo) or 2 (wide glow); the result has an alpha
// plane. With `font` the halo size comes from ScaleUnit, else from font_height (and the font is
// made from font_height and weight). `background` is the byte the canvas starts from.
bool RenderTextHalo(Image& img, Screen& s, int text_shadow, platform::Font* font, int font_height,
                    int weight, std::uint32_t colour, std::u16string_view text,
                    std::uint32_t format, int width, std::uint8_t background);

// Rendered texts kept by text and style, so that a frame that only moves them (a scrolling list)
// draws pictures instead of rendering the texts again. Emptied when it holds `limit` of them.
class TextCache {
public:
    explicit TextCache(std::size_t limit = 400) : limit_(limit) {}
    // Draws `text` in a box `width` wide (rendered by RenderText with the fonts of `fonts`, on a
    // key-coloured canvas) with its top left corner at x, y of `target`; the height it took, 0
    // when nothing was drawn.
    int draw(Screen& target, Screen& fonts, std::u16string_view text, int x, int y, int width,
             int font_height, int weight, std::uint32_t colour, std::uint32_t format,
             int max_height = 0);
    void clear() { texts_.clear(); }
    std::size_t size() const { return texts_.size(); }

private:
    std::size_t limit_;
    std::map<std::u16string, Image> texts_;
};

}  // namespace lumo::gfx
