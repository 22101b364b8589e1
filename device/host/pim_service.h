#pragma once
// The phone's calendar, tasks and message stores: kept in memory by the shared store (the fake
// has the same), saved row by row in "pim.db" in the device folder, and published into the
// registry as the phone publishes its counts. The messaging program shows messages here.
#include <memory>
#include <string>

#include "host.h"

namespace lumo::host {

class WindowService;
class ProcessService;

class PimService {
public:
    PimService(Host& host, WindowService& windows, ProcessService& processes);
    ~PimService();
    // Opens or creates pim.db and loads it; false with `error` set for a file that is not ours.
    bool open(std::string* error);
    // Opens the stores, sets the locale's defaults and publishes what the stores hold.
    void boot();
    // Writes the published state (at boot, and after every change).
    void publish();

private:
    struct Db;
    // The active reminder goes, with the shell's notification of it.
    void dismiss_reminder();
    Host& host_;
    WindowService& windows_;
    ProcessService& processes_;
    std::unique_ptr<Db> db_;
};

}  // namespace lumo::host
