#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "mixer/MasterVolume.h"

namespace hushwell {

// The Windows multimedia mixer (winmm) as the master volume: mixer device 0, the volume control
// of its speakers' destination line, one value for all channels; the control's maximum is the
// scale.
class WinmmMixer final : public MasterVolume {
public:
    // The line and control looked for: MIXERLINE_COMPONENTTYPE_DST_SPEAKERS and
    // MIXERCONTROL_CONTROLTYPE_VOLUME unless a test asks for others.
    static constexpr std::uint32_t kSpeakers = 4;
    static constexpr std::uint32_t kVolume = 0x50030001;

    // The located control as the mixer wrote it into a zero-filled block: the published
    // MIXERCONTROLA (148 bytes) and four bytes more, all copied.
    static constexpr std::size_t kControlRecordSize = 152;
    using ControlRecord = std::array<std::byte, kControlRecordSize>;

    explicit WinmmMixer(std::uint32_t componentType = kSpeakers,
                        std::uint32_t controlType = kVolume);
    ~WinmmMixer() override;
    WinmmMixer(const WinmmMixer&) = delete;
    WinmmMixer& operator=(const WinmmMixer&) = delete;

    bool open() override;
    std::optional<std::int32_t> locate() override;
    std::optional<std::string> set(std::int32_t value) override;

    // The record of the last successful locate, all zero before one.
    [[nodiscard]] const ControlRecord& controlRecord() const { return m_record; }
    // The HMIXER that open() got, for a test to ask the mixer itself.
    [[nodiscard]] void* handle() const { return m_mixer; }

private:
    std::uint32_t m_componentType;
    std::uint32_t m_controlType;
    void* m_mixer = nullptr;
    ControlRecord m_record{};
    bool m_located = false;  // a zero record names control 0, some other control: never set it
};

}  // namespace hushwell
