#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/ProgramPaths.h"
#include "platform/WritableFolder.h"
#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

TEST(ProgramPaths, TheConfigFolderFollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string keep = saved != nullptr ? saved : "";
    setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(ProgramPaths::configFolder(), std::filesystem::path("/somewhere/config/Hushwell"));
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored, as the standard says
    setenv("HOME", "/home/listener", 1);
    EXPECT_EQ(ProgramPaths::configFolder(),
              std::filesystem::path("/home/listener/.config/Hushwell"));
    if (saved != nullptr) {
        setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(WritableFolder, IsAskedOfTheSystem) {
    TempDir dir;
    EXPECT_TRUE(folderIsWritable(dir.path()));
    EXPECT_FALSE(folderIsWritable(dir.path() / "missing"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace hushwell::testing
