// The program's entry: single instance, the log, the catalogue, the display, the required
// pictures, the texts and pages, the service's status messages, and the orderly end.
#include <filesystem>
#include <system_error>

#include "lumo/gfx/display_backend.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/theme.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/settings/settings.h"

namespace lumo::settings {

using namespace platform;
using catalogue::Id;
namespace proto = protocol;

namespace {

std::u16string_view own_window() { return proto::window_name(proto::Program::Settings); }

Hwnd find_program(Context& c, proto::Program p) {
    auto n = proto::window_name(p);
    return c.p.windows().find_window(n, n);
}

bool device_file_exists(Context& c, std::u16string_view path) {
    auto host = c.p.processes().host_path(path);
    std::error_code ec;
    return host && std::filesystem::exists(*host, ec);
}

void load_picture(Context& c, gfx::Image& img, std::u16string_view file) {
    gfx::LoadImageFile(img, c.screen, gfx::ThemePicturePath(c.program_folder, file), gfx::kFitNative, 0, 0);
}

struct FileWatch {
    Id id;
    std::uint32_t msg;
};
constexpr FileWatch kWatches[5] = {
    {Id::Wallpaper, kMsgWallpaperChanged},     {Id::WallpaperL, kMsgWallpaperLChanged},
    {Id::LockSound, kMsgLockSoundChanged},     {Id::UnlockSound, kMsgUnlockSoundChanged},
    {Id::UnlockRunEXE, kMsgUnlockRunExeChanged},
};

void default_sleep(Context& c, std::uint32_t ms) {
    bool existed = false;
    auto ev = c.p.sync().create_event(u"", false, false, &existed);
    SyncHandle h[1] = {ev};
    c.p.sync().wait(h, false, ms);
    c.p.sync().close(ev);
}

}  // namespace

// A context that goes without the program's exit (a test's) stops the theme workers too.
Context::~Context() { stop_theme_workers(*this); }

Context::Context(Platform& platform, Display& d) : p(platform), display(d) {
    settings = catalogue::Values::defaults(proto::Program::Settings, 255);
    sleep = [this](std::uint32_t ms) { default_sleep(*this, ms); };
}

bool open_display(Context& c) {
    int backend = gfx::RequestedBackend(int(c.settings.num(Id::DisplayMode)), c.command_line);
    if (!gfx::OpenScreen(c.screen, c.display, c.main_window, backend, c.imaging.get(),
                         [&c](const std::string& line) { c.log.write(line); }))
        return false;
    c.screen.fonts = c.fonts.get();
    c.display_mode = backend;
    c.screen_width = c.screen.logical_width;
    c.screen_height = c.screen.logical_height;
    return true;
}

EntryResult enter(Context& c, std::u16string_view command_line) {
    auto& win = c.p.windows();
    c.command_line = std::u16string(command_line);
    // 1. One window only: a second start brings the first forward.
    if (Hwnd running = win.find_window(own_window(), own_window())) {
        win.show_window(running, SW_SHOW);
        win.set_foreground_window(running);
        return EntryResult::Ended;
    }
    c.program_folder = program_folder(c.p.processes().own_path());
    c.log_env = std::make_unique<log::ClockEnvironment>(c.p.clock());
    if (auto host = c.p.processes().host_path(c.program_folder))
        c.log = log::Log::open(log::Variant::Settings, *host, c.p.registry(), *c.log_env);
    // 2. The window.
    auto m = c.display.metrics();
    c.screen_width = m.width;
    c.screen_height = m.height;
    win.register_class(own_window(), [&c](Hwnd h, std::uint32_t msg, WParam w, LParam l) {
        return window_proc(c, h, msg, w, l);
    });
    CreateWindowParams cp;
    cp.class_name = std::u16string(own_window());
    cp.title = std::u16string(own_window());
    cp.style = WS_POPUP | WS_VISIBLE;
    cp.rect = {0, 0, c.screen_width, c.screen_height};
    c.main_window = win.create_window(cp);
    if (!c.main_window) return EntryResult::Ended;
    // 3. The catalogue.
    // The phone's LED count decides the default and the item's range.
    c.vibration_led = catalogue::vibration_led_default(c.p.notify().led_count());
    c.settings = catalogue::Values::defaults(proto::Program::Settings, c.vibration_led);
    catalogue::load_program(c.p.registry(), proto::Program::Settings, c.settings);
    c.caller_id_at_load = c.settings.num(Id::CallerID) != 0;
    if (auto pw = c.settings.blob(Id::SavedPassword); pw.size() == 4) {
        std::copy(pw.begin(), pw.end(), c.password.begin());
        c.has_password = true;
    }
    auto v = c.display.version();
    c.log.write(kVersionText);
    // 4. The display.
    if (!c.imaging) {
        auto& procs = c.p.processes();
        c.imaging = make_sdl_imaging([&procs](std::u16string_view path) { return procs.host_path(path); });
    }
    if (!c.fonts) c.fonts = make_sdl_fonts();
    if (!open_display(c)) {
        std::u16string text = u"The display cannot be opened (error " +
                              to_u16(std::to_string(c.screen.last_error)) + u").";
        c.log.write(text);
        win.message_box(c.main_window, text, proto::kProductName, MB_OK);
        win.destroy_window(c.main_window);
        return EntryResult::Ended;
    }
    c.log.printf("WM%u.%u A=%d D=%d", v.major, v.minor, c.display.orientation_angle(), c.display_mode);
    // 5. Every required picture.
    auto missing = gfx::FirstMissingThemePicture(
        c.program_folder, [&c](std::u16string_view path) { return device_file_exists(c, path); });
    if (!missing.empty()) {
        std::u16string text = u"File (" + missing + u") is missed, please reinstall " +
                              std::u16string(proto::kProductName) + u".";
        c.log.write(text);
        win.message_box(c.main_window, text, proto::kProductName, MB_OK | MB_ICONEXCLAMATION);
        if (Hwnd l = find_program(c, proto::Program::LockScreen)) win.post(l, WM_CLOSE, 0, 0);
        if (Hwnd s = find_program(c, proto::Program::Service)) win.post(s, WM_CLOSE, 0, 0);
        gfx::CloseScreen(c.screen);
        win.destroy_window(c.main_window);
        return EntryResult::Ended;
    }
    // 6. Pictures, the service's status messages, texts and pages.
    c.log.printf("sysWidth=%d sysHeight=%d", c.screen_width, c.screen_height);
    load_picture(c, c.background, u"stbg.png");
    load_picture(c, c.topbar, u"sttopbar.png");
    load_picture(c, c.arrow, u"starrow.png");
    load_picture(c, c.onoff, u"stonoff.png");
    load_picture(c, c.minus_plus, u"stlrL.png");
    load_picture(c, c.button, u"stbutton.png");
    load_picture(c, c.back, u"sback.png");
    load_picture(c, c.exit, u"exit.png");
    load_picture(c, c.add_button, u"addbutton.png");
    load_picture(c, c.delete_mark, u"delete.png");
    load_picture(c, c.status_icons, u"stsystem.png");
    load_picture(c, c.tbar_on, u"tbaron.png");
    load_picture(c, c.tbar_off, u"tbaroff.png");
    if (Hwnd s = find_program(c, proto::Program::Service)) {
        win.post(s, proto::WM_GetBatteryFor, WParam(c.main_window), 0);
        win.post(s, proto::WM_AddStateListener, WParam(c.main_window), 0);
    }
    std::optional<std::filesystem::path> host = c.p.processes().host_path(c.program_folder);
    auto file = host ? lang::LangFile::open(*host) : lang::LangFile();
    c.general = lang::load(file, lang::settings_general_keys());
    c.page_texts = lang::load(file, lang::settings_page_keys());
    read_device_facts(c);
    build_pages(c);
    for (std::size_t i = 0; i < 5; ++i) {
        NotificationRequest r;
        r.root = Root::CurrentUser;
        r.key = u"Software\\Vesk\\Lumo";
        r.value = std::u16string(catalogue::setting(kWatches[i].id).name);
        r.target = c.main_window;
        r.message = kWatches[i].msg;
        c.notifications[i] = c.p.broker().register_notification(r);
    }
    read_status_values(c);
    start_theme_workers(c);
    draw(c);
    win.set_timer(c.main_window, kTimerStart, 0);
    return EntryResult::Running;
}

// The top bar's first picture; the service's messages keep it current afterwards.
void read_status_values(Context& c) {
    auto& reg = c.p.registry();
    const auto lm = Root::LocalMachine;
    c.operator_name = reg.get_string(lm, u"System\\State\\Phone", u"Current Operator Name").value_or(u"");
    c.signal = reg.get_dword(lm, u"System\\State\\Phone", u"Signal Strength Raw").value_or(c.signal);
    c.ringer = reg.get_dword(Root::CurrentUser, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode").value_or(0);
    c.bluetooth = (reg.get_dword(lm, u"System\\State\\Hardware", u"Bluetooth").value_or(0) & 1) != 0;
    c.wifi = (reg.get_dword(lm, u"System\\State\\Hardware", u"Wifi").value_or(0) & 2) != 0;
    c.headphone = reg.get_dword(lm, u"System\\State\\Hardware", u"Headset").value_or(0) != 0;
    c.connections = reg.get_dword(lm, u"System\\State\\Connections", u"Count").value_or(0);
}

void start_exit(Context& c) {
    if (c.caller_id_at_load && c.settings.num(Id::CallerID) == 0 && c.ended_by_save)
        c.p.windows().message_box(
            c.main_window,
            u"As you've just disabled the CallerID of Lumo, please soft-reset the device. Otherwise "
            u"the system CallerID tab may not work.",
            proto::kProductName, MB_OK);
    c.p.windows().set_timer(c.main_window, kTimerExit, 0);
}

void finish(Context& c) {
    auto& win = c.p.windows();
    win.kill_timer(c.main_window, kTimerDisplay);
    win.kill_timer(c.main_window, kTimerExit);
    win.kill_timer(c.main_window, kTimerStart);
    if (Hwnd s = find_program(c, proto::Program::Service))
        win.post(s, proto::WM_RemoveStateListener, WParam(c.main_window), 0);
    if (Hwnd b = find_program(c, proto::Program::Browser)) win.post(b, WM_CLOSE, 0, 0);
    for (auto& n : c.notifications) {
        if (n) c.p.broker().close_notification(n);
        n = 0;
    }
    gfx::CloseScreen(c.screen);
    c.ended = true;
    win.destroy_window(c.main_window);
    win.post_quit(0);
    // Both theme threads are told to stop once the window is gone; their events close.
    stop_theme_workers(c);
}

int message_loop(Context& c) {
    auto& win = c.p.windows();
    Message m;
    while (win.get_message(m)) win.dispatch(m);
    return 0;
}

int run_program(Platform& p, Display& display, std::u16string_view command_line) {
    Context c(p, display);
    if (enter(c, command_line) == EntryResult::Ended) return 0;
    return message_loop(c);
}

}  // namespace lumo::settings
