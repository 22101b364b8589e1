#pragma once
// Reading the product's own files (pictures, lang.ini, sounds) from the host's file system. Every
// such file goes through read_file: it is opened without blocking and must be a regular file of a
// size its kind can have, so that a named pipe, a device or a directory put where a picture is
// expected is refused at once instead of hanging the program that reads it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumo::platform {

// Largest files of each kind the programs read.
inline constexpr std::size_t kMaxPictureBytes = std::size_t(32) << 20;
inline constexpr std::size_t kMaxLangBytes = std::size_t(1) << 20;
inline constexpr std::size_t kMaxWaveBytes = std::size_t(16) << 20;

// The whole file, or nullopt with the reason in `why` (when given): missing, not a regular file,
// larger than max_bytes, or unreadable.
std::optional<std::vector<std::uint8_t>> read_file(const std::filesystem::path& path,
                                                   std::size_t max_bytes,
                                                   std::string* why = nullptr);

}  // namespace lumo::platform
