#include "mixer/MixerChoice.h"

#if defined(HUSHWELL_HAVE_PULSE)
#include "mixer/pulse/PulseMixer.h"
#endif
#if defined(HUSHWELL_HAVE_ALSA)
#include "mixer/alsa/AlsaMixer.h"
#endif
#if defined(HUSHWELL_HAVE_PULSE)
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#endif
#if defined(HUSHWELL_HAVE_ENDPOINT_VOLUME)
#include "mixer/windows/EndpointVolume.h"
#endif
#if defined(HUSHWELL_HAVE_WINMM)
#include "mixer/windows/WinmmMixer.h"
#endif

namespace hushwell {

#if defined(HUSHWELL_HAVE_PULSE)
namespace {

// Whether a PulseAudio server (PipeWire's included) is to be expected here though none answers
// yet: an address given to libpulse, a socket already in place (a server started on demand), or a
// server installed for the session to start. Without any, ALSA is the mixer, at once.
bool pulseServerExpected() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0' ? value : nullptr;
    };
    if (set("PULSE_SERVER") != nullptr) {
        return true;
    }
    std::error_code error;
    if (const char* runtime = set("XDG_RUNTIME_DIR");
        runtime != nullptr &&
        std::filesystem::exists(std::filesystem::path(runtime) / "pulse" / "native", error)) {
        return true;
    }
    std::istringstream path(set("PATH") != nullptr ? set("PATH") : "/usr/bin:/bin");
    for (std::string folder; std::getline(path, folder, ':');) {
        for (const char* server : {"pulseaudio", "pipewire-pulse"}) {
            if (!folder.empty() && access((folder + "/" + server).c_str(), X_OK) == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace
#endif

std::vector<MixerProvider> platformProviders() {
    std::vector<MixerProvider> providers;
#if defined(HUSHWELL_HAVE_PULSE)
    providers.push_back({"PulseAudio",
                         [] { return pulseMasterVolume(); },
                         {},
                         [] { return pulseServerExpected(); }});
#endif
#if defined(HUSHWELL_HAVE_ALSA)
    providers.push_back({"ALSA", [] { return alsaMasterVolume(); }});
#endif
#if defined(HUSHWELL_HAVE_ENDPOINT_VOLUME)
    // What Windows' volume flyout shows. winmm's mixer, on every Windows since Vista, reaches only
    // the calling program's own session: it stays as the fallback where this one does not open.
    providers.push_back({"endpoint volume", [] { return std::make_unique<EndpointVolume>(); },
                         [](const MasterVolume& volume) {
                             return static_cast<const EndpointVolume&>(volume).lastError();
                         }});
#endif
#if defined(HUSHWELL_HAVE_WINMM)
    providers.push_back({"winmm", [] { return std::make_unique<WinmmMixer>(); }});
#endif
    return providers;
}

ChosenProvider::ChosenProvider(std::vector<MixerProvider> providers, Report report,
                               Patience patient)
    : m_providers(std::move(providers)),
      m_report(std::move(report)),
      m_patient(std::move(patient)) {}

bool ChosenProvider::open() {
    if (m_volume) {
        return true;  // an earlier open answered after its caller gave up
    }
    const bool patient = m_patient && m_patient();
    for (std::size_t i = 0; i < m_providers.size(); ++i) {
        const MixerProvider& provider = m_providers[i];
        std::unique_ptr<MasterVolume> volume = provider.make();
        if (volume->open()) {
            m_volume = std::move(volume);
            m_chosen = provider.name;
            m_chosenIndex = static_cast<int>(i);
            break;
        }
        const bool waits = patient && provider.expected && provider.expected();
        if (waits && m_waitTold) {
            return false;
        }
        const std::string why = provider.whyNotOpened ? provider.whyNotOpened(*volume) : "";
        tell(std::string("open: tried ") + provider.name + (why.empty() ? "" : ": " + why));
        if (waits) {
            m_waitTold = true;
            tell(std::string("open: waiting for ") + provider.name);
            return false;
        }
    }
    tell("open: " + (m_volume ? m_chosen : "(none opened)"));
    if (m_volume) {
        m_volume->watch(m_handler);  // after the line above: what it tells at once comes next
    }
    return m_volume != nullptr;
}

std::optional<std::int32_t> ChosenProvider::locate() {
    const std::optional<std::int32_t> scale = m_volume ? m_volume->locate() : std::nullopt;
    tell(scale ? "locate: found, scale " + std::to_string(*scale) : "locate: not found");
    return scale;
}

std::optional<std::string> ChosenProvider::set(std::int32_t value) {
    std::optional<std::string> output = m_volume ? m_volume->set(value) : std::nullopt;
    tell("apply " + std::to_string(value) + (output ? ": applied" : ": refused"));
    return output;
}

bool ChosenProvider::setOn(const std::string& output, std::int32_t value) {
    const bool taken = m_volume && m_volume->setOn(output, value);
    tell("apply " + std::to_string(value) + " on " + output + (taken ? ": applied" : ": refused"));
    return taken;
}

std::optional<std::int32_t> ChosenProvider::volumeNow() {
    return m_volume ? m_volume->volumeNow() : std::nullopt;
}

bool ChosenProvider::hasProgramVolume() const {
    return m_volume && m_volume->hasProgramVolume();
}

std::vector<std::string> ChosenProvider::playingPrograms() {
    return m_volume ? m_volume->playingPrograms() : std::vector<std::string>{};
}

std::optional<int> ChosenProvider::setProgram(const std::string& program, std::int32_t value) {
    const std::optional<int> streams =
        m_volume ? m_volume->setProgram(program, value) : std::nullopt;
    tellProgram(value, program, "", streams);
    return streams;
}

std::optional<MasterVolume::ProgramTaken> ChosenProvider::setProgramWhere(
    const std::string& program, std::int32_t value) {
    std::optional<ProgramTaken> taken =
        m_volume ? m_volume->setProgramWhere(program, value) : std::nullopt;
    tellProgram(value, program, "", taken ? std::optional(taken->streams) : std::optional<int>());
    return taken;
}

std::optional<int> ChosenProvider::setProgramOn(const std::string& output,
                                                const std::string& program, std::int32_t value) {
    const std::optional<int> streams =
        m_volume ? m_volume->setProgramOn(output, program, value) : std::nullopt;
    tellProgram(value, program, output, streams);
    return streams;
}

void ChosenProvider::watch(const EventHandler& handler) {
    m_handler = !handler ? handler : [this, handler](const VolumeEvent& event) {
        if (event.kind == VolumeEvent::Kind::NoOutput) {
            tell("no output: waiting for one");
        }
        handler(event);
    };
    if (m_volume) {
        m_volume->watch(m_handler);
    }
}

void ChosenProvider::tellProgram(std::int32_t value, const std::string& program,
                                 const std::string& output,
                                 const std::optional<int>& streams) const {
    tell("apply " + std::to_string(value) + " to " + program +
         (output.empty() ? "" : " on " + output) + ": " +
         (streams ? std::to_string(*streams) + (*streams == 1 ? " stream" : " streams")
                  : std::string("refused")));
}

void ChosenProvider::tell(const std::string& what) const {
    if (m_report) {
        m_report(what);
    }
}

}  // namespace hushwell
