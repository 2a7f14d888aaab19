#include "mixer/MixerChoice.h"

#include <gtest/gtest.h>

#include "mixer/MemoryMixer.h"

namespace hushwell {
namespace {

// A provider whose mixer opens with `result`; `made` counts how often it was built.
MixerProvider provider(const char* name, std::int32_t result, int& made) {
    return {name, [result, &made] {
                ++made;
                auto mixer = std::make_unique<MemoryMixer>();
                mixer->openResult = result;
                mixer->control.dwControlID = static_cast<std::uint32_t>(made);
                return mixer;
            }};
}

TEST(FirstThatOpens, TakesTheFirstProviderThatOpens) {
    int madeA = 0, madeB = 0, madeC = 0;
    FirstThatOpens mixer(
        {provider("a", 5, madeA), provider("b", 0, madeB), provider("c", 0, madeC)});
    MixerHandle handle = 0;
    EXPECT_EQ(mixer.open(handle), 0);
    EXPECT_EQ(mixer.chosen(), "b");
    EXPECT_EQ(madeC, 0);
    VolumeControl control;
    EXPECT_TRUE(
        mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers, kControlTypeVolume, control));
    EXPECT_TRUE(mixer.applyVolume(handle, control, 100));
}

TEST(FirstThatOpens, WithNoneOpenEveryCallFails) {
    int made = 0;
    FirstThatOpens mixer({provider("a", 5, made), provider("b", 7, made)});
    MixerHandle handle = 0;
    EXPECT_EQ(mixer.open(handle), 7);
    EXPECT_TRUE(mixer.chosen().empty());
    VolumeControl control;
    EXPECT_FALSE(
        mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers, kControlTypeVolume, control));
    EXPECT_FALSE(mixer.applyVolume(handle, control, 100));
    FirstThatOpens empty({});
    EXPECT_NE(empty.open(handle), 0);
}

}  // namespace
}  // namespace hushwell
