#pragma once
// Whole-screen effects and solid fills on the back buffer.
#include <cstdint>

#include "lumo/gfx/screen.h"

namespace lumo::gfx {

// Every byte of the back buffer set to `byte`.
void ClearScreen(Screen& s, std::uint8_t byte);
// The rectangle (corners in either order, clipped) in the selected brush's colour; alpha 32
// writes, less blends. False (error 113) without a brush.
bool FillRect(Screen& s, int x1, int y1, int x2, int y2, int alpha);
// Row y from x1 to x2 (either order, inclusive), clipped; nothing when y is off the screen.
void DrawHLine(Screen& s, int x1, int y, int x2, std::uint16_t colour, int alpha);
// Each pixel to grey = (5-bit green + red + blue) / 3 in all three fields.
void GreyScreen(Screen& s);
// Darkens the shown frame in passes of at least 50 ms (alpha 31 down by `step`, compounding),
// then presents black. Returns the number of darkening passes.
int FadeScreenOut(Screen& s, int step);

inline constexpr int kFadeStartAlpha = 31;
inline constexpr int kFadeLowestAlpha = 5;
inline constexpr std::uint32_t kFadePassMs = 50;

}  // namespace lumo::gfx
