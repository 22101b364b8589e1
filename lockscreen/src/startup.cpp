// The program's entry: command line, single instance, installation checks, the window, the
// display, the pictures, the first lock, the worker thread and the orderly end.
#include <chrono>
#include <filesystem>
#include <system_error>

#include "lumo/gfx/display_backend.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/text.h"
#include "lumo/gfx/theme.h"
#include "lumo/lockscreen/lockscreen.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::lockscreen {

using namespace platform;
namespace proto = protocol;

namespace {

std::u16string_view lock_window() { return proto::window_name(proto::Program::LockScreen); }

// Prefix test without regard to case, over the switch's length.
bool has_switch(std::u16string_view line, std::u16string_view sw) {
    return line.size() >= sw.size() && equal_no_case(line.substr(0, sw.size()), sw);
}

// The background worker: refreshes the weather whenever the main thread signals it.
void worker_main(Context* c) {
    bool existed = false;
    c->worker_event = c->p.sync().create_event(u"", false, false, &existed);
    SyncHandle handles[2] = {c->worker_event.load(), c->quit_event};
    for (;;) {
        auto r = c->p.sync().wait(handles, false, kInfinite);
        if (r != 0) break;
        c->weather_busy = true;
        refresh_weather(*c);
        c->weather_busy = false;
    }
    c->p.sync().close(c->worker_event);
    c->worker_event = 0;
    c->worker_done = true;
}

std::string utf8(std::u16string_view s) { return to_utf8(s); }

}  // namespace

Context::Context(platform::Platform& platform, platform::Display& d) : p(platform), display(d) {
    settings = catalogue::Values::defaults(proto::Program::LockScreen, 255);
    light_grey = gfx::MakeBrush(gfx::RGBTo565(gfx::kRgb565, 230, 230, 230));
    blue = gfx::MakeBrush(gfx::RGBTo565(gfx::kRgb565, 0, 50, 240));
    red = gfx::MakeBrush(gfx::RGBTo565(gfx::kRgb565, 255, 0, 0));
    phone_contacts = make_contact_pictures(platform);
    contacts = phone_contacts.get();
}

Context::~Context() {
    if (worker.joinable()) {
        if (quit_event) p.sync().set_event(quit_event);
        worker.join();
    }
}

bool device_file_exists(Context& c, std::u16string_view device_path) {
    if (device_path.empty()) return false;
    auto host = c.p.processes().host_path(device_path);
    std::error_code ec;
    return host && std::filesystem::exists(*host, ec);
}

std::u16string gfx_path(const Context& c, std::u16string_view file) {
    return gfx::ThemePicturePath(c.program_folder, file);
}

Hwnd service_window(Context& c) {
    auto name = proto::window_name(proto::Program::Service);
    return c.p.windows().find_window(name, name);
}

void post_service(Context& c, std::uint32_t msg, WParam w, LParam l) {
    if (Hwnd s = service_window(c)) c.p.windows().post(s, msg, w, l);
}

void load_settings(Context& c) {
    catalogue::load_program(c.p.registry(), proto::Program::LockScreen, c.settings);
    c.system_locale = system_locale(c.p.registry());
}

EntryResult enter(Context& c, std::u16string_view command_line) {
    auto& win = c.p.windows();
    c.command_line = std::u16string(command_line);
    // 1. A running instance takes the command over.
    if (Hwnd running = win.find_window(lock_window(), lock_window())) {
        if (has_switch(command_line, proto::lock_switch::kVolume)) {
            win.post(running, proto::WM_VolumeControl, 1, 0);
        } else if (has_switch(command_line, proto::lock_switch::kPowerOff)) {
            win.post(running, proto::WM_ShutDown, proto::kShutDownOpened, 0);
        } else {
            win.post(running, WM_ACTIVATE, WA_ACTIVE, 0);
            win.post(running, WM_SETFOCUS, 0, 0);
            win.post(running, proto::WM_ShowLock, 0, 0);
        }
        return EntryResult::Ended;
    }
    // 2. One instance only.
    bool existed = false;
    c.p.sync().create_mutex(kInstanceMutex, &existed);
    if (existed) return EntryResult::Ended;
    // 3.
    c.start_hidden = has_switch(command_line, proto::lock_switch::kHide);
    // 4.
    Hwnd service = service_window(c);
    // 7 (early): the log lives in the program folder; open it before the checks so they are kept.
    c.program_folder = program_folder(c.p.processes().own_path());
    auto host_folder = c.p.processes().host_path(c.program_folder);
    c.log_env = std::make_unique<log::ClockEnvironment>(c.p.clock());
    if (host_folder) c.log = log::Log::open(log::Variant::LockScreen, *host_folder, c.p.registry(), *c.log_env);
    // 5. Installation check: the program folder must lie in the device's program-files folder.
    auto program_files = c.p.processes().special_folder(SpecialFolder::ProgramFiles);
    c.log.printf("%s(%s)", utf8(c.program_folder).c_str(), utf8(program_files).c_str());
    bool inside = c.program_folder.size() >= program_files.size() && !program_files.empty() &&
                  equal_no_case(std::u16string_view(c.program_folder).substr(0, program_files.size()),
                                program_files);
    if (!inside) {
        std::u16string text = u"Please reinstall " + std::u16string(proto::kProductName) + u" to device.";
        win.message_box(0, text, proto::kProductName, MB_OK | MB_ICONEXCLAMATION);
        if (service) win.post(service, WM_CLOSE, 0, 0);
        return EntryResult::Ended;
    }
    // 6. Without the service, start it; it starts the lock screen in turn.
    if (!service) {
        std::u16string exe = c.program_folder + u"\\" + std::u16string(proto::exe_name(proto::Program::Service));
        c.log.printf("StartVardex2 %s", utf8(exe).c_str());
        c.p.processes().shell_execute(exe, proto::service_switch::kShow, true);
        return EntryResult::Ended;
    }
    return start_up(c) ? EntryResult::Running : EntryResult::Ended;
}

namespace {

void load_optional(Context& c, gfx::Image& img, std::u16string_view file) {
    gfx::LoadImageFile(img, c.screen, gfx_path(c, file), gfx::kFitNative, 0, 0);
}

}  // namespace

bool start_up(Context& c) {
    auto& win = c.p.windows();
    c.starting_up = true;
    // 1. Screen, orientation, class.
    auto m = c.display.metrics();
    c.screen_width = m.width;
    c.screen_height = m.height;
    c.orientation = gfx::RotationFromAngle(c.display.orientation_angle());
    win.register_class(lock_window(), [&c](Hwnd h, std::uint32_t msg, WParam w, LParam l) {
        return window_proc(c, h, msg, w, l);
    });
    // 2. The pop-up window, not yet shown.
    CreateWindowParams cp;
    cp.class_name = std::u16string(lock_window());
    cp.title = std::u16string(lock_window());
    cp.style = WS_POPUP;
    cp.rect = {0, 0, c.screen_width, c.screen_height};
    c.main_window = win.create_window(cp);
    if (!c.main_window) return false;
    // 3.
    load_settings(c);
    read_password_lock(c);
    // 4. Every picture of the product must be there.
    auto missing = gfx::FirstMissingThemePicture(
        c.program_folder, [&c](std::u16string_view path) { return device_file_exists(c, path); });
    if (!missing.empty()) {
        std::u16string text = u"File (" + missing + u") is missed, please reinstall " +
                              std::u16string(proto::kProductName) + u".";
        c.log.write(text);
        win.message_box(c.main_window, text, proto::kProductName, MB_OK | MB_ICONEXCLAMATION);
        post_service(c, WM_CLOSE, 0, 0);
        return false;
    }
    // 5.
    choose_wallpapers(c);
    // 6.
    c.log.printf("%s 0x%0X", utf8(kVersionText).c_str(), c.p.clock().tick_count());
    auto v = c.display.version();
    c.log.printf("Windows CE %u.%u build %u", v.major, v.minor, v.build);
    c.log.printf("sysWidth=%d sysHeight=%d sx(100:%d) sy(100:%d)", c.screen_width, c.screen_height,
                 gfx::ScaleUnit(m.dpi_x, 100), gfx::ScaleUnit(m.dpi_x, 100));
    // 7. The display.
    if (!c.imaging) {
        auto& procs = c.p.processes();
        c.imaging = make_sdl_imaging([&procs](std::u16string_view path) { return procs.host_path(path); });
    }
    if (!c.fonts) c.fonts = make_sdl_fonts();
    int backend = gfx::RequestedBackend(int(c.settings.num(catalogue::Id::DisplayMode)), c.command_line);
    if (!gfx::OpenScreen(c.screen, c.display, c.main_window, backend, c.imaging.get(),
                         [&c](const std::string& line) { c.log.write(line); })) {
        std::u16string text = u"The display cannot be opened (error " +
                              to_u16(std::to_string(c.screen.last_error)) + u").";
        c.log.write(text);
        win.message_box(c.main_window, text, proto::kProductName, MB_OK);
        return false;
    }
    c.screen.fonts = c.fonts.get();
    c.screen.clock = c.frame_clock;
    c.display_mode = backend;
    // Everything is laid out in the back buffer's own orientation.
    c.screen_width = c.screen.logical_width;
    c.screen_height = c.screen.logical_height;
    c.log.printf("WM%u.%u %u A=%d D=%d", v.major, v.minor, v.build, c.orientation, backend);
    // 8.
    if (backend == int(gfx::Backend::GdiBitmap)) gfx::SetScreenRotation(c.screen, gfx::kRotate0);
    // 9. The slider's text lines, then the display waits for the first lock.
    for (auto& line : c.slider_text) gfx::ResizeBuffers(line, c.screen_width, gfx::ScaleUnit(c.screen, 48), false);
    gfx::SuspendScreen(c.screen);
    // 10.
    if (!c.start_hidden) win.show_window(c.main_window, SW_SHOW);
    // 11. Pictures, texts, clock.
    load_optional(c, c.topbar, u"topbar.png");
    if (c.settings.num(catalogue::Id::TopCurtain) == 2) load_optional(c, c.ftopbar, u"ftopbar.png");
    load_optional(c, c.ppressed, u"ppressed.png");
    load_optional(c, c.system_icons, u"system.png");
    load_optional(c, c.notice, u"notice.png");
    load_optional(c, c.red_circle, u"RedCircle.png");
    load_optional(c, c.triangle, u"triangle.png");
    load_optional(c, c.conicon, u"conicon.png");
    if (c.settings.num(catalogue::Id::NoSoftKey) == 0) {
        bool centre = c.settings.num(catalogue::Id::SliderPosition) != 0;
        if (!(centre && device_file_exists(c, gfx_path(c, u"arrows2.png")) &&
              gfx::LoadImageFile(c.knob, c.screen, gfx_path(c, u"arrows2.png"), gfx::kFitNative, 0, 0)))
            load_needed_picture(c, c.knob, u"arrows.png", draw_knob_picture);
        load_needed_picture(c, c.track, u"sliden.png", draw_track_picture);
        layout_slider(c);
    }
    if (auto host = c.p.processes().host_path(c.program_folder))
        c.texts = lang::load(lang::LangFile::open(*host), lang::lockscreen_keys(),
                             lang::conditions_from(c.settings, false));
    make_slider_texts(c);
    reset_slider(c);
    load_clock(c);
    update_clock(c, true);
    load_wallpaper(c);
    read_ringer_mode(c);
    read_status(c);
    refresh_panels(c);
    update_music_title(c);
    update_music_album(c);
    snapshot_weather_settings(c);
    refresh_weather(c);
    // 12.
    post_service(c, proto::WM_GetBattery, 0, 0);
    post_service(c, proto::WM_GetAllStates, WParam(c.screen_width), LParam(c.screen_height));
    // 13.
    bool ringing = false;
    if (c.settings.num(catalogue::Id::CallerID) != 0) {
        post_service(c, proto::WM_SlideReady, 0, 0);
        auto status = c.p.registry().get_dword(Root::LocalMachine, u"System\\State\\Phone", u"Status");
        ringing = status && (*status & 0x10000);
    }
    // 14.
    if (!ringing) {
        if (c.settings.num(catalogue::Id::ShowAppointment) != 0) post_service(c, proto::WM_PoomItemChanged, 0, 0);
        c.log.printf("Start & Hide=%d", int(c.start_hidden));
        if (!c.start_hidden) {
            win.set_timer(c.main_window, kTimerStarting, 0);
            win.post(c.main_window, proto::WM_ShowLock, 0, 0);
            c.locked = true;
        }
    }
    // 15.
    c.task_bar = win.find_window(kTaskBarClass, std::nullopt);
    c.starting_up = false;
    // A lock asked for meanwhile is carried out now, through the loop like any focus.
    if (c.focus_during_startup) {
        c.focus_during_startup = false;
        c.log.printf("Focus kept from start-up %d", int(c.startup_focus_w));
        win.post(c.main_window, WM_SETFOCUS, c.startup_focus_w, 0);
    }
    return true;
}

// WM_CREATE: the quit event and the worker.
void on_create(Context& c) {
    bool existed = false;
    c.quit_event = c.p.sync().create_event(u"", false, false, &existed);
    if (c.quit_event) c.worker = std::thread(worker_main, &c);
}

// WM_CLOSE and WM_DESTROY alike.
void orderly_end(Context& c, std::uint32_t msg, WParam w) {
    c.log.printf("WM_CLOSE %d(%d)", int(msg), int(w));
    if (c.quit_event) {
        c.p.sync().set_event(c.quit_event);
        // The worker gets 300 ms. A thread still busy then is not killed (that could leave the
        // shared state half written): it is joined when the context goes, as the program ends.
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        while (!c.worker_done && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (c.worker_done && c.worker.joinable()) c.worker.join();
        if (!c.worker.joinable()) {
            c.p.sync().close(c.quit_event);
            c.quit_event = 0;
        }
    }
    kill_all_timer(c, true);
    c.p.windows().post_quit(0);
    gfx::CloseScreen(c.screen);
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

}  // namespace lumo::lockscreen
