#pragma once
// The platform as the device host provides it: every call goes over the process's connection.
#include <memory>
#include <string>

#include "lumo/platform/platform.h"

namespace lumo::platform::device {

// Connects to the host at `socket_path` (or $LUMO_DEVICE_SOCKET when empty); nullptr with
// `error` set when no host answers.
std::unique_ptr<Platform> connect(const std::string& socket_path, std::u16string_view program,
                                  std::string* error);

}  // namespace lumo::platform::device
