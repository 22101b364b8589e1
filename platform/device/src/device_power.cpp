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

private:
    wire::Client& c_;
};

}  // namespace

std::unique_ptr<Power> make_power(wire::Client& c) { return std::make_unique<DevicePower>(c); }

}  // namespace lumo::platform::device
