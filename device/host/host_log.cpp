#include "host_log.h"

#include <sys/time.h>

#include <ctime>

namespace lumo::host {

bool HostLog::open(const std::string& path, bool echo_to_stderr) {
    std::lock_guard lock(mutex_);
    echo_ = echo_to_stderr;
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

void HostLog::close() {
    std::lock_guard lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void HostLog::line(std::string_view text) {
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm t;
    localtime_r(&tv.tv_sec, &t);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, int(tv.tv_usec / 1000));
    std::lock_guard lock(mutex_);
    if (file_) {
        std::fprintf(file_, "%s%.*s\n", stamp, int(text.size()), text.data());
        std::fflush(file_);
    }
    if (echo_) std::fprintf(stderr, "lumo-device: %.*s\n", int(text.size()), text.data());
}

}  // namespace lumo::host
