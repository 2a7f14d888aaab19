#pragma once

#include <gtest/gtest.h>

#include "mixer/Mixer.h"
#include "support/AudioSandbox.h"

namespace hushwell::testing {

// A real provider, opened on the private PulseAudio server with "speakers" as the default sink
// and its speakers' volume control located.
template <typename Provider>
class OpenedMixer : public ::testing::Test {
protected:
    void SetUp() override {
        AudioSandbox::instance();
        run("pactl set-default-sink speakers");
        ASSERT_EQ(mixer.open(handle), 0);
        ASSERT_TRUE(mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers, kControlTypeVolume,
                                              control));
    }
    Provider mixer;
    MixerHandle handle = 0;
    VolumeControl control;
};

}  // namespace hushwell::testing
