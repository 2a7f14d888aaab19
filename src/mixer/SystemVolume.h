#pragma once

#include <cstdint>
#include <optional>

#include "mixer/MasterVolume.h"

namespace hushwell {

// The system's volume as the core asks for it: it asks, and hears back, as Taken and Refused
// events on its own thread, what landed. Nothing it asks waits for the mixer, but open() and
// locate(), which start-up needs answered (and which give up at a deadline).
class SystemVolume {
public:
    using EventHandler = MasterVolume::EventHandler;

    virtual ~SystemVolume() = default;

    [[nodiscard]] virtual bool open() = 0;
    // The scale (see MasterVolume::locate); empty when there is no control or no answer.
    [[nodiscard]] virtual std::optional<std::int32_t> locate() = 0;
    // The Up level in the scale's units: what the volume goes back to however the run ends.
    virtual void setUpValue(std::int32_t value) = 0;
    // The value wanted now; the latest wins over one not yet sent.
    virtual void set(std::int32_t value) = 0;
    // Where Taken and Refused go.
    virtual void watch(const EventHandler& handler) = 0;
    // The run ends: what was asked is carried out (or given up) before this returns.
    virtual void finish() = 0;
};

}  // namespace hushwell
