#include "mixer/VolumeRules.h"

#include <algorithm>
#include <utility>

namespace hushwell {

// A value no volume holds: what stands on a program's streams, before one of them took a value.
constexpr std::int32_t kNotKnown = -1;

bool VolumeRules::open() {
    const bool opened = m_provider.open();
    m_programVolume = opened && m_provider.hasProgramVolume();
    return opened;
}

std::optional<std::int32_t> VolumeRules::locate() {
    const std::optional<std::int32_t> scale = m_provider.locate();
    if (scale) {
        m_record.scale = *scale;
        if (m_earlierRun && m_earlierRun->onlyOnItsScale && !earlierRunWasHere(*scale)) {
            m_earlierRun.reset();  // another server's
        }
        if (m_earlierRun && !m_wanted) {
            const std::int32_t value = m_earlierRun->value;
            const std::int32_t from = m_earlierRun->scale;
            const std::optional<std::string>& held = m_earlierRun->held;
            const std::vector<std::string>& owed = m_earlierRun->owed;
            if (const std::function<void()> taken = std::exchange(m_earlierRun->taken, {})) {
                taken();
            }
            m_record.upValue = rescaled(value, from, *scale);
            m_record.owed = owed;
            m_owedToTry = !owed.empty();
            m_record.owedOn = m_earlierRun->owedOn;
            m_owedOnToTry = !m_record.owedOn.empty();
            if (held) {
                m_record.program = *held;
                m_wanted = m_record.upValue;
                m_wantedUnsent = true;
                m_awayInFlight = true;  // the earlier run's level may be on it
                if (!held->empty()) {
                    // What its streams hold is not known: Up is owed until one took it.
                    m_landed = kNotKnown;
                }
            } else {
                becomeTarget(effectiveTarget());
            }
        }
        updateHeld();
    }
    return scale;
}

// A record that names no server was this one's if its scale is this volume's and, where it held
// the output and the provider tells what the output stands at, the output stands below its Up
// value, as the earlier run left it: an output at Up or above was not held down by it.
bool VolumeRules::earlierRunWasHere(std::int32_t scale) {
    if (m_earlierRun->scale != scale) {
        return false;
    }
    if (!m_earlierRun->held || !m_earlierRun->held->empty()) {
        return true;
    }
    const std::optional<std::int32_t> now = m_provider.volumeNow();
    return !now || *now < m_earlierRun->value;
}

std::vector<std::string> VolumeRules::playingPrograms() {
    std::vector<std::string> programs = m_provider.playingPrograms();
    // A provider may gain its volume per program after the open (Windows' sessions).
    m_programVolume = m_provider.hasProgramVolume();
    return programs;
}

void VolumeRules::setUpValue(std::int32_t value) {
    m_record.upValue = value;
    updateHeld();
}

void VolumeRules::want(std::int32_t value) {
    m_wanted = value;
    m_wantedUnsent = true;
}

// The same choice again (the options read once more, or after an earlier run's Up value went
// back) sends nothing: the value wanted stands where it is.
void VolumeRules::lowerOnly(std::string program) {
    if (program == m_target) {
        return;
    }
    m_target = std::move(program);
    m_wantedUnsent = m_wanted.has_value();
}

void VolumeRules::providerReported(VolumeEvent::Kind kind) {
    const bool news = kind != VolumeEvent::Kind::NoOutput;
    if (news && !m_target.empty() && !m_programVolume && m_record.scale > 0) {
        // The volume per program may have come (sessions refused at log-in): asked again at each
        // of the provider's news, the endpoint provider telling one each second until they come.
        m_programVolume = m_provider.hasProgramVolume();
        m_wantedUnsent = m_wantedUnsent || (m_programVolume && m_wanted);
    }
    if ((kind == VolumeEvent::Kind::ServerBack && m_wanted) ||
        (kind == VolumeEvent::Kind::OutputChanged && held()) ||
        (kind == VolumeEvent::Kind::StreamStarted && !m_record.program.empty() && m_wanted &&
         (*m_wanted != m_record.upValue || held()))) {
        m_wantedUnsent = true;
    }
    if (kind != VolumeEvent::Kind::OutputChanged && kind != VolumeEvent::Kind::NoOutput) {
        m_owedToTry = m_owedToTry || !m_record.owed.empty();
    }
    m_owedOnToTry = m_owedOnToTry || (news && !m_record.owedOn.empty());
}

bool VolumeRules::sendDue() {
    if (m_wantedUnsent) {
        sendWanted();
    } else if (m_owedToTry) {
        sendOwedUp();
    } else if (m_owedOnToTry) {
        sendOwedOn();
    } else {
        return false;
    }
    return true;
}

// Makes `program` what is held, from nothing away from Up; a program owed its Up value
// stays owed it, now as the target.
void VolumeRules::becomeTarget(std::string program) {
    m_landed.reset();
    m_landedOn.reset();
    m_leftBehind.clear();
    m_awayInFlight = false;
    if (!program.empty() && std::erase(m_record.owed, program) > 0) {
        m_landed = kNotKnown;
    }
    m_record.program = std::move(program);
    updateHeld();
}

// Makes `target` what is held: what the earlier one holds gets the Up value first, and an
// earlier program with no stream then is owed it. false, the earlier one kept, when that Up
// value was not taken.
bool VolumeRules::switchTarget() {
    if (held()) {
        const std::string earlier = m_record.program;
        const std::int32_t up = m_record.upValue;
        const std::optional<std::string> output = m_landedOn;
        bool restored = false;
        std::optional<int> streams;
        if (!earlier.empty()) {
            leaveBehind(output);
            if (m_programVolume) {
                const auto reached = m_provider.setProgramWhere(earlier, up);
                streams = reached ? std::optional(reached->streams) : std::nullopt;
                if (reached) {
                    releaseLeftBehind(earlier, up, reached->output);
                }
            } else {
                // Its streams cannot be reached now (an earlier run's program on a system with
                // no volume per program, or sessions lost with the output): where its value
                // stands, it is owed Up.
                releaseLeftBehind(earlier, up, std::nullopt);
            }
            restored = !m_programVolume || streams.has_value();
        } else if (output && !output->empty()) {
            restored = m_provider.setOn(*output, up);
        } else {
            restored = m_provider.set(up).has_value();
        }
        if (!restored) {
            return false;
        }
        if (streams == 0) {
            m_record.owed.push_back(earlier);
        }
    }
    becomeTarget(effectiveTarget());
    m_tell(m_record);
    return true;
}

void VolumeRules::releaseLeftBehind(const std::string& program, std::int32_t up,
                                    const std::optional<std::string>& current) {
    std::vector<std::string> outputs = std::move(m_leftBehind);
    m_leftBehind.clear();
    for (const std::string& output : outputs) {
        if (current && output == *current) {
            continue;
        }
        const std::optional<int> streams =
            current ? m_provider.setProgramOn(output, program, up) : std::nullopt;
        if (streams.value_or(0) == 0) {
            oweOn(program, output);
        }
    }
}

void VolumeRules::leaveBehind(const std::optional<std::string>& output) {
    if (output && !output->empty() &&
        std::find(m_leftBehind.begin(), m_leftBehind.end(), *output) == m_leftBehind.end()) {
        m_leftBehind.push_back(*output);
    }
}

void VolumeRules::oweOn(const std::string& program, const std::string& output) {
    const OwedOn owed{program, output};
    if (std::find(m_record.owedOn.begin(), m_record.owedOn.end(), owed) == m_record.owedOn.end()) {
        m_record.owedOn.push_back(owed);
    }
}

// Gives the Up value to each program it is owed to; one that has a stream now took it.
void VolumeRules::sendOwedUp() {
    m_owedToTry = false;
    const std::vector<std::string> programs = m_record.owed;
    const std::int32_t up = m_record.upValue;
    std::vector<std::string> paid;
    for (const std::string& program : programs) {
        const std::optional<int> streams = m_provider.setProgram(program, up);
        if (streams && *streams > 0) {
            paid.push_back(program);
        }
    }
    for (const std::string& program : paid) {
        std::erase(m_record.owed, program);
    }
}

// Gives the Up value to each program owed it on an output, once nothing is held away from Up:
// during a break a player there may be in it still. One listed there now took it.
void VolumeRules::sendOwedOn() {
    m_owedOnToTry = false;
    if (held()) {
        return;  // tried again when Up has landed
    }
    const std::int32_t up = m_record.upValue;
    std::erase_if(m_record.owedOn, [&](const OwedOn& owed) {
        return m_provider.setProgramOn(owed.output, owed.program, up).value_or(0) > 0;
    });
}

// Sends the value wanted to the current target: the program's streams, or the current
// output, the output left behind while held getting the Up value.
void VolumeRules::sendWanted() {
    m_wantedUnsent = false;
    const bool owedOn = !m_record.owedOn.empty();  // before this value: tried once Up has landed
    if (!m_target.empty()) {
        // A provider may gain its volume per program after the open (Windows' sessions, refused
        // while the audio service is busy at log-in), or lose it with an output switched to.
        m_programVolume = m_provider.hasProgramVolume();
    }
    const bool switching = effectiveTarget() != m_record.program;
    if (switching && !switchTarget()) {
        m_report(VolumeEvent::Kind::Refused, *m_wanted);
        return;
    }
    const std::int32_t value = *m_wanted;
    const std::int32_t up = m_record.upValue;
    if (switching && value == up && !held()) {
        // The new target has nothing away from Up: there is nothing to send it.
        m_report(VolumeEvent::Kind::Taken, value);
        return;
    }
    const std::string program = m_record.program;
    const std::optional<std::string> before = m_landedOn;
    const bool wasHeld = held();
    if (value != up) {
        m_awayInFlight = true;
        updateHeld();
        m_tell(m_record);
    }
    // The output that took the value: the whole one, or the one the program's streams play on.
    std::optional<std::string> output;
    std::optional<int> streams;
    const std::optional<std::string> leftBehind = wasHeld ? before : std::nullopt;
    if (program.empty()) {
        output = m_provider.set(value);
        if (output && leftBehind && *leftBehind != *output) {
            (void)m_provider.setOn(*leftBehind, up);
        }
    } else if (const auto reached = m_provider.setProgramWhere(program, value)) {
        output = reached->output;
        streams = reached->streams;
        sentToProgram(program, value, *reached, leftBehind);
    }
    const bool taken = output.has_value();
    if (program.empty() ? taken : streams.value_or(0) > 0) {
        // With no stream of the program, what stands is what stood: a sound server keeps a
        // program's volume for its next stream, so an Up value that found none is still owed.
        m_landed = value;
    }
    if (taken) {
        m_landedOn = output;
        m_awayInFlight = false;  // what landed now is what the target holds
    }
    m_report(taken ? VolumeEvent::Kind::Taken : VolumeEvent::Kind::Refused, value);
    updateHeld();
    m_owedOnToTry = m_owedOnToTry || (owedOn && taken && !held() && !m_record.owedOn.empty());
}

// `value` reached `program`'s streams on `reached.output`. Its streams left behind on other outputs
// keep the value until Up goes out, which they get then (a program's volume stays with an output).
void VolumeRules::sentToProgram(const std::string& program, std::int32_t value,
                                const MasterVolume::ProgramTaken& reached,
                                const std::optional<std::string>& leftBehind) {
    const std::string& output = reached.output;
    std::erase(m_leftBehind, output);
    if (reached.streams > 0) {
        std::erase(m_record.owedOn,
                   OwedOn{program, output});  // what its streams took there now stands
    }
    if (leftBehind != output) {
        leaveBehind(leftBehind);
    }
    if (value == m_record.upValue) {
        releaseLeftBehind(program, value, output);
    }
}

}  // namespace hushwell
