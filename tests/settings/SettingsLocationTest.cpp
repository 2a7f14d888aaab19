#include "settings/SettingsLocation.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "settings/SettingsFile.h"
#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

TEST(SettingsLocation, BesideTheProgramWhenAFileIsThereOrTheFolderIsWritable) {
    const struct {
        const char* name;
        bool fileBeside;
        bool writable;
        bool beside;
    } cases[] = {{"PortableCopy", false, true, true},
                 {"ExistingFileInAReadOnlyFolder", true, false, true},
                 {"InstalledCopy", false, false, false}};
    for (const auto& c : cases) {
        TempDir program;
        TempDir user;
        if (c.fileBeside) {
            writeFile(program.path() / kSettingsFileName, "");
        }
        const auto chosen = chooseSettingsFile(program.path(), user.path() / "Hushwell",
                                               [&](const auto&) { return c.writable; });
        EXPECT_EQ(chosen,
                  (c.beside ? program.path() : user.path() / "Hushwell") / kSettingsFileName)
            << c.name;
    }
}

TEST(SettingsLocation, TheUserFolderFollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string keep = saved != nullptr ? saved : "";
    setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(userSettingsFolder(), std::filesystem::path("/somewhere/config/Hushwell"));
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored, as the standard says
    setenv("HOME", "/home/listener", 1);
    EXPECT_EQ(userSettingsFolder(), std::filesystem::path("/home/listener/.config/Hushwell"));
    if (saved != nullptr) {
        setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(SettingsLocation, AWritableFolderIsFoundByTrying) {
    TempDir dir;
    EXPECT_TRUE(folderIsWritable(dir.path()));
    EXPECT_FALSE(folderIsWritable(dir.path() / "missing"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace hushwell::testing
