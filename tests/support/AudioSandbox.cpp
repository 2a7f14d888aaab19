#include "support/AudioSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <thread>

#include "support/Fakes.h"

namespace hushwell::testing {

AudioServer audioServerKind() {
    const char* value = std::getenv("HUSHWELL_AUDIO_SERVER");
    const std::string kind = value == nullptr ? "" : value;
    if (kind.empty() || kind == "pulseaudio") {
        return AudioServer::PulseAudio;
    }
    if (kind == "pipewire") {
        return AudioServer::PipeWire;
    }
    throw std::runtime_error("HUSHWELL_AUDIO_SERVER=" + kind + ": expected pulseaudio or pipewire");
}

std::string run(const std::string& command) {
    std::string output;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
        output += buffer.data();
    }
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << command << ": " << output;
    return output;
}

AudioSandbox& AudioSandbox::instance() {
    static AudioSandbox sandbox;
    return sandbox;
}

AudioSandbox::AudioSandbox()
    : m_kind(audioServerKind()),
      m_folder(makeTempFolder(m_kind == AudioServer::PipeWire ? "hushwell-pipewire-"
                                                              : "hushwell-pulse-")),
      m_socket(m_folder / (m_kind == AudioServer::PipeWire ? "pulse/native" : "native")),
      m_script(std::string(HUSHWELL_SOURCE_DIR) + (m_kind == AudioServer::PipeWire
                                                       ? "/scripts/pipewire-server.sh"
                                                       : "/scripts/pulse-server.sh")) {
    // Named in the test's output, so that a failure says which server it was.
    std::fprintf(stderr, "Audio sandbox: %s server in %s\n",
                 m_kind == AudioServer::PipeWire ? "PipeWire" : "PulseAudio", m_folder.c_str());
    setenv("PULSE_SERVER", server().c_str(), 1);
    setenv("PULSE_COOKIE", (m_folder / "cookie").c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", m_folder.c_str(), 1);
    writeFile(m_folder / "asound.conf",
              "pcm.!default { type pulse }\nctl.!default { type pulse }\n");
    setenv("ALSA_CONFIG_PATH",
           ("/usr/share/alsa/alsa.conf:" + (m_folder / "asound.conf").string()).c_str(), 1);
    start();
}

AudioSandbox::~AudioSandbox() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

void AudioSandbox::start() {
    run(m_script + " start " + m_folder.string());
    // The server that answers is the kind asked for: PipeWire names itself in the server name.
    const bool pipewire = run("pactl info").find("(on PipeWire ") != std::string::npos;
    EXPECT_EQ(pipewire, m_kind == AudioServer::PipeWire) << "the server at " << server();
}

void AudioSandbox::stop() {
    run(m_script + " stop " + m_folder.string());
}

pid_t AudioSandbox::serverPid() const {
    const char* file = m_kind == AudioServer::PipeWire ? "pipewire-pulse.pid" : "server.pid";
    return static_cast<pid_t>(std::stol(readFile(m_folder / file)));
}

std::vector<long> sinkVolumes(const std::string& sink) {
    const std::string output = run("pactl get-sink-volume " + sink);
    std::vector<long> volumes;
    static const std::regex channel(R"(:\s*(\d+)\s*/)");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), channel);
         it != std::sregex_iterator(); ++it) {
        volumes.push_back(std::stol((*it)[1]));
    }
    return volumes;
}

}  // namespace hushwell::testing

namespace hushwell::testing {

std::vector<long> waitForVolume(long value) {
    std::vector<long> volumes;
    for (int attempt = 0; attempt < 100; ++attempt) {
        volumes = sinkVolumes("speakers");
        if (!volumes.empty() &&
            std::all_of(volumes.begin(), volumes.end(), [value](long v) { return v == value; })) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return volumes;
}

std::string waitForDefaultSink(const std::string& sink) {
    std::string reported;
    for (int attempt = 0; attempt < 100; ++attempt) {
        reported = run("pactl get-default-sink");
        if (!reported.empty() && reported.back() == '\n') {
            reported.pop_back();
        }
        if (reported == sink) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return reported;
}

NullSink::NullSink(int rate) : m_name("rate" + std::to_string(rate)) {
    m_module = run("pactl load-module module-null-sink sink_name=" + m_name +
                   " rate=" + std::to_string(rate));
    while (!m_module.empty() && m_module.back() == '\n') {
        m_module.pop_back();
    }
    // PipeWire knows the sink a moment after loading it: asked until it is the default.
    std::string reported;
    for (int attempt = 0; attempt < 5 && reported != m_name; ++attempt) {
        run("pactl set-default-sink " + m_name + " || true");
        reported = waitForDefaultSink(m_name);
    }
    EXPECT_EQ(reported, m_name);
}

NullSink::~NullSink() {
    run("pactl set-default-sink speakers");
    run("pactl unload-module " + m_module);
    waitForDefaultSink("speakers");
}

}  // namespace hushwell::testing
