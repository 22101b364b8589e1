#pragma once
// The phone's user notifications and notification LEDs. A time notification signals its named
// event when the device's local clock reaches it, waking a suspended phone into the unattended
// state; the LEDs (the last one is the vibrator) record each pulse for lumo-devctl led.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "host.h"

namespace lumo::host {

class SyncService;
class PowerService;

class NotifyService {
public:
    // `local_now_ms` reads the device's local wall clock (ms since 1970, as its file time).
    NotifyService(Host& host, SyncService& sync, PowerService& power,
                  std::function<std::int64_t()> local_now_ms, std::uint32_t leds);
    ~NotifyService();

    struct Pulse {
        std::uint32_t index = 0;
        std::uint64_t on_at_ms = 0;  // the host's clock
        std::uint32_t length_ms = 0;
        bool still_on = false;
    };

private:
    struct Entry {
        std::u16string application;
        std::uint64_t file_time = 0;
    };
    void register_handlers();
    void check();
    void arm();
    // The notifications outlive the host in DIR/notifications: written whole after every
    // change (a new file renamed over the old), read back at start.
    void load();
    void save();

    Host& host_;
    SyncService& sync_;
    PowerService& power_;
    std::function<std::int64_t()> local_now_ms_;
    std::uint32_t leds_;
    std::map<std::uint32_t, Entry> entries_;
    std::uint32_t next_handle_ = 1;
    Host::TimerId timer_ = 0;
    std::deque<Pulse> pulses_;
    std::string file_;
};

}  // namespace lumo::host
