#pragma once

#include <memory>
#include <string>

#include "mixer/MasterVolume.h"

namespace hushwell {

// ALSA's simple mixer as the master volume: on the given mixer device ("default" unless told
// otherwise), the element "Master", else "PCM", else the first element with a playback volume.
// Its scale is a fixed 0..kAlsaScale, mapped onto the element's own range on every channel (see
// AlsaVolumeScale.h); a value outside it is refused.
// After a failed call the device is closed and opened afresh by the next one, so a card that was
// unplugged and comes back is found again.
[[nodiscard]] std::unique_ptr<MasterVolume> alsaMasterVolume(std::string device = "default");

}  // namespace hushwell
