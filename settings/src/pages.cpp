// The page model: the fourteen pages built from the catalogue and the texts, every kind's step
// rule, the taps on an item, and the copy back into the catalogue that "Save" writes.
#include <algorithm>
#include <cstring>

#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "lumo/settings/settings.h"

namespace lumo::settings {

using namespace platform;
using catalogue::Id;
namespace proto = protocol;

std::int32_t step_value(std::uint8_t kind, std::int32_t v, std::int32_t max, bool plus) {
    switch (kind) {
        case kOffSeconds: {
            std::int32_t r;
            if (plus) {
                r = std::min(v <= 19 ? v + 1 : v + 5, 60);
                return r < 5 ? 5 : r;
            }
            r = v < 21 ? v - 1 : v - 5;
            return r < 5 ? 0 : r;
        }
        case kMinutes:
            if (plus) return std::min(v <= 4 ? v + 1 : v <= 19 ? v + 5 : v + 10, 60);
            return std::max(v <= 5 ? v - 1 : v <= 20 ? v - 5 : v - 10, 0);
        case kDays:
            if (plus) {
                std::int32_t r = v <= 6 ? v + 1 : v <= 20 ? v + 7 : v == 21 ? 30 : v + 10;
                return std::min(r, 100);
            } else {
                std::int32_t r = v <= 7 ? v - 1 : v <= 21 ? v - 7 : v == 30 ? 21 : v - 10;
                return std::max(r, 0);
            }
        case kCountryCode:
            if (plus) return v + 1 >= 999 ? 1 : v + 1;
            return v - 1 <= 0 ? 998 : v - 1;
        case kHeading:
        case kCheck:
        case kPassword:
        case kExceptionList:
        case kPortraitFile:
        case kLandscapeFile:
        case kLockSoundFile:
        case kUnlockSoundFile:
        case kSleepTimerItem:
        case kUnlockProgram:
        case kHomePageLink:
        case kDonate:
            return v;
        default:
            return std::clamp(plus ? v + 1 : v - 1, 0, std::max(max, 0));
    }
}

bool has_step_areas(std::uint8_t kind) {
    switch (kind) {
        case kHeading: case kCheck: case kPassword: case kExceptionList: case kPortraitFile:
        case kLandscapeFile: case kLockSoundFile: case kUnlockSoundFile: case kSleepTimerItem:
        case kUnlockProgram: case kHomePageLink: case kDonate:
            return false;
        default:
            return true;
    }
}

bool item_active(const Page& page, std::size_t index) {
    // A chain of parents; a loop in a broken table ends after as many steps as there are items.
    std::size_t i = index;
    for (std::size_t guard = 0; guard <= page.items.size(); ++guard) {
        std::uint8_t parent = page.items[i].parent;
        if (parent == 0) return true;
        if (parent == kNotOffered) return false;
        std::size_t p = parent - 1u;
        if (p >= page.items.size() || page.items[p].value == 0) return false;
        i = p;
    }
    return false;
}

namespace {

struct Builder {
    Context& c;
    Page& page;
    const std::u16string& label(std::u16string_view key) { return c.page_texts.get(key); }
    Item& add(std::u16string_view key, std::uint8_t kind, int setting = -1, std::int32_t max = 1,
              std::uint8_t parent = 0) {
        Item it;
        it.label = key.empty() ? std::u16string() : label(key);
        it.kind = kind;
        it.max = max;
        it.parent = parent;
        it.setting = setting;
        if (setting >= 0) it.value = std::int32_t(c.settings.num(Id(setting)));
        page.items.push_back(std::move(it));
        return page.items.back();
    }
    Item& opt(std::u16string_view key, Id id, std::uint8_t kind = kCheck, std::int32_t max = 1,
              std::uint8_t parent = 0) {
        return add(key, kind, int(id), max, parent);
    }
    // A text chosen from the language's entries.
    Item& text_choice(std::u16string_view key, Id id, std::uint8_t kind,
                      std::initializer_list<std::u16string_view> entry_keys, std::uint8_t parent = 0) {
        Item& it = add(key, kind, int(id), std::int32_t(entry_keys.size()) - 1, parent);
        for (auto k : entry_keys) it.choices.push_back(label(k));
        const auto& stored = c.settings.text(id);
        auto found = std::find(it.choices.begin(), it.choices.end(), stored);
        if (found == it.choices.end()) {
            it.choices.back() = stored;
            it.value = it.max;
        } else {
            it.value = std::int32_t(found - it.choices.begin());
        }
        return it;
    }
};

bool registry_has(Registry& reg, Root root, std::u16string_view key, std::u16string_view name) {
    auto k = reg.open_key(root, key);
    if (!k) return false;
    std::vector<std::byte> data(kMaxValueBytes);
    return reg.read_value(*k, name, data);
}

void file_items_from_registry(Context& c) {
    auto root = catalogue::open_root(c.p.registry());
    if (!root) return;
    for (Id id : {Id::Wallpaper, Id::WallpaperL, Id::LockSound, Id::UnlockSound, Id::UnlockRunEXE}) {
        std::u16string v;
        if (catalogue::read_text(c.p.registry(), root->key, catalogue::setting(id).name, 261, v))
            c.settings.set_text(id, v);
    }
}

}  // namespace

void build_pages(Context& c) {
    static constexpr std::u16string_view kTitles[kPageCount] = {
        u"m_General=", u"m_Power=",  u"m_Information=", u"m_Appointment=", u"m_Phone=",
        u"m_Wallpaper=", u"m_Appearance=", u"", u"m_Feedback=", u"m_Theme=",
        u"m_Language=", u"m_Others=", u"m_Advanced=", u"m_About="};
    for (int i = 0; i < kPageCount; ++i) {
        c.pages[i].items.clear();
        c.pages[i].title = kTitles[i].empty() ? std::u16string(u"Zorp") : c.general.get(kTitles[i]);
    }
    auto& s = c.settings;
    // Page 0.
    {
        Builder b{c, c.pages[0]};
        b.opt(u"s_Autostart=", Id::Autostart);
        b.opt(u"s_PasswordLock=", Id::PasswordLock, kPassword);
        auto& rp = b.add(u"s_RequirePassword=", kPasswordDelay, int(Id::PasswordTime), 6, 2);
        rp.value = std::int32_t(catalogue::password_time_index(s.num(Id::PasswordTime)));
        for (auto k : {u"s_Immediately=", u"s_After1minute=", u"s_After5minutes=", u"s_After15minutes=",
                       u"s_After1hour=", u"s_After4hours=", u"s_After12hours="})
            rp.choices.push_back(b.label(k));
        b.opt(u"s_LockNotification=", Id::LockNotification);
        b.opt(u"s_AutoDismissNotification=", Id::AutoDismissNotification, kCheck, 1, 4);
        b.opt(u"s_ShowSMSPreview=", Id::ShowSMSPreview, kCheck, 1, 4);
        b.opt(u"s_ShowMMSPreview=", Id::ShowMMSPreview, kCheck, 1, 4);
        b.opt(u"s_ShowEmailPreview=", Id::ShowEmailPreview, kCheck, 1, 4);
        b.opt(u"s_AutoMarkReadSMS=", Id::AutoMarkReadSMS, kCheck, 1, 4);
        b.opt(u"s_AutoMarkReadEmail=", Id::AutoMarkReadEmail, kCheck, 1, 4);
        b.opt(u"s_Slide2Dismiss=", Id::Slide2Dismiss, kCheck, 1, 4);
    }
    // Page 1: the same six rows for battery and external power.
    {
        Builder b{c, c.pages[1]};
        b.add(u"s_OnBattery=", kHeading);
        b.opt(u"s_Blankstart=", Id::BlankStart);
        b.opt(u"s_Idlestart=", Id::IdleStart);
        b.opt(u"s_OffLCD=", Id::OffLCD, kOffSeconds, 60);
        b.opt(u"s_BlankScreen=", Id::BlankScreen, kCheck, 1, 4);
        b.opt(u"s_BlankOnTalk=", Id::BlankOnTalk);
        b.opt(u"s_InCallLock=", Id::InCallLock, kThreeBt, 2);
        b.add(u"s_OnExternal=", kHeading);
        b.opt(u"s_Blankstart=", Id::ACBlankStart);
        b.opt(u"s_Idlestart=", Id::ACIdleStart);
        b.opt(u"s_OffLCD=", Id::ACOffLCD, kOffSeconds, 60);
        b.opt(u"s_BlankScreen=", Id::ACBlankScreen, kCheck, 1, 11);
        b.opt(u"s_BlankOnTalk=", Id::ACBlankOnTalk);
        b.opt(u"s_InCallLock=", Id::ACInCallLock, kThreeBt, 2);
    }
    // Page 2.
    {
        Builder b{c, c.pages[2]};
        b.text_choice(u"s_DateFormat=", Id::DateFormat, kDateFormat,
                      {u"s_DefaultDateFormat1=", u"s_DefaultDateFormat2=", u"s_DefaultDateFormat3="});
        b.text_choice(u"s_TimeFormat=", Id::TimeFormat, kTimeFormat,
                      {u"s_DefaultTimeFormat1=", u"s_DefaultTimeFormat2=", u"s_DefaultTimeFormat3="});
        b.text_choice(u"s_ClockPath=", Id::ClockPath, kClockFolder,
                      {u"s_DefaultClockPath1=", u"s_DefaultClockPath2=", u"s_DefaultClockPath3=",
                       u"s_DefaultClockPath4=", u"s_DefaultClockPath5=", u"s_DefaultClockPath6="});
        b.text_choice(u"s_Time2Format=", Id::Time2Format, kTime2Format,
                      {u"s_DefaultTimeFormat1=", u"s_DefaultTimeFormat2=", u"s_DefaultTimeFormat3="});
        b.text_choice(u"s_Clock2Path=", Id::Clock2Path, kClock2Folder,
                      {u"s_DefaultClockPath1=", u"s_DefaultClockPath2=", u"s_DefaultClockPath3=",
                       u"s_DefaultClockPath4=", u"s_DefaultClockPath5=", u"s_DefaultClockPath6="});
        b.opt(u"s_ShowAlarm=", Id::ShowAlarm);
        b.opt(u"s_ShowTask=", Id::ShowTask, kThreeTask, 2);
        b.opt(u"s_ShowMMS=", Id::ShowMMS);
        b.opt(u"s_ShowWeather=", Id::ShowWeather, kWeather, 7);
        b.opt(u"s_ShowOwnerInfo=", Id::ShowOwnerInfo);
        b.opt(u"s_DigitalBattery=", Id::DigitalBattery);
    }
    // Page 3.
    {
        Builder b{c, c.pages[3]};
        b.opt(u"s_ShowAppointment=", Id::ShowAppointment, kNumber13, 6);
        b.opt(u"s_AppointmentDays=", Id::AppointmentDays, kDays, 100, 1);
        b.opt(u"s_ShowAllDay=", Id::ShowAllDay, kCheck, 1, 1);
        b.opt(u"s_ShowTodayPast=", Id::ShowTodayPast, kCheck, 1, 1);
        b.opt(u"s_AppointmentLine=", Id::AppointmentLine, kCheck, 1, 1);
        b.opt(u"s_AlignAppointment=", Id::AlignAppointment, kAlignment3, 2, 1);
        b.text_choice(u"s_AppointmentDateFormat=", Id::AppointmentDateFormat, kAptDateFormat,
                      {u"s_DefaultAptDateFormat1=", u"s_DefaultAptDateFormat2=", u"s_DefaultAptDateFormat3="}, 1);
        b.text_choice(u"s_AppointmentTimeFormat=", Id::AppointmentTimeFormat, kAptTimeFormat,
                      {u"s_DefaultAptTimeFormat1=", u"s_DefaultAptTimeFormat2=", u"s_DefaultAptTimeFormat3="});
    }
    // Page 4.
    {
        Builder b{c, c.pages[4]};
        b.opt(u"s_CallerID=", Id::CallerID, kPictureMode, 3);
        b.opt(u"s_Slide2Answer=", Id::Slide2Answer, kThreeOnlyLocked, 2, 1);
        b.opt(u"s_Slide2End=", Id::Slide2End, kCheck, 1, 2);
        b.opt(u"s_S2AAnsKey=", Id::S2AAnsKey, kCheck, 1, 2);
        b.opt(u"s_S2AEndKey=", Id::S2AEndKey, kCheck, 1, 2);
        b.opt(u"s_PowerButtonEndCall=", Id::PowerButtonEndCall, kCheck, 1, 1);
        b.opt(u"s_SendBusySMS=", Id::SendBusySMS, kCheck, 1, 1);
        b.opt(u"s_CanonicalFormat=", Id::CanonicalFormat, kCheck, 1, 1);
        b.opt(u"s_CountryCode=", Id::CanonicalPrefix, kCountryCode, 998, 8);
        b.opt(u"s_VolumeControl=", Id::VolumeControl);
        b.opt(u"s_TransparentVC=", Id::TransparentVC, kCheck, 1, 10);
        b.opt(u"s_NoVolumeKeyLock=", Id::NoVolumeKeyLock, kCheck, 1, 10);
        b.opt(u"s_InCallVC=", Id::InCallVolumeControl, kCheck, 1, 10);
    }
    // Page 5.
    {
        Builder b{c, c.pages[5]};
        b.add(u"s_FileDirectoryPortrait=", kPortraitFile, int(Id::Wallpaper));
        b.add(u"s_FileDirectoryLandscape=", kLandscapeFile, int(Id::WallpaperL));
        b.opt(u"s_ShowBattery=", Id::ShowBattery, kThreeCharging, 2);
        b.opt(u"s_BatteryOnTop=", Id::BatteryOnTop, kCheck, 1, 3);
        b.opt(u"s_GifSpeed=", Id::GifSpeed, kNumber11, 10);
        b.opt(u"s_GifEndless=", Id::GifEndless);
        b.opt(u"s_WallpaperChangeTime=", Id::WallpaperChangeTime, kMinutes, 60);
        b.opt(u"s_WallpaperRandom=", Id::WallpaperRandom, kCheck, 1, 7);
    }
    // Page 6.
    {
        Builder b{c, c.pages[6]};
        b.opt(u"s_NoSoftKey=", Id::NoSoftKey);
        b.opt(u"s_SliderPosition=", Id::SliderPosition, kAlignment2, 1);
        b.opt(u"s_SlideTextMirror=", Id::SlideTextMirror, kCheck, 1, 2);
        b.opt(u"s_TopmostCurtain=", Id::TopmostCurtain);
        b.opt(u"s_TopCurtain=", Id::TopCurtain, kThreeFloat, 2);
        b.opt(u"s_BottomCurtain=", Id::BottomCurtain);
        b.opt(u"s_CurtainAlpha=", Id::CurtainAlpha, kNumber17, 32);
        b.opt(u"s_TextShadow=", Id::TextShadow, kThreeGlow, 2);
        b.opt(u"s_TextSize=", Id::TextSize, kTextSizes, 4);
    }
    // Page 7.
    {
        Builder b{c, c.pages[7]};
        b.opt(u"s_ZorpControl=", Id::ZorpControl);
        b.opt(u"s_HPstartZorp=", Id::HPstartZorp);
        b.opt(u"s_HPcloseZorp=", Id::HPcloseZorp, kThreeZorp, 2, 2);
        b.opt(u"s_NoZorp=", Id::NoZorp);
        b.opt(u"s_ZorpAlbum=", Id::ZorpAlbum);
        auto& st = b.add(u"", kSleepTimerItem);
        st.label = c.general.get(u"s_SleepZorp=");
    }
    // Page 8.
    {
        Builder b{c, c.pages[8]};
        b.add(u"s_LockSound=", kLockSoundFile, int(Id::LockSound));
        b.add(u"s_UnlockSound=", kUnlockSoundFile, int(Id::UnlockSound));
        b.opt(u"s_SliderInertia=", Id::SliderInertia, kNumber11, 10);
        b.opt(u"s_VibrationLED=", Id::VibrationLED, kNumber15, c.vibration_led == 255 ? 100 : c.vibration_led);
        b.opt(u"s_HapticFeedback=", Id::HapticFeedback);
        b.opt(u"s_VibrateOnConnect=", Id::VibrateOnConnect);
    }
    // Page 11.
    {
        Builder b{c, c.pages[11]};
        b.opt(u"s_DpadOrBack=", Id::DpadOn);
        b.opt(u"s_UnlockOnRotate=", Id::UnlockOnRotate);
        b.opt(u"s_ActionOnAC=", Id::ActionOnAC, kThreeLockUnlock, 2);
        std::uint8_t stylus = c.has_stylus ? 0 : kNotOffered;
        std::uint8_t keyboard = c.has_keyboard ? 0 : kNotOffered;
        b.opt(u"s_StylusOutUnlock=", Id::StylusOutUnlock, kCheck, 1, stylus);
        b.opt(u"s_StylusInLock=", Id::StylusInLock, kCheck, 1, c.has_stylus ? 4 : kNotOffered);
        b.opt(u"s_KeyboardOpenUnlock=", Id::KeyboardOpenUnlock, kCheck, 1, keyboard);
        b.opt(u"s_KeyboardCloseLock=", Id::KeyboardCloseLock, kCheck, 1, c.has_keyboard ? 6 : kNotOffered);
        b.add(u"s_UnlockRunEXE=", kUnlockProgram, int(Id::UnlockRunEXE));
        b.opt(u"s_Unlock2Home=", Id::Unlock2Home);
        b.opt(u"s_IgnoreScreenRotation=", Id::IgnoreScreenRotation);
    }
    // Page 12.
    {
        Builder b{c, c.pages[12]};
        b.opt(u"s_NoPowerSuspend=", Id::NoPowerSuspend);
        b.opt(u"s_DisplayMode=", Id::DisplayMode, kDisplayModes, 2);
        b.opt(u"s_KoreanSMSpatch=", Id::KoreanSMSpatch);
        b.opt(u"s_NoKeyBoardHook=", Id::NoKeyBoardHook);
        b.opt(u"s_NoManilaLock=", Id::NoManilaLock, kCheck, 1, c.has_manila ? 0 : kNotOffered);
        b.opt(u"s_NoSystemLock=", Id::NoSystemLock);
        b.opt(u"s_Replace65Lock=", Id::Replace65Lock, kCheck, 1, c.has_65_menu ? 0 : kNotOffered);
        b.opt(u"s_ExceptionEXEFG=", Id::ExceptionEXEisFG);
        b.add(u"s_ExceptionEXE=", kExceptionList);
        auto& w = b.opt(u"s_WakeUpDelayMS=", Id::WakeupDelayMS, kHundreds, 40);
        w.value = std::int32_t(catalogue::delay_to_page(s.num(Id::WakeupDelayMS)));
        auto& bt = b.opt(u"s_BlankOnTalkDelayMS=", Id::BlankOnTalkDelayMS, kHundreds, 40);
        bt.value = std::int32_t(catalogue::delay_to_page(s.num(Id::BlankOnTalkDelayMS)));
        auto& bd = b.opt(u"s_DelayBootUpMS=", Id::DelayBootUpMS, kSeconds, 60);
        bd.value = std::int32_t(catalogue::boot_delay_to_page(s.num(Id::DelayBootUpMS)));
    }
    // Page 13.
    {
        Builder b{c, c.pages[13]};
        auto& home = b.add(u"", kHomePageLink);
        home.label = std::u16string(kHomePage);
        auto& donate = b.add(u"", kDonate);
        donate.label = c.general.get(u"s_Donate=");
    }
    // The file items: their check follows the stored text.
    for (auto& page : c.pages)
        for (auto& it : page.items)
            if (it.kind >= kPortraitFile && it.kind <= kUnlockProgram && it.setting >= 0)
                it.value = c.settings.text(Id(it.setting)).empty() ? 0 : 1;
}

void items_to_settings(Context& c) {
    for (auto& page : c.pages) {
        for (auto& it : page.items) {
            if (it.setting < 0) continue;
            Id id = Id(it.setting);
            auto v = std::uint32_t(std::max(it.value, 0));
            switch (it.kind) {
                case kPortraitFile:
                case kLandscapeFile:
                case kLockSoundFile:
                case kUnlockSoundFile:
                case kUnlockProgram:
                    break;  // written by LumoC or cleared at once, never by the save
                case kPasswordDelay:
                    c.settings.set_num(id, catalogue::password_time_seconds(v));
                    break;
                case kHundreds:
                    c.settings.set_num(id, catalogue::delay_from_page(v));
                    break;
                case kSeconds:
                    c.settings.set_num(id, catalogue::boot_delay_from_page(v));
                    break;
                case kPassword:
                    c.settings.set_num(id, v != 0);
                    break;
                default:
                    if (!it.choices.empty()) {
                        c.settings.set_text(id, it.choices[std::min<std::size_t>(v, it.choices.size() - 1)]);
                    } else {
                        c.settings.set_num(id, v);
                    }
            }
        }
    }
    if (c.has_password)
        c.settings.set_blob(Id::SavedPassword, c.password);
}

namespace {

void clear_file_value(Context& c, Id id) {
    if (auto root = catalogue::open_root(c.p.registry()))
        catalogue::write_text(c.p.registry(), root->key, catalogue::setting(id).name, u"");
    c.settings.set_text(id, u"");
}

// One 150 ms pulse of an LED; a number past the phone's LEDs is refused by the phone and
// only logged.
void vibrate_led(Context& c, std::uint32_t led) {
    c.log.printf("Vibrate LED %d 150", int(led));
    auto& notify = c.p.notify();
    if (!notify.set_led(led, true)) {
        c.log.printf("no LED %d", int(led));
        return;
    }
    c.sleep(150);
    notify.set_led(led, false);
}

void open_url(Context& c, std::u16string_view url) {
    c.log.printf("Open %s", to_utf8(url).c_str());
    c.p.processes().shell_execute(kBrowserExe, url, true);
}

void open_password(Context& c, int index, bool on) {
    c.password_entry = PasswordEntry{};
    c.password_entry.turning_on = on;
    c.password_entry.item = index;
    c.state = ScreenState::Password;
}

}  // namespace

void start_browser(Context& c, std::uint32_t mode, std::u16string_view argument) {
    auto name = proto::window_name(proto::Program::Browser);
    if (Hwnd running = c.p.windows().find_window(name, name)) {
        c.p.windows().post(running, kMsgBrowse, mode, 0);
        return;
    }
    std::u16string exe = c.program_folder + u"\\" + std::u16string(kBrowserProgram);
    // A missing browser starts nothing and says nothing.
    std::u16string arg = u"\"" + std::u16string(argument) + u"\"";
    c.p.processes().shell_execute(exe, arg, true);
}

void tap_item(Context& c, int index, int x, int row_width) {
    if (c.page < 0 || index < 0 || std::size_t(index) >= c.pages[c.page].items.size()) return;
    auto& page = c.pages[c.page];
    if (!item_active(page, std::size_t(index))) return;
    Item& it = page.items[std::size_t(index)];
    auto folder = c.program_folder;
    switch (it.kind) {
        case kHeading:
            return;
        case kCheck:
            it.value = 1 - it.value;
            return;
        case kPassword:
            open_password(c, index, it.value == 0);
            return;
        case kExceptionList:
            c.state = ScreenState::Exceptions;
            c.selected_exception = -1;
            c.scroll = Scroll{};
            build_exception_list(c);
            return;
        case kPortraitFile:
        case kLandscapeFile: {
            bool portrait = it.kind == kPortraitFile;
            auto current = c.settings.text(portrait ? Id::Wallpaper : Id::WallpaperL);
            if (current.empty()) current = folder + (portrait ? u"\\gfx\\wallpaper.jpg" : u"\\gfx\\wallpaperL.jpg");
            start_browser(c, portrait ? kBrowsePortrait : kBrowseLandscape, current);
            return;
        }
        case kLockSoundFile:
        case kUnlockSoundFile:
        case kUnlockProgram: {
            Id id = Id(it.setting);
            if (it.value != 0) {
                clear_file_value(c, id);
                it.value = 0;
                return;
            }
            if (it.kind == kUnlockProgram) {
                auto pf = c.p.processes().special_folder(SpecialFolder::ProgramFiles);
                start_browser(c, kBrowseUnlockProgram, pf + u"\\*.exe");
            } else {
                start_browser(c, it.kind == kLockSoundFile ? kBrowseLockSound : kBrowseUnlockSound,
                              folder + u"\\*.wav");
            }
            return;
        }
        case kSleepTimerItem: {
            auto root = catalogue::open_root(c.p.registry());
            std::array<std::byte, 8> due{};
            if (root && catalogue::read_blob(c.p.registry(), root->key, catalogue::setting(Id::SleepTimer).name, due)) {
                // A tap on a running timer cancels it.
                std::array<std::byte, 8> zero{};
                catalogue::write_blob(c.p.registry(), root->key, catalogue::setting(Id::SleepTimer).name, zero);
                catalogue::delete_value(c.p.registry(), root->key, catalogue::setting(Id::SleepTimer).name);
                c.settings.clear_blob(Id::SleepTimer);
                return;
            }
            c.sleep_choice = SleepChoice{};
            c.state = ScreenState::SleepTimer;
            return;
        }
        case kHomePageLink:
            open_url(c, kHomePage);
            return;
        case kDonate:
            open_url(c, kDonatePage);
            return;
        default:
            break;
    }
    // Number and choice rows: a minus area and a plus area at the row's right end.
    auto area = step_areas(c, row_width);
    bool plus = x >= area.plus_left && x < area.plus_right;
    bool minus = x >= area.minus_left && x < area.minus_right;
    if (!plus && !minus) return;
    std::int32_t before = it.value;
    it.value = step_value(it.kind, it.value, it.max, plus);
    // The chosen LED vibrates once so the person feels which one it is.
    if (it.kind == kNumber15 && it.value != before) vibrate_led(c, std::uint32_t(it.value));
}

std::u16string sleep_timer_text(Context& c) {
    auto root = catalogue::open_root(c.p.registry());
    std::array<std::byte, 8> due{};
    if (!root || !catalogue::read_blob(c.p.registry(), root->key, catalogue::setting(Id::SleepTimer).name, due))
        return {};
    std::uint64_t t = 0;
    std::memcpy(&t, due.data(), 8);
    std::uint64_t now = c.p.clock().local_file_time();
    if (t <= now) return {};
    std::uint64_t seconds = (t - now) / 10000000ull;
    const auto& in = c.general.get(u"s_In=");
    if (seconds < 60) return in + u" " + to_u16(std::to_string(seconds)) + u" s";
    std::u16string out;
    std::uint64_t hours = seconds / 3600, minutes = (seconds % 3600) / 60;
    if (hours > 0)
        out += in + u" " + to_u16(std::to_string(hours)) + u" " + c.general.get(hours == 1 ? u"s_Hour=" : u"s_Hours=") + u" ";
    out += (hours > 0 ? std::u16string() : in + u" ") + to_u16(std::to_string(minutes)) + u" " +
           c.general.get(minutes == 1 ? u"s_Min=" : u"s_Mins=");
    return out;
}

void refresh_file_item(Context& c, std::uint32_t msg) {
    Id id;
    switch (msg) {
        case kMsgWallpaperChanged: id = Id::Wallpaper; break;
        case kMsgWallpaperLChanged: id = Id::WallpaperL; break;
        case kMsgLockSoundChanged: id = Id::LockSound; break;
        case kMsgUnlockSoundChanged: id = Id::UnlockSound; break;
        default: id = Id::UnlockRunEXE; break;
    }
    std::u16string v;
    if (auto root = catalogue::open_root(c.p.registry()))
        if (catalogue::read_text(c.p.registry(), root->key, catalogue::setting(id).name, 261, v))
            c.settings.set_text(id, v);
    for (auto& page : c.pages)
        for (auto& it : page.items)
            if (it.setting == int(id)) it.value = c.settings.text(id).empty() ? 0 : 1;
}

void set_defaults(Context& c) {
    catalogue::reset_to_defaults(c.p.registry(), c.settings, c.vibration_led);
    file_items_from_registry(c);
    c.has_password = false;
    build_pages(c);
}

void save_and_exit(Context& c) {
    c.log.write("Save");
    items_to_settings(c);
    if (catalogue::save(c.p.registry(), c.settings))
        export_settings(c.p, c.program_folder, c.settings);
    restart_service(c);
    start_exit(c);
}

// Kept here so the start-up's device checks sit beside the page table they feed.
void read_device_facts(Context& c) {
    auto& reg = c.p.registry();
    c.has_stylus = registry_has(reg, Root::CurrentUser, u"ControlPanel\\Keybd", u"StylusOutStatus");
    c.has_keyboard = registry_has(reg, Root::LocalMachine, u"System\\GDI\\Rotation", u"SlideKey") ||
                     registry_has(reg, Root::LocalMachine, u"Software\\OEM\\Keyboard", u"SlidingOut");
    c.has_65_menu = c.p.windows().find_window(u"MSSTARTMENU", std::nullopt) != 0;
    if (auto host = c.p.processes().host_path(u"\\windows\\manila.exe")) {
        std::error_code ec;
        c.has_manila = std::filesystem::exists(*host, ec);
    }
}

}  // namespace lumo::settings
