#pragma once

#include <filesystem>

namespace hushwell {

// True when an installer marked the copy in `programFolder`: its marker stands beside the program
// (Windows) or in the prefix's share/hushwell (Linux, where the program lies in the prefix's bin).
[[nodiscard]] bool isInstalledCopy(const std::filesystem::path& programFolder);

// Where "Hushwell_setup.txt" is read from and written to, decided once at start-up.
//
// A portable copy (its folder writable and no installer's marker in it) keeps the file beside
// itself. Any other copy saves in the user's folder; until it has saved there, it reads the file
// beside the program if one stands there (settings an administrator provided), and from its first
// save on, the file it saved.
class SettingsLocation {
public:
    struct Facts {
        std::filesystem::path programFolder;
        std::filesystem::path userFolder;  // empty: unknown
        bool programFolderWritable = false;
        bool installed = false;  // the installer's marker stands beside the program
    };

    // One file for both; for tests and tools.
    [[nodiscard]] static SettingsLocation at(const std::filesystem::path& file);
    [[nodiscard]] static SettingsLocation decide(const Facts& facts);
    // decide() with the facts of this program on this machine.
    [[nodiscard]] static SettingsLocation forThisProgram();

    [[nodiscard]] const std::filesystem::path& loadFrom() const { return m_loadFrom; }
    [[nodiscard]] const std::filesystem::path& saveTo() const { return m_saveTo; }
    // After a save: from now on the settings are read where they were written.
    void saved() { m_loadFrom = m_saveTo; }

private:
    SettingsLocation(std::filesystem::path loadFrom, std::filesystem::path saveTo)
        : m_loadFrom(std::move(loadFrom)), m_saveTo(std::move(saveTo)) {}

    std::filesystem::path m_loadFrom;
    std::filesystem::path m_saveTo;
};

}  // namespace hushwell
