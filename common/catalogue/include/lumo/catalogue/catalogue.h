#pragma once
// The settings catalogue: every value the product keeps under Software\Vesk\Lumo, as one table
// (name, stored shape, buffer size, default, limits, choices, page, readers), and the rules by
// which each program reads, repairs, resets and saves it. Every batch below is a loop over the
// table; no value name or default is written anywhere else.
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lumo/platform/registry.h"
#include "lumo/protocol/protocol.h"

namespace lumo::catalogue {

using protocol::Program;

enum class Shape : std::uint8_t {
    Byte,    // 1-byte binary value
    Number,  // 32-bit little-endian value
    Text,    // wide string; size = buffer in characters including the terminating zero
    Blob,    // binary value of exactly `size` bytes
};

enum class Page : std::uint8_t {
    None,
    General,
    Power,
    Information,
    Appointment,
    Phone,
    Wallpaper,
    Appearance,
    Zorp,
    Feedback,
    Others,
    Advanced,
};

// Programs that read a value besides the settings program.
enum Reader : std::uint8_t { kV = 1, kL = 2, kC = 4 };

// What the settings program's load does with a byte option above its maximum.
enum class Over : std::uint8_t { Keep, Clamp, Zero };

enum Flag : std::uint16_t {
    kFirstStart = 1 << 0,       // written by the service's first start
    kAbsent = 1 << 1,           // no default: the value does not exist until someone writes it
    kMissingEmpty = 1 << 2,     // a reader that finds the text missing takes the empty text
    kSettingsReads = 1 << 3,    // a table-5 value the settings program reads nevertheless
    kComputedDefault = 1 << 4,  // the default comes from the platform (VibrationLED)
    kServiceCeiling = 1 << 5,   // the service also cuts the value at `max` (in memory only)
};

struct Setting {
    std::u16string_view name{};          // spelling of the settings program, lumo and LumoC
    std::u16string_view service_name{};  // the service's spelling (same value: names fold case)
    Shape shape = Shape::Byte;
    std::uint8_t table = 1;  // 1 to 6, the groups of the catalogue
    std::uint16_t size = 1;  // bytes, or characters for texts
    std::uint32_t def = 0;   // default of bytes and numbers
    std::u16string_view def_text{};
    std::uint32_t min = 0, max = 1;  // range offered by the page
    Over over = Over::Keep;
    std::uint32_t service_floor = 0;  // the service raises smaller values (in memory only)
    Page page = Page::None;
    std::uint8_t readers = 0;
    std::uint16_t flags = kFirstStart;
    std::span<const std::u16string_view> choices{};

    constexpr bool is_option() const { return shape == Shape::Byte || shape == Shape::Number; }
    constexpr std::u16string_view name_for(Program p) const {
        return p == Program::Service && !service_name.empty() ? service_name : name;
    }
};

// Choices the settings pages offer for the texts; the first entry is the "Default" button's.
inline constexpr std::array<std::u16string_view, 3> kTimeFormatChoices{u"H':'mm", u"h':'mm tt",
                                                                       u"h':'mm':'ss tt"};
inline constexpr std::array<std::u16string_view, 3> kDateFormatChoices{
    u"dddd', 'd MMMM", u"dddd', 'MMMM d", u"d MMMM', 'dddd"};
inline constexpr std::array<std::u16string_view, 3> kAptTimeFormatChoices{u"h':'mmt", u"h':'mmtt",
                                                                          u"H':'mm"};
inline constexpr std::array<std::u16string_view, 3> kAptDateFormatChoices{u"", u"ddd', 'd' 'MMM",
                                                                          u"d'/'M"};
inline constexpr std::array<std::u16string_view, 6> kClockPathChoices{
    u"clock\\", u"clockH\\", u"clockA\\", u"clockD\\", u"clockS\\", u""};

namespace detail {
constexpr Setting opt(std::uint32_t def, Page page, std::uint8_t readers) {
    Setting s;
    s.shape = Shape::Byte;
    s.table = 1;
    s.size = 1;
    s.def = def;
    s.page = page;
    s.readers = readers;
    return s;
}
constexpr Setting choice(std::uint32_t def, std::uint32_t max, Page page, std::uint8_t readers) {
    Setting s = opt(def, page, readers);
    s.table = 2;
    s.max = max;
    return s;
}
constexpr Setting number(std::uint32_t def, std::uint32_t min, std::uint32_t max, Page page,
                         std::uint8_t readers) {
    Setting s = opt(def, page, readers);
    s.shape = Shape::Number;
    s.table = 3;
    s.size = 4;
    s.min = min;
    s.max = max;
    return s;
}
constexpr Setting text(std::uint16_t chars, std::u16string_view def,
                       std::span<const std::u16string_view> choices, std::uint8_t readers) {
    Setting s;
    s.shape = Shape::Text;
    s.table = 4;
    s.size = chars;
    s.def_text = def;
    s.max = 0;
    s.choices = choices;
    s.readers = readers;
    return s;
}
constexpr Setting blob(std::uint16_t bytes, std::uint8_t readers) {
    Setting s;
    s.shape = Shape::Blob;
    s.table = 4;
    s.size = bytes;
    s.max = 0;
    s.readers = readers;
    s.flags = kAbsent;
    return s;
}
// Modifiers, applied in the table rows.
constexpr Setting clamp(Setting s, Over over) {
    s.over = over;
    return s;
}
constexpr Setting table(Setting s, std::uint8_t t) {
    s.table = t;
    return s;
}
constexpr Setting flags(Setting s, std::uint16_t f) {
    s.flags = f;
    return s;
}
constexpr Setting also(Setting s, std::uint16_t f) {
    s.flags |= f;
    return s;
}
constexpr Setting floor(Setting s, std::uint32_t v) {
    s.service_floor = v;
    return s;
}
constexpr Setting spelled(Setting s, std::u16string_view service) {
    s.service_name = service;
    return s;
}
constexpr Setting named(Setting s, std::u16string_view n) {
    s.name = n;
    return s;
}
inline constexpr std::uint16_t kNotAtFirstStart = 0;
}  // namespace detail

// The catalogue. Row order is the order in which the service's first start writes the defaults:
// the texts (formats, the five file values, the clock folders), then the options.
// X(identifier, row); the value name is the identifier unless the row names it.
#define LUMO_CATALOGUE(X)                                                                       \
    /* Table 4: texts and blobs. */                                                             \
    X(TimeFormat, text(20, u"H':'mm", kTimeFormatChoices, kV | kL | kC))                        \
    X(Time2Format, also(text(20, u"H':'mm", kTimeFormatChoices, kV | kL), kMissingEmpty))       \
    X(DateFormat, text(50, u"dddd', 'd MMMM", kDateFormatChoices, kV | kL))                     \
    X(AppointmentTimeFormat, text(20, u"h':'mmt", kAptTimeFormatChoices, kV | kL))              \
    X(AppointmentDateFormat, text(50, u"", kAptDateFormatChoices, kV | kL))                     \
    X(Wallpaper, text(260, u"", {}, kV | kL | kC))                                              \
    X(WallpaperL, text(260, u"", {}, kV | kL | kC))                                             \
    X(LockSound, text(260, u"", {}, kV | kL | kC))                                              \
    X(UnlockSound, text(260, u"", {}, kV | kL | kC))                                            \
    X(UnlockRunEXE, text(260, u"", {}, kV | kL | kC))                                           \
    X(ClockPath, text(50, u"clock\\", kClockPathChoices, kV | kL))                              \
    X(Clock2Path, also(text(50, u"", kClockPathChoices, kV | kL), kMissingEmpty))               \
    X(SavedPassword, blob(4, kL))                                                               \
    X(SleepTimer, named(blob(8, kV), protocol::mailbox::kSleepTimer))                           \
    /* Table 1: on/off switches. */                                                             \
    X(Autostart, spelled(opt(1, Page::General, kV), u"AutoStart"))                              \
    X(PasswordLock, opt(0, Page::General, kV | kL))                                             \
    X(LockNotification, opt(0, Page::General, kV | kL))                                         \
    X(AutoDismissNotification, opt(0, Page::General, kV | kL))                                  \
    X(ShowSMSPreview, opt(0, Page::General, kV))                                                \
    X(ShowMMSPreview, opt(0, Page::General, kV))                                                \
    X(ShowEmailPreview, opt(0, Page::General, kV))                                              \
    X(AutoMarkReadSMS, opt(0, Page::General, kV | kL))                                          \
    X(AutoMarkReadEmail, opt(0, Page::General, kV | kL))                                        \
    X(Slide2Dismiss, opt(0, Page::General, kV | kL))                                            \
    X(BlankStart, opt(1, Page::Power, kV))                                                      \
    X(IdleStart, opt(1, Page::Power, kV))                                                       \
    X(BlankScreen, opt(0, Page::Power, kL))                                                     \
    X(BlankOnTalk, opt(0, Page::Power, kV))                                                     \
    X(ACBlankStart, opt(0, Page::Power, kV))                                                    \
    X(ACIdleStart, opt(0, Page::Power, kV))                                                     \
    X(ACBlankScreen, opt(0, Page::Power, kL))                                                   \
    X(ACBlankOnTalk, opt(0, Page::Power, kV))                                                   \
    X(ShowAlarm, opt(1, Page::Information, kV | kL))                                            \
    X(ShowMMS, opt(0, Page::Information, kV | kL))                                              \
    X(ShowOwnerInfo, opt(0, Page::Information, kV | kL))                                        \
    X(DigitalBattery, opt(0, Page::Information, kL))                                            \
    X(ShowAllDay, opt(1, Page::Appointment, kV))                                                \
    X(ShowTodayPast, opt(0, Page::Appointment, kV))                                             \
    X(AppointmentLine, opt(0, Page::Appointment, kV | kL))                                      \
    X(Slide2End, opt(0, Page::Phone, kV | kL))                                                  \
    X(S2AAnsKey, opt(0, Page::Phone, kV | kL))                                                  \
    X(S2AEndKey, opt(1, Page::Phone, kV | kL))                                                  \
    X(PowerButtonEndCall, opt(1, Page::Phone, kV))                                              \
    X(SendBusySMS, opt(0, Page::Phone, kV | kL))                                                \
    X(CanonicalFormat, opt(0, Page::Phone, kV | kL))                                            \
    X(VolumeControl, opt(0, Page::Phone, kV | kL))                                              \
    X(TransparentVC, opt(0, Page::Phone, kV | kL))                                              \
    X(NoVolumeKeyLock, opt(0, Page::Phone, kV))                                                 \
    X(InCallVolumeControl, opt(0, Page::Phone, kV))                                             \
    X(BatteryOnTop, opt(0, Page::Wallpaper, kV | kL))                                           \
    X(GifEndless, opt(0, Page::Wallpaper, kV | kL))                                             \
    X(WallpaperRandom, opt(0, Page::Wallpaper, kV | kL))                                        \
    X(NoSoftKey, opt(0, Page::Appearance, kV | kL))                                             \
    X(SlideTextMirror, opt(0, Page::Appearance, kV | kL))                                       \
    X(TopmostCurtain, opt(1, Page::Appearance, kV | kL))                                        \
    X(BottomCurtain, opt(1, Page::Appearance, kV | kL))                                         \
    X(ZorpControl, opt(1, Page::Zorp, kV | kL))                                                 \
    X(HPstartZorp, opt(1, Page::Zorp, kV))                                                      \
    X(NoZorp, opt(0, Page::Zorp, kV | kL))                                                      \
    X(ZorpAlbum, opt(1, Page::Zorp, kV | kL))                                                   \
    X(HapticFeedback, opt(0, Page::Feedback, kV | kL))                                          \
    X(VibrateOnConnect, opt(0, Page::Feedback, kV))                                             \
    X(DpadOn, opt(0, Page::Others, kV | kL))                                                    \
    X(UnlockOnRotate, opt(0, Page::Others, kV))                                                 \
    X(StylusOutUnlock, opt(1, Page::Others, kV))                                                \
    X(StylusInLock, opt(0, Page::Others, kV))                                                   \
    X(KeyboardOpenUnlock, opt(0, Page::Others, kV))                                             \
    X(KeyboardCloseLock, opt(0, Page::Others, kV))                                              \
    X(Unlock2Home, opt(0, Page::Others, kV | kL))                                               \
    X(IgnoreScreenRotation, opt(0, Page::Others, kV | kL))                                      \
    X(NoPowerSuspend, opt(0, Page::Advanced, kV))                                               \
    X(KoreanSMSpatch, flags(opt(0, Page::Advanced, kV), kNotAtFirstStart))                      \
    X(NoKeyBoardHook, opt(1, Page::Advanced, kV))                                               \
    X(NoManilaLock, opt(0, Page::Advanced, kV))                                                 \
    X(NoSystemLock, opt(0, Page::Advanced, kV | kL))                                            \
    X(Replace65Lock, opt(1, Page::Advanced, kV))                                                \
    X(ExceptionEXEisFG, opt(1, Page::Advanced, kV))                                             \
    X(DebugOn, flags(opt(0, Page::None, kV | kL | kC), kNotAtFirstStart))                       \
    /* Table 2: choice indexes and small numbers. */                                            \
    X(OffLCD, choice(17, 60, Page::Power, kL))                                                  \
    X(ACOffLCD, choice(0, 60, Page::Power, kL))                                                 \
    X(InCallLock, choice(0, 2, Page::Power, kV))                                                \
    X(ACInCallLock, choice(0, 2, Page::Power, kV))                                              \
    X(ShowTask, choice(1, 2, Page::Information, kV | kL))                                       \
    X(ShowWeather, clamp(choice(0, 7, Page::Information, kV | kL), Over::Zero))                 \
    X(ShowAppointment,                                                                          \
      also(clamp(choice(0, 6, Page::Appointment, kV | kL), Over::Clamp), kServiceCeiling))      \
    X(AppointmentDays,                                                                          \
      also(clamp(choice(7, 100, Page::Appointment, kV), Over::Clamp), kServiceCeiling))         \
    X(AlignAppointment, clamp(choice(1, 2, Page::Appointment, kV | kL), Over::Clamp))           \
    X(CallerID, choice(0, 3, Page::Phone, kV | kL))                                             \
    X(Slide2Answer, choice(0, 2, Page::Phone, kV | kL))                                         \
    X(ShowBattery, clamp(choice(1, 2, Page::Wallpaper, kV | kL), Over::Clamp))                  \
    X(GifSpeed, clamp(choice(0, 10, Page::Wallpaper, kV | kL), Over::Clamp))                    \
    X(WallpaperChangeTime, choice(0, 60, Page::Wallpaper, kV))                                  \
    X(SliderPosition, choice(0, 1, Page::Appearance, kV | kL))                                  \
    X(TopCurtain, choice(1, 2, Page::Appearance, kV | kL))                                      \
    X(CurtainAlpha, choice(15, 32, Page::Appearance, kV | kL))                                  \
    X(TextShadow, choice(0, 2, Page::Appearance, kV | kL))                                      \
    X(TextSize, clamp(choice(2, 4, Page::Appearance, kV | kL), Over::Clamp))                    \
    X(HPcloseZorp, choice(0, 2, Page::Zorp, kV))                                                \
    X(SliderInertia, clamp(choice(0, 10, Page::Feedback, kV | kL), Over::Clamp))                \
    X(VibrationLED, also(choice(255, 255, Page::Feedback, kV), kComputedDefault))               \
    X(ActionOnAC, choice(1, 2, Page::Others, kV))                                               \
    X(DisplayMode, choice(2, 2, Page::Advanced, kV | kL | kC))                                  \
    /* Table 3: 32-bit numbers. */                                                              \
    X(PasswordTime, number(0, 0, 43200, Page::General, kV | kL))                                \
    X(CanonicalPrefix, number(1, 1, 998, Page::Phone, kV | kL))                                 \
    X(WakeupDelayMS,                                                                            \
      spelled(floor(number(500, 0, 4000, Page::Advanced, kV | kL), 300), u"WakeUpDelayMS"))     \
    X(BlankOnTalkDelayMS, floor(number(300, 0, 4000, Page::Advanced, kV), 200))                 \
    X(DelayBootUpMS, floor(number(5000, 0, 60000, Page::Advanced, kV), 5000))                   \
    /* Table 5: kept by the service or the lock screen only. */                                 \
    X(CallerIDKeyDelay,                                                                         \
      flags(floor(table(number(70, 0, 0xFFFFFFFF, Page::None, kV), 5), 70), kNotAtFirstStart))  \
    X(DelayUnknownCallerMS, floor(table(number(4000, 0, 0xFFFFFFFF, Page::None, kV), 5), 4000)) \
    X(DialedID, flags(table(opt(0, Page::None, kV), 5), kSettingsReads))                        \
    X(ActionOnCradle, table(opt(0, Page::None, kV), 5))                                         \
    X(Slide2Ring, table(opt(0, Page::None, kV), 5))                                             \
    X(NoHTCLongEndLock, table(opt(0, Page::None, kV), 5))                                       \
    X(ResetTAPI, flags(table(opt(0, Page::None, kV), 5), kNotAtFirstStart))                     \
    X(ShufflePassword, flags(table(opt(0, Page::None, kL), 5), kNotAtFirstStart))               \
    X(CurrentWeather, flags(table(opt(0, Page::None, kL), 5), kNotAtFirstStart))                \
    /* Table 6: run-time exchange values (names from the protocol's mailbox list). */           \
    X(IncomingName, mailbox(text(260, u"", {}, kL), protocol::mailbox::kIncomingName))          \
    X(IncomingNumber, mailbox(text(260, u"", {}, kL), protocol::mailbox::kIncomingNumber))      \
    X(IncomingText, mailbox(text(260, u"", {}, kV), protocol::mailbox::kIncomingText))          \
    X(StartText, mailbox(text(protocol::mailbox::kStartTextMax + 1, u"", {}, kV),               \
                         protocol::mailbox::kStartText))                                        \
    X(DialNumber, mailbox(text(protocol::mailbox::kDialNumberMax + 1, u"", {}, kV),             \
                          protocol::mailbox::kDialNumber))                                      \
    X(LastLockTime, mailbox(blob(8, kL), protocol::mailbox::kLastLockTime))                     \
    X(LastZorpControl, mailbox(opt(0, Page::None, kL), protocol::mailbox::kLastZorpControl))    \
    X(NotifiedVersion,                                                                          \
      mailbox(number(0, 0, 0xFFFFFFFF, Page::None, kV), protocol::mailbox::kNotifiedVersion))   \
    X(UserWeather, mailbox(text(260, u"", {}, kL), protocol::mailbox::kUserWeather))            \
    X(LoadTheme, mailbox(text(260, u"", {}, 0), protocol::mailbox::kLoadTheme))                 \
    X(TempExceptionEXE, mailbox(text(260, u"", {}, 0), protocol::mailbox::kTempExceptionExe))

namespace detail {
constexpr Setting mailbox(Setting s, std::u16string_view n) {
    s.table = 6;
    s.name = n;
    s.flags = kAbsent;
    s.max = s.shape == Shape::Byte ? 255 : s.max;
    return s;
}
}  // namespace detail

#define LUMO_CATALOGUE_ID(id, row) id,
enum class Id : std::uint16_t { LUMO_CATALOGUE(LUMO_CATALOGUE_ID) };
#undef LUMO_CATALOGUE_ID

#define LUMO_CATALOGUE_COUNT(id, row) +1
inline constexpr std::size_t kCount = 0 LUMO_CATALOGUE(LUMO_CATALOGUE_COUNT);
#undef LUMO_CATALOGUE_COUNT

namespace detail {
constexpr Setting with_default_name(Setting s, std::u16string_view n) {
    if (s.name.empty()) s.name = n;
    return s;
}
#define LUMO_CATALOGUE_ROW(id, row) with_default_name(row, u"" #id),
inline constexpr std::array<Setting, kCount> kTable{{LUMO_CATALOGUE(LUMO_CATALOGUE_ROW)}};
#undef LUMO_CATALOGUE_ROW
}  // namespace detail

constexpr std::span<const Setting> settings() {
    return detail::kTable;
}
constexpr const Setting& setting(Id id) {
    return detail::kTable[static_cast<std::size_t>(id)];
}
constexpr std::size_t index(Id id) {
    return static_cast<std::size_t>(id);
}
// The row of a value name (any spelling, any case of ASCII letters); nullopt when unknown.
std::optional<Id> find(std::u16string_view name);

// The settings program's save, in its fixed order; the texts and SavedPassword come first.
inline constexpr std::array<Id, 7> kSaveTexts{Id::TimeFormat,
                                              Id::Time2Format,
                                              Id::DateFormat,
                                              Id::AppointmentTimeFormat,
                                              Id::AppointmentDateFormat,
                                              Id::ClockPath,
                                              Id::Clock2Path};
inline constexpr Id kSaveOptions[] = {
    Id::Autostart,
    Id::InCallLock,
    Id::ACInCallLock,
    Id::BlankStart,
    Id::ACBlankStart,
    Id::PasswordLock,
    Id::LockNotification,
    Id::AutoDismissNotification,
    Id::ShowSMSPreview,
    Id::ShowMMSPreview,
    Id::ShowEmailPreview,
    Id::AutoMarkReadSMS,
    Id::AutoMarkReadEmail,
    Id::Slide2Dismiss,
    Id::IdleStart,
    Id::OffLCD,
    Id::BlankScreen,
    Id::ACIdleStart,
    Id::ACOffLCD,
    Id::ACBlankScreen,
    Id::ShowAppointment,
    Id::AppointmentDays,
    Id::ShowAllDay,
    Id::ShowTodayPast,
    Id::AppointmentLine,
    Id::AlignAppointment,
    Id::DpadOn,
    Id::ShowWeather,
    Id::BlankOnTalk,
    Id::ACBlankOnTalk,
    Id::CallerID,
    Id::NoPowerSuspend,
    Id::Slide2Answer,
    Id::Slide2End,
    Id::S2AAnsKey,
    Id::S2AEndKey,
    Id::PowerButtonEndCall,
    Id::SendBusySMS,
    Id::CanonicalFormat,
    Id::CanonicalPrefix,
    Id::ShowTask,
    Id::ShowAlarm,
    Id::DisplayMode,
    Id::NoSoftKey,
    Id::GifSpeed,
    Id::GifEndless,
    Id::WallpaperChangeTime,
    Id::WallpaperRandom,
    Id::KoreanSMSpatch,
    Id::TopmostCurtain,
    Id::TopCurtain,
    Id::BottomCurtain,
    Id::TextShadow,
    Id::TextSize,
    Id::CurtainAlpha,
    Id::UnlockOnRotate,
    Id::ActionOnAC,
    Id::StylusOutUnlock,
    Id::StylusInLock,
    Id::KeyboardOpenUnlock,
    Id::KeyboardCloseLock,
    Id::VolumeControl,
    Id::TransparentVC,
    Id::NoVolumeKeyLock,
    Id::InCallVolumeControl,
    Id::NoZorp,
    Id::ZorpControl,
    Id::ZorpAlbum,
    Id::NoKeyBoardHook,
    Id::NoManilaLock,
    Id::NoSystemLock,
    Id::Replace65Lock,
    Id::ShowMMS,
    Id::ShowOwnerInfo,
    Id::DigitalBattery,
    Id::ExceptionEXEisFG,
    Id::ShowBattery,
    Id::BatteryOnTop,
    Id::HPstartZorp,
    Id::HPcloseZorp,
    Id::WakeupDelayMS,
    Id::BlankOnTalkDelayMS,
    Id::DelayBootUpMS,
    Id::Unlock2Home,
    Id::IgnoreScreenRotation,
    Id::HapticFeedback,
    Id::SliderInertia,
    Id::SliderPosition,
    Id::SlideTextMirror,
    Id::VibrationLED,
    Id::VibrateOnConnect,
    Id::PasswordTime,
};

// ---------------------------------------------------------------------------------------------
// A program's copy of the catalogue. Bytes and numbers share one slot type.

class Values {
  public:
    // The table's defaults with the program's built-in fallbacks (LumoSettings: ShowBattery 0;
    // lumo: BatteryOnTop 1; LumoC: DisplayMode 1) and the computed VibrationLED default.
    static Values defaults(Program program, std::uint8_t vibration_led);

    std::uint32_t num(Id id) const { return num_[index(id)]; }
    void set_num(Id id, std::uint32_t v) { num_[index(id)] = v; }
    const std::u16string& text(Id id) const { return text_[index(id)]; }
    void set_text(Id id, std::u16string_view v) { text_[index(id)] = std::u16string(v); }
    // The stored bytes of a blob; empty while the blob is absent.
    std::span<const std::byte> blob(Id id) const;
    void set_blob(Id id, std::span<const std::byte> bytes);
    void clear_blob(Id id) { present_.reset(index(id)); }

  private:
    std::array<std::uint32_t, kCount> num_{};
    std::array<std::u16string, kCount> text_{};
    std::array<std::array<std::byte, 8>, kCount> blob_{};
    std::bitset<kCount> present_{};
};

// The default of VibrationLED: the platform's LED count minus one, 255 when it reports none.
std::uint8_t vibration_led_default(std::optional<std::uint32_t> led_count);

// ---------------------------------------------------------------------------------------------
// Typed access to one value. Reads leave `out` untouched on any failure; a value of another
// type or size counts as missing.

struct OpenedRoot {
    platform::RegKey key;
    bool created = false;
};
// Opens Software\Vesk\Lumo with full access, creating it when needed.
std::optional<OpenedRoot> open_root(platform::Registry& reg);

bool read_byte(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name,
               std::uint8_t& out);
bool read_number(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name,
                 std::uint32_t& out);
bool read_text(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name,
               std::size_t buffer_chars, std::u16string& out);
bool read_blob(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name,
               std::span<std::byte> out);

bool write_byte(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name,
                std::uint8_t v);
bool write_number(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name,
                  std::uint32_t v);
// Writes the characters without a terminating zero.
bool write_text(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name,
                std::u16string_view v);
bool write_blob(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name,
                std::span<const std::byte> v);
bool delete_value(platform::Registry& reg, const platform::RegKey& key, std::u16string_view name);

// One row, in the row's shape, under the program's spelling.
bool read(platform::Registry& reg, const platform::RegKey& key, Id id, Program program,
          Values& values);
bool write(platform::Registry& reg, const platform::RegKey& key, Id id, Program program,
           const Values& values);

// ---------------------------------------------------------------------------------------------
// Batches.

// The service's first start: every first-start row with its default, in table order.
void write_defaults(platform::Registry& reg, const platform::RegKey& key, const Values& defaults);

// The Exceptions and S2VEXE values that are missing, created with their defaults (every start).
void create_missing_subkey_values(platform::Registry& reg);
inline constexpr std::size_t kExceptionCount = 20;
inline constexpr std::size_t kS2VExeCount = 9;
inline constexpr std::array<std::u16string_view, 6> kDefaultExceptions{
    u"iexplore.exe", u"VoiceCommander.exe", u"AlarmPopup.exe",
    u"SDDialer.exe", u"HTCAlbum.exe",       u"wmplayer.exe"};
std::u16string exception_value_name(std::size_t n);       // "ExceptionEXE%02d"
std::u16string s2v_file_value_name(std::size_t n);        // "%dFile"
std::u16string s2v_parameters_value_name(std::size_t n);  // "%dParameters"

// Facts about the device that the service's derived values depend on.
struct ServiceFacts {
    bool music_player_installed = true;
    std::uint32_t os_major_version = 5;
};
// The service's load on every start: reads what it knows, writes the default of every missing
// option at once, then applies its limits and derivations to the copy in memory.
void load_service(platform::Registry& reg, const platform::RegKey& key, Values& values,
                  const ServiceFacts& facts);

// The load of LumoSettings and lumo (steps 1 to 8). False when the root key could not be
// opened; the values then hold the built-in defaults with the texts as the load prescribes.
bool load_program(platform::Registry& reg, Program program, Values& values);

// LumoC's load: the values it reads (DebugOn, DisplayMode and the texts it shows or writes).
bool load_browser(platform::Registry& reg, Values& values);

// The settings program's "Save": texts, password, options and numbers in the fixed order; then
// flush. Returns false when the key could not be opened.
bool save(platform::Registry& reg, const Values& values);

// The page's "Default" button: resets the options in memory and empties the three sound and
// program values in the registry at once.
void reset_to_defaults(platform::Registry& reg, Values& values, std::uint8_t vibration_led);

// ---------------------------------------------------------------------------------------------
// Conversions between the pages and the stored values.

inline constexpr std::array<std::uint32_t, 7> kPasswordTimes{0, 60, 300, 900, 3600, 14400, 43200};
std::size_t password_time_index(std::uint32_t seconds);
std::uint32_t password_time_seconds(std::size_t index);
// WakeupDelayMS and BlankOnTalkDelayMS in steps of 100 ms; DelayBootUpMS in whole seconds.
constexpr std::uint32_t delay_to_page(std::uint32_t ms) {
    return ms / 100;
}
constexpr std::uint32_t delay_from_page(std::uint32_t steps) {
    return steps * 100;
}
constexpr std::uint32_t boot_delay_to_page(std::uint32_t ms) {
    return ms / 1000;
}
constexpr std::uint32_t boot_delay_from_page(std::uint32_t seconds) {
    return seconds * 1000;
}
// The entry of a text's choice list that the page shows: the matching one, or the last entry
// (which then holds the stored text so that a save writes it back unchanged).
std::size_t choice_index(Id id, std::u16string_view text);

}  // namespace lumo::catalogue
