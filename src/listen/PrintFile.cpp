#include "listen/PrintFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <system_error>
#include <type_traits>

#include "platform/AtomicFile.h"
#include "platform/PathText.h"
#include "platform/RegularFile.h"

namespace hushwell {
namespace {

constexpr std::string_view kVersionWords = "Hushwell marks audio ";
constexpr int kVersion = 4;
constexpr std::string_view kVersionLine = "Hushwell marks audio 4";
// The versions before: no frames halfway; in the second, frames without the bits above 2 kHz
// ("BITS/STRONG"); in the first, no MOVED on the mark lines either.
constexpr std::string_view kWholeStepsVersionLine = "Hushwell marks audio 3";
constexpr std::string_view kLowOnlyVersionLine = "Hushwell marks audio 2";
constexpr std::string_view kUnmovedVersionLine = "Hushwell marks audio 1";
constexpr std::string_view kCheckWord = "check ";
constexpr std::string_view kHalfwayLine = "halfway";
constexpr std::size_t kMaxText = 64;
constexpr std::size_t kPerLine = 4;

// A Set press keeps (kKeptBefore + kKeptAfter) / kFrameStep, 345 frames; a count up to 512 is read.
constexpr std::size_t kMaxFrames = 512;
static_assert(kMaxFrames >= (kKeptBefore + kKeptAfter) / kFrameStep + 2);

// The largest file read: the version line, sixteen marks of kMaxFrames frames and as many halfway
// (each frame "xxxxxxxx/xxxxxxxx/xxxx/xxxx" and a space or a line end) under their longest mark
// line, and the check line; 460,662 bytes. The largest a Set press writes (sixteen marks of 345
// frames, both ways): 310 KB.
constexpr std::size_t kFrameBytes = 28;
// The longest shortest text of a number from 0 to kKeptAfter.
constexpr std::size_t kMaxMoved = std::string_view("2.2250738585072014e-308").size();
constexpr std::size_t kMaxMarkLine =
    std::string_view("mark 7 Down 511 512  \n").size() + kMaxMoved + kMaxText;
constexpr std::size_t kMaxMarks = std::size_t{2} * kPrintPairs;
constexpr std::size_t kMaxFileBytes =
    kVersionLine.size() + 1 +
    kMaxMarks * (kMaxMarkLine + kHalfwayLine.size() + 1 + 2 * kMaxFrames * kFrameBytes) +
    std::string_view("check 01234567\n").size();
static_assert(kMaxFileBytes == 460'662);

// Where a file that cannot be used is kept, beside it, so that the next save loses nothing; the
// first of ".damaged", ".damaged-2", ... that is free.
constexpr std::string_view kAsideSuffix = ".damaged";
constexpr int kMostAside = 100;

std::uint32_t crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const char byte : bytes) {
        crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFFU] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFU;
}

std::string hex(std::uint32_t value, int digits) {
    std::array<char, 9> text{};
    std::snprintf(text.data(), text.size(), "%0*x", digits, value);
    return text.data();
}

bool plainText(std::string_view text) {
    return !text.empty() && text.size() <= kMaxText &&
           std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// Seconds a press can have moved its print by: the sound it is taken from is one the press kept.
bool movedWithin(double seconds) {
    return seconds >= 0 && seconds <= kKeptAfter;  // NaN is not
}

// Whether the file can give `print` of `key` back as it is.
bool readable(MarkKey key, const KeptPrint& kept) {
    return key.pair >= 0 && key.pair < kPrintPairs && plainText(kept.markText) &&
           kept.print.frames.size() <= kMaxFrames &&
           kept.print.pressFrame < kept.print.frames.size() &&
           (kept.print.halfway.empty() || kept.print.halfway.size() == kept.print.frames.size()) &&
           movedWithin(kept.movedBy);
}

// The shortest text that reads back as `value` exactly.
std::string decimal(double value) {
    std::array<char, 32> text{};
    return {text.data(), std::to_chars(text.data(), text.data() + text.size(), value).ptr};
}

// A whole number in `base`, or a decimal one.
template <typename Number>
bool parse(std::string_view text, Number& value, int base = 10) {
    const char* last = text.data() + text.size();
    std::from_chars_result read{};
    if constexpr (std::is_floating_point_v<Number>) {
        read = std::from_chars(text.data(), last, value);
    } else {
        read = std::from_chars(text.data(), last, value, base);
    }
    return read.ec == std::errc() && read.ptr == last;
}

// Splits off the next word (up to a space) of `line`.
std::string_view word(std::string_view& line) {
    const std::size_t space = line.find(' ');
    const std::string_view first = line.substr(0, space);
    line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    return first;
}

// The lines of a text that ends with a line end, one at a time, counted from 1.
class Lines {
public:
    explicit Lines(std::string_view text) : m_rest(text) {}
    // The next line, left to be read.
    [[nodiscard]] std::string_view peek() const { return m_rest.substr(0, m_rest.find('\n')); }
    bool next(std::string_view& line) {
        if (m_rest.empty()) {
            return false;
        }
        const std::size_t end = m_rest.find('\n');
        line = m_rest.substr(0, end);
        m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
        ++m_number;
        return true;
    }
    // "line 3: " and `what`.
    [[nodiscard]] std::string at(const std::string& what) const {
        return "line " + std::to_string(m_number) + ": " + what;
    }

private:
    std::string_view m_rest;
    int m_number = 0;
};

// A mark's line read: its key, its print without frames yet, how many frames follow, and why its
// print alone cannot be used, if it cannot.
struct MarkLine {
    MarkKey key;
    KeptPrint kept;
    std::size_t count = 0;
    std::string unusable;
};

// Why `text` is no print's movedBy, if it is not.
std::string movedProblem(std::string_view text, double& movedBy) {
    if (!parse(text, movedBy) || std::isnan(movedBy)) {
        return "the seconds from a mark to its sound are not a number";
    }
    if (!movedWithin(movedBy)) {
        return "the seconds from a mark to its sound, " + decimal(movedBy) +
               ", are not from 0 to " + decimal(kKeptAfter);
    }
    return {};
}

// Reads a mark's line, "mark PAIR Down|Up PRESS COUNT MOVED TEXT" (without MOVED unless `moved`).
std::string readMarkLine(std::string_view rest, bool moved, MarkLine& mark) {
    if (word(rest) != "mark") {
        return "a line that should start a mark does not";
    }
    long long pair = 0;
    if (!parse(word(rest), pair)) {
        return "a mark's pair is not a number";
    }
    if (pair < 0 || pair >= kPrintPairs) {
        return "pair " + std::to_string(pair) + " is out of range";
    }
    const std::string_view edge = word(rest);
    if (edge != "Down" && edge != "Up") {
        return "a mark's row is neither Down nor Up";
    }
    long long press = 0;
    long long frames = 0;
    if (!parse(word(rest), press)) {
        return "a mark's press frame is not a number";
    }
    if (!parse(word(rest), frames)) {
        return "a mark's number of frames is not a number";
    }
    if (frames < 1 || frames > static_cast<long long>(kMaxFrames)) {
        return "the number of frames " + std::to_string(frames) + " is not from 1 to " +
               std::to_string(kMaxFrames);
    }
    if (press < 0 || press >= frames) {
        return "the press frame " + std::to_string(press) + " is outside the mark's " +
               std::to_string(frames) + " frames";
    }
    double movedBy = 0;
    if (moved) {
        mark.unusable = movedProblem(word(rest), movedBy);
    }
    if (!plainText(rest)) {
        return "a mark's text is empty, too long or holds control characters";
    }
    mark.key = {static_cast<int>(pair), edge == "Down" ? Level::Down : Level::Up};
    mark.kept = {std::string(rest), {{}, static_cast<std::size_t>(press), {}}, movedBy};
    mark.count = static_cast<std::size_t>(frames);
    return {};
}

// Reads a frame, "BITS/STRONG/HIGH/HIGHSTRONG" in hexadecimal (without HIGH/HIGHSTRONG unless
// `high`).
bool readFrame(std::string_view text, bool high, Fingerprint& print) {
    const std::size_t size = high ? 27 : 17;
    return text.size() == size && text[8] == '/' && parse(text.substr(0, 8), print.bits, 16) &&
           parse(text.substr(9, 8), print.strong, 16) &&
           (!high ||
            (text[17] == '/' && text[22] == '/' && parse(text.substr(18, 4), print.high, 16) &&
             parse(text.substr(23), print.highStrong, 16)));
}

// Reads one line of frames into `frames`: as many as the writer puts on it.
std::string readFrameLine(std::string_view words, bool high, std::vector<Fingerprint>& frames,
                          std::size_t count) {
    for (std::size_t on = std::min(kPerLine, count - frames.size()); on > 0; --on) {
        Fingerprint print;
        if (!readFrame(word(words), high, print)) {
            return high ? "a frame is not four hexadecimal numbers"
                        : "a frame is not two hexadecimal numbers";
        }
        frames.push_back(print);
    }
    return words.empty() ? std::string() : "a line holds more frames than it should";
}

// The prints a file that is sound otherwise cannot give: the first one's problem, with its line.
struct Unusable {
    std::string first;
    int count = 0;
};

// What a version's lines hold beyond the first's.
struct Version {
    bool moved = false;    // MOVED on the mark lines
    bool high = false;     // the bits above 2 kHz in the frames
    bool halfway = false;  // a mark's frames halfway may follow its frames
};

// Reads `count` frames, from as many lines as the writer puts them on.
std::string readFrames(Lines& lines, bool high, std::vector<Fingerprint>& frames,
                       std::size_t count) {
    std::string_view line;
    while (frames.size() < count) {
        if (!lines.next(line)) {
            return lines.at("a mark's frames end too soon");
        }
        if (std::string problem = readFrameLine(line, high, frames, count); !problem.empty()) {
            return lines.at(problem);
        }
    }
    return {};
}

// Reads the marks after the version line; returns the problem, if any, with its line.
std::string readMarks(Lines& lines, Version version, MarkPrints& prints, Unusable& unusable) {
    std::string_view line;
    while (lines.next(line)) {
        MarkLine mark;
        if (std::string problem = readMarkLine(line, version.moved, mark); !problem.empty()) {
            return lines.at(problem);
        }
        if (!mark.unusable.empty() && unusable.count++ == 0) {
            unusable.first = lines.at(mark.unusable);
        }
        MarkPrint& print = mark.kept.print;
        std::string problem = readFrames(lines, version.high, print.frames, mark.count);
        if (problem.empty() && version.halfway && lines.peek() == kHalfwayLine) {
            lines.next(line);
            problem = readFrames(lines, version.high, print.halfway, mark.count);
        }
        if (!problem.empty()) {
            return problem;
        }
        if (mark.unusable.empty() && !prints.emplace(mark.key, std::move(mark.kept)).second) {
            return lines.at("a mark is there twice");
        }
    }
    return {};
}

// The prints in `text`, or what is wrong with it.
std::string readPrints(std::string_view text, MarkPrints& prints, Unusable& unusable) {
    if (text.find('\0') != std::string_view::npos) {
        return "it is not a text file";
    }
    if (text.empty() || text.back() != '\n') {
        return "it does not end as Hushwell ends it";
    }
    const std::string_view lines = text.substr(0, text.size() - 1);
    const std::size_t lastLine = lines.rfind('\n') + 1;  // 0 when there is one line (npos + 1)
    const std::string_view checkLine = lines.substr(lastLine);
    std::uint32_t check = 0;
    if (!checkLine.starts_with(kCheckWord) ||
        !parse(checkLine.substr(kCheckWord.size()), check, 16)) {
        return "its check line is missing";
    }
    const std::string_view body = text.substr(0, lastLine);
    if (crc32(body) != check) {
        return "its check does not match its contents";
    }
    Lines bodyLines(body);
    std::string_view version;
    if (!bodyLines.next(version) ||
        (version != kVersionLine && version != kWholeStepsVersionLine &&
         version != kLowOnlyVersionLine && version != kUnmovedVersionLine)) {
        return "it is not a file of this version of Hushwell";
    }
    const Version has{version != kUnmovedVersionLine,
                      version == kVersionLine || version == kWholeStepsVersionLine,
                      version == kVersionLine};
    std::string problem = readMarks(bodyLines, has, prints, unusable);
    if (!problem.empty()) {
        prints.clear();
    }
    return problem;
}

std::string refused(const std::filesystem::path& file, const std::string& what,
                    const std::string& lost) {
    return "The fingerprint file \"" + pathText(file) + "\" " + what + "; " + lost;
}

std::string keptAs(const std::filesystem::path& aside) {
    return ", and the file kept as \"" + pathText(aside) + "\".";
}

// A file sound but for some prints: it is kept aside as it is and, once it is, the others are
// written in its place, so that the next start reads them without a word.
std::string keepOthers(const std::filesystem::path& file, const std::filesystem::path& aside,
                       const std::string& bytes, const MarkPrints& others,
                       const Unusable& unusable) {
    std::string told = refused(
        file, "is damaged (" + unusable.first + ")",
        unusable.count == 1 ? "one of its prints was set aside"
                            : std::to_string(unusable.count) + " of its prints were set aside");
    try {
        writeFileAtomically(aside, bytes);
    } catch (const std::runtime_error&) {
        return told + ".";
    }
    try {
        savePrintFile(file, others);
    } catch (const std::runtime_error&) {
        // The file stays as it was: the next save writes the others.
    }
    return told + keptAs(aside);
}

void frameLines(const std::vector<Fingerprint>& frames, std::string& text) {
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Fingerprint& frame = frames[i];
        text += hex(frame.bits, 8) + '/' + hex(frame.strong, 8) + '/' + hex(frame.high, 4) + '/' +
                hex(frame.highStrong, 4);
        text += (i + 1) % kPerLine == 0 || i + 1 == frames.size() ? '\n' : ' ';
    }
}

// Whether `text` begins as a file of a later version of this format does.
bool laterVersion(std::string_view text) {
    if (!text.starts_with(kVersionWords)) {
        return false;
    }
    const std::string_view rest = text.substr(kVersionWords.size());
    int version = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), version);
    return error == std::errc() && end != rest.data() && version > kVersion &&
           (end == rest.data() + rest.size() || *end == '\n' || *end == '\r');
}

std::filesystem::path freeAside(const std::filesystem::path& file) {
    std::filesystem::path aside = file;
    aside += kAsideSuffix;
    std::error_code error;
    for (int n = 2;
         n <= kMostAside && std::filesystem::exists(std::filesystem::symlink_status(aside, error));
         ++n) {
        aside = file;
        aside += std::string(kAsideSuffix) + "-" + std::to_string(n);
    }
    return aside;
}

}  // namespace

const MarkPrint* printFor(const MarkPrints& prints, MarkKey key, std::string_view markText) {
    const auto found = prints.find(key);
    if (found == prints.end() || found->second.markText != markText) {
        return nullptr;
    }
    return &found->second.print;
}

std::string printFileText(const MarkPrints& prints) {
    std::string text(kVersionLine);
    text += '\n';
    for (const auto& [key, kept] : prints) {
        if (!readable(key, kept)) {
            continue;
        }
        text += "mark " + std::to_string(key.pair) + (key.edge == Level::Down ? " Down " : " Up ") +
                std::to_string(kept.print.pressFrame) + ' ' +
                std::to_string(kept.print.frames.size()) + ' ' + decimal(kept.movedBy) + ' ' +
                kept.markText + '\n';
        frameLines(kept.print.frames, text);
        if (!kept.print.halfway.empty()) {
            text.append(kHalfwayLine) += '\n';
            frameLines(kept.print.halfway, text);
        }
    }
    return withCheckLine(text);
}

std::string withCheckLine(std::string text) {
    const std::string check = hex(crc32(text), 8);
    return text.append(kCheckWord).append(check) + '\n';
}

LoadedPrints loadPrintFile(const std::filesystem::path& file, Damaged damaged) {
    std::error_code error;
    // A link that leads nowhere stands in the file's place: reading it says what is wrong.
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, error))) {
        return {};
    }
    LoadedPrints loaded;
    std::string what;
    try {
        const std::string bytes = readRegularFile(file, kMaxFileBytes);
        if (laterVersion(bytes)) {
            loaded.problem = "The fingerprint file \"" + pathText(file) +
                             "\" was written by a later version of Hushwell; it is left as it "
                             "is, and this version keeps no fingerprints.";
            loaded.keepOff = true;
            return loaded;
        }
        Unusable unusable;
        const std::string problem = readPrints(bytes, loaded.prints, unusable);
        if (problem.empty() && unusable.count > 0) {
            if (damaged == Damaged::Leave) {
                loaded.keepOff = true;
                return loaded;
            }
            loaded.problem = keepOthers(file, freeAside(file), bytes, loaded.prints, unusable);
        }
        if (problem.empty()) {
            return loaded;
        }
        what = "is damaged (" + problem + ")";
    } catch (const std::runtime_error& unread) {
        what = "cannot be read (" + std::string(unread.what()) + ")";
    }
    if (damaged == Damaged::Leave) {
        loaded.keepOff = true;
        return loaded;
    }
    // What stood there is kept aside, so that the next Set cannot replace it unseen.
    const std::filesystem::path aside = freeAside(file);
    std::filesystem::rename(file, aside, error);
    loaded.problem =
        refused(file, what, "its prints were set aside") + (error ? "." : keptAs(aside));
    return loaded;
}

void savePrintFile(const std::filesystem::path& file, const MarkPrints& prints) {
    writeFileAtomically(file, printFileText(prints));
}

}  // namespace hushwell
