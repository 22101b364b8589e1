#pragma once
// The phone's published state a new device starts with: an operator and full signal, sound on,
// no forwarding, no data, nothing plugged in, no owner.
#include "lumo/store/registry_store.h"

namespace lumo::host {

// Writes every value that is missing (a person's changes survive a reboot). `keyboard`: the
// model has a slide-out keyboard, which publishes its position.
// `gsensor`: the model has HTC's G-sensor, which publishes the orientation it sees.
void publish_state_defaults(store::RegistryStore& reg, bool keyboard, bool gsensor = false);

}  // namespace lumo::host
