#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hushwell {

// The Up value to put back, in the scale it was taken in, the process that held it, what was
// held (one program's streams, the whole output, or nothing), and the programs still owed it.
struct HeldLevel {
    std::int32_t upValue = 0;
    std::int32_t scale = 0;
    std::int64_t owner = 0;  // the process id of the run that wrote it; 0: not known
    std::string program;     // empty: the output (and in a record written before programs were)
    // Programs whose Up value found no stream: the server keeps their Down level for their next
    // stream.
    std::vector<std::string> owed = {};
    bool held = true;  // false: nothing is held, only `owed` and `owedOn` are left to put back
    // Programs owed the Up value on one output they left (program, output): there their volume
    // stays at what they were given.
    std::vector<std::pair<std::string, std::string>> owedOn = {};

    // Whether that run held what this run lowers (`lowered`: a program's name, or empty for the
    // output). Only there is what stands after the put-back this run's to set; anything else
    // keeps the level the listener gave it.
    [[nodiscard]] bool heldWhatIsLowered(const std::string& lowered) const {
        return held && program == lowered;
    }
};

// A small file in the user's state folder ($XDG_STATE_HOME/hushwell, by default
// ~/.local/state/hushwell; %LOCALAPPDATA%\Hushwell on Windows) that exists while the volume is
// held away from the Up level, or a program is owed it. It outlives a run that was ended together
// with its guard (the end of the login session, an out-of-memory killer), a restart and a power
// cut, so that the next start puts the Up level back. Each sound server has its own ("held-" and
// the digest of soundServerName()), as each has its own copy of the program: a copy touches no
// other server's record. Without such a folder there is no record.
class HeldRecord {
public:
    // The record of the server this process reaches, at its usual place.
    HeldRecord();
    // The record of `server` in `folder`.
    HeldRecord(const std::filesystem::path& folder, const std::string& server);
    explicit HeldRecord(std::optional<std::filesystem::path> file) : m_file(std::move(file)) {}

    // Replaces the record whole; what stood in the way, in words for the user, naming the folder.
    [[nodiscard]] std::optional<std::string> write(const HeldLevel& level) const;
    void remove() const;
    // What the run `owner` held (or a run that did not say who it was) is back at Up: the record
    // goes, but for the programs still owed. A guard that finished its job late leaves alone the
    // record of a run started since.
    void releaseHeldBy(std::int64_t owner) const;
    // The record, when there is one and every value in it is one a run writes; a record that is
    // not is logged and left unused.
    [[nodiscard]] std::optional<HeldLevel> read() const;
    // The record of a version that kept one for every server, as read() reads it. It names no
    // server: it is left where it is until a copy puts its level back, on a volume of its scale.
    [[nodiscard]] std::optional<HeldLevel> readEarlierVersion() const;
    // This copy put the level of readEarlierVersion() back: the record becomes this server's
    // (beside a record of its own, it goes).
    void takeEarlierVersion() const;

private:
    [[nodiscard]] static std::optional<HeldLevel> readFrom(const std::filesystem::path& file);

    std::optional<std::filesystem::path> m_file;
    std::optional<std::filesystem::path> m_unkeyed;  // "held", of a version before the servers
};

}  // namespace hushwell
