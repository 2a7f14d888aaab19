#include "app/MixerLog.h"

namespace hushwell {

Q_LOGGING_CATEGORY(mixerLog, "hushwell.mixer", QtWarningMsg)

void logMixerCall(const std::string& line) {
    qCInfo(mixerLog, "%s", line.c_str());
}

}  // namespace hushwell
