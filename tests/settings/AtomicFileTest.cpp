#include "settings/AtomicFile.h"

#include <gtest/gtest.h>

#include "engine/Numbers.h"
#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

std::vector<std::string> entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicFile, CreatesAndReplacesLeavingNothingElse) {
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    writeFileAtomically(file, "first");
    EXPECT_EQ(readFile(file), "first");
    writeFileAtomically(file, std::string("a\0b\r\n", 5));
    EXPECT_EQ(readFile(file), std::string("a\0b\r\n", 5));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"settings.txt"});
}

TEST(AtomicFile, AFolderThatDoesNotExistIsAnError) {
    TempDir dir;
    const auto file = dir.path() / "missing" / "settings.txt";
    EXPECT_THROW(writeFileAtomically(file, "x"), RunTimeError);
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST(AtomicFile, AFailedRenameKeepsTheOldContentAndCleansUp) {
    TempDir dir;
    const auto target = dir.path() / "settings.txt";
    std::filesystem::create_directory(target);
    writeFile(target / "inside", "old");
    try {
        writeFileAtomically(target, "new");
        FAIL() << "renaming over a folder succeeded";
    } catch (const RunTimeError& error) {
        EXPECT_NE(std::string(error.what()).find("cannot replace"), std::string::npos);
    }
    EXPECT_EQ(readFile(target / "inside"), "old");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"settings.txt"});
}

}  // namespace
}  // namespace hushwell::testing
