#pragma once
// The device's processes: the product's programs run as the built binaries installed into the
// device's program folder, known outside programs run as simulated ones inside the host, and
// every program connected to the host counts as a process. Also the installation of a new
// device, the start-up folder, and the device clock shared with every process.
#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host.h"

namespace lumo::host {

class WindowService;

// The clock every process reads without asking the host: a shared page with the monotonic
// time the device booted at and the offset of the device's local time.
struct SharedClock {
    std::atomic<std::int64_t> boot_monotonic_ms;
    std::atomic<std::int64_t> local_offset_ms;
};

class ProcessService {
public:
    ProcessService(Host& host, WindowService& windows);
    ~ProcessService();

    // Installs the product into a new device and refreshes the program links of an old one.
    bool install(bool fresh, std::string* error);
    // Starts the programs of \Windows\StartUp.
    void run_startup();
    // Starts a device path; the process id, or 0 when the phone cannot run it (`refused` is
    // then set when the path is a file the device will not run).
    std::uint32_t start(std::u16string_view path, std::u16string_view arguments, bool shown,
                        bool* refused = nullptr);
    // Ends every child at host shutdown.
    void stop_all();
    // Switching the phone off: every program's windows are asked to close (WM_CLOSE), simulated
    // programs end at once, and what still runs after `grace_ms` is ended; then `done`.
    void end_all(std::uint32_t grace_ms, std::function<void()> done);
    // A simulated program ends (its own choice, as the music player on WM_CLOSE).
    void end_simulated(std::uint32_t pid, const std::string& why);
    // The device's local time (as set with the control tool), milliseconds since 1970.
    std::int64_t local_now_ms() const;
    // Simulated programs whose start another service provides (the phone application): asked
    // before the table of simulated programs; true when it started the program.
    std::function<bool(std::u16string_view exe, std::uint32_t pid, bool shown)> start_service_program;

private:
    struct Process {
        std::uint32_t pid = 0;
        std::u16string path;  // device path
        bool simulated = false;
        bool child = false;  // a Linux child of the host
        std::vector<Host::Deferred> waiters;
    };
    struct Waiter {
        Host::Deferred reply;
        Host::TimerId timer;
    };
    void register_handlers();
    void finish_end_all(std::uint64_t deadline, std::function<void()> done);
    // Installs or refreshes the product in the file system at `root`.
    bool install_into(const std::filesystem::path& root, bool fresh, std::string* error);
    // The executable a device path runs, when it is a program of this device: the file, links
    // followed, must lie in the device's file system or among the build's binaries.
    std::optional<std::filesystem::path> executable(std::u16string_view path, std::string* why) const;
    void ended(std::uint32_t pid, const std::string& why);
    std::vector<std::pair<std::uint32_t, std::u16string>> snapshot() const;
    bool running(std::uint32_t pid) const;

    Host& host_;
    WindowService& windows_;
    std::filesystem::path fs_root_;
    std::filesystem::path bin_dir_;
    std::map<std::uint32_t, Process> processes_;
    std::multimap<std::uint32_t, Waiter> waiters_;  // by pid
    std::uint32_t next_simulated_pid_ = 0x00800000;
    SharedClock* clock_ = nullptr;
    int clock_fd_ = -1;
};

// Monotonic milliseconds, the base of the device's tick count.
std::int64_t monotonic_ms();
// Local wall-clock milliseconds since 1970 (the host's time zone).
std::int64_t local_wall_ms();

}  // namespace lumo::host
