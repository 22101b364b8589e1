#pragma once
// Outside programs the product meets (messaging, the phone application, the music player, ...)
// run inside the host as simulated processes: a table of executable names and what starting
// one does.
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace lumo::host {

class WindowService;

struct SimulatedProgram {
    std::u16string_view exe;  // file name, compared without regard to case
    std::function<void(WindowService&, std::uint32_t pid, std::u16string_view arguments,
                       bool shown)>
        start;
};

std::span<const SimulatedProgram> simulated_programs();

}  // namespace lumo::host
