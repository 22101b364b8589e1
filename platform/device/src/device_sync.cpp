// Named objects live in the host; unnamed events stay inside the program.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "internal.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;
using Clock = std::chrono::steady_clock;

constexpr SyncHandle kLocalBit = 0x80000000;  // host handles never have it

class DeviceSync final : public Sync {
public:
    explicit DeviceSync(wire::Client& c) : c_(c) {}

    SyncHandle create_mutex(std::u16string_view name, bool* existed) override {
        return create(1, false, false, name, existed);
    }

    SyncHandle create_event(std::u16string_view name, bool manual_reset, bool initially_set,
                            bool* existed) override {
        if (!name.empty()) return create(2, manual_reset, initially_set, name, existed);
        std::lock_guard lock(m_);
        auto h = kLocalBit | next_local_++;
        local_[h] = {manual_reset, initially_set, 0};
        if (existed) *existed = false;
        return h;
    }

    bool set_event(SyncHandle h) override { return signal(h, 1); }
    bool reset_event(SyncHandle h) override { return signal(h, 2); }
    bool pulse_event(SyncHandle h) override { return signal(h, 3); }

    std::uint32_t wait(std::span<const SyncHandle> handles, bool wait_all,
                       std::uint32_t timeout_ms) override {
        if (handles.empty()) return kWaitFailed;
        bool any_local = false, any_remote = false;
        for (auto h : handles) (h & kLocalBit ? any_local : any_remote) = true;
        if (!any_local) return wait_remote(handles, wait_all, timeout_ms);
        if (!any_remote) return wait_local(handles, wait_all, timeout_ms);
        // Mixed waits are rare: look at both sides in short slices.
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        std::vector<SyncHandle> local, remote;
        for (auto h : handles) (h & kLocalBit ? local : remote).push_back(h);
        {
            std::lock_guard lock(m_);
            for (auto h : local)
                if (!local_.count(h)) return kWaitFailed;
        }
        for (auto h : remote)
            if (!signal(h, 4)) return kWaitFailed;  // probes that the object exists
        for (;;) {
            if (wait_all) {
                if (wait_remote(remote, true, 0) == 0 && wait_local(local, true, 0) == 0) return 0;
            } else {
                for (std::size_t i = 0; i < handles.size(); ++i) {
                    SyncHandle one[] = {handles[i]};
                    auto r = handles[i] & kLocalBit ? wait_local(one, false, 0) : wait_remote(one, false, 0);
                    if (r == kWaitFailed) return kWaitFailed;
                    if (r == 0) return static_cast<std::uint32_t>(i);
                }
            }
            if (timeout_ms != kInfinite && Clock::now() >= deadline) return kWaitTimeout;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    bool close(SyncHandle h) override {
        if (h & kLocalBit) {
            std::lock_guard lock(m_);
            return local_.erase(h) != 0;
        }
        auto& w = c_.begin(Kind::SyncClose);
        w.u32(h);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

private:
    struct LocalEvent {
        bool manual = false;
        bool set = false;
        std::uint64_t pulses = 0;  // waiters present at a manual pulse are released by it
        int waiting = 0;
    };

    SyncHandle create(std::uint32_t kind, bool manual, bool initial, std::u16string_view name, bool* existed) {
        auto& w = c_.begin(Kind::SyncCreate);
        w.u32(kind).u32(manual ? 1 : 0).u32(initial ? 1 : 0).s16(name);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return 0;
        Reader rd(r->body);
        auto h = rd.u32();
        auto was = rd.u32();
        if (!rd.ok()) return 0;
        if (existed) *existed = was != 0;
        return h;
    }

    bool signal(SyncHandle h, std::uint32_t op) {
        if (h & kLocalBit) {
            std::lock_guard lock(m_);
            auto it = local_.find(h);
            if (it == local_.end()) return false;
            if (op == 1) it->second.set = true;
            if (op == 2) it->second.set = false;
            if (op == 3) {
                // Manual: everybody waiting now goes. Auto: the first waiter to wake takes it
                // (and resets it); with nobody waiting the pulse is lost.
                if (it->second.manual) {
                    it->second.set = false;
                    ++it->second.pulses;
                } else {
                    it->second.set = it->second.waiting > 0;
                }
            }
            cv_.notify_all();
            return true;
        }
        auto& w = c_.begin(Kind::SyncSignal);
        w.u32(h).u32(op);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    std::uint32_t wait_remote(std::span<const SyncHandle> handles, bool all, std::uint32_t timeout_ms) {
        auto& w = c_.begin(Kind::SyncWait);
        w.u32(all ? 1 : 0).u32(timeout_ms).u32(static_cast<std::uint32_t>(handles.size()));
        for (auto h : handles) w.u32(h);
        int t = timeout_ms == kInfinite ? -1 : static_cast<int>(timeout_ms) + 2000;
        auto r = c_.call(w, t);
        if (!r || r->status != Status::Ok) return kWaitFailed;
        Reader rd(r->body);
        auto v = rd.u32();
        return rd.ok() ? v : kWaitFailed;
    }

    std::uint32_t wait_local(std::span<const SyncHandle> handles, bool all, std::uint32_t timeout_ms) {
        std::unique_lock lock(m_);
        std::vector<std::uint64_t> seen;
        for (auto h : handles) {
            auto it = local_.find(h);
            if (it == local_.end()) return kWaitFailed;
            seen.push_back(it->second.pulses);
        }
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        for (auto h : handles) ++local_.at(h).waiting;
        struct Leave {
            DeviceSync& s;
            std::span<const SyncHandle> hs;
            ~Leave() {
                for (auto h : hs)
                    if (auto it = s.local_.find(h); it != s.local_.end()) --it->second.waiting;
            }
        } leave{*this, handles};
        for (;;) {
            std::vector<bool> ready;
            for (std::size_t i = 0; i < handles.size(); ++i) {
                auto it = local_.find(handles[i]);
                if (it == local_.end()) return kWaitFailed;
                ready.push_back(it->second.set || it->second.pulses != seen[i]);
            }
            auto take = [&](std::size_t i) {
                auto& e = local_.at(handles[i]);
                if (!e.manual) e.set = false;
            };
            if (all && std::all_of(ready.begin(), ready.end(), [](bool b) { return b; })) {
                for (std::size_t i = 0; i < handles.size(); ++i) take(i);
                return 0;
            }
            if (!all) {
                for (std::size_t i = 0; i < handles.size(); ++i) {
                    if (ready[i]) {
                        take(i);
                        return static_cast<std::uint32_t>(i);
                    }
                }
            }
            if (timeout_ms == kInfinite) {
                cv_.wait(lock);
            } else if (cv_.wait_until(lock, deadline) == std::cv_status::timeout && Clock::now() >= deadline) {
                return kWaitTimeout;
            }
        }
    }

    wire::Client& c_;
    std::mutex m_;
    std::condition_variable cv_;
    std::map<SyncHandle, LocalEvent> local_;
    std::uint32_t next_local_ = 1;
};

}  // namespace

std::unique_ptr<Sync> make_sync(wire::Client& c) { return std::make_unique<DeviceSync>(c); }

}  // namespace lumo::platform::device
