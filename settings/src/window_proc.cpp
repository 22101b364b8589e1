// The window procedure: the finger (drag, fling, taps), the bottom buttons, the keypad and the
// sleep-timer screen, the file-value notifications, LumoC's picks and the service's status.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "lumo/lang/lang.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/settings/settings.h"

namespace lumo::settings {

using namespace platform;
using catalogue::Id;
namespace proto = protocol;

namespace {

int lparam_x(LParam l) { return std::int16_t(std::uint32_t(l) & 0xFFFF); }
int lparam_y(LParam l) { return std::int16_t(std::uint32_t(l) >> 16); }
int U(const Context& c, int n) { return gfx::ScaleUnit(c.screen, n); }

bool list_state(const Context& c) {
    return c.state == ScreenState::MainMenu || c.state == ScreenState::Page || c.state == ScreenState::Exceptions ||
           c.state == ScreenState::Language;
}

void back_to_list(Context& c) {
    c.state = c.page >= 0 ? ScreenState::Page : ScreenState::MainMenu;
}

void open_page(Context& c, int page) {
    if (page == kLanguagePage) {
        auto host = c.p.processes().host_path(c.program_folder + u"\\LumoLanguagePack.zip");
        std::error_code ec;
        if (!host || !std::filesystem::exists(*host, ec)) {
            c.p.windows().message_box(c.main_window,
                                      u"Language Pack (LumoLanguagePack.zip) does not exist. Please reinstall Lumo.",
                                      proto::kProductName, MB_OK | MB_ICONASTERISK | MB_SETFOREGROUND);
            return;
        }
        build_language_page(c);
    }
    c.page = page;
    c.state = page == kThemePage ? ScreenState::Theme : page == kLanguagePage ? ScreenState::Language : ScreenState::Page;
    c.scroll = Scroll{};
    if (c.state == ScreenState::Language && c.selected_language >= 0) {
        // The installed language's row in the middle of the list.
        auto l = layout(c);
        int pitch = item_height(c, Item{}) + l.row_gap;
        c.scroll.offset = std::clamp(c.selected_language * pitch - (l.bottom - l.top - pitch) / 2, 0, max_scroll(c));
    }
}

void go_back(Context& c) {
    switch (c.state) {
        case ScreenState::Exceptions: c.state = ScreenState::Page; c.selected_exception = -1; break;
        case ScreenState::Password:
        case ScreenState::SleepTimer: back_to_list(c); break;
        default: c.state = ScreenState::MainMenu; c.page = -1; break;
    }
    c.scroll = Scroll{};
}

void password_key(Context& c, int key) {
    auto& e = c.password_entry;
    if (key == 11) {  // cancel: the page, nothing changed
        back_to_list(c);
        return;
    }
    if (key == 9) {
        if (!e.digits.empty()) e.digits.pop_back();
        return;
    }
    char16_t digit = key == 10 ? u'0' : char16_t(u'1' + key);
    e.digits.push_back(digit);
    if (e.digits.size() < 4) return;
    auto entry = e.digits;
    e.digits.clear();
    Item* item = nullptr;
    if (c.page >= 0 && e.item >= 0 && std::size_t(e.item) < c.pages[c.page].items.size())
        item = &c.pages[c.page].items[std::size_t(e.item)];
    if (e.turning_on) {
        if (!e.second) {
            e.first = entry;
            e.second = true;
            return;
        }
        if (entry != e.first) {  // start over from the first entry
            e.second = false;
            e.first.clear();
            return;
        }
        for (int i = 0; i < 4; ++i) c.password[std::size_t(i)] = std::byte(entry[std::size_t(i)]);
        c.has_password = true;
        if (item) item->value = 1;
        back_to_list(c);
        return;
    }
    std::u16string current;
    for (auto b : c.password) current.push_back(char16_t(std::to_integer<unsigned char>(b)));
    if (!c.has_password || entry != current) {
        e.wrong = true;
        return;
    }
    c.password = {};
    c.has_password = true;  // four zero bytes are what the save keeps
    if (item) item->value = 0;
    back_to_list(c);
}

void start_sleep_timer(Context& c) {
    if (c.sleep_choice.hours <= 0 && c.sleep_choice.minutes <= 0) {
        back_to_list(c);
        return;
    }
    std::uint64_t due = c.p.clock().local_file_time() + std::uint64_t(c.sleep_choice.hours) * 36000000000ull +
                        std::uint64_t(c.sleep_choice.minutes) * 600000000ull;
    std::array<std::byte, 8> bytes;
    std::memcpy(bytes.data(), &due, 8);
    if (auto root = catalogue::open_root(c.p.registry()))
        catalogue::write_blob(c.p.registry(), root->key, catalogue::setting(Id::SleepTimer).name, bytes);
    c.log.write("WM_ADD_SLEEPTIMER");
    auto name = proto::window_name(proto::Program::Service);
    if (Hwnd s = c.p.windows().find_window(name, name)) {
        c.p.windows().send(s, proto::WM_ADD_SLEEPTIMER, 0, 0);
        start_exit(c);
        return;
    }
    back_to_list(c);
}

void bottom_button(Context& c, int x) {
    auto labels = bottom_labels(c);
    if (labels.empty()) return;
    int index = std::clamp(x * int(labels.size()) / std::max(1, c.screen_width), 0, int(labels.size()) - 1);
    if (c.state == ScreenState::Exceptions && c.selected_exception >= 0) {
        delete_exception(c);
        return;
    }
    if (c.state == ScreenState::SleepTimer) {
        if (index == 0) start_sleep_timer(c);
        else back_to_list(c);
        return;
    }
    if (c.state == ScreenState::Theme && (theme_busy(c) || theme_state(c) == ThemeState::Invalid)) {
        cancel_theme(c);
        return;
    }
    if (c.state == ScreenState::Language) {
        change_language(c);
        return;
    }
    switch (index) {
        case 0:
            c.ended_by_save = true;
            save_and_exit(c);
            break;
        case 1:
            set_defaults(c);
            break;
        default:
            start_exit(c);
            break;
    }
}

void tap(Context& c, int x, int y) {
    auto l = layout(c);
    if (y >= l.bottom) {
        bottom_button(c, x);
        return;
    }
    if (y < l.top) {
        // The back mark at the title bar's left.
        if (y >= l.top - U(c, 26) && x < U(c, 40) && c.state != ScreenState::MainMenu) go_back(c);
        return;
    }
    switch (c.state) {
        case ScreenState::MainMenu: {
            int i = item_at(c, y);
            if (i >= 0) open_page(c, i);
            return;
        }
        case ScreenState::Page: {
            int top = 0;
            int i = item_at(c, y, &top);
            if (i < 0) return;
            int pad = U(c, 4);
            tap_item(c, i, x - pad, c.screen_width - 2 * pad - U(c, 6));
            return;
        }
        case ScreenState::Exceptions: {
            int i = item_at(c, y);
            if (i >= 0 && std::size_t(i) == c.exceptions.size()) {
                c.selected_exception = -1;
                if (auto root = catalogue::open_root(c.p.registry()))
                    catalogue::write_text(c.p.registry(), root->key, catalogue::setting(Id::TempExceptionEXE).name, u"");
                auto pf = c.p.processes().special_folder(SpecialFolder::ProgramFiles);
                start_browser(c, kBrowseException, pf + u"\\*.exe");
            } else if (i >= 0) {
                c.selected_exception = i;
            } else {
                c.selected_exception = -1;
            }
            return;
        }
        case ScreenState::Password: {
            int key = keypad_key_at(c, x, y);
            if (key >= 0) password_key(c, key);
            return;
        }
        case ScreenState::Theme: {
            if (theme_busy(c)) return;
            int button = theme_button_at(c, x, y);
            if (button == 0) save_theme(c);
            else if (button == 1) browse_theme(c);
            return;
        }
        case ScreenState::Language: {
            int i = item_at(c, y);
            if (i >= 0 && std::size_t(i) < lang::languages().size()) {
                c.selected_language = i;
                c.log.printf("Language %d %s", i, to_utf8(lang::languages()[std::size_t(i)].list_name).c_str());
            }
            return;
        }
        case ScreenState::SleepTimer: {
            int row = sleep_row_at(c, y);
            if (row < 0) return;
            int pad = U(c, 4);
            auto a = step_areas(c, c.screen_width - 2 * pad - U(c, 6));
            int rx = x - pad;
            int delta = rx >= a.plus_left && rx < a.plus_right ? 1 : rx >= a.minus_left && rx < a.minus_right ? -1 : 0;
            if (row == 0) c.sleep_choice.hours = std::clamp(c.sleep_choice.hours + delta, 0, 23);
            else c.sleep_choice.minutes = std::clamp(c.sleep_choice.minutes + delta, 0, 59);
            return;
        }
        default:
            return;
    }
}

bool browser_in_front(Context& c) {
    auto name = proto::window_name(proto::Program::Browser);
    Hwnd b = c.p.windows().find_window(name, name);
    return b && b == c.p.windows().foreground_window();
}

void stop_fling(Context& c) {
    c.scroll.stop();
    c.p.windows().kill_timer(c.main_window, kTimerDisplay);
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
        case proto::WM_CHANGE_SN_PHONERINGER: c.ringer = std::uint32_t(w); break;
        case proto::WM_CHANGE_SN_BLUETOOTH: c.bluetooth = (w & 1) != 0; break;
        case proto::WM_CHANGE_SN_WIFI: c.wifi = w != 0; break;
        case proto::WM_CHANGE_HEADPHONE: c.headphone = w != 0; break;
        case proto::WM_CHANGE_CONNECTIONSCOUNT: c.connections = std::uint32_t(w); break;
        default: break;
    }
}

}  // namespace

void on_finger_down(Context& c, int x, int y) {
    stop_fling(c);
    c.scroll.press(x, y, c.p.clock().tick_count());
}

void on_finger_move(Context& c, int x, int y) {
    (void)x;
    auto& s = c.scroll;
    if (!s.dragging || !list_state(c)) return;
    auto l = layout(c);
    if (s.down_y < l.top || s.down_y >= l.bottom) return;
    // Only the way the list moves counts against the slack.
    if (!s.passed_slack(s.down_x, y, U(c, 8))) return;
    s.drag_list(y, c.p.clock().tick_count(), max_scroll(c));
    draw(c);
}

void on_finger_up(Context& c, int x, int y) {
    auto& s = c.scroll;
    if (s.release()) {
        s.start_fling();
        c.p.windows().set_timer(c.main_window, kTimerDisplay, kDisplayPeriodMs);
        return;
    }
    tap(c, x, y);
    if (!c.ended) draw(c);
}

void on_display_timer(Context& c) {
    auto& s = c.scroll;
    if (!s.flinging || s.time == 0) {
        stop_fling(c);
        return;
    }
    // The list stops at its ends rather than running on against them.
    if (!s.fling_step(120.0, 0.9, max_scroll(c))) stop_fling(c);
    draw(c);
}

LResult window_proc(Context& c, Hwnd hwnd, std::uint32_t msg, WParam w, LParam l) {
    switch (msg) {
        case WM_LBUTTONDOWN: on_finger_down(c, lparam_x(l), lparam_y(l)); return 0;
        case WM_MOUSEMOVE: on_finger_move(c, lparam_x(l), lparam_y(l)); return 0;
        case WM_LBUTTONUP: on_finger_up(c, lparam_x(l), lparam_y(l)); return 0;
        case WM_TIMER:
            switch (std::uint32_t(w)) {
                case kTimerDisplay: on_display_timer(c); break;
                case kTimerStart:
                    c.p.windows().kill_timer(c.main_window, kTimerStart);
                    c.log.write("WM_Starting");
                    draw(c);
                    break;
                case kTimerExit: finish(c); break;
                case kTimerKeepAwake:
                case kTimerThemeProgress:
                case kTimerSaveDone:
                case kTimerLoadDone: on_theme_timer(c, std::uint32_t(w)); break;
                default: break;
            }
            return 0;
        case WM_WINDOWPOSCHANGED:
            if (c.screen.back_buffer &&
                (c.display.metrics().width != c.screen_width || c.display.metrics().height != c.screen_height)) {
                gfx::CloseScreen(c.screen);
                c.text_cache.clear();
                if (open_display(c)) {
                    c.scroll.offset = std::min(c.scroll.offset, max_scroll(c));
                    // Behind the browser the new screen stays dark until we are in front again.
                    if (browser_in_front(c)) gfx::SuspendScreen(c.screen);
                    else draw(c);
                }
            }
            return c.p.windows().default_proc(hwnd, msg, w, l);
        case WM_CLOSE: start_exit(c); return 0;
        case WM_ACTIVATE:
            // The screen is shared: behind the browser nothing is shown, and back in front the
            // page is drawn again over what the browser left.
            if (c.ended || !c.screen.back_buffer) return c.p.windows().default_proc(hwnd, msg, w, l);
            if ((w & 0xFFFF) == WA_INACTIVE) {
                if (browser_in_front(c)) gfx::SuspendScreen(c.screen);
            } else {
                gfx::ResumeScreen(c.screen);
                draw(c);
            }
            return c.p.windows().default_proc(hwnd, msg, w, l);
        case kMsgWallpaperChanged:
        case kMsgWallpaperLChanged:
        case kMsgLockSoundChanged:
        case kMsgUnlockSoundChanged:
        case kMsgUnlockRunExeChanged:
            refresh_file_item(c, msg);
            draw(c);
            return 0;
        case kMsgExceptionPicked:
            add_exception(c);
            draw(c);
            return 0;
        case kMsgBrowse:  // a theme picked in LumoC
            on_theme_picked(c);
            draw(c);
            return 0;
        case proto::WM_UpdateBattery:
        case proto::WM_CHANGE_PHONESIGNALSTRENGTH:
        case proto::WM_CHANGE_SN_PHONERINGER:
        case proto::WM_CHANGE_SN_BLUETOOTH:
        case proto::WM_CHANGE_SN_WIFI:
        case proto::WM_CHANGE_HEADPHONE:
        case proto::WM_CHANGE_BT_MSHEADPHONE:
        case proto::WM_CHANGE_CONNECTIONSCOUNT:
            on_status(c, msg, w, l);
            draw(c);
            return 0;
        default:
            break;
    }
    // The operator message shares its number with nothing of ours; kept out of the switch so a
    // renumbering never collides with the file notifications above.
    if (msg == proto::WM_CHANGE_SN_PHONEOPERATORNAME) {
        on_status(c, msg, w, l);
        draw(c);
        return 0;
    }
    return c.p.windows().default_proc(hwnd, msg, w, l);
}

}  // namespace lumo::settings
