#include "registry_service.h"

#include <cstring>
#include <vector>

#include "host.h"

namespace lumo::host {

using platform::Root;
using platform::ValueType;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

bool valid_root(std::uint32_t r) { return r == 1 || r == 2; }
bool valid_name(const std::u16string& s) { return s.size() <= platform::kMaxNameChars; }

// The fields every key request starts with; false when they are out of range.
struct KeyArgs {
    Root root;
    std::u16string path;
};
bool read_key(Reader& in, KeyArgs& k) {
    auto root = in.u32();
    k.path = in.s16();
    k.root = static_cast<Root>(root);
    return valid_root(root) && valid_name(k.path);
}

Status found(bool ok) { return ok ? Status::Ok : Status::NotFound; }
// The answer to a change: not found, refused by storage (and so not made), or done.
Status stored(const store::RegistryStore& reg, bool ok) {
    return !ok ? Status::NotFound : reg.backend_failed() ? Status::Failed : Status::Ok;
}

}  // namespace

void register_registry_handlers(Host& host) {
    auto& reg = host.registry();

    host.add_handler(Kind::RegOpenKey, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        if (!in.done()) return false;
        out.status(!valid ? Status::BadRequest : found(reg.key_exists(k.root, k.path)));
        return true;
    });

    host.add_handler(Kind::RegCreateKey, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        if (!in.done()) return false;
        auto created = valid ? reg.create_key(k.root, k.path) : std::nullopt;
        if (!created) {
            out.status(Status::BadRequest);
        } else if (reg.backend_failed()) {
            out.status(Status::Failed);
        } else {
            out.status(Status::Ok).u32(*created ? 1 : 0);
        }
        return true;
    });

    host.add_handler(Kind::RegReadValue, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        auto name = in.s16();
        if (!in.done()) return false;
        auto v = valid && valid_name(name) ? reg.find_value(k.root, k.path, name) : std::nullopt;
        if (!v) {
            out.status(valid ? Status::NotFound : Status::BadRequest);
        } else {
            out.status(Status::Ok).u32(static_cast<std::uint32_t>(v->info.type)).bin(*v->data);
        }
        return true;
    });

    host.add_handler(Kind::RegWriteValue, [&reg, &host](ClientConn& c, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        auto name = in.s16();
        auto type = in.u32();
        auto data = in.bin();
        if (!in.done()) return false;
        if (!valid || !valid_name(name) || (type != 1 && type != 3 && type != 4)) {
            out.status(Status::BadRequest);
        } else if (data.size() > platform::kMaxValueBytes) {
            host.log().printf("client %u: refused a %zu-byte value (the registry stores at most %zu)",
                              c.id, data.size(), platform::kMaxValueBytes);
            out.status(Status::TooLarge);
        } else {
            bool ok = reg.write_value(k.root, k.path, name, static_cast<ValueType>(type), data);
            out.status(stored(reg, ok));
        }
        return true;
    });

    // Bits of a shared number (the phone's Status) changed in one step: the host serves one
    // request at a time, so no other writer's bits are lost between the read and the write.
    host.add_handler(Kind::RegUpdateBits, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        auto name = in.s16();
        auto clear = in.u32();
        auto set = in.u32();
        if (!in.done()) return false;
        if (!valid || !valid_name(name) || !reg.create_key(k.root, k.path)) {
            out.status(Status::BadRequest);
            return true;
        }
        std::uint32_t value = 0;
        if (auto v = reg.find_value(k.root, k.path, name)) {
            if (v->info.type != ValueType::Dword || v->data->size() != 4) {
                out.status(Status::BadRequest);
                return true;
            }
            std::memcpy(&value, v->data->data(), 4);
        }
        value = (value & ~clear) | set;
        std::vector<std::byte> data(4);
        std::memcpy(data.data(), &value, 4);
        auto status = stored(reg, reg.write_value(k.root, k.path, name, ValueType::Dword, data));
        out.status(status);
        if (status == Status::Ok) out.u32(value);
        return true;
    });

    host.add_handler(Kind::RegDeleteValue, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        auto name = in.s16();
        if (!in.done()) return false;
        out.status(!valid ? Status::BadRequest : stored(reg, reg.delete_value(k.root, k.path, name)));
        return true;
    });

    host.add_handler(Kind::RegDeleteKey, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        if (!in.done()) return false;
        out.status(!valid ? Status::BadRequest : stored(reg, reg.delete_key(k.root, k.path)));
        return true;
    });

    host.add_handler(Kind::RegEnumSubkey, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        auto index = in.u32();
        if (!in.done()) return false;
        auto name = valid ? reg.enum_subkey(k.root, k.path, index) : std::nullopt;
        if (!name) {
            out.status(valid ? Status::NotFound : Status::BadRequest);
        } else {
            out.status(Status::Ok).s16(*name);
        }
        return true;
    });

    host.add_handler(Kind::RegEnumValue, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        auto index = in.u32();
        if (!in.done()) return false;
        auto v = valid ? reg.enum_value(k.root, k.path, index) : std::nullopt;
        if (!v) {
            out.status(valid ? Status::NotFound : Status::BadRequest);
        } else {
            out.status(Status::Ok)
                .s16(v->first)
                .u32(static_cast<std::uint32_t>(v->second.type))
                .u32(v->second.size);
        }
        return true;
    });

    host.add_handler(Kind::RegFlush, [&reg](ClientConn&, Reader& in, Writer& out) {
        KeyArgs k;
        bool valid = read_key(in, k);
        if (!in.done()) return false;
        if (!valid || !reg.key_exists(k.root, k.path)) {
            out.status(valid ? Status::NotFound : Status::BadRequest);
        } else {
            out.status(reg.flush() ? Status::Ok : Status::Failed);
        }
        return true;
    });

    host.add_handler(Kind::NotifyRegister, [&reg](ClientConn& c, Reader& in, Writer& out) {
        platform::NotificationRequest q;
        auto root = in.u32();
        q.key = in.s16();
        q.value = in.s16();
        q.target = in.u32();
        q.message = in.u32();
        q.mask = in.u32();
        q.batch_ms = in.u32();
        if (!in.done()) return false;
        q.root = static_cast<Root>(root);
        if (!valid_root(root) || !valid_name(q.key) || !valid_name(q.value) ||
            q.batch_ms > 600000) {
            out.status(Status::BadRequest);
        } else {
            out.status(Status::Ok).u32(reg.add_notification(q, c.id));
        }
        return true;
    });

    host.add_handler(Kind::NotifyClose, [&reg](ClientConn&, Reader& in, Writer& out) {
        auto handle = in.u32();
        if (!in.done()) return false;
        out.status(found(reg.remove_notification(handle)));
        return true;
    });
}

}  // namespace lumo::host
