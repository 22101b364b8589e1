// The settings catalogue through its batches: first start, repair, each program's load, save,
// reset and the page conversions, over the fake platform's registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "lumo/catalogue/catalogue.h"
#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/text.h"
#include "recording_registry.h"

namespace lumo::catalogue {
namespace {

using platform::Registry;
using platform::Root;
using platform::ValueInfo;
using platform::ValueType;
using protocol::Program;

struct Stored {
    ValueType type;
    std::vector<std::byte> bytes;
};

std::optional<Stored> stored(Registry& reg, std::u16string_view name,
                             std::u16string_view path = protocol::kRootKey) {
    auto key = reg.open_key(Root::CurrentUser, path);
    if (!key) return std::nullopt;
    std::vector<std::byte> buf(platform::kMaxValueBytes);
    ValueInfo info;
    if (!reg.read_value(*key, name, buf, &info)) return std::nullopt;
    buf.resize(info.size);
    return Stored{info.type, buf};
}

std::u16string as_text(const Stored& s) {
    return platform::decode_string_value(s.bytes);
}

std::string utf8(std::u16string_view s) {
    return platform::to_utf8(s);
}

class CatalogueTest : public ::testing::Test {
  protected:
    platform::fake::FakePlatform device;
    Registry& reg = device.registry();

    platform::RegKey root() { return open_root(reg)->key; }
    void put_byte(std::u16string_view name, std::uint8_t v) { write_byte(reg, root(), name, v); }
    void put_number(std::u16string_view name, std::uint32_t v) {
        write_number(reg, root(), name, v);
    }
    void put_text(std::u16string_view name, std::u16string_view v) {
        write_text(reg, root(), name, v);
    }
    // The service's first start: the defaults, with a phone that reports three LEDs.
    void first_start() {
        auto opened = open_root(reg);
        ASSERT_TRUE(opened);
        ASSERT_TRUE(opened->created);
        write_defaults(reg, opened->key, Values::defaults(Program::Service, 2));
    }
    Values load(Program p) {
        auto v = Values::defaults(p, 2);
        load_program(reg, p, v);
        return v;
    }
};

TEST_F(CatalogueTest, FirstStartWritesEveryDefaultWithItsShapeAndNothingElse) {
    first_start();
    for (const auto& s : settings()) {
        SCOPED_TRACE(utf8(s.name));
        auto v = stored(reg, s.name);
        if (!(s.flags & kFirstStart)) {
            EXPECT_FALSE(v) << "written although the first start leaves it alone";
            continue;
        }
        ASSERT_TRUE(v);
        switch (s.shape) {
            case Shape::Byte: {
                ASSERT_EQ(v->type, ValueType::Binary);
                ASSERT_EQ(v->bytes.size(), 1u);
                auto expected = (s.flags & kComputedDefault) ? 2u : s.def;
                EXPECT_EQ(std::to_integer<unsigned>(v->bytes[0]), expected);
                break;
            }
            case Shape::Number: {
                ASSERT_EQ(v->type, ValueType::Dword);
                ASSERT_EQ(v->bytes.size(), 4u);
                std::uint32_t n = 0;
                for (int i = 3; i >= 0; --i)
                    n = (n << 8) | std::to_integer<std::uint32_t>(v->bytes[i]);
                EXPECT_EQ(n, s.def);
                break;
            }
            case Shape::Text:
                ASSERT_EQ(v->type, ValueType::String);
                EXPECT_EQ(v->bytes.size(), s.def_text.size() * 2) << "stored with its zero";
                EXPECT_EQ(utf8(as_text(*v)), utf8(s.def_text));
                break;
            case Shape::Blob:
                ADD_FAILURE() << "blobs have no default";
                break;
        }
    }
    // The values the first start must not create, named explicitly.
    for (auto name : {u"DebugOn", u"KoreanSMSpatch", u"DialedID", u"CallerIDKeyDelay", u"ResetTAPI",
                      u"ShufflePassword", u"CurrentWeather", u"SavedPassword", u"SleepTimer"})
        EXPECT_FALSE(stored(reg, name)) << utf8(name);
}

TEST_F(CatalogueTest, TextsComeFirstInTheFirstStartBatch) {
    testing::RecordingRegistry rec(reg);
    auto opened = open_root(rec);
    write_defaults(rec, opened->key, Values::defaults(Program::Service, 2));
    ASSERT_GE(rec.writes.size(), 12u);
    const std::vector<std::u16string> texts(rec.writes.begin(), rec.writes.begin() + 12);
    const std::vector<std::u16string> expected{u"TimeFormat",
                                               u"Time2Format",
                                               u"DateFormat",
                                               u"AppointmentTimeFormat",
                                               u"AppointmentDateFormat",
                                               u"Wallpaper",
                                               u"WallpaperL",
                                               u"LockSound",
                                               u"UnlockSound",
                                               u"UnlockRunEXE",
                                               u"ClockPath",
                                               u"Clock2Path"};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(rec.writes[12], u"AutoStart") << "the service spells the first switch so";
}

TEST_F(CatalogueTest, ALaterServiceStartWritesNothing) {
    first_start();
    create_missing_subkey_values(reg);
    testing::RecordingRegistry rec(reg);
    auto opened = open_root(rec);
    EXPECT_FALSE(opened->created);
    auto v = Values::defaults(Program::Service, 2);
    load_service(rec, opened->key, v, {});
    create_missing_subkey_values(rec);
    EXPECT_TRUE(rec.writes.empty()) << utf8(rec.writes.front());
}

TEST_F(CatalogueTest, ServiceRepairsDeletedAndMistypedOptions) {
    first_start();
    delete_value(reg, root(), u"CurtainAlpha");
    put_number(u"TextSize", 3);  // a number where a byte belongs
    const std::byte two[2] = {std::byte{1}, std::byte{1}};
    write_blob(reg, root(), u"GifSpeed", two);  // two bytes where one belongs
    testing::RecordingRegistry rec(reg);
    auto v = Values::defaults(Program::Service, 2);
    v.set_num(Id::CurtainAlpha, 99);  // a stale copy must not survive a failed read
    load_service(rec, open_root(rec)->key, v, {});

    EXPECT_EQ(v.num(Id::CurtainAlpha), 15u);
    EXPECT_EQ(v.num(Id::TextSize), 2u);
    EXPECT_EQ(v.num(Id::GifSpeed), 0u);
    for (auto name : {u"CurtainAlpha", u"TextSize", u"GifSpeed"}) {
        auto s = stored(reg, name);
        ASSERT_TRUE(s) << utf8(name);
        EXPECT_EQ(s->type, ValueType::Binary) << utf8(name);
        EXPECT_EQ(s->bytes.size(), 1u) << utf8(name);
    }
    EXPECT_EQ(std::to_integer<int>(stored(reg, u"CurtainAlpha")->bytes[0]), 15);
    std::set<std::u16string> written(rec.writes.begin(), rec.writes.end());
    EXPECT_EQ(written, (std::set<std::u16string>{u"CurtainAlpha", u"TextSize", u"GifSpeed"}));
}

TEST_F(CatalogueTest, ServiceLimitsAndDerivationsChangeOnlyItsCopy) {
    first_start();
    put_number(u"DelayBootUpMS", 2000);
    put_number(u"WakeUpDelayMS", 100);
    put_number(u"BlankOnTalkDelayMS", 0);
    put_byte(u"ShowAppointment", 9);
    put_byte(u"AppointmentDays", 200);
    put_byte(u"DialedID", 1);
    put_byte(u"ShowSMSPreview", 1);
    put_byte(u"NoKeyBoardHook", 0);
    auto v = Values::defaults(Program::Service, 2);
    load_service(reg, root(), v, {.music_player_installed = false, .os_major_version = 4});

    EXPECT_EQ(v.num(Id::DelayBootUpMS), 5000u);
    EXPECT_EQ(v.num(Id::WakeupDelayMS), 300u);
    EXPECT_EQ(v.num(Id::BlankOnTalkDelayMS), 200u);
    EXPECT_EQ(v.num(Id::DelayUnknownCallerMS), 4000u);
    EXPECT_EQ(v.num(Id::CallerIDKeyDelay), 70u);
    EXPECT_EQ(v.num(Id::ShowAppointment), 6u);
    EXPECT_EQ(v.num(Id::AppointmentDays), 100u);
    EXPECT_EQ(v.num(Id::DialedID), 0u) << "CallerID is 0";
    EXPECT_EQ(v.num(Id::ShowSMSPreview), 0u) << "LockNotification is 0";
    EXPECT_EQ(v.num(Id::NoKeyBoardHook), 1u) << "VolumeControl is 0";
    EXPECT_EQ(v.num(Id::HPstartZorp), 0u);
    EXPECT_EQ(v.num(Id::IdleStart), 0u);
    // The registry keeps what the settings program saved.
    EXPECT_EQ(*reg.get_dword(Root::CurrentUser, protocol::kRootKey, u"DelayBootUpMS"), 2000u);
    EXPECT_EQ(std::to_integer<int>(stored(reg, u"ShowAppointment")->bytes[0]), 9);
}

TEST_F(CatalogueTest, ServiceKeepsDerivedValuesWhenTheirConditionsHold) {
    first_start();
    put_byte(u"CallerID", 1);
    put_byte(u"DialedID", 1);
    put_byte(u"VolumeControl", 1);
    put_byte(u"NoKeyBoardHook", 0);
    auto v = Values::defaults(Program::Service, 2);
    load_service(reg, root(), v, {.music_player_installed = true, .os_major_version = 5});
    EXPECT_EQ(v.num(Id::DialedID), 1u);
    EXPECT_EQ(v.num(Id::NoKeyBoardHook), 0u);
    EXPECT_EQ(v.num(Id::HPstartZorp), 1u);
    EXPECT_EQ(v.num(Id::IdleStart), 1u);
}

TEST_F(CatalogueTest, SettingsLoadAppliesItsClamps) {
    first_start();
    put_byte(u"OffLCD", 3);
    put_byte(u"ACOffLCD", 0);
    put_byte(u"ShowWeather", 8);
    put_byte(u"AlignAppointment", 7);
    put_byte(u"ShowBattery", 200);
    put_byte(u"GifSpeed", 11);
    put_byte(u"SliderInertia", 50);
    put_byte(u"CurtainAlpha", 40);  // no clamp for this one: kept as stored
    auto v = load(Program::Settings);
    EXPECT_EQ(v.num(Id::OffLCD), 5u);
    EXPECT_EQ(v.num(Id::ACOffLCD), 0u);
    EXPECT_EQ(v.num(Id::ShowWeather), 0u);
    EXPECT_EQ(v.num(Id::AlignAppointment), 2u);
    EXPECT_EQ(v.num(Id::ShowBattery), 2u);
    EXPECT_EQ(v.num(Id::GifSpeed), 10u);
    EXPECT_EQ(v.num(Id::SliderInertia), 10u);
    EXPECT_EQ(v.num(Id::CurtainAlpha), 40u);

    put_byte(u"ShowWeather", 9);
    put_byte(u"ShowWeather", 9);
    EXPECT_EQ(load(Program::Settings).num(Id::ShowWeather), 0u);
    put_byte(u"ShowWeather", 7);
    EXPECT_EQ(load(Program::Settings).num(Id::ShowWeather), 7u);
}

TEST_F(CatalogueTest, OffLcdThreeIsShownAndSavedAsFive) {
    first_start();
    put_byte(u"OffLCD", 3);
    auto v = load(Program::Settings);
    ASSERT_TRUE(save(reg, v));
    EXPECT_EQ(std::to_integer<int>(stored(reg, u"OffLCD")->bytes[0]), 5);
}

TEST_F(CatalogueTest, AnInvalidPasswordTurnsThePasswordLockOffAndIsNotSavedAgain) {
    first_start();
    put_byte(u"PasswordLock", 1);
    const std::byte bad[4] = {std::byte{'1'}, std::byte{'2'}, std::byte{'a'}, std::byte{'4'}};
    write_blob(reg, root(), u"SavedPassword", bad);
    auto v = load(Program::Settings);
    EXPECT_EQ(v.num(Id::PasswordLock), 0u);
    auto pw = v.blob(Id::SavedPassword);
    ASSERT_EQ(pw.size(), 4u);
    EXPECT_TRUE(std::all_of(pw.begin(), pw.end(), [](std::byte b) { return b == std::byte{0}; }));

    testing::RecordingRegistry rec(reg);
    ASSERT_TRUE(save(rec, v));
    EXPECT_EQ(std::count(rec.writes.begin(), rec.writes.end(), u"SavedPassword"), 0);
    EXPECT_EQ(std::to_integer<int>(stored(reg, u"PasswordLock")->bytes[0]), 0);
}

TEST_F(CatalogueTest, AValidPasswordKeepsThePasswordLockAndIsSavedBeforeTheOptions) {
    first_start();
    put_byte(u"PasswordLock", 1);
    const std::byte good[4] = {std::byte{'1'}, std::byte{'2'}, std::byte{'3'}, std::byte{'4'}};
    write_blob(reg, root(), u"SavedPassword", good);
    auto v = load(Program::LockScreen);
    EXPECT_EQ(v.num(Id::PasswordLock), 1u);
    EXPECT_TRUE(std::equal(good, good + 4, v.blob(Id::SavedPassword).begin()));

    testing::RecordingRegistry rec(reg);
    ASSERT_TRUE(save(rec, v));
    auto at = std::find(rec.writes.begin(), rec.writes.end(), u"SavedPassword");
    ASSERT_NE(at, rec.writes.end());
    EXPECT_EQ(at - rec.writes.begin(), 7) << "after the seven texts, before the options";
}

TEST_F(CatalogueTest, PasswordLockWithAMissingOrShortPasswordReadsAsOff) {
    first_start();
    put_byte(u"PasswordLock", 1);
    EXPECT_EQ(load(Program::Settings).num(Id::PasswordLock), 0u);
    const std::byte three[3] = {std::byte{'1'}, std::byte{'2'}, std::byte{'3'}};
    write_blob(reg, root(), u"SavedPassword", three);
    EXPECT_EQ(load(Program::Settings).num(Id::PasswordLock), 0u);
}

TEST_F(CatalogueTest, NotificationAndSoftKeyRulesOfTheLoad) {
    first_start();
    put_byte(u"LockNotification", 0);
    put_byte(u"ShowSMSPreview", 1);
    put_byte(u"Slide2Dismiss", 1);
    put_byte(u"NoSoftKey", 1);
    put_byte(u"Slide2Answer", 2);
    put_byte(u"Slide2End", 1);
    auto v = load(Program::Settings);
    EXPECT_EQ(v.num(Id::ShowSMSPreview), 0u);
    EXPECT_EQ(v.num(Id::Slide2Dismiss), 0u);
    EXPECT_EQ(v.num(Id::Slide2Answer), 0u);
    EXPECT_EQ(v.num(Id::Slide2End), 0u);
    EXPECT_EQ(v.num(Id::DpadOn), 1u);
    save(reg, v);
    EXPECT_EQ(std::to_integer<int>(stored(reg, u"ShowSMSPreview")->bytes[0]), 0);

    put_byte(u"LockNotification", 1);
    put_byte(u"ShowSMSPreview", 1);
    EXPECT_EQ(load(Program::Settings).num(Id::ShowSMSPreview), 1u);
}

TEST_F(CatalogueTest, ANonChoiceFormatShowsAsTheLastEntryAndSurvivesASave) {
    first_start();
    put_text(u"DateFormat", u"d'/'M");
    auto v = load(Program::Settings);
    EXPECT_EQ(v.text(Id::DateFormat), u"d'/'M");
    EXPECT_EQ(choice_index(Id::DateFormat, v.text(Id::DateFormat)), 2u);
    EXPECT_EQ(choice_index(Id::DateFormat, u"dddd', 'MMMM d"), 1u);
    EXPECT_EQ(choice_index(Id::ClockPath, u"myclock\\"), 5u);
    save(reg, v);
    EXPECT_EQ(as_text(*stored(reg, u"DateFormat")), u"d'/'M");
}

TEST_F(CatalogueTest, MissingOrUnreadableTextsFallBackAsEachTextPrescribes) {
    first_start();
    delete_value(reg, root(), u"TimeFormat");
    delete_value(reg, root(), u"Time2Format");
    delete_value(reg, root(), u"Wallpaper");
    put_number(u"AppointmentDateFormat", 5);                       // wrong type
    put_text(u"AppointmentTimeFormat", std::u16string(20, u'h'));  // no room for its zero
    put_text(u"ClockPath", std::u16string(19, u'x'));              // just fits
    put_text(u"DateFormat", std::u16string(50, u'd'));
    auto v = Values::defaults(Program::Settings, 2);
    v.set_text(Id::Wallpaper, u"\\kept.jpg");
    v.set_text(Id::AppointmentDateFormat, u"stale");
    load_program(reg, Program::Settings, v);
    EXPECT_EQ(v.text(Id::TimeFormat), u"H':'mm");
    EXPECT_EQ(v.text(Id::Time2Format), u"");
    EXPECT_EQ(v.text(Id::DateFormat), u"dddd', 'd MMMM");
    EXPECT_EQ(v.text(Id::AppointmentTimeFormat), u"h':'mmt");
    EXPECT_EQ(v.text(Id::AppointmentDateFormat), u"");
    EXPECT_EQ(v.text(Id::ClockPath), std::u16string(19, u'x'));
    EXPECT_EQ(v.text(Id::Wallpaper), u"\\kept.jpg");
}

TEST_F(CatalogueTest, EachProgramHasItsBuiltInFallbacks) {
    ASSERT_TRUE(open_root(reg));  // an empty key: every read fails
    EXPECT_EQ(load(Program::Settings).num(Id::ShowBattery), 0u);
    EXPECT_EQ(load(Program::LockScreen).num(Id::BatteryOnTop), 1u);
    EXPECT_EQ(load(Program::LockScreen).num(Id::ShowBattery), 1u);
    auto c = Values::defaults(Program::Browser, 2);
    EXPECT_TRUE(load_browser(reg, c));
    EXPECT_EQ(c.num(Id::DisplayMode), 1u);
    // Once the values exist, the table's defaults rule.
    write_defaults(reg, root(), Values::defaults(Program::Service, 2));
    ASSERT_TRUE(load_browser(reg, c));
    EXPECT_EQ(c.num(Id::DisplayMode), 2u);
    EXPECT_EQ(load(Program::Settings).num(Id::ShowBattery), 1u);
    EXPECT_EQ(load(Program::LockScreen).num(Id::BatteryOnTop), 0u);
}

TEST_F(CatalogueTest, ARootKeyThatCannotBeOpenedLeavesTheBuiltInDefaults) {
    testing::BrokenRegistry broken;
    auto v = Values::defaults(Program::Settings, 4);
    v.set_text(Id::Clock2Path, u"stale\\");
    EXPECT_FALSE(load_program(broken, Program::Settings, v));
    EXPECT_EQ(v.text(Id::TimeFormat), u"H':'mm");
    EXPECT_EQ(v.text(Id::ClockPath), u"clock\\");
    EXPECT_EQ(v.text(Id::Time2Format), u"");
    EXPECT_EQ(v.text(Id::Clock2Path), u"");
    EXPECT_EQ(v.num(Id::CurtainAlpha), 15u);
    EXPECT_EQ(v.num(Id::VibrationLED), 4u);
    EXPECT_FALSE(save(broken, v));
}

TEST_F(CatalogueTest, SaveWritesTheSevenTextsAndEveryPageOptionOnly) {
    auto v = Values::defaults(Program::Settings, 2);
    testing::RecordingRegistry rec(reg);
    ASSERT_TRUE(save(rec, v));
    std::set<std::u16string> expected;
    for (const auto& s : settings())
        if (s.is_option() && s.table <= 3 && s.name != u"DebugOn")
            expected.insert(std::u16string(s.name));
    for (Id id : kSaveTexts) expected.insert(std::u16string(setting(id).name));
    std::set<std::u16string> written(rec.writes.begin(), rec.writes.end());
    EXPECT_EQ(written.size(), rec.writes.size()) << "a value written twice";
    EXPECT_EQ(written, expected);
    EXPECT_EQ(rec.writes.front(), u"TimeFormat");
    EXPECT_EQ(rec.writes.back(), u"PasswordTime");
    // Each value keeps its shape.
    EXPECT_EQ(stored(reg, u"CanonicalPrefix")->type, ValueType::Dword);
    EXPECT_EQ(stored(reg, u"KoreanSMSpatch")->bytes.size(), 1u);
}

TEST_F(CatalogueTest, PasswordTimeOfAHundredSecondsShowsOneMinuteAndSavesSixty) {
    first_start();
    put_number(u"PasswordTime", 100);
    auto v = load(Program::Settings);
    auto index = password_time_index(v.num(Id::PasswordTime));
    EXPECT_EQ(index, 1u);
    v.set_num(Id::PasswordTime, password_time_seconds(index));
    save(reg, v);
    EXPECT_EQ(*reg.get_dword(Root::CurrentUser, protocol::kRootKey, u"PasswordTime"), 60u);
}

TEST(PageConversions, PasswordTimeThresholds) {
    const std::pair<std::uint32_t, std::size_t> cases[] = {
        {0, 0},     {59, 0},    {60, 1},    {299, 1},   {300, 2},
        {899, 2},   {900, 3},   {3599, 3},  {3600, 4},  {14399, 4},
        {14400, 5}, {43199, 5}, {43200, 6}, {99999, 6}, {0xFFFFFFFF, 6}};
    for (auto [seconds, index] : cases) EXPECT_EQ(password_time_index(seconds), index) << seconds;
    for (std::size_t i = 0; i < kPasswordTimes.size(); ++i)
        EXPECT_EQ(password_time_index(password_time_seconds(i)), i);
    EXPECT_EQ(password_time_seconds(99), 43200u);
}

TEST(PageConversions, DelaysRoundDownToThePageSteps) {
    EXPECT_EQ(delay_to_page(550), 5u);
    EXPECT_EQ(delay_from_page(delay_to_page(550)), 500u);
    EXPECT_EQ(boot_delay_to_page(2500), 2u);
    EXPECT_EQ(boot_delay_from_page(60), 60000u);
}

TEST_F(CatalogueTest, ResetKeepsThePasswordAndClearsTheSoundsAtOnce) {
    first_start();
    put_text(u"LockSound", u"\\a.wav");
    put_text(u"UnlockRunEXE", u"\\b.exe");
    auto v = load(Program::Settings);
    v.set_num(Id::PasswordLock, 1);
    v.set_num(Id::PasswordTime, 300);
    v.set_num(Id::CurtainAlpha, 3);
    v.set_num(Id::ShowBattery, 0);
    v.set_text(Id::DateFormat, u"d'/'M");
    v.set_text(Id::Time2Format, u"");
    v.set_text(Id::Wallpaper, u"\\w.jpg");
    reset_to_defaults(reg, v, 7);
    EXPECT_EQ(v.num(Id::PasswordLock), 1u);
    EXPECT_EQ(v.num(Id::PasswordTime), 300u);
    EXPECT_EQ(v.num(Id::CurtainAlpha), 15u);
    EXPECT_EQ(v.num(Id::ShowBattery), 1u);
    EXPECT_EQ(v.num(Id::VibrationLED), 7u);
    EXPECT_EQ(v.text(Id::DateFormat), u"dddd', 'd MMMM");
    EXPECT_EQ(v.text(Id::Time2Format), u"H':'mm");
    EXPECT_EQ(v.text(Id::Clock2Path), u"clockH\\");
    EXPECT_EQ(v.text(Id::AppointmentDateFormat), u"");
    EXPECT_EQ(v.text(Id::Wallpaper), u"\\w.jpg") << "the wallpaper is not part of the reset";
    EXPECT_EQ(as_text(*stored(reg, u"LockSound")), u"");
    EXPECT_EQ(as_text(*stored(reg, u"UnlockRunEXE")), u"");
    EXPECT_EQ(std::to_integer<int>(stored(reg, u"CurtainAlpha")->bytes[0]), 15)
        << "the registry is untouched until the save";
}

TEST_F(CatalogueTest, SubKeyValuesAreCreatedWhenMissingAndKeptOtherwise) {
    reg.set_string(Root::CurrentUser, protocol::kExceptionsKey, u"ExceptionEXE01", u"mine.exe");
    reg.set_dword(Root::CurrentUser, protocol::kS2VExeKey, u"3File", 7);
    create_missing_subkey_values(reg);
    auto ex = [&](std::size_t n) {
        return reg.get_string(Root::CurrentUser, protocol::kExceptionsKey, exception_value_name(n));
    };
    EXPECT_EQ(exception_value_name(7), u"ExceptionEXE07");
    EXPECT_EQ(*ex(0), u"iexplore.exe");
    EXPECT_EQ(*ex(1), u"mine.exe");
    EXPECT_EQ(*ex(5), u"wmplayer.exe");
    EXPECT_EQ(*ex(19), u"");
    EXPECT_FALSE(ex(20));
    for (std::size_t n = 0; n < kS2VExeCount; ++n) {
        if (n != 3) {
            EXPECT_EQ(
                *reg.get_string(Root::CurrentUser, protocol::kS2VExeKey, s2v_file_value_name(n)),
                u"");
        }
        EXPECT_EQ(
            *reg.get_string(Root::CurrentUser, protocol::kS2VExeKey, s2v_parameters_value_name(n)),
            u"");
    }
    EXPECT_EQ(*reg.get_dword(Root::CurrentUser, protocol::kS2VExeKey, u"3File"), 7u);
}

TEST(CatalogueTable, NamesAreUniqueAndFoundInAnySpellingOrCase) {
    std::set<std::u16string> names;
    for (const auto& s : settings()) {
        EXPECT_TRUE(names.insert(platform::fold_case(s.name)).second) << utf8(s.name);
        EXPECT_EQ(find(s.name), find(platform::fold_case(s.name)));
        ASSERT_TRUE(find(s.name));
        EXPECT_EQ(&setting(*find(s.name)), &s);
    }
    EXPECT_EQ(find(u"wakeupdelayms"), Id::WakeupDelayMS);
    EXPECT_EQ(find(u"AUTOSTART"), Id::Autostart);
    EXPECT_FALSE(find(u"NoSuchValue"));
    EXPECT_EQ(setting(Id::WakeupDelayMS).name_for(Program::Service), u"WakeUpDelayMS");
    EXPECT_EQ(setting(Id::WakeupDelayMS).name_for(Program::LockScreen), u"WakeupDelayMS");
}

TEST(CatalogueTable, DefaultsLieWithinTheirRangesAndSaveOrderHasNoDuplicates) {
    for (const auto& s : settings()) {
        if (!s.is_option() || (s.flags & kComputedDefault)) continue;
        EXPECT_GE(s.def, s.min) << utf8(s.name);
        EXPECT_LE(s.def, s.max) << utf8(s.name);
    }
    std::set<Id> seen(std::begin(kSaveOptions), std::end(kSaveOptions));
    EXPECT_EQ(seen.size(), std::size(kSaveOptions));
    for (const auto& s : settings())
        if (!s.choices.empty()) {
            EXPECT_NE(std::find(s.choices.begin(), s.choices.end(), s.def_text), s.choices.end())
                << utf8(s.name);
        }
}

TEST(CatalogueValues, VibrationLedDefaultFollowsTheLedCount) {
    EXPECT_EQ(vibration_led_default(std::nullopt), 255);
    EXPECT_EQ(vibration_led_default(0u), 255);
    EXPECT_EQ(vibration_led_default(1u), 0);
    EXPECT_EQ(vibration_led_default(3u), 2);
    EXPECT_EQ(vibration_led_default(1000u), 255);
}

TEST(CatalogueValues, BlobsAreAbsentUntilSetAndKeepTheirSize) {
    auto v = Values::defaults(Program::Service, 0);
    EXPECT_TRUE(v.blob(Id::SleepTimer).empty());
    const std::byte t[8] = {std::byte{1}, std::byte{2}, std::byte{3}, std::byte{4},
                            std::byte{5}, std::byte{6}, std::byte{7}, std::byte{8}};
    v.set_blob(Id::SleepTimer, t);
    ASSERT_EQ(v.blob(Id::SleepTimer).size(), 8u);
    EXPECT_EQ(v.blob(Id::SleepTimer)[7], std::byte{8});
    v.clear_blob(Id::SleepTimer);
    EXPECT_TRUE(v.blob(Id::SleepTimer).empty());
}

TEST_F(CatalogueTest, SleepTimerIsReadByTheServiceAndDeletedWhenCancelled) {
    first_start();
    const std::byte t[8] = {std::byte{9}, {}, {}, {}, {}, {}, {}, std::byte{1}};
    write_blob(reg, root(), protocol::mailbox::kSleepTimer, t);
    auto v = Values::defaults(Program::Service, 2);
    load_service(reg, root(), v, {});
    ASSERT_EQ(v.blob(Id::SleepTimer).size(), 8u);
    EXPECT_EQ(v.blob(Id::SleepTimer)[0], std::byte{9});
    EXPECT_TRUE(delete_value(reg, root(), protocol::mailbox::kSleepTimer));
    EXPECT_FALSE(stored(reg, protocol::mailbox::kSleepTimer));
}

}  // namespace
}  // namespace lumo::catalogue
