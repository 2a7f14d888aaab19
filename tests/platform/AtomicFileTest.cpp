#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "support/Fakes.h"

#include <fcntl.h>
#include <sys/stat.h>
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

// Gives `path` a modification time `age` in the past, without following a link.
void age(const std::filesystem::path& path, std::chrono::seconds age) {
    const timespec times[2] = {{time(nullptr) - age.count(), 0}, {time(nullptr) - age.count(), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// What a save killed before its rename leaves, the save of another copy at work now, and things
// that only look like either.
TEST(AtomicFile, TheNextSaveRemovesOnlyItsOwnOldLeftovers) {
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    const auto victim = dir.path() / "victim";
    writeFile(file, "old");
    writeFile(victim, "not yours");
    const std::chrono::hours old(2);
    const struct {
        std::string name;
        const char* kind;  // "file", "link" (to the victim), "folder"
        std::chrono::seconds age;
        bool removed;
    } cases[] = {
        {"settings.txt.tmp-0123456789abcdef", "file", old, true},
        {"settings.txt.tmp-fedcba9876543210", "file", std::chrono::hours(24 * 400), true},
        {"settings.txt.tmp-00000000000000ff", "file", std::chrono::seconds(5), false},
        {"settings.txt.tmp-aaaaaaaaaaaaaaaa", "link", old, false},
        {"settings.txt.tmp-bbbbbbbbbbbbbbbb", "folder", old, false},
        {"settings.txt.tmp-0123456789ABCDEF", "file", old, false},
        {"settings.txt.tmp-0123456789abcde", "file", old, false},
        {"settings.txt.tmp-0123456789abcdef0", "file", old, false},
        {"settings.txt.tmp-0123456789abcdeg", "file", old, false},
        {"settings.txt.tmp-0123456789abcdef.bak", "file", old, false},
        {"other.txt.tmp-0123456789abcdef", "file", old, false},
        {"xsettings.txt.tmp-0123456789abcdef", "file", old, false},
        {"settings.txt.tmp-planted", "file", old, false},
    };
    for (const auto& c : cases) {
        const auto path = dir.path() / c.name;
        if (std::string(c.kind) == "link") {
            std::filesystem::create_symlink(victim, path);
        } else if (std::string(c.kind) == "folder") {
            std::filesystem::create_directory(path);
            writeFile(path / "inside", "kept");
        } else {
            writeFile(path, "leftover");
        }
        age(path, c.age);
    }
    age(victim, old);

    writeFileAtomically(file, "new");

    EXPECT_EQ(readFile(file), "new");
    EXPECT_EQ(readFile(victim), "not yours");
    for (const auto& c : cases) {
        const auto path = dir.path() / c.name;
        EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(path)), !c.removed)
            << c.name;
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "settings.txt.tmp-aaaaaaaaaaaaaaaa"));
    EXPECT_EQ(readFile(dir.path() / "settings.txt.tmp-bbbbbbbbbbbbbbbb" / "inside"), "kept");
}

TEST(AtomicFile, AnotherUsersLeftoverStays) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "making a file of another user needs root";
    }
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    const auto theirs = dir.path() / "settings.txt.tmp-0123456789abcdef";
    writeFile(theirs, "someone else's");
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    age(theirs, std::chrono::hours(2));
    writeFileAtomically(file, "mine");
    EXPECT_EQ(readFile(theirs), "someone else's");
}

mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

TEST(AtomicFile, ASaveKeepsTheModeOfTheFileItReplaces) {
    for (const mode_t mode : {0600, 0640, 0604, 0644, 0664, 0400, 0755}) {
        TempDir dir;
        const auto file = dir.path() / "settings.txt";
        writeFile(file, "old");
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        writeFileAtomically(file, "new");
        EXPECT_EQ(readFile(file), "new");
        EXPECT_EQ(modeOf(file), mode) << std::oct << mode;
    }
}

TEST(AtomicFile, ANewFileGetsTheDefaultMode) {
    const mode_t mask = umask(027);
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    writeFileAtomically(file, "new");
    const mode_t masked = modeOf(file);
    umask(mask);
    writeFileAtomically(dir.path() / "second.txt", "new");
    EXPECT_EQ(masked, 0640);
    EXPECT_EQ(modeOf(dir.path() / "second.txt"), 0644 & ~mask);
}

// The file behind a link is not the one replaced: the new file gets the default mode.
TEST(AtomicFile, ALinkedFileGivesNoMode) {
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    const auto target = dir.path() / "elsewhere.txt";
    writeFile(target, "the target's own");
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    std::filesystem::create_symlink(target, file);
    const mode_t mask = umask(022);
    writeFileAtomically(file, "new");
    umask(mask);
    EXPECT_EQ(modeOf(file), 0644);
    EXPECT_EQ(modeOf(target), 0600);
}

TEST(AtomicFile, ASaveKeepsTheGroupOfTheFileItReplaces) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "giving a file another group needs root here";
    }
    TempDir dir;
    const auto file = dir.path() / "settings.txt";
    writeFile(file, "old");
    ASSERT_EQ(chown(file.c_str(), geteuid(), 65534), 0);
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    writeFileAtomically(file, "new");
    struct stat status {};
    ASSERT_EQ(lstat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_gid, 65534u);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace hushwell::testing
