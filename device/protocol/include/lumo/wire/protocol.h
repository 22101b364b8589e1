#pragma once
// The device host's protocol: one SOCK_SEQPACKET connection per device process. Every packet
// starts with a Header; a request's reply repeats its kind and sequence number and starts its body
// with a Status. Bodies are sequences of little-endian fields read with bounds checks (wire.h):
// the host never trusts a client's bytes.
#include <array>
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
    X(NotifyClose, 21)      /* u32 handle -> */

// Events the host sends unasked.
#define LUMO_EVENTS(X) \
    X(PostedMessage, 0x4001) /* u32 hwnd, u32 msg, u32 wparam, i32 lparam */

enum class Kind : std::uint16_t {
#define LUMO_ENUM(name, number) name = number,
    LUMO_REQUESTS(LUMO_ENUM) LUMO_EVENTS(LUMO_ENUM)
#undef LUMO_ENUM
};

// The name of a kind for the host's log; "?" for an unknown number.
std::string_view kind_name(std::uint16_t kind);

enum class PacketType : std::uint8_t { Request = 0, Reply = 1, Event = 2 };

struct Header {
    std::uint16_t kind;    // Kind
    std::uint8_t type;     // PacketType
    std::uint8_t reserved;
    std::uint32_t seq;     // the request's number; replies repeat it, events carry 0
};
static_assert(sizeof(Header) == 8);

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

}  // namespace lumo::wire
