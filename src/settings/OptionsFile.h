#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProgramNames.h"
#include "settings/SettingsLocation.h"

namespace hushwell {

// A program's name longer than this is not one (Windows allows 260 characters in a path).
constexpr std::size_t kMaxProgramNameLength = 260;

// The user's options; the defaults are what a run without the file does.
struct Options {
    bool startWithDesktop = false;
    bool hideWhenMinimized = false;
    std::string lowerOnly;  // empty: the whole computer; else a program's name
};

enum class Option { StartWithDesktop, HideWhenMinimized, LowerOnly };

struct LoadedOptions {
    Options options;
    // Plain-text messages, one per thing that is wrong, each naming the file, the line and the
    // default that is used instead; after the first few, one that counts the rest. Empty when the
    // file is fine or missing.
    std::vector<std::string> problems;
};

// Reads the text of an options file, in one pass per option over the text and in memory that does
// not grow with it. `fileName` names the file in the problems.
//
// The file is INI: "[Section]" lines, "Key=value" lines, comments starting with ';' or '#',
// blank lines; a UTF-8 byte order mark and CR LF line ends are accepted. Sections, keys and the
// words true and false are matched whatever their case, and blanks around them are ignored. When
// a key is given more than once, the last line counts. Unknown keys of the program's sections are
// reported (likely typing errors); unknown sections are not (they may come from a later version).
[[nodiscard]] LoadedOptions parseOptions(std::string_view text, const std::string& fileName);

// `text` with the value of `which` set to its value in `options`, every other line left as it
// was: the line that counts is rewritten after its '=', or a line is added to the section (and
// the section to the end of the file) when there is none. Throws std::invalid_argument when a
// program's name cannot be written (a line break in it, too long).
[[nodiscard]] std::string withOption(std::string_view text, Option which, const Options& options);

// "Hushwell_options.ini" in the settings file's folder.
//
// The file is read where the settings are saved; while there is none there, the one beside the
// settings that are read (options an administrator provided beside the program), if any. Each
// save reads the file again, so that what the user edited by hand in the meantime is kept, and
// replaces it atomically where the settings are saved.
class OptionsFile {
public:
    OptionsFile(std::filesystem::path loadFrom, std::filesystem::path saveTo)
        : m_loadFrom(std::move(loadFrom)), m_saveTo(std::move(saveTo)) {}
    explicit OptionsFile(const std::filesystem::path& file) : OptionsFile(file, file) {}
    [[nodiscard]] static OptionsFile besideSettings(const SettingsLocation& settings);

    // A missing file gives the defaults and no problem; one that cannot be read, is not an
    // ordinary file, is larger than 1 MB or is not text gives the defaults and one problem.
    [[nodiscard]] LoadedOptions load() const;

    // Saves `which` with its value in `options`. Throws std::runtime_error with a plain-text
    // message when it cannot (the file cannot be read or written); the file is then as it was.
    void save(Option which, const Options& options);

    [[nodiscard]] const std::filesystem::path& saveTo() const { return m_saveTo; }

private:
    [[nodiscard]] const std::filesystem::path& current() const;

    std::filesystem::path m_loadFrom;
    std::filesystem::path m_saveTo;
};

}  // namespace hushwell
