#pragma once
// The device's telephony: the call model (lumo/store/telephony_model.h) served to the programs
// over the socket, the network's and the phone user's side for lumo-devctl (gsm ...), and the
// contacts, SIM phone book and call log kept in DIR/pim (pim_store.h). Line messages reach a
// program as a LineEvent packet followed by a post to the hidden window it named, so they are
// handled in its message loop in order with everything else.
#include <map>
#include <memory>

#include "host.h"
#include "contacts_store.h"
#include "lumo/store/telephony_model.h"

namespace lumo::host {

class WindowService;
class PhoneApp;

class TelephonyService {
  public:
    TelephonyService(Host& host, WindowService& windows);
    ~TelephonyService();
    // Opens the PIM store (a new device gets the sample contacts) and clears the published call
    // state of an earlier boot.
    void boot();
    store::TelephonyModel& model() { return *model_; }
    ContactsStore& pim() { return pim_; }
    // The device's local time, milliseconds since 1970 (set by the process service).
    std::function<std::int64_t()> local_now_ms;
    // The phone application (\Windows\cprog.exe) of a process the host started.
    void start_phone_app(std::uint32_t pid, bool shown);

  private:
    void register_handlers();
    void deliver(std::uint32_t app, const platform::LineMessage& m);
    void sim_changed(std::uint32_t code, std::uint32_t index);

    Host& host_;
    WindowService& windows_;
    ContactsStore pim_;
    std::unique_ptr<store::TelephonyModel> model_;
    std::unique_ptr<PhoneApp> phone_;
    struct AppRoute {
        std::uint32_t client = 0;
        platform::Hwnd window = 0;
    };
    std::map<std::uint32_t, AppRoute> routes_;        // per telephony instance
    std::map<std::uint32_t, platform::Hwnd> sim_listeners_;  // per client
};

}  // namespace lumo::host
