#pragma once

#include "engine/Model.h"
#include "engine/UserInterface.h"
#include "mixer/SystemVolume.h"
#include "settings/SettingsStore.h"

namespace hushwell {

enum class StartUpOutcome {
    MixerNotOpened,
    ControlNotFound,
    NoSettingsFile,
    SettingsRead,
    Failed,
    WaitingForMixer,
};

// The start of a run: opens the master volume and learns its scale, reads the stored settings,
// shows the window, and says what went wrong. The volume is left as it is: the Up level is taken
// to be in force.
//
// With `mayWait` (a start with the desktop, which may come before the sound server), a mixer that
// does not open is not reported: the model says what is awaited, nothing else is done, and the
// caller starts again a little later, until the outcome is another; its last try is made without
// `mayWait`, so that a server that never comes is reported as any other.
StartUpOutcome startUp(Model& model, SystemVolume& volume, SettingsStore& store, UserInterface& ui,
                       bool mayWait = false);

}  // namespace hushwell
