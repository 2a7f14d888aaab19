#pragma once

namespace hushwell {

// The program's name, as its window and messages show it; also its folder's name in the user's
// configuration folder (and on Windows in the local application data folder).
constexpr const char* kProgramName = "Hushwell";
// Its identifier: the name of its desktop entry, and the stem of the name of its one-copy claim.
constexpr const char* kProgramId = "io.github.hushwell.Hushwell";
// Its command, and its folders' name where such names are lowercase: the installation prefix's
// share/ and the user's state folder (Linux).
constexpr const char* kCommandName = "hushwell";
// The argument with which the desktop starts it at log-in (the autostart entry, the Run value).
constexpr const char* kAutostartOption = "--autostart";

// The settings file, beside the program or in the user's configuration folder.
constexpr const char* kSettingsFileName = "Hushwell_setup.txt";
// The user's options, beside the settings file.
constexpr const char* kOptionsFileName = "Hushwell_options.ini";
// The file an installer leaves with an installed copy of the program.
constexpr const char* kInstalledMarkerName = "installed.txt";
// The record of a held volume, in the program's state folder.
constexpr const char* kHeldRecordFileName = "held";

}  // namespace hushwell
