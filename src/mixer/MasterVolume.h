#pragma once

#include <cstdint>
#include <optional>

namespace hushwell {

// The system's master volume, as one provider reaches it: the program's only door to the sound
// hardware.
//
// Call order: open() once; if it succeeded, locate() once; then set() any number of times. set()
// is also called when open or locate failed: the provider then returns false. No call may hold
// the caller for more than a fraction of a second.
class MasterVolume {
public:
    virtual ~MasterVolume() = default;

    // Connects to the system's mixer: its sound server, card or first mixer device. false when
    // there is none to connect to.
    [[nodiscard]] virtual bool open() = 0;

    // Finds the volume of the speakers' output and returns its scale: the value that stands for
    // full volume, set() taking 0 to it. Empty when there is no such control.
    [[nodiscard]] virtual std::optional<std::int32_t> locate() = 0;

    // Sets every channel of the volume to `value`, in the units of its scale. true when the
    // system took it.
    [[nodiscard]] virtual bool set(std::int32_t value) = 0;
};

}  // namespace hushwell
