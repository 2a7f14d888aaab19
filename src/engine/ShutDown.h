#pragma once

#include <utility>

#include "engine/Model.h"
#include "mixer/SystemVolume.h"

namespace hushwell {

// The end of a run, however it comes (the window closed, a signal, the end of the session): the
// Up level goes back to the mixer, once, and the mixer finishes its work before the run ends.
class ShutDown {
public:
    ShutDown(const Model& model, SystemVolume& volume) : m_model(model), m_volume(volume) {}

    void restoreUpLevel() {
        if (!std::exchange(m_done, true)) {
            m_volume.set(m_model.volume(Level::Up));
            m_volume.finish();
        }
    }

private:
    const Model& m_model;
    SystemVolume& m_volume;
    bool m_done = false;
};

}  // namespace hushwell
