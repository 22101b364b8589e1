// Theme packages: saving the default theme (its gfx files, the default clock folder and
// theme.reg) into a deflated archive, and loading it back (every check, extraction into a
// staging folder, theme.reg read), each beside Info-ZIP's zip and unzip of the same files taken
// in the same run. The archive's size is reported with both.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lumo/settings/theme_archive.h"

namespace {

namespace fs = std::filesystem;
using namespace lumo::settings;

struct Folder {
    Folder() {
        root = fs::temp_directory_path() / ("lumo-theme-bench-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root);
        auto stage = fs::path(LUMO_STAGE_DIR) / "Program Files" / "Lumo" / "gfx";
        // What a save takes: the files directly in gfx and those of the default clock folder.
        for (auto& e : fs::directory_iterator(stage))
            if (e.is_regular_file()) files.push_back("gfx/" + e.path().filename().string());
        for (auto& e : fs::directory_iterator(stage / "clock"))
            if (e.is_regular_file()) files.push_back("gfx/clock/" + e.path().filename().string());
        fs::create_directories(root / "gfx" / "clock");
        for (auto& f : files) fs::copy_file(stage.parent_path() / f, root / f);
        std::ofstream(root / "theme.reg", std::ios::binary) << "\xFF\xFE";
        files.push_back("theme.reg");
        std::ofstream list(root / "files.txt");
        for (auto& f : files) list << f << "\n";
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    fs::path root;
    std::vector<std::string> files;
};

Folder& folder() {
    static Folder f;
    return f;
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

void BM_SaveDefaultTheme(benchmark::State& state) {
    auto& f = folder();
    auto archive = f.root / "theme.lumo";
    for (auto _ : state) {
        theme::ArchiveWriter zip;
        bool ok = zip.create(archive);
        for (auto& name : f.files) ok = ok && zip.add_file(f.root / name, name);
        if (!zip.close() || !ok) return state.SkipWithError("the save failed");
    }
    state.counters["archive_KB"] = double(fs::file_size(archive)) / 1024.0;
    state.counters["files"] = double(f.files.size());
}
BENCHMARK(BM_SaveDefaultTheme)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_ZipCommand(benchmark::State& state) {
    auto& f = folder();
    auto out = f.root / "info.zip";
    std::string cmd = "cd '" + f.root.string() + "' && rm -f info.zip && zip -q info.zip -@ < files.txt";
    for (auto _ : state)
        if (!shell(cmd)) return state.SkipWithError("zip failed");
    state.counters["archive_KB"] = double(fs::file_size(out)) / 1024.0;
}
BENCHMARK(BM_ZipCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_LoadDefaultTheme(benchmark::State& state) {
    auto& f = folder();
    auto archive = f.root / "load.lumo";
    {
        theme::ArchiveWriter zip;
        zip.create(archive);
        for (auto& name : f.files) zip.add_file(f.root / name, name);
        zip.close();
    }
    auto staging = f.root / "staging";
    for (auto _ : state) {
        theme::StagedTheme staged;
        auto r = theme::stage_theme(archive, staging, staged);
        if (!r) return state.SkipWithError(theme::describe(r).c_str());
        benchmark::DoNotOptimize(theme::read_theme_reg(staged.theme_reg));
    }
    state.counters["archive_KB"] = double(fs::file_size(archive)) / 1024.0;
}
BENCHMARK(BM_LoadDefaultTheme)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

void BM_UnzipCommand(benchmark::State& state) {
    auto& f = folder();
    if (!fs::exists(f.root / "load.lumo")) return state.SkipWithError("run after BM_LoadDefaultTheme");
    std::string cmd = "cd '" + f.root.string() + "' && rm -rf out && unzip -q load.lumo -d out";
    for (auto _ : state)
        if (!shell(cmd)) return state.SkipWithError("unzip failed");
}
BENCHMARK(BM_UnzipCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
