#pragma once

#include <filesystem>
#include <istream>
#include <string>

#include "platform/ProgramNames.h"
#include "settings/SettingsStore.h"

namespace hushwell {

// The whole file: four CR LF lines, fields joined by single commas, texts written as they stand,
// Active states as blank-digits-blank. A text that would not read back as it stands (a separator
// in it, blanks at an end, a quote in front) is written between double quotes; one that no form
// gives back makes it throw std::runtime_error naming the field.
[[nodiscard]] std::string formatSettings(const StoredSettings& settings);

// Reads the levels, the eight Down marks, the eight Up marks and the eight Active states, one
// field at a time, up to the first error; `fileName` names the file in the error.
[[nodiscard]] LoadedSettings parseSettings(std::istream& in, const std::string& fileName);

// The message for a settings file `fileName` that could not be read: `reason` says why.
[[nodiscard]] std::string loadFailure(const std::string& fileName, const std::string& reason);

}  // namespace hushwell
