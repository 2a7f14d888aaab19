#pragma once

#include <filesystem>

#include "platform/ProgramNames.h"
#include "settings/OptionSchema.h"
#include "settings/OptionsReading.h"
#include "settings/SettingsLocation.h"

namespace hushwell {

// "Hushwell_options.ini" in the settings file's folder.
//
// The file is read where the settings are saved; while there is none there, the one beside the
// settings that are read (options an administrator provided beside the program), if any. Each
// save reads the file again, so that what the user edited by hand in the meantime is kept, and
// replaces it atomically where the settings are saved.
class OptionsFile {
public:
    OptionsFile(std::filesystem::path loadFrom, std::filesystem::path saveTo)
        : m_loadFrom(std::move(loadFrom)), m_saveTo(std::move(saveTo)) {}
    explicit OptionsFile(const std::filesystem::path& file) : OptionsFile(file, file) {}
    [[nodiscard]] static OptionsFile besideSettings(const SettingsLocation& settings);

    // A missing file gives the defaults and no problem; one that cannot be read, is not an
    // ordinary file, is larger than 1 MB or is not text gives the defaults and one problem.
    [[nodiscard]] LoadedOptions load() const;

    // Saves `which` with its value in `options`. Throws std::runtime_error with a plain-text
    // message when it cannot (the file cannot be read or written); the file is then as it was.
    void save(Option which, const Options& options);

    [[nodiscard]] const std::filesystem::path& saveTo() const { return m_saveTo; }

private:
    [[nodiscard]] const std::filesystem::path& current() const;

    std::filesystem::path m_loadFrom;
    std::filesystem::path m_saveTo;
};

}  // namespace hushwell
