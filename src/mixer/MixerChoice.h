#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mixer/Mixer.h"

namespace hushwell {

struct MixerProvider {
    const char* name;
    std::function<std::unique_ptr<Mixer>()> make;
};

// The providers this build has for its platform, in priority order.
[[nodiscard]] std::vector<MixerProvider> platformProviders();

// A mixer that opens the providers in turn and keeps the first that opens; the other calls go to
// that one. With none open, locate and apply return false.
class FirstThatOpens final : public Mixer {
public:
    explicit FirstThatOpens(std::vector<MixerProvider> providers);

    // Name of the provider in use, empty before one opened.
    [[nodiscard]] const std::string& chosen() const { return m_chosen; }

    std::int32_t open(MixerHandle& handle) override;
    bool locateVolumeControl(MixerHandle handle, std::uint32_t componentType,
                             std::uint32_t controlType, VolumeControl& control) override;
    bool applyVolume(MixerHandle handle, const VolumeControl& control, std::int32_t value) override;

private:
    std::vector<MixerProvider> m_providers;
    std::unique_ptr<Mixer> m_mixer;
    std::string m_chosen;
};

}  // namespace hushwell
