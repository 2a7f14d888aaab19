#include "support/AudioSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <thread>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

const std::string kServerScript = std::string(HUSHWELL_SOURCE_DIR) + "/scripts/pulse-server.sh";

}  // namespace

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

AudioSandbox::AudioSandbox() : m_folder(makeTempFolder("hushwell-pulse-")) {
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
    run(kServerScript + " start " + m_folder.string());
}

void AudioSandbox::stop() {
    run(kServerScript + " stop " + m_folder.string());
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

}  // namespace hushwell::testing
