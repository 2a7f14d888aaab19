#pragma once

#include <chrono>
#include <memory>

#include "mixer/Mixer.h"

struct pa_context;
struct pa_mainloop;

namespace hushwell {

// The PulseAudio server (PipeWire's too) as the mixer. "Device 0" is the server; the speakers'
// volume control is the default sink, whose normal volume (PA_VOLUME_NORM) is the maximum. Each
// apply sets every channel of the sink that is the default at that moment, so the program follows
// the user's choice of output.
//
// Every call drives its own main loop under a deadline: none holds the caller longer than the
// timeout. When the server goes away, calls return false, and a later call connects afresh.
class PulseMixer final : public Mixer {
public:
    explicit PulseMixer(std::chrono::milliseconds timeout = std::chrono::milliseconds(300));
    ~PulseMixer() override;
    PulseMixer(const PulseMixer&) = delete;
    PulseMixer& operator=(const PulseMixer&) = delete;

    std::int32_t open(MixerHandle& handle) override;
    bool locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                             std::uint32_t controlType, VolumeControl& control) override;
    bool applyVolume(MixerHandle handle, const VolumeControl& control, std::int32_t value) override;

private:
    class Session;
    std::chrono::milliseconds m_timeout;
    std::unique_ptr<Session> m_session;
};

}  // namespace hushwell
