#pragma once

#include <memory>
#include <string>

#include "mixer/Mixer.h"

// alsa-lib's own name for snd_mixer_t, declared here to keep its header out.
struct _snd_mixer;  // NOLINT(bugprone-reserved-identifier)

namespace hushwell {

// ALSA's simple mixer as the mixer. "Device 0" is the given mixer device ("default" unless told
// otherwise); the speakers' volume control is its element "Master", else "PCM", else the first
// element with a playback volume. The control's scale is a fixed 0..kAlsaScale, mapped onto the
// element's own range on every channel (see AlsaVolumeScale.h); a value outside it is refused.
// After a failed call the device is closed and opened afresh by the next one, so a card that was
// unplugged and comes back is found again.
class AlsaMixer final : public Mixer {
public:
    explicit AlsaMixer(std::string device = "default");
    ~AlsaMixer() override;
    AlsaMixer(const AlsaMixer&) = delete;
    AlsaMixer& operator=(const AlsaMixer&) = delete;

    std::int32_t open(MixerHandle& handle) override;
    bool locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                             std::uint32_t controlType, VolumeControl& control) override;
    bool applyVolume(MixerHandle handle, const VolumeControl& control, std::int32_t value) override;

    // Name of the located element, empty before one was located.
    [[nodiscard]] const std::string& elementName() const { return m_elementName; }

private:
    struct MixerCloser {
        void operator()(_snd_mixer* mixer) const;
    };
    int reopen();

    std::string m_device;
    std::unique_ptr<_snd_mixer, MixerCloser> m_mixer;
    std::string m_elementName;
    unsigned m_elementIndex = 0;
};

}  // namespace hushwell
