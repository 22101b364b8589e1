#include "lumo/platform/device/device_platform.h"

#include <algorithm>
#include <cstring>

#include "internal.h"
#include "lumo/wire/client.h"

namespace lumo::platform::device {

// Made in device_sound.cpp.
std::unique_ptr<Sound> make_sound(wire::Client& c);
// Made in device_wireless.cpp.
std::unique_ptr<Wireless> make_wireless(wire::Client& c);
// Made in device_pim.cpp.
std::unique_ptr<Pim> make_pim(wire::Client& c);
std::unique_ptr<Messaging> make_messaging(wire::Client& c);
// Made in device_telephony.cpp.
void make_telephony_parts(wire::Client& c, Windows& windows, std::unique_ptr<Telephony>& telephony,
                          std::unique_ptr<SimPhoneBook>& sim);
std::unique_ptr<Contacts> make_contacts(wire::Client& c);
std::unique_ptr<CallLog> make_call_log(wire::Client& c);
// Made in device_notify.cpp.
std::unique_ptr<Notify> make_notify(wire::Client& c);

using wire::Kind;
using wire::Reader;
using wire::Status;

namespace {

std::uint32_t root_code(Root r) { return static_cast<std::uint32_t>(r); }

class DeviceRegistry final : public Registry {
public:
    explicit DeviceRegistry(wire::Client& c) : c_(c) {}

    std::optional<RegKey> open_key(Root root, std::u16string_view path) override {
        auto& w = c_.begin(Kind::RegOpenKey);
        w.u32(root_code(root)).s16(path);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        return RegKey{root, std::u16string(path)};
    }

    std::optional<RegKey> create_key(Root root, std::u16string_view path, bool* created) override {
        auto& w = c_.begin(Kind::RegCreateKey);
        w.u32(root_code(root)).s16(path);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto was_created = rd.u32();
        if (!rd.ok()) return std::nullopt;
        if (created) *created = was_created != 0;
        return RegKey{root, std::u16string(path)};
    }

    bool read_value(const RegKey& key, std::u16string_view name, std::span<std::byte> buffer,
                    ValueInfo* info, std::optional<ValueType> expected) override {
        auto& w = c_.begin(Kind::RegReadValue);
        w.u32(root_code(key.root)).s16(key.path).s16(name);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return false;
        Reader rd(r->body);
        auto type = static_cast<ValueType>(rd.u32());
        auto data = rd.bin();
        if (!rd.ok()) return false;
        if (info) *info = {type, static_cast<std::uint32_t>(data.size())};
        if ((expected && *expected != type) || data.size() > buffer.size()) return false;
        std::copy(data.begin(), data.end(), buffer.begin());
        return true;
    }

    bool write_value(const RegKey& key, std::u16string_view name, ValueType type,
                     std::span<const std::byte> data) override {
        if (data.size() > kMaxValueBytes) return false;
        auto& w = c_.begin(Kind::RegWriteValue);
        w.u32(root_code(key.root)).s16(key.path).s16(name).u32(static_cast<std::uint32_t>(type)).bin(data);
        return ok(w);
    }

    bool delete_value(const RegKey& key, std::u16string_view name) override {
        auto& w = c_.begin(Kind::RegDeleteValue);
        w.u32(root_code(key.root)).s16(key.path).s16(name);
        return ok(w);
    }

    bool delete_key(Root root, std::u16string_view path) override {
        auto& w = c_.begin(Kind::RegDeleteKey);
        w.u32(root_code(root)).s16(path);
        return ok(w);
    }

    std::optional<std::u16string> enum_subkey(const RegKey& key, std::uint32_t index) override {
        auto& w = c_.begin(Kind::RegEnumSubkey);
        w.u32(root_code(key.root)).s16(key.path).u32(index);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto name = rd.s16();
        if (!rd.ok()) return std::nullopt;
        return name;
    }

    std::optional<std::pair<std::u16string, ValueInfo>> enum_value(const RegKey& key,
                                                                   std::uint32_t index) override {
        auto& w = c_.begin(Kind::RegEnumValue);
        w.u32(root_code(key.root)).s16(key.path).u32(index);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto name = rd.s16();
        auto type = static_cast<ValueType>(rd.u32());
        auto size = rd.u32();
        if (!rd.ok()) return std::nullopt;
        return std::pair{name, ValueInfo{type, size}};
    }

    bool flush(const RegKey& key) override {
        auto& w = c_.begin(Kind::RegFlush);
        w.u32(root_code(key.root)).s16(key.path);
        return ok(w);
    }

private:
    bool ok(wire::Writer& w) {
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }
    wire::Client& c_;
};

class DeviceBroker final : public StateBroker {
public:
    explicit DeviceBroker(wire::Client& c) : c_(c) {}

    NotificationHandle register_notification(const NotificationRequest& q) override {
        auto& w = c_.begin(Kind::NotifyRegister);
        w.u32(root_code(q.root)).s16(q.key).s16(q.value).u32(q.target).u32(q.message).u32(q.mask).u32(
            q.batch_ms);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return 0;
        Reader rd(r->body);
        auto h = rd.u32();
        return rd.ok() ? h : 0;
    }

    bool close_notification(NotificationHandle handle) override {
        auto& w = c_.begin(Kind::NotifyClose);
        w.u32(handle);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

private:
    wire::Client& c_;
};

class DeviceMessages final : public MessageQueue {
public:
    explicit DeviceMessages(wire::Client& c) : c_(c) {}
    std::optional<Message> take_posted(std::uint32_t timeout_ms) override {
        for (;;) {
            auto p = c_.next_event_if(static_cast<int>(timeout_ms), [](const wire::Packet& e) {
                return e.header.kind == static_cast<std::uint16_t>(Kind::PostedMessage);
            });
            if (!p) return std::nullopt;
            Reader rd(p->body);
            Message m;
            m.hwnd = rd.u32();
            m.message = rd.u32();
            m.wparam = rd.u32();
            m.lparam = rd.i32();
            if (rd.ok()) return m;
        }
    }

private:
    wire::Client& c_;
};

}  // namespace

struct DevicePlatform::Parts {
    std::unique_ptr<wire::Client> client;
    DeviceRegistry registry;
    DeviceBroker broker;
    DeviceMessages messages;
    std::unique_ptr<Windows> windows;
    std::unique_ptr<Processes> processes;
    std::unique_ptr<Sync> sync;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<Display> display;
    std::unique_ptr<Power> power;
    std::unique_ptr<Sound> sound;
    std::unique_ptr<Wireless> wireless;
    std::unique_ptr<Pim> pim;
    std::unique_ptr<Messaging> messaging;
    std::unique_ptr<Telephony> telephony;
    std::unique_ptr<Contacts> contacts;
    std::unique_ptr<SimPhoneBook> sim;
    std::unique_ptr<CallLog> call_log;
    std::unique_ptr<Notify> notify;
    explicit Parts(std::unique_ptr<wire::Client> c)
        : client(std::move(c)), registry(*client), broker(*client), messages(*client) {}
};

DevicePlatform::DevicePlatform(std::unique_ptr<wire::Client> client, const std::string& socket_path)
    : parts_(std::make_unique<Parts>(std::move(client))) {
    parts_->windows = make_windows(*parts_->client);
    parts_->processes = make_processes(*parts_->client);
    parts_->sync = make_sync(*parts_->client);
    parts_->power = make_power(*parts_->client);
    parts_->sound = make_sound(*parts_->client);
    parts_->wireless = make_wireless(*parts_->client);
    parts_->pim = make_pim(*parts_->client);
    parts_->messaging = make_messaging(*parts_->client);
    make_telephony_parts(*parts_->client, *parts_->windows, parts_->telephony, parts_->sim);
    parts_->contacts = make_contacts(*parts_->client);
    parts_->call_log = make_call_log(*parts_->client);
    parts_->notify = make_notify(*parts_->client);
    // The socket lives in DIR/run; the clock page beside it.
    auto device_dir = std::filesystem::path(socket_path).parent_path().parent_path();
    parts_->clock = make_clock(device_dir);
    parts_->display = make_display(*parts_->client, device_dir);
}

DevicePlatform::~DevicePlatform() = default;
Registry& DevicePlatform::registry() { return parts_->registry; }
StateBroker& DevicePlatform::broker() { return parts_->broker; }
MessageQueue& DevicePlatform::messages() { return parts_->messages; }
Windows& DevicePlatform::windows() { return *parts_->windows; }
Processes& DevicePlatform::processes() { return *parts_->processes; }
Sync& DevicePlatform::sync() { return *parts_->sync; }
Clock& DevicePlatform::clock() { return *parts_->clock; }
Display& DevicePlatform::display() { return *parts_->display; }
Power& DevicePlatform::power() { return *parts_->power; }
Sound& DevicePlatform::sound() { return *parts_->sound; }
Wireless& DevicePlatform::wireless() { return *parts_->wireless; }
Pim& DevicePlatform::pim() { return *parts_->pim; }
Messaging& DevicePlatform::messaging() { return *parts_->messaging; }
Telephony& DevicePlatform::telephony() { return *parts_->telephony; }
Contacts& DevicePlatform::contacts() { return *parts_->contacts; }
SimPhoneBook& DevicePlatform::sim() { return *parts_->sim; }
CallLog& DevicePlatform::call_log() { return *parts_->call_log; }
Notify& DevicePlatform::notify() { return *parts_->notify; }

std::unique_ptr<DevicePlatform> connect(const std::string& socket_path, std::u16string_view program,
                                  std::string* error) {
    std::string path = socket_path;
    if (path.empty()) {
        auto env = wire::socket_from_environment();
        if (!env) {
            if (error) *error = "LUMO_DEVICE_SOCKET is not set: start programs through lumo-device";
            return nullptr;
        }
        path = *env;
    }
    auto client = wire::Client::connect(path, program, error);
    if (!client) return nullptr;
    return std::make_unique<DevicePlatform>(std::move(client), path);
}

}  // namespace lumo::platform::device
