// Files: the classes by ending, the first view of an argument, sorting, the thumbnail cache
// (names, the file format, made or reused) and the bitmap writer of the crops.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#include "lumo/browser/browser.h"
#include "lumo/platform/files.h"
#include "lumo/platform/text.h"

namespace lumo::browser {

namespace fs = std::filesystem;
using platform::equal_no_case;

namespace {

bool ends_with_no_case(std::u16string_view s, std::u16string_view end) {
    return s.size() >= end.size() && equal_no_case(s.substr(s.size() - end.size()), end);
}

std::u16string parent_of(std::u16string_view path) {
    auto slash = path.find_last_of(u"\\/");
    if (slash == std::u16string_view::npos) return {};
    return std::u16string(path.substr(0, slash));
}

std::u16string name_of(std::u16string_view path) {
    auto slash = path.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

bool inside(std::u16string_view path, std::u16string_view folder) {
    return !folder.empty() && path.size() > folder.size() && equal_no_case(path.substr(0, folder.size()), folder) &&
           (path[folder.size()] == u'\\' || path[folder.size()] == u'/');
}

}  // namespace

FileClass classify(std::u16string_view name) {
    static constexpr std::u16string_view pictures[] = {u".jpg", u".jpeg", u".bmp", u".png", u".gif"};
    static constexpr std::u16string_view sounds[] = {u".wav", u".wma", u".aac", u".3gp",
                                                     u".m4a", u".mp2", u".mp3", u".mp4"};
    for (auto e : pictures)
        if (ends_with_no_case(name, e)) return FileClass::Picture;
    for (auto e : sounds)
        if (ends_with_no_case(name, e)) return FileClass::Sound;
    if (ends_with_no_case(name, u".lumo")) return FileClass::Theme;
    if (ends_with_no_case(name, u".exe")) return FileClass::Program;
    if (ends_with_no_case(name, u".exec")) return FileClass::Shortcut;
    return FileClass::None;
}

bool is_gif_name(std::u16string_view path) { return !path.empty() && (path.back() == u'f' || path.back() == u'F'); }

bool listed(Listing listing, FileClass cls) {
    switch (listing) {
        case Listing::Pictures: return cls == FileClass::Picture;
        case Listing::Sounds: return cls == FileClass::Sound;
        case Listing::Themes: return cls == FileClass::Theme;
        case Listing::Programs: return cls == FileClass::Program || cls == FileClass::Shortcut;
    }
    return false;
}

StartView start_view(std::u16string_view argument, std::u16string_view program_folder,
                     std::u16string_view pictures_folder, const std::function<bool(std::u16string_view)>& is_folder) {
    std::u16string arg(argument);
    // The settings program quotes its argument.
    if (arg.size() >= 2 && arg.front() == u'"' && arg.back() == u'"') arg = arg.substr(1, arg.size() - 2);
    while (!arg.empty() && (arg.back() == u' ')) arg.pop_back();
    StartView v;
    v.folder = std::u16string(pictures_folder);
    if (arg.empty()) return v;
    bool trailing = arg.back() == u'\\' || arg.back() == u'/';
    while (arg.size() > 1 && (arg.back() == u'\\' || arg.back() == u'/')) arg.pop_back();
    auto cls = classify(arg);
    if (trailing || (cls == FileClass::None && is_folder(arg))) {
        if (is_folder(arg)) v.folder = arg;
        return v;
    }
    auto folder = parent_of(arg);
    auto name = name_of(arg);
    bool pattern = name.find_first_of(u"*?") != std::u16string::npos;
    switch (cls) {
        case FileClass::Sound: v.listing = Listing::Sounds; break;
        case FileClass::Theme: v.listing = Listing::Themes; break;
        case FileClass::Program:
        case FileClass::Shortcut: v.listing = Listing::Programs; break;
        case FileClass::Picture:
            // The default wallpaper and the crops live among the program's own files: pictures
            // are browsed in the pictures folder instead.
            if (inside(arg, program_folder)) return v;
            break;
        case FileClass::None: return v;
    }
    if (folder.empty() || !is_folder(folder)) {
        if (v.listing != Listing::Pictures) v.folder = std::u16string(program_folder);
        return v;
    }
    v.folder = folder;
    if (!pattern) v.file = name;
    return v;
}

std::u16string mode_argument(std::uint32_t mode, const catalogue::Values& s, std::u16string_view folder,
                             std::u16string_view program_files) {
    using catalogue::Id;
    auto value_or = [&](Id id, std::u16string fallback) {
        return s.text(id).empty() ? fallback : s.text(id);
    };
    std::u16string f(folder), pf(program_files);
    switch (mode) {
        case kModePortrait: return value_or(Id::Wallpaper, f + u"\\gfx\\wallpaper.jpg");
        case kModeLandscape: return value_or(Id::WallpaperL, f + u"\\gfx\\wallpaperL.jpg");
        case kModeLockSound: return value_or(Id::LockSound, f + u"\\*.wav");
        case kModeUnlockSound: return value_or(Id::UnlockSound, f + u"\\*.wav");
        case kModeTheme: return f + u"\\*.lumo";
        case kModeUnlockProgram: return value_or(Id::UnlockRunEXE, pf + u"\\*.exe");
        case kModeException: return pf + u"\\*.exec";
        default: return f + u"\\gfx\\wallpaper.jpg";
    }
}

void sort_entries(std::vector<Entry>& entries, SortOrder order) {
    auto by_name = [](const Entry& a, const Entry& b) {
        auto fa = platform::fold_case(a.name), fb = platform::fold_case(b.name);
        if (fa != fb) return fa < fb;
        return a.name < b.name;
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.folder != b.folder) return a.folder;  // folders stay in front either way
        if (order.key == SortKey::Time && a.time != b.time)
            return order.descending ? a.time > b.time : a.time < b.time;
        return order.descending ? by_name(b, a) : by_name(a, b);
    });
}

// --- the cache -------------------------------------------------------------------------------

std::u16string cache_name(std::u16string_view picture_path) {
    std::u16string name(picture_path);
    name += u".s2v";
    for (auto& ch : name)
        if (ch == u'\\' || ch == u'/' || ch == u':' || ch == 0) ch = u'_';
    // A file name holds at most 255 bytes: a longer one keeps its end, behind a hash of all of it.
    if (platform::to_utf8(name).size() > 200) {
        std::uint64_t h = 1469598103934665603ull;
        for (char16_t ch : name) h = (h ^ ch) * 1099511628211ull;
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
        std::u16string tail = name.substr(name.size() - 60);
        name = platform::to_u16(hex) + u"_" + tail;
    }
    return name;
}

bool cacheable(std::u16string_view picture_name) { return !ends_with_no_case(picture_name, u".png"); }

namespace {
char format_mark(const gfx::PixelFormat& f) { return f == gfx::kRgb555 ? '5' : '6'; }
}  // namespace

std::vector<std::uint8_t> encode_thumbnail(const gfx::Image& img, const gfx::PixelFormat& f) {
    std::vector<std::uint8_t> out;
    if (img.empty() || img.width > kMaxThumbSide || img.height > kMaxThumbSide) return out;
    out.reserve(8 + std::size_t(img.width) * std::size_t(img.height) * 2);
    out.insert(out.end(), {'S', '2', 'V', std::uint8_t(format_mark(f))});
    auto u16 = [&out](unsigned v) {
        out.push_back(std::uint8_t(v & 0xFF));
        out.push_back(std::uint8_t(v >> 8));
    };
    u16(unsigned(img.width));
    u16(unsigned(img.height));
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) u16(img.at(x, y));
    return out;
}

bool decode_thumbnail(std::span<const std::uint8_t> bytes, const gfx::PixelFormat& f, gfx::Image& out) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), "S2V", 3) != 0 || bytes[3] != std::uint8_t(format_mark(f)))
        return false;
    int w = bytes[4] | bytes[5] << 8, h = bytes[6] | bytes[7] << 8;
    if (w <= 0 || h <= 0 || w > kMaxThumbSide || h > kMaxThumbSide) return false;
    if (bytes.size() != 8 + std::size_t(w) * std::size_t(h) * 2) return false;
    if (!gfx::ResizeBuffers(out, w, h, false)) return false;
    const std::uint8_t* p = bytes.data() + 8;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, p += 2) out.at(x, y) = std::uint16_t(p[0] | p[1] << 8);
    return true;
}

namespace {

bool write_whole(const fs::path& path, std::span<const std::uint8_t> bytes, std::string* why) {
    // Written aside and renamed, so a reader never meets half a file.
    auto tmp = path;
    tmp += ".part";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(tmp, ec);
            if (why) *why = std::strerror(errno ? errno : EIO);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        if (why) *why = ec.message();
        return false;
    }
    return true;
}

}  // namespace

ThumbSource make_thumbnail(platform::Imaging& imaging, const fs::path& picture, const fs::path& cache_file,
                           bool store, int side, const gfx::PixelFormat& f, gfx::Image& out) {
    std::error_code ec;
    auto picture_time = fs::last_write_time(picture, ec);
    if (!ec && store && !cache_file.empty()) {
        std::error_code ec2;
        auto cache_time = fs::last_write_time(cache_file, ec2);
        if (!ec2 && cache_time > picture_time) {
            if (auto bytes = platform::read_file(cache_file, 16 + 2 * kMaxThumbSide * kMaxThumbSide))
                if (decode_thumbnail(*bytes, f, out) && out.width <= side && out.height <= side) return ThumbSource::Cache;
        }
    }
    // Decoded already shrunk where the format allows, to twice the box: the smooth scaling
    // below still has pixels to average, and a large photo never costs its full size.
    auto pic = imaging.open_reduced(platform::to_u16(picture.string()), 2 * side);
    if (!pic) return ThumbSource::Failed;
    auto fit = gfx::FitInside(pic->width(), pic->height(), side, side);
    // Never enlarged: a small picture keeps its size.
    if (pic->width() <= side && pic->height() <= side) fit = {pic->width(), pic->height()};
    std::vector<std::uint8_t> rgba(std::size_t(fit.width) * std::size_t(fit.height) * 4);
    if (!pic->read_rgba(fit.width, fit.height, rgba)) return ThumbSource::Failed;
    if (!gfx::ResizeBuffers(out, fit.width, fit.height, false)) return ThumbSource::Failed;
    const std::uint8_t* s = rgba.data();
    for (int y = 0; y < fit.height; ++y)
        for (int x = 0; x < fit.width; ++x, s += 4) {
            // Transparent parts over black, as the grid draws them.
            int a = s[3];
            out.at(x, y) = gfx::RGBTo565(f, s[0] * a / 255, s[1] * a / 255, s[2] * a / 255);
        }
    if (store && !cache_file.empty()) {
        auto bytes = encode_thumbnail(out, f);
        if (!bytes.empty()) write_whole(cache_file, bytes, nullptr);
    }
    return ThumbSource::Made;
}

bool save_bitmap(const fs::path& path, const gfx::Image& img, const gfx::PixelFormat& f, std::string* why) {
    if (img.empty()) {
        if (why) *why = "nothing to save";
        return false;
    }
    const std::uint32_t w = std::uint32_t(img.width), h = std::uint32_t(img.height);
    const std::uint32_t stride = (w * 3 + 3) & ~3u;
    const std::uint32_t data = stride * h, size = 54 + data;
    std::vector<std::uint8_t> out(size, 0);
    auto put32 = [&out](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    out[26] = 1;
    out[28] = 24;
    put32(34, data);
    put32(38, 3780);
    put32(42, 3780);
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* row = out.data() + 54 + std::size_t(h - 1 - y) * stride;
        for (std::uint32_t x = 0; x < w; ++x) {
            int r, g, b;
            gfx::PixelToRGB(f, img.at(int(x), int(y)), r, g, b);
            row[x * 3] = std::uint8_t(b);
            row[x * 3 + 1] = std::uint8_t(g);
            row[x * 3 + 2] = std::uint8_t(r);
        }
    }
    return write_whole(path, out, why);
}

}  // namespace lumo::browser
