#pragma once
// The device host's own log: "DIR/device.log", one UTF-8 line per event with a time stamp.
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace lumo::host {

class HostLog {
public:
    bool open(const std::string& path, bool echo_to_stderr);
    void close();
    void line(std::string_view text);
    template <class... Args>
    void printf(const char* fmt, Args... args) {
        char buf[1024];
        std::snprintf(buf, sizeof buf, fmt, args...);
        line(buf);
    }
    ~HostLog() { close(); }

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool echo_ = false;
};

}  // namespace lumo::host
