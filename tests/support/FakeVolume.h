#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mixer/MasterVolume.h"
#include "mixer/SystemVolume.h"

namespace hushwell::testing {

// The system's volume as the core asks for it, in memory and at once: it records every value set
// and reports each as Taken, or as Refused when told not to take it.
class FakeVolume final : public SystemVolume {
public:
    bool opens = true;
    std::optional<std::int32_t> scale = 65535;  // what locate() finds; empty: no control
    bool takes = true;                          // whether set() is taken

    int openCalls = 0;
    int locateCalls = 0;
    int finishCalls = 0;
    std::vector<std::int32_t> sets;  // every value set, in order
    std::optional<std::int32_t> upValue;
    EventHandler handler;

    bool open() override {
        ++openCalls;
        return opens;
    }
    std::optional<std::int32_t> locate() override {
        ++locateCalls;
        return opens ? scale : std::nullopt;
    }
    void set(std::int32_t value) override {
        sets.push_back(value);
        if (handler) {
            handler({takes ? VolumeEvent::Kind::Taken : VolumeEvent::Kind::Refused, value});
        }
    }
    void setUpValue(std::int32_t value) override { upValue = value; }
    void watch(const EventHandler& h) override { handler = h; }
    void finish() override { ++finishCalls; }

    // Reports, as the volume's owner does when the mixer's answer comes later, that `value` was
    // not taken.
    void refuseLater(std::int32_t value) const { handler({VolumeEvent::Kind::Refused, value}); }
};

// A provider in memory with outputs by name: set() goes to `current`; it records every call.
class FakeProvider final : public MasterVolume {
public:
    bool opens = true;
    std::optional<std::int32_t> scale = 65535;
    bool takes = true;
    std::string current = "speakers";
    std::map<std::string, std::int32_t> outputs;  // the value each output holds
    std::vector<std::string>
        calls;  // "set 13100", "setOn speakers 65500", "setProgram radio 13100"
    EventHandler handler;

    bool open() override { return opens; }
    std::optional<std::int32_t> locate() override { return opens ? scale : std::nullopt; }
    std::optional<std::string> set(std::int32_t value) override {
        calls.push_back("set " + std::to_string(value));
        if (!takes) {
            return std::nullopt;
        }
        outputs[current] = value;
        return current;
    }
    bool setOn(const std::string& output, std::int32_t value) override {
        calls.push_back("setOn " + output + " " + std::to_string(value));
        if (!takes || outputs.count(output) == 0) {
            return false;
        }
        outputs[output] = value;
        return true;
    }
    // A volume per program when `programVolume`: `streams` says how many each program plays.
    bool programVolume = false;
    std::map<std::string, int> streams;
    bool hasProgramVolume() const override { return programVolume; }
    std::vector<std::string> playingPrograms() override {
        std::vector<std::string> names;
        for (const auto& [name, count] : streams) {
            names.push_back(name);
        }
        return names;
    }
    std::optional<int> setProgram(const std::string& program, std::int32_t value) override {
        calls.push_back("setProgram " + program + " " + std::to_string(value));
        if (!programVolume || !takes) {
            return std::nullopt;
        }
        const auto found = streams.find(program);
        return found == streams.end() ? 0 : found->second;
    }
    void watch(const EventHandler& h) override { handler = h; }
    void tell(VolumeEvent::Kind kind) const {
        if (handler) {
            handler({kind, 0});
        }
    }
};

}  // namespace hushwell::testing
