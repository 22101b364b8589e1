// Lays every picture of the default theme on one sheet with its name, over a checkerboard so that
// transparency shows, for a person to review the theme at a glance.
//
//   lumo-theme-contact-sheet TABLE STAGE FONT OUT.png [GROUP...]
#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "theme_table.h"

using namespace lumo::theme;

namespace {

constexpr int kSheetWidth = 1800;
constexpr int kMaxSide = 260;  // larger pictures are shown reduced
constexpr int kPad = 10;
constexpr int kLabel = 16;

void checker(SDL_Surface* s, const SDL_Rect& r) {
    const Uint32 a = SDL_MapRGB(s->format, 70, 74, 82), b = SDL_MapRGB(s->format, 110, 114, 122);
    for (int y = r.y; y < r.y + r.h; y += 8)
        for (int x = r.x; x < r.x + r.w; x += 8) {
            SDL_Rect c{x, y, std::min(8, r.x + r.w - x), std::min(8, r.y + r.h - y)};
            SDL_FillRect(s, &c, ((x - r.x) / 8 + (y - r.y) / 8) % 2 ? a : b);
        }
}

struct Tile {
    std::string label;
    SDL_Surface* picture = nullptr;
    int w = 0, h = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s TABLE STAGE FONT OUT.png [GROUP...]\n", argv[0]);
        return 2;
    }
    std::vector<std::string> groups(argv + 5, argv + argc);
    Table table = read_table(argv[1]);
    if (!table.error.empty()) {
        std::fprintf(stderr, "%s\n", table.error.c_str());
        return 1;
    }
    if (TTF_Init() != 0) return 1;
    TTF_Font* font = TTF_OpenFont(argv[3], 11);
    if (!font) {
        std::fprintf(stderr, "contact sheet: %s\n", TTF_GetError());
        return 1;
    }
    std::vector<Tile> tiles;
    int missing = 0;
    for (const Picture& p : table.pictures) {
        if (!groups.empty() && std::find(groups.begin(), groups.end(), p.group) == groups.end()) continue;
        std::string file = std::string(argv[2]) + "/" + *stage_path(p, kProfiles[0]);
        Tile t;
        t.label = p.path;
        if (SDL_Surface* raw = IMG_Load(file.c_str())) {
            // Paletted pictures (the GIF) blit with their alpha only once converted.
            t.picture = SDL_ConvertSurfaceFormat(raw, SDL_PIXELFORMAT_RGBA32, 0);
            SDL_FreeSurface(raw);
        }
        if (!t.picture) {
            ++missing;
            t.label += " (MISSING)";
            t.w = t.h = 40;
        } else {
            double k = std::min(1.0, double(kMaxSide) / std::max(t.picture->w, t.picture->h));
            t.w = std::max(1, int(t.picture->w * k));
            t.h = std::max(1, int(t.picture->h * k));
        }
        int text_w = 0;
        TTF_SizeUTF8(font, t.label.c_str(), &text_w, nullptr);
        t.w = std::max(t.w, std::min(text_w, kMaxSide));
        tiles.push_back(t);
    }
    // Flow layout: rows as wide as the sheet, each as high as its tallest tile.
    std::vector<SDL_Rect> places;
    int x = kPad, y = kPad, row_h = 0;
    for (const Tile& t : tiles) {
        if (x + t.w + kPad > kSheetWidth) {
            x = kPad;
            y += row_h + kLabel + kPad;
            row_h = 0;
        }
        places.push_back({x, y, t.w, t.h});
        x += t.w + kPad;
        row_h = std::max(row_h, t.h);
    }
    int height = y + row_h + kLabel + kPad;
    SDL_Surface* sheet = SDL_CreateRGBSurfaceWithFormat(0, kSheetWidth, height, 32, SDL_PIXELFORMAT_RGBA32);
    if (!sheet) return 1;
    SDL_FillRect(sheet, nullptr, SDL_MapRGB(sheet->format, 24, 26, 30));
    for (size_t i = 0; i < tiles.size(); ++i) {
        Tile& t = tiles[i];
        SDL_Rect r = places[i];
        if (t.picture) {
            SDL_Rect dst{r.x, r.y, t.w, t.h};
            double k = std::min(1.0, double(kMaxSide) / std::max(t.picture->w, t.picture->h));
            dst.w = std::max(1, int(t.picture->w * k));
            dst.h = std::max(1, int(t.picture->h * k));
            checker(sheet, dst);
            SDL_SetSurfaceBlendMode(t.picture, SDL_BLENDMODE_BLEND);
            SDL_BlitScaled(t.picture, nullptr, sheet, &dst);
            SDL_FreeSurface(t.picture);
        } else {
            SDL_Rect red{r.x, r.y, 40, 40};
            SDL_FillRect(sheet, &red, SDL_MapRGB(sheet->format, 200, 40, 40));
        }
        SDL_Surface* label = TTF_RenderUTF8_Blended(font, t.label.c_str(), SDL_Color{235, 235, 235, 255});
        if (label) {
            SDL_Rect src{0, 0, std::min(label->w, kMaxSide), label->h};
            SDL_Rect dst{r.x, r.y + r.h + 2, src.w, src.h};
            SDL_BlitSurface(label, &src, sheet, &dst);
            SDL_FreeSurface(label);
        }
    }
    int rc = IMG_SavePNG(sheet, argv[4]);
    SDL_FreeSurface(sheet);
    TTF_CloseFont(font);
    TTF_Quit();
    if (rc != 0) {
        std::fprintf(stderr, "contact sheet: %s\n", IMG_GetError());
        return 1;
    }
    std::printf("contact sheet: %zu pictures, %d missing -> %s\n", tiles.size(), missing, argv[4]);
    return missing ? 1 : 0;
}
