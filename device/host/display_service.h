#pragma once
// The phone's display: the shared RGB565 frame the device's programs draw into, the profile that
// sizes it, the composed picture the person sees (the programs' frame with the host's own windows
// drawn over it), screenshots, and the stylus, which reaches the window under the point.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "display_window.h"
#include "host.h"
#include "lumo/platform/windows.h"

namespace lumo::platform {
class Imaging;
class FontEngine;
class Font;
}  // namespace lumo::platform

namespace lumo::wire {
struct FrameHeader;
}

namespace lumo::host {

class WindowService;
struct HostWindow;

// A phone model the device can be: the screen and what the system reports about itself.
struct DeviceProfile {
    const char* name;
    int width, height, dpi;
    const char16_t* oem;
    std::uint32_t major, minor, build;
    bool wm65 = false;  // Windows Mobile 6.5: the shell has the 6.5 start menu
    bool keyboard = false;  // a slide-out keyboard
    std::uint32_t leds = 2;  // notification LEDs; the last drives the vibrator
    // The maker's own registry settings the phone has (HTC's long-press end key, Samsung's
    // optical mouse), from the OEM name.
    enum class Vendor : std::uint8_t { None, Htc, Samsung } vendor = Vendor::None;
};
// What lumo-device was told about the phone's model; an empty field was not given.
struct ProfileChoice {
    std::string profile;  // vga (the default) or qvga
    std::string shell;    // 6.1 (the default) or 6.5: the 6.5 shell has its start menu
    std::string oem;      // a name of the OEM table; lumo (the default) keeps the profile's own
    enum class Field { Profile, Shell, Oem };
    // The accepted values, separated by '|'.
    static std::string names(Field f);
    static bool valid(Field f, const std::string& value);
};
// Settles the phone's model from the options and the record in DIR/profile, and records it. A
// folder keeps its screen (its pictures were installed for it): another --profile is refused.
// The shell version and the OEM string may change; the new ones are recorded.
bool settle_profile(const std::filesystem::path& dir, const ProfileChoice& given,
                    std::string* error);
// The settled profile (vga with its own OEM string and the 6.1 shell until settled).
const DeviceProfile& chosen_profile();

class DisplayService final : public DisplaySink {
public:
    DisplayService(Host& host, WindowService& windows);
    ~DisplayService() override;
    // False when the shared frame could not be made (the device then has no display).
    bool ready() const { return header_ != nullptr; }

    // Composes what the display shows now, as the person sees it: turned with the display.
    const std::uint16_t* frame() override;
    int frame_width() const override { return width_; }
    int frame_height() const override { return height_; }
    // The stylus: posts button and move messages to the window under the point, or to the
    // window that took the button-down while it is held. Returns the window reached.
    platform::Hwnd stylus(Touch action, int x, int y);
    void touch(Touch action, int x, int y) override { stylus(action, x, y); }
    void key(std::uint8_t vk, bool up) override;

    // The device's local wall-clock milliseconds since 1970, for the Today screen's clock.
    std::function<std::int64_t()> local_time;
    // The phone is switched off (the power button boots it); said on the status line.
    bool switched_off = false;
    // How lit the panel is, and whether the phone is suspended; set by the power manager.
    enum class Light { On, Dim, Off };
    void set_light(Light light, bool suspended = false) {
        light_ = light;
        suspended_ = suspended;
    }
    // What the window shows under the screen: the phone's state and the way out of it.
    std::string status_line() override;
    // Called for every touch before it is delivered; false drops it (the display is off).
    // Set by the power manager.
    std::function<bool()> touch_gate;

private:
    void register_handlers();
    bool make_frame(std::string* error);
    // Title bar height and padding of host windows.
    std::pair<int, int> box_metrics() const;
    std::vector<std::u16string> wrap(const std::u16string& text, int width);
    void draw_host_window(const std::u16string& title, const std::u16string& text,
                          const platform::Rect& r, std::u16string_view answer);
    void draw_home_screen(const platform::Rect& r);
    void draw_task_bar(const platform::Rect& r);
    bool draw_shell_control(const HostWindow& w);
    void fill(const platform::Rect& r, std::uint16_t colour);
    void draw_text(const std::u16string& text, int x, int y, int right, std::uint16_t colour,
                   platform::Font* font = nullptr);
    int text_width(const std::u16string& text, platform::Font* font);
    platform::Hwnd window_at(int x, int y);
    // Turns the screen as the programs and the person see it; the panel's memory keeps its own
    // portrait layout.
    void turn(int degrees);
    // Where the pixel seen at (x, y) lies in the panel's memory: origin + x * xstep + y * ystep,
    // in pixels.
    struct Walk {
        std::ptrdiff_t origin, xstep, ystep;
    };
    Walk walk() const;

    Host& host_;
    WindowService& windows_;
    const DeviceProfile& profile_;
    int panel_width_ = 0, panel_height_ = 0;  // the panel's own portrait layout
    int width_ = 0, height_ = 0;              // as seen: exchanged at 90 and 270 degrees
    int degrees_ = 0;
    wire::FrameHeader* header_ = nullptr;
    std::size_t map_size_ = 0;
    std::vector<std::uint16_t> composed_;
    platform::Hwnd capture_ = 0;
    platform::Hwnd last_presenter_ = 0;
    std::unique_ptr<platform::FontEngine> fonts_;
    std::unique_ptr<platform::Font> font_;
    std::unique_ptr<platform::Font> clock_font_;
    Light light_ = Light::On;
    bool suspended_ = false;
    std::vector<std::uint8_t> coverage_;
    // Pictures being fetched by screenshot requests, by client.
    struct Shot {
        int width = 0, height = 0;
        std::vector<std::byte> bytes;
    };
    std::map<std::uint32_t, Shot> shots_;
    static constexpr std::size_t kScreenshotPiece = 60000;
};

}  // namespace lumo::host
