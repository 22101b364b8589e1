#pragma once
// Everything a program of the product asks of the phone's operating system, by service. The real
// programs get the device host's client (platform/device); unit tests get the in-process fake
// (platform/fake). Nothing above this layer calls Linux for what the phone's OS would provide.
#include "lumo/platform/clock.h"
#include "lumo/platform/contacts.h"
#include "lumo/platform/messages.h"
#include "lumo/platform/pim.h"
#include "lumo/platform/notify.h"
#include "lumo/platform/power.h"
#include "lumo/platform/process.h"
#include "lumo/platform/registry.h"
#include "lumo/platform/sound.h"
#include "lumo/platform/sync.h"
#include "lumo/platform/telephony.h"
#include "lumo/platform/wireless.h"
#include "lumo/platform/windows.h"

namespace lumo::platform {

class Platform {
public:
    virtual ~Platform() = default;
    virtual Registry& registry() = 0;
    virtual StateBroker& broker() = 0;
    virtual MessageQueue& messages() = 0;
    virtual Windows& windows() = 0;
    virtual Processes& processes() = 0;
    virtual Sync& sync() = 0;
    virtual Clock& clock() = 0;
    // Power notifications, the system power state, unattended-mode requests and the display's
    // power switch.
    virtual Power& power() = 0;
    // Wave playback and the wave-out volume.
    virtual Sound& sound() = 0;
    // The radios and their power.
    virtual Wireless& wireless() = 0;
    // The calendar and tasks, and the message stores.
    virtual Pim& pim() = 0;
    virtual Messaging& messaging() = 0;
    // Line and phone devices, calls and the emergency numbers.
    virtual Telephony& telephony() = 0;
    // Contacts with their pictures, the SIM phone book and the call log (read-only).
    virtual Contacts& contacts() = 0;
    virtual SimPhoneBook& sim() = 0;
    virtual CallLog& call_log() = 0;
    // User notifications (named events at a local time) and the notification LEDs.
    virtual Notify& notify() = 0;
};

}  // namespace lumo::platform
