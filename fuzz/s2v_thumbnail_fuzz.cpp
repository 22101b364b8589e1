// Feeds arbitrary bytes to the browser's thumbnail cache reader as a cache file would bring them:
// it must refuse anything that is not exactly a thumbnail, or give one that draws and encodes
// back to the same bytes. The seeds in corpus/s2v_thumbnail/ are real thumbnails of both pixel
// formats, one cut short and one claiming more pixels than it holds.
#include <cstddef>
#include <cstdint>

#include "lumo/browser/browser.h"
#include "lumo/gfx/draw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumo::gfx;
    static Screen screen = [] {
        Screen s;
        InitScreen(s, 48, 80, 2, 96, kRgb565, 96);
        return s;
    }();
    std::span<const std::uint8_t> bytes(data, size);
    for (const PixelFormat* f : {&kRgb565, &kRgb555}) {
        Image img;
        if (!lumo::browser::decode_thumbnail(bytes, *f, img)) continue;
        if (img.empty() || img.width > lumo::browser::kMaxThumbSide || img.height > lumo::browser::kMaxThumbSide)
            __builtin_trap();
        DrawImage(img, screen, -3, -3, 0, 0, 0, kCopy, 32);
        auto again = lumo::browser::encode_thumbnail(img, *f);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
    }
    return 0;
}
