// Telephony for tests over the shared call model; contacts, SIM and call log in memory.
#include "lumo/platform/fake/fake_telephony.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "lumo/platform/fake/fake_platform.h"
#include "lumo/platform/winuser.h"
#include "lumo/store/registry_store.h"
#include "lumo/store/telephony_model.h"

namespace lumo::platform::fake {

namespace {

// Messages to the hidden window telephony makes in each program that initialises it.
constexpr std::uint32_t kLineWake = WM_USER + 1;  // wParam: the instance with a message waiting
constexpr std::uint32_t kSimWake = WM_USER + 2;
constexpr std::u16string_view kHiddenClass = u"LumoTelephonyHidden";
constexpr std::uint32_t kPhoneSync = WM_USER + 3;  // to the phone application: the calls changed

bool lower_equal(std::u16string_view a, std::u16string_view b) {
    auto low = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
               return low(x) == low(y);
           });
}

}  // namespace

// --- contacts ------------------------------------------------------------------------------------

struct FakeContacts::Impl {
    struct Entry {
        Contact contact;
        std::vector<std::uint8_t> picture;
    };
    mutable std::recursive_mutex mutex;
    std::vector<Entry> entries;
    std::uint32_t next_id = 1;
};

FakeContacts::FakeContacts() : impl_(std::make_unique<Impl>()) {}
FakeContacts::~FakeContacts() = default;

std::optional<Contact> FakeContacts::find(ContactMatch match, std::u16string_view key) {
    std::lock_guard lock(impl_->mutex);
    if (broken || key.empty()) return std::nullopt;
    for (auto& e : impl_->entries) {
        const auto& c = e.contact;
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

std::optional<std::vector<std::uint8_t>> FakeContacts::picture(std::uint32_t contact_id) {
    std::lock_guard lock(impl_->mutex);
    if (broken) return std::nullopt;
    for (auto& e : impl_->entries)
        if (e.contact.id == contact_id && !e.picture.empty()) return e.picture;
    return std::nullopt;
}

std::vector<Contact> FakeContacts::all() {
    std::lock_guard lock(impl_->mutex);
    std::vector<Contact> out;
    if (broken) return out;
    for (auto& e : impl_->entries) out.push_back(e.contact);
    std::stable_sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.file_as < b.file_as; });
    return out;
}

std::uint32_t FakeContacts::add(std::u16string file_as, std::vector<ContactNumber> numbers, std::u16string email,
                                std::vector<std::uint8_t> picture) {
    std::lock_guard lock(impl_->mutex);
    Impl::Entry e;
    e.contact.id = impl_->next_id++;
    e.contact.file_as = std::move(file_as);
    e.contact.numbers = std::move(numbers);
    e.contact.email = std::move(email);
    e.contact.has_picture = !picture.empty();
    e.picture = std::move(picture);
    impl_->entries.push_back(std::move(e));
    return impl_->entries.back().contact.id;
}

bool FakeContacts::remove(std::uint32_t contact_id) {
    std::lock_guard lock(impl_->mutex);
    return std::erase_if(impl_->entries, [&](auto& e) { return e.contact.id == contact_id; }) > 0;
}

// --- call log --------------------------------------------------------------------------------------

struct FakeCallLog::Impl {
    mutable std::mutex mutex;
    std::vector<CallLogEntry> entries;
};

FakeCallLog::FakeCallLog() : impl_(std::make_unique<Impl>()) {}
FakeCallLog::~FakeCallLog() = default;

std::optional<std::vector<CallLogEntry>> FakeCallLog::newest(std::size_t max) {
    std::lock_guard lock(impl_->mutex);
    if (broken) return std::nullopt;
    std::vector<CallLogEntry> out(impl_->entries.rbegin(), impl_->entries.rend());
    std::stable_sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.time > b.time; });
    if (out.size() > max) out.resize(max);
    return out;
}

void FakeCallLog::add(CallLogEntry entry) {
    std::lock_guard lock(impl_->mutex);
    impl_->entries.push_back(std::move(entry));
}

std::vector<CallLogEntry> FakeCallLog::entries() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->entries;
}

// --- the hidden windows ------------------------------------------------------------------------------

// Messages wait here until the program's loop dispatches the wake-up posted beside them; the
// callback then runs on the program's window thread with no lock held.
struct Hidden {
    std::map<std::uint32_t, Hwnd> window;  // per process
};

static Hwnd hidden_window(FakePlatform& p, Hidden& hidden, const WndProc& proc) {
    auto pid = p.current_process();
    if (auto it = hidden.window.find(pid); it != hidden.window.end() && p.windows().is_window(it->second))
        return it->second;
    p.windows().register_class(kHiddenClass, proc);
    CreateWindowParams params;
    params.class_name = std::u16string(kHiddenClass);
    Hwnd h = p.windows().create_window(params);
    if (h) hidden.window[pid] = h;
    return h;
}

// --- telephony -------------------------------------------------------------------------------------

struct FakeTelephony::Impl {
    FakePlatform& p;
    std::recursive_mutex& mutex;
    std::unique_ptr<store::TelephonyModel> model;
    struct App {
        LineCallback callback;
        Hwnd window = 0;
        std::deque<LineMessage> waiting;
    };
    std::map<std::uint32_t, App> apps;
    Hidden hidden;
    std::vector<std::u16string> emergency;
    // The phone application's process and windows (0: not running).
    struct Phone {
        std::uint32_t pid = 0;
        Hwnd main = 0, incoming = 0, menu = 0, softkey = 0, sip = 0, dialog = 0, elapsed = 0, caller = 0;
    } phone;

    Impl(FakePlatform& platform, std::recursive_mutex& m) : p(platform), mutex(m) {}
    void sync_phone();
    LResult phone_proc(Hwnd h, std::uint32_t msg, WParam w, LParam l);

    LResult proc(Hwnd h, std::uint32_t msg, WParam w, LParam l) {
        if (msg != kLineWake) return p.windows().default_proc(h, msg, w, l);
        LineCallback cb;
        LineMessage m;
        {
            std::lock_guard lock(mutex);
            auto it = apps.find(w);
            if (it == apps.end() || it->second.waiting.empty()) return 0;
            m = it->second.waiting.front();
            it->second.waiting.pop_front();
            cb = it->second.callback;
        }
        if (cb) cb(m);
        return 0;
    }
};

FakeTelephony::FakeTelephony(FakePlatform& platform)
    : impl_(std::make_unique<Impl>(platform, platform.mutex_)) {
    auto* impl = impl_.get();
    auto deliver = [impl](std::uint32_t app, const LineMessage& m) {
        auto it = impl->apps.find(app);
        if (it == impl->apps.end() || !it->second.window) return;
        it->second.waiting.push_back(m);
        impl->p.windows().post(it->second.window, kLineWake, app, 0);
    };
    auto lookup = [&platform](std::u16string_view number)
        -> std::optional<std::pair<std::u16string, std::u16string>> {
        auto c = platform.contacts().find(ContactMatch::PhoneNumber, number);
        if (!c) return std::nullopt;
        for (auto& n : c->numbers)
            if (store::numbers_match(n.number, number)) return std::pair{c->file_as, n.label};
        return std::pair{c->file_as, std::u16string()};
    };
    impl_->model = std::make_unique<store::TelephonyModel>(
        *platform.store_, deliver, lookup, [&platform] { return platform.clock().local_file_time(); },
        [&platform](const CallLogEntry& e) { platform.call_log().add(e); });
    impl_->model->tick = [&platform] { return platform.now(); };
    // The phone application hears of a change on its next loop pass, not inside the change.
    impl_->model->on_calls_changed = [impl] {
        if (impl->phone.pid && impl->p.windows().is_window(impl->phone.main))
            impl->p.windows().post(impl->phone.main, kPhoneSync, 0, 0);
    };
}

namespace {
constexpr std::uint32_t kPhoneCommandAnswer = 1, kPhoneCommandEnd = 2, kPhoneShowHistory = 32794;
constexpr std::uint8_t kVkTalk = 0x72, kVkEnd = 0x73;
}  // namespace

std::uint32_t FakeTelephony::start_phone_application() {
    auto* impl = impl_.get();
    if (impl->phone.pid && impl->p.is_running(impl->phone.pid)) return impl->phone.pid;
    impl->phone = {};
    impl->phone.pid = impl->p.add_process(u"\\Windows\\cprog.exe");
    auto scope = impl->p.as_process(impl->phone.pid);
    auto proc = [impl](Hwnd h, std::uint32_t m, WParam w, LParam l) { return impl->phone_proc(h, m, w, l); };
    for (auto cls : {u"MSCprog", u"Dialog", u"menu_worker", u"MS_SOFTKEY_CE_1.0", u"MS_SIPBUTTON",
                     u"MS_PHONE_ELAPSEDTIME", u"MS_PHONE_CALLERIDINFO"})
        impl->p.windows().register_class(cls, proc);
    CreateWindowParams params;
    params.class_name = u"MSCprog";
    params.title = u"Phone";
    params.style = WS_POPUP;
    impl->phone.main = impl->p.windows().create_window(params);
    impl->sync_phone();
    return impl->phone.pid;
}

void FakeTelephony::Impl::sync_phone() {
    auto& w = p.windows();
    std::optional<std::uint32_t> ring, active;
    std::vector<store::TelephonyModel::CallView> calls;
    {
        std::lock_guard lock(mutex);
        ring = model->ringing();
        active = model->active();
        calls = model->calls();
    }
    auto make = [&](const char16_t* cls, const char16_t* title, std::uint32_t ex, Hwnd parent = 0) {
        CreateWindowParams params;
        params.class_name = cls;
        params.title = title;
        params.style = WS_POPUP;
        params.ex_style = ex;
        params.parent = parent;
        params.rect = {0, 0, 480, 800};
        return w.create_window(params);
    };
    if (ring && !w.is_window(phone.incoming)) {
        phone.incoming = make(u"Dialog", u"Phone - Incoming...", WS_EX_TOPMOST);
        phone.menu = make(u"menu_worker", u"", WS_EX_TOPMOST | 0x20000000);
        phone.softkey = make(u"MS_SOFTKEY_CE_1.0", u"", 0);
        phone.sip = make(u"MS_SIPBUTTON", u"", WS_EX_TOPMOST);
        w.show_window(phone.incoming, SW_SHOW);
        w.show_window(phone.menu, SW_SHOWNA);
        w.show_window(phone.sip, SW_SHOWNA);
    } else if (!ring) {
        for (Hwnd* h : {&phone.incoming, &phone.menu, &phone.softkey, &phone.sip}) {
            if (*h && w.is_window(*h)) w.destroy_window(*h);
            *h = 0;
        }
    }
    std::optional<store::TelephonyModel::CallView> shown;
    for (auto& c : calls)
        if ((active && c.id == *active) || (!shown && c.state == kCallStateOnHold)) shown = c;
    if (shown) {
        if (!w.is_window(phone.dialog)) {
            phone.dialog = make(u"Dialog", u"Phone", 0);
            phone.elapsed = make(u"MS_PHONE_ELAPSEDTIME", u"0:00", 0, phone.dialog);
            phone.caller = make(u"MS_PHONE_CALLERIDINFO", u"", 0, phone.dialog);
        }
        std::uint64_t secs = shown->connected_ms ? (p.now() - shown->connected_ms) / 1000 : 0;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%u:%02u", unsigned(secs / 60), unsigned(secs % 60));
        std::u16string t(buf, buf + std::strlen(buf));
        w.set_window_text(phone.elapsed, t);
        w.set_window_text(phone.caller, shown->name + u"\r\n" + shown->number);
        auto info = w.window_info(phone.dialog);
        if (info && !info->visible) w.show_window(phone.dialog, SW_SHOW);
    } else if (w.is_window(phone.dialog)) {
        w.show_window(phone.dialog, SW_HIDE);
    }
}

LResult FakeTelephony::Impl::phone_proc(Hwnd h, std::uint32_t msg, WParam wp, LParam l) {
    auto act = [&](bool answer_key) {
        std::lock_guard lock(mutex);
        auto ring = model->ringing();
        if (answer_key) {
            if (ring) model->answer(*ring);
        } else if (auto a = model->active(); a && !(ring && msg == WM_COMMAND)) {
            model->hang_up(*a);
        } else if (ring) {
            model->hang_up(*ring);
        }
        p.deliver();
    };
    switch (msg) {
        case kPhoneSync:
            sync_phone();
            return 0;
        case WM_COMMAND:
            if ((wp & 0xFFFF) == kPhoneCommandAnswer) act(true);
            if ((wp & 0xFFFF) == kPhoneCommandEnd) act(false);
            return 0;
        case WM_KEYDOWN:
            if (wp == kVkTalk) act(true);
            if (wp == kVkEnd) act(false);
            return 0;
        case kPhoneShowHistory: {
            std::lock_guard lock(mutex);
            model->reset_missed_count();
            p.deliver();
            return 0;
        }
    }
    return p.windows().default_proc(h, msg, wp, l);
}

FakeTelephony::~FakeTelephony() = default;

// Every change may write the published state: its notifications are delivered as the
// registry's own writes are.
#define LOCKED(expr)                                \
    do {                                            \
        std::lock_guard lock_(impl_->mutex);        \
        auto result_ = (expr);                      \
        impl_->p.deliver();                         \
        return result_;                             \
    } while (0)

LineResult FakeTelephony::initialize(LineCallback callback, std::u16string_view app_name, std::uint32_t api_version,
                                     LineAppHandle& app, std::uint32_t& num_devices) {
    std::lock_guard lock(impl_->mutex);
    app = 0;
    num_devices = 0;
    if (reinit_answers > 0) {
        --reinit_answers;
        return kLineErrReinit;
    }
    Hwnd window = hidden_window(impl_->p, impl_->hidden,
                                [impl = impl_.get()](Hwnd h, std::uint32_t m, WParam w, LParam l) {
                                    return impl->proc(h, m, w, l);
                                });
    if (!window) return kLineErrNoMem;
    auto r = impl_->model->initialize(impl_->p.current_process(), app_name, api_version, app, num_devices);
    if (r == 0) impl_->apps[app] = Impl::App{std::move(callback), window, {}};
    return r;
}

LineResult FakeTelephony::negotiate_api_version(LineAppHandle app, std::uint32_t device, std::uint32_t low,
                                                std::uint32_t high, std::uint32_t& version) {
    LOCKED(impl_->model->negotiate(impl_->p.current_process(), app, device, low, high, version));
}
LineResult FakeTelephony::get_dev_caps(LineAppHandle app, std::uint32_t device, std::uint32_t version,
                                       LineDevCaps& caps) {
    LOCKED(impl_->model->dev_caps(impl_->p.current_process(), app, device, version, caps));
}
LineResult FakeTelephony::open(LineAppHandle app, std::uint32_t device, std::uint32_t version,
                               std::uint32_t privileges, std::uint32_t media_modes, std::uint32_t instance,
                               LineHandle& line) {
    LOCKED(impl_->model->open(impl_->p.current_process(), app, device, version, privileges, media_modes, instance,
                              line));
}
LineResult FakeTelephony::get_calls(LineHandle line, std::vector<CallHandle>& calls) {
    LOCKED(impl_->model->get_calls(impl_->p.current_process(), line, calls));
}
LineResult FakeTelephony::get_call_status(CallHandle call, LineCallStatus& status) {
    LOCKED(impl_->model->call_status(impl_->p.current_process(), call, status));
}
LineResult FakeTelephony::get_call_info(CallHandle call, LineCallInfo& info) {
    LOCKED(impl_->model->call_info(impl_->p.current_process(), call, info));
}
LineResult FakeTelephony::set_call_privilege(CallHandle call, std::uint32_t privilege) {
    LOCKED(impl_->model->set_privilege(impl_->p.current_process(), call, privilege));
}
LineResult FakeTelephony::drop(CallHandle call) { LOCKED(impl_->model->drop(impl_->p.current_process(), call)); }
LineResult FakeTelephony::deallocate_call(CallHandle call) {
    LOCKED(impl_->model->deallocate(impl_->p.current_process(), call));
}
LineResult FakeTelephony::close(LineHandle line) { LOCKED(impl_->model->close(impl_->p.current_process(), line)); }
LineResult FakeTelephony::shutdown(LineAppHandle app) {
    std::lock_guard lock(impl_->mutex);
    auto r = impl_->model->shutdown(impl_->p.current_process(), app);
    if (r == 0) impl_->apps.erase(app);
    impl_->p.deliver();
    return r;
}
LineResult FakeTelephony::translate_address(LineAppHandle app, std::uint32_t device, std::uint32_t,
                                            std::u16string_view address, LineTranslateOutput& out) {
    LOCKED(impl_->model->translate(impl_->p.current_process(), app, device, address, out));
}
LineResult FakeTelephony::make_call(LineHandle line, std::u16string_view destination, std::uint32_t,
                                    const LineCallParams* params, CallHandle& call) {
    LOCKED(impl_->model->make_call(impl_->p.current_process(), line, destination, params, call));
}

LineResult FakeTelephony::phone_initialize(std::u16string_view, PhoneAppHandle& app, std::uint32_t& num_devices) {
    // The phone device needs no callback here: one instance id per program is enough.
    app = impl_->p.current_process();
    num_devices = 1;
    return 0;
}
LineResult FakeTelephony::phone_negotiate_api_version(PhoneAppHandle app, std::uint32_t device, std::uint32_t low,
                                                      std::uint32_t high, std::uint32_t& version) {
    version = 0;
    if (app != impl_->p.current_process()) return kLineErrInvalAppHandle;
    if (device != 0) return kLineErrBadDeviceId;
    if (low > high || high < kTapiVersionLow || low > kTapiVersionHigh) return kLineErrIncompatibleApiVersion;
    version = std::min(high, kTapiVersionHigh);
    return 0;
}
LineResult FakeTelephony::phone_open(PhoneAppHandle app, std::uint32_t device, std::uint32_t, PhoneHandle& phone) {
    phone = 0;
    if (app != impl_->p.current_process()) return kLineErrInvalAppHandle;
    if (device != 0) return kLineErrBadDeviceId;
    LOCKED(impl_->model->phone_open(impl_->p.current_process(), phone));
}
LineResult FakeTelephony::phone_get_status(PhoneHandle phone, PhoneStatus& status) {
    LOCKED(impl_->model->phone_status(impl_->p.current_process(), phone, status));
}
LineResult FakeTelephony::phone_get_volume(PhoneHandle phone, std::uint32_t dev, std::uint32_t& volume) {
    LOCKED(impl_->model->phone_volume(impl_->p.current_process(), phone, dev, volume));
}
LineResult FakeTelephony::phone_set_volume(PhoneHandle phone, std::uint32_t dev, std::uint32_t volume) {
    LOCKED(impl_->model->phone_set_volume(impl_->p.current_process(), phone, dev, volume));
}
LineResult FakeTelephony::phone_close(PhoneHandle phone) {
    LOCKED(impl_->model->phone_close(impl_->p.current_process(), phone));
}
LineResult FakeTelephony::phone_shutdown(PhoneAppHandle app) {
    return app == impl_->p.current_process() ? 0 : kLineErrInvalAppHandle;
}
std::vector<std::u16string> FakeTelephony::emergency_numbers() {
    std::lock_guard lock(impl_->mutex);
    return impl_->emergency.empty() ? impl_->model->emergency_numbers() : impl_->emergency;
}

std::optional<std::uint32_t> FakeTelephony::offer_call(const IncomingCall& call) {
    store::TelephonyModel::Offer o{call.number, call.name, call.property_name, call.caller_id_now, call.withheld,
                                   call.out_of_area};
    LOCKED(impl_->model->offer(o));
}
bool FakeTelephony::deliver_caller_id(std::uint32_t call_id, std::u16string number, std::u16string name,
                                      std::uint32_t flags) {
    LOCKED(impl_->model->caller_id(call_id, number, name, flags));
}
bool FakeTelephony::remote_hang_up(std::uint32_t call_id) { LOCKED(impl_->model->remote_hang_up(call_id)); }
bool FakeTelephony::remote_answer(std::uint32_t call_id) { LOCKED(impl_->model->remote_answer(call_id)); }
bool FakeTelephony::remote_busy(std::uint32_t call_id) { LOCKED(impl_->model->remote_busy(call_id)); }
bool FakeTelephony::answer(std::uint32_t call_id) { LOCKED(impl_->model->answer(call_id)); }
bool FakeTelephony::hang_up(std::uint32_t call_id) { LOCKED(impl_->model->hang_up(call_id)); }
bool FakeTelephony::hold(std::uint32_t call_id) { LOCKED(impl_->model->hold(call_id)); }
std::optional<std::uint32_t> FakeTelephony::dial(std::u16string_view number) {
    LOCKED(impl_->model->dial(number));
}

std::vector<CallView> FakeTelephony::calls() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<CallView> out;
    for (auto& c : impl_->model->calls())
        out.push_back(CallView{c.id, c.state, c.inbound, c.number, c.name, c.caller_id_flags});
    return out;
}
std::uint32_t FakeTelephony::volume(std::uint32_t hook_switch_dev) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->model->volume(hook_switch_dev);
}
void FakeTelephony::set_hook_switch_in_use(std::uint32_t hook_switch_dev) {
    std::lock_guard lock(impl_->mutex);
    impl_->model->set_hook_switch_in_use(hook_switch_dev);
}
void FakeTelephony::set_emergency_numbers(std::vector<std::u16string> numbers) {
    std::lock_guard lock(impl_->mutex);
    impl_->emergency = std::move(numbers);
}
void FakeTelephony::set_data_line(bool present) {
    std::lock_guard lock(impl_->mutex);
    impl_->model->set_data_line(present);
}

#undef LOCKED

// --- SIM -------------------------------------------------------------------------------------------

struct FakeSimPhoneBook::Impl {
    FakePlatform& p;
    std::recursive_mutex& mutex;
    std::vector<SimEntry> entries;
    struct Listener {
        SimCallback callback;
        Hwnd window = 0;
        std::deque<std::pair<std::uint32_t, std::uint32_t>> waiting;
    };
    std::map<std::uint32_t, Listener> listeners;  // per process
    Hidden hidden;

    LResult proc(Hwnd h, std::uint32_t msg, WParam w, LParam l) {
        if (msg != kSimWake) return p.windows().default_proc(h, msg, w, l);
        SimCallback cb;
        std::pair<std::uint32_t, std::uint32_t> note;
        {
            std::lock_guard lock(mutex);
            auto it = listeners.find(w);
            if (it == listeners.end() || it->second.waiting.empty()) return 0;
            note = it->second.waiting.front();
            it->second.waiting.pop_front();
            cb = it->second.callback;
        }
        if (cb) cb(note.first, note.second);
        return 0;
    }
    void notify(std::uint32_t code, std::uint32_t index) {
        for (auto& [pid, l] : listeners) {
            l.waiting.emplace_back(code, index);
            p.windows().post(l.window, kSimWake, pid, 0);
        }
    }
};

FakeSimPhoneBook::FakeSimPhoneBook(FakePlatform& platform)
    : impl_(std::make_unique<Impl>(Impl{platform, platform.mutex_, {}, {}, {}})) {}
FakeSimPhoneBook::~FakeSimPhoneBook() = default;

bool FakeSimPhoneBook::initialize(SimCallback on_change) {
    std::lock_guard lock(impl_->mutex);
    if (!available) return false;
    // The SIM's hidden window is a window of its own, as the SIM manager is a library of its own.
    Hwnd window = 0;
    {
        auto pid = impl_->p.current_process();
        auto it = impl_->hidden.window.find(pid);
        if (it != impl_->hidden.window.end() && impl_->p.windows().is_window(it->second)) {
            window = it->second;
        } else {
            std::u16string cls = u"LumoSimHidden";
            impl_->p.windows().register_class(cls, [impl = impl_.get()](Hwnd h, std::uint32_t m, WParam w, LParam l) {
                return impl->proc(h, m, w, l);
            });
            CreateWindowParams params;
            params.class_name = cls;
            window = impl_->p.windows().create_window(params);
            if (window) impl_->hidden.window[pid] = window;
        }
    }
    if (!window) return false;
    impl_->listeners[impl_->p.current_process()] = Impl::Listener{std::move(on_change), window, {}};
    return true;
}

std::optional<std::vector<SimEntry>> FakeSimPhoneBook::read(std::uint32_t storage) {
    std::lock_guard lock(impl_->mutex);
    if (!available || storage != kSimStorageSim || !impl_->listeners.count(impl_->p.current_process()))
        return std::nullopt;
    return impl_->entries;
}

void FakeSimPhoneBook::deinitialize() {
    std::lock_guard lock(impl_->mutex);
    impl_->listeners.erase(impl_->p.current_process());
}

std::optional<std::uint32_t> FakeSimPhoneBook::add(std::u16string name, std::u16string number) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->entries.size() >= kSimMaxEntries) return std::nullopt;
    std::uint32_t index = 1;
    for (auto& e : impl_->entries) index = std::max(index, e.index + 1);
    impl_->entries.push_back({index, store::cut(number, kSimTextMaxChars), store::cut(name, kSimTextMaxChars)});
    impl_->notify(kSimNotifyPhoneBookStored, index);
    return index;
}

bool FakeSimPhoneBook::remove(std::uint32_t index) {
    std::lock_guard lock(impl_->mutex);
    if (std::erase_if(impl_->entries, [&](auto& e) { return e.index == index; }) == 0) return false;
    impl_->notify(kSimNotifyPhoneBookDeleted, index);
    return true;
}

}  // namespace lumo::platform::fake
