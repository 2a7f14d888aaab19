#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mixer/MasterVolume.h"

namespace hushwell::testing {

// A master volume that lives in memory: it records every value set and can be told to fail.
class FakeVolume final : public MasterVolume {
public:
    bool opens = true;
    std::optional<std::int32_t> scale = 65535;  // what locate() finds; empty: no control
    bool takes = true;                          // whether set() is taken

    int openCalls = 0;
    int locateCalls = 0;
    std::vector<std::int32_t> sets;  // every value set, in order

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
};

}  // namespace hushwell::testing
