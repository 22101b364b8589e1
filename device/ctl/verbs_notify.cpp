// User notifications and the notification LEDs.
#include <cstdio>

#include "ctl.h"
#include "lumo/platform/clock.h"
#include "lumo/platform/text.h"

namespace lumo::ctl {

using platform::to_utf8;
using wire::Kind;
using wire::Reader;
using wire::Status;

int verb_notifications(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::UserNotifyList);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the device keeps no notifications");
    Reader rd(r.body);
    auto count = rd.u32();
    for (std::uint32_t i = 0; i < count && rd.ok(); ++i) {
        auto handle = rd.u32();
        auto app = to_utf8(rd.s16());
        auto t = platform::file_time_to_local(rd.u64());
        if (!rd.ok()) break;
        std::printf("%u\t%04u-%02u-%02uT%02u:%02u:%02u\t%s\n", handle, t.year, t.month, t.day,
                    t.hour, t.minute, t.second, app.c_str());
    }
    if (!rd.ok()) fail("the device's notification list is garbled");
    return kDone;
}

int verb_led(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::LedList);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the device has no LEDs");
    Reader rd(r.body);
    auto count = rd.u32();
    for (std::uint32_t i = 0; i < count && rd.ok(); ++i) {
        auto index = rd.u32();
        rd.u64();
        auto length = rd.u32();
        auto on = rd.u32();
        if (!rd.ok()) break;
        std::printf("%u\t%u ms%s\n", index, length, on ? "\ton" : "");
    }
    if (!rd.ok()) fail("the device's LED record is garbled");
    return kDone;
}

}  // namespace lumo::ctl
