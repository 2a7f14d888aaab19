#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace hushwell {

// Starting this program with the user's desktop session, with the argument "--autostart".
//
// Linux: a freedesktop autostart entry, $XDG_CONFIG_HOME/autostart/<program id>.desktop (by
// default ~/.config/autostart). Its Exec runs "hushwell", as the menu entry does, when the running
// program is the one that PATH finds under that name; otherwise the quoted absolute path of the
// running executable (a copy run from a build folder, or moved), through env when the path holds
// a '%' (GLib looks for the program before it replaces field codes, so no such path can come
// first).
//
// Windows: the value "Hushwell" under HKCU\Software\Microsoft\Windows\CurrentVersion\Run, the
// quoted path of the running executable. Task Manager and the Settings app switch it off and on
// with a value of the same name under ...\Explorer\StartupApproved\Run.
//
// The entry is ours by its name: disable() removes the file or the value of that name whatever
// it holds now (the user turned the option off, so nothing may start the program any more), and
// nothing else. An entry that starts this copy is kept as the user edited it (other arguments,
// wrapped in env or a shell, other keys and comments), and only gains the argument, right after
// the program's name, where it lacks it. An entry that the desktop's own settings switched off
// stays off: repair() leaves it, isEnabled() is false, and only enable(), the user's own choice,
// switches it on.
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

    [[nodiscard]] std::optional<std::string> enable() const {
        return write(true);
    }
    [[nodiscard]] std::optional<std::string> disable() const;
    // True when the entry is there and the desktop will act on it.
    [[nodiscard]] bool isEnabled() const;
    // Writes the entry again when it is missing or starts another copy (one that was moved, or
    // another build), and gives the argument to an entry that starts this copy without it; for
    // each start with the option on.
    [[nodiscard]] std::optional<std::string> repair() const {
        return write(false);
    }

private:
    [[nodiscard]] std::optional<std::string> write(bool switchOn) const;

    Facts m_facts;
};

// Turns "Start with the desktop" on or off: the saved option and the entry together, or neither.
// `save(on)` saves the option, throwing std::runtime_error with a plain-text message when it
// cannot; `saved` is its value saved now. The option is saved first, so that an option that
// cannot be saved changes nothing; when the entry then cannot be changed, the option is saved
// back. A message that does not name the entry's state ends by saying it.
[[nodiscard]] inline std::optional<std::string> setStartWithDesktop(
    const Autostart& autostart, bool on, bool saved, const std::function<void(bool)>& save) {
    const auto now = [&autostart] {
        return autostart.isEnabled() ? std::string(" Hushwell still starts with the desktop.")
                                     : std::string(" Hushwell does not start with the desktop.");
    };
    try {
        save(on);
    } catch (const std::runtime_error& error) {
        return error.what() + now();
    }
    std::optional<std::string> error = on ? autostart.enable() : autostart.disable();
    if (!error) {
        return std::nullopt;
    }
    try {
        save(saved);
    } catch (const std::runtime_error& saveError) {
        return *error + " " + saveError.what() + now();
    }
    return error;
}

}  // namespace hushwell
