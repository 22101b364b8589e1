#include "lumo/store/registry_store.h"

#include <algorithm>
#include <cstring>

#include "lumo/platform/text.h"

namespace lumo::store {

using platform::equal_no_case;
using platform::fold_case;

struct RegistryStore::Key {
    std::int64_t id = 0;
    Root root = Root::CurrentUser;
    std::u16string name;
    Key* parent = nullptr;
    std::vector<std::unique_ptr<Key>> children;  // creation order
    struct Value {
        std::u16string name;
        ValueType type;
        std::vector<std::byte> data;
    };
    std::vector<Value> values;  // creation order

    Key* child(std::u16string_view n) const {
        for (auto& c : children)
            if (equal_no_case(c->name, n)) return c.get();
        return nullptr;
    }
    Value* value(std::u16string_view n) {
        for (auto& v : values)
            if (equal_no_case(v.name, n)) return &v;
        return nullptr;
    }
    // The folded path from the root, parts joined by backslashes.
    std::u16string folded_path() const {
        if (!parent) return {};
        auto p = parent->folded_path();
        if (!p.empty()) p.push_back(u'\\');
        return p + fold_case(name);
    }
};

struct RegistryStore::Subscription {
    NotificationHandle handle;
    std::uint64_t owner;
    NotificationRequest request;
    std::u16string folded_key;    // parts joined by single backslashes
    std::u16string folded_value;
    bool pending = false;
    std::uint64_t due = 0;
};

std::optional<std::vector<std::u16string_view>> split_key_path(std::u16string_view path) {
    if (path.size() > platform::kMaxNameChars) return std::nullopt;
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

static std::u16string folded_join(std::u16string_view path) {
    std::u16string out;
    auto parts = split_key_path(path);
    if (!parts) return out;
    for (auto p : *parts) {
        if (!out.empty()) out.push_back(u'\\');
        out += fold_case(p);
    }
    return out;
}

static int root_index(Root r) { return r == Root::LocalMachine ? 1 : 0; }

RegistryStore::RegistryStore(Clock clock, RegistryBackend* backend)
    : clock_(std::move(clock)), backend_(backend) {
    for (Root r : {Root::CurrentUser, Root::LocalMachine}) {
        auto k = std::make_unique<Key>();
        k->root = r;
        roots_[root_index(r)] = std::move(k);
    }
}

RegistryStore::~RegistryStore() = default;

bool RegistryStore::load() {
    if (!backend_) return true;
    std::vector<RegistryBackend::KeyRow> keys;
    std::vector<RegistryBackend::ValueRow> values;
    if (!backend_->load(keys, values)) return false;
    std::vector<std::pair<std::int64_t, Key*>> by_id;  // sorted by id as loaded
    by_id.reserve(keys.size());
    auto lookup = [&](std::int64_t id) -> Key* {
        auto it = std::lower_bound(by_id.begin(), by_id.end(), id,
                                   [](const auto& e, std::int64_t v) { return e.first < v; });
        return it != by_id.end() && it->first == id ? it->second : nullptr;
    };
    for (auto& row : keys) {
        Key* parent = row.parent == 0 ? roots_[root_index(row.root)].get() : lookup(row.parent);
        if (!parent || row.id <= (by_id.empty() ? 0 : by_id.back().first)) continue;  // orphan
        auto k = std::make_unique<Key>();
        k->id = row.id;
        k->root = parent->root;
        k->name = row.name;
        k->parent = parent;
        by_id.emplace_back(row.id, k.get());
        parent->children.push_back(std::move(k));
        next_key_id_ = std::max(next_key_id_, row.id + 1);
    }
    for (auto& row : values) {
        Key* k = lookup(row.key);
        if (!k || k->value(row.name)) continue;
        k->values.push_back({row.name, row.type, std::move(row.data)});
    }
    return true;
}

void RegistryStore::note_backend(bool ok) { backend_failed_ = !ok; }

RegistryStore::Key* RegistryStore::find_key(Root root, std::u16string_view path) const {
    auto parts = split_key_path(path);
    if (!parts) return nullptr;
    Key* k = roots_[root_index(root)].get();
    for (auto p : *parts) {
        k = k->child(p);
        if (!k) return nullptr;
    }
    return k;
}

bool RegistryStore::key_exists(Root root, std::u16string_view path) const {
    return find_key(root, path) != nullptr;
}

std::optional<bool> RegistryStore::create_key(Root root, std::u16string_view path) {
    backend_failed_ = false;
    auto parts = split_key_path(path);
    if (!parts) return std::nullopt;
    Key* k = roots_[root_index(root)].get();
    bool created = false;
    for (auto p : *parts) {
        Key* c = k->child(p);
        if (!c) {
            auto n = std::make_unique<Key>();
            n->id = next_key_id_++;
            n->root = root;
            n->name = std::u16string(p);
            n->parent = k;
            // A key exists once it is stored: what storage refused is not there for anybody.
            if (backend_) {
                note_backend(backend_->insert_key({n->id, k->parent ? k->id : 0, root, n->name}));
                if (backend_failed_) return created;
            }
            c = n.get();
            k->children.push_back(std::move(n));
            created = true;
        }
        k = c;
    }
    return created;
}

std::optional<RegistryStore::Found> RegistryStore::find_value(Root root, std::u16string_view path,
                                                              std::u16string_view name) const {
    Key* k = find_key(root, path);
    if (!k) return std::nullopt;
    auto* v = k->value(name);
    if (!v) return std::nullopt;
    return Found{{v->type, static_cast<std::uint32_t>(v->data.size())}, &v->data};
}

bool RegistryStore::write_value(Root root, std::u16string_view path, std::u16string_view name,
                                ValueType type, std::span<const std::byte> data) {
    backend_failed_ = false;
    if (data.size() > platform::kMaxValueBytes || name.size() > platform::kMaxNameChars)
        return false;
    Key* k = find_key(root, path);
    if (!k || !k->parent) return false;  // values live in keys, not at a root
    auto* v = k->value(name);
    if (v && v->type == type && v->data.size() == data.size() &&
        std::equal(data.begin(), data.end(), v->data.begin())) {
        return true;  // same content: nothing stored, nothing notified
    }
    // Stored first, then changed: a change storage refused is seen by nobody, now or later.
    if (backend_) {
        note_backend(backend_->put_value({k->id, v ? v->name : std::u16string(name), type,
                                           std::vector<std::byte>(data.begin(), data.end())}));
        if (backend_failed_) return true;
    }
    std::vector<std::byte> old;
    ValueType old_type = type;
    bool old_present = v != nullptr;
    if (v) {
        old = std::move(v->data);
        old_type = v->type;
        v->type = type;
        v->data.assign(data.begin(), data.end());
    } else {
        k->values.push_back({std::u16string(name), type, {data.begin(), data.end()}});
        v = &k->values.back();
    }
    value_changed(k, name, old_type, &old, old_present);
    return true;
}

bool RegistryStore::delete_value(Root root, std::u16string_view path, std::u16string_view name) {
    backend_failed_ = false;
    Key* k = find_key(root, path);
    if (!k) return false;
    auto it = std::find_if(k->values.begin(), k->values.end(),
                           [&](auto& v) { return equal_no_case(v.name, name); });
    if (it == k->values.end()) return false;
    if (backend_) {
        note_backend(backend_->delete_value(k->id, it->name));
        if (backend_failed_) return true;
    }
    auto old = std::move(it->data);
    auto old_type = it->type;
    k->values.erase(it);
    value_changed(k, name, old_type, &old, true);
    return true;
}

bool RegistryStore::delete_key(Root root, std::u16string_view path) {
    backend_failed_ = false;
    Key* k = find_key(root, path);
    if (!k || !k->parent) return false;  // the roots stay
    std::vector<std::int64_t> ids;
    std::vector<Key*> keys;
    auto collect = [&](auto&& self, Key* key) -> void {
        ids.push_back(key->id);
        keys.push_back(key);
        for (auto& c : key->children) self(self, c.get());
    };
    collect(collect, k);
    if (backend_) {
        note_backend(backend_->delete_keys(ids));
        if (backend_failed_) return true;
    }
    // Values that disappear are changes too; tell their subscribers before the memory goes.
    for (Key* key : keys) {
        auto values = std::move(key->values);
        key->values.clear();
        for (auto& v : values) value_changed(key, v.name, v.type, &v.data, true);
    }
    auto& siblings = k->parent->children;
    siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                                [&](auto& c) { return c.get() == k; }));
    return true;
}

std::optional<std::u16string> RegistryStore::enum_subkey(Root root, std::u16string_view path,
                                                         std::uint32_t index) const {
    Key* k = find_key(root, path);
    if (!k || index >= k->children.size()) return std::nullopt;
    return k->children[index]->name;
}

std::optional<std::pair<std::u16string, ValueInfo>> RegistryStore::enum_value(
    Root root, std::u16string_view path, std::uint32_t index) const {
    Key* k = find_key(root, path);
    if (!k || index >= k->values.size()) return std::nullopt;
    auto& v = k->values[index];
    return std::pair{v.name, ValueInfo{v.type, static_cast<std::uint32_t>(v.data.size())}};
}

bool RegistryStore::flush() {
    if (!backend_) return true;
    bool ok = backend_->flush();
    note_backend(ok);
    return ok;
}

static std::uint32_t dword_of(ValueType type, const std::vector<std::byte>* data) {
    if (!data || type != ValueType::Dword || data->size() != 4) return 0;
    std::uint32_t v;
    std::memcpy(&v, data->data(), 4);
    return v;
}

void RegistryStore::value_changed(Key* key, std::u16string_view name, ValueType old_type,
                                  const std::vector<std::byte>* old_data, bool old_present) {
    if (subscriptions_.empty()) return;
    auto folded_key = key->folded_path();
    auto folded_value = fold_case(name);
    auto* now_value = key->value(name);
    for (auto& s : subscriptions_) {
        if (s->request.root != key->root || s->folded_value != folded_value ||
            s->folded_key != folded_key)
            continue;
        std::uint32_t new_number = now_value ? dword_of(now_value->type, &now_value->data) : 0;
        if (s->request.mask != 0) {
            auto old_number = old_present ? dword_of(old_type, old_data) : 0;
            if (((old_number ^ new_number) & s->request.mask) == 0) continue;
        }
        if (s->request.batch_ms == 0) {
            ready_.push_back({s->owner, {s->request.target, s->request.message, new_number, 0}});
        } else if (!s->pending) {
            s->pending = true;
            s->due = clock_() + s->request.batch_ms;
        }
    }
}

NotificationHandle RegistryStore::add_notification(const NotificationRequest& request,
                                                   std::uint64_t owner) {
    auto s = std::make_unique<Subscription>();
    s->handle = next_handle_++;
    s->owner = owner;
    s->request = request;
    s->folded_key = folded_join(request.key);
    s->folded_value = fold_case(request.value);
    subscriptions_.push_back(std::move(s));
    return subscriptions_.back()->handle;
}

bool RegistryStore::remove_notification(NotificationHandle handle) {
    auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                           [&](auto& s) { return s->handle == handle; });
    if (it == subscriptions_.end()) return false;
    subscriptions_.erase(it);
    return true;
}

void RegistryStore::remove_owner(std::uint64_t owner) {
    std::erase_if(subscriptions_, [&](auto& s) { return s->owner == owner; });
    std::erase_if(ready_, [&](auto& d) { return d.owner == owner; });
}

void RegistryStore::take_due(std::vector<Delivery>& out) {
    out.insert(out.end(), ready_.begin(), ready_.end());
    ready_.clear();
    auto now = clock_();
    for (auto& s : subscriptions_) {
        if (!s->pending || s->due > now) continue;
        s->pending = false;
        Key* k = find_key(s->request.root, s->request.key);
        Key::Value* v = k ? k->value(s->request.value) : nullptr;
        auto number = v ? dword_of(v->type, &v->data) : 0;
        out.push_back({s->owner, {s->request.target, s->request.message, number, 0}});
    }
}

std::optional<std::uint64_t> RegistryStore::next_due() const {
    std::optional<std::uint64_t> due;
    if (!ready_.empty()) due = 0;
    for (auto& s : subscriptions_)
        if (s->pending && (!due || s->due < *due)) due = s->due;
    return due;
}

}  // namespace lumo::store
