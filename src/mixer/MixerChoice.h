#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mixer/MasterVolume.h"

namespace hushwell {

struct MixerProvider {
    const char* name;
    std::function<std::unique_ptr<MasterVolume>()> make;
    // Why a volume it made did not open, for the log; none when the provider cannot tell.
    std::function<std::string(const MasterVolume&)> whyNotOpened = {};
    // Whether its server is expected to come though it does not answer yet (a sound server that
    // the desktop starts after Hushwell); none: never.
    std::function<bool()> expected = {};
};

// The providers this build has for its platform, in priority order.
[[nodiscard]] std::vector<MixerProvider> platformProviders();

// The master volume of the first provider that opens; with none open, locate and set fail. Each
// call, with its value and result, is told to `report` ("open: PulseAudio", "apply 13100:
// applied", "apply 65500 on speakers: refused", "apply 13107 to firefox: 2 streams", "apply 65500
// to firefox on speakers: 1 stream"), when one is given, and so is each provider tried before
// ("open: tried endpoint volume: SetMasterVolumeLevelScalar: HRESULT 0x80004001").
//
// While `patient` holds, a provider that does not open but whose server is expected ends the
// search ("open: waiting for PulseAudio"): a lesser provider, taken now, would be kept for the
// whole run. Once it opened, a later open() keeps the provider it has.
class ChosenProvider final : public MasterVolume {
public:
    using Report = std::function<void(const std::string&)>;
    using Patience = std::function<bool()>;

    explicit ChosenProvider(std::vector<MixerProvider> providers, Report report = {},
                            Patience patient = {});

    // Name of the provider in use, empty before one opened.
    [[nodiscard]] const std::string& chosen() const { return m_chosen; }
    // Its place in the table, -1 before one opened.
    [[nodiscard]] int chosenIndex() const { return m_chosenIndex; }

    bool open() override;
    std::optional<std::int32_t> locate() override;
    std::optional<std::string> set(std::int32_t value) override;
    bool setOn(const std::string& output, std::int32_t value) override;
    std::optional<std::int32_t> volumeNow() override;
    bool hasProgramVolume() const override;
    std::vector<std::string> playingPrograms() override;
    std::optional<int> setProgram(const std::string& program, std::int32_t value) override;
    std::optional<ProgramTaken> setProgramWhere(const std::string& program,
                                                std::int32_t value) override;
    std::optional<int> setProgramOn(const std::string& output, const std::string& program,
                                    std::int32_t value) override;
    void watch(const EventHandler& handler) override;

private:
    void tell(const std::string& what) const;
    void tellProgram(std::int32_t value, const std::string& program, const std::string& output,
                     const std::optional<int>& streams) const;

    std::vector<MixerProvider> m_providers;
    Report m_report;
    Patience m_patient;
    bool m_waitTold = false;  // the wait was logged: the tries of each second are not
    std::unique_ptr<MasterVolume> m_volume;
    EventHandler m_handler;
    std::string m_chosen;
    int m_chosenIndex = -1;
};

}  // namespace hushwell
