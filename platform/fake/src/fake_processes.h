#pragma once
// The fake's processes: the test program itself, programs the test installed and started through
// shell_execute, and outside programs it added; ending one removes what it owned.
#include <functional>
#include <map>
#include <mutex>

#include "lumo/platform/fake/fake_platform.h"

namespace lumo::platform::fake {

class FakePlatform::FakeProcesses final : public Processes {
public:
    static constexpr std::uint32_t kOwnId = 0x1000;

    explicit FakeProcesses(FakePlatform& p);
    ~FakeProcesses() override;

    std::u16string own_path() override;
    std::uint32_t own_id() override { return kOwnId; }
    std::u16string special_folder(SpecialFolder folder) override;
    std::optional<std::uint32_t> shell_execute(std::u16string_view path,
                                               std::u16string_view arguments, bool shown) override;
    std::vector<ProcessEntry> snapshot() override;
    bool terminate(std::uint32_t process_id) override;
    bool wait_process(std::uint32_t process_id, std::uint32_t timeout_ms) override;
    std::optional<std::filesystem::path> host_path(std::u16string_view device_path) override;
    LibraryHandle load_library(std::u16string_view name) override;
    bool library_function(LibraryHandle library, std::u16string_view function, bool call) override;
    void free_library(LibraryHandle library) override;

    void set_library(std::u16string name, std::optional<std::vector<std::u16string>> functions,
                     std::function<void(std::u16string_view)> on_call);
    std::vector<std::u16string> library_calls() const;
    std::size_t libraries_loaded() const;

    void set_own_path(std::u16string path);
    void install(std::u16string path, ProgramStart on_start);
    std::uint32_t add(std::u16string path);
    bool running(std::uint32_t pid) const;
    std::vector<Launch> launches() const;
    void set_root(std::filesystem::path root);

private:
    FakePlatform& p_;
    mutable std::mutex mutex_;
    std::u16string own_path_ = u"\\Program Files\\Lumo\\test.exe";
    std::map<std::uint32_t, std::u16string> running_;  // started and added processes by id
    std::uint32_t next_id_ = kOwnId + 4;
    std::map<std::u16string, ProgramStart> installed_;  // by case-folded path
    std::vector<Launch> launches_;
    std::filesystem::path root_;
    bool own_root_ = false;  // made by the fake, removed with it
    struct Library {
        std::u16string name;  // as the test gave it
        std::vector<std::u16string> functions;
        std::function<void(std::u16string_view)> on_call;
    };
    std::map<std::u16string, Library> libraries_;      // by case-folded name
    std::map<LibraryHandle, std::u16string> loaded_;  // handle -> case-folded name
    LibraryHandle next_library_ = 0x4000;
    std::vector<std::u16string> library_calls_;
};

}  // namespace lumo::platform::fake
