// User notifications and notification LEDs through the device host, which keeps the store and
// signals the named events at their time, waking a suspended phone.
#include "internal.h"
#include "lumo/platform/notify.h"
#include "lumo/wire/protocol.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;

class DeviceNotify final : public Notify {
  public:
    explicit DeviceNotify(wire::Client& c) : c_(c) {}

    NotificationHandle set_user_notification(const UserNotification& n) override {
        auto& w = c_.begin(Kind::UserNotifySet);
        w.s16(n.application).u64(local_to_file_time(n.start));
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return 0;
        Reader rd(r->body);
        auto h = rd.u32();
        return rd.ok() ? h : 0;
    }

    std::optional<std::vector<NotificationHandle>> user_notification_handles() override {
        auto all = list();
        if (!all) return std::nullopt;
        std::vector<NotificationHandle> out;
        for (const auto& [h, n] : *all) out.push_back(h);
        return out;
    }

    std::optional<UserNotification> user_notification(NotificationHandle h) override {
        auto all = list();
        if (!all) return std::nullopt;
        for (auto& [handle, n] : *all)
            if (handle == h) return n;
        return std::nullopt;
    }

    bool clear_user_notification(NotificationHandle h) override {
        auto& w = c_.begin(Kind::UserNotifyClear);
        w.u32(h);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    std::optional<std::uint32_t> led_count() override {
        auto& w = c_.begin(Kind::LedCount);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto n = rd.u32();
        if (!rd.ok()) return std::nullopt;
        return n;
    }

    bool set_led(std::uint32_t index, bool on) override {
        auto& w = c_.begin(Kind::LedSet);
        w.u32(index).u32(on ? 1 : 0);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    bool remove_shell_notification(std::u16string_view class_id, std::uint32_t number) override {
        return shell(Kind::ShellNotifyRemove, class_id, number);
    }
    bool show_shell_notification(std::u16string_view class_id, std::uint32_t number) override {
        return shell(Kind::ShellNotifyShow, class_id, number);
    }

  private:
    bool shell(Kind kind, std::u16string_view class_id, std::uint32_t number) {
        auto& w = c_.begin(kind);
        w.s16(class_id).u32(number);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    std::optional<std::vector<std::pair<NotificationHandle, UserNotification>>> list() {
        auto& w = c_.begin(Kind::UserNotifyList);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto count = rd.u32();
        std::vector<std::pair<NotificationHandle, UserNotification>> out;
        for (std::uint32_t i = 0; i < count && rd.ok(); ++i) {
            auto h = rd.u32();
            UserNotification n;
            n.application = rd.s16();
            n.start = file_time_to_local(rd.u64());
            if (rd.ok()) out.emplace_back(h, std::move(n));
        }
        if (!rd.ok()) return std::nullopt;
        return out;
    }

    wire::Client& c_;
};

}  // namespace

std::unique_ptr<Notify> make_notify(wire::Client& c) { return std::make_unique<DeviceNotify>(c); }

}  // namespace lumo::platform::device
