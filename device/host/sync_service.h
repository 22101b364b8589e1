#pragma once
// Named mutexes and events shared by the device's processes, and waits on them. An object lives
// while some process holds a handle to it.
#include <map>
#include <string>
#include <vector>

#include "host.h"

namespace lumo::host {

class SyncService {
public:
    explicit SyncService(Host& host);
    // Sets a named event as a program would (the notification service's named events); false
    // when no program holds an event of that name.
    bool set_named_event(std::u16string_view name);

private:
    struct Object {
        std::uint32_t kind = 0;  // 1 mutex, 2 event
        std::u16string name;
        bool manual = false;
        bool set = false;
        std::map<std::uint32_t, int> refs;  // client -> handles open
    };
    struct Waiter {
        std::uint64_t id;
        Host::Deferred reply;
        std::vector<std::uint32_t> handles;
        bool all;
        Host::TimerId timer;
    };
    void register_handlers();
    // The wait result when the waiter can go now (and takes auto-reset events); -1 otherwise.
    long try_satisfy(const std::vector<std::uint32_t>& handles, bool all);
    void wake_waiters();
    void drop_object_if_unused(std::uint32_t id);

    Host& host_;
    // A program's handle to an object; every open makes a new one, as on the phone.
    struct Handle {
        std::uint32_t object;
        std::uint32_t client;
    };
    // The object behind a handle of this client; 0 when it is not one of its handles.
    std::uint32_t object_of(std::uint32_t handle, std::uint32_t client) const;
    std::uint32_t open_handle(std::uint32_t object, std::uint32_t client);

    std::map<std::uint32_t, Object> objects_;
    std::map<std::uint32_t, Handle> handles_;
    std::uint32_t next_handle_ = 0x1000;
    std::map<std::u16string, std::uint32_t> names_;
    std::vector<Waiter> waiters_;  // oldest first: the first waiter wins an auto-reset event
    std::uint32_t next_id_ = 0x100;
    std::uint64_t next_waiter_ = 1;
};

}  // namespace lumo::host
