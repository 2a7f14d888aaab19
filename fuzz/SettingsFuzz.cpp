// libFuzzer target: any bytes as the settings file, through the whole start-up (the field reader,
// the conversions, the pairs and the levels). Start-up must end with the window shown whatever the
// file holds, and never crash, hang or grow without bound; whatever it loaded must save and read
// back the same.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
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
    (void)core.tick.runAndTellTime(clock.time);  // whatever was loaded takes part in a tick
    // What a save writes, in memory: a file written to the disk each run would slow the fuzzer
    // down to the disk's pace. formatSettings() throws, and so stops the fuzzer, for a text that it
    // cannot store; every text a file gave must be storable.
    StoredSettings toSave{std::to_string(core.model.level(Level::Down)),
                          std::to_string(core.model.level(Level::Up)),
                          {}};
    for (int i = 0; i < kPairCount; ++i) {
        const SettingPair& pair = core.model.pairs()[i];
        toSave.pairs[i] = {pair.down, pair.up, static_cast<int>(pair.state)};
    }
    std::istringstream in(formatSettings(toSave));
    const LoadedSettings saved = parseSettings(in, "saved");
    if (!saved.error.empty()) {
        std::abort();
    }
    for (int i = 0; i < kPairCount; ++i) {
        const SettingPair& pair = core.model.pairs()[i];
        const StoredPair& back = saved.values.pairs[i];
        if (back.down != pair.down || back.up != pair.up ||
            back.state != static_cast<int>(pair.state)) {
            std::abort();
        }
    }
    core.shutDown.restoreUpLevel();
    return 0;
}
