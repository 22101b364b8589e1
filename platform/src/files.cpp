#include "lumo/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumo::platform {

std::optional<std::vector<std::uint8_t>> read_file(const std::filesystem::path& path,
                                                   std::size_t max_bytes, std::string* why) {
    auto fail = [&](std::string reason) -> std::optional<std::vector<std::uint8_t>> {
        if (why) *why = path.string() + ": " + std::move(reason);
        return std::nullopt;
    };
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fail(std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail("not a regular file");
    if (st.st_size < 0 || std::uintmax_t(st.st_size) > max_bytes)
        return fail("larger than " + std::to_string(max_bytes) + " bytes");
    // The file may grow while it is read: one byte more than allowed tells.
    std::vector<std::uint8_t> bytes(std::size_t(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() > max_bytes) return fail("larger than " + std::to_string(max_bytes) + " bytes");
            bytes.resize(std::min(bytes.size() * 2, max_bytes + 1));
        }
        ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(std::strerror(errno));
        if (n == 0) break;
        got += std::size_t(n);
    }
    bytes.resize(got);
    return bytes;
}

}  // namespace lumo::platform
