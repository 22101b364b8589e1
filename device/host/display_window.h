#pragma once
// The phone's screen on the person's desktop: an SDL2 window showing the device's display, with
// the mouse as the stylus and a few desktop keys as the phone's hardware keys.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace lumo::platform {
class FontEngine;
class Font;
}  // namespace lumo::platform

namespace lumo::host {

// What the window shows and where its input goes; the display service is one.
class DisplaySink {
public:
    virtual ~DisplaySink() = default;
    virtual int frame_width() const = 0;
    virtual int frame_height() const = 0;
    // The frame to show now (frame_width × frame_height RGB565 pixels, rows without gaps).
    virtual const std::uint16_t* frame() = 0;
    enum class Touch { Down = 1, Move = 2, Up = 3 };
    virtual void touch(Touch action, int x, int y) = 0;
    virtual void key(std::uint8_t vk, bool up) = 0;
    // One line on what the phone is doing, shown under the screen ("display off - press the
    // power button"); a dark screen alone does not tell a person whether the phone runs.
    virtual std::string status_line() { return {}; }
};

class DisplayWindow {
public:
    // True when a desktop display is there to open a window on.
    static bool display_available();
    // The open window of a device folder, if any (the display service attaches to it).
    static DisplayWindow* find(const std::string& device_dir);
    DisplayWindow();
    ~DisplayWindow();
    bool open(const std::string& device_dir, std::string* error);
    // Handles pending window events and redraws; false once the person closed the window.
    bool pump();
    void attach(DisplaySink* sink);
    // Draws the window now and reads back what it shows (ARGB8888, rows without gaps); for tests
    // under SDL's dummy video driver.
    bool snapshot(std::vector<std::uint32_t>& pixels, int& width, int& height);
    // Where the window stands on the desktop, its title bar included, and the desktop's usable
    // area.
    struct Place {
        int x, y, width, height;
    };
    Place place() const;
    Place usable() const;
    // Layout in display pixels (the renderer's logical size): the screen, then the status line,
    // then the buttons.
    static constexpr int kStatusStrip = 28;
    static constexpr int kButtonStrip = 64;

  private:
    bool make_texture(int width, int height);
    void draw();
    void draw_status();
    void keep_on_desktop();
    // A line of text as a white texture with the text's coverage as alpha, cached by text.
    SDL_Texture* text_texture(const std::string& text, int height, int& w, int& h);

    std::string dir_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    int width_ = 0, height_ = 0;
    bool sdl_ = false;
    DisplaySink* sink_ = nullptr;
    bool button_down_ = false;
    std::uint8_t held_key_ = 0;  // a side button held with the mouse
    void draw_buttons();
    std::uint32_t last_frame_ms_ = 0;
    std::unique_ptr<platform::FontEngine> fonts_;
    std::map<int, std::unique_ptr<platform::Font>> fonts_by_height_;
    struct Label {
        SDL_Texture* texture;
        int w, h;
    };
    std::map<std::pair<std::string, int>, Label> labels_;
};

}  // namespace lumo::host
