#include "registry_db.h"

#include <type_traits>

#include "lumo/platform/text.h"

namespace lumo::host {

using platform::fold_case;
using platform::to_u16;
using platform::to_utf8;

namespace {
constexpr int kApplicationId = 0x4C554D4F;  // "LUMO"

const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS keys(
    id INTEGER PRIMARY KEY,
    parent INTEGER NOT NULL,
    root INTEGER NOT NULL,
    name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS vals(
    key INTEGER NOT NULL,
    fold TEXT NOT NULL,
    name TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY(key, fold));
)";
}  // namespace

RegistryDb::~RegistryDb() { close(); }

bool RegistryDb::exec(const char* sql) {
    char* msg = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    last_error_ = msg ? msg : sqlite3_errmsg(db_);
    sqlite3_free(msg);
    return false;
}

sqlite3_stmt* RegistryDb::prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
        last_error_ = sqlite3_errmsg(db_);
        return nullptr;
    }
    return st;
}

bool RegistryDb::step_done(sqlite3_stmt* st) {
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    if (rc == SQLITE_DONE) return true;
    last_error_ = sqlite3_errmsg(db_);
    return false;
}

bool RegistryDb::open(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        close();
        return false;
    };
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        return fail(db_ ? sqlite3_errmsg(db_) : "cannot open");
    sqlite3_busy_timeout(db_, 2000);
    // Reading the schema is the first touch of the file: a file that is not a database fails here,
    // before anything could be written to it.
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr) !=
            SQLITE_OK ||
        sqlite3_step(st) != SQLITE_ROW) {
        std::string why = sqlite3_errmsg(db_);
        sqlite3_finalize(st);
        return fail("not a usable registry database (" + why + "); it was left untouched");
    }
    int tables = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    if (sqlite3_prepare_v2(db_, "PRAGMA application_id", -1, &st, nullptr) != SQLITE_OK ||
        sqlite3_step(st) != SQLITE_ROW) {
        sqlite3_finalize(st);
        return fail(sqlite3_errmsg(db_));
    }
    int app = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    if (tables > 0 && app != kApplicationId)
        return fail("a database of another program, not a registry; it was left untouched");
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") || !exec(kSchema))
        return fail(last_error_);
    if (app != kApplicationId && !exec("PRAGMA application_id=1280658767")) return fail(last_error_);
    insert_key_ = prepare("INSERT INTO keys(id, parent, root, name) VALUES(?1, ?2, ?3, ?4)");
    put_value_ = prepare(
        "INSERT INTO vals(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(key, fold) DO UPDATE SET name = ?3, type = ?4, data = ?5");
    delete_value_ = prepare("DELETE FROM vals WHERE key = ?1 AND fold = ?2");
    delete_key_values_ = prepare("DELETE FROM vals WHERE key = ?1");
    delete_key_ = prepare("DELETE FROM keys WHERE id = ?1");
    if (!insert_key_ || !put_value_ || !delete_value_ || !delete_key_values_ || !delete_key_)
        return fail(last_error_);
    return true;
}

void RegistryDb::close() {
    if (db_) commit();
    for (auto** st : {&insert_key_, &put_value_, &delete_value_, &delete_key_values_, &delete_key_}) {
        sqlite3_finalize(*st);
        *st = nullptr;
    }
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

bool RegistryDb::load(std::vector<KeyRow>& keys, std::vector<ValueRow>& values) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT id, parent, root, name FROM keys ORDER BY id", -1, &st,
                           nullptr) != SQLITE_OK)
        return false;
    while (sqlite3_step(st) == SQLITE_ROW) {
        auto root = sqlite3_column_int(st, 2);
        if (root != 1 && root != 2) continue;
        keys.push_back({sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1),
                        static_cast<platform::Root>(root),
                        to_u16(reinterpret_cast<const char*>(sqlite3_column_text(st, 3)))});
    }
    sqlite3_finalize(st);
    if (sqlite3_prepare_v2(db_, "SELECT key, name, type, data FROM vals ORDER BY rowid", -1, &st,
                           nullptr) != SQLITE_OK)
        return false;
    while (sqlite3_step(st) == SQLITE_ROW) {
        auto type = sqlite3_column_int(st, 2);
        if (type != 1 && type != 3 && type != 4) continue;
        auto* blob = static_cast<const std::byte*>(sqlite3_column_blob(st, 3));
        auto size = static_cast<std::size_t>(sqlite3_column_bytes(st, 3));
        if (size > platform::kMaxValueBytes) continue;
        values.push_back({sqlite3_column_int64(st, 0),
                          to_u16(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))),
                          static_cast<platform::ValueType>(type),
                          std::vector<std::byte>(blob, blob + size)});
    }
    sqlite3_finalize(st);
    return true;
}

bool RegistryDb::insert_key(const KeyRow& key) { return change(key); }
bool RegistryDb::put_value(const ValueRow& value) { return change(value); }
bool RegistryDb::delete_value(std::int64_t key, std::u16string_view name) {
    return change(DeletedValue{key, std::u16string(name)});
}
bool RegistryDb::delete_keys(const std::vector<std::int64_t>& ids) { return change(ids); }

bool RegistryDb::change(Op op) {
    if (!begin()) return false;
    if (!apply(op)) {
        abandon();
        return false;
    }
    journal_.push_back(std::move(op));
    if (failing_ && !commit()) {
        // Storage still refuses: this change is refused; the older ones stay waiting.
        journal_.pop_back();
        return false;
    }
    return true;
}

bool RegistryDb::apply(const Op& op) {
    return std::visit(
        [this](const auto& o) {
            using T = std::decay_t<decltype(o)>;
            if constexpr (std::is_same_v<T, KeyRow>) return apply_key(o);
            else if constexpr (std::is_same_v<T, ValueRow>) return apply_value(o);
            else if constexpr (std::is_same_v<T, DeletedValue>) return apply_delete_value(o.key, o.name);
            else return apply_delete_keys(o);
        },
        op);
}

bool RegistryDb::begin() {
    if (in_txn_) return true;
    if (!exec("BEGIN IMMEDIATE")) return false;
    in_txn_ = true;
    for (auto& op : journal_) {
        if (!apply(op)) {
            abandon();
            return false;
        }
    }
    return true;
}

void RegistryDb::abandon() {
    auto why = last_error_;
    if (!sqlite3_get_autocommit(db_)) exec("ROLLBACK");
    last_error_ = why;
    in_txn_ = false;
}

bool RegistryDb::commit() {
    if (!in_txn_ && journal_.empty()) return true;
    if (!begin()) {
        failing_ = true;
        return false;
    }
    if (!exec("COMMIT")) {
        abandon();
        failing_ = true;
        return false;
    }
    in_txn_ = false;
    failing_ = false;
    journal_.clear();
    return true;
}

bool RegistryDb::apply_key(const KeyRow& key) {
    auto name = to_utf8(key.name);
    sqlite3_bind_int64(insert_key_, 1, key.id);
    sqlite3_bind_int64(insert_key_, 2, key.parent);
    sqlite3_bind_int(insert_key_, 3, static_cast<int>(key.root));
    sqlite3_bind_text(insert_key_, 4, name.c_str(), -1, SQLITE_TRANSIENT);
    return step_done(insert_key_);
}

bool RegistryDb::apply_value(const ValueRow& value) {
    auto name = to_utf8(value.name);
    auto fold = to_utf8(fold_case(value.name));
    sqlite3_bind_int64(put_value_, 1, value.key);
    sqlite3_bind_text(put_value_, 2, fold.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(put_value_, 3, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(put_value_, 4, static_cast<int>(value.type));
    // A zero-length blob must still be a blob, not NULL.
    static const std::byte empty{};
    sqlite3_bind_blob(put_value_, 5, value.data.empty() ? &empty : value.data.data(),
                      static_cast<int>(value.data.size()), SQLITE_TRANSIENT);
    return step_done(put_value_);
}

bool RegistryDb::apply_delete_value(std::int64_t key, std::u16string_view name) {
    auto fold = to_utf8(fold_case(name));
    sqlite3_bind_int64(delete_value_, 1, key);
    sqlite3_bind_text(delete_value_, 2, fold.c_str(), -1, SQLITE_TRANSIENT);
    return step_done(delete_value_);
}

bool RegistryDb::apply_delete_keys(const std::vector<std::int64_t>& ids) {
    // Part of the turn's transaction: a failure part way abandons it whole.
    for (auto id : ids) {
        sqlite3_bind_int64(delete_key_values_, 1, id);
        if (!step_done(delete_key_values_)) return false;
        sqlite3_bind_int64(delete_key_, 1, id);
        if (!step_done(delete_key_)) return false;
    }
    return true;
}

bool RegistryDb::flush() {
    if (!commit()) return false;
    // A checkpoint moves what is committed from the log into the file.
    return sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) ==
           SQLITE_OK;
}

}  // namespace lumo::host
