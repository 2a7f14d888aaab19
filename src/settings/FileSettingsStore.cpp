#include "settings/FileSettingsStore.h"

#include <fstream>
#include <stdexcept>

#include "platform/AtomicFile.h"
#include "platform/PathText.h"
#include "platform/RegularFile.h"
#include "settings/SettingsFile.h"

namespace hushwell {

std::optional<LoadedSettings> FileSettingsStore::load() {
    const std::filesystem::path& file = m_location.loadFrom();
    if (!ordinaryFileExists(file)) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        LoadedSettings unread;
        unread.error = loadFailure(pathText(file), "the file cannot be opened");
        return unread;
    }
    return parseSettings(in, pathText(file));
}

void FileSettingsStore::save(const StoredSettings& settings) {
    const std::filesystem::path& file = m_location.saveTo();
    const bool hadFile = ordinaryFileExists(file);
    try {
        // The user's configuration folder is made on the first save that needs it.
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        writeFileAtomically(file, formatSettings(settings));
    } catch (const std::exception& error) {
        throw std::runtime_error("Couldn't save the settings to \"" + pathText(file) +
                                 "\": " + error.what() + "." +
                                 (hadFile ? " The settings saved earlier are unchanged." : ""));
    }
    m_location.saved();
}

}  // namespace hushwell
