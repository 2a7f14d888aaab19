// libFuzzer target: any bytes as the settings file, through the whole start-up (the field reader,
// the conversions, the pairs and the levels). Start-up must end with the window shown whatever the
// file holds, and never crash, hang or grow without bound.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/Core.h"
#include "settings/FileSettingsStore.h"
#include "settings/SettingsFile.h"
#include "support/FakeVolume.h"
#include "support/Fakes.h"

namespace {

using namespace hushwell;

const std::filesystem::path& file() {
    static const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                              ("hushwell-fuzz-" + std::to_string(getpid())) /
                                              kSettingsFileName;
    static const bool made = std::filesystem::create_directories(path.parent_path());
    (void)made;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(file(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    testing::FakeVolume volume;
    testing::FakeClock clock;
    testing::ScriptedUi ui;
    FileSettingsStore store(SettingsLocation::at(file()));
    Core core(volume, clock, ui, store);
    (void)core.startUp();
    if (ui.log.empty() || ui.log[0] != "show" || core.model.settingsChanged()) {
        std::abort();
    }
    (void)core.tick.run();  // whatever was loaded takes part in a tick
    core.shutDown.restoreUpLevel();
    return 0;
}
