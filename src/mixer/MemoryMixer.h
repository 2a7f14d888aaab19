#pragma once

#include <cstdint>
#include <vector>

#include "mixer/Mixer.h"

namespace hushwell {

// A mixer that lives in memory: it records every call and can be told to fail, for tests and for
// builds without any audio library.
class MemoryMixer final : public Mixer {
public:
    struct Apply {
        MixerHandle handle;
        std::uint32_t controlId;
        std::int32_t value;
    };

    std::int32_t openResult = 0;  // what open() returns
    bool hasSpeakersVolume = true;
    bool acceptApply = true;
    VolumeControl control{7, 0, 65535};  // what locateVolumeControl() reports
    MixerHandle handle = 0x1234;         // what open() hands out

    int openCalls = 0;
    int locateCalls = 0;
    std::vector<Apply> applies;
    std::int32_t volume = 0;  // the value last accepted

    std::int32_t open(MixerHandle& out) override;
    bool locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                             std::uint32_t controlType, VolumeControl& out) override;
    bool applyVolume(MixerHandle handle, const VolumeControl& control, std::int32_t value) override;
};

}  // namespace hushwell
