// Builds the staging tree of a new phone: the theme pictures of both profiles, the language pack
// and the default sounds.
//
//   lumo-theme-make pictures TABLE STAGE WORKDIR RSVG-CONVERT
//   lumo-theme-make lang LANGDIR STAGE
//   lumo-theme-make sounds STAGE
#include <SDL.h>
#include <SDL_image.h>
#include <spawn.h>
#include <sys/wait.h>
#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "art.h"
#include "gif_writer.h"
#include "lang_pack.h"
#include "theme_table.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace lumo::theme;

namespace {

constexpr int kJobs = 2;  // the build machines have two cores

bool read_file(const fs::path& p, std::string& out) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

// Writes through a temporary name so an interrupted build never leaves half a file behind.
bool write_file(const fs::path& p, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    fs::path tmp = p;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), std::streamsize(bytes.size()))) return false;
    }
    fs::rename(tmp, p, ec);
    return !ec;
}

bool write_if_changed(const fs::path& p, const std::string& bytes) {
    std::string old;
    if (read_file(p, old) && old == bytes) return true;
    return write_file(p, bytes);
}

bool newer(const fs::path& a, const fs::path& b) {
    std::error_code ea, eb;
    auto ta = fs::last_write_time(a, ea), tb = fs::last_write_time(b, eb);
    return ea || eb || ta > tb;
}

struct Job {
    const Picture* picture;
    const Profile* profile;
    fs::path svg, png, out;
};

// rsvg-convert writes RGBA PNGs; JPEG and opaque pictures are re-encoded without alpha.
bool finish(const Job& job) {
    if (job.picture->mode != Mode::Opaque) return true;
    SDL_Surface* rgba = IMG_Load(job.png.c_str());
    if (!rgba) return false;
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(rgba, SDL_PIXELFORMAT_RGB24, 0);
    SDL_FreeSurface(rgba);
    if (!rgb) return false;
    fs::path tmp = job.out;
    tmp += ".tmp";
    bool jpeg = job.out.extension() == ".jpg";
    bool bmp = job.out.extension() == ".bmp";
    int rc = jpeg ? IMG_SaveJPG(rgb, tmp.c_str(), 92) : bmp ? SDL_SaveBMP(rgb, tmp.c_str()) : IMG_SavePNG(rgb, tmp.c_str());
    SDL_FreeSurface(rgb);
    std::error_code ec;
    if (rc == 0) fs::rename(tmp, job.out, ec);
    return rc == 0 && !ec;
}

bool render_all(const std::vector<Job>& jobs, const std::string& rsvg) {
    std::vector<std::pair<pid_t, const Job*>> running;
    bool ok = true;
    auto reap = [&]() {
        int status = 0;
        pid_t pid = waitpid(-1, &status, 0);
        for (auto it = running.begin(); it != running.end(); ++it) {
            if (it->first != pid) continue;
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !finish(*it->second)) {
                std::fprintf(stderr, "theme: cannot render %s\n", it->second->svg.c_str());
                ok = false;
            }
            running.erase(it);
            break;
        }
    };
    for (const Job& job : jobs) {
        while (running.size() >= kJobs) reap();
        std::error_code ec;
        fs::create_directories(job.out.parent_path(), ec);
        std::string w = std::to_string(pixel_width(*job.picture, *job.profile));
        std::string h = std::to_string(pixel_height(*job.picture, *job.profile));
        std::string png = job.png.string(), svg = job.svg.string();
        std::vector<char*> argv = {const_cast<char*>(rsvg.c_str()), const_cast<char*>("-w"), w.data(),
                                   const_cast<char*>("-h"), h.data(), const_cast<char*>("-o"), png.data(),
                                   svg.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, rsvg.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            std::fprintf(stderr, "theme: cannot start %s\n", rsvg.c_str());
            return false;
        }
        running.emplace_back(pid, &job);
    }
    while (!running.empty()) reap();
    return ok;
}

// The animated sample: planets on an orbit over a banded night sky, in a 64-colour palette.
GifAnimation orbit(int w, int h) {
    GifAnimation gif;
    gif.width = w;
    gif.height = h;
    gif.delay_cs = 12;
    auto mix = [](uint32_t a, uint32_t b, double t) {
        auto ch = [&](int s) { return uint32_t(std::lround(((a >> s) & 255) * (1 - t) + ((b >> s) & 255) * t)) << s; };
        return ch(16) | ch(8) | ch(0);
    };
    for (int i = 0; i < 32; ++i) gif.palette.push_back(mix(0x1B2A4A, 0x04060C, i / 31.0));  // sky bands
    for (int i = 0; i < 16; ++i) gif.palette.push_back(mix(0x04060C, 0x2EA6FF, i / 15.0));  // orbit glow
    for (int i = 0; i < 8; ++i) gif.palette.push_back(mix(0x7A4CFF, 0xFFFFFF, i / 7.0));    // planets
    for (int i = 0; i < 8; ++i) gif.palette.push_back(mix(0xFFC53D, 0xFFFFFF, i / 7.0));    // sun
    const int frames = 12;
    const double cx = w / 2.0, cy = h * 0.42, rx = w * 0.38, ry = w * 0.14;
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> px(size_t(w) * h);
        double planets[3][3];
        for (int p = 0; p < 3; ++p) {
            double a = 2 * M_PI * (f / double(frames) + p / 3.0);
            planets[p][0] = cx + rx * std::cos(a);
            planets[p][1] = cy + ry * std::sin(a);
            planets[p][2] = w * (0.025 + 0.012 * p);
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t idx = uint8_t(std::min(31, y * 32 / h));
                double ex = (x - cx) / rx, ey = (y - cy) / ry;
                double d = std::fabs(std::sqrt(ex * ex + ey * ey) - 1) * rx;
                if (d < 6) idx = uint8_t(32 + std::lround((6 - d) * 15 / 6));
                double sd = std::hypot(x - cx, y - cy);
                if (sd < w * 0.07) idx = uint8_t(56 + std::min(7L, std::lround((1 - sd / (w * 0.07)) * 7)));
                for (auto& pl : planets) {
                    double pd = std::hypot(x - pl[0], y - pl[1]);
                    if (pd < pl[2]) idx = uint8_t(48 + std::min(7L, std::lround((1 - pd / pl[2]) * 7)));
                }
                px[size_t(y) * w + x] = idx;
            }
        gif.frames.push_back(std::move(px));
    }
    return gif;
}

int pictures(const std::string& table_path, const fs::path& stage, const fs::path& work, const std::string& rsvg) {
    Table table = read_table(table_path);
    if (!table.error.empty()) {
        std::fprintf(stderr, "theme: %s\n", table.error.c_str());
        return 1;
    }
    std::vector<Job> jobs;
    std::set<fs::path> wanted;
    for (const Profile& profile : kProfiles) {
        for (const Picture& p : table.pictures) {
            auto rel = stage_path(p, profile);
            if (!rel) continue;
            fs::path out = stage / *rel;
            wanted.insert(out);
            if (is_procedural(p)) {
                GifAnimation gif = orbit(pixel_width(p, profile), pixel_height(p, profile));
                std::vector<uint8_t> bytes = encode_gif(gif);
                if (bytes.empty() || !write_if_changed(out, std::string(bytes.begin(), bytes.end()))) {
                    std::fprintf(stderr, "theme: cannot write %s\n", out.c_str());
                    return 1;
                }
                continue;
            }
            std::string svg = picture_svg(p, profile);
            if (svg.empty()) {
                std::fprintf(stderr, "%s:%d: unknown art \"%s\"\n", table_path.c_str(), p.line, p.art.c_str());
                return 1;
            }
            fs::path svg_path = work / profile.name / (p.path + ".svg");
            if (!write_if_changed(svg_path, svg)) {
                std::fprintf(stderr, "theme: cannot write %s\n", svg_path.c_str());
                return 1;
            }
            bool direct = p.mode != Mode::Opaque;
            fs::path png = direct ? out : fs::path(work / profile.name / (p.path + ".png"));
            if (!fs::exists(out) || newer(svg_path, out)) jobs.push_back({&p, &profile, svg_path, png, out});
        }
    }
    if (!render_all(jobs, rsvg)) return 1;
    // Pictures dropped from the table must not linger in the staging tree a phone is made from.
    for (const Profile& profile : kProfiles) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(stage / profile.gfx_dir, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file() && !wanted.count(it->path())) fs::remove(it->path(), ec);
    }
    std::printf("theme: %zu pictures rendered\n", jobs.size());
    return 0;
}

bool add_zip_entry(zipFile zip, const std::string& name, const std::string& bytes) {
    zip_fileinfo info{};
    info.tmz_date = {0, 0, 12, 1, 0, 2010};  // fixed, so rebuilding gives the same archive
    if (zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9) != ZIP_OK)
        return false;
    bool ok = zipWriteInFileInZip(zip, bytes.data(), unsigned(bytes.size())) == ZIP_OK;
    return zipCloseFileInZip(zip) == ZIP_OK && ok;
}

int lang(const fs::path& dir, const fs::path& stage) {
    LangSources src = read_lang_sources(dir.string());
    if (!src.error.empty()) {
        std::fprintf(stderr, "theme: %s\n", src.error.c_str());
        return 1;
    }
    std::vector<std::string> errors;
    const fs::path program = stage / "Program Files/Lumo";
    std::error_code ec;
    fs::create_directories(program, ec);
    fs::path zip_path = program / "LumoLanguagePack.zip", tmp = zip_path;
    tmp += ".tmp";
    zipFile zip = zipOpen(tmp.c_str(), APPEND_STATUS_CREATE);
    if (!zip) {
        std::fprintf(stderr, "theme: cannot create %s\n", tmp.c_str());
        return 1;
    }
    bool ok = true;
    for (const Language& l : src.languages) {
        fs::path source = dir / (l.list_name + ".txt");
        auto entries = language_entries(src, fs::exists(source) ? source.string() : "", errors);
        std::string bytes = encode_lang_file(entries);
        ok = ok && !bytes.empty() && add_zip_entry(zip, "lang." + l.list_name + ".ini", bytes);
        if (l.list_name == "English") ok = ok && write_file(program / "lang.ini", bytes);
    }
    ok = zipClose(zip, nullptr) == ZIP_OK && ok;
    for (const auto& e : errors) std::fprintf(stderr, "theme: %s\n", e.c_str());
    if (!ok || !errors.empty()) {
        fs::remove(tmp, ec);
        std::fprintf(stderr, "theme: language pack not written\n");
        return 1;
    }
    fs::rename(tmp, zip_path, ec);
    return ec ? 1 : 0;
}

// A short chime: tones in sequence, each with a soft attack and an exponential tail.
std::string chime(std::initializer_list<double> tones) {
    const int rate = 22050, per = rate * 14 / 100;
    std::vector<int16_t> samples(size_t(per) * (tones.size() + 1), 0);
    size_t start = 0;
    for (double f : tones) {
        for (size_t i = 0; i + start < samples.size(); ++i) {
            double t = double(i) / rate;
            double env = std::min(1.0, t / 0.004) * std::exp(-t * 14);
            double v = env * (std::sin(2 * M_PI * f * t) + 0.25 * std::sin(4 * M_PI * f * t)) * 0.45;
            samples[start + i] = int16_t(std::clamp(samples[start + i] + v * 32767, -32768.0, 32767.0));
        }
        start += size_t(per);
    }
    // Fade the tail out so the sound ends on silence instead of a click.
    const size_t fade = rate / 30;
    for (size_t i = 0; i < fade; ++i) {
        size_t at = samples.size() - fade + i;
        samples[at] = int16_t(samples[at] * double(fade - 1 - i) / double(fade));
    }
    auto le = [](std::string& s, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
    };
    std::string wav = "RIFF";
    uint32_t data = uint32_t(samples.size() * 2);
    le(wav, 36 + data, 4);
    wav += "WAVEfmt ";
    le(wav, 16, 4);
    le(wav, 1, 2);         // PCM
    le(wav, 1, 2);         // mono
    le(wav, rate, 4);
    le(wav, rate * 2, 4);  // bytes per second
    le(wav, 2, 2);
    le(wav, 16, 2);
    wav += "data";
    le(wav, data, 4);
    for (int16_t s : samples) le(wav, uint16_t(s), 2);
    return wav;
}

// A short tune for the music samples: notes (Hz, 0 a rest) of `beat` seconds each, a soft
// plucked tone, with the track's title, artist and album in the wave's INFO chunk.
std::string tune(const std::vector<double>& notes, double beat, const std::string& title, const std::string& artist,
                 const std::string& album) {
    const int rate = 22050;
    const size_t per = size_t(rate * beat);
    std::vector<int16_t> samples(per * notes.size() + rate / 4, 0);
    for (size_t n = 0; n < notes.size(); ++n) {
        if (notes[n] <= 0) continue;
        for (size_t i = 0; i < per * 2 && n * per + i < samples.size(); ++i) {
            double t = double(i) / rate;
            double env = std::min(1.0, t / 0.01) * std::exp(-t * 5);
            double v = env * (std::sin(2 * M_PI * notes[n] * t) + 0.3 * std::sin(6 * M_PI * notes[n] * t)) * 0.3;
            size_t at = n * per + i;
            samples[at] = int16_t(std::clamp(samples[at] + v * 32767, -32768.0, 32767.0));
        }
    }
    auto le = [](std::string& s, uint32_t v, int k) {
        for (int i = 0; i < k; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
    };
    std::string info = "INFO";
    for (auto [id, text] : {std::pair{"INAM", title}, std::pair{"IART", artist}, std::pair{"IPRD", album}}) {
        std::string z = text + '\0';
        if (z.size() % 2) z += '\0';
        info += id;
        le(info, uint32_t(text.size() + 1), 4);
        info += z;
    }
    uint32_t data = uint32_t(samples.size() * 2);
    std::string wav = "RIFF";
    le(wav, uint32_t(4 + 8 + 16 + 8 + data + 8 + info.size()), 4);
    wav += "WAVEfmt ";
    le(wav, 16, 4);
    le(wav, 1, 2);
    le(wav, 1, 2);
    le(wav, rate, 4);
    le(wav, rate * 2, 4);
    le(wav, 2, 2);
    le(wav, 16, 2);
    wav += "data";
    le(wav, data, 4);
    for (int16_t s : samples) le(wav, uint16_t(s), 2);
    wav += "LIST";
    le(wav, uint32_t(info.size()), 4);
    wav += info;
    return wav;
}

// An album picture: a two-colour gradient with rings around a disc, square.
bool album_picture(const fs::path& file, SDL_Color a, SDL_Color b, int rings) {
    const int size = 320;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, size, size, 24, SDL_PIXELFORMAT_RGB24);
    if (!s) return false;
    for (int y = 0; y < size; ++y) {
        auto* row = static_cast<uint8_t*>(s->pixels) + y * s->pitch;
        for (int x = 0; x < size; ++x) {
            double t = double(x + y) / (2 * size);
            double dx = x - size * 0.5, dy = y - size * 0.55, r = std::sqrt(dx * dx + dy * dy);
            double ring = 0.5 + 0.5 * std::cos(r / (size * 0.5) * rings * 2 * M_PI);
            double k = r < size * 0.42 ? 0.55 + 0.45 * ring : 1.0;
            if (r < size * 0.07) k = 0.25;
            row[3 * x + 0] = uint8_t((a.r * (1 - t) + b.r * t) * k);
            row[3 * x + 1] = uint8_t((a.g * (1 - t) + b.g * t) * k);
            row[3 * x + 2] = uint8_t((a.b * (1 - t) + b.b * t) * k);
        }
    }
    fs::path tmp = file;
    tmp += ".tmp";
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    bool ok = IMG_SavePNG(s, tmp.c_str()) == 0;
    SDL_FreeSurface(s);
    if (ok) fs::rename(tmp, file, ec);
    return ok && !ec;
}

int sounds(const fs::path& stage) {
    const fs::path program = stage / "Program Files/Lumo";
    bool ok = write_file(program / "lock.wav", chime({880.0, 659.25})) &&
              write_file(program / "unlock.wav", chime({659.25, 987.77}));
    // The music samples of a new phone, each with its album picture beside it.
    const fs::path music = stage / "My Documents/My Music";
    const double C = 261.63, D = 293.66, E = 329.63, F = 349.23, G = 392.0, A = 440.0, B = 493.88, C2 = 523.25;
    ok = ok && write_file(music / "Morning Tide.wav",
                          tune({C, E, G, C2, G, E, C, 0, D, F, A, F, D, 0, E, G, B, G, E, C}, 0.28, "Morning Tide",
                               "The Harbour Lights", "Blue Hours")) &&
         album_picture(music / "Morning Tide.png", {20, 70, 160, 255}, {120, 200, 230, 255}, 5);
    ok = ok && write_file(music / "Paper Lanterns.wav",
                          tune({A, 0, G, E, 0, D, E, G, A, C2, A, G, E, D, C, 0}, 0.24, "Paper Lanterns",
                               "Mira Sol", "Evening Market")) &&
         album_picture(music / "Paper Lanterns.png", {180, 50, 30, 255}, {250, 190, 60, 255}, 3);
    ok = ok && write_file(music / "Slow Orbit.wav",
                          tune({E, 0, E, G, 0, B, A, 0, G, E, D, 0, E, 0, 0}, 0.36, "Slow Orbit", "Kestrel Nine",
                               "Night Shift")) &&
         album_picture(music / "Slow Orbit.png", {30, 20, 60, 255}, {140, 60, 170, 255}, 8);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "pictures" && argc == 6) {
        if (IMG_Init(IMG_INIT_PNG | IMG_INIT_JPG) != (IMG_INIT_PNG | IMG_INIT_JPG)) {
            std::fprintf(stderr, "theme: %s\n", IMG_GetError());
            return 1;
        }
        int rc = pictures(argv[2], argv[3], argv[4], argv[5]);
        IMG_Quit();
        return rc;
    }
    if (cmd == "lang" && argc == 4) return lang(argv[2], argv[3]);
    if (cmd == "sounds" && argc == 3) return sounds(argv[2]);
    std::fprintf(stderr, "usage: %s pictures TABLE STAGE WORKDIR RSVG | lang LANGDIR STAGE | sounds STAGE\n", argv[0]);
    return 2;
}
