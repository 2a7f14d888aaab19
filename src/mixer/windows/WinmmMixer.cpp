// This file includes no local header but its own: the Windows audio headers stay out of the rest
// of the program.
#include "mixer/windows/WinmmMixer.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <cstring>

namespace hushwell {
namespace {

static_assert(sizeof(MIXERCONTROLA) + 4 == WinmmMixer::kControlRecordSize);
static_assert(WinmmMixer::kSpeakers == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
static_assert(WinmmMixer::kVolume == MIXERCONTROL_CONTROLTYPE_VOLUME);

// Every call names the mixer by the handle that open returned, with the object-type bits of the
// flags left 0.
constexpr DWORD kLineByComponentType = MIXER_GETLINEINFOF_COMPONENTTYPE;
constexpr DWORD kControlsOneByType = MIXER_GETLINECONTROLSF_ONEBYTYPE;
constexpr DWORD kSetValue = MIXER_SETCONTROLDETAILSF_VALUE;

// A zero-filled global memory block handed to the mixer, freed on every path.
class TransferBlock {
public:
    explicit TransferBlock(SIZE_T size)
        : m_block(GlobalAlloc(GMEM_ZEROINIT, size)),
          m_data(m_block != nullptr ? GlobalLock(m_block) : nullptr) {}
    ~TransferBlock() {
        if (m_block != nullptr) {
            GlobalFree(m_block);
        }
    }
    TransferBlock(const TransferBlock&) = delete;
    TransferBlock& operator=(const TransferBlock&) = delete;

    [[nodiscard]] void* data() const { return m_data; }

private:
    HGLOBAL m_block;
    void* m_data;
};

MIXERCONTROLA published(const WinmmMixer::ControlRecord& record) {
    MIXERCONTROLA control{};
    std::memcpy(&control, record.data(), sizeof control);
    return control;
}

}  // namespace

WinmmMixer::WinmmMixer(std::uint32_t componentType, std::uint32_t controlType)
    : m_componentType(componentType), m_controlType(controlType) {}

WinmmMixer::~WinmmMixer() {
    if (m_mixer != nullptr) {
        mixerClose(static_cast<HMIXER>(m_mixer));
    }
}

bool WinmmMixer::open() {
    HMIXER mixer = nullptr;
    if (mixerOpen(&mixer, 0, 0, 0, 0) != MMSYSERR_NOERROR) {
        return false;
    }
    if (m_mixer != nullptr) {
        mixerClose(static_cast<HMIXER>(m_mixer));
    }
    m_mixer = mixer;
    m_located = false;
    return true;
}

std::optional<std::int32_t> WinmmMixer::locate() {
    const auto object = static_cast<HMIXEROBJ>(m_mixer);
    MIXERLINEA line{};
    // The platform's own record sizes: those of a 32-bit build are refused by a 64-bit mixer.
    line.cbStruct = sizeof line;
    line.dwComponentType = m_componentType;
    if (mixerGetLineInfoA(object, &line, kLineByComponentType) != MMSYSERR_NOERROR) {
        return std::nullopt;
    }

    MIXERLINECONTROLSA controls{};
    controls.cbStruct = sizeof controls;
    controls.dwLineID = line.dwLineID;
    controls.dwControlType = m_controlType;
    controls.cControls = 1;
    // The block holds the full record, but the mixer is told the published size: a mixer that
    // checks it exactly (Wine's does) refuses any other.
    controls.cbmxctrl = sizeof(MIXERCONTROLA);
    const TransferBlock block(kControlRecordSize);
    if (block.data() == nullptr) {
        return std::nullopt;
    }
    controls.pamxctrl = static_cast<MIXERCONTROLA*>(block.data());
    if (mixerGetLineControlsA(object, &controls, kControlsOneByType) != MMSYSERR_NOERROR) {
        return std::nullopt;
    }
    std::memcpy(m_record.data(), block.data(), kControlRecordSize);
    m_located = true;
    return published(m_record).Bounds.lMaximum;
}

std::optional<std::string> WinmmMixer::set(std::int32_t value) {
    if (!m_located) {
        return std::nullopt;
    }
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = published(m_record).dwControlID;
    details.cMultipleItems = 0;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
    const TransferBlock block(sizeof(MIXERCONTROLDETAILS_UNSIGNED));
    if (block.data() == nullptr) {
        return std::nullopt;
    }
    details.paDetails = block.data();
    details.cChannels = 1;  // one value serves every channel
    // The value goes to the mixer as its 32-bit pattern, unclamped.
    std::memcpy(block.data(), &value, sizeof value);
    if (mixerSetControlDetails(static_cast<HMIXEROBJ>(m_mixer), &details, kSetValue) !=
        MMSYSERR_NOERROR) {
        return std::nullopt;
    }
    return std::string();  // one output
}

}  // namespace hushwell
