#include "mixer/AlsaMixer.h"

#include <gtest/gtest.h>

#include "support/AudioSandbox.h"
#include "support/OpenedMixer.h"

namespace hushwell::testing {
namespace {

using Volumes = std::vector<long>;

// ALSA's default device is the private PulseAudio server, through the ALSA PulseAudio plugin.
using AlsaMixerTest = OpenedMixer<AlsaMixer>;

TEST_F(AlsaMixerTest, FindsTheMasterElementAndItsRange) {
    EXPECT_EQ(mixer.elementName(), "Master");
    EXPECT_EQ(control.lMinimum, 0);
    EXPECT_EQ(control.lMaximum, 65536);
}

TEST_F(AlsaMixerTest, AppliesOneValueToEveryChannel) {
    for (std::int32_t value : {0, 13100, 65500}) {
        EXPECT_TRUE(mixer.applyVolume(handle, control, value)) << value;
        EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, value)) << value;
    }
}

TEST_F(AlsaMixerTest, RefusesAControlThatWasNeverLocated) {
    EXPECT_FALSE(mixer.applyVolume(handle, VolumeControl{}, 100));
    EXPECT_FALSE(mixer.applyVolume(0, control, 100));
}

TEST_F(AlsaMixerTest, OpensTheDeviceAgainAfterItWentAway) {
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    EXPECT_FALSE(mixer.applyVolume(handle, control, 20000));
    sandbox.start();
    EXPECT_TRUE(mixer.applyVolume(handle, control, 20000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 20000));
}

TEST(AlsaMixerOpen, FailsForADeviceThatDoesNotExist) {
    AlsaMixer mixer("hw:97");
    MixerHandle handle = 0;
    EXPECT_NE(mixer.open(handle), 0);
    VolumeControl control;
    EXPECT_FALSE(
        mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers, kControlTypeVolume, control));
    EXPECT_FALSE(mixer.applyVolume(handle, control, 100));
}

}  // namespace
}  // namespace hushwell::testing
