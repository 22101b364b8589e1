#include "contacts_store.h"

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "lumo/platform/imaging.h"
#include "lumo/platform/text.h"
#include "lumo/store/telephony_model.h"

namespace lumo::host {

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr int kApplicationId = 0x4C50494D;  // "LPIM"

const char* kContactsSchema = R"(
CREATE TABLE IF NOT EXISTS contacts(
    id INTEGER PRIMARY KEY,
    file_as TEXT NOT NULL,
    email TEXT NOT NULL DEFAULT '',
    picture BLOB);
CREATE TABLE IF NOT EXISTS numbers(
    contact INTEGER NOT NULL,
    label TEXT NOT NULL,
    number TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS sim(
    idx INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    number TEXT NOT NULL);
)";

const char* kLogSchema = R"(
CREATE TABLE IF NOT EXISTS calls(
    id INTEGER PRIMARY KEY,
    time INTEGER NOT NULL,
    end_time INTEGER NOT NULL,
    flags INTEGER NOT NULL,
    number TEXT NOT NULL,
    name TEXT NOT NULL,
    label TEXT NOT NULL);
)";

// A statement that finalises itself.
struct Stmt {
    sqlite3_stmt* st = nullptr;
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &st, nullptr); }
    ~Stmt() { sqlite3_finalize(st); }
    explicit operator bool() const { return st != nullptr; }
    Stmt& text(int i, const std::u16string& s) {
        auto u8 = to_utf8(s);
        sqlite3_bind_text(st, i, u8.c_str(), int(u8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& integer(int i, std::int64_t v) {
        sqlite3_bind_int64(st, i, v);
        return *this;
    }
    Stmt& blob(int i, const std::vector<std::uint8_t>& b) {
        if (b.empty())
            sqlite3_bind_null(st, i);
        else
            sqlite3_bind_blob(st, i, b.data(), int(b.size()), SQLITE_TRANSIENT);
        return *this;
    }
    std::u16string col_text(int i) {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        return p ? to_u16(p) : std::u16string();
    }
};

bool open_db(const fs::path& path, const char* schema, sqlite3*& db, std::string& error) {
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        error = path.string() + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
        sqlite3_close(db);
        db = nullptr;
        return false;
    }
    ::chmod(path.c_str(), 0600);
    sqlite3_busy_timeout(db, 2000);
    // A file that is not one of ours is refused untouched.
    Stmt id(db, "PRAGMA application_id");
    int app = 0;
    Stmt tables(db, "SELECT count(*) FROM sqlite_master");
    if (!id || !tables || sqlite3_step(id.st) != SQLITE_ROW || sqlite3_step(tables.st) != SQLITE_ROW) {
        error = path.string() + ": not a usable database (" + sqlite3_errmsg(db) + "); it was left untouched";
        sqlite3_close(db);
        db = nullptr;
        return false;
    }
    app = sqlite3_column_int(id.st, 0);
    int count = sqlite3_column_int(tables.st, 0);
    if (count > 0 && app != kApplicationId) {
        error = path.string() + ": not a Lumo PIM database; it was left untouched";
        sqlite3_close(db);
        db = nullptr;
        return false;
    }
    std::string sql = std::string("PRAGMA application_id=") + std::to_string(kApplicationId) + ";" + schema;
    char* msg = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
        error = path.string() + ": " + (msg ? msg : "schema failed");
        sqlite3_free(msg);
        sqlite3_close(db);
        db = nullptr;
        return false;
    }
    return true;
}

bool lower_equal(std::u16string_view a, std::u16string_view b) {
    return fold_case(a) == fold_case(b);
}

}  // namespace

ContactsStore::~ContactsStore() {
    sqlite3_close(contacts_);
    sqlite3_close(log_);
}

bool ContactsStore::open(const std::string& dir, bool fresh, std::string* error) {
    auto folder = fs::path(dir) / "pim";
    std::error_code ec;
    fs::create_directories(folder, ec);
    ::chmod(folder.c_str(), 0700);
    std::string why;
    if (!open_db(folder / "contacts.db", kContactsSchema, contacts_, why) ||
        !open_db(folder / "clog.db", kLogSchema, log_, why)) {
        sqlite3_close(contacts_);
        contacts_ = nullptr;
        if (error) *error = why;
        last_error_ = why;
        return false;
    }
    if (fresh && all().empty()) seed_samples();
    return true;
}

std::vector<Contact> ContactsStore::all() {
    std::vector<Contact> out;
    if (!contacts_) return out;
    Stmt st(contacts_, "SELECT id, file_as, email, picture IS NOT NULL FROM contacts ORDER BY file_as, id");
    while (st && sqlite3_step(st.st) == SQLITE_ROW) {
        Contact c;
        c.id = std::uint32_t(sqlite3_column_int64(st.st, 0));
        c.file_as = st.col_text(1);
        c.email = st.col_text(2);
        c.has_picture = sqlite3_column_int(st.st, 3) != 0;
        out.push_back(std::move(c));
    }
    for (auto& c : out) {
        Stmt n(contacts_, "SELECT label, number FROM numbers WHERE contact=? ORDER BY rowid");
        n.integer(1, c.id);
        while (n && sqlite3_step(n.st) == SQLITE_ROW) c.numbers.push_back({n.col_text(0), n.col_text(1)});
    }
    return out;
}

std::optional<Contact> ContactsStore::find(ContactMatch match, std::u16string_view key) {
    if (!contacts_ || key.empty()) return std::nullopt;
    // A phone's contact list is small: comparing in code keeps the number rules in one place.
    for (auto& c : all()) {
        switch (match) {
            case ContactMatch::PhoneNumber:
                for (auto& n : c.numbers)
                    if (store::numbers_match(n.number, key)) return c;
                break;
            case ContactMatch::Email:
                if (!c.email.empty() && lower_equal(c.email, key)) return c;
                break;
            case ContactMatch::FileAs:
                if (lower_equal(c.file_as, key)) return c;
                break;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ContactsStore::picture(std::uint32_t id) {
    if (!contacts_) return std::nullopt;
    Stmt st(contacts_, "SELECT picture FROM contacts WHERE id=? AND picture IS NOT NULL");
    st.integer(1, id);
    if (!st || sqlite3_step(st.st) != SQLITE_ROW) return std::nullopt;
    auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(st.st, 0));
    int n = sqlite3_column_bytes(st.st, 0);
    if (!p || n <= 0) return std::nullopt;
    return std::vector<std::uint8_t>(p, p + n);
}

std::optional<std::uint32_t> ContactsStore::add_contact(const std::u16string& name, const std::u16string& number,
                                                   const std::u16string& email,
                                                   const std::vector<std::uint8_t>& picture) {
    if (!contacts_) return std::nullopt;
    sqlite3_exec(contacts_, "BEGIN", nullptr, nullptr, nullptr);
    Stmt st(contacts_, "INSERT INTO contacts(file_as, email, picture) VALUES(?,?,?)");
    st.text(1, name).text(2, email).blob(3, picture);
    if (!st || sqlite3_step(st.st) != SQLITE_DONE) {
        last_error_ = sqlite3_errmsg(contacts_);
        sqlite3_exec(contacts_, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::nullopt;
    }
    auto id = std::uint32_t(sqlite3_last_insert_rowid(contacts_));
    Stmt n(contacts_, "INSERT INTO numbers(contact, label, number) VALUES(?,?,?)");
    n.integer(1, id).text(2, u"Mobile").text(3, number);
    if (!n || sqlite3_step(n.st) != SQLITE_DONE ||
        sqlite3_exec(contacts_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        last_error_ = sqlite3_errmsg(contacts_);
        sqlite3_exec(contacts_, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::nullopt;
    }
    return id;
}

bool ContactsStore::delete_contact(std::uint32_t id) {
    if (!contacts_) return false;
    sqlite3_exec(contacts_, "BEGIN", nullptr, nullptr, nullptr);
    Stmt n(contacts_, "DELETE FROM numbers WHERE contact=?");
    n.integer(1, id);
    Stmt c(contacts_, "DELETE FROM contacts WHERE id=?");
    c.integer(1, id);
    bool ok = n && c && sqlite3_step(n.st) == SQLITE_DONE && sqlite3_step(c.st) == SQLITE_DONE;
    bool found = ok && sqlite3_changes(contacts_) > 0;
    sqlite3_exec(contacts_, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return found;
}

std::vector<SimEntry> ContactsStore::sim_entries() {
    std::vector<SimEntry> out;
    if (!contacts_) return out;
    Stmt st(contacts_, "SELECT idx, name, number FROM sim ORDER BY idx LIMIT 255");
    while (st && sqlite3_step(st.st) == SQLITE_ROW) {
        SimEntry e;
        e.index = std::uint32_t(sqlite3_column_int64(st.st, 0));
        // Cut again on the way out: a card written by something else holds no longer texts.
        e.name = store::cut(st.col_text(1), kSimTextMaxChars);
        e.number = store::cut(st.col_text(2), kSimTextMaxChars);
        out.push_back(std::move(e));
    }
    return out;
}

std::optional<std::uint32_t> ContactsStore::sim_add(const std::u16string& name, const std::u16string& number) {
    if (!contacts_) return std::nullopt;
    Stmt count(contacts_, "SELECT count(*), coalesce(max(idx), 0) FROM sim");
    if (!count || sqlite3_step(count.st) != SQLITE_ROW) return std::nullopt;
    if (std::size_t(sqlite3_column_int64(count.st, 0)) >= kSimMaxEntries) return std::nullopt;
    auto index = std::uint32_t(sqlite3_column_int64(count.st, 1) + 1);
    Stmt st(contacts_, "INSERT INTO sim(idx, name, number) VALUES(?,?,?)");
    st.integer(1, index).text(2, store::cut(name, kSimTextMaxChars)).text(3, store::cut(number, kSimTextMaxChars));
    if (!st || sqlite3_step(st.st) != SQLITE_DONE) {
        last_error_ = sqlite3_errmsg(contacts_);
        return std::nullopt;
    }
    return index;
}

bool ContactsStore::log_call(const CallLogEntry& e) {
    if (!log_) return false;
    Stmt st(log_, "INSERT INTO calls(time, end_time, flags, number, name, label) VALUES(?,?,?,?,?,?)");
    st.integer(1, std::int64_t(e.time)).integer(2, std::int64_t(e.end_time)).integer(3, e.flags);
    st.text(4, e.number).text(5, e.name).text(6, e.number_label);
    if (!st || sqlite3_step(st.st) != SQLITE_DONE) {
        last_error_ = sqlite3_errmsg(log_);
        return false;
    }
    return true;
}

std::optional<std::vector<CallLogEntry>> ContactsStore::calls(std::size_t max) {
    if (!log_) return std::nullopt;
    Stmt st(log_, "SELECT time, end_time, flags, number, name, label FROM calls ORDER BY time DESC, id DESC LIMIT ?");
    st.integer(1, std::int64_t(std::min<std::size_t>(max, 1u << 30)));
    if (!st) return std::nullopt;
    std::vector<CallLogEntry> out;
    while (sqlite3_step(st.st) == SQLITE_ROW) {
        CallLogEntry e;
        e.time = std::uint64_t(sqlite3_column_int64(st.st, 0));
        e.end_time = std::uint64_t(sqlite3_column_int64(st.st, 1));
        e.flags = std::uint32_t(sqlite3_column_int64(st.st, 2));
        e.number = st.col_text(3);
        e.name = st.col_text(4);
        e.number_label = st.col_text(5);
        out.push_back(std::move(e));
    }
    return out;
}

bool ContactsStore::seed_samples() {
    // A few people to call the new phone, one of them without a picture.
    struct Sample {
        const char16_t* name;
        const char16_t* number;
        const char16_t* email;
        int picture;  // -1: none
    };
    static const Sample kSamples[] = {
        {u"Anna Berg", u"+46701234567", u"anna.berg@example.com", 0},
        {u"Jonas Weber", u"+491701112233", u"jonas@example.org", 1},
        {u"Maria Rossi", u"+393331234567", u"", 2},
        {u"Tom Baker", u"+447700900123", u"tom.baker@example.net", -1},
    };
    auto scratch = fs::path(sqlite3_db_filename(contacts_, "main")).parent_path().string();
    bool ok = true;
    for (const auto& s : kSamples) {
        std::vector<std::uint8_t> pic;
        if (s.picture >= 0) pic = sample_portrait(std::uint32_t(s.picture), scratch);
        ok = add_contact(s.name, s.number, s.email, pic).has_value() && ok;
    }
    return ok;
}

std::vector<std::uint8_t> sample_portrait(std::uint32_t seed, const std::string& scratch_dir) {
    constexpr int kSize = 160;
    // Ground, shoulders and face of each sample: colours far enough apart to read at a glance.
    static const std::uint8_t kLooks[][3][3] = {
        {{70, 130, 180}, {40, 110, 60}, {240, 200, 170}},
        {{120, 70, 150}, {230, 170, 40}, {205, 155, 115}},
        {{40, 150, 140}, {170, 40, 60}, {160, 110, 80}},
        {{200, 200, 210}, {50, 60, 120}, {235, 190, 160}},
    };
    const auto& look = kLooks[seed % 4];
    const std::uint8_t* g = look[0];
    const std::uint8_t* k = look[2];
    std::vector<std::uint8_t> rgba(std::size_t(kSize) * kSize * 4);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            auto* p = &rgba[(std::size_t(y) * kSize + x) * 4];
            const std::uint8_t* c = g;
            double hx = x - kSize / 2.0, hy = y - kSize * 0.38;
            double bx = x - kSize / 2.0, by = y - kSize * 1.05;
            if (hx * hx + hy * hy < (kSize * 0.2) * (kSize * 0.2)) c = k;                         // head
            else if (bx * bx / 1.2 + by * by < (kSize * 0.45) * (kSize * 0.45)) c = look[1];  // shoulders
            double shade = 0.8 + 0.2 * (1.0 - double(y) / kSize);
            p[0] = std::uint8_t(c[0] * shade);
            p[1] = std::uint8_t(c[1] * shade);
            p[2] = std::uint8_t(c[2] * shade);
            p[3] = 255;
        }
    auto imaging = make_sdl_imaging();
    auto tmp = fs::path(scratch_dir) / ("portrait" + std::to_string(seed) + ".png.tmp");
    std::vector<std::uint8_t> out;
    if (imaging && imaging->save_png(tmp, kSize, kSize, rgba)) {
        std::ifstream in(tmp, std::ios::binary);
        out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::error_code ec;
    fs::remove(tmp, ec);
    return out;
}

}  // namespace lumo::host
