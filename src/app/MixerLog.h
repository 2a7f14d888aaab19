#pragma once

#include <QLoggingCategory>

#include "mixer/Mixer.h"
#include "mixer/MixerChoice.h"

namespace hushwell {

// The mixer calls, as they happen: "hushwell.mixer", off unless QT_LOGGING_RULES switches it on
// ("hushwell.mixer.info=true").
Q_DECLARE_LOGGING_CATEGORY(mixerLog)

// The platform's mixer providers, recording each open (with the provider that opened), locate and
// apply, with its value and result, in mixerLog; the calls pass on unchanged.
class LoggedMixer final : public Mixer {
public:
    explicit LoggedMixer(FirstThatOpens& mixer) : m_mixer(mixer) {}

    std::int32_t open(MixerHandle& handle) override;
    bool locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                             std::uint32_t controlType, VolumeControl& control) override;
    bool applyVolume(MixerHandle handle, const VolumeControl& control, std::int32_t value) override;

private:
    FirstThatOpens& m_mixer;
};

}  // namespace hushwell
