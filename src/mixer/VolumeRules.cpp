#include "mixer/VolumeRules.h"

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
        if (m_earlierRun && !m_wanted) {
            const auto& [value, from, held, owed] = *m_earlierRun;
            m_record.upValue = rescaled(value, from, *scale);
            m_record.owed = owed;
            m_owedToTry = !owed.empty();
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

void VolumeRules::lowerOnly(std::string program) {
    m_target = std::move(program);
    m_wantedUnsent = m_wanted.has_value();
}

void VolumeRules::providerReported(VolumeEvent::Kind kind) {
    if ((kind == VolumeEvent::Kind::ServerBack && m_wanted) ||
        (kind == VolumeEvent::Kind::OutputChanged && held()) ||
        (kind == VolumeEvent::Kind::StreamStarted && !m_record.program.empty() && m_wanted &&
         (*m_wanted != m_record.upValue || held()))) {
        m_wantedUnsent = true;
    }
    if (kind != VolumeEvent::Kind::OutputChanged && kind != VolumeEvent::Kind::NoOutput) {
        m_owedToTry = m_owedToTry || !m_record.owed.empty();
    }
}

bool VolumeRules::sendDue() {
    if (m_wantedUnsent) {
        sendWanted();
    } else if (m_owedToTry) {
        sendOwedUp();
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
            // An earlier run's program, on a system with no volume per program: nothing
            // here can reach it.
            if (m_programVolume) {
                const auto reached = setProgramLeaving(earlier, up, output, up);
                streams = reached ? std::optional(reached->streams) : std::nullopt;
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

// Sets `program`'s streams to `value` where they play now; its streams on `leftBehind`, the
// output an earlier value stood on while held, get `up` when that is another output now (a
// program's volume may stay with the output it was set on).
std::optional<MasterVolume::ProgramTaken> VolumeRules::setProgramLeaving(
    const std::string& program, std::int32_t value, const std::optional<std::string>& leftBehind,
    std::int32_t up) {
    std::optional<MasterVolume::ProgramTaken> reached = m_provider.setProgramWhere(program, value);
    if (reached && leftBehind && *leftBehind != reached->output) {
        (void)m_provider.setProgramOn(*leftBehind, program, up);
    }
    return reached;
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

// Sends the value wanted to the current target: the program's streams, or the current
// output, the output left behind while held getting the Up value.
void VolumeRules::sendWanted() {
    m_wantedUnsent = false;
    if (!m_target.empty() && !m_programVolume) {
        // A provider may gain its volume per program after the open (Windows' sessions,
        // refused while the audio service is busy at log-in): asked again at each value.
        const bool gained = m_provider.hasProgramVolume();
        m_programVolume = gained;
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
    } else if (const auto reached = setProgramLeaving(program, value, leftBehind, up)) {
        output = reached->output;
        streams = reached->streams;
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
}

}  // namespace hushwell
