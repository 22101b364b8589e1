#include "services.h"

#include "display_service.h"
#include "process_service.h"
#include "registry_service.h"
#include "sync_service.h"
#include "window_service.h"

namespace lumo::host {

Services::Services(Host& host) : host_(host) {
    register_registry_handlers(host);
    windows_ = std::make_unique<WindowService>(host);
    processes_ = std::make_unique<ProcessService>(host, *windows_);
    sync_ = std::make_unique<SyncService>(host);
    display_ = std::make_unique<DisplayService>(host, *windows_);
}

Services::~Services() = default;

bool Services::install(std::string* error) { return processes_->install(host_.fresh(), error); }

void Services::boot() {
    if (host_.options().startup) {
        host_.on_started([this] { processes_->run_startup(); });
    } else {
        host_.log().line("start-up programs skipped");
    }
}

void Services::shutdown() { processes_->stop_all(); }

}  // namespace lumo::host
