#include "display_service.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"
#include "lumo/platform/winuser.h"
#include "lumo/wire/protocol.h"
#include "shell.h"
#include "simulated_programs.h"
#include "window_service.h"

namespace lumo::host {

using platform::Hwnd;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

constexpr DeviceProfile kProfiles[] = {
    {"vga", 480, 800, 192, u"Lumo Phone VGA", 5, 2, 21234},
    {"qvga", 240, 320, 96, u"Lumo Phone QVGA", 5, 2, 21234},
};

constexpr std::uint16_t kDarkGlass = 0x0841;
constexpr std::uint16_t kWindowFace = 0xC618;   // light grey
constexpr std::uint16_t kWindowFrame = 0x4208;  // dark grey
constexpr std::uint16_t kTitleBar = 0x0010;     // dark blue
constexpr std::uint16_t kWhite = 0xFFFF, kBlack = 0x0000;
constexpr std::uint16_t kHomeSky = 0x1A4B;     // deep blue of the Today screen
constexpr std::uint16_t kTaskBarFace = 0x2104;  // near black
constexpr std::uint32_t kMkLButton = 0x0001;

platform::LParam make_lparam(int x, int y) {
    return platform::LParam(std::uint32_t(std::uint16_t(x)) | (std::uint32_t(std::uint16_t(y)) << 16));
}

// Blends a text colour over a pixel by coverage (0..255), per channel.
std::uint16_t blend565(std::uint16_t dst, std::uint16_t src, unsigned a) {
    auto mix = [a](unsigned d, unsigned s) { return (s * a + d * (255 - a) + 127) / 255; };
    unsigned r = mix(dst >> 11, src >> 11), g = mix((dst >> 5) & 63, (src >> 5) & 63),
             b = mix(dst & 31, src & 31);
    return std::uint16_t((r << 11) | (g << 5) | b);
}

// How the phone names a message box's answers.
std::u16string_view answer_name(int id) {
    switch (id) {
        case platform::IDOK: return u"ok";
        case platform::IDCANCEL: return u"cancel";
        case platform::IDABORT: return u"abort";
        case platform::IDRETRY: return u"retry";
        case platform::IDIGNORE: return u"ignore";
        case platform::IDYES: return u"yes";
        case platform::IDNO: return u"no";
        default: return u"";
    }
}


}  // namespace

namespace {

struct OemName {
    const char* name;
    const char16_t* text;  // nullptr: the profile's own
    bool keyboard = false;  // the model has a slide-out keyboard
};
// OEM information strings a person can give the phone: each picks another row of the lock
// screen's display back-end table.
constexpr OemName kOemNames[] = {
    {"lumo", nullptr},
    {"htc-hd", u"HTC Touch HD T8282"},
    {"htc", u"HTC Touch Diamond2 T5353"},
    {"htc-pro", u"HTC Touch Pro2 T7373", true},
    {"palm", u"Palm Treo 800w"},
    {"asus", u"Asus CANNES"},
    {"pm300", u"PM300"},
    {"samsung-i770", u"SAMSUNG SCH-i770"},
    {"samsung", u"SAMSUNG SGH-i900"},
};
constexpr const char* kShellVersions[] = {"6.1", "6.5"};

DeviceProfile& current_profile() {
    static DeviceProfile profile = kProfiles[0];
    return profile;
}

template <class Table, class Name>
std::string names_of(const Table& table, Name name) {
    std::string s;
    for (const auto& row : table) s += (s.empty() ? "" : "|") + std::string(name(row));
    return s;
}

}  // namespace

std::string ProfileChoice::names(Field f) {
    switch (f) {
        case Field::Profile:
            return names_of(kProfiles, [](const DeviceProfile& p) { return p.name; });
        case Field::Shell:
            return names_of(kShellVersions, [](const char* v) { return v; });
        case Field::Oem:
            return names_of(kOemNames, [](const OemName& o) { return o.name; });
    }
    return {};
}

bool ProfileChoice::valid(Field f, const std::string& value) {
    std::string all = "|" + names(f) + "|";
    return !value.empty() && value.find('|') == std::string::npos &&
           all.find("|" + value + "|") != std::string::npos;
}

bool settle_profile(const std::filesystem::path& dir, const ProfileChoice& given,
                    std::string* error) {
    auto file = dir / "profile";
    ProfileChoice recorded{"vga", "6.1", "lumo"};
    bool have_record = false;
    if (std::FILE* f = std::fopen(file.c_str(), "r")) {
        have_record = true;
        char key[32], value[64];
        while (std::fscanf(f, "%31s %63s", key, value) == 2) {
            std::string k = key, v = value;
            bool ok = (k == "profile" && ProfileChoice::valid(ProfileChoice::Field::Profile, v)) ||
                      (k == "shell" && ProfileChoice::valid(ProfileChoice::Field::Shell, v)) ||
                      (k == "oem" && ProfileChoice::valid(ProfileChoice::Field::Oem, v));
            if (!ok) {
                std::fclose(f);
                *error = file.string() + " names an unknown " + k + " '" + v +
                         "': correct it or remove the file";
                return false;
            }
            (k == "profile" ? recorded.profile : k == "shell" ? recorded.shell : recorded.oem) = v;
        }
        std::fclose(f);
    }
    // The screen cannot change under an existing phone: its pictures were installed for it.
    if (have_record && !given.profile.empty() && given.profile != recorded.profile) {
        *error = dir.string() + " is a " + recorded.profile + " phone, not " + given.profile +
                 ": leave --profile out to boot it as it is, or give another --device (or remove " +
                 dir.string() + ") to make a new " + given.profile + " phone";
        return false;
    }
    ProfileChoice chosen = recorded;
    if (!given.profile.empty()) chosen.profile = given.profile;
    if (!given.shell.empty()) chosen.shell = given.shell;
    if (!given.oem.empty()) chosen.oem = given.oem;
    if (!have_record || chosen.shell != recorded.shell || chosen.oem != recorded.oem) {
        std::FILE* f = std::fopen(file.c_str(), "w");
        bool written = f && std::fprintf(f, "profile %s\nshell %s\noem %s\n", chosen.profile.c_str(),
                                         chosen.shell.c_str(), chosen.oem.c_str()) > 0;
        if (f && std::fclose(f) != 0) written = false;
        if (!written) {
            *error = "cannot record the profile in " + file.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    auto& p = current_profile();
    for (const auto& candidate : kProfiles)
        if (chosen.profile == candidate.name) p = candidate;
    for (const auto& o : kOemNames)
        if (chosen.oem == o.name && o.text) {
            p.oem = o.text;
            p.keyboard = o.keyboard;
        }
    p.vendor = chosen.oem.starts_with("htc")       ? DeviceProfile::Vendor::Htc
               : chosen.oem.starts_with("samsung") ? DeviceProfile::Vendor::Samsung
                                                   : DeviceProfile::Vendor::None;
    p.wm65 = chosen.shell == "6.5";
    return true;
}

const DeviceProfile& chosen_profile() {
    return current_profile();
}

DisplayService::DisplayService(Host& host, WindowService& windows)
    : host_(host), windows_(windows), profile_(chosen_profile()) {
    panel_width_ = width_ = profile_.width;
    panel_height_ = height_ = profile_.height;
    composed_.assign(std::size_t(width_) * height_, kDarkGlass);
    std::string error;
    if (!make_frame(&error)) host_.log().printf("no display: %s", error.c_str());
    register_handlers();
    windows_.screen_rect = [this] { return platform::Rect{0, 0, width_, height_}; };
    windows_.box_height = [this](const std::u16string& text, int width) {
        if (!fonts_) draw_text(u" ", 0, 0, 0, kWhite);  // opens the font engine
        auto [bar, pad] = box_metrics();
        int line_h = font_ ? font_->line_height() : 0;
        return 2 + bar + 2 * pad + int(wrap(text, width - 2 - 2 * pad).size()) * line_h;
    };
    if (auto* w = DisplayWindow::find(host_.options().dir)) w->attach(this);
}

DisplayService::~DisplayService() {
    windows_.screen_rect = nullptr;
    windows_.box_height = nullptr;
    if (auto* w = DisplayWindow::find(host_.options().dir)) w->attach(nullptr);
    if (header_) ::munmap(header_, map_size_);
}

bool DisplayService::make_frame(std::string* error) {
    auto path = std::filesystem::path(host_.options().dir) / "run" / std::string(wire::kFrameFile);
    std::size_t ypitch = std::size_t(panel_width_) * 2;
    map_size_ = wire::kFrameHeaderBytes + ypitch * panel_height_;
    // A new file every boot: programs of an earlier boot must not keep drawing into ours.
    ::unlink(path.c_str());
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, off_t(map_size_)) != 0) {
        *error = path.string() + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    void* p = ::mmap(nullptr, map_size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) {
        *error = std::string("mmap: ") + std::strerror(errno);
        return false;
    }
    header_ = new (p) wire::FrameHeader{wire::kFrameMagic, std::uint32_t(panel_width_),
                                        std::uint32_t(panel_height_), std::uint32_t(ypitch),
                                        1, {0}, {0}, {0}};
    auto* px = reinterpret_cast<std::uint16_t*>(static_cast<std::byte*>(p) + wire::kFrameHeaderBytes);
    std::fill(px, px + std::size_t(panel_width_) * panel_height_, kDarkGlass);
    host_.log().printf("display %dx%d at %d dpi, %s", width_, height_, profile_.dpi,
                       platform::to_utf8(profile_.oem).c_str());
    return true;
}

void DisplayService::register_handlers() {
    host_.add_handler(Kind::DisplayInfo, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        out.status(Status::Ok).u32(std::uint32_t(width_)).u32(std::uint32_t(height_));
        out.u32(std::uint32_t(profile_.dpi)).u32(profile_.major).u32(profile_.minor).u32(profile_.build);
        out.s16(profile_.oem);
        return true;
    });
    host_.add_handler(Kind::DisplayPresent, [this](ClientConn&, Reader& in, Writer& out) {
        auto hwnd = in.u32();
        if (!in.done()) return false;
        if (!header_) {
            out.status(Status::Failed);
            return true;
        }
        last_presenter_ = hwnd;
        header_->frames.fetch_add(1);
        out.status(Status::Ok);
        return true;
    });
    // The picture goes to the asking tool, which writes the file in its own process: the host
    // writes nothing where a client names. Offset 0 takes a new picture for that client; the rest
    // comes from it in pieces that fit a packet.
    host_.add_handler(Kind::DisplayScreenshot, [this](ClientConn& c, Reader& in, Writer& out) {
        auto offset = in.u32();
        if (!in.done()) return false;
        auto& shot = shots_[c.id];
        if (offset == 0) {
            const std::uint16_t* px = frame();
            shot.width = width_;
            shot.height = height_;
            shot.bytes.resize(composed_.size() * 2);
            std::memcpy(shot.bytes.data(), px, shot.bytes.size());
        }
        if (offset >= shot.bytes.size()) {
            out.status(Status::BadRequest);
            return true;
        }
        std::size_t n = std::min<std::size_t>(kScreenshotPiece, shot.bytes.size() - offset);
        out.status(Status::Ok).u32(std::uint32_t(shot.width)).u32(std::uint32_t(shot.height));
        out.u32(std::uint32_t(shot.bytes.size()));
        out.bin(std::span(shot.bytes).subspan(offset, n));
        if (offset + n == shot.bytes.size()) shots_.erase(c.id);
        return true;
    });
    host_.on_client_closed([this](ClientConn& c) { shots_.erase(c.id); });
    host_.add_handler(Kind::DisplayTouch, [this](ClientConn&, Reader& in, Writer& out) {
        auto action = in.u32();
        auto x = in.i32();
        auto y = in.i32();
        if (!in.done()) return false;
        if (action < 1 || action > 3) {
            out.status(Status::BadRequest);
            return true;
        }
        out.status(Status::Ok).u32(stylus(Touch(action), x, y));
        return true;
    });
    host_.add_handler(Kind::DisplayRotate, [this](ClientConn&, Reader& in, Writer& out) {
        auto degrees = in.u32();
        if (!in.done()) return false;
        if (!header_ || degrees % 90 != 0 || degrees >= 360) {
            out.status(Status::BadRequest);
            return true;
        }
        turn(int(degrees));
        windows_.broadcast(platform::WM_SETTINGCHANGE, platform::SETTINGCHANGE_RESET, 0);
        windows_.broadcast(platform::WM_WINDOWPOSCHANGED, 0, 0);
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::DisplayLoseSurface, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        if (header_) header_->surface_lost.store(1);
        out.status(header_ ? Status::Ok : Status::Failed);
        return true;
    });
}

const std::uint16_t* DisplayService::frame() {
    // The programs draw full screen into the shared frame; windows whose procedure runs in the
    // host (simulated programs, message boxes) are drawn over it when they are above the top-most
    // program window.
    if (light_ == Light::Off) {
        std::fill(composed_.begin(), composed_.end(), kBlack);
        return composed_.data();
    }
    const auto& z = windows_.z_order();
    std::size_t top_program = z.size();
    for (std::size_t i = 0; i < z.size(); ++i) {
        auto* w = windows_.find(z[i]);
        if (w && w->visible && !w->minimized && !w->host_proc) {
            top_program = i;
            break;
        }
    }
    if (top_program < z.size() && header_) {
        auto* px = reinterpret_cast<const std::uint16_t*>(reinterpret_cast<const std::byte*>(header_) +
                                                          wire::kFrameHeaderBytes);
        if (degrees_ == 0) {
            std::copy(px, px + composed_.size(), composed_.begin());
        } else {
            auto [origin, xstep, ystep] = walk();
            auto* out = composed_.data();
            for (int y = 0; y < height_; ++y) {
                const std::uint16_t* in = px + origin + y * ystep;
                for (int x = 0; x < width_; ++x, in += xstep) *out++ = *in;
            }
        }
    } else {
        std::fill(composed_.begin(), composed_.end(), kDarkGlass);
    }
    std::vector<DialogRecord> dialogs;
    for (std::size_t i = top_program; i-- > 0;) {
        auto* w = windows_.find(z[i]);
        if (!w || !w->visible || w->minimized || !w->host_proc) continue;
        std::u16string text = w->body;
        std::u16string_view answer;
        if (dialogs.empty()) dialogs = windows_.dialogs();
        for (const auto& d : dialogs) {
            if (d.hwnd != w->hwnd) continue;
            text = d.text;
            answer = answer_name(platform::message_box_default_button(d.flags));
        }
        if (w->class_name == kDesktopClass) {
            draw_home_screen(w->rect);
        } else if (w->class_name == kTaskBarClass) {
            draw_task_bar(w->rect);
        } else if (draw_shell_control(*w)) {
        } else {
            draw_host_window(w->title, text, w->rect, answer);
        }
    }
    // The backlight off leaves the picture faintly visible.
    if (light_ == Light::Dim)
        for (auto& p : composed_) p = std::uint16_t((p >> 2) & 0x39E7);
    return composed_.data();
}

std::string DisplayService::status_line() {
    switch (light_) {
        case Light::On:
            return "on \u2014 the mouse is the stylus, P the power button";
        case Light::Dim:
            return "backlight off \u2014 touch the screen or press a key";
        case Light::Off:
            break;
    }
    if (switched_off) return "switched off \u2014 press the power button (P) to start it";
    return suspended_ ? "suspended \u2014 press the power button (P)"
                      : "display off \u2014 press the power button (P)";
}

void DisplayService::fill(const platform::Rect& r, std::uint16_t colour) {
    int l = std::max(0, r.left), t = std::max(0, r.top);
    int rt = std::min(width_, r.right), b = std::min(height_, r.bottom);
    for (int y = t; y < b; ++y)
        std::fill_n(&composed_[std::size_t(y) * width_ + l], std::max(0, rt - l), colour);
}

void DisplayService::draw_text(const std::u16string& text, int x, int y, int right,
                               std::uint16_t colour, platform::Font* font) {
    if (text.empty()) return;
    if (!fonts_) {
        fonts_ = platform::make_sdl_fonts();
        if (fonts_) font_ = fonts_->create_font(profile_.dpi >= 192 ? 26 : 13, 400);
    }
    if (!font) font = font_.get();
    int w = 0;
    if (!font || !font->render_line(text, coverage_, w)) return;
    int h = font->line_height();
    for (int row = 0; row < h; ++row) {
        int py = y + row;
        if (py < 0 || py >= height_) continue;
        for (int col = 0; col < w; ++col) {
            int px = x + col;
            unsigned a = coverage_[std::size_t(row) * w + col];
            if (px < 0 || px >= width_ || px >= right || a == 0) continue;
            auto& d = composed_[std::size_t(py) * width_ + px];
            d = blend565(d, colour, a);
        }
    }
}

int DisplayService::text_width(const std::u16string& text, platform::Font* font) {
    return font ? font->text_width(text) : 0;
}

void DisplayService::draw_home_screen(const platform::Rect& r) {
    fill(r, kHomeSky);
    if (!fonts_) draw_text(u" ", 0, 0, 0, kWhite);  // opens the font engine
    if (fonts_ && !clock_font_) clock_font_ = fonts_->create_font(profile_.dpi >= 192 ? 120 : 60, 700);
    std::int64_t ms = local_time ? local_time() : 0;
    std::time_t secs = std::time_t(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);  // the device's local time is kept as UTC-based milliseconds
    char clock[8], date[48];
    std::snprintf(clock, sizeof clock, "%02d:%02d", tm.tm_hour, tm.tm_min);
    std::strftime(date, sizeof date, "%A, %d %B %Y", &tm);
    auto clock16 = platform::to_u16(clock), date16 = platform::to_u16(date);
    int cx = r.left + (r.right - r.left - text_width(clock16, clock_font_.get())) / 2;
    int top = r.top + (r.bottom - r.top) / 6;
    draw_text(clock16, cx, top, r.right, kWhite, clock_font_.get());
    int below = top + (clock_font_ ? clock_font_->line_height() : 0);
    int dx = r.left + (r.right - r.left - text_width(date16, font_.get())) / 2;
    draw_text(date16, dx, below, r.right, kWhite);
}

void DisplayService::draw_task_bar(const platform::Rect& r) {
    fill(r, kTaskBarFace);
    if (r.bottom <= 0) return;
    if (!fonts_) draw_text(u" ", 0, 0, 0, kWhite);
    int line = font_ ? font_->line_height() : 0;
    int y = r.top + (r.bottom - r.top - line) / 2;
    int pad = profile_.dpi >= 192 ? 12 : 6;
    std::int64_t ms = local_time ? local_time() : 0;
    std::time_t secs = std::time_t(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char clock[8];
    std::snprintf(clock, sizeof clock, "%02d:%02d", tm.tm_hour, tm.tm_min);
    auto clock16 = platform::to_u16(clock);
    draw_text(clock16, r.right - pad - text_width(clock16, font_.get()), y, r.right, kWhite);
}


std::pair<int, int> DisplayService::box_metrics() const {
    int bar = profile_.dpi >= 192 ? 36 : 18;
    return {bar, bar / 6};
}

std::vector<std::u16string> DisplayService::wrap(const std::u16string& text, int width) {
    // Broken at spaces to fit `width`; a word wider than that is cut where the width ends.
    std::vector<std::u16string> lines;
    // Line breaks of the text stand; each line is broken again to fit.
    if (auto nl = text.find(u'\n'); nl != std::u16string::npos) {
        auto first = wrap(text.substr(0, nl), width);
        if (first.empty()) first.push_back(u"");
        auto rest = wrap(text.substr(nl + 1), width);
        if (rest.empty()) rest.push_back(u"");
        first.insert(first.end(), rest.begin(), rest.end());
        return first;
    }
    auto fits = [&](std::size_t from, std::size_t to) {
        return text_width(text.substr(from, to - from), font_.get()) <= width;
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = pos;
        for (std::size_t next = pos; next < text.size();) {
            next = text.find(u' ', next + 1);
            if (next == std::u16string::npos) next = text.size();
            if (!fits(pos, next)) break;
            end = next;
        }
        if (end == pos) {
            end = pos + 1;
            while (end < text.size() && fits(pos, end + 1)) ++end;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end;
        while (pos < text.size() && text[pos] == u' ') ++pos;
    }
    return lines;
}

void DisplayService::draw_host_window(const std::u16string& title, const std::u16string& text,
                                      const platform::Rect& r, std::u16string_view answer) {
    auto [bar, pad] = box_metrics();
    fill(r, kWindowFrame);
    fill({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, kWindowFace);
    fill({r.left + 1, r.top + 1, r.right - 1, std::min(r.bottom - 1, r.top + 1 + bar)}, kTitleBar);
    int answer_w = answer.empty() ? 0 : text_width(std::u16string(answer), font_.get());
    int title_right = r.right - 1 - (answer_w ? answer_w + 3 * pad : 0);
    draw_text(title, r.left + 1 + pad, r.top + 1 + pad / 2, title_right, kWhite);
    // A box's default answer sits at the right of its title bar, as the phone shows "ok".
    if (answer_w)
        draw_text(std::u16string(answer), r.right - 1 - pad - answer_w, r.top + 1 + pad / 2,
                  r.right - 1, kWhite);
    const int left = r.left + 1 + pad, right = r.right - 1 - pad;
    const int line_h = font_ ? font_->line_height() : 0;
    int y = r.top + 1 + bar + pad;
    for (const auto& line : wrap(text, right - left)) {
        if (line_h <= 0 || y + line_h > r.bottom - 1) break;
        draw_text(line, left, y, right, kBlack);
        y += line_h;
    }
}

DisplayService::Walk DisplayService::walk() const {
    // The same steps the drawing library takes for a rotation code (a 90-degree turn puts the
    // panel's bottom-left corner at the top-left of what is seen).
    const std::ptrdiff_t row = header_ ? std::ptrdiff_t(header_->ypitch / 2) : panel_width_;
    const std::ptrdiff_t w = panel_width_, h = panel_height_;
    switch (degrees_) {
    case 90: return {row * (h - 1), -row, 1};
    case 180: return {row * (h - 1) + w - 1, -1, -row};
    case 270: return {w - 1, row, -1};
    default: return {0, 1, row};
    }
}

void DisplayService::turn(int degrees) {
    const int old_w = width_, old_h = height_;
    degrees_ = degrees;
    header_->orientation.store(std::uint32_t(degrees));
    bool exchanged = degrees == 90 || degrees == 270;
    width_ = exchanged ? panel_height_ : panel_width_;
    height_ = exchanged ? panel_width_ : panel_height_;
    composed_.assign(std::size_t(width_) * height_, kDarkGlass);
    capture_ = 0;
    // Windows keep their place relative to the screen's edges: what reached the right or bottom
    // edge (full-screen windows, the task bar, the Today screen) stretches to the new edge, what
    // was centred (message boxes) stays centred, anything else is moved back onto the screen.
    for (Hwnd h : windows_.z_order()) {
        auto* w = windows_.find(h);
        if (!w || w->parent) continue;
        auto& r = w->rect;
        int rw = r.right - r.left, rh = r.bottom - r.top;
        if (rw <= 0 || rh <= 0) continue;
        bool centred =
            r.left + r.right == old_w && r.top + r.bottom == old_h && r.left > 0 && r.top > 0;
        if (centred) {
            r.left = (width_ - rw) / 2, r.top = (height_ - rh) / 2;
            r.right = r.left + rw, r.bottom = r.top + rh;
            continue;
        }
        if (r.right == old_w && r.left < width_) r.right = width_;
        if (r.bottom == old_h && r.top < height_) r.bottom = height_;
        rw = r.right - r.left, rh = r.bottom - r.top;
        if (r.right > width_) r.left = std::max(0, width_ - rw), r.right = r.left + rw;
        if (r.bottom > height_) r.top = std::max(0, height_ - rh), r.bottom = r.top + rh;
    }
    if (auto* window = DisplayWindow::find(host_.options().dir)) window->attach(this);
    host_.log().printf("display turned to %d degrees: %dx%d", degrees, width_, height_);
}

Hwnd DisplayService::window_at(int x, int y) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    for (Hwnd h : windows_.z_order()) {
        auto* w = windows_.find(h);
        if (w && w->visible && !w->minimized && w->rect.contains(x, y)) return h;
    }
    return 0;
}

Hwnd DisplayService::stylus(Touch action, int x, int y) {
    if (touch_gate && !touch_gate()) return 0;
    // The window that took the button-down keeps the stylus until it is lifted, as long as it
    // lives.
    if (capture_ && !windows_.find(capture_)) capture_ = 0;
    Hwnd target = capture_ ? capture_ : window_at(x, y);
    std::uint32_t msg = platform::WM_MOUSEMOVE;
    platform::WParam buttons = capture_ ? kMkLButton : 0;
    switch (action) {
    case Touch::Down:
        target = window_at(x, y);
        capture_ = target;
        msg = platform::WM_LBUTTONDOWN;
        buttons = kMkLButton;
        break;
    case Touch::Move: break;
    case Touch::Up:
        capture_ = 0;
        msg = platform::WM_LBUTTONUP;
        buttons = 0;
        break;
    }
    auto* w = target ? windows_.find(target) : nullptr;
    if (!w) return 0;
    windows_.post(target, msg, buttons, make_lparam(x - w->rect.left, y - w->rect.top));
    return target;
}

void DisplayService::key(std::uint8_t vk, bool up) {
    windows_.key_event(vk, up ? platform::KEYEVENTF_KEYUP : 0);
}

}  // namespace lumo::host

namespace lumo::host {

// The start icon (a four-colour flag and "Start"), the input-panel button (a keyboard) and the
// start menu (its programs, one per row); false for any other window.
bool DisplayService::draw_shell_control(const HostWindow& w) {
    const int dpi = profile_.dpi;
    if (platform::equal_no_case(w.class_name, platform::kShellStartIconClass)) {
        // The icon is part of the task bar: it shows only with the bar, and where the bar is.
        auto* bar = running_shell() ? windows_.find(running_shell()->task_bar()) : nullptr;
        if (!bar || !bar->visible || bar->minimized) return true;
        const int dy = bar->rect.top;
        const platform::Rect r{w.rect.left, w.rect.top + dy, w.rect.right, w.rect.bottom + dy};
        fill(r, kTaskBarFace);
        if (!fonts_) draw_text(u" ", 0, 0, 0, kWhite);
        const int h = r.bottom - r.top, side = h / 3, gap = std::max(1, side / 6);
        const int left = r.left + h / 4, top = r.top + (h - 2 * side - gap) / 2;
        const std::uint16_t colours[4] = {0xF800, 0x07E0, 0x001F, 0xFFE0};
        for (int i = 0; i < 4; ++i) {
            int x = left + (i % 2) * (side + gap), y = top + (i / 2) * (side + gap);
            fill({x, y, x + side, y + side}, colours[i]);
        }
        int line = font_ ? font_->line_height() : 0;
        draw_text(u"Start", left + 2 * side + gap + h / 6, r.top + (h - line) / 2, r.right, kWhite);
        return true;
    }
    const auto& r = w.rect;
    if (platform::equal_no_case(w.class_name, platform::kShellSipButtonClass)) {
        fill(r, kTaskBarFace);
        const int wd = r.right - r.left, h = r.bottom - r.top;
        // A keyboard: an outline with three rows of keys.
        platform::Rect kb{r.left + wd / 6, r.top + h / 4, r.right - wd / 6, r.bottom - h / 4};
        fill(kb, kWhite);
        fill({kb.left + 1, kb.top + 1, kb.right - 1, kb.bottom - 1}, kTaskBarFace);
        const int key = std::max(1, (kb.right - kb.left) / 9), rows = 3;
        const int row_h = std::max(1, (kb.bottom - kb.top - 2) / (rows + 1));
        for (int row = 0; row < rows; ++row) {
            int y = kb.top + 1 + row_h / 2 + row * row_h;
            for (int x = kb.left + key; x + key <= kb.right - key / 2; x += 2 * key)
                fill({x, y, x + key, y + std::max(1, row_h / 2)}, kWhite);
        }
        return true;
    }
    const bool drop_down = platform::equal_no_case(w.class_name, kDropDownMenuClass);
    if (!drop_down && !platform::equal_no_case(w.class_name, kStartMenuClass)) return false;
    fill(r, kWindowFrame);
    fill({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, kWhite);
    if (!fonts_) draw_text(u" ", 0, 0, 0, kWhite);
    const int row = start_menu_shown_row_height(), margin = start_menu_row_height(dpi) / 5,
              pad = start_menu_row_height(dpi) / 4;
    const int line = font_ ? font_->line_height() : 0;
    int y = r.top + margin;
    for (const auto& e : start_menu_shown()) {
        if (y + row > r.bottom) break;
        // A small square stands for the program's icon.
        int icon = row / 2;
        fill({r.left + pad, y + (row - icon) / 2, r.left + pad + icon, y + (row + icon) / 2}, kTitleBar);
        draw_text(e.label, r.left + 2 * pad + icon, y + (row - line) / 2, r.right - pad, kBlack);
        y += row;
        fill({r.left + pad, y - 1, r.right - pad, y}, kWindowFace);
    }
    return true;
}

}  // namespace lumo::host
