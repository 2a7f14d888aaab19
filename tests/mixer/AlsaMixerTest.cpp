#include "mixer/AlsaMixer.h"
#include "mixer/AlsaVolumeScale.h"

#include <gtest/gtest.h>

#include "support/AudioSandbox.h"
#include "support/OpenedMixer.h"

namespace hushwell::testing {
namespace {

using Volumes = std::vector<long>;

// ALSA's default device is the private PulseAudio server, through the ALSA PulseAudio plugin.
using AlsaMixerTest = OpenedMixer<AlsaMixer>;

TEST_F(AlsaMixerTest, FindsTheMasterElementAndPresentsItsOwnScale) {
    EXPECT_EQ(mixer.elementName(), "Master");
    EXPECT_EQ(control.lMinimum, 0);
    EXPECT_EQ(control.lMaximum, kAlsaScale);
}

// The plugin's Master runs from 0 to 65536, without dB information: linear steps.
TEST_F(AlsaMixerTest, MapsTheScaleOntoEveryChannel) {
    const struct {
        std::int32_t value;
        long sink;
    } cases[] = {{0, 0}, {2000, 13107}, {6500, 42598}, {kAlsaScale, 65536}};
    for (const auto& c : cases) {
        EXPECT_TRUE(mixer.applyVolume(handle, control, c.value)) << c.value;
        EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, c.sink)) << c.value;
    }
    EXPECT_FALSE(mixer.applyVolume(handle, control, kAlsaScale + 1));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 65536));
}

TEST_F(AlsaMixerTest, RefusesAControlThatWasNeverLocated) {
    EXPECT_FALSE(mixer.applyVolume(handle, VolumeControl{}, 100));
    EXPECT_FALSE(mixer.applyVolume(0, control, 100));
}

TEST_F(AlsaMixerTest, OpensTheDeviceAgainAfterItWentAway) {
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    EXPECT_FALSE(mixer.applyVolume(handle, control, 3000));
    sandbox.start();
    EXPECT_TRUE(mixer.applyVolume(handle, control, 3000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 19661));
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
