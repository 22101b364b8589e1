#include "fake_sync.h"

#include <algorithm>
#include <chrono>

namespace lumo::platform::fake {

SyncHandle FakePlatform::FakeSync::open(std::shared_ptr<Object> object) {
    SyncHandle h = next_handle_;
    next_handle_ += 4;
    ++object->handles;
    handles_[h] = Handle{std::move(object), p_.current_process()};
    return h;
}

SyncHandle FakePlatform::FakeSync::create_mutex(std::u16string_view name, bool* existed) {
    std::lock_guard lock(mutex_);
    // Object names are case-sensitive on the phone, unlike window and registry names.
    std::u16string key(name);
    if (existed) *existed = false;
    if (!key.empty()) {
        if (auto found = named_[key].lock()) {
            if (found->is_event) return 0;  // the name belongs to an event
            if (existed) *existed = true;
            return open(found);
        }
    }
    auto object = std::make_shared<Object>();
    object->name = key;
    if (!key.empty()) named_[key] = object;
    return open(object);
}

SyncHandle FakePlatform::FakeSync::create_event(std::u16string_view name, bool manual_reset,
                                                bool initially_set, bool* existed) {
    std::lock_guard lock(mutex_);
    std::u16string key(name);
    if (existed) *existed = false;
    if (!key.empty()) {
        if (auto found = named_[key].lock()) {
            // Opening an existing event keeps its kind and state, as the phone does.
            if (!found->is_event) return 0;
            if (existed) *existed = true;
            return open(found);
        }
    }
    auto object = std::make_shared<Object>();
    object->is_event = true;
    object->manual = manual_reset;
    object->set = initially_set;
    object->name = key;
    if (!key.empty()) named_[key] = object;
    return open(object);
}

FakePlatform::FakeSync::Object* FakePlatform::FakeSync::event_of(SyncHandle handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end() || !it->second.object->is_event) return nullptr;
    return it->second.object.get();
}

std::optional<std::uint32_t> FakePlatform::FakeSync::try_release(Waiter& w, Object* pulsed) {
    auto is_set = [&](Object* o) { return o == pulsed || o->set; };
    if (w.all) {
        if (!std::all_of(w.objects.begin(), w.objects.end(), is_set)) return std::nullopt;
        for (auto* o : w.objects)
            if (!o->manual) o->set = false;
        return 0;
    }
    for (std::size_t i = 0; i < w.objects.size(); ++i) {
        if (is_set(w.objects[i])) {
            if (!w.objects[i]->manual) w.objects[i]->set = false;
            return std::uint32_t(i);
        }
    }
    return std::nullopt;
}

bool FakePlatform::FakeSync::set_event(SyncHandle event) {
    std::lock_guard lock(mutex_);
    auto* e = event_of(event);
    if (!e) return false;
    e->set = true;
    changed_.notify_all();
    return true;
}

bool FakePlatform::FakeSync::reset_event(SyncHandle event) {
    std::lock_guard lock(mutex_);
    auto* e = event_of(event);
    if (!e) return false;
    e->set = false;
    return true;
}

bool FakePlatform::FakeSync::pulse_event(SyncHandle event) {
    std::lock_guard lock(mutex_);
    auto* e = event_of(event);
    if (!e) return false;
    // Only the threads waiting at this moment go; the event is left reset.
    for (auto* w : waiters_) {
        if (w->released || std::find(w->objects.begin(), w->objects.end(), e) == w->objects.end())
            continue;
        w->released = try_release(*w, e);
        if (w->released && !e->manual) break;
    }
    e->set = false;
    changed_.notify_all();
    return true;
}

std::uint32_t FakePlatform::FakeSync::wait(std::span<const SyncHandle> handles, bool wait_all,
                                           std::uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    Waiter w;
    w.all = wait_all;
    for (auto h : handles) {
        auto* e = event_of(h);
        if (!e) return kWaitFailed;
        w.objects.push_back(e);
    }
    if (w.objects.empty()) return kWaitFailed;
    if (auto now = try_release(w, nullptr)) return *now;
    if (timeout_ms == 0) return kWaitTimeout;

    // Holding the handles' objects keeps them alive while closed elsewhere.
    std::vector<std::shared_ptr<Object>> keep;
    for (auto h : handles) keep.push_back(handles_[h].object);
    waiters_.push_back(&w);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::uint32_t result = kWaitTimeout;
    for (;;) {
        if (w.released) {
            result = *w.released;
            break;
        }
        if (auto now = try_release(w, nullptr)) {
            result = *now;
            break;
        }
        if (timeout_ms == kInfinite) {
            changed_.wait(lock);
        } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (auto last = w.released ? w.released : try_release(w, nullptr)) result = *last;
            break;
        }
    }
    waiters_.remove(&w);
    return result;
}

void FakePlatform::FakeSync::drop(std::map<SyncHandle, Handle>::iterator it) {
    auto object = it->second.object;
    handles_.erase(it);
    if (--object->handles == 0 && !object->name.empty()) named_.erase(object->name);
}

bool FakePlatform::FakeSync::close(SyncHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    drop(it);
    return true;
}

void FakePlatform::FakeSync::remove_process(std::uint32_t pid) {
    std::lock_guard lock(mutex_);
    for (auto it = handles_.begin(); it != handles_.end();) {
        auto next = std::next(it);
        if (it->second.pid == pid) drop(it);
        it = next;
    }
}

}  // namespace lumo::platform::fake
