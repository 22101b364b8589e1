#pragma once
// Loading pictures through the platform's imaging library into Images in the screen's format.
// A picture that cannot be opened or decoded gives false and leaves the Image as it was.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "lumo/gfx/image.h"

namespace lumo::gfx {

// How a picture is sized against a target (0 × 0: the screen in its current orientation).
enum FitMode : int {
    kFitNative = 0,       // as it is
    kFitLongSide = 1,     // larger than the long side both ways: scaled so one side is the long side
    kFitThumbnail = 2,    // the same test, scaled by the library's thumbnail rule
    kFitShrinkInside = 3, // larger than the short side either way: fitted inside
    kFitInside = 4,       // always fitted inside, enlarged or reduced
};

// The output size for a picture of pic_w × pic_h against a target of target_w × target_h.
Size FitSize(int mode, int pic_w, int pic_h, int target_w, int target_h);

// True for names ending in ".png" in any case: only those get an alpha plane.
bool HasPngName(std::u16string_view path);

// The one loader entry point: no path copies the back buffer; `keep` keeps the decoded picture
// for RefitImage.
bool LoadImage(Image& img, Screen& s, std::optional<std::u16string_view> path, int fit,
               int target_w, int target_h, bool keep);
bool LoadImageFile(Image& img, Screen& s, std::u16string_view path, int fit, int target_w,
                   int target_h);
bool LoadImageKeep(Image& img, Screen& s, std::u16string_view path, int fit, int target_w,
                   int target_h);
// Produces the kept picture again at another fit (the wallpaper after a rotation).
bool RefitImage(Image& img, Screen& s, int fit, int target_w, int target_h);
// The conversion step on its own, for pictures that do not come from a file.
bool LoadImageFromPicture(Image& img, Screen& s, const platform::DecodedPicture& pic,
                          bool png_name, int fit, int target_w, int target_h);
bool LoadImageMemory(Image& img, Screen& s, std::span<const std::uint8_t> bytes, bool png_name,
                     int fit, int target_w, int target_h);

// Every frame side by side in one horizontal strip, with the frame delays of a GIF kept in the
// Image in hundredths of a second. Returns the frame count, 0 on failure.
int LoadAnimation(Image& img, Screen& s, std::u16string_view path);
int LoadAnimationMemory(Image& img, Screen& s, std::span<const std::uint8_t> bytes);
// The n-th (from 1) frame delay in hundredths of a second; 0 when there is none.
int GetFrameDelay(const Image& img, int n);

// The personal-information store's contact pictures, as the contact picture loader needs them.
// Implemented by the PIM service.
class ContactPictures {
public:
    virtual ~ContactPictures() = default;
    // The encoded picture of the contact matching `key` (kind 1: phone number, 2: e-mail address,
    // 4: file-as name); nullopt when there is no such contact or it has no picture.
    virtual std::optional<std::vector<std::uint8_t>> picture(std::u16string_view key, int kind) = 0;
};

enum class ContactFit { Screen, HalfScreen, Square };
// Looks the contact up, decodes its picture and fits it keeping its aspect to the screen, half the
// screen, or a size × size square. False when there is no contact or no picture.
bool LoadContactPicture(Image& img, Screen& s, ContactPictures& store, std::u16string_view key,
                        int kind, ContactFit fit, int size);

}  // namespace lumo::gfx
