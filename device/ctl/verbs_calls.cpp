// Calls, contacts, the SIM phone book and the call log: the network's and the phone user's side
// of the simulated phone's telephony, modelled on an emulator console's gsm commands.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

#include "ctl.h"
#include "lumo/platform/contacts.h"
#include "lumo/platform/telephony.h"
#include "lumo/platform/text.h"

namespace lumo::ctl {

using platform::to_u16;
using platform::to_utf8;
using wire::GsmAction;
using wire::Kind;
using wire::PimAction;
using wire::Reader;
using wire::Status;

namespace {

constexpr std::size_t kMaxPictureBytes = 60000;

const char* state_word(std::uint32_t state) {
    switch (state) {
        case platform::kCallStateOffering: return "incoming";
        case platform::kCallStateAccepted: return "accepted";
        case platform::kCallStateDialing: return "dialing";
        case platform::kCallStateRingBack: return "ringback";
        case platform::kCallStateBusy: return "busy";
        case platform::kCallStateConnected: return "connected";
        case platform::kCallStateOnHold: return "onhold";
        case platform::kCallStateDisconnected: return "disconnected";
        case platform::kCallStateIdle: return "idle";
    }
    return "unknown";
}

// Prints the reason a refusal carries and ends with status 1.
[[noreturn]] void refused(const wire::Client::Reply& r, const std::string& what) {
    Reader rd(r.body);
    auto reason = rd.s16();
    fail(what + ": " + (rd.ok() && !reason.empty() ? to_utf8(reason) : why(r.status)));
}

int gsm(Ctl& ctl, GsmAction action, std::uint32_t call, std::uint32_t flags, std::uint32_t delay,
        const std::string& number, const std::string& name, const std::string& prop) {
    auto& w = ctl.begin(Kind::GsmControl);
    w.u32(static_cast<std::uint32_t>(action)).u32(call).u32(flags).u32(delay);
    w.s16(to_u16(number)).s16(to_u16(name)).s16(to_u16(prop));
    auto r = ctl.call(w);
    if (r.status != Status::Ok) refused(r, "the phone refused");
    std::printf("%u\n", reply_u32(r));
    return kDone;
}

std::vector<std::uint8_t> read_picture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) usage("cannot read the picture '" + path + "'");
    std::vector<std::uint8_t> bytes;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buf, buf + in.gcount());
        if (bytes.size() > kMaxPictureBytes)
            usage("the picture '" + path + "' is larger than " + std::to_string(kMaxPictureBytes) + " bytes");
    }
    auto starts = [&](std::initializer_list<std::uint8_t> magic) {
        return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
    };
    if (!starts({0x89, 'P', 'N', 'G'}) && !starts({0xFF, 0xD8, 0xFF}) && !starts({'G', 'I', 'F', '8'}) &&
        !starts({'B', 'M'}))
        usage("'" + path + "' is not a PNG, JPEG, GIF or BMP picture");
    return bytes;
}

}  // namespace

int verb_gsm(Ctl& ctl, const Args& a) {
    const bool by_id = a.sub != "call" && a.sub != "dial";
    std::uint32_t call = by_id && a.count() ? parse_number(a.at(0), "CALL") : 0;
    if (a.sub == "call") {
        std::uint32_t flags = (a.has("--no-caller-id") ? wire::kGsmNoCallerId : 0) |
                              (a.has("--out-of-area") ? wire::kGsmOutOfArea : 0);
        std::uint32_t delay = a.has("--id-after") ? parse_number(a.opts.at("--id-after"), "MS") : 0;
        auto name = a.has("--name") ? a.opts.at("--name") : std::string();
        auto prop = a.has("--prop") ? a.opts.at("--prop") : std::string();
        return gsm(ctl, GsmAction::Call, 0, flags, delay, a.at(0), name, prop);
    }
    if (a.sub == "dial") return gsm(ctl, GsmAction::Dial, 0, 0, 0, a.at(0), "", "");
    if (a.sub == "accept") return gsm(ctl, GsmAction::Accept, call, 0, 0, "", "", "");
    if (a.sub == "busy") return gsm(ctl, GsmAction::Busy, call, 0, 0, "", "", "");
    if (a.sub == "cancel") return gsm(ctl, GsmAction::Cancel, call, 0, 0, "", "", "");
    if (a.sub == "hold") return gsm(ctl, GsmAction::Hold, call, 0, 0, "", "", "");
    usage("gsm " + a.sub + " is not a gsm command");
}

int verb_gsm_list(Ctl& ctl, const Args&) {
    auto& w = ctl.begin(Kind::GsmList);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the device has no telephony");
    Reader rd(r.body);
    auto n = rd.u32();
    for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
        auto id = rd.u32(), state = rd.u32(), inbound = rd.u32();
        auto number = to_utf8(rd.s16());
        auto name = to_utf8(rd.s16());
        auto flags = rd.u32(), secs = rd.u32();
        if (!rd.ok()) break;
        std::printf("%u\t%s\t%s\t%s\t%s\t0x%X\t%u\n", id, state_word(state), inbound ? "inbound" : "outbound",
                    number.c_str(), name.c_str(), flags, secs);
    }
    return kDone;
}

int verb_contact(Ctl& ctl, const Args& a) {
    if (a.sub == "list") {
        std::uint32_t shown = 0, total = 0;
        do {
            auto& w = ctl.begin(Kind::ContactList);
            w.u32(shown);
            auto r = ctl.call(w);
            if (r.status != Status::Ok) fail("the contacts cannot be read");
            Reader rd(r.body);
            total = rd.u32();
            auto n = rd.u32();
            for (std::uint32_t i = 0; i < n && rd.ok(); ++i, ++shown) {
                auto id = rd.u32();
                auto name = to_utf8(rd.s16());
                auto email = to_utf8(rd.s16());
                auto pic = rd.u32();
                auto count = rd.u32();
                std::string numbers;
                for (std::uint32_t k = 0; k < count && rd.ok(); ++k) {
                    auto label = to_utf8(rd.s16());
                    auto number = to_utf8(rd.s16());
                    if (!numbers.empty()) numbers += ",";
                    numbers += number + " (" + label + ")";
                }
                std::printf("%u\t%s\t%s\t%s\t%s\n", id, name.c_str(), numbers.c_str(), email.c_str(),
                            pic ? "picture" : "-");
            }
            if (!rd.ok() || n == 0) break;
        } while (shown < total);
        return kDone;
    }
    std::uint32_t id = 0;
    std::vector<std::uint8_t> picture;
    std::string name, number, email;
    PimAction action = PimAction::AddContact;
    if (a.sub == "add") {
        name = a.at(0);
        number = a.at(1);
        if (name.empty()) usage("a contact needs a NAME");
        if (a.has("--email")) email = a.opts.at("--email");
        if (a.has("--picture")) picture = read_picture(a.opts.at("--picture"));
    } else {
        action = PimAction::DeleteContact;
        id = parse_number(a.at(0), "ID");
    }
    auto& w = ctl.begin(Kind::PimControl);
    w.u32(static_cast<std::uint32_t>(action)).u32(id).s16(to_u16(name)).s16(to_u16(number)).s16(to_u16(email));
    w.bin(std::as_bytes(std::span(picture)));
    auto r = ctl.call(w);
    if (r.status != Status::Ok) refused(r, "the contact was not " + std::string(a.sub == "add" ? "added" : "deleted"));
    std::printf("%u\n", reply_u32(r));
    return kDone;
}

int verb_sim(Ctl& ctl, const Args& a) {
    if (a.sub == "list") {
        auto& w = ctl.begin(Kind::PimRead);
        w.u32(1).u32(0).u32(0);
        auto r = ctl.call(w);
        if (r.status != Status::Ok) fail("the SIM cannot be read");
        Reader rd(r.body);
        auto n = rd.u32();
        for (std::uint32_t i = 0; i < n && rd.ok(); ++i) {
            auto index = rd.u32();
            auto number = to_utf8(rd.s16());
            auto name = to_utf8(rd.s16());
            if (rd.ok()) std::printf("%u\t%s\t%s\n", index, name.c_str(), number.c_str());
        }
        return kDone;
    }
    auto& w = ctl.begin(Kind::PimControl);
    w.u32(static_cast<std::uint32_t>(PimAction::AddSim)).u32(0).s16(to_u16(a.at(0))).s16(to_u16(a.at(1))).s16(u"");
    w.bin({});
    auto r = ctl.call(w);
    if (r.status != Status::Ok) refused(r, "the SIM entry was not stored");
    std::printf("%u\n", reply_u32(r));
    return kDone;
}

int verb_calllog(Ctl& ctl, const Args& a) {
    std::uint32_t max = a.has("--max") ? parse_number(a.opts.at("--max"), "COUNT") : 50;
    std::uint32_t shown = 0;
    while (shown < max) {
        auto& w = ctl.begin(Kind::PimRead);
        w.u32(2).u32(shown).u32(max - shown);
        auto r = ctl.call(w);
        if (r.status != Status::Ok) fail("the call log cannot be read");
        Reader rd(r.body);
        auto n = rd.u32();
        for (std::uint32_t i = 0; i < n && rd.ok(); ++i, ++shown) {
            auto time = rd.u64();
            rd.u64();
            auto flags = rd.u32();
            auto number = to_utf8(rd.s16());
            auto name = to_utf8(rd.s16());
            auto label = to_utf8(rd.s16());
            if (!rd.ok()) break;
            // File time (100 ns since 1601) to the device's local clock.
            std::time_t secs = std::time_t(time / 10000000ULL) - 11644473600LL;
            std::tm tm{};
            gmtime_r(&secs, &tm);
            char when[32];
            std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
            const char* kind = platform::call_log_missed(flags)                          ? "missed"
                               : (flags & platform::kCallLogOutgoing) ? "outgoing"
                                                                                         : "incoming";
            std::printf("%s\t0x%X\t%s\t%s\t%s\t%s\n", when, flags, kind, number.c_str(), name.c_str(), label.c_str());
        }
        if (!rd.ok() || n == 0) break;
    }
    return kDone;
}

}  // namespace lumo::ctl
