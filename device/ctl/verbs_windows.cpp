// Windows, processes, messages, message boxes and keys.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ctl.h"
#include "lumo/platform/text.h"
#include "lumo/platform/windows.h"
#include "lumo/platform/winuser.h"

namespace lumo::ctl {

using platform::to_u16;
using platform::to_utf8;
using wire::Kind;
using wire::Reader;
using wire::Status;

namespace {

struct WinInfo {
    std::string cls, title;
    std::uint32_t pid = 0;
    bool visible = false;
};

std::optional<WinInfo> window_info(Ctl& ctl, std::uint32_t h) {
    auto& w = ctl.begin(Kind::WinInfo);
    w.u32(h);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) return std::nullopt;
    Reader rd(r.body);
    WinInfo info;
    info.cls = to_utf8(rd.s16());
    info.title = to_utf8(rd.s16());
    rd.u32();
    rd.u32();
    for (int i = 0; i < 4; ++i) rd.i32();
    rd.u32();
    info.pid = rd.u32();
    info.visible = rd.u32() & 1;
    return info;
}

std::uint32_t foreground(Ctl& ctl) {
    auto& f = ctl.begin(Kind::WinForeground);
    return reply_u32(ctl.call(f));
}

// A window given by handle (0x..., or decimal) or by class name.
std::uint32_t window_arg(Ctl& ctl, const std::string& s) {
    if (!s.empty() && std::isdigit(static_cast<unsigned char>(s[0])))
        return parse_number(s, "HWND");
    return find_class(ctl, s);
}

int message(Ctl& ctl, bool send, const Args& a) {
    auto msg = parse_number(a.at(1), "MSG");
    auto wp = parse_number(a.at(2), "WPARAM");
    auto lp = parse_number(a.at(3), "LPARAM");
    auto h = window_arg(ctl, a.at(0));
    if (!h) fail("no window " + a.at(0));
    auto& w = ctl.begin(send ? Kind::MsgSend : Kind::MsgPost);
    w.u32(h).u32(msg).u32(wp).i32(static_cast<std::int32_t>(lp));
    if (send) w.u32(0);
    auto r = ctl.call(w);
    if (r.status != Status::Ok)
        fail(std::string(send ? "send" : "post") + " failed: " + why(r.status));
    if (send) {
        Reader rd(r.body);
        std::printf("%d\n", rd.i32());
    }
    return kDone;
}

}  // namespace

int verb_windows(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::WinList);
    auto r = ctl.call(w);
    Reader rd(r.body);
    std::vector<std::uint32_t> list(rd.u32());
    for (auto& h : list) h = rd.u32();
    auto fg = foreground(ctl);
    auto procs = processes(ctl);
    for (auto h : list) {
        auto info = window_info(ctl, h);
        if (!info) continue;
        std::string exe = "?";
        for (auto& [pid, path] : procs)
            if (pid == info->pid) exe = path.substr(path.rfind('\\') + 1);
        std::printf("0x%08x\t%u\t%s\t%d\t%d\t%s\t%s\n", h, info->pid, exe.c_str(),
                    info->visible ? 1 : 0, h == fg ? 1 : 0, info->cls.c_str(), info->title.c_str());
    }
    return kDone;
}

int verb_processes(Ctl& ctl, const Args&) {
    for (auto& [pid, path] : processes(ctl)) std::printf("%u\t%s\n", pid, path.c_str());
    return kDone;
}

int verb_start(Ctl& ctl, const Args& a) {
    std::string arguments;
    for (std::size_t i = 1; i < a.count(); ++i) arguments += (i > 1 ? " " : "") + a.at(i);
    // A bare name is one of the phone's own programs.
    std::string path = a.at(0);
    if (path.find('\\') == std::string::npos) path = "\\Windows\\" + path;
    auto& w = ctl.begin(Kind::ProcStart);
    w.s16(to_u16(path)).s16(to_u16(arguments)).u32(1);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the phone cannot run " + a.at(0));
    std::printf("%u\n", reply_u32(r));
    return kDone;
}

int verb_kill(Ctl& ctl, const Args& a) {
    auto& w = ctl.begin(Kind::ProcKill);
    w.u32(parse_number(a.at(0), "PID"));
    if (ctl.call(w).status != Status::Ok) fail("no process " + a.at(0));
    return kDone;
}

int verb_post(Ctl& ctl, const Args& a) {
    return message(ctl, false, a);
}
int verb_send(Ctl& ctl, const Args& a) {
    return message(ctl, true, a);
}

int verb_wait(Ctl& ctl, const Args& a) {
    const std::string& cls = a.at(0);
    std::string cond = "exists";
    for (const char* c : {"visible", "hidden", "foreground", "gone"})
        if (a.has(std::string("--") + c)) cond = c;
    double timeout = a.has("--timeout") ? std::strtod(a.opts.at("--timeout").c_str(), nullptr) : 10;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(long(timeout * 1000));
    for (;;) {
        auto h = find_class(ctl, cls);
        bool holds = false;
        if (cond == "gone") {
            holds = h == 0;
        } else if (h) {
            auto info = window_info(ctl, h);
            holds = info && (cond == "exists" || (cond == "visible" && info->visible) ||
                             (cond == "hidden" && !info->visible) ||
                             (cond == "foreground" && foreground(ctl) == h));
        }
        if (holds) return kDone;
        if (std::chrono::steady_clock::now() >= deadline) {
            char after[32];
            std::snprintf(after, sizeof after, "%g s", timeout);
            if (cond == "exists") fail("no window of class " + cls + " after " + after);
            if (cond == "gone")
                fail("the window of class " + cls + " is still there after " + after);
            if (!h)
                fail("no window of class " + cls + " after " + after + " (waited for it to be " +
                     cond + ")");
            fail("the window of class " + cls + " is not " + cond + " after " + after);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int verb_dialogs(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::DialogList);
    auto r = ctl.call(w);
    Reader rd(r.body);
    auto n = rd.u32();
    for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
        auto h = rd.u32();
        auto pid = rd.u32();
        rd.u32();
        auto caption = to_utf8(rd.s16());
        auto text = to_utf8(rd.s16());
        for (auto& ch : text)
            if (ch == '\n' || ch == '\r' || ch == '\t') ch = ' ';
        std::printf("0x%08x\t%u\t%s\t%s\n", h, pid, caption.c_str(), text.c_str());
    }
    return kDone;
}

int verb_dialog(Ctl& ctl, const Args& a) {
    static const std::pair<const char*, int> kNames[] = {
        {"ok", 1}, {"cancel", 2}, {"abort", 3}, {"retry", 4}, {"ignore", 5}, {"yes", 6}, {"no", 7}};
    int button = -1;
    for (auto& [n, v] : kNames)
        if (platform::equal_no_case(to_u16(a.at(0)), to_u16(n))) button = v;
    if (button < 0) {
        const auto& b = a.at(0);
        char* end = nullptr;
        long v = std::strtol(b.c_str(), &end, 0);
        if (b.empty() || *end || v < 1 || v > 0xFFFF)
            usage("BUTTON must be ok, cancel, yes, no, abort, retry, ignore or a number, not '" +
                  b + "'");
        button = int(v);
    }
    std::uint32_t h = a.count() == 2 ? parse_number(a.at(1), "HWND") : 0;
    auto& w = ctl.begin(Kind::DialogPress);
    w.u32(h).i32(button);
    auto r = ctl.call(w);
    if (r.status == Status::NotFound)
        fail(h ? "no message box " + a.at(1) : "no message box is open");
    if (r.status != Status::Ok) fail("that message box has no button " + a.at(0));
    return kDone;
}

int verb_key(Ctl& ctl, const Args& a) {
    // Both orders are accepted: "key press 0x26" and "key 0x26 press".
    std::string what = !a.sub.empty() ? a.sub : a.count() == 2 ? a.at(1) : "press";
    auto vk = parse_number(a.at(0), "VK");
    if (vk == 0 || vk > 0xFE) usage("VK must be 1 to 254, not '" + a.at(0) + "'");
    std::uint32_t flags = a.has("--silent") ? platform::KEYEVENTF_SILENT : 0;
    if (a.has("--ime")) flags |= platform::KEYEVENTF_INPUTMETHOD;
    auto send_key = [&](bool up) {
        auto& w = ctl.begin(Kind::KeyEvent);
        w.u32(vk).u32(flags | (up ? platform::KEYEVENTF_KEYUP : 0));
        return ctl.call(w).status == Status::Ok;
    };
    bool ok = true;
    if (what != "up") ok &= send_key(false);
    if (what != "down") ok &= send_key(true);
    if (!ok) fail("the device did not take the key");
    return kDone;
}

int verb_fullscreen(Ctl& ctl, const Args& a) {
    auto fg = foreground(ctl);
    if (!fg) fail("no window is in front");
    auto& w = ctl.begin(Kind::ShellFullScreen);
    w.u32(fg).u32(a.sub == "on" ? platform::SHFS_HIDETASKBAR | platform::SHFS_HIDESIPBUTTON |
                                      platform::SHFS_HIDESTARTICON
                                : platform::SHFS_SHOWTASKBAR | platform::SHFS_SHOWSTARTICON);
    if (ctl.call(w).status != Status::Ok) fail("the shell did not take the request");
    auto& area = ctl.begin(Kind::WorkArea);
    auto r = ctl.call(area);
    Reader rd(r.body);
    int left = rd.i32(), top = rd.i32(), right = rd.i32(), bottom = rd.i32();
    std::printf("work area %d %d %d %d\n", left, top, right, bottom);
    return kDone;
}

}  // namespace lumo::ctl
