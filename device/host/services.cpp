#include "services.h"

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

namespace lumo::host {

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
}

Services::~Services() = default;

bool Services::install(std::string* error) { return processes_->install(host_.fresh(), error); }

void Services::publish_phone_state() {
    // The phone's published state starts with no call and no status bits every boot, until a
    // telephony stack drives it.
    constexpr std::u16string_view kPhone = u"System\\State\\Phone";
    auto& reg = host_.registry();
    reg.create_key(platform::Root::LocalMachine, kPhone);
    const std::uint32_t zero = 0;
    auto bytes = std::as_bytes(std::span(&zero, 1));
    for (std::u16string_view name : {std::u16string_view(u"Active Call Count"), std::u16string_view(u"Status")})
        reg.write_value(platform::Root::LocalMachine, kPhone, name, platform::ValueType::Dword, bytes);
}

void Services::boot() {
    publish_phone_state();
    pim_->boot();
    publish_state_defaults(host_.registry(), chosen_profile().keyboard);
    telephony_->boot();
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
