#include "display_window.h"

#include <cmath>

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::host {

namespace {
// The default device profile's screen until a display service attaches.
constexpr int kDefaultWidth = 480, kDefaultHeight = 800;
constexpr std::uint16_t kDarkGlass = 0x0841;
constexpr std::uint32_t kFrameIntervalMs = 16;
// Below the screen: the phone's side buttons, power and volume, each labelled with its name and
// the desktop key that presses it too.
struct SideButton {
    std::uint8_t vk;
    char glyph;  // 'p' power, '-' volume down, '+' volume up
    const char* label;
    const char* short_label;  // where the long one does not fit
};
constexpr SideButton kButtons[] = {{0xDF, 'p', "Power (P)", "P"},
                                   {0x76, '-', "Vol (PgDn)", "PgDn"},
                                   {0x75, '+', "Vol (PgUp)", "PgUp"}};

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
    {SDLK_LEFT, 0x25},   {SDLK_UP, 0x26},     {SDLK_RIGHT, 0x27},  {SDLK_DOWN, 0x28},
    {SDLK_RETURN, 0x0D}, {SDLK_ESCAPE, 0x1B}, {SDLK_F1, 0x70},     {SDLK_F2, 0x71},
    {SDLK_F3, 0x72},     {SDLK_F4, 0x73},     {SDLK_PAGEUP, 0x75}, {SDLK_PAGEDOWN, 0x76},
    {SDLK_p, 0xDF},
};

int text_height(int width) {
    return width >= 400 ? 18 : 11;
}
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

DisplayWindow::DisplayWindow() = default;

DisplayWindow::~DisplayWindow() {
    if (!dir_.empty()) open_windows().erase(dir_);
    for (auto& [key, label] : labels_) SDL_DestroyTexture(label.texture);
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
    const int total = height + kStatusStrip + kButtonStrip;
    SDL_RenderSetLogicalSize(renderer_, width, total);
    std::vector<std::uint16_t> dark(std::size_t(width) * height, kDarkGlass);
    SDL_UpdateTexture(texture_, nullptr, dark.data(), width * 2);
    SDL_Rect usable{0, 0, width, total};
    int w = width, h = total;
    if (SDL_GetDisplayUsableBounds(SDL_GetWindowDisplayIndex(window_), &usable) == 0) {
        int max_h = usable.h * 9 / 10, max_w = usable.w * 9 / 10;
        if (h > max_h) w = w * max_h / h, h = max_h;
        if (w > max_w) h = h * max_w / w, w = max_w;
    }
    SDL_SetWindowSize(window_, std::max(w, 1), std::max(h, 1));
    keep_on_desktop();
    return true;
}

// A window placed for its first, larger size can stand partly off the desktop once it shrank
// (above the top edge on a 768-pixel screen): move it back in, title bar included.
void DisplayWindow::keep_on_desktop() {
    auto u = usable();
    auto p = place();
    if (u.width <= 0 || u.height <= 0) return;
    int x = std::clamp(p.x, u.x, std::max(u.x, u.x + u.width - p.width));
    int y = std::clamp(p.y, u.y, std::max(u.y, u.y + u.height - p.height));
    if (x == p.x && y == p.y) return;
    int wx = 0, wy = 0;
    SDL_GetWindowPosition(window_, &wx, &wy);
    SDL_SetWindowPosition(window_, wx + (x - p.x), wy + (y - p.y));
}

DisplayWindow::Place DisplayWindow::place() const {
    int x = 0, y = 0, w = 0, h = 0, top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    SDL_GetWindowSize(window_, &w, &h);
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0)
        top = left = bottom = right = 0;
    return {x - left, y - top, w + left + right, h + top + bottom};
}

DisplayWindow::Place DisplayWindow::usable() const {
    SDL_Rect u{0, 0, 0, 0};
    if (SDL_GetDisplayUsableBounds(std::max(0, SDL_GetWindowDisplayIndex(window_)), &u) != 0)
        return {0, 0, 0, 0};
    return {u.x, u.y, u.w, u.h};
}

void DisplayWindow::attach(DisplaySink* sink) {
    sink_ = sink;
    if (sink_ && (sink_->frame_width() != width_ || sink_->frame_height() != height_))
        make_texture(sink_->frame_width(), sink_->frame_height());
}

bool DisplayWindow::pump() {
    SDL_Event e;
    const int buttons_top = height_ + kStatusStrip;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_QUIT: return false;
        // With a logical size set, SDL hands mouse positions in display pixels already.
        case SDL_MOUSEBUTTONDOWN:
            if (sink_ && e.button.button == SDL_BUTTON_LEFT && e.button.y >= buttons_top) {
                // A side button: pressed while the mouse button is held.
                int i = e.button.x * int(std::size(kButtons)) / std::max(width_, 1);
                if (i >= 0 && i < int(std::size(kButtons))) {
                    held_key_ = kButtons[i].vk;
                    sink_->key(held_key_, false);
                }
            } else if (sink_ && e.button.button == SDL_BUTTON_LEFT && e.button.y < height_) {
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
                sink_->touch(DisplaySink::Touch::Up, e.button.x, std::min(e.button.y, height_ - 1));
            }
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (!sink_ || e.key.repeat) break;
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
    draw();
    SDL_RenderPresent(renderer_);
    return true;
}

void DisplayWindow::draw() {
    if (sink_) SDL_UpdateTexture(texture_, nullptr, sink_->frame(), width_ * 2);
    SDL_SetRenderDrawColor(renderer_, 24, 26, 30, 255);
    SDL_RenderClear(renderer_);
    SDL_Rect screen{0, 0, width_, height_};
    SDL_RenderCopy(renderer_, texture_, nullptr, &screen);
    draw_status();
    draw_buttons();
}

bool DisplayWindow::snapshot(std::vector<std::uint32_t>& pixels, int& width, int& height) {
    if (!renderer_) return false;
    draw();
    if (SDL_GetRendererOutputSize(renderer_, &width, &height) != 0) return false;
    pixels.assign(std::size_t(width) * height, 0);
    // Read the whole output, not the logical viewport only.
    SDL_RenderSetLogicalSize(renderer_, 0, 0);
    SDL_RenderSetViewport(renderer_, nullptr);
    bool ok = SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(),
                                   width * 4) == 0;
    SDL_RenderSetLogicalSize(renderer_, width_, height_ + kStatusStrip + kButtonStrip);
    SDL_RenderPresent(renderer_);
    return ok;
}

SDL_Texture* DisplayWindow::text_texture(const std::string& text, int height, int& w, int& h) {
    auto key = std::make_pair(text, height);
    if (auto it = labels_.find(key); it != labels_.end()) {
        w = it->second.w;
        h = it->second.h;
        return it->second.texture;
    }
    if (!fonts_) fonts_ = platform::make_sdl_fonts();
    if (!fonts_) return nullptr;
    auto& font = fonts_by_height_[height];
    if (!font) font = fonts_->create_font(height, 400);
    std::vector<std::uint8_t> coverage;
    if (!font || !font->render_line(platform::to_u16(text), coverage, w) || w <= 0) return nullptr;
    h = font->line_height();
    std::vector<std::uint32_t> argb(coverage.size());
    for (std::size_t i = 0; i < coverage.size(); ++i)
        argb[i] = (std::uint32_t(coverage[i]) << 24) | 0xFFFFFF;
    SDL_Texture* t =
        SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC, w, h);
    if (!t) return nullptr;
    SDL_UpdateTexture(t, nullptr, argb.data(), w * 4);
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    labels_[key] = {t, w, h};
    return t;
}

// What the phone is doing, in a line between the screen and the buttons.
void DisplayWindow::draw_status() {
    SDL_Rect strip{0, height_, width_, kStatusStrip};
    SDL_SetRenderDrawColor(renderer_, 16, 17, 20, 255);
    SDL_RenderFillRect(renderer_, &strip);
    if (!sink_) return;
    auto line = sink_->status_line();
    if (line.empty()) return;
    int w = 0, h = 0;
    SDL_Texture* t = text_texture(line, text_height(width_), w, h);
    if (!t) return;
    // Cut at the window's edge rather than squeezed.
    int shown = std::min(w, width_ - 8);
    SDL_Rect src{0, 0, shown, h};
    SDL_Rect dst{(width_ - shown) / 2, height_ + (kStatusStrip - h) / 2, shown, h};
    bool lit = line.rfind("on", 0) == 0;
    SDL_SetTextureColorMod(t, lit ? 200 : 255, lit ? 205 : 196, lit ? 212 : 64);
    SDL_RenderCopy(renderer_, t, &src, &dst);
}

// Flat keys with a drawn symbol and a label naming the button and its desktop key.
void DisplayWindow::draw_buttons() {
    int n = int(std::size(kButtons));
    int w = width_ / n;
    const int top = height_ + kStatusStrip;
    for (int i = 0; i < n; ++i) {
        SDL_Rect key{i * w + 8, top + 10, w - 16, kButtonStrip - 20};
        bool held = held_key_ == kButtons[i].vk;
        SDL_SetRenderDrawColor(renderer_, held ? 46 : 52, held ? 166 : 56, held ? 255 : 64, 255);
        SDL_RenderFillRect(renderer_, &key);
        int r = key.h / 3;
        // The label beside the symbol when both fit, else the shorter label alone.
        int lw = 0, lh = 0;
        SDL_Texture* label = text_texture(kButtons[i].label, text_height(width_), lw, lh);
        bool beside = label && 2 * r + 18 + lw <= key.w;
        if (label && !beside)
            label = text_texture(kButtons[i].short_label, text_height(width_), lw, lh);
        bool alone = label && !beside && lw + 8 <= key.w;
        int cx = beside ? key.x + (key.w - (2 * r + 6 + lw)) / 2 + r : key.x + key.w / 2;
        int cy = key.y + key.h / 2;
        if (label && (beside || alone)) {
            SDL_Rect dst{beside ? cx + r + 6 : key.x + (key.w - lw) / 2, cy - lh / 2, lw, lh};
            SDL_SetTextureColorMod(label, 235, 238, 242);
            SDL_RenderCopy(renderer_, label, nullptr, &dst);
            if (alone) continue;
        }
        SDL_SetRenderDrawColor(renderer_, 235, 238, 242, 255);
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
