#include "lumo/log/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/text.h"

namespace lumo::log {

namespace fs = std::filesystem;

namespace {

fs::path generation(const fs::path& log, int n) {
    auto p = log;
    p += "." + std::to_string(n);
    return p;
}

// Cuts a UTF-16 text to `max` units without leaving half of a surrogate pair at the end.
void cut(std::u16string& s, std::size_t max) {
    if (s.size() <= max) return;
    s.resize(max);
    if (!s.empty() && s.back() >= 0xD800 && s.back() <= 0xDBFF) s.pop_back();
}

void append_number(std::u16string& out, std::uint64_t v, int width) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*llu", width, static_cast<unsigned long long>(v));
    for (const char* p = buf; *p; ++p) out.push_back(static_cast<char16_t>(*p));
}

bool write_all(int fd, const std::vector<unsigned char>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        auto n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<unsigned char> little_endian(std::u16string_view s) {
    std::vector<unsigned char> out;
    out.reserve(s.size() * 2);
    for (char16_t c : s) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    return out;
}

}  // namespace

fs::path log_path(Variant variant, const fs::path& folder) {
    return folder / fs::path(std::u16string(variant_info(variant).file_name));
}

void rotate(const fs::path& log) {
    std::error_code ec;
    for (int n = kGenerations - 1; n >= 1; --n) {
        if (!fs::exists(generation(log, n), ec)) continue;
        fs::remove(generation(log, n + 1), ec);
        fs::rename(generation(log, n), generation(log, n + 1), ec);
    }
    if (fs::exists(log, ec)) {
        fs::remove(generation(log, 1), ec);
        fs::rename(log, generation(log, 1), ec);
    }
}

Log::Log(Log&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)),
      variant_(o.variant_),
      env_(o.env_),
      mutex_(std::move(o.mutex_)) {}

Log& Log::operator=(Log&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(o.fd_, -1);
        variant_ = o.variant_;
        env_ = o.env_;
        mutex_ = std::move(o.mutex_);
    }
    return *this;
}

Log::~Log() {
    if (fd_ >= 0) ::close(fd_);
}

Log Log::open(Variant variant, const fs::path& folder, bool debug_on, Environment& env) {
    const auto path = log_path(variant, folder);
    if (debug_on) rotate(path);
    Log log;
    log.variant_ = variant;
    log.env_ = &env;
    log.mutex_ = std::make_unique<std::mutex>();
    log.fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log.fd_ >= 0 && !write_all(log.fd_, {0xFF, 0xFE})) {
        ::close(log.fd_);
        log.fd_ = -1;
    }
    return log;
}

Log Log::open(Variant variant, const fs::path& folder, platform::Registry& reg, Environment& env) {
    std::uint8_t debug_on = 0;
    if (auto key = reg.open_key(platform::Root::CurrentUser, protocol::kRootKey)) {
        catalogue::read_byte(reg, *key, catalogue::setting(catalogue::Id::DebugOn).name, debug_on);
    }
    return open(variant, folder, debug_on != 0, env);
}

std::u16string Log::format_line(std::u16string_view message) {
    std::u16string line;
    line.reserve(kMaxLineChars);
    const auto t = env_ ? env_->local_time() : platform::LocalTime{};
    append_number(line, t.hour, 2);
    line += u':';
    append_number(line, t.minute, 2);
    line += u':';
    append_number(line, t.second, 2);
    line += u" \t";
    if (variant_info(variant_).memory_column) {
        append_number(line, env_ ? env_->available_memory() : 0, 1);
        line += u" \t";
    }
    std::u16string text(message);
    cut(text, kMaxMessageChars);
    // The line keeps its CR LF even when the text has to give way, so that a long message
    // never runs into the next line.
    cut(text, kMaxLineChars - 2 - std::min(line.size(), kMaxLineChars - 2));
    line += text;
    line += u"\r\n";
    return line;
}

void Log::write(std::u16string_view message) {
    if (fd_ < 0) return;
    const auto bytes = little_endian(format_line(message));
    std::lock_guard lock(*mutex_);
    write_all(fd_, bytes);
}

void Log::write(std::string_view utf8_message) {
    if (fd_ < 0) return;
    write(std::u16string_view(platform::to_u16(utf8_message)));
}

void Log::printf(const char* format, ...) {
    if (fd_ < 0) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    write(std::string_view(text));
}

}  // namespace lumo::log
