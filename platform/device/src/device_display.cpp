// The device's display: the host's shared frame mapped into this process. The frame-buffer
// escape hands out the mapping itself; the DirectDraw primary surface is the same memory with a
// lost flag the host can set; a GDI blit copies into it. Every way ends by telling the host that
// a frame is ready, so it can show it.
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
        return metrics_;
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
        RawFrameBufferInfo info;
        info.format = kFrameFormatRgb565;
        info.bpp = 16;
        info.pointer = pixels();
        info.xstride = 2;
        info.ystride = std::int32_t(header()->ypitch);
        info.width = std::int32_t(header()->width);
        info.height = std::int32_t(header()->height);
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
        out = {pixels(), 2, std::int32_t(header()->ypitch), 16};
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
        return map_frame() && width == int(header()->width) && height == int(header()->height);
    }
    bool blit_bitmap(Hwnd window, std::span<const std::uint16_t> px, int width,
                     int height) override {
        if (!map_frame() || width <= 0 || height <= 0 || px.size() < std::size_t(width) * height)
            return false;
        // The window is full screen at 0, 0: whatever falls outside the display is clipped.
        int w = std::min<int>(width, int(header()->width));
        int h = std::min<int>(height, int(header()->height));
        for (int y = 0; y < h; ++y)
            std::memcpy(pixels() + std::size_t(y) * header()->ypitch, px.data() + std::size_t(y) * width,
                        std::size_t(w) * 2);
        return frame_ready(window);
    }
    void delete_bitmap() override {}

    bool frame_ready(Hwnd window) override {
        auto& w = c_.begin(Kind::DisplayPresent);
        w.u32(window);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    // The device has no GX library; the platform's switch routes the keys instead.
    bool gx_available() override { return false; }
    int gx_open_input() override { return 0; }
    int gx_close_input() override { return 0; }
    void route_all_keys(bool on) override { keys_routed_ = on; }

private:
    wire::FrameHeader* header() { return static_cast<wire::FrameHeader*>(map_); }
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
