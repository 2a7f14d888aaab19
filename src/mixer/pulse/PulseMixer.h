#pragma once

#include <chrono>
#include <memory>

#include "mixer/MasterVolume.h"

namespace hushwell {

// The PulseAudio server (PipeWire's too) as the master volume: the default sink, whose normal
// volume (PA_VOLUME_NORM, 65536) is the scale. Each set() sets every channel of the sink that is
// the default at that moment, so the program follows the user's choice of output, and returns the
// sink's name; setOn() sets a sink by that name. It has a volume per program: the sink inputs,
// each program's by its application.process.binary (else application.name), on the same scale.
//
// Every call waits for the server's answers on the process's connection (PulseConnection) under a
// deadline: none holds the caller longer than the timeout. When the server goes away, calls return
// false, and a later call connects afresh. It reports a change of the default sink, a stream that
// starts and the server's return as events, from the connection's thread.
[[nodiscard]] std::unique_ptr<MasterVolume> pulseMasterVolume(
    std::chrono::milliseconds timeout = std::chrono::milliseconds(300));

}  // namespace hushwell
