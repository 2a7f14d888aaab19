// This file includes no local header but its own and its scale's: alsa-lib stays out of the rest
// of the program.
#include "mixer/alsa/AlsaMixer.h"

#include <alsa/asoundlib.h>

#include <cstdlib>

#include "mixer/alsa/AlsaVolumeScale.h"

namespace hushwell {
namespace {

bool hasUsablePlaybackVolume(snd_mixer_elem_t* element) {
    long minimum = 0;
    long maximum = 0;
    return snd_mixer_selem_is_active(element) != 0 &&
           snd_mixer_selem_has_playback_volume(element) != 0 &&
           snd_mixer_selem_get_playback_volume_range(element, &minimum, &maximum) == 0 &&
           minimum < maximum;
}

snd_mixer_elem_t* findByName(snd_mixer_t* mixer, const char* name, unsigned index) {
    snd_mixer_selem_id_t* id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    snd_mixer_selem_id_set_name(id, name);
    snd_mixer_selem_id_set_index(id, index);
    return snd_mixer_find_selem(mixer, id);
}

// The element's playback range now, with its dB range where the driver gives one.
AlsaRange readRange(snd_mixer_elem_t* element) {
    AlsaRange range;
    if (snd_mixer_selem_get_playback_volume_range(element, &range.minimum, &range.maximum) < 0) {
        return {};
    }
    long low = 0;
    long high = 0;
    if (snd_mixer_selem_get_playback_dB_range(element, &low, &high) == 0 && low < high) {
        range.dBMinimum = low;
        range.dBMaximum = high;
    }
    return range;
}

// The raw step whose level in dB is nearest to `decibels` (hundredths of a dB): of the steps just
// below and just above it, the closer.
bool nearestStep(snd_mixer_elem_t* element, long decibels, long& step) {
    long best = -1;
    for (int dir : {-1, 1}) {
        long candidate = 0;
        long candidateDb = 0;
        if (snd_mixer_selem_ask_playback_dB_vol(element, decibels, dir, &candidate) < 0 ||
            snd_mixer_selem_ask_playback_vol_dB(element, candidate, &candidateDb) < 0) {
            return false;
        }
        if (best < 0 || std::labs(candidateDb - decibels) < best) {
            best = std::labs(candidateDb - decibels);
            step = candidate;
        }
    }
    return true;
}

bool setScaled(snd_mixer_elem_t* element, std::int32_t value) {
    const std::optional<AlsaTarget> target = alsaTarget(value, readRange(element));
    if (!target) {
        return false;
    }
    long step = target->value;
    if (target->kind == AlsaTarget::Kind::Decibels && !nearestStep(element, target->value, step)) {
        return false;
    }
    return snd_mixer_selem_set_playback_volume_all(element, step) == 0;
}

// "Master", else "PCM", else the first element with a playback volume that has a valid range.
snd_mixer_elem_t* findSpeakersVolume(snd_mixer_t* mixer) {
    for (const char* name : {"Master", "PCM"}) {
        snd_mixer_elem_t* element = findByName(mixer, name, 0);
        if (element != nullptr && hasUsablePlaybackVolume(element)) {
            return element;
        }
    }
    for (snd_mixer_elem_t* element = snd_mixer_first_elem(mixer); element != nullptr;
         element = snd_mixer_elem_next(element)) {
        if (hasUsablePlaybackVolume(element)) {
            return element;
        }
    }
    return nullptr;
}

struct MixerCloser {
    void operator()(snd_mixer_t* mixer) const { snd_mixer_close(mixer); }
};

class AlsaMixer final : public MasterVolume {
public:
    explicit AlsaMixer(std::string device) : m_device(std::move(device)) {}

    bool open() override { return reopen() == 0; }

    std::optional<std::int32_t> locate() override {
        snd_mixer_elem_t* element = m_mixer ? findSpeakersVolume(m_mixer.get()) : nullptr;
        if (element == nullptr) {
            return std::nullopt;
        }
        m_elementName = snd_mixer_selem_get_name(element);
        m_elementIndex = snd_mixer_selem_get_index(element);
        return kAlsaScale;
    }

    std::optional<std::string> set(std::int32_t value) override {
        if (!setElement(value)) {
            return std::nullopt;
        }
        return std::string();  // one output
    }

private:
    bool setElement(std::int32_t value) {
        if (m_elementName.empty() || (!m_mixer && reopen() < 0)) {
            return false;
        }
        // Takes in what changed meanwhile; an error here means the device went away.
        if (snd_mixer_handle_events(m_mixer.get()) < 0) {
            m_mixer.reset();
            return false;
        }
        snd_mixer_elem_t* element =
            findByName(m_mixer.get(), m_elementName.c_str(), m_elementIndex);
        if (element == nullptr || !setScaled(element, value)) {
            m_mixer.reset();
            return false;
        }
        return true;
    }

    int reopen() {
        m_mixer.reset();
        snd_mixer_t* raw = nullptr;
        int result = snd_mixer_open(&raw, 0);
        if (result < 0) {
            return result;
        }
        std::unique_ptr<snd_mixer_t, MixerCloser> mixer(raw);
        if ((result = snd_mixer_attach(raw, m_device.c_str())) < 0 ||
            (result = snd_mixer_selem_register(raw, nullptr, nullptr)) < 0 ||
            (result = snd_mixer_load(raw)) < 0) {
            return result;
        }
        m_mixer = std::move(mixer);
        return 0;
    }

    std::string m_device;
    std::unique_ptr<snd_mixer_t, MixerCloser> m_mixer;
    std::string m_elementName;
    unsigned m_elementIndex = 0;
};

}  // namespace

std::unique_ptr<MasterVolume> alsaMasterVolume(std::string device) {
    return std::make_unique<AlsaMixer>(std::move(device));
}

}  // namespace hushwell
