#include <mutex>

#include "internal.h"
#include "lumo/wire/protocol.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;

class DevicePowerQueue final : public PowerQueue {
public:
    DevicePowerQueue(wire::Client& c, std::uint32_t id) : c_(c), id_(id) {}
    ~DevicePowerQueue() override {
        auto& w = c_.begin(Kind::PowerNotifyClose);
        w.u32(id_);
        c_.call(w);
        // Records that arrived before the close and were never read would otherwise stay
        // queued in the connection for good.
        std::uint32_t id = id_;
        while (c_.next_event_if(0, [id](const wire::Packet& e) {
            if (e.header.kind != static_cast<std::uint16_t>(Kind::PowerNotification)) return false;
            Reader rd(e.body);
            return rd.u32() == id && rd.ok();
        })) {
        }
    }
    std::optional<std::vector<std::byte>> read(std::uint32_t timeout_ms) override {
        std::uint32_t id = id_;
        auto p = c_.next_event_if(static_cast<int>(timeout_ms), [id](const wire::Packet& e) {
            if (e.header.kind != static_cast<std::uint16_t>(Kind::PowerNotification)) return false;
            Reader rd(e.body);
            return rd.u32() == id && rd.ok();
        });
        if (!p) return std::nullopt;
        Reader rd(p->body);
        rd.u32();
        auto record = rd.bin();
        if (!rd.ok() || record.size() > kPowerRecordMax) return std::nullopt;
        return record;
    }

private:
    wire::Client& c_;
    std::uint32_t id_;
};

class DevicePower final : public Power {
public:
    explicit DevicePower(wire::Client& c) : c_(c) {}
    std::unique_ptr<PowerQueue> request_notifications(std::uint32_t mask) override {
        auto& w = c_.begin(Kind::PowerNotifyOpen);
        w.u32(mask);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return nullptr;
        Reader rd(r->body);
        auto id = rd.u32();
        if (!rd.ok()) return nullptr;
        return std::make_unique<DevicePowerQueue>(c_, id);
    }
    PowerInfo status() override {
        PowerInfo info;
        auto& w = c_.begin(Kind::PowerStatus);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return info;
        Reader rd(r->body);
        rd.u32();
        rd.s16();
        auto ac = rd.u32();
        auto percent = rd.u32();
        if (!rd.ok()) return info;
        info.ac_line_status = ac ? 1 : 0;
        info.battery_percent = std::uint8_t(percent > 100 ? 100 : percent);
        return info;
    }
    bool set_system_power_state(std::uint32_t flags) override {
        return action(wire::PowerAction::SystemState, flags);
    }
    bool set_unattended(bool on) override { return action(wire::PowerAction::Unattended, on ? 1 : 0); }
    bool video_power_supported() override { return action(wire::PowerAction::VideoPower, 0); }
    bool set_video_power(std::uint32_t state) override {
        return action(wire::PowerAction::VideoPower, state);
    }
    bool reset_idle_timer() override { return action(wire::PowerAction::IdleTimerReset, 0); }

private:
    bool action(wire::PowerAction what, std::uint32_t value) {
        auto& w = c_.begin(Kind::PowerAction);
        w.u32(static_cast<std::uint32_t>(what)).u32(value);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }
    wire::Client& c_;
};

}  // namespace

std::unique_ptr<Power> make_power(wire::Client& c) { return std::make_unique<DevicePower>(c); }

}  // namespace lumo::platform::device
