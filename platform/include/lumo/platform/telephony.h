#pragma once
// The phone's telephony, as its telephony API offers it to programs: line devices (one voice
// line, and a data-only line on most phones) with their calls, the phone device whose
// hook-switch volume is the in-call volume, and the list of emergency numbers.
//
// Results: 0 is success, a negative value one of the kLineErr errors below, and a positive value
// the request id of an operation that finishes later (drop, make_call): its end arrives as a
// kLineReply message with the id in param1 and the result (0 or an error) in param2.
//
// Messages reach the program through the callback given to initialize, on the thread that called
// initialize, from its message loop (get_message/dispatch): they arrive through a hidden window
// the platform makes for that thread, so the callback runs between the program's other messages
// and never on another thread.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::platform {

using LineResult = std::int32_t;
using LineAppHandle = std::uint32_t;  // 0 is "none"
using LineHandle = std::uint32_t;
using CallHandle = std::uint32_t;
using PhoneAppHandle = std::uint32_t;
using PhoneHandle = std::uint32_t;

constexpr LineResult line_error(std::uint32_t code) { return static_cast<LineResult>(code); }
inline constexpr LineResult kLineErrAllocated = line_error(0x80000001);
inline constexpr LineResult kLineErrBadDeviceId = line_error(0x80000002);
inline constexpr LineResult kLineErrIncompatibleApiVersion = line_error(0x8000000C);
inline constexpr LineResult kLineErrInvalAddress = line_error(0x80000015);
inline constexpr LineResult kLineErrInvalAppHandle = line_error(0x80000016);
inline constexpr LineResult kLineErrInvalCallHandle = line_error(0x80000018);
inline constexpr LineResult kLineErrInvalCallState = line_error(0x8000001C);
inline constexpr LineResult kLineErrInvalLineHandle = line_error(0x8000002B);
inline constexpr LineResult kLineErrInvalMediaMode = line_error(0x8000002F);
inline constexpr LineResult kLineErrInvalParam = line_error(0x80000032);
inline constexpr LineResult kLineErrInvalPrivilege = line_error(0x80000033);
inline constexpr LineResult kLineErrNoDevice = line_error(0x80000040);
inline constexpr LineResult kLineErrNoMem = line_error(0x80000044);
inline constexpr LineResult kLineErrNotOwner = line_error(0x80000046);
inline constexpr LineResult kLineErrOperationFailed = line_error(0x80000048);
inline constexpr LineResult kLineErrOperationUnavail = line_error(0x80000049);
inline constexpr LineResult kLineErrResourceUnavail = line_error(0x8000004B);
inline constexpr LineResult kLineErrReinit = line_error(0x80000052);
inline constexpr LineResult kLineErrUninitialized = line_error(0x80000051);
// The API versions the platform speaks.
inline constexpr std::uint32_t kTapiVersionLow = 0x00010003;
inline constexpr std::uint32_t kTapiVersionHigh = 0x00020000;

// Callback messages (LineMessage::message).
inline constexpr std::uint32_t kLineCallInfo = 1;     // device: call; param1: kCallInfo* states changed
inline constexpr std::uint32_t kLineCallState = 2;    // device: call; param1: kCallState*; param2: the
                                                      // state's detail (kDisconnectMode* when
                                                      // disconnected); param3: the app's privilege
                                                      // when the call is new to it, else 0
inline constexpr std::uint32_t kLineClose = 3;        // device: line (closed by the platform)
inline constexpr std::uint32_t kLineDevState = 8;     // device: line; param1: kLineDevState* bits
inline constexpr std::uint32_t kLineReply = 12;       // param1: request id; param2: result
inline constexpr std::uint32_t kLineAppNewCall = 23;  // device: line; param1: address id;
                                                      // param2: the new call; param3: privilege

// Call states.
inline constexpr std::uint32_t kCallStateIdle = 0x00000001;
inline constexpr std::uint32_t kCallStateOffering = 0x00000002;
inline constexpr std::uint32_t kCallStateAccepted = 0x00000004;
inline constexpr std::uint32_t kCallStateDialTone = 0x00000008;
inline constexpr std::uint32_t kCallStateDialing = 0x00000010;
inline constexpr std::uint32_t kCallStateRingBack = 0x00000020;
inline constexpr std::uint32_t kCallStateBusy = 0x00000040;
inline constexpr std::uint32_t kCallStateSpecialInfo = 0x00000080;
inline constexpr std::uint32_t kCallStateConnected = 0x00000100;
inline constexpr std::uint32_t kCallStateProceeding = 0x00000200;
inline constexpr std::uint32_t kCallStateOnHold = 0x00000400;
inline constexpr std::uint32_t kCallStateDisconnected = 0x00004000;
inline constexpr std::uint32_t kCallStateUnknown = 0x00008000;

// Detail of the disconnected state.
inline constexpr std::uint32_t kDisconnectModeNormal = 0x00000001;  // the other side hung up
inline constexpr std::uint32_t kDisconnectModeUnknown = 0x00000002;
inline constexpr std::uint32_t kDisconnectModeReject = 0x00000004;  // refused by this phone
inline constexpr std::uint32_t kDisconnectModeBusy = 0x00000020;
inline constexpr std::uint32_t kDisconnectModeNoAnswer = 0x00000040;
inline constexpr std::uint32_t kDisconnectModeBadAddress = 0x00000080;
inline constexpr std::uint32_t kDisconnectModeUnavail = 0x00000800;  // no radio

// Which parts of the call information changed (kLineCallInfo param1).
inline constexpr std::uint32_t kCallInfoMediaMode = 0x00000010;
inline constexpr std::uint32_t kCallInfoOrigin = 0x00000100;
inline constexpr std::uint32_t kCallInfoCallerId = 0x00008000;
inline constexpr std::uint32_t kCallInfoCalledId = 0x00010000;
inline constexpr std::uint32_t kCallInfoConnectedId = 0x00020000;

// Caller-id (party id) flags.
inline constexpr std::uint32_t kPartyIdBlocked = 0x00000001;
inline constexpr std::uint32_t kPartyIdOutOfArea = 0x00000002;
inline constexpr std::uint32_t kPartyIdName = 0x00000004;
inline constexpr std::uint32_t kPartyIdAddress = 0x00000008;
inline constexpr std::uint32_t kPartyIdPartial = 0x00000010;
inline constexpr std::uint32_t kPartyIdUnknown = 0x00000020;
inline constexpr std::uint32_t kPartyIdUnavail = 0x00000040;

// Media modes.
inline constexpr std::uint32_t kMediaModeUnknown = 0x00000002;
inline constexpr std::uint32_t kMediaModeInteractiveVoice = 0x00000004;
inline constexpr std::uint32_t kMediaModeAutomatedVoice = 0x00000008;
inline constexpr std::uint32_t kMediaModeDataModem = 0x00000010;

// Bearer modes.
inline constexpr std::uint32_t kBearerModeVoice = 0x00000001;
inline constexpr std::uint32_t kBearerModeData = 0x00000008;

// Privileges (open asks for a combination; a call handle has one).
inline constexpr std::uint32_t kCallPrivilegeNone = 0x00000001;
inline constexpr std::uint32_t kCallPrivilegeMonitor = 0x00000002;
inline constexpr std::uint32_t kCallPrivilegeOwner = 0x00000004;

// Call origins.
inline constexpr std::uint32_t kCallOriginOutbound = 0x00000001;
inline constexpr std::uint32_t kCallOriginInbound = 0x00000080;

// Line device states (kLineDevState param1).
inline constexpr std::uint32_t kLineDevStateInService = 0x00000040;
inline constexpr std::uint32_t kLineDevStateOutOfService = 0x00000080;

// The longest caller or called name and number the telephony carries; longer ones are cut.
inline constexpr std::size_t kPartyIdMaxChars = 80;

struct LineMessage {
    std::uint32_t device = 0;  // the line or call the message is about
    std::uint32_t message = 0;
    std::uint32_t instance = 0;  // the value the program gave open for this line
    std::uint32_t param1 = 0, param2 = 0, param3 = 0;
    friend bool operator==(const LineMessage&, const LineMessage&) = default;
};
using LineCallback = std::function<void(const LineMessage&)>;

struct LineDevCaps {
    std::u16string line_name;  // may be empty
    std::u16string provider_info;
    std::uint32_t permanent_line_id = 0;
    std::uint32_t num_addresses = 1;
    std::uint32_t bearer_modes = 0;
    std::uint32_t media_modes = 0;  // kMediaModeInteractiveVoice when the line carries voice
    std::uint32_t max_active_calls = 1;
};

struct LineCallStatus {
    std::uint32_t call_state = 0;
    std::uint32_t call_state_mode = 0;
    std::uint32_t call_privilege = 0;
};

struct LineCallInfo {
    LineHandle line = 0;
    std::uint32_t line_device_id = 0;
    std::uint32_t address_id = 0;
    std::uint32_t bearer_mode = 0;
    std::uint32_t media_mode = 0;
    std::uint32_t call_id = 0;  // the same call has the same id for every program
    std::uint32_t origin = 0;
    std::uint32_t caller_id_flags = kPartyIdUnknown;
    std::u16string caller_id;  // the number
    std::u16string caller_id_name;
    std::uint32_t called_id_flags = kPartyIdUnknown;
    std::u16string called_id;
    std::u16string called_id_name;
};

struct LineTranslateOutput {
    std::u16string dialable;     // what make_call dials
    std::u16string displayable;  // what a person is shown
    std::uint32_t country = 0;
};

struct LineCallParams {
    std::uint32_t bearer_mode = kBearerModeVoice;
    std::uint32_t media_mode = kMediaModeInteractiveVoice;
    std::uint32_t address_mode = 1;  // the address id
    std::u16string dialable_address;  // used when make_call's destination is empty
};

// The phone device: hook-switch devices and their modes.
inline constexpr std::uint32_t kHookSwitchHandset = 0x00000001;
inline constexpr std::uint32_t kHookSwitchSpeaker = 0x00000002;
inline constexpr std::uint32_t kHookSwitchHeadset = 0x00000004;
inline constexpr std::uint32_t kHookSwitchModeOnHook = 0x00000001;
inline constexpr std::uint32_t kHookSwitchModeMic = 0x00000002;
inline constexpr std::uint32_t kHookSwitchModeSpeaker = 0x00000004;
inline constexpr std::uint32_t kHookSwitchModeMicSpeaker = 0x00000008;
inline constexpr std::uint32_t kPhoneVolumeMax = 0xFFFF;

struct PhoneStatus {
    // kHookSwitchMode* of each hook-switch device; on hook when not in use.
    std::uint32_t handset_mode = kHookSwitchModeOnHook;
    std::uint32_t speaker_mode = kHookSwitchModeOnHook;
    std::uint32_t headset_mode = kHookSwitchModeOnHook;
    std::uint32_t hook_switch_devs = kHookSwitchHandset | kHookSwitchSpeaker | kHookSwitchHeadset;
};

class Telephony {
  public:
    virtual ~Telephony() = default;

    // --- lines -----------------------------------------------------------------------------
    // Starts a telephony instance for this program: `num_devices` is the number of line
    // devices. kLineErrReinit while the platform is re-initialising (try again shortly).
    virtual LineResult initialize(LineCallback callback, std::u16string_view app_name,
                                  std::uint32_t api_version, LineAppHandle& app,
                                  std::uint32_t& num_devices) = 0;
    // The highest version both speak within [low, high]; kLineErrIncompatibleApiVersion when
    // none.
    virtual LineResult negotiate_api_version(LineAppHandle app, std::uint32_t device,
                                             std::uint32_t low, std::uint32_t high,
                                             std::uint32_t& version) = 0;
    virtual LineResult get_dev_caps(LineAppHandle app, std::uint32_t device,
                                    std::uint32_t version, LineDevCaps& caps) = 0;
    // Opens a line: `privileges` a combination of kCallPrivilege* (monitor: hear about every
    // call; owner: be given the offered calls of `media_modes`), or kCallPrivilegeNone to make
    // calls only. `instance` comes back in every message about the line and its calls.
    virtual LineResult open(LineAppHandle app, std::uint32_t device, std::uint32_t version,
                            std::uint32_t privileges, std::uint32_t media_modes,
                            std::uint32_t instance, LineHandle& line) = 0;
    // Every call present on the line now, each as a handle of this program (monitor privilege
    // for calls it did not have yet).
    virtual LineResult get_calls(LineHandle line, std::vector<CallHandle>& calls) = 0;
    virtual LineResult get_call_status(CallHandle call, LineCallStatus& status) = 0;
    virtual LineResult get_call_info(CallHandle call, LineCallInfo& info) = 0;
    virtual LineResult set_call_privilege(CallHandle call, std::uint32_t privilege) = 0;
    // Hangs up or rejects a call; needs the owner privilege (kLineErrNotOwner). Asynchronous.
    virtual LineResult drop(CallHandle call) = 0;
    // Gives the handle back; the call itself goes on when others hold it or it is not idle.
    virtual LineResult deallocate_call(CallHandle call) = 0;
    virtual LineResult close(LineHandle line) = 0;
    // Ends the instance: its lines close and its call handles go.
    virtual LineResult shutdown(LineAppHandle app) = 0;
    // Turns a number as typed into a dialable and a displayable string.
    virtual LineResult translate_address(LineAppHandle app, std::uint32_t device,
                                         std::uint32_t version, std::u16string_view address,
                                         LineTranslateOutput& out) = 0;
    // Dials `destination` (or params->dialable_address when it is empty). Asynchronous: `call`
    // is valid at once, the result follows as a kLineReply; the call's states follow as
    // messages. A phone whose radio is off refuses at once (kLineErrResourceUnavail).
    virtual LineResult make_call(LineHandle line, std::u16string_view destination,
                                 std::uint32_t country, const LineCallParams* params,
                                 CallHandle& call) = 0;

    // --- the phone device (hook switch and volume) -------------------------------------------
    virtual LineResult phone_initialize(std::u16string_view app_name, PhoneAppHandle& app,
                                        std::uint32_t& num_devices) = 0;
    virtual LineResult phone_negotiate_api_version(PhoneAppHandle app, std::uint32_t device,
                                                   std::uint32_t low, std::uint32_t high,
                                                   std::uint32_t& version) = 0;
    virtual LineResult phone_open(PhoneAppHandle app, std::uint32_t device,
                                  std::uint32_t version, PhoneHandle& phone) = 0;
    virtual LineResult phone_get_status(PhoneHandle phone, PhoneStatus& status) = 0;
    // Volume 0..kPhoneVolumeMax of one hook-switch device.
    virtual LineResult phone_get_volume(PhoneHandle phone, std::uint32_t hook_switch_dev,
                                        std::uint32_t& volume) = 0;
    virtual LineResult phone_set_volume(PhoneHandle phone, std::uint32_t hook_switch_dev,
                                        std::uint32_t volume) = 0;
    virtual LineResult phone_close(PhoneHandle phone) = 0;
    virtual LineResult phone_shutdown(PhoneAppHandle app) = 0;

    // --- emergency numbers -----------------------------------------------------------------
    // The numbers the phone dials even when locked ("112", "911", ... unless configured).
    virtual std::vector<std::u16string> emergency_numbers() = 0;
};

}  // namespace lumo::platform
