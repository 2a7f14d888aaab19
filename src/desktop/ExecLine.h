#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hushwell {

// The Exec value of a freedesktop desktop entry, as it stands in the file: written for one
// program, and read back as the desktop reads it.

// `argument` as one argument of Exec: quoted, with the characters that the quotes reserve
// escaped, '%' doubled (field codes), and then the escapes of every string value. Nothing when
// it is not UTF-8 text, which no desktop entry can hold.
[[nodiscard]] std::optional<std::string> execArgument(std::string_view argument);

// A program that an Exec value starts: its name as written (a path, or a name to look for on
// PATH), the arguments after it in its command, and where in the value its name ends.
struct StartedProgram {
    std::string name;
    std::vector<std::string> arguments;
    std::size_t end = 0;
};

// The programs that an Exec value starts, read as GLib reads it (string escapes, then quotes and
// field codes): its first argument once the programs that only start another are passed over
// (env with its options and assignments, nohup, exec), and for a shell given a script
// (sh -c "..."), the program of each command of the script.
[[nodiscard]] std::vector<StartedProgram> startedPrograms(std::string_view value);

// `value` with `argument` (a plain word: no blanks, quotes or '%') given to its started program
// number `program`, first, before the arguments it had; every other byte kept. Nothing when no
// such argument can stand there (a script that is not quoted in the value).
[[nodiscard]] std::optional<std::string> withArgument(std::string_view value, std::size_t program,
                                                      const std::string& argument);

}  // namespace hushwell
