#include "ui/WindowStatus.h"

namespace hushwell {

const char* awaitedText(Awaited awaited) {
    switch (awaited) {
        case Awaited::SoundServer:
            return "Waiting for the sound server...";
        case Awaited::Output:
            return "Waiting for an audio output...";
        case Awaited::Nothing:
            break;
    }
    return "";
}

WindowStatus windowStatus(const Model& model) {
    const std::optional<Level> sent = model.lastSent();
    const std::string awaited = awaitedText(model.awaited());
    return {!awaited.empty()       ? awaited
            : !sent                ? kProgramName
            : *sent == Level::Down ? "DOWN"
                                   : "UP",
            model.awaited() != Awaited::SoundServer};
}

}  // namespace hushwell
