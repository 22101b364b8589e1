#pragma once
// The calling program's message queue: messages posted to its windows by other programs and by
// the state broker arrive here in the order they were posted.
#include <cstdint>
#include <optional>

#include "lumo/platform/types.h"

namespace lumo::platform {

class MessageQueue {
public:
    virtual ~MessageQueue() = default;
    // Takes the next posted message, waiting at most `timeout_ms` (0: only what is queued).
    virtual std::optional<Message> take_posted(std::uint32_t timeout_ms) = 0;
};

}  // namespace lumo::platform
