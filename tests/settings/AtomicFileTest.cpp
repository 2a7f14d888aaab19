#include "settings/AtomicFile.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/Fakes.h"

#include <unistd.h>

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
    EXPECT_THROW(writeFileAtomically(file, "x"), std::runtime_error);
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
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("cannot replace"), std::string::npos);
    }
    EXPECT_EQ(readFile(target / "inside"), "old");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"settings.txt"});
}

// The system's calls, with the step named `failing` made to fail as a full or broken disk would.
struct FailingCalls {
    static inline std::string failing;
    static FileCalls make() {
        const FileCalls& real = systemFileCalls();
        static const FileCalls* system = &real;
        return {
            [](const char* path, int flags, unsigned mode) {
                return failing == "create" ? (errno = EACCES, -1) : system->open(path, flags, mode);
            },
            [](int fd, const void* data, unsigned long size) {
                if (failing == "short write") {
                    // Half the bytes go out, then the disk is full.
                    static bool half = false;
                    half = !half;
                    return half ? system->write(fd, data, size / 2) : 0L;
                }
                return failing == "write" ? (errno = EIO, -1L) : system->write(fd, data, size);
            },
            [](int fd) { return failing == "flush" ? (errno = EIO, -1) : system->fsync(fd); },
            [](int fd) {
                const int result = system->close(fd);
                return failing == "close" ? (errno = EIO, -1) : result;
            },
            [](const char* from, const char* to) {
                return failing == "rename" ? (errno = EXDEV, -1) : system->rename(from, to);
            },
            system->temporarySuffix,
        };
    }
};

TEST(AtomicFile, AFailureAtAnyStepLeavesTheOldFileWhole) {
    const struct {
        const char* step;
        const char* message;
    } cases[] = {{"create", "cannot create"},      {"write", "cannot write"},
                 {"short write", "No space left"}, {"flush", "cannot flush"},
                 {"close", "cannot close"},        {"rename", "cannot replace"}};
    for (const auto& c : cases) {
        TempDir dir;
        const auto file = dir.path() / "settings.txt";
        writeFile(file, "the old settings");
        FailingCalls::failing = c.step;
        try {
            writeFileAtomically(file, std::string(10000, 'n'), FailingCalls::make());
            ADD_FAILURE() << c.step << " did not fail";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << c.step << ": " << error.what();
        }
        EXPECT_EQ(readFile(file), "the old settings") << c.step;
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"settings.txt"}) << c.step;
    }
    FailingCalls::failing.clear();
}

// Suffixes from a list, for a test that plants files where the save will look first.
struct ScriptedSuffixes {
    static inline std::vector<std::string> next;
    static FileCalls make() {
        FileCalls calls = systemFileCalls();
        calls.temporarySuffix = [] {
            std::string suffix = next.size() > 1 ? next.front() : next.at(0);
            if (next.size() > 1) {
                next.erase(next.begin());
            }
            return suffix;
        };
        return calls;
    }
};

TEST(AtomicFile, NothingPlantedInTheFolderIsWrittenThrough) {
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    const auto victim = dir.path() / "victim";
    writeFile(victim, "not yours");
    writeFile(file, "old");
    // Links where a save might put its temporary file: a name made from the process id, and the
    // first name the save will try.
    const auto byProcess = dir.path() / ("settings.txt.tmp-" + std::to_string(getpid()));
    const auto firstTried = dir.path() / "settings.txt.tmp-planted";
    std::filesystem::create_symlink(victim, byProcess);
    std::filesystem::create_symlink(victim, firstTried);

    writeFileAtomically(file, "mine");
    ScriptedSuffixes::next = {"planted", "fresh"};
    writeFileAtomically(file, "mine again", ScriptedSuffixes::make());

    EXPECT_EQ(readFile(victim), "not yours");
    EXPECT_EQ(readFile(file), "mine again");
    EXPECT_TRUE(std::filesystem::is_symlink(firstTried)) << "what is not the save's stays";
    std::vector<std::string> expected = {"settings.txt", "settings.txt.tmp-planted", "victim",
                                         byProcess.filename().string()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(dir.path()), expected);
}

TEST(AtomicFile, GivesUpWhenEveryNameIsTaken) {
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    writeFile(dir.path() / "settings.txt.tmp-taken", "someone's");
    ScriptedSuffixes::next = {"taken"};
    try {
        writeFileAtomically(file, "mine", ScriptedSuffixes::make());
        ADD_FAILURE() << "wrote through a taken name";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("cannot create a temporary file"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(readFile(dir.path() / "settings.txt.tmp-taken"), "someone's");
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(AtomicFile, ASettingsFileThatIsALinkIsReplacedNotWrittenThrough) {
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    const auto target = dir.path() / "elsewhere.txt";
    writeFile(target, "the target's own");
    std::filesystem::create_symlink(target, file);
    writeFileAtomically(file, "new settings");
    EXPECT_FALSE(std::filesystem::is_symlink(file));
    EXPECT_EQ(readFile(file), "new settings");
    EXPECT_EQ(readFile(target), "the target's own");
}

}  // namespace
}  // namespace hushwell::testing
