#include "mixer/WinmmMixer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

namespace hushwell {
namespace {

constexpr std::uint32_t kComponentTypeDstTelephone = 6;  // MIXERLINE_COMPONENTTYPE_DST_TELEPHONE
constexpr std::uint32_t kControlTypeBass = 0x50030002;   // MIXERCONTROL_CONTROLTYPE_BASS

// The control's value as the mixer reports it, per channel.
std::vector<DWORD> readBack(MixerHandle handle, const VolumeControl& control, DWORD channels) {
    std::vector<MIXERCONTROLDETAILS_UNSIGNED> values(channels);
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = control.dwControlID;
    details.cChannels = channels;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    details.paDetails = values.data();
    const MMRESULT result =
        mixerGetControlDetailsA(reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(handle)),
                                &details, MIXER_GETCONTROLDETAILSF_VALUE);
    EXPECT_EQ(result, MMSYSERR_NOERROR);
    std::vector<DWORD> out;
    for (const auto& value : values) {
        out.push_back(value.dwValue);
    }
    return out;
}

DWORD speakerChannels(MixerHandle handle) {
    MIXERLINEA line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    EXPECT_EQ(mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(handle)), &line,
                                MIXER_GETLINEINFOF_COMPONENTTYPE),
              MMSYSERR_NOERROR);
    return line.cChannels;
}

class WinmmMixerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(mixer.open(handle), 0); }
    WinmmMixer mixer;
    MixerHandle handle = 0;
    VolumeControl control;
};

TEST_F(WinmmMixerTest, LocatesTheSpeakersVolume) {
    ASSERT_TRUE(
        mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers, kControlTypeVolume, control));
    EXPECT_GT(control.lMaximum, 0);
    MIXERCONTROLA published{};
    std::memcpy(&published, mixer.controlRecord().data(), sizeof published);
    EXPECT_EQ(published.cbStruct, sizeof(MIXERCONTROLA));
    EXPECT_EQ(published.dwControlType, kControlTypeVolume);
    EXPECT_EQ(published.dwControlID, control.dwControlID);
    EXPECT_EQ(published.Bounds.lMaximum, control.lMaximum);
}

TEST_F(WinmmMixerTest, AppliesOneValueToEveryChannelAndReadsItBack) {
    ASSERT_TRUE(
        mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers, kControlTypeVolume, control));
    // A uniform control holds one value for all its channels; otherwise every channel reports.
    MIXERCONTROLA published{};
    std::memcpy(&published, mixer.controlRecord().data(), sizeof published);
    const DWORD channels =
        (published.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0 ? 1 : speakerChannels(handle);
    ASSERT_GT(channels, 0u);
    const std::int32_t units = (control.lMaximum + 50) / 100;
    for (std::int32_t level : {0, 20, 100}) {
        EXPECT_TRUE(mixer.applyVolume(handle, control, level * units)) << level;
        EXPECT_EQ(readBack(handle, control, channels),
                  std::vector<DWORD>(channels, static_cast<DWORD>(level * units)))
            << level;
    }
}

TEST_F(WinmmMixerTest, AMissingLineOrControlLeavesTheRecordZero) {
    EXPECT_FALSE(
        mixer.locateVolumeControl(handle, kComponentTypeDstTelephone, kControlTypeVolume, control));
    EXPECT_FALSE(
        mixer.locateVolumeControl(handle, kComponentTypeDstSpeakers, kControlTypeBass, control));
    EXPECT_EQ(control.dwControlID, 0u);
    EXPECT_EQ(control.lMaximum, 0);
    for (std::byte b : mixer.controlRecord()) {
        EXPECT_EQ(b, std::byte{0});
    }
}

}  // namespace
}  // namespace hushwell
