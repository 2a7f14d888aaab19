#pragma once

#include <QLoggingCategory>
#include <string>

namespace hushwell {

// The mixer calls, as they happen: "hushwell.mixer", off unless QT_LOGGING_RULES switches it on
// ("hushwell.mixer.info=true").
Q_DECLARE_LOGGING_CATEGORY(mixerLog)

// Records a line in mixerLog.
void logMixerCall(const std::string& line);

}  // namespace hushwell
