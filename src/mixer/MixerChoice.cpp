#include "mixer/MixerChoice.h"

#if defined(HUSHWELL_HAVE_PULSE)
#include "mixer/PulseMixer.h"
#endif
#if defined(HUSHWELL_HAVE_ALSA)
#include "mixer/AlsaMixer.h"
#endif
#if defined(HUSHWELL_HAVE_WINMM)
#include "mixer/WinmmMixer.h"
#endif

namespace hushwell {

std::vector<MixerProvider> platformProviders() {
    std::vector<MixerProvider> providers;
#if defined(HUSHWELL_HAVE_PULSE)
    providers.push_back({"PulseAudio", [] { return std::make_unique<PulseMixer>(); }});
#endif
#if defined(HUSHWELL_HAVE_ALSA)
    providers.push_back({"ALSA", [] { return std::make_unique<AlsaMixer>(); }});
#endif
#if defined(HUSHWELL_HAVE_WINMM)
    providers.push_back({"winmm", [] { return std::make_unique<WinmmMixer>(); }});
#endif
    return providers;
}

FirstThatOpens::FirstThatOpens(std::vector<MixerProvider> providers)
    : m_providers(std::move(providers)) {}

std::int32_t FirstThatOpens::open(MixerHandle& handle) {
    std::int32_t result = -1;
    for (const MixerProvider& provider : m_providers) {
        std::unique_ptr<Mixer> mixer = provider.make();
        result = mixer->open(handle);
        if (result == 0) {
            m_mixer = std::move(mixer);
            m_chosen = provider.name;
            return 0;
        }
    }
    return result;
}

bool FirstThatOpens::locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                                         std::uint32_t controlType, VolumeControl& control) {
    return m_mixer && m_mixer->locateVolumeControl(handle, componentType, controlType, control);
}

bool FirstThatOpens::applyVolume(MixerHandle handle, const VolumeControl& control,
                                 std::int32_t value) {
    return m_mixer && m_mixer->applyVolume(handle, control, value);
}

}  // namespace hushwell
