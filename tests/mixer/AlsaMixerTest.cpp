#include "mixer/alsa/AlsaMixer.h"
#include "mixer/alsa/AlsaVolumeScale.h"

#include <gtest/gtest.h>

#include "support/AudioSandbox.h"
#include "support/OpenedMixer.h"

namespace hushwell::testing {
namespace {

using Volumes = std::vector<long>;

// ALSA's default device is the private PulseAudio server, through the ALSA PulseAudio plugin.
class AlsaMixerTest : public OpenedMixer {
protected:
    AlsaMixerTest() : OpenedMixer(alsaMasterVolume()) {}
};

TEST_F(AlsaMixerTest, PresentsItsOwnScale) {
    EXPECT_EQ(scale, kAlsaScale);
}

// The plugin's Master runs from 0 to 65536, without dB information: linear steps.
TEST_F(AlsaMixerTest, MapsTheScaleOntoEveryChannel) {
    const struct {
        std::int32_t value;
        long sink;
    } cases[] = {{0, 0}, {2000, 13107}, {6500, 42598}, {kAlsaScale, 65536}};
    for (const auto& c : cases) {
        EXPECT_TRUE(mixer->set(c.value)) << c.value;
        EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, c.sink)) << c.value;
    }
    EXPECT_FALSE(mixer->set(kAlsaScale + 1));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 65536));
}

TEST(AlsaMixerSet, RefusesAVolumeThatWasNeverLocated) {
    AudioSandbox::instance();
    const auto mixer = alsaMasterVolume();
    ASSERT_TRUE(mixer->open());
    EXPECT_FALSE(mixer->set(100));
}

TEST_F(AlsaMixerTest, OpensTheDeviceAgainAfterItWentAway) {
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    EXPECT_FALSE(mixer->set(3000));
    sandbox.start();
    EXPECT_TRUE(mixer->set(3000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 19661));
}

TEST(AlsaMixerOpen, FailsForADeviceThatDoesNotExist) {
    const auto mixer = alsaMasterVolume("hw:97");
    EXPECT_FALSE(mixer->open());
    EXPECT_FALSE(mixer->locate().has_value());
    EXPECT_FALSE(mixer->set(100));
}

}  // namespace
}  // namespace hushwell::testing
