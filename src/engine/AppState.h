#pragma once

#include <cstdint>

#include "mixer/Mixer.h"

namespace hushwell {

// Everything the program knows besides its pairs and sliders. One record for the life of the
// program, all zero and false when created.
struct AppState {
    MixerHandle mixerHandle = 0;
    VolumeControl volumeControl{};
    std::int32_t openResult = 0;       // result of opening the mixer, 0 = opened
    bool controlFound = false;         // the speakers' volume control was located
    std::int32_t sliderVolume = 0;     // volume a slider move has just computed
    std::int32_t unitsPerPercent = 0;  // mixer units per percent; 0 until the control is located
    std::int32_t appliedVolume = 0;    // the volume the tick applied last
    std::int32_t downVolume = 0;
    std::int32_t upVolume = 0;
    bool settingsChanged = false;  // there are edits that have not been saved
    bool clockVisible = false;     // the window is not minimized
};

}  // namespace hushwell
