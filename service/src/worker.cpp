#include "worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace lumo::service {

struct Worker::Shared {
    std::mutex mutex;
    std::condition_variable ended_cv;
    bool ended = false;
    std::thread thread;
};

Worker::Worker(platform::Sync& sync, platform::SyncHandle stop, bool owns_stop)
    : sync_(sync), stop_(stop), owns_stop_(owns_stop), shared_(std::make_shared<Shared>()) {}

std::unique_ptr<Worker> Worker::start(platform::Sync& sync,
                                      std::function<void(platform::SyncHandle)> body,
                                      platform::SyncHandle given_stop) {
    auto stop = given_stop ? given_stop : sync.create_event(u"", true, false);
    if (!stop) return nullptr;
    std::unique_ptr<Worker> w(new Worker(sync, stop, given_stop == 0));
    auto shared = w->shared_;
    try {
        shared->thread = std::thread([shared, stop, body = std::move(body)] {
            body(stop);
            std::lock_guard lock(shared->mutex);
            shared->ended = true;
            shared->ended_cv.notify_all();
        });
    } catch (const std::system_error&) {
        if (!given_stop) sync.close(stop);
        return nullptr;
    }
    return w;
}

bool Worker::stop(std::uint32_t wait_ms) {
    if (stopped_) return true;
    stopped_ = true;
    sync_.set_event(stop_);
    bool ended;
    {
        std::unique_lock lock(shared_->mutex);
        ended = shared_->ended_cv.wait_for(lock, std::chrono::milliseconds(wait_ms),
                                           [&] { return shared_->ended; });
    }
    if (ended) {
        shared_->thread.join();
        if (owns_stop_) sync_.close(stop_);
    } else {
        // The event stays open for the thread that may still look at it.
        shared_->thread.detach();
    }
    return ended;
}

Worker::~Worker() {
    if (!stopped_) stop(0);
    if (shared_->thread.joinable()) shared_->thread.detach();
}

}  // namespace lumo::service
