// The language page: the languages of the language pack by their display names, and the change
// that installs the chosen one's file as lang.ini for every program's next start.
#include <minizip/unzip.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "lumo/lang/lang.h"
#include "lumo/platform/files.h"
#include "lumo/platform/text.h"
#include "lumo/settings/settings.h"

namespace lumo::settings {

using namespace platform;
namespace fs = std::filesystem;

namespace {

struct UnzCloser {
    void operator()(void* f) const { unzClose(f); }
};

bool same_no_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// The index of the entry named `name` without regard to case, leaving it current; -1 when the
// archive has none.
int locate(void* uf, const std::string& name) {
    int index = 0;
    for (int r = unzGoToFirstFile(uf); r == UNZ_OK; r = unzGoToNextFile(uf), ++index) {
        char entry[512] = {};
        if (unzGetCurrentFileInfo64(uf, nullptr, entry, sizeof entry - 1, nullptr, 0, nullptr, 0) != UNZ_OK) return -1;
        if (same_no_case(entry, name)) return index;
    }
    return -1;
}

// The current entry into `target` through a temporary file renamed over it, so a damaged entry
// (bad data, wrong CRC, more than a language file can hold) leaves the old file as it was.
bool extract_current(void* uf, const fs::path& target) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    if (info.uncompressed_size > kMaxLangBytes || (info.flag & 1)) return false;
    if (unzOpenCurrentFile(uf) != UNZ_OK) return false;
    std::vector<char> bytes;
    char buf[16384];
    bool ok = true;
    for (;;) {
        int n = unzReadCurrentFile(uf, buf, sizeof buf);
        if (n < 0) ok = false;
        if (n <= 0) break;
        bytes.insert(bytes.end(), buf, buf + n);
        if (bytes.size() > kMaxLangBytes) {
            ok = false;
            break;
        }
    }
    ok = unzCloseCurrentFile(uf) == UNZ_OK && ok && bytes.size() == info.uncompressed_size;
    if (!ok) return false;
    auto tmp = target;
    tmp += ".new";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) fs::rename(tmp, target, ec);
    if (!ok || ec) {
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

}  // namespace

namespace {

// The row of the language whose pack file lang.ini is now, found by the size and CRC the pack's
// directory holds (nothing is inflated); -1 when it is none of them.
int installed_language(const fs::path& folder) {
    auto bytes = read_file(folder / "lang.ini", kMaxLangBytes);
    if (!bytes) return -1;
    std::unique_ptr<void, UnzCloser> uf(unzOpen64((folder / std::u16string(kLanguagePack)).c_str()));
    if (!uf) return -1;
    auto crc = crc32(crc32(0, nullptr, 0), bytes->data(), uInt(bytes->size()));
    auto langs = lang::languages();
    int found = -1;
    for (int r = unzGoToFirstFile(uf.get()); r == UNZ_OK; r = unzGoToNextFile(uf.get())) {
        unz_file_info64 info{};
        char entry[512] = {};
        if (unzGetCurrentFileInfo64(uf.get(), &info, entry, sizeof entry - 1, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        if (info.crc != crc || info.uncompressed_size != bytes->size()) continue;
        for (std::size_t i = 0; i < langs.size(); ++i) {
            if (!same_no_case(entry, "lang." + to_utf8(langs[i].list_name) + ".ini")) continue;
            // A pack file not yet translated is the English one word for word: English it is.
            if (langs[i].list_name == u"English") return int(i);
            if (found < 0) found = int(i);
        }
    }
    return found;
}

}  // namespace

void build_language_page(Context& c) {
    auto host = c.p.processes().host_path(c.program_folder);
    auto file = host ? lang::LangFile::open(*host) : lang::LangFile();
    auto texts = lang::load(file, lang::settings_language_keys());
    auto count = lang::languages().size();
    c.language_rows.clear();
    for (std::size_t i = 0; i < count; ++i) c.language_rows.push_back(texts.at(i));
    c.change_language_text = texts.at(count);
    // The page opens on the language installed now.
    c.selected_language = host ? installed_language(*host) : -1;
}

void change_language(Context& c) {
    auto langs = lang::languages();
    if (c.selected_language < 0 || std::size_t(c.selected_language) >= langs.size()) return;
    auto list_name = to_utf8(langs[std::size_t(c.selected_language)].list_name);
    auto folder = c.p.processes().host_path(c.program_folder);
    std::unique_ptr<void, UnzCloser> uf;
    if (folder) uf.reset(unzOpen64((*folder / std::u16string(kLanguagePack)).c_str()));
    std::string entry = "lang." + list_name + ".ini";
    c.log.printf("ChangeLanguage %s %d", entry.c_str(), uf ? 1 : 0);
    int index = uf ? locate(uf.get(), entry) : -1;
    c.log.printf("ChangeLanguage %s %d", entry.c_str(), index);
    // A pack without the language's file (or no pack at all) keeps the old lang.ini.
    if (index >= 0 && !extract_current(uf.get(), *folder / "lang.ini"))
        c.log.printf("ChangeLanguage %s damaged", entry.c_str());
    uf.reset();
    c.ended_by_save = true;
    save_and_exit(c);
}

}  // namespace lumo::settings
