#include <SDL.h>
#include <SDL_image.h>
#include <jpeglib.h>

#include <csetjmp>

#include "lumo/platform/imaging_thread.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "gif_decoder.h"
#include "lumo/platform/files.h"
#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::platform {
namespace {

// Larger pictures are refused outright: no theme picture or wallpaper comes near this, and the
// product's own buffers could not hold it.
constexpr std::int64_t kMaxPixels = gif::kMaxPixels;

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

bool sane_size(int w, int h) {
    return w > 0 && h > 0 && std::int64_t(w) * h <= kMaxPixels;
}

std::uint32_t be32(const std::uint8_t* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
std::uint16_t be16(const std::uint8_t* p) { return std::uint16_t(p[0] << 8 | p[1]); }
std::int32_t le32(const std::uint8_t* p) {
    return std::int32_t(std::uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0]);
}

// Reads the picture's size from its header without decoding it, so that a file claiming an
// enormous picture is refused before any memory is spent on it. Of the phone's imaging formats
// SDL_image decodes PNG, JPEG and BMP; GIF goes to giflib (gif_decoder.h), whatever the name.
// The SDL_image type of an allowed picture ("PNG", "JPG", "BMP"), or nullptr: decoding with the
// type named keeps SDL_image from trying its other loaders on bytes it cannot place.
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

// The reason the calling thread's last load failed.
thread_local std::string last_failure;

std::unique_ptr<DecodedPicture> refuse(std::string why) {
    last_failure = std::move(why);
    return nullptr;
}

// A decoded GIF frame as a surface of its own.
SurfacePtr surface_of(const std::vector<std::uint8_t>& rgba, int w, int h) {
    SurfacePtr s(SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_RGBA32));
    if (!s) return nullptr;
    auto* dst = static_cast<std::uint8_t*>(s->pixels);
    const auto row = std::size_t(w) * 4;
    for (int y = 0; y < h; ++y) std::memcpy(dst + std::size_t(s->pitch) * y, rgba.data() + row * y, row);
    return s;
}

// libpng as SDL_image drives it reads on past the end of a file whose chunk claims more bytes
// than are left, and never stops: each empty read is only a CRC warning on an ancillary chunk.
// So every chunk up to IEND (or up to the end of a file that lacks one) must lie inside the file
// before the decoder sees it.
bool png_chunks_whole(std::span<const std::uint8_t> b) {
    std::size_t at = 8;  // past the signature, which the header check has seen
    while (b.size() - at >= 12) {
        std::uint32_t len = be32(&b[at]);
        if (len > b.size() - at - 12) return false;
        bool end = std::memcmp(&b[at + 4], "IEND", 4) == 0;
        at += 12 + std::size_t(len);
        if (end) return true;
    }
    return at == b.size();
}

// The format is told by the content, never by the file's name.
std::unique_ptr<DecodedPicture> decode(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return refuse("empty");
    if (bytes.size() > kMaxPictureBytes) return refuse("larger than a picture can be");
    if (gif::sniff(bytes)) {
        std::string why;
        auto g = gif::decode(bytes, true, &why);
        if (!g) return refuse(why);
        auto s = surface_of(g->frames.front(), g->width, g->height);
        if (!s) return refuse(SDL_GetError());
        return std::make_unique<SdlPicture>(std::move(s), g->transparent);
    }
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), int(bytes.size()));
    if (!rw) return refuse(SDL_GetError());
    const char* type = header_allows(rw);
    if (!type) {
        SDL_RWclose(rw);
        return refuse("not a picture of an allowed format and size");
    }
    if (std::strcmp(type, "PNG") == 0 && !png_chunks_whole(bytes)) {
        SDL_RWclose(rw);
        return refuse("a PNG chunk runs past the end of the file");
    }
    SurfacePtr raw(IMG_LoadTyped_RW(rw, 1, type));
    if (!raw) return refuse(IMG_GetError());
    if (!sane_size(raw->w, raw->h)) return refuse("beyond the size limit");
    bool alpha = raw->format->Amask != 0 || SDL_HasColorKey(raw.get());
    auto rgba = to_rgba(raw.get());
    if (!rgba) return refuse(SDL_GetError());
    return std::make_unique<SdlPicture>(std::move(rgba), alpha);
}

// libjpeg reports a fatal error by calling error_exit, which must not return.
struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};
[[noreturn]] void jpeg_fatal(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1); }
void jpeg_silent(j_common_ptr) {}

// A JPEG decoded shrunk by libjpeg itself (by 1/2, 1/4 or 1/8 in the transform, so a 12-megapixel
// photo for a thumbnail never takes 48 MB), as RGB; nullptr when libjpeg cannot (a CMYK picture,
// a damaged stream), and the whole decode is tried instead. No C++ object lives across the jump.
SDL_Surface* decode_jpeg_reduced(std::span<const std::uint8_t> bytes, int min_long_side) {
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    SDL_Surface* volatile surface = nullptr;
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = jpeg_fatal;
    errors.mgr.output_message = jpeg_silent;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        if (surface) SDL_FreeSurface(surface);
        return nullptr;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK ||
        !sane_size(int(std::min<JDIMENSION>(cinfo.image_width, 1u << 30)),
                   int(std::min<JDIMENSION>(cinfo.image_height, 1u << 30)))) {
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    const long longer = std::max<long>(cinfo.image_width, cinfo.image_height);
    unsigned denom = 1;
    while (denom < 8 && (longer + 2 * denom - 1) / (2 * denom) >= min_long_side) denom *= 2;
    cinfo.scale_num = 1;
    cinfo.scale_denom = denom;
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    surface = SDL_CreateRGBSurfaceWithFormat(0, int(cinfo.output_width), int(cinfo.output_height), 24,
                                             SDL_PIXELFORMAT_RGB24);
    if (!surface || cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        if (surface) SDL_FreeSurface(surface);
        return nullptr;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = static_cast<JSAMPLE*>(surface->pixels) + std::size_t(cinfo.output_scanline) * surface->pitch;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return surface;
}

std::unique_ptr<DecodedPicture> decode_reduced(std::span<const std::uint8_t> bytes, int min_long_side) {
    if (bytes.size() >= 3 && bytes.size() <= kMaxPictureBytes && bytes[0] == 0xFF && bytes[1] == 0xD8 &&
        min_long_side > 0) {
        if (SurfacePtr rgb{decode_jpeg_reduced(bytes, min_long_side)}) {
            if (auto rgba = to_rgba(rgb.get())) return std::make_unique<SdlPicture>(std::move(rgba), false);
        }
    }
    return decode(bytes);
}

std::optional<DecodedAnimation> decode_animation(std::span<const std::uint8_t> bytes) {
    DecodedAnimation out;
    if (gif::sniff(bytes) && bytes.size() <= kMaxPictureBytes) {
        std::string why;
        auto g = gif::decode(bytes, false, &why);
        if (!g) {
            last_failure = why;
            return std::nullopt;
        }
        out.is_gif = true;
        out.width = g->width;
        out.height = g->height;
        out.frames = std::move(g->frames);
        out.delays_ms = std::move(g->delays_ms);
        return out;
    }
    // Anything else is one still frame.
    auto pic = decode(bytes);
    if (!pic) return std::nullopt;
    out.width = pic->width();
    out.height = pic->height();
    out.frames.emplace_back(std::size_t(out.width) * std::size_t(out.height) * 4);
    if (!pic->read_rgba(out.width, out.height, out.frames.back())) {
        last_failure = "cannot be converted";
        return std::nullopt;
    }
    out.delays_ms.push_back(0);
    return out;
}

class SdlImaging final : public Imaging {
public:
    explicit SdlImaging(PathResolver resolve) : resolve_(std::move(resolve)) {}

    std::unique_ptr<DecodedPicture> open(std::u16string_view path) override {
        auto bytes = read(path);
        return bytes ? decode(*bytes) : nullptr;
    }
    std::unique_ptr<DecodedPicture> open_memory(std::span<const std::uint8_t> bytes) override {
        return decode(bytes);
    }
    std::unique_ptr<DecodedPicture> open_memory_reduced(std::span<const std::uint8_t> bytes,
                                                        int min_long_side) override {
        return decode_reduced(bytes, min_long_side);
    }
    std::unique_ptr<DecodedPicture> open_reduced(std::u16string_view path, int min_long_side) override {
        auto bytes = read(path);
        return bytes ? decode_reduced(*bytes, min_long_side) : nullptr;
    }
    std::optional<DecodedAnimation> load_animation(std::u16string_view path) override {
        auto bytes = read(path);
        if (!bytes) return std::nullopt;
        return decode_animation(*bytes);
    }
    std::optional<DecodedAnimation> load_animation_memory(
        std::span<const std::uint8_t> bytes) override {
        if (bytes.empty()) {
            last_failure = "empty";
            return std::nullopt;
        }
        return decode_animation(bytes);
    }
    std::string last_error() const override { return last_failure; }
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
    // The whole file, read without blocking: a pipe or a directory named like a picture is
    // refused at once.
    std::optional<std::vector<std::uint8_t>> read(std::u16string_view path) {
        auto host = host_path(path);
        if (!host) {
            last_failure = "no such file";
            return std::nullopt;
        }
        return read_file(*host, kMaxPictureBytes, &last_failure);
    }

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

void release_imaging_thread_state() { SDL_TLSCleanup(); }

}  // namespace lumo::platform
