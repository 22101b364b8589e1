#pragma once
// The registry's content and its change broker, shared by the device host (which persists it in
// SQLite and serves it over its socket) and the in-process fake (which keeps it in memory).
// Not thread-safe: each owner serialises access (the host's event loop, the fake's mutex).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/platform/registry.h"

namespace lumo::store {

using platform::NotificationHandle;
using platform::NotificationRequest;
using platform::Root;
using platform::ValueInfo;
using platform::ValueType;

// Durable storage behind the tree. Every call is one committed change.
class RegistryBackend {
public:
    struct KeyRow {
        std::int64_t id;
        std::int64_t parent;  // 0 for a key directly under its root
        Root root;
        std::u16string name;
    };
    struct ValueRow {
        std::int64_t key;
        std::u16string name;
        ValueType type;
        std::vector<std::byte> data;
    };
    virtual ~RegistryBackend() = default;
    // Everything stored, keys in creation order (parents before children), values likewise.
    virtual bool load(std::vector<KeyRow>& keys, std::vector<ValueRow>& values) = 0;
    virtual bool insert_key(const KeyRow& key) = 0;
    virtual bool put_value(const ValueRow& value) = 0;
    virtual bool delete_value(std::int64_t key, std::u16string_view name) = 0;
    // Deletes the keys (already including every descendant) and their values.
    virtual bool delete_keys(const std::vector<std::int64_t>& ids) = 0;
    virtual bool flush() = 0;
};

// A message the broker wants posted.
struct Delivery {
    std::uint64_t owner = 0;  // who registered (a connection in the host)
    platform::Message message;
};

class RegistryStore {
public:
    using Clock = std::function<std::uint64_t()>;  // milliseconds, monotonic

    explicit RegistryStore(Clock clock, RegistryBackend* backend = nullptr);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // Loads the backend's content; false when the backend could not be read.
    bool load();

    bool key_exists(Root root, std::u16string_view path) const;
    // Creates the key and its missing parents; nullopt for an invalid path.
    std::optional<bool> create_key(Root root, std::u16string_view path);
    struct Found {
        ValueInfo info;
        const std::vector<std::byte>* data;
    };
    std::optional<Found> find_value(Root root, std::u16string_view path,
                                    std::u16string_view name) const;
    bool write_value(Root root, std::u16string_view path, std::u16string_view name,
                     ValueType type, std::span<const std::byte> data);
    bool delete_value(Root root, std::u16string_view path, std::u16string_view name);
    bool delete_key(Root root, std::u16string_view path);
    std::optional<std::u16string> enum_subkey(Root root, std::u16string_view path,
                                              std::uint32_t index) const;
    std::optional<std::pair<std::u16string, ValueInfo>> enum_value(Root root,
                                                                   std::u16string_view path,
                                                                   std::uint32_t index) const;
    bool flush();

    NotificationHandle add_notification(const NotificationRequest& request, std::uint64_t owner);
    bool remove_notification(NotificationHandle handle);
    // Drops every notification of an owner that went away.
    void remove_owner(std::uint64_t owner);
    // Moves the deliveries that are due now into `out`.
    void take_due(std::vector<Delivery>& out);
    // When the next batched delivery falls due, if any.
    std::optional<std::uint64_t> next_due() const;

    // True when the backend refused the last change; the change was then not made at all
    // (nothing changed, nobody notified), though the call still found its key or value.
    bool backend_failed() const { return backend_failed_; }

private:
    struct Key;
    struct Subscription;
    Key* find_key(Root root, std::u16string_view path) const;
    void value_changed(Key* key, std::u16string_view name, ValueType old_type,
                       const std::vector<std::byte>* old_data, bool old_present);
    void note_backend(bool ok);

    Clock clock_;
    RegistryBackend* backend_;
    std::unique_ptr<Key> roots_[2];
    std::int64_t next_key_id_ = 1;
    std::vector<std::unique_ptr<Subscription>> subscriptions_;
    NotificationHandle next_handle_ = 1;
    std::vector<Delivery> ready_;
    bool backend_failed_ = false;
};

// Splits a key path at backslashes, ignoring empty parts; nullopt when a part is too long.
std::optional<std::vector<std::u16string_view>> split_key_path(std::u16string_view path);

}  // namespace lumo::store
