#pragma once
// The service's state record and its timer identifiers. The main thread owns the record; the
// power, appointment and timer-notification threads read and write its flags without locks,
// which is why every field they share is atomic.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lumo/catalogue/catalogue.h"
#include "lumo/log/log.h"
#include "lumo/platform/platform.h"
#include "lumo/platform/telephony.h"

namespace lumo::service {

using platform::Hwnd;

// Timers of the main window. Every timer is one-shot unless kTimerRules says otherwise.
enum TimerId : std::uint32_t {
    kTimerLaunchSettled = 1025,      // lumo.exe was started a second ago: re-find it
    kTimerTelephonyRestart = 1026,   // initialise telephony again
    kTimerRestartLockScreen = 1027,  // after a reload: start lumo again (locked when it was)
    kTimerLockScreenWatch = 1028,    // while a lock is in force: is lumo still there?
    kTimerUnknownCaller = 1029,      // show the caller screen with an unknown caller
    kTimerCallEndedTopmost = 1030,   // take the topmost style off lumo after a call
    kTimerTelephonyError = 1031,     // close telephony and schedule its restart
    kTimerWallpaper = 1032,          // change the wallpaper (re-arms itself)
    kTimerClosing = 1033,            // the closing box has been shown long enough
    kTimerWakeUpDelay = 1034,        // WM_WakeUpDelay
    kTimerHidePhoneDialog = 1035,    // hide the phone dialog behind the lock screen
    kTimerAppointments = 1036,       // refresh the appointment export (stops when done)
    kTimerDelayUnlock = 1037,        // WM_DelayUnlocked
    kTimerHookOn = 1038,             // turn the keyboard hook on
    kTimerDelayedStart = 1039,       // the delayed part of the start-up
    kTimerZorpFront = 1040,          // watch for the music player in front (re-arms itself)
    kTimerLockScreenFront = 1041,    // bring the lock screen to the front
    kTimerReminder = 1042,           // post WM_CHANGE_REMINDER to the own window
    kTimerPasswordLock = 1043,       // post WM_LOCK_PASSWORD to lumo (stops once posted)
    kTimerEmail = 1044,              // e-mail notification
    kTimerBGAutoStart = 1045,        // power button: BGAutoStart
    kTimerBootLock = 1046,           // lock after a recent boot with PasswordLock
    kTimerSleep = 1047,              // sleep-timer lock
    kTimerIncomingSearch = 1048,     // look for the phone's incoming window (re-arms itself)
    kTimerStopUnattended = 1049,     // WM_StopUnattendedLater
    kTimerPowerOffLater = 1050,      // WM_PowerOFFLater: WM_PowerOff to lumo
    kTimerStartMenu = 1051,          // remember the start-menu text, replace the 6.5 lock
    kTimerBlankOnTalk = 1053,        // turn the display off during a call
};

// The service's fixed waits, in milliseconds.
inline constexpr std::uint32_t kLaunchSettleMs = 1000;
inline constexpr std::uint32_t kRestartLockScreenMs = 800;
inline constexpr std::uint32_t kLockScreenWatchMs = 1000;
inline constexpr std::uint32_t kClosingBoxMs = 2000;
inline constexpr std::uint32_t kPasswordRetryMs = 1000;
inline constexpr std::uint32_t kStartMenuLead = 1000;  // timer 1051 runs this much before 1039
inline constexpr std::uint32_t kRecentBootMaxTick = 59999;
inline constexpr std::uint32_t kPowerThreadWaitMs = 300;
inline constexpr std::uint32_t kPowerReadSliceMs = 50;
inline constexpr std::uint32_t kAppointmentThreadWaitMs = 500;
inline constexpr std::uint32_t kTimerThreadWaitMs = 2000;
inline constexpr std::uint32_t kManilaClosingMs = 6000;
inline constexpr std::uint32_t kZorpFrontFirstMs = 8000;
inline constexpr std::uint32_t kZorpFrontRetryMs = 1000;
inline constexpr std::uint32_t kReminderRecountMs = 1000;
inline constexpr std::uint32_t kLockedStopUnattendedMs = 2000;
inline constexpr std::uint32_t kCountStopUnattendedMs = 6000;

// The power thread's decisions that touch windows run on the main thread: it sends this
// private message to the service window (wParam: WakeFlags) and waits for it to be handled.
inline constexpr std::uint32_t kMsgWakeFromPowerThread = 0x8400;

// WakeLockScreen's two flags.
enum WakeFlags : std::uint32_t {
    kWakeFront = 1,          // bring the lock screen to the front
    kWakeSkipCallCheck = 2,  // also during a call (and start it hidden when it is not running)
};

// Counters the state broadcasts carry; -1 while unknown (WM_GetAllStates skips those).
enum Counter : std::size_t {
    kMissedCalls,
    kUnreadSms,
    kUnreadMms,
    kUnreadVoiceMail,
    kUnreadEmail,
    kUnreadFlexMail,
    kUnreadInstantMessages,
    kActiveTasks,
    kReminders,
    kCounterCount
};

// The state broker subscriptions, one slot each (Subscriptions below).
inline constexpr std::size_t kSubscriptionSlots = 51;

class Worker;

struct State {
    State();
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    platform::Platform* platform = nullptr;
    std::unique_ptr<log::Environment> log_env;  // outlives the log, which points at it
    log::Log log;
    // DebugOn: most log lines are written only while it is set.
    std::atomic<bool> verbose = false;
    // Written by the main thread only, under SettingsMutex; other threads read them through
    // setting(), under the same lock.
    catalogue::Values settings = catalogue::Values::defaults(protocol::Program::Service, 255);
    std::mutex SettingsMutex;

    std::atomic<Hwnd> ServiceWindow = 0;
    std::atomic<Hwnd> SlideWindow = 0;
    std::atomic<Hwnd> TaskBarWindow = 0;
    std::u16string ProgramFolder;
    std::u16string LockScreenPath;
    std::u16string MusicPlayerPath;
    bool MusicPlayerInstalled = false;

    std::atomic<bool> Locked = false;
    // A lock is owed: lumo went away while a lock was in force (it died, or a reload closed
    // it), or a lock was asked for while lumo was still being started. lumo is started again
    // shown, or brought to the front, which locks, until it reports WM_Locked.
    std::atomic<bool> RelockPending = false;
    // WM_CLOSE arrived: lumo is being ended on purpose and is not to be brought back.
    std::atomic<bool> Closing = false;
    std::atomic<bool> LcdOff = false;
    std::atomic<bool> OnAC = false;
    std::atomic<std::uint8_t> BatteryPercent = 0;
    std::atomic<bool> DelayUnlocking = false;
    std::atomic<std::uint8_t> PowerPlugged = 0;
    std::atomic<bool> LaunchPending = false;
    std::atomic<bool> Talking = false;
    std::atomic<bool> Incoming = false;
    std::atomic<bool> Dialing = false;
    std::atomic<bool> CallWaiting = false;
    std::atomic<bool> BacklightOff = false;
    std::atomic<std::uint32_t> ReminderWakeTick = 0;
    std::atomic<bool> TaskBarHidden = false;     // the service moved the task bar away
    std::atomic<bool> TaskBarFullScreen = false; // ...or hid it for a full-screen lock screen
    std::atomic<std::uint8_t> CallerState = 0;
    std::atomic<std::uint8_t> UnattendedCount = 0;
    std::atomic<std::uint32_t> LastUnlockTick = 0;
    std::atomic<std::uint32_t> LastPowerStateTick = 0;
    std::atomic<std::uint32_t> LastCallEndTick = 0;
    std::atomic<bool> VolumeControlShown = false;
    std::atomic<bool> ShutdownDialogShown = false;
    std::atomic<std::uint8_t> SyncState = 0;
    std::array<std::atomic<std::int32_t>, kCounterCount> counters;
    // The broker's notification of each subscription slot, 0 while the slot is empty. Main
    // thread only.
    std::array<platform::NotificationHandle, kSubscriptionSlots> Subscriptions{};
    // The music player's last status and volume, the cellular system's converted value, and the
    // reminder count last passed on to lumo (-1: none yet).
    std::atomic<std::int32_t> ZorpStatus = 0;
    std::atomic<std::int32_t> ZorpVolume = 0;
    std::atomic<std::uint32_t> CellSystem = 0;
    std::int32_t ReminderForwarded = -1;
    // Read by the power thread's battery broadcast while the main thread registers listeners.
    std::array<std::atomic<Hwnd>, protocol::kMaxStateListeners> StateListeners{};
    std::uint32_t OsMajorVersion = 5;
    // The display driver answers the video power escape (asked once per settings load).
    std::atomic<bool> DisplayPowerEscape = false;

    // The shell windows subclassed while locked (desktop, Manila) and from start-up to the end
    // (the notification window): the window and the procedure to pass messages on to, 0 while
    // not subclassed. Main thread only.
    struct Subclassed {
        Hwnd window = 0;
        platform::PrevProc prev = 0;
    };
    Subclassed Desktop, Manila, Notify;

    // The thread that runs the message loop; the power thread hands window work to it.
    std::thread::id MainThread;
    // How the power thread waits where its rules say "sleep" (tests replace it).
    std::function<void(std::uint32_t ms)> sleep;

    // The call monitor. The telephony callback runs on the main thread; the flags the power
    // thread reads (the call flags above, these) are atomic.
    std::atomic<bool> CallerShown = false;    // WM_RunCaller was posted for this call
    std::atomic<bool> CallerPending = false;  // show it when lumo reports WM_SlideReady
    std::atomic<bool> ForcedUnknown = false;  // shown without a caller id (timer 1029)
    std::atomic<bool> PropNameSeen = false;
    std::atomic<bool> SuppressTalking = false;  // the next connected state is not reported
    std::atomic<bool> SlideDialing = false;     // lumo itself is dialing
    std::atomic<platform::CallHandle> OfferedCall = 0, CurrentCall = 0;
    // Main thread only from here on.
    std::array<platform::CallHandle, 2> VoiceCalls{}, DataCalls{};
    platform::LineAppHandle LineApp = 0;
    std::uint32_t LineDevices = 0;
    struct LineRecord {
        platform::LineHandle line = 0;
        bool voice = false;
        std::uint32_t version = 0;
        std::uint32_t addresses = 0;
        std::uint32_t device = 0;
    };
    std::vector<LineRecord> Lines;
    int DialDevice = -1;  // the first opened device: the dial line's
    platform::LineHandle DialLine = 0;
    platform::CallHandle DialCall = 0;
    std::int32_t DialRequest = 0;
    std::u16string PhoneName;
    std::u16string IncomingCaption;
    Hwnd PhoneWindow = 0;
    std::atomic<Hwnd> MenuWorker = 0;
    Hwnd SkinWindow = 0;
    Subclassed IncomingSubclass, SkinSubclass;
    std::uint32_t IncomingSearchStart = 0;
    bool MenuWorkerSearchLogged = false;
    std::uint8_t HideDialogRetries = 0;
    struct SimEntry {
        std::u16string number, name;
    };
    std::vector<SimEntry> SimBook;
    bool SimOpen = false;

    // Facts read at start.
    std::atomic<bool> BluetoothOn = false;  // follows WM_CHANGE_SN_BLUETOOTH; the power thread reads it
    std::uint32_t ConnectionCount = 0;
    bool SkinnedPhone = false;
    Hwnd IncomingWindow = 0;
    std::uint32_t BootTick = 0;
    bool RecentBoot = false;
    std::u16string CommandLine;

    // Worker threads and the events they are stopped or woken by.
    std::unique_ptr<Worker> power_thread;
    std::unique_ptr<Worker> appointment_thread;
    std::unique_ptr<Worker> timer_thread;
    platform::SyncHandle ToneDoneEvent = 0;
    platform::SyncHandle NotifyEvent = 0;      // "Vardex2Notify"
    platform::SyncHandle NotifyStopEvent = 0;  // "VardexNotifyStop"
    std::atomic<bool> AppointmentStopping = false;

    // The appointment export: the event that wakes its thread (made on first use), the
    // thread's busy flag and the main thread's cancel flag. Atomic: both threads use them.
    std::atomic<platform::SyncHandle> AppointmentRefreshEvent = 0;
    std::atomic<bool> AppointmentBusy = false;
    std::atomic<bool> AppointmentCancel = false;
    // The stores were opened by the delayed start-up.
    bool PimOpen = false;
    // --- lock conditions ---
    // The exception list: written by the main thread at each load, read by the power thread
    // (both under SettingsMutex).
    std::array<std::u16string, 20> Exceptions;
    // The keyboard hook (main thread), and what the hook keeps between keys.
    platform::HookHandle KeyHook = 0;
    // The system library the hook functions come from, loaded while the hook is on.
    platform::LibraryHandle HookLibrary = 0;
    bool KeyHookRefused = false;  // the hook could not be installed: off for the run
    std::atomic<std::uint32_t> SkipKeys = 0;
    std::atomic<std::uint32_t> LastKey = 0;

    // --- timed events ---
    // The minute (since the file-time epoch) of the last wallpaper change; the power thread's
    // wake-up check reads it.
    std::atomic<std::uint32_t> LastWallpaperMinute = 0;
    // Set to end the running sleep-timer listener; each listener has its own.
    std::shared_ptr<std::atomic<bool>> ListenerQuit;

    // --- system overrides ---
    // The five notification options saved at a lock (nullopt: the phone has no such value).
    std::array<std::optional<std::uint32_t>, 5> SavedReminders;
    bool RemindersSaved = false;
    bool RemindersDisabled = false;
    std::optional<std::uint32_t> SavedLongPressEnd;
    std::uint32_t SavedSamsungAction = 0;  // 0: nothing saved
    std::u16string StartMenuText;
    Subclassed StartMenuWorker;
    bool StartMenuTried = false;
};

// A numeric setting, safe to read from any thread.
std::uint32_t setting(State& state, catalogue::Id id);

// A line in the log when DebugOn is set.
void trace(State& state, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace lumo::service
