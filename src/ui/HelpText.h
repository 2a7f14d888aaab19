#pragma once

#include <string>

namespace hushwell {

// The online radio directory that the closing sentence of the help points to.
constexpr const char* kRadioDirectory = "https://tunein.com/";
constexpr const char* kTalkRadioDirectory = "https://tunein.com/talk/";

// The instructions that the Help button shows, as one paragraph.
[[nodiscard]] std::string helpMessage();

}  // namespace hushwell
