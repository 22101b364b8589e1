#pragma once
// The platform as the device host provides it: every call goes over the process's connection.
#include <memory>
#include <string>

#include "lumo/platform/clock.h"
#include "lumo/platform/display.h"
#include "lumo/platform/platform.h"
#include "lumo/platform/power.h"
#include "lumo/platform/process.h"
#include "lumo/platform/sync.h"
#include "lumo/platform/windows.h"

namespace lumo::wire {
class Client;
}

namespace lumo::platform::device {

class DevicePlatform final : public Platform {
public:
    DevicePlatform(std::unique_ptr<wire::Client> client, const std::string& socket_path);
    ~DevicePlatform() override;
    Registry& registry() override;
    StateBroker& broker() override;
    MessageQueue& messages() override;
    Windows& windows() override;
    Processes& processes() override;
    Sync& sync() override;
    Clock& clock() override;
    // The display: metrics, the shared frame and presenting (not part of every platform yet).
    Display& display();
    // The power notifications (not part of every platform yet).
    Power& power() override;
    Sound& sound() override;
    Wireless& wireless() override;
    Pim& pim() override;
    Messaging& messaging() override;
    Telephony& telephony() override;
    Contacts& contacts() override;
    SimPhoneBook& sim() override;
    CallLog& call_log() override;
    Notify& notify() override;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// Connects to the host at `socket_path` (or $LUMO_DEVICE_SOCKET when empty); nullptr with
// `error` set when no host answers.
std::unique_ptr<DevicePlatform> connect(const std::string& socket_path, std::u16string_view program,
                                        std::string* error);

}  // namespace lumo::platform::device
