#pragma once
// Pictures in the display's own 16-bit format with an optional alpha plane (0..32 per pixel), and
// the operations that make or change them. Buffers only grow: re-rendering a text or reloading a
// picture reuses the blocks it already has.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "lumo/gfx/screen.h"
#include "lumo/platform/imaging.h"

namespace lumo::gfx {

// The decoded picture LoadImageKeep keeps, with what re-fitting it later needs to know.
struct KeptPicture : platform::ImagingObject {
    std::unique_ptr<platform::DecodedPicture> picture;
    bool png_name = false;  // the alpha rule applies
};

struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::unique_ptr<std::uint16_t[]> pixels;  // width × height, top row first, no gaps
    std::size_t pixel_capacity = 0;           // bytes
    std::unique_ptr<std::uint8_t[]> alpha;    // width × height, 0..32
    std::size_t alpha_capacity = 0;           // 0: the Image has no alpha
    std::vector<std::uint16_t> frame_delays;  // animations: hundredths of a second per frame
    std::unique_ptr<KeptPicture> kept;        // LoadImageKeep's source
    std::unique_ptr<platform::ImagingObject> extra;  // second platform slot, released on free

    bool has_alpha() const { return alpha_capacity != 0; }
    bool empty() const { return width <= 0 || height <= 0 || !pixels; }
    std::uint16_t* row(int y) { return pixels.get() + std::ptrdiff_t(y) * width; }
    const std::uint16_t* row(int y) const { return pixels.get() + std::ptrdiff_t(y) * width; }
    std::uint8_t* alpha_row(int y) { return alpha.get() + std::ptrdiff_t(y) * width; }
    const std::uint8_t* alpha_row(int y) const { return alpha.get() + std::ptrdiff_t(y) * width; }
    std::uint16_t& at(int x, int y) { return row(y)[x]; }
    std::uint16_t at(int x, int y) const { return row(y)[x]; }
};

// Sizes the Image to w × h, growing its pixel block when needed; with `with_alpha` an alpha plane
// of the same size is kept (grown as needed), else the alpha plane is dropped. Contents are not
// cleared. False when memory is short or the size is not positive; the Image is then unchanged.
bool ResizeBuffers(Image& img, int w, int h, bool with_alpha);

// Every byte of the pixels set to `byte`; w or h 0 means the logical screen size. With
// `with_alpha` the alpha plane is set to `alpha`, else the Image has none.
bool FillImage(Image& img, const Screen& s, int w, int h, std::uint8_t byte, bool with_alpha,
               int alpha);
// Alpha 0 where a pixel equals the top-left one, `a` elsewhere.
bool KeyToAlpha(Image& img, int a);
// Box blur with an n × n window (n made odd); the alpha plane likewise (capped at 32) with a
// border n/2 wide set to 0. dst may be src.
bool BlurImage(Image& dst, const Screen& s, const Image& src, int n);
// The w × h rectangle at x, y of src (w or h 0: the whole picture). Parts outside src are filled
// with `fill` (alpha 0). dst may be src.
bool CropImage(Image& dst, const Image& src, int w, int h, int x, int y, std::uint8_t fill);
// Scales to w × h (0 = source size); keep_aspect fits the source inside w × h. Nearest neighbour
// keeps the alpha plane; bilinear makes a picture without one.
bool ResizeImage(Image& dst, const Screen& s, const Image& src, int w, int h, bool bilinear,
                 bool keep_aspect);
// turn: 1 = 90°, 2 = 180°, 4 = 270° clockwise (0 copies). dst may be src.
bool RotateImage(Image& dst, const Image& src, int turn);
bool MirrorImage(Image& dst, const Image& src);
// The bottom `rows` rows (0 = half) upside down with every alpha 20.
bool MakeReflection(Image& dst, const Image& src, int rows);
inline constexpr int kReflectionAlpha = 20;
// Replaces the alpha plane with a band of `width` columns starting at x: rising, full, falling.
bool MakeShineMask(Image& img, int x, int width);
// The back buffer as the program sees it (logical orientation), into an Image of the logical size.
bool ImageFromBackBuffer(Image& img, const Screen& s);
// What the display shows now, in logical orientation; false when the back-end cannot read it.
bool CaptureScreen(Image& img, Screen& s);
// Releases the kept source, platform objects and frame delays; frees the pixel and alpha blocks
// only with `free_pixels`. Sizes become 0.
void ReleaseImage(Image& img, bool free_pixels);

// Fitting a picture inside w × h keeping its aspect (sides within 1 of the box snap to it).
struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};
Size FitInside(int pic_w, int pic_h, int w, int h);

}  // namespace lumo::gfx
