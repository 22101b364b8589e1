// The phone's volumes and its held power button: the in-call volume of each hook-switch device,
// and the long press that asks whether to switch the phone off.
#include <cstdio>
#include <string>

#include "ctl.h"
#include "lumo/platform/telephony.h"

namespace lumo::ctl {

using wire::Kind;
using wire::Reader;
using wire::Status;

namespace {

struct HookDevice {
    const char* name;
    std::uint32_t bit;
};
constexpr HookDevice kDevices[] = {{"handset", platform::kHookSwitchHandset},
                                   {"speaker", platform::kHookSwitchSpeaker},
                                   {"headset", platform::kHookSwitchHeadset}};

const char* device_name(std::uint32_t bit) {
    for (const auto& d : kDevices)
        if (d.bit == bit) return d.name;
    return "none";
}

}  // namespace

int verb_gsm_volume(Ctl& ctl, const Args& a) {
    std::uint32_t op = 0, dev = 0, value = 0;
    if (a.count() >= 1) {
        for (const auto& d : kDevices)
            if (a.at(0) == d.name) dev = d.bit;
        if (a.count() >= 2) {
            value = parse_number(a.at(1), "VOLUME");
            if (value > platform::kPhoneVolumeMax) usage("VOLUME must be 0 to 65535, not '" + a.at(1) + "'");
            op = 1;
        }
        if (a.has("--use")) {
            if (op == 1) {
                auto& w = ctl.begin(Kind::PhoneVolumes);
                w.u32(1).u32(dev).u32(value);
                if (ctl.call(w).status != Status::Ok) fail("the phone refused the volume");
            }
            op = 2;
        } else if (op == 0) {
            usage("give a VOLUME for the " + a.at(0) + ", or --use to put it in use");
        }
    } else if (a.has("--use")) {
        usage("--use needs handset, speaker or headset");
    }
    auto& w = ctl.begin(Kind::PhoneVolumes);
    w.u32(op).u32(dev).u32(value);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the phone refused: " + why(r.status));
    Reader rd(r.body);
    auto in_use = rd.u32();
    std::uint32_t volumes[3] = {rd.u32(), rd.u32(), rd.u32()};
    if (!rd.ok()) fail("the phone's answer is short");
    if (op == 0) {
        std::printf("in-use\t%s\n", device_name(in_use));
        for (int i = 0; i < 3; ++i) std::printf("%s\t0x%04X\n", kDevices[i].name, volumes[i]);
    }
    return kDone;
}

int verb_power_hold(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::PowerHold);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the power manager refused: " + why(r.status));
    return kDone;
}

}  // namespace lumo::ctl
