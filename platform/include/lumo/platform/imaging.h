#pragma once
// Picture decoding and font rendering: the phone's imaging library and font engine. The drawing
// library (common/gfx) reaches them only through these interfaces, so it never sees the decoder or
// rasteriser behind them. One implementation, over SDL2_image and SDL2_ttf, lives in
// platform/imaging and is shared by the device client and the fake.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::platform {

// Anything the imaging library hands out that an Image may hold until it is released.
class ImagingObject {
public:
    virtual ~ImagingObject() = default;
};

// A decoded picture kept by the platform, so that it can be produced again at another size (the
// wallpaper is re-fitted after a rotation).
class DecodedPicture : public ImagingObject {
public:
    virtual int width() const = 0;
    virtual int height() const = 0;
    // The file carries transparency (an alpha channel or a transparent palette entry).
    virtual bool has_alpha() const = 0;
    // Writes the picture smoothly scaled to w × h as R, G, B, A bytes, rows without gaps.
    // `out` must hold 4 × w × h bytes. False when the scaling cannot be done.
    virtual bool read_rgba(int w, int h, std::span<std::uint8_t> out) const = 0;
};

// Every frame of an animated picture at the picture's full size, with its delay.
struct DecodedAnimation {
    int width = 0;
    int height = 0;
    bool is_gif = false;
    std::vector<std::vector<std::uint8_t>> frames;  // R, G, B, A bytes, width × height each
    std::vector<int> delays_ms;                     // one per frame, as the decoder reports them
};

// Maps a path as the programs see it (a device path) onto a host file; nullopt when it has none.
using PathResolver = std::function<std::optional<std::filesystem::path>(std::u16string_view)>;

class Imaging {
public:
    virtual ~Imaging() = default;
    // nullptr when the file is missing, not a picture, or cannot be decoded.
    virtual std::unique_ptr<DecodedPicture> open(std::u16string_view path) = 0;
    virtual std::unique_ptr<DecodedPicture> open_memory(std::span<const std::uint8_t> bytes) = 0;
    // Like open, for a picture about to be shown much smaller (a thumbnail): a JPEG is decoded
    // shrunk by 1/2, 1/4 or 1/8, the most that keeps its longer side at least `min_long_side`
    // pixels, and width()/height() are those of the shrunk picture. Other pictures come whole.
    virtual std::unique_ptr<DecodedPicture> open_reduced(std::u16string_view path, int min_long_side) {
        (void)min_long_side;
        return open(path);
    }
    virtual std::unique_ptr<DecodedPicture> open_memory_reduced(std::span<const std::uint8_t> bytes,
                                                                int min_long_side) {
        (void)min_long_side;
        return open_memory(bytes);
    }
    // A picture that is not animated comes back as one frame with is_gif false.
    virtual std::optional<DecodedAnimation> load_animation(std::u16string_view path) = 0;
    virtual std::optional<DecodedAnimation> load_animation_memory(
        std::span<const std::uint8_t> bytes) = 0;
    // Why the calling thread's last open or load failed ("not a regular file", "frame of
    // 65535x65535 is beyond the limit", ...), for logs and tests.
    virtual std::string last_error() const { return {}; }
    // Saves R, G, B, A bytes as a PNG file on the host (screenshots, test pictures).
    virtual bool save_png(const std::filesystem::path& host_path, int width, int height,
                          std::span<const std::uint8_t> rgba) = 0;
};

// One font at one pixel height and weight, with fallbacks for characters the face lacks.
class Font {
public:
    virtual ~Font() = default;
    // Distance between the tops of two lines, in pixels.
    virtual int line_height() const = 0;
    // Advance width of one line of text in pixels.
    virtual int text_width(std::u16string_view text) = 0;
    // Renders one line as coverage bytes (0 = none, 255 = full), line_height() rows of `width`
    // bytes; `coverage` is grown to fit and reused between calls. False on failure.
    virtual bool render_line(std::u16string_view text, std::vector<std::uint8_t>& coverage,
                             int& width) = 0;
};

class FontEngine {
public:
    virtual ~FontEngine() = default;
    // height: cell height in pixels; weight: 400 normal, 700 bold (600 and up render bold).
    virtual std::unique_ptr<Font> create_font(int height, int weight) = 0;
    // The same slanted; an engine without slanted faces gives the upright one.
    virtual std::unique_ptr<Font> create_italic_font(int height, int weight) {
        return create_font(height, weight);
    }
};

// The decoder: giflib for GIF, SDL2_image for PNG, JPEG and BMP, chosen by the file's content.
// Files are read whole, without blocking, and must be regular files of at most kMaxPictureBytes.
// Paths are passed to `resolve` first; without a resolver they are taken as host paths
// (backslashes become slashes).
std::unique_ptr<Imaging> make_sdl_imaging(PathResolver resolve = {});

// The SDL2_ttf engine over the product's font, Tahoma, with DejaVu Sans and, when one is
// installed, a CJK face as fallbacks. nullptr when Tahoma itself cannot be opened.
std::unique_ptr<FontEngine> make_sdl_fonts();

}  // namespace lumo::platform
