#include "display_window.h"

#include <SDL.h>

#include <cstdlib>
#include <vector>

namespace lumo::host {

namespace {
// The default device profile's screen, shown at half size so it fits a laptop display.
constexpr int kWidth = 480, kHeight = 800, kScaleDown = 2;
}  // namespace

bool DisplayWindow::display_available() {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver && std::string(driver) == "dummy") return false;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

DisplayWindow::~DisplayWindow() {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    if (sdl_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool DisplayWindow::open(const std::string& device_dir, std::string* error) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        if (error) *error = SDL_GetError();
        return false;
    }
    sdl_ = true;
    std::string title = "Lumo phone - " + device_dir;
    window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                               kWidth / kScaleDown, kHeight / kScaleDown, SDL_WINDOW_RESIZABLE);
    if (window_) renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (renderer_)
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB565,
                                     SDL_TEXTUREACCESS_STREAMING, kWidth, kHeight);
    if (!texture_) {
        if (error) *error = SDL_GetError();
        return false;
    }
    SDL_RenderSetLogicalSize(renderer_, kWidth, kHeight);
    // Until the display service draws into it, the screen is the phone's dark glass.
    std::vector<std::uint16_t> dark(kWidth * kHeight, 0x0841);
    SDL_UpdateTexture(texture_, nullptr, dark.data(), kWidth * 2);
    return true;
}

bool DisplayWindow::pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e))
        if (e.type == SDL_QUIT) return false;
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
    return true;
}

}  // namespace lumo::host
