#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace hushwell::testing {

// A private PulseAudio server with one null sink, "speakers", on a socket in a fresh folder, so
// that no test reaches the machine's own audio. It points PULSE_SERVER at itself, and ALSA's
// default device at itself through the PulseAudio plugin, for the whole test program.
class AudioSandbox {
public:
    // Starts the one sandbox of the test program; later calls return it.
    static AudioSandbox& instance();

    ~AudioSandbox();
    AudioSandbox(const AudioSandbox&) = delete;
    AudioSandbox& operator=(const AudioSandbox&) = delete;

    void stop();
    void start();
    [[nodiscard]] const std::filesystem::path& folder() const { return m_folder; }
    [[nodiscard]] std::string server() const { return "unix:" + (m_folder / "native").string(); }

private:
    AudioSandbox();
    std::filesystem::path m_folder;
};

// Runs `command` through the shell with the sandbox's environment and returns what it printed;
// a non-zero exit fails the calling test.
std::string run(const std::string& command);

// The volume of every channel of `sink` ("@DEFAULT_SINK@" for the default), as pactl reports it.
std::vector<long> sinkVolumes(const std::string& sink);

// Polls the sink "speakers" until every channel of it holds `value`, for a few seconds at most;
// returns what it last read.
std::vector<long> waitForVolume(long value);

}  // namespace hushwell::testing
