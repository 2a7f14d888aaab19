#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hushwell {

// What the volume tells of its own accord. A provider tells OutputChanged, ServerBack and
// NoOutput, which the volume's owner passes on to the core; the owner tells the core Taken and
// Refused, for each value it was asked for.
struct VolumeEvent {
    enum class Kind {
        OutputChanged,  // the system's output is another one now
        ServerBack,     // the sound server went away and is back
        Taken,          // `value` landed
        Refused,        // `value`, asked for earlier, was not taken
        StreamStarted,  // a program started a stream (a provider with a volume per program)
        NoOutput,       // there is no output to set (none yet at log-in): until OutputChanged
    };
    Kind kind;
    std::int32_t value = 0;
};

// The system's master volume, as one provider reaches it: the program's only door to the sound
// hardware. A provider keeps no policy about levels: it sets what it is given where it is told.
//
// Call order: open() once; if it succeeded, locate() once; then the setters (set(), setOn(),
// setProgram(), setProgramWhere(), setProgramOn()) any number of times, setOn() and setProgramOn()
// with an output id an earlier set() or setProgramWhere() named. A setter is also called when open
// or locate failed: the provider then refuses. No call may hold the caller for more than a
// fraction of a second.
class MasterVolume {
public:
    using EventHandler = std::function<void(const VolumeEvent&)>;

    // What a program's value reached: how many of its streams took it (0: it plays nothing now),
    // and the id of the output they play on, as set() names it; "" where a program's streams are
    // set wherever they play, which leaves none of them behind on another output.
    struct ProgramTaken {
        int streams = 0;
        std::string output;
        bool operator==(const ProgramTaken&) const = default;
    };

    virtual ~MasterVolume() = default;

    // Connects to the system's mixer: its sound server, card or first mixer device. false when
    // there is none to connect to.
    [[nodiscard]] virtual bool open() = 0;

    // Finds the volume of the speakers' output and returns its scale: the value that stands for
    // full volume, set() taking 0 to it. Empty when there is no such control.
    [[nodiscard]] virtual std::optional<std::int32_t> locate() = 0;

    // Sets every channel of the current (default) output to `value`, in the units of its scale.
    // Returns the id of the output that took it ("" for a provider with one output), or nullopt
    // when it was not taken.
    [[nodiscard]] virtual std::optional<std::string> set(std::int32_t value) = 0;

    // The value the current output stands at now (its loudest channel), in the units of its
    // scale; nullopt where the provider cannot tell.
    [[nodiscard]] virtual std::optional<std::int32_t> volumeNow() { return std::nullopt; }

    // Sets the output `output` (an id an earlier set() returned), current or not; false when not
    // taken or gone. A provider with one output has no other: it returns false.
    [[nodiscard]] virtual bool setOn(const std::string& /*output*/, std::int32_t /*value*/) {
        return false;
    }

    // A volume per program: a provider that has one (a sound server's streams, Windows' audio
    // sessions) says so and overrides the calls below: playingPrograms() and setProgram(), and
    // setProgramWhere() and setProgramOn() where a program's volume stays with an output; the
    // others keep these defaults.
    [[nodiscard]] virtual bool hasProgramVolume() const { return false; }

    // The programs that have a stream playing now, by the names setProgram() matches: sorted,
    // each once. Empty when none plays, or without a volume per program.
    [[nodiscard]] virtual std::vector<std::string> playingPrograms() { return {}; }

    // Sets every stream of the program named `program` to `value`, in the units of the scale
    // locate() returned; other programs and the output's own volume stay as they are. Returns
    // how many streams took it (0: the program plays nothing now), or nullopt when it was not
    // taken.
    [[nodiscard]] virtual std::optional<int> setProgram(const std::string& /*program*/,
                                                        std::int32_t /*value*/) {
        return std::nullopt;
    }

    // setProgram(), naming the output whose streams took the value. A provider whose program
    // volumes stay with an output (Windows' sessions) overrides it; the default names none.
    [[nodiscard]] virtual std::optional<ProgramTaken> setProgramWhere(const std::string& program,
                                                                      std::int32_t value) {
        const std::optional<int> streams = setProgram(program, value);
        return streams ? std::optional(ProgramTaken{*streams, {}}) : std::nullopt;
    }

    // Sets the streams of `program` on the output `output` (an id setProgramWhere() or set()
    // named), current or not, to `value`: the counterpart of setOn() for one program, whose
    // volume stays with an output the user switched away from. Returns how many streams took it,
    // or nullopt when it was not taken or the output is gone. A provider that names no output has
    // none left behind: nothing to do, it returns nullopt.
    [[nodiscard]] virtual std::optional<int> setProgramOn(const std::string& /*output*/,
                                                          const std::string& /*program*/,
                                                          std::int32_t /*value*/) {
        return std::nullopt;
    }

    // Where events (OutputChanged, ServerBack, StreamStarted) go; a provider that tells nothing
    // ignores it. It may be called from any thread, and the handler may be called from any thread.
    virtual void watch(const EventHandler& /*handler*/) {}
};

// `value` of a scale that runs to `from`, in a scale that runs to `to`: the same share of full
// volume, as near as the scale allows.
[[nodiscard]] inline std::int32_t rescaled(std::int32_t value, std::int32_t from, std::int32_t to) {
    return from > 0 ? static_cast<std::int32_t>(
                          std::llround(static_cast<double>(value) * static_cast<double>(to) / from))
                    : value;
}

}  // namespace hushwell
