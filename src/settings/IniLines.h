#pragma once

#include <cstddef>
#include <string_view>

namespace hushwell {

// One line of an INI text: "[Section]" lines, "Key=value" lines, comments starting with ';' or
// '#', blank lines. The views and offsets point into the text the line was read from.
struct IniLine {
    enum class Kind { Blank, Comment, Section, Value, Other };

    int number = 0;  // from 1
    Kind kind = Kind::Blank;
    std::string_view body;       // without its line end
    std::string_view section;    // Section: its name; Value: the section it stands in
    bool inSection = false;      // Value: a section header came before it
    std::string_view key;        // Value: without the blanks around it
    std::string_view value;      // Value: without the blanks around it
    std::size_t valueBegin = 0;  // Value: where the value's place starts, after '=' and blanks
    std::size_t bodyEnd = 0;     // where the line end starts
    std::size_t next = 0;        // where the next line starts
};

// The lines of an INI text, one at a time, so that reading a text of any length takes no memory
// beyond the text. A UTF-8 byte order mark is skipped; LF and CR LF line ends are accepted.
class IniLines {
public:
    explicit IniLines(std::string_view text);

    // The next line; false after the last.
    [[nodiscard]] bool next(IniLine& line);

private:
    std::string_view m_text;
    std::size_t m_at = 0;
    int m_number = 0;
    std::string_view m_section;
    bool m_inSection = false;
};

// INI names (sections, keys) and words such as true and false match whatever their ASCII case.
[[nodiscard]] bool sameIniName(std::string_view a, std::string_view b);

// Whether `line` gives `key` a value in `section`, names matched as sameIniName does.
[[nodiscard]] bool setsIniKey(const IniLine& line, std::string_view section, std::string_view key);

// `text` without the blanks (spaces, tabs) at either end.
[[nodiscard]] std::string_view withoutBlanks(std::string_view text);

}  // namespace hushwell
