#pragma once
// The phone's ringer setting lives where the shell publishes it (`Mode` under ShellOverrides), so
// the value everyone reads and the setting itself can never disagree. The host and the fake both
// keep it here.
#include "lumo/platform/sound.h"
#include "lumo/store/registry_store.h"

namespace lumo::store {

// On when the phone has never published a mode.
platform::RingerType read_ringer(const RegistryStore& reg);
bool write_ringer(RegistryStore& reg, platform::RingerType type);

}  // namespace lumo::store
