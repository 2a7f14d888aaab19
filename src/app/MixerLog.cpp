#include "app/MixerLog.h"

namespace hushwell {

Q_LOGGING_CATEGORY(mixerLog, "hushwell.mixer", QtWarningMsg)

std::int32_t LoggedMixer::open(MixerHandle& handle) {
    const std::int32_t result = m_mixer.open(handle);
    qCInfo(mixerLog, "open: %s, result %d",
           m_mixer.chosen().empty() ? "(none opened)" : m_mixer.chosen().c_str(),
           static_cast<int>(result));
    return result;
}

bool LoggedMixer::locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                                      std::uint32_t controlType, VolumeControl& control) {
    const bool found = m_mixer.locateVolumeControl(handle, componentType, controlType, control);
    qCInfo(mixerLog, "locate: %s, control %u, maximum %d", found ? "found" : "not found",
           static_cast<unsigned>(control.dwControlID), static_cast<int>(control.lMaximum));
    return found;
}

bool LoggedMixer::applyVolume(MixerHandle handle, const VolumeControl& control,
                              std::int32_t value) {
    const bool applied = m_mixer.applyVolume(handle, control, value);
    qCInfo(mixerLog, "apply %d: %s", static_cast<int>(value), applied ? "applied" : "refused");
    return applied;
}

}  // namespace hushwell
