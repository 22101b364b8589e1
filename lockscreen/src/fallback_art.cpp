// Drawn stand-ins for the pictures the lock screen cannot be left without. A theme whose knob
// does not decode must not lock the user out: the slider is drawn from these instead.
#include <algorithm>
#include <cmath>

#include "lumo/gfx/image.h"
#include "lumo/gfx/load.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"

namespace lumo::lockscreen {

namespace {

constexpr int kSamples = 4;  // per side, for smooth edges

// Distance from p to the segment a-b.
double segment_distance(double px, double py, double ax, double ay, double bx, double by) {
    double dx = bx - ax, dy = by - ay;
    double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    double ex = px - (ax + t * dx), ey = py - (ay + t * dy);
    return std::sqrt(ex * ex + ey * ey);
}

// Inside a rectangle with rounded corners of radius r.
bool in_rounded(double x, double y, double w, double h, double r) {
    double cx = std::clamp(x, r, w - r), cy = std::clamp(y, r, h - r);
    double dx = x - cx, dy = y - cy;
    return x >= 0 && y >= 0 && x <= w && y <= h && dx * dx + dy * dy <= r * r;
}

struct Rgb {
    int r, g, b;
};

// One knob frame at (x0, 0): a rounded plate with a chevron pointing right.
void knob_frame(const Context& c, gfx::Image& img, int x0, int fw, int h, Rgb plate, Rgb arrow) {
    const auto& f = c.screen.format;
    const std::uint16_t plate_px = gfx::RGBTo565(f, plate.r, plate.g, plate.b);
    const std::uint16_t arrow_px = gfx::RGBTo565(f, arrow.r, arrow.g, arrow.b);
    const double inset = fw * 0.06, radius = h * 0.22;
    const double pw = fw - 2 * inset, ph = h - 2 * inset;
    // The chevron: two strokes meeting at the right.
    const double cx = fw * 0.5, cy = h * 0.5, arm = h * 0.17, stroke = std::max(2.0, h * 0.09);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < fw; ++x) {
            int in_plate = 0, in_arrow = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    double px = x + (sx + 0.5) / kSamples, py = y + (sy + 0.5) / kSamples;
                    if (!in_rounded(px - inset, py - inset, pw, ph, radius)) continue;
                    ++in_plate;
                    double tipx = cx + arm * 0.5;
                    if (segment_distance(px, py, tipx - arm, cy - arm, tipx, cy) <= stroke / 2 ||
                        segment_distance(px, py, tipx - arm, cy + arm, tipx, cy) <= stroke / 2)
                        ++in_arrow;
                }
            const int n = kSamples * kSamples;
            // The chevron's edges mix with the plate; the plate's edges fade out.
            std::uint16_t px = plate_px;
            if (in_arrow == in_plate && in_plate) {
                px = arrow_px;
            } else if (in_arrow) {
                auto mix = [&](int a, int b) { return (a * (in_plate - in_arrow) + b * in_arrow) / in_plate; };
                px = gfx::RGBTo565(f, mix(plate.r, arrow.r), mix(plate.g, arrow.g), mix(plate.b, arrow.b));
            }
            img.at(x0 + x, y) = px;
            img.alpha_row(y)[x0 + x] = std::uint8_t((in_plate * 32 + n / 2) / n);
        }
    }
}

}  // namespace

void draw_knob_picture(Context& c, gfx::Image& img) {
    const int fw = gfx::ScaleUnit(c.screen, 48), h = gfx::ScaleUnit(c.screen, 40);
    if (!gfx::ResizeBuffers(img, 2 * fw, h, true)) return;
    img.kept.reset();
    knob_frame(c, img, 0, fw, h, {40, 120, 230}, {255, 255, 255});
    knob_frame(c, img, fw, fw, h, {230, 230, 230}, {0, 50, 240});
}

void draw_track_picture(Context& c, gfx::Image& img) {
    gfx::FillImage(img, c.screen, gfx::ScaleUnit(c.screen, 202), gfx::ScaleUnit(c.screen, 40), 0x40, false, 32);
}

bool load_needed_picture(Context& c, gfx::Image& img, std::u16string_view file, DrawnPicture draw) {
    if (gfx::LoadImageFile(img, c.screen, gfx_path(c, file), gfx::kFitNative, 0, 0)) return true;
    c.log.printf("Picture %s cannot be loaded: drawn instead", platform::to_utf8(file).c_str());
    draw(c, img);
    return false;
}

}  // namespace lumo::lockscreen
