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

// The arguments that an Exec value gives: its string escapes undone, split at blanks outside
// quotes (double quotes with their backslash escapes, and single quotes, which GLib also takes),
// "%%" made '%' and every other field code dropped.
[[nodiscard]] std::vector<std::string> execArguments(std::string_view value);

// The names of the programs that a command line starts: its first argument once the programs
// that only start another are passed over (env with its options and assignments, nohup, exec),
// and for a shell given a script (sh -c "..."), the program of each command of the script.
[[nodiscard]] std::vector<std::string> startedPrograms(const std::vector<std::string>& arguments);

}  // namespace hushwell
