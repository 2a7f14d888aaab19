#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace hushwell {

// The Up value to put back, in the scale it was taken in, the process that held it, and what
// was held: one program's streams, or the whole output.
struct HeldLevel {
    std::int32_t upValue = 0;
    std::int32_t scale = 0;
    std::int64_t owner = 0;  // the process id of the run that wrote it; 0: not known
    std::string program;     // empty: the output (and in a record written before programs were)
};

// A small file in the user's state folder ($XDG_STATE_HOME/hushwell/held, by default
// ~/.local/state/hushwell/held; %LOCALAPPDATA%\Hushwell\held on Windows) that exists while the
// volume is held away from the Up level. It outlives a run that was ended together with its guard
// (the end of the login session, an out-of-memory killer) and a restart, so that the next start
// puts the Up level back. Without such a folder there is no record.
class HeldRecord {
public:
    // The file at its usual place.
    HeldRecord();
    explicit HeldRecord(std::optional<std::filesystem::path> file) : m_file(std::move(file)) {}

    void write(const HeldLevel& level) const;
    void remove() const;
    // Removes the record if the run `owner` wrote it (or nobody said who did): a guard that
    // finished its job late leaves alone the record of a run started since.
    void removeIfOwnedBy(std::int64_t owner) const;
    [[nodiscard]] std::optional<HeldLevel> read() const;

private:
    std::optional<std::filesystem::path> m_file;
};

}  // namespace hushwell
