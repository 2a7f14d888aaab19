#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace hushwell::testing {

// The kind of private server the audio sandboxes start: HUSHWELL_AUDIO_SERVER=pulseaudio (the
// default) or pipewire (PipeWire, WirePlumber and pipewire-pulse). Any other value is an error.
enum class AudioServer { PulseAudio, PipeWire };
AudioServer audioServerKind();

// A private sound server with one null sink, "speakers", on a socket in a fresh folder, so that no
// test reaches the machine's own audio: PulseAudio (scripts/pulse-server.sh) or PipeWire
// (scripts/pipewire-server.sh), as HUSHWELL_AUDIO_SERVER says. It points PULSE_SERVER at itself,
// and ALSA's default device at itself through the PulseAudio plugin, for the whole test program.
class AudioSandbox {
public:
    // Starts the one sandbox of the test program; later calls return it.
    static AudioSandbox& instance();

    ~AudioSandbox();
    AudioSandbox(const AudioSandbox&) = delete;
    AudioSandbox& operator=(const AudioSandbox&) = delete;

    // Stops the server (every process of it); start() starts a fresh one on the same socket.
    void stop();
    void start();
    [[nodiscard]] const std::filesystem::path& folder() const { return m_folder; }
    // The process that answers libpulse's clients: pulseaudio, or pipewire-pulse.
    [[nodiscard]] pid_t serverPid() const;
    // The PulseAudio server address: the folder's "native" (PulseAudio) or "pulse/native"
    // (pipewire-pulse, under its XDG_RUNTIME_DIR).
    [[nodiscard]] std::string server() const { return "unix:" + m_socket.string(); }

private:
    AudioSandbox();
    AudioServer m_kind;
    std::filesystem::path m_folder;
    std::filesystem::path m_socket;
    std::string m_script;
};

// Runs `command` through the shell with the sandbox's environment and returns what it printed;
// a non-zero exit fails the calling test.
std::string run(const std::string& command);

// The volume of every channel of `sink` ("@DEFAULT_SINK@" for the default), as pactl reports it.
std::vector<long> sinkVolumes(const std::string& sink);

// Polls the sink "speakers" until every channel of it holds `value`, for a few seconds at most;
// returns what it last read.
std::vector<long> waitForVolume(long value);

// Polls the server until it reports `sink` as the default sink, for a few seconds at most; returns
// the name it last reported. PulseAudio reports a new default as soon as pactl set-default-sink
// returns; under PipeWire, WirePlumber makes the chosen sink the default a few milliseconds later.
std::string waitForDefaultSink(const std::string& sink);

// A second null sink at `rate` samples per second, named "rate<rate>", the default while the
// object lives; then removed, "speakers" the default again.
class NullSink {
public:
    explicit NullSink(int rate);
    ~NullSink();
    NullSink(const NullSink&) = delete;
    NullSink& operator=(const NullSink&) = delete;

    [[nodiscard]] const std::string& name() const { return m_name; }

private:
    std::string m_name;
    std::string m_module;
};

}  // namespace hushwell::testing
