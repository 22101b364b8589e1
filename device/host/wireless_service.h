#pragma once
// The device's wireless-device service: lists the radios and switches them, publishing their
// power under HKLM System\State\Hardware as the phone does.
#include "host.h"

namespace lumo::host {

class WirelessService {
public:
    explicit WirelessService(Host& host);
};

}  // namespace lumo::host
