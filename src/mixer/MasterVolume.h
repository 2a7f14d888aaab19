#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>

namespace hushwell {

// What a master volume tells of its own accord.
struct VolumeEvent {
    enum class Kind {
        OutputChanged,  // the system's output is another one now
        ServerBack,     // the sound server went away and is back
        Refused,        // `value`, asked for earlier, was not taken
    };
    Kind kind;
    std::int32_t value = 0;
};

// The system's master volume, as one provider reaches it: the program's only door to the sound
// hardware.
//
// Call order: open() once; if it succeeded, locate() once; then set() any number of times. set()
// is also called when open or locate failed: the provider then returns false. No call may hold
// the caller for more than a fraction of a second.
class MasterVolume {
public:
    using EventHandler = std::function<void(const VolumeEvent&)>;

    virtual ~MasterVolume() = default;

    // Connects to the system's mixer: its sound server, card or first mixer device. false when
    // there is none to connect to.
    [[nodiscard]] virtual bool open() = 0;

    // Finds the volume of the speakers' output and returns its scale: the value that stands for
    // full volume, set() taking 0 to it. Empty when there is no such control.
    [[nodiscard]] virtual std::optional<std::int32_t> locate() = 0;

    // Sets every channel of the volume to `value`, in the units of its scale. true when the
    // system took it (or, for a volume that works in the background, when it will try).
    [[nodiscard]] virtual bool set(std::int32_t value) = 0;

    // The Up level in the scale's units. An output that the system leaves while the volume is
    // held at another value gets it back; a provider with one output has nothing to do.
    virtual void setUpValue(std::int32_t /*value*/) {}

    // Where events go; a provider that tells nothing ignores it. It may be called from any thread.
    virtual void watch(const EventHandler& /*handler*/) {}

    // The run ends: what was asked is carried out (or given up) before this returns.
    virtual void finish() {}
};

// `value` of a scale that runs to `from`, in a scale that runs to `to`: the same share of full
// volume, as near as the scale allows.
[[nodiscard]] inline std::int32_t rescaled(std::int32_t value, std::int32_t from, std::int32_t to) {
    return from > 0 ? static_cast<std::int32_t>(
                          std::llround(static_cast<double>(value) * static_cast<double>(to) / from))
                    : value;
}

}  // namespace hushwell
