#pragma once
// The registry: the programs' settings, the mailbox values they leave for each other and the
// published system state. Two roots; key and value names compare without regard to case; values
// are strings, binary blobs or 32-bit numbers; every write is visible to every program at once
// and persists across restarts of the device.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lumo/platform/types.h"

namespace lumo::platform {

enum class Root : std::uint8_t { CurrentUser = 1, LocalMachine = 2 };

enum class ValueType : std::uint32_t { String = 1, Binary = 3, Dword = 4 };

// Largest value the registry stores; longer writes are refused.
inline constexpr std::size_t kMaxValueBytes = 16384;
// Longest key path or value name accepted, in UTF-16 units.
inline constexpr std::size_t kMaxNameChars = 260;

// An open key. Keys are addressed by root and path; the handle remembers both.
struct RegKey {
    Root root = Root::CurrentUser;
    std::u16string path;
};

struct ValueInfo {
    ValueType type = ValueType::Binary;
    std::uint32_t size = 0;  // bytes stored
};

class Registry {
public:
    virtual ~Registry() = default;

    // Opens an existing key; nullopt when it does not exist.
    virtual std::optional<RegKey> open_key(Root root, std::u16string_view path) = 0;
    // Opens or creates a key (and its missing parents); `created` tells whether it was new.
    virtual std::optional<RegKey> create_key(Root root, std::u16string_view path,
                                             bool* created = nullptr) = 0;

    // Reads a value into `buffer`. Fails (leaving the buffer untouched) when the value is
    // missing, `expected` is given and differs, or the buffer is too small; `info` then still
    // reports the stored type and size when the value exists.
    virtual bool read_value(const RegKey& key, std::u16string_view name,
                            std::span<std::byte> buffer, ValueInfo* info = nullptr,
                            std::optional<ValueType> expected = std::nullopt) = 0;
    // Writes raw bytes under a type. Fails for a missing key or data over kMaxValueBytes.
    virtual bool write_value(const RegKey& key, std::u16string_view name, ValueType type,
                             std::span<const std::byte> data) = 0;
    virtual bool delete_value(const RegKey& key, std::u16string_view name) = 0;
    // Deletes a key with all its sub-keys and values.
    virtual bool delete_key(Root root, std::u16string_view path) = 0;
    // The name of the index-th sub-key, in creation order; nullopt past the end.
    virtual std::optional<std::u16string> enum_subkey(const RegKey& key, std::uint32_t index) = 0;
    // The name and info of the index-th value, in creation order; nullopt past the end.
    virtual std::optional<std::pair<std::u16string, ValueInfo>> enum_value(const RegKey& key,
                                                                            std::uint32_t index) = 0;
    // Makes every earlier write durable now.
    virtual bool flush(const RegKey& key) = 0;

    // One-call helpers over the operations above.
    std::optional<std::u16string> get_string(Root root, std::u16string_view path,
                                             std::u16string_view name);
    std::optional<std::uint32_t> get_dword(Root root, std::u16string_view path,
                                           std::u16string_view name);
    std::optional<std::vector<std::byte>> get_binary(Root root, std::u16string_view path,
                                                     std::u16string_view name);
    bool set_string(Root root, std::u16string_view path, std::u16string_view name,
                    std::u16string_view value);
    bool set_dword(Root root, std::u16string_view path, std::u16string_view name,
                   std::uint32_t value);
    bool set_binary(Root root, std::u16string_view path, std::u16string_view name,
                    std::span<const std::byte> value);
};

// Encodes a string value as stored: UTF-16LE with its terminating zero.
std::vector<std::byte> encode_string_value(std::u16string_view s);
// Decodes a stored string value up to its first zero (or the end).
std::u16string decode_string_value(std::span<const std::byte> data);

// The state-and-notification broker: tells a window when a registry value changes.
struct NotificationRequest {
    Root root = Root::CurrentUser;
    std::u16string key;
    std::u16string value;
    Hwnd target = 0;
    std::uint32_t message = 0;
    // Notify only when one of these bits of a number value changes; 0 means any change.
    std::uint32_t mask = 0;
    // When non-zero, a burst of changes within this many milliseconds gives one message.
    std::uint32_t batch_ms = 0;
};

using NotificationHandle = std::uint32_t;  // 0 is "none"

class StateBroker {
public:
    virtual ~StateBroker() = default;
    // Registers a notification. The message is posted to the target only when the stored
    // content changes; wParam carries the new number (0 for strings and blobs).
    virtual NotificationHandle register_notification(const NotificationRequest& request) = 0;
    virtual bool close_notification(NotificationHandle handle) = 0;
};

}  // namespace lumo::platform
