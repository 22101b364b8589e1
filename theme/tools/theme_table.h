// The picture table of the default theme (theme/pictures.txt), read once and shared by the
// theme builder, the contact sheet and the theme tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumo::theme {

enum class Mode { Alpha, Key, Opaque };

// One picture after family expansion. Sizes are in 96-dpi layout units; a size of -1 stands for
// the screen width (W) and -2 for the screen height (H) of the profile.
struct Picture {
    std::string path;   // relative to gfx (or to My Pictures for the "sample" group), '/' separated
    std::string group;
    int width = 0;
    int height = 0;
    int cells = 1;
    int rows = 1;
    Mode mode = Mode::Alpha;
    std::string art;
    std::string arg;
    std::string item;   // the text a brace family expanded to, else the file name without extension
    int line = 0;
};

// A device profile the theme is rendered for.
struct Profile {
    const char* name;      // "192" or "96"
    const char* gfx_dir;   // below the staging root
    int scale;             // pixels per layout unit
    int screen_width;      // pixels
    int screen_height;
};

inline constexpr Profile kProfiles[] = {
    {"192", "Program Files/Lumo/gfx", 2, 480, 800},
    {"96", "Program Files/Lumo/gfx96", 1, 240, 320},
};

inline constexpr const char* kPicturesDir = "My Documents/My Pictures";

struct Table {
    std::vector<Picture> pictures;
    std::string error;  // empty when the table was read without fault
};

Table read_table(const std::string& path);

// Pixel size of a picture for a profile.
int pixel_width(const Picture& p, const Profile& profile);
int pixel_height(const Picture& p, const Profile& profile);

// Path of the picture's output file below the staging root, or nullopt when the picture is not
// made for that profile (samples exist for the default profile only).
std::optional<std::string> stage_path(const Picture& p, const Profile& profile);

// Pictures whose art is empty on purpose (blank digits, spaces) and so carry no visible pixel.
bool is_blank(const Picture& p);

}  // namespace lumo::theme
