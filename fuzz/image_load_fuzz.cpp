// Feeds arbitrary bytes to the picture loader (still and animated paths, with and without the PNG
// alpha rule and a fit): it must fail cleanly or produce a consistent Image, never crash. GIF
// takes giflib's path, everything else SDL_image's (and a JPEG shrunk for a thumbnail, libjpeg's); the seeds in corpus/image_load/ start it on GIFs
// (animated, interlaced, transparent, cut short, claiming enormous sizes).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/load.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumo::gfx;
    static auto imaging = lumo::platform::make_sdl_imaging();
    static Screen screen = [] {
        Screen s;
        InitScreen(s, 48, 80, 2, 96, kRgb565, 96);
        return s;
    }();
    screen.imaging = imaging.get();
    std::span<const std::uint8_t> bytes(data, size);
    // A GIF screen of up to 4096 x 4096 is allowed, but decoding one takes seconds under the
    // sanitizers; the unit tests load the large ones and the fuzzer spends its time on structure.
    if (size >= 10 && data[0] == 'G' && (data[6] | data[7] << 8) * (data[8] | data[9] << 8) > 512 * 512)
        return 0;
    Image img;
    const int fit = size ? data[size - 1] % 5 : 0;
    if (LoadImageMemory(img, screen, bytes, size & 1, fit, 0, 0)) {
        if (img.empty()) __builtin_trap();
        DrawImage(img, screen, -3, -3, 0, 0, 0, kCopy, 32);
    }
    // The shrinking decode thumbnails use (JPEG through libjpeg directly): whole or refused.
    if (auto pic = imaging->open_memory_reduced(bytes, 1 + (size & 255))) {
        std::vector<std::uint8_t> rgba(std::size_t(pic->width()) * std::size_t(pic->height()) * 4);
        if (pic->width() <= 0 || pic->height() <= 0 || !pic->read_rgba(pic->width(), pic->height(), rgba))
            __builtin_trap();
    }
    // The decoder's own result: every frame whole, one delay each.
    if (auto anim = imaging->load_animation_memory(bytes)) {
        if (anim->width <= 0 || anim->height <= 0 || anim->frames.empty() ||
            anim->frames.size() != anim->delays_ms.size())
            __builtin_trap();
        for (const auto& f : anim->frames)
            if (f.size() != std::size_t(anim->width) * std::size_t(anim->height) * 4) __builtin_trap();
    }
    if (int frames = LoadAnimationMemory(img, screen, bytes); frames > 0) {
        if (img.empty() || img.width % frames != 0) __builtin_trap();
        for (int i = 0; i < frames; ++i)
            DrawImagePart(img, screen, 0, 0, img.width / frames, img.height, i * (img.width / frames), 0, kCopy, 32);
        GetFrameDelay(img, frames);
    }
    return 0;
}
