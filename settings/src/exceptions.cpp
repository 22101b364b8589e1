// The exception list (programs during whose run the phone is not locked) and the restart of the
// service that makes it and lumo read new settings.
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/settings/settings.h"

namespace lumo::settings {

using namespace platform;
using catalogue::Id;
namespace proto = protocol;

namespace {

constexpr std::u16string_view kExceptionsKey = u"Software\\Vesk\\Lumo\\Exceptions";
constexpr std::size_t kPathChars = 261;  // 260 characters and the zero

std::string u8(std::u16string_view s) { return to_utf8(s); }

}  // namespace

void build_exception_list(Context& c) {
    auto& reg = c.p.registry();
    auto key = reg.open_key(Root::CurrentUser, kExceptionsKey);
    if (!key) return;
    c.exceptions.clear();
    for (std::size_t i = 0; i < catalogue::kExceptionCount; ++i) {
        std::u16string v;
        if (catalogue::read_text(reg, *key, catalogue::exception_value_name(i), kPathChars, v) && !v.empty())
            c.exceptions.push_back(v);
    }
}

void add_exception(Context& c) {
    auto& reg = c.p.registry();
    std::u16string program;
    if (auto root = catalogue::open_root(reg))
        catalogue::read_text(reg, root->key, catalogue::setting(Id::TempExceptionEXE).name, kPathChars, program);
    if (program.empty()) return;
    c.log.printf("AddException %s", u8(program).c_str());
    auto key = reg.create_key(Root::CurrentUser, kExceptionsKey);
    if (!key) return;
    for (std::size_t i = 0; i < catalogue::kExceptionCount; ++i) {
        auto name = catalogue::exception_value_name(i);
        std::u16string v;
        if (!catalogue::read_text(reg, *key, name, kPathChars, v)) continue;
        c.log.printf("AddException %s %s", u8(name).c_str(), u8(v).c_str());
        if (v.empty()) {
            catalogue::write_text(reg, *key, name, program);
            break;
        }
    }
    build_exception_list(c);
}

void delete_exception(Context& c) {
    std::u16string selected;
    if (c.selected_exception >= 0 && std::size_t(c.selected_exception) < c.exceptions.size())
        selected = c.exceptions[std::size_t(c.selected_exception)];
    c.selected_exception = -1;
    if (selected.empty()) return;
    c.log.printf("DeleteException %s", u8(selected).c_str());
    auto& reg = c.p.registry();
    if (auto key = reg.create_key(Root::CurrentUser, kExceptionsKey)) {
        for (std::size_t i = 0; i < catalogue::kExceptionCount; ++i) {
            auto name = catalogue::exception_value_name(i);
            std::u16string v;
            bool read = catalogue::read_text(reg, *key, name, kPathChars, v);
            c.log.printf("DeleteException %s %s", u8(name).c_str(), u8(v).c_str());
            if (read && v == selected) {
                catalogue::write_text(reg, *key, name, u"");
                break;
            }
        }
    }
    build_exception_list(c);
}

namespace {

bool service_running(Context& c, bool log) {
    auto exe = proto::exe_name(proto::Program::Service);
    if (log) c.log.write("Vardex2 is Running ?");
    for (const auto& e : c.p.processes().snapshot()) {
        if (equal_no_case(e.exe_file, exe)) {
            if (log) c.log.printf("%s is running", u8(e.exe_file).c_str());
            return true;
        }
    }
    if (log) c.log.write("Vardex2 is not running");
    return false;
}

}  // namespace

void restart_service(Context& c) {
    auto& win = c.p.windows();
    c.log.write("Restart Vardex2");
    auto lock = proto::window_name(proto::Program::LockScreen);
    if (Hwnd l = win.find_window(lock, lock)) win.post(l, WM_CLOSE, 0, 0);
    if (service_running(c, true)) {
        auto name = proto::window_name(proto::Program::Service);
        if (Hwnd s = win.find_window(name, name)) win.post(s, WM_CLOSE, 0, 0);
        bool still = true;
        for (int look = 0; look < 20 && still; ++look) {
            c.sleep(500);
            still = service_running(c, false);
        }
        if (still) {
            win.message_box(c.main_window, u"Cannot restart Vardex2, please soft-reset your device.",
                            proto::kProductName, MB_OK | MB_ICONASTERISK | MB_SETFOREGROUND);
            return;
        }
    }
    std::u16string exe = c.program_folder + u"\\" + std::u16string(proto::exe_name(proto::Program::Service));
    c.p.processes().shell_execute(exe, u"", true);
}

}  // namespace lumo::settings
