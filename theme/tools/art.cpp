#include "art.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <string_view>

namespace lumo::theme {
namespace {

// One accent colour over dark translucent surfaces and white type.
constexpr const char* kAccent = "#2EA6FF";
constexpr const char* kAccentDeep = "#1268C4";
constexpr const char* kGreen = "#2FC65B";
constexpr const char* kRed = "#FF453A";
constexpr const char* kWhite = "#FFFFFF";
constexpr const char* kGrey = "#C8C8C8";
constexpr const char* kSun = "#FFC53D";
constexpr const char* kFont = "font-family=\"DejaVu Sans\"";

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string rect(double x, double y, double w, double h, double r, const std::string& attrs) {
    return "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(w) + "\" height=\"" +
           num(h) + "\" rx=\"" + num(r) + "\" " + attrs + "/>";
}

std::string circle(double cx, double cy, double r, const std::string& attrs) {
    return "<circle cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" r=\"" + num(r) + "\" " + attrs + "/>";
}

std::string path(const std::string& d, const std::string& attrs) {
    return "<path d=\"" + d + "\" " + attrs + "/>";
}

std::string fill(const std::string& c, double opacity = 1) {
    return "fill=\"" + c + "\"" + (opacity < 1 ? " fill-opacity=\"" + num(opacity) + "\"" : "");
}

std::string stroke(const std::string& c, double width, double opacity = 1) {
    return "fill=\"none\" stroke=\"" + c + "\" stroke-width=\"" + num(width) +
           "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"" +
           (opacity < 1 ? " stroke-opacity=\"" + num(opacity) + "\"" : "");
}

std::string text(double x, double y, double size, const std::string& weight, const std::string& colour,
                 const std::string& s, const char* anchor = "middle") {
    return "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" " + kFont + " font-size=\"" + num(size) +
           "\" font-weight=\"" + weight + "\" fill=\"" + colour + "\" text-anchor=\"" + anchor + "\">" + s +
           "</text>";
}

// Places a drawing made on a 24-unit grid into a box of the given size.
std::string place(double x, double y, double size, const std::string& inner) {
    return "<g transform=\"translate(" + num(x) + " " + num(y) + ") scale(" + num(size / 24) + ")\">" +
           inner + "</g>";
}

std::string vgradient(const std::string& id, const std::string& top, double topOpacity,
                      const std::string& bottom, double bottomOpacity) {
    return "<linearGradient id=\"" + id + "\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\"><stop offset=\"0\" stop-color=\"" +
           top + "\" stop-opacity=\"" + num(topOpacity) + "\"/><stop offset=\"1\" stop-color=\"" + bottom +
           "\" stop-opacity=\"" + num(bottomOpacity) + "\"/></linearGradient>";
}

// Icons on the 24-unit grid, in one colour.
std::string icon(std::string_view name, const std::string& c) {
    const std::string s = stroke(c, 2);
    if (name == "speaker") return path("M3 9h4l5-4v14l-5-4H3z", fill(c));
    if (name == "ring")
        return icon("speaker", c) + path("M15.5 8.5a5 5 0 0 1 0 7", s) + path("M18 6a8.5 8.5 0 0 1 0 12", s);
    if (name == "silent") return icon("speaker", c) + path("M15 9l6 6M21 9l-6 6", s);
    if (name == "vibrate")
        return rect(8, 3, 8, 18, 2, stroke(c, 2)) + path("M4 7l-2 2.5 2 2.5-2 2.5 2 2.5", s) +
               path("M20 7l2 2.5-2 2.5 2 2.5-2 2.5", s);
    if (name == "bluetooth") return path("M6.5 7.5l11 9L12 21.5V2.5l5.5 5-11 9", s);
    if (name == "wifi")
        return path("M2 9a14.5 14.5 0 0 1 20 0", s) + path("M5.5 12.7a9.5 9.5 0 0 1 13 0", s) +
               path("M9 16.4a4.5 4.5 0 0 1 6 0", s) + circle(12, 20, 1.8, fill(c));
    if (name == "bell")
        return path("M6 17v-6a6 6 0 0 1 12 0v6l2 2H4z", fill(c)) + path("M10 20.5a2 2 0 0 0 4 0", s);
    if (name == "headset")
        return path("M4 15v-3a8 8 0 0 1 16 0v3", s) + rect(2.5, 13, 5, 8, 2, fill(c)) +
               rect(16.5, 13, 5, 8, 2, fill(c));
    if (name == "headset-mic") return icon("headset", c) + path("M19 20c0 2-3 2.5-6 2.5", s);
    if (name == "data") return path("M8 20V5M4 9l4-4 4 4", s) + path("M16 4v15M12 15l4 4 4-4", s);
    if (name == "phone")
        return path("M5 3h4l1.8 4.8-2.6 1.7a11 11 0 0 0 6.3 6.3l1.7-2.6L21 15v4a2 2 0 0 1-2 2A17 17 0 0 1 3 5a2 "
                    "2 0 0 1 2-2z",
                    fill(c));
    if (name == "phone-down")
        return path("M2 13.5c5.5-5 14.5-5 20 0l-1.5 3.5-4-1-.5-3a11 11 0 0 0-8 0l-.5 3-4 1z", fill(c));
    if (name == "missed") return icon("phone", c) + path("M14 3l4 4 4-4M18 7V2", stroke(c, 1.8));
    if (name == "voicemail")
        return circle(6.5, 12, 3.8, s) + circle(17.5, 12, 3.8, s) + path("M6.5 15.8h11", s);
    if (name == "bubble")
        return path("M5 4h14a3 3 0 0 1 3 3v8a3 3 0 0 1-3 3h-8l-5 4v-4H5a3 3 0 0 1-3-3V7a3 3 0 0 1 3-3z", s) +
               path("M7 9.5h10M7 13h6", stroke(c, 1.6));
    if (name == "picture")
        return rect(2.5, 4, 19, 16, 3, s) + circle(8, 9.5, 2, fill(c)) + path("M3 18l6-6 4 4 3-3 5 5", s);
    if (name == "envelope") return rect(2.5, 5, 19, 14, 2.5, s) + path("M3 6.5l9 6.5 9-6.5", s);
    if (name == "envelope-star")
        return icon("envelope", c) + path("M19 1.5l1 2.2 2.3.3-1.7 1.6.5 2.3-2.1-1.2-2.1 1.2.5-2.3L15.7 4l2.3-.3z",
                                          fill(c));
    if (name == "chat")
        return circle(8.5, 8, 3.5, s) + path("M2 20a6.5 6.5 0 0 1 13 0", s) + circle(17, 7, 2.8, s) +
               path("M15.5 12.8a5.5 5.5 0 0 1 7 5.2", s);
    if (name == "tasks")
        return path("M3 6l2 2 3.5-3.5M3 13l2 2 3.5-3.5", s) + path("M12 7h9M12 14h9M5 20h16", s);
    if (name == "airplane")
        return path("M12 2c.9 0 1.6.7 1.6 1.6V9l8 5v2.2l-8-2.4V19l2.2 1.6V22L12 21l-3.8 1v-1.4L10.4 19v-5.2l-8 "
                    "2.4V14l8-5V3.6C10.4 2.7 11.1 2 12 2z",
                    fill(c));
    if (name == "diverted") return path("M4 20v-7a6 6 0 0 1 6-6h10M16 3l4 4-4 4", stroke(c, 2.4));
    if (name == "chevron-right") return path("M9 5l7 7-7 7", stroke(c, 2.6));
    if (name == "chevron-up") return path("M5 15l7-7 7 7", stroke(c, 2.6));
    if (name == "chevron-down") return path("M5 9l7 7 7-7", stroke(c, 2.6));
    if (name == "back") return path("M20 12H5M11 5l-7 7 7 7", stroke(c, 2.4));
    if (name == "exit") return path("M6 6l12 12M18 6L6 18", stroke(c, 2.4));
    if (name == "folder")
        return path("M2.5 6.5a2 2 0 0 1 2-2h4.5l2 2.5h8.5a2 2 0 0 1 2 2v9.5a2 2 0 0 1-2 2h-15a2 2 0 0 1-2-2z",
                    fill(c)) +
               path("M2.5 10h19", stroke("#000000", 1, 0.25));
    if (name == "menu") return path("M4 6h16M4 12h16M4 18h16", stroke(c, 2.4));
    if (name == "play") return path("M8 5v14l11-7z", fill(c));
    if (name == "pause") return rect(6.5, 5, 4, 14, 1, fill(c)) + rect(13.5, 5, 4, 14, 1, fill(c));
    if (name == "stop") return rect(6.5, 6.5, 11, 11, 1.5, fill(c));
    if (name == "forward") return path("M3 6v12l8.5-6zM12 6v12l8.5-6z", fill(c));
    if (name == "backward") return path("M21 6v12l-8.5-6zM12 6v12l-8.5-6z", fill(c));
    if (name == "plus") return path("M12 5v14M5 12h14", stroke(c, 2.6));
    if (name == "minus") return path("M5 12h14", stroke(c, 2.6));
    if (name == "zoom-in") return circle(10, 10, 6.5, s) + path("M15 15l6 6M7 10h6M10 7v6", s);
    if (name == "zoom-out") return circle(10, 10, 6.5, s) + path("M15 15l6 6M7 10h6", s);
    if (name == "power") return path("M12 3v9", stroke(c, 2.6)) + path("M6.3 6.5a8 8 0 1 0 11.4 0", stroke(c, 2.6));
    if (name == "backspace")
        return path("M9 5h11a1.5 1.5 0 0 1 1.5 1.5v11A1.5 1.5 0 0 1 20 19H9l-7-7z", s) +
               path("M11.5 9l6 6M17.5 9l-6 6", s);
    if (name == "asterisk") return path("M12 3v18M4.2 7.5l15.6 9M4.2 16.5l15.6-9", stroke(c, 2.6));
    if (name == "person")
        return circle(12, 8.5, 4.5, fill(c)) + path("M3.5 22a8.5 8 0 0 1 17 0z", fill(c));
    if (name == "bolt") return path("M13.5 1.5L4 14h7l-1.5 8.5L19 10h-7z", fill(c));
    return {};
}

// Weather scenes, drawn on a 48 x 40 grid.
struct Sky {
    enum Body { None, Sun, Moon } body = None;
    int clouds = 0;       // 0 none, 1 small cloud, 2 big cloud, 3 big dark cloud
    std::string fall;     // "", rain, heavy, snow, mixed, ice, storm, fog, wind, hot, cold, haze, na
};

Sky accuweather(int code) {
    using B = Sky::Body;
    switch (code) {
    case 1: return {B::Sun, 0, ""};
    case 2: return {B::Sun, 1, ""};
    case 3: case 4: return {B::Sun, 2, ""};
    case 5: return {B::Sun, 0, "haze"};
    case 6: return {B::None, 2, ""};
    case 7: return {B::None, 3, ""};
    case 8: return {B::None, 3, "fog"};
    case 11: return {B::None, 0, "fog"};
    case 12: return {B::None, 3, "rain"};
    case 13: return {B::None, 2, "rain"};
    case 14: return {B::Sun, 2, "rain"};
    case 15: return {B::None, 3, "storm"};
    case 16: return {B::None, 2, "storm"};
    case 17: return {B::Sun, 2, "storm"};
    case 18: return {B::None, 3, "heavy"};
    case 19: return {B::None, 2, "snow"};
    case 20: return {B::None, 3, "snow"};
    case 21: return {B::Sun, 2, "snow"};
    case 22: case 23: return {B::None, 3, "snow"};
    case 24: return {B::None, 0, "ice"};
    case 25: return {B::None, 3, "ice"};
    case 26: return {B::None, 3, "mixed"};
    case 29: return {B::None, 2, "mixed"};
    case 30: return {B::None, 0, "hot"};
    case 31: return {B::None, 0, "cold"};
    case 32: return {B::None, 0, "wind"};
    case 33: return {B::Moon, 0, ""};
    case 34: return {B::Moon, 1, ""};
    case 35: case 36: return {B::Moon, 2, ""};
    case 37: return {B::Moon, 0, "haze"};
    case 38: return {B::Moon, 3, ""};
    case 39: case 40: return {B::Moon, 2, "rain"};
    case 41: case 42: return {B::Moon, 2, "storm"};
    case 43: case 44: return {B::Moon, 2, "snow"};
    default: return {B::None, 0, "na"};
    }
}

// The 31 cells of the strip, in the order of the strip's condition numbers.
Sky strip_cell(int n) {
    static const int kFromAccu[31] = {1,  2,  3,  6,  7,  11, 13, 12, 18, 15, 19, 22, 29, 25, 26, 24,
                                      32, 30, 31, 33, 35, 38, 40, 44, 42, 37, 5,  8,  16, 17, 0};
    return accuweather(kFromAccu[n]);
}

std::string weather(const Sky& sky) {
    std::string g;
    const bool cloudy = sky.clouds > 0;
    if (sky.body == Sky::Sun) {
        double cx = cloudy ? 17 : 24, cy = cloudy ? 14 : 19, r = cloudy ? 7 : 8.5;
        std::string rays;
        for (int i = 0; i < 8; ++i) {
            double a = i * M_PI / 4;
            rays += "M" + num(cx + std::cos(a) * (r + 3)) + " " + num(cy + std::sin(a) * (r + 3)) + "L" +
                    num(cx + std::cos(a) * (r + 6.5)) + " " + num(cy + std::sin(a) * (r + 6.5));
        }
        g += path(rays, stroke(kSun, 2.4)) + circle(cx, cy, r, fill(kSun));
    } else if (sky.body == Sky::Moon) {
        double cx = cloudy ? 17 : 24, cy = cloudy ? 14 : 19;
        g += path("M" + num(cx + 2) + " " + num(cy - 10) + "a10 10 0 1 0 8 15a8 8 0 0 1-8-15z", fill("#E8EEF8"));
    }
    if (cloudy) {
        const char* colour = sky.clouds == 3 ? "#9AA6B8" : "#F2F5FA";
        double s = sky.clouds == 1 ? 0.7 : 1.0, ox = sky.clouds == 1 ? 20 : 6, oy = sky.clouds == 1 ? 12 : 6;
        g += "<g transform=\"translate(" + num(ox) + " " + num(oy) + ") scale(" + num(s) + ")\">" +
             path("M10 26a7 7 0 0 1 1.5-13.8A10 10 0 0 1 30 10a8 8 0 0 1 6 16z", fill(colour)) + "</g>";
    }
    const std::string& f = sky.fall;
    const double top = cloudy ? 29 : 24;
    auto drops = [&](const char* colour, int n) {
        std::string d;
        for (int i = 0; i < n; ++i) {
            double x = 16 + i * (18.0 / (n - 1));
            d += "M" + num(x) + " " + num(top) + "l-2 5";
        }
        return path(d, stroke(colour, 2.2));
    };
    auto flakes = [&](int n) {
        std::string d;
        for (int i = 0; i < n; ++i) {
            double x = 16 + i * (16.0 / (n - 1)), y = top + 3;
            d += "M" + num(x - 2.2) + " " + num(y) + "h4.4M" + num(x - 1.1) + " " + num(y - 1.9) + "l2.2 3.8M" +
                 num(x + 1.1) + " " + num(y - 1.9) + "l-2.2 3.8";
        }
        return path(d, stroke(kWhite, 1.4));
    };
    if (f == "rain") g += drops(kAccent, 3);
    else if (f == "heavy") g += drops(kAccent, 5);
    else if (f == "snow") g += flakes(3);
    else if (f == "mixed") g += drops(kAccent, 2) + flakes(3);
    else if (f == "ice") g += path("M14 34h20M17 28l-3 6M24 27l-3 7M31 28l-3 6", stroke("#BFE6FF", 2.2));
    else if (f == "storm") g += path("M26 26l-5 7h5l-3 6 8-9h-5l3-4z", fill(kSun));
    else if (f == "fog") g += path("M8 30h32M12 35h24", stroke(kGrey, 2.4));
    else if (f == "haze") g += path("M10 33h28M14 37h20", stroke(kGrey, 2));
    else if (f == "wind") g += path("M6 14h24a4 4 0 1 0-4-4M6 21h32a4 4 0 1 1-4 4M6 28h18", stroke(kWhite, 2.4));
    else if (f == "hot" || f == "cold") {
        const char* c = f == "hot" ? kRed : kAccent;
        g += rect(20.5, 4, 7, 24, 3.5, stroke(kWhite, 2)) + circle(24, 31, 5.5, fill(c)) +
             rect(22.5, f == "hot" ? 10 : 20, 3, f == "hot" ? 18 : 8, 1.5, fill(c));
    } else if (f == "na") g += path("M16 20h16", stroke(kGrey, 3));
    return g;
}

using FrameArt = std::function<std::string(int frame, double w, double h)>;

std::string frames(int count, double w, double h, const FrameArt& art) {
    std::string out;
    double fw = w / count;
    for (int i = 0; i < count; ++i)
        out += "<g transform=\"translate(" + num(i * fw) + " 0)\">" + art(i, fw, h) + "</g>";
    return out;
}

// A button face: rounded, lit from the top; frame 1 is the pressed look.
std::string button_face(double w, double h, const std::string& colour, bool pressed, const std::string& id) {
    double r = std::min(h / 2.8, 12.0);
    std::string g = "<defs>" + vgradient(id, colour, pressed ? 0.75 : 0.95, colour, pressed ? 0.95 : 0.7) + "</defs>";
    g += rect(1, 1, w - 2, h - 2, r, "fill=\"url(#" + id + ")\"");
    g += rect(1.5, 1.5, w - 3, h - 3, r, stroke(kWhite, 1, pressed ? 0.15 : 0.3));
    if (pressed) g += rect(1, 1, w - 2, h - 2, r, fill("#000000", 0.25));
    return g;
}

std::string colour_of(std::string_view name) {
    if (name == "blue") return kAccent;
    if (name == "red") return kRed;
    if (name == "green") return kGreen;
    if (name == "dark") return "#2A2F38";
    return "#4A515E";  // grey, grey-flat
}

std::string status_icons() {
    // The state icons sit at fixed offsets the lock screen cuts them from (unit x, width).
    struct Slot { double x, w; const char* name; };
    static const Slot kSlots[] = {{23, 18, "silent"},  {45, 18, "ring"},      {66, 18, "vibrate"},
                                  {89, 13, "bluetooth"}, {110, 21, "wifi"},   {140, 11, "bell"},
                                  {152, 17, "headset"}, {170, 18, "data"},    {188, 17, "headset-mic"},
                                  {206, 17, "headset"}};
    std::string g;
    for (size_t i = 0; i < std::size(kSlots); ++i) {
        const Slot& s = kSlots[i];
        double size = std::min(s.w, 14.0);
        std::string glyph = place(s.x + (s.w - size) / 2, (16 - size) / 2, size, icon(s.name, kWhite));
        if (i == 8 || i == 9)  // the Bluetooth headsets carry a small accent mark
            glyph += place(s.x + s.w - 6, 0.5, 6, icon("bluetooth", kAccent));
        g += glyph;
    }
    return g;
}

std::string knob(std::string_view kind, int frame, double w, double h) {
    std::string colour = kAccent, glyph;
    if (kind == "unlock") {
        colour = frame == 0 ? kAccent : "#E9EEF5";
        glyph = "chevron-right";
    } else if (kind == "both") {
        colour = frame == 0 ? kAccent : "#E9EEF5";
    } else if (kind == "answer" || kind == "answer-both") {
        colour = frame == 0 ? kRed : kGreen;
        glyph = frame == 0 ? "phone-down" : "phone";
    } else if (kind == "power") {
        colour = kRed;
        glyph = "power";
    }
    std::string id = "k" + std::string(kind) + std::to_string(frame);
    std::string g = button_face(w, h, colour, false, id);
    const std::string ink = (frame == 1 && (kind == "unlock" || kind == "both")) ? kAccentDeep : kWhite;
    if (kind == "both" || kind == "answer-both") {
        g += path("M" + num(w / 2 - 9) + " " + num(h / 2 - 6) + "l-6 6 6 6M" + num(w / 2 + 9) + " " +
                      num(h / 2 - 6) + "l6 6-6 6",
                  stroke(ink, 2.4));
        if (!glyph.empty()) g += place(w / 2 - 7, h / 2 - 7, 14, icon(glyph, ink));
        else g += circle(w / 2, h / 2, 3, fill(ink));
    } else {
        g += place(w / 2 - 10, h / 2 - 10, 20, icon(glyph, ink));
    }
    return g;
}

std::string background(double w, double h, std::string_view kind) {
    std::string top = kind == "settings" ? "#151A22" : "#0C1018";
    return "<defs>" + vgradient("bg", top, 1, "#05070A", 1) +
           "<radialGradient id=\"glow\" cx=\"0.5\" cy=\"0\" r=\"0.8\"><stop offset=\"0\" stop-color=\"" + kAccent +
           "\" stop-opacity=\"0.22\"/><stop offset=\"1\" stop-color=\"" + kAccent +
           "\" stop-opacity=\"0\"/></radialGradient></defs>" + rect(0, 0, w, h, 0, "fill=\"url(#bg)\"") +
           rect(0, 0, w, h, 0, "fill=\"url(#glow)\"");
}

std::string wallpaper(double w, double h) {
    // Soft light over deep blue; the lower third stays dark so the slider and the icons read well.
    std::string g = "<defs>" + vgradient("sky", "#1B2A4A", 1, "#04060C", 1);
    g += "<radialGradient id=\"a\" cx=\"0.2\" cy=\"0.25\" r=\"0.6\"><stop offset=\"0\" stop-color=\"" +
         std::string(kAccent) + "\" stop-opacity=\"0.55\"/><stop offset=\"1\" stop-color=\"" + kAccent +
         "\" stop-opacity=\"0\"/></radialGradient>";
    g += "<radialGradient id=\"b\" cx=\"0.85\" cy=\"0.55\" r=\"0.55\"><stop offset=\"0\" stop-color=\"#7A4CFF\" "
         "stop-opacity=\"0.45\"/><stop offset=\"1\" stop-color=\"#7A4CFF\" stop-opacity=\"0\"/></radialGradient>"
         "</defs>";
    g += rect(0, 0, w, h, 0, "fill=\"url(#sky)\"") + rect(0, 0, w, h, 0, "fill=\"url(#a)\"") +
         rect(0, 0, w, h, 0, "fill=\"url(#b)\"");
    for (int i = 0; i < 6; ++i) {
        double y = h * (0.48 + i * 0.06);
        g += path("M0 " + num(y) + "C" + num(w * 0.3) + " " + num(y - h * 0.12) + " " + num(w * 0.6) + " " +
                      num(y + h * 0.1) + " " + num(w) + " " + num(y - h * 0.05),
                  stroke(i % 2 ? "#7A4CFF" : kAccent, 0.8, 0.35 - i * 0.04));
    }
    return g;
}

std::string sample(double w, double h, std::string_view kind) {
    std::string g;
    if (kind == "lagoon") {
        g = "<defs>" + vgradient("s", "#7FD6E8", 1, "#0B4F6C", 1) + "</defs>" + rect(0, 0, w, h, 0, "fill=\"url(#s)\"");
        for (int i = 0; i < 9; ++i) {
            double y = h * (0.35 + i * 0.07);
            g += path("M0 " + num(y) + "Q" + num(w * 0.25) + " " + num(y - 8) + " " + num(w * 0.5) + " " + num(y) +
                          "T" + num(w) + " " + num(y),
                      stroke(kWhite, 1.5, 0.25));
        }
        g += circle(w * 0.72, h * 0.18, w * 0.12, fill("#FFF6D8", 0.9));
    } else if (kind == "dunes") {
        g = "<defs>" + vgradient("s", "#F7B267", 1, "#F25C54", 1) + "</defs>" + rect(0, 0, w, h, 0, "fill=\"url(#s)\"");
        const char* layers[] = {"#E3874F", "#C96A3A", "#9E4A2A", "#6B2E1C"};
        for (int i = 0; i < 4; ++i) {
            double y = h * (0.45 + i * 0.13);
            g += path("M0 " + num(y) + "C" + num(w * 0.35) + " " + num(y - h * 0.1) + " " + num(w * 0.6) + " " +
                          num(y + h * 0.08) + " " + num(w) + " " + num(y - h * 0.04) + "V" + num(h) + "H0z",
                      fill(layers[i]));
        }
        g += circle(w * 0.3, h * 0.22, w * 0.09, fill("#FFF1C1"));
    } else {  // mosaic
        const char* colours[] = {"#2EA6FF", "#1268C4", "#7A4CFF", "#0C1018", "#33D1C3", "#1B2A4A"};
        for (double y = 0; y < h; y += 40)
            for (double x = 0; x < w; x += 40) {
                int r = int(y / 40), c = int(x / 40), a = (r * 3 + c * 5 + (r * c) % 4) % 6;
                int b = (a + 1 + (r + 2 * c) % 5) % 6;
                g += path("M" + num(x) + " " + num(y) + "h40v40z", fill(colours[a]));
                g += path("M" + num(x) + " " + num(y) + "v40h40z", fill(colours[b]));
            }
    }
    return g;
}

std::string clock_glyph(const Picture& p, double w, double h) {
    std::string ch = p.item == "C" || p.item == "D" ? ":" : p.item;
    bool letter = !ch.empty() && std::isalpha(static_cast<unsigned char>(ch[0]));
    if (letter) ch = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(ch[0]))));
    std::string weight = "normal", colour = kWhite;
    double size = h * 1.0;
    if (p.arg == "thin") weight = "200";
    if (p.arg == "heavy") weight = "bold", size = h * 0.9;
    if (p.arg == "small") size = h * 0.95;
    if (p.arg == "plate") weight = "bold", size = h * 0.75;
    if (letter) size *= 0.42;
    if (ch == ":" && p.arg == "heavy") colour = kAccent;
    // Cap height of the face is about 0.73 em; digits are centred, letters sit on the digits' baseline.
    double digitBase = (h + 0.73 * h * 1.0) / 2;
    double baseline = letter ? digitBase : (h + 0.73 * size) / 2;
    if (ch == ":") {
        // Drawn as two dots centred on the digits, which the font's colon is not.
        double dot = size * (weight == "200" ? 0.045 : weight == "bold" ? 0.075 : 0.055);
        double mid = h / 2;  // digits are centred vertically
        double gap = 0.2 * size;
        return circle(w / 2, mid - gap, dot, fill(colour)) + circle(w / 2, mid + gap, dot, fill(colour));
    }
    std::string shadow = "<defs><filter id=\"s\" x=\"-20%\" y=\"-20%\" width=\"140%\" height=\"140%\">"
                         "<feGaussianBlur stdDeviation=\"" + num(h / 40) + "\"/></filter></defs>";
    return shadow + "<g filter=\"url(#s)\" opacity=\"0.55\">" +
           text(w / 2, baseline + h / 60, size, weight, "#000000", ch) + "</g>" +
           text(w / 2, baseline, size, weight, colour, ch);
}

std::string hand(std::string_view kind, int step, double w, double h) {
    double cx = w / 2, cy = h / 2, angle = step * 6.0;
    std::string g = "<g transform=\"rotate(" + num(angle) + " " + num(cx) + " " + num(cy) + ")\">";
    if (kind == "second")
        g += path("M" + num(cx) + " " + num(cy + 14) + "V" + num(cy - 68), stroke(kAccent, 1.6)) +
             circle(cx, cy, 3.2, fill(kAccent));
    else if (kind == "minute")
        g += path("M" + num(cx) + " " + num(cy + 8) + "V" + num(cy - 62), stroke(kWhite, 4));
    else
        g += path("M" + num(cx) + " " + num(cy + 8) + "V" + num(cy - 40), stroke(kWhite, 6));
    return g + "</g>";
}

std::string face(double w, double h) {
    double cx = w / 2, cy = h / 2, r = w / 2 - 3;
    std::string g = circle(cx, cy, r, fill("#0B0E14", 0.55)) + circle(cx, cy, r, stroke(kWhite, 1.2, 0.35));
    for (int i = 0; i < 60; ++i) {
        double a = i * M_PI / 30;
        bool hour = i % 5 == 0;
        double r1 = r - (hour ? 12 : 6), r2 = r - 3;
        g += path("M" + num(cx + std::sin(a) * r1) + " " + num(cy - std::cos(a) * r1) + "L" +
                      num(cx + std::sin(a) * r2) + " " + num(cy - std::cos(a) * r2),
                  stroke(i == 0 ? kAccent : kWhite, hour ? 2.4 : 1, hour ? 1 : 0.5));
    }
    return g;
}

std::string battery(std::string_view part, double w, double h) {
    const double line = 4;
    if (part == "left")
        return path("M" + num(w) + " " + num(line / 2 + 4) + "H14a10 10 0 0 0-10 10V" + num(h - line / 2 - 14) +
                        "a10 10 0 0 0 10 10H" + num(w),
                    stroke(kWhite, line)) ;
    if (part == "body")
        return path("M0 " + num(line / 2 + 4) + "H" + num(w) + "M0 " + num(h - line / 2 - 4) + "H" + num(w),
                    stroke(kWhite, line));
    if (part == "right")
        return path("M0 " + num(line / 2 + 4) + "H2a8 8 0 0 1 8 8V" + num(h - line / 2 - 12) + "a8 8 0 0 1-8 8H0",
                    stroke(kWhite, line)) +
               rect(w - 4, h / 2 - 12, 4, 24, 2, fill(kWhite));
    if (part == "fill")
        return rect(0, 12, w / 2, h - 24, 0, fill(kGreen)) + rect(w / 2, 12, w / 2, h - 24, 0, fill(kRed));
    return place(w / 2 - 14, h / 2 - 14, 28, icon("bolt", kSun));  // charge
}

std::string notice_icons(double w, double h) {
    static const char* kIcons[9] = {"missed", "voicemail", "bubble", "picture", "envelope",
                                    "envelope-star", "chat", "bell", "tasks"};
    return frames(9, w, h, [](int i, double, double) {
        return circle(12, 12, 11.5, fill("#0B0E14", 0.5)) + place(5, 5, 14, icon(kIcons[i], kWhite));
    });
}

}  // namespace

bool is_procedural(const Picture& p) { return p.art == "animation"; }

std::string picture_svg(const Picture& p, const Profile& profile) {
    const double w = double(pixel_width(p, profile)) / profile.scale;
    const double h = double(pixel_height(p, profile)) / profile.scale;
    const std::string& a = p.art;
    std::string body;
    if (a == "topbar" || a == "framed-topbar" || a == "title-bar") {
        bool framed = a == "framed-topbar";
        body = "<defs>" + vgradient("t", "#05070A", 0.85, "#0B0E14", 0.55) + "</defs>";
        if (framed)
            body += path("M0 0H" + num(w) + "V" + num(h - 6) + "a6 6 0 0 1-6 6H6a6 6 0 0 1-6-6z", "fill=\"url(#t)\"");
        else
            body += rect(0, 0, w, h, 0, "fill=\"url(#t)\"");
        body += path("M" + num(framed ? 6 : 0) + " " + num(h - 0.5) + "H" + num(framed ? w - 6 : w),
                     stroke(a == "title-bar" ? kAccent : kWhite, 1, a == "title-bar" ? 0.9 : 0.12));
    } else if (a == "status-icons") {
        body = status_icons();
    } else if (a == "knob") {
        body = frames(p.cells, w, h, [&](int i, double fw, double fh) { return knob(p.arg, i, fw, fh); });
    } else if (a == "track") {
        body = rect(1, 1, w - 2, h - 2, (h - 2) / 2, fill("#000000", 0.55)) +
               rect(1, 1, w - 2, h - 2, (h - 2) / 2, stroke(kWhite, 1, 0.3));
    } else if (a == "vc-button") {
        body = frames(2, w, h, [](int i, double fw, double fh) {
            return button_face(fw, fh, "#3A404C", false, "v" + std::to_string(i)) +
                   place(8, fh / 2 - 9, 18, icon(i == 0 ? "silent" : "vibrate", kWhite));
        });
    } else if (a == "vc-bar") {
        // Four cells stacked: filled segment, empty segment, filled top segment, empty top segment.
        std::string c = colour_of(p.arg == "accent" ? "blue" : p.arg);
        double s = h / 4;
        for (int i = 0; i < 4; ++i) {
            double y = i * s + 2;
            bool filled = i % 2 == 0;
            double r = i >= 2 ? 5 : 3;
            body += filled ? rect(2, y, w - 4, s - 4, r, fill(c)) + rect(2, y, w - 4, (s - 4) / 2, r, fill(kWhite, 0.2))
                           : rect(2.5, y + 0.5, w - 5, s - 5, r, "fill=\"#FFFFFF\" fill-opacity=\"0.1\" stroke=\"#FFFFFF\" stroke-opacity=\"0.35\"");
        }
    } else if (a == "button") {
        body = frames(p.cells, w, h, [&](int i, double fw, double fh) {
            return button_face(fw, fh, colour_of(p.arg), i == 1, "b" + std::to_string(i));
        });
    } else if (a == "call-buttons") {
        body = frames(4, w, h, [](int i, double fw, double fh) {
            bool answer = i < 2;
            return button_face(fw, fh, answer ? kGreen : kRed, i % 2 == 1, "c" + std::to_string(i)) +
                   place(10, fh / 2 - 10, 20, icon(answer ? "phone" : "phone-down", kWhite));
        });
    } else if (a == "asterisk") {
        body = place(2, 2, w - 4, icon("asterisk", kWhite));
    } else if (a == "background") {
        body = background(w, h, p.arg);
    } else if (a == "chevron") {
        body = place(-2, 0, 16, icon("chevron-right", kGrey));
    } else if (a == "switch") {
        body = frames(2, w, h, [](int i, double fw, double fh) {
            bool on = i == 1;
            double r = fh / 2 - 1;
            return rect(1, 1, fw - 2, fh - 2, r, on ? fill(kAccent) : fill(kWhite, 0.2)) +
                   circle(on ? fw - 1 - r : 1 + r, fh / 2, r - 2.5, fill(kWhite));
        });
    } else if (a == "minus-plus") {
        body = frames(2, w, h, [](int i, double fw, double fh) {
            double r = std::min(fw, fh) / 2 - 1;
            double size = r * 1.3;
            return circle(fw / 2, fh / 2, r, fill(kWhite, 0.14)) + circle(fw / 2, fh / 2, r, stroke(kWhite, 1, 0.4)) +
                   place(fw / 2 - size / 2, fh / 2 - size / 2, size, icon(i == 0 ? "minus" : "plus", kWhite));
        });
    } else if (a == "row") {
        double r = 8;
        std::string shape;
        if (p.arg == "first")
            shape = "M0 " + num(h) + "V" + num(r) + "a8 8 0 0 1 8-8H" + num(w - r) + "a8 8 0 0 1 8 8V" + num(h) + "z";
        else if (p.arg == "last")
            shape = "M0 0H" + num(w) + "V" + num(h - r) + "a8 8 0 0 1-8 8H" + num(r) + "a8 8 0 0 1-8-8z";
        else
            shape = "M0 0H" + num(w) + "V" + num(h) + "H0z";
        body = path(shape, fill(kWhite, 0.08));
        if (p.arg != "last") body += path("M10 " + num(h - 0.5) + "H" + num(w - 10), stroke(kWhite, 1, 0.15));
    } else if (a == "back" || a == "exit" || a == "menu") {
        body = place(w / 2 - 11, h / 2 - 11, 22, icon(a, kWhite));
    } else if (a == "glow") {
        body = "<defs><radialGradient id=\"g\"><stop offset=\"0\" stop-color=\"" + std::string(kAccent) +
               "\" stop-opacity=\"0.6\"/><stop offset=\"0.6\" stop-color=\"" + kAccent +
               "\" stop-opacity=\"0.25\"/><stop offset=\"1\" stop-color=\"" + kAccent +
               "\" stop-opacity=\"0\"/></radialGradient></defs>" +
               "<ellipse cx=\"" + num(w / 2) + "\" cy=\"" + num(h / 2) + "\" rx=\"" + num(w / 2) + "\" ry=\"" +
               num(h / 2) + "\" fill=\"url(#g)\"/>";
    } else if (a == "popup-box") {
        body = rect(1, 1, w - 2, h - 2, 12, fill("#10141C", 0.9)) + rect(1.5, 1.5, w - 3, h - 3, 12, stroke(kAccent, 1, 0.6)) +
               path("M14 1.5H" + num(w - 14), stroke(kAccent, 1.5));
    } else if (a == "popup-button") {
        body = frames(2, w, h, [](int i, double fw, double fh) {
            return i == 0 ? rect(2, 2, fw - 4, fh - 4, 8, "fill=\"#FFFFFF\" fill-opacity=\"0.12\" stroke=\"#FFFFFF\" stroke-opacity=\"0.4\"")
                          : rect(2, 2, fw - 4, fh - 4, 8, fill(kAccent));
        });
    } else if (a == "digit-box") {
        body = rect(1.5, 1.5, w - 3, h - 3, 8, "fill=\"#FFFFFF\" fill-opacity=\"0.1\" stroke=\"#FFFFFF\" stroke-opacity=\"0.5\" stroke-width=\"1.2\"");
    } else if (a == "key") {
        body = rect(2, 2, w - 4, h - 4, 10, "fill=\"#FFFFFF\" fill-opacity=\"0.08\" stroke=\"#FFFFFF\" stroke-opacity=\"0.22\"");
    } else if (a == "dot") {
        body = circle(w / 2, h / 2, w / 2 - 2, fill(kWhite));
    } else if (a == "backspace") {
        body = place(w / 2 - 11, h / 2 - 11, 22, icon("backspace", kWhite));
    } else if (a == "progress") {
        body = rect(0, 0, w, h, h / 2, p.arg == "on" ? fill(kAccent) : fill(kWhite, 0.25));
    } else if (a == "scroll") {
        body = rect(0.5, 0.5, w - 1, h - 1, (w - 1) / 2, p.arg == "thumb" ? fill(kWhite, 0.6) : fill(kWhite, 0.12));
    } else if (a == "folder") {
        body = place(w / 2 - 14, h / 2 - 14, 28, icon("folder", kAccent));
    } else if (a == "zoom") {
        body = frames(2, w, h, [](int i, double fw, double fh) {
            return circle(fw / 2, fh / 2, fw / 2 - 1, fill("#0B0E14", 0.6)) +
                   place(fw / 2 - 12, fh / 2 - 12, 24, icon(i == 0 ? "zoom-in" : "zoom-out", kWhite));
        });
    } else if (a == "up-down") {
        body = frames(2, w, h, [](int i, double fw, double fh) {
            return place(fw / 2 - 10, fh / 2 - 10, 20, icon(i == 0 ? "chevron-up" : "chevron-down", kWhite));
        });
    } else if (a == "play-stop") {
        body = frames(2, w, h, [](int i, double fw, double fh) {
            return circle(fw / 2, fh / 2, fw / 2 - 1, fill(kAccent)) +
                   place(fw / 2 - 10, fh / 2 - 10, 20, icon(i == 0 ? "play" : "stop", kWhite));
        });
    } else if (a == "notice-icons") {
        body = notice_icons(w, h);
    } else if (a == "badge") {
        body = frames(2, w, h, [](int i, double fw, double fh) {
            return i == 0 ? circle(fw / 2, fh / 2, fh / 2 - 0.5, fill(kRed)) + circle(fw / 2, fh / 2, fh / 2 - 1, stroke(kWhite, 1, 0.8))
                          : rect(0.5, 0.5, fw - 1, fh - 1, fh / 2 - 0.5, fill(kRed)) +
                                rect(1, 1, fw - 2, fh - 2, fh / 2 - 1, stroke(kWhite, 1, 0.8));
        });
    } else if (a == "triangle") {
        body = path("M0.5 0.5H" + num(w - 0.5) + "L" + num(w / 2) + " " + num(h - 0.5) + "z", fill(kWhite, 0.85));
    } else if (a == "connection-icons") {
        static const char* kLabels[7] = {"G", "1X", "E", "EV", "3G", "H", "H+"};
        body = frames(7, w, h, [](int i, double fw, double fh) {
            return rect(0.5, 0.5, fw - 1, fh - 1, 3, fill("#0B0E14", 0.35)) +
                   text(fw / 2, fh / 2 + 3.6, 9.5, "bold", kWhite, kLabels[i]);
        });
    } else if (a == "airplane" || a == "diverted") {
        body = place(1, 1, w - 2, icon(a, kWhite));
    } else if (a == "person" || a == "unknown") {
        body = "<defs>" + vgradient("p", "#3A4354", 1, "#1C222C", 1) + "</defs>" +
               rect(0, 0, w, h, w / 8, "fill=\"url(#p)\"");
        if (a == "person") body += place(w * 0.15, w * 0.2, w * 0.7, icon("person", "#8D9AAE"));
        else body += text(w / 2, h * 0.72, h * 0.6, "bold", "#8D9AAE", "?");
    } else if (a == "add") {
        body = circle(w / 2, h / 2, w / 2 - 1, fill(kAccent)) + place(w / 2 - 10, h / 2 - 10, 20, icon("plus", kWhite));
    } else if (a == "delete") {
        body = circle(w / 2, h / 2, w / 2 - 1, fill(kRed)) + place(w / 2 - 8, h / 2 - 8, 16, icon("minus", kWhite));
    } else if (a == "battery") {
        body = battery(p.arg, w, h);
    } else if (a == "music") {
        if (p.arg == "knob") body = circle(w / 2, h / 2, w / 2 - 1, fill(kWhite)) + circle(w / 2, h / 2, w / 4, fill(kAccent));
        else if (p.arg == "play" || p.arg == "pause")
            body = circle(w / 2, h / 2, w / 2 - 1, fill(kWhite, 0.15)) + circle(w / 2, h / 2, w / 2 - 1, stroke(kWhite, 1.5, 0.7)) +
                   place(w / 2 - 12, h / 2 - 12, 24, icon(p.arg, kWhite));
        else body = place(w / 2 - 12, h / 2 - 12, 24, icon(p.arg, kWhite));
    } else if (a == "wallpaper") {
        body = wallpaper(w, h);
    } else if (a == "sample") {
        body = sample(w, h, p.arg);
    } else if (a == "glyph") {
        body = clock_glyph(p, w, h);
    } else if (a == "blank") {
        body = "";
    } else if (a == "plate") {
        body = rect(1, 1, w - 2, h - 2, 14, fill("#0B0E14", 0.6)) + rect(1.5, 1.5, w - 3, h - 3, 14, stroke(kWhite, 1, 0.15));
    } else if (a == "tile") {
        body = "<defs>" + vgradient("t", "#2A303B", 1, "#161A21", 1) + "</defs>" + rect(1, 1, w - 2, h - 2, 6, "fill=\"url(#t)\"") +
               rect(1, 1, w - 2, h / 2 - 1, 6, fill(kWhite, 0.05));
        if (p.item != "b" && p.item != "B")
            body += text(w / 2, h / 2 + 0.36 * h * 0.8, h * 0.8, "bold", kWhite, p.item);
        body += path("M1 " + num(h / 2) + "H" + num(w - 1), stroke("#000000", 1.2, 0.7));
    } else if (a == "mark") {
        std::string t = (p.item == "a" || p.item == "ca") ? "AM" : "PM";
        body = text(w / 2, h - 2, h * 0.8, "bold", kGrey, t);
    } else if (a == "face") {
        body = face(w, h);
    } else if (a == "hand") {
        int step = 0;
        for (char c : p.item) step = step * 10 + (c - '0');
        body = hand(p.arg, step, w, h);
    } else if (a == "weather") {
        if (p.arg == "strip")
            body = frames(31, w, h, [](int i, double fw, double fh) {
                return "<g transform=\"scale(" + num(fw / 48) + " " + num(fh / 40) + ")\">" + weather(strip_cell(i)) + "</g>";
            });
        else
            body = "<g transform=\"scale(" + num(w / 48) + " " + num(h / 40) + ")\">" + weather(accuweather(std::stoi(p.item))) +
                   "</g>";
    } else {
        return {};
    }
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(pixel_width(p, profile)) +
           "\" height=\"" + std::to_string(pixel_height(p, profile)) + "\" viewBox=\"0 0 " + num(w) + " " + num(h) +
           "\">" + body + "</svg>\n";
}

}  // namespace lumo::theme
