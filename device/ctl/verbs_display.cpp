// The display: screenshots, the stylus, rotation.
#include <fcntl.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "ctl.h"

namespace lumo::ctl {

using wire::Kind;
using wire::Reader;
using wire::Status;

namespace {

void put_u32be(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

void put_chunk(std::vector<std::uint8_t>& out, const char* type,
               const std::vector<std::uint8_t>& data) {
    put_u32be(out, std::uint32_t(data.size()));
    std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_u32be(out, std::uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

// An RGB PNG of RGB565 pixels, each channel widened as the display shows it.
std::vector<std::uint8_t> encode_png(int width, int height, const std::vector<std::uint16_t>& px) {
    std::vector<std::uint8_t> raw;
    raw.reserve(std::size_t(height) * (1 + std::size_t(width) * 3));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < width; ++x) {
            unsigned p = px[std::size_t(y) * width + x], r = p >> 11, g = (p >> 5) & 63, b = p & 31;
            raw.push_back(std::uint8_t((r << 3) | (r >> 2)));
            raw.push_back(std::uint8_t((g << 2) | (g >> 4)));
            raw.push_back(std::uint8_t((b << 3) | (b >> 2)));
        }
    }
    uLongf packed_size = compressBound(uLong(raw.size()));
    std::vector<std::uint8_t> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), uLong(raw.size()), 6) != Z_OK) return {};
    packed.resize(packed_size);
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    put_u32be(ihdr, std::uint32_t(width));
    put_u32be(ihdr, std::uint32_t(height));
    ihdr.insert(ihdr.end(),
                {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace
    put_chunk(png, "IHDR", ihdr);
    put_chunk(png, "IDAT", packed);
    put_chunk(png, "IEND", {});
    return png;
}

// The picture the display shows now, fetched in pieces that fit the wire's packets.
bool fetch_picture(Ctl& ctl, int& width, int& height, std::vector<std::uint16_t>& px) {
    std::uint32_t total = 0, offset = 0;
    std::vector<std::byte> bytes;
    do {
        auto& w = ctl.begin(Kind::DisplayScreenshot);
        w.u32(offset);
        auto r = ctl.call(w);
        if (r.status != Status::Ok) return false;
        Reader rd(r.body);
        width = int(rd.u32());
        height = int(rd.u32());
        total = rd.u32();
        auto piece = rd.bin();
        if (!rd.ok() || piece.empty() || total != std::uint32_t(width) * std::uint32_t(height) * 2)
            return false;
        bytes.insert(bytes.end(), piece.begin(), piece.end());
        offset += std::uint32_t(piece.size());
    } while (offset < total);
    if (bytes.size() != total) return false;
    px.resize(total / 2);
    std::memcpy(px.data(), bytes.data(), total);
    return true;
}

// Opens a new file in DIR/screenshots with the next free number.
int open_next_screenshot(const std::string& dir, std::string& path) {
    auto folder = std::filesystem::path(dir) / "screenshots";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) fail("cannot make " + folder.string() + ": " + ec.message());
    for (unsigned n = 1; n < 100000; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "screenshot-%04u.png", n);
        path = (folder / name).string();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Why the stylus reached nothing: the display is dark, the point is off the screen, or no
// window lies under it.
[[noreturn]] void stylus_missed(Ctl& ctl, int x, int y) {
    auto& p = ctl.begin(Kind::PowerStatus);
    auto power = ctl.call(p);
    if (power.status == Status::Ok) {
        Reader rd(power.body);
        rd.u32();
        rd.s16();
        rd.u32();
        rd.u32();
        auto light = rd.u32();
        if (rd.ok() && light == 0)
            fail("the display is off: press the power button (lumo-devctl power button)");
    }
    auto& d = ctl.begin(Kind::DisplayInfo);
    auto info = ctl.call(d);
    Reader rd(info.body);
    int w = int(rd.u32()), h = int(rd.u32());
    if (info.status == Status::Ok && rd.ok() && (x < 0 || y < 0 || x >= w || y >= h))
        fail(std::to_string(x) + ", " + std::to_string(y) + " is outside the " + std::to_string(w) +
             "x" + std::to_string(h) + " display");
    fail("no window under " + std::to_string(x) + ", " + std::to_string(y));
}

// One stylus event; the window it reached, 0 for none.
std::uint32_t stylus(Ctl& ctl, std::uint32_t action, std::int32_t x, std::int32_t y) {
    auto& w = ctl.begin(Kind::DisplayTouch);
    w.u32(action).i32(x).i32(y);
    auto r = ctl.call(w);
    return r.status == Status::Ok ? reply_u32(r) : 0;
}

}  // namespace

int verb_screenshot(Ctl& ctl, const Args& a) {
    int width = 0, height = 0;
    std::vector<std::uint16_t> px;
    if (!fetch_picture(ctl, width, height, px)) fail("the device has no picture to give");
    auto png = encode_png(width, height, px);
    if (png.empty()) fail("cannot compress the picture");
    std::string path;
    int fd = -1;
    if (a.count() == 0) {
        fd = open_next_screenshot(ctl.dir(), path);
    } else {
        std::error_code ec;
        auto full = std::filesystem::absolute(a.at(0), ec);
        path = ec ? a.at(0) : full.lexically_normal().string();
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    if (fd < 0) fail("cannot write " + path + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < png.size()) {
        ssize_t n = ::write(fd, png.data() + done, png.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int e = errno;
            ::close(fd);
            fail("cannot write " + path + ": " + std::strerror(e));
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0) fail("cannot write " + path + ": " + std::strerror(errno));
    std::printf("%s\n", path.c_str());
    return kDone;
}

int verb_touch(Ctl& ctl, const Args& a) {
    std::uint32_t action = a.sub == "down" ? 1 : a.sub == "move" ? 2 : 3;
    auto x = parse_coordinate(a.at(0), "X"), y = parse_coordinate(a.at(1), "Y");
    if (!stylus(ctl, action, x, y)) stylus_missed(ctl, x, y);
    return kDone;
}

int verb_tap(Ctl& ctl, const Args& a) {
    auto x = parse_coordinate(a.at(0), "X"), y = parse_coordinate(a.at(1), "Y");
    if (!stylus(ctl, 1, x, y)) stylus_missed(ctl, x, y);
    if (!stylus(ctl, 3, x, y)) stylus_missed(ctl, x, y);
    return kDone;
}

int verb_drag(Ctl& ctl, const Args& a) {
    long ms = 300;
    if (a.count() == 5) ms = long(parse_number(a.at(4), "MS"));
    if (a.has("--ms")) ms = long(parse_number(a.opts.at("--ms"), "MS"));
    if (ms < 0 || ms > 60000) usage("MS must be 0 to 60000");
    auto x1 = parse_coordinate(a.at(0), "X1"), y1 = parse_coordinate(a.at(1), "Y1");
    auto x2 = parse_coordinate(a.at(2), "X2"), y2 = parse_coordinate(a.at(3), "Y2");
    // A finger reports about every 16 ms; at least one move between down and up.
    int steps = std::max(1, int(ms / 16));
    if (!stylus(ctl, 1, x1, y1)) stylus_missed(ctl, x1, y1);
    for (int i = 1; i <= steps; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms / steps));
        stylus(ctl, 2, x1 + (x2 - x1) * i / steps, y1 + (y2 - y1) * i / steps);
    }
    if (!stylus(ctl, 3, x2, y2)) stylus_missed(ctl, x2, y2);
    return kDone;
}

int verb_display(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::DisplayLoseSurface);
    if (ctl.call(w).status != Status::Ok) fail("the device has no display");
    return kDone;
}

int verb_rotate(Ctl& ctl, const Args& a) {
    auto& w = ctl.begin(Kind::DisplayRotate);
    w.u32(parse_number(a.at(0), "DEGREES"));
    if (ctl.call(w).status != Status::Ok) fail("the device has no display to turn");
    return kDone;
}

}  // namespace lumo::ctl
