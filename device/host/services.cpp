#include "services.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "display_service.h"
#include "pim_service.h"
#include "power_service.h"
#include "process_service.h"
#include "registry_service.h"
#include "lumo/platform/process.h"
#include "lumo/platform/registry.h"
#include "phone_state.h"
#include "lumo/platform/text.h"
#include "simulated_programs.h"
#include "sound_service.h"
#include "sync_service.h"
#include "phone_app.h"
#include "telephony_service.h"
#include "window_service.h"
#include "wireless_service.h"
#include "notify_service.h"
#include "library_service.h"
#include "shell.h"
#include "weather_programs.h"
#include "zorp_player.h"

namespace lumo::host {

namespace {
// How long the programs have to end by themselves when the phone is switched off.
constexpr std::uint32_t kSwitchOffGraceMs = 5000;
}  // namespace

Services::Services(Host& host) : host_(host) {
    register_registry_handlers(host);
    windows_ = std::make_unique<WindowService>(host);
    processes_ = std::make_unique<ProcessService>(host, *windows_);
    sync_ = std::make_unique<SyncService>(host);
    display_ = std::make_unique<DisplayService>(host, *windows_);
    display_->local_time = [this] { return processes_->local_now_ms(); };
    power_ = std::make_unique<PowerService>(host, *display_, *windows_);
    sound_ = std::make_unique<SoundService>(host);
    wireless_ = std::make_unique<WirelessService>(host);
    pim_ = std::make_unique<PimService>(host, *windows_, *processes_);
    telephony_ = std::make_unique<TelephonyService>(host, *windows_);
    telephony_->local_now_ms = [this] { return processes_->local_now_ms(); };
    processes_->start_service_program = [this](std::u16string_view exe, std::uint32_t pid, bool shown) {
        if (!platform::equal_no_case(exe, platform::file_name(kPhoneProgramPath))) return false;
        telephony_->start_phone_app(pid, shown);
        return true;
    };
    notify_ = std::make_unique<NotifyService>(
        host, *sync_, *power_, [this] { return processes_->local_now_ms(); },
        chosen_profile().leds);
    libraries_ = std::make_unique<LibraryService>(host, [this] { host_.schedule(0, [this] { switch_off(); }); });
    weather_ = std::make_unique<WeatherPrograms>(host, *processes_);
    zorp_ = std::make_unique<ZorpPlayer>(host, *windows_, *processes_, *sound_);
    power_->cold_boot = [this] { boot(); };
    shell_ = std::make_unique<ShellService>(host, *windows_);
    shell_->launch = [this](std::u16string_view path) { return processes_->start(path, u"", true) != 0; };
    shell_->installed = [this](std::u16string_view path) {
        std::u16string rel(path);
        std::replace(rel.begin(), rel.end(), u'\\', u'/');
        while (!rel.empty() && rel.front() == u'/') rel.erase(rel.begin());
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::path(host_.options().dir) / "fs" / std::filesystem::path(rel), ec);
    };
    set_switch_off([this] { host_.schedule(0, [this] { switch_off(); }); });
}

Services::~Services() { set_switch_off(nullptr); }

void Services::switch_off() {
    if (switching_off_ || power_->state() == PowerState::Off) return;
    switching_off_ = true;
    host_.log().line("switching off");
    processes_->end_all(kSwitchOffGraceMs, [this] {
        switching_off_ = false;
        power_->switch_off();
    });
}

bool Services::install(std::string* error) { return processes_->install(host_.fresh(), error); }

void Services::publish_phone_state() {
    // Calls do not outlive a boot, so the published state starts without any; flight mode is the
    // person's choice and does, as on a phone (the radio-off bit of Status).
    constexpr std::u16string_view kPhone = u"System\\State\\Phone";
    constexpr std::uint32_t kRadioOff = 0x10;
    auto& reg = host_.registry();
    reg.create_key(platform::Root::LocalMachine, kPhone);
    auto write = [&](std::u16string_view name, std::uint32_t value) {
        reg.write_value(platform::Root::LocalMachine, kPhone, name, platform::ValueType::Dword,
                        std::as_bytes(std::span(&value, 1)));
    };
    std::uint32_t status = 0;
    if (auto found = reg.find_value(platform::Root::LocalMachine, kPhone, u"Status");
        found && found->info.type == platform::ValueType::Dword && found->data->size() == 4)
        std::memcpy(&status, found->data->data(), 4);
    write(u"Active Call Count", 0);
    write(u"Status", status & kRadioOff);
}

void Services::seed_system_settings() {
    using platform::Root;
    auto& reg = host_.registry();
    auto seed = [&reg](Root root, std::u16string_view key, std::u16string_view name,
                       std::uint32_t value) {
        if (reg.find_value(root, key, name)) return;
        reg.create_key(root, key);
        reg.write_value(root, key, name, platform::ValueType::Dword,
                        std::as_bytes(std::span(&value, 1)));
    };
    // The notification classes (reminders, SMS, MMS, e-mail, missed calls): sound, vibration,
    // LED and the message bubble (0x8) on.
    for (std::u16string_view guid :
         {u"{15F11F90-8A5F-454c-89FC-BA9B7AAB0CAD}", u"{A877D65B-239C-47a7-9304-0D347F580408}",
          u"{C3465585-39EF-4c9b-B2A3-5558BF27BFB0}", u"{A877D65A-239C-47a7-9304-0D347F580408}",
          u"{A877D660-239C-47a7-9304-0D347F580408}"})
        seed(Root::CurrentUser, u"ControlPanel\\Notifications\\" + std::u16string(guid),
             u"Options", 0xF);
    seed(Root::LocalMachine, u"System\\State", u"Lock", 0);
    // The system's own device lock starts off, as on a phone out of its box.
    seed(Root::CurrentUser, u"ControlPanel\\Keybd", u"DeviceLockWhenSuspend", 0);
    // The ring volume (0-5), as the sound settings keep it.
    seed(Root::CurrentUser, u"ControlPanel\\SoundCategories\\Ring", u"InitVol", 3);
    switch (chosen_profile().vendor) {
        case DeviceProfile::Vendor::Htc:
            seed(Root::CurrentUser, u"Software\\HTC\\LongPressEndKey", u"AutoExecute", 1);
            // HTC's own volume overlay keeps the ring and system volumes together.
            seed(Root::LocalMachine, u"Software\\HTC\\VolumeOverlay", u"SimpleMode", 1);
            break;
        case DeviceProfile::Vendor::Samsung:
            seed(Root::LocalMachine, u"System\\State\\Samsung\\Mouse", u"ActionMethod", 3001);
            break;
        case DeviceProfile::Vendor::None:
            break;
    }
}

void Services::place_simulated_programs() {
    // The phone's own programs lie in \Windows, where a setting can name them (ShutDownEXE) and a
    // program can find them; the files are not executable, so starting one runs the simulation.
    auto windows = std::filesystem::path(host_.options().dir) / "fs" / "Windows";
    std::error_code ec;
    if (!std::filesystem::is_directory(windows, ec)) return;
    for (const auto& program : simulated_programs()) {
        auto file = windows / std::filesystem::path(std::u16string(program.exe));
        if (std::filesystem::exists(file, ec)) continue;
        std::ofstream(file) << "simulated program\n";
        std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_write,
                                     ec);
    }
}

void Services::boot() {
    publish_phone_state();
    pim_->boot();
    publish_state_defaults(host_.registry(), chosen_profile().keyboard,
                           chosen_profile().vendor == DeviceProfile::Vendor::Htc);
    telephony_->boot();
    seed_system_settings();
    place_simulated_programs();
    libraries_->place_files(std::filesystem::path(host_.options().dir) / "fs" / "Windows",
                            chosen_profile().vendor == DeviceProfile::Vendor::Htc);
    if (host_.options().shell && !processes_->start(kShellPath, u"", true))
        host_.log().line("the shell did not start");
    // The phone application runs from boot on, as the phone's own does.
    if (host_.options().shell && !processes_->start(kPhoneProgramPath, u"", false))
        host_.log().line("the phone application did not start");
    if (host_.options().startup) {
        host_.on_started([this] { processes_->run_startup(); });
    } else {
        host_.log().line("start-up programs skipped");
    }
}

void Services::shutdown() { processes_->stop_all(); }

}  // namespace lumo::host
