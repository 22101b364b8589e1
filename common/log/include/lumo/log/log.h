#pragma once
// The diagnostic log each program writes into its own folder: one UTF-16LE file with a
// byte-order mark, one CR LF line per event, stamped with the local time (and, for lumo and
// LumoC, the available memory). With DebugOn set, the previous logs are kept as nine numbered
// generations. A log whose file cannot be made is closed and silently skips every write.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "lumo/platform/clock.h"
#include "lumo/platform/registry.h"

namespace lumo::log {

enum class Variant : std::uint8_t { Service, Settings, LockScreen, Browser };

struct VariantInfo {
    Variant variant;
    std::u16string_view file_name;
    bool memory_column;  // "%02d:%02d:%02d \t%d \t%s\r\n" instead of "%02d:%02d:%02d \t%s\r\n"
};

inline constexpr std::array<VariantInfo, 4> kVariants{{
    {Variant::Service, u"Vardex2.log", false},
    {Variant::Settings, u"lumo Settings.log", false},
    {Variant::LockScreen, u"lumo.log", true},
    {Variant::Browser, u"lumoc.log", true},
}};

inline constexpr std::size_t kMaxMessageChars = 255;
inline constexpr std::size_t kMaxLineChars = 259;
inline constexpr int kGenerations = 9;

constexpr const VariantInfo& variant_info(Variant v) {
    return kVariants[static_cast<std::size_t>(v)];
}

// Where a line's time stamp and memory figure come from; tests inject fixed ones.
class Environment {
  public:
    virtual ~Environment() = default;
    virtual platform::LocalTime local_time() = 0;
    // Available physical memory in bytes.
    virtual std::uint64_t available_memory() = 0;
};

// The running program's environment: time stamps from the device's clock, the memory figure from
// the given source (0 without one).
class ClockEnvironment final : public Environment {
  public:
    explicit ClockEnvironment(platform::Clock& clock, std::function<std::uint64_t()> memory = {})
        : clock_(clock), memory_(std::move(memory)) {}
    platform::LocalTime local_time() override { return clock_.local_time(); }
    std::uint64_t available_memory() override { return memory_ ? memory_() : 0; }

  private:
    platform::Clock& clock_;
    std::function<std::uint64_t()> memory_;
};

// The log file of a program in its folder.
std::filesystem::path log_path(Variant variant, const std::filesystem::path& folder);

// Shifts the log and its numbered copies up by one, keeping nine; failures are ignored.
void rotate(const std::filesystem::path& log_path);

class Log {
  public:
    Log() = default;  // a closed log
    Log(Log&&) noexcept;
    Log& operator=(Log&&) noexcept;
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    ~Log();

    // Rotates when `debug_on`, then creates the file anew with its byte-order mark.
    static Log open(Variant variant, const std::filesystem::path& folder, bool debug_on,
                    Environment& env);
    // As above, with DebugOn read from the settings key (absent or unreadable means off).
    static Log open(Variant variant, const std::filesystem::path& folder, platform::Registry& reg,
                    Environment& env);

    bool is_open() const { return fd_ >= 0; }

    // One line per call, cut to the limits; safe from several threads at once.
    void write(std::u16string_view message);
    void write(std::string_view utf8_message);
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The line as it would be written (without writing it), for callers that echo it.
    std::u16string format_line(std::u16string_view message);

  private:
    int fd_ = -1;
    Variant variant_ = Variant::Service;
    Environment* env_ = nullptr;
    std::unique_ptr<std::mutex> mutex_;
};

}  // namespace lumo::log
