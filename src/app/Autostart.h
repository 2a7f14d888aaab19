#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace hushwell {

// Starting this program with the user's desktop session.
//
// Linux: a freedesktop autostart entry, $XDG_CONFIG_HOME/autostart/<program id>.desktop (by
// default ~/.config/autostart). Its Exec is "hushwell", as in the menu entry, when the running
// program is the one that PATH finds under that name; otherwise the quoted absolute path of the
// running executable (a copy run from a build folder, or moved).
//
// Windows: the value "Hushwell" under HKCU\Software\Microsoft\Windows\CurrentVersion\Run, the
// quoted path of the running executable.
//
// The entry is ours by its name: disable() removes the file or the value of that name whatever
// it holds now (the user turned the option off, so nothing may start the program any more), and
// nothing else. repair() leaves alone an entry that the user edited by hand as long as it still
// starts this copy (added arguments, an entry the desktop's own settings switched off).
//
// Every call that can fail returns nothing when it worked, else a plain-text message.
class Autostart {
public:
    struct Facts {
        std::filesystem::path program;  // the running executable
#ifndef _WIN32
        std::filesystem::path entry;  // the autostart entry's file
        std::string searchPath;       // the value of PATH
#endif
    };

    // This program in this session.
    Autostart();
    explicit Autostart(Facts facts) : m_facts(std::move(facts)) {}

    [[nodiscard]] std::optional<std::string> enable() const;
    [[nodiscard]] std::optional<std::string> disable() const;
    // True when the entry is there and the desktop will act on it.
    [[nodiscard]] bool isEnabled() const;
    // Writes the entry again when it is missing or starts another copy (one that was moved, or
    // another build); for each start with the option on.
    [[nodiscard]] std::optional<std::string> repair() const;

    // What the entry runs for this copy: Exec's value on Linux, the Run value on Windows.
    [[nodiscard]] std::string command() const;

private:
    Facts m_facts;
};

}  // namespace hushwell
