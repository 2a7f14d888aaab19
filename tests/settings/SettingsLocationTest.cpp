#include "settings/SettingsLocation.h"

#include <gtest/gtest.h>

#include "settings/SettingsFile.h"
#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

enum class Place { Beside, User };

struct Situation {
    const char* name;
    bool fileBeside;
    bool fileInUserFolder;
    bool writable;
    bool installed;
    bool userFolderKnown;
    Place load;
    Place save;
};

void PrintTo(const Situation& c, std::ostream* out) {
    *out << c.name;
}

class SettingsLocationDecision : public ::testing::TestWithParam<Situation> {};

TEST_P(SettingsLocationDecision, ReadsAndWritesWhereTheCopyCan) {
    const Situation& c = GetParam();
    TempDir program;
    TempDir user;
    if (c.fileBeside) {
        writeFile(program.path() / kSettingsFileName, "");
    }
    if (c.fileInUserFolder) {
        writeFile(user.path() / kSettingsFileName, "");
    }
    SettingsLocation location = SettingsLocation::decide(
        {program.path(), c.userFolderKnown ? user.path() : std::filesystem::path(), c.writable,
         c.installed});
    const auto file = [&](Place place) {
        return (place == Place::Beside ? program.path() : user.path()) / kSettingsFileName;
    };
    EXPECT_EQ(location.loadFrom(), file(c.load));
    EXPECT_EQ(location.saveTo(), file(c.save));
    location.saved();
    EXPECT_EQ(location.loadFrom(), file(c.save)) << "after a save the saved file is read";
}

INSTANTIATE_TEST_SUITE_P(
    Copies, SettingsLocationDecision,
    ::testing::Values(
        Situation{"Portable", false, false, true, false, true, Place::Beside, Place::Beside},
        Situation{"PortableWithItsFile", true, true, true, false, true, Place::Beside,
                  Place::Beside},
        Situation{"InstalledInAWritableFolder", false, false, true, true, true, Place::User,
                  Place::User},
        Situation{"ReadOnlyFolder", false, false, false, false, true, Place::User, Place::User},
        Situation{"ReadOnlyFolderWithAProvidedFile", true, false, false, false, true, Place::Beside,
                  Place::User},
        Situation{"InstalledWithAProvidedFile", true, false, true, true, true, Place::Beside,
                  Place::User},
        Situation{"ProvidedFileOnceTheUserSaved", true, true, false, false, true, Place::User,
                  Place::User},
        Situation{"NoUserFolder", true, false, false, false, false, Place::Beside, Place::Beside}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct Marker {
    const char* name;
    const char* file;  // relative to the prefix; the program lies in its "bin"
    bool installed;
};

void PrintTo(const Marker& m, std::ostream* out) {
    *out << m.name;
}

class InstalledCopy : public ::testing::TestWithParam<Marker> {};

// The installer's marker: beside the program on Windows, in the prefix's share/hushwell on Linux.
TEST_P(InstalledCopy, IsToldByTheInstallersMarker) {
    const Marker& m = GetParam();
    TempDir prefix;
    std::filesystem::create_directories(prefix.path() / "bin");
    if (m.file != nullptr) {
        std::filesystem::create_directories((prefix.path() / m.file).parent_path());
        writeFile(prefix.path() / m.file, "installed");
    }
    EXPECT_EQ(isInstalledCopy(prefix.path() / "bin"), m.installed);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, InstalledCopy,
    ::testing::Values(Marker{"None", nullptr, false},
                      Marker{"BesideTheProgram", "bin/installed.txt", true},
                      Marker{"InThePrefixShare", "share/hushwell/installed.txt", true},
                      Marker{"OfAnotherProgram", "share/other/installed.txt", false},
                      Marker{"AFolderOfThatName", "bin/installed.txt/x", false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace hushwell::testing
