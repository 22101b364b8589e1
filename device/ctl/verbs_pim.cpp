// Messages, appointments, tasks, alarms and reminders of the phone's stores.
#include <bit>
#include <cmath>
#include <cstdio>

#include "ctl.h"
#include "lumo/platform/pim.h"
#include "lumo/platform/text.h"

namespace lumo::ctl {

using platform::to_u16;
using platform::to_utf8;
using wire::Kind;
using wire::Reader;
using wire::Status;

namespace {

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

int deliver(Ctl& ctl, std::uint32_t kind, const std::string& account, const std::string& from,
            const std::string& address, const std::string& subject) {
    auto& w = ctl.begin(Kind::MsgDeliver);
    w.u32(kind).s16(to_u16(account)).s16(to_u16(from)).s16(to_u16(address)).s16(to_u16(subject));
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the message stores refused the message: " + why(r.status));
    std::printf("%u\n", reply_u32(r));
    return kDone;
}

int simple(Ctl& ctl, wire::Writer& w, const std::string& what) {
    auto r = ctl.call(w);
    if (r.status == Status::NotFound) fail(what + " does not exist");
    if (r.status != Status::Ok) fail("the stores refused: " + why(r.status));
    return kDone;
}

double date_arg(const std::string& s, const char* what) {
    bool has_time = false;
    auto t = parse_local_time(s, &has_time);
    if (!t) usage(std::string(what) + " wants YYYY-MM-DD[THH:MM[:SS]], not '" + s + "'");
    return platform::variant_from_local(*t);
}

}  // namespace

std::optional<platform::LocalTime> parse_local_time(const std::string& s, bool* has_time) {
    int y, mo, d, h = 0, mi = 0, sec = 0;
    char tail = 0;
    int n = std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d%c", &y, &mo, &d, &h, &mi, &sec, &tail);
    if (n == 3) {
        // A bare date: nothing may follow it.
        char extra = 0;
        if (std::sscanf(s.c_str(), "%*d-%*d-%*d%c", &extra) == 1) return std::nullopt;
    }
    if (!(n == 3 || n == 5 || n == 6) || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 ||
        mi < 0 || mi > 59 || sec < 0 || sec > 59 || y < 1601 || y > 30827)
        return std::nullopt;
    platform::LocalTime t;
    t.year = std::uint16_t(y);
    t.month = std::uint16_t(mo);
    t.day = std::uint16_t(d);
    t.hour = std::uint16_t(h);
    t.minute = std::uint16_t(mi);
    t.second = std::uint16_t(sec);
    // A day the month does not have (the 31st of April) is refused, not moved on.
    if (platform::local_from_variant(platform::variant_from_local(t)).day != t.day) return std::nullopt;
    if (has_time) *has_time = n > 3;
    return t;
}

int verb_message_send(Ctl& ctl, const Args& a) {
    if (a.verb == "sms") return deliver(ctl, 1, "", a.at(0), "", a.at(1));
    if (a.verb == "mms") return deliver(ctl, 2, "", a.at(0), "", a.at(1));
    auto address = a.has("--address") ? a.opts.at("--address") : std::string();
    if (a.at(0).empty()) usage("email send wants an ACCOUNT name");
    return deliver(ctl, 3, a.at(0), a.at(1), address, a.at(2));
}

int verb_voicemail(Ctl& ctl, const Args& a) {
    auto& w = ctl.begin(Kind::PimVoicemail);
    w.u32(parse_number(a.at(0), "N"));
    return simple(ctl, w, "voice mail");
}

int verb_appointment_add(Ctl& ctl, const Args& a) {
    double start = date_arg(a.at(1), "START");
    double end = date_arg(a.at(2), "END");
    const bool all_day = a.has("--all-day");
    if (all_day) {
        // Whole days: START's day to END's day, both included.
        start = std::floor(start);
        end = std::floor(end) + 1;
    }
    if (end < start) usage("END comes before START");
    auto& w = ctl.begin(Kind::PimAddAppointment);
    auto location = a.has("--location") ? a.opts.at("--location") : std::string();
    w.s16(to_u16(a.at(0))).s16(to_u16(location)).u64(bits(start)).u64(bits(end));
    w.u32(all_day ? 1 : 0).u32(a.has("--yearly") ? std::uint32_t(platform::RecurrenceType::Yearly) : 0);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the calendar refused the appointment: " + why(r.status));
    std::printf("%u\n", reply_u32(r));
    return kDone;
}

int verb_appointment_list(Ctl& ctl, const Args&) {
    std::uint32_t offset = 0;
    for (;;) {
        auto& w = ctl.begin(Kind::PimQuery);
        w.u32(platform::kFolderCalendar).s16(u"").s16(u"[Start]").u32(0).u32(offset);
        auto r = ctl.call(w);
        if (r.status != Status::Ok) fail("the calendar does not answer: " + why(r.status));
        Reader rd(r.body);
        auto total = rd.u32();
        auto count = rd.u32();
        for (std::uint32_t i = 0; i < count && rd.ok(); ++i) {
            auto id = rd.u32();
            auto subject = to_utf8(rd.s16());
            auto location = to_utf8(rd.s16());
            auto start = platform::local_from_variant(std::bit_cast<double>(rd.u64()));
            auto end = platform::local_from_variant(std::bit_cast<double>(rd.u64()));
            auto all_day = rd.u32();
            auto recurrence = rd.u32();
            rd.u64();
            if (!rd.ok()) break;
            std::printf("%u\t%04d-%02d-%02dT%02d:%02d\t%04d-%02d-%02dT%02d:%02d\t%s%s\t%s\t%s\n", id, start.year,
                        start.month, start.day, start.hour, start.minute, end.year, end.month, end.day, end.hour,
                        end.minute, all_day ? "all-day" : "timed",
                        recurrence == std::uint32_t(platform::RecurrenceType::Yearly) ? ",yearly" : "",
                        subject.c_str(), location.c_str());
        }
        if (!rd.ok()) fail("the calendar's answer is garbled");
        offset += count;
        if (count == 0 || offset >= total) return kDone;
    }
}

int verb_appointment_delete(Ctl& ctl, const Args& a) {
    auto& w = ctl.begin(Kind::PimDeleteAppointment);
    w.u32(parse_number(a.at(0), "ID"));
    return simple(ctl, w, "appointment " + a.at(0));
}

int verb_task_add(Ctl& ctl, const Args& a) {
    bool has_due = a.has("--due");
    double due = has_due ? std::floor(date_arg(a.opts.at("--due"), "--due")) : 0;
    std::uint32_t importance = a.has("--importance") ? parse_number(a.opts.at("--importance"), "IMPORTANCE") : 1;
    auto& w = ctl.begin(Kind::PimAddTask);
    w.s16(to_u16(a.at(0))).u32(has_due ? 1 : 0).u64(bits(due)).u32(importance);
    auto r = ctl.call(w);
    if (r.status != Status::Ok) fail("the task list refused the task: " + why(r.status));
    std::printf("%u\n", reply_u32(r));
    return kDone;
}

int verb_task_complete(Ctl& ctl, const Args& a) {
    auto& w = ctl.begin(Kind::PimCompleteTask);
    w.u32(parse_number(a.at(0), "ID"));
    return simple(ctl, w, "task " + a.at(0));
}

int verb_alarm(Ctl& ctl, const Args& a) {
    std::optional<platform::LocalTime> t;
    if (a.at(0) != "off") {
        t = parse_local_time(a.at(0), nullptr);
        if (!t) usage("alarm set wants YYYY-MM-DDTHH:MM[:SS] or off, not '" + a.at(0) + "'");
    }
    auto& w = ctl.begin(Kind::PimAlarm);
    w.u32(t ? 1 : 0).u64(t ? platform::local_to_file_time(*t) : 0);
    return simple(ctl, w, "the alarm");
}

int verb_reminder(Ctl& ctl, const Args& a) {
    auto& w = ctl.begin(Kind::PimReminder);
    if (a.sub == "fire") {
        auto location = a.has("--location") ? a.opts.at("--location") : std::string();
        w.u32(1).s16(to_u16(a.at(0))).s16(to_u16(location));
    } else {
        w.u32(0).s16(u"").s16(u"");
    }
    return simple(ctl, w, "the reminder");
}

}  // namespace lumo::ctl
