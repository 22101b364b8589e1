#pragma once
// The registry's durable form: "registry.db", an SQLite database in WAL mode. Changes go into one
// open transaction that the host commits after their answers and notifications are out, once it
// is idle or a little later (see Host::commit_registry_when_due): a host killed at any moment
// leaves each value old or new.
#include <sqlite3.h>

#include <string>
#include <variant>
#include <vector>

#include "lumo/store/registry_store.h"

namespace lumo::host {

class RegistryDb final : public store::RegistryBackend {
public:
    ~RegistryDb() override;
    // Opens or creates the database; false with `error` set when the file is not ours to use
    // (not a database, unreadable). Such a file is left exactly as it was.
    bool open(const std::string& path, std::string* error);
    void close();

    bool load(std::vector<KeyRow>& keys, std::vector<ValueRow>& values) override;
    bool insert_key(const KeyRow& key) override;
    bool put_value(const ValueRow& value) override;
    bool delete_value(std::int64_t key, std::u16string_view name) override;
    bool delete_keys(const std::vector<std::int64_t>& ids) override;
    // Commits the turn, then moves the log into the file.
    bool flush() override;

    // Stores what changed since the last commit. When storage refuses, the changes stay (every program
    // already sees them) and are written again with the next change or commit, and until one
    // succeeds every further change is stored before it is answered, so it is refused if it
    // cannot be. False while changes are waiting.
    bool commit();
    // Changes answered but not committed yet (the turn's, or ones storage refused).
    bool uncommitted() const { return in_txn_ || !journal_.empty(); }
    // Storage refused the last commit: changes wait and each new one is stored before its answer.
    bool failing() const { return failing_; }

    const std::string& last_error() const { return last_error_; }

private:
    struct DeletedValue {
        std::int64_t key;
        std::u16string name;
    };
    using Op = std::variant<KeyRow, ValueRow, DeletedValue, std::vector<std::int64_t>>;

    bool exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    bool step_done(sqlite3_stmt* st);
    // Opens the turn's transaction, writing again what a failed commit left waiting.
    bool begin();
    // Drops the open transaction; the journal keeps what was answered.
    void abandon();
    bool change(Op op);
    bool apply(const Op& op);
    bool apply_key(const KeyRow& key);
    bool apply_value(const ValueRow& value);
    bool apply_delete_value(std::int64_t key, std::u16string_view name);
    bool apply_delete_keys(const std::vector<std::int64_t>& ids);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_key_ = nullptr;
    sqlite3_stmt* put_value_ = nullptr;
    sqlite3_stmt* delete_value_ = nullptr;
    sqlite3_stmt* delete_key_values_ = nullptr;
    sqlite3_stmt* delete_key_ = nullptr;
    std::string last_error_;
    bool in_txn_ = false;
    bool failing_ = false;  // the last commit was refused
    std::vector<Op> journal_;  // answered since the last commit that succeeded
};

}  // namespace lumo::host
