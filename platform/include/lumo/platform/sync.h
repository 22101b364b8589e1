#pragma once
// Named mutexes and events, shared by every process of the device, and waits on them. Unnamed
// events are private to the program. Handles are process-local numbers; 0 is "none".
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace lumo::platform {

using SyncHandle = std::uint32_t;

inline constexpr std::uint32_t kWaitTimeout = 0x102;  // wait result when the time ran out
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

class Sync {
public:
    virtual ~Sync() = default;
    // Creates or opens a named mutex; `existed` tells whether it was there already. The mutex
    // lives until its last handle closes or its processes end.
    virtual SyncHandle create_mutex(std::u16string_view name, bool* existed) = 0;
    // Creates or opens an event (named: shared across processes; empty name: private).
    virtual SyncHandle create_event(std::u16string_view name, bool manual_reset,
                                    bool initially_set, bool* existed = nullptr) = 0;
    virtual bool set_event(SyncHandle event) = 0;
    virtual bool reset_event(SyncHandle event) = 0;
    // Releases the waiters present now (all for a manual event, one for an auto event) and
    // leaves the event reset.
    virtual bool pulse_event(SyncHandle event) = 0;
    // Waits until one event (or all, with `wait_all`) is set: the index of the first set one,
    // kWaitTimeout, or kWaitFailed for a bad handle.
    virtual std::uint32_t wait(std::span<const SyncHandle> handles, bool wait_all,
                               std::uint32_t timeout_ms) = 0;
    virtual bool close(SyncHandle handle) = 0;
};

}  // namespace lumo::platform
