#pragma once

#include "engine/Hushwell.h"

namespace hushwell {

class MainWindow;

// Runs the start-up sequence and shows the window, as the program's main window, whatever the
// outcome; when the mixer would not open, the focus starts on the first control of the Tab order.
StartUpOutcome startUp(MainWindow& window, Hushwell& program);

}  // namespace hushwell
