// Power, sound and radios.
#include <algorithm>
#include <cstdio>

#include "ctl.h"
#include "lumo/platform/sound.h"
#include "lumo/platform/text.h"
#include "lumo/platform/wireless.h"

namespace lumo::ctl {

using platform::to_u16;
using platform::to_utf8;
using wire::Kind;
using wire::PowerAction;
using wire::Reader;
using wire::Status;

namespace {

int power_action(Ctl& ctl, PowerAction action, std::uint32_t value) {
    auto& w = ctl.begin(Kind::PowerAction);
    w.u32(static_cast<std::uint32_t>(action)).u32(value);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the power manager refused: " + why(r.status));
    return kDone;
}

}  // namespace

int verb_power(Ctl& ctl, const Args& a) {
    struct Simple {
        const char* word;
        PowerAction action;
    };
    static const Simple kSimple[] = {{"button", PowerAction::Button},
                                     {"on", PowerAction::On},
                                     {"backlight-off", PowerAction::BacklightOff},
                                     {"idle", PowerAction::Idle},
                                     {"suspend", PowerAction::Suspend}};
    for (const auto& s : kSimple)
        if (a.sub == s.word) return power_action(ctl, s.action, 0);
    usage("power " + a.sub + " is not a power state");
}

int verb_power_ac(Ctl& ctl, const Args& a) {
    return power_action(ctl, PowerAction::Ac, a.at(0) == "on" ? 1 : 0);
}

int verb_power_capacity(Ctl& ctl, const Args& a) {
    auto value = parse_number(a.at(0), "PERCENT");
    if (value > 100) usage("PERCENT must be 0 to 100, not '" + a.at(0) + "'");
    return power_action(ctl, PowerAction::Capacity, value);
}

int verb_power_status(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::PowerStatus);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the device has no power manager");
    Reader rd(r.body);
    rd.u32();
    auto name = to_utf8(rd.s16());
    auto ac = rd.u32();
    auto battery = rd.u32();
    auto light = rd.u32();
    auto video_off = rd.u32();
    auto unattended = rd.u32();
    auto idle_resets = rd.u32();
    static const char* kLight[] = {"off", "dim", "on"};
    std::printf("state %s\nac %u\nbattery %u\ndisplay %s\nvideo %s\nunattended %u\n", name.c_str(),
                ac, battery, kLight[std::min<std::uint32_t>(light, 2)], video_off ? "off" : "on",
                unattended);
    // A host from before the count answers without it.
    if (rd.ok()) std::printf("idle-timer-resets %u\n", idle_resets);
    return kDone;
}

int verb_sound_status(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::SoundStatus);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the device has no sound");
    Reader rd(r.body);
    auto on = rd.u32();
    auto current = to_utf8(rd.s16());
    rd.u32();
    auto last = to_utf8(rd.s16());
    auto plays = rd.u32();
    auto volume = rd.u32();
    auto output = rd.u32();
    if (!rd.ok()) fail("the device's sound status is garbled");
    std::printf("playing %u\ncurrent %s\nlast %s\nplays %u\nvolume 0x%08X\noutput %s\n", on,
                current.c_str(), last.c_str(), plays, volume, output ? "audio" : "silent");
    return kDone;
}

int verb_sound_play(Ctl& ctl, const Args& a) {
    std::uint32_t flags = platform::kSoundAsync;
    if (a.has("--nostop")) flags |= platform::kSoundNoStop;
    if (a.has("--nodefault")) flags |= platform::kSoundNoDefault;
    auto& w = ctl.begin(Kind::SoundPlay);
    w.u32(flags).s16(to_u16(a.at(0)));
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail(a.at(0) + " did not play (" + why(r.status) + ")");
    return kDone;
}

int verb_sound_stop(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::SoundStop);
    if (ctl.call(w).status != Status::Ok) fail("the device has no sound");
    return kDone;
}

int verb_radio_list(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::RadioList);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the device has no radios");
    Reader rd(r.body);
    auto count = rd.u32();
    for (std::uint32_t i = 0; i < count && rd.ok(); ++i) {
        rd.u32();
        auto name = to_utf8(rd.s16());
        auto on = rd.u32();
        if (rd.ok()) std::printf("%s %s\n", name.c_str(), on ? "on" : "off");
    }
    if (!rd.ok()) fail("the device's radio list is garbled");
    return kDone;
}

int verb_radio_set(Ctl& ctl, const Args& a) {
    auto type = a.sub == "bluetooth" ? platform::RadioType::Bluetooth : platform::RadioType::WiFi;
    auto& w = ctl.begin(Kind::RadioSet);
    w.u32(static_cast<std::uint32_t>(type)).u32(a.at(0) == "on" ? 1 : 0);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the phone has no " + a.sub + " radio");
    return kDone;
}

}  // namespace lumo::ctl
