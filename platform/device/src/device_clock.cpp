// The device's clocks, read from the page the host shares with every process.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <ctime>

#include "internal.h"

namespace lumo::platform::device {
namespace {

// Must match the host's layout.
struct SharedClock {
    std::atomic<std::int64_t> boot_monotonic_ms;
    std::atomic<std::int64_t> local_offset_ms;
};

std::int64_t monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::int64_t local_wall_ms() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    return (std::int64_t(ts.tv_sec) + local.tm_gmtoff) * 1000 + ts.tv_nsec / 1000000;
}

class DeviceClock final : public platform::Clock {
public:
    explicit DeviceClock(const std::filesystem::path& dir) : fallback_boot_(monotonic_ms()) {
        int fd = ::open((dir / "run" / "clock").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        void* p = ::mmap(nullptr, sizeof(SharedClock), PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (p != MAP_FAILED) shared_ = static_cast<const SharedClock*>(p);
    }
    ~DeviceClock() override {
        if (shared_) ::munmap(const_cast<SharedClock*>(shared_), sizeof(SharedClock));
    }

    std::uint32_t tick_count() override {
        auto boot = shared_ ? shared_->boot_monotonic_ms.load() : fallback_boot_;
        return static_cast<std::uint32_t>(monotonic_ms() - boot);
    }

    std::uint64_t local_file_time() override {
        constexpr std::int64_t kUnixEpochMs = 11644473600000ll;
        auto offset = shared_ ? shared_->local_offset_ms.load() : 0;
        return static_cast<std::uint64_t>(local_wall_ms() + offset + kUnixEpochMs) * 10000;
    }

    LocalTime local_time() override { return file_time_to_local(local_file_time()); }

private:
    const SharedClock* shared_ = nullptr;
    std::int64_t fallback_boot_;
};

}  // namespace

std::unique_ptr<platform::Clock> make_clock(const std::filesystem::path& device_dir) {
    return std::make_unique<DeviceClock>(device_dir);
}

}  // namespace lumo::platform::device
