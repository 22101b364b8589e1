#pragma once
// Everything a program of the product asks of the phone's operating system, by service. The real
// programs get the device host's client (platform/device); unit tests get the in-process fake
// (platform/fake). Nothing above this layer calls Linux for what the phone's OS would provide.
#include "lumo/platform/messages.h"
#include "lumo/platform/registry.h"

namespace lumo::platform {

class Platform {
public:
    virtual ~Platform() = default;
    virtual Registry& registry() = 0;
    virtual StateBroker& broker() = 0;
    virtual MessageQueue& messages() = 0;
};

}  // namespace lumo::platform
