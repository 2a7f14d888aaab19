#include "mixer/PulseMixer.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/AudioSandbox.h"
#include "support/OpenedMixer.h"

namespace hushwell::testing {
namespace {

using Volumes = std::vector<long>;

class PulseMixerTest : public OpenedMixer {
protected:
    PulseMixerTest() : OpenedMixer(pulseMasterVolume()) {}
};

TEST_F(PulseMixerTest, TheDefaultSinksNormalVolumeIsTheScale) {
    EXPECT_EQ(scale, 65536);
}

TEST_F(PulseMixerTest, AppliesOneValueToEveryChannel) {
    for (std::int32_t value : {0, 13100, 65500, 65536, 100000}) {
        EXPECT_TRUE(mixer->set(value)) << value;
        EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, value)) << value;
    }
}

TEST_F(PulseMixerTest, RefusesWhatTheServerCannotHold) {
    ASSERT_TRUE(mixer->set(13100));
    EXPECT_FALSE(mixer->set(-1));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 13100));
    const auto unlocated = pulseMasterVolume();
    ASSERT_TRUE(unlocated->open());
    EXPECT_FALSE(unlocated->set(20000)) << "no volume was located";
}

TEST_F(PulseMixerTest, FollowsTheDefaultSinkTheUserChooses) {
    const std::string module =
        run("pactl load-module module-null-sink sink_name=headphones channels=4 "
            "channel_map=front-left,front-right,rear-left,rear-right");
    ASSERT_TRUE(mixer->set(10000));
    run("pactl set-default-sink headphones");
    EXPECT_TRUE(mixer->set(30000));
    EXPECT_EQ(sinkVolumes("headphones"), Volumes(4, 30000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 10000));
    run("pactl set-default-sink speakers");
    run("pactl unload-module " + module);
}

TEST_F(PulseMixerTest, SurvivesTheServerGoingAwayAndComingBack) {
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    EXPECT_FALSE(mixer->set(20000));
    EXPECT_FALSE(mixer->set(20000));  // connecting again fails too
    sandbox.start();
    EXPECT_TRUE(mixer->set(20000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 20000));
}

TEST(PulseMixerOpen, FailsWithoutAServer) {
    AudioSandbox& sandbox = AudioSandbox::instance();
    const std::string server = sandbox.server();
    setenv("PULSE_SERVER", (server + "-nowhere").c_str(), 1);
    const auto mixer = pulseMasterVolume();
    const bool opened = mixer->open();
    const bool located = mixer->locate().has_value();
    setenv("PULSE_SERVER", server.c_str(), 1);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(located);
    EXPECT_FALSE(mixer->set(20000));
}

}  // namespace
}  // namespace hushwell::testing
