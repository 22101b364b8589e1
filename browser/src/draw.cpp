// Layout and drawing: the status band, the title bar, the thumbnail grid, the file rows, the
// folder list with its hint, the full-screen picture with its controls, the menu and the
// button bar.
#include <algorithm>

#include "lumo/browser/browser.h"
#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/text.h"
#include "lumo/platform/text.h"

namespace lumo::browser {

using namespace platform;

namespace {

int U(const Context& c, int n) { return gfx::ScaleUnit(c.screen, n); }

// Where a frame is drawn: the screen itself, or, while the view is turned, a turned copy that
// is put onto the screen as a whole.
gfx::Screen& canvas(Context& c) { return c.rotation ? c.turned : c.screen; }

constexpr std::uint32_t kWhite = 0xFFFFFF, kDimText = 0xB0B0B0, kValueColour = 0xFFD070;
// Button labels that are pictures rather than texts.
constexpr char16_t kIconMark = u'\x01';
const std::u16string kFolderButton = u"\x01" u"F", kMenuButton = u"\x01" u"M", kZoomOutButton = u"\x01" u"-",
                     kZoomInButton = u"\x01" u"+";

std::uint16_t px(const Context& c, int r, int g, int b) { return gfx::RGBTo565(c.screen.format, r, g, b); }

void fill(Context& c, int x, int y, int w, int h, std::uint16_t colour, int alpha) {
    if (w <= 0 || h <= 0) return;
    auto brush = gfx::MakeBrush(colour);
    auto& cv = canvas(c);
    auto* prev = gfx::SelectBrush(cv, &brush);
    gfx::FillRect(cv, x, y, x + w, y + h, alpha);  // right and bottom edges excluded
    if (prev) gfx::SelectBrush(cv, prev);
}

// Text in a box; rendered texts are kept so a scrolling frame only draws pictures.
int text(Context& c, std::u16string_view s, int x, int y, int w, int size, std::uint32_t colour,
         std::uint32_t format, int weight = gfx::kFontNormal, int max_h = 0) {
    return c.text_cache.draw(canvas(c), c.screen, s, x, y, w, U(c, size), weight, colour, format | gfx::kTextNoPrefix,
                             max_h);
}

int status_height(const Context& c) { return U(c, 16); }
int title_height(const Context& c) { return U(c, 26); }
int button_height(const Context& c) { return U(c, 40); }
int hint_height(const Context& c) { return U(c, 30); }

void draw_status(Context& c) {
    int h = status_height(c);
    fill(c, 0, 0, c.screen_width, h, px(c, 0, 0, 0), 32);
    std::u16string left = c.operator_name.empty() ? std::u16string(u"Lumo") : c.operator_name;
    text(c, left, U(c, 4), U(c, 1), c.screen_width / 2, 11, kWhite, gfx::kTextLeft | gfx::kTextSingleLine);
    std::u16string right;
    if (c.connections) right += u"\u21C5 ";
    if (c.headphone) right += u"\u266B ";
    if (c.wifi) right += u"WiFi ";
    if (c.bluetooth) right += u"BT ";
    right += (c.on_ac ? u"+" : u"") + to_u16(std::to_string(c.battery)) + u"%";
    int bars_w = U(c, 4) * 4;
    text(c, right, c.screen_width / 2, U(c, 1), c.screen_width / 2 - U(c, 8) - bars_w, 11, kWhite,
         gfx::kTextRight | gfx::kTextSingleLine);
    int lit = int((std::min<std::uint32_t>(c.signal, 100) + 24) / 25);
    for (int i = 0; i < 4; ++i) {
        int bh = U(c, 3) * (i + 1);
        fill(c, c.screen_width - U(c, 4) - bars_w + i * U(c, 4), h - U(c, 2) - bh, U(c, 3), bh,
             i < lit ? px(c, 255, 255, 255) : px(c, 70, 70, 80), 32);
    }
}

void draw_title(Context& c, std::u16string_view title) {
    int y = status_height(c), h = title_height(c);
    fill(c, 0, y, c.screen_width, h, px(c, 20, 24, 32), 32);
    for (int x = 0; x < c.screen_width; x += std::max(1, c.topbar.width))
        gfx::DrawImage(c.topbar, canvas(c), x, y, 0, 0, 0, gfx::kCopy, 32);
    text(c, title, U(c, 8), y + (h - U(c, 17)) / 2, c.screen_width - U(c, 16), 14, kWhite,
         gfx::kTextCenter | gfx::kTextSingleLine | gfx::kTextEndEllipsis, gfx::kFontBold);
}

void draw_icon(Context& c, const gfx::Image& img, int cell, int cells, int x, int y, int w, int h) {
    if (img.empty()) return;
    int cw = img.width / std::max(1, cells);
    gfx::DrawImage(img, canvas(c), x + (w - cw) / 2, y + (h - img.height) / 2, cell * cw, cw, 0, gfx::kColourKey, 32);
}

void draw_buttons(Context& c, const std::vector<std::u16string>& labels, bool overlay) {
    int bh = button_height(c);
    int y = c.screen_height - bh;
    fill(c, 0, y, c.screen_width, bh, px(c, 10, 12, 16), overlay ? 24 : 32);
    int n = int(labels.size());
    if (n == 0) return;
    int gap = U(c, 4);
    int w = (c.screen_width - gap * (n + 1)) / n;
    for (int i = 0; i < n; ++i) {
        int x = gap + i * (w + gap);
        fill(c, x, y + gap, w, bh - 2 * gap, px(c, 70, 76, 90), overlay ? 26 : 32);
        fill(c, x, y + gap, w, 1, px(c, 140, 146, 160), 32);
        const auto& label = labels[std::size_t(i)];
        if (!label.empty() && label[0] == kIconMark) {
            if (label == kFolderButton) draw_icon(c, c.folder_icon, 0, 1, x, y, w, bh);
            else if (label == kMenuButton) draw_icon(c, c.menu_icon, 0, 1, x, y, w, bh);
            else if (label == kZoomInButton) draw_icon(c, c.zoom_icons, 0, 2, x, y, w, bh);
            else draw_icon(c, c.zoom_icons, 1, 2, x, y, w, bh);
            continue;
        }
        text(c, label, x, y + (bh - U(c, 17)) / 2, w, 13, kWhite,
             gfx::kTextCenter | gfx::kTextSingleLine | gfx::kTextEndEllipsis, gfx::kFontBold);
    }
}

std::u16string folder_title(std::u16string_view folder) {
    if (folder.empty()) return u"\\";
    auto slash = folder.find_last_of(u'\\');
    return std::u16string(slash == std::u16string_view::npos ? folder : folder.substr(slash + 1));
}

void draw_grid(Context& c) {
    auto l = layout(c);
    int n = int(c.entries.size());
    int first_row = std::max(0, c.scroll.offset / l.cell);
    for (int r = first_row;; ++r) {
        int y = l.top + r * l.cell - c.scroll.offset;
        if (y >= l.bottom || r * l.columns >= n) break;
        for (int col = 0; col < l.columns; ++col) {
            int i = r * l.columns + col;
            if (i >= n) break;
            int x = col * l.cell;
            auto& e = c.entries[std::size_t(i)];
            int inset = (l.cell - l.thumb) / 2;
            if (i == c.selected) fill(c, x + 1, y + 1, l.cell - 2, l.cell - 2, px(c, 40, 120, 230), 32);
            switch (e.thumb) {
                case Entry::Thumb::Ready:
                    gfx::DrawImage(e.image, canvas(c), x + (l.cell - e.image.width) / 2, y + (l.cell - e.image.height) / 2,
                                   0, 0, 0, gfx::kCopy, 32);
                    break;
                case Entry::Thumb::Corrupt:
                    fill(c, x + inset, y + inset, l.thumb, l.thumb, px(c, 60, 20, 20), 24);
                    text(c, c.texts.get(u"s_FileCorrupt="), x + inset, y + l.cell / 2 - U(c, 14), l.thumb, 10, kWhite,
                         gfx::kTextCenter | gfx::kTextWordBreak);
                    break;
                default:
                    fill(c, x + inset, y + inset, l.thumb, l.thumb, px(c, 60, 64, 72), 20);
                    break;
            }
        }
    }
}

void draw_rows(Context& c) {
    auto l = layout(c);
    int pad = U(c, 4);
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
        int y = l.top + int(i) * l.row_h - c.scroll.offset;
        if (y + l.row_h < l.top) continue;
        if (y >= l.bottom) break;
        bool sel = int(i) == c.selected;
        fill(c, pad, y, c.screen_width - 2 * pad, l.row_h - 1, sel ? px(c, 40, 120, 230) : px(c, 40, 44, 52), 26);
        int icon_w = 0;
        if (c.listing == Listing::Sounds && !c.play_stop.empty()) {
            icon_w = c.play_stop.width / 2 + U(c, 4);
            draw_icon(c, c.play_stop, 0, 2, pad, y, icon_w, l.row_h);
        }
        text(c, c.entries[i].name, pad + icon_w + U(c, 8), y + (l.row_h - U(c, 16)) / 2,
             c.screen_width - 2 * pad - icon_w - U(c, 16), 13, kWhite,
             gfx::kTextLeft | gfx::kTextSingleLine | gfx::kTextEndEllipsis);
    }
}

void draw_folders(Context& c) {
    auto l = layout(c);
    int pad = U(c, 4);
    int y0 = l.top - c.scroll.offset;
    text(c, c.texts.get(u"s_BrowseHints="), pad * 2, y0 + U(c, 4), c.screen_width - 4 * pad, 11, kDimText,
         gfx::kTextLeft | gfx::kTextWordBreak);
    for (std::size_t i = 0; i < c.folders.size(); ++i) {
        int y = y0 + hint_height(c) + int(i) * l.row_h;
        if (y + l.row_h < l.top) continue;
        if (y >= l.bottom) break;
        bool current = c.folder_list + u"\\" + c.folders[i].name == c.folder;
        fill(c, pad, y, c.screen_width - 2 * pad, l.row_h - 1, current ? px(c, 40, 120, 230) : px(c, 40, 44, 52), 26);
        int icon_w = c.folder_icon.width + U(c, 8);
        draw_icon(c, c.folder_icon, 0, 1, pad + U(c, 4), y, c.folder_icon.width, l.row_h);
        text(c, c.folders[i].name, pad + icon_w + U(c, 4), y + (l.row_h - U(c, 16)) / 2,
             c.screen_width - 2 * pad - icon_w - U(c, 48), 13, kWhite,
             gfx::kTextLeft | gfx::kTextSingleLine | gfx::kTextEndEllipsis);
        if (c.folders[i].name != u"..") {
            int aw = U(c, 40);
            fill(c, c.screen_width - pad - aw, y + U(c, 4), 1, l.row_h - U(c, 9), px(c, 90, 96, 110), 32);
            draw_icon(c, c.arrow, 0, 1, c.screen_width - pad - aw, y, aw, l.row_h);
        }
    }
}

void draw_picture(Context& c) {
    fill(c, 0, 0, c.screen_width, c.screen_height, px(c, 0, 0, 0), 32);
    if (c.picture_corrupt) {
        text(c, c.texts.get(u"s_FileCorrupt="), 0, c.screen_height / 2 - U(c, 10), c.screen_width, 14, kWhite,
             gfx::kTextCenter | gfx::kTextSingleLine);
        return;
    }
    const auto& z = c.zoom;
    const gfx::Image& img = z.buffered ? (z.zw == z.maxw ? c.zoom_buffer : c.zoom_scaled) : c.picture;
    gfx::DrawImage(img, canvas(c), z.px, z.py, 0, 0, 0, gfx::kCopy, 32);
}

void draw_menu(Context& c) {
    int top, row_h, left, width;
    menu_geometry(c, top, row_h, left, width);
    fill(c, 0, 0, c.screen_width, c.screen_height, px(c, 0, 0, 0), 16);
    fill(c, left - U(c, 4), top - U(c, 4), width + U(c, 8), row_h * int(c.menu.size()) + U(c, 8), px(c, 24, 28, 36), 30);
    for (std::size_t i = 0; i < c.menu.size(); ++i) {
        int y = top + int(i) * row_h;
        fill(c, left, y + U(c, 2), width, row_h - U(c, 4), px(c, 60, 90, 150), 32);
        text(c, c.menu[i].label, left + U(c, 4), y + (row_h - U(c, 17)) / 2, width - U(c, 8), 13, kWhite,
             gfx::kTextCenter | gfx::kTextSingleLine | gfx::kTextEndEllipsis);
    }
}

}  // namespace

Layout layout(const Context& c) {
    Layout l;
    l.top = c.view == View::Picture ? 0 : status_height(c) + title_height(c);
    l.bottom = c.screen_height - button_height(c);
    l.columns = std::max(3, c.screen_width / std::max(1, U(c, 60)));
    l.cell = std::max(1, c.screen_width / l.columns);
    l.thumb = std::max(8, l.cell - U(c, 6));
    l.row_h = U(c, 36);
    return l;
}

int content_height(const Context& c) {
    auto l = layout(c);
    if (c.view == View::Folders) return hint_height(c) + int(c.folders.size()) * l.row_h;
    int n = int(c.entries.size());
    if (c.listing == Listing::Pictures) return (n + l.columns - 1) / l.columns * l.cell;
    return n * l.row_h;
}

int max_scroll(const Context& c) {
    auto l = layout(c);
    return std::max(0, content_height(c) - (l.bottom - l.top));
}

int entry_at(const Context& c, int x, int y) {
    auto l = layout(c);
    if (y < l.top || y >= l.bottom || x < 0 || x >= c.screen_width) return -1;
    int cy = y - l.top + c.scroll.offset;
    int i;
    if (c.listing == Listing::Pictures) {
        int col = x / l.cell;
        if (col >= l.columns) return -1;
        i = (cy / l.cell) * l.columns + col;
    } else {
        i = cy / l.row_h;
    }
    return i >= 0 && std::size_t(i) < c.entries.size() ? i : -1;
}

int folder_at(const Context& c, int x, int y, bool* arrow) {
    auto l = layout(c);
    if (y < l.top || y >= l.bottom) return -1;
    int cy = y - l.top + c.scroll.offset - hint_height(c);
    if (cy < 0) return -1;
    int i = cy / l.row_h;
    if (std::size_t(i) >= c.folders.size()) return -1;
    if (arrow) *arrow = x >= c.screen_width - U(c, 4) - U(c, 40);
    return i;
}

std::vector<std::u16string> bottom_labels(const Context& c) {
    switch (c.view) {
        case View::Files: return {kFolderButton, kMenuButton, c.texts.get(u"s_Cancel=")};
        case View::Folders: return {c.texts.get(u"s_Done="), c.texts.get(u"s_Cancel=")};
        case View::Picture: return {kZoomOutButton, kZoomInButton, kMenuButton, c.texts.get(u"s_Done=")};
    }
    return {};
}

void menu_geometry(const Context& c, int& top, int& row_h, int& left, int& width) {
    row_h = U(c, 34);
    width = std::min(c.screen_width - U(c, 24), U(c, 210));
    left = (c.screen_width - width) / 2;
    top = std::max(U(c, 8), (c.screen_height - row_h * int(c.menu.size())) / 2);
}

void draw(Context& c) {
    if (!c.screen.back_buffer || !c.shown) return;
    if (c.view == View::Picture) {
        draw_picture(c);
        draw_buttons(c, bottom_labels(c), true);
    } else {
        fill(c, 0, 0, c.screen_width, c.screen_height, px(c, 0, 0, 0), 32);
        if (!c.background.empty() &&
            (c.background_fit.width != c.screen_width || c.background_fit.height != c.screen_height))
            gfx::ResizeImage(c.background_fit, c.screen, c.background, c.screen_width, c.screen_height, true, false);
        gfx::DrawImage(c.background_fit, canvas(c), 0, 0, 0, 0, 0, gfx::kCopy, 32);
        auto l = layout(c);
        if (c.view == View::Folders) {
            draw_folders(c);
        } else if (c.entries.empty()) {
            text(c, c.texts.get(u"s_NoPicture="), 0, (l.top + l.bottom) / 2 - U(c, 10), c.screen_width, 14, kDimText,
                 gfx::kTextCenter | gfx::kTextSingleLine);
        } else if (c.listing == Listing::Pictures) {
            draw_grid(c);
        } else {
            draw_rows(c);
        }
        int total = content_height(c), view = l.bottom - l.top;
        if (total > view) {
            int th = std::max(U(c, 16), view * view / total);
            int ty = l.top + (view - th) * c.scroll.offset / std::max(1, max_scroll(c));
            fill(c, c.screen_width - U(c, 3), ty, U(c, 2), th, px(c, 200, 200, 210), 20);
        }
        draw_status(c);
        draw_title(c, c.view == View::Folders ? (c.folder_list.empty() ? std::u16string(u"\\") : c.folder_list)
                                              : folder_title(c.folder));
        draw_buttons(c, bottom_labels(c), false);
    }
    if (c.menu_open) draw_menu(c);
    if (c.rotation) {
        gfx::Image frame;
        if (gfx::ImageFromBackBuffer(frame, c.turned) && gfx::RotateImage(frame, frame, turn_code(c.rotation)))
            gfx::DrawImage(frame, c.screen, 0, 0, 0, 0, 0, gfx::kCopy, 32);
    }
    if (gfx::PresentScreen(c.screen)) ++c.frames_presented;
}

}  // namespace lumo::browser
