// The settings program through its window procedure over the fake platform: the pages, the step
// rules of the kinds, the parent rule, scrolling, the password, save with its export, the
// exception list and the restart of the service.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/text.h"
#include "lumo/protocol/protocol.h"
#include "settings_fixture.h"

namespace lumo::settings::testing_support {
namespace {

using namespace platform;
using catalogue::Id;
namespace proto = protocol;
using Where = SettingsFixture::Where;

constexpr int kGeneral = 0, kPower = 1, kInformation = 2, kAppointment = 3, kPhone = 4, kAppearance = 6,
              kAdvanced = 12;

class SettingsTest : public SettingsFixture {
protected:
    void SetUp() override {
        write_first_start_defaults();
        ASSERT_EQ(start(), EntryResult::Running);
    }
    std::string read_file(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    std::u16string reg_text(std::u16string_view key, std::u16string_view name) {
        return fake.registry().get_string(Root::CurrentUser, key, name).value_or(u"<missing>");
    }
};

TEST_F(SettingsTest, EveryPageHasItsItemsInOrder) {
    const std::size_t counts[kPageCount] = {11, 14, 11, 8, 13, 8, 9, 6, 6, 0, 0, 10, 12, 2};
    for (int p = 0; p < kPageCount; ++p) EXPECT_EQ(ctx->pages[std::size_t(p)].items.size(), counts[p]) << "page " << p;
    EXPECT_EQ(item(kGeneral, 0).label, u"Lock when device wakes up");
    EXPECT_EQ(item(kGeneral, 1).kind, kPassword);
    EXPECT_EQ(item(kPower, 7).kind, kHeading);
    EXPECT_EQ(item(kPower, 10).setting, int(Id::ACOffLCD));
    EXPECT_EQ(item(kAdvanced, 8).kind, kExceptionList);
    EXPECT_EQ(ctx->pages[7].title, u"Zorp");
    // The fake has neither stylus nor slide-out keyboard, no Manila and no 6.5 start menu.
    EXPECT_EQ(item(11, 3).parent, kNotOffered);
    EXPECT_EQ(item(11, 6).parent, kNotOffered);
    EXPECT_EQ(item(kAdvanced, 4).parent, kNotOffered);
    EXPECT_EQ(item(kAdvanced, 6).parent, kNotOffered);
}

TEST_F(SettingsTest, OffLcdStepsAtItsEdges) {
    open_page(kPower);
    auto& v = ctx->pages[kPower].items[3].value;
    struct Case { int from; Where where; int to; };
    const Case cases[] = {{19, Where::Plus, 20}, {20, Where::Plus, 25}, {60, Where::Plus, 60}, {0, Where::Plus, 5},
                          {21, Where::Minus, 16}, {20, Where::Minus, 19}, {5, Where::Minus, 0}};
    for (const auto& k : cases) {
        v = k.from;
        tap_item(3, k.where);
        EXPECT_EQ(v, k.to) << "from " << k.from;
    }
}

TEST_F(SettingsTest, AppointmentDaysClimbThroughWeeksToTheHundred) {
    open_page(kAppointment);
    ctx->pages[kAppointment].items[0].value = 3;  // the parent on
    ctx->pages[kAppointment].items[1].value = 0;
    std::vector<int> seen_values;
    for (int i = 0; i < 17; ++i) {
        tap_item(1, Where::Plus);
        seen_values.push_back(item(kAppointment, 1).value);
    }
    EXPECT_EQ(seen_values, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 14, 21, 30, 40, 50, 60, 70, 80, 90, 100}));
    tap_item(1, Where::Plus);
    EXPECT_EQ(item(kAppointment, 1).value, 100);
    ctx->pages[kAppointment].items[1].value = 30;
    tap_item(1, Where::Minus);
    EXPECT_EQ(item(kAppointment, 1).value, 21);
}

TEST_F(SettingsTest, CountryCodeWrapsBothWays) {
    open_page(kPhone);
    auto& items = ctx->pages[kPhone].items;
    items[0].value = 1;  // Caller ID
    items[7].value = 1;  // Canonical number format
    items[8].value = 998;
    tap_item(8, Where::Plus);
    EXPECT_EQ(item(kPhone, 8).value, 1);
    tap_item(8, Where::Minus);
    EXPECT_EQ(item(kPhone, 8).value, 998);
}

TEST_F(SettingsTest, SubItemsOfAnOffSwitchIgnoreTaps) {
    open_page(kGeneral);
    ASSERT_EQ(item(kGeneral, 3).value, 0);  // Lock System Notification off
    for (int i = 4; i <= 10; ++i) {
        EXPECT_FALSE(item_active(ctx->pages[kGeneral], std::size_t(i)));
        tap_item(i);
        EXPECT_EQ(item(kGeneral, i).value, 0) << "item " << i;
    }
    tap_item(3);
    EXPECT_EQ(item(kGeneral, 3).value, 1);
    tap_item(5);
    EXPECT_EQ(item(kGeneral, 5).value, 1);
}

TEST_F(SettingsTest, AGrandchildFollowsItsGrandparent) {
    open_page(kPhone);
    auto& items = ctx->pages[kPhone].items;
    items[0].value = 0;  // Caller ID off
    items[1].value = 1;  // Slide to Answer on
    EXPECT_FALSE(item_active(ctx->pages[kPhone], 2));
    tap_item(2);
    EXPECT_EQ(item(kPhone, 2).value, 0);
    items[0].value = 1;
    tap_item(2);
    EXPECT_EQ(item(kPhone, 2).value, 1);
}

TEST_F(SettingsTest, NotOfferedItemsStayInactive) {
    open_page(11);
    ctx->pages[11].items[5].value = 1;
    EXPECT_FALSE(item_active(ctx->pages[11], 5));
    EXPECT_FALSE(item_active(ctx->pages[11], 6));
    tap_item(5);
    EXPECT_EQ(item(11, 5).value, 1);
}

TEST_F(SettingsTest, ADragMovesTheListAndAFlingSettles) {
    open_page(kGeneral);
    ASSERT_GT(max_scroll(*ctx), 0);
    auto l = layout(*ctx);
    drag(ctx->screen_width / 2, l.bottom - 20, l.bottom - 120, 5, 20);
    int after_drag = ctx->scroll.offset;
    EXPECT_EQ(after_drag, 100);
    EXPECT_TRUE(ctx->scroll.flinging);
    fake.run_for(3000);
    EXPECT_FALSE(ctx->scroll.flinging);
    EXPECT_GT(ctx->scroll.offset, after_drag);
    EXPECT_LE(ctx->scroll.offset, max_scroll(*ctx));
    // A drag that ended in a fling is no tap: nothing changed on the page.
    EXPECT_EQ(item(kGeneral, 0).value, 1);
}

TEST_F(SettingsTest, AFlingStopsAtTheEnd) {
    open_page(kGeneral);
    auto l = layout(*ctx);
    drag(ctx->screen_width / 2, l.bottom - 10, l.top + 10, 3, 10);
    fake.run_for(5000);
    EXPECT_EQ(ctx->scroll.offset, max_scroll(*ctx));
    EXPECT_FALSE(ctx->scroll.flinging);
}

TEST_F(SettingsTest, RowsAreFilledWholeWithTheirOnePixelRuleUnderneath) {
    open_page(kGeneral);
    draw(*ctx);
    // The rule under each row is one pixel high: a fill one pixel short would leave none.
    const auto rule = gfx::RGBTo565(ctx->screen.format, 90, 96, 110);
    int rules = 0;
    for (int y = 0; y < ctx->screen.logical_height; ++y)
        rules += ctx->screen.back_buffer[std::size_t(y) * std::size_t(ctx->screen.logical_width) + 100] == rule;
    EXPECT_GE(rules, 3);
}

TEST_F(SettingsTest, FormatRowsShowTheirPictureAndALiveSample) {
    open_page(kInformation);
    fake.set_local_time({2026, 12, 2, 1, 19, 7, 0, 0});
    EXPECT_EQ(item_value_text(*ctx, item(kInformation, 1)), u"H':'mm\n19:07");
    tap_item(1, Where::Plus);
    EXPECT_EQ(item_value_text(*ctx, item(kInformation, 1)), u"h':'mm tt\n7:07 PM");
}

TEST_F(SettingsTest, SavedPasswordAfterTwoEqualEntries) {
    open_page(kGeneral);
    tap_item(1);
    ASSERT_EQ(ctx->state, ScreenState::Password);
    auto key = [this](int k) {
        auto l = layout(*ctx);
        for (int y = l.top; y < l.bottom; y += 2)
            for (int x = 0; x < ctx->screen_width; x += 4)
                if (keypad_key_at(*ctx, x, y) == k) return tap(x + 2, y + 2);
    };
    for (int k : {0, 1, 2, 3}) key(k);  // 1 2 3 4
    EXPECT_TRUE(ctx->password_entry.second);
    for (int k : {0, 1, 2, 4}) key(k);  // 1 2 3 5: differs, starts over
    EXPECT_FALSE(ctx->password_entry.second);
    for (int k : {0, 1, 2, 3}) key(k);
    for (int k : {0, 1, 2, 3}) key(k);
    EXPECT_EQ(ctx->state, ScreenState::Page);
    EXPECT_EQ(item(kGeneral, 1).value, 1);
    // Off again: a wrong code asks again, the right one turns it off.
    tap_item(1);
    for (int k : {8, 8, 8, 8}) key(k);
    EXPECT_EQ(ctx->state, ScreenState::Password);
    EXPECT_TRUE(ctx->password_entry.wrong);
    for (int k : {0, 1, 2, 3}) key(k);
    EXPECT_EQ(item(kGeneral, 1).value, 0);
    // On once more and save.
    tap_item(1);
    for (int i = 0; i < 2; ++i)
        for (int k : {0, 1, 2, 3}) key(k);
    press_bottom(0);
    auto pw = fake.registry().get_binary(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"SavedPassword");
    ASSERT_TRUE(pw.has_value());
    ASSERT_EQ(pw->size(), 4u);
    EXPECT_EQ(std::memcmp(pw->data(), "1234", 4), 0);
    EXPECT_EQ(fake.registry().get_binary(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"PasswordLock")->at(0),
              std::byte{1});
}

TEST_F(SettingsTest, CancelOnTheKeypadChangesNothing) {
    open_page(kGeneral);
    tap_item(1);
    auto l = layout(*ctx);
    for (int y = l.top; y < l.bottom; y += 2)
        for (int x = 0; x < ctx->screen_width; x += 4)
            if (keypad_key_at(*ctx, x, y) == 11) {
                tap(x + 2, y + 2);
                y = l.bottom;
                break;
            }
    EXPECT_EQ(ctx->state, ScreenState::Page);
    EXPECT_EQ(item(kGeneral, 1).value, 0);
}

const std::pair<std::u16string_view, char> kExportOrder[] = {
    {u"Autostart", 'b'},
    {u"PasswordLock", 'b'},
    {u"PasswordTime", 'n'},
    {u"LockNotification", 'b'},
    {u"AutoDismissNotification", 'b'},
    {u"ShowSMSPreview", 'b'},
    {u"ShowMMSPreview", 'b'},
    {u"ShowEmailPreview", 'b'},
    {u"AutoMarkReadSMS", 'b'},
    {u"AutoMarkReadEmail", 'b'},
    {u"Slide2Dismiss", 'b'},
    {u"BlankStart", 'b'},
    {u"IdleStart", 'b'},
    {u"OffLCD", 'b'},
    {u"BlankScreen", 'b'},
    {u"BlankOnTalk", 'b'},
    {u"InCallLock", 'b'},
    {u"ACBlankStart", 'b'},
    {u"ACIdleStart", 'b'},
    {u"ACOffLCD", 'b'},
    {u"ACBlankScreen", 'b'},
    {u"ACBlankOnTalk", 'b'},
    {u"ACInCallLock", 'b'},
    {u"DateFormat", 't'},
    {u"TimeFormat", 't'},
    {u"ClockPath", 't'},
    {u"Time2Format", 't'},
    {u"Clock2Path", 't'},
    {u"ShowAlarm", 'b'},
    {u"ShowTask", 'b'},
    {u"ShowMMS", 'b'},
    {u"ShowWeather", 'b'},
    {u"ShowOwnerInfo", 'b'},
    {u"DigitalBattery", 'b'},
    {u"ShowAppointment", 'b'},
    {u"AppointmentDays", 'b'},
    {u"ShowAllDay", 'b'},
    {u"ShowTodayPast", 'b'},
    {u"AppointmentLine", 'b'},
    {u"AlignAppointment", 'b'},
    {u"AppointmentDateFormat", 't'},
    {u"AppointmentTimeFormat", 't'},
    {u"CallerID", 'b'},
    {u"Slide2Answer", 'b'},
    {u"Slide2End", 'b'},
    {u"S2AAnsKey", 'b'},
    {u"S2AEndKey", 'b'},
    {u"PowerButtonEndCall", 'b'},
    {u"SendBusySMS", 'b'},
    {u"CanonicalFormat", 'b'},
    {u"CanonicalPrefix", 'n'},
    {u"VolumeControl", 'b'},
    {u"TransparentVC", 'b'},
    {u"NoVolumeKeyLock", 'b'},
    {u"InCallVolumeControl", 'b'},
    {u"Wallpaper", 't'},
    {u"WallpaperL", 't'},
    {u"ShowBattery", 'b'},
    {u"BatteryOnTop", 'b'},
    {u"GifSpeed", 'b'},
    {u"GifEndless", 'b'},
    {u"WallpaperChangeTime", 'b'},
    {u"WallpaperRandom", 'b'},
    {u"NoSoftKey", 'b'},
    {u"SliderPosition", 'b'},
    {u"SlideTextMirror", 'b'},
    {u"TopmostCurtain", 'b'},
    {u"TopCurtain", 'b'},
    {u"BottomCurtain", 'b'},
    {u"CurtainAlpha", 'b'},
    {u"TextShadow", 'b'},
    {u"TextSize", 'b'},
    {u"ZorpControl", 'b'},
    {u"HPstartZorp", 'b'},
    {u"HPcloseZorp", 'b'},
    {u"NoZorp", 'b'},
    {u"ZorpAlbum", 'b'},
    {u"LockSound", 't'},
    {u"UnlockSound", 't'},
    {u"SliderInertia", 'b'},
    {u"VibrationLED", 'b'},
    {u"HapticFeedback", 'b'},
    {u"VibrateOnConnect", 'b'},
    {u"DpadOn", 'b'},
    {u"UnlockOnRotate", 'b'},
    {u"ActionOnAC", 'b'},
    {u"StylusOutUnlock", 'b'},
    {u"StylusInLock", 'b'},
    {u"KeyboardOpenUnlock", 'b'},
    {u"KeyboardCloseLock", 'b'},
    {u"UnlockRunEXE", 't'},
    {u"Unlock2Home", 'b'},
    {u"IgnoreScreenRotation", 'b'},
    {u"NoPowerSuspend", 'b'},
    {u"DisplayMode", 'b'},
    {u"KoreanSMSpatch", 'b'},
    {u"NoKeyBoardHook", 'b'},
    {u"NoManilaLock", 'b'},
    {u"NoSystemLock", 'b'},
    {u"ExceptionEXEisFG", 'b'},
    {u"WakeupDelayMS", 'n'},
    {u"BlankOnTalkDelayMS", 'n'},
    {u"DelayBootUpMS", 'n'}
};

std::string hex(std::uint32_t v, int digits) {
    char b[16];
    std::snprintf(b, sizeof b, "%0*x", digits, v);
    return b;
}

// The expected file: the header, every option from `values` in the export order, and the two
// sections as the service's first start leaves them.
std::string expected_export(const catalogue::Values& values) {
    std::u16string t = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo]\r\n";
    for (auto [name, kind] : kExportOrder) {
        Id id = *catalogue::find(name);
        std::u16string line = u"\"" + std::u16string(name) + u"\"=";
        if (kind == 'b') line += u"hex:" + to_u16(hex(values.num(id), 2));
        if (kind == 'n') line += u"dword:" + to_u16(hex(values.num(id), 8));
        if (kind == 't') line += u"\"" + values.text(id) + u"\"";
        t += line + u"\r\n";
    }
    t += u"\r\n[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo\\Exceptions]\r\n";
    for (std::size_t i = 0; i < 20; ++i) {
        std::u16string v = i < catalogue::kDefaultExceptions.size() ? std::u16string(catalogue::kDefaultExceptions[i]) : u"";
        t += u"\"" + catalogue::exception_value_name(i) + u"\"=\"" + v + u"\"\r\n";
    }
    t += u"\r\n[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo\\S2VEXE]\r\n";
    for (std::size_t i = 0; i < 9; ++i) {
        t += u"\"" + catalogue::s2v_file_value_name(i) + u"\"=\"\"\r\n";
        t += u"\"" + catalogue::s2v_parameters_value_name(i) + u"\"=\"\"\r\n";
    }
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : t) {
        bytes.push_back(char(ch & 0xFF));
        bytes.push_back(char(ch >> 8));
    }
    return bytes;
}

TEST_F(SettingsTest, SaveWritesTheCatalogueTheExportAndRestartsTheService) {
    open_page(kInformation);
    tap_item(2, Where::Plus);  // ClockPath clock\ -> clockH\, the lock screen's
    tap(20, layout(*ctx).top - 10);  // back to the menu
    open_page(kAppearance);
    tap_item(8, Where::Plus);  // TextSize 2 -> 3
    press_bottom(0);
    EXPECT_EQ(reg_text(u"Software\\Vesk\\Lumo", u"ClockPath"), u"clockH\\");
    EXPECT_EQ(fake.registry().get_binary(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"TextSize")->at(0), std::byte{3});

    auto expected = catalogue::Values::defaults(proto::Program::Settings, 255);
    catalogue::load_program(fake.registry(), proto::Program::Settings, expected);
    auto file = read_file(host(program_folder() + u"\\lumo Settings.reg"));
    auto defaults = catalogue::Values::defaults(proto::Program::Service, 255);
    defaults.set_text(Id::ClockPath, u"clockH\\");
    defaults.set_num(Id::TextSize, 3);
    defaults.set_num(Id::ShowBattery, expected.num(Id::ShowBattery));
    EXPECT_EQ(file, expected_export(defaults));

    // The restart: lumo and the service asked to close, the service started again.
    EXPECT_EQ(count_seen(WM_CLOSE | 0x10000000u), 1);
    EXPECT_EQ(count_seen(WM_CLOSE), 1);
    auto launches = fake.launches();
    ASSERT_FALSE(launches.empty());
    EXPECT_EQ(launches.back().path, u"\\Program Files\\Lumo\\Vardex2.exe");
    EXPECT_EQ(launches.back().arguments, u"");
    EXPECT_TRUE(ctx->ended);
    auto log = log_text();
    (void)log;
}

TEST_F(SettingsTest, SavingTwiceLeavesTheNewerFile) {
    auto path = host(program_folder() + u"\\lumo Settings.reg");
    {
        std::ofstream old(path);
        old << std::string(100000, 'x');
    }
    press_bottom(0);
    auto file = read_file(path);
    EXPECT_EQ(file.substr(0, 2), "\xFF\xFE");
    EXPECT_LT(file.size(), 100000u);
}

TEST_F(SettingsTest, TheExportReadsBackWithPythonCodecs) {
    auto key = catalogue::open_root(fake.registry());
    catalogue::write_text(fake.registry(), key->key, u"Wallpaper", u"\\My Documents\\My Pictures\\w.jpg");
    fake.windows().send(ctx->main_window, kMsgWallpaperChanged, 0, 0);
    press_bottom(0);  // save: the registry and the export agree afterwards
    auto path = host(program_folder() + u"\\lumo Settings.reg");
    auto out = root / "parsed.txt";
    std::string script =
        "import codecs,sys\n"
        "t=codecs.open(sys.argv[1],'r','utf-16').read()\n"
        "assert t.startswith('Windows Registry Editor Version 5.00\\r\\n\\r\\n'), repr(t[:60])\n"
        "sec=''\n"
        "o=codecs.open(sys.argv[2],'w','utf-8')\n"
        "for line in t.split('\\r\\n'):\n"
        "  if line.startswith('['): sec=line[1:-1].split('\\\\',1)[1]; continue\n"
        "  if not line.startswith('\"'): continue\n"
        "  name,val=line[1:].split('\"=',1)\n"
        "  if val.startswith('hex:'): o.write('%s|%s|b|%d\\n'%(sec,name,int(val[4:],16)))\n"
        "  elif val.startswith('dword:'): o.write('%s|%s|n|%d\\n'%(sec,name,int(val[6:],16)))\n"
        "  else: o.write('%s|%s|t|%s\\n'%(sec,name,val[1:-1]))\n";
    auto script_path = root / "parse.py";
    std::ofstream(script_path) << script;
    std::string cmd = "python3 '" + script_path.string() + "' '" + path.string() + "' '" + out.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(out);
    std::string line;
    int checked = 0;
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        std::string sec, name, kind, value;
        std::getline(ss, sec, '|');
        std::getline(ss, name, '|');
        std::getline(ss, kind, '|');
        std::getline(ss, value);
        auto wname = to_u16(name);
        auto wsec = to_u16(sec);
        if (kind == "t") {
            EXPECT_EQ(to_utf8(reg_text(wsec, wname)), value) << name;
        } else if (kind == "b") {
            auto b = fake.registry().get_binary(Root::CurrentUser, wsec, wname);
            ASSERT_TRUE(b && b->size() == 1) << name;
            EXPECT_EQ(std::to_integer<int>(b->at(0)), std::stoi(value)) << name;
        } else {
            auto d = fake.registry().get_dword(Root::CurrentUser, wsec, wname);
            ASSERT_TRUE(d) << name;
            EXPECT_EQ(*d, std::stoul(value)) << name;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 103 + 20 + 18);
}

TEST_F(SettingsTest, AnEmptyExceptionsKeyStillHasItsSection) {
    fake.registry().delete_key(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions");
    fake.registry().create_key(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions");
    fake.registry().delete_key(Root::CurrentUser, u"Software\\Vesk\\Lumo\\S2VEXE");
    ASSERT_TRUE(export_settings(fake, program_folder(), ctx->settings));
    auto file = read_file(host(program_folder() + u"\\lumo Settings.reg"));
    std::string tail = "\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo\\Exceptions]\r\n";
    std::string wide;
    for (char ch : tail) wide += std::string{ch, '\0'};
    ASSERT_GE(file.size(), wide.size());
    EXPECT_EQ(file.substr(file.size() - wide.size() + 4), wide.substr(4));
}

TEST_F(SettingsTest, LongTextsAreCutTo258Characters) {
    auto key = catalogue::open_root(fake.registry());
    auto values = ctx->settings;
    values.set_text(Id::Wallpaper, std::u16string(259, u'w'));
    ASSERT_TRUE(export_settings(fake, program_folder(), values));
    auto file = read_file(host(program_folder() + u"\\lumo Settings.reg"));
    std::u16string text;
    for (std::size_t i = 2; i + 1 < file.size(); i += 2) text.push_back(char16_t(std::uint8_t(file[i]) | std::uint8_t(file[i + 1]) << 8));
    auto at = text.find(u"\"Wallpaper\"=");
    auto end = text.find(u"\r\n", at);
    EXPECT_EQ(end - at, 258u);
}

TEST_F(SettingsTest, DefaultResetsTheItemsAndStaysOpen) {
    open_page(kPower);
    tap_item(1);
    EXPECT_EQ(item(kPower, 1).value, 0);
    press_bottom(1);
    EXPECT_EQ(item(kPower, 1).value, 1);
    EXPECT_FALSE(ctx->ended);
}

TEST_F(SettingsTest, CancelEndsWithoutSaving) {
    open_page(kPower);
    tap_item(1);
    press_bottom(2);
    EXPECT_TRUE(ctx->ended);
    EXPECT_EQ(fake.registry().get_binary(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"BlankStart")->at(0), std::byte{1});
    EXPECT_EQ(count_seen(WM_CLOSE), 0);
    EXPECT_EQ(count_seen(proto::WM_RemoveStateListener), 1);
}

TEST_F(SettingsTest, StartUpRegistersWithTheServiceAndWatchesTheFileValues) {
    EXPECT_EQ(count_seen(proto::WM_GetBatteryFor), 1);
    EXPECT_EQ(count_seen(proto::WM_AddStateListener), 1);
    open_page(8);
    EXPECT_EQ(item(8, 0).value, 0);
    auto key = catalogue::open_root(fake.registry());
    catalogue::write_text(fake.registry(), key->key, u"LockSound", u"\\Program Files\\Lumo\\lock.wav");
    fake.run_for(100);
    EXPECT_EQ(item(8, 0).value, 1);
    // Unticking clears the value at once.
    tap_item(0);
    EXPECT_EQ(reg_text(u"Software\\Vesk\\Lumo", u"LockSound"), u"");
    // Ticking starts the browser with the sounds' pattern.
    tap_item(0);
    auto launches = fake.launches();
    ASSERT_FALSE(launches.empty());
    EXPECT_EQ(launches.back().path, u"\\Program Files\\Lumo\\lumoc.exe");
    EXPECT_EQ(launches.back().arguments, u"\"\\Program Files\\Lumo\\*.wav\"");
    EXPECT_EQ(item(8, 0).value, 0);
}

class VibrationTest : public SettingsFixture {
protected:
    void SetUp() override {
        fake.notify().set_led_count(3);
        write_first_start_defaults();
        ASSERT_EQ(start(), EntryResult::Running);
    }
};

TEST_F(VibrationTest, ChangingTheVibrationLedPulsesTheChosenLedFor150Ms) {
    open_page(8);
    ASSERT_EQ(item(8, 3).kind, kNumber15);
    EXPECT_EQ(item(8, 3).max, 2);  // three LEDs
    ctx->pages[8].items[3].value = 2;  // the phone's last LED, its vibrator
    tap_item(3, Where::Minus);
    ASSERT_EQ(item(8, 3).value, 1);
    auto sw = fake.notify().led_switches();
    ASSERT_EQ(sw.size(), 2u);
    EXPECT_EQ(sw[0].index, 1u);
    EXPECT_TRUE(sw[0].on);
    EXPECT_EQ(sw[1].index, 1u);
    EXPECT_FALSE(sw[1].on);
    EXPECT_EQ(sw[1].at_file_time - sw[0].at_file_time, 150u * 10000u);
    // At the lower end nothing changes and nothing vibrates.
    tap_item(3, Where::Minus);
    tap_item(3, Where::Minus);
    EXPECT_EQ(item(8, 3).value, 0);
    EXPECT_EQ(fake.notify().led_switches().size(), 4u);
}

class StatusBarTest : public SettingsFixture {
protected:
    void put(Root r, std::u16string_view key, std::u16string_view name, std::uint32_t v) {
        fake.registry().create_key(r, key);
        fake.registry().set_dword(r, key, name, v);
    }
    // The top bar's pixels, after the next refresh.
    std::vector<std::uint16_t> top_bar() {
        fake.run_for(1500);
        auto& mem = fake.display().memory;
        const int w = fake.display().pitch_pixels;
        return {mem.begin(), mem.begin() + std::ptrdiff_t(w) * 30};
    }
};

TEST_F(StatusBarTest, RingerWifiAndBluetoothShowFromTheStartAndFollowTheService) {
    write_first_start_defaults();
    put(Root::CurrentUser, u"ControlPanel\\Notifications\\ShellOverrides", u"Mode", 1);
    put(Root::LocalMachine, u"System\\State\\Hardware", u"Wifi", 0x2);
    put(Root::LocalMachine, u"System\\State\\Hardware", u"Bluetooth", 0x1);
    ASSERT_EQ(start(), EntryResult::Running);
    EXPECT_EQ(ctx->ringer, 1u);
    EXPECT_TRUE(ctx->wifi);
    EXPECT_TRUE(ctx->bluetooth);
    auto all_on = top_bar();
    // The service's forwarded changes, as a listener hears them (lParam 0).
    fake.windows().post(ctx->main_window, proto::WM_CHANGE_SN_WIFI, 0, 0);
    fake.windows().post(ctx->main_window, proto::WM_CHANGE_SN_BLUETOOTH, 0, 0);
    fake.windows().post(ctx->main_window, proto::WM_CHANGE_SN_PHONERINGER, 0, 0);
    auto all_off = top_bar();
    EXPECT_FALSE(ctx->wifi);
    EXPECT_FALSE(ctx->bluetooth);
    EXPECT_EQ(ctx->ringer, 0u);
    EXPECT_NE(all_on, all_off);
    fake.windows().post(ctx->main_window, proto::WM_CHANGE_SN_PHONERINGER, 2, 0);
    auto silent = top_bar();
    EXPECT_NE(silent, all_off);
    fake.windows().post(ctx->main_window, proto::WM_CHANGE_SN_PHONERINGER, 1, 0);
    fake.windows().post(ctx->main_window, proto::WM_CHANGE_SN_WIFI, 2, 0);
    fake.windows().post(ctx->main_window, proto::WM_CHANGE_SN_BLUETOOTH, 1, 0);
    EXPECT_EQ(top_bar(), all_on);
}

TEST_F(SettingsTest, TheAboutLinksOpenTheBrowser) {
    open_page(13);
    tap_item(0);
    tap_item(1);
    auto launches = fake.launches();
    ASSERT_GE(launches.size(), 2u);
    EXPECT_EQ(launches[launches.size() - 2].path, kBrowserExe);
    EXPECT_EQ(launches[launches.size() - 2].arguments, u"https://lumo.vesk.dev/");
    EXPECT_EQ(launches.back().path, kBrowserExe);
    EXPECT_EQ(launches.back().arguments, u"https://lumo.vesk.dev/donate");
}

class ExceptionListTest : public SettingsTest {
protected:
    void fill_all() {
        auto key = fake.registry().open_key(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions");
        for (std::size_t i = 0; i < 20; ++i)
            catalogue::write_text(fake.registry(), *key, catalogue::exception_value_name(i),
                                  u"p" + to_u16(std::to_string(i)) + u".exe");
    }
    void pick(std::u16string_view program) {
        auto key = catalogue::open_root(fake.registry());
        catalogue::write_text(fake.registry(), key->key, u"TempExceptionEXE", program);
        fake.windows().send(ctx->main_window, kMsgExceptionPicked, 0, 0);
        fake.run_until_idle();
    }
    std::u16string slot(std::size_t i) {
        return reg_text(u"Software\\Vesk\\Lumo\\Exceptions", catalogue::exception_value_name(i));
    }
};

TEST_F(ExceptionListTest, FullListAddsNothingAndADeletedSlotIsReused) {
    fill_all();
    open_page(kAdvanced);
    tap_item(8);
    ASSERT_EQ(ctx->state, ScreenState::Exceptions);
    EXPECT_EQ(ctx->exceptions.size(), 20u);
    pick(u"new.exe");
    for (std::size_t i = 0; i < 20; ++i) EXPECT_NE(slot(i), u"new.exe");
    // Select row 03 and press the delete button.
    tap_item(3);
    EXPECT_EQ(ctx->selected_exception, 3);
    EXPECT_EQ(bottom_labels(*ctx), std::vector<std::u16string>{u"Delete p3.exe"});
    press_bottom(0, 1);
    EXPECT_EQ(slot(3), u"");
    EXPECT_EQ(ctx->exceptions.size(), 19u);
    pick(u"new.exe");
    EXPECT_EQ(slot(3), u"new.exe");
    EXPECT_EQ(reg_text(u"Software\\Vesk\\Lumo", u"TempExceptionEXE"), u"new.exe");
}

TEST_F(ExceptionListTest, DeleteClearsOnlyTheLowerOfTwoEqualSlots) {
    auto key = fake.registry().open_key(Root::CurrentUser, u"Software\\Vesk\\Lumo\\Exceptions");
    catalogue::write_text(fake.registry(), *key, u"ExceptionEXE07", u"twice.exe");
    catalogue::write_text(fake.registry(), *key, u"ExceptionEXE09", u"twice.exe");
    open_page(kAdvanced);
    tap_item(8);
    auto it = std::find(ctx->exceptions.begin(), ctx->exceptions.end(), u"twice.exe");
    ASSERT_NE(it, ctx->exceptions.end());
    tap_item(int(it - ctx->exceptions.begin()));
    press_bottom(0, 1);
    EXPECT_EQ(slot(7), u"");
    EXPECT_EQ(slot(9), u"twice.exe");
    EXPECT_EQ(std::count(ctx->exceptions.begin(), ctx->exceptions.end(), u"twice.exe"), 1);
}

TEST_F(ExceptionListTest, TheAddButtonClearsThePickAndStartsTheBrowser) {
    pick(u"old.exe");
    open_page(kAdvanced);
    tap_item(8);
    tap_item(int(ctx->exceptions.size()));
    EXPECT_EQ(reg_text(u"Software\\Vesk\\Lumo", u"TempExceptionEXE"), u"");
    auto launches = fake.launches();
    ASSERT_FALSE(launches.empty());
    EXPECT_EQ(launches.back().arguments, u"\"\\Program Files\\*.exe\"");
}

TEST_F(SettingsTest, AHangingServiceGivesTheSoftResetMessage) {
    service_hangs = true;
    press_bottom(0);
    EXPECT_EQ(sleeps, 20);
    auto boxes = fake.dialogs();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, u"Cannot restart Vardex2, please soft-reset your device.");
    for (auto& l : fake.launches()) EXPECT_NE(l.path, u"\\Program Files\\Lumo\\Vardex2.exe");
    EXPECT_TRUE(ctx->ended);
}

TEST_F(SettingsTest, WithoutTheServiceTheRestartOnlyStartsIt) {
    fake.processes().terminate(service_pid);
    fake.run_until_idle();
    press_bottom(0);
    EXPECT_EQ(sleeps, 0);
    ASSERT_FALSE(fake.launches().empty());
    EXPECT_EQ(fake.launches().back().path, u"\\Program Files\\Lumo\\Vardex2.exe");
}

TEST_F(SettingsTest, TurningCallerIdOffAsksForASoftReset) {
    auto key = catalogue::open_root(fake.registry());
    open_page(kPhone);
    ctx->pages[kPhone].items[0].value = 0;
    ctx->caller_id_at_load = true;
    press_bottom(0);
    bool asked = false;
    for (auto& d : fake.dialogs()) asked |= d.text.find(u"disabled the CallerID") != std::u16string::npos;
    EXPECT_TRUE(asked);
}

TEST_F(SettingsTest, ASleepTimerIsStoredAnnouncedCountedDownAndCancelled) {
    open_page(7);
    tap_item(5);
    ASSERT_EQ(ctx->state, ScreenState::SleepTimer);
    auto row_tap = [this](int row, bool plus) {
        int pad = gfx::ScaleUnit(ctx->screen, 4);
        auto a = step_areas(*ctx, ctx->screen_width - 2 * pad - gfx::ScaleUnit(ctx->screen, 6));
        int x = pad + (plus ? (a.plus_left + a.plus_right) / 2 : (a.minus_left + a.minus_right) / 2);
        for (int y = 0; y < ctx->screen_height; ++y)
            if (sleep_row_at(*ctx, y) == row) return tap(x, y + 5);
    };
    row_tap(0, true);   // 1 hour
    row_tap(1, true);   // 1 minute
    row_tap(1, true);   // 2 minutes
    row_tap(1, false);  // 1 minute
    std::uint64_t now = fake.clock().local_file_time();
    press_bottom(0, 2);  // Start
    auto due = fake.registry().get_binary(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"SleepTimer");
    ASSERT_TRUE(due && due->size() == 8);
    std::uint64_t t = 0;
    std::memcpy(&t, due->data(), 8);
    EXPECT_EQ(t - now, 36000000000ull + 600000000ull);
    EXPECT_EQ(count_seen(proto::WM_ADD_SLEEPTIMER), 1);
    EXPECT_TRUE(ctx->ended);  // the service was there: the program closes

    // A new start (a new process: the window class belongs to the first) shows the time left on
    // the item; a tap there cancels it.
    ctx.reset();
    auto scope = fake.as_process(fake.add_process(u"\\Program Files\\Lumo\\LumoSettings.exe"));
    ASSERT_EQ(start(), EntryResult::Running);
    fake.advance(2 * 60 * 1000);
    EXPECT_EQ(sleep_timer_text(*ctx), u"in 59 mins");
    fake.advance(58 * 60 * 1000 + 30 * 1000);
    EXPECT_EQ(sleep_timer_text(*ctx), u"in 30 s");
    open_page(7);
    tap_item(5);
    EXPECT_FALSE(fake.registry().get_binary(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"SleepTimer"));
    EXPECT_EQ(ctx->state, ScreenState::Page);
}

TEST_F(SettingsTest, ASleepTimerOfNoTimeReturnsToThePage) {
    open_page(7);
    tap_item(5);
    press_bottom(0, 2);
    EXPECT_EQ(ctx->state, ScreenState::Page);
    EXPECT_FALSE(fake.registry().get_binary(Root::CurrentUser, u"Software\\Vesk\\Lumo", u"SleepTimer"));
    EXPECT_EQ(count_seen(proto::WM_ADD_SLEEPTIMER), 0);
}

class SettingsStartTest : public SettingsFixture {};

TEST_F(SettingsStartTest, DeviceFeaturesOfferTheirItems) {
    write_first_start_defaults();
    fake.registry().set_dword(Root::CurrentUser, u"ControlPanel\\Keybd", u"StylusOutStatus", 0);
    fake.registry().set_dword(Root::LocalMachine, u"Software\\OEM\\Keyboard", u"SlidingOut", 1);
    std::filesystem::create_directories(root / "Windows");
    std::ofstream(root / "Windows" / "manila.exe") << "x";
    std::vector<Seen> browser_seen;
    {
        auto scope = fake.as_process(fake.add_process(u"\\Windows\\shell32.exe"));
        fake.windows().register_class(u"MSSTARTMENU", [](Hwnd, std::uint32_t, WParam, LParam) -> LResult { return 0; });
        CreateWindowParams cp;
        cp.class_name = u"MSSTARTMENU";
        fake.windows().create_window(cp);
        fake.windows().register_class(u"LumoC", [&browser_seen](Hwnd, std::uint32_t msg, WParam w, LParam) -> LResult {
            browser_seen.push_back({msg, w});
            return 0;
        });
        cp.class_name = cp.title = u"LumoC";
        fake.windows().create_window(cp);
    }
    ASSERT_EQ(start(), EntryResult::Running);
    EXPECT_EQ(item(11, 3).parent, 0);
    EXPECT_EQ(item(11, 4).parent, 4);
    EXPECT_EQ(item(11, 5).parent, 0);
    EXPECT_EQ(item(11, 6).parent, 6);
    EXPECT_EQ(item(12, 4).parent, 0);
    EXPECT_EQ(item(12, 6).parent, 0);
    // A running browser is told the mode instead of being started again.
    open_page(5);
    tap_item(1);
    fake.run_until_idle();
    ASSERT_FALSE(browser_seen.empty());
    EXPECT_EQ(browser_seen.back().msg, kMsgBrowse);
    EXPECT_EQ(browser_seen.back().w, WParam(kBrowseLandscape));
    EXPECT_TRUE(fake.launches().empty());
    // Leaving closes it.
    press_bottom(2);
    EXPECT_EQ(browser_seen.back().msg, WM_CLOSE);
}

TEST_F(SettingsStartTest, ASecondStartBringsTheFirstForward) {
    write_first_start_defaults();
    ASSERT_EQ(start(), EntryResult::Running);
    auto first = std::move(ctx);
    Context second(fake, fake.display());
    EXPECT_EQ(enter(second, u""), EntryResult::Ended);
    EXPECT_EQ(fake.windows().foreground_window(), first->main_window);
}

TEST_F(SettingsStartTest, AMissingPictureEndsAllThree) {
    write_first_start_defaults();
    std::filesystem::remove(root / "Program Files" / "Lumo" / "gfx" / "stonoff.png");
    EXPECT_EQ(start(), EntryResult::Ended);
    auto boxes = fake.dialogs();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"File (\\Program Files\\Lumo\\gfx\\stonoff.png) is missed, please reinstall Lumo.");
    EXPECT_EQ(count_seen(WM_CLOSE), 1);
    EXPECT_EQ(count_seen(WM_CLOSE | 0x10000000u), 1);
}

}  // namespace
}  // namespace lumo::settings::testing_support
