#include "telephony_service.h"

#include <algorithm>
#include <cstring>

#include "lumo/platform/text.h"
#include "lumo/wire/protocol.h"
#include "phone_app.h"
#include "process_service.h"
#include "window_service.h"

namespace lumo::host {

using namespace platform;
using wire::GsmAction;
using wire::Kind;
using wire::PimAction;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

// Texts from a client are cut to what the phone keeps, never trusted to fit.
constexpr std::size_t kMaxNameChars = 256;
constexpr std::size_t kMaxPictureBytes = 60000;  // a picture travels in one packet

void write_contact(Writer& out, const Contact& c) {
    out.u32(c.id).s16(c.file_as).s16(c.email).u32(c.has_picture ? 1 : 0).u32(std::uint32_t(c.numbers.size()));
    for (auto& n : c.numbers) out.s16(n.label).s16(n.number);
}

const char* refusal_text(store::TelephonyModel::Refusal r) {
    switch (r) {
        case store::TelephonyModel::Refusal::RadioOff: return "the phone's radio is off (flight mode)";
        case store::TelephonyModel::Refusal::BadNumber: return "not a phone number";
        case store::TelephonyModel::Refusal::NoVoiceLine: return "the phone has no voice line";
        case store::TelephonyModel::Refusal::None: break;
    }
    return "refused";
}

}  // namespace

TelephonyService::TelephonyService(Host& host, WindowService& windows) : host_(host), windows_(windows) {
    auto lookup = [this](std::u16string_view number) -> std::optional<std::pair<std::u16string, std::u16string>> {
        auto c = pim_.find(ContactMatch::PhoneNumber, number);
        if (!c) return std::nullopt;
        for (auto& n : c->numbers)
            if (store::numbers_match(n.number, number)) return std::pair{c->file_as, n.label};
        return std::pair{c->file_as, std::u16string()};
    };
    model_ = std::make_unique<store::TelephonyModel>(
        host.registry(), [this](std::uint32_t app, const LineMessage& m) { deliver(app, m); }, lookup,
        [this] {
            // The device's local time as a file time (100 ns since 1601; the clock keeps ms since 1970).
            std::int64_t ms = local_now_ms ? local_now_ms() : 0;
            return std::uint64_t(ms + 11644473600000LL) * 10000u;
        },
        [this](const CallLogEntry& e) {
            if (!pim_.log_call(e)) host_.log().printf("call log: %s", pim_.last_error().c_str());
        });
    model_->tick = [this] { return host_.now_ms(); };
    phone_ = std::make_unique<PhoneApp>(host, windows, *model_);
    model_->on_calls_changed = [this] { phone_->calls_changed(); };
    phone_->recent_calls = [this] { return pim_.calls(10).value_or(std::vector<CallLogEntry>{}); };
    register_handlers();
    host.on_client_closed([this](ClientConn& c) {
        model_->owner_gone(c.id);
        sim_listeners_.erase(c.id);
        std::erase_if(routes_, [&](auto& r) { return r.second.client == c.id; });
    });
}

TelephonyService::~TelephonyService() = default;

void TelephonyService::boot() {
    std::string error;
    if (!pim_.open(host_.options().dir, host_.fresh(), &error))
        host_.log().printf("contacts and call log unavailable: %s", error.c_str());
    model_->publish();
}

void TelephonyService::start_phone_app(std::uint32_t pid, bool shown) { phone_->start(pid, shown); }

void TelephonyService::deliver(std::uint32_t app, const LineMessage& m) {
    auto it = routes_.find(app);
    if (it == routes_.end()) return;
    Writer ev(Kind::LineEvent, wire::PacketType::Event, 0);
    ev.u32(app).u32(m.device).u32(m.message).u32(m.instance).u32(m.param1).u32(m.param2).u32(m.param3);
    if (!host_.send_event(it->second.client, ev)) return;
    windows_.post(it->second.window, wire::kLineWakeMessage, app, 0);
}

void TelephonyService::sim_changed(std::uint32_t code, std::uint32_t index) {
    for (auto& [client, hwnd] : sim_listeners_) {
        Writer ev(Kind::SimEvent, wire::PacketType::Event, 0);
        ev.u32(code).u32(index);
        if (host_.send_event(client, ev)) windows_.post(hwnd, wire::kSimWakeMessage, 0, 0);
    }
}

void TelephonyService::register_handlers() {
    auto& m = *model_;
    host_.add_handler(Kind::TelInitialize, [this, &m](ClientConn& c, Reader& in, Writer& out) {
        auto version = in.u32();
        auto hwnd = in.u32();
        auto name = in.s16();
        if (!in.done()) return false;
        auto* w = windows_.find(hwnd);
        std::uint32_t app = 0, devices = 0;
        LineResult r = kLineErrInvalParam;
        // The hidden window must be the caller's own: messages go nowhere else.
        if (w && w->client == c.id) {
            r = m.initialize(c.id, store::cut(name, kMaxNameChars), version, app, devices);
            if (r == 0) routes_[app] = {c.id, hwnd};
        }
        out.status(Status::Ok).i32(r).u32(app).u32(devices);
        return true;
    });
    host_.add_handler(Kind::TelNegotiate, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto app = in.u32(), device = in.u32(), low = in.u32(), high = in.u32();
        if (!in.done()) return false;
        std::uint32_t version = 0;
        auto r = m.negotiate(c.id, app, device, low, high, version);
        out.status(Status::Ok).i32(r).u32(version);
        return true;
    });
    host_.add_handler(Kind::TelDevCaps, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto app = in.u32(), device = in.u32(), version = in.u32();
        if (!in.done()) return false;
        LineDevCaps caps;
        auto r = m.dev_caps(c.id, app, device, version, caps);
        out.status(Status::Ok).i32(r).s16(caps.line_name).s16(caps.provider_info).u32(caps.permanent_line_id);
        out.u32(caps.num_addresses).u32(caps.bearer_modes).u32(caps.media_modes).u32(caps.max_active_calls);
        return true;
    });
    host_.add_handler(Kind::TelOpen, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto app = in.u32(), device = in.u32(), version = in.u32(), priv = in.u32(), media = in.u32(),
             instance = in.u32();
        if (!in.done()) return false;
        std::uint32_t line = 0;
        auto r = m.open(c.id, app, device, version, priv, media, instance, line);
        out.status(Status::Ok).i32(r).u32(line);
        return true;
    });
    host_.add_handler(Kind::TelGetCalls, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto line = in.u32();
        if (!in.done()) return false;
        std::vector<std::uint32_t> calls;
        auto r = m.get_calls(c.id, line, calls);
        out.status(Status::Ok).i32(r).u32(std::uint32_t(calls.size()));
        for (auto h : calls) out.u32(h);
        return true;
    });
    host_.add_handler(Kind::TelCallStatus, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto call = in.u32();
        if (!in.done()) return false;
        LineCallStatus st;
        auto r = m.call_status(c.id, call, st);
        out.status(Status::Ok).i32(r).u32(st.call_state).u32(st.call_state_mode).u32(st.call_privilege);
        return true;
    });
    host_.add_handler(Kind::TelCallInfo, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto call = in.u32();
        if (!in.done()) return false;
        LineCallInfo i;
        auto r = m.call_info(c.id, call, i);
        out.status(Status::Ok).i32(r).u32(i.line).u32(i.line_device_id).u32(i.address_id).u32(i.bearer_mode);
        out.u32(i.media_mode).u32(i.call_id).u32(i.origin).u32(i.caller_id_flags).s16(i.caller_id);
        out.s16(i.caller_id_name).u32(i.called_id_flags).s16(i.called_id).s16(i.called_id_name);
        return true;
    });
    host_.add_handler(Kind::TelCallOp, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto op = in.u32(), call = in.u32(), value = in.u32();
        if (!in.done()) return false;
        LineResult r = kLineErrInvalParam;
        if (op == 1) r = m.set_privilege(c.id, call, value);
        if (op == 2) r = m.drop(c.id, call);
        if (op == 3) r = m.deallocate(c.id, call);
        out.status(Status::Ok).i32(r);
        return true;
    });
    host_.add_handler(Kind::TelLineOp, [this, &m](ClientConn& c, Reader& in, Writer& out) {
        auto op = in.u32(), handle = in.u32();
        if (!in.done()) return false;
        LineResult r = kLineErrInvalParam;
        if (op == 1) r = m.close(c.id, handle);
        if (op == 2) {
            r = m.shutdown(c.id, handle);
            if (r == 0) routes_.erase(handle);
        }
        out.status(Status::Ok).i32(r);
        return true;
    });
    host_.add_handler(Kind::TelTranslate, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto app = in.u32(), device = in.u32();
        auto address = in.s16();
        if (!in.done()) return false;
        LineTranslateOutput t;
        auto r = m.translate(c.id, app, device, address, t);
        out.status(Status::Ok).i32(r).s16(t.dialable).s16(t.displayable).u32(t.country);
        return true;
    });
    host_.add_handler(Kind::TelMakeCall, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto line = in.u32();
        auto dest = in.s16();
        LineCallParams params;
        params.bearer_mode = in.u32();
        params.media_mode = in.u32();
        params.dialable_address = in.s16();
        if (!in.done()) return false;
        std::uint32_t call = 0;
        auto r = m.make_call(c.id, line, dest, &params, call);
        out.status(Status::Ok).i32(r).u32(call);
        return true;
    });
    host_.add_handler(Kind::TelPhone, [&m](ClientConn& c, Reader& in, Writer& out) {
        auto op = in.u32(), phone = in.u32(), dev = in.u32(), value = in.u32();
        if (!in.done()) return false;
        LineResult r = kLineErrInvalParam;
        std::uint32_t a = 0, b = 0, cc = 0, d = 0;
        switch (op) {
            case 1: r = m.phone_open(c.id, a); break;
            case 2: {
                PhoneStatus st;
                r = m.phone_status(c.id, phone, st);
                a = st.handset_mode, b = st.speaker_mode, cc = st.headset_mode, d = st.hook_switch_devs;
                break;
            }
            case 3: r = m.phone_volume(c.id, phone, dev, a); break;
            case 4: r = m.phone_set_volume(c.id, phone, dev, value); break;
            case 5: r = m.phone_close(c.id, phone); break;
        }
        out.status(Status::Ok).i32(r).u32(a).u32(b).u32(cc).u32(d);
        return true;
    });
    // The phone's user side of the in-call volume: which hook-switch device is in use, and the
    // volume of each (the phone's own volume buttons and headset plug).
    host_.add_handler(Kind::PhoneVolumes, [this, &m](ClientConn&, Reader& in, Writer& out) {
        auto op = in.u32(), dev = in.u32(), value = in.u32();
        if (!in.done()) return false;
        bool known = dev == platform::kHookSwitchHandset || dev == platform::kHookSwitchSpeaker ||
                     dev == platform::kHookSwitchHeadset;
        if (op > 2 || (op != 0 && !known) || (op == 1 && value > platform::kPhoneVolumeMax)) {
            out.status(Status::BadRequest);
            return true;
        }
        if (op == 1) {
            m.set_volume(dev, value);
            host_.log().printf("phone: volume of device %u 0x%04X", dev, value);
        } else if (op == 2) {
            m.set_hook_switch_in_use(dev);
            host_.log().printf("phone: hook-switch device %u in use", dev);
        }
        out.status(Status::Ok).u32(m.hook_switch_in_use());
        out.u32(m.volume(platform::kHookSwitchHandset)).u32(m.volume(platform::kHookSwitchSpeaker));
        out.u32(m.volume(platform::kHookSwitchHeadset));
        return true;
    });
    host_.add_handler(Kind::TelEmergency, [&m](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        auto list = m.emergency_numbers();
        out.status(Status::Ok).u32(std::uint32_t(list.size()));
        for (auto& n : list) out.s16(n);
        return true;
    });

    host_.add_handler(Kind::GsmControl, [this, &m](ClientConn&, Reader& in, Writer& out) {
        auto action = in.u32(), id = in.u32(), flags = in.u32(), delay = in.u32();
        auto number = in.s16();
        auto name = in.s16();
        auto prop = in.s16();
        if (!in.done()) return false;
        auto refuse = [&](const std::string& why) {
            out.status(Status::Failed).s16(to_u16(why));
            return true;
        };
        auto done = [&](std::uint32_t call) {
            out.status(Status::Ok).u32(call);
            return true;
        };
        auto known = [&]() { return m.call(id).has_value() && id != 0; };
        store::TelephonyModel::Refusal why{};
        switch (static_cast<GsmAction>(action)) {
            case GsmAction::Call: {
                store::TelephonyModel::Offer o;
                o.number = store::cut(number, kMaxNameChars);
                o.name = store::cut(name, kMaxNameChars);
                o.property_name = store::cut(prop, kMaxNameChars);
                o.withheld = flags & wire::kGsmNoCallerId;
                o.out_of_area = flags & wire::kGsmOutOfArea;
                o.caller_id_now = delay == 0;
                auto call = m.offer(o, &why);
                if (!call) return refuse(refusal_text(why));
                host_.log().printf("gsm: call %u from %s", *call, to_utf8(o.number).c_str());
                if (delay && !o.withheld && !o.out_of_area) {
                    auto n = o.number, nm = o.name;
                    host_.schedule(delay, [&m, c = *call, n, nm] {
                        m.caller_id(c, n, nm, kPartyIdAddress | (nm.empty() ? 0 : kPartyIdName));
                    });
                }
                return done(*call);
            }
            case GsmAction::Dial: {
                auto call = m.dial(number, &why);
                if (!call) return refuse(refusal_text(why));
                host_.log().printf("gsm: dialled %s (call %u)", to_utf8(number).c_str(), *call);
                return done(*call);
            }
            case GsmAction::Accept:
            case GsmAction::Busy:
            case GsmAction::Cancel:
            case GsmAction::Hold: {
                // Without an id: the call the action fits (the ringing or dialled one, the
                // newest otherwise).
                if (id == 0) {
                    auto calls = m.calls();
                    for (auto& cv : calls) {
                        bool fits = false;
                        switch (static_cast<GsmAction>(action)) {
                            case GsmAction::Accept: fits = cv.state == kCallStateDialing || cv.state == kCallStateOffering; break;
                            case GsmAction::Busy: fits = cv.state == kCallStateDialing; break;
                            case GsmAction::Hold: fits = cv.state == kCallStateConnected || cv.state == kCallStateOnHold; break;
                            default: fits = true;
                        }
                        if (fits) id = cv.id;
                    }
                    if (id == 0) return refuse("no call to act on");
                }
                if (!known()) {
                    out.status(Status::NotFound).s16(u"no such call");
                    return true;
                }
                bool ok = false;
                auto state = m.call(id)->state;
                switch (static_cast<GsmAction>(action)) {
                    case GsmAction::Accept:
                        ok = state == kCallStateOffering ? m.answer(id) : m.remote_answer(id);
                        break;
                    case GsmAction::Busy: ok = m.remote_busy(id); break;
                    case GsmAction::Cancel: ok = m.remote_hang_up(id); break;
                    case GsmAction::Hold: ok = m.hold(id); break;
                    default: break;
                }
                if (!ok) return refuse("the call is not in a state for that");
                return done(id);
            }
        }
        out.status(Status::BadRequest);
        return true;
    });
    host_.add_handler(Kind::GsmList, [this, &m](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        auto calls = m.calls();
        out.status(Status::Ok).u32(std::uint32_t(calls.size()));
        for (auto& c : calls) {
            std::uint32_t secs = c.connected_ms ? std::uint32_t((host_.now_ms() - c.connected_ms) / 1000) : 0;
            out.u32(c.id).u32(c.state).u32(c.inbound ? 1 : 0).s16(c.number).s16(c.name).u32(c.caller_id_flags).u32(secs);
        }
        return true;
    });

    host_.add_handler(Kind::ContactFind, [this](ClientConn&, Reader& in, Writer& out) {
        auto match = in.u32();
        auto key = in.s16();
        if (!in.done()) return false;
        if (match != 1 && match != 2 && match != 4) {
            out.status(Status::BadRequest);
            return true;
        }
        auto c = pim_.find(static_cast<ContactMatch>(match), key);
        if (!c) {
            out.status(Status::NotFound);
            return true;
        }
        out.status(Status::Ok);
        write_contact(out, *c);
        return true;
    });
    host_.add_handler(Kind::ContactPicture, [this](ClientConn&, Reader& in, Writer& out) {
        auto id = in.u32();
        if (!in.done()) return false;
        auto p = pim_.picture(id);
        if (!p || p->size() > kMaxPictureBytes) {
            out.status(Status::NotFound);
            return true;
        }
        out.status(Status::Ok).bin(std::as_bytes(std::span(*p)));
        return true;
    });
    host_.add_handler(Kind::ContactList, [this](ClientConn&, Reader& in, Writer& out) {
        auto first = in.u32();
        if (!in.done()) return false;
        auto all = pim_.all();
        // As many as fit in one packet; the caller asks again from where this ended.
        Writer probe;
        std::vector<const Contact*> page;
        std::size_t bytes = 64;
        for (std::size_t i = first; i < all.size(); ++i) {
            probe.start(Kind::ContactList, wire::PacketType::Reply, 0);
            write_contact(probe, all[i]);
            if (bytes + probe.size() > wire::kMaxPacket - 256) break;
            bytes += probe.size();
            page.push_back(&all[i]);
        }
        out.status(Status::Ok).u32(std::uint32_t(all.size())).u32(std::uint32_t(page.size()));
        for (auto* c : page) write_contact(out, *c);
        return true;
    });
    host_.add_handler(Kind::PimControl, [this, &m](ClientConn&, Reader& in, Writer& out) {
        auto action = in.u32(), id = in.u32();
        auto name = in.s16();
        auto number = in.s16();
        auto email = in.s16();
        auto picture = in.bin();
        if (!in.done()) return false;
        auto refuse = [&](const std::string& why) {
            out.status(Status::Failed).s16(to_u16(why));
            return true;
        };
        switch (static_cast<PimAction>(action)) {
            case PimAction::AddContact: {
                if (name.empty() || name.size() > kMaxNameChars) return refuse("a contact needs a name of 1 to 256 characters");
                if (!store::dialable_number(number)) return refuse("not a phone number");
                if (picture.size() > kMaxPictureBytes) return refuse("the picture is larger than 60000 bytes");
                std::vector<std::uint8_t> pic(picture.size());
                if (!picture.empty()) std::memcpy(pic.data(), picture.data(), picture.size());
                auto added = pim_.add_contact(name, number, store::cut(email, kMaxNameChars), pic);
                if (!added) return refuse("the contacts store failed: " + pim_.last_error());
                out.status(Status::Ok).u32(*added);
                return true;
            }
            case PimAction::DeleteContact:
                if (!pim_.delete_contact(id)) {
                    out.status(Status::NotFound).s16(u"no such contact");
                    return true;
                }
                out.status(Status::Ok).u32(id);
                return true;
            case PimAction::AddSim: {
                if (!store::dialable_number(number)) return refuse("not a phone number");
                auto index = pim_.sim_add(name, number);
                if (!index) return refuse("the SIM card is full or its store failed");
                sim_changed(kSimNotifyPhoneBookStored, *index);
                out.status(Status::Ok).u32(*index);
                return true;
            }
        }
        (void)m;
        out.status(Status::BadRequest);
        return true;
    });
    host_.add_handler(Kind::PimRead, [this](ClientConn& c, Reader& in, Writer& out) {
        auto what = in.u32(), first = in.u32(), value = in.u32();
        if (!in.done()) return false;
        switch (what) {
            case 1: {
                if (!pim_.is_open()) {
                    out.status(Status::Failed);
                    return true;
                }
                auto entries = pim_.sim_entries();
                out.status(Status::Ok).u32(std::uint32_t(entries.size()));
                for (auto& e : entries) out.u32(e.index).s16(e.number).s16(e.name);
                return true;
            }
            case 2: {
                auto calls = pim_.calls(std::size_t(first) + std::min<std::uint32_t>(value, 1000));
                if (!calls) {
                    out.status(Status::Failed);
                    return true;
                }
                std::vector<const CallLogEntry*> page;
                std::size_t bytes = 64;
                for (std::size_t i = first; i < calls->size(); ++i) {
                    auto& e = (*calls)[i];
                    std::size_t size = 28 + 2 * (e.number.size() + e.name.size() + e.number_label.size());
                    if (bytes + size > wire::kMaxPacket - 256) break;
                    bytes += size;
                    page.push_back(&e);
                }
                out.status(Status::Ok).u32(std::uint32_t(page.size()));
                for (auto* e : page) out.u64(e->time).u64(e->end_time).u32(e->flags).s16(e->number).s16(e->name).s16(e->number_label);
                return true;
            }
            case 3: {
                auto* w = windows_.find(value);
                if (!w || w->client != c.id) {
                    out.status(Status::BadRequest);
                    return true;
                }
                sim_listeners_[c.id] = value;
                out.status(Status::Ok);
                return true;
            }
            case 4:
                sim_listeners_.erase(c.id);
                out.status(Status::Ok);
                return true;
        }
        out.status(Status::BadRequest);
        return true;
    });
}

}  // namespace lumo::host
