#include "wireless_service.h"

#include "lumo/platform/text.h"
#include "lumo/store/radios.h"
#include "lumo/wire/protocol.h"

namespace lumo::host {

using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

WirelessService::WirelessService(Host& host) {
    host.add_handler(Kind::RadioList, [&host](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        auto radios = store::list_radios(host.registry());
        out.status(Status::Ok).u32(std::uint32_t(radios.size()));
        for (const auto& r : radios)
            out.u32(static_cast<std::uint32_t>(r.type)).s16(r.name).u32(r.on ? 1 : 0);
        return true;
    });
    host.add_handler(Kind::RadioSet, [&host](ClientConn&, Reader& in, Writer& out) {
        auto type = in.u32();
        auto on = in.u32();
        if (!in.done()) return false;
        if (on > 1) {
            out.status(Status::BadRequest);
            return true;
        }
        if (!store::set_radio(host.registry(), static_cast<platform::RadioType>(type), on == 1)) {
            out.status(Status::NotFound);
            return true;
        }
        host.log().printf("radio %u %s", type, on ? "on" : "off");
        out.status(Status::Ok);
        return true;
    });
}

}  // namespace lumo::host
