#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mixer/MasterVolume.h"

namespace hushwell {

// The one record of the volume and every rule about it, on one thread and without locks (the
// owner's thread shell, VolumeOwner, feeds it): the Up value, the value wanted now, the value that
// landed and on which output, the target held, and the programs owed their Up value.
//  - the value wanted is sent again when the sound server comes back, and when the system's
//    output changes while the volume is held away from the Up value, so the held level follows
//    the output;
//  - an output left behind while held gets the Up value; the chosen program's streams on it keep
//    the value wanted (a player pinned to that output is still in the break) until the Up value
//    goes out, and where none of them is listed then (the player moved with the output), the
//    program is owed Up on that output, paid at its next stream start or output change once the
//    volume is no longer held (Windows keeps a program's volume per output for its next session);
//  - with a program chosen (lowerOnly()), the value wanted goes to that program's streams instead
//    of the output, and again to them when a stream starts while it stands away from Up, so that
//    a stream started during a break goes down too; a target given up while held gets Up back,
//    and a program among them that plays nothing then is owed it until a stream of it starts;
//  - while the provider has no volume per program (Windows' sessions refused while the audio
//    service is busy at log-in, or on an output switched to), a chosen program's value goes to the
//    whole output instead, and the provider is asked again at each of its news (the endpoint
//    provider tells StreamStarted when the sessions come); once it has one, the program is lowered
//    and the output gets Up back.
class VolumeRules {
public:
    // What the guard learns: the Up value in the scale's units, the scale, whether the volume
    // may stand away from the Up value (from just before another value is sent until the Up
    // value has landed), and what is held: the program whose streams (empty: the output).
    // A program that had no stream when its value landed has nothing away from Up: not held.
    // `owed`: programs held before the target changed whose Up value found no stream; the server
    // keeps their Down level for their next stream, so they are owed Up until one of them took it.
    // `owedOn`: a program's Up value owed on one output it left, where its volume stays at what
    // it was given.
    struct OwedOn {
        std::string program;
        std::string output;
        bool operator==(const OwedOn&) const = default;
    };
    struct Record {
        std::int32_t upValue = 0;
        std::int32_t scale = 0;
        bool held = false;
        std::string program;
        std::vector<std::string> owed;
        std::vector<OwedOn> owedOn = {};
        bool operator==(const Record&) const = default;
    };
    // The Up value of an earlier run that ended held, `value` of a scale running to `scale`, for
    // the streams of `held` (the output when empty, nothing when none), and the programs owed it.
    struct EarlierRun {
        std::int32_t value = 0;
        std::int32_t scale = 0;
        std::optional<std::string> held;
        std::vector<std::string> owed;
        // A record of a version that kept one for every server, which names none: put back only
        // on a volume of its own scale (and, where it held the output, one that stands below its
        // Up value), another server's being left alone. `taken`, when given, is called once it
        // is put back here.
        bool onlyOnItsScale = false;
        std::function<void()> taken = {};
        std::vector<OwedOn> owedOn = {};
    };
    // The record, where the guard must know it before the provider is called next (the volume
    // is about to stand away from Up).
    using Tell = std::function<void(const Record&)>;
    // Whether a value landed (Taken) or not (Refused).
    using Report = std::function<void(VolumeEvent::Kind, std::int32_t)>;

    VolumeRules(MasterVolume& provider, Tell tell, Report report)
        : m_provider(provider), m_tell(std::move(tell)), m_report(std::move(report)) {}

    bool open();
    // Locates the scale; the earlier run's Up value, when given, is the first thing sent.
    std::optional<std::int32_t> locate();
    void putBackFirst(EarlierRun earlier) { m_earlierRun = std::move(earlier); }
    std::vector<std::string> playingPrograms();
    void setUpValue(std::int32_t value);
    void want(std::int32_t value);
    void lowerOnly(std::string program);
    // What the provider reported: what is to be sent again.
    void providerReported(VolumeEvent::Kind kind);
    // Sends the value wanted, else the owed Up value; false when neither is due.
    bool sendDue();

    [[nodiscard]] const Record& record() const { return m_record; }
    [[nodiscard]] bool hasProgramVolume() const { return m_programVolume; }

private:
    // The rule: the volume is held from just before a value other than Up goes out until the Up
    // value has landed. A value that was refused may still land (a server that answered late),
    // so only a value that landed ends it.
    [[nodiscard]] bool held() const {
        return m_awayInFlight || (m_landed && *m_landed != m_record.upValue);
    }
    void updateHeld() { m_record.held = held(); }
    // The program chosen, where the provider can lower one; else the whole output (a choice
    // kept in the options while the system in use has no volume per program).
    [[nodiscard]] std::string effectiveTarget() const {
        return m_programVolume ? m_target : std::string();
    }
    [[nodiscard]] bool earlierRunWasHere(std::int32_t scale);
    void becomeTarget(std::string program);
    bool switchTarget();
    void sentToProgram(const std::string& program, std::int32_t value,
                       const MasterVolume::ProgramTaken& reached,
                       const std::optional<std::string>& leftBehind);
    // The chosen program's streams on the outputs left behind while it was held get `up`; where
    // none is listed (or the output is gone) the program is owed Up there.
    void releaseLeftBehind(const std::string& program, std::int32_t up,
                           const std::optional<std::string>& current);
    void leaveBehind(const std::optional<std::string>& output);
    void oweOn(const std::string& program, const std::string& output);
    void sendOwedUp();
    void sendOwedOn();
    void sendWanted();

    MasterVolume& m_provider;
    const Tell m_tell;
    const Report m_report;
    Record m_record;
    std::optional<std::int32_t> m_wanted;
    std::optional<std::int32_t> m_landed;
    std::optional<std::string> m_landedOn;
    std::optional<EarlierRun> m_earlierRun;
    std::string m_target;          // what the value wanted goes to: a program, or "" the output
    bool m_programVolume = false;  // the provider has a volume per program
    bool m_wantedUnsent = false;
    bool m_owedToTry = false;    // the Up value is to be tried on the programs owed it
    bool m_owedOnToTry = false;  // the record's owedOn pairs are to be tried
    // Outputs other than m_landedOn where the held program's streams took the value wanted and
    // still keep it (a player pinned to an output the user switched away from).
    std::vector<std::string> m_leftBehind;
    bool m_awayInFlight = false;  // a value other than Up went out and nothing has landed since
};

}  // namespace hushwell
