#pragma once
// The registry and change-broker requests of the host's protocol.
namespace lumo::host {
class Host;
void register_registry_handlers(Host& host);
}  // namespace lumo::host
