#include "lumo/platform/process.h"

namespace lumo::platform {

std::u16string program_folder(std::u16string_view exe_path) {
    auto slash = exe_path.rfind(u'\\');
    return std::u16string(slash == std::u16string_view::npos ? std::u16string_view{}
                                                             : exe_path.substr(0, slash));
}

std::u16string file_name(std::u16string_view path) {
    auto slash = path.rfind(u'\\');
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace lumo::platform

#include "lumo/platform/text.h"

namespace lumo::platform {

std::optional<std::filesystem::path> map_device_path(const std::filesystem::path& root,
                                                     std::u16string_view device_path) {
    if (device_path.empty() || device_path.front() != u'\\') return std::nullopt;
    std::filesystem::path out = root;
    bool exists = true;
    std::size_t pos = 1;
    while (pos <= device_path.size()) {
        auto end = device_path.find(u'\\', pos);
        if (end == std::u16string_view::npos) end = device_path.size();
        auto part = device_path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == u".") continue;
        if (part == u".." || part.find(u'/') != std::u16string_view::npos) return std::nullopt;
        std::filesystem::path next;
        if (exists) {
            std::error_code ec;
            for (auto it = std::filesystem::directory_iterator(out, ec);
                 !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
                auto name = it->path().filename().u16string();
                if (equal_no_case(name, part)) {
                    next = it->path();
                    break;
                }
            }
        }
        if (next.empty()) {
            exists = false;
            next = out / std::filesystem::path(std::u16string(part));
        }
        out = std::move(next);
    }
    return out;
}

}  // namespace lumo::platform
