#include "notify_service.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "lumo/platform/notify.h"
#include "lumo/platform/text.h"
#include "lumo/store/shell_notifications.h"
#include "lumo/wire/protocol.h"
#include "power_service.h"
#include "sync_service.h"

namespace lumo::host {

using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

constexpr std::uint32_t kCheckMs = 250;
// What a woken phone gives the programs to take an unattended request before it sleeps again.
constexpr std::uint32_t kWakeGraceMs = 5000;
constexpr std::size_t kPulsesKept = 16;
constexpr std::size_t kMaxNotifications = 64;
constexpr std::size_t kMaxApplication = 260;
constexpr std::int64_t kUnixEpochMs = 11644473600000ll;

std::int64_t file_time_ms(std::uint64_t file_time) {
    return static_cast<std::int64_t>(file_time / 10000) - kUnixEpochMs;
}

constexpr char kFileMagic[8] = {'L', 'U', 'M', 'O', 'N', 'T', 'F', '1'};

template <class T>
void put(std::string& out, T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

template <class T>
bool take(const std::string& in, std::size_t& at, T& v) {
    if (in.size() - at < sizeof v) return false;
    std::memcpy(&v, in.data() + at, sizeof v);
    at += sizeof v;
    return true;
}

}  // namespace

NotifyService::NotifyService(Host& host, SyncService& sync, PowerService& power,
                             std::function<std::int64_t()> local_now_ms, std::uint32_t leds)
    : host_(host), sync_(sync), power_(power), local_now_ms_(std::move(local_now_ms)), leds_(leds) {
    if (!host_.options().dir.empty())
        file_ = (std::filesystem::path(host_.options().dir) / "notifications").string();
    register_handlers();
    load();
    arm();
}

void NotifyService::load() {
    if (file_.empty()) return;
    std::ifstream f(file_, std::ios::binary);
    if (!f) return;  // none set yet
    std::string in((std::istreambuf_iterator<char>(f)), {});
    std::map<std::uint32_t, Entry> entries;
    std::size_t at = sizeof kFileMagic;
    std::uint32_t count = 0, next = 0;
    bool ok = in.size() >= sizeof kFileMagic && std::memcmp(in.data(), kFileMagic, sizeof kFileMagic) == 0 &&
              take(in, at, next) && take(in, at, count) && count <= kMaxNotifications && next != 0;
    for (std::uint32_t i = 0; ok && i < count; ++i) {
        std::uint32_t handle = 0, length = 0;
        Entry e;
        ok = take(in, at, handle) && take(in, at, e.file_time) && take(in, at, length) && handle != 0 &&
             length > 0 && length <= kMaxApplication && in.size() - at >= length * 2u;
        if (!ok) break;
        e.application.resize(length);
        std::memcpy(e.application.data(), in.data() + at, length * 2u);
        at += length * 2u;
        entries[handle] = std::move(e);
    }
    if (!ok || at != in.size()) {
        // Not ours or cut short: kept aside for a look, and the phone starts without any.
        host_.log().printf("notifications: %s is damaged; moved to %s.bad, starting with none", file_.c_str(),
                           file_.c_str());
        std::error_code ec;
        std::filesystem::rename(file_, file_ + ".bad", ec);
        return;
    }
    entries_ = std::move(entries);
    // A handle once given out is never given again, also not one cleared before the restart.
    next_handle_ = next;
    for (const auto& [h, e] : entries_) next_handle_ = std::max(next_handle_, h + 1);
    if (!entries_.empty()) host_.log().printf("notifications: %zu kept from the last run", entries_.size());
}

void NotifyService::save() {
    if (file_.empty()) return;
    std::string out(kFileMagic, sizeof kFileMagic);
    put(out, next_handle_);
    put(out, std::uint32_t(entries_.size()));
    for (const auto& [h, e] : entries_) {
        put(out, h);
        put(out, e.file_time);
        put(out, std::uint32_t(e.application.size()));
        out.append(reinterpret_cast<const char*>(e.application.data()), e.application.size() * 2);
    }
    const std::string tmp = file_ + ".new";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f.write(out.data(), std::streamsize(out.size()));
        f.flush();
        if (!f) {
            host_.log().printf("notifications: cannot write %s; the change lasts only this run", tmp.c_str());
            std::error_code ec;
            std::filesystem::remove(tmp, ec);
            return;
        }
    }
    std::error_code ec;
    std::filesystem::permissions(tmp, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    std::filesystem::rename(tmp, file_, ec);
    if (ec) host_.log().printf("notifications: cannot replace %s: %s", file_.c_str(), ec.message().c_str());
}

NotifyService::~NotifyService() {
    if (timer_) host_.cancel(timer_);
}

void NotifyService::arm() {
    if (timer_ || entries_.empty()) return;
    // The local clock can be moved at any time, so it is looked at often rather than once.
    timer_ = host_.schedule(kCheckMs, [this] {
        timer_ = 0;
        check();
        arm();
    });
}

void NotifyService::check() {
    const auto now = local_now_ms_();
    std::vector<std::u16string> due;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (file_time_ms(it->second.file_time) > now) {
            ++it;
            continue;
        }
        due.push_back(it->second.application);
        it = entries_.erase(it);
    }
    if (!due.empty()) save();
    for (const auto& app : due) {
        std::u16string_view name = app;
        if (!name.starts_with(platform::kNamedEventPrefix)) {
            host_.log().printf("notification %s is due; it names no event",
                               platform::to_utf8(app).c_str());
            continue;
        }
        name.remove_prefix(platform::kNamedEventPrefix.size());
        power_.wake_unattended(kWakeGraceMs);
        bool set = sync_.set_named_event(name);
        host_.log().printf("notification %s is due%s", platform::to_utf8(name).c_str(),
                           set ? "" : " (nobody holds its event)");
    }
}

void NotifyService::register_handlers() {
    host_.add_handler(Kind::UserNotifySet, [this](ClientConn&, Reader& in, Writer& out) {
        auto app = in.s16();
        auto when = in.u64();
        if (!in.done()) return false;
        if (app.empty() || app.size() > kMaxApplication || entries_.size() >= kMaxNotifications) {
            out.status(Status::BadRequest);
            return true;
        }
        auto h = next_handle_++;
        entries_[h] = {app, when};
        save();
        out.status(Status::Ok).u32(h);
        arm();
        return true;
    });
    host_.add_handler(Kind::UserNotifyList, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        out.status(Status::Ok).u32(std::uint32_t(entries_.size()));
        for (const auto& [h, e] : entries_) out.u32(h).s16(e.application).u64(e.file_time);
        return true;
    });
    host_.add_handler(Kind::UserNotifyClear, [this](ClientConn&, Reader& in, Writer& out) {
        auto h = in.u32();
        if (!in.done()) return false;
        const bool erased = entries_.erase(h) != 0;
        if (erased) save();
        out.status(erased ? Status::Ok : Status::NotFound);
        return true;
    });
    // The shell's notifications, published in the registry (lumo/store/shell_notifications.h).
    host_.add_handler(Kind::ShellNotifyRemove, [this](ClientConn&, Reader& in, Writer& out) {
        auto cls = in.s16();
        auto number = in.u32();
        if (!in.done()) return false;
        bool found = store::remove_shell_notification(host_.registry(), cls, number);
        if (found) host_.log().printf("shell: notification %u of %s removed", number, platform::to_utf8(cls).c_str());
        out.status(found ? Status::Ok : Status::NotFound);
        return true;
    });
    host_.add_handler(Kind::ShellNotifyShow, [this](ClientConn&, Reader& in, Writer& out) {
        auto cls = in.s16();
        auto number = in.u32();
        if (!in.done()) return false;
        bool found = store::shell_notification_exists(host_.registry(), cls, number);
        if (found) host_.log().printf("shell: notification %u of %s shown again", number, platform::to_utf8(cls).c_str());
        out.status(found ? Status::Ok : Status::NotFound);
        return true;
    });
    host_.add_handler(Kind::LedCount, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        out.status(Status::Ok).u32(leds_);
        return true;
    });
    host_.add_handler(Kind::LedSet, [this](ClientConn&, Reader& in, Writer& out) {
        auto index = in.u32();
        auto on = in.u32();
        if (!in.done()) return false;
        if (index >= leds_ || on > 1) {
            out.status(index >= leds_ ? Status::NotFound : Status::BadRequest);
            return true;
        }
        const auto now = host_.now_ms();
        Pulse* open = nullptr;
        for (auto it = pulses_.rbegin(); it != pulses_.rend(); ++it)
            if (it->index == index && it->still_on) {
                open = &*it;
                break;
            }
        if (on && !open) {
            pulses_.push_back({index, now, 0, true});
            if (pulses_.size() > kPulsesKept) pulses_.pop_front();
        } else if (!on && open) {
            open->still_on = false;
            open->length_ms = std::uint32_t(now - open->on_at_ms);
            host_.log().printf("LED %u pulsed %u ms", index, open->length_ms);
        }
        out.status(Status::Ok);
        return true;
    });
    host_.add_handler(Kind::LedList, [this](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        const auto now = host_.now_ms();
        out.status(Status::Ok).u32(std::uint32_t(pulses_.size()));
        for (const auto& p : pulses_)
            out.u32(p.index).u64(p.on_at_ms).u32(p.still_on ? std::uint32_t(now - p.on_at_ms)
                                                          : p.length_ms)
                .u32(p.still_on ? 1 : 0);
        return true;
    });
}

}  // namespace lumo::host
