#include "display_window.h"

#include <cmath>

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

namespace lumo::host {

namespace {
// The default device profile's screen until a display service attaches.
constexpr int kDefaultWidth = 480, kDefaultHeight = 800;
constexpr std::uint16_t kDarkGlass = 0x0841;
constexpr std::uint32_t kFrameIntervalMs = 16;
// Below the screen: the phone's side buttons, power and volume.
constexpr int kButtonStrip = 64;
struct SideButton {
    std::uint8_t vk;
    char glyph;  // 'p' power, '-' volume down, '+' volume up
};
constexpr SideButton kButtons[] = {{0xDF, 'p'}, {0x76, '-'}, {0x75, '+'}};

std::map<std::string, DisplayWindow*>& open_windows() {
    static std::map<std::string, DisplayWindow*> windows;
    return windows;
}

// Desktop keys standing for the phone's hardware keys (listed in lumo-device --help).
struct KeyMap {
    SDL_Keycode key;
    std::uint8_t vk;
};
constexpr KeyMap kKeys[] = {
    {SDLK_LEFT, 0x25},   {SDLK_UP, 0x26},     {SDLK_RIGHT, 0x27},    {SDLK_DOWN, 0x28},
    {SDLK_RETURN, 0x0D}, {SDLK_ESCAPE, 0x1B}, {SDLK_F1, 0x70},       {SDLK_F2, 0x71},
    {SDLK_F3, 0x72},     {SDLK_F4, 0x73},     {SDLK_PAGEUP, 0x75},   {SDLK_PAGEDOWN, 0x76},
};
}  // namespace

bool DisplayWindow::display_available() {
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    if (driver && std::string(driver) == "dummy") return false;
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

DisplayWindow* DisplayWindow::find(const std::string& device_dir) {
    auto it = open_windows().find(device_dir);
    return it == open_windows().end() ? nullptr : it->second;
}

DisplayWindow::~DisplayWindow() {
    if (!dir_.empty()) open_windows().erase(dir_);
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
                               kDefaultWidth, kDefaultHeight, SDL_WINDOW_RESIZABLE);
    if (window_) renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (!renderer_ || !make_texture(kDefaultWidth, kDefaultHeight)) {
        if (error) *error = SDL_GetError();
        return false;
    }
    dir_ = device_dir;
    open_windows()[dir_] = this;
    return true;
}

// A streaming texture of the display's size, and a window that shows it whole on the desktop:
// full size when it fits, else scaled down.
bool DisplayWindow::make_texture(int width, int height) {
    if (texture_) SDL_DestroyTexture(texture_);
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                                 width, height);
    if (!texture_) return false;
    width_ = width;
    height_ = height;
    SDL_RenderSetLogicalSize(renderer_, width, height + kButtonStrip);
    std::vector<std::uint16_t> dark(std::size_t(width) * height, kDarkGlass);
    SDL_UpdateTexture(texture_, nullptr, dark.data(), width * 2);
    SDL_Rect usable{0, 0, width, height};
    int w = width, h = height + kButtonStrip;
    if (SDL_GetDisplayUsableBounds(SDL_GetWindowDisplayIndex(window_), &usable) == 0) {
        int max_h = usable.h * 9 / 10, max_w = usable.w * 9 / 10;
        if (h > max_h) w = w * max_h / h, h = max_h;
        if (w > max_w) h = h * max_w / w, w = max_w;
    }
    SDL_SetWindowSize(window_, std::max(w, 1), std::max(h, 1));
    return true;
}

void DisplayWindow::attach(DisplaySink* sink) {
    sink_ = sink;
    if (sink_ && (sink_->frame_width() != width_ || sink_->frame_height() != height_))
        make_texture(sink_->frame_width(), sink_->frame_height());
}

bool DisplayWindow::pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_QUIT: return false;
        // With a logical size set, SDL hands mouse positions in display pixels already.
        case SDL_MOUSEBUTTONDOWN:
            if (sink_ && e.button.button == SDL_BUTTON_LEFT && e.button.y >= height_) {
                // A side button: pressed while the mouse button is held.
                int i = e.button.x * int(std::size(kButtons)) / std::max(width_, 1);
                if (i >= 0 && i < int(std::size(kButtons))) {
                    held_key_ = kButtons[i].vk;
                    sink_->key(held_key_, false);
                }
            } else if (sink_ && e.button.button == SDL_BUTTON_LEFT) {
                button_down_ = true;
                SDL_CaptureMouse(SDL_TRUE);
                sink_->touch(DisplaySink::Touch::Down, e.button.x, e.button.y);
            }
            break;
        case SDL_MOUSEMOTION:
            if (sink_ && button_down_)
                sink_->touch(DisplaySink::Touch::Move, e.motion.x, std::min(e.motion.y, height_ - 1));
            break;
        case SDL_MOUSEBUTTONUP:
            if (sink_ && held_key_ && e.button.button == SDL_BUTTON_LEFT) {
                sink_->key(held_key_, true);
                held_key_ = 0;
            } else if (sink_ && button_down_ && e.button.button == SDL_BUTTON_LEFT) {
                button_down_ = false;
                SDL_CaptureMouse(SDL_FALSE);
                sink_->touch(DisplaySink::Touch::Up, e.button.x, e.button.y);
            }
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (!sink_) break;
            for (const auto& k : kKeys)
                if (k.key == e.key.keysym.sym) sink_->key(k.vk, e.type == SDL_KEYUP);
            break;
        default: break;
        }
    }
    // The host's loop may wake far more often than a screen refreshes.
    std::uint32_t now = SDL_GetTicks();
    if (now - last_frame_ms_ < kFrameIntervalMs) return true;
    last_frame_ms_ = now;
    if (sink_) SDL_UpdateTexture(texture_, nullptr, sink_->frame(), width_ * 2);
    SDL_SetRenderDrawColor(renderer_, 24, 26, 30, 255);
    SDL_RenderClear(renderer_);
    SDL_Rect screen{0, 0, width_, height_};
    SDL_RenderCopy(renderer_, texture_, nullptr, &screen);
    draw_buttons();
    SDL_RenderPresent(renderer_);
    return true;
}

// Flat keys with a drawn symbol: no font is needed for a power sign, a minus and a plus.
void DisplayWindow::draw_buttons() {
    int n = int(std::size(kButtons));
    int w = width_ / n;
    for (int i = 0; i < n; ++i) {
        SDL_Rect key{i * w + 8, height_ + 10, w - 16, kButtonStrip - 20};
        bool held = held_key_ == kButtons[i].vk;
        SDL_SetRenderDrawColor(renderer_, held ? 46 : 52, held ? 166 : 56, held ? 255 : 64, 255);
        SDL_RenderFillRect(renderer_, &key);
        SDL_SetRenderDrawColor(renderer_, 235, 238, 242, 255);
        int cx = key.x + key.w / 2, cy = key.y + key.h / 2, r = key.h / 3;
        SDL_Rect bar{cx - r, cy - 2, 2 * r, 4};
        switch (kButtons[i].glyph) {
        case 'p':
            for (int a = 40; a <= 320; a += 10) {  // an open ring with a bar through its gap
                double t0 = (a - 90) * 3.14159265 / 180, t1 = (a - 80) * 3.14159265 / 180;
                SDL_RenderDrawLine(renderer_, cx + int(r * std::cos(t0)), cy + int(r * std::sin(t0)),
                                   cx + int(r * std::cos(t1)), cy + int(r * std::sin(t1)));
            }
            bar = {cx - 2, cy - r - 2, 4, r};
            SDL_RenderFillRect(renderer_, &bar);
            break;
        case '+': {
            SDL_Rect up{cx - 2, cy - r, 4, 2 * r};
            SDL_RenderFillRect(renderer_, &up);
            SDL_RenderFillRect(renderer_, &bar);
            break;
        }
        default: SDL_RenderFillRect(renderer_, &bar); break;
        }
    }
}

}  // namespace lumo::host
