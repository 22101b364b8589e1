#pragma once
// The phone's screen on the person's desktop: an SDL2 window showing the device's display.
#include <memory>
#include <string>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace lumo::host {

class DisplayWindow {
public:
    // True when a desktop display is there to open a window on.
    static bool display_available();
    ~DisplayWindow();
    bool open(const std::string& device_dir, std::string* error);
    // Handles pending window events and redraws; false once the person closed the window.
    bool pump();

private:
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    bool sdl_ = false;
};

}  // namespace lumo::host
