#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "mixer/MasterVolume.h"
#include "support/AudioSandbox.h"

namespace hushwell::testing {

// A real provider, opened on the private PulseAudio server with "speakers" as the default sink,
// and its volume located.
class OpenedMixer : public ::testing::Test {
protected:
    explicit OpenedMixer(std::unique_ptr<MasterVolume> provider) : mixer(std::move(provider)) {}

    void SetUp() override {
        AudioSandbox::instance();
        run("pactl set-default-sink speakers");
        ASSERT_EQ(waitForDefaultSink("speakers"), "speakers");
        ASSERT_TRUE(mixer->open());
        const std::optional<std::int32_t> found = mixer->locate();
        ASSERT_TRUE(found.has_value());
        scale = *found;
    }
    std::unique_ptr<MasterVolume> mixer;
    std::int32_t scale = 0;
};

}  // namespace hushwell::testing
