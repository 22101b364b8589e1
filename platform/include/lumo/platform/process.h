#pragma once
// Processes and the file system as a program sees them: its own executable and folder (device
// paths, backslashes, UTF-16), the shell's special folders, shell execution, a snapshot of the
// running processes, and the mapping of device paths onto the host's files.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::platform {

struct ProcessEntry {
    std::uint32_t id = 0;
    std::u16string exe_file;  // file name only, e.g. "lumo.exe"
};

// A library loaded by a program; 0 is "none".
using LibraryHandle = std::uint32_t;

enum class SpecialFolder : std::uint8_t { ProgramFiles, Windows, StartUp, MyDocuments, MyPictures, Temp };

class Processes {
public:
    virtual ~Processes() = default;
    // The running program's executable, e.g. "\Program Files\Lumo\lumo.exe".
    virtual std::u16string own_path() = 0;
    virtual std::uint32_t own_id() = 0;
    virtual std::u16string special_folder(SpecialFolder folder) = 0;
    // Starts a program by device path without waiting; the process id, or nullopt when the
    // phone could not run it.
    virtual std::optional<std::uint32_t> shell_execute(std::u16string_view path,
                                                       std::u16string_view arguments,
                                                       bool shown) = 0;
    virtual std::vector<ProcessEntry> snapshot() = 0;
    // Ends a process at once, as the phone's terminate does.
    virtual bool terminate(std::uint32_t process_id) = 0;
    // Waits up to `timeout_ms` for a process to end; true when it has.
    virtual bool wait_process(std::uint32_t process_id, std::uint32_t timeout_ms) = 0;
    // Where a device path lives on the host; nullopt for paths outside the device.
    virtual std::optional<std::filesystem::path> host_path(std::u16string_view device_path) = 0;

    // The phone's libraries, found by file name in \Windows as its loader finds them; 0 when
    // the phone has none of that name.
    virtual LibraryHandle load_library(std::u16string_view name) = 0;
    // Whether a loaded library has `function`; with `call` it also runs it (the functions the
    // product calls this way take no arguments). False for a handle not loaded.
    virtual bool library_function(LibraryHandle library, std::u16string_view function, bool call) = 0;
    virtual void free_library(LibraryHandle library) = 0;
};

// The program folder of an executable path: everything before the last backslash.
std::u16string program_folder(std::u16string_view exe_path);
// The file name of a path: everything after the last backslash.
std::u16string file_name(std::u16string_view path);

}  // namespace lumo::platform

namespace lumo::platform {
// Maps a device path ("\Program Files\Lumo\lumo.exe") onto the folder that holds the device's
// files: each existing component is matched without regard to case, as the phone's file system
// does; the rest is kept as written. nullopt for relative paths or ".." components.
std::optional<std::filesystem::path> map_device_path(const std::filesystem::path& root,
                                                     std::u16string_view device_path);
}  // namespace lumo::platform
