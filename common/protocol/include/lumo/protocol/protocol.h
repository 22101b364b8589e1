#pragma once
// The protocol between the four programs and the music player: window names, executable names,
// private message numbers with their routes, command-line switches and the registry values that
// serve as mailboxes. This header is the only place where these numbers and names are written;
// every program refers to them by name.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lumo::protocol {

// ---------------------------------------------------------------------------------------------
// Programs, their windows (class and title are the same string) and executables.

enum class Program : std::uint8_t { Service, LockScreen, Settings, Browser, Zorp };

struct ProgramInfo {
    Program program;
    std::u16string_view window;  // class = title; "running" means such a top-level window exists
    std::u16string_view exe;     // file name in the installation folder
};

inline constexpr std::array<ProgramInfo, 5> kPrograms{{
    {Program::Service, u"Vardex2", u"Vardex2.exe"},
    {Program::LockScreen, u"Lumo", u"lumo.exe"},
    {Program::Settings, u"LumoSettings", u"LumoSettings.exe"},
    {Program::Browser, u"LumoC", u"LumoC.exe"},
    // The music player is not part of the product; it is looked for in the installation folder
    // and then in the sibling folder whose name ends in 'P' (see the service's start-up).
    {Program::Zorp, u"Zorp", u"zorp.exe"},
}};

constexpr const ProgramInfo& program_info(Program p) {
    return kPrograms[static_cast<std::size_t>(p)];
}
constexpr std::u16string_view window_name(Program p) {
    return program_info(p).window;
}
constexpr std::u16string_view exe_name(Program p) {
    return program_info(p).exe;
}

// The shell's notification window, subclassed by the service and poked by the lock screen.
inline constexpr std::u16string_view kShellNotifyWindow = u"WinCENotify";
// Caption of the message boxes of the product.
inline constexpr std::u16string_view kProductName = u"Lumo";

// ---------------------------------------------------------------------------------------------
// Private messages. All lie in the application range (0x8000 + n).

// Who sends a message to whom; a message may travel several routes.
enum Route : std::uint16_t {
    kServiceToLock = 1 << 0,  // posted, lParam = the service's LcdOff flag unless noted
    kLockToService = 1 << 1,  // posted, lParam 0
    kServiceToSelf = 1 << 2,
    kAnyToService = 1 << 3,
    kSettingsToService = 1 << 4,  // LumoSettings (and LumoC, for the state-listener messages)
    kBroker = 1 << 5,             // registered with the state broker; wParam = new value
    kToListeners = 1 << 6,        // also forwarded to the registered state-listener windows
    kSent = 1 << 7,               // sent (synchronously) on at least one of its routes
    kPoomToService = 1 << 8,
    kLockToSelf = 1 << 9,
};

// X(name, number, routes, meaning). The constants, the name table and the route table all
// expand from this one list.
#define LUMO_PROTOCOL_MESSAGES(X)                                                                 \
    X(WM_FindSlideWnd, 0x8001, kAnyToService, "re-find the Lumo window")                          \
    X(WM_OffDisplay, 0x8002, kServiceToSelf | kLockToService, "turn the display off now")         \
    X(WM_UpdateBattery, 0x8003, kServiceToLock | kToListeners,                                    \
      "wParam battery percent, lParam 1 on external power")                                       \
    X(WM_GetBattery, 0x8004, kLockToService, "ask for a battery broadcast")                       \
    X(WM_PowerOff, 0x8005, kServiceToLock, "press the power key (suspend)")                       \
    X(WM_PhoneKey, 0x8006, kLockToService | kServiceToSelf, "wParam virtual key 112, 113, 115")   \
    X(WM_IdleOff, 0x8007, kLockToService, "idle time ran out; display off")                       \
    X(WM_EndCaller, 0x8008, kServiceToLock, "end the call screen; wParam 1 stay locked")          \
    X(WM_SlideReady, 0x8009, kLockToService, "re-find Lumo, run a pending caller screen")         \
    X(WM_CHANGE_PHONESIGNALSTRENGTH, 0x800A, kBroker | kServiceToLock, "signal strength")         \
    X(WM_CHANGE_PHONEMISSEDCALLS, 0x800B, kBroker | kServiceToLock, "missed calls")               \
    X(WM_CHANGE_MESSAGINGSMSUNREAD, 0x800C, kBroker | kServiceToLock, "unread SMS")               \
    X(WM_CHANGE_MESSAGINGMMSUNREAD, 0x800D, kBroker | kServiceToLock, "unread MMS")               \
    X(WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD, 0x800E, kBroker | kServiceToLock,                  \
      "unread voice mail")                                                                        \
    X(WM_CHANGE_MESSAGINGTOTALEMAILUNREAD, 0x800F, kBroker | kServiceToLock, "unread e-mail")     \
    X(WM_CHANGE_APPOINTMENTS, 0x8010, kBroker, "refresh the appointment export")                  \
    X(WM_TalkingChanged, 0x8011, kServiceToSelf | kServiceToLock, "a call connected or ended")    \
    X(WM_IncomingChanged, 0x8012, kServiceToSelf, "an incoming call began or ended")              \
    X(WM_CHANGE_SN_PHONEOPERATORNAME, 0x8013, kBroker | kServiceToLock,                           \
      "operator name or phone status")                                                            \
    X(WM_CHANGE_NEXTALARM, 0x8016, kBroker | kServiceToLock, "next alarm changed")                \
    X(WM_StopAllTimer, 0x8017, kServiceToLock, "stop the lock screen's timers")                   \
    X(WM_Unlock, 0x8018, kServiceToLock | kLockToService,                                         \
      "service: unlock now (wParam PowerPlugged); lumo: the user unlocked")                       \
    X(WM_Locked, 0x8019, kLockToService | kServiceToSelf, "the lock screen is up")                \
    X(WM_DialingChanged, 0x801A, kServiceToSelf | kServiceToLock, "an outgoing call began")       \
    X(WM_CHANGE_TASKSACTIVE, 0x801C, kBroker | kServiceToLock, "active or due tasks")             \
    X(WM_CHANGE_SN_PHONERINGER, 0x801E, kBroker | kServiceToLock, "ringer mode")                  \
    X(WM_CHANGE_SN_BLUETOOTH, 0x801F, kBroker | kServiceToLock, "Bluetooth state")                \
    X(WM_CHANGE_SN_WIFI, 0x8020, kBroker | kServiceToLock, "Wi-Fi state")                         \
    X(WM_RunCaller, 0x8021, kServiceToLock, "show the call screen; lParam CallerState")           \
    X(WM_BatteryDone, 0x8022, kServiceToLock, "follows every battery answer to lumo")             \
    X(WM_GetAllStates, 0x8023, kLockToService, "wParam screen width, lParam screen height")       \
    X(WM_GetBatteryFor, 0x8024, kSettingsToService, "wParam the asking window")                   \
    X(WM_UpdateLastCall, 0x8025, kServiceToLock, "refresh the last-call line")                    \
    X(WM_ChangeWallpaper, 0x8026, kServiceToLock, "change to the next wallpaper")                 \
    X(WM_GetBatteryS2V, 0x8028, kAnyToService, "battery to the running S2V program")              \
    X(WM_StopWallpaperTimer, 0x8029, kAnyToService, "stop the wallpaper change")                  \
    X(WM_CHANGE_WALLPAPER, 0x802A, kBroker | kServiceToLock, "Wallpaper or WallpaperL changed")   \
    X(WM_RefreshSetting, 0x802B, kAnyToService, "reload all settings and restart lumo")           \
    X(WM_CHANGE_CONNECTIONSCOUNT, 0x802C, kBroker | kServiceToLock | kToListeners, "connections") \
    X(WM_CHANGE_ZORPTITLE, 0x802D, kBroker | kServiceToLock, "Zorp title changed")                \
    X(WM_CHANGE_ZORPALBUM, 0x802E, kBroker | kServiceToLock, "Zorp album changed")                \
    X(WM_CHANGE_ZORPSTATUS, 0x802F, kBroker | kServiceToLock, "Zorp play status")                 \
    X(WM_CHANGE_ZORPVOLUME, 0x8030, kBroker | kServiceToLock, "Zorp volume")                      \
    X(WM_CHANGE_WEATHER, 0x8031, kBroker | kServiceToLock, "weather changed")                     \
    X(WM_AddStateListener, 0x8032, kSettingsToService, "wParam the window to add")                \
    X(WM_RemoveStateListener, 0x8033, kSettingsToService, "wParam the window to remove")          \
    X(WM_CHANGE_BT_MSHEADPHONE, 0x8034, kServiceToSelf | kServiceToLock | kToListeners,           \
      "Bluetooth state masked with 0x14")                                                         \
    X(WM_ShowLock, 0x8035, kServiceToLock | kLockToSelf | kSent, "a lock has begun")              \
    X(WM_CHANGE_FLEXMAILUNREAD, 0x8036, kBroker | kServiceToLock, "FlexMail unread total")        \
    X(WM_CHANGE_WLMUNREAD, 0x8037, kBroker | kServiceToLock, "unread instant messages")           \
    X(WM_VolumeControl, 0x8038, kLockToService | kServiceToLock | kSent,                          \
      "volume control shown (1) or hidden (0)")                                                   \
    X(WM_CHANGE_KEYBOARDSLIDE, 0x8039, kBroker, "non-zero = keyboard opened")                     \
    X(WM_CHANGE_CALLERNUMBER, 0x803A, kBroker | kServiceToLock, "caller number changed")          \
    X(WM_CHANGE_CALLERNAME, 0x803B, kBroker | kServiceToLock, "caller name changed")              \
    X(WM_UpdateInCall, 0x803C, kServiceToLock, "a call is in progress under the lock")            \
    X(WM_Vibrate, 0x803D, kLockToService, "vibrate wParam milliseconds")                          \
    X(WM_Talking, 0x803E, kServiceToLock, "1 talking, 0 not")                                     \
    X(WM_Dialing, 0x803F, kServiceToLock, "1 dialing, 0 not")                                     \
    X(WM_CHANGE_CFUSTATE, 0x8040, kBroker | kServiceToLock, "call-forwarding state")              \
    X(WM_CHANGE_CELLSYSTEMCONNECTED, 0x8042, kBroker | kServiceToLock | kToListeners,             \
      "cellular system connected")                                                                \
    X(WM_CHANGE_ACTIVESYNC, 0x8043, kBroker | kServiceToLock | kToListeners,                      \
      "synchronizing state")                                                                      \
    X(WM_CHANGE_OWNERINFO, 0x8045, kBroker | kServiceToLock, "owner name or telephone changed")   \
    X(WM_UPDATEAPPOINTMENT, 0x8046, kServiceToLock, "the appointment export was rewritten")       \
    X(WM_CHANGE_STYLUS, 0x8047, kBroker, "non-zero = stylus out")                                 \
    X(WM_UnhideTaskBar, 0x8048, kLockToService, "show the task bar again")                        \
    X(WM_VardexLocked, 0x8049, kServiceToLock, "confirms a lock state change: 1 locked")          \
    X(WM_BACKLIGHT_OFF, 0x804A, kServiceToLock, "the backlight went off while locked")            \
    X(WM_AutoStartLocked, 0x804B, kServiceToLock | kSent, "power button pressed while locked")    \
    X(WM_CHANGE_INCOMINGPROPNAME, 0x804C, kBroker | kServiceToLock, "incoming caller property")   \
    X(WM_PowerButtonHangUp, 0x804D, kServiceToLock, "the power button ended the incoming call")   \
    X(WM_HideIncoming, 0x804E, kServiceToLock, "the phone dialog is hidden behind the lock")      \
    X(WM_CHANGE_HEADPHONE, 0x804F, kBroker | kServiceToLock | kToListeners, "headset state")      \
    X(WM_CHANGE_BLUETOOTHHEADSET, 0x8050, kBroker, "Bluetooth state (mask 0x14)")                 \
    X(WM_CHANGE_REMINDER, 0x8051, kServiceToSelf | kServiceToLock, "reminder count")              \
    X(WM_LOCK_PASSWORD, 0x8052, kServiceToLock, "lock with the password keypad")                  \
    X(WM_ShowNotification, 0x8053, kServiceToLock, "show the reminder notification")              \
    X(WM_ShowMessage, 0x8054, kServiceToLock, "show the new-message preview")                     \
    X(WM_CHANGE_INCOMINGNAME, 0x8055, kBroker | kServiceToLock, "incoming caller name")           \
    X(WM_REPEAT_LOCK, 0x8056, kServiceToLock, "lock again because of a new event")                \
    X(WM_CHANGE_REMINDERACTIVE, 0x8057, kBroker, "reminders changed")                             \
    X(WM_OpenMessage, 0x8058, kLockToService, "open the newest message of a kind")                \
    X(WM_PlayDTMF, 0x8059, kLockToService, "play a key's dual-tone sound")                        \
    X(WM_CallEnded, 0x805A, kServiceToLock, "a voice call was disconnected")                      \
    X(WM_SlideDialing, 0x805B, kLockToService, "emergency keypad open (1) or closed (0)")         \
    X(WM_MakeCall, 0x805C, kLockToService, "0 dial DialNumber, 1 hang up")                        \
    X(WM_DropConnectedCall, 0x805D, kLockToService, "drop the connected call")                    \
    X(WM_CallBusy, 0x805E, kServiceToLock, "the called line is busy")                             \
    X(WM_ShutDown, 0x805F, kLockToService | kServiceToLock | kLockToSelf | kSent,                 \
      "shutdown slider opened (0) or closed (1)")                                                 \
    X(WM_DeviceShutDown, 0x8060, kLockToService | kSent, "switch the device off")                 \
    X(WM_ADD_SLEEPTIMER, 0x8061, kSettingsToService, "re-arm the sleep timer")                    \
    X(WM_MarkReadMessage, 0x8062, kLockToService, "mark the newest unread message read")          \
    X(WM_CHANGE_CRADLE, 0x8063, kBroker, "non-zero = cradled")                                    \
    X(WM_PoomItemCreated, 0x8105, kPoomToService, "wParam item, lParam folder")                   \
    X(WM_PoomItemDeleted, 0x8106, kPoomToService, "wParam item, lParam folder")                   \
    X(WM_PoomItemChanged, 0x8107, kPoomToService | kLockToService,                                \
      "wParam item, lParam folder (0 from lumo)")

#define LUMO_PROTOCOL_CONSTANT(name, number, routes, meaning) \
    inline constexpr std::uint32_t name = number;
LUMO_PROTOCOL_MESSAGES(LUMO_PROTOCOL_CONSTANT)
#undef LUMO_PROTOCOL_CONSTANT

struct MessageInfo {
    std::uint32_t number;
    std::string_view name;
    std::uint16_t routes;  // Route bits
    std::string_view meaning;
};

#define LUMO_PROTOCOL_ROW(name, number, routes, meaning) \
    MessageInfo{number, #name, static_cast<std::uint16_t>(routes), meaning},
inline constexpr MessageInfo kMessages[] = {LUMO_PROTOCOL_MESSAGES(LUMO_PROTOCOL_ROW)};
#undef LUMO_PROTOCOL_ROW

constexpr std::span<const MessageInfo> messages() {
    return kMessages;
}

// The row of a private message number; nullptr for numbers outside the protocol.
constexpr const MessageInfo* find_message(std::uint32_t number) {
    for (const auto& m : kMessages)
        if (m.number == number) return &m;
    return nullptr;
}

// A name for logs: the protocol name, or an empty view for other numbers.
constexpr std::string_view message_name(std::uint32_t number) {
    const auto* m = find_message(number);
    return m ? m->name : std::string_view{};
}

// ---------------------------------------------------------------------------------------------
// Parameter values carried by the messages above.

// lParam of WM_RunCaller.
enum class CallerState : std::uint32_t { Locked = 1, Unlocked = 2, CallWaiting = 3, Dialing = 4 };

// wParam of WM_PhoneKey: the two soft keys (answer, reject) and the end key. The power-button
// hang-up posts kPhoneKeyReject.
inline constexpr std::uint32_t kPhoneKeyAnswer = 112;
inline constexpr std::uint32_t kPhoneKeyReject = 113;
inline constexpr std::uint32_t kPhoneKeyEnd = 115;

// wParam of WM_ShowMessage.
enum class PreviewKind : std::uint32_t { Sms = 0, Mms = 1, Email = 2 };
// wParam of WM_OpenMessage and WM_MarkReadMessage.
enum class MessageKind : std::uint32_t { Sms = 2, Mms = 3, Email = 4 };

// wParam of WM_Vibrate, in milliseconds.
inline constexpr std::uint32_t kVibrateShortMs = 35;
inline constexpr std::uint32_t kVibrateLongMs = 150;

// wParam of WM_PlayDTMF for the star and hash keys (digits are their own characters).
inline constexpr char16_t kDtmfStar = u'w';
inline constexpr char16_t kDtmfHash = u'x';

// wParam of WM_MakeCall.
inline constexpr std::uint32_t kMakeCallDial = 0;
inline constexpr std::uint32_t kMakeCallHangUp = 1;

// wParam of WM_ShutDown.
inline constexpr std::uint32_t kShutDownOpened = 0;
inline constexpr std::uint32_t kShutDownClosed = 1;

// Bits of the Bluetooth state that WM_CHANGE_BLUETOOTHHEADSET and WM_CHANGE_BT_MSHEADPHONE carry.
inline constexpr std::uint32_t kBluetoothHeadsetMask = 0x14;

// The service keeps this many state-listener windows; further registrations are ignored.
inline constexpr std::size_t kMaxStateListeners = 10;

// The music player's command: WM_COMMAND with this wParam (sent by the service's sleep timer).
inline constexpr std::uint32_t kZorpCommandSleep = 301;

// The order in which the service answers WM_GetAllStates (the three unread counters are
// skipped while unknown); with Zorp running it then adds title, album and status, and the volume
// always comes last.
inline constexpr std::array<std::uint32_t, 10> kAllStatesOrder{
    WM_CHANGE_TASKSACTIVE,
    WM_CHANGE_PHONEMISSEDCALLS,
    WM_CHANGE_MESSAGINGSMSUNREAD,
    WM_CHANGE_MESSAGINGMMSUNREAD,
    WM_CHANGE_MESSAGINGVOICEMAILTOTALUNREAD,
    WM_CHANGE_MESSAGINGTOTALEMAILUNREAD,
    WM_CHANGE_FLEXMAILUNREAD,
    WM_CHANGE_WLMUNREAD,
    WM_CHANGE_REMINDER,
    WM_CHANGE_ACTIVESYNC};
inline constexpr std::array<std::uint32_t, 3> kAllStatesZorp{
    WM_CHANGE_ZORPTITLE, WM_CHANGE_ZORPALBUM, WM_CHANGE_ZORPSTATUS};

// ---------------------------------------------------------------------------------------------
// Messages private to the settings window and the browser. Their numbers coincide with some of
// the service's messages; they carry this meaning only for the window named.
namespace settings_window {
inline constexpr std::uint32_t kLockSoundChanged = 0x8028;     // broker: LockSound
inline constexpr std::uint32_t kUnlockSoundChanged = 0x8029;   // broker: UnlockSound
inline constexpr std::uint32_t kWallpaperChanged = 0x802A;     // broker: Wallpaper
inline constexpr std::uint32_t kWallpaperLChanged = 0x802B;    // broker: WallpaperL
inline constexpr std::uint32_t kUnlockRunExeChanged = 0x802D;  // broker: UnlockRunEXE
inline constexpr std::uint32_t kExceptionPicked = 0x802E;      // LumoC: TempExceptionEXE written
inline constexpr std::uint32_t kThemePicked = 0x8062;          // LumoC: LoadTheme written
}  // namespace settings_window

namespace browser_window {
inline constexpr std::uint32_t kBrowse = 0x8062;          // LumoSettings: wParam browse mode
inline constexpr std::uint32_t kGSensorChanged = 0x803C;  // broker: the G-sensor's EventChanged

// wParam of kBrowse, and the settings program's pick modes.
enum class BrowseMode : std::uint32_t {
    WallpaperPortrait = 0,
    WallpaperLandscape = 1,
    LockSound = 2,
    UnlockSound = 3,
    Theme = 4,
    UnlockProgram = 5,
    ExceptionProgram = 6,
};
}  // namespace browser_window

// ---------------------------------------------------------------------------------------------
// Command-line switches.

namespace service_switch {
inline constexpr std::u16string_view kShow = u"-show";          // start and lock at once
inline constexpr std::u16string_view kNoMessage = u"-nomsg";    // stop without closing message
inline constexpr std::u16string_view kPassword = u"-password";  // lock with the password keypad
inline constexpr std::u16string_view kUnlock = u"-unlock";      // unlock the running lock screen
inline constexpr std::u16string_view kReset = u"-reset";        // zero the unread counters
inline constexpr std::u16string_view kSlide = u"-slide";        // bring the lock screen up
}  // namespace service_switch

namespace lock_switch {
inline constexpr std::u16string_view kHide = u"-hide";    // start hidden (the service does so)
inline constexpr std::u16string_view kVolume = u"-vc";    // running lumo: WM_VolumeControl 1
inline constexpr std::u16string_view kPowerOff = u"-po";  // running lumo: WM_ShutDown 0
}  // namespace lock_switch

// Display back-end overrides of a single run (they override DisplayMode).
namespace display_switch {
inline constexpr std::u16string_view kDirectDraw = u"-ddraw";
inline constexpr std::u16string_view kGdi = u"-gdi";
}  // namespace display_switch

// Whether a command line begins with a switch (the programs test prefixes, not whole words).
constexpr bool starts_with_switch(std::u16string_view command_line, std::u16string_view sw) {
    return command_line.substr(0, sw.size()) == sw;
}

// ---------------------------------------------------------------------------------------------
// Registry keys and mailbox values (all under HKEY_CURRENT_USER).

inline constexpr std::u16string_view kRootKey = u"Software\\Vesk\\Lumo";
inline constexpr std::u16string_view kExceptionsKey = u"Software\\Vesk\\Lumo\\Exceptions";
inline constexpr std::u16string_view kS2VExeKey = u"Software\\Vesk\\Lumo\\S2VEXE";
inline constexpr std::u16string_view kAppointmentsKey = u"Software\\Vesk\\Lumo\\Appointments";
inline constexpr std::u16string_view kTasksKey = u"Software\\Vesk\\Lumo\\Tasks";
inline constexpr std::u16string_view kMessageKey = u"Software\\Vesk\\Lumo\\Message";
inline constexpr std::u16string_view kSmsKey = u"Software\\Vesk\\Lumo\\SMS";
inline constexpr std::u16string_view kMmsKey = u"Software\\Vesk\\Lumo\\MMS";
inline constexpr std::u16string_view kBackupKey = u"Software\\Vesk\\Lumo\\Backup";
inline constexpr std::u16string_view kZorpKey = u"Software\\Vesk\\Zorp";

namespace mailbox {
// Under kRootKey.
inline constexpr std::u16string_view kIncomingName = u"IncomingName";
inline constexpr std::u16string_view kIncomingNumber = u"IncomingNumber";
inline constexpr std::u16string_view kIncomingText = u"IncomingText";
inline constexpr std::u16string_view kDialNumber = u"DialNumber";
inline constexpr std::u16string_view kStartText = u"StartText";
inline constexpr std::u16string_view kSleepTimer = u"SleepTimer";      // 8-byte file time
inline constexpr std::u16string_view kLastLockTime = u"LastLockTime";  // 8-byte file time
inline constexpr std::u16string_view kTempExceptionExe = u"TempExceptionEXE";
inline constexpr std::u16string_view kLoadTheme = u"LoadTheme";
inline constexpr std::u16string_view kUserWeather = u"UserWeather";
inline constexpr std::u16string_view kLastZorpControl = u"LastZorpControl";  // byte
inline constexpr std::u16string_view kNotifiedVersion = u"NotifiedVersion";  // number
// Under kMessageKey.
inline constexpr std::u16string_view kAccount = u"Account";

// Contents of IncomingNumber besides a number.
inline constexpr std::u16string_view kNumberUnknown = u"unknown";
inline constexpr std::u16string_view kNumberOutOfArea = u"outofarea";

// Longest texts the writers leave, in characters.
inline constexpr std::size_t kDialNumberMax = 80;
inline constexpr std::size_t kStartTextMax = 20;
}  // namespace mailbox

// The music player's published state, under kZorpKey.
namespace zorp {
inline constexpr std::u16string_view kCurrentTitle = u"CurrentTitle";  // non-empty = playing
inline constexpr std::u16string_view kCurrentAlbum = u"CurrentAlbum";
inline constexpr std::u16string_view kStatus = u"Status";            // number
inline constexpr std::u16string_view kMusicVolume = u"MusicVolume";  // number
}  // namespace zorp

// Service restart by the settings program: WM_CLOSE, then look again this often, this many times.
inline constexpr std::uint32_t kRestartPollMs = 500;
inline constexpr int kRestartPolls = 20;

}  // namespace lumo::protocol
