#include "host_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace lumo::host {

namespace {
std::uint64_t steady_ms() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// The log is the owner's alone, whatever the umask.
std::FILE* open_private(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    ::fchmod(fd, 0600);
    std::FILE* f = ::fdopen(fd, "a");
    if (!f) ::close(fd);
    return f;
}
}  // namespace

bool HostLog::open(const std::string& path, bool echo_to_stderr, long max_bytes) {
    std::lock_guard lock(mutex_);
    echo_ = echo_to_stderr;
    path_ = path;
    max_bytes_ = max_bytes;
    file_ = open_private(path);
    return file_ != nullptr;
}

void HostLog::close() {
    std::lock_guard lock(mutex_);
    for (auto& [kind, k] : kinds_) summarize_locked(k);
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void HostLog::line(std::string_view text) {
    std::lock_guard lock(mutex_);
    write_locked(text);
}

void HostLog::limited_line(const void* kind, std::string_view text) {
    std::lock_guard lock(mutex_);
    auto now = steady_ms();
    auto& k = kinds_[kind];
    if (now - k.since >= 1000) {
        summarize_locked(k);
        k.since = now;
        k.lines = 0;
    }
    if (k.lines < kLinesPerKindPerSecond) {
        ++k.lines;
        write_locked(text);
    } else {
        ++k.held;
        k.last.assign(text);
    }
}

void HostLog::summarize_locked(Kind& k) {
    if (!k.held) return;
    char count[48];
    std::snprintf(count, sizeof count, " ... (repeated %zu times)", k.held);
    write_locked(k.last + count);
    k.held = 0;
    k.last.clear();
}

void HostLog::flush_repeats() {
    std::lock_guard lock(mutex_);
    auto now = steady_ms();
    for (auto& [kind, k] : kinds_)
        if (k.held && now - k.since >= 1000) summarize_locked(k);
}

std::optional<std::uint64_t> HostLog::repeats_due() const {
    std::lock_guard lock(mutex_);
    std::optional<std::uint64_t> due;
    for (auto& [kind, k] : kinds_)
        if (k.held && (!due || k.since + 1000 < *due)) due = k.since + 1000;
    return due;
}

void HostLog::write_locked(std::string_view text) {
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm t;
    localtime_r(&tv.tv_sec, &t);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, int(tv.tv_usec / 1000));
    if (file_) {
        std::fprintf(file_, "%s%.*s\n", stamp, int(text.size()), text.data());
        std::fflush(file_);
        // One older log is kept beside the current one.
        if (std::ftell(file_) >= max_bytes_) {
            std::fclose(file_);
            std::rename(path_.c_str(), (path_ + ".1").c_str());
            file_ = open_private(path_);
        }
    }
    if (echo_) std::fprintf(stderr, "lumo-device: %.*s\n", int(text.size()), text.data());
}

}  // namespace lumo::host
