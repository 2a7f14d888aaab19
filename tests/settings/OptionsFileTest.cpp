#include "settings/OptionsFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <stdexcept>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kName = "Hushwell_options.ini";

struct FileCase {
    const char* name;
    std::string text;
    Options options;
    std::vector<std::string> problems;
};

void PrintTo(const FileCase& c, std::ostream* out) {
    *out << c.name;
}

std::string at(int line, const std::string& text) {
    return std::string(kName) + ", line " + std::to_string(line) + ": " + text;
}

std::string repeated(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) {
        result += text;
    }
    return result;
}

constexpr const char* kNotALine =
    "\"x\" is neither a [section] nor a key=value line; it is ignored.";

class OptionsText : public ::testing::TestWithParam<FileCase> {};

TEST_P(OptionsText, GivesTheOptionsAndNamesEachProblem) {
    const FileCase& c = GetParam();
    const LoadedOptions loaded = parseOptions(c.text, kName);
    EXPECT_EQ(loaded.options.startWithDesktop, c.options.startWithDesktop);
    EXPECT_EQ(loaded.options.hideWhenMinimized, c.options.hideWhenMinimized);
    EXPECT_EQ(loaded.options.lowerOnly, c.options.lowerOnly);
    EXPECT_EQ(loaded.options.followStation, c.options.followStation);
    EXPECT_EQ(loaded.problems, c.problems);
}

constexpr const char* kAll =
    "[General]\nStartWithDesktop=true\n[Tray]\nHideWhenMinimized=true\n[Lower]\nOnly=firefox\n";

INSTANTIATE_TEST_SUITE_P(
    Files, OptionsText,
    ::testing::Values(
        FileCase{"Empty", "", {}, {}}, FileCase{"AllSet", kAll, {true, true, "firefox"}, {}},
        FileCase{"FollowStation", "[listen]\nFollowStation=TRUE\n", {false, false, "", true}, {}},
        FileCase{"AllOff",
                 "[General]\nStartWithDesktop=false\n[Tray]\nHideWhenMinimized=false\n",
                 {},
                 {}},
        FileCase{"AnyCase",
                 "[general]\nSTARTWITHDESKTOP=True\n[TRAY]\nhidewhenminimized=TRUE\n[lower]\n"
                 "only=VLC\n",
                 {true, true, "VLC"},
                 {}},
        FileCase{"BlanksAround",
                 "  [ General ]  \n\t StartWithDesktop \t=  true \t\n[Lower]\nOnly = Google "
                 "Chrome  \n",
                 {true, false, "Google Chrome"},
                 {}},
        FileCase{"QuotedKeepsItsBlanks",
                 "[Lower]\nOnly=\" odd name \"\n",
                 {false, false, " odd name "},
                 {}},
        FileCase{"CrLfAndByteOrderMark",
                 "\xEF\xBB\xBF[General]\r\nStartWithDesktop=true\r\n[Lower]\r\nOnly=mpv\r\n",
                 {true, false, "mpv"},
                 {}},
        FileCase{"NoLineEndAtTheEnd", "[Tray]\nHideWhenMinimized=true", {false, true, ""}, {}},
        FileCase{"CommentsAndBlankLines",
                 "; written by hand\n\n# another\n[General]\n; StartWithDesktop=false\n"
                 "StartWithDesktop=true\n",
                 {true, false, ""},
                 {}},
        FileCase{"OnlyEmptyIsTheWholeComputer", "[Lower]\nOnly=\n", {}, {}},
        FileCase{"BadFlag",
                 "[General]\nStartWithDesktop=maybe\n[Tray]\nHideWhenMinimized=yes\n",
                 {},
                 {at(2, "StartWithDesktop=maybe is not true or false; false is used."),
                  at(4, "HideWhenMinimized=yes is not true or false; false is used.")}},
        FileCase{"EmptyFlag",
                 "[General]\nStartWithDesktop=\n",
                 {},
                 {at(2, "StartWithDesktop= is not true or false; false is used.")}},
        FileCase{"DuplicateKeyTheLastCounts",
                 "[General]\nStartWithDesktop=false\nStartWithDesktop=true\n",
                 {true, false, ""},
                 {at(2,
                     "StartWithDesktop is set again on line 3, which counts; this line is "
                     "ignored.")}},
        FileCase{"DuplicateSectionTheLastCounts",
                 "[Tray]\nHideWhenMinimized=true\n[General]\n[tray]\nHideWhenMinimized=false\n",
                 {},
                 {at(2,
                     "HideWhenMinimized is set again on line 5, which counts; this line is "
                     "ignored.")}},
        FileCase{"UnknownKeyOfASection",
                 "[Tray]\nHideWhenMinimised=true\n",
                 {},
                 {at(2, "HideWhenMinimised is not an option of [Tray]; it is ignored.")}},
        FileCase{"KeyInAnotherSection",
                 "[General]\nHideWhenMinimized=true\n",
                 {},
                 {at(2, "HideWhenMinimized is not an option of [General]; it is ignored.")}},
        FileCase{"UnknownSectionsAreLeftAlone",
                 "[Later]\nColour=blue\n[Lower]\nOnly=vlc\n",
                 {false, false, "vlc"},
                 {}},
        FileCase{"BeforeAnySection",
                 "StartWithDesktop=true\n[General]\n",
                 {},
                 {at(1, "StartWithDesktop stands before any [section]; it is ignored.")}},
        FileCase{"NeitherSectionNorValue",
                 "[General\nStartWithDesktop true\n",
                 {},
                 {at(1,
                     "\"[General\" is neither a [section] nor a key=value line; it is "
                     "ignored."),
                  at(2,
                     "\"StartWithDesktop true\" is neither a [section] nor a key=value line; "
                     "it is ignored.")}},
        FileCase{"ProgramNameTooLong",
                 "[Lower]\nOnly=" + std::string(261, 'x') + "\n",
                 {},
                 {at(2, "Only=" + std::string(60, 'x') +
                            "... is longer than 260 characters, too long for a program's name; "
                            "the whole computer is lowered.")}},
        FileCase{"ProgramNameAtTheLimit",
                 "[Lower]\nOnly=" + std::string(260, 'x') + "\n",
                 {false, false, std::string(260, 'x')},
                 {}},
        FileCase{"ProgramNameAtTheLimitInCharacters",
                 "[Lower]\nOnly=" + repeated("\xC3\xA9", 260) + "\n",
                 {false, false, repeated("\xC3\xA9", 260)},
                 {}},
        FileCase{"ProgramNameNotUtf8",
                 "[Lower]\nOnly=M\xFCsik.exe\n",
                 {},
                 {at(2, "Only=M\xFCsik.exe is not UTF-8 text; the whole computer is lowered.")}},
        FileCase{"ProgramNameOverlongUtf8",
                 "[Lower]\nOnly=\xC0\xAF.exe\n",
                 {},
                 {at(2, "Only=\xC0\xAF.exe is not UTF-8 text; the whole computer is lowered.")}},
        FileCase{"ProgramNameInUtf8",
                 "[Lower]\nOnly=M\xC3\xBCsik.exe\n",
                 {false, false, "M\xC3\xBCsik.exe"},
                 {}},
        FileCase{"ManyProblemsTheFirstFewAndTheirCount",
                 repeated("x\n", 7) + "[General]\nStartWithDesktop=maybe\n",
                 {},
                 {at(1, kNotALine), at(2, kNotALine), at(3, kNotALine), at(4, kNotALine),
                  at(5, kNotALine), "And 3 more problems in " + std::string(kName) + "."}},
        FileCase{"NotText",
                 std::string("[General]\nStartWithDesktop=true\n\0\0", 34),
                 {},
                 {std::string(kName) + " is not a text file; the defaults are used."}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct Change {
    const char* name;
    std::string before;
    Option which;
    Options options;
    std::string after;
};

void PrintTo(const Change& c, std::ostream* out) {
    *out << c.name;
}

class OptionsChange : public ::testing::TestWithParam<Change> {};

TEST_P(OptionsChange, RewritesOnlyWhatChanged) {
    const Change& c = GetParam();
    EXPECT_EQ(withOption(c.before, c.which, c.options), c.after);
}

TEST_P(OptionsChange, ReadsBackWhatWasSaved) {
    const Change& c = GetParam();
    const Options read = parseOptions(withOption(c.before, c.which, c.options), kName).options;
    switch (c.which) {
        case Option::StartWithDesktop:
            EXPECT_EQ(read.startWithDesktop, c.options.startWithDesktop);
            break;
        case Option::HideWhenMinimized:
            EXPECT_EQ(read.hideWhenMinimized, c.options.hideWhenMinimized);
            break;
        case Option::LowerOnly:
            EXPECT_EQ(read.lowerOnly, c.options.lowerOnly);
            break;
        case Option::FollowStation:
            EXPECT_EQ(read.followStation, c.options.followStation);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, OptionsChange,
    ::testing::Values(
        Change{"NewFile",
               "",
               Option::StartWithDesktop,
               {true, false, ""},
               "[General]\nStartWithDesktop=true\n"},
        Change{"ValueReplacedInPlace",
               "; mine\n[General]\n  StartWithDesktop =  false  \n[Tray]\nHideWhenMinimized=x\n",
               Option::StartWithDesktop,
               {true, false, ""},
               "; mine\n[General]\n  StartWithDesktop =  true\n[Tray]\nHideWhenMinimized=x\n"},
        Change{"ABadValueTheUserDidNotChangeStays",
               "[General]\nStartWithDesktop=maybe\n[Tray]\nHideWhenMinimized=false\n",
               Option::HideWhenMinimized,
               {false, true, ""},
               "[General]\nStartWithDesktop=maybe\n[Tray]\nHideWhenMinimized=true\n"},
        Change{"FollowStationInItsOwnSection",
               "[Lower]\nOnly=vlc\n",
               Option::FollowStation,
               {false, false, "vlc", true},
               "[Lower]\nOnly=vlc\n\n[Listen]\nFollowStation=true\n"},
        Change{"TheLineThatCountsOfDuplicates",
               "[Lower]\nOnly=a\nOnly=b\n",
               Option::LowerOnly,
               {false, false, "vlc"},
               "[Lower]\nOnly=a\nOnly=vlc\n"},
        Change{"AddedToItsSectionAfterItsLastLine",
               "[Lower]\nOnly=vlc\n[General]\n; note\nOther=1\n\n[Tray]\n",
               Option::StartWithDesktop,
               {true, false, ""},
               "[Lower]\nOnly=vlc\n[General]\n; note\nOther=1\nStartWithDesktop=true\n\n[Tray]\n"},
        Change{"AddedToASectionAtTheEndWithoutLineEnd",
               "[General]",
               Option::StartWithDesktop,
               {true, false, ""},
               "[General]\nStartWithDesktop=true\n"},
        Change{"AddedAfterALastLineEndingInACarriageReturn",
               "[Lower]\nx\r",
               Option::LowerOnly,
               {false, false, "vlc"},
               "[Lower]\nx\r\nOnly=vlc\n"},
        Change{"SectionAddedAtTheEnd",
               "[General]\r\nStartWithDesktop=true",
               Option::LowerOnly,
               {false, false, "mpv"},
               "[General]\r\nStartWithDesktop=true\r\n\r\n[Lower]\r\nOnly=mpv\r\n"},
        Change{"ByteOrderMarkKept",
               "\xEF\xBB\xBF[Tray]\r\nHideWhenMinimized=false\r\n",
               Option::HideWhenMinimized,
               {false, true, ""},
               "\xEF\xBB\xBF[Tray]\r\nHideWhenMinimized=true\r\n"},
        Change{"WholeComputerIsEmpty",
               "[Lower]\nOnly=vlc\n",
               Option::LowerOnly,
               {},
               "[Lower]\nOnly=\n"},
        Change{"NameWithBlanksIsQuoted",
               "[Lower]\nOnly=\n",
               Option::LowerOnly,
               {false, false, " odd "},
               "[Lower]\nOnly=\" odd \"\n"},
        Change{"NameInQuotesIsQuoted",
               "",
               Option::LowerOnly,
               {false, false, "\"q\""},
               "[Lower]\nOnly=\"\"q\"\"\n"},
        Change{"UnknownLinesKept",
               "[Later]\nColour=blue\nnonsense\n[Tray]\nHideWhenMinimised=true\n",
               Option::HideWhenMinimized,
               {false, true, ""},
               "[Later]\nColour=blue\nnonsense\n[Tray]\nHideWhenMinimised=true\n"
               "HideWhenMinimized=true\n"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(OptionsChange, RefusesANameThatCannotBeWritten) {
    EXPECT_THROW((void)withOption("", Option::LowerOnly, {false, false, "a\nb"}),
                 std::invalid_argument);
    EXPECT_THROW((void)withOption("", Option::LowerOnly, {false, false, std::string(261, 'x')}),
                 std::invalid_argument);
}

TEST(OptionsFile, AMissingFileGivesTheDefaultsAndNoProblem) {
    TempDir dir;
    const LoadedOptions loaded = OptionsFile(dir.path() / kName).load();
    EXPECT_FALSE(loaded.options.startWithDesktop);
    EXPECT_FALSE(loaded.options.hideWhenMinimized);
    EXPECT_TRUE(loaded.options.lowerOnly.empty());
    EXPECT_TRUE(loaded.problems.empty());
}

TEST(OptionsFile, SavesEachChangeAndReadsItBack) {
    TempDir dir;
    OptionsFile file(dir.path() / "new folder" / kName);
    file.save(Option::StartWithDesktop, {true, false, ""});
    file.save(Option::LowerOnly, {true, false, "firefox"});
    file.save(Option::HideWhenMinimized, {true, true, "firefox"});
    file.save(Option::StartWithDesktop, {false, true, "firefox"});
    const LoadedOptions loaded = file.load();
    EXPECT_TRUE(loaded.problems.empty());
    EXPECT_FALSE(loaded.options.startWithDesktop);
    EXPECT_TRUE(loaded.options.hideWhenMinimized);
    EXPECT_EQ(loaded.options.lowerOnly, "firefox");
}

TEST(OptionsFile, KeepsWhatTheUserWroteSinceTheLoad) {
    TempDir dir;
    const auto path = dir.path() / kName;
    OptionsFile file(path);
    writeFile(path, "[General]\nStartWithDesktop=true\n");
    (void)file.load();
    writeFile(path, "; by hand\n[General]\nStartWithDesktop=true\n[Later]\nX=1\n");
    file.save(Option::HideWhenMinimized, {true, true, ""});
    EXPECT_EQ(readFile(path),
              "; by hand\n[General]\nStartWithDesktop=true\n[Later]\nX=1\n\n[Tray]\n"
              "HideWhenMinimized=true\n");
}

TEST(OptionsFile, AnUnreadableFileIsOneProblemAndIsNotOverwritten) {
    TempDir dir;
    const auto path = dir.path() / kName;
    const std::string binary(
        "\x7F"
        "ELF\0\0\x01\x02",
        8);
    writeFile(path, binary);
    OptionsFile file(path);
    const LoadedOptions loaded = file.load();
    ASSERT_EQ(loaded.problems.size(), 1U);
    EXPECT_EQ(loaded.problems[0], "The options in \"" + path.string() +
                                      "\" cannot be read (it is not a text file); the defaults "
                                      "are used.");
    EXPECT_THROW(file.save(Option::StartWithDesktop, {true, false, ""}), std::runtime_error);
    EXPECT_EQ(readFile(path), binary);
}

// What stands in the file's place is judged once opened, and never read when it is no file.
struct InItsPlace {
    const char* name;
    void (*make)(const std::filesystem::path& file);
    const char* reason;
};

void PrintTo(const InItsPlace& c, std::ostream* out) {
    *out << c.name;
}

class SomethingElseInItsPlace : public ::testing::TestWithParam<InItsPlace> {};

TEST_P(SomethingElseInItsPlace, IsOneProblemAndTheDefaults) {
    TempDir dir;
    const auto path = dir.path() / kName;
    GetParam().make(path);
    auto loading = std::async(std::launch::async, [&path] { return OptionsFile(path).load(); });
    if (loading.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "the load waits";
        ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // a pipe's reader gets its end
    }
    const LoadedOptions loaded = loading.get();
    EXPECT_FALSE(loaded.options.startWithDesktop);
    EXPECT_EQ(loaded.problems,
              std::vector<std::string>{"The options in \"" + path.string() + "\" cannot be read (" +
                                       GetParam().reason + "); the defaults are used."});
}

INSTANTIATE_TEST_SUITE_P(
    Files, SomethingElseInItsPlace,
    ::testing::Values(
        InItsPlace{"AFolder", [](const auto& file) { std::filesystem::create_directory(file); },
                   "it is a folder"},
        InItsPlace{"ALinkToAnEndlessDevice",
                   [](const auto& file) { std::filesystem::create_symlink("/dev/zero", file); },
                   "it is a device, not a file"},
        InItsPlace{"APipeNobodyWrites",
                   [](const auto& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); },
                   "it is a pipe, not a file"},
        InItsPlace{"ATextOverOneMegabyte",
                   [](const auto& file) {
                       writeFile(file,
                                 "[General]\nStartWithDesktop=true\n" + std::string(1 << 20, ';'));
                   },
                   "it is larger than 1 MB"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(OptionsFile, AFolderThatCannotBeWrittenIsReportedAndLosesNothing) {
    TempDir dir;
    // A file where the folder should be: no user, root included, can create files in it.
    writeFile(dir.path() / "settings", "not a folder");
    OptionsFile file(dir.path() / "settings" / kName);
    try {
        file.save(Option::StartWithDesktop, {true, false, ""});
        FAIL() << "the save succeeded";
    } catch (const std::runtime_error& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("Couldn't save the option StartWithDesktop to \"" +
                                 (dir.path() / "settings" / kName).string() + "\": ",
                             0),
                  0U)
            << text;
        EXPECT_TRUE(text.ends_with(". The file is unchanged.")) << text;
    }
    EXPECT_EQ(readFile(dir.path() / "settings"), "not a folder");
}

TEST(OptionsFile, StandsBesideTheSettingsAndNeverTouchesThem) {
    TempDir program;
    TempDir user;
    writeFile(program.path() / "Hushwell_setup.txt", "20,100\r\n");
    writeFile(program.path() / kName, "[Lower]\nOnly=vlc\n");
    const SettingsLocation settings = SettingsLocation::decide(
        {program.path(), user.path(), /*programFolderWritable=*/false, /*installed=*/false});
    OptionsFile file = OptionsFile::besideSettings(settings);
    EXPECT_EQ(file.saveTo(), user.path() / kName);
    EXPECT_EQ(file.load().options.lowerOnly, "vlc") << "the provided options are read";
    file.save(Option::StartWithDesktop, {true, false, "vlc"});
    EXPECT_EQ(readFile(user.path() / kName),
              "[Lower]\nOnly=vlc\n\n[General]\nStartWithDesktop=true\n");
    EXPECT_EQ(readFile(program.path() / kName), "[Lower]\nOnly=vlc\n");
    EXPECT_EQ(readFile(program.path() / "Hushwell_setup.txt"), "20,100\r\n");
    EXPECT_FALSE(std::filesystem::exists(user.path() / "Hushwell_setup.txt"));
    const LoadedOptions again = file.load();
    EXPECT_TRUE(again.options.startWithDesktop) << "from now on the saved file is read";
}

}  // namespace
}  // namespace hushwell::testing
