#pragma once
// The device host's protocol: one SOCK_SEQPACKET connection per device process. Every packet
// starts with a Header; a request's reply repeats its kind and sequence number and starts its body
// with a Status. Bodies are sequences of little-endian fields read with bounds checks (wire.h):
// the host never trusts a client's bytes.
#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>

namespace lumo::wire {

inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kMaxPacket = 65536;

// Every request kind, with its number, once. Fields are listed in the comment in wire order
// (u32 = 32-bit number, s16 = UTF-16 string, bin = byte string).
#define LUMO_REQUESTS(X)                                                                   \
    X(Hello, 1)             /* u32 version, u32 pid, s16 program -> u32 client id */       \
    X(Status, 2)            /* -> s16 text (UTF-16 of a UTF-8 report) */                   \
    X(Shutdown, 3)          /* -> (the host ends after replying) */                        \
    X(RegOpenKey, 10)       /* u32 root, s16 path -> */                                    \
    X(RegCreateKey, 11)     /* u32 root, s16 path -> u32 created */                        \
    X(RegReadValue, 12)     /* u32 root, s16 path, s16 name -> u32 type, bin data */       \
    X(RegWriteValue, 13)    /* u32 root, s16 path, s16 name, u32 type, bin data -> */      \
    X(RegDeleteValue, 14)   /* u32 root, s16 path, s16 name -> */                          \
    X(RegDeleteKey, 15)     /* u32 root, s16 path -> */                                    \
    X(RegEnumSubkey, 16)    /* u32 root, s16 path, u32 index -> s16 name */                \
    X(RegEnumValue, 17)     /* u32 root, s16 path, u32 index -> s16 name, u32 type, u32 size */ \
    X(RegFlush, 18)         /* u32 root, s16 path -> */                                    \
    X(NotifyRegister, 20)   /* u32 root, s16 key, s16 value, u32 hwnd, u32 msg, u32 mask,  \
                               u32 batch_ms -> u32 handle */                               \
    X(NotifyClose, 21)      /* u32 handle -> */                                        \
    X(WinCreate, 30)        /* u32 style, u32 ex, rect, u32 parent, s16 class, s16 title  \
                               -> u32 hwnd (rect = i32 left, top, right, bottom) */       \
    X(WinDestroy, 31)       /* u32 hwnd -> */                                              \
    X(WinInfo, 32)          /* u32 hwnd -> s16 class, s16 title, u32 style, u32 ex, rect, \
                               u32 parent, u32 pid, u32 flags (1 visible, 2 minimised) */ \
    X(WinFind, 33)          /* u32 which (1 class, 2 title), s16 class, s16 title -> hwnd */ \
    X(WinSetText, 34)       /* u32 hwnd, s16 text -> */                                    \
    X(WinSetStyle, 35)      /* u32 hwnd, u32 which (0 style, 1 ex), u32 value -> */        \
    X(WinRelation, 36)      /* u32 hwnd, u32 relation -> u32 hwnd */                       \
    X(WinList, 37)          /* -> u32 count, u32 hwnd... (z-order, top first) */          \
    X(WinShow, 38)          /* u32 hwnd, i32 command -> u32 was visible */                 \
    X(WinSetPos, 39)        /* u32 hwnd, u32 after, rect, u32 flags -> */                  \
    X(WinForeground, 40)    /* -> u32 hwnd */                                              \
    X(WinSetForeground, 41) /* u32 hwnd -> */                                              \
    X(WinBringToTop, 42)    /* u32 hwnd -> */                                              \
    X(WinFromPoint, 43)     /* i32 x, i32 y -> u32 hwnd */                                 \
    X(MsgPost, 44)          /* u32 hwnd, u32 msg, u32 wparam, i32 lparam -> */             \
    X(MsgSend, 45)          /* u32 hwnd, u32 msg, u32 wparam, i32 lparam, u32 below       \
                               (0: the whole chain; else the subclass below it) -> i32 */ \
    X(MsgReply, 46)         /* u32 send id, i32 result -> (nobody waits for this reply) */ \
    X(Subclass, 47)         /* u32 hwnd -> u32 entry */                                    \
    X(Unsubclass, 48)       /* u32 hwnd, u32 entry -> */                                   \
    X(HookSet, 49)          /* -> u32 hook */                                              \
    X(HookRemove, 50)       /* u32 hook -> */                                              \
    X(HookReply, 51)        /* u32 call id, u32 swallow -> (nobody waits) */               \
    X(KeyEvent, 52)         /* u32 vk, u32 flags -> */                                     \
    X(MessageBox, 53)       /* u32 owner, u32 flags, s16 text, s16 caption -> u32 hwnd */  \
    X(DialogList, 54)       /* -> u32 count, (u32 hwnd, u32 pid, u32 flags, s16 caption,  \
                               s16 text)... */                                            \
    X(DialogPress, 55)      /* u32 hwnd (0: the newest), i32 button -> */                  \
    X(ProcStart, 60)        /* s16 path, s16 arguments, u32 shown -> u32 pid */            \
    X(ProcList, 61)         /* -> u32 count, (u32 pid, s16 path)... */                     \
    X(ProcKill, 62)         /* u32 pid -> */                                               \
    X(ProcWait, 63)         /* u32 pid, u32 timeout ms -> u32 ended */                     \
    X(ProcSelf, 64)         /* -> u32 pid, s16 path, s16 fs root */                        \
    X(SyncCreate, 70)       /* u32 kind (1 mutex, 2 event), u32 manual, u32 initial,      \
                               s16 name -> u32 handle, u32 existed */                     \
    X(SyncSignal, 71)       /* u32 handle, u32 op (1 set, 2 reset, 3 pulse, 4 probe) -> */          \
    X(SyncWait, 72)         /* u32 all, u32 timeout ms, u32 count, u32 handle... -> u32 */ \
    X(SyncClose, 73)        /* u32 handle -> */                                            \
    X(TimeSet, 80)          /* u32 which (1 boot age ms, 2 local file time), u64 value -> */ \
    X(DisplayInfo, 90)      /* -> u32 width, u32 height, u32 dpi, u32 major, u32 minor,   \
                               u32 build, s16 oem information */                          \
    X(DisplayPresent, 91)   /* u32 hwnd -> (a frame is ready in the shared frame) */       \
    X(DisplayScreenshot, 92) /* u32 byte offset (0: take a new picture) -> u32 width,      \
                               u32 height, u32 total bytes, bin RGB565 rows from offset */ \
    X(DisplayTouch, 93)     /* u32 action (1 down, 2 move, 3 up), i32 x, i32 y -> u32 hwnd \
                               (the window the stylus reached, 0: none) */               \
    X(DisplayLoseSurface, 94) /* -> (marks the shared primary surface lost) */             \
    X(DisplayRotate, 95)    /* u32 degrees (0, 90, 180, 270) -> */                         \
    X(PowerAction, 100)     /* u32 action (PowerAction), u32 value -> */                     \
    X(PowerStatus, 101)     /* -> u32 state, s16 state name, u32 on AC, u32 battery percent, \
                               u32 display lit (0 off, 1 dim, 2 on), u32 video off,     \
                               u32 unattended requests held */                        \
    X(PowerNotifyOpen, 102) /* u32 mask (1 transitions, 8 information changes) -> u32 queue */ \
    X(PowerNotifyClose, 103) /* u32 queue -> */                                       \
    X(SoundPlay, 110)       /* u32 flags, s16 device path -> u32 clip ms (NotFound: no  \
                               such file, Failed: not playable or busy) */              \
    X(SoundStop, 111)       /* -> */                                                      \
    X(SoundStatus, 112)     /* -> u32 playing, s16 path, u32 ms left, s16 last path,    \
                               u32 plays, u32 volume, u32 audio output (0 silent) */    \
    X(SoundVolume, 113)     /* u32 set (0 read), u32 volume -> u32 volume */            \
    X(RadioList, 120)       /* -> u32 count, (u32 type, s16 name, u32 on)... */          \
    X(RadioSet, 121)        /* u32 type, u32 on -> (NotFound: no such radio) */ \
    X(PimQuery, 150)        /* u32 folder, s16 restriction, s16 sort, u32 recurrences,  \
                               u32 offset -> u32 total, u32 count, items (BadRequest:   \
                               s16 why); an item: u32 id, s16 subject, then for the     \
                               calendar s16 location, u64 start, u64 end (f64 bits),   \
                               u32 all-day, u32 recurrence, u64 pattern start; for     \
                               tasks u32 has due, u64 due, u32 importance, u32 complete */ \
    X(PimNotify, 151)       /* u32 folder, u32 hwnd -> */                               \
    X(MsgStores, 152)       /* -> u32 count, (u32 id, s16 name)... */                   \
    X(MsgReadRow, 153)      /* u32 store, u32 index -> u32 entry, s16 sender, s16       \
                               subject, s16 e-mail, u64 delivery time, u32 flags */      \
    X(MsgSetFlags, 154)     /* u32 store, u32 entry, u32 flags -> */                    \
    X(MsgDisplay, 155)      /* u32 store, u32 entry -> (tmail.exe shows it) */         \
    X(PimAddAppointment, 156) /* s16 subject, s16 location, u64 start, u64 end (f64     \
                               bits), u32 all-day, u32 recurrence -> u32 id */          \
    X(PimDeleteAppointment, 157) /* u32 id -> */                                        \
    X(PimAddTask, 158)      /* s16 subject, u32 has due, u64 due, u32 importance -> u32 id */ \
    X(PimCompleteTask, 159) /* u32 id -> */                                             \
    X(MsgDeliver, 160)      /* u32 kind (1 SMS, 2 MMS, 3 e-mail), s16 account, s16 from, \
                               s16 address, s16 subject -> u32 entry */                 \
    X(PimVoicemail, 161)    /* u32 unread count -> */                                   \
    X(PimAlarm, 162)        /* u32 on, u64 local file time -> */                        \
    X(PimReminder, 163)     /* u32 fire, s16 subject, s16 location -> */                \
    /* Telephony: every answer's body starts with i32 result (0, a request id, or an error). */ \
    X(TelInitialize, 130)   /* u32 version, u32 hidden hwnd, s16 app name -> i32, u32 app, \
                               u32 devices (line messages: LineEvent, then a post to hwnd) */ \
    X(TelNegotiate, 131)    /* u32 app, u32 device, u32 low, u32 high -> i32, u32 version */ \
    X(TelDevCaps, 132)      /* u32 app, u32 device, u32 version -> i32, s16 name,           \
                               s16 provider, u32 line id, u32 addresses, u32 bearer modes, \
                               u32 media modes, u32 max calls */                           \
    X(TelOpen, 133)         /* u32 app, u32 device, u32 version, u32 privileges, u32 media, \
                               u32 instance -> i32, u32 line */                            \
    X(TelGetCalls, 134)     /* u32 line -> i32, u32 count, u32 call... */                   \
    X(TelCallStatus, 135)   /* u32 call -> i32, u32 state, u32 mode, u32 privilege */      \
    X(TelCallInfo, 136)     /* u32 call -> i32, u32 line, u32 device, u32 address,         \
                               u32 bearer, u32 media, u32 call id, u32 origin, u32 caller  \
                               flags, s16 caller, s16 caller name, u32 called flags,       \
                               s16 called, s16 called name */                              \
    X(TelCallOp, 137)       /* u32 op (1 privilege, 2 drop, 3 deallocate), u32 call,       \
                               u32 value -> i32 */                                         \
    X(TelLineOp, 138)       /* u32 op (1 close, 2 shutdown), u32 handle -> i32 */          \
    X(TelTranslate, 139)    /* u32 app, u32 device, s16 address -> i32, s16 dialable,      \
                               s16 displayable, u32 country */                             \
    X(TelMakeCall, 140)     /* u32 line, s16 destination, u32 bearer, u32 media,           \
                               s16 dialable address -> i32, u32 call */                    \
    X(TelPhone, 141)        /* u32 op (1 open, 2 status, 3 volume, 4 set volume, 5 close), \
                               u32 phone, u32 hook device, u32 value -> i32, u32 a, u32 b, \
                               u32 c, u32 d */                                             \
    X(TelEmergency, 142)    /* -> u32 count, s16 number... */                              \
    X(GsmControl, 143)      /* u32 action (GsmAction), u32 call id, u32 flags (GsmFlag),   \
                               u32 caller id delay ms, s16 number, s16 name, s16 property \
                               -> u32 call id (Failed: s16 why) */                         \
    X(GsmList, 144)         /* -> u32 count, (u32 id, u32 state, u32 inbound, s16 number,  \
                               s16 name, u32 caller id flags, u32 seconds connected)... */ \
    X(ContactFind, 145)     /* u32 match, s16 key -> u32 id, s16 file-as, s16 e-mail,      \
                               u32 has picture, u32 count, (s16 label, s16 number)... */   \
    X(ContactPicture, 146)  /* u32 id -> bin picture */                                    \
    X(ContactList, 147)     /* u32 first -> u32 total, u32 count, (u32 id, s16 file-as,    \
                               s16 e-mail, u32 has picture, u32 numbers, (s16 label,       \
                               s16 number)...)... */                                       \
    X(PimControl, 148)      /* u32 action (PimAction), u32 id, s16 name, s16 number,       \
                               s16 e-mail, bin picture -> u32 id (Failed: s16 why) */      \
    X(PimRead, 149)         /* u32 what (1 SIM entries, 2 call log newest first, 3 SIM     \
                               notifications to u32 hwnd, 4 no more), u32 first, u32 value \
                               -> SIM: u32 count, (u32 index, s16 number, s16 name)...;    \
                               log: u32 count, (u64 time, u64 end, u32 flags, s16 number, \
                               s16 name, s16 label)... */ \
    X(UserNotifySet, 170)   /* s16 application, u64 local file time -> u32 handle */     \
    X(UserNotifyList, 171)  /* -> u32 count, (u32 handle, s16 application, u64 time)... */ \
    X(UserNotifyClear, 172) /* u32 handle -> (NotFound: no such notification) */         \
    X(LedCount, 173)        /* -> u32 count */                                          \
    X(LedSet, 174)          /* u32 index, u32 on -> (NotFound: no such LED) */           \
    X(LedList, 175)         /* -> u32 count, (u32 index, u64 on at ms, u32 length ms,   \
                               u32 still on)... (the newest pulses, oldest first) */     \
    X(SoundRinger, 180)     /* u32 set (0 read), u32 type (RingerType) -> u32 type (the  \
                               setting is `Mode` under ShellOverrides, written on set) */ \
    X(SoundBeep, 181)       /* -> u32 audible (0: the ringer is not on, nothing played) */ \
    X(PhoneVolumes, 182)    /* u32 op (0 read, 1 set a volume, 2 put a device in use),   \
                               u32 hook device, u32 volume -> u32 device in use,        \
                               u32 handset, u32 speaker, u32 headset volume */         \
    X(PowerHold, 183)       /* -> (the power button is held: the power-off question) */ \
    X(WeatherSet, 190)      /* u32 source (1-7), i32 icon, i32 high, i32 low,          \
                               u32 fahrenheit, s16 city -> (Failed: s16 why) */        \
    X(WeatherClear, 191)    /* -> */                                                    \
    X(MusicControl, 192)    /* u32 action (1 play, 2 pause, 3 next, 4 stop), u32 count, \
                               s16 file... -> (NotFound / Failed: s16 why) */         \
    X(MusicStatus, 193)     /* -> u32 running, u32 status, u32 volume, s16 title,     \
                               s16 artist, s16 album, s16 picture, u32 track,         \
                               u32 tracks, u32 count, s16 command... */               \
    X(ShellNotifyRemove, 200) /* s16 class, u32 number -> (NotFound: none published) */ \
    X(ShellNotifyShow, 201)   /* s16 class, u32 number -> (NotFound: none published) */   \
    X(ShellFullScreen, 210) /* u32 hwnd, u32 SHFS flags -> */                            \
    X(WorkArea, 211)        /* -> i32 left, i32 top, i32 right, i32 bottom */          \
    X(InputMethodKey, 212)  /* u32 hwnd -> u32 vk (0: none) */                          \
    X(RegUpdateBits, 220)   /* u32 root, s16 path, s16 name, u32 clear, u32 set -> u32  \
                               value (a missing value counts as 0; BadRequest: not a    \
                               DWORD) */                                                 \
    X(LibraryLoad, 221)     /* s16 name -> u32 handle (NotFound: no such library) */    \
    X(LibraryFunction, 222) /* u32 handle, s16 name, u32 call -> (NotFound: no such     \
                               function; call 1 runs a function without arguments) */   \
    X(LibraryFree, 223)     /* u32 handle -> */                                         \
    X(PeerLink, 224)        /* u32 hwnd -> u32 owner (its client id; a new link's socket \
                               comes with the reply). NotFound: no such window;         \
                               Unsupported: not reached over a link */                  \
    X(LinkSend, 225)        /* only on a link, never to the host: u32 hwnd, u32 msg,    \
                               u32 wparam, i32 lparam -> i32 result (NotFound: not      \
                               answered over the link; the host routes it) */

// Events the host sends unasked.
#define LUMO_EVENTS(X) \
    X(PostedMessage, 0x4001) /* u32 hwnd, u32 msg, u32 wparam, i32 lparam */          \
    X(SentMessage, 0x4002)   /* u32 send id (0: nobody waits), u32 hwnd, u32 msg,      \
                                u32 wparam, i32 lparam, u32 entry (0: class procedure) */ \
    X(HookCall, 0x4003)      /* u32 call id, u32 hook, u32 vk, u32 flags */            \
    X(DialogClosed, 0x4004)  /* u32 hwnd, i32 button */                                \
    X(SubclassState, 0x4005) /* u32 hwnd, u32 subclassed (0/1) */                     \
    X(PowerNotification, 0x4006) /* u32 queue, bin record (at most 44 bytes) */ \
    X(LinkOpened, 0x4007)    /* u32 peer (client id); the link's socket comes with it */ \
    X(LineEvent, 0x4010)     /* u32 app, u32 device, u32 msg, u32 instance, u32 param1,  \
                                u32 param2, u32 param3 */                                \
    X(SimEvent, 0x4011)      /* u32 code, u32 index */

enum class Kind : std::uint16_t {
#define LUMO_ENUM(name, number) name = number,
    LUMO_REQUESTS(LUMO_ENUM) LUMO_EVENTS(LUMO_ENUM)
#undef LUMO_ENUM
};

// What a PowerAction request asks of the power manager; `value` is used by Ac (0/1), Capacity
// (percent), SystemState (the state's flags), Unattended (1 take, 0 release a request of the
// asking program) and VideoPower (0 only asks whether the escape is answered, 1 on, 4 off).
enum class PowerAction : std::uint32_t {
    Button = 1,
    On = 2,
    BacklightOff = 3,
    Idle = 4,
    Suspend = 5,
    Ac = 6,
    Capacity = 7,
    SystemState = 8,
    Unattended = 9,
    VideoPower = 10,
    IdleTimerReset = 11,  // the inactivity timeouts start again; a dark display stays dark
};

// What a GsmControl request does: the network's side of a call and the phone user's.
enum class GsmAction : std::uint32_t {
    Call = 1,    // a call arrives from `number`
    Accept = 2,  // the dialled party answers (or the phone's user answers a ringing call)
    Busy = 3,    // the dialled party is busy
    Cancel = 4,  // the other end hangs up
    Hold = 5,    // a connected call goes on hold, a held one comes back
    Dial = 6,    // the phone's user dials `number`
};
// GsmControl flags.
inline constexpr std::uint32_t kGsmNoCallerId = 1;
inline constexpr std::uint32_t kGsmOutOfArea = 2;

// What a PimControl request does.
enum class PimAction : std::uint32_t { AddContact = 1, DeleteContact = 2, AddSim = 3 };

// Messages the telephony's hidden window in a program is posted (wParam: the instance, or for the
// SIM 0), each after the event it announces.
inline constexpr std::uint32_t kLineWakeMessage = 0x0401;
inline constexpr std::uint32_t kSimWakeMessage = 0x0402;

// The name of a kind for the host's log; "?" for an unknown number.
std::string_view kind_name(std::uint16_t kind);

enum class PacketType : std::uint8_t { Request = 0, Reply = 1, Event = 2 };

struct Header {
    std::uint16_t kind;    // Kind
    std::uint8_t type;     // PacketType
    std::uint8_t flags;    // kOneWay on requests whose reply nobody reads
    std::uint32_t seq;     // the request's number; replies repeat it, events carry 0
};
static_assert(sizeof(Header) == 8);

// A request sent with this flag gets no reply: answers to sent messages and hook calls, which
// the program does not wait for, so the host does not wake it again for nothing.
inline constexpr std::uint8_t kOneWay = 1;

enum class Status : std::uint32_t {
    Ok = 0,
    NotFound = 1,      // key, value, window or handle does not exist
    BadRequest = 2,    // malformed or out-of-range fields
    TooLarge = 3,      // a value longer than the registry stores
    WrongType = 4,
    Failed = 5,        // the host could not do it (storage failure, ...)
    Unsupported = 6,   // unknown request kind
};

std::string_view status_text(Status s);

// The display's shared frame, DIR/run/framebuffer: this header, then `height` rows of `width`
// RGB565 pixels, `ypitch` bytes apart, starting at kFrameHeaderBytes. The host makes it and shows
// it; programs map it and write their frames into it. The atomic fields are changed by both sides.
inline constexpr std::uint32_t kFrameMagic = 0x3142464c;  // "LFB1"
inline constexpr std::size_t kFrameHeaderBytes = 64;
inline constexpr std::string_view kFrameFile = "framebuffer";
struct FrameHeader {
    std::uint32_t magic;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t ypitch;
    std::uint32_t format;                     // 1 RGB565
    std::atomic<std::uint32_t> surface_lost;  // set by the host, cleared by a restore
    std::atomic<std::uint32_t> orientation;   // degrees: 0, 90, 180 or 270
    std::atomic<std::uint32_t> frames;        // frames presented so far
};
static_assert(sizeof(FrameHeader) <= kFrameHeaderBytes);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

}  // namespace lumo::wire
