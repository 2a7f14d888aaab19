#include "settings/OptionsFile.h"

#include <iterator>
#include <optional>
#include <stdexcept>

#include "platform/AtomicFile.h"
#include "settings/IniLines.h"
#include "platform/PathText.h"
#include "platform/RegularFile.h"

namespace hushwell {
namespace {

// An options file is a few hundred bytes; anything far larger is some other file.
constexpr std::size_t kMaxFileSize = 1 << 20;

// A file of any length yields a message of a few lines: the first problems, then their count.
constexpr std::size_t kShownProblems = 5;

// User text quoted in a message is cut to this length.
constexpr std::size_t kQuotedLength = 60;

#ifdef _WIN32
constexpr std::string_view kNewFileLineEnd = "\r\n";
#else
constexpr std::string_view kNewFileLineEnd = "\n";
#endif

using Kind = IniLine::Kind;

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

bool isSection(std::string_view name) {
    for (const Key& key : kKeys) {
        if (sameIniName(key.section, name)) {
            return true;
        }
    }
    return false;
}

bool sets(const IniLine& line, const Key& key) {
    return line.kind == Kind::Value && line.inSection && sameIniName(line.section, key.section) &&
           sameIniName(line.key, key.name);
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

// The line that sets `key`: the last one in its section; none when no line does.
std::optional<IniLine> countingLine(std::string_view text, const Key& key) {
    std::optional<IniLine> found;
    IniLines lines(text);
    for (IniLine line; lines.next(line);) {
        if (sets(line, key)) {
            found = line;
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

    void problem(const IniLine& line, const std::string& text) {
        if (m_loaded.problems.size() < kShownProblems) {
            m_loaded.problems.push_back(m_fileName + ", line " + std::to_string(line.number) +
                                        ": " + text);
        } else {
            ++m_unshown;
        }
    }

    void finish() {
        if (m_unshown > 0) {
            m_loaded.problems.push_back("And " + std::to_string(m_unshown) + " more problem" +
                                        (m_unshown == 1 ? "" : "s") + " in " + m_fileName + ".");
        }
    }

    void flag(const IniLine& line, bool& flag) {
        if (sameIniName(line.value, "true")) {
            flag = true;
        } else if (sameIniName(line.value, "false")) {
            flag = false;
        } else {
            problem(line, std::string(line.key) + "=" + shown(line.value) +
                              " is not true or false; false is used.");
            flag = false;
        }
    }

    void program(const IniLine& line, std::string& program) {
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
    std::size_t m_unshown = 0;
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
    const bool quote = withoutBlanks(name) != name || unquoted(name) != name;
    return quote ? "\"" + name + "\"" : name;
}

std::string readWhole(const std::filesystem::path& file) {
    std::string text = readRegularFile(file, kMaxFileSize);
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
    // Per option, the line that counts (the last that sets it) and how many lines set it.
    std::optional<IniLine> counting[std::size(kKeys)];
    int setting[std::size(kKeys)] = {};
    IniLines lines(text);
    for (IniLine line; lines.next(line);) {
        bool known = false;
        for (std::size_t k = 0; k < std::size(kKeys); ++k) {
            if (sets(line, kKeys[k])) {
                counting[k] = line;
                ++setting[k];
                known = true;
            }
        }
        if (line.kind == Kind::Other) {
            reader.problem(line, "\"" + shown(withoutBlanks(line.body)) +
                                     "\" is neither a [section] nor a key=value line; it is "
                                     "ignored.");
        } else if (line.kind == Kind::Value && !line.inSection) {
            reader.problem(line, shown(line.key) + " stands before any [section]; it is ignored.");
        } else if (line.kind == Kind::Value && !known && isSection(line.section)) {
            reader.problem(line, shown(line.key) + " is not an option of [" +
                                     std::string(line.section) + "]; it is ignored.");
        }
    }
    for (std::size_t k = 0; k < std::size(kKeys); ++k) {
        const Key& key = kKeys[k];
        if (!counting[k]) {
            continue;
        }
        IniLines again(text);
        for (IniLine line;
             setting[k] > 1 && again.next(line) && line.number < counting[k]->number;) {
            if (sets(line, key)) {
                reader.problem(line, std::string(key.name) + " is set again on line " +
                                         std::to_string(counting[k]->number) +
                                         ", which counts; this line is ignored.");
            }
        }
        switch (key.option) {
            case Option::StartWithDesktop:
                reader.flag(*counting[k], loaded.options.startWithDesktop);
                break;
            case Option::HideWhenMinimized:
                reader.flag(*counting[k], loaded.options.hideWhenMinimized);
                break;
            case Option::LowerOnly:
                reader.program(*counting[k], loaded.options.lowerOnly);
                break;
        }
    }
    reader.finish();
    return loaded;
}

std::string withOption(std::string_view text, Option which, const Options& options) {
    const Key& key = keyOf(which);
    const std::string value = formatted(which, options);
    const std::string_view lineEnd = lineEndOf(text);
    std::string result(text);
    if (const std::optional<IniLine> counting = countingLine(text, key)) {
        result.replace(counting->valueBegin, counting->bodyEnd - counting->valueBegin, value);
        return result;
    }
    const std::string line = std::string(key.name) + "=" + value;
    // After the last line that is not blank of the section's last header, when there is one.
    std::optional<IniLine> after;
    std::optional<IniLine> last;
    bool inside = false;
    IniLines lines(text);
    for (IniLine each; lines.next(each); last = each) {
        if (each.kind == Kind::Section) {
            inside = sameIniName(each.section, key.section);
        }
        if (inside && each.kind != Kind::Blank) {
            after = each;
        }
    }
    const bool endless = last && text.back() != '\n';  // a last line without its end
    if (after) {
        const bool atTheEnd = after->number == last->number;
        result.insert(after->next, std::string(atTheEnd && endless ? lineEnd : "") + line +
                                       std::string(lineEnd));
        return result;
    }
    if (endless) {
        result += lineEnd;
    }
    if (last) {
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
