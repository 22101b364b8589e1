#include "lumo/store/telephony_model.h"

#include <algorithm>
#include <cstring>

#include "lumo/platform/registry.h"
#include "lumo/store/registry_store.h"

namespace lumo::store {

using namespace platform;

namespace {

constexpr std::uint32_t kVoiceDevice = 0;
constexpr std::uint32_t kDataDevice = 1;
const std::vector<std::u16string> kDefaultEmergency = {u"112", u"911", u"999", u"08"};

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string digits_of(std::u16string_view s) {
    std::u16string out;
    for (char16_t c : s)
        if (is_digit(c)) out.push_back(c);
    return out;
}

void write_dword(RegistryStore& reg, Root root, std::u16string_view name, std::uint32_t v) {
    auto old = reg.find_value(root, kPhoneStateKey, name);
    if (old && old->info.type == ValueType::Dword && old->data->size() == 4 &&
        std::memcmp(old->data->data(), &v, 4) == 0)
        return;  // unchanged: no notification for nothing
    reg.create_key(root, kPhoneStateKey);
    reg.write_value(root, kPhoneStateKey, name, ValueType::Dword, std::as_bytes(std::span(&v, 1)));
}

std::uint32_t read_dword(const RegistryStore& reg, Root root, std::u16string_view key,
                         std::u16string_view name) {
    auto v = reg.find_value(root, key, name);
    if (!v || v->info.type != ValueType::Dword || v->data->size() != 4) return 0;
    std::uint32_t out;
    std::memcpy(&out, v->data->data(), 4);
    return out;
}

void write_string(RegistryStore& reg, std::u16string_view name, std::u16string_view s) {
    auto bytes = encode_string_value(s);
    auto old = reg.find_value(Root::LocalMachine, kPhoneStateKey, name);
    if (old && old->info.type == ValueType::String && *old->data == bytes) return;
    reg.create_key(Root::LocalMachine, kPhoneStateKey);
    reg.write_value(Root::LocalMachine, kPhoneStateKey, name, ValueType::String, bytes);
}

bool ended(std::uint32_t state) {
    return state == kCallStateDisconnected || state == kCallStateIdle;
}

}  // namespace

std::optional<std::u16string> dialable_number(std::u16string_view number) {
    std::u16string out;
    bool any_digit = false;
    for (std::size_t i = 0; i < number.size(); ++i) {
        char16_t c = number[i];
        if (is_digit(c)) {
            out.push_back(c);
            any_digit = true;
        } else if (c == u'+') {
            if (!out.empty()) return std::nullopt;  // only in front
            out.push_back(c);
        } else if (c == u'*' || c == u'#') {
            out.push_back(c);
        } else if (c != u' ' && c != u'-' && c != u'.' && c != u'(' && c != u')') {
            return std::nullopt;
        }
    }
    if (!any_digit) return std::nullopt;
    return out;
}

bool numbers_match(std::u16string_view a, std::u16string_view b) {
    auto da = dialable_number(a), db = dialable_number(b);
    if (!da || !db) return false;
    if (*da == *db) return true;
    auto ga = digits_of(*da), gb = digits_of(*db);
    if (ga.size() < 7 || gb.size() < 7) return false;
    const auto& shorter = ga.size() <= gb.size() ? ga : gb;
    const auto& longer = ga.size() <= gb.size() ? gb : ga;
    return longer.compare(longer.size() - shorter.size(), shorter.size(), shorter) == 0;
}

std::u16string cut(std::u16string_view text, std::size_t max) {
    return std::u16string(text.substr(0, std::min(text.size(), max)));
}

TelephonyModel::TelephonyModel(RegistryStore& registry, Deliver deliver, Lookup lookup,
                               FileTime now, std::function<void(const CallLogEntry&)> log_call)
    : registry_(registry),
      deliver_(std::move(deliver)),
      lookup_(std::move(lookup)),
      now_(std::move(now)),
      log_call_(std::move(log_call)) {}

// --- helpers ------------------------------------------------------------------------------------

bool TelephonyModel::device_exists(std::uint32_t device) const {
    return device == kVoiceDevice || (device == kDataDevice && data_line_);
}

bool TelephonyModel::radio_off() const {
    return (read_dword(registry_, Root::LocalMachine, kPhoneStateKey, u"Status") &
            kPhoneStatusRadioOff) != 0;
}

TelephonyModel::App* TelephonyModel::app_of(std::uint32_t owner, std::uint32_t app) {
    auto it = apps_.find(app);
    return it == apps_.end() || it->second.owner != owner ? nullptr : &it->second;
}

TelephonyModel::Handle* TelephonyModel::handle_of(std::uint32_t owner, std::uint32_t call) {
    auto it = handles_.find(call);
    return it == handles_.end() || it->second.owner != owner ? nullptr : &it->second;
}

TelephonyModel::Call* TelephonyModel::find_call(std::uint32_t id) {
    auto it = calls_.find(id);
    return it == calls_.end() ? nullptr : &it->second;
}

const TelephonyModel::Call* TelephonyModel::find_call(std::uint32_t id) const {
    auto it = calls_.find(id);
    return it == calls_.end() ? nullptr : &it->second;
}

std::uint32_t TelephonyModel::new_handle(std::uint32_t app, std::uint32_t line, std::uint32_t call,
                                         std::uint32_t privilege) {
    std::uint32_t h = next_id_++;
    handles_[h] = Handle{apps_[app].owner, app, line, call, privilege};
    return h;
}

std::uint32_t TelephonyModel::reply_id() {
    std::uint32_t id = next_request_++;
    if (next_request_ >= 0x7FFFFFFF) next_request_ = 1;  // request ids stay positive results
    return id;
}

void TelephonyModel::send(std::uint32_t app, const LineMessage& m) {
    if (deliver_ && apps_.count(app)) deliver_(app, m);
}

void TelephonyModel::announce(Call& call, std::uint32_t owner_line) {
    // Every open line of the call's device hears of it: owners of its media mode as owner (the
    // first such line only, as the platform gives a call one owner), monitors as monitor.
    bool owner_given = owner_line != 0;
    for (auto& [line, o] : opens_) {
        if (o.device != call.device || line == owner_line) continue;
        std::uint32_t privilege = 0;
        if (!owner_given && (o.privileges & kCallPrivilegeOwner) && (o.media & call.media)) {
            privilege = kCallPrivilegeOwner;
            owner_given = true;
        } else if (o.privileges & kCallPrivilegeMonitor) {
            privilege = kCallPrivilegeMonitor;
        }
        if (!privilege) continue;
        std::uint32_t h = new_handle(o.app, line, call.id, privilege);
        send(o.app, {line, kLineAppNewCall, o.instance, 0, h, privilege});
        send(o.app, {h, kLineCallState, o.instance, call.state, call.mode, privilege});
    }
}

void TelephonyModel::set_state(Call& call, std::uint32_t state, std::uint32_t mode) {
    call.state = state;
    call.mode = mode;
    if (state == kCallStateConnected && !call.answered) {
        call.answered = true;
        call.connected_ms = tick ? tick() : 0;
    }
    // Copies: a program's callback may not run here, but the host's delivery may look at the
    // handles while we walk them.
    std::vector<std::pair<std::uint32_t, Handle>> hs;
    for (auto& [h, hd] : handles_)
        if (hd.call == call.id) hs.emplace_back(h, hd);
    for (auto& [h, hd] : hs) {
        auto o = opens_.find(hd.line);
        send(hd.app, {h, kLineCallState, o == opens_.end() ? 0 : o->second.instance, state, mode, 0});
    }
}

void TelephonyModel::end(Call& call, std::uint32_t mode) {
    if (ended(call.state)) return;
    const bool was_offered = call.state == kCallStateOffering || call.state == kCallStateAccepted;
    set_state(call, kCallStateDisconnected, mode);
    log(call);
    if (was_offered && !call.answered && call.origin == kCallOriginInbound) {
        std::uint32_t missed = read_dword(registry_, Root::CurrentUser, kPhoneStateKey, u"Missed Call Count");
        write_dword(registry_, Root::CurrentUser, u"Missed Call Count", missed + 1);
    }
    set_state(call, kCallStateIdle, 0);
}

void TelephonyModel::log(Call& call) {
    if (call.logged || call.media != kMediaModeInteractiveVoice) return;
    call.logged = true;
    CallLogEntry e;
    e.time = call.start_time;
    e.end_time = now_ ? now_() : 0;
    e.flags = kCallLogEnded;
    if (call.origin == kCallOriginOutbound)
        e.flags |= kCallLogOutgoing;
    else if (call.answered)
        e.flags |= kCallLogIncoming;
    if (!(call.caller_id_flags & kPartyIdBlocked)) {
        e.number = call.number;
        e.name = call.contact_name.empty() ? call.network_name : call.contact_name;
        e.number_label = call.label;
    }
    if (log_call_) log_call_(e);
}

void TelephonyModel::forget_idle() {
    // An idle call stays while a program still holds a handle to it, so its status can be read.
    for (auto it = calls_.begin(); it != calls_.end();) {
        bool held = std::any_of(handles_.begin(), handles_.end(),
                                [&](auto& h) { return h.second.call == it->first; });
        if (it->second.state == kCallStateIdle && !held)
            it = calls_.erase(it);
        else
            ++it;
    }
}

void TelephonyModel::publish() {
    std::uint32_t bits = 0, active = 0;
    const Call* ring = nullptr;
    const Call* talk = nullptr;
    for (auto& [id, c] : calls_) {
        if (c.media != kMediaModeInteractiveVoice) continue;
        switch (c.state) {
            case kCallStateOffering:
            case kCallStateAccepted:
                bits |= kPhoneStatusIncoming;
                ring = &c;
                break;
            case kCallStateDialing:
            case kCallStateRingBack:
            case kCallStateProceeding:
                bits |= kPhoneStatusCalling;
                if (!talk) talk = &c;
                break;
            case kCallStateConnected:
                ++active;
                talk = &c;
                break;
            case kCallStateOnHold:
                ++active;
                bits |= kPhoneStatusOnHold;
                if (!talk) talk = &c;
                break;
            default:
                break;
        }
    }
    auto shown_name = [](const Call& c) { return c.contact_name.empty() ? c.network_name : c.contact_name; };
    // The caller's values first: whoever hears of the status bit finds them written.
    // Until its caller id arrives the phone does not know who rings.
    if (ring && !(ring->caller_id_flags & (kPartyIdAddress | kPartyIdName))) ring = nullptr;
    if (ring) {
        write_string(registry_, u"Incoming Caller Number", ring->number);
        write_string(registry_, u"Incoming Caller Name", shown_name(*ring));
        write_string(registry_, u"Incoming Caller PropName",
                     ring->property_name.empty() ? ring->label : ring->property_name);
        // Who rang last stays after the ring: the name when the phone knows one, else the number.
        auto last = shown_name(*ring);
        if (last.empty()) last = ring->number;
        if (!last.empty()) write_string(registry_, u"Last Incoming Caller", last);
    } else {
        write_string(registry_, u"Incoming Caller Number", u"");
        write_string(registry_, u"Incoming Caller Name", u"");
        write_string(registry_, u"Incoming Caller PropName", u"");
    }
    if (!registry_.find_value(Root::CurrentUser, kPhoneStateKey, u"Missed Call Count"))
        write_dword(registry_, Root::CurrentUser, u"Missed Call Count", 0);
    write_string(registry_, u"Caller Number", talk ? talk->number : u"");
    write_string(registry_, u"Caller Name", talk ? shown_name(*talk) : u"");
    // Only our bits change; the radio-off bit and whatever else lives in Status stay.
    std::uint32_t status = read_dword(registry_, Root::LocalMachine, kPhoneStateKey, u"Status");
    write_dword(registry_, Root::LocalMachine, u"Status", (status & ~kPhoneStatusTelephonyBits) | bits);
    write_dword(registry_, Root::LocalMachine, u"Active Call Count", active);
}

// --- programs -------------------------------------------------------------------------------------

LineResult TelephonyModel::initialize(std::uint32_t owner, std::u16string_view app_name,
                                      std::uint32_t api_version, std::uint32_t& app,
                                      std::uint32_t& num_devices) {
    app = 0;
    num_devices = 0;
    if (api_version < kTapiVersionLow) return kLineErrIncompatibleApiVersion;
    app = next_id_++;
    apps_[app] = App{owner, cut(app_name, 64)};
    num_devices = data_line_ ? 2 : 1;
    return 0;
}

LineResult TelephonyModel::negotiate(std::uint32_t owner, std::uint32_t app, std::uint32_t device,
                                     std::uint32_t low, std::uint32_t high, std::uint32_t& version) {
    version = 0;
    if (!app_of(owner, app)) return kLineErrInvalAppHandle;
    if (!device_exists(device)) return kLineErrBadDeviceId;
    if (low > high || high < kTapiVersionLow || low > kTapiVersionHigh) return kLineErrIncompatibleApiVersion;
    version = std::min(high, kTapiVersionHigh);
    return 0;
}

LineResult TelephonyModel::dev_caps(std::uint32_t owner, std::uint32_t app, std::uint32_t device,
                                    std::uint32_t version, LineDevCaps& caps) {
    if (!app_of(owner, app)) return kLineErrInvalAppHandle;
    if (!device_exists(device)) return kLineErrBadDeviceId;
    if (version < kTapiVersionLow || version > kTapiVersionHigh) return kLineErrIncompatibleApiVersion;
    caps = {};
    caps.permanent_line_id = device + 1;
    caps.num_addresses = 1;
    if (device == kVoiceDevice) {
        caps.line_name = u"Cellular Line";
        caps.provider_info = u"Lumo cellular TSP";
        caps.bearer_modes = kBearerModeVoice | kBearerModeData;
        caps.media_modes = kMediaModeInteractiveVoice | kMediaModeDataModem;
        caps.max_active_calls = 2;
    } else {
        caps.line_name = u"";  // the data line has no name, as many drivers leave it
        caps.provider_info = u"Lumo packet data";
        caps.bearer_modes = kBearerModeData;
        caps.media_modes = kMediaModeDataModem;
    }
    return 0;
}

LineResult TelephonyModel::open(std::uint32_t owner, std::uint32_t app, std::uint32_t device,
                                std::uint32_t version, std::uint32_t privileges,
                                std::uint32_t media_modes, std::uint32_t instance, std::uint32_t& line) {
    line = 0;
    if (!app_of(owner, app)) return kLineErrInvalAppHandle;
    if (!device_exists(device)) return kLineErrBadDeviceId;
    if (version < kTapiVersionLow || version > kTapiVersionHigh) return kLineErrIncompatibleApiVersion;
    const std::uint32_t known = kCallPrivilegeNone | kCallPrivilegeMonitor | kCallPrivilegeOwner;
    if (privileges == 0 || (privileges & ~known) ||
        ((privileges & kCallPrivilegeNone) && privileges != kCallPrivilegeNone))
        return kLineErrInvalPrivilege;
    const std::uint32_t supported = device == kVoiceDevice
                                        ? kMediaModeInteractiveVoice | kMediaModeDataModem
                                        : kMediaModeDataModem;
    if ((privileges & kCallPrivilegeOwner) && (media_modes == 0 || (media_modes & ~supported)))
        return kLineErrInvalMediaMode;
    line = next_id_++;
    opens_[line] = Open{owner, app, device, privileges, media_modes, instance};
    return 0;
}

LineResult TelephonyModel::get_calls(std::uint32_t owner, std::uint32_t line, std::vector<std::uint32_t>& out) {
    out.clear();
    auto o = opens_.find(line);
    if (o == opens_.end() || o->second.owner != owner) return kLineErrInvalLineHandle;
    for (auto& [id, c] : calls_) {
        if (c.device != o->second.device || c.state == kCallStateIdle) continue;
        std::uint32_t found = 0;
        for (auto& [h, hd] : handles_)
            if (hd.app == o->second.app && hd.call == id) found = h;
        out.push_back(found ? found : new_handle(o->second.app, line, id, kCallPrivilegeMonitor));
    }
    return 0;
}

LineResult TelephonyModel::call_status(std::uint32_t owner, std::uint32_t call, LineCallStatus& status) {
    auto* h = handle_of(owner, call);
    const Call* c = h ? find_call(h->call) : nullptr;
    if (!c) return kLineErrInvalCallHandle;
    status = {c->state, c->mode, h->privilege};
    return 0;
}

LineResult TelephonyModel::call_info(std::uint32_t owner, std::uint32_t call, LineCallInfo& info) {
    auto* h = handle_of(owner, call);
    const Call* c = h ? find_call(h->call) : nullptr;
    if (!c) return kLineErrInvalCallHandle;
    info = {};
    info.line = h->line;
    info.line_device_id = c->device;
    info.bearer_mode = c->media == kMediaModeDataModem ? kBearerModeData : kBearerModeVoice;
    info.media_mode = c->media;
    info.call_id = c->id;
    info.origin = c->origin;
    if (c->origin == kCallOriginInbound) {
        info.caller_id_flags = c->caller_id_flags;
        if (c->caller_id_flags & kPartyIdAddress) info.caller_id = c->number;
        if (c->caller_id_flags & kPartyIdName) info.caller_id_name = c->network_name;
        info.called_id_flags = kPartyIdUnknown;
    } else {
        info.caller_id_flags = kPartyIdUnknown;
        info.called_id_flags = kPartyIdAddress | (c->contact_name.empty() ? 0 : kPartyIdName);
        info.called_id = c->number;
        info.called_id_name = c->contact_name;
    }
    return 0;
}

LineResult TelephonyModel::set_privilege(std::uint32_t owner, std::uint32_t call, std::uint32_t privilege) {
    auto* h = handle_of(owner, call);
    if (!h || !find_call(h->call)) return kLineErrInvalCallHandle;
    if (privilege != kCallPrivilegeMonitor && privilege != kCallPrivilegeOwner) return kLineErrInvalPrivilege;
    h->privilege = privilege;
    return 0;
}

LineResult TelephonyModel::drop(std::uint32_t owner, std::uint32_t call) {
    auto* h = handle_of(owner, call);
    Call* c = h ? find_call(h->call) : nullptr;
    if (!c) return kLineErrInvalCallHandle;
    if (h->privilege != kCallPrivilegeOwner) return kLineErrNotOwner;
    if (ended(c->state)) return kLineErrInvalCallState;
    std::uint32_t req = reply_id();
    std::uint32_t app = h->app;
    auto o = opens_.find(h->line);
    send(app, {0, kLineReply, o == opens_.end() ? 0 : o->second.instance, req, 0, 0});
    const bool offered = c->state == kCallStateOffering || c->state == kCallStateAccepted;
    end(*c, offered ? kDisconnectModeReject : kDisconnectModeNormal);
    publish();
    if (on_calls_changed) on_calls_changed();
    return LineResult(req);
}

LineResult TelephonyModel::deallocate(std::uint32_t owner, std::uint32_t call) {
    auto* h = handle_of(owner, call);
    if (!h) return kLineErrInvalCallHandle;
    Call* c = find_call(h->call);
    // The last owner may not give a live call away (it must be dropped first).
    if (c && !ended(c->state) && h->privilege == kCallPrivilegeOwner) {
        bool other_owner = std::any_of(handles_.begin(), handles_.end(), [&](auto& e) {
            return e.first != call && e.second.call == c->id && e.second.privilege == kCallPrivilegeOwner;
        });
        if (!other_owner && c->origin == kCallOriginOutbound && c->state != kCallStateConnected)
            return kLineErrInvalCallState;
    }
    handles_.erase(call);
    forget_idle();
    return 0;
}

LineResult TelephonyModel::close(std::uint32_t owner, std::uint32_t line) {
    auto o = opens_.find(line);
    if (o == opens_.end() || o->second.owner != owner) return kLineErrInvalLineHandle;
    // Calls this line dialled and still owns alone end with it.
    for (auto it = handles_.begin(); it != handles_.end();) {
        if (it->second.line != line) {
            ++it;
            continue;
        }
        Call* c = find_call(it->second.call);
        if (c && it->second.privilege == kCallPrivilegeOwner && c->origin == kCallOriginOutbound &&
            !ended(c->state) && c->state != kCallStateConnected && c->state != kCallStateOnHold)
            end(*c, kDisconnectModeNormal);
        it = handles_.erase(it);
    }
    opens_.erase(o);
    forget_idle();
    publish();
    if (on_calls_changed) on_calls_changed();
    return 0;
}

LineResult TelephonyModel::shutdown(std::uint32_t owner, std::uint32_t app) {
    if (!app_of(owner, app)) return kLineErrInvalAppHandle;
    std::vector<std::uint32_t> lines;
    for (auto& [line, o] : opens_)
        if (o.app == app) lines.push_back(line);
    for (auto line : lines) close(owner, line);
    std::erase_if(handles_, [&](auto& h) { return h.second.app == app; });
    apps_.erase(app);
    forget_idle();
    return 0;
}

void TelephonyModel::owner_gone(std::uint32_t owner) {
    std::vector<std::uint32_t> apps;
    for (auto& [id, a] : apps_)
        if (a.owner == owner) apps.push_back(id);
    for (auto id : apps) shutdown(owner, id);
    std::erase_if(phones_, [&](auto& p) { return p.second.owner == owner; });
}

LineResult TelephonyModel::translate(std::uint32_t owner, std::uint32_t app, std::uint32_t device,
                                     std::u16string_view address, LineTranslateOutput& out) {
    if (!app_of(owner, app)) return kLineErrInvalAppHandle;
    if (!device_exists(device)) return kLineErrBadDeviceId;
    auto d = dialable_number(address);
    if (!d || d->size() > kPartyIdMaxChars) return kLineErrInvalAddress;
    out.dialable = *d;
    out.displayable = cut(address, kPartyIdMaxChars);
    out.country = 0;
    return 0;
}

LineResult TelephonyModel::make_call(std::uint32_t owner, std::uint32_t line, std::u16string_view destination,
                                     const LineCallParams* params, std::uint32_t& call) {
    call = 0;
    auto o = opens_.find(line);
    if (o == opens_.end() || o->second.owner != owner) return kLineErrInvalLineHandle;
    if (o->second.device != kVoiceDevice) return kLineErrInvalMediaMode;
    if (params && params->media_mode != kMediaModeInteractiveVoice) return kLineErrInvalMediaMode;
    std::u16string_view dest = destination;
    if (dest.empty() && params) dest = params->dialable_address;
    auto number = dialable_number(dest);
    if (!number || number->size() > kPartyIdMaxChars) return kLineErrInvalAddress;
    if (radio_off()) return kLineErrResourceUnavail;
    Call c;
    c.id = next_id_++;
    c.device = kVoiceDevice;
    c.origin = kCallOriginOutbound;
    c.number = *number;
    c.caller_id_flags = kPartyIdUnknown;
    c.start_time = now_ ? now_() : 0;
    if (lookup_)
        if (auto hit = lookup_(c.number)) {
            c.contact_name = hit->first;
            c.label = hit->second;
        }
    c.state = kCallStateDialing;
    auto [it, inserted] = calls_.emplace(c.id, c);
    std::uint32_t app = o->second.app;
    call = new_handle(app, line, it->first, kCallPrivilegeOwner);
    std::uint32_t req = reply_id();
    send(app, {0, kLineReply, o->second.instance, req, 0, 0});
    send(app, {call, kLineCallState, o->second.instance, kCallStateDialing, 0, kCallPrivilegeOwner});
    announce(it->second, line);
    publish();
    if (on_calls_changed) on_calls_changed();
    return LineResult(req);
}

// --- the phone device -------------------------------------------------------------------------------

LineResult TelephonyModel::phone_open(std::uint32_t owner, std::uint32_t& phone) {
    phone = next_id_++;
    phones_[phone] = Phone{owner};
    return 0;
}

LineResult TelephonyModel::phone_status(std::uint32_t owner, std::uint32_t phone, PhoneStatus& status) {
    auto p = phones_.find(phone);
    if (p == phones_.end() || p->second.owner != owner) return kLineErrInvalParam;
    status = {};
    // The device in use is off hook while a call is connected or dialled.
    bool busy = active().has_value();
    std::uint32_t mode = busy ? kHookSwitchModeMicSpeaker : kHookSwitchModeOnHook;
    if (in_use_ == kHookSwitchHandset) status.handset_mode = mode;
    if (in_use_ == kHookSwitchSpeaker) status.speaker_mode = mode;
    if (in_use_ == kHookSwitchHeadset) status.headset_mode = mode;
    return 0;
}

namespace {
int volume_slot(std::uint32_t device) {
    switch (device) {
        case kHookSwitchHandset: return 0;
        case kHookSwitchSpeaker: return 1;
        case kHookSwitchHeadset: return 2;
    }
    return -1;
}
}  // namespace

LineResult TelephonyModel::phone_volume(std::uint32_t owner, std::uint32_t phone, std::uint32_t device,
                                        std::uint32_t& volume) {
    auto p = phones_.find(phone);
    if (p == phones_.end() || p->second.owner != owner) return kLineErrInvalParam;
    int slot = volume_slot(device);
    if (slot < 0) return kLineErrInvalParam;
    volume = volumes_[slot];
    return 0;
}

LineResult TelephonyModel::phone_set_volume(std::uint32_t owner, std::uint32_t phone, std::uint32_t device,
                                            std::uint32_t volume) {
    auto p = phones_.find(phone);
    if (p == phones_.end() || p->second.owner != owner) return kLineErrInvalParam;
    int slot = volume_slot(device);
    if (slot < 0) return kLineErrInvalParam;
    volumes_[slot] = std::min<std::uint32_t>(volume, kPhoneVolumeMax);
    return 0;
}

LineResult TelephonyModel::phone_close(std::uint32_t owner, std::uint32_t phone) {
    auto p = phones_.find(phone);
    if (p == phones_.end() || p->second.owner != owner) return kLineErrInvalParam;
    phones_.erase(p);
    return 0;
}

std::uint32_t TelephonyModel::volume(std::uint32_t hook_switch_dev) const {
    int slot = volume_slot(hook_switch_dev);
    return slot < 0 ? 0 : volumes_[slot];
}

bool TelephonyModel::set_volume(std::uint32_t hook_switch_dev, std::uint32_t volume) {
    int slot = volume_slot(hook_switch_dev);
    if (slot < 0) return false;
    volumes_[slot] = std::min<std::uint32_t>(volume, kPhoneVolumeMax);
    return true;
}

void TelephonyModel::set_hook_switch_in_use(std::uint32_t hook_switch_dev) {
    if (volume_slot(hook_switch_dev) >= 0) in_use_ = hook_switch_dev;
}

std::vector<std::u16string> TelephonyModel::emergency_numbers() const {
    auto v = registry_.find_value(Root::LocalMachine, kTelephonyConfigKey, kEmergencyNumbersValue);
    if (!v || v->info.type != ValueType::String) return kDefaultEmergency;
    auto text = decode_string_value(*v->data);
    std::vector<std::u16string> out;
    std::u16string cur;
    auto flush = [&] {
        if (auto d = dialable_number(cur); d && d->size() <= 32) out.push_back(*d);
        cur.clear();
    };
    for (char16_t c : text) {
        if (c == u',' || c == u';')
            flush();
        else
            cur.push_back(c);
    }
    flush();
    return out.empty() ? kDefaultEmergency : out;
}

// --- the network ----------------------------------------------------------------------------------

std::optional<std::uint32_t> TelephonyModel::offer(const Offer& offer, Refusal* why) {
    auto refuse = [&](Refusal r) -> std::optional<std::uint32_t> {
        if (why) *why = r;
        return std::nullopt;
    };
    std::u16string number;
    if (!offer.withheld && !offer.out_of_area) {
        auto d = dialable_number(offer.number);
        if (!d || d->size() > kPartyIdMaxChars) return refuse(Refusal::BadNumber);
        number = *d;
    }
    if (radio_off()) return refuse(Refusal::RadioOff);
    Call c;
    c.id = next_id_++;
    c.device = kVoiceDevice;
    c.origin = kCallOriginInbound;
    c.state = kCallStateOffering;
    c.start_time = now_ ? now_() : 0;
    c.property_name = cut(offer.property_name, kPartyIdMaxChars);
    auto [it, inserted] = calls_.emplace(c.id, c);
    announce(it->second, 0);
    if (offer.withheld) {
        caller_id(c.id, u"", u"", kPartyIdBlocked);
    } else if (offer.out_of_area) {
        caller_id(c.id, u"", u"", kPartyIdOutOfArea);
    } else if (offer.caller_id_now) {
        caller_id(c.id, number, offer.name, kPartyIdAddress | (offer.name.empty() ? 0 : kPartyIdName));
    } else {
        // The number is known to the network already; it reaches the phone later.
        it->second.number = number;
        it->second.network_name = cut(offer.name, kPartyIdMaxChars);
        it->second.caller_id_flags = kPartyIdUnknown;
    }
    publish();
    if (on_calls_changed) on_calls_changed();
    if (why) *why = Refusal::None;
    return c.id;
}

bool TelephonyModel::caller_id(std::uint32_t call_id, std::u16string_view number, std::u16string_view name,
                               std::uint32_t flags) {
    Call* c = find_call(call_id);
    if (!c || c->origin != kCallOriginInbound || ended(c->state)) return false;
    if (!number.empty()) {
        auto d = dialable_number(number);
        if (!d) return false;
        c->number = cut(*d, kPartyIdMaxChars);
    }
    if (!name.empty()) c->network_name = cut(name, kPartyIdMaxChars);
    if (c->number.empty()) flags &= ~kPartyIdAddress;
    if (c->network_name.empty()) flags &= ~kPartyIdName;
    c->caller_id_flags = flags;
    c->contact_name.clear();
    c->label.clear();
    if (lookup_ && (flags & kPartyIdAddress))
        if (auto hit = lookup_(c->number)) {
            c->contact_name = hit->first;
            c->label = hit->second;
        }
    // The published values first, so a program told of the caller id finds them.
    publish();
    std::vector<std::pair<std::uint32_t, Handle>> hs;
    for (auto& [h, hd] : handles_)
        if (hd.call == c->id) hs.emplace_back(h, hd);
    for (auto& [h, hd] : hs) {
        auto o = opens_.find(hd.line);
        send(hd.app, {h, kLineCallInfo, o == opens_.end() ? 0 : o->second.instance, kCallInfoCallerId, 0, 0});
    }
    if (on_calls_changed) on_calls_changed();
    return true;
}

bool TelephonyModel::remote_hang_up(std::uint32_t call_id) {
    Call* c = find_call(call_id);
    if (!c || ended(c->state)) return false;
    end(*c, kDisconnectModeNormal);
    forget_idle();
    publish();
    if (on_calls_changed) on_calls_changed();
    return true;
}

bool TelephonyModel::remote_answer(std::uint32_t call_id) {
    Call* c = find_call(call_id);
    if (!c || c->origin != kCallOriginOutbound || c->state != kCallStateDialing) return false;
    // Only one call talks at a time: another connected one goes on hold.
    for (auto& [id, other] : calls_)
        if (id != call_id && other.state == kCallStateConnected) set_state(other, kCallStateOnHold, 0);
    set_state(*c, kCallStateConnected, 0);
    publish();
    if (on_calls_changed) on_calls_changed();
    return true;
}

bool TelephonyModel::remote_busy(std::uint32_t call_id) {
    Call* c = find_call(call_id);
    if (!c || c->origin != kCallOriginOutbound || c->state != kCallStateDialing) return false;
    set_state(*c, kCallStateBusy, 0);
    end(*c, kDisconnectModeBusy);
    forget_idle();
    publish();
    if (on_calls_changed) on_calls_changed();
    return true;
}

// --- the phone user -------------------------------------------------------------------------------

bool TelephonyModel::answer(std::uint32_t call_id) {
    Call* c = find_call(call_id);
    if (!c || c->origin != kCallOriginInbound ||
        (c->state != kCallStateOffering && c->state != kCallStateAccepted))
        return false;
    for (auto& [id, other] : calls_)
        if (id != call_id && other.state == kCallStateConnected) set_state(other, kCallStateOnHold, 0);
    set_state(*c, kCallStateConnected, 0);
    publish();
    if (on_calls_changed) on_calls_changed();
    return true;
}

bool TelephonyModel::hang_up(std::uint32_t call_id) {
    Call* c = find_call(call_id);
    if (!c || ended(c->state)) return false;
    const bool offered = c->state == kCallStateOffering || c->state == kCallStateAccepted;
    end(*c, offered ? kDisconnectModeReject : kDisconnectModeNormal);
    forget_idle();
    publish();
    if (on_calls_changed) on_calls_changed();
    return true;
}

bool TelephonyModel::hold(std::uint32_t call_id) {
    Call* c = find_call(call_id);
    if (!c) return false;
    if (c->state == kCallStateConnected) {
        set_state(*c, kCallStateOnHold, 0);
    } else if (c->state == kCallStateOnHold) {
        // Taking a call back puts the one talking now on hold: the two swap.
        for (auto& [id, other] : calls_)
            if (id != call_id && other.state == kCallStateConnected) set_state(other, kCallStateOnHold, 0);
        set_state(*c, kCallStateConnected, 0);
    } else {
        return false;
    }
    publish();
    if (on_calls_changed) on_calls_changed();
    return true;
}

std::optional<std::uint32_t> TelephonyModel::dial(std::u16string_view number, Refusal* why) {
    auto d = dialable_number(number);
    if (!d || d->size() > kPartyIdMaxChars) {
        if (why) *why = Refusal::BadNumber;
        return std::nullopt;
    }
    if (radio_off()) {
        if (why) *why = Refusal::RadioOff;
        return std::nullopt;
    }
    Call c;
    c.id = next_id_++;
    c.device = kVoiceDevice;
    c.origin = kCallOriginOutbound;
    c.state = kCallStateDialing;
    c.number = *d;
    c.start_time = now_ ? now_() : 0;
    if (lookup_)
        if (auto hit = lookup_(c.number)) {
            c.contact_name = hit->first;
            c.label = hit->second;
        }
    for (auto& [id, other] : calls_)
        if (other.state == kCallStateConnected) set_state(other, kCallStateOnHold, 0);
    auto [it, inserted] = calls_.emplace(c.id, c);
    announce(it->second, 0);
    publish();
    if (on_calls_changed) on_calls_changed();
    if (why) *why = Refusal::None;
    return c.id;
}

// --- views ----------------------------------------------------------------------------------------

std::vector<TelephonyModel::CallView> TelephonyModel::calls() const {
    std::vector<CallView> out;
    for (auto& [id, c] : calls_) {
        if (ended(c.state)) continue;
        if (auto v = call(id)) out.push_back(*v);
    }
    return out;
}

std::optional<TelephonyModel::CallView> TelephonyModel::call(std::uint32_t id) const {
    const Call* c = find_call(id);
    if (!c) return std::nullopt;
    CallView v;
    v.id = c->id;
    v.state = c->state;
    v.inbound = c->origin == kCallOriginInbound;
    // Until its caller id arrived the phone does not know who calls.
    bool known = !v.inbound || (c->caller_id_flags & (kPartyIdAddress | kPartyIdName));
    if (known) {
        v.number = c->number;
        v.name = c->contact_name.empty() ? c->network_name : c->contact_name;
        v.label = c->label;
    }
    v.caller_id_flags = c->caller_id_flags;
    v.connected_ms = c->connected_ms;
    return v;
}

std::optional<std::uint32_t> TelephonyModel::ringing() const {
    std::optional<std::uint32_t> out;
    for (auto& [id, c] : calls_)
        if (c.state == kCallStateOffering || c.state == kCallStateAccepted) out = id;
    return out;
}

std::optional<std::uint32_t> TelephonyModel::active() const {
    std::optional<std::uint32_t> dialing;
    for (auto& [id, c] : calls_) {
        if (c.media != kMediaModeInteractiveVoice) continue;
        if (c.state == kCallStateConnected) return id;
        if (c.state == kCallStateDialing) dialing = id;
    }
    return dialing;
}

void TelephonyModel::reset_missed_count() {
    write_dword(registry_, Root::CurrentUser, u"Missed Call Count", 0);
}

}  // namespace lumo::store
