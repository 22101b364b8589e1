#pragma once
// The phone's wireless-device service: the radios it has and their power. Switching a radio is
// what the system's own connection settings do; the published hardware state follows it.
#include <cstdint>
#include <string>
#include <vector>

namespace lumo::platform {

// Radio types with the phone's numbers.
enum class RadioType : std::uint32_t { WiFi = 1, Phone = 2, Bluetooth = 3 };

struct RadioDevice {
    RadioType type = RadioType::Bluetooth;
    std::u16string name;
    bool on = false;
};

class Wireless {
  public:
    virtual ~Wireless() = default;
    // Every radio of the phone; empty when the service cannot be reached.
    virtual std::vector<RadioDevice> devices() = 0;
    // Switches a radio on or off; false when the phone has no radio of that type.
    virtual bool set_radio(RadioType type, bool on) = 0;
};

}  // namespace lumo::platform
