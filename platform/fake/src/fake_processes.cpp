#include "fake_processes.h"

#include <algorithm>
#include <array>
#include <unistd.h>

#include "lumo/platform/text.h"

namespace lumo::platform::fake {
namespace {

struct FolderPath {
    SpecialFolder folder;
    const char16_t* path;
};
constexpr std::array kSpecialFolders{
    FolderPath{SpecialFolder::ProgramFiles, u"\\Program Files"},
    FolderPath{SpecialFolder::Windows, u"\\Windows"},
    FolderPath{SpecialFolder::StartUp, u"\\Windows\\StartUp"},
    FolderPath{SpecialFolder::MyDocuments, u"\\My Documents"},
    FolderPath{SpecialFolder::MyPictures, u"\\My Documents\\My Pictures"},
    FolderPath{SpecialFolder::Temp, u"\\Temp"},
};

}  // namespace

FakePlatform::FakeProcesses::FakeProcesses(FakePlatform& p) : p_(p) {
    libraries_[fold_case(u"coredll.dll")] = {
        u"coredll.dll", {u"SetWindowsHookExW", u"UnhookWindowsHookEx", u"CallNextHookEx"}, {}};
}

LibraryHandle FakePlatform::FakeProcesses::load_library(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    auto key = fold_case(file_name(name));
    if (!libraries_.contains(key)) return 0;
    auto h = next_library_++;
    loaded_[h] = key;
    return h;
}

bool FakePlatform::FakeProcesses::library_function(LibraryHandle library, std::u16string_view function,
                                                   bool call) {
    std::function<void(std::u16string_view)> on_call;
    {
        std::lock_guard lock(mutex_);
        auto l = loaded_.find(library);
        if (l == loaded_.end()) return false;
        auto lib = libraries_.find(l->second);
        if (lib == libraries_.end()) return false;
        auto& fns = lib->second.functions;
        if (std::find(fns.begin(), fns.end(), function) == fns.end()) return false;
        if (!call) return true;
        library_calls_.push_back(lib->second.name + u"!" + std::u16string(function));
        on_call = lib->second.on_call;
    }
    if (on_call) on_call(function);
    return true;
}

void FakePlatform::FakeProcesses::free_library(LibraryHandle library) {
    std::lock_guard lock(mutex_);
    loaded_.erase(library);
}

void FakePlatform::FakeProcesses::set_library(std::u16string name, std::optional<std::vector<std::u16string>> functions,
                                              std::function<void(std::u16string_view)> on_call) {
    std::lock_guard lock(mutex_);
    auto key = fold_case(name);
    if (!functions) libraries_.erase(key);
    else libraries_[key] = {std::move(name), std::move(*functions), std::move(on_call)};
}

std::vector<std::u16string> FakePlatform::FakeProcesses::library_calls() const {
    std::lock_guard lock(mutex_);
    return library_calls_;
}

std::size_t FakePlatform::FakeProcesses::libraries_loaded() const {
    std::lock_guard lock(mutex_);
    return loaded_.size();
}

FakePlatform::FakeProcesses::~FakeProcesses() {
    if (own_root_) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
}

std::u16string FakePlatform::FakeProcesses::own_path() {
    std::lock_guard lock(mutex_);
    return own_path_;
}

std::u16string FakePlatform::FakeProcesses::special_folder(SpecialFolder folder) {
    for (auto& f : kSpecialFolders)
        if (f.folder == folder) return f.path;
    return {};
}

std::optional<std::uint32_t> FakePlatform::FakeProcesses::shell_execute(
    std::u16string_view path, std::u16string_view arguments, bool shown) {
    ProgramStart start;
    std::uint32_t pid;
    {
        std::lock_guard lock(mutex_);
        Launch launch{std::u16string(path), std::u16string(arguments), shown, std::nullopt};
        auto program = installed_.find(fold_case(path));
        if (program == installed_.end()) {
            launches_.push_back(std::move(launch));
            return std::nullopt;
        }
        pid = next_id_;
        next_id_ += 4;
        running_[pid] = std::u16string(path);
        launch.process_id = pid;
        launches_.push_back(std::move(launch));
        start = program->second;
    }
    if (start) {
        auto scope = p_.as_process(pid);
        start(pid, arguments);
    }
    return pid;
}

std::vector<ProcessEntry> FakePlatform::FakeProcesses::snapshot() {
    std::lock_guard lock(mutex_);
    std::vector<ProcessEntry> out{{kOwnId, file_name(own_path_)}};
    for (auto& [pid, path] : running_) out.push_back({pid, file_name(path)});
    return out;
}

bool FakePlatform::FakeProcesses::terminate(std::uint32_t process_id) {
    {
        // The test's own program cannot end under it.
        std::lock_guard lock(mutex_);
        if (running_.erase(process_id) == 0) return false;
    }
    p_.end_process(process_id);
    return true;
}

bool FakePlatform::FakeProcesses::wait_process(std::uint32_t process_id, std::uint32_t) {
    // Fake processes end only by terminate, never on their own: no point in waiting.
    return !running(process_id);
}

std::optional<std::filesystem::path> FakePlatform::FakeProcesses::host_path(
    std::u16string_view device_path) {
    std::filesystem::path root;
    {
        std::lock_guard lock(mutex_);
        if (root_.empty()) {
            static std::atomic<unsigned> counter = 0;
            root_ = std::filesystem::temp_directory_path() /
                    ("lumo-fake-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
            std::error_code ec;
            std::filesystem::create_directories(root_, ec);
            own_root_ = true;
        }
        root = root_;
    }
    return map_device_path(root, device_path);
}

void FakePlatform::FakeProcesses::set_own_path(std::u16string path) {
    std::lock_guard lock(mutex_);
    own_path_ = std::move(path);
}

void FakePlatform::FakeProcesses::install(std::u16string path, ProgramStart on_start) {
    std::lock_guard lock(mutex_);
    installed_[fold_case(path)] = std::move(on_start);
}

std::uint32_t FakePlatform::FakeProcesses::add(std::u16string path) {
    std::lock_guard lock(mutex_);
    auto pid = next_id_;
    next_id_ += 4;
    running_[pid] = std::move(path);
    return pid;
}

bool FakePlatform::FakeProcesses::running(std::uint32_t pid) const {
    std::lock_guard lock(mutex_);
    return pid == kOwnId || running_.contains(pid);
}

std::vector<Launch> FakePlatform::FakeProcesses::launches() const {
    std::lock_guard lock(mutex_);
    return launches_;
}

void FakePlatform::FakeProcesses::set_root(std::filesystem::path root) {
    std::lock_guard lock(mutex_);
    if (own_root_) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
        own_root_ = false;
    }
    root_ = std::move(root);
}

}  // namespace lumo::platform::fake
