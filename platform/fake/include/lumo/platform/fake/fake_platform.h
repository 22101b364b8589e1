#pragma once
// The in-process, deterministic platform for unit tests: an in-memory registry with the same
// store and broker as the device host, a manual clock, one queue of posted messages, and the
// window manager, processes, named objects and clocks of a whole device inside one program.
//
// The fake is one program with one message queue, but it can stand for several: windows,
// classes, timers, subclasses, hooks, message boxes and sync handles made inside an
// `as_process(pid)` scope belong to that process, so tests can check owners, cross-program
// rules and what a process leaves behind when it ends.
//
// Sent messages are direct calls. get_message never blocks: with nothing posted it moves the
// manual clock on to the next due timer or registry notification; with nothing pending at all it
// returns false with Message{0, WM_NULL} (not WM_QUIT), so a loop under test ends instead of
// hanging. Worker threads of a program under test may post, query and use the named objects.
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lumo/platform/clock.h"
#include "lumo/platform/fake/fake_display.h"
#include "lumo/platform/fake/fake_notify.h"
#include "lumo/platform/fake/fake_power.h"
#include "lumo/platform/fake/fake_sound.h"
#include "lumo/platform/fake/fake_telephony.h"
#include "lumo/platform/platform.h"
#include "lumo/platform/process.h"
#include "lumo/platform/sync.h"
#include "lumo/platform/windows.h"

namespace lumo::store {
class RegistryStore;
class PimStore;
}

namespace lumo::platform::fake {

// A message box the fake showed: what it said and, once closed, the button that closed it.
struct DialogInfo {
    Hwnd hwnd = 0;
    std::uint32_t process_id = 0;
    Hwnd owner = 0;
    std::u16string text;
    std::u16string caption;
    std::uint32_t flags = 0;
    std::optional<int> answer;  // empty while the box is open
};

// Answers an open box with a button, or leaves it open (nullopt) while its modal loop keeps
// handling posted messages and timers on the manual clock.
using DialogResponder = std::function<std::optional<int>(const DialogInfo&)>;

// A program a test lets shell_execute start; it runs inside the new process's scope.
using ProgramStart = std::function<void(std::uint32_t process_id, std::u16string_view arguments)>;

struct Launch {
    std::u16string path;
    std::u16string arguments;
    bool shown = false;
    std::optional<std::uint32_t> process_id;  // empty when the launch failed
};

class FakePlatform final : public Platform {
public:
    FakePlatform();
    ~FakePlatform() override;

    Registry& registry() override;
    StateBroker& broker() override;
    MessageQueue& messages() override;
    Windows& windows() override;
    Processes& processes() override;
    Sync& sync() override;
    Clock& clock() override;
    // The off-screen display (made on first use).
    FakeDisplay& display();
    // The power notifications the test announces.
    FakePower& power() override { return power_; }
    // Wave playback as the test sees it: every request, and what plays now.
    FakeSound& sound() override { return *sound_; }
    Wireless& wireless() override;
    Pim& pim() override;
    Messaging& messaging() override;

    // --- personal information -------------------------------------------------------------------
    // The calendar, tasks and message stores; after changing them a test calls publish_pim(),
    // which writes the counts the phone publishes (notifications follow as usual).
    store::PimStore& pim_store();
    void publish_pim();
    // Every message shown in the mail program: (store, entry), oldest first.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> displayed_messages() const;
    // Calls, with the test playing the other end and the phone user (fake_telephony.h).
    FakeTelephony& telephony() override { return *telephony_; }
    FakeContacts& contacts() override { return *contacts_; }
    FakeSimPhoneBook& sim() override { return *sim_; }
    FakeCallLog& call_log() override { return *call_log_; }
    // User notifications and LEDs; the test fires due notifications with fire_due().
    FakeNotify& notify() override { return *notify_; }

    // The manual clock, in milliseconds since the fake device booted.
    std::uint64_t now() const { return now_ms_; }
    // Moves the clock on and delivers whatever fell due meanwhile.
    void advance(std::uint64_t ms);

    // Every message posted so far and not yet taken, oldest first.
    const std::deque<Message>& posted() const { return posted_; }
    void clear_posted() { posted_.clear(); }

    // --- programs -------------------------------------------------------------------------------
    // While the scope lives, what the test does acts as process `pid` (created windows, classes,
    // timers, hooks, subclasses, boxes and sync handles belong to it).
    class ProcessScope {
    public:
        ProcessScope(FakePlatform& p, std::uint32_t pid);
        ~ProcessScope();
        ProcessScope(const ProcessScope&) = delete;
        ProcessScope& operator=(const ProcessScope&) = delete;

    private:
        FakePlatform& p_;
        std::uint32_t previous_;
    };
    [[nodiscard]] ProcessScope as_process(std::uint32_t pid) { return ProcessScope(*this, pid); }
    // The process the calling code acts as now.
    std::uint32_t current_process() const;

    void set_own_path(std::u16string path);
    // Lets shell_execute start `path` (compared without regard to case); `on_start` runs inside
    // the new process's scope before shell_execute returns.
    void install_program(std::u16string path, ProgramStart on_start = {});
    // Adds a running process without starting anything (an outside program); its id.
    std::uint32_t add_process(std::u16string path);
    bool is_running(std::uint32_t pid) const;
    // Every shell_execute so far, oldest first.
    std::vector<Launch> launches() const;
    // The host folder device paths map onto (default: a temporary folder made on first use and
    // removed with the fake).
    void set_host_root(std::filesystem::path root);
    // The phone's libraries: `functions` present, or nullopt to take the library away; `on_call`
    // runs when a program calls one of them. A new fake has coredll.dll with the keyboard-hook
    // functions.
    void set_library(std::u16string name, std::optional<std::vector<std::u16string>> functions,
                     std::function<void(std::u16string_view)> on_call = {});
    // Every library function called so far, as "HtcUtil.dll!HTCUtilDeviceOff" (the library's
    // name as set), oldest first.
    std::vector<std::u16string> library_calls() const;
    // Libraries loaded and not freed.
    std::size_t libraries_loaded() const;

    // While set, keyboard hooks are refused, as by a phone whose hook call fails.
    std::atomic<bool> refuse_keyboard_hook{false};

    // --- message boxes --------------------------------------------------------------------------
    // Default: every box is answered at once with its default button.
    void set_dialog_responder(DialogResponder responder);
    // Answers the newest open box with `button` at its modal loop's next pass; false when no box
    // is open or the box has no such button.
    bool press_dialog(int button);
    // Every box shown so far, oldest first.
    std::vector<DialogInfo> dialogs() const;

    // --- loop helpers ---------------------------------------------------------------------------
    // Dispatches posted messages and due timers without moving the clock; how many it handled.
    std::size_t run_until_idle();
    // Lets `ms` pass on the manual clock, dispatching everything that falls due on the way in
    // order, then runs until idle.
    void run_for(std::uint64_t ms);

    // --- clocks ---------------------------------------------------------------------------------
    // How long ago the device booted, as tick_count reports it now (default: the manual clock).
    void set_boot_age(std::uint64_t ms);
    // The device's local time now; it runs on with the manual clock.
    void set_local_time(const LocalTime& t);

private:
    class FakeRegistry;
    class FakeBroker;
    class FakeMessages;
    class FakeWindows;
    class FakeProcesses;
    class FakeSync;
    class FakeClock;
    class FakeWireless;
    class FakePim;
    class FakeMessaging;
    friend class FakePim;
    friend class FakeMessaging;
    friend class FakeRegistry;
    friend class FakeWireless;
    friend class FakeTelephony;
    friend class FakeSimPhoneBook;
    friend class FakeBroker;
    friend class FakeMessages;
    friend class FakeWindows;
    friend class FakeProcesses;
    friend class FakeSync;
    friend class FakeClock;
    void deliver();  // moves the store's due deliveries to the posted queue
    // When the store next has something to deliver (absolute manual time).
    std::optional<std::uint64_t> next_registry_due();
    // Everything a process owns goes, as when it ends.
    void end_process(std::uint32_t pid);

    // Guards the registry, the posted queue and the window table: worker threads of a program
    // under test may post and query. Never held while a window procedure or hook runs.
    mutable std::recursive_mutex mutex_;
    std::atomic<std::uint64_t> now_ms_ = 0;
    std::atomic<std::uint32_t> current_pid_;
    std::unique_ptr<store::RegistryStore> store_;
    std::deque<Message> posted_;
    std::unique_ptr<FakeRegistry> registry_;
    std::unique_ptr<FakeBroker> broker_;
    std::unique_ptr<FakeMessages> messages_;
    std::unique_ptr<FakeProcesses> processes_;
    std::unique_ptr<FakeWindows> windows_;
    std::unique_ptr<FakeSync> sync_;
    std::unique_ptr<FakeClock> clock_;
    std::unique_ptr<FakeDisplay> display_;
    FakePower power_;
    std::unique_ptr<FakeSound> sound_;
    std::unique_ptr<FakeWireless> wireless_;
    std::unique_ptr<store::PimStore> pim_store_;
    std::unique_ptr<FakePim> pim_;
    std::unique_ptr<FakeMessaging> messaging_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> displayed_;
    std::unique_ptr<FakeContacts> contacts_;
    std::unique_ptr<FakeCallLog> call_log_;
    std::unique_ptr<FakeSimPhoneBook> sim_;
    std::unique_ptr<FakeTelephony> telephony_;
    std::unique_ptr<FakeNotify> notify_;
};

}  // namespace lumo::platform::fake
