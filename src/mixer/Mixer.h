#pragma once

#include <cstdint>

namespace hushwell {

// Wide enough for any platform handle: a pointer on 64-bit Windows.
using MixerHandle = std::uintptr_t;

// Component type of the speakers' destination line and control type of a volume fader, in the
// values the Windows mixer uses; every provider accepts these two.
constexpr std::uint32_t kComponentTypeDstSpeakers = 4;
constexpr std::uint32_t kControlTypeVolume = 0x50030001;

// The located volume control: its identity, passed back on every apply, and its range. The levels
// logic reads only lMaximum; the scale is taken to start at 0.
struct VolumeControl {
    std::uint32_t dwControlID = 0;
    std::int32_t lMinimum = 0;
    std::int32_t lMaximum = 0;
};

// The program's only door to the sound hardware.
//
// Call order: open() once; if it returned 0, locateVolumeControl() once; then applyVolume() any
// number of times. applyVolume() is also called after a failed open or locate, with the handle and
// control as they stand (all zero); a provider must then simply return false.
// Every call returns promptly: none may hold the caller for more than a fraction of a second.
class Mixer {
public:
    virtual ~Mixer() = default;

    // Opens the first mixer device. Returns 0 on success and a non-zero result code otherwise.
    [[nodiscard]] virtual std::int32_t open(MixerHandle& handle) = 0;

    // Finds the control of the given type on the destination line of the given component type
    // and fills `control`. Returns false, leaving dwControlID and lMaximum untouched, when the line
    // or the control does not exist.
    [[nodiscard]] virtual bool locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                                                   std::uint32_t controlType,
                                                   VolumeControl& control) = 0;

    // Sets every channel of the control to `value`, in the control's own units, unclamped.
    // Returns true when the device accepted the value.
    [[nodiscard]] virtual bool applyVolume(MixerHandle handle, const VolumeControl& control,
                                           std::int32_t value) = 0;
};

}  // namespace hushwell
