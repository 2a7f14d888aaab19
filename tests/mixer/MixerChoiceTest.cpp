#include "mixer/MixerChoice.h"

#include <gtest/gtest.h>

#include "support/FakeVolume.h"

namespace hushwell::testing {
namespace {

// A provider whose volume opens or not, with the scale `scale`; `made` counts how often it was
// built.
MixerProvider provider(const char* name, bool opens, std::int32_t scale, int& made) {
    return {name, [opens, scale, &made] {
                ++made;
                auto volume = std::make_unique<FakeProvider>();
                volume->opens = opens;
                volume->scale = scale;
                return volume;
            }};
}

TEST(ChosenProvider, TakesTheFirstProviderThatOpens) {
    int madeA = 0, madeB = 0, madeC = 0;
    ChosenProvider volume({provider("a", false, 100, madeA), provider("b", true, 200, madeB),
                           provider("c", true, 300, madeC)});
    EXPECT_TRUE(volume.open());
    EXPECT_EQ(volume.chosen(), "b");
    EXPECT_EQ(madeC, 0);
    EXPECT_EQ(volume.locate(), 200);
    EXPECT_EQ(volume.set(100), "speakers");
}

TEST(ChosenProvider, WithNoneOpenEveryCallFails) {
    int made = 0;
    ChosenProvider volume({provider("a", false, 100, made), provider("b", false, 200, made)});
    EXPECT_FALSE(volume.open());
    EXPECT_EQ(made, 2);
    EXPECT_TRUE(volume.chosen().empty());
    EXPECT_FALSE(volume.locate().has_value());
    EXPECT_FALSE(volume.set(100).has_value());
    ChosenProvider empty({});
    EXPECT_FALSE(empty.open());
}

TEST(ChosenProvider, TellsEachProviderTriedAndWhyItDidNotOpen) {
    int made = 0;
    MixerProvider explains = provider("endpoint", false, 100, made);
    explains.whyNotOpened = [](const MasterVolume&) { return std::string("Set: HRESULT 0x1"); };
    std::vector<std::string> log;
    ChosenProvider volume(
        {explains, provider("silent", false, 100, made), provider("winmm", true, 65535, made)},
        [&log](const std::string& line) { log.push_back(line); });
    ASSERT_TRUE(volume.open());
    EXPECT_EQ(log, (std::vector<std::string>{"open: tried endpoint: Set: HRESULT 0x1",
                                             "open: tried silent", "open: winmm"}));
}

// A start with the desktop: while patient, a server expected but not there yet is waited for
// (told once) rather than a lesser provider taken for the whole run; patience over, the lesser
// one is taken, and kept.
TEST(ChosenProvider, WhilePatientAnExpectedServerIsWaitedForNotPassedOver) {
    int made = 0;
    bool patient = true;
    MixerProvider server = provider("PulseAudio", false, 65536, made);
    server.expected = [] { return true; };
    std::vector<std::string> log;
    ChosenProvider volume(
        {server, provider("ALSA", true, 65535, made)},
        [&log](const std::string& line) { log.push_back(line); }, [&] { return patient; });
    EXPECT_FALSE(volume.open());
    EXPECT_FALSE(volume.open());
    EXPECT_EQ(log,
              (std::vector<std::string>{"open: tried PulseAudio", "open: waiting for PulseAudio"}));
    patient = false;
    ASSERT_TRUE(volume.open());
    EXPECT_TRUE(volume.open());
    EXPECT_EQ(volume.chosen(), "ALSA");
    EXPECT_EQ(made, 4) << "three servers and one ALSA";
}

// The volume per program goes to the provider that opened, and each setting is told with the
// number of streams that took it.
TEST(ChosenProvider, ForwardsTheVolumePerProgram) {
    std::vector<std::string> log;
    ChosenProvider volume({{"streams",
                            [] {
                                auto made = std::make_unique<FakeProvider>();
                                made->programVolume = true;
                                made->streams = {{"firefox", 2}, {"mpv", 1}};
                                return made;
                            }}},
                          [&log](const std::string& line) { log.push_back(line); });
    EXPECT_FALSE(volume.hasProgramVolume()) << "none opened yet";
    EXPECT_TRUE(volume.playingPrograms().empty());
    EXPECT_FALSE(volume.setProgram("firefox", 13107).has_value());
    ASSERT_TRUE(volume.open());
    EXPECT_TRUE(volume.hasProgramVolume());
    EXPECT_EQ(volume.playingPrograms(), (std::vector<std::string>{"firefox", "mpv"}));
    EXPECT_EQ(volume.setProgram("firefox", 13107), 2);
    EXPECT_EQ(volume.setProgram("mpv", 13107), 1);
    EXPECT_EQ(volume.setProgram("vlc", 13107), 0);
    EXPECT_EQ(volume.setProgramWhere("mpv", 65500), (MasterVolume::ProgramTaken{1, ""}));
    EXPECT_EQ(volume.setProgramOn("speakers", "mpv", 65500), std::nullopt);
    EXPECT_EQ(log, (std::vector<std::string>{
                       "apply 13107 to firefox: refused", "open: streams",
                       "apply 13107 to firefox: 2 streams", "apply 13107 to mpv: 1 stream",
                       "apply 13107 to vlc: 0 streams", "apply 65500 to mpv: 1 stream",
                       "apply 65500 to mpv on speakers: refused"}));
}

// What the crash guard does when its mixer is another than the program's: the same share of full
// volume in its own scale.
TEST(Rescaled, KeepsTheShareOfFullVolume) {
    const struct {
        std::int32_t value;
        std::int32_t from;
        std::int32_t to;
        std::int32_t expected;
    } cases[] = {{65500, 65536, 10000, 9995}, {10000, 10000, 65536, 65536},
                 {2000, 10000, 65536, 13107}, {13100, 65535, 65535, 13100},
                 {0, 65536, 10000, 0},        {500, 0, 10000, 500}};
    for (const auto& c : cases) {
        EXPECT_EQ(rescaled(c.value, c.from, c.to), c.expected) << c.value << " of " << c.from;
    }
}

}  // namespace
}  // namespace hushwell::testing
