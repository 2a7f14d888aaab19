#pragma once

#include "engine/Model.h"
#include "engine/UserInterface.h"
#include "mixer/SystemVolume.h"
#include "settings/SettingsStore.h"

namespace hushwell {

enum class StartUpOutcome { MixerNotOpened, ControlNotFound, NoSettingsFile, SettingsRead, Failed };

// The start of a run: opens the master volume and learns its scale, reads the stored settings,
// shows the window, and says what went wrong. The volume is left as it is: the Up level is taken
// to be in force.
StartUpOutcome startUp(Model& model, SystemVolume& volume, SettingsStore& store, UserInterface& ui);

}  // namespace hushwell
