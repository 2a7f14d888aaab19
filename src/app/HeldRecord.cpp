#include "app/HeldRecord.h"

#include <charconv>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "app/MixerLog.h"
#include "app/SoundServerName.h"
#include "platform/AtomicFile.h"
#include "platform/PathText.h"
#include "platform/ProgramNames.h"
#include "platform/ProgramPaths.h"

namespace hushwell {
namespace {

// A program's name longer than this is no name a sound server gives: the record is not trusted.
constexpr std::size_t kLongestProgram = 4096;
// A record larger than this is none a run wrote: it is not read at all.
constexpr std::uintmax_t kLargestRecord = std::uintmax_t{64} * 1024;

// The lines after the first: "N NAME" names the program held ("N": the name's length, as a name
// may hold any byte, a line's end too); "none" says nothing is held; each "owed N NAME" names a
// program owed the Up value; each "owedon N NAME" and "N OUTPUT" after it, a program owed it on an
// output it left (none in a record of an earlier version). Without the second line, the output is
// held.
constexpr std::string_view kNothingHeld = "none\n";
constexpr std::string_view kOwed = "owed ";
constexpr std::string_view kOwedOn = "owedon ";

std::string named(const std::string& program) {
    return std::to_string(program.size()) + ' ' + program + '\n';
}

std::string textOf(const HeldLevel& level) {
    std::string text = std::to_string(level.upValue) + ' ' + std::to_string(level.scale) + ' ' +
                       std::to_string(level.owner) + '\n';
    if (!level.held) {
        text += kNothingHeld;
    } else if (!level.program.empty()) {
        text += named(level.program);
    }
    for (const std::string& program : level.owed) {
        text += std::string(kOwed) + named(program);
    }
    for (const auto& [program, output] : level.owedOn) {
        text += std::string(kOwedOn) + named(program) + named(output);
    }
    return text;
}

// Takes what the record holds from its front, exactly as textOf() writes it: digits without sign
// or space before them, single spaces and line ends between.
class Parse {
public:
    explicit Parse(std::string_view text) : m_rest(text) {}

    // A decimal number up to `largest`, then `end`.
    bool number(std::int64_t& value, std::int64_t largest, char end) {
        const char* last = m_rest.data() + m_rest.size();
        if (!startsWithDigit() ||
            (m_rest.front() == '0' && m_rest.size() > 1 && m_rest[1] >= '0' && m_rest[1] <= '9')) {
            return false;
        }
        const auto [stop, error] = std::from_chars(m_rest.data(), last, value);
        if (error != std::errc() || value > largest || stop == last || *stop != end) {
            return false;
        }
        m_rest.remove_prefix(static_cast<std::size_t>(stop - m_rest.data()) + 1);
        return true;
    }
    // `N NAME\n`, the name 1 to kLongestProgram bytes.
    bool name(std::string& name) {
        std::int64_t length = 0;
        if (!number(length, kLongestProgram, ' ') || length == 0 ||
            m_rest.size() <= static_cast<std::size_t>(length) ||
            m_rest[static_cast<std::size_t>(length)] != '\n') {
            return false;
        }
        name.assign(m_rest.substr(0, static_cast<std::size_t>(length)));
        m_rest.remove_prefix(static_cast<std::size_t>(length) + 1);
        return true;
    }
    bool take(std::string_view word) {
        if (!m_rest.starts_with(word)) {
            return false;
        }
        m_rest.remove_prefix(word.size());
        return true;
    }
    [[nodiscard]] bool atEnd() const { return m_rest.empty(); }
    [[nodiscard]] bool startsWithDigit() const {
        return !m_rest.empty() && m_rest.front() >= '0' && m_rest.front() <= '9';
    }

private:
    std::string_view m_rest;
};

// The record in `text`, or why it is not one a run writes.
std::optional<HeldLevel> parse(std::string_view text, std::string& why) {
    constexpr std::int64_t kLargestValue = std::numeric_limits<std::int32_t>::max();
    Parse parse(text);
    std::int64_t up = 0;
    std::int64_t scale = 0;
    std::int64_t owner = 0;
    // A record written before the owner was has two numbers.
    if (!parse.number(up, kLargestValue, ' ') ||
        !(parse.number(scale, kLargestValue, '\n') ||
          (parse.number(scale, kLargestValue, ' ') &&
           parse.number(owner, std::numeric_limits<std::int64_t>::max(), '\n')))) {
        why = "its first line is not three numbers";
        return std::nullopt;
    }
    if (scale == 0 || up > scale) {
        why = "its Up value " + std::to_string(up) + " lies outside the scale 0.." +
              std::to_string(scale);
        return std::nullopt;
    }
    HeldLevel level{static_cast<std::int32_t>(up), static_cast<std::int32_t>(scale), owner, {}};
    if (parse.take(kNothingHeld)) {
        level.held = false;
    } else if (parse.startsWithDigit() && !parse.name(level.program)) {
        why = "the program held is no name";
        return std::nullopt;
    }
    while (parse.take(kOwed)) {
        if (!parse.name(level.owed.emplace_back())) {
            why = "a program owed the Up value is no name";
            return std::nullopt;
        }
    }
    while (parse.take(kOwedOn)) {
        auto& [program, output] = level.owedOn.emplace_back();
        if (!parse.name(program) || !parse.name(output)) {
            why = "a program owed the Up value on an output, or the output, is no name";
            return std::nullopt;
        }
    }
    if (!parse.atEnd()) {
        why = "it holds more than a record";
        return std::nullopt;
    }
    return level;
}

// The system's reason at the end of what writeFileAtomically() says ("step: reason").
std::string reasonIn(const std::string& error) {
    const std::size_t colon = error.rfind(": ");
    return colon == std::string::npos ? error : error.substr(colon + 2);
}

}  // namespace

HeldRecord::HeldRecord() : HeldRecord(ProgramPaths::stateFolder(), soundServerName()) {}

HeldRecord::HeldRecord(const std::filesystem::path& folder, const std::string& server) {
    if (!folder.empty()) {
        m_file = folder / (std::string(kHeldRecordFileName) + "-" + shortDigest(server));
        m_unkeyed = folder / kHeldRecordFileName;
    }
}

// The record of a version that kept one for every server was written by a run that knew of one
// server, and which one cannot be told: only the copy that put its level back takes it for its
// own server (a rename, so that of two copies together one takes it). A copy with a record of its
// own keeps its own, this version's, and lets the older one go.
void HeldRecord::takeEarlierVersion() const {
    std::error_code error;
    if (!m_unkeyed || !std::filesystem::exists(*m_unkeyed, error)) {
        return;
    }
    if (std::filesystem::exists(*m_file, error)) {
        (void)removeFile(*m_unkeyed);
        logMixerCall("held record \"" + pathText(*m_unkeyed) + "\" of an earlier version let go");
        return;
    }
    std::filesystem::rename(*m_unkeyed, *m_file, error);
    if (!error) {
        logMixerCall("held record \"" + pathText(*m_unkeyed) + "\" of an earlier version taken");
    }
}

// Written whole under another name and renamed, so that a reader never finds half of it, never
// through a link, and flushed to the disk with its folder, so that it outlives a power cut.
std::optional<std::string> HeldRecord::write(const HeldLevel& level) const {
    if (!m_file) {
        return std::nullopt;
    }
    const std::filesystem::path folder = m_file->parent_path();
    std::string reason;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        reason = error.message();
    } else {
        try {
            writeFileAtomically(*m_file, textOf(level));
            return std::nullopt;
        } catch (const std::exception& failure) {
            reason = reasonIn(failure.what());
        }
    }
    return "Hushwell cannot keep its record of the lowered volume in the folder \"" +
           pathText(folder) + "\": " + reason +
           ". If Hushwell is ended abruptly during a break, its next start cannot put the Up "
           "level back; making the folder writable mends this.";
}

// A record left behind would make the next start send its old Up over the listener's level.
void HeldRecord::remove() const {
    if (m_file && !removeFile(*m_file)) {
        logMixerCall("held record \"" + pathText(*m_file) + "\" could not be removed");
    }
}

void HeldRecord::releaseHeldBy(std::int64_t owner) const {
    std::optional<HeldLevel> level = read();
    if (!level || (level->owner != 0 && level->owner != owner)) {
        return;
    }
    if (level->owed.empty() && level->owedOn.empty()) {
        remove();
    } else {
        level->held = false;
        (void)write(*level);  // what cannot be written now was told when it was first
    }
}

std::optional<HeldLevel> HeldRecord::read() const {
    return m_file ? readFrom(*m_file) : std::nullopt;
}

std::optional<HeldLevel> HeldRecord::readEarlierVersion() const {
    return m_unkeyed ? readFrom(*m_unkeyed) : std::nullopt;
}

std::optional<HeldLevel> HeldRecord::readFrom(const std::filesystem::path& file) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file, error);
    if (!std::filesystem::exists(status)) {
        return std::nullopt;
    }
    std::string why;
    std::optional<HeldLevel> level;
    std::uintmax_t size = 0;
    if (!std::filesystem::is_regular_file(status) ||
        (size = std::filesystem::file_size(file, error)) > kLargestRecord || error) {
        why = "it is no ordinary file of a record's size";
    } else {
        std::string text(static_cast<std::size_t>(size), '\0');
        std::ifstream in(file, std::ios::binary);
        if (!in.read(text.data(), static_cast<std::streamsize>(size)) || in.peek() != EOF) {
            why = "it could not be read whole";
        } else {
            level = parse(text, why);
        }
    }
    if (!level) {
        logMixerCall("held record \"" + pathText(file) + "\" refused: " + why);
    }
    return level;
}

}  // namespace hushwell
