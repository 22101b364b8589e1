#pragma once
// The services of the device client, each over the process's one connection to the host.
#include <filesystem>
#include <memory>

#include "lumo/platform/clock.h"
#include "lumo/platform/display.h"
#include "lumo/platform/power.h"
#include "lumo/platform/process.h"
#include "lumo/platform/sync.h"
#include "lumo/platform/windows.h"
#include "lumo/wire/client.h"

namespace lumo::platform::device {

std::unique_ptr<Windows> make_windows(wire::Client& c);
std::unique_ptr<Processes> make_processes(wire::Client& c);
std::unique_ptr<Sync> make_sync(wire::Client& c);
std::unique_ptr<Power> make_power(wire::Client& c);
// The device folder is where the host shares its clock page.
std::unique_ptr<Clock> make_clock(const std::filesystem::path& device_dir);
// The shared frame lives in the device folder's run/ beside the socket.
std::unique_ptr<Display> make_display(wire::Client& c, const std::filesystem::path& device_dir);

}  // namespace lumo::platform::device
