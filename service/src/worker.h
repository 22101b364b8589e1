#pragma once
// A worker thread of the service with the private event that stops it. Stopping sets the event
// and waits a bounded time; a thread that has not ended by then is left to end on its own
// (detached) rather than killed mid-call, which could leave the platform connection or the log
// half-written.
#include <functional>
#include <memory>

#include "lumo/platform/sync.h"

namespace lumo::service {

class Worker {
  public:
    // Starts `body` with its stop event: `stop` when given (the caller keeps it), else a private
    // one; nullptr when the event or the thread cannot be made.
    static std::unique_ptr<Worker> start(platform::Sync& sync,
                                         std::function<void(platform::SyncHandle stop)> body,
                                         platform::SyncHandle stop = 0);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    platform::SyncHandle stop_event() const { return stop_; }
    // Sets the stop event and waits up to `wait_ms`; true when the thread ended in time. Either
    // way the thread and the event are released afterwards.
    bool stop(std::uint32_t wait_ms);

  private:
    struct Shared;
    Worker(platform::Sync& sync, platform::SyncHandle stop, bool owns_stop);
    platform::Sync& sync_;
    platform::SyncHandle stop_;
    bool owns_stop_;
    std::shared_ptr<Shared> shared_;
    bool stopped_ = false;
};

}  // namespace lumo::service
