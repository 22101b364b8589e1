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
