#pragma once
// The device host's own log: "DIR/device.log", one UTF-8 line per event with a time stamp.
// Whatever a client does, the log stays small: lines of one kind (one format) beyond a few per
// second are counted and summed up in one line, and at 1 MiB the log moves to "device.log.1".
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace lumo::host {

class HostLog {
public:
    static constexpr int kLinesPerKindPerSecond = 20;
    static constexpr long kMaxBytes = 1l << 20;

    bool open(const std::string& path, bool echo_to_stderr, long max_bytes = kMaxBytes);
    void close();
    void line(std::string_view text);
    template <class... Args>
    void printf(const char* fmt, Args... args) {
        char buf[1024];
        std::snprintf(buf, sizeof buf, fmt, args...);
        limited_line(fmt, buf);
    }
    // Writes the summaries of kinds that went quiet; the host calls it from its loop.
    void flush_repeats();
    // When the next summary falls due (steady milliseconds), if one waits.
    std::optional<std::uint64_t> repeats_due() const;
    ~HostLog() { close(); }

private:
    struct Kind {
        std::uint64_t since = 0;  // start of the current one-second window
        int lines = 0;            // lines written in it
        std::size_t held = 0;     // lines held back since
        std::string last;         // the last one held back
    };
    void limited_line(const void* kind, std::string_view text);
    void write_locked(std::string_view text);
    void summarize_locked(Kind& k);

    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::string path_;
    long max_bytes_ = kMaxBytes;
    bool echo_ = false;
    std::map<const void*, Kind> kinds_;
};

}  // namespace lumo::host
