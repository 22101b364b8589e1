// The service's entry: command line, single instance, settings load, the start sequence, the
// message loop and what follows it.
#include "lumo/service/service.h"

#include <cstdarg>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <span>
#include <thread>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "parts.h"
#include "worker.h"

namespace lumo::service {

using namespace platform;
using catalogue::Id;
using protocol::Program;

namespace {

constexpr std::u16string_view kServiceWindow = protocol::window_name(Program::Service);
constexpr std::u16string_view kStartMenuClass = u"MSSTARTMENU";
constexpr std::u16string_view kHardwareKey = u"System\\State\\Hardware";
constexpr std::u16string_view kBluetoothValue = u"Bluetooth";
constexpr std::u16string_view kConnectionsKey = u"System\\State\\Connections";
constexpr std::u16string_view kCountValue = u"Count";
constexpr std::u16string_view kSkinKey = u"Security\\Phone\\Skin";
constexpr std::u16string_view kEnabledValue = u"Enabled";
constexpr std::u16string_view kPasswordKey = u"ControlPanel\\Password";
constexpr std::u16string_view kHintCounterValue = u"HintCounter";
// The mark of a service that has started, taken before its first-start questions can hold it up
// (its window comes only after them), and how a lock asked for meanwhile reaches it.
constexpr std::u16string_view kInstanceMark = u"Vardex2Instance";
constexpr std::u16string_view kShowWanted = u"Vardex2ShowWanted";

// The system unread counters that -reset clears (HKEY_CURRENT_USER, value Count).
constexpr std::u16string_view kResetCounterKeys[] = {
    u"System\\State\\Messages\\VMail\\Total\\Unread",
    u"System\\State\\Messages\\SMS\\Unread",
    u"System\\State\\Messages\\MMS\\Unread",
    u"System\\State\\Messages\\TotalEmail\\Unread",
};

// Wallpapers that name single pictures; a periodic change needs a folder.
constexpr std::u16string_view kPictureExtensions[] = {u".bmp", u".jpg", u".png", u".gif"};

bool names_picture(std::u16string_view path) {
    for (auto ext : kPictureExtensions) {
        if (path.size() < ext.size()) continue;
        auto tail = path.substr(path.size() - ext.size());
        bool same = true;
        for (std::size_t i = 0; i < ext.size(); ++i) {
            char16_t c = tail[i];
            if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
            same &= c == ext[i];
        }
        if (same) return true;
    }
    return false;
}

bool device_file_exists(State& s, std::u16string_view path) {
    auto host = s.platform->processes().host_path(path);
    std::error_code ec;
    return host && std::filesystem::is_regular_file(*host, ec);
}

void compute_paths(State& s) {
    s.ProgramFolder = program_folder(s.platform->processes().own_path());
    s.LockScreenPath =
        s.ProgramFolder + u"\\" + std::u16string(protocol::exe_name(Program::LockScreen));
    auto zorp = std::u16string(protocol::exe_name(Program::Zorp));
    s.MusicPlayerPath = s.ProgramFolder + u"\\" + zorp;
    s.MusicPlayerInstalled = device_file_exists(s, s.MusicPlayerPath);
    if (!s.MusicPlayerInstalled && s.ProgramFolder.size() >= 2) {
        // The player's own folder sits beside ours, named with a 'P' for our last two letters.
        auto sibling = s.ProgramFolder.substr(0, s.ProgramFolder.size() - 2) + u"P";
        s.MusicPlayerPath = sibling + u"\\" + zorp;
        s.MusicPlayerInstalled = device_file_exists(s, s.MusicPlayerPath);
    }
}

bool reg_exists(Registry& reg, Root root, std::u16string_view key, std::u16string_view name) {
    auto k = reg.open_key(root, key);
    if (!k) return false;
    // A read into no buffer fails, but reports the size of a value that exists.
    ValueInfo info;
    info.size = 0xFFFFFFFF;
    return reg.read_value(*k, name, {}, &info) || info.size != 0xFFFFFFFF;
}

bool read_debug_on(Registry& reg) {
    auto key = reg.open_key(Root::CurrentUser, protocol::kRootKey);
    std::uint8_t on = 0;
    if (key) catalogue::read_byte(reg, *key, catalogue::setting(Id::DebugOn).name, on);
    return on != 0;
}

void show_first_start_boxes(State& s) {
    auto& win = s.platform->windows();
    win.message_box(0, kLicenceText, kLicenceCaption, MB_OK | MB_SETFOREGROUND);
    win.message_box(0, kDisclaimerText, kDisclaimerCaption, MB_OK | MB_SETFOREGROUND);
}

void stop_timer_thread(State& s) {
    auto& sync = s.platform->sync();
    stop_timer_event_listener(s);
    clear_user_notifications(s);
    if (s.NotifyEvent) sync.close(s.NotifyEvent);
    if (s.NotifyStopEvent) sync.close(s.NotifyStopEvent);
    s.NotifyEvent = s.NotifyStopEvent = 0;
}

}  // namespace

const std::u16string_view kLicenceText =
    u"Lumo is freeware. You may use it on any number of your own devices and give away copies "
    u"of the unchanged installation free of charge. You may not sell it, bundle it with a paid "
    u"product, or hand it out changed, without the author's written consent.";
const std::u16string_view kDisclaimerText =
    u"Lumo is provided as is, without warranty of any kind. The author is not liable for any "
    u"damage, lost data, missed calls or other loss that comes from using it. Use it at your own "
    u"risk.";

State::State() {
    for (auto& c : counters) c = -1;
    sleep = [](std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

State::~State() {
    // Threads still running (a test that never destroyed the window) end before their state.
    if (power_thread) power_thread->stop(kPowerThreadWaitMs);
    if (appointment_thread) appointment_thread->stop(kAppointmentThreadWaitMs);
    if (ListenerQuit) *ListenerQuit = true;
    if (timer_thread) timer_thread->stop(kTimerThreadWaitMs);
}

std::uint32_t setting(State& state, catalogue::Id id) {
    std::lock_guard lock(state.SettingsMutex);
    return state.settings.num(id);
}

void trace(State& state, const char* format, ...) {
    if (!state.verbose.load()) return;
    char buf[log::kMaxMessageChars + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    state.log.write(std::string_view(buf));
}

Command classify(std::u16string_view command_line, bool service_running) {
    for (const auto& row : kCommandTable)
        if (protocol::starts_with_switch(command_line, row.prefix) &&
            (!row.needs_running || service_running))
            return row.command;
    return service_running ? Command::Stop : Command::Start;
}

Hwnd find_slide_window(State& s) {
    auto& win = s.platform->windows();
    Hwnd h = s.SlideWindow;
    if (h && win.is_window(h)) return h;
    auto name = protocol::window_name(Program::LockScreen);
    h = win.find_window(name, name);
    s.SlideWindow = h;
    trace(s, "SlideWnd %0X", h);
    return h;
}

bool post_to_lock_screen(State& s, std::uint32_t msg, WParam wparam) {
    Hwnd h = find_slide_window(s);
    return h && s.platform->windows().post(h, msg, wparam, s.LcdOff ? 1 : 0);
}

void load_settings(State& s) {
    auto& reg = s.platform->registry();
    compute_paths(s);
    // Loaded aside and put in place at once: the power thread reads the settings meanwhile.
    auto st = catalogue::Values::defaults(
        Program::Service, catalogue::vibration_led_default(notification_led_count(s)));
    if (auto root = catalogue::open_root(reg)) {
        if (root->created) {
            show_first_start_boxes(s);
            catalogue::write_defaults(reg, root->key, st);
        }
        catalogue::ServiceFacts facts;
        facts.music_player_installed = s.MusicPlayerInstalled;
        facts.os_major_version = s.OsMajorVersion;
        catalogue::load_service(reg, root->key, st, facts);
    }
    s.verbose = st.num(Id::DebugOn) != 0;
    trace(s, "%s path: %s s=%d c=%d", to_utf8(protocol::exe_name(Program::Zorp)).c_str(),
          to_utf8(s.MusicPlayerPath).c_str(), int(st.num(Id::HPstartZorp)),
          int(st.num(Id::HPcloseZorp)));
    if (reg_exists(reg, Root::LocalMachine, kPasswordKey, kHintCounterValue))
        st.set_num(Id::NoSystemLock, 1);
    if (names_picture(st.text(Id::Wallpaper)) && names_picture(st.text(Id::WallpaperL)))
        st.set_num(Id::WallpaperChangeTime, 0);
    {
        std::lock_guard lock(s.SettingsMutex);
        s.settings = std::move(st);
    }
    read_exception_list(s);
    load_phone_names(s);
    catalogue::create_missing_subkey_values(reg);
    video_power_escape_supported(s);
}

bool start(State& s, Platform& p, std::u16string_view command_line) {
    s.platform = &p;
    s.MainThread = std::this_thread::get_id();
    s.CommandLine = std::u16string(command_line);
    auto& win = p.windows();
    auto& reg = p.registry();
    auto& cfg = s.settings;
    // Held from before the first-start questions, so that a "-show" start meanwhile finds it.
    struct Event {
        Sync& sync;
        SyncHandle handle;
        ~Event() {
            if (handle) sync.close(handle);
        }
    } show_wanted{p.sync(), p.sync().create_event(kShowWanted, true, false)};

    // 1. The log, in the program's folder.
    compute_paths(s);
    s.log_env = std::make_unique<log::ClockEnvironment>(p.clock());
    bool debug_on = read_debug_on(reg);
    s.verbose = debug_on;
    if (auto folder = p.processes().host_path(s.ProgramFolder))
        s.log = log::Log::open(log::Variant::Service, *folder, debug_on, *s.log_env);

    // 2. The window class and the instance start-up.
    win.register_class(kServiceWindow, [&s](Hwnd h, std::uint32_t m, WParam w, LParam l) {
        return window_proc(s, h, m, w, l);
    });
    if (turn_system_lock_off(s)) return false;
    read_power_status(s);
    trace(s, "%s", kVersionLine);
    load_settings(s);
    if (!device_file_exists(s, s.LockScreenPath)) {
        trace(s, "%s missing", to_utf8(s.LockScreenPath).c_str());
        return false;
    }
    CreateWindowParams params;
    params.class_name = std::u16string(kServiceWindow);
    params.title = std::u16string(kServiceWindow);
    params.style = WS_BORDER;
    Hwnd self = win.create_window(params);
    if (!self) return false;
    win.show_window(self, SW_HIDE);

    if (auto bt = reg.get_dword(Root::LocalMachine, kHardwareKey, kBluetoothValue))
        s.BluetoothOn = (*bt & 1) != 0;
    if (auto count = reg.get_dword(Root::LocalMachine, kConnectionsKey, kCountValue))
        s.ConnectionCount = *count;

    clear_user_notifications(s);
    s.NotifyEvent = p.sync().create_event(u"Vardex2Notify", true, false);
    s.NotifyStopEvent = p.sync().create_event(u"VardexNotifyStop", true, false);
    if (!start_timer_event_listener(s)) {
        win.destroy_window(self);
        return false;
    }
    arm_sleep_timer(s);
    find_task_bar(s);
    settle_task_bar(s);

    // 3. The boot tick.
    s.BootTick = p.clock().tick_count();
    s.log.printf("Boot Tick %d", int(s.BootTick));
    s.RecentBoot = s.BootTick <= kRecentBootMaxTick;
    const std::uint32_t boot_delay = cfg.num(Id::DelayBootUpMS);

    // 4. The first lock (also one a "-show" start asked for while this start was busy).
    bool show = protocol::starts_with_switch(command_line, protocol::service_switch::kShow);
    if (show_wanted.handle && p.sync().wait(std::span(&show_wanted.handle, 1), false, 0) == 0) {
        trace(s, "Show asked during start-up");
        show = true;
    }
    if (show) {
        wake_lock_screen(s, 0);
        win.post(self, protocol::WM_Locked, 0, 0);
    } else if (s.RecentBoot && cfg.num(Id::PasswordLock)) {
        win.set_timer(self, kTimerBootLock, boot_delay);
    } else {
        start_unattended(s);
        start_lock_screen_hidden(s);
    }

    // 5. The delayed start-up.
    if (s.RecentBoot) {
        bool start_menu = win.find_window(kStartMenuClass, std::nullopt) != 0;
        win.set_timer(self, kTimerStartMenu, start_menu ? 0 : boot_delay - kStartMenuLead);
    }
    win.set_timer(self, kTimerDelayedStart, s.RecentBoot ? boot_delay : 0);

    // 6. Counters and the phone application.
    read_initial_counters(s);
    s.SkinnedPhone = reg.get_dword(Root::LocalMachine, kSkinKey, kEnabledValue) == 1u;
    if (cfg.num(Id::CallerID)) {
        s.IncomingWindow = find_incoming_window(s);
        trace(s, "Incoming Wnd %0X", s.IncomingWindow);
    }

    // 7. What an earlier run may have left changed.
    restore_overrides(s);
    subclass_shell_notify(s);
    return true;
}

void message_loop(State& s) {
    auto& win = s.platform->windows();
    Message m;
    while (win.get_message(m)) win.dispatch(m);
}

void after_loop(State& s) {
    stop_timer_thread(s);
    restore_shell(s);
}

int run(Platform& p, std::u16string_view command_line) {
    State s;
    s.platform = &p;
    auto& win = p.windows();
    const bool running = win.find_window(kServiceWindow, kServiceWindow) != 0;
    switch (classify(command_line, running)) {
        case Command::Slide:
            compute_paths(s);
            wake_lock_screen(s, kWakeFront);
            break;
        case Command::Reset:
            for (auto key : kResetCounterKeys)
                if (p.registry().create_key(Root::CurrentUser, key))
                    p.registry().set_dword(Root::CurrentUser, key, kCountValue, 0);
            break;
        case Command::Unlock:
            post_to_lock_screen(s, protocol::WM_Unlock, 0);
            break;
        case Command::Password:
            post_to_lock_screen(s, protocol::WM_LOCK_PASSWORD, 0);
            break;
        case Command::Stop: {
            if (Hwnd lumo = find_slide_window(s)) win.post(lumo, WM_CLOSE, 0, 0);
            bool quiet =
                protocol::starts_with_switch(command_line, protocol::service_switch::kNoMessage);
            win.post(win.find_window(kServiceWindow, kServiceWindow), WM_CLOSE, quiet ? 0 : 1, 0);
            break;
        }
        case Command::Start: {
            bool existed = false;
            SyncHandle mark = p.sync().create_mutex(kInstanceMark, &existed);
            if (existed) {
                // Another start is under way and has no window yet (its first-start questions
                // are up): a second service would run beside it. A lock asked for is left to it.
                if (protocol::starts_with_switch(command_line, protocol::service_switch::kShow)) {
                    if (SyncHandle wanted = p.sync().create_event(kShowWanted, true, false)) {
                        p.sync().set_event(wanted);
                        p.sync().close(wanted);
                    }
                }
                if (mark) p.sync().close(mark);
                break;
            }
            if (start(s, p, command_line)) {
                message_loop(s);
                after_loop(s);
            }
            if (mark) p.sync().close(mark);
            break;
        }
    }
    return 0;
}

}  // namespace lumo::service
