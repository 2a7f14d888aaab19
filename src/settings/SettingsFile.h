#pragma once

#include <filesystem>
#include <istream>
#include <string>

#include "engine/Pairs.h"

namespace hushwell {

constexpr const char* kSettingsFileName = "Hushwell_setup.txt";

// The two level texts of the first line, held until the sliders are set from them.
struct StoredLevels {
    std::string down;
    std::string up;
};

// The whole file: four CR LF lines, fields joined by single commas, texts written as they stand,
// Active states as blank-digits-blank.
[[nodiscard]] std::string formatSettings(const StoredLevels& levels, const Pairs& pairs);

// Reads the levels, then the eight Down marks, the eight Up marks and the eight Active states into
// `pairs`, one field at a time; a state field of 0 also paints its pair button face. On the first
// error it throws RunTimeError naming the file and the field, with everything before it loaded.
[[nodiscard]] StoredLevels loadSettings(const std::filesystem::path& file, Pairs& pairs);
// The same from a stream; `name` names the file in the error messages.
[[nodiscard]] StoredLevels loadSettings(std::istream& in, const std::string& name, Pairs& pairs);

// True only for an ordinary file: a folder, or on Windows a hidden or system file, counts as
// absent.
[[nodiscard]] bool ordinaryFileExists(const std::filesystem::path& file);

}  // namespace hushwell
