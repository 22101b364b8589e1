#include <SDL.h>
#include <SDL_ttf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <span>
#include <string>

#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"

namespace lumo::platform {
namespace {

// The product's face: fontconfig does not list Wine's Tahoma, so it is opened by path. Its bold is
// made by the bold style: tahomabd.ttf's outlines are not heavier.
constexpr const char* kTahoma = "/usr/share/wine/fonts/tahoma.ttf";

// Faces tried, in order, for characters Tahoma lacks. Missing files are skipped.
constexpr std::array kFallbacks = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
    "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf",
};

constexpr int kBoldWeight = 600;

bool ttf_ready() {
    // Initialised once for the process and never shut down: fonts may outlive any one engine.
    static const bool ready = TTF_Init() == 0;
    return ready;
}

// A face file's bytes, mapped once for the process. FreeType reading a file by path seeks and
// reads for every table it touches, each a system call, and every font of every size opened the
// file again; from memory a font opens without touching the file. The mapping is never undone:
// fonts may outlive any one engine. Empty when the file cannot be read.
std::span<const std::byte> face_bytes(const char* path) {
    static std::mutex m;
    static std::map<std::string, std::span<const std::byte>> mapped;
    std::lock_guard lock(m);
    auto [it, fresh] = mapped.try_emplace(path);
    if (!fresh) return it->second;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && st.st_size <= INT32_MAX) {
        void* at = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
        if (at != MAP_FAILED) it->second = {static_cast<const std::byte*>(at), std::size_t(st.st_size)};
    }
    ::close(fd);
    return it->second;
}

// Opens a face at a point size from its mapped bytes; nullptr when it is missing or unusable.
TTF_Font* open_face(const char* path, int pt) {
    auto bytes = face_bytes(path);
    if (bytes.empty()) return nullptr;
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), int(bytes.size()));
    return rw ? TTF_OpenFontRW(rw, 1, pt) : nullptr;
}

// Splits UTF-16 into code points; unpaired surrogates become U+FFFD.
std::u32string code_points(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out.push_back(c);
    }
    return out;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

// A stretch of text drawn with one face.
struct Run {
    std::size_t face = 0;
    std::string utf8;
    int width = 0;
};

class SdlFont final : public Font {
public:
    // `main` is Tahoma; the fallback faces are opened at `pt` with `style` the first time a
    // character is not in the faces before them, so Latin text never opens them.
    SdlFont(TTF_Font* main, int pt, int style, bool italic)
        : faces_{main}, pt_(pt), style_(style), italic_(italic) {}
    ~SdlFont() override {
        for (auto* f : faces_)
            if (f) TTF_CloseFont(f);
    }
    SdlFont(const SdlFont&) = delete;
    SdlFont& operator=(const SdlFont&) = delete;

    int line_height() const override { return TTF_FontHeight(faces_[0]); }

    int text_width(std::u16string_view text) override {
        split(text);
        int w = 0;
        for (auto& r : runs_) w += r.width;
        return w;
    }

    bool render_line(std::u16string_view text, std::vector<std::uint8_t>& coverage,
                     int& width) override {
        split(text);
        width = 0;
        for (auto& r : runs_) width += r.width;
        int lh = line_height();
        coverage.assign(std::size_t(std::max(width, 0)) * std::size_t(std::max(lh, 0)), 0);
        int ascent = TTF_FontAscent(faces_[0]);
        int x = 0;
        for (auto& r : runs_) {
            TTF_Font* face = faces_[r.face];
            SDL_Surface* s = TTF_RenderUTF8_Blended(face, r.utf8.c_str(), SDL_Color{255, 255, 255, 255});
            if (s) {
                blit_alpha(s, x, ascent - TTF_FontAscent(face), width, lh, coverage);
                SDL_FreeSurface(s);
            }
            x += r.width;
        }
        if (italic_) slant(coverage, width, lh, ascent);
        return width > 0 && lh > 0;
    }

private:
    // Slants the line by a fifth of a pixel per row above the baseline (and back below it). The
    // faces' own italic style is not used: small sizes come from bitmap strikes, which it leaves
    // upright.
    static void slant(std::vector<std::uint8_t>& coverage, int& width, int lh, int ascent) {
        if (width <= 0 || lh <= 0) return;
        const int extra = (ascent + 4) / 5 + 1;
        const int out_w = width + extra;
        std::vector<std::uint8_t> out(std::size_t(out_w) * std::size_t(lh), 0);
        for (int row = 0; row < lh; ++row) {
            // Shift in 1/256 pixels: rows above the baseline move right.
            const int shift = std::max(0, (ascent - row) * 256 / 5);
            const int whole = shift >> 8, frac = shift & 255;
            const std::uint8_t* in = coverage.data() + std::size_t(row) * std::size_t(width);
            std::uint8_t* o = out.data() + std::size_t(row) * std::size_t(out_w);
            for (int x = 0; x < width; ++x) {
                const int v = in[x];
                if (!v) continue;
                const int at = x + whole;
                if (at < out_w) o[at] = std::uint8_t(std::min(255, o[at] + v * (256 - frac) / 256));
                if (at + 1 < out_w) o[at + 1] = std::uint8_t(std::min(255, o[at + 1] + v * frac / 256));
            }
        }
        coverage.swap(out);
        width = out_w;
    }

    // Picks a face for every character and groups neighbours drawn with the same face.
    void split(std::u16string_view text) {
        runs_.clear();
        for (char32_t c : code_points(text)) {
            std::size_t face = 0;
            for (std::size_t i = 0; i < kFallbacks.size() + 1; ++i) {
                if (i == faces_.size()) open_next_fallback();
                if (faces_[i] && TTF_GlyphIsProvided32(faces_[i], c)) {
                    face = i;
                    break;
                }
            }
            if (runs_.empty() || runs_.back().face != face) runs_.push_back(Run{face, {}, 0});
            append_utf8(runs_.back().utf8, c);
        }
        for (auto& r : runs_) {
            int w = 0, h = 0;
            if (TTF_SizeUTF8(faces_[r.face], r.utf8.c_str(), &w, &h) == 0) r.width = w;
        }
    }

    static void blit_alpha(SDL_Surface* s, int x0, int y0, int width, int lh,
                           std::vector<std::uint8_t>& coverage) {
        if (s->format->BytesPerPixel != 4 || s->format->Amask == 0) return;
        if (SDL_MUSTLOCK(s)) SDL_LockSurface(s);
        auto shift = s->format->Ashift;
        for (int y = 0; y < s->h; ++y) {
            int ty = y0 + y;
            if (ty < 0 || ty >= lh) continue;
            auto* row = reinterpret_cast<const std::uint32_t*>(
                static_cast<const std::uint8_t*>(s->pixels) + std::size_t(s->pitch) * y);
            for (int x = 0; x < s->w; ++x) {
                int tx = x0 + x;
                if (tx < 0 || tx >= width) continue;
                auto a = std::uint8_t(row[x] >> shift);
                auto& c = coverage[std::size_t(ty) * width + tx];
                c = std::max(c, a);
            }
        }
        if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);
    }

    // The next face in the fallback order; a missing file stays an empty slot.
    void open_next_fallback() {
        TTF_Font* f = open_face(kFallbacks[faces_.size() - 1], pt_);
        if (f) TTF_SetFontStyle(f, style_);
        faces_.push_back(f);
    }

    std::vector<TTF_Font*> faces_;  // Tahoma, then the fallbacks opened so far (null: missing)
    int pt_ = 0;
    int style_ = TTF_STYLE_NORMAL;
    std::vector<Run> runs_;
    bool italic_ = false;
};

class SdlFonts final : public FontEngine {
public:
    std::unique_ptr<Font> create_font(int height, int weight) override {
        return make(height, weight, false);
    }
    std::unique_ptr<Font> create_italic_font(int height, int weight) override {
        return make(height, weight, true);
    }

private:
    std::unique_ptr<Font> make(int height, int weight, bool italic) {
        if (height <= 0 || !ttf_ready()) return nullptr;
        TTF_Font* main = open_face(kTahoma, height);
        if (!main) return nullptr;
        // The height asked for is the cell height (ascent + descent), not the em size.
        int cell = TTF_FontHeight(main);
        int pt = height;
        if (cell > 0 && cell != height) {
            pt = std::max(1, (height * height + cell / 2) / cell);
            TTF_SetFontSize(main, pt);
        }
        int style = weight >= kBoldWeight ? TTF_STYLE_BOLD : TTF_STYLE_NORMAL;
        TTF_SetFontStyle(main, style);
        return std::make_unique<SdlFont>(main, pt, style, italic);
    }
};

}  // namespace

std::unique_ptr<FontEngine> make_sdl_fonts() {
    if (!ttf_ready()) return nullptr;
    // Probe once so that a missing Tahoma shows up here rather than at the first text.
    TTF_Font* probe = open_face(kTahoma, 12);
    if (!probe) return nullptr;
    TTF_CloseFont(probe);
    return std::make_unique<SdlFonts>();
}

}  // namespace lumo::platform
