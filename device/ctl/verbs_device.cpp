// The device as a whole and the product on it: status, shutdown, the clock, locking, the
// service's settings and the logs.
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ctl.h"
#include "lumo/log/log.h"
#include "lumo/platform/clock.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::ctl {

using platform::to_u16;
using platform::to_utf8;
using wire::Kind;
using wire::Reader;
using wire::Status;

namespace {

constexpr const char* kInstallFolder = "fs/Program Files/Lumo";
constexpr const char* kDebugOnHint =
    "with DebugOn set the programs log every event: lumo-devctl reg set HKCU "
    "'Software\\Vesk\\Lumo' "
    "DebugOn binary 01, then restart the program";

// The program names 'log' takes and the log each writes.
struct ProgramLog {
    const char* name;
    log::Variant variant;
};
constexpr ProgramLog kProgramLogs[] = {{"Vardex2", log::Variant::Service},
                                       {"lumo", log::Variant::LockScreen},
                                       {"LumoSettings", log::Variant::Settings},
                                       {"LumoC", log::Variant::Browser}};

// Prints a log from `offset` on and returns where it stopped; program logs are UTF-16 LE with
// CR LF line ends and print as UTF-8 lines. Only whole lines print unless `all`.
std::uint64_t print_from(const std::string& path, bool utf16, std::uint64_t offset, bool all) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return offset;
    in.seekg(std::streamoff(offset));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t take = bytes.size();
    if (utf16) {
        std::size_t start = 0;
        if (offset == 0 && bytes.size() >= 2 && std::uint8_t(bytes[0]) == 0xFF &&
            std::uint8_t(bytes[1]) == 0xFE)
            start = 2;
        std::u16string text;
        for (std::size_t i = start; i + 1 < bytes.size(); i += 2)
            text.push_back(char16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8)));
        std::size_t end = text.size();
        if (!all) {
            auto lf = text.rfind(u'\n');
            end = lf == std::u16string::npos ? 0 : lf + 1;
        }
        std::string out;
        for (auto c : to_utf8(text.substr(0, end)))
            if (c != '\r') out += c;
        std::fwrite(out.data(), 1, out.size(), stdout);
        take = end == 0 && start == 2 && text.empty() ? 2 : start + end * 2;
    } else {
        if (!all) {
            auto lf = bytes.rfind('\n');
            take = lf == std::string::npos ? 0 : lf + 1;
        }
        std::fwrite(bytes.data(), 1, take, stdout);
    }
    std::fflush(stdout);
    return offset + take;
}

}  // namespace

int verb_status(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::Status);
    auto r = ctl.call(w);
    Reader rd(r.body);
    std::fputs(to_utf8(rd.s16()).c_str(), stdout);
    return kDone;
}

int verb_shutdown(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::Shutdown);
    ctl.call(w);
    // Wait until the host has closed the connection: its registry is then on disk.
    while (ctl.client().next_event(5000)) {
    }
    return kDone;
}

int verb_time(Ctl& ctl, const Args& a) {
    std::uint32_t which = 1;
    std::uint64_t value = 0;
    if (a.sub == "boot-age") {
        value = parse_number(a.at(0), "MS");
    } else {
        platform::LocalTime t;
        int y, mo, d, h, mi, sec = 0;
        char tail = 0;
        int n =
            std::sscanf(a.at(0).c_str(), "%d-%d-%dT%d:%d:%d%c", &y, &mo, &d, &h, &mi, &sec, &tail);
        if (n < 5 || n > 6 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
            mi > 59 || sec < 0 || sec > 59 || y < 1601 || y > 30827)
            usage("time set wants YYYY-MM-DDTHH:MM[:SS], not '" + a.at(0) + "'");
        t.year = std::uint16_t(y);
        t.month = std::uint16_t(mo);
        t.day = std::uint16_t(d);
        t.hour = std::uint16_t(h);
        t.minute = std::uint16_t(mi);
        t.second = std::uint16_t(sec);
        which = 2;
        value = platform::local_to_file_time(t);
    }
    auto& w = ctl.begin(Kind::TimeSet);
    w.u32(which).u64(value);
    if (ctl.call(w).status != Status::Ok) fail("the device refused the time");
    return kDone;
}

int verb_lock(Ctl& ctl, const Args&) {
    // Exactly what a person's "Vardex2 -slide" does: the service's one-shot start brings the
    // lock screen up and ends.
    std::u16string service =
        u"\\Program Files\\Lumo\\" + std::u16string(protocol::exe_name(protocol::Program::Service));
    auto& w = ctl.begin(Kind::ProcStart);
    w.s16(service).s16(std::u16string(protocol::service_switch::kSlide)).u32(1);
    auto r = ctl.call(w);
    if (r.status != Status::Ok)
        fail("the phone cannot run " + to_utf8(service) + " (is Lumo installed?)");
    auto pid = reply_u32(r);
    auto& wait = ctl.begin(Kind::ProcWait);
    wait.u32(pid).u32(10000);
    auto ended = ctl.call(wait);
    if (ended.status != Status::Ok || !reply_u32(ended))
        fail(to_utf8(service) + " -slide did not finish within 10 s");
    return kDone;
}

int verb_settings(Ctl& ctl, const Args&) {
    auto name = to_utf8(std::u16string(protocol::window_name(protocol::Program::Service)));
    auto service = find_class(ctl, name);
    if (!service)
        fail("the lock service (" + name +
             ") is not running: start it with lumo-devctl start '\\Program "
             "Files\\Lumo\\Vardex2.exe'");
    auto& w = ctl.begin(Kind::MsgPost);
    w.u32(service).u32(protocol::WM_RefreshSetting).u32(0).i32(0);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the lock service did not take the message: " + why(r.status));
    return kDone;
}

int verb_log(Ctl& ctl, const Args& a) {
    std::string path;
    bool utf16 = false;
    std::string which = "the device";
    if (a.count() == 0) {
        path = (std::filesystem::path(ctl.dir()) / "device.log").string();
    } else {
        for (const auto& p : kProgramLogs)
            if (a.at(0) == p.name) {
                path = (std::filesystem::path(ctl.dir()) / kInstallFolder /
                        to_utf8(std::u16string(log::variant_info(p.variant).file_name)))
                           .string();
                which = p.name;
            }
        utf16 = true;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (!utf16) fail("no device log at " + path + " (no device has run in " + ctl.dir() + ")");
        fail("no log of " + which + " at " + path + ": " + which + " has not run on this device (" +
             kDebugOnHint + ")");
    }
    bool follow = a.has("-f") || a.has("--follow");
    auto offset = print_from(path, utf16, 0, !follow);
    if (utf16 && offset <= 2 && !follow)
        say("the log of " + which + " is empty (" + kDebugOnHint + ")");
    if (!follow) return kDone;
    // Follows the file as tail -F does: a program that starts again makes its log anew.
    ino_t inode = st.st_ino;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        struct stat now {};
        if (::stat(path.c_str(), &now) != 0) continue;
        if (now.st_ino != inode || std::uint64_t(now.st_size) < offset) {
            inode = now.st_ino;
            offset = 0;
        }
        if (std::uint64_t(now.st_size) > offset) offset = print_from(path, utf16, offset, false);
    }
}

}  // namespace lumo::ctl
