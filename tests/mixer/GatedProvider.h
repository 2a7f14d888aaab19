#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "mixer/MasterVolume.h"

namespace hushwell::testing {

using Calls = std::vector<std::string>;

// A provider with outputs by name whose set() waits at a gate the test opens, as a stalled sound
// server would. Every call is recorded: "set 13100", "setOn speakers 65500", "setProgramOn
// speakers radio 65500".
class GatedProvider final : public MasterVolume {
public:
    bool open() override { return true; }
    std::optional<std::int32_t> locate() override { return 65536; }
    std::optional<std::string> set(std::int32_t value) override {
        std::unique_lock lock(m_mutex);
        m_calls.push_back("set " + std::to_string(value));
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        if (m_refuses || value < 0) {
            return std::nullopt;
        }
        return m_current;
    }
    bool setOn(const std::string& output, std::int32_t value) override {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back("setOn " + output + " " + std::to_string(value));
        m_changed.notify_all();
        return !m_refuses;
    }
    std::optional<std::int32_t> volumeNow() override {
        const std::lock_guard lock(m_mutex);
        return m_volumeNow;
    }
    bool hasProgramVolume() const override { return m_programVolume; }
    std::vector<std::string> playingPrograms() override {
        const std::lock_guard lock(m_mutex);
        std::vector<std::string> names;
        for (const auto& [name, count] : m_streams) {
            names.push_back(name);
        }
        return names;
    }
    // Refused like set(); otherwise the number of streams the program has (see streams()).
    std::optional<int> setProgram(const std::string& program, std::int32_t value) override {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back("setProgram " + program + " " + std::to_string(value));
        m_changed.notify_all();
        if (m_refuses || value < 0) {
            return std::nullopt;
        }
        const auto found = m_streams.find(program);
        return found == m_streams.end() ? 0 : found->second;
    }
    // The streams play on the current output, where their volume stays.
    std::optional<ProgramTaken> setProgramWhere(const std::string& program,
                                                std::int32_t value) override {
        const std::optional<int> streams = setProgram(program, value);
        const std::lock_guard lock(m_mutex);
        return streams ? std::optional(ProgramTaken{*streams, m_current}) : std::nullopt;
    }
    std::optional<int> setProgramOn(const std::string& output, const std::string& program,
                                    std::int32_t value) override {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back("setProgramOn " + output + " " + program + " " + std::to_string(value));
        m_changed.notify_all();
        const auto found = m_streamsOn.find(output);
        return m_refuses ? std::nullopt
                         : std::optional(found == m_streamsOn.end() ? 1 : found->second);
    }
    void watch(const EventHandler& handler) override { m_handler = handler; }

    void streams(const std::string& program, int count) {
        const std::lock_guard lock(m_mutex);
        m_streams[program] = count;
    }
    // How many streams of any program setProgramOn() finds on `output` (1 until told).
    void streamsOn(const std::string& output, int count) {
        const std::lock_guard lock(m_mutex);
        m_streamsOn[output] = count;
    }
    // Whether there is a volume per program (Windows' sessions may be refused for a while).
    void programVolume(bool has) { m_programVolume = has; }
    void openGate() {
        const std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void refuse(bool refuses) {
        const std::lock_guard lock(m_mutex);
        m_refuses = refuses;
    }
    void standAt(std::optional<std::int32_t> value) {
        const std::lock_guard lock(m_mutex);
        m_volumeNow = value;
    }
    void switchTo(const std::string& output) {
        const std::lock_guard lock(m_mutex);
        m_current = output;
    }
    // Waits until `count` calls came.
    void waitForCalls(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_calls.size() >= count; });
    }
    Calls calls() {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }
    void tell(VolumeEvent::Kind kind) const { m_handler({kind, 0}); }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_refuses = false;
    std::string m_current = "speakers";
    std::optional<std::int32_t> m_volumeNow;  // what volumeNow() tells
    Calls m_calls;
    std::map<std::string, int> m_streams;    // streams by program
    std::map<std::string, int> m_streamsOn;  // streams on an output other than the current one
    std::atomic<bool> m_programVolume{true};
    EventHandler m_handler;
};

}  // namespace hushwell::testing
