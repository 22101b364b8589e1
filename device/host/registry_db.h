#pragma once
// The registry's durable form: "registry.db", an SQLite database in WAL mode. Every change is one
// committed transaction, so a host killed at any moment leaves each value old or new.
#include <sqlite3.h>

#include <string>

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
    bool flush() override;

    const std::string& last_error() const { return last_error_; }

private:
    bool exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    bool step_done(sqlite3_stmt* st);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_key_ = nullptr;
    sqlite3_stmt* put_value_ = nullptr;
    sqlite3_stmt* delete_value_ = nullptr;
    sqlite3_stmt* delete_key_values_ = nullptr;
    sqlite3_stmt* delete_key_ = nullptr;
    std::string last_error_;
};

}  // namespace lumo::host
