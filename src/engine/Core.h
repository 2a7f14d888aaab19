#pragma once

#include <string>

#include "engine/Editor.h"
#include "engine/Model.h"
#include "engine/ShutDown.h"
#include "engine/StartUp.h"
#include "engine/StationFollowing.h"
#include "engine/Tick.h"
#include "platform/ProgramNames.h"

namespace hushwell {

// The core of the program, wired once: what the window shows (the model) and what it runs.
class Core {
public:
    Core(SystemVolume& volume, const Clock& clock, UserInterface& ui, SettingsStore& store,
         const std::string& separator = ":")
        : following(model, separator),
          editor(model, volume, store, ui, clock, separator),
          tick(model, volume, separator, &following),
          shutDown(model, volume),
          m_volume(volume),
          m_store(store),
          m_ui(ui) {
        volume.watch([this](const VolumeEvent& event) { model.volumeReported(event); });
    }

    StartUpOutcome startUp(bool mayWait = false) {
        return hushwell::startUp(model, m_volume, m_store, m_ui, mayWait);
    }

    Model model;
    StationFollowing following;  // off until the option turns it on
    Editor editor;
    Tick tick;
    ShutDown shutDown;

private:
    SystemVolume& m_volume;
    SettingsStore& m_store;
    UserInterface& m_ui;
};

}  // namespace hushwell
