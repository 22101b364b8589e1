// The program's entry: only beside the settings program, one window only, the log, the
// thumbnail worker with its events, the window, the display, the texts and pictures, the
// service's status messages, the G-sensor, and the orderly end.
#include <chrono>
#include <filesystem>
#include <system_error>

#include "lumo/gfx/display_backend.h"
#include "lumo/gfx/load.h"
#include "lumo/gfx/theme.h"
#include "lumo/browser/browser.h"
#include "lumo/platform/imaging_thread.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::browser {

using namespace platform;
using catalogue::Id;
namespace proto = protocol;

namespace {

std::u16string_view own_window() { return proto::window_name(proto::Program::Browser); }

Hwnd find_program(Context& c, proto::Program p) {
    auto n = proto::window_name(p);
    return c.p.windows().find_window(n, n);
}

void load_picture(Context& c, gfx::Image& img, std::u16string_view file) {
    gfx::LoadImageFile(img, c.screen, gfx::ThemePicturePath(c.program_folder, file), gfx::kFitNative, 0, 0);
}

// The worker: wakes on its start event, walks the jobs it finds, and ends on the quit event.
// Between two pictures it looks at the stop flag, so a new listing or the end never waits for
// the rest of a folder.
void worker_main(Context* c) {
    auto& jobs = c->jobs;
    auto imaging = make_sdl_imaging();
    SyncHandle handles[2] = {c->start_event, c->quit_event};
    while (!jobs.quit.load()) {
        auto r = c->p.sync().wait(handles, false, kInfinite);
        if (r == 1 || jobs.quit.load()) break;
        if (r != 0) {
            c->log.write("Error: DrawThumbnailEvent");
            break;
        }
        for (;;) {
            if (jobs.stop.load() || jobs.quit.load()) break;
            ThumbJob job;
            std::uint64_t generation;
            int side;
            gfx::PixelFormat format;
            {
                std::lock_guard lock(jobs.mutex);
                if (jobs.pending.empty()) break;
                job = std::move(jobs.pending.front());
                jobs.pending.erase(jobs.pending.begin());
                generation = jobs.generation;
                side = jobs.side;
                format = jobs.format;
            }
            ThumbResult result;
            result.generation = generation;
            result.index = job.index;
            result.source = make_thumbnail(*imaging, job.picture, job.cache, job.store, side, format, result.image);
            (result.source == ThumbSource::Made     ? jobs.made
             : result.source == ThumbSource::Cache ? jobs.from_cache
                                                    : jobs.failed)
                .fetch_add(1);
            bool first;
            {
                std::lock_guard lock(jobs.mutex);
                first = jobs.done.empty();
                jobs.done.push_back(std::move(result));
            }
            // One message per batch: the window thread takes everything waiting at once.
            if (first) c->p.windows().post(c->main_window, kMsgThumbsReady, 0, 0);
        }
    }
    imaging.reset();
    release_imaging_thread_state();
    jobs.finished.store(true);
}

void init_gsensor(Context& c) {
    std::u16string_view key = kGSensorKey;
    auto v = c.p.registry().get_dword(Root::LocalMachine, key, kGSensorValue);
    c.gsensor = v.has_value();
    if (!c.gsensor) return;
    bool existed = false;
    auto ev = c.p.sync().create_event(u"HTC_GSENSOR_SERVICESTART", false, false, &existed);
    if (ev && existed) c.p.sync().set_event(ev);
    if (ev) c.p.sync().close(ev);
    NotificationRequest r;
    r.root = Root::LocalMachine;
    r.key = std::u16string(key);
    r.value = std::u16string(kGSensorValue);
    r.target = c.main_window;
    r.message = kMsgGSensor;
    c.gsensor_notification = c.p.broker().register_notification(r);
    c.log.printf("Init GSensor %d", c.gsensor_notification ? 1 : 0);
}

}  // namespace

void close_gsensor(Context& c) {
    if (!c.gsensor) return;
    if (c.gsensor_notification) c.p.broker().close_notification(c.gsensor_notification);
    c.log.printf("Close GSensor %d", c.gsensor_notification ? 1 : 0);
    c.gsensor_notification = 0;
    bool existed = false;
    auto ev = c.p.sync().create_event(u"HTC_GSENSOR_SERVICESTOP", false, false, &existed);
    if (ev && existed) c.p.sync().set_event(ev);
    if (ev) c.p.sync().close(ev);
    c.gsensor = false;
}

void open_gsensor(Context& c) {
    if (!c.gsensor) init_gsensor(c);
}

Context::Context(Platform& platform, Display& d) : p(platform), display(d) {
    settings = catalogue::Values::defaults(proto::Program::Browser, 255);
}

Context::~Context() { stop_worker(*this); }

void stop_worker(Context& c) {
    if (!c.worker.joinable()) return;
    c.jobs.stop.store(true);
    c.jobs.quit.store(true);
    if (c.quit_event) c.p.sync().set_event(c.quit_event);
    // The worker gets 500 ms; one still decoding a picture then is left to end on its own
    // (killing it could leave the decoder's memory half written) and joined as the program goes.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (!c.jobs.finished.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!c.jobs.finished.load()) c.log.write("thumbnail worker still busy at the end");
    c.worker.join();
    if (c.start_event) c.p.sync().close(c.start_event);
    if (c.quit_event) c.p.sync().close(c.quit_event);
    c.start_event = c.quit_event = 0;
}

bool open_display(Context& c) {
    int backend = gfx::RequestedBackend(int(c.settings.num(Id::DisplayMode)));
    if (!gfx::OpenScreen(c.screen, c.display, c.main_window, backend, c.imaging.get(),
                         [&c](const std::string& line) { c.log.write(line); }))
        return false;
    c.screen.fonts = c.fonts.get();
    c.rotation = 0;
    gfx::CloseScreen(c.turned);
    c.screen_width = c.screen.logical_width;
    c.screen_height = c.screen.logical_height;
    return true;
}

EntryResult enter(Context& c, std::u16string_view command_line) {
    auto& win = c.p.windows();
    // A companion of the settings program only.
    if (!find_program(c, proto::Program::Settings)) return EntryResult::Ended;
    if (Hwnd running = win.find_window(own_window(), own_window())) {
        win.show_window(running, SW_RESTORE);
        win.set_foreground_window(running);
        return EntryResult::Ended;
    }
    c.program_folder = program_folder(c.p.processes().own_path());
    c.log_env = std::make_unique<log::ClockEnvironment>(c.p.clock());
    if (auto host = c.p.processes().host_path(c.program_folder))
        c.log = log::Log::open(log::Variant::Browser, *host, c.p.registry(), *c.log_env);
    bool existed = false;
    c.start_event = c.p.sync().create_event(u"", false, false, &existed);
    c.quit_event = c.p.sync().create_event(u"", true, false, &existed);
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
    win.set_foreground_window(c.main_window);
    if (c.start_event && c.quit_event) c.worker = std::thread(worker_main, &c);
    c.log.write(kVersionText);
    catalogue::load_browser(c.p.registry(), c.settings);
    if (!c.imaging) {
        auto& procs = c.p.processes();
        c.imaging = make_sdl_imaging([&procs](std::u16string_view path) { return procs.host_path(path); });
    }
    if (!c.fonts) c.fonts = make_sdl_fonts();
    if (!open_display(c)) {
        std::u16string text = u"The display cannot be opened (error " +
                              to_u16(std::to_string(c.screen.last_error)) + u").";
        c.log.write(text);
        win.message_box(c.main_window, text, own_window(), MB_OK);
        stop_worker(c);
        win.destroy_window(c.main_window);
        return EntryResult::Ended;
    }
    std::optional<std::filesystem::path> host = c.p.processes().host_path(c.program_folder);
    auto file = host ? lang::LangFile::open(*host) : lang::LangFile();
    c.texts = lang::load(file, lang::browser_keys());
    load_picture(c, c.background, u"stbg.png");
    load_picture(c, c.topbar, u"sttopbar.png");
    load_picture(c, c.folder_icon, u"iconfolder.png");
    load_picture(c, c.zoom_icons, u"zoominout.png");
    load_picture(c, c.menu_icon, u"smenu.png");
    load_picture(c, c.play_stop, u"pbutton.png");
    load_picture(c, c.arrow, u"starrow.png");
    load_picture(c, c.back, u"sback.png");
    if (Hwnd s = find_program(c, proto::Program::Service)) {
        win.post(s, proto::WM_GetBatteryFor, WParam(c.main_window), 0);
        win.post(s, proto::WM_AddStateListener, WParam(c.main_window), 0);
    }
    c.operator_name = c.p.registry()
                          .get_string(Root::LocalMachine, u"System\\State\\Phone", u"Current Operator Name")
                          .value_or(u"");
    init_gsensor(c);
    begin_browsing(c, command_line);
    draw(c);
    win.set_timer(c.main_window, kTimerStart, 0);
    return EntryResult::Running;
}

void begin_browsing(Context& c, std::u16string_view argument) {
    c.argument = std::u16string(argument.substr(0, 262));
    auto& procs = c.p.processes();
    auto pictures = procs.special_folder(SpecialFolder::MyPictures);
    auto v = start_view(c.argument, c.program_folder, pictures, [&procs](std::u16string_view path) {
        auto host = procs.host_path(path);
        std::error_code ec;
        return host && std::filesystem::is_directory(*host, ec);
    });
    c.log.printf("Browse %s", to_utf8(c.argument).c_str());
    close_picture(c);
    c.menu_open = false;
    c.submenu = 0;
    c.listing = v.listing;
    c.view = View::Files;
    open_folder(c, v.folder, v.file);
}

void finish(Context& c) {
    auto& win = c.p.windows();
    for (auto t : {kTimerFling, kTimerExit, kTimerSlide, kTimerStart, kTimerWallpaper}) win.kill_timer(c.main_window, t);
    if (c.shown)
        if (Hwnd s = find_program(c, proto::Program::Service))
            win.post(s, proto::WM_RemoveStateListener, WParam(c.main_window), 0);
    close_gsensor(c);
    c.p.sound().stop();
    stop_worker(c);
    gfx::CloseScreen(c.turned);
    gfx::CloseScreen(c.screen);
    c.ended = true;
    win.destroy_window(c.main_window);
    win.post_quit(0);
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

}  // namespace lumo::browser
