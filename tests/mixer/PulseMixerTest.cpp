#include "mixer/PulseMixer.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/AudioSandbox.h"
#include "support/OpenedMixer.h"

namespace hushwell::testing {
namespace {

using Volumes = std::vector<long>;

using PulseMixerTest = OpenedMixer<PulseMixer>;

TEST_F(PulseMixerTest, TheDefaultSinkIsTheSpeakersVolume) {
    EXPECT_EQ(control.lMaximum, 65536);
    EXPECT_EQ(control.lMinimum, 0);
    EXPECT_NE(control.dwControlID, 0u);
    VolumeControl other;
    EXPECT_FALSE(mixer.locateVolumeControl(handle, 5, kControlTypeVolume, other));
}

TEST_F(PulseMixerTest, AppliesOneValueToEveryChannel) {
    for (std::int32_t value : {0, 13100, 65500, 65536, 100000}) {
        EXPECT_TRUE(mixer.applyVolume(handle, control, value)) << value;
        EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, value)) << value;
    }
}

TEST_F(PulseMixerTest, RefusesWhatTheServerCannotHold) {
    ASSERT_TRUE(mixer.applyVolume(handle, control, 13100));
    EXPECT_FALSE(mixer.applyVolume(handle, control, -1));
    EXPECT_FALSE(mixer.applyVolume(handle, VolumeControl{}, 20000));
    EXPECT_FALSE(mixer.applyVolume(0, control, 20000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 13100));
}

TEST_F(PulseMixerTest, FollowsTheDefaultSinkTheUserChooses) {
    const std::string module =
        run("pactl load-module module-null-sink sink_name=headphones channels=4 "
            "channel_map=front-left,front-right,rear-left,rear-right");
    ASSERT_TRUE(mixer.applyVolume(handle, control, 10000));
    run("pactl set-default-sink headphones");
    EXPECT_TRUE(mixer.applyVolume(handle, control, 30000));
    EXPECT_EQ(sinkVolumes("headphones"), Volumes(4, 30000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 10000));
    run("pactl set-default-sink speakers");
    run("pactl unload-module " + module);
}

TEST_F(PulseMixerTest, SurvivesTheServerGoingAwayAndComingBack) {
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    EXPECT_FALSE(mixer.applyVolume(handle, control, 20000));
    EXPECT_FALSE(mixer.applyVolume(handle, control, 20000));  // connecting again fails too
    sandbox.start();
    EXPECT_TRUE(mixer.applyVolume(handle, control, 20000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 20000));
}

TEST(PulseMixerOpen, FailsWithoutAServer) {
    AudioSandbox& sandbox = AudioSandbox::instance();
    const std::string server = sandbox.server();
    setenv("PULSE_SERVER", (server + "-nowhere").c_str(), 1);
    PulseMixer mixer;
    MixerHandle handle = 0;
    const std::int32_t result = mixer.open(handle);
    setenv("PULSE_SERVER", server.c_str(), 1);
    EXPECT_NE(result, 0);
    VolumeControl control;
    EXPECT_FALSE(
        mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers, kControlTypeVolume, control));
}

}  // namespace
}  // namespace hushwell::testing
