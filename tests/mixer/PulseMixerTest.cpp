#include "mixer/pulse/PulseMixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "support/AudioSandbox.h"
#include "support/Fakes.h"
#include "support/OpenedMixer.h"
#include "support/PlayingStream.h"

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

// What the output stands at is read back, its loudest channel where the channels differ.
TEST_F(PulseMixerTest, AppliesOneValueToEveryChannel) {
    for (std::int32_t value : {0, 13100, 65500, 65536, 100000}) {
        EXPECT_TRUE(mixer->set(value)) << value;
        EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, value)) << value;
        EXPECT_EQ(mixer->volumeNow(), value) << value;
    }
    // Another client's change reaches this one a moment later on PipeWire.
    run("pactl set-sink-volume speakers 20000 30000");
    std::optional<std::int32_t> now;
    for (int attempt = 0; attempt < 100 && (now = mixer->volumeNow()) != 30000; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(now, 30000);
}

TEST_F(PulseMixerTest, RefusesWhatTheServerCannotHold) {
    ASSERT_TRUE(mixer->set(13100));
    EXPECT_FALSE(mixer->set(-1));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 13100));
    const auto unlocated = pulseMasterVolume();
    ASSERT_TRUE(unlocated->open());
    EXPECT_FALSE(unlocated->set(20000)) << "no volume was located";
}

// Each set goes to the sink that is the default now and names it; setOn() reaches a sink by that
// name, the default or not.
TEST_F(PulseMixerTest, SetsTheDefaultSinkAndAnyOtherByName) {
    const std::string module =
        run("pactl load-module module-null-sink sink_name=headphones channels=4 "
            "channel_map=front-left,front-right,rear-left,rear-right");
    EXPECT_EQ(mixer->set(10000), "speakers");
    run("pactl set-default-sink headphones");
    ASSERT_EQ(waitForDefaultSink("headphones"), "headphones");
    EXPECT_EQ(mixer->set(30000), "headphones");
    EXPECT_EQ(sinkVolumes("headphones"), Volumes(4, 30000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 10000));
    EXPECT_TRUE(mixer->setOn("speakers", 60000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 60000));
    EXPECT_EQ(sinkVolumes("headphones"), Volumes(4, 30000));
    EXPECT_FALSE(mixer->setOn("nowhere", 60000));
    EXPECT_FALSE(mixer->setOn("speakers", -1));
    run("pactl set-default-sink speakers");
    ASSERT_EQ(waitForDefaultSink("speakers"), "speakers");
    run("pactl unload-module " + module);
    // PipeWire removes the sink a moment after the module.
    for (int attempt = 0;
         attempt < 100 && run("pactl list short sinks").find("headphones") != std::string::npos;
         ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(mixer->setOn("headphones", 60000)) << "gone";
}

// What the provider tells of its own accord, from the connection's thread.
class Events {
public:
    void add(const VolumeEvent& event) {
        const std::lock_guard lock(m_mutex);
        m_kinds.push_back(event.kind);
        m_changed.notify_all();
    }
    // PipeWire's session manager makes a new default sink the default in its own time, which on
    // a loaded machine has taken over five seconds.
    bool waitFor(VolumeEvent::Kind kind) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(15), [&] {
            return std::find(m_kinds.begin(), m_kinds.end(), kind) != m_kinds.end();
        });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<VolumeEvent::Kind> m_kinds;
};

TEST_F(PulseMixerTest, TellsOfAChangeOfOutputAndOfTheServersReturn) {
    Events events;
    mixer->watch([&events](const VolumeEvent& event) { events.add(event); });
    const std::string module = run("pactl load-module module-null-sink sink_name=headphones");
    run("pactl set-default-sink headphones");
    EXPECT_TRUE(events.waitFor(VolumeEvent::Kind::OutputChanged));
    run("pactl set-default-sink speakers");
    run("pactl unload-module " + module);

    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    sandbox.start();
    EXPECT_TRUE(events.waitFor(VolumeEvent::Kind::ServerBack));
    mixer->watch({});
}

// A volume per program: each stream by its program's binary; the chosen program's streams take
// the value, and nothing else does.
TEST_F(PulseMixerTest, SetsTheStreamsOfTheChosenProgramOnly) {
    TempDir dir;
    run("pactl set-sink-volume speakers 30000");
    const PlayingStream radio(dir.path(), "radio");
    const PlayingStream radioAgain(dir.path(), "radio");
    const PlayingStream caller(dir.path(), "caller");
    const Volumes callerBefore = caller.volumes();
    EXPECT_TRUE(mixer->hasProgramVolume());
    EXPECT_EQ(mixer->playingPrograms(), (std::vector<std::string>{"caller", "radio"}));
    const struct {
        const char* program;
        std::int32_t value;
        std::optional<int> streams;
    } cases[] = {
        {"radio", 13100, 2},
        {"nobody", 13100, 0},
        {"radio", -1, std::nullopt},
        {"", 13100, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mixer->setProgram(c.program, c.value), c.streams) << c.program << " " << c.value;
    }
    EXPECT_EQ(radio.volumes(), Volumes(2, 13100));
    EXPECT_EQ(radioAgain.volumes(), Volumes(2, 13100));
    EXPECT_EQ(caller.volumes(), callerBefore);
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 30000));
}

TEST_F(PulseMixerTest, TellsOfAStreamThatStarts) {
    TempDir dir;
    Events events;
    mixer->watch([&events](const VolumeEvent& event) { events.add(event); });
    // The subscription is asked for, not awaited, before open() returns, so a stream that starts
    // before the server has it goes untold: streams start until one is told.
    bool told = false;
    for (int attempt = 0; attempt < 4 && !told; ++attempt) {
        const PlayingStream radio(dir.path(), "radio");
        told = events.waitFor(VolumeEvent::Kind::StreamStarted);
    }
    EXPECT_TRUE(told);
    mixer->watch({});
}

// The first call after the server came back goes to the new server, not into the old connection.
TEST_F(PulseMixerTest, TheFirstCallAfterARestartLands) {
    ASSERT_TRUE(mixer->set(13100));
    AudioSandbox& sandbox = AudioSandbox::instance();
    sandbox.stop();
    sandbox.start();
    ASSERT_EQ(waitForDefaultSink("speakers"), "speakers");
    EXPECT_TRUE(mixer->set(20000));
    EXPECT_EQ(sinkVolumes("speakers"), Volumes(2, 20000));
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

// A server that has just started may not have chosen its default sink yet (PipeWire's session
// manager does so a little after the server answers): locating the volume waits for it a while.
TEST(PulseMixerLocate, WaitsBrieflyForADefaultSink) {
    AudioSandbox::instance();
    std::string modules = run("pactl list short modules");
    const std::size_t at = modules.find("module-null-sink");
    ASSERT_NE(at, std::string::npos);
    const std::string speakers = modules.substr(
        modules.rfind('\n', at) + 1,
        modules.find('\t', modules.rfind('\n', at) + 1) - modules.rfind('\n', at) - 1);
    run("pactl unload-module " + speakers);
    const auto mixer = pulseMasterVolume();
    ASSERT_TRUE(mixer->open());
    // The only sink becomes the default as it comes, as the server's first one does.
    std::thread later([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        run("pactl load-module module-null-sink sink_name=speakers "
            "sink_properties=device.description=Speakers");
    });
    const std::optional<std::int32_t> scale = mixer->locate();
    later.join();
    EXPECT_EQ(scale, 65536);
    run("pactl set-default-sink speakers");
    ASSERT_EQ(waitForDefaultSink("speakers"), "speakers");
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
