#include "ui/WindowStatus.h"

#include "engine/StartUp.h"

namespace hushwell {

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
