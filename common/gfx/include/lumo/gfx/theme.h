#pragma once
// The pictures a theme's gfx folder must hold. The lock screen and the settings program check
// them at start-up; the first missing one stops start-up naming its path.
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace lumo::gfx {

struct ThemePicture {
    std::u16string_view file;
    std::string_view used_by;
};

std::span<const ThemePicture> RequiredThemePictures();

// "%s\gfx\%s": a picture in the theme folder under the program folder.
std::u16string ThemePicturePath(std::u16string_view program_folder, std::u16string_view file);

// The path of the first required picture that `exists` rejects, or an empty string.
std::u16string FirstMissingThemePicture(std::u16string_view program_folder,
                                        const std::function<bool(std::u16string_view)>& exists);

}  // namespace lumo::gfx
