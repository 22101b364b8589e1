#include "gif_decoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace lumo::platform::gif {
namespace {

struct Reader {
    std::span<const std::uint8_t> bytes;
    std::size_t pos = 0;
};

int read_bytes(GifFileType* g, GifByteType* out, int n) {
    auto* r = static_cast<Reader*>(g->UserData);
    if (n <= 0) return 0;
    std::size_t take = std::min(std::size_t(n), r->bytes.size() - r->pos);
    std::memcpy(out, r->bytes.data() + r->pos, take);
    r->pos += take;
    return int(take);
}

struct GifCloser {
    void operator()(GifFileType* g) const {
        int error = 0;
        DGifCloseFile(g, &error);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

// What the first walk learns about one frame.
struct Frame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlace = false;
    int disposal = DISPOSAL_UNSPECIFIED;
    int transparent = NO_TRANSPARENT_COLOR;
    int delay_cs = -1;  // none given
};

bool fail(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return false;
}

std::string error_text(int error) {
    const char* text = GifErrorString(error);
    return text ? text : "error " + std::to_string(error);
}

GifPtr open(Reader& reader, std::string* why) {
    int error = 0;
    GifPtr g(DGifOpen(&reader, read_bytes, &error));
    if (!g) fail(why, "not a GIF: " + error_text(error));
    return g;
}

// Reads an extension through to its end; a graphic control block sets the next frame's
// transparency, disposal and delay.
bool read_extension(GifFileType* g, Frame& next) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(g, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] == 4) {
        GraphicsControlBlock gcb{};
        if (DGifExtensionToGCB(4, block + 1, &gcb) == GIF_OK) {
            next.disposal = gcb.DisposalMode;
            next.transparent = gcb.TransparentColor;
            next.delay_cs = gcb.DelayTime;
        }
    }
    while (block)
        if (DGifGetExtensionNext(g, &block) == GIF_ERROR) return false;
    return true;
}

// Passes over a frame's compressed data without decoding it.
bool skip_image_data(GifFileType* g) {
    int code_size = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(g, &code_size, &block) == GIF_ERROR) return false;
    while (block)
        if (DGifGetCodeNext(g, &block) == GIF_ERROR) return false;
    return true;
}

// The first walk: every record but the pixels. A file cut short keeps the frames it completed.
bool plan_frames(std::span<const std::uint8_t> bytes, bool first_only, int& width, int& height,
                 std::vector<Frame>& frames, std::string* why) {
    Reader reader{bytes};
    GifPtr g = open(reader, why);
    if (!g) return false;
    width = g->SWidth;
    height = g->SHeight;
    if (width <= 0 || height <= 0 || std::int64_t(width) * height > kMaxPixels)
        return fail(why, "screen of " + std::to_string(width) + "x" + std::to_string(height) +
                             " is beyond the limit");
    std::int64_t decoded = 0;
    Frame next;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(g.get(), &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE) break;
        if (type == EXTENSION_RECORD_TYPE) {
            if (!read_extension(g.get(), next)) break;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(g.get()) == GIF_ERROR) break;
        const GifImageDesc& d = g->Image;
        if (std::int64_t(d.Width) * d.Height > kMaxPixels)
            return fail(why, "frame of " + std::to_string(d.Width) + "x" + std::to_string(d.Height) +
                                 " is beyond the limit");
        decoded += std::int64_t(d.Width) * d.Height;
        if (decoded > kMaxDecodedPixels) return fail(why, "frames add up to too many pixels");
        if (frames.size() >= std::size_t(kMaxFrames)) return fail(why, "too many frames");
        Frame f = next;
        f.left = d.Left;
        f.top = d.Top;
        f.width = d.Width;
        f.height = d.Height;
        f.interlace = d.Interlace;
        // Transparency and disposal belong to one frame; a delay stays until the next control
        // block changes it, as the phone's decoder always reported it.
        next = Frame{};
        next.delay_cs = f.delay_cs;
        if (!skip_image_data(g.get())) break;
        frames.push_back(f);
        if (first_only) break;
    }
    if (frames.empty()) return fail(why, "no complete frame");
    if (std::int64_t(width) * height * std::int64_t(frames.size()) > kMaxPixels)
        return fail(why, std::to_string(frames.size()) + " frames are beyond the limit");
    return true;
}

// Decodes one frame's rows onto the canvas, clipped to it.
bool draw_frame(GifFileType* g, const Frame& f, int width, int height, std::uint8_t* canvas,
                std::vector<GifPixelType>& line) {
    const ColorMapObject* map = g->Image.ColorMap ? g->Image.ColorMap : g->SColorMap;
    if (f.width == 0 || f.height == 0) return skip_image_data(g);
    line.resize(std::size_t(f.width));
    // Interlaced rows come in four passes: every 8th from 0, every 8th from 4, every 4th from 2,
    // every 2nd from 1.
    static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    const int passes = f.interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int step = f.interlace ? kStep[pass] : 1;
        for (int y = f.interlace ? kStart[pass] : 0; y < f.height; y += step) {
            if (DGifGetLine(g, line.data(), f.width) == GIF_ERROR) return false;
            const int cy = f.top + y;
            if (cy >= height) continue;
            std::uint8_t* row = canvas + std::size_t(cy) * std::size_t(width) * 4;
            for (int x = 0; x < f.width; ++x) {
                const int cx = f.left + x;
                if (cx >= width) break;
                const int index = line[std::size_t(x)];
                if (index == f.transparent) continue;
                std::uint8_t* p = row + std::size_t(cx) * 4;
                // An index beyond the colour map, or no map at all, is black.
                if (map && index < map->ColorCount) {
                    p[0] = map->Colors[index].Red;
                    p[1] = map->Colors[index].Green;
                    p[2] = map->Colors[index].Blue;
                } else {
                    p[0] = p[1] = p[2] = 0;
                }
                p[3] = 255;
            }
        }
    }
    return true;
}

void clear_rect(std::vector<std::uint8_t>& canvas, const Frame& f, int width, int height) {
    const int x1 = std::min(width, f.left + f.width), y1 = std::min(height, f.top + f.height);
    for (int y = f.top; y < y1; ++y)
        if (f.left < x1)
            std::fill_n(canvas.begin() + std::ptrdiff_t((std::size_t(y) * width + f.left) * 4),
                        std::size_t(x1 - f.left) * 4, 0);
}

}  // namespace

bool sniff(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 6 && (std::memcmp(bytes.data(), "GIF87a", 6) == 0 ||
                                 std::memcmp(bytes.data(), "GIF89a", 6) == 0);
}

std::optional<Decoded> decode(std::span<const std::uint8_t> bytes, bool first_only,
                              std::string* why) {
    if (!sniff(bytes)) {
        fail(why, "not a GIF");
        return std::nullopt;
    }
    Decoded out;
    std::vector<Frame> frames;
    if (!plan_frames(bytes, first_only, out.width, out.height, frames, why)) return std::nullopt;

    // Within the limits: decode for real.
    Reader reader{bytes};
    GifPtr g = open(reader, why);
    if (!g) return std::nullopt;
    const std::size_t canvas_bytes = std::size_t(out.width) * std::size_t(out.height) * 4;
    std::vector<std::uint8_t> canvas(canvas_bytes, 0), saved;
    std::vector<GifPixelType> line;
    std::size_t done = 0;
    while (done < frames.size()) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(g.get(), &type) == GIF_ERROR) break;
        if (type == EXTENSION_RECORD_TYPE) {
            Frame ignored;
            if (!read_extension(g.get(), ignored)) break;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(g.get()) == GIF_ERROR) break;
        const Frame& f = frames[done];
        if (f.disposal == DISPOSE_PREVIOUS) saved = canvas;
        if (!draw_frame(g.get(), f, out.width, out.height, canvas.data(), line)) break;
        out.frames.push_back(canvas);
        // Hundredths of a second in the file; a frame without a delay has 0.
        out.delays_ms.push_back(std::max(0, f.delay_cs) * 10);
        ++done;
        if (f.disposal == DISPOSE_BACKGROUND) clear_rect(canvas, f, out.width, out.height);
        if (f.disposal == DISPOSE_PREVIOUS) canvas.swap(saved);
    }
    // Pixels that do not decode end the animation at the last good frame.
    if (out.frames.empty()) {
        fail(why, "damaged pixel data: " + error_text(g->Error));
        return std::nullopt;
    }
    for (const auto& frame : out.frames) {
        for (std::size_t i = 3; i < frame.size() && !out.transparent; i += 4)
            out.transparent = frame[i] != 255;
        if (out.transparent) break;
    }
    return out;
}

}  // namespace lumo::platform::gif
