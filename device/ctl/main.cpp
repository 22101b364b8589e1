// lumo-devctl: the person's and the tests' way into a running simulated phone.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <algorithm>
#include <unistd.h>

#include "lumo/platform/clock.h"
#include "lumo/platform/registry.h"
#include "lumo/platform/sound.h"
#include "lumo/platform/wireless.h"
#include "lumo/platform/winuser.h"
#include "lumo/platform/text.h"
#include "lumo/wire/client.h"

namespace {

using lumo::platform::equal_no_case;
using lumo::platform::to_u16;
using lumo::platform::to_utf8;
using lumo::wire::Client;
using lumo::wire::Kind;
using lumo::wire::Reader;
using lumo::wire::Status;

const char* kUsage = R"(Usage: lumo-devctl [--device DIR] VERB [ARGS...]

Drives the simulated phone served from DIR (default: $XDG_DATA_HOME/lumo/phone).

Verbs:
  status                              what the device is and who is connected
  shutdown                            end the device cleanly
  reg get ROOT KEY NAME               print a value: 'string TEXT', 'binary HEX' or
                                      'dword DECIMAL'; exit status 1 when it is missing
  reg get ROOT KEY                    list the key's values and sub-keys
  reg set ROOT KEY NAME TYPE VALUE    TYPE is string, binary (hex digits) or dword (decimal,
                                      or 0x-prefixed hex)
  reg delete ROOT KEY [NAME]          delete a value, or the key with all it holds
  reg export ROOT KEY                 print the key tree as a .reg file

  windows                             top-level windows in z-order, one per line: handle,
                                      process id, executable, visible, foreground, class,
                                      title (tab-separated)
  processes                           running processes: id and executable path
  start DEVICE-PATH [ARGS...]         start a program, e.g. '\Program Files\Lumo\lumo.exe'
  kill PID                            end a process at once
  post CLASS|HWND MSG WPARAM LPARAM   post a message (numbers in decimal or 0x hex)
  send CLASS|HWND MSG WPARAM LPARAM   send a message and print the result
  wait window CLASS [--visible|--hidden|--foreground|--gone] [--timeout S]
                                      wait (default 10 s) until a window of the class
                                      exists, or is as asked; exit status 1 on timeout
  dialogs                             open message boxes: handle, process, caption, text
  dialog press BUTTON [HWND]          answer the newest (or the given) message box: ok,
                                      cancel, yes, no, abort, retry, ignore or a number
  key [press|down|up] VK [--silent]   press and/or release a virtual key (default press)
  time boot-age MS                    say the device booted MS milliseconds ago
  time set YYYY-MM-DDTHH:MM[:SS]      set the device's local clock
  screenshot [FILE.png]               save what the display shows (default: a new file
                                      in DIR/screenshots) and print where it went
  touch down|move|up X Y              the stylus at display pixel X, Y
  tap X Y                             stylus down and up at X, Y
  drag X1 Y1 X2 Y2 [MS] [--ms MS]     stylus down at X1, Y1, moved in steps to X2, Y2 over
                                      MS milliseconds (default 300), then up
  display lose-surface                mark the shared DirectDraw surface lost
  rotate 0|90|180|270                 turn the display; every window hears of it
  power button                        press the power button (display off, or wake up)
  power on|backlight-off|idle|suspend put the phone in that power state
  power ac on|off                     connect or disconnect the charger
  power capacity PERCENT              set the battery level (0-100)
  power status                        print the power state, 'ac' 0|1, 'battery' PERCENT,
                                      'display' off|dim|on, 'video' on|off (a program's
                                      display switch), 'unattended' requests held,
                                      one per line
  sound status                        print 'playing' 0|1, 'current' PATH, 'last' PATH (the
                                      last sound that played), 'plays' COUNT, 'volume' HEX
                                      and 'output' audio|silent, one per line
  sound play DEVICE-PATH [--nostop] [--nodefault]
                                      play a .wav file of the device; exit status 1 when
                                      it does not play
  sound stop                          stop the sound that plays
  radio                               list the radios: 'NAME on|off', one per line
  radio bluetooth|wifi on|off         switch a radio (the published hardware state follows)

ROOT is HKCU or HKLM. KEY uses backslashes, e.g. 'Software\Vesk\Lumo'.
Exit status: 0 done, 1 not found or refused, 2 usage error, 3 no device.
)";

[[noreturn]] void usage(const std::string& msg) {
    std::fprintf(stderr, "lumo-devctl: %s\nTry 'lumo-devctl --help'.\n", msg.c_str());
    std::exit(2);
}

std::string default_dir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/lumo/phone";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/lumo/phone";
}

std::uint32_t parse_root(const std::string& s) {
    if (s == "HKCU" || s == "HKEY_CURRENT_USER") return 1;
    if (s == "HKLM" || s == "HKEY_LOCAL_MACHINE") return 2;
    usage("ROOT must be HKCU or HKLM, not '" + s + "'");
}

const char* root_name(std::uint32_t r) { return r == 1 ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE"; }

class Ctl {
public:
    explicit Ctl(std::unique_ptr<Client> c) : c_(std::move(c)) {}

    std::optional<Client::Reply> call(lumo::wire::Writer& w) {
        auto r = c_->call(w, 30000);
        if (!r) {
            std::fprintf(stderr, "lumo-devctl: the device did not answer\n");
            std::exit(3);
        }
        return r;
    }
    Client& client() { return *c_; }

    struct Value {
        std::uint32_t type;
        std::vector<std::byte> data;
    };
    std::optional<Value> read(std::uint32_t root, const std::u16string& key, const std::u16string& name) {
        auto& w = c_->begin(Kind::RegReadValue);
        w.u32(root).s16(key).s16(name);
        auto r = call(w);
        if (r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        Value v{rd.u32(), rd.bin()};
        return rd.ok() ? std::optional(v) : std::nullopt;
    }
    std::vector<std::u16string> subkeys(std::uint32_t root, const std::u16string& key) {
        std::vector<std::u16string> out;
        for (std::uint32_t i = 0;; ++i) {
            auto& w = c_->begin(Kind::RegEnumSubkey);
            w.u32(root).s16(key).u32(i);
            auto r = call(w);
            if (r->status != Status::Ok) break;
            Reader rd(r->body);
            out.push_back(rd.s16());
        }
        return out;
    }
    std::vector<std::u16string> values(std::uint32_t root, const std::u16string& key) {
        std::vector<std::u16string> out;
        for (std::uint32_t i = 0;; ++i) {
            auto& w = c_->begin(Kind::RegEnumValue);
            w.u32(root).s16(key).u32(i);
            auto r = call(w);
            if (r->status != Status::Ok) break;
            Reader rd(r->body);
            out.push_back(rd.s16());
        }
        return out;
    }
    bool key_exists(std::uint32_t root, const std::u16string& key) {
        auto& w = c_->begin(Kind::RegOpenKey);
        w.u32(root).s16(key);
        return call(w)->status == Status::Ok;
    }

private:
    std::unique_ptr<Client> c_;
};

std::string hex(const std::vector<std::byte>& d, const char* sep) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < d.size(); ++i) {
        if (i && *sep) s += sep;
        std::snprintf(b, sizeof b, "%02x", std::to_integer<unsigned>(d[i]));
        s += b;
    }
    return s;
}

std::uint32_t dword_of(const std::vector<std::byte>& d) {
    std::uint32_t v = 0;
    if (d.size() == 4) std::memcpy(&v, d.data(), 4);
    return v;
}

std::string show(const Ctl::Value& v) {
    switch (v.type) {
        case 1: return "string " + to_utf8(lumo::platform::decode_string_value(v.data));
        case 4: return "dword " + std::to_string(dword_of(v.data));
        default: return "binary " + hex(v.data, "");
    }
}

std::string reg_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

void export_key(Ctl& ctl, std::uint32_t root, const std::u16string& key) {
    std::printf("\n[%s\\%s]\n", root_name(root), to_utf8(key).c_str());
    for (auto& name : ctl.values(root, key)) {
        auto v = ctl.read(root, key, name);
        if (!v) continue;
        auto n = reg_escape(to_utf8(name));
        if (v->type == 1)
            std::printf("\"%s\"=\"%s\"\n", n.c_str(),
                        reg_escape(to_utf8(lumo::platform::decode_string_value(v->data))).c_str());
        else if (v->type == 4)
            std::printf("\"%s\"=dword:%08x\n", n.c_str(), dword_of(v->data));
        else
            std::printf("\"%s\"=hex:%s\n", n.c_str(), hex(v->data, ",").c_str());
    }
    for (auto& sub : ctl.subkeys(root, key)) export_key(ctl, root, key.empty() ? sub : key + u"\\" + sub);
}

bool parse_hex(const std::string& s, std::vector<std::byte>& out) {
    if (s.size() % 2) return false;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        char* end = nullptr;
        std::string byte = s.substr(i, 2);
        auto v = std::strtoul(byte.c_str(), &end, 16);
        if (*end) return false;
        out.push_back(std::byte(v));
    }
    return true;
}

int reg(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.size() < 3) usage("reg needs a sub-verb, ROOT and KEY");
    const auto& verb = a[0];
    auto root = parse_root(a[1]);
    auto key = to_u16(a[2]);
    if (verb == "get" && a.size() == 4) {
        auto v = ctl.read(root, key, to_u16(a[3]));
        if (!v) {
            std::fprintf(stderr, "lumo-devctl: %s\\%s: no value '%s'\n", root_name(root), a[2].c_str(),
                         a[3].c_str());
            return 1;
        }
        std::printf("%s\n", show(*v).c_str());
        return 0;
    }
    if (verb == "get" && a.size() == 3) {
        if (!ctl.key_exists(root, key)) {
            std::fprintf(stderr, "lumo-devctl: no key %s\\%s\n", root_name(root), a[2].c_str());
            return 1;
        }
        for (auto& name : ctl.values(root, key)) {
            auto v = ctl.read(root, key, name);
            if (v) std::printf("%s\t%s\n", to_utf8(name).c_str(), show(*v).c_str());
        }
        for (auto& sub : ctl.subkeys(root, key)) std::printf("%s\\\n", to_utf8(sub).c_str());
        return 0;
    }
    if (verb == "set" && a.size() == 6) {
        std::uint32_t type = 0;
        std::vector<std::byte> data;
        const auto& t = a[4];
        const auto& value = a[5];
        if (t == "string") {
            type = 1;
            data = lumo::platform::encode_string_value(to_u16(value));
        } else if (t == "dword") {
            type = 4;
            char* end = nullptr;
            errno = 0;
            auto v = std::strtoull(value.c_str(), &end, 0);
            if (value.empty() || *end || errno || v > 0xFFFFFFFFull) usage("not a 32-bit number: " + value);
            auto d = static_cast<std::uint32_t>(v);
            data.resize(4);
            std::memcpy(data.data(), &d, 4);
        } else if (t == "binary") {
            type = 3;
            if (!parse_hex(value, data)) usage("binary values are hex digits in pairs: " + value);
        } else {
            usage("TYPE must be string, binary or dword");
        }
        if (data.size() > lumo::platform::kMaxValueBytes) {
            std::fprintf(stderr, "lumo-devctl: the value is %zu bytes; the registry stores at most %zu\n",
                         data.size(), lumo::platform::kMaxValueBytes);
            return 1;
        }
        auto& ck = ctl.client().begin(Kind::RegCreateKey);
        ck.u32(root).s16(key);
        if (ctl.call(ck)->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: cannot create key %s\n", a[2].c_str());
            return 1;
        }
        auto& w = ctl.client().begin(Kind::RegWriteValue);
        w.u32(root).s16(key).s16(to_u16(a[3])).u32(type).bin(data);
        auto r = ctl.call(w);
        if (r->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: refused: %s\n",
                         std::string(lumo::wire::status_text(r->status)).c_str());
            return 1;
        }
        return 0;
    }
    if (verb == "delete" && (a.size() == 3 || a.size() == 4)) {
        auto& w = ctl.client().begin(a.size() == 4 ? Kind::RegDeleteValue : Kind::RegDeleteKey);
        w.u32(root).s16(key);
        if (a.size() == 4) w.s16(to_u16(a[3]));
        if (ctl.call(w)->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: nothing to delete\n");
            return 1;
        }
        return 0;
    }
    if (verb == "export" && a.size() == 3) {
        if (!ctl.key_exists(root, key)) {
            std::fprintf(stderr, "lumo-devctl: no key %s\\%s\n", root_name(root), a[2].c_str());
            return 1;
        }
        std::printf("Windows Registry Editor Version 5.00\n");
        export_key(ctl, root, key);
        return 0;
    }
    usage("unknown reg form");
}

std::uint32_t parse_number(const std::string& s, const char* what) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 0);
    if (s.empty() || *end || errno || v < INT32_MIN || v > UINT32_MAX)
        usage(std::string(what) + " must be a number, not '" + s + "'");
    return static_cast<std::uint32_t>(v);
}

std::uint32_t reply_u32(const std::optional<Client::Reply>& r) {
    Reader rd(r->body);
    return rd.u32();
}

struct WinInfo {
    std::string cls, title, exe;
    std::uint32_t pid = 0;
    bool visible = false;
};

std::optional<WinInfo> window_info(Ctl& ctl, std::uint32_t h) {
    auto& w = ctl.client().begin(Kind::WinInfo);
    w.u32(h);
    auto r = ctl.call(w);
    if (r->status != Status::Ok) return std::nullopt;
    Reader rd(r->body);
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

std::vector<std::pair<std::uint32_t, std::string>> processes(Ctl& ctl) {
    auto& w = ctl.client().begin(Kind::ProcList);
    auto r = ctl.call(w);
    Reader rd(r->body);
    std::vector<std::pair<std::uint32_t, std::string>> out;
    auto n = rd.u32();
    for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
        auto pid = rd.u32();
        auto path = to_utf8(rd.s16());
        out.push_back({pid, path});
    }
    return out;
}

std::uint32_t find_class(Ctl& ctl, const std::string& cls) {
    auto& w = ctl.client().begin(Kind::WinFind);
    w.u32(1).s16(to_u16(cls)).s16(u"");
    return reply_u32(ctl.call(w));
}

// A window given by handle (0x..., or decimal) or by class name.
std::uint32_t window_arg(Ctl& ctl, const std::string& s) {
    if (!s.empty() && (std::isdigit(static_cast<unsigned char>(s[0])))) return parse_number(s, "HWND");
    return find_class(ctl, s);
}

int windows_verb(Ctl& ctl) {
    auto& w = ctl.client().begin(Kind::WinList);
    auto r = ctl.call(w);
    Reader rd(r->body);
    std::vector<std::uint32_t> list(rd.u32());
    for (auto& h : list) h = rd.u32();
    auto& f = ctl.client().begin(Kind::WinForeground);
    auto fg = reply_u32(ctl.call(f));
    auto procs = processes(ctl);
    for (auto h : list) {
        auto info = window_info(ctl, h);
        if (!info) continue;
        std::string exe = "?";
        for (auto& [pid, path] : procs)
            if (pid == info->pid) exe = path.substr(path.rfind('\\') + 1);
        std::printf("0x%08x\t%u\t%s\t%d\t%d\t%s\t%s\n", h, info->pid, exe.c_str(), info->visible ? 1 : 0,
                    h == fg ? 1 : 0, info->cls.c_str(), info->title.c_str());
    }
    return 0;
}

int wait_verb(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.size() < 2 || a[0] != "window") usage("wait window CLASS [condition] [--timeout S]");
    std::string cls = a[1], cond = "exists";
    double timeout = 10;
    for (std::size_t i = 2; i < a.size(); ++i) {
        if (a[i] == "--visible" || a[i] == "--hidden" || a[i] == "--foreground" || a[i] == "--gone") {
            cond = a[i].substr(2);
        } else if (a[i] == "--timeout" && i + 1 < a.size()) {
            timeout = std::atof(a[++i].c_str());
        } else {
            usage("unknown wait option '" + a[i] + "'");
        }
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(long(timeout * 1000));
    for (;;) {
        auto h = find_class(ctl, cls);
        bool holds = false;
        if (cond == "gone") {
            holds = h == 0;
        } else if (h) {
            auto info = window_info(ctl, h);
            auto& f = ctl.client().begin(Kind::WinForeground);
            auto fg = reply_u32(ctl.call(f));
            holds = info && (cond == "exists" || (cond == "visible" && info->visible) ||
                             (cond == "hidden" && !info->visible) || (cond == "foreground" && fg == h));
        }
        if (holds) return 0;
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "lumo-devctl: window %s is not %s after %g s\n", cls.c_str(), cond.c_str(), timeout);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int message_verb(Ctl& ctl, bool send, const std::vector<std::string>& a) {
    if (a.size() != 4) usage(send ? "send CLASS|HWND MSG WPARAM LPARAM" : "post CLASS|HWND MSG WPARAM LPARAM");
    auto h = window_arg(ctl, a[0]);
    auto msg = parse_number(a[1], "MSG");
    auto wp = parse_number(a[2], "WPARAM");
    auto lp = parse_number(a[3], "LPARAM");
    if (!h) {
        std::fprintf(stderr, "lumo-devctl: no window %s\n", a[0].c_str());
        return 1;
    }
    auto& w = ctl.client().begin(send ? Kind::MsgSend : Kind::MsgPost);
    w.u32(h).u32(msg).u32(wp).i32(static_cast<std::int32_t>(lp));
    if (send) w.u32(0);
    auto r = ctl.call(w);
    if (r->status != Status::Ok) {
        std::fprintf(stderr, "lumo-devctl: %s failed: %s\n", send ? "send" : "post",
                     std::string(lumo::wire::status_text(r->status)).c_str());
        return 1;
    }
    if (send) {
        Reader rd(r->body);
        std::printf("%d\n", rd.i32());
    }
    return 0;
}

int dialog_verb(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.size() < 2 || a.size() > 3 || a[0] != "press") usage("dialog press BUTTON [HWND]");
    static const std::pair<const char*, int> names[] = {{"ok", 1}, {"cancel", 2}, {"abort", 3}, {"retry", 4},
                                                        {"ignore", 5}, {"yes", 6}, {"no", 7}};
    int button = -1;
    for (auto& [n, v] : names)
        if (equal_no_case(to_u16(a[1]), to_u16(n))) button = v;
    if (button < 0) button = static_cast<int>(parse_number(a[1], "BUTTON"));
    std::uint32_t h = a.size() == 3 ? parse_number(a[2], "HWND") : 0;
    auto& w = ctl.client().begin(Kind::DialogPress);
    w.u32(h).i32(button);
    auto r = ctl.call(w);
    if (r->status == Status::NotFound) {
        std::fprintf(stderr, "lumo-devctl: no message box is open\n");
        return 1;
    }
    if (r->status != Status::Ok) {
        std::fprintf(stderr, "lumo-devctl: that message box has no button %s\n", a[1].c_str());
        return 1;
    }
    return 0;
}

int time_verb(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.size() != 2) usage("time boot-age MS | time set YYYY-MM-DDTHH:MM[:SS]");
    auto& w = ctl.client().begin(Kind::TimeSet);
    if (a[0] == "boot-age") {
        w.u32(1).u64(parse_number(a[1], "MS"));
    } else if (a[0] == "set") {
        lumo::platform::LocalTime t;
        int y, mo, d, h, mi, sec = 0;
        if (std::sscanf(a[1].c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &sec) < 5 || mo < 1 || mo > 12 ||
            d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59 || y < 1601)
            usage("time set wants YYYY-MM-DDTHH:MM[:SS], not '" + a[1] + "'");
        t.year = std::uint16_t(y);
        t.month = std::uint16_t(mo);
        t.day = std::uint16_t(d);
        t.hour = std::uint16_t(h);
        t.minute = std::uint16_t(mi);
        t.second = std::uint16_t(sec);
        w.u32(2).u64(lumo::platform::local_to_file_time(t));
    } else {
        usage("time boot-age MS | time set YYYY-MM-DDTHH:MM[:SS]");
    }
    return ctl.call(w)->status == Status::Ok ? 0 : 1;
}

int key_verb(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.empty()) usage("key [press|down|up] VK [--silent]");
    // Both orders are accepted: "key press 0x26" and "key 0x26 press".
    std::vector<std::string> args = a;
    if (args.size() >= 2 && (args[0] == "down" || args[0] == "up" || args[0] == "press")) std::swap(args[0], args[1]);
    auto vk = parse_number(args[0], "VK");
    if (vk == 0 || vk > 0xFE) usage("VK must be 1 to 254");
    std::string what = "press";
    std::uint32_t flags = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--silent") {
            flags |= lumo::platform::KEYEVENTF_SILENT;
        } else if (args[i] == "down" || args[i] == "up" || args[i] == "press") {
            what = args[i];
        } else {
            usage("unknown key option '" + args[i] + "'");
        }
    }
    auto send_key = [&](bool up) {
        auto& w = ctl.client().begin(Kind::KeyEvent);
        w.u32(vk).u32(flags | (up ? lumo::platform::KEYEVENTF_KEYUP : 0));
        return ctl.call(w)->status == Status::Ok;
    };
    bool ok = true;
    if (what != "up") ok &= send_key(false);
    if (what != "down") ok &= send_key(true);
    return ok ? 0 : 1;
}

int screenshot_verb(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.size() > 1) usage("screenshot [FILE.png]");
    std::string path;
    // The host runs elsewhere: hand it a full path.
    if (!a.empty()) {
        path = a[0];
        if (path.empty() || path[0] != '/') {
            char cwd[4096];
            if (!::getcwd(cwd, sizeof cwd)) usage("cannot tell the current folder");
            path = std::string(cwd) + "/" + path;
        }
    }
    auto& w = ctl.client().begin(Kind::DisplayScreenshot);
    w.s16(to_u16(path));
    auto r = ctl.call(w);
    if (r->status != Status::Ok) {
        std::fprintf(stderr, "lumo-devctl: the device could not save the screenshot\n");
        return 1;
    }
    Reader rd(r->body);
    std::printf("%s\n", to_utf8(rd.s16()).c_str());
    return 0;
}

std::int32_t parse_coordinate(const std::string& s, const char* what) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || v < -32768 || v > 32767)
        usage(std::string(what) + " must be a pixel coordinate, not '" + s + "'");
    return static_cast<std::int32_t>(v);
}

// One stylus event; prints nothing, fails when nothing was under the point.
bool stylus(Ctl& ctl, std::uint32_t action, std::int32_t x, std::int32_t y) {
    auto& w = ctl.client().begin(Kind::DisplayTouch);
    w.u32(action).i32(x).i32(y);
    auto r = ctl.call(w);
    return r->status == Status::Ok && reply_u32(r) != 0;
}

int touch_verb(Ctl& ctl, const std::string& verb, const std::vector<std::string>& a) {
    if (verb == "touch") {
        if (a.size() != 3) usage("touch down|move|up X Y");
        std::uint32_t action = a[0] == "down" ? 1 : a[0] == "move" ? 2 : a[0] == "up" ? 3 : 0;
        if (!action) usage("touch wants down, move or up, not '" + a[0] + "'");
        return stylus(ctl, action, parse_coordinate(a[1], "X"), parse_coordinate(a[2], "Y")) ? 0 : 1;
    }
    if (verb == "tap") {
        if (a.size() != 2) usage("tap X Y");
        auto x = parse_coordinate(a[0], "X"), y = parse_coordinate(a[1], "Y");
        bool ok = stylus(ctl, 1, x, y);
        ok &= stylus(ctl, 3, x, y);
        return ok ? 0 : 1;
    }
    // drag X1 Y1 X2 Y2 [MS] [--ms MS]
    std::vector<std::string> pos;
    long ms = 300;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--ms" && i + 1 < a.size()) ms = parse_number(a[++i], "MS");
        else pos.push_back(a[i]);
    }
    if (pos.size() == 5) ms = parse_number(pos[4], "MS");
    if (pos.size() != 4 && pos.size() != 5) usage("drag X1 Y1 X2 Y2 [MS] [--ms MS]");
    if (ms < 0 || ms > 60000) usage("MS must be 0 to 60000");
    auto x1 = parse_coordinate(pos[0], "X1"), y1 = parse_coordinate(pos[1], "Y1");
    auto x2 = parse_coordinate(pos[2], "X2"), y2 = parse_coordinate(pos[3], "Y2");
    // A finger reports about every 16 ms; at least one move between down and up.
    int steps = std::max(1, int(ms / 16));
    bool ok = stylus(ctl, 1, x1, y1);
    for (int i = 1; i <= steps; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms / steps));
        stylus(ctl, 2, x1 + (x2 - x1) * i / steps, y1 + (y2 - y1) * i / steps);
    }
    ok &= stylus(ctl, 3, x2, y2);
    return ok ? 0 : 1;
}

int display_verb(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.size() != 1 || a[0] != "lose-surface") usage("display lose-surface");
    auto& w = ctl.client().begin(Kind::DisplayLoseSurface);
    return ctl.call(w)->status == Status::Ok ? 0 : 1;
}

int power_verb(Ctl& ctl, const std::vector<std::string>& a) {
    using lumo::wire::PowerAction;
    if (a.size() == 1 && a[0] == "status") {
        auto& w = ctl.client().begin(Kind::PowerStatus);
        auto r = ctl.call(w);
        if (r->status != Status::Ok) return 1;
        Reader rd(r->body);
        rd.u32();
        auto name = to_utf8(rd.s16());
        auto ac = rd.u32();
        auto battery = rd.u32();
        auto light = rd.u32();
        auto video_off = rd.u32();
        auto unattended = rd.u32();
        static const char* kLight[] = {"off", "dim", "on"};
        std::printf("state %s\nac %u\nbattery %u\ndisplay %s\nvideo %s\nunattended %u\n",
                    name.c_str(), ac, battery, kLight[std::min<std::uint32_t>(light, 2)],
                    video_off ? "off" : "on", unattended);
        return 0;
    }
    struct Simple {
        const char* word;
        PowerAction action;
    };
    static const Simple kSimple[] = {{"button", PowerAction::Button},
                                     {"on", PowerAction::On},
                                     {"backlight-off", PowerAction::BacklightOff},
                                     {"idle", PowerAction::Idle},
                                     {"suspend", PowerAction::Suspend}};
    std::optional<PowerAction> action;
    std::uint32_t value = 0;
    if (a.size() == 1) {
        for (const auto& s : kSimple)
            if (a[0] == s.word) action = s.action;
    } else if (a.size() == 2 && a[0] == "ac" && (a[1] == "on" || a[1] == "off")) {
        action = PowerAction::Ac;
        value = a[1] == "on" ? 1 : 0;
    } else if (a.size() == 2 && a[0] == "capacity") {
        value = parse_number(a[1], "PERCENT");
        if (value > 100) usage("power capacity wants 0 to 100");
        action = PowerAction::Capacity;
    }
    if (!action) usage("power button|on|backlight-off|idle|suspend|status, power ac on|off, power capacity PERCENT");
    auto& w = ctl.client().begin(Kind::PowerAction);
    w.u32(static_cast<std::uint32_t>(*action)).u32(value);
    return ctl.call(w)->status == Status::Ok ? 0 : 1;
}

int radio_verb(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.empty()) {
        auto& w = ctl.client().begin(Kind::RadioList);
        auto r = ctl.call(w);
        if (r->status != Status::Ok) return 1;
        Reader rd(r->body);
        auto count = rd.u32();
        for (std::uint32_t i = 0; i < count && rd.ok(); ++i) {
            rd.u32();
            auto name = to_utf8(rd.s16());
            auto on = rd.u32();
            if (rd.ok()) std::printf("%s %s\n", name.c_str(), on ? "on" : "off");
        }
        return rd.ok() ? 0 : 1;
    }
    struct Radio {
        const char* word;
        lumo::platform::RadioType type;
    };
    static const Radio kRadios[] = {{"bluetooth", lumo::platform::RadioType::Bluetooth},
                                    {"wifi", lumo::platform::RadioType::WiFi}};
    if (a.size() == 2 && (a[1] == "on" || a[1] == "off")) {
        for (const auto& radio : kRadios) {
            if (a[0] != radio.word) continue;
            auto& w = ctl.client().begin(Kind::RadioSet);
            w.u32(static_cast<std::uint32_t>(radio.type)).u32(a[1] == "on" ? 1 : 0);
            return ctl.call(w)->status == Status::Ok ? 0 : 1;
        }
    }
    usage("radio, or radio bluetooth|wifi on|off");
}

int sound_verb(Ctl& ctl, const std::vector<std::string>& a) {
    if (a.size() == 1 && a[0] == "status") {
        auto& w = ctl.client().begin(Kind::SoundStatus);
        auto r = ctl.call(w);
        if (r->status != Status::Ok) return 1;
        Reader rd(r->body);
        auto on = rd.u32();
        auto current = to_utf8(rd.s16());
        rd.u32();
        auto last = to_utf8(rd.s16());
        auto plays = rd.u32();
        auto volume = rd.u32();
        auto output = rd.u32();
        if (!rd.ok()) return 1;
        std::printf("playing %u\ncurrent %s\nlast %s\nplays %u\nvolume 0x%08X\noutput %s\n", on,
                    current.c_str(), last.c_str(), plays, volume, output ? "audio" : "silent");
        return 0;
    }
    if (a.size() == 1 && a[0] == "stop") {
        auto& w = ctl.client().begin(Kind::SoundStop);
        return ctl.call(w)->status == Status::Ok ? 0 : 1;
    }
    if (a.size() >= 2 && a[0] == "play") {
        std::uint32_t flags = lumo::platform::kSoundAsync;
        for (std::size_t i = 2; i < a.size(); ++i) {
            if (a[i] == "--nostop") {
                flags |= lumo::platform::kSoundNoStop;
            } else if (a[i] == "--nodefault") {
                flags |= lumo::platform::kSoundNoDefault;
            } else {
                usage("unknown sound play option '" + a[i] + "'");
            }
        }
        auto& w = ctl.client().begin(Kind::SoundPlay);
        w.u32(flags).s16(to_u16(a[1]));
        auto r = ctl.call(w);
        if (r->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: %s did not play (%s)\n", a[1].c_str(),
                         std::string(lumo::wire::status_text(r->status)).c_str());
            return 1;
        }
        return 0;
    }
    usage("sound status|stop, sound play DEVICE-PATH [--nostop] [--nodefault]");
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (args.empty() && (a == "--help" || a == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (args.empty() && a == "--device" && i + 1 < argc) {
            dir = argv[++i];
        } else if (args.empty() && a.rfind("--device=", 0) == 0) {
            dir = a.substr(9);
        } else {
            args.push_back(a);
        }
    }
    if (args.empty()) usage("no verb given");
    if (dir.empty()) dir = default_dir();
    std::string error;
    auto client = Client::connect(lumo::wire::socket_path_for(dir), u"lumo-devctl", &error);
    if (!client) {
        std::fprintf(stderr, "lumo-devctl: no device at %s (%s)\n", dir.c_str(), error.c_str());
        return 3;
    }
    Ctl ctl(std::move(client));
    const auto& verb = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (verb == "status" && rest.empty()) {
        auto& w = ctl.client().begin(Kind::Status);
        auto r = ctl.call(w);
        Reader rd(r->body);
        std::fputs(to_utf8(rd.s16()).c_str(), stdout);
        return 0;
    }
    if (verb == "shutdown" && rest.empty()) {
        auto& w = ctl.client().begin(Kind::Shutdown);
        ctl.call(w);
        // Wait until the host has closed the connection: its registry is then on disk.
        while (ctl.client().next_event(5000)) {
        }
        return 0;
    }
    if (verb == "reg") return reg(ctl, rest);
    if (verb == "windows" && rest.empty()) return windows_verb(ctl);
    if (verb == "processes" && rest.empty()) {
        for (auto& [pid, path] : processes(ctl)) std::printf("%u\t%s\n", pid, path.c_str());
        return 0;
    }
    if (verb == "start" && !rest.empty()) {
        std::string arguments;
        for (std::size_t i = 1; i < rest.size(); ++i) arguments += (i > 1 ? " " : "") + rest[i];
        auto& w = ctl.client().begin(Kind::ProcStart);
        w.s16(to_u16(rest[0])).s16(to_u16(arguments)).u32(1);
        auto r = ctl.call(w);
        if (r->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: the phone cannot run %s\n", rest[0].c_str());
            return 1;
        }
        std::printf("%u\n", reply_u32(r));
        return 0;
    }
    if (verb == "kill" && rest.size() == 1) {
        auto& w = ctl.client().begin(Kind::ProcKill);
        w.u32(parse_number(rest[0], "PID"));
        if (ctl.call(w)->status != Status::Ok) {
            std::fprintf(stderr, "lumo-devctl: no process %s\n", rest[0].c_str());
            return 1;
        }
        return 0;
    }
    if (verb == "post") return message_verb(ctl, false, rest);
    if (verb == "send") return message_verb(ctl, true, rest);
    if (verb == "wait") return wait_verb(ctl, rest);
    if (verb == "dialogs" && rest.empty()) {
        auto& w = ctl.client().begin(Kind::DialogList);
        auto r = ctl.call(w);
        Reader rd(r->body);
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
        return 0;
    }
    if (verb == "dialog") return dialog_verb(ctl, rest);
    if (verb == "time") return time_verb(ctl, rest);
    if (verb == "key") return key_verb(ctl, rest);
    if (verb == "screenshot") return screenshot_verb(ctl, rest);
    if (verb == "touch" || verb == "tap" || verb == "drag") return touch_verb(ctl, verb, rest);
    if (verb == "display") return display_verb(ctl, rest);
    if (verb == "power") return power_verb(ctl, rest);
    if (verb == "sound") return sound_verb(ctl, rest);
    if (verb == "radio") return radio_verb(ctl, rest);
    if (verb == "rotate" && rest.size() == 1) {
        auto degrees = parse_number(rest[0], "DEGREES");
        if (degrees % 90 || degrees >= 360) usage("rotate wants 0, 90, 180 or 270");
        auto& w = ctl.client().begin(Kind::DisplayRotate);
        w.u32(degrees);
        return ctl.call(w)->status == Status::Ok ? 0 : 1;
    }
    usage("unknown verb '" + verb + "'");
}
