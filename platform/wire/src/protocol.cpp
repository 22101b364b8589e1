#include "lumo/wire/protocol.h"

namespace lumo::wire {

std::string_view kind_name(std::uint16_t kind) {
    switch (kind) {
#define LUMO_NAME(name, number) \
    case number:                \
        return #name;
        LUMO_REQUESTS(LUMO_NAME)
        LUMO_EVENTS(LUMO_NAME)
#undef LUMO_NAME
    }
    return "?";
}

std::string_view status_text(Status s) {
    switch (s) {
        case Status::Ok: return "ok";
        case Status::NotFound: return "not found";
        case Status::BadRequest: return "bad request";
        case Status::TooLarge: return "value too large";
        case Status::WrongType: return "wrong type";
        case Status::Failed: return "failed";
        case Status::Unsupported: return "unsupported request";
    }
    return "unknown status";
}

}  // namespace lumo::wire
