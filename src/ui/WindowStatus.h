#pragma once

#include <string>

#include "engine/Model.h"
#include "platform/ProgramNames.h"

namespace hushwell {

// What the window shows of the volume, beside the pairs and the levels: the title tells what the
// volume waits for, else the level last sent to the mixer, the program's name until one was; while
// start-up waits for the server the window takes no edits, since the settings, still to be read,
// would overwrite them.
struct WindowStatus {
    std::string title = kProgramName;
    bool takesEdits = true;
};

[[nodiscard]] WindowStatus windowStatus(const Model& model);
// What the window's title and the tray's tooltip say while `awaited` is waited for; empty for
// nothing.
[[nodiscard]] const char* awaitedText(Awaited awaited);

}  // namespace hushwell
