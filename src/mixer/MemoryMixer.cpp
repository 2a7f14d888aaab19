#include "mixer/MemoryMixer.h"

namespace hushwell {

std::int32_t MemoryMixer::open(MixerHandle& out) {
    ++openCalls;
    if (openResult == 0) {
        out = handle;
    }
    return openResult;
}

bool MemoryMixer::locateVolumeControl(MixerHandle, std::uint32_t componentType,
                                      std::uint32_t controlType, VolumeControl& out) {
    ++locateCalls;
    if (!hasSpeakersVolume || componentType != kComponentTypeDstSpeakers ||
        controlType != kControlTypeVolume) {
        return false;
    }
    out = control;
    return true;
}

bool MemoryMixer::applyVolume(MixerHandle h, const VolumeControl& c, std::int32_t value) {
    applies.push_back({h, c.dwControlID, value});
    if (!acceptApply) {
        return false;
    }
    volume = value;
    return true;
}

}  // namespace hushwell
