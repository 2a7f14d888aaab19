#include "settings/OptionsReading.h"

#include <iterator>
#include <optional>

#include "settings/IniLines.h"
#include "settings/OptionText.h"

namespace hushwell {
namespace {

// A file of any length yields a message of a few lines: the first problems, then their count.
constexpr std::size_t kShownProblems = 5;

using Kind = IniLine::Kind;

// Takes each option's value from the line that counts, and keeps the problems for the message.
class ValueReader {
public:
    ValueReader(const std::string& fileName, LoadedOptions& loaded)
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
            problem(line, std::string(line.key) + "=" + quotedInMessage(line.value) +
                              " is not true or false; false is used.");
            flag = false;
        }
    }

    void programName(const IniLine& line, std::string& program) {
        const std::string_view name = unquoted(line.value);
        const auto wrong = [&](const std::string& what) {
            problem(line, std::string(line.key) + "=" + quotedInMessage(name) + " " + what +
                              "; the whole computer is lowered.");
            program.clear();
        };
        if (utf8Length(name) > kMaxProgramNameLength) {
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

}  // namespace

LoadedOptions parseOptions(std::string_view text, const std::string& fileName) {
    LoadedOptions loaded;
    if (text.find('\0') != std::string_view::npos) {
        loaded.problems.push_back(fileName + " is not a text file; the defaults are used.");
        return loaded;
    }
    ValueReader reader(fileName, loaded);
    // Per option, the line that counts (the last that sets it) and how many lines set it.
    std::optional<IniLine> counting[std::size(kOptionKeys)];
    int setting[std::size(kOptionKeys)] = {};
    IniLines lines(text);
    for (IniLine line; lines.next(line);) {
        bool known = false;
        for (std::size_t k = 0; k < std::size(kOptionKeys); ++k) {
            if (setsOption(line, kOptionKeys[k])) {
                counting[k] = line;
                ++setting[k];
                known = true;
            }
        }
        if (line.kind == Kind::Other) {
            reader.problem(line, "\"" + quotedInMessage(withoutBlanks(line.body)) +
                                     "\" is neither a [section] nor a key=value line; it is "
                                     "ignored.");
        } else if (line.kind == Kind::Value && !line.inSection) {
            reader.problem(
                line, quotedInMessage(line.key) + " stands before any [section]; it is ignored.");
        } else if (line.kind == Kind::Value && !known && isOptionSection(line.section)) {
            reader.problem(line, quotedInMessage(line.key) + " is not an option of [" +
                                     std::string(line.section) + "]; it is ignored.");
        }
    }
    for (std::size_t k = 0; k < std::size(kOptionKeys); ++k) {
        const OptionKey& key = kOptionKeys[k];
        if (!counting[k]) {
            continue;
        }
        IniLines again(text);
        for (IniLine line;
             setting[k] > 1 && again.next(line) && line.number < counting[k]->number;) {
            if (setsOption(line, key)) {
                reader.problem(line, std::string(key.name) + " is set again on line " +
                                         std::to_string(counting[k]->number) +
                                         ", which counts; this line is ignored.");
            }
        }
        if (key.flag) {
            reader.flag(*counting[k], loaded.options.*key.flag);
        } else {
            reader.programName(*counting[k], loaded.options.lowerOnly);
        }
    }
    reader.finish();
    return loaded;
}

}  // namespace hushwell
