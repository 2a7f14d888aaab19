#include "support/PlayingStream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "support/AudioSandbox.h"
#include "support/ExecutableCopy.h"

namespace hushwell::testing {

PlayingStream::PlayingStream(const std::filesystem::path& folder, const std::string& program) {
    // pacat picks its mode by the name it runs under; a name without "play", "rec" or "cat"
    // leaves it playing raw samples, its default.
    const auto copy = folder / program;
    if (!std::filesystem::exists(copy)) {  // a second stream of the program runs the same copy
        copyExecutable("/usr/bin/pacat", copy);
    }
    m_pid = fork();
    if (m_pid == 0) {
        execl(copy.c_str(), program.c_str(), "--device=speakers", "/dev/zero",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int attempt = 0; attempt < 100 && volumes().empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(volumes().empty()) << program << " started no stream";
}

PlayingStream::~PlayingStream() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

std::vector<long> PlayingStream::volumes() const {
    for (const SinkInput& input : sinkInputs()) {
        if (input.pid == m_pid) {
            return input.volumes;
        }
    }
    return {};
}

std::vector<SinkInput> sinkInputs() {
    const std::string output = run("pactl list sink-inputs");
    static const std::regex channel(R"(:\s*(\d+)\s*/)");
    static const std::regex pid(R"re(application\.process\.id = "(\d+)")re");
    static const std::regex binary(R"re(application\.process\.binary = "([^"]*)")re");
    std::vector<SinkInput> inputs;
    std::size_t at = output.find("Sink Input #");
    while (at != std::string::npos) {
        const std::size_t next = output.find("Sink Input #", at + 1);
        const std::string block = output.substr(at, next - at);
        SinkInput input;
        input.index = std::stol(block.substr(std::string_view("Sink Input #").size()));
        std::istringstream lines(block);
        for (std::string line; std::getline(lines, line);) {
            if (line.find("\tVolume:") == 0) {
                for (auto it = std::sregex_iterator(line.begin(), line.end(), channel);
                     it != std::sregex_iterator(); ++it) {
                    input.volumes.push_back(std::stol((*it)[1]));
                }
            }
        }
        std::smatch match;
        if (std::regex_search(block, match, pid)) {
            input.pid = std::stol(match[1]);
        }
        if (std::regex_search(block, match, binary)) {
            input.binary = match[1];
        }
        inputs.push_back(input);
        at = next;
    }
    return inputs;
}

bool waitForStream(const PlayingStream& stream, long value, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const std::vector<long> volumes = stream.volumes();
        if (!volumes.empty() &&
            std::all_of(volumes.begin(), volumes.end(), [value](long v) { return v == value; })) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace hushwell::testing
