#pragma once

#include <memory>

#include "mixer/AudioCapture.h"

namespace hushwell {

// Capture from the PulseAudio server (or PipeWire's PulseAudio server): a record stream from the
// default sink's monitor, or from the monitor of one program's stream, on libpulse's own thread.
[[nodiscard]] std::unique_ptr<AudioCapture> pulseCapture();

}  // namespace hushwell
