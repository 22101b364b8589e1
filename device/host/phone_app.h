#pragma once
// The phone application (\Windows\cprog.exe) as the host simulates it: its main window
// (MSCprog), the incoming-call window set while a call rings (a "Dialog" titled
// "Phone - Incoming...", its menu_worker command window, the soft-key bar and the SIP button, all
// topmost), and the phone dialog titled with the phone's name while calls last, whose children
// show the call time (MS_PHONE_ELAPSEDTIME) and the other party (MS_PHONE_CALLERIDINFO). It
// answers WM_COMMAND 1 (answer, holding a connected call) and 2 (reject or end), the talk and
// end keys, and opens its call history on message 32794.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host.h"
#include "lumo/platform/windows.h"
#include "lumo/store/telephony_model.h"

namespace lumo::host {

class WindowService;

// The English device's captions and the phone's command numbers.
inline constexpr std::u16string_view kIncomingCaption = u"Phone - Incoming...";
inline constexpr std::u16string_view kPhoneProgramPath = u"\\Windows\\cprog.exe";
inline constexpr std::uint32_t kPhoneCommandAnswer = 1;
inline constexpr std::uint32_t kPhoneCommandEnd = 2;
inline constexpr std::uint32_t kPhoneKeyTone = 32771;
inline constexpr std::uint32_t kPhoneShowHistory = 32794;
inline constexpr std::uint32_t kMenuWorkerExStyle = 0x20000000;

class PhoneApp {
  public:
    PhoneApp(Host& host, WindowService& windows, store::TelephonyModel& model);
    // The process started: its main window.
    void start(std::uint32_t pid, bool shown);
    bool running();
    // The calls changed: windows come and go with them.
    void calls_changed();
    // The newest calls of the call log, for the call history (set by the telephony service).
    std::function<std::vector<platform::CallLogEntry>()> recent_calls;

  private:
    platform::LResult proc(platform::Hwnd hwnd, std::uint32_t msg, platform::WParam w,
                           platform::LParam l);
    void command(std::uint32_t id);
    void key(std::uint8_t vk);
    void show_incoming(const store::TelephonyModel::CallView& call);
    void drop_incoming();
    void show_dialog();
    void refresh_dialog();
    void show_history();
    std::u16string phone_name();
    platform::Hwnd make(const std::u16string& cls, const std::u16string& title, std::uint32_t ex,
                        platform::Rect rect, platform::Hwnd parent = 0);

    Host& host_;
    WindowService& ws_;
    store::TelephonyModel& model_;
    std::uint32_t pid_ = 0;
    platform::Hwnd main_ = 0, incoming_ = 0, menu_ = 0, softkey_ = 0, sip_ = 0;
    platform::Hwnd dialog_ = 0, elapsed_ = 0, caller_ = 0, history_ = 0;
    std::uint32_t ringing_ = 0;  // the call the incoming windows show
    std::uint32_t shown_call_ = 0;  // the call the dialog shows
    Host::TimerId tick_ = 0;
};

}  // namespace lumo::host
