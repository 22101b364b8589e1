#pragma once
// The phone's libraries as its programs load them by name: the system library with the
// keyboard-hook functions on every phone, and HTC's utility library, whose HTCUtilDeviceOff
// switches the phone off, on HTC phones. A library is there when its file lies in \Windows, so
// taking the file away makes its lookups fail as on a phone without it.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "host.h"

namespace lumo::host {

class LibraryService {
public:
    // `device_off` switches the phone off (what HTCUtilDeviceOff does).
    LibraryService(Host& host, std::function<void()> device_off);
    // Writes the library files a phone of this model has into its \Windows folder (missing
    // ones only: a file a person removed on an old device comes back at the next boot).
    void place_files(const std::filesystem::path& windows, bool htc);

private:
    struct Loaded {
        std::uint32_t client = 0;
        std::size_t library = 0;  // row of the table
    };
    Host& host_;
    std::function<void()> device_off_;
    std::map<std::uint32_t, Loaded> loaded_;
    std::uint32_t next_handle_ = 0x100;
};

}  // namespace lumo::host
