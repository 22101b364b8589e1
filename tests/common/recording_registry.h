#pragma once
// A registry that forwards to another and records every write and delete by value name, so that
// tests can tell what a batch wrote and in which order.
#include <string>
#include <vector>

#include "lumo/platform/registry.h"

namespace lumo::testing {

class RecordingRegistry final : public platform::Registry {
  public:
    explicit RecordingRegistry(platform::Registry& inner) : inner_(inner) {}

    std::vector<std::u16string> writes;
    std::vector<std::u16string> deletes;

    std::optional<platform::RegKey> open_key(platform::Root root,
                                             std::u16string_view path) override {
        return inner_.open_key(root, path);
    }
    std::optional<platform::RegKey> create_key(platform::Root root, std::u16string_view path,
                                               bool* created) override {
        return inner_.create_key(root, path, created);
    }
    bool read_value(const platform::RegKey& key, std::u16string_view name,
                    std::span<std::byte> buffer, platform::ValueInfo* info,
                    std::optional<platform::ValueType> expected) override {
        return inner_.read_value(key, name, buffer, info, expected);
    }
    bool write_value(const platform::RegKey& key, std::u16string_view name,
                     platform::ValueType type, std::span<const std::byte> data) override {
        writes.emplace_back(name);
        return inner_.write_value(key, name, type, data);
    }
    bool delete_value(const platform::RegKey& key, std::u16string_view name) override {
        deletes.emplace_back(name);
        return inner_.delete_value(key, name);
    }
    bool delete_key(platform::Root root, std::u16string_view path) override {
        return inner_.delete_key(root, path);
    }
    std::optional<std::u16string> enum_subkey(const platform::RegKey& key,
                                              std::uint32_t index) override {
        return inner_.enum_subkey(key, index);
    }
    std::optional<std::pair<std::u16string, platform::ValueInfo>> enum_value(
        const platform::RegKey& key, std::uint32_t index) override {
        return inner_.enum_value(key, index);
    }
    bool flush(const platform::RegKey& key) override { return inner_.flush(key); }

  private:
    platform::Registry& inner_;
};

// A registry whose keys cannot be opened or created: the state of a broken device.
class BrokenRegistry final : public platform::Registry {
  public:
    std::optional<platform::RegKey> open_key(platform::Root, std::u16string_view) override {
        return std::nullopt;
    }
    std::optional<platform::RegKey> create_key(platform::Root, std::u16string_view,
                                               bool*) override {
        return std::nullopt;
    }
    bool read_value(const platform::RegKey&, std::u16string_view, std::span<std::byte>,
                    platform::ValueInfo*, std::optional<platform::ValueType>) override {
        return false;
    }
    bool write_value(const platform::RegKey&, std::u16string_view, platform::ValueType,
                     std::span<const std::byte>) override {
        return false;
    }
    bool delete_value(const platform::RegKey&, std::u16string_view) override { return false; }
    bool delete_key(platform::Root, std::u16string_view) override { return false; }
    std::optional<std::u16string> enum_subkey(const platform::RegKey&, std::uint32_t) override {
        return std::nullopt;
    }
    std::optional<std::pair<std::u16string, platform::ValueInfo>> enum_value(
        const platform::RegKey&, std::uint32_t) override {
        return std::nullopt;
    }
    bool flush(const platform::RegKey&) override { return false; }
};

}  // namespace lumo::testing
