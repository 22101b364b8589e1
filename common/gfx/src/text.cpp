#include "lumo/gfx/text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lumo/gfx/draw.h"

namespace lumo::gfx {
namespace {

struct Line {
    std::u16string text;
    int width = 0;
};

constexpr std::u16string_view kEllipsis = u"...";

// Breaks text into lines as the platform's text drawing does: hard breaks unless single line,
// word wrap at spaces within max_width (a word longer than the line stays whole), and ellipses.
std::vector<Line> Layout(platform::Font& font, std::u16string_view text, std::uint32_t format,
                         int max_width) {
    std::vector<std::u16string> paragraphs(1);
    for (char16_t c : text) {
        if (c == u'\r') continue;
        if (c == u'\n') {
            if (!(format & kTextSingleLine)) paragraphs.emplace_back();
            continue;
        }
        paragraphs.back().push_back(c);
    }
    std::vector<Line> lines;
    const bool wrap = (format & kTextWordBreak) && !(format & kTextSingleLine) && max_width > 0;
    for (auto& para : paragraphs) {
        if (!wrap) {
            lines.push_back({para, font.text_width(para)});
            continue;
        }
        std::u16string current;
        std::size_t pos = 0;
        bool first = true;
        while (pos <= para.size()) {
            std::size_t start = para.find_first_not_of(u' ', pos);
            if (start == std::u16string::npos) break;
            std::size_t end = para.find(u' ', start);
            if (end == std::u16string::npos) end = para.size();
            std::u16string candidate = current;
            if (!first) candidate += para.substr(pos, start - pos);
            candidate += para.substr(start, end - start);
            if (first || font.text_width(candidate) <= max_width) {
                current = std::move(candidate);
            } else {
                lines.push_back({current, font.text_width(current)});
                current = para.substr(start, end - start);
            }
            first = false;
            pos = end;
        }
        lines.push_back({current, font.text_width(current)});
    }
    if ((format & (kTextWordEllipsis | kTextEndEllipsis)) && max_width > 0) {
        for (auto& line : lines) {
            if (line.width <= max_width) continue;
            std::u16string cut = line.text;
            while (!cut.empty()) {
                cut.pop_back();
                if (font.text_width(cut + std::u16string(kEllipsis)) <= max_width) break;
            }
            line.text = cut + std::u16string(kEllipsis);
            line.width = font.text_width(line.text);
        }
    }
    return lines;
}

struct Rect {
    int left, top, right, bottom;
};

// Draws the lines into the canvas inside `r`, clipped to it; returns the height from r.top to the
// bottom of the text.
int DrawLines(Image& canvas, const PixelFormat& f, platform::Font& font,
              const std::vector<Line>& lines, std::uint16_t colour, Rect r, std::uint32_t format) {
    const int lh = font.line_height();
    int y = r.top;
    if ((format & kTextSingleLine) && (format & kTextVCenter)) y = r.top + (r.bottom - r.top - lh) / 2;
    else if ((format & kTextSingleLine) && (format & kTextBottom)) y = r.bottom - lh;
    const int top = y;
    const int clip_l = std::max(r.left, 0), clip_t = std::max(r.top, 0);
    const int clip_r = std::min(r.right, canvas.width), clip_b = std::min(r.bottom, canvas.height);
    thread_local std::vector<std::uint8_t> coverage;
    for (const auto& line : lines) {
        int x = r.left;
        if (format & kTextCenter) x = r.left + (r.right - r.left - line.width) / 2;
        else if (format & kTextRight) x = r.right - line.width;
        int w = 0;
        if (!line.text.empty() && font.render_line(line.text, coverage, w)) {
            for (int row = 0; row < lh; ++row) {
                int ty = y + row;
                if (ty < clip_t || ty >= clip_b) continue;
                const std::uint8_t* c = coverage.data() + std::size_t(row) * w;
                std::uint16_t* o = canvas.row(ty);
                for (int col = std::max(0, clip_l - x); col < w && x + col < clip_r; ++col) {
                    if (c[col] == 0) continue;
                    o[x + col] = Blend(f, colour, o[x + col], (c[col] * kOpaque + 127) / 255);
                }
            }
        }
        y += lh;
    }
    return y - top + (top - r.top);
}

// A background for text renderings that are drawn with ColourKey: black, unless the text is.
std::uint32_t KeyFor(const PixelFormat& f, std::uint32_t colour) {
    return ColourToPixel(f, colour) == 0 ? 0xFFFFFF : 0x000000;
}

}  // namespace

std::unique_ptr<platform::Font> CreateTextFont(Screen& s, int height, int weight, bool italic) {
    if (!s.fonts) return nullptr;
    return italic ? s.fonts->create_italic_font(height, weight) : s.fonts->create_font(height, weight);
}

bool RenderTextWithFont(Image& img, Screen& s, platform::Font& font, std::uint32_t colour,
                        std::u16string_view text, std::uint32_t format, int width, int height,
                        int extra_width, std::uint32_t background, bool shadow,
                        int shadow_offset) {
    format |= kTextNoPrefix;
    const int lh = font.line_height();
    if (lh <= 0) return false;
    std::vector<Line> lines;
    if (width <= 0) {
        lines = Layout(font, text, format, 0);
        int measured = 0;
        for (auto& l : lines) measured = std::max(measured, l.width);
        width = measured + 1;
        height = int(lines.size()) * lh + 1;
    } else {
        width += extra_width;
        lines = Layout(font, text, format, width - 1);
        if (height <= 0) height = int(lines.size()) * lh + 1;
    }
    const int off = shadow ? std::max(shadow_offset, 0) : 0;
    const int cw = width + off, ch = height + off;
    if (!ResizeBuffers(img, cw, ch, false)) return false;
    const PixelFormat& f = s.format;
    // Only the rows the text can reach are cleared: a wrapped box is given the screen's height
    // and keeps just the rows drawn, so clearing all of it cost more than the text.
    const bool placed_low = (format & kTextSingleLine) && (format & (kTextVCenter | kTextBottom));
    const int rows = placed_low ? ch : std::min(ch, off + int(lines.size()) * lh + 1);
    std::fill_n(img.pixels.get(), std::size_t(cw) * rows,
                ColourToPixel(f, shadow ? kTextKeyColour : background));
    if (shadow)
        DrawLines(img, f, font, lines, ColourToPixel(f, kTextShadowColour),
                  {off + 1, off, off + width, off + height}, format);
    int drawn = DrawLines(img, f, font, lines, ColourToPixel(f, colour), {1, 0, width, height},
                          format);
    img.height = std::clamp(off + drawn, 1, ch);
    img.kept.reset();
    img.frame_delays.clear();
    return true;
}

bool RenderText(Image& img, Screen& s, int font_height, int weight, std::uint32_t colour,
                std::u16string_view text, std::uint32_t format, int width, int height,
                int extra_width, std::uint32_t background, bool shadow, int shadow_offset) {
    auto font = CreateTextFont(s, font_height, weight);
    if (!font) return false;
    return RenderTextWithFont(img, s, *font, colour, text, format, width, height, extra_width,
                              background, shadow, shadow_offset);
}

bool RenderTextHalo(Image& img, Screen& s, int text_shadow, platform::Font* font, int font_height,
                    int weight, std::uint32_t colour, std::u16string_view text,
                    std::uint32_t format, int width, std::uint8_t background) {
    if (text_shadow != 1 && text_shadow != 2) return false;
    std::unique_ptr<platform::Font> own;
    int m = 0;
    if (font) {
        m = ScaleUnit(s, text_shadow == 1 ? 2 : 1);
    } else {
        own = CreateTextFont(s, font_height, weight);
        if (!own) return false;
        font = own.get();
        m = text_shadow == 1 ? font_height / 6 : font_height / 12;
    }
    thread_local Image halo, core, face, canvas;
    const std::uint32_t key = KeyFor(s.format, colour);
    auto render = [&](Image& out, std::uint32_t c) {
        return RenderTextWithFont(out, s, *font, c, text, format, width, 0, 0, key, false, 0);
    };
    if (!render(halo, kTextHaloColour) || !render(core, kTextShadowColour) || !render(face, colour))
        return false;
    const int tw = face.width, th = face.height;
    if (text_shadow == 1) {
        const int half = m / 2;
        if (!FillImage(canvas, s, tw + m + half, th + 2 * m, background, true, kOpaque))
            return false;
        ComposeImage(canvas, s, halo, m - 1, m, 0, 0, 0, 0, kColourKey, kOpaque);
        ComposeImage(canvas, s, core, m, m, 0, 0, 0, 0, kColourKey, kOpaque);
        KeyToAlpha(canvas, 14);
        if (!BlurImage(canvas, s, canvas, m)) return false;
        ComposeImage(canvas, s, face, m, m, 0, 0, 0, 0, kColourKey, kOpaque);
        return CropImage(img, canvas, canvas.width - half, canvas.height - m, half, half, 0);
    }
    const int m2 = 2 * m, m4 = 4 * m;
    if (!FillImage(canvas, s, tw + 8 * m, th + 8 * m, background, true, kOpaque)) return false;
    ComposeImage(canvas, s, halo, m2, m2, 0, 0, 0, 0, kColourKey, kOpaque);
    ComposeImage(canvas, s, halo, m2, m4, 0, 0, 0, 0, kColourKey, kOpaque);
    ComposeImage(canvas, s, halo, m4, m2, 0, 0, 0, 0, kColourKey, kOpaque);
    ComposeImage(canvas, s, core, m4, m4, 0, 0, 0, 0, kColourKey, kOpaque);
    KeyToAlpha(canvas, 16);
    if (!BlurImage(canvas, s, canvas, m2)) return false;
    ComposeImage(canvas, s, face, m4, m4, 0, 0, 0, 0, kColourKey, kOpaque);
    return CropImage(img, canvas, canvas.width - m4, canvas.height - m4, m2, m2, 0);
}

int TextCache::draw(Screen& target, Screen& fonts, std::u16string_view text, int x, int y,
                    int width, int font_height, int weight, std::uint32_t colour,
                    std::uint32_t format, int max_height) {
    if (text.empty() || width <= 0) return 0;
    std::u16string key(text);
    for (int v : {width, font_height, int(colour), int(format), weight, max_height}) {
        key.push_back(u'\x1F');
        for (char ch : std::to_string(v)) key.push_back(char16_t(ch));
    }
    auto found = texts_.find(key);
    if (found == texts_.end()) {
        if (texts_.size() >= limit_) texts_.clear();
        Image img;
        if (!RenderText(img, fonts, font_height, weight, colour, text, format, width, max_height, 0,
                        0x000000, false, 0))
            return 0;
        found = texts_.emplace(std::move(key), std::move(img)).first;
    }
    DrawImage(found->second, target, x, y, 0, 0, 0, kColourKey, 32);
    return found->second.height;
}

}  // namespace lumo::gfx
