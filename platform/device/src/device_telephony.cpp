// Telephony, contacts, the SIM phone book and the call log through the device host. Line and SIM
// messages arrive as events, each followed by a post to a hidden window of the program's own:
// dispatching that post runs the callback, so it runs in the program's message loop.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "internal.h"
#include "lumo/platform/contacts.h"
#include "lumo/platform/telephony.h"
#include "lumo/wire/protocol.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;

constexpr std::u16string_view kHiddenClass = u"LumoTelephonyHidden";

// The results of a telephony request: a connection that broke is an operation that failed.
struct Answer {
    LineResult result = kLineErrOperationFailed;
    std::vector<std::byte> body;
    Reader rest() const { return Reader(body); }
};

Answer ask(wire::Client& c, wire::Writer& w) {
    Answer a;
    auto r = c.call(w);
    if (!r || r->status != Status::Ok) return a;
    Reader rd(r->body);
    a.result = rd.i32();
    if (!rd.ok()) return a;
    a.body.assign(r->body.begin() + 4, r->body.end());
    return a;
}

// One hidden window per program, shared by telephony and the SIM, made on the window thread.
class Hidden {
  public:
    Hidden(wire::Client& c, Windows& w) : c_(c), w_(w) {}
    Hwnd window() {
        std::lock_guard lock(mutex_);
        if (hwnd_ && w_.is_window(hwnd_)) return hwnd_;
        w_.register_class(kHiddenClass, [this](Hwnd h, std::uint32_t m, WParam wp, LParam lp) -> LResult {
            if (m == wire::kLineWakeMessage) return line_wake(wp);
            if (m == wire::kSimWakeMessage) return sim_wake();
            return w_.default_proc(h, m, wp, lp);
        });
        CreateWindowParams params;
        params.class_name = std::u16string(kHiddenClass);
        hwnd_ = w_.create_window(params);
        return hwnd_;
    }
    void set_line_callback(std::uint32_t app, LineCallback cb) {
        std::lock_guard lock(mutex_);
        if (cb)
            line_[app] = std::move(cb);
        else
            line_.erase(app);
    }
    void set_sim_callback(SimCallback cb) {
        std::lock_guard lock(mutex_);
        sim_ = std::move(cb);
    }

  private:
    LResult line_wake(WParam app) {
        auto p = c_.next_event_if(0, [app](const wire::Packet& e) {
            if (e.header.kind != static_cast<std::uint16_t>(Kind::LineEvent)) return false;
            Reader rd(e.body);
            return rd.u32() == app && rd.ok();
        });
        if (!p) return 0;
        Reader rd(p->body);
        rd.u32();
        LineMessage m;
        m.device = rd.u32();
        m.message = rd.u32();
        m.instance = rd.u32();
        m.param1 = rd.u32();
        m.param2 = rd.u32();
        m.param3 = rd.u32();
        if (!rd.done()) return 0;
        LineCallback cb;
        {
            std::lock_guard lock(mutex_);
            auto it = line_.find(app);
            if (it != line_.end()) cb = it->second;
        }
        if (cb) cb(m);
        return 0;
    }
    LResult sim_wake() {
        auto p = c_.next_event_if(0, [](const wire::Packet& e) {
            return e.header.kind == static_cast<std::uint16_t>(Kind::SimEvent);
        });
        if (!p) return 0;
        Reader rd(p->body);
        auto code = rd.u32(), index = rd.u32();
        if (!rd.done()) return 0;
        SimCallback cb;
        {
            std::lock_guard lock(mutex_);
            cb = sim_;
        }
        if (cb) cb(code, index);
        return 0;
    }

    wire::Client& c_;
    Windows& w_;
    std::mutex mutex_;
    Hwnd hwnd_ = 0;
    std::map<std::uint32_t, LineCallback> line_;
    SimCallback sim_;
};

class DeviceTelephony final : public Telephony {
  public:
    DeviceTelephony(wire::Client& c, std::shared_ptr<Hidden> hidden) : c_(c), hidden_ptr_(std::move(hidden)), hidden_(*hidden_ptr_) {}

    LineResult initialize(LineCallback callback, std::u16string_view app_name, std::uint32_t api_version,
                          LineAppHandle& app, std::uint32_t& num_devices) override {
        app = 0;
        num_devices = 0;
        Hwnd h = hidden_.window();
        if (!h) return kLineErrNoMem;
        auto& w = c_.begin(Kind::TelInitialize);
        w.u32(api_version).u32(h).s16(app_name);
        auto a = ask(c_, w);
        auto rd = a.rest();
        if (a.result == 0) {
            app = rd.u32();
            num_devices = rd.u32();
            if (!rd.ok()) return kLineErrOperationFailed;
            hidden_.set_line_callback(app, std::move(callback));
        }
        return a.result;
    }
    LineResult negotiate_api_version(LineAppHandle app, std::uint32_t device, std::uint32_t low, std::uint32_t high,
                                     std::uint32_t& version) override {
        auto& w = c_.begin(Kind::TelNegotiate);
        w.u32(app).u32(device).u32(low).u32(high);
        auto a = ask(c_, w);
        auto rd = a.rest();
        version = rd.u32();
        return a.result;
    }
    LineResult get_dev_caps(LineAppHandle app, std::uint32_t device, std::uint32_t version,
                            LineDevCaps& caps) override {
        auto& w = c_.begin(Kind::TelDevCaps);
        w.u32(app).u32(device).u32(version);
        auto a = ask(c_, w);
        if (a.result != 0) return a.result;
        auto rd = a.rest();
        caps.line_name = rd.s16();
        caps.provider_info = rd.s16();
        caps.permanent_line_id = rd.u32();
        caps.num_addresses = rd.u32();
        caps.bearer_modes = rd.u32();
        caps.media_modes = rd.u32();
        caps.max_active_calls = rd.u32();
        return rd.ok() ? 0 : kLineErrOperationFailed;
    }
    LineResult open(LineAppHandle app, std::uint32_t device, std::uint32_t version, std::uint32_t privileges,
                    std::uint32_t media_modes, std::uint32_t instance, LineHandle& line) override {
        auto& w = c_.begin(Kind::TelOpen);
        w.u32(app).u32(device).u32(version).u32(privileges).u32(media_modes).u32(instance);
        auto a = ask(c_, w);
        auto rd = a.rest();
        line = rd.u32();
        return a.result;
    }
    LineResult get_calls(LineHandle line, std::vector<CallHandle>& calls) override {
        calls.clear();
        auto& w = c_.begin(Kind::TelGetCalls);
        w.u32(line);
        auto a = ask(c_, w);
        if (a.result != 0) return a.result;
        auto rd = a.rest();
        auto n = rd.u32();
        for (std::uint32_t i = 0; i < n && rd.ok(); ++i) calls.push_back(rd.u32());
        return rd.ok() ? 0 : kLineErrOperationFailed;
    }
    LineResult get_call_status(CallHandle call, LineCallStatus& status) override {
        auto& w = c_.begin(Kind::TelCallStatus);
        w.u32(call);
        auto a = ask(c_, w);
        if (a.result != 0) return a.result;
        auto rd = a.rest();
        status.call_state = rd.u32();
        status.call_state_mode = rd.u32();
        status.call_privilege = rd.u32();
        return rd.ok() ? 0 : kLineErrOperationFailed;
    }
    LineResult get_call_info(CallHandle call, LineCallInfo& i) override {
        auto& w = c_.begin(Kind::TelCallInfo);
        w.u32(call);
        auto a = ask(c_, w);
        if (a.result != 0) return a.result;
        auto rd = a.rest();
        i.line = rd.u32();
        i.line_device_id = rd.u32();
        i.address_id = rd.u32();
        i.bearer_mode = rd.u32();
        i.media_mode = rd.u32();
        i.call_id = rd.u32();
        i.origin = rd.u32();
        i.caller_id_flags = rd.u32();
        i.caller_id = rd.s16();
        i.caller_id_name = rd.s16();
        i.called_id_flags = rd.u32();
        i.called_id = rd.s16();
        i.called_id_name = rd.s16();
        return rd.ok() ? 0 : kLineErrOperationFailed;
    }
    LineResult call_op(std::uint32_t op, CallHandle call, std::uint32_t value) {
        auto& w = c_.begin(Kind::TelCallOp);
        w.u32(op).u32(call).u32(value);
        return ask(c_, w).result;
    }
    LineResult set_call_privilege(CallHandle call, std::uint32_t privilege) override {
        return call_op(1, call, privilege);
    }
    LineResult drop(CallHandle call) override { return call_op(2, call, 0); }
    LineResult deallocate_call(CallHandle call) override { return call_op(3, call, 0); }
    LineResult line_op(std::uint32_t op, std::uint32_t handle) {
        auto& w = c_.begin(Kind::TelLineOp);
        w.u32(op).u32(handle);
        return ask(c_, w).result;
    }
    LineResult close(LineHandle line) override { return line_op(1, line); }
    LineResult shutdown(LineAppHandle app) override {
        auto r = line_op(2, app);
        if (r == 0) hidden_.set_line_callback(app, {});
        return r;
    }
    LineResult translate_address(LineAppHandle app, std::uint32_t device, std::uint32_t, std::u16string_view address,
                                 LineTranslateOutput& out) override {
        auto& w = c_.begin(Kind::TelTranslate);
        w.u32(app).u32(device).s16(address);
        auto a = ask(c_, w);
        if (a.result != 0) return a.result;
        auto rd = a.rest();
        out.dialable = rd.s16();
        out.displayable = rd.s16();
        out.country = rd.u32();
        return rd.ok() ? 0 : kLineErrOperationFailed;
    }
    LineResult make_call(LineHandle line, std::u16string_view destination, std::uint32_t,
                         const LineCallParams* params, CallHandle& call) override {
        LineCallParams defaults;
        const LineCallParams& p = params ? *params : defaults;
        auto& w = c_.begin(Kind::TelMakeCall);
        w.u32(line).s16(destination).u32(p.bearer_mode).u32(p.media_mode).s16(p.dialable_address);
        auto a = ask(c_, w);
        auto rd = a.rest();
        call = rd.u32();
        if (!rd.ok()) call = 0;
        return a.result;
    }

    Answer phone(std::uint32_t op, std::uint32_t phone, std::uint32_t dev, std::uint32_t value) {
        auto& w = c_.begin(Kind::TelPhone);
        w.u32(op).u32(phone).u32(dev).u32(value);
        return ask(c_, w);
    }
    LineResult phone_initialize(std::u16string_view, PhoneAppHandle& app, std::uint32_t& num_devices) override {
        // The phone device needs no callback: the connection is the instance.
        app = c_.id();
        num_devices = 1;
        return 0;
    }
    LineResult phone_negotiate_api_version(PhoneAppHandle app, std::uint32_t device, std::uint32_t low,
                                           std::uint32_t high, std::uint32_t& version) override {
        version = 0;
        if (app != c_.id()) return kLineErrInvalAppHandle;
        if (device != 0) return kLineErrBadDeviceId;
        if (low > high || high < kTapiVersionLow || low > kTapiVersionHigh) return kLineErrIncompatibleApiVersion;
        version = std::min(high, kTapiVersionHigh);
        return 0;
    }
    LineResult phone_open(PhoneAppHandle app, std::uint32_t device, std::uint32_t, PhoneHandle& out) override {
        out = 0;
        if (app != c_.id()) return kLineErrInvalAppHandle;
        if (device != 0) return kLineErrBadDeviceId;
        auto a = phone(1, 0, 0, 0);
        auto rd = a.rest();
        out = rd.u32();
        return a.result;
    }
    LineResult phone_get_status(PhoneHandle h, PhoneStatus& st) override {
        auto a = phone(2, h, 0, 0);
        if (a.result != 0) return a.result;
        auto rd = a.rest();
        st.handset_mode = rd.u32();
        st.speaker_mode = rd.u32();
        st.headset_mode = rd.u32();
        st.hook_switch_devs = rd.u32();
        return rd.ok() ? 0 : kLineErrOperationFailed;
    }
    LineResult phone_get_volume(PhoneHandle h, std::uint32_t dev, std::uint32_t& volume) override {
        auto a = phone(3, h, dev, 0);
        auto rd = a.rest();
        volume = rd.u32();
        return a.result;
    }
    LineResult phone_set_volume(PhoneHandle h, std::uint32_t dev, std::uint32_t volume) override {
        return phone(4, h, dev, volume).result;
    }
    LineResult phone_close(PhoneHandle h) override { return phone(5, h, 0, 0).result; }
    LineResult phone_shutdown(PhoneAppHandle app) override { return app == c_.id() ? 0 : kLineErrInvalAppHandle; }

    std::vector<std::u16string> emergency_numbers() override {
        std::vector<std::u16string> out;
        auto& w = c_.begin(Kind::TelEmergency);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return out;
        Reader rd(r->body);
        auto n = rd.u32();
        for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
            auto s = rd.s16();
            if (rd.ok()) out.push_back(std::move(s));
        }
        return out;
    }

  private:
    wire::Client& c_;
    std::shared_ptr<Hidden> hidden_ptr_;
    Hidden& hidden_;
};

bool read_contact(Reader& rd, Contact& c) {
    c.id = rd.u32();
    c.file_as = rd.s16();
    c.email = rd.s16();
    c.has_picture = rd.u32() != 0;
    auto n = rd.u32();
    for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
        ContactNumber num;
        num.label = rd.s16();
        num.number = rd.s16();
        c.numbers.push_back(std::move(num));
    }
    return rd.ok();
}

class DeviceContacts final : public Contacts {
  public:
    explicit DeviceContacts(wire::Client& c) : c_(c) {}
    std::optional<Contact> find(ContactMatch match, std::u16string_view key) override {
        auto& w = c_.begin(Kind::ContactFind);
        w.u32(static_cast<std::uint32_t>(match)).s16(key);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        Contact c;
        if (!read_contact(rd, c)) return std::nullopt;
        return c;
    }
    std::optional<std::vector<std::uint8_t>> picture(std::uint32_t id) override {
        auto& w = c_.begin(Kind::ContactPicture);
        w.u32(id);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        auto b = rd.bin();
        if (!rd.ok() || b.empty()) return std::nullopt;
        std::vector<std::uint8_t> out(b.size());
        for (std::size_t i = 0; i < b.size(); ++i) out[i] = std::to_integer<std::uint8_t>(b[i]);
        return out;
    }
    std::vector<Contact> all() override {
        std::vector<Contact> out;
        for (;;) {
            auto& w = c_.begin(Kind::ContactList);
            w.u32(std::uint32_t(out.size()));
            auto r = c_.call(w);
            if (!r || r->status != Status::Ok) return out;
            Reader rd(r->body);
            auto total = rd.u32();
            auto n = rd.u32();
            for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
                Contact c;
                if (read_contact(rd, c)) out.push_back(std::move(c));
            }
            if (!rd.ok() || n == 0 || out.size() >= total) return out;
        }
    }

  private:
    wire::Client& c_;
};

class DeviceSim final : public SimPhoneBook {
  public:
    DeviceSim(wire::Client& c, std::shared_ptr<Hidden> hidden) : c_(c), hidden_ptr_(std::move(hidden)), hidden_(*hidden_ptr_) {}
    bool initialize(SimCallback on_change) override {
        Hwnd h = hidden_.window();
        if (!h) return false;
        auto& w = c_.begin(Kind::PimRead);
        w.u32(3).u32(0).u32(h);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return false;
        hidden_.set_sim_callback(std::move(on_change));
        open_ = true;
        return true;
    }
    std::optional<std::vector<SimEntry>> read(std::uint32_t storage) override {
        if (!open_ || storage != kSimStorageSim) return std::nullopt;
        auto& w = c_.begin(Kind::PimRead);
        w.u32(1).u32(0).u32(0);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        std::vector<SimEntry> out;
        auto n = rd.u32();
        for (std::uint32_t i = 0; i < n && rd.ok() && out.size() < kSimMaxEntries; ++i) {
            SimEntry e;
            e.index = rd.u32();
            e.number = rd.s16();
            e.name = rd.s16();
            if (rd.ok()) out.push_back(std::move(e));
        }
        if (!rd.ok()) return std::nullopt;
        return out;
    }
    void deinitialize() override {
        if (!open_) return;
        auto& w = c_.begin(Kind::PimRead);
        w.u32(4).u32(0).u32(0);
        c_.call(w);
        hidden_.set_sim_callback({});
        open_ = false;
    }

  private:
    wire::Client& c_;
    std::shared_ptr<Hidden> hidden_ptr_;
    Hidden& hidden_;
    bool open_ = false;
};

class DeviceCallLog final : public CallLog {
  public:
    explicit DeviceCallLog(wire::Client& c) : c_(c) {}
    std::optional<std::vector<CallLogEntry>> newest(std::size_t max) override {
        std::vector<CallLogEntry> out;
        while (out.size() < max) {
            auto& w = c_.begin(Kind::PimRead);
            w.u32(2).u32(std::uint32_t(out.size())).u32(std::uint32_t(std::min<std::size_t>(max - out.size(), 1000)));
            auto r = c_.call(w);
            if (!r || r->status != Status::Ok) return out.empty() ? std::nullopt : std::optional(out);
            Reader rd(r->body);
            auto n = rd.u32();
            for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
                CallLogEntry e;
                e.time = rd.u64();
                e.end_time = rd.u64();
                e.flags = rd.u32();
                e.number = rd.s16();
                e.name = rd.s16();
                e.number_label = rd.s16();
                if (rd.ok()) out.push_back(std::move(e));
            }
            if (!rd.ok() || n == 0) break;
        }
        if (out.size() > max) out.resize(max);
        return out;
    }

  private:
    wire::Client& c_;
};

}  // namespace

// Telephony and the SIM share one hidden window (and its owner).
void make_telephony_parts(wire::Client& c, Windows& w, std::unique_ptr<Telephony>& telephony,
                          std::unique_ptr<SimPhoneBook>& sim) {
    auto hidden = std::make_shared<Hidden>(c, w);
    telephony = std::make_unique<DeviceTelephony>(c, hidden);
    sim = std::make_unique<DeviceSim>(c, hidden);
}
std::unique_ptr<Contacts> make_contacts(wire::Client& c) { return std::make_unique<DeviceContacts>(c); }
std::unique_ptr<CallLog> make_call_log(wire::Client& c) { return std::make_unique<DeviceCallLog>(c); }

}  // namespace lumo::platform::device
