#pragma once

#include <string>

#include "engine/Editor.h"
#include "engine/Model.h"
#include "engine/ShutDown.h"
#include "engine/StartUp.h"
#include "engine/Tick.h"

namespace hushwell {

constexpr const char* kProgramName = "Hushwell";

// The core of the program, wired once: what the window shows (the model) and what it runs.
class Core {
public:
    Core(MasterVolume& volume, const Clock& clock, UserInterface& ui, SettingsStore& store,
         const std::string& separator = ":")
        : editor(model, volume, store, ui, clock, separator),
          tick(model, volume, clock, separator),
          shutDown(model, volume),
          m_volume(volume),
          m_store(store),
          m_ui(ui) {
        // A volume the mixer did not take after all is not the one in force: the next tick
        // applies it again.
        volume.watch([this](const VolumeEvent& event) {
            if (event.kind == VolumeEvent::Kind::Refused && model.appliedVolume() == event.value) {
                model.setAppliedVolume(std::nullopt);
            }
        });
    }

    StartUpOutcome startUp() { return hushwell::startUp(model, m_volume, m_store, m_ui); }

    Model model;
    Editor editor;
    Tick tick;
    ShutDown shutDown;

private:
    MasterVolume& m_volume;
    SettingsStore& m_store;
    UserInterface& m_ui;
};

}  // namespace hushwell
