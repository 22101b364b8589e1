#include "sync_service.h"

#include <algorithm>

#include "lumo/platform/sync.h"

namespace lumo::host {

using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {
constexpr std::uint32_t kMaxWaitHandles = 64;
}

SyncService::SyncService(Host& host) : host_(host) {
    register_handlers();
    host_.on_client_closed([this](ClientConn& c) {
        std::erase_if(waiters_, [&](Waiter& w) {
            if (w.reply.client != c.id) return false;
            host_.cancel(w.timer);
            return true;
        });
        std::erase_if(handles_, [&](auto& e) { return e.second.client == c.id; });
        std::vector<std::uint32_t> ids;
        for (auto& [id, o] : objects_)
            if (o.refs.erase(c.id)) ids.push_back(id);
        for (auto id : ids) drop_object_if_unused(id);
    });
}

std::uint32_t SyncService::object_of(std::uint32_t handle, std::uint32_t client) const {
    auto it = handles_.find(handle);
    return it != handles_.end() && it->second.client == client ? it->second.object : 0;
}

std::uint32_t SyncService::open_handle(std::uint32_t object, std::uint32_t client) {
    auto h = next_handle_++;
    handles_[h] = {object, client};
    ++objects_.at(object).refs[client];
    return h;
}

void SyncService::drop_object_if_unused(std::uint32_t id) {
    auto it = objects_.find(id);
    if (it == objects_.end() || !it->second.refs.empty()) return;
    if (!it->second.name.empty()) names_.erase(it->second.name);
    objects_.erase(it);
}

long SyncService::try_satisfy(const std::vector<std::uint32_t>& handles, bool all) {
    auto is_set = [&](std::uint32_t h) {
        auto it = objects_.find(h);
        // A mutex is only ever used to learn whether a program runs: waiting on it succeeds.
        return it != objects_.end() && (it->second.kind == 1 || it->second.set);
    };
    auto take = [&](std::uint32_t h) {
        auto& o = objects_.at(h);
        if (o.kind == 2 && !o.manual) o.set = false;
    };
    if (all) {
        if (!std::all_of(handles.begin(), handles.end(), is_set)) return -1;
        for (auto h : handles) take(h);
        return 0;
    }
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (is_set(handles[i])) {
            take(handles[i]);
            return static_cast<long>(i);
        }
    }
    return -1;
}

void SyncService::wake_waiters() {
    for (std::size_t i = 0; i < waiters_.size();) {
        auto r = try_satisfy(waiters_[i].handles, waiters_[i].all);
        if (r < 0) {
            ++i;
            continue;
        }
        host_.cancel(waiters_[i].timer);
        host_.reply_later(waiters_[i].reply, [&](Writer& w) { w.status(Status::Ok).u32(std::uint32_t(r)); });
        waiters_.erase(waiters_.begin() + static_cast<long>(i));
    }
}

void SyncService::register_handlers() {
    host_.add_handler(Kind::SyncCreate, [this](ClientConn& c, Reader& in, Writer& out) {
        auto kind = in.u32();
        auto manual = in.u32();
        auto initial = in.u32();
        auto name = in.s16();
        if (!in.done()) return false;
        if ((kind != 1 && kind != 2) || name.size() > platform::kMaxNameChars) {
            out.status(Status::BadRequest);
            return true;
        }
        if (!name.empty()) {
            if (auto it = names_.find(name); it != names_.end()) {
                if (objects_.at(it->second).kind != kind) {
                    out.status(Status::WrongType);
                    return true;
                }
                out.status(Status::Ok).u32(open_handle(it->second, c.id)).u32(1);
                return true;
            }
        }
        auto id = next_id_++;
        Object o;
        o.kind = kind;
        o.name = name;
        o.manual = manual != 0;
        o.set = initial != 0;
        objects_[id] = std::move(o);
        if (!name.empty()) names_[name] = id;
        out.status(Status::Ok).u32(open_handle(id, c.id)).u32(0);
        return true;
    });
    host_.add_handler(Kind::SyncSignal, [this](ClientConn& c, Reader& in, Writer& out) {
        auto h = object_of(in.u32(), c.id);
        auto op = in.u32();
        if (!in.done()) return false;
        auto it = objects_.find(h);
        if (it != objects_.end() && op == 4) {  // a probe: the object exists
            out.status(Status::Ok);
            return true;
        }
        if (it == objects_.end() || it->second.kind != 2 || op < 1 || op > 3) {
            out.status(Status::NotFound);
            return true;
        }
        auto& o = it->second;
        if (op == 1) {
            o.set = true;
            wake_waiters();
        } else if (op == 2) {
            o.set = false;
        } else {
            // Pulse: release who waits now (one for an auto-reset event), then reset.
            o.set = true;
            if (o.manual) {
                wake_waiters();
            } else {
                for (std::size_t i = 0; i < waiters_.size() && objects_.at(h).set; ++i) {
                    auto& w = waiters_[i];
                    if (std::find(w.handles.begin(), w.handles.end(), h) == w.handles.end()) continue;
                    auto r = try_satisfy(w.handles, w.all);
                    if (r < 0) continue;
                    host_.cancel(w.timer);
                    host_.reply_later(w.reply, [&](Writer& wr) { wr.status(Status::Ok).u32(std::uint32_t(r)); });
                    waiters_.erase(waiters_.begin() + static_cast<long>(i));
                    break;
                }
            }
            objects_.at(h).set = false;
        }
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::SyncWait, [this](ClientConn& c, Reader& in, Writer& out) {
        auto all = in.u32();
        auto timeout = in.u32();
        auto count = in.u32();
        if (!in.ok() || count == 0 || count > kMaxWaitHandles) return false;
        std::vector<std::uint32_t> handles(count);
        for (auto& h : handles) h = object_of(in.u32(), c.id);
        if (!in.done()) return false;
        for (auto h : handles) {
            if (!objects_.count(h)) {
                out.status(Status::Ok).u32(platform::kWaitFailed);
                return true;
            }
        }
        auto r = try_satisfy(handles, all != 0);
        if (r >= 0 || timeout == 0) {
            out.status(Status::Ok).u32(r >= 0 ? std::uint32_t(r) : platform::kWaitTimeout);
            return true;
        }
        Waiter w{next_waiter_++, host_.defer(), std::move(handles), all != 0, 0};
        if (timeout != platform::kInfinite) {
            auto id = w.id;
            w.timer = host_.schedule(timeout, [this, id] {
                auto it = std::find_if(waiters_.begin(), waiters_.end(), [&](auto& x) { return x.id == id; });
                if (it == waiters_.end()) return;
                host_.reply_later(it->reply, [](Writer& wr) { wr.status(Status::Ok).u32(platform::kWaitTimeout); });
                waiters_.erase(it);
            });
        }
        waiters_.push_back(std::move(w));
        return true;
    });
    host_.add_handler(Kind::SyncClose, [this](ClientConn& c, Reader& in, Writer& out) {
        auto handle = in.u32();
        if (!in.done()) return false;
        auto h = object_of(handle, c.id);
        auto it = objects_.find(h);
        if (it == objects_.end()) {
            out.status(Status::NotFound);
            return true;
        }
        handles_.erase(handle);
        if (--it->second.refs[c.id] == 0) it->second.refs.erase(c.id);
        drop_object_if_unused(h);
        out.status(Status::Ok);
        return true;
    });
}

bool SyncService::set_named_event(std::u16string_view name) {
    auto n = names_.find(std::u16string(name));
    if (n == names_.end()) return false;
    auto it = objects_.find(n->second);
    if (it == objects_.end() || it->second.kind != 2) return false;
    it->second.set = true;
    wake_waiters();
    return true;
}

}  // namespace lumo::host
