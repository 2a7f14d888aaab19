#pragma once

#include <array>
#include <cstddef>

#include "mixer/Mixer.h"

namespace hushwell {

// The Windows multimedia mixer (winmm) as the mixer: device 0, the volume control of the speakers'
// destination line, one value for all channels.
class WinmmMixer final : public Mixer {
public:
    // The located control as the mixer wrote it into a zero-filled block: the published
    // MIXERCONTROLA (148 bytes) and four bytes more, all copied.
    static constexpr std::size_t kControlRecordSize = 152;
    using ControlRecord = std::array<std::byte, kControlRecordSize>;

    std::int32_t open(MixerHandle& handle) override;
    bool locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                             std::uint32_t controlType, VolumeControl& control) override;
    bool applyVolume(MixerHandle handle, const VolumeControl& control, std::int32_t value) override;

    // The record of the last successful locate, all zero before one.
    [[nodiscard]] const ControlRecord& controlRecord() const { return m_record; }

private:
    ControlRecord m_record{};
};

}  // namespace hushwell
