// Theme packages on disk: writing the zip archive, and checking and staging one before the
// installed theme is touched.
#include "lumo/settings/theme_archive.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "lumo/lang/lang.h"

namespace lumo::settings::theme {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 43> kRequired = {
    "gfx/topbar.png",    "gfx/system.png",     "gfx/arrows.png",    "gfx/vcbutton.png",  "gfx/vcbar.png",
    "gfx/buttonB.png",   "gfx/buttonR.png",    "gfx/buttonL.png",   "gfx/buttons.png",   "gfx/s2earrows.png",
    "gfx/ecasterik.png", "gfx/stbg.png",       "gfx/starrow.png",   "gfx/sttopbar.png",  "gfx/stonoff.png",
    "gfx/stlrL.png",     "gfx/stlrs.png",      "gfx/stbutton.png",  "gfx/stsystem.png",  "gfx/stbox.png",
    "gfx/stfirstbox.png", "gfx/stlastbox.png", "gfx/sback.png",     "gfx/exit.png",      "gfx/ppressed.png",
    "gfx/ptbox.png",     "gfx/ptbutton.png",   "gfx/pwbox.png",     "gfx/pwkey.png",     "gfx/pwasterik.png",
    "gfx/pwback.png",    "gfx/buttonG.png",    "gfx/buttonLG.png",  "gfx/tbaron.png",    "gfx/tbaroff.png",
    "gfx/srroll.png",    "gfx/srcover.png",    "gfx/subbutton.png", "gfx/stbuttonL.png", "gfx/iconfolder.png",
    "gfx/zoominout.png", "gfx/sarrows.png",    "gfx/smenu.png",
};

constexpr std::array<std::u16string_view, 6> kTextsFirst = {u"TimeFormat", u"ClockPath",  u"Time2Format",
                                                            u"Clock2Path", u"Wallpaper", u"WallpaperL"};
constexpr std::array<std::u16string_view, 10> kBytes = {
    u"SliderPosition", u"SlideTextMirror", u"TopmostCurtain", u"TopCurtain",      u"BottomCurtain",
    u"CurtainAlpha",   u"TextShadow",      u"TextSize",       u"AppointmentLine", u"AlignAppointment"};
constexpr std::array<std::u16string_view, 2> kTextsLast = {u"LockSound", u"UnlockSound"};

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kMaxThemeRegBytes = std::size_t(1) << 20;

bool equal_no_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool is_separator(char ch) { return ch == '/' || ch == '\\'; }

struct EntryInfo {
    std::string name;
    std::uint64_t size = 0, packed = 0;
    bool encrypted = false, link = false;
    int method = 0;
    unz64_file_pos pos{};
};

struct UnzCloser {
    void operator()(void* f) const { unzClose(f); }
};
using Unz = std::unique_ptr<void, UnzCloser>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads the archive's directory; a directory that cannot be walked is not an archive.
CheckResult read_directory(void* uf, std::vector<EntryInfo>& entries) {
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(uf, &global) != UNZ_OK) return {Problem::NotAnArchive, {}};
    if (global.number_entry > kMaxEntries) return {Problem::TooLarge, {}};
    int r = unzGoToFirstFile(uf);
    while (r == UNZ_OK) {
        if (entries.size() >= kMaxEntries) return {Problem::TooLarge, {}};
        unz_file_info64 info{};
        std::array<char, 1024> name{};
        if (unzGetCurrentFileInfo64(uf, &info, name.data(), name.size() - 1, nullptr, 0, nullptr, 0) != UNZ_OK)
            return {Problem::NotAnArchive, {}};
        EntryInfo e;
        e.name.assign(name.data(), std::min<std::size_t>(info.size_filename, name.size() - 1));
        e.name.resize(std::strlen(e.name.c_str()));
        if (info.size_filename >= name.size() - 1) e.name += "...";  // refused below as too long
        e.size = info.uncompressed_size;
        e.packed = info.compressed_size;
        e.encrypted = (info.flag & 1) != 0;
        e.method = int(info.compression_method);
        // Made on a Unix host (upper byte 3) with a link's mode in the upper external bits.
        e.link = (info.version >> 8) == 3 && ((info.external_fa >> 16) & 0170000) == 0120000;
        if (unzGetFilePos64(uf, &e.pos) != UNZ_OK) return {Problem::NotAnArchive, {}};
        entries.push_back(std::move(e));
        r = unzGoToNextFile(uf);
    }
    if (r != UNZ_END_OF_LIST_OF_FILE) return {Problem::NotAnArchive, {}};
    return {};
}

int find_entry(const std::vector<EntryInfo>& entries, std::string_view name) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (equal_no_case(entries[i].name, name)) return int(i);
    return -1;
}

// Extracts the current entry to `out` (or into `memory` when out is null), checking its size
// as it inflates and its CRC at the end.
CheckResult extract_entry(void* uf, const EntryInfo& e, std::FILE* out, std::vector<std::uint8_t>* memory,
                          const StageCallbacks& cb) {
    if (unzGoToFilePos64(uf, &e.pos) != UNZ_OK || unzOpenCurrentFile(uf) != UNZ_OK)
        return {Problem::Damaged, e.name};
    std::vector<char> buf(kChunk);
    std::uint64_t total = 0;
    for (;;) {
        if (cb.cancelled && cb.cancelled()) {
            unzCloseCurrentFile(uf);
            return {Problem::Cancelled, e.name};
        }
        int n = unzReadCurrentFile(uf, buf.data(), unsigned(buf.size()));
        if (n < 0) {
            unzCloseCurrentFile(uf);
            return {Problem::Damaged, e.name};
        }
        if (n == 0) break;
        total += std::uint64_t(n);
        if (total > e.size || total > kMaxEntryBytes) {
            unzCloseCurrentFile(uf);
            return {Problem::TooLarge, e.name};
        }
        if (memory) {
            memory->insert(memory->end(), buf.data(), buf.data() + n);
        } else if (std::fwrite(buf.data(), 1, std::size_t(n), out) != std::size_t(n)) {
            unzCloseCurrentFile(uf);
            return {Problem::WriteFailed, e.name};
        }
    }
    if (unzCloseCurrentFile(uf) != UNZ_OK || total != e.size) return {Problem::Damaged, e.name};
    return {};
}

}  // namespace

std::span<const std::string_view> required_entries() { return kRequired; }
std::span<const std::u16string_view> theme_reg_texts_first() { return kTextsFirst; }
std::span<const std::u16string_view> theme_reg_bytes() { return kBytes; }
std::span<const std::u16string_view> theme_reg_texts_last() { return kTextsLast; }

std::optional<fs::path> safe_entry_path(std::string_view name, bool* is_folder) {
    if (is_folder) *is_folder = false;
    if (name.empty() || name.size() > kMaxNameChars || is_separator(name.front())) return std::nullopt;
    for (char ch : name) {
        auto u = static_cast<unsigned char>(ch);
        // A colon names a drive or an alternate stream on the phone.
        if (u < 0x20 || u == 0x7F || ch == ':') return std::nullopt;
    }
    fs::path out;
    std::size_t start = 0;
    while (start <= name.size()) {
        auto end = start;
        while (end < name.size() && !is_separator(name[end])) ++end;
        std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != ".") {
            // The phone drops trailing dots and blanks of a name, so ". ." or "..." would be a
            // way up too.
            if (part.find_first_not_of(". ") == std::string_view::npos) return std::nullopt;
            out /= std::string(part);
        }
        start = end + 1;
    }
    if (out.empty()) return std::nullopt;
    if (is_folder) *is_folder = is_separator(name.back());
    return out;
}

// Each entry is deflated here and handed to minizip raw: its own compressor per entry would
// allocate and clear a quarter megabyte every time, which cost more than the compressing.
struct ArchiveWriter::Deflater {
    z_stream z{};
    bool ready = false;
    std::vector<unsigned char> in = std::vector<unsigned char>(kChunk);
    std::vector<unsigned char> out = std::vector<unsigned char>(kChunk);
    ~Deflater() {
        if (ready) deflateEnd(&z);
    }
    // A fresh raw deflate stream at the default level, as zip's own entries have.
    bool start() {
        if (ready) return deflateReset(&z) == Z_OK;
        ready = deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        return ready;
    }
};

ArchiveWriter::ArchiveWriter() = default;

ArchiveWriter::~ArchiveWriter() {
    if (zip_) zipClose(zip_, nullptr);
}

bool ArchiveWriter::create(const fs::path& path) {
    if (zip_) close();
    zip_ = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    return zip_ != nullptr;
}

bool ArchiveWriter::add_file(const fs::path& file, std::string_view entry, const std::function<bool()>& cancelled) {
    if (!zip_) return false;
    File in(std::fopen(file.c_str(), "rb"));
    if (!in) return false;
    std::string name(entry);
    std::replace(name.begin(), name.end(), '\\', '/');
    zip_fileinfo info{};
    struct stat st{};
    if (::fstat(::fileno(in.get()), &st) == 0) {
        std::tm tm{};
        if (localtime_r(&st.st_mtime, &tm)) {
            info.tmz_date.tm_sec = unsigned(tm.tm_sec);
            info.tmz_date.tm_min = unsigned(tm.tm_min);
            info.tmz_date.tm_hour = unsigned(tm.tm_hour);
            info.tmz_date.tm_mday = unsigned(tm.tm_mday);
            info.tmz_date.tm_mon = unsigned(tm.tm_mon);
            info.tmz_date.tm_year = unsigned(tm.tm_year + 1900);
        }
    }
    if (!deflater_) deflater_ = std::make_unique<Deflater>();
    auto& d = *deflater_;
    if (!d.start()) return false;
    if (zipOpenNewFileInZip2_64(zip_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                Z_DEFAULT_COMPRESSION, 1, 0) != ZIP_OK)
        return false;
    uLong crc = crc32(0, nullptr, 0);
    ZPOS64_T size = 0;
    bool ok = true;
    for (bool end = false; ok && !end;) {
        if (cancelled && cancelled()) {
            ok = false;
            break;
        }
        auto n = std::fread(d.in.data(), 1, d.in.size(), in.get());
        if (n < d.in.size()) {
            end = true;
            ok = !std::ferror(in.get());
        }
        crc = crc32(crc, d.in.data(), uInt(n));
        size += n;
        d.z.next_in = d.in.data();
        d.z.avail_in = uInt(n);
        // Everything read goes through; at the end the stream is finished.
        int rc = Z_OK;
        do {
            d.z.next_out = d.out.data();
            d.z.avail_out = uInt(d.out.size());
            rc = deflate(&d.z, end ? Z_FINISH : Z_NO_FLUSH);
            auto made = unsigned(d.out.size() - d.z.avail_out);
            if (rc == Z_STREAM_ERROR || (made && zipWriteInFileInZip(zip_, d.out.data(), made) != ZIP_OK)) ok = false;
        } while (ok && (d.z.avail_out == 0 || (end && rc != Z_STREAM_END)));
    }
    return zipCloseFileInZipRaw64(zip_, size, crc) == ZIP_OK && ok;
}

bool ArchiveWriter::close() {
    if (!zip_) return false;
    bool ok = zipClose(zip_, nullptr) == ZIP_OK;
    zip_ = nullptr;
    return ok;
}

std::string describe(const CheckResult& r) {
    switch (r.problem) {
        case Problem::None: return "valid theme";
        case Problem::NotAnArchive: return "not a theme archive";
        case Problem::MissingEntry: return "missed file " + r.entry;
        case Problem::UnsafeEntry: return "unsafe entry " + r.entry;
        case Problem::TooLarge: return r.entry.empty() ? "too many or too large files" : "file too large " + r.entry;
        case Problem::Damaged: return "damaged file " + r.entry;
        case Problem::WriteFailed: return "cannot write " + r.entry;
        case Problem::Cancelled: return "cancelled";
    }
    return "invalid theme";
}

CheckResult stage_theme(const fs::path& archive, const fs::path& staging, StagedTheme& out,
                        const StageCallbacks& cb) {
    auto progress = [&cb](double p) {
        if (cb.progress) cb.progress(p);
    };
    auto log = [&cb](const std::string& line) {
        if (cb.log) cb.log(line);
    };
    out = StagedTheme{};
    std::error_code ec;
    fs::remove_all(staging, ec);
    auto fail = [&](CheckResult r) {
        std::error_code e;
        fs::remove_all(staging, e);
        out = StagedTheme{};
        return r;
    };
    // Only a plain file is opened: a pipe or a folder in its place is no archive.
    if (!fs::is_regular_file(archive, ec)) return {Problem::NotAnArchive, {}};
    Unz uf(unzOpen64(archive.c_str()));
    log("LoadThemeEvent " + std::to_string(uf ? 1 : 0));
    if (!uf) return {Problem::NotAnArchive, {}};
    std::vector<EntryInfo> entries;
    if (auto r = read_directory(uf.get(), entries); !r) return r;
    int reg = find_entry(entries, kThemeReg);
    log("LoadThemeEvent .REG " + std::to_string(reg));
    if (reg < 0) return {Problem::MissingEntry, std::string(kThemeReg)};
    progress(1);
    for (std::size_t i = 0; i < kRequired.size(); ++i) {
        if (find_entry(entries, kRequired[i]) < 0) {
            log("Missed file: " + std::string(kRequired[i]));
            return {Problem::MissingEntry, std::string(kRequired[i])};
        }
        progress(1.0 + 19.0 * double(i + 1) / double(kRequired.size()));
    }
    progress(20);
    // Every entry's name, kind and declared size before a byte is inflated.
    std::uint64_t total = 0;
    for (const auto& e : entries) {
        bool folder = false;
        if (e.link || !safe_entry_path(e.name, &folder)) return {Problem::UnsafeEntry, e.name};
        if (folder) continue;
        if (e.encrypted || (e.method != 0 && e.method != Z_DEFLATED)) return {Problem::Damaged, e.name};
        if (e.size > kMaxEntryBytes) return {Problem::TooLarge, e.name};
        total += e.size;
        if (total > kMaxThemeBytes) return {Problem::TooLarge, {}};
    }
    fs::create_directories(staging, ec);
    if (ec) return fail({Problem::WriteFailed, staging.filename().string()});
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (cb.cancelled && cb.cancelled()) return fail({Problem::Cancelled, {}});
        const auto& e = entries[i];
        bool folder = false;
        auto rel = *safe_entry_path(e.name, &folder);
        auto target = staging / rel;
        if (folder) {
            fs::create_directories(target, ec);
            if (ec) return fail({Problem::WriteFailed, e.name});
            out.folders.push_back(rel);
        } else {
            fs::create_directories(target.parent_path(), ec);
            if (ec) return fail({Problem::WriteFailed, e.name});
            bool is_reg = int(i) == reg;
            if (is_reg && e.size > kMaxThemeRegBytes) return fail({Problem::TooLarge, e.name});
            File f(std::fopen(target.c_str(), "wb"));
            if (!f) return fail({Problem::WriteFailed, e.name});
            auto r = extract_entry(uf.get(), e, is_reg ? nullptr : f.get(), is_reg ? &out.theme_reg : nullptr, cb);
            if (r && is_reg &&
                std::fwrite(out.theme_reg.data(), 1, out.theme_reg.size(), f.get()) != out.theme_reg.size())
                r = {Problem::WriteFailed, e.name};
            if (r && std::fflush(f.get()) != 0) r = {Problem::WriteFailed, e.name};
            if (!r) return fail(r);
            out.files.push_back(rel);
        }
        progress(20.0 + (cb.extract_end - 20.0) * double(i + 1) / double(entries.size()));
    }
    return {};
}

ThemeSettings read_theme_reg(std::span<const std::uint8_t> bytes) {
    ThemeSettings s;
    auto file = lang::LangFile::from_bytes(std::span<const unsigned char>(bytes.data(), bytes.size()));
    // A default no line can give, to tell an absent name from a present one.
    const std::u16string absent(1, char16_t(0xFFFF));
    auto text = [&](std::u16string_view name) {
        std::u16string key = u"\"" + std::u16string(name) + u"\"=\"";
        auto v = file.lookup(key, absent, kThemeRegTextChars);
        if (v == absent || v.empty()) return;
        v.pop_back();  // the closing quote, or the last character of a cut line
        s.texts.emplace_back(std::u16string(name), std::move(v));
    };
    for (auto n : kTextsFirst) text(n);
    for (auto n : kTextsLast) text(n);
    auto hex = [](char16_t ch) -> int {
        if (ch >= u'0' && ch <= u'9') return ch - u'0';
        if (ch >= u'a' && ch <= u'f') return ch - u'a' + 10;
        if (ch >= u'A' && ch <= u'F') return ch - u'A' + 10;
        return -1;
    };
    for (auto n : kBytes) {
        std::u16string key = u"\"" + std::u16string(n) + u"\"=hex:";
        auto v = file.lookup(key, absent, 10);
        if (v == absent || v.size() < 2) continue;
        int hi = hex(v[0]), lo = hex(v[1]);
        if (hi < 0 || lo < 0) continue;
        s.bytes.emplace_back(std::u16string(n), std::uint8_t(hi * 16 + lo));
    }
    return s;
}

}  // namespace lumo::settings::theme
