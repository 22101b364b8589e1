// The radios through the device host, which keeps them and publishes their state.
#include "internal.h"
#include "lumo/platform/wireless.h"
#include "lumo/wire/protocol.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;

class DeviceWireless final : public Wireless {
  public:
    explicit DeviceWireless(wire::Client& c) : c_(c) {}

    std::vector<RadioDevice> devices() override {
        std::vector<RadioDevice> out;
        auto& w = c_.begin(Kind::RadioList);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return out;
        Reader rd(r->body);
        auto count = rd.u32();
        for (std::uint32_t i = 0; i < count && rd.ok(); ++i) {
            RadioDevice d;
            d.type = static_cast<RadioType>(rd.u32());
            d.name = rd.s16();
            d.on = rd.u32() != 0;
            if (rd.ok()) out.push_back(std::move(d));
        }
        return out;
    }

    bool set_radio(RadioType type, bool on) override {
        auto& w = c_.begin(Kind::RadioSet);
        w.u32(static_cast<std::uint32_t>(type)).u32(on ? 1 : 0);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

  private:
    wire::Client& c_;
};

}  // namespace

std::unique_ptr<Wireless> make_wireless(wire::Client& c) { return std::make_unique<DeviceWireless>(c); }

}  // namespace lumo::platform::device
