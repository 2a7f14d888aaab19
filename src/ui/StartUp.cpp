#include "ui/StartUp.h"

#include "ui/MainWindow.h"

namespace hushwell {

StartUpOutcome startUp(MainWindow& window, Hushwell& program) {
    const StartUpOutcome outcome = program.startUp();
    window.show();
    if (outcome == StartUpOutcome::MixerNotOpened) {
        window.focusFirstControl();
    }
    return outcome;
}

}  // namespace hushwell
