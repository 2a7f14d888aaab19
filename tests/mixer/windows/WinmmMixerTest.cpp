#include "mixer/windows/WinmmMixer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

namespace hushwell {
namespace {

MIXERCONTROLA published(const WinmmMixer& mixer) {
    MIXERCONTROLA control{};
    std::memcpy(&control, mixer.controlRecord().data(), sizeof control);
    return control;
}

// The control's value as the mixer reports it, per channel.
std::vector<DWORD> readBack(const WinmmMixer& mixer, DWORD channels) {
    std::vector<MIXERCONTROLDETAILS_UNSIGNED> values(channels);
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = published(mixer).dwControlID;
    details.cChannels = channels;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    details.paDetails = values.data();
    const MMRESULT result = mixerGetControlDetailsA(static_cast<HMIXEROBJ>(mixer.handle()),
                                                    &details, MIXER_GETCONTROLDETAILSF_VALUE);
    EXPECT_EQ(result, MMSYSERR_NOERROR);
    std::vector<DWORD> out;
    for (const auto& value : values) {
        out.push_back(value.dwValue);
    }
    return out;
}

DWORD speakerChannels(const WinmmMixer& mixer) {
    MIXERLINEA line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    EXPECT_EQ(mixerGetLineInfoA(static_cast<HMIXEROBJ>(mixer.handle()), &line,
                                MIXER_GETLINEINFOF_COMPONENTTYPE),
              MMSYSERR_NOERROR);
    return line.cChannels;
}

TEST(WinmmMixer, LocatesTheSpeakersVolumeAndKeepsItsRecord) {
    WinmmMixer mixer;
    ASSERT_TRUE(mixer.open());
    const std::optional<std::int32_t> scale = mixer.locate();
    ASSERT_TRUE(scale.has_value());
    EXPECT_GT(*scale, 0);
    EXPECT_EQ(published(mixer).cbStruct, sizeof(MIXERCONTROLA));
    EXPECT_EQ(published(mixer).dwControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(published(mixer).Bounds.lMaximum, *scale);
}

TEST(WinmmMixer, SetsOneValueForEveryChannelAndReadsItBack) {
    WinmmMixer mixer;
    ASSERT_TRUE(mixer.open());
    const std::optional<std::int32_t> scale = mixer.locate();
    ASSERT_TRUE(scale.has_value());
    // A uniform control holds one value for all its channels; otherwise every channel reports.
    const DWORD channels = (published(mixer).fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0
                               ? 1
                               : speakerChannels(mixer);
    ASSERT_GT(channels, 0u);
    const std::int32_t units = (*scale + 50) / 100;
    for (std::int32_t level : {0, 20, 100}) {
        EXPECT_TRUE(mixer.set(level * units)) << level;
        EXPECT_EQ(readBack(mixer, channels),
                  std::vector<DWORD>(channels, static_cast<DWORD>(level * units)))
            << level;
    }
}

TEST(WinmmMixer, AMissingLineOrControlLeavesTheRecordZero) {
    WinmmMixer telephone(MIXERLINE_COMPONENTTYPE_DST_TELEPHONE);
    WinmmMixer bass(WinmmMixer::kSpeakers, MIXERCONTROL_CONTROLTYPE_BASS);
    for (WinmmMixer* mixer : {&telephone, &bass}) {
        ASSERT_TRUE(mixer->open());
        EXPECT_FALSE(mixer->locate().has_value());
        for (std::byte b : mixer->controlRecord()) {
            EXPECT_EQ(b, std::byte{0});
        }
    }
}

TEST(WinmmMixer, SetsNothingWithoutALocatedControl) {
    WinmmMixer unlocated;
    WinmmMixer telephone(MIXERLINE_COMPONENTTYPE_DST_TELEPHONE);
    ASSERT_TRUE(unlocated.open());
    ASSERT_TRUE(telephone.open());
    ASSERT_FALSE(telephone.locate().has_value());
    // A zero record names control 0, which is some other control of the mixer.
    EXPECT_FALSE(unlocated.set(0));
    EXPECT_FALSE(telephone.set(0));
}

TEST(WinmmMixer, TheHandleIsKeptWhole) {
    static_assert(sizeof(WinmmMixer().handle()) == sizeof(HMIXER));
    WinmmMixer mixer;
    ASSERT_TRUE(mixer.open());
    MIXERCAPSA caps{};
    // A truncated handle would be refused with MMSYSERR_INVALHANDLE.
    EXPECT_EQ(mixerGetDevCapsA(reinterpret_cast<UINT_PTR>(mixer.handle()), &caps, sizeof caps),
              MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace hushwell
