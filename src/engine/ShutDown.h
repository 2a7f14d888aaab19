#pragma once

#include <functional>
#include <utility>

#include "engine/Model.h"
#include "mixer/SystemVolume.h"

namespace hushwell {

// The end of a run, however it comes (the window closed, a signal, the end of the session), and
// the one place that knows the run is ending: the Up level goes back to the mixer, once, and the
// mixer finishes its work before the run ends. From then on nobody is asked or told anything.
class ShutDown {
public:
    ShutDown(const Model& model, SystemVolume& volume) : m_model(model), m_volume(volume) {}

    // The user closes the window. True for the first close while the run goes on: the caller asks
    // the question on closing (messages still show while it does) and then calls
    // restoreUpLevel(). False for a close that comes during that, or after the run ended otherwise.
    [[nodiscard]] bool beginClose() {
        if (m_stage != Stage::Running) {
            return false;
        }
        m_stage = Stage::Closing;
        return true;
    }

    // Whether the run is ending: the Up level went back, and no message or question is shown any
    // more (a signal during one ends the run without an answer).
    [[nodiscard]] bool ending() const { return m_stage == Stage::Ending; }

    // Called as the run begins to end, before the mixer finishes its work (which may take until
    // its deadline): a later start learns from it that this run is ending.
    void onEnding(std::function<void()> call) { m_onEnding = std::move(call); }

    void restoreUpLevel() {
        if (m_stage != Stage::Ending) {
            m_stage = Stage::Ending;
            if (m_onEnding) {
                m_onEnding();
            }
            m_volume.set(m_model.volume(Level::Up));
            m_volume.finish();
        }
    }

private:
    enum class Stage { Running, Closing, Ending };

    const Model& m_model;
    SystemVolume& m_volume;
    Stage m_stage = Stage::Running;
    std::function<void()> m_onEnding;
};

}  // namespace hushwell
