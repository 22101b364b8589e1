#pragma once
// The fake's named objects: one table for every fake process, so handles two programs opened by
// the same name reach one object. Waits block in real time: worker threads are real threads.
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>

#include "lumo/platform/fake/fake_platform.h"

namespace lumo::platform::fake {

class FakePlatform::FakeSync final : public Sync {
public:
    explicit FakeSync(FakePlatform& p) : p_(p) {}

    SyncHandle create_mutex(std::u16string_view name, bool* existed) override;
    SyncHandle create_event(std::u16string_view name, bool manual_reset, bool initially_set,
                            bool* existed) override;
    bool set_event(SyncHandle event) override;
    bool reset_event(SyncHandle event) override;
    bool pulse_event(SyncHandle event) override;
    std::uint32_t wait(std::span<const SyncHandle> handles, bool wait_all,
                       std::uint32_t timeout_ms) override;
    bool close(SyncHandle handle) override;

    // A process ended: its handles close.
    void remove_process(std::uint32_t pid);

private:
    struct Waiter;
    struct Object {
        bool is_event = false;
        bool manual = false;
        bool set = false;
        std::u16string name;  // empty for private objects
        std::size_t handles = 0;
    };
    struct Waiter {
        std::vector<Object*> objects;
        bool all = false;
        std::optional<std::uint32_t> released;  // set by a pulse
    };
    struct Handle {
        std::shared_ptr<Object> object;
        std::uint32_t pid = 0;
    };

    SyncHandle open(std::shared_ptr<Object> object);
    Object* event_of(SyncHandle handle);
    // Whether the waiter can go now, treating `pulsed` as set; takes what auto events it uses.
    std::optional<std::uint32_t> try_release(Waiter& w, Object* pulsed);
    void drop(std::map<SyncHandle, Handle>::iterator it);

    FakePlatform& p_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::u16string, std::weak_ptr<Object>> named_;
    std::map<SyncHandle, Handle> handles_;
    SyncHandle next_handle_ = 0x100;
    std::list<Waiter*> waiters_;  // oldest first
};

}  // namespace lumo::platform::fake
