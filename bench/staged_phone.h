#pragma once
// The fake phone the programs' benchmarks run on: a temporary root whose program folder holds the
// build's staged pictures and language file, removed again with it.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "lumo/gfx/screen.h"
#include "lumo/platform/fake/fake_platform.h"

namespace lumo::bench {

struct StagedPhone {
    StagedPhone(const std::string& name, std::u16string_view own_path) {
        namespace fs = std::filesystem;
        root = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "Program Files" / "Lumo");
        auto stage = fs::path(LUMO_STAGE_DIR) / "Program Files" / "Lumo";
        fs::create_directory_symlink(stage / "gfx", root / "Program Files" / "Lumo" / "gfx");
        fs::copy_file(stage / "lang.ini", root / "Program Files" / "Lumo" / "lang.ini");
        fake.set_host_root(root);
        fake.set_own_path(std::u16string(own_path));
    }
    ~StagedPhone() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    StagedPhone(const StagedPhone&) = delete;
    StagedPhone& operator=(const StagedPhone&) = delete;

    platform::fake::FakePlatform fake;
    std::filesystem::path root;
};

// A frame clock that never waits: fades and curtains run through at once.
struct NoWaitClock final : gfx::FrameClock {
    std::uint32_t now_ms() override { return now; }
    void sleep_ms(std::uint32_t ms) override { now += ms; }
    std::uint32_t now = 0;
};

}  // namespace lumo::bench
