#include "library_service.h"

#include <fstream>
#include <vector>

#include "lumo/platform/process.h"
#include "lumo/platform/text.h"

namespace lumo::host {

using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

struct Library {
    std::u16string_view file;
    std::vector<std::u16string_view> functions;
    bool htc_only = false;
};

const std::vector<Library>& table() {
    static const std::vector<Library> libraries = {
        {u"coredll.dll", {u"SetWindowsHookExW", u"UnhookWindowsHookEx", u"CallNextHookEx"}, false},
        {u"HtcUtil.dll", {u"HTCUtilDeviceOff"}, true},
    };
    return libraries;
}

// A program holds a few libraries; more than this is a program gone wrong.
constexpr std::size_t kMaxLoadedPerClient = 64;

}  // namespace

LibraryService::LibraryService(Host& host, std::function<void()> device_off)
    : host_(host), device_off_(std::move(device_off)) {
    host_.add_handler(Kind::LibraryLoad, [this](ClientConn& c, Reader& in, Writer& out) {
        auto name = in.s16();
        if (!in.done()) return false;
        std::size_t held = 0;
        for (const auto& [h, l] : loaded_) held += l.client == c.id;
        if (held >= kMaxLoadedPerClient) {
            out.status(Status::BadRequest);
            return true;
        }
        const auto file = platform::file_name(name);
        const auto windows = std::filesystem::path(host_.options().dir) / "fs";
        for (std::size_t i = 0; i < table().size(); ++i) {
            if (!platform::equal_no_case(table()[i].file, file)) continue;
            auto path = platform::map_device_path(windows, u"\\Windows\\" + std::u16string(table()[i].file));
            std::error_code ec;
            if (!path || !std::filesystem::is_regular_file(*path, ec)) break;
            auto h = next_handle_++;
            loaded_[h] = {c.id, i};
            out.status(Status::Ok).u32(h);
            return true;
        }
        out.status(Status::NotFound);
        return true;
    });
    host_.add_handler(Kind::LibraryFunction, [this](ClientConn& c, Reader& in, Writer& out) {
        auto handle = in.u32();
        auto function = in.s16();
        auto call = in.u32();
        if (!in.done()) return false;
        auto it = loaded_.find(handle);
        if (it == loaded_.end() || it->second.client != c.id || call > 1) {
            out.status(Status::BadRequest);
            return true;
        }
        const auto& lib = table()[it->second.library];
        bool found = false;
        for (auto f : lib.functions) found = found || f == function;
        if (!found) {
            out.status(Status::NotFound);
            return true;
        }
        if (call) {
            host_.log().printf("%s called %s!%s", platform::to_utf8(c.program).c_str(),
                               platform::to_utf8(lib.file).c_str(), platform::to_utf8(function).c_str());
            // The hook functions stand for the window service's own hook requests; only the
            // switch-off does something here.
            if (function == u"HTCUtilDeviceOff" && device_off_) device_off_();
        }
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::LibraryFree, [this](ClientConn& c, Reader& in, Writer& out) {
        auto handle = in.u32();
        if (!in.done()) return false;
        auto it = loaded_.find(handle);
        if (it == loaded_.end() || it->second.client != c.id) {
            out.status(Status::NotFound);
            return true;
        }
        loaded_.erase(it);
        out.status(Status::Ok);
        return true;
    });
    host_.on_client_closed([this](ClientConn& c) {
        std::erase_if(loaded_, [&](const auto& e) { return e.second.client == c.id; });
    });
}

void LibraryService::place_files(const std::filesystem::path& windows, bool htc) {
    std::error_code ec;
    if (!std::filesystem::is_directory(windows, ec)) return;
    for (const auto& lib : table()) {
        if (lib.htc_only && !htc) continue;
        auto file = windows / std::filesystem::path(std::u16string(lib.file));
        if (std::filesystem::exists(file, ec)) continue;
        std::ofstream(file) << "simulated library\n";
        std::filesystem::permissions(
            file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    }
}

}  // namespace lumo::host
