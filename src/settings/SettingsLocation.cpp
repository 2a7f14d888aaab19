#include "settings/SettingsLocation.h"

#include "platform/ProgramNames.h"
#include "platform/ProgramPaths.h"
#include "platform/RegularFile.h"
#include "platform/WritableFolder.h"
#include "settings/SettingsFile.h"

namespace hushwell {

bool isInstalledCopy(const std::filesystem::path& programFolder) {
    return ordinaryFileExists(programFolder / kInstalledMarkerName) ||
           ordinaryFileExists(programFolder.parent_path() / "share" / kCommandName /
                              kInstalledMarkerName);
}

SettingsLocation SettingsLocation::at(const std::filesystem::path& file) {
    return {file, file};
}

SettingsLocation SettingsLocation::decide(const Facts& facts) {
    const std::filesystem::path beside = facts.programFolder / kSettingsFileName;
    if ((facts.programFolderWritable && !facts.installed) || facts.userFolder.empty()) {
        return {beside, beside};
    }
    const std::filesystem::path user = facts.userFolder / kSettingsFileName;
    const bool readBeside = !ordinaryFileExists(user) && ordinaryFileExists(beside);
    return {readBeside ? beside : user, user};
}

SettingsLocation SettingsLocation::forThisProgram() {
    const std::filesystem::path program = ProgramPaths::executableFolder();
    return decide({program, ProgramPaths::configFolder(), folderIsWritable(program),
                   isInstalledCopy(program)});
}

}  // namespace hushwell
