#pragma once
// Everything the device serves besides its core: registry, windows, processes, named objects.
#include <memory>
#include <string>

#include "host.h"

namespace lumo::host {

class WindowService;
class ProcessService;
class SyncService;
class DisplayService;
class PowerService;
class SoundService;
class WirelessService;
class PimService;
class TelephonyService;
class NotifyService;
class LibraryService;
class ShellService;
class WeatherPrograms;
class ZorpPlayer;

class Services {
public:
    // Registers every service with a started host and installs the product.
    explicit Services(Host& host);
    ~Services();
    bool install(std::string* error);
    // Starts the start-up programs once the host serves (unless the options say not to).
    void boot();
    // Ends the device's programs; called after the host's loop ended.
    void shutdown();
    // The shut-down program ran: every program ends cleanly, then the phone is off until the
    // power button boots it again.
    void switch_off();

    WindowService& windows() { return *windows_; }
    ProcessService& processes() { return *processes_; }
    DisplayService& display() { return *display_; }
    PowerService& power() { return *power_; }
    TelephonyService& telephony() { return *telephony_; }

private:
    void publish_phone_state();
    // The system settings a phone of this model has and the lock overrides change.
    void seed_system_settings();
    void place_simulated_programs();

    Host& host_;
    bool switching_off_ = false;
    std::unique_ptr<WindowService> windows_;
    std::unique_ptr<ProcessService> processes_;
    std::unique_ptr<SyncService> sync_;
    std::unique_ptr<DisplayService> display_;
    std::unique_ptr<PowerService> power_;
    std::unique_ptr<SoundService> sound_;
    std::unique_ptr<WirelessService> wireless_;
    std::unique_ptr<PimService> pim_;
    std::unique_ptr<TelephonyService> telephony_;
    std::unique_ptr<NotifyService> notify_;
    std::unique_ptr<LibraryService> libraries_;
    std::unique_ptr<ShellService> shell_;
    std::unique_ptr<WeatherPrograms> weather_;
    std::unique_ptr<ZorpPlayer> zorp_;
};

}  // namespace lumo::host
