// The window procedure: the finger (drag, fling, taps on the grid, the rows, the menu and the
// buttons), the keys that zoom, the picks and what each writes, the exit with its slide-out,
// the browse message, the worker's results, the G-sensor and the service's status.
#include <algorithm>
#include <cmath>

#include "lumo/browser/browser.h"
#include "lumo/gfx/draw.h"
#include "lumo/gfx/effects.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"

namespace lumo::browser {

using namespace platform;
using catalogue::Id;
namespace proto = protocol;

void close_gsensor(Context& c);
void open_gsensor(Context& c);

namespace {

constexpr std::uint32_t kVkUp = 0x26, kVkDown = 0x28;

int lparam_x(LParam l) { return std::int16_t(std::uint32_t(l) & 0xFFFF); }
int lparam_y(LParam l) { return std::int16_t(std::uint32_t(l) >> 16); }
int U(const Context& c, int n) { return gfx::ScaleUnit(c.screen, n); }

Hwnd find_program(Context& c, proto::Program p) {
    auto n = proto::window_name(p);
    return c.p.windows().find_window(n, n);
}

std::u16string selected_path(Context& c) { return entry_path(c, c.selected); }

void write_value(Context& c, Id id, std::u16string_view value) {
    if (auto root = catalogue::open_root(c.p.registry()))
        catalogue::write_text(c.p.registry(), root->key, catalogue::setting(id).name, value);
}

void stop_fling(Context& c) {
    c.scroll.stop();
    c.p.windows().kill_timer(c.main_window, kTimerFling);
}

void on_status(Context& c, std::uint32_t msg, WParam w, LParam l) {
    switch (msg) {
        case proto::WM_UpdateBattery: c.battery = std::uint32_t(w); c.on_ac = l != 0; break;
        case proto::WM_CHANGE_PHONESIGNALSTRENGTH: c.signal = std::uint32_t(w); break;
        case proto::WM_CHANGE_SN_PHONEOPERATORNAME:
            c.operator_name = c.p.registry()
                                  .get_string(Root::LocalMachine, u"System\\State\\Phone", u"Current Operator Name")
                                  .value_or(u"");
            break;
        case proto::WM_CHANGE_SN_BLUETOOTH: c.bluetooth = (w & 1) != 0; break;
        case proto::WM_CHANGE_SN_WIFI: c.wifi = w != 0; break;
        case proto::WM_CHANGE_HEADPHONE: c.headphone = w != 0; break;
        case proto::WM_CHANGE_CONNECTIONSCOUNT: c.connections = std::uint32_t(w); break;
        default: break;
    }
}

void tap_menu(Context& c, int x, int y) {
    int top, row_h, left, width;
    menu_geometry(c, top, row_h, left, width);
    if (x < left || x >= left + width || y < top || y >= top + row_h * int(c.menu.size())) {
        c.menu_open = false;
        c.submenu = 0;
        return;
    }
    int i = (y - top) / row_h;
    run_action(c, c.menu[std::size_t(i)].action);
}

void tap_buttons(Context& c, int x) {
    auto labels = bottom_labels(c);
    if (labels.empty()) return;
    int index = std::clamp(x * int(labels.size()) / std::max(1, c.screen_width), 0, int(labels.size()) - 1);
    switch (c.view) {
        case View::Files:
            if (index == 0) open_folder_list(c, c.folder);
            else if (index == 1) {
                c.menu = build_menu(c);
                c.menu_open = true;
            } else run_action(c, kActCancel);
            return;
        case View::Folders:
            if (index == 0) {
                // Done: the files of the folder shown.
                c.view = View::Files;
                if (c.folder_list != c.folder) open_folder(c, c.folder_list);
                else request_thumbnails(c);
            } else {
                c.view = View::Files;
                c.scroll = Scroll{};
                request_thumbnails(c);
            }
            return;
        case View::Picture:
            if (index == 0) zoom_out(c);
            else if (index == 1) zoom_in(c);
            else if (index == 2) {
                c.menu = build_menu(c);
                c.menu_open = true;
            } else {
                close_picture(c);
                request_thumbnails(c);
            }
            return;
    }
}

void tap(Context& c, int x, int y) {
    if (c.menu_open) {
        tap_menu(c, x, y);
        return;
    }
    auto l = layout(c);
    if (y >= l.bottom) {
        tap_buttons(c, x);
        return;
    }
    switch (c.view) {
        case View::Files: {
            if (y < l.top) return;
            int i = entry_at(c, x, y);
            if (i < 0) {
                c.selected = -1;
                return;
            }
            if (i == c.selected && c.listing == Listing::Pictures) {
                open_picture(c, i);
                return;
            }
            c.selected = i;
            c.log.printf("Select TN:%d (%d)", i, int(c.entries.size()));
            // A sound row's play mark plays it at once.
            if (c.listing == Listing::Sounds && x < U(c, 4) + c.play_stop.width / 2 + U(c, 4)) run_action(c, kActPlay);
            return;
        }
        case View::Folders: {
            bool arrow = false;
            int i = folder_at(c, x, y, &arrow);
            if (i < 0) return;
            const auto& f = c.folders[std::size_t(i)];
            std::u16string path;
            if (f.name == u"..") {
                auto slash = c.folder_list.find_last_of(u'\\');
                path = slash == std::u16string::npos ? std::u16string() : c.folder_list.substr(0, slash);
                open_folder_list(c, path);
                return;
            }
            path = c.folder_list + u"\\" + f.name;
            if (arrow) {
                open_folder_list(c, path);
                return;
            }
            c.view = View::Files;
            open_folder(c, path);
            return;
        }
        case View::Picture:
            return;
    }
}

}  // namespace

std::vector<MenuItem> build_menu(Context& c) {
    auto t = [&c](std::u16string_view k) { return c.texts.get(k); };
    std::vector<MenuItem> m;
    if (c.submenu == kActWallpaper || c.submenu == kActWallpaperFolder) {
        m.push_back({t(u"s_Portrait="), kActPortrait});
        m.push_back({t(u"s_Landscape="), kActLandscape});
        m.push_back({t(u"s_Cancel="), kActCancel});
        return m;
    }
    if (c.submenu == kActSound) {
        m.push_back({t(u"s_Lock="), kActLock});
        m.push_back({t(u"s_Unlock="), kActUnlock});
        m.push_back({t(u"s_Cancel="), kActCancel});
        return m;
    }
    if (c.view == View::Picture) {
        if (!c.picture_corrupt) m.push_back({t(u"s_LumoWallpaper="), kActWallpaper});
        m.push_back({u"Rotate Clockwise", kActRotateCw});
        m.push_back({u"Rotate AntiClockwise", kActRotateCcw});
        m.push_back({t(u"s_Done="), kActView});
        return m;
    }
    bool sel = c.selected >= 0 && std::size_t(c.selected) < c.entries.size();
    switch (c.listing) {
        case Listing::Pictures:
            if (sel) m.push_back({t(u"s_LumoWallpaper="), kActWallpaper});
            m.push_back({t(u"s_LumoWallpaperFolder="), kActWallpaperFolder});
            break;
        case Listing::Sounds:
            if (sel) {
                m.push_back({t(u"s_LumoSound="), kActSound});
                m.push_back({t(u"s_Play="), kActPlay});
            }
            m.push_back({t(u"s_Stop="), kActStop});
            break;
        case Listing::Themes:
            if (sel) m.push_back({t(u"s_LoadThisTheme="), kActTheme});
            break;
        case Listing::Programs:
            // From the argument alone both picks are open; the browse message names one.
            if (sel && c.mode != kModeException) m.push_back({t(u"s_UnlockRunExe="), kActRunExe});
            if (sel && c.mode != kModeUnlockProgram) m.push_back({t(u"s_AddThisExe="), kActException});
            break;
    }
    auto mark = [&](SortKey k) {
        if (c.sort.key != k) return std::u16string();
        return u" " + t(c.sort.descending ? u"s_DescendSymbol=" : u"s_AscendSymbol=");
    };
    m.push_back({t(u"s_SortByName=") + mark(SortKey::Name), kActSortName});
    m.push_back({t(u"s_SortByTime=") + mark(SortKey::Time), kActSortTime});
    m.push_back({t(u"s_Refresh="), kActRefresh});
    if (sel) m.push_back({t(u"s_Delete="), kActDelete});
    m.push_back({t(u"s_Cancel="), kActCancel});
    return m;
}

void pick_text(Context& c, Id id, std::u16string_view value, bool twice) {
    c.log.printf("Pick %s %s", to_utf8(catalogue::setting(id).name).c_str(), to_utf8(value).c_str());
    if (!twice) {
        write_value(c, id, value);
        start_exit(c);
        return;
    }
    // Empty first, so that every watcher sees a change even when the path is the same.
    write_value(c, id, u"");
    c.pending_id = id;
    c.pending_value = std::u16string(value);
    c.p.windows().set_timer(c.main_window, kTimerWallpaper, kWallpaperDelayMs);
}

void run_action(Context& c, int action) {
    int parent = c.submenu;
    c.menu_open = false;
    c.submenu = 0;
    auto path = c.view == View::Picture ? c.picture_path : selected_path(c);
    switch (action) {
        case kActWallpaper:
        case kActWallpaperFolder:
        case kActSound:
            c.submenu = action;
            c.menu = build_menu(c);
            c.menu_open = true;
            return;
        case kActPortrait:
        case kActLandscape: {
            bool portrait = action == kActPortrait;
            if (parent == kActWallpaperFolder) {
                pick_text(c, portrait ? Id::Wallpaper : Id::WallpaperL, c.folder + u"\\", true);
                return;
            }
            set_wallpaper(c, portrait);
            return;
        }
        case kActLock:
        case kActUnlock:
            if (!path.empty()) pick_text(c, action == kActLock ? Id::LockSound : Id::UnlockSound, path, false);
            return;
        case kActPlay:
            if (path.empty()) return;
            c.log.printf("Play %s", to_utf8(path).c_str());
            c.p.sound().play(path, kSoundAsync | kSoundNoDefault);
            return;
        case kActStop:
            c.p.sound().stop();
            return;
        case kActTheme: {
            if (path.empty()) return;
            write_value(c, Id::LoadTheme, path);
            if (Hwnd s = find_program(c, proto::Program::Settings)) c.p.windows().post(s, kMsgBrowse, 0, 0);
            c.log.printf("Pick LoadTheme %s", to_utf8(path).c_str());
            start_exit(c);
            return;
        }
        case kActRunExe:
            if (!path.empty()) pick_text(c, Id::UnlockRunEXE, path, false);
            return;
        case kActException: {
            if (path.empty()) return;
            write_value(c, Id::TempExceptionEXE, file_name(path));
            if (Hwnd s = find_program(c, proto::Program::Settings)) c.p.windows().post(s, kMsgExceptionPicked, 0, 0);
            c.log.printf("Pick TempExceptionEXE %s", to_utf8(file_name(path)).c_str());
            start_exit(c);
            return;
        }
        case kActSortName: set_sort(c, SortKey::Name); return;
        case kActSortTime: set_sort(c, SortKey::Time); return;
        case kActRefresh: refresh(c); return;
        case kActDelete: delete_selected(c); return;
        case kActRotateCw: rotate_view(c, 1); return;
        case kActRotateCcw: rotate_view(c, 3); return;
        case kActView:
            close_picture(c);
            request_thumbnails(c);
            return;
        case kActCancel:
            // In a submenu "Cancel" closes it; elsewhere it ends the browsing.
            if (parent == 0) start_exit(c);
            return;
        default: return;
    }
}

void start_exit(Context& c) { c.p.windows().set_timer(c.main_window, kTimerExit, 0); }

namespace {

void exit_tick(Context& c) {
    auto& win = c.p.windows();
    for (auto t : {kTimerFling, kTimerExit, kTimerSlide, kTimerStart, kTimerWallpaper}) win.kill_timer(c.main_window, t);
    c.log.write("KillAllTimer");
    if (Hwnd s = find_program(c, proto::Program::Service))
        win.send(s, proto::WM_RemoveStateListener, WParam(c.main_window), 0, 1000);
    close_gsensor(c);
    {
        // What the worker has not begun is dropped.
        std::lock_guard lock(c.jobs.mutex);
        c.jobs.pending.clear();
    }
    c.jobs.stop.store(true);
    c.slide_frame = 0;
    win.set_timer(c.main_window, kTimerSlide, kSlidePeriodMs);
}

void slide_tick(Context& c) {
    auto& win = c.p.windows();
    if (++c.slide_frame <= kSlideFrames) {
        // The view moves out to the right, a fifth of the screen a frame.
        gfx::Image shot;
        if (gfx::ImageFromBackBuffer(shot, c.screen)) {
            auto brush = gfx::MakeBrush(0);
            auto* prev = gfx::SelectBrush(c.screen, &brush);
            gfx::FillRect(c.screen, 0, 0, c.screen_width, c.screen_height, 32);
            if (prev) gfx::SelectBrush(c.screen, prev);
            gfx::DrawImage(shot, c.screen, c.screen_width / kSlideFrames, 0, 0, 0, 0, gfx::kCopy, 32);
            gfx::PresentScreen(c.screen);
        }
        if (c.slide_frame < kSlideFrames) return;
    }
    win.kill_timer(c.main_window, kTimerSlide);
    c.p.sound().stop();
    gfx::SuspendScreen(c.screen);
    c.shown = false;
    if (Hwnd s = find_program(c, proto::Program::Settings)) win.set_foreground_window(s);
    win.show_window(c.main_window, SW_MINIMIZE);
    c.log.write("Minimized");
}

void browse_message(Context& c, std::uint32_t mode) {
    catalogue::load_browser(c.p.registry(), c.settings);
    c.mode = mode <= kModeException ? mode : kModeNone;
    auto pf = c.p.processes().special_folder(SpecialFolder::ProgramFiles);
    auto arg = mode_argument(mode, c.settings, c.program_folder, pf);
    c.log.printf("Browse mode %u", mode);
    auto& win = c.p.windows();
    for (auto t : {kTimerFling, kTimerExit, kTimerSlide, kTimerWallpaper}) win.kill_timer(c.main_window, t);
    c.shown = true;
    win.show_window(c.main_window, SW_RESTORE);
    win.set_foreground_window(c.main_window);
    if (Hwnd s = find_program(c, proto::Program::Service)) {
        win.post(s, proto::WM_GetBatteryFor, WParam(c.main_window), 0);
        win.post(s, proto::WM_AddStateListener, WParam(c.main_window), 0);
    }
    open_gsensor(c);
    if (c.rotation != 0) rotate_view(c, 4 - c.rotation);
    begin_browsing(c, arg);
    win.set_timer(c.main_window, kTimerStart, 0);
}

}  // namespace

void on_finger_down(Context& c, int x, int y) {
    stop_fling(c);
    c.scroll.press(x, y, c.p.clock().tick_count());
}

void on_finger_move(Context& c, int x, int y) {
    auto& s = c.scroll;
    if (!s.dragging || c.menu_open) return;
    auto l = layout(c);
    if (!s.passed_slack(x, y, U(c, 8))) return;
    if (c.view == View::Picture) {
        pan(c, x - s.last_x, y - s.last_y);
    } else {
        if (s.down_y < l.top || s.down_y >= l.bottom) return;
        s.drag_list(y, c.p.clock().tick_count(), max_scroll(c));
    }
    s.last_x = x;
    s.last_y = y;
    draw(c);
}

void on_finger_up(Context& c, int x, int y) {
    auto& s = c.scroll;
    if (s.release()) {
        if (c.view != View::Picture && s.distance != 0) {
            s.start_fling();
            c.p.windows().set_timer(c.main_window, kTimerFling, kFlingPeriodMs);
        }
        request_thumbnails(c);
        return;
    }
    tap(c, x, y);
    if (!c.ended) draw(c);
}

void on_fling_timer(Context& c) {
    auto& s = c.scroll;
    if (!s.flinging || s.time == 0) {
        stop_fling(c);
        return;
    }
    if (!s.fling_step(200.0, 0.85, max_scroll(c))) stop_fling(c);
    request_thumbnails(c);
    draw(c);
}

LResult window_proc(Context& c, Hwnd hwnd, std::uint32_t msg, WParam w, LParam l) {
    switch (msg) {
        case WM_LBUTTONDOWN:
        case WM_MOUSEMOVE:
        case WM_LBUTTONUP: {
            int x = lparam_x(l), y = lparam_y(l);
            screen_to_view(c, x, y);
            if (msg == WM_LBUTTONDOWN) on_finger_down(c, x, y);
            else if (msg == WM_MOUSEMOVE) on_finger_move(c, x, y);
            else on_finger_up(c, x, y);
            return 0;
        }
        case WM_KEYDOWN:
            if (c.view == View::Picture && !c.menu_open) {
                if (w == kVkUp) zoom_in(c);
                else if (w == kVkDown) zoom_out(c);
                draw(c);
            }
            return 0;
        case WM_TIMER:
            switch (std::uint32_t(w)) {
                case kTimerFling: on_fling_timer(c); break;
                case kTimerStart:
                    c.p.windows().kill_timer(c.main_window, kTimerStart);
                    gfx::ResumeScreen(c.screen);
                    draw(c);
                    break;
                case kTimerExit: exit_tick(c); break;
                case kTimerSlide: slide_tick(c); break;
                case kTimerWallpaper:
                    c.p.windows().kill_timer(c.main_window, kTimerWallpaper);
                    write_value(c, c.pending_id, c.pending_value);
                    start_exit(c);
                    break;
                default: break;
            }
            return 0;
        case WM_CLOSE: finish(c); return 0;
        case WM_ACTIVATE:
            // The screen is shared with the settings program: only the window in front draws.
            if (c.ended || !c.screen.back_buffer) break;
            if ((w & 0xFFFF) == WA_INACTIVE) {
                gfx::SuspendScreen(c.screen);
            } else if (c.shown) {
                gfx::ResumeScreen(c.screen);
                draw(c);
            }
            break;
        case kMsgBrowse: browse_message(c, std::uint32_t(w)); return 0;
        case kMsgThumbsReady:
            take_thumbnails(c);
            if (c.shown) draw(c);
            return 0;
        case kMsgGSensor: {
            int v = int(w & 0xF);
            c.log.printf("GSensor %0x %d", unsigned(w), v);
            if (c.view == View::Picture) {
                rotate_view(c, ((v % 4) - c.rotation + 4) % 4);
                draw(c);
            }
            return 0;
        }
        case WM_WINDOWPOSCHANGED:
            if (c.screen.back_buffer && c.shown &&
                (c.display.metrics().width != c.screen_width || c.display.metrics().height != c.screen_height) &&
                c.rotation == 0) {
                gfx::CloseScreen(c.screen);
                c.text_cache.clear();
                if (open_display(c)) {
                    if (c.view == View::Picture && !c.picture_corrupt) {
                        auto path = c.picture_path;
                        close_picture(c);
                        for (std::size_t i = 0; i < c.entries.size(); ++i)
                            if (entry_path(c, int(i)) == path) open_picture(c, int(i));
                    }
                    c.scroll.offset = std::min(c.scroll.offset, max_scroll(c));
                    request_thumbnails(c);
                    draw(c);
                }
            }
            return c.p.windows().default_proc(hwnd, msg, w, l);
        case proto::WM_UpdateBattery:
        case proto::WM_CHANGE_PHONESIGNALSTRENGTH:
        case proto::WM_CHANGE_SN_BLUETOOTH:
        case proto::WM_CHANGE_SN_WIFI:
        case proto::WM_CHANGE_HEADPHONE:
        case proto::WM_CHANGE_CONNECTIONSCOUNT:
        case proto::WM_CHANGE_SN_PHONEOPERATORNAME:
            on_status(c, msg, w, l);
            if (c.shown) draw(c);
            return 0;
        default: break;
    }
    return c.p.windows().default_proc(hwnd, msg, w, l);
}

}  // namespace lumo::browser
