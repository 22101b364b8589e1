// The device's display: the host's shared frame mapped into this process. The frame-buffer
// escape hands out the mapping itself; the DirectDraw primary surface is the same memory with a
// lost flag the host can set; a GDI blit copies into it. Every way ends by telling the host that
// a frame is ready, so it can show it.
//
// The shared frame is the panel's memory and keeps the panel's portrait layout whatever the
// orientation. Turned, the display behaves as a rotating driver does: the metrics are those of
// the screen as the programs see it, and the escape and the surface lock describe the same
// memory from the turned screen's top-left corner with turned (possibly negative) steps.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "internal.h"
#include "lumo/wire/protocol.h"

namespace lumo::platform::device {

using wire::Kind;
using wire::Reader;
using wire::Status;

namespace {

class DeviceDisplay final : public Display {
public:
    DeviceDisplay(wire::Client& c, std::filesystem::path device_dir)
        : c_(c), dir_(std::move(device_dir)) {}
    ~DeviceDisplay() override {
        if (map_) ::munmap(map_, map_size_);
    }

    ScreenMetrics metrics() override {
        load_info();
        ScreenMetrics m = metrics_;
        if (map_frame()) {
            auto t = turned();
            m.width = t.width;
            m.height = t.height;
        }
        return m;
    }
    std::u16string oem_info() override {
        load_info();
        return oem_;
    }
    PlatformVersion version() override {
        load_info();
        return version_;
    }
    int orientation_angle() override {
        return map_frame() ? int(header()->orientation.load()) : 0;
    }

    std::optional<RawFrameBufferInfo> raw_frame_buffer() override {
        if (!map_frame()) return std::nullopt;
        auto t = turned();
        RawFrameBufferInfo info;
        info.format = kFrameFormatRgb565;
        info.bpp = 16;
        info.pointer = t.origin;
        info.xstride = t.xstride;
        info.ystride = t.ystride;
        info.width = t.width;
        info.height = t.height;
        return info;
    }

    std::optional<DirectDrawCaps> open_direct_draw(Hwnd window) override {
        if (!map_frame()) return std::nullopt;
        window_ = window;
        return DirectDrawCaps{kSurfacePrimary | kSurfaceSystemMemory | kSurfaceVideoMemory,
                              std::uint64_t(header()->ypitch) * header()->height};
    }
    bool create_primary_surface(std::uint32_t flags) override {
        primary_ = map_ && (flags & kSurfacePrimary);
        return primary_;
    }
    LockResult lock_primary(SurfaceLock& out) override {
        if (!primary_) return LockResult::Failed;
        if (header()->surface_lost.load()) return LockResult::Lost;
        auto t = turned();
        out = {t.origin, t.xstride, t.ystride, 16};
        locked_ = true;
        return LockResult::Ok;
    }
    void unlock_primary() override {
        if (!locked_) return;
        locked_ = false;
        frame_ready(window_);
    }
    bool restore_surfaces() override {
        if (!primary_) return false;
        header()->surface_lost.store(0);
        return true;
    }
    void close_direct_draw() override { primary_ = false; }

    bool create_bitmap(int width, int height) override {
        if (!map_frame()) return false;
        auto t = turned();
        return width == t.width && height == t.height;
    }
    bool blit_bitmap(Hwnd window, std::span<const std::uint16_t> px, int width,
                     int height) override {
        if (!map_frame() || width <= 0 || height <= 0 || px.size() < std::size_t(width) * height)
            return false;
        // The window is full screen at 0, 0: whatever falls outside the display is clipped.
        auto t = turned();
        int w = std::min<int>(width, t.width);
        int h = std::min<int>(height, t.height);
        for (int y = 0; y < h; ++y) {
            const std::uint16_t* src = px.data() + std::size_t(y) * width;
            auto* row = static_cast<std::uint8_t*>(t.origin) + std::ptrdiff_t(y) * t.ystride;
            if (t.xstride == 2) {
                std::memcpy(row, src, std::size_t(w) * 2);
                continue;
            }
            for (int x = 0; x < w; ++x)
                std::memcpy(row + std::ptrdiff_t(x) * t.xstride, src + x, 2);
        }
        return frame_ready(window);
    }
    void delete_bitmap() override {}

    bool frame_ready(Hwnd window) override {
        auto& w = c_.begin(Kind::DisplayPresent);
        w.u32(window);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    // The host composes the picture (programs' frames and its own windows) and hands it over in
    // packet-sized pieces.
    bool read_screen(std::span<std::uint16_t> out, int width, int height) override {
        const std::size_t total = std::size_t(width) * std::size_t(height) * 2;
        if (width <= 0 || height <= 0 || out.size() * 2 < total) return false;
        std::size_t offset = 0;
        auto* bytes = reinterpret_cast<std::byte*>(out.data());
        do {
            auto& w = c_.begin(Kind::DisplayScreenshot);
            w.u32(std::uint32_t(offset));
            auto r = c_.call(w);
            if (!r || r->status != Status::Ok) return false;
            Reader rd(r->body);
            auto shot_w = int(rd.u32()), shot_h = int(rd.u32());
            auto size = rd.u32();
            auto piece = rd.bin();
            if (!rd.ok() || shot_w != width || shot_h != height || size != total || piece.empty() ||
                piece.size() > total - offset)
                return false;
            std::memcpy(bytes + offset, piece.data(), piece.size());
            offset += piece.size();
        } while (offset < total);
        return true;
    }

    // The device has no GX library; the platform's switch routes the keys instead.
    bool gx_available() override { return false; }
    int gx_open_input() override { return 0; }
    int gx_close_input() override { return 0; }
    void route_all_keys(bool on) override { keys_routed_ = on; }

private:
    wire::FrameHeader* header() { return static_cast<wire::FrameHeader*>(map_); }

    // The panel's memory as the turned screen addresses it (the mapping must exist). The steps
    // are the ones the drawing library takes for the same rotation.
    struct Turned {
        void* origin;
        std::int32_t xstride, ystride;
        int width, height;
    };
    Turned turned() {
        const std::int32_t row = std::int32_t(header()->ypitch);
        const int w = int(header()->width), h = int(header()->height);
        std::uint8_t* base = pixels();
        switch (header()->orientation.load()) {
        case 90: return {base + std::ptrdiff_t(row) * (h - 1), -row, 2, h, w};
        case 180: return {base + std::ptrdiff_t(row) * (h - 1) + 2 * (w - 1), -2, -row, w, h};
        case 270: return {base + 2 * (w - 1), row, -2, h, w};
        default: return {base, 2, row, w, h};
        }
    }
    std::uint8_t* pixels() { return static_cast<std::uint8_t*>(map_) + wire::kFrameHeaderBytes; }

    void load_info() {
        if (info_loaded_) return;
        auto& w = c_.begin(Kind::DisplayInfo);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return;
        Reader rd(r->body);
        ScreenMetrics m;
        m.width = int(rd.u32());
        m.height = int(rd.u32());
        m.dpi_x = m.dpi_y = int(rd.u32());
        PlatformVersion v;
        v.major = rd.u32();
        v.minor = rd.u32();
        v.build = rd.u32();
        auto oem = rd.s16();
        if (!rd.ok()) return;
        metrics_ = m;
        version_ = v;
        oem_ = oem.substr(0, 128);
        info_loaded_ = true;
    }

    // Maps the shared frame once; false when the host has none or it is not one of ours.
    bool map_frame() {
        if (map_) return true;
        int fd = ::open((dir_ / "run" / std::string(wire::kFrameFile)).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        void* p = MAP_FAILED;
        if (::fstat(fd, &st) == 0 && std::size_t(st.st_size) >= wire::kFrameHeaderBytes)
            p = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        if (p == MAP_FAILED) return false;
        auto* h = static_cast<wire::FrameHeader*>(p);
        std::size_t need = wire::kFrameHeaderBytes + std::size_t(h->ypitch) * h->height;
        if (h->magic != wire::kFrameMagic || h->width == 0 || h->height == 0 ||
            h->ypitch < h->width * 2 || need > std::size_t(st.st_size)) {
            ::munmap(p, std::size_t(st.st_size));
            return false;
        }
        map_ = p;
        map_size_ = std::size_t(st.st_size);
        return true;
    }

    wire::Client& c_;
    std::filesystem::path dir_;
    void* map_ = nullptr;
    std::size_t map_size_ = 0;
    bool info_loaded_ = false;
    ScreenMetrics metrics_;
    PlatformVersion version_;
    std::u16string oem_;
    Hwnd window_ = 0;
    bool primary_ = false;
    bool locked_ = false;
    bool keys_routed_ = false;
};

}  // namespace

std::unique_ptr<Display> make_display(wire::Client& c, const std::filesystem::path& device_dir) {
    return std::make_unique<DeviceDisplay>(c, device_dir);
}

}  // namespace lumo::platform::device
