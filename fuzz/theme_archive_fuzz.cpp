// Arbitrary bytes as a theme package: the archive checks and the staging must refuse cleanly or
// stage a theme, and never write a file anywhere but into the staging folder. The bytes are also
// read as a theme.reg. Seeds in corpus/theme_archive/: a small whole theme, one missing a picture,
// one climbing out with "../", one with a damaged entry, one cut short.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "lumo/settings/theme_archive.h"

namespace fs = std::filesystem;
using namespace lumo::settings::theme;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path dir = [] {
        auto d = fs::temp_directory_path() / ("lumo-theme-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(d / "box");
        return d;
    }();
    // The archive and the staging folder sit in a box; anything written beside them is a fault.
    const auto box = dir / "box", archive = box / "in.lumo", staging = box / "staging";
    if (std::FILE* f = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    StagedTheme staged;
    auto r = stage_theme(archive, staging, staged);
    if (r) {
        for (const auto& rel : staged.files) {
            if (!fs::is_regular_file(staging / rel)) __builtin_trap();
            if (!safe_entry_path(rel.generic_string())) __builtin_trap();
        }
        read_theme_reg(staged.theme_reg);
    } else if (fs::exists(staging)) {
        __builtin_trap();  // a refused theme leaves nothing staged
    }
    for (const auto& e : fs::directory_iterator(box))
        if (e.path() != archive && e.path() != staging) __builtin_trap();
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path() != box) __builtin_trap();
    std::error_code ec;
    fs::remove_all(staging, ec);
    read_theme_reg(std::span<const std::uint8_t>(data, size));
    return 0;
}
