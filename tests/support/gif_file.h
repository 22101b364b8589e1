#pragma once
// GIF files written by the tests themselves through giflib's encoder, so each test knows every
// pixel, delay and flag of the pictures it loads.
#include <gif_lib.h>

#include <cstdint>
#include <vector>

namespace lumo::test {

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> indices;  // width × height, row by row from the top
    std::vector<std::uint32_t> palette;  // 0xRRGGBB; empty = use the global one
    bool interlace = false;
    bool control = true;  // write a graphic control block before the frame
    int delay_cs = 0;
    int transparent = NO_TRANSPARENT_COLOR;
    int disposal = DISPOSAL_UNSPECIFIED;
};

struct GifSpec {
    int width = 0, height = 0;
    std::vector<std::uint32_t> palette;  // global colour map; empty = none
    std::vector<GifFrame> frames;
};

namespace detail {
inline int append(GifFileType* g, const GifByteType* bytes, int n) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(g->UserData);
    out->insert(out->end(), bytes, bytes + n);
    return n;
}
// giflib wants a power-of-two colour count: the map is padded with black.
inline ColorMapObject* make_map(const std::vector<std::uint32_t>& colours) {
    if (colours.empty()) return nullptr;
    int count = 2;
    while (count < int(colours.size())) count *= 2;
    std::vector<GifColorType> c(std::size_t(count), GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < colours.size(); ++i)
        c[i] = {GifByteType(colours[i] >> 16), GifByteType(colours[i] >> 8), GifByteType(colours[i])};
    return GifMakeMapObject(count, c.data());
}
}  // namespace detail

// The encoded file; empty when giflib refuses the description.
inline std::vector<std::uint8_t> write_gif(const GifSpec& spec) {
    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* g = EGifOpen(&out, detail::append, &error);
    if (!g) return {};
    EGifSetGifVersion(g, true);
    ColorMapObject* global = detail::make_map(spec.palette);
    bool ok = EGifPutScreenDesc(g, spec.width, spec.height, 8, 0, global) == GIF_OK;
    GifFreeMapObject(global);
    for (const auto& f : spec.frames) {
        if (!ok) break;
        if (f.control) {
            GraphicsControlBlock gcb{};
            gcb.DisposalMode = f.disposal;
            gcb.DelayTime = f.delay_cs;
            gcb.TransparentColor = f.transparent;
            GifByteType ext[4];
            auto n = EGifGCBToExtension(&gcb, ext);
            ok = EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, int(n), ext) == GIF_OK;
        }
        ColorMapObject* local = detail::make_map(f.palette);
        // giflib's encoder drops the previous frame's map unfreed when this frame has none.
        if (!local && g->Image.ColorMap) {
            GifFreeMapObject(g->Image.ColorMap);
            g->Image.ColorMap = nullptr;
        }
        ok = ok && EGifPutImageDesc(g, f.left, f.top, f.width, f.height, f.interlace, local) == GIF_OK;
        GifFreeMapObject(local);
        // Interlaced rows are stored in the order of the four passes.
        std::vector<int> rows;
        if (f.interlace) {
            const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int p = 0; p < 4; ++p)
                for (int y = start[p]; y < f.height; y += step[p]) rows.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y) rows.push_back(y);
        }
        for (int y : rows) {
            std::vector<GifPixelType> line(f.indices.begin() + std::ptrdiff_t(y) * f.width,
                                           f.indices.begin() + std::ptrdiff_t(y + 1) * f.width);
            ok = ok && EGifPutLine(g, line.data(), f.width) == GIF_OK;
        }
    }
    if (EGifCloseFile(g, &error) != GIF_OK) ok = false;
    return ok ? out : std::vector<std::uint8_t>{};
}

// A frame of one colour index.
inline GifFrame solid_frame(int left, int top, int w, int h, std::uint8_t index) {
    GifFrame f;
    f.left = left;
    f.top = top;
    f.width = w;
    f.height = h;
    f.indices.assign(std::size_t(w) * std::size_t(h), index);
    return f;
}

}  // namespace lumo::test
