#include "lumo/platform/fake/fake_platform.h"

#include <algorithm>

#include "fake_clock.h"
#include "fake_processes.h"
#include "fake_sync.h"
#include "fake_windows.h"
#include "lumo/store/pim_store.h"
#include "lumo/store/radios.h"
#include "lumo/store/registry_store.h"
#include "lumo/store/ringer.h"

namespace lumo::platform::fake {

class FakePlatform::FakeRegistry final : public Registry {
public:
    explicit FakeRegistry(FakePlatform& p) : p_(p) {}

    std::optional<RegKey> open_key(Root root, std::u16string_view path) override {
        std::lock_guard lock(p_.mutex_);
        if (!p_.store_->key_exists(root, path)) return std::nullopt;
        return RegKey{root, std::u16string(path)};
    }
    std::optional<RegKey> create_key(Root root, std::u16string_view path, bool* created) override {
        std::lock_guard lock(p_.mutex_);
        auto c = p_.store_->create_key(root, path);
        if (!c) return std::nullopt;
        if (created) *created = *c;
        return RegKey{root, std::u16string(path)};
    }
    bool read_value(const RegKey& key, std::u16string_view name, std::span<std::byte> buffer,
                    ValueInfo* info, std::optional<ValueType> expected) override {
        std::lock_guard lock(p_.mutex_);
        auto f = p_.store_->find_value(key.root, key.path, name);
        if (!f) return false;
        if (info) *info = f->info;
        if ((expected && *expected != f->info.type) || f->data->size() > buffer.size())
            return false;
        std::copy(f->data->begin(), f->data->end(), buffer.begin());
        return true;
    }
    bool write_value(const RegKey& key, std::u16string_view name, ValueType type,
                     std::span<const std::byte> data) override {
        std::lock_guard lock(p_.mutex_);
        return deliver_after(p_.store_->write_value(key.root, key.path, name, type, data));
    }
    bool delete_value(const RegKey& key, std::u16string_view name) override {
        std::lock_guard lock(p_.mutex_);
        return deliver_after(p_.store_->delete_value(key.root, key.path, name));
    }
    bool delete_key(Root root, std::u16string_view path) override {
        std::lock_guard lock(p_.mutex_);
        return deliver_after(p_.store_->delete_key(root, path));
    }
    std::optional<std::u16string> enum_subkey(const RegKey& key, std::uint32_t index) override {
        std::lock_guard lock(p_.mutex_);
        return p_.store_->enum_subkey(key.root, key.path, index);
    }
    std::optional<std::pair<std::u16string, ValueInfo>> enum_value(const RegKey& key,
                                                                   std::uint32_t index) override {
        std::lock_guard lock(p_.mutex_);
        return p_.store_->enum_value(key.root, key.path, index);
    }
    bool flush(const RegKey& key) override {
        std::lock_guard lock(p_.mutex_);
        return p_.store_->key_exists(key.root, key.path);
    }

private:
    bool deliver_after(bool ok) {
        p_.deliver();
        return ok;
    }
    FakePlatform& p_;
};

class FakePlatform::FakeBroker final : public StateBroker {
public:
    explicit FakeBroker(FakePlatform& p) : p_(p) {}
    NotificationHandle register_notification(const NotificationRequest& request) override {
        std::lock_guard lock(p_.mutex_);
        return p_.store_->add_notification(request, 0);
    }
    bool close_notification(NotificationHandle handle) override {
        std::lock_guard lock(p_.mutex_);
        return p_.store_->remove_notification(handle);
    }

private:
    FakePlatform& p_;
};

class FakePlatform::FakeMessages final : public MessageQueue {
public:
    explicit FakeMessages(FakePlatform& p) : p_(p) {}
    std::optional<Message> take_posted(std::uint32_t timeout_ms) override {
        std::lock_guard lock(p_.mutex_);
        // The fake never blocks: waiting means letting the manual clock run.
        if (p_.posted_.empty() && timeout_ms > 0) {
            auto due = p_.store_->next_due();
            if (due && *due <= p_.now_ms_ + timeout_ms) {
                p_.now_ms_ = std::max(p_.now_ms_.load(), *due);
                p_.deliver();
            }
        }
        if (p_.posted_.empty()) return std::nullopt;
        auto m = p_.posted_.front();
        p_.posted_.pop_front();
        return m;
    }

private:
    FakePlatform& p_;
};

// The radios live in the fake's registry, as the device publishes them.
class FakePlatform::FakeWireless final : public Wireless {
public:
    explicit FakeWireless(FakePlatform& p) : p_(p) {}
    std::vector<RadioDevice> devices() override {
        std::lock_guard lock(p_.mutex_);
        return store::list_radios(*p_.store_);
    }
    bool set_radio(RadioType type, bool on) override {
        std::lock_guard lock(p_.mutex_);
        bool ok = store::set_radio(*p_.store_, type, on);
        p_.deliver();
        return ok;
    }

private:
    FakePlatform& p_;
};

// The stores live beside the fake's registry and publish into it, as the device's do.
class FakePlatform::FakePim final : public Pim {
public:
    explicit FakePim(FakePlatform& p) : p_(p) {}
    std::optional<PimItems<PimAppointment>> appointments(const PimQuery& q, std::string* error) override {
        std::lock_guard lock(p_.mutex_);
        return p_.pim_store_->query_appointments(q, error);
    }
    std::optional<PimItems<PimTask>> tasks(const PimQuery& q, std::string* error) override {
        std::lock_guard lock(p_.mutex_);
        return p_.pim_store_->query_tasks(q, error);
    }
    bool notify_changes(std::uint32_t folder, Hwnd window) override {
        std::lock_guard lock(p_.mutex_);
        if (folder != kFolderCalendar && folder != kFolderTasks) return false;
        p_.pim_store_->subscribe(folder, window);
        return true;
    }

private:
    FakePlatform& p_;
};

class FakePlatform::FakeMessaging final : public Messaging {
public:
    explicit FakeMessaging(FakePlatform& p) : p_(p) {}
    std::vector<MessageStoreInfo> stores() override {
        std::lock_guard lock(p_.mutex_);
        std::vector<MessageStoreInfo> out;
        for (const auto& s : p_.pim_store_->message_stores()) out.push_back({s.id, s.name});
        return out;
    }
    std::optional<MessageRow> read_row(std::uint32_t store, std::uint32_t index) override {
        std::lock_guard lock(p_.mutex_);
        return p_.pim_store_->read_row(store, index);
    }
    bool set_flags(std::uint32_t store, std::uint32_t entry, std::uint32_t flags) override {
        bool ok;
        {
            std::lock_guard lock(p_.mutex_);
            ok = p_.pim_store_->set_flags(store, entry, flags);
        }
        if (ok) p_.publish_pim();
        return ok;
    }
    bool display_message(std::uint32_t store, std::uint32_t entry) override {
        std::lock_guard lock(p_.mutex_);
        if (!p_.pim_store_->find_message(store, entry)) return false;
        p_.displayed_.emplace_back(store, entry);
        return true;
    }

private:
    FakePlatform& p_;
};

FakePlatform::FakePlatform()
    : current_pid_(FakeProcesses::kOwnId),
      store_(std::make_unique<store::RegistryStore>([this] { return now_ms_.load(); })),
      registry_(std::make_unique<FakeRegistry>(*this)),
      broker_(std::make_unique<FakeBroker>(*this)),
      messages_(std::make_unique<FakeMessages>(*this)),
      processes_(std::make_unique<FakeProcesses>(*this)),
      windows_(std::make_unique<FakeWindows>(*this)),
      sync_(std::make_unique<FakeSync>(*this)),
      clock_(std::make_unique<FakeClock>(*this)),
      sound_(std::make_unique<FakeSound>([this](std::u16string_view path) {
          auto file = processes_->host_path(path);
          std::error_code ec;
          return file && std::filesystem::is_regular_file(*file, ec);
      })),
      wireless_(std::make_unique<FakeWireless>(*this)),
      pim_store_(std::make_unique<store::PimStore>()),
      pim_(std::make_unique<FakePim>(*this)),
      messaging_(std::make_unique<FakeMessaging>(*this)),
      contacts_(std::make_unique<FakeContacts>()),
      call_log_(std::make_unique<FakeCallLog>()),
      sim_(std::make_unique<FakeSimPhoneBook>(*this)),
      telephony_(std::make_unique<FakeTelephony>(*this)),
      notify_(std::make_unique<FakeNotify>(*sync_, *clock_)) {
    sound_->read_ringer = [this] {
        std::lock_guard lock(mutex_);
        return store::read_ringer(*store_);
    };
    sound_->write_ringer = [this](RingerType type) {
        std::lock_guard lock(mutex_);
        bool ok = store::write_ringer(*store_, type);
        deliver();
        return ok;
    };
    notify_->attach_registry(store_.get(), &mutex_);
    pim_store_->set_poster([this](Hwnd h, std::uint32_t msg, std::uint32_t folder) {
        windows_->post(h, msg, 0, LParam(folder));
    });
}

FakePlatform::~FakePlatform() = default;

Registry& FakePlatform::registry() { return *registry_; }
Wireless& FakePlatform::wireless() { return *wireless_; }
Pim& FakePlatform::pim() { return *pim_; }
Messaging& FakePlatform::messaging() { return *messaging_; }
store::PimStore& FakePlatform::pim_store() { return *pim_store_; }

void FakePlatform::publish_pim() {
    std::lock_guard lock(mutex_);
    pim_store_->publish(*store_, store::variant_from_file_time(clock_->local_file_time()));
    deliver();
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> FakePlatform::displayed_messages() const {
    std::lock_guard lock(mutex_);
    return displayed_;
}
StateBroker& FakePlatform::broker() { return *broker_; }
MessageQueue& FakePlatform::messages() { return *messages_; }
Windows& FakePlatform::windows() { return *windows_; }
Processes& FakePlatform::processes() { return *processes_; }
Sync& FakePlatform::sync() { return *sync_; }
Clock& FakePlatform::clock() { return *clock_; }
FakeDisplay& FakePlatform::display() {
    if (!display_) display_ = std::make_unique<FakeDisplay>();
    return *display_;
}

void FakePlatform::advance(std::uint64_t ms) {
    std::lock_guard lock(mutex_);
    now_ms_ += ms;
    deliver();
}

void FakePlatform::deliver() {
    std::vector<store::Delivery> due;
    store_->take_due(due);
    for (auto& d : due) posted_.push_back(d.message);
}

std::optional<std::uint64_t> FakePlatform::next_registry_due() {
    std::lock_guard lock(mutex_);
    return store_->next_due();
}

// --- programs -----------------------------------------------------------------------------------

FakePlatform::ProcessScope::ProcessScope(FakePlatform& p, std::uint32_t pid)
    : p_(p), previous_(p.current_pid_.exchange(pid)) {}

FakePlatform::ProcessScope::~ProcessScope() { p_.current_pid_ = previous_; }

std::uint32_t FakePlatform::current_process() const { return current_pid_; }

void FakePlatform::end_process(std::uint32_t pid) {
    windows_->remove_process(pid);
    sync_->remove_process(pid);
}

void FakePlatform::set_own_path(std::u16string path) { processes_->set_own_path(std::move(path)); }

void FakePlatform::install_program(std::u16string path, ProgramStart on_start) {
    processes_->install(std::move(path), std::move(on_start));
}

std::uint32_t FakePlatform::add_process(std::u16string path) {
    return processes_->add(std::move(path));
}

bool FakePlatform::is_running(std::uint32_t pid) const { return processes_->running(pid); }

std::vector<Launch> FakePlatform::launches() const { return processes_->launches(); }

void FakePlatform::set_library(std::u16string name, std::optional<std::vector<std::u16string>> functions,
                               std::function<void(std::u16string_view)> on_call) {
    processes_->set_library(std::move(name), std::move(functions), std::move(on_call));
}

std::vector<std::u16string> FakePlatform::library_calls() const { return processes_->library_calls(); }
std::size_t FakePlatform::libraries_loaded() const { return processes_->libraries_loaded(); }

void FakePlatform::set_host_root(std::filesystem::path root) {
    processes_->set_root(std::move(root));
}

// --- message boxes ------------------------------------------------------------------------------

void FakePlatform::set_dialog_responder(DialogResponder responder) {
    windows_->set_dialog_responder(std::move(responder));
}

bool FakePlatform::press_dialog(int button) { return windows_->press_dialog(button); }

std::vector<DialogInfo> FakePlatform::dialogs() const { return windows_->dialogs(); }

// --- loop helpers -------------------------------------------------------------------------------

std::size_t FakePlatform::run_until_idle() {
    std::size_t handled = 0;
    Message m;
    // A 0 ms periodic timer never lets the loop idle; stop after plenty of passes.
    for (std::size_t pass = 0; pass < 100000; ++pass) {
        if (!windows_->peek_message(m, false) || m.message == WM_QUIT) break;
        windows_->peek_message(m, true);
        windows_->dispatch(m);
        ++handled;
    }
    return handled;
}

void FakePlatform::run_for(std::uint64_t ms) {
    auto end = now_ms_ + ms;
    for (;;) {
        run_until_idle();
        auto next = windows_->next_timer_due();
        auto registry = next_registry_due();
        if (registry) next = next ? std::min(*next, *registry) : registry;
        if (!next || *next > end || *next <= now_ms_) break;
        std::lock_guard lock(mutex_);
        now_ms_ = *next;
        deliver();
    }
    {
        std::lock_guard lock(mutex_);
        now_ms_ = std::max(now_ms_.load(), end);
        deliver();
    }
    run_until_idle();
}

// --- clocks -------------------------------------------------------------------------------------

void FakePlatform::set_boot_age(std::uint64_t ms) { clock_->set_boot_age(ms); }

void FakePlatform::set_local_time(const LocalTime& t) { clock_->set_local_time(t); }

}  // namespace lumo::platform::fake
