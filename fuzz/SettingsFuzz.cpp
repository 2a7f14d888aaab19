// libFuzzer target: any bytes as the settings file, through the whole start-up (the field reader,
// the conversions, the pairs and the set-up of the sliders). Start-up must end with the window
// shown whatever the file holds, and never crash, hang or grow without bound.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/Hushwell.h"
#include "mixer/MemoryMixer.h"

namespace {

using namespace hushwell;

class QuietUi final : public UserInterface {
public:
    int shows = 0;
    void showMessage(const std::string&) override {}
    bool askYesNo(const std::string&) override { return false; }
    void showWindow() override { ++shows; }
    void focusDownSlider() override {}
    void processPendingEvents() override {}
};

class FixedClock final : public Clock {
public:
    TimeOfDay now() const override { return {14, 20, 1, 0}; }
};

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
    MemoryMixer mixer;
    FixedClock clock;
    QuietUi ui;
    Hushwell program(mixer, clock, ui, SettingsLocation::at(file()));
    (void)program.startUp();
    if (ui.shows != 1 || program.state().settingsChanged) {
        std::abort();
    }
    program.resize(false);
    program.tick();  // whatever was loaded takes part in a tick
    program.unload();
    return 0;
}
