// The calendar, tasks and message stores through the device host, which keeps them.
#include <bit>

#include "internal.h"
#include "lumo/platform/pim.h"
#include "lumo/platform/text.h"
#include "lumo/wire/protocol.h"

namespace lumo::platform::device {
namespace {

using wire::Kind;
using wire::Reader;
using wire::Status;

double f64(Reader& rd) { return std::bit_cast<double>(rd.u64()); }

class DevicePim final : public Pim {
  public:
    explicit DevicePim(wire::Client& c) : c_(c) {}

    std::optional<PimItems<PimAppointment>> appointments(const PimQuery& q, std::string* error) override {
        PimItems<PimAppointment> out;
        bool ok = query(kFolderCalendar, q, error, [&](Reader& rd) {
            PimAppointment a;
            a.id = rd.u32();
            a.subject = rd.s16();
            a.location = rd.s16();
            a.start = f64(rd);
            a.end = f64(rd);
            a.all_day = rd.u32() != 0;
            auto type = rd.u32();
            a.recurrence = type <= 4 ? RecurrenceType(type) : RecurrenceType::None;
            a.recurring = a.recurrence != RecurrenceType::None;
            a.pattern_start = f64(rd);
            if (rd.ok()) out.items.push_back(std::move(a));
        });
        if (!ok) return std::nullopt;
        return out;
    }

    std::optional<PimItems<PimTask>> tasks(const PimQuery& q, std::string* error) override {
        PimItems<PimTask> out;
        bool ok = query(kFolderTasks, q, error, [&](Reader& rd) {
            PimTask t;
            t.id = rd.u32();
            t.subject = rd.s16();
            bool has_due = rd.u32() != 0;
            double due = f64(rd);
            if (has_due) t.due = due;
            t.importance = rd.u32();
            t.complete = rd.u32() != 0;
            if (rd.ok()) out.items.push_back(std::move(t));
        });
        if (!ok) return std::nullopt;
        return out;
    }

    bool notify_changes(std::uint32_t folder, Hwnd window) override {
        auto& w = c_.begin(Kind::PimNotify);
        w.u32(folder).u32(window);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

  private:
    // Pages through the folder's items: the host answers as many as fit in one packet.
    template <class ReadItem>
    bool query(std::uint32_t folder, const PimQuery& q, std::string* error, ReadItem read_item) {
        std::uint32_t offset = 0;
        for (;;) {
            auto& w = c_.begin(Kind::PimQuery);
            w.u32(folder).s16(q.restriction).s16(q.sort).u32(q.include_recurrences ? 1 : 0).u32(offset);
            auto r = c_.call(w);
            if (!r) {
                if (error) *error = "the device does not answer";
                return false;
            }
            Reader rd(r->body);
            if (r->status != Status::Ok) {
                if (error) *error = r->status == Status::BadRequest ? to_utf8(rd.s16()) : "the store refused";
                return false;
            }
            auto total = rd.u32();
            auto count = rd.u32();
            for (std::uint32_t i = 0; i < count && rd.ok(); ++i) read_item(rd);
            if (!rd.ok()) {
                if (error) *error = "the store's answer is garbled";
                return false;
            }
            offset += count;
            if (offset >= total || count == 0) return true;
        }
    }

    wire::Client& c_;
};

class DeviceMessaging final : public Messaging {
  public:
    explicit DeviceMessaging(wire::Client& c) : c_(c) {}

    std::vector<MessageStoreInfo> stores() override {
        std::vector<MessageStoreInfo> out;
        auto& w = c_.begin(Kind::MsgStores);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return out;
        Reader rd(r->body);
        auto count = rd.u32();
        for (std::uint32_t i = 0; i < count && rd.ok(); ++i) {
            MessageStoreInfo s;
            s.entry_id = rd.u32();
            s.display_name = rd.s16();
            if (rd.ok()) out.push_back(std::move(s));
        }
        return out;
    }

    std::optional<MessageRow> read_row(std::uint32_t store, std::uint32_t index) override {
        auto& w = c_.begin(Kind::MsgReadRow);
        w.u32(store).u32(index);
        auto r = c_.call(w);
        if (!r || r->status != Status::Ok) return std::nullopt;
        Reader rd(r->body);
        MessageRow row;
        row.entry_id = rd.u32();
        row.sender = rd.s16();
        row.subject = rd.s16();
        row.sender_email = rd.s16();
        row.delivery_time = rd.u64();
        row.flags = rd.u32();
        if (!rd.ok()) return std::nullopt;
        return row;
    }

    bool set_flags(std::uint32_t store, std::uint32_t entry, std::uint32_t flags) override {
        auto& w = c_.begin(Kind::MsgSetFlags);
        w.u32(store).u32(entry).u32(flags);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

    bool display_message(std::uint32_t store, std::uint32_t entry) override {
        auto& w = c_.begin(Kind::MsgDisplay);
        w.u32(store).u32(entry);
        auto r = c_.call(w);
        return r && r->status == Status::Ok;
    }

  private:
    wire::Client& c_;
};

}  // namespace

std::unique_ptr<Pim> make_pim(wire::Client& c) { return std::make_unique<DevicePim>(c); }
std::unique_ptr<Messaging> make_messaging(wire::Client& c) { return std::make_unique<DeviceMessaging>(c); }

}  // namespace lumo::platform::device
