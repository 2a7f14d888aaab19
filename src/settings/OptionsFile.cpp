#include "settings/OptionsFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "settings/AtomicFile.h"
#include "settings/PathText.h"

namespace hushwell {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// An options file is a few hundred bytes; anything far larger is some other file.
constexpr std::uintmax_t kMaxFileSize = 1 << 20;

// User text quoted in a message is cut to this length.
constexpr std::size_t kQuotedLength = 60;

#ifdef _WIN32
constexpr std::string_view kNewFileLineEnd = "\r\n";
#else
constexpr std::string_view kNewFileLineEnd = "\n";
#endif

struct Key {
    Option option;
    std::string_view section;
    std::string_view name;
};

constexpr Key kKeys[] = {
    {Option::StartWithDesktop, "General", "StartWithDesktop"},
    {Option::HideWhenMinimized, "Tray", "HideWhenMinimized"},
    {Option::LowerOnly, "Lower", "Only"},
};

const Key& keyOf(Option option) {
    for (const Key& key : kKeys) {
        if (key.option == option) {
            return key;
        }
    }
    throw std::logic_error("an option without a key");
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool isSection(std::string_view name) {
    for (const Key& key : kKeys) {
        if (sameWord(key.section, name)) {
            return true;
        }
    }
    return false;
}

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80           ? 1
                                   : (byte >> 5) == 0x6  ? 2
                                   : (byte >> 4) == 0xE  ? 3
                                   : (byte >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// The number of characters of UTF-8 text: the bytes that start one.
std::size_t characters(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) >> 6) != 0x2 ? 1 : 0;
    }
    return count;
}

std::string shown(std::string_view text) {
    return text.size() <= kQuotedLength ? std::string(text)
                                        : std::string(text.substr(0, kQuotedLength)) + "...";
}

enum class Kind { Blank, Comment, Section, Value, Other };

// One line of the file, with offsets into the whole text.
struct Line {
    int number = 0;
    Kind kind = Kind::Blank;
    std::string_view body;     // without its line end
    std::string_view section;  // Section: its name; Value: the section it stands in
    bool inSection = false;    // Value: a section header came before it
    std::string_view key;
    std::string_view value;
    std::size_t valueBegin = 0;  // where the value's place starts: after '=' and blanks
    std::size_t bodyEnd = 0;     // where the line end starts
    std::size_t next = 0;        // where the next line starts
};

std::vector<Line> scan(std::string_view text) {
    std::vector<Line> lines;
    std::size_t at = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    std::string_view section;
    bool inSection = false;
    int number = 0;
    while (at < text.size()) {
        Line line;
        line.number = ++number;
        const std::size_t newline = text.find('\n', at);
        line.next = newline == std::string_view::npos ? text.size() : newline + 1;
        line.bodyEnd = newline == std::string_view::npos ? text.size() : newline;
        if (line.bodyEnd > at && text[line.bodyEnd - 1] == '\r') {
            --line.bodyEnd;
        }
        line.body = text.substr(at, line.bodyEnd - at);
        const std::string_view content = trimmed(line.body);
        const std::size_t equals = content.find('=');
        if (content.empty()) {
            line.kind = Kind::Blank;
        } else if (content.front() == ';' || content.front() == '#') {
            line.kind = Kind::Comment;
        } else if (content.front() == '[' && content.back() == ']') {
            line.kind = Kind::Section;
            section = trimmed(content.substr(1, content.size() - 2));
            inSection = true;
            line.section = section;
        } else if (equals != std::string_view::npos && equals > 0) {
            line.kind = Kind::Value;
            line.section = section;
            line.inSection = inSection;
            line.key = trimmed(content.substr(0, equals));
            line.value = trimmed(content.substr(equals + 1));
            const std::size_t equalsAt =
                static_cast<std::size_t>(content.data() - text.data()) + equals;
            line.valueBegin = equalsAt + 1;
            while (line.valueBegin < line.bodyEnd &&
                   (text[line.valueBegin] == ' ' || text[line.valueBegin] == '\t')) {
                ++line.valueBegin;
            }
        } else {
            line.kind = Kind::Other;
        }
        lines.push_back(line);
        at = line.next;
    }
    return lines;
}

// The line that sets `key`: the last one in its section; nothing when none does.
const Line* countingLine(const std::vector<Line>& lines, const Key& key) {
    const Line* found = nullptr;
    for (const Line& line : lines) {
        if (line.kind == Kind::Value && line.inSection && sameWord(line.section, key.section) &&
            sameWord(line.key, key.name)) {
            found = &line;
        }
    }
    return found;
}

// A value written between double quotes keeps its blanks; the quotes are not part of it.
std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

class Reader {
public:
    Reader(const std::string& fileName, LoadedOptions& loaded)
        : m_fileName(fileName), m_loaded(loaded) {}

    void problem(const Line& line, const std::string& text) {
        m_loaded.problems.push_back(m_fileName + ", line " + std::to_string(line.number) + ": " +
                                    text);
    }

    void flag(const Line& line, bool& flag) {
        if (sameWord(line.value, "true")) {
            flag = true;
        } else if (sameWord(line.value, "false")) {
            flag = false;
        } else {
            problem(line, std::string(line.key) + "=" + shown(line.value) +
                              " is not true or false; false is used.");
            flag = false;
        }
    }

    void program(const Line& line, std::string& program) {
        const std::string_view name = unquoted(line.value);
        const auto wrong = [&](const std::string& what) {
            problem(line, std::string(line.key) + "=" + shown(name) + " " + what +
                              "; the whole computer is lowered.");
            program.clear();
        };
        if (characters(name) > kMaxProgramNameLength) {
            wrong("is longer than " + std::to_string(kMaxProgramNameLength) +
                  " characters, too long for a program's name");
        } else if (!isUtf8(name)) {
            wrong("is not UTF-8 text");
        } else {
            program = name;
        }
    }

private:
    const std::string& m_fileName;
    LoadedOptions& m_loaded;
};

std::string_view lineEndOf(std::string_view text) {
    const std::size_t newline = text.find('\n');
    if (newline == std::string_view::npos) {
        return kNewFileLineEnd;
    }
    return newline > 0 && text[newline - 1] == '\r' ? "\r\n" : "\n";
}

std::string formatted(Option which, const Options& options) {
    switch (which) {
        case Option::StartWithDesktop:
            return options.startWithDesktop ? "true" : "false";
        case Option::HideWhenMinimized:
            return options.hideWhenMinimized ? "true" : "false";
        case Option::LowerOnly:
            break;
    }
    const std::string& name = options.lowerOnly;
    if (characters(name) > kMaxProgramNameLength) {
        throw std::invalid_argument("the program's name is longer than " +
                                    std::to_string(kMaxProgramNameLength) + " characters");
    }
    if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        throw std::invalid_argument("the program's name holds a line break");
    }
    const bool quote = trimmed(name) != name || unquoted(name) != name;
    return quote ? "\"" + name + "\"" : name;
}

std::string readWhole(const std::filesystem::path& file) {
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (std::filesystem::is_directory(status)) {
        throw std::runtime_error("it is a folder");
    }
    const auto size = std::filesystem::file_size(file, error);
    if (!error && size > kMaxFileSize) {
        throw std::runtime_error("it is larger than 1 MB, which no options file is");
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error(std::strerror(errno));
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        throw std::runtime_error("it cannot be read to its end");
    }
    std::string text = std::move(bytes).str();
    if (text.find('\0') != std::string::npos) {
        throw std::runtime_error("it is not a text file");
    }
    return text;
}

bool fileExists(const std::filesystem::path& file) {
    std::error_code error;
    // A link that leads nowhere counts as a file: reading it reports what is wrong.
    return std::filesystem::exists(std::filesystem::symlink_status(file, error));
}

}  // namespace

LoadedOptions parseOptions(std::string_view text, const std::string& fileName) {
    LoadedOptions loaded;
    if (text.find('\0') != std::string_view::npos) {
        loaded.problems.push_back(fileName + " is not a text file; the defaults are used.");
        return loaded;
    }
    Reader reader(fileName, loaded);
    const std::vector<Line> lines = scan(text);
    for (const Line& line : lines) {
        if (line.kind == Kind::Other) {
            reader.problem(line, "\"" + shown(trimmed(line.body)) +
                                     "\" is neither a [section] nor a key=value line; it is "
                                     "ignored.");
        } else if (line.kind == Kind::Value && !line.inSection) {
            reader.problem(line,
                           std::string(line.key) + " stands before any [section]; it is ignored.");
        } else if (line.kind == Kind::Value && isSection(line.section)) {
            bool known = false;
            for (const Key& key : kKeys) {
                known =
                    known || (sameWord(key.section, line.section) && sameWord(key.name, line.key));
            }
            if (!known) {
                reader.problem(line, shown(line.key) + " is not an option of [" +
                                         std::string(line.section) + "]; it is ignored.");
            }
        }
    }
    for (const Key& key : kKeys) {
        const Line* counting = countingLine(lines, key);
        if (counting == nullptr) {
            continue;
        }
        for (const Line& line : lines) {
            if (&line != counting && line.kind == Kind::Value && line.inSection &&
                sameWord(line.section, key.section) && sameWord(line.key, key.name)) {
                reader.problem(line, std::string(key.name) + " is set again on line " +
                                         std::to_string(counting->number) +
                                         ", which counts; this line is ignored.");
            }
        }
        switch (key.option) {
            case Option::StartWithDesktop:
                reader.flag(*counting, loaded.options.startWithDesktop);
                break;
            case Option::HideWhenMinimized:
                reader.flag(*counting, loaded.options.hideWhenMinimized);
                break;
            case Option::LowerOnly:
                reader.program(*counting, loaded.options.lowerOnly);
                break;
        }
    }
    return loaded;
}

std::string withOption(std::string_view text, Option which, const Options& options) {
    const Key& key = keyOf(which);
    const std::string value = formatted(which, options);
    const std::vector<Line> lines = scan(text);
    const std::string_view lineEnd = lineEndOf(text);
    std::string result(text);
    if (const Line* counting = countingLine(lines, key)) {
        result.replace(counting->valueBegin, counting->bodyEnd - counting->valueBegin, value);
        return result;
    }
    const std::string line = std::string(key.name) + "=" + value;
    // After the last line that is not blank of the section's last header, when there is one.
    const Line* after = nullptr;
    bool inside = false;
    for (const Line& each : lines) {
        if (each.kind == Kind::Section) {
            inside = sameWord(each.section, key.section);
        }
        if (inside && each.kind != Kind::Blank) {
            after = &each;
        }
    }
    const bool endless = !lines.empty() && lines.back().next == lines.back().bodyEnd;
    if (after != nullptr) {
        const bool last = after == &lines.back();
        result.insert(after->next,
                      std::string(last && endless ? lineEnd : "") + line + std::string(lineEnd));
        return result;
    }
    if (endless) {
        result += lineEnd;
    }
    if (!lines.empty()) {
        result += lineEnd;
    }
    result +=
        "[" + std::string(key.section) + "]" + std::string(lineEnd) + line + std::string(lineEnd);
    return result;
}

OptionsFile OptionsFile::besideSettings(const SettingsLocation& settings) {
    return {settings.loadFrom().parent_path() / kOptionsFileName,
            settings.saveTo().parent_path() / kOptionsFileName};
}

const std::filesystem::path& OptionsFile::current() const {
    return fileExists(m_saveTo) || !fileExists(m_loadFrom) ? m_saveTo : m_loadFrom;
}

LoadedOptions OptionsFile::load() const {
    const std::filesystem::path& file = current();
    if (!fileExists(file)) {
        return {};
    }
    try {
        return parseOptions(readWhole(file), pathText(file.filename()));
    } catch (const std::runtime_error& error) {
        LoadedOptions unread;
        unread.problems.push_back("The options in \"" + pathText(file) + "\" cannot be read (" +
                                  error.what() + "); the defaults are used.");
        return unread;
    }
}

void OptionsFile::save(Option which, const Options& options) {
    const std::filesystem::path& from = current();
    try {
        const std::string text = fileExists(from) ? readWhole(from) : std::string();
        const std::string changed = withOption(text, which, options);
        std::error_code ignored;
        std::filesystem::create_directories(m_saveTo.parent_path(), ignored);
        writeFileAtomically(m_saveTo, changed);
    } catch (const std::exception& error) {
        throw std::runtime_error("Couldn't save the option " + std::string(keyOf(which).name) +
                                 " to \"" + pathText(m_saveTo) + "\": " + error.what() +
                                 ". The file is unchanged.");
    }
}

}  // namespace hushwell
