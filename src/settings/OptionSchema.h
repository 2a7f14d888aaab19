#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "settings/IniLines.h"

namespace hushwell {

// A program's name longer than this is not one (Windows allows 260 characters in a path).
constexpr std::size_t kMaxProgramNameLength = 260;

// The user's options; the defaults are what a run without the file does.
struct Options {
    bool startWithDesktop = false;
    bool hideWhenMinimized = false;
    std::string lowerOnly;  // empty: the whole computer; else a program's name
    bool followStation = false;
};

enum class Option { StartWithDesktop, HideWhenMinimized, LowerOnly, FollowStation };

// Where an option stands in the file, and its value when it is a flag ("true" or "false").
struct OptionKey {
    Option option;
    std::string_view section;
    std::string_view name;
    bool Options::*flag = nullptr;
};

constexpr OptionKey kOptionKeys[] = {
    {Option::StartWithDesktop, "General", "StartWithDesktop", &Options::startWithDesktop},
    {Option::HideWhenMinimized, "Tray", "HideWhenMinimized", &Options::hideWhenMinimized},
    {Option::LowerOnly, "Lower", "Only"},
    {Option::FollowStation, "Listen", "FollowStation", &Options::followStation},
};

[[nodiscard]] const OptionKey& keyOf(Option option);

// Whether `section` is one of the program's own (not one a later version may add).
[[nodiscard]] bool isOptionSection(std::string_view section);

[[nodiscard]] bool setsOption(const IniLine& line, const OptionKey& key);

// `text` with the value of `which` set to its value in `options`, every other line left as it
// was: the line that counts is rewritten after its '=', or a line is added to the section (and
// the section to the end of the file) when there is none. Throws std::invalid_argument when a
// program's name cannot be written (a line break in it, too long).
[[nodiscard]] std::string withOption(std::string_view text, Option which, const Options& options);

}  // namespace hushwell
