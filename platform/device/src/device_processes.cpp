// Processes and device paths through the host.
#include "internal.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;

class DeviceProcesses final : public Processes {
public:
    explicit DeviceProcesses(wire::Client& c) : c_(c) {
        auto& w = c_.begin(Kind::ProcSelf);
        if (auto r = c_.call(w); r && r->status == Status::Ok) {
            Reader rd(r->body);
            pid_ = rd.u32();
            path_ = rd.s16();
            root_ = std::filesystem::path(rd.s16());
        }
    }

    std::u16string own_path() override { return path_; }
    std::uint32_t own_id() override { return pid_; }

    std::u16string special_folder(SpecialFolder folder) override {
        switch (folder) {
            case SpecialFolder::ProgramFiles: return u"\\Program Files";
            case SpecialFolder::Windows: return u"\\Windows";
            case SpecialFolder::StartUp: return u"\\Windows\\StartUp";
            case SpecialFolder::MyDocuments: return u"\\My Documents";
            case SpecialFolder::MyPictures: return u"\\My Documents\\My Pictures";
            case SpecialFolder::Temp: return u"\\Temp";
        }
        return {};
    }

    std::optional<std::uint32_t> shell_execute(std::u16string_view path, std::u16string_view arguments,
                                               bool shown) override {
        auto& w = c_.begin(Kind::ProcStart);
        w.s16(path).s16(arguments).u32(shown ? 1 : 0);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto pid = rd.u32();
        if (!rd.ok()) return std::nullopt;
        return pid;
    }

    std::vector<ProcessEntry> snapshot() override {
        std::vector<ProcessEntry> out;
        auto& w = c_.begin(Kind::ProcList);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return out;
        Reader rd(r->body);
        auto n = rd.u32();
        for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
            auto pid = rd.u32();
            auto path = rd.s16();
            out.push_back({pid, file_name(path)});
        }
        if (!rd.ok()) out.clear();
        return out;
    }

    bool terminate(std::uint32_t process_id) override {
        auto& w = c_.begin(Kind::ProcKill);
        w.u32(process_id);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    bool wait_process(std::uint32_t process_id, std::uint32_t timeout_ms) override {
        auto& w = c_.begin(Kind::ProcWait);
        w.u32(process_id).u32(timeout_ms);
        auto r = c_.call(w, timeout_ms == 0xFFFFFFFF ? -1 : static_cast<int>(timeout_ms) + 2000);
        if (!r || r->status != Status::Ok) return false;
        Reader rd(r->body);
        auto ended = rd.u32();
        return rd.ok() && ended != 0;
    }

    std::optional<std::filesystem::path> host_path(std::u16string_view device_path) override {
        if (root_.empty()) return std::nullopt;
        return map_device_path(root_, device_path);
    }

    LibraryHandle load_library(std::u16string_view name) override {
        auto& w = c_.begin(Kind::LibraryLoad);
        w.s16(name);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return 0;
        Reader rd(r->body);
        auto h = rd.u32();
        return rd.ok() ? h : 0;
    }

    bool library_function(LibraryHandle library, std::u16string_view function, bool call) override {
        auto& w = c_.begin(Kind::LibraryFunction);
        w.u32(library).s16(function).u32(call ? 1 : 0);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    void free_library(LibraryHandle library) override {
        auto& w = c_.begin(Kind::LibraryFree);
        w.u32(library);
        c_.call(w);
    }

private:
    wire::Client& c_;
    std::uint32_t pid_ = 0;
    std::u16string path_;
    std::filesystem::path root_;
};

}  // namespace

std::unique_ptr<Processes> make_processes(wire::Client& c) { return std::make_unique<DeviceProcesses>(c); }

}  // namespace lumo::platform::device
