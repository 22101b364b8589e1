#pragma once
// Theme packages: zip archives (deflate) holding "theme.reg" and the pictures under "gfx/".
// Writing one, and checking one completely before anything of the installed theme is touched:
// the required entries, every entry's name (nothing may land outside the program folder), its
// kind, its size against the limits, and its data against its CRC, by extracting the whole
// archive into a staging folder first.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::settings::theme {

// Limits a theme must keep; far above a real theme (a few MiB), well below what would fill
// the phone's storage when a hostile archive expands.
inline constexpr std::uint64_t kMaxThemeBytes = std::uint64_t(64) << 20;
inline constexpr std::uint64_t kMaxEntryBytes = std::uint64_t(32) << 20;
inline constexpr std::size_t kMaxEntries = 4096;
// Longest entry name taken: a device path holds 260 characters.
inline constexpr std::size_t kMaxNameChars = 260;

inline constexpr std::string_view kThemeReg = "theme.reg";

// The 43 pictures a theme must carry, "gfx/..." in checking order.
std::span<const std::string_view> required_entries();

// The relative path an entry name stands for ("/" or "\" separate its parts, "." parts and
// empty parts are dropped), or nullopt when the name would leave the folder it is extracted to:
// a ".." part, a leading separator, a drive letter or any ":", a control character, or a name
// that is empty or too long. `is_folder` is set for names ending in a separator.
std::optional<std::filesystem::path> safe_entry_path(std::string_view name, bool* is_folder = nullptr);

// Creates an archive; entries are added from files and deflated.
class ArchiveWriter {
  public:
    ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;
    ~ArchiveWriter();

    // Creates (replaces) the file; false when it cannot be made.
    bool create(const std::filesystem::path& path);
    // Adds `file` under `entry` ("\" stored as "/"). `cancelled` is asked between chunks; a
    // cancelled or failed entry returns false.
    bool add_file(const std::filesystem::path& file, std::string_view entry,
                  const std::function<bool()>& cancelled = {});
    // Writes the central directory; false when that failed.
    bool close();

  private:
    struct Deflater;  // one compressor and its buffers, kept across entries
    void* zip_ = nullptr;
    std::unique_ptr<Deflater> deflater_;
};

enum class Problem {
    None,
    NotAnArchive,   // not a zip archive, or its directory is damaged
    MissingEntry,   // theme.reg or a required picture is absent
    UnsafeEntry,    // an entry would be written outside the folder, or is a link
    TooLarge,       // an entry or the whole theme passes the limits, or too many entries
    Damaged,        // data that does not inflate, a wrong CRC or size, encryption, an unknown method
    WriteFailed,    // the staging folder could not take a file (a full disk)
    Cancelled,
};

struct CheckResult {
    Problem problem = Problem::None;
    std::string entry;  // the entry the problem is about, when there is one
    explicit operator bool() const { return problem == Problem::None; }
};

// One line of English for a problem, with the entry, for logs and the theme page.
std::string describe(const CheckResult& r);

struct StagedTheme {
    std::vector<std::filesystem::path> files;    // relative paths of the staged files, archive order
    std::vector<std::filesystem::path> folders;  // folder entries, relative
    std::vector<std::uint8_t> theme_reg;         // the bytes of theme.reg
};

struct StageCallbacks {
    // Progress in percent as the load shows it: 1 to 20 for the required entries, then 20 up to
    // `extract_end` while extracting.
    std::function<void(double)> progress;
    std::function<bool()> cancelled;
    // Logged as they happen ("LoadThemeEvent .REG %d", "Missed file: %s", ...).
    std::function<void(const std::string&)> log;
    double extract_end = 90.0;
};

// Checks the archive at `archive` in the order the load does (theme.reg, the required entries
// without regard to case, then every entry), extracting every entry below `staging` (which is
// emptied first). On success `out` lists what was staged; on failure `staging` is removed.
CheckResult stage_theme(const std::filesystem::path& archive, const std::filesystem::path& staging,
                        StagedTheme& out, const StageCallbacks& callbacks = {});

// The settings a theme carries, read from the bytes of a theme.reg by the language file's line
// lookup: a text whose line passes 50 characters is cut (a long wallpaper path to 48 characters),
// as themes in use were saved and read that way. Names that are absent are not listed; bytes
// whose digits are not hexadecimal are skipped.
struct ThemeSettings {
    std::vector<std::pair<std::u16string, std::u16string>> texts;  // in the order applied
    std::vector<std::pair<std::u16string, std::uint8_t>> bytes;
};
inline constexpr std::size_t kThemeRegTextChars = 50;
ThemeSettings read_theme_reg(std::span<const std::uint8_t> bytes);

// The names theme.reg carries, in the file's order: six texts, ten byte options, two texts.
std::span<const std::u16string_view> theme_reg_texts_first();   // TimeFormat ... WallpaperL
std::span<const std::u16string_view> theme_reg_bytes();         // SliderPosition ... AlignAppointment
std::span<const std::u16string_view> theme_reg_texts_last();    // LockSound, UnlockSound

}  // namespace lumo::settings::theme
