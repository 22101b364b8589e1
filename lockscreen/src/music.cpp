// The music player's panel: while the player publishes a title, the title (and with the control
// view the artist and album) takes the date's row, the play, next and previous buttons and the
// volume bar are shown, and the album art with its reflection can be the background. Taps and
// keys become commands to the player's window.
#include <algorithm>
#include <array>

#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/text.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using namespace platform;
using catalogue::Id;
namespace pr = protocol;

namespace {

constexpr std::uint32_t kCommandPlayPause = 301, kCommandNext = 302, kCommandPrevious = 303, kCommandVolume = 304,
                        kCommandKnob = 305, kCommandHoldNext = 108, kCommandHoldPrevious = 109;
constexpr std::uint32_t kWmCommand = 0x111;
constexpr std::uint8_t kVkEnter = 13, kVkLeft = 37, kVkUp = 38, kVkRight = 39, kVkDown = 40, kVkVolumeUp = 117,
                       kVkVolumeDown = 118;
// A held next or previous button starts repeating after this long.
constexpr std::uint32_t kHoldMs = 500;

int unit(const Context& c, int n) { return gfx::ScaleUnit(c.screen.dpi_x, n); }

void clear(gfx::Image& img) {
    gfx::ReleaseImage(img, false);
    img.width = img.height = 0;
}

std::optional<std::u16string> player_text(Context& c, std::u16string_view name) {
    auto v = c.p.registry().get_string(Root::CurrentUser, pr::kZorpKey, name);
    if (v && v->size() > 260) v->resize(260);
    return v;
}

void load_controls(Context& c) {
    auto& m = c.music;
    const std::pair<gfx::Image*, std::u16string_view> files[] = {
        {&m.play, u"pplay.png"},         {&m.pause, u"ppause.png"},    {&m.forward, u"pforward.png"},
        {&m.backward, u"pbackward.png"}, {&m.knob, u"pbarbutton.png"}, {&m.bar_on, u"pbaron.png"},
        {&m.bar_off, u"pbaroff.png"}};
    for (auto& [img, file] : files)
        if (img->empty() && !gfx::LoadImageFile(*img, c.screen, gfx_path(c, file), gfx::kFitNative, 0, 0)) clear(*img);
}

void release_controls(Context& c) {
    auto& m = c.music;
    for (auto* img : {&m.play, &m.pause, &m.forward, &m.backward, &m.knob, &m.bar_on, &m.bar_off}) clear(*img);
    m.down = -1;
    for (int& a : m.pressed_alpha) a = 0;
}

int date_row_top(const Context& c) { return unit(c, 28) + c.clock.height; }

// The control row lies under the music text, the bar under the buttons. False when they do not
// fit above the slider's bar (a landscape screen); they are then moved up as far as needed.
bool lay_out_controls(Context& c, bool compact = false) {
    auto& m = c.music;
    const int w = c.screen_width;
    const int row_h = std::max({m.play.height, m.pause.height, m.forward.height, m.backward.height});
    m.play_x = (w - std::max(m.play.width, m.pause.width)) / 2;
    m.next_x = w - m.forward.width * 5 / 2;
    m.previous_x = m.backward.width * 3 / 2;
    m.bar_x = (w - m.bar_off.width) / 2;
    const int above = unit(c, compact ? 1 : 10), between = unit(c, compact ? 4 : 14);
    m.row_y = date_row_top(c) + c.clock.date.height + above;
    int bar_h = std::max(m.bar_off.height, m.knob.height);
    int bottom = c.screen_height - unit(c, c.settings.num(Id::NoSoftKey) != 0 ? 11 : 60) - unit(c, 4);
    int need = row_h + between + bar_h;
    const bool fits = m.row_y + need <= bottom;
    if (!fits) m.row_y = std::max(date_row_top(c), bottom - need);
    m.bar_y = m.row_y + row_h + between + (bar_h - m.bar_off.height) / 2;
    m.knob_y = m.bar_y + m.bar_off.height / 2 - m.knob.height / 2;
    c.log.printf("Music controls: play %d next %d previous %d row %d bar %d knob %d", m.play_x, m.next_x,
                 m.previous_x, m.row_y, m.bar_y, m.knob_y);
    return fits;
}

const gfx::Image& play_picture(const Context& c) { return c.music.status != 0 ? c.music.play : c.music.pause; }

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

Box button_box(const Context& c, int button) {
    const auto& m = c.music;
    switch (button) {
        case kMusicPlay: {
            const auto& p = play_picture(c);
            return {m.play_x, m.row_y, p.width, p.height};
        }
        case kMusicNext: return {m.next_x, m.row_y, m.forward.width, m.forward.height};
        case kMusicPrevious: return {m.previous_x, m.row_y, m.backward.width, m.backward.height};
        default: {
            int fill = m.volume * m.bar_off.width / 100;
            return {m.bar_x + fill - m.knob.width / 2, m.knob_y, m.knob.width, m.knob.height};
        }
    }
}

// A tap counts within the button enlarged by 10 units on every side. Where enlarged buttons
// overlap (a narrow screen, wide pictures), the button whose centre is nearer has it.
int button_at(const Context& c, int x, int y) {
    const int grow = unit(c, 10);
    int best = -1;
    long best_distance = 0;
    for (int b = 0; b < kMusicButtons; ++b) {
        auto r = button_box(c, b);
        if (r.w <= 0 || r.h <= 0) continue;
        if (x < r.x - grow || x >= r.x + r.w + grow || y < r.y - grow || y >= r.y + r.h + grow) continue;
        long dx = 2L * x - (2L * r.x + r.w), dy = 2L * y - (2L * r.y + r.h);
        long distance = dx * dx + dy * dy;
        if (best < 0 || distance < best_distance) best = b, best_distance = distance;
    }
    return best;
}

// One line of the stacked music text, rendered with the renderer in force and cut with an
// ellipsis when it is wider than the row.
void render_line(Context& c, gfx::Image& img, const std::u16string& text, std::uint32_t colour, int max_width) {
    clear(img);
    if (text.empty() || !c.screen.fonts) return;
    int height = unit(c, 12 + 2 * int(c.settings.num(Id::TextSize)));
    int shadow = int(c.settings.num(Id::TextShadow));
    auto draw = [&](std::uint32_t format, int width) {
        if (shadow != 0)
            gfx::RenderTextHalo(img, c.screen, shadow, nullptr, height, 500, colour, text, format, width, 0);
        else
            gfx::RenderText(img, c.screen, height, 500, colour, text, format, width, 0, 0, 0, false, 0);
    };
    draw(gfx::kTextSingleLine, 0);
    if (img.width > max_width) draw(gfx::kTextSingleLine | gfx::kTextWordEllipsis, max_width);
}

void make_music_text(Context& c, int max_width, bool title_only) {
    auto& m = c.music;
    const int height = unit(c, 12 + 2 * int(c.settings.num(Id::TextSize)));
    gfx::Image artist, title, album;
    // A title of one space keeps its line, empty.
    bool blank_title = m.title == u" ";
    if (!blank_title) render_line(c, title, m.title, 0xFFFFFF, max_width);
    if (m.control && !title_only) {
        render_line(c, artist, m.artist, 0xC8C8C8, max_width);
        render_line(c, album, m.album, 0xC8C8C8, max_width);
    }
    // Halo texts carry their own margins: their lines overlap by what the halo adds.
    int shadow = int(c.settings.num(Id::TextShadow));
    int overlap = (shadow == 1 || shadow == 2) ? height / 4 + (shadow - 2) * unit(c, 2) : 0;
    struct Line {
        const gfx::Image* img;
        int h;
    };
    std::vector<Line> lines;
    if (!artist.empty()) lines.push_back({&artist, artist.height});
    if (!title.empty() || blank_title || !m.control) lines.push_back({&title, title.empty() ? height : title.height});
    if (!album.empty()) lines.push_back({&album, album.height});
    int width = 0, total = 0;
    bool alpha = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        width = std::max(width, lines[i].img->width);
        total += lines[i].h - (i ? overlap : 0);
        alpha |= lines[i].img->has_alpha();
    }
    auto& out = c.clock.date;
    if (width <= 0 || total <= 0 || !gfx::FillImage(out, c.screen, width, total, 0, alpha, 0)) {
        clear(out);
        c.clock.date_x = c.screen_width / 2;
        return;
    }
    int y = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) y -= overlap;
        const auto& img = *lines[i].img;
        if (!img.empty())
            gfx::ComposeImage(out, c.screen, img, (width - img.width) / 2, y, 0, 0, 0, 0,
                              img.has_alpha() ? gfx::kCopy : gfx::kColourKey, 32);
        y += lines[i].h;
    }
    c.clock.date_x = (c.screen_width - out.width) / 2;
}

int max_text_width(const Context& c) {
    if (c.settings.num(Id::TopCurtain) == 2 && !c.ftopbar.empty()) return c.ftopbar.width - unit(c, 6);
    return c.screen_width - unit(c, 6);
}

void hide_panel(Context& c) {
    auto& m = c.music;
    if (m.panel_hidden) return;
    m.panel_hidden = true;
    m.saved_count = c.appointments.count;
}

void restore_panel(Context& c) {
    auto& m = c.music;
    if (!m.panel_hidden) return;
    m.panel_hidden = false;
    c.appointments.count = m.saved_count;
    c.appointments.fade = 0;
}

void write_last_control(Context& c, bool on) {
    if (auto root = catalogue::open_root(c.p.registry()))
        catalogue::write_byte(c.p.registry(), root->key, pr::mailbox::kLastZorpControl, on ? 1 : 0);
}

void lay_out_text(Context& c) {
    auto& m = c.music;
    m.title = player_text(c, pr::zorp::kCurrentTitle).value_or(u"");
    m.artist = player_text(c, u"CurrentArtist").value_or(u"");
    m.album = player_text(c, u"CurrentAlbumName").value_or(u"");
    make_music_text(c, max_text_width(c), false);
    // Where the buttons and the bar would cover the artist and album (a landscape screen), the
    // title stands alone.
    if (!lay_out_controls(c) && m.control) {
        make_music_text(c, max_text_width(c), true);
        lay_out_controls(c, true);
    }
}

}  // namespace

bool music_title_shown(Context& c) { return c.music.open; }

bool appointments_hidden_by_music(const Context& c) { return c.music.open && c.music.panel_hidden; }

void update_music_title(Context& c) {
    auto& m = c.music;
    c.log.printf("UpdateMusicTitle");
    auto title = player_text(c, pr::zorp::kCurrentTitle);
    if (!title || title->empty()) {
        if (!m.open) return;
        release_controls(c);
        m.open = false;
        m.title.clear();
        // The date comes back, rendered anew.
        c.clock.last_date.clear();
        update_date_only(c);
        write_last_control(c, m.control);
        m.control = false;
        m.control_fade = 0;
        if (c.settings.num(Id::ZorpControl) != 0) restore_panel(c);
        request_redraw(c);
        return;
    }
    load_controls(c);
    m.status = c.p.registry().get_dword(Root::CurrentUser, pr::kZorpKey, pr::zorp::kStatus).value_or(m.status);
    if (auto v = c.p.registry().get_dword(Root::CurrentUser, pr::kZorpKey, pr::zorp::kMusicVolume))
        m.volume = int(std::min<std::uint32_t>(*v, 100));
    if (!m.open) {
        std::uint8_t last = 1;
        bool known = false;
        if (auto root = catalogue::open_root(c.p.registry()))
            known = catalogue::read_byte(c.p.registry(), root->key, pr::mailbox::kLastZorpControl, last);
        m.control = c.settings.num(Id::ZorpControl) != 0 && (!known || last == 1);
        c.log.printf("ShowWMPControl %d(%d)", int(m.control), known ? int(last) : -1);
    }
    m.open = true;
    if (m.control) hide_panel(c);
    else restore_panel(c);
    lay_out_text(c);
    request_redraw(c);
}

void update_music_album(Context& c) {
    auto& m = c.music;
    c.log.printf("UpdateMusicAlbum");
    auto file = player_text(c, pr::zorp::kCurrentAlbum).value_or(u"");
    bool wanted = !file.empty() && c.settings.num(Id::ZorpAlbum) != 0 && device_file_exists(c, file);
    if (wanted && c.screen.back_buffer) {
        const int side = std::min(c.screen_width, c.screen_height);
        gfx::Image art, reflection;
        if (gfx::LoadImageFile(art, c.screen, file, gfx::kFitInside, side, side) &&
            gfx::MakeReflection(reflection, art, 0)) {
            // The wallpaper gives way to the album; it is loaded again when the album goes.
            gfx::ReleaseImage(c.wallpaper.image, false);
            c.wallpaper.image.width = c.wallpaper.image.height = 0;
            c.wallpaper.frames = 0;
            const int bar = c.screen_height - unit(c, c.settings.num(Id::NoSoftKey) != 0 ? 11 : 60);
            const int x = (c.screen_width - art.width) / 2, y = std::max(0, bar - art.height);
            gfx::ClearScreen(c.screen, 0);
            gfx::DrawImage(art, c.screen, x, y, 0, 0, 0, gfx::kCopy, 32);
            gfx::DrawImage(reflection, c.screen, x, y + art.height, 0, 0, 0, gfx::kCopy, 32);
            gfx::ImageFromBackBuffer(m.album_background, c.screen);
            m.album_shown = true;
            m.album_file = file;
            return;
        }
        c.log.printf("Album picture %s cannot be shown", to_utf8(file).c_str());
    }
    if (m.album_shown) {
        m.album_shown = false;
        m.album_file.clear();
        clear(m.album_background);
        load_wallpaper(c);
    }
}

void relayout_music(Context& c) {
    relayout_weather(c);
    if (c.music.open) lay_out_text(c);
    if (c.music.album_shown) update_music_album(c);
}

void music_command(Context& c, std::uint32_t command, std::int32_t l) {
    c.music.sent.emplace_back(command, l);
    auto name = pr::window_name(pr::Program::Zorp);
    Hwnd player = c.p.windows().find_window(name, name);
    c.log.printf("Zorp command %u(%d) 0x%0X", command, int(l), player);
    if (player) c.p.windows().post(player, kWmCommand, command, l);
    reset_anim_lcd(c);
}

bool music_key(Context& c, unsigned vk, bool down) {
    auto& m = c.music;
    if (!m.open || c.state != ScreenState::Normal) return false;
    int volume_step = 0;
    std::uint32_t command = 0;
    switch (vk) {
        case kVkEnter: command = kCommandPlayPause; break;
        case kVkRight: command = kCommandNext; break;
        case kVkLeft: command = kCommandPrevious; break;
        case kVkUp: case kVkVolumeUp: volume_step = 6; break;
        case kVkDown: case kVkVolumeDown: volume_step = -4; break;
        default: return false;
    }
    if (!down) {
        reset_anim_lcd(c);
        return true;
    }
    if (volume_step) {
        m.volume = std::clamp(m.volume + volume_step, 0, 100);
        music_command(c, kCommandVolume, m.volume);
    } else {
        music_command(c, command);
    }
    haptic_pulse(c);
    return true;
}

bool music_touch(Context& c, std::uint32_t msg, int x, int y) {
    auto& m = c.music;
    if (!m.open || !m.control || c.state != ScreenState::Normal) return false;
    if (msg == WM_LBUTTONDOWN) {
        int b = button_at(c, x, y);
        if (b < 0) return false;
        m.down = b;
        m.down_tick = c.p.clock().tick_count();
        m.repeated = false;
        if (b != kMusicKnob) m.pressed_alpha[b] = 32;
        haptic_pulse(c);
        return true;
    }
    if (m.down < 0) return false;
    if (msg == WM_MOUSEMOVE) return true;
    int b = m.down;
    m.down = -1;
    request_redraw(c);
    if (m.repeated) return true;
    if (button_at(c, x, y) != b) return true;
    static constexpr std::uint32_t kTap[kMusicButtons] = {kCommandPlayPause, kCommandNext, kCommandPrevious, kCommandKnob};
    music_command(c, kTap[b]);
    return true;
}

void draw_music_controls(Context& c) {
    auto& m = c.music;
    if (!m.open) return;
    m.control_fade = m.control ? std::min(32, m.control_fade + 4) : std::max(0, m.control_fade - 8);
    if (m.control_fade == 0) return;
    auto& scr = c.screen;
    const int a = std::min(c.scene_alpha, m.control_fade);
    const int dy = c.top_offset;
    // A held next or previous button repeats its command every frame.
    if (m.down == kMusicNext || m.down == kMusicPrevious) {
        if (c.p.clock().tick_count() - m.down_tick >= kHoldMs) {
            m.repeated = true;
            music_command(c, m.down == kMusicNext ? kCommandHoldNext : kCommandHoldPrevious);
        }
    }
    if (!m.forward.empty()) gfx::DrawImage(m.forward, scr, m.next_x, m.row_y + dy, 0, 0, 0, gfx::kConstant, a);
    if (!m.backward.empty()) gfx::DrawImage(m.backward, scr, m.previous_x, m.row_y + dy, 0, 0, 0, gfx::kConstant, a);
    const auto& play = play_picture(c);
    if (!play.empty()) gfx::DrawImage(play, scr, m.play_x, m.row_y + dy, 0, 0, 0, gfx::kConstant, a);
    for (int b = 0; b < kMusicKnob; ++b) {
        if (m.pressed_alpha[b] <= 0 || c.ppressed.empty()) continue;
        auto r = button_box(c, b);
        gfx::DrawImage(c.ppressed, scr, r.x + (r.w - c.ppressed.width) / 2, r.y + dy + (r.h - c.ppressed.height) / 2, 0,
                       0, 0, gfx::kColourKey, std::min(a, m.pressed_alpha[b]));
        if (m.down != b) m.pressed_alpha[b] = std::max(0, m.pressed_alpha[b] - 7);
    }
    if (!m.bar_off.empty())
        gfx::DrawImage(m.bar_off, scr, m.bar_x, m.bar_y + dy, 0, 0, 0, gfx::kConstant, std::min(a, 20));
    const int fill = m.volume * m.bar_off.width / 100;
    if (!m.bar_on.empty() && fill > 0)
        gfx::DrawImage(m.bar_on, scr, m.bar_x, m.bar_y + dy, 0, fill, 0, gfx::kConstant, std::min(a, 30));
    if (!m.knob.empty())
        gfx::DrawImage(m.knob, scr, m.bar_x + fill - m.knob.width / 2, m.knob_y + dy, 0, 0, 0, gfx::kConstant, a);
    if (!c.appointments.subject[0].empty() && !c.triangle.empty()) {
        int bottom = c.topbar.height + dy;
        gfx::DrawImage(c.triangle, scr, (c.screen_width - c.triangle.width) / 2, bottom - unit(c, 1) - c.triangle.height,
                       0, 0, 0, gfx::kConstant, a);
    }
}

void bring_music_player_forward(Context& c) {
    auto name = pr::window_name(pr::Program::Zorp);
    Hwnd player = c.p.windows().find_window(name, name);
    if (!player) return;
    c.p.windows().show_window(player, SW_SHOW);
    c.p.windows().set_foreground_window(player);
}

}  // namespace lumo::lockscreen
