// "lumo Settings.reg": a readable copy of every option in the layout of a registry export.
// Texts are written as stored, with single backslashes: the theme reader reads them that way.
#include <cstdio>

#include "lumo/platform/text.h"
#include "lumo/settings/settings.h"

namespace lumo::settings {

using namespace platform;
using catalogue::Id;

namespace {

// A line's text is cut to this many characters before its CR LF.
constexpr std::size_t kLineChars = 258;

std::string hex(std::uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*x", digits, v);
    return buf;
}

}  // namespace

bool RegWriter::open(const std::filesystem::path& host_path) {
    close();
    file_ = std::fopen(host_path.c_str(), "wb");
    if (!file_) return false;
    static const unsigned char bom[2] = {0xFF, 0xFE};
    std::fwrite(bom, 1, 2, file_);
    return true;
}

void RegWriter::line(std::u16string_view text) {
    if (!file_) return;
    if (text.size() > kLineChars) text = text.substr(0, kLineChars);
    std::string bytes;
    bytes.reserve(text.size() * 2 + 4);
    for (char16_t ch : text) {
        bytes.push_back(char(ch & 0xFF));
        bytes.push_back(char(ch >> 8));
    }
    bytes.append("\r\0\n\0", 4);
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
}

void RegWriter::byte_option(std::u16string_view name, std::uint8_t v) {
    line(u"\"" + std::u16string(name) + u"\"=hex:" + to_u16(hex(v, 2)));
}

void RegWriter::number(std::u16string_view name, std::uint32_t v) {
    line(u"\"" + std::u16string(name) + u"\"=dword:" + to_u16(hex(v, 8)));
}

void RegWriter::text(std::u16string_view name, std::u16string_view v) {
    line(u"\"" + std::u16string(name) + u"\"=\"" + std::u16string(v) + u"\"");
}

void RegWriter::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

std::u16string export_path(std::u16string_view program_folder, std::u16string_view name) {
    if (name.size() >= 4 && name[1] != u':') return std::u16string(program_folder) + u"\\" + std::u16string(name);
    return std::u16string(name);
}

namespace {

enum class K { B, N, T };
struct Row {
    Id id;
    K kind;
};

constexpr Row kExportOrder[] = {
    {Id::Autostart, K::B}, {Id::PasswordLock, K::B}, {Id::PasswordTime, K::N},
    {Id::LockNotification, K::B}, {Id::AutoDismissNotification, K::B}, {Id::ShowSMSPreview, K::B},
    {Id::ShowMMSPreview, K::B}, {Id::ShowEmailPreview, K::B}, {Id::AutoMarkReadSMS, K::B},
    {Id::AutoMarkReadEmail, K::B}, {Id::Slide2Dismiss, K::B}, {Id::BlankStart, K::B},
    {Id::IdleStart, K::B}, {Id::OffLCD, K::B}, {Id::BlankScreen, K::B}, {Id::BlankOnTalk, K::B},
    {Id::InCallLock, K::B}, {Id::ACBlankStart, K::B}, {Id::ACIdleStart, K::B}, {Id::ACOffLCD, K::B},
    {Id::ACBlankScreen, K::B}, {Id::ACBlankOnTalk, K::B}, {Id::ACInCallLock, K::B},
    {Id::DateFormat, K::T}, {Id::TimeFormat, K::T}, {Id::ClockPath, K::T}, {Id::Time2Format, K::T},
    {Id::Clock2Path, K::T}, {Id::ShowAlarm, K::B}, {Id::ShowTask, K::B}, {Id::ShowMMS, K::B},
    {Id::ShowWeather, K::B}, {Id::ShowOwnerInfo, K::B}, {Id::DigitalBattery, K::B},
    {Id::ShowAppointment, K::B}, {Id::AppointmentDays, K::B}, {Id::ShowAllDay, K::B},
    {Id::ShowTodayPast, K::B}, {Id::AppointmentLine, K::B}, {Id::AlignAppointment, K::B},
    {Id::AppointmentDateFormat, K::T}, {Id::AppointmentTimeFormat, K::T}, {Id::CallerID, K::B},
    {Id::Slide2Answer, K::B}, {Id::Slide2End, K::B}, {Id::S2AAnsKey, K::B}, {Id::S2AEndKey, K::B},
    {Id::PowerButtonEndCall, K::B}, {Id::SendBusySMS, K::B}, {Id::CanonicalFormat, K::B},
    {Id::CanonicalPrefix, K::N}, {Id::VolumeControl, K::B}, {Id::TransparentVC, K::B},
    {Id::NoVolumeKeyLock, K::B}, {Id::InCallVolumeControl, K::B}, {Id::Wallpaper, K::T},
    {Id::WallpaperL, K::T}, {Id::ShowBattery, K::B}, {Id::BatteryOnTop, K::B}, {Id::GifSpeed, K::B},
    {Id::GifEndless, K::B}, {Id::WallpaperChangeTime, K::B}, {Id::WallpaperRandom, K::B},
    {Id::NoSoftKey, K::B}, {Id::SliderPosition, K::B}, {Id::SlideTextMirror, K::B},
    {Id::TopmostCurtain, K::B}, {Id::TopCurtain, K::B}, {Id::BottomCurtain, K::B},
    {Id::CurtainAlpha, K::B}, {Id::TextShadow, K::B}, {Id::TextSize, K::B}, {Id::ZorpControl, K::B},
    {Id::HPstartZorp, K::B}, {Id::HPcloseZorp, K::B}, {Id::NoZorp, K::B}, {Id::ZorpAlbum, K::B},
    {Id::LockSound, K::T}, {Id::UnlockSound, K::T}, {Id::SliderInertia, K::B},
    {Id::VibrationLED, K::B}, {Id::HapticFeedback, K::B}, {Id::VibrateOnConnect, K::B},
    {Id::DpadOn, K::B}, {Id::UnlockOnRotate, K::B}, {Id::ActionOnAC, K::B},
    {Id::StylusOutUnlock, K::B}, {Id::StylusInLock, K::B}, {Id::KeyboardOpenUnlock, K::B},
    {Id::KeyboardCloseLock, K::B}, {Id::UnlockRunEXE, K::T}, {Id::Unlock2Home, K::B},
    {Id::IgnoreScreenRotation, K::B}, {Id::NoPowerSuspend, K::B}, {Id::DisplayMode, K::B},
    {Id::KoreanSMSpatch, K::B}, {Id::NoKeyBoardHook, K::B}, {Id::NoManilaLock, K::B},
    {Id::NoSystemLock, K::B}, {Id::ExceptionEXEisFG, K::B}, {Id::WakeupDelayMS, K::N},
    {Id::BlankOnTalkDelayMS, K::N}, {Id::DelayBootUpMS, K::N},
};

constexpr std::u16string_view kRootSection = u"[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo]";

void text_line_if_read(Registry& reg, const RegKey& key, const std::u16string& name, RegWriter& w) {
    std::u16string v;
    if (catalogue::read_text(reg, key, name, 261, v)) w.text(name, v);
}

}  // namespace

bool export_settings(Platform& p, std::u16string_view program_folder, const catalogue::Values& values,
                     std::u16string_view name) {
    auto host = p.processes().host_path(export_path(program_folder, name));
    RegWriter w;
    if (!host || !w.open(*host)) return false;
    w.line(u"Windows Registry Editor Version 5.00");
    w.line(u"");
    w.line(kRootSection);
    for (const auto& row : kExportOrder) {
        auto n = catalogue::setting(row.id).name;
        switch (row.kind) {
            case K::B: w.byte_option(n, std::uint8_t(values.num(row.id))); break;
            case K::N: w.number(n, values.num(row.id)); break;
            case K::T: w.text(n, values.text(row.id)); break;
        }
    }
    auto& reg = p.registry();
    auto exceptions = reg.open_key(Root::CurrentUser, std::u16string(u"Software\\Vesk\\Lumo\\Exceptions"));
    if (!exceptions) return true;
    w.line(u"");
    w.line(u"[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo\\Exceptions]");
    for (std::size_t i = 0; i < catalogue::kExceptionCount; ++i)
        text_line_if_read(reg, *exceptions, catalogue::exception_value_name(i), w);
    auto s2v = reg.open_key(Root::CurrentUser, std::u16string(u"Software\\Vesk\\Lumo\\S2VEXE"));
    if (!s2v) return true;
    w.line(u"");
    w.line(u"[HKEY_CURRENT_USER\\Software\\Vesk\\Lumo\\S2VEXE]");
    for (std::size_t i = 0; i < catalogue::kS2VExeCount; ++i) {
        text_line_if_read(reg, *s2v, catalogue::s2v_file_value_name(i), w);
        text_line_if_read(reg, *s2v, catalogue::s2v_parameters_value_name(i), w);
    }
    return true;
}

}  // namespace lumo::settings
