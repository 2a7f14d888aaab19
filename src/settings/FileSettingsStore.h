#pragma once

#include "settings/SettingsLocation.h"
#include "settings/SettingsStore.h"

namespace hushwell {

// The settings in "Hushwell_setup.txt", where the location says: read as the file gives them,
// written whole and atomically, the folder made on the first save that needs it.
class FileSettingsStore final : public SettingsStore {
public:
    explicit FileSettingsStore(SettingsLocation location) : m_location(std::move(location)) {}

    [[nodiscard]] std::optional<LoadedSettings> load() override;
    void save(const StoredSettings& settings) override;

    [[nodiscard]] const SettingsLocation& location() const { return m_location; }

private:
    SettingsLocation m_location;
};

}  // namespace hushwell
