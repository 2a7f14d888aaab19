#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mixer/MasterVolume.h"

namespace hushwell::testing {

// A master volume that lives in memory: it records every value set and can be told to fail, or
// to report later that it did not take a value.
class FakeVolume final : public MasterVolume {
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
    bool set(std::int32_t value) override {
        sets.push_back(value);
        return takes;
    }
    void setUpValue(std::int32_t value) override { upValue = value; }
    void watch(const EventHandler& h) override { handler = h; }
    void finish() override { ++finishCalls; }

    // Reports, as a volume that works in the background does, that `value` was not taken.
    void refuseLater(std::int32_t value) const { handler({VolumeEvent::Kind::Refused, value}); }
};

}  // namespace hushwell::testing
