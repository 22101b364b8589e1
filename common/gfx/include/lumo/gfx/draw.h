#pragma once
// Drawing Images into the back buffer (through the current rotation) and into other Images.
// Every call clips to its target; a picture partly outside keeps its place.
#include <cstdint>

#include "lumo/gfx/image.h"

namespace lumo::gfx {

// Per source pixel, for a picture without / with an alpha plane:
//   Copy:      copied                               | blended with its own alpha (× call alpha)
//   Constant:  blended with the call's alpha         | as Copy
//   ColourKey: skipped if equal to the top-left pixel, else blended with the call's alpha | as Copy
//   AlphaKey:  nothing drawn                         | skipped if alpha 0 or equal to the key
enum BlendMode : std::uint32_t {
    kCopy = 0x00CC0020,
    kConstant = 1001,
    kColourKey = 1002,
    kAlphaKey = 1003,
};

// width 0 or wider than the picture: the picture's width; height 0: its height. src_x selects a
// column of the picture (a frame of a horizontal strip). False when nothing could be drawn
// because the picture is empty or the mode unknown.
bool DrawImage(const Image& img, Screen& s, int x, int y, int src_x, int width, int height,
               std::uint32_t mode, int alpha);
// The src_w × src_h rectangle at src_x, src_y (0 = to the picture's edge).
bool DrawImagePart(const Image& img, Screen& s, int x, int y, int src_w, int src_h, int src_x,
                   int src_y, std::uint32_t mode, int alpha);
// Row `row` of the picture repeated on `height` screen rows; width 0 = picture width.
bool DrawImageRow(const Image& img, Screen& s, int x, int y, int row, int height, int width,
                  std::uint32_t mode, int alpha);
// A screen-sized picture into the whole back buffer, darkened to a/32 (32 copies). An empty
// picture clears the back buffer to black.
bool DimToScreen(const Image& img, Screen& s, int a);
// One Image into another, clipped to the target. When the target has an alpha plane, each drawn
// pixel's target alpha becomes the pixel's effective alpha.
bool ComposeImage(Image& target, const Screen& s, const Image& src, int x, int y, int w, int h,
                  int src_x, int src_y, std::uint32_t mode, int alpha);

}  // namespace lumo::gfx
