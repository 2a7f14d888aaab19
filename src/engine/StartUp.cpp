#include "engine/StartUp.h"

#include <algorithm>
#include <stdexcept>

#include "settings/SettingsFile.h"
#include "settings/TextNumbers.h"

namespace hushwell {
namespace {

// A stored level goes through its slider: position = 100 - the text's leading number, rounded
// half to even and kept within the slider's range; the level is 100 - that position.
void setLevelFromText(Model& model, Level level, const std::string& stored) {
    try {
        const std::int32_t position = toInt32(kMaxLevel - leadingNumber(stored));
        model.setLevel(level, kMaxLevel - std::clamp(position, 0, kMaxLevel));
    } catch (const std::out_of_range& error) {
        const std::string shown = shortened(stored);
        throw std::out_of_range(std::string("The ") + (level == Level::Down ? "Down" : "Up") +
                                " level stored in " + kSettingsFileName + ", \"" + shown +
                                "\", is out of range. " + error.what());
    }
}

// What the file gave, field by field up to an error, goes into the pairs and the levels; an error
// is reported with everything read before it in place.
StartUpOutcome readSettings(Model& model, SettingsStore& store, std::string& failure) {
    const std::optional<LoadedSettings> loaded = store.load();
    if (!loaded) {
        return StartUpOutcome::NoSettingsFile;
    }
    const StoredSettings& stored = loaded->values;
    int field = 2;
    for (Level row : {Level::Down, Level::Up}) {
        for (int i = 0; i < kPairCount && field < loaded->fieldsRead; ++i, ++field) {
            const StoredPair& pair = stored.pairs[i];
            model.setMark(row, i, row == Level::Down ? pair.down : pair.up);
        }
    }
    for (int i = 0; i < kPairCount && field < loaded->fieldsRead; ++i, ++field) {
        model.setState(i, static_cast<PairState>(stored.pairs[i].state));
    }
    failure = loaded->error;
    try {
        if (loaded->fieldsRead >= 1) {
            setLevelFromText(model, Level::Down, stored.downLevel);
        }
        if (loaded->fieldsRead >= 2) {
            setLevelFromText(model, Level::Up, stored.upLevel);
        }
    } catch (const std::out_of_range& error) {
        failure += (failure.empty() ? "" : "\n") + std::string(error.what());
    }
    return failure.empty() ? StartUpOutcome::SettingsRead : StartUpOutcome::Failed;
}

}  // namespace

StartUpOutcome startUp(Model& model, SystemVolume& volume, SettingsStore& store, UserInterface& ui,
                       bool mayWait) {
    const bool opened = volume.open();
    if (!opened && mayWait) {
        model.setAwaited(Awaited::SoundServer);
        return StartUpOutcome::WaitingForMixer;
    }
    if (model.awaited() == Awaited::SoundServer) {
        model.setAwaited(Awaited::Nothing);
    }
    if (!opened) {
        ui.showMessage("Couldn't open the mixer.");
        return StartUpOutcome::MixerNotOpened;
    }
    StartUpOutcome outcome = StartUpOutcome::Failed;
    std::string failure;
    try {
        const std::optional<std::int32_t> scale = volume.locate();
        if (!scale) {
            ui.showMessage("Sorry, Volume Control not found!");
            outcome = StartUpOutcome::ControlNotFound;
        } else {
            model.setUnitsPerPercent(unitsPerPercentFor(*scale));
            outcome = readSettings(model, store, failure);
        }
    } catch (const std::exception& error) {
        failure = error.what();
    }
    model.setAppliedVolume(model.volume(Level::Up));
    volume.setUpValue(model.volume(Level::Up));
    model.setSettingsChanged(false);
    ui.showWindow();
    if (!failure.empty()) {
        ui.showMessage(failure);
    }
    return outcome;
}

}  // namespace hushwell
