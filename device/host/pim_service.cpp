#include "pim_service.h"

#include "lumo/store/shell_notifications.h"

#include <sqlite3.h>

#include <bit>
#include <filesystem>
#include <cmath>
#include <cstdlib>

#include "lumo/platform/registry.h"
#include "lumo/platform/text.h"
#include "lumo/store/pim_store.h"
#include "lumo/wire/protocol.h"
#include "process_service.h"
#include "simulated_programs.h"
#include "window_service.h"

namespace lumo::host {

using platform::RecurrenceType;
using store::CalendarItem;
using store::MessageKind;
using wire::Kind;
using wire::Reader;
using wire::Status;
using wire::Writer;

namespace {

constexpr int kApplicationId = 0x4C50494D;  // "LPIM"
// Replies stay well inside one packet; a longer text reaches programs cut (the lock screen shows
// at most 254 characters of any of them).
constexpr std::size_t kReplyBudget = 56 * 1024;
constexpr std::size_t kWireTextMax = 4096;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS appointments(id INTEGER PRIMARY KEY, subject BLOB, location BLOB,
    start REAL, finish REAL, all_day INTEGER, recurrence INTEGER, pattern_start REAL);
CREATE TABLE IF NOT EXISTS tasks(id INTEGER PRIMARY KEY, subject BLOB, has_due INTEGER, due REAL,
    importance INTEGER, complete INTEGER);
CREATE TABLE IF NOT EXISTS stores(id INTEGER PRIMARY KEY, kind INTEGER, name BLOB);
CREATE TABLE IF NOT EXISTS messages(id INTEGER PRIMARY KEY, store INTEGER, sender BLOB,
    email BLOB, subject BLOB, delivered INTEGER, flags INTEGER);
CREATE TABLE IF NOT EXISTS state(name TEXT PRIMARY KEY, num INTEGER, text BLOB);
)";

std::u16string_view cut(std::u16string_view s) { return s.substr(0, kWireTextMax); }
double f64(Reader& rd) { return std::bit_cast<double>(rd.u64()); }
std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

}  // namespace

// pim.db: one row per item; every change is written as it is made.
struct PimService::Db {
    sqlite3* db = nullptr;
    store::PimStore pim;
    std::string error;

    ~Db() {
        if (db) sqlite3_close(db);
    }

    bool exec(const char* sql) {
        char* msg = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
        error = msg ? msg : "failed";
        sqlite3_free(msg);
        return false;
    }

    // A statement with its parameters bound in order: numbers, reals and UTF-16 texts.
    struct Stmt {
        sqlite3_stmt* st = nullptr;
        int n = 0;
        explicit Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &st, nullptr); }
        ~Stmt() { sqlite3_finalize(st); }
        Stmt& i(std::int64_t v) { sqlite3_bind_int64(st, ++n, v); return *this; }
        Stmt& d(double v) { sqlite3_bind_double(st, ++n, v); return *this; }
        Stmt& t(std::u16string_view v) {
            sqlite3_bind_blob(st, ++n, v.data(), int(v.size() * 2), SQLITE_TRANSIENT);
            return *this;
        }
        bool run() { return st && sqlite3_step(st) == SQLITE_DONE; }
        bool row() { return st && sqlite3_step(st) == SQLITE_ROW; }
        std::int64_t ci(int c) { return sqlite3_column_int64(st, c); }
        double cd(int c) { return sqlite3_column_double(st, c); }
        std::u16string ct(int c) {
            auto* p = static_cast<const char16_t*>(sqlite3_column_blob(st, c));
            int bytes = sqlite3_column_bytes(st, c);
            return p ? std::u16string(p, std::size_t(bytes) / 2) : std::u16string();
        }
    };

    bool open(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            error = db ? sqlite3_errmsg(db) : "cannot open";
            return false;
        }
        sqlite3_busy_timeout(db, 2000);
        // Reading the schema is the first touch: a file that is not a database fails here.
        int tables = 0;
        std::int64_t app_id = 0;
        {
            Stmt probe(db, "SELECT count(*) FROM sqlite_master");
            if (!probe.row()) {
                error = "not a usable database (" + std::string(sqlite3_errmsg(db)) + "); it was left untouched";
                return false;
            }
            tables = int(probe.ci(0));
            Stmt app(db, "PRAGMA application_id");
            if (!app.row()) return false;
            app_id = app.ci(0);
        }
        if (tables > 0 && app_id != kApplicationId) {
            error = "a database of another program; it was left untouched";
            return false;
        }
        if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") || !exec(kSchema)) return false;
        if (tables == 0 && !exec("PRAGMA application_id=1280330061")) return false;
        return load();
    }

    bool load() {
        std::uint32_t top = 0;
        auto seen = [&top](std::int64_t id) { top = std::max(top, std::uint32_t(id)); };
        {
            Stmt s(db, "SELECT id, subject, location, start, finish, all_day, recurrence, pattern_start "
                       "FROM appointments ORDER BY id");
            std::vector<CalendarItem> items;
            while (s.row()) {
                CalendarItem a;
                a.id = std::uint32_t(s.ci(0));
                a.subject = s.ct(1);
                a.location = s.ct(2);
                a.start = s.cd(3);
                a.end = s.cd(4);
                a.all_day = s.ci(5) != 0;
                auto r = s.ci(6);
                a.recurrence = r >= 0 && r <= 4 ? RecurrenceType(r) : RecurrenceType::None;
                a.pattern_start = s.cd(7);
                seen(a.id);
                items.push_back(std::move(a));
            }
            for (auto& a : items) {
                auto id = a.id;
                pim.next_id = id;
                pim.add_appointment(std::move(a));
            }
        }
        {
            Stmt s(db, "SELECT id, subject, has_due, due, importance, complete FROM tasks ORDER BY id");
            std::vector<platform::PimTask> items;
            while (s.row()) {
                platform::PimTask t;
                t.id = std::uint32_t(s.ci(0));
                t.subject = s.ct(1);
                if (s.ci(2)) t.due = s.cd(3);
                t.importance = std::uint32_t(s.ci(4));
                t.complete = s.ci(5) != 0;
                seen(t.id);
                items.push_back(std::move(t));
            }
            for (auto& t : items) {
                pim.next_id = t.id;
                pim.add_task(std::move(t));
            }
        }
        {
            Stmt s(db, "SELECT id, kind, name FROM stores ORDER BY id");
            while (s.row()) {
                auto kind = MessageKind(s.ci(1));
                if (kind != MessageKind::Sms && kind != MessageKind::Mms && kind != MessageKind::Email) continue;
                auto& store = pim.store_for(kind, s.ct(2));
                store.id = std::uint32_t(s.ci(0));
                seen(store.id);
            }
            Stmt m(db, "SELECT id, store, sender, email, subject, delivered, flags FROM messages ORDER BY id");
            while (m.row()) {
                for (auto& st : const_cast<std::vector<store::MessageStore>&>(pim.message_stores())) {
                    if (st.id != std::uint32_t(m.ci(1))) continue;
                    store::MessageItem item;
                    item.id = std::uint32_t(m.ci(0));
                    item.sender = m.ct(2);
                    item.sender_email = m.ct(3);
                    item.subject = m.ct(4);
                    item.delivery_time = std::uint64_t(m.ci(5));
                    item.flags = std::uint32_t(m.ci(6));
                    seen(item.id);
                    st.messages.push_back(std::move(item));
                }
            }
        }
        {
            Stmt s(db, "SELECT name, num, text FROM state");
            while (s.row()) {
                std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s.st, 0));
                if (name == "alarm") pim.next_alarm = std::uint64_t(s.ci(1));
                else if (name == "voicemail") pim.voicemail = std::uint32_t(s.ci(1));
                else if (name == "account") pim.last_received_account = s.ct(2);
                else if (name == "reminder_subject") pim.reminder = store::Reminder{s.ct(2), {}, std::uint64_t(s.ci(1))};
                else if (name == "reminder_location" && pim.reminder) pim.reminder->location = s.ct(2);
            }
        }
        for (const auto& st : pim.message_stores()) seen(st.id);
        pim.next_id = top + 1;
        // Stores that a fresh database has not saved yet (SMS, MMS) are saved now.
        for (const auto& st : pim.message_stores()) save_store(st);
        return true;
    }

    void save_store(const store::MessageStore& st) {
        Stmt(db, "INSERT OR IGNORE INTO stores(id, kind, name) VALUES(?, ?, ?)").i(st.id).i(int(st.kind)).t(st.name).run();
    }
};

namespace {

void save_state(sqlite3* db, const char* name, std::int64_t num, std::u16string_view text) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db,
                           "INSERT INTO state(name, num, text) VALUES(?1, ?2, ?3) "
                           "ON CONFLICT(name) DO UPDATE SET num = ?2, text = ?3",
                           -1, &st, nullptr) != SQLITE_OK)
        return;
    sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_int64(st, 2, num);
    sqlite3_bind_blob(st, 3, text.data(), int(text.size() * 2), SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_finalize(st);
}

void delete_state(sqlite3* db, const char* name) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "DELETE FROM state WHERE name = ?1", -1, &st, nullptr) != SQLITE_OK) return;
    sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
    sqlite3_step(st);
    sqlite3_finalize(st);
}

void write_appointment(Writer& out, const platform::PimAppointment& a) {
    out.u32(a.id).s16(cut(a.subject)).s16(cut(a.location)).u64(bits(a.start)).u64(bits(a.end));
    out.u32(a.all_day ? 1 : 0).u32(std::uint32_t(a.recurrence)).u64(bits(a.pattern_start));
}

void write_task(Writer& out, const platform::PimTask& t) {
    out.u32(t.id).s16(cut(t.subject)).u32(t.due ? 1 : 0).u64(bits(t.due.value_or(0)));
    out.u32(t.importance).u32(t.complete ? 1 : 0);
}

std::size_t text_bytes(const std::u16string& s) { return std::min(s.size(), kWireTextMax) * 2 + 4; }
std::size_t item_bytes(const platform::PimAppointment& a) { return 48 + text_bytes(a.subject) + text_bytes(a.location); }
std::size_t item_bytes(const platform::PimTask& t) { return 32 + text_bytes(t.subject); }

// Writes items from `offset` while they fit one reply.
template <class Items, class WriteItem>
void write_page(Writer& out, const Items& items, std::uint32_t offset, WriteItem write_item) {
    std::uint32_t total = std::uint32_t(items.size());
    std::uint32_t count = 0;
    std::size_t bytes = 0;
    for (std::uint32_t i = offset; i < total; ++i) {
        bytes += item_bytes(items[i]);
        if (bytes > kReplyBudget && count > 0) break;
        ++count;
    }
    out.status(Status::Ok).u32(total).u32(count);
    for (std::uint32_t i = offset; i < offset + count; ++i) write_item(out, items[i]);
}

}  // namespace

PimService::PimService(Host& host, WindowService& windows, ProcessService& processes)
    : host_(host), windows_(windows), processes_(processes), db_(std::make_unique<Db>()) {
    db_->pim.set_poster([this](platform::Hwnd h, std::uint32_t msg, std::uint32_t folder) {
        if (!windows_.post(h, msg, 0, platform::LParam(folder))) db_->pim.unsubscribe_window(h);
    });
    auto& pim = db_->pim;
    auto* db = &db_;
    // The shell's notification window dismisses the reminder (WM_COMMAND 0x200B).
    set_reminder_dismiss([this] { host_.schedule(0, [this] { dismiss_reminder(); }); });
    set_message_lookup([&pim](std::u16string_view args) -> std::optional<std::u16string> {
        auto at = args.find(u"-mid ");
        if (at == std::u16string_view::npos) return std::nullopt;
        auto id = std::strtoul(platform::to_utf8(args.substr(at + 5)).c_str(), nullptr, 10);
        for (const auto& st : pim.message_stores())
            for (const auto& m : st.messages)
                if (m.id == id) {
                    std::u16string text = u"From: " + m.sender;
                    if (!m.sender_email.empty()) text += u" <" + m.sender_email + u">";
                    return text + u": " + m.subject;
                }
        return std::nullopt;
    });
    auto changed = [this] { publish(); };

    host.add_handler(Kind::PimQuery, [&pim](ClientConn&, Reader& in, Writer& out) {
        auto folder = in.u32();
        platform::PimQuery q;
        q.restriction = in.s16();
        q.sort = in.s16();
        q.include_recurrences = in.u32() != 0;
        auto offset = in.u32();
        if (!in.done()) return false;
        std::string error;
        if (folder == platform::kFolderCalendar) {
            auto items = pim.query_appointments(q, &error);
            if (!items) {
                out.status(Status::BadRequest).s16(platform::to_u16(error));
                return true;
            }
            write_page(out, items->items, offset, write_appointment);
        } else if (folder == platform::kFolderTasks) {
            auto items = pim.query_tasks(q, &error);
            if (!items) {
                out.status(Status::BadRequest).s16(platform::to_u16(error));
                return true;
            }
            write_page(out, items->items, offset, write_task);
        } else {
            out.status(Status::NotFound);
        }
        return true;
    });
    host.add_handler(Kind::PimNotify, [&pim](ClientConn&, Reader& in, Writer& out) {
        auto folder = in.u32();
        auto hwnd = in.u32();
        if (!in.done()) return false;
        if (folder != platform::kFolderCalendar && folder != platform::kFolderTasks) {
            out.status(Status::NotFound);
            return true;
        }
        pim.subscribe(folder, hwnd);
        out.status(Status::Ok);
        return true;
    });
    host.add_handler(Kind::MsgStores, [&pim](ClientConn&, Reader& in, Writer& out) {
        if (!in.done()) return false;
        const auto& stores = pim.message_stores();
        out.status(Status::Ok).u32(std::uint32_t(stores.size()));
        for (const auto& s : stores) out.u32(s.id).s16(cut(s.name));
        return true;
    });
    host.add_handler(Kind::MsgReadRow, [&pim](ClientConn&, Reader& in, Writer& out) {
        auto store = in.u32();
        auto index = in.u32();
        if (!in.done()) return false;
        auto row = pim.read_row(store, index);
        if (!row) {
            out.status(Status::NotFound);
            return true;
        }
        out.status(Status::Ok).u32(row->entry_id).s16(cut(row->sender)).s16(cut(row->subject));
        out.s16(cut(row->sender_email)).u64(row->delivery_time).u32(row->flags);
        return true;
    });
    host.add_handler(Kind::MsgSetFlags, [&pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        auto store = in.u32();
        auto entry = in.u32();
        auto flags = in.u32();
        if (!in.done()) return false;
        if (!pim.set_flags(store, entry, flags)) {
            out.status(Status::NotFound);
            return true;
        }
        Db::Stmt((*db)->db, "UPDATE messages SET flags = ? WHERE id = ?").i(flags).i(entry).run();
        changed();
        out.status(Status::Ok);
        return true;
    });
    host.add_handler(Kind::MsgDisplay, [this, &pim](ClientConn&, Reader& in, Writer& out) {
        auto store = in.u32();
        auto entry = in.u32();
        if (!in.done()) return false;
        const store::MessageStore* found = nullptr;
        for (const auto& s : pim.message_stores())
            if (s.id == store) found = &s;
        const auto* m = pim.find_message(store, entry);
        if (!found || !m) {
            out.status(Status::NotFound);
            return true;
        }
        // The mail program is asked as the phone's MailDisplayMessage asks it.
        auto args = u"-service \"" + found->name + u"\" -mid " + platform::to_u16(std::to_string(entry));
        out.status(processes_.start(u"\\Windows\\tmail.exe", args, true) ? Status::Ok : Status::Failed);
        return true;
    });
    host.add_handler(Kind::PimAddAppointment, [&pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        CalendarItem a;
        a.subject = in.s16();
        a.location = in.s16();
        a.start = f64(in);
        a.end = f64(in);
        a.all_day = in.u32() != 0;
        auto recurrence = in.u32();
        if (!in.done()) return false;
        if (!std::isfinite(a.start) || !std::isfinite(a.end) || a.end < a.start || recurrence > 4) {
            out.status(Status::BadRequest);
            return true;
        }
        a.recurrence = RecurrenceType(recurrence);
        auto id = pim.add_appointment(a);
        const auto& saved = pim.calendar().back();
        Db::Stmt((*db)->db,
                 "INSERT INTO appointments(id, subject, location, start, finish, all_day, recurrence, "
                 "pattern_start) VALUES(?, ?, ?, ?, ?, ?, ?, ?)")
            .i(id).t(saved.subject).t(saved.location).d(saved.start).d(saved.end).i(saved.all_day)
            .i(int(saved.recurrence)).d(saved.pattern_start).run();
        changed();
        out.status(Status::Ok).u32(id);
        return true;
    });
    host.add_handler(Kind::PimDeleteAppointment, [&pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        auto id = in.u32();
        if (!in.done()) return false;
        if (!pim.delete_appointment(id)) {
            out.status(Status::NotFound);
            return true;
        }
        Db::Stmt((*db)->db, "DELETE FROM appointments WHERE id = ?").i(id).run();
        changed();
        out.status(Status::Ok);
        return true;
    });
    host.add_handler(Kind::PimAddTask, [&pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        platform::PimTask t;
        t.subject = in.s16();
        bool has_due = in.u32() != 0;
        double due = f64(in);
        t.importance = in.u32();
        if (!in.done()) return false;
        if (t.importance > 2 || (has_due && !std::isfinite(due))) {
            out.status(Status::BadRequest);
            return true;
        }
        if (has_due) t.due = due;
        auto id = pim.add_task(t);
        Db::Stmt((*db)->db, "INSERT INTO tasks(id, subject, has_due, due, importance, complete) VALUES(?, ?, ?, ?, ?, 0)")
            .i(id).t(t.subject).i(has_due).d(due).i(t.importance).run();
        changed();
        out.status(Status::Ok).u32(id);
        return true;
    });
    host.add_handler(Kind::PimCompleteTask, [&pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        auto id = in.u32();
        if (!in.done()) return false;
        if (!pim.complete_task(id)) {
            out.status(Status::NotFound);
            return true;
        }
        Db::Stmt((*db)->db, "UPDATE tasks SET complete = 1 WHERE id = ?").i(id).run();
        changed();
        out.status(Status::Ok);
        return true;
    });
    host.add_handler(Kind::MsgDeliver, [this, &pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        auto kind = in.u32();
        auto account = in.s16();
        store::MessageItem m;
        m.sender = in.s16();
        m.sender_email = in.s16();
        m.subject = in.s16();
        if (!in.done()) return false;
        if (kind < 1 || kind > 3 || (kind == 3 && account.empty())) {
            out.status(Status::BadRequest);
            return true;
        }
        auto ms = processes_.local_now_ms();
        m.delivery_time = std::uint64_t(ms + 11644473600000LL) * 10000u;
        auto& st = pim.store_for(MessageKind(kind), account);
        (*db)->save_store(st);
        auto id = pim.deliver(MessageKind(kind), account, m);
        Db::Stmt((*db)->db, "INSERT INTO messages(id, store, sender, email, subject, delivered, flags) VALUES(?, ?, ?, ?, ?, ?, 0)")
            .i(id).i(st.id).t(m.sender).t(m.sender_email).t(m.subject).i(std::int64_t(m.delivery_time)).run();
        if (kind == 3) save_state((*db)->db, "account", 0, pim.last_received_account);
        host_.log().printf("message %u arrived in %s", id, platform::to_utf8(st.name).c_str());
        // The shell's bubble for the new message.
        static constexpr std::u16string_view kClasses[] = {store::kSmsNotificationClass, store::kMmsNotificationClass,
                                                          store::kEmailNotificationClass};
        store::add_shell_notification(host_.registry(), kClasses[kind - 1]);
        changed();
        out.status(Status::Ok).u32(id);
        return true;
    });
    host.add_handler(Kind::PimVoicemail, [&pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        auto n = in.u32();
        if (!in.done()) return false;
        pim.voicemail = n;
        save_state((*db)->db, "voicemail", n, u"");
        changed();
        out.status(Status::Ok);
        return true;
    });
    host.add_handler(Kind::PimAlarm, [&pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        auto on = in.u32();
        auto when = in.u64();
        if (!in.done()) return false;
        if (on) {
            pim.next_alarm = when;
            save_state((*db)->db, "alarm", std::int64_t(when), u"");
        } else {
            pim.next_alarm.reset();
            delete_state((*db)->db, "alarm");
        }
        changed();
        out.status(Status::Ok);
        return true;
    });
    host.add_handler(Kind::PimReminder, [this, &pim, db, changed](ClientConn&, Reader& in, Writer& out) {
        auto fire = in.u32();
        auto subject = in.s16();
        auto location = in.s16();
        if (!in.done()) return false;
        if (fire) {
            auto ms = processes_.local_now_ms();
            pim.reminder = store::Reminder{subject, location, std::uint64_t(ms + 11644473600000LL) * 10000u};
            save_state((*db)->db, "reminder_subject", std::int64_t(pim.reminder->time), subject);
            save_state((*db)->db, "reminder_location", 0, location);
            store::clear_shell_notifications(host_.registry(), store::kReminderNotificationClass);
            store::add_shell_notification(host_.registry(), store::kReminderNotificationClass);
        } else {
            dismiss_reminder();
            out.status(Status::Ok);
            return true;
        }
        changed();
        out.status(Status::Ok);
        return true;
    });
}

PimService::~PimService() {
    set_message_lookup({});
    set_reminder_dismiss({});
}

void PimService::dismiss_reminder() {
    db_->pim.reminder.reset();
    delete_state(db_->db, "reminder_subject");
    delete_state(db_->db, "reminder_location");
    store::clear_shell_notifications(host_.registry(), store::kReminderNotificationClass);
    host_.log().printf("reminder dismissed");
    publish();
}

bool PimService::open(std::string* error) {
    auto path = (std::filesystem::path(host_.options().dir) / "pim.db").string();
    if (!db_->open(path)) {
        if (error) *error = path + ": " + db_->error;
        // The stores run in memory alone; a file that is not ours is never written.
        sqlite3_close(db_->db);
        db_->db = nullptr;
        return false;
    }
    return true;
}

void PimService::boot() {
    std::string error;
    if (!open(&error)) host_.log().printf("the personal-information stores are closed: %s", error.c_str());
    // The phone's English locale marks times with lower-case "am"/"pm", so a one-letter mark
    // reads 7:00a; a value the person set stays.
    constexpr std::u16string_view kIntl = u"ControlPanel\\International";
    auto& reg = host_.registry();
    for (auto [name, mark] : {std::pair{u"s1159", u"am"}, std::pair{u"s2359", u"pm"}}) {
        if (reg.find_value(platform::Root::CurrentUser, kIntl, name)) continue;
        reg.create_key(platform::Root::CurrentUser, kIntl);
        reg.write_value(platform::Root::CurrentUser, kIntl, name, platform::ValueType::String,
                        platform::encode_string_value(mark));
    }
    publish();
}

void PimService::publish() {
    auto now = double(processes_.local_now_ms()) / 86400000.0 + 25569.0;
    db_->pim.publish(host_.registry(), now);
}

}  // namespace lumo::host
