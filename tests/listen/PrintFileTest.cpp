#include "listen/PrintFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>

#include "settings/SettingsStore.h"
#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

static_assert(kPrintPairs == kPairCount, "a print for each pair of the window, no other");

MarkPrints twoMarks() {
    MarkPrint print{{}, 3};
    for (std::uint32_t i = 0; i < 9; ++i) {
        print.frames.push_back({0x9E3779B9U * i, 0x0F0F0F0FU << (i % 4)});
    }
    return {{{0, MarkEdge::Down}, {"20:07", print}}, {{7, MarkEdge::Up}, {"3:30 ad end", print}}};
}

TEST(PrintFile, KeepsEachMarksPrintForItsTextOnly) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    EXPECT_EQ(loadPrintFile(file).prints.size(), 0U) << "no file yet";
    MarkPrints prints = twoMarks();
    prints[{1, MarkEdge::Down}] = {"12:00\n", prints.begin()->second.print};  // cannot be a line
    prints[{kPrintPairs, MarkEdge::Down}] = {"12:00", prints.begin()->second.print};  // no pair
    savePrintFile(file, prints);
    const LoadedPrints loaded = loadPrintFile(file);
    EXPECT_EQ(loaded.problem, "");
    EXPECT_EQ(loaded.prints, twoMarks());
    EXPECT_NE(printFor(loaded.prints, {7, MarkEdge::Up}, "3:30 ad end"), nullptr);
    EXPECT_EQ(printFor(loaded.prints, {7, MarkEdge::Up}, "3:31"), nullptr) << "edited by hand";
    EXPECT_EQ(printFor(loaded.prints, {0, MarkEdge::Up}, "20:07"), nullptr) << "the other row";
}

// The largest file: sixteen marks of the most frames a mark may hold (512), their texts as long as
// they may be (64 bytes); it stays within the size the reader takes.
TEST(PrintFile, SixteenMarksOfTheLongestPrintsReadBack) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    MarkPrints prints;
    for (int pair = 0; pair < kPrintPairs; ++pair) {
        for (const MarkEdge edge : {MarkEdge::Down, MarkEdge::Up}) {
            prints[{pair, edge}] = {std::string(64, '9'), {std::vector<Fingerprint>(512), 511}};
        }
    }
    savePrintFile(file, prints);
    const LoadedPrints loaded = loadPrintFile(file);
    EXPECT_EQ(loaded.problem, "");
    EXPECT_EQ(loaded.prints, prints);
}

// A save replaces a link in the file's place; what the link leads to is left as it was.
TEST(PrintFile, ASaveDoesNotWriteThroughALink) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    writeFile(dir.path() / "elsewhere", "not prints");
    std::filesystem::create_symlink(dir.path() / "elsewhere", file);
    savePrintFile(file, twoMarks());
    EXPECT_EQ(readFile(dir.path() / "elsewhere"), "not prints");
    EXPECT_FALSE(std::filesystem::is_symlink(file));
    EXPECT_EQ(loadPrintFile(file).prints, twoMarks());
}

struct Damage {
    const char* name;
    std::function<void(const std::filesystem::path&)> plant;
    std::string what;  // what the sentence says after the file's name
};

void PrintTo(const Damage& row, std::ostream* out) {
    *out << row.name;
}

// The file as Hushwell writes it, changed, then checked anew: only the reader's own checks stand
// between it and the prints.
Damage damagedText(const char* name, std::string (*change)(std::string), const std::string& why) {
    return {name,
            [change](const auto& file) { writeFile(file, change(printFileText(twoMarks()))); },
            "is damaged (" + why + ")"};
}

std::string resigned(std::string text, std::string_view from, std::string_view to) {
    text = text.substr(0, text.rfind("check "));
    return withCheckLine(text.replace(text.find(from), from.size(), to));
}

class DamagedPrintFile : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedPrintFile, CostsItsPrintsOnlyAndIsToldInOneSentence) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    GetParam().plant(file);
    auto loading = std::async(std::launch::async, [&file] { return loadPrintFile(file); });
    if (loading.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "the load waits";
        ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK));  // a pipe's reader gets its end
    }
    const LoadedPrints loaded = loading.get();
    EXPECT_TRUE(loaded.prints.empty());
    EXPECT_EQ(printFor(loaded.prints, {7, MarkEdge::Up}, "3:30 ad end"), nullptr);
    const std::string aside = file.string() + ".damaged";
    EXPECT_EQ(loaded.problem, "The fingerprint file \"" + file.string() + "\" " + GetParam().what +
                                  "; its prints were set aside, and the file kept as \"" + aside +
                                  "\".");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(file)));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(aside)));
}

INSTANTIATE_TEST_SUITE_P(
    Damages, DamagedPrintFile,
    ::testing::Values(
        damagedText(
            "Empty", [](std::string) { return std::string(); },
            "it does not end as Hushwell ends it"),
        damagedText(
            "CutShort", [](std::string text) { return text.substr(0, text.size() / 2) + "\n"; },
            "its check line is missing"),
        damagedText(
            "OneDigitChanged",
            [](std::string text) { return text.replace(text.find("/0f0f") + 2, 1, "1"); },
            "its check does not match its contents"),
        damagedText(
            "NoCheck", [](std::string text) { return text.substr(0, text.rfind("check")); },
            "its check line is missing"),
        damagedText(
            "CheckOfAnother",
            [](std::string text) {
                return text.substr(0, text.find("mark 7")) + text.substr(text.rfind("check"));
            },
            "its check does not match its contents"),
        damagedText(
            "Binary", [](std::string) { return std::string("\x7f\x45LF\0\x01\ncheck 0\n", 14); },
            "it is not a text file"),
        damagedText(
            "PairOutOfRange", [](std::string text) { return resigned(text, "mark 7", "mark 12"); },
            "line 6: pair 12 is out of range"),
        damagedText(
            "NoRow", [](std::string text) { return resigned(text, "7 Up", "7 Side"); },
            "line 6: a mark's row is neither Down nor Up"),
        damagedText(
            "NegativeFrameCount", [](std::string text) { return resigned(text, "3 9", "3 -9"); },
            "line 2: the number of frames -9 is not from 1 to 512"),
        damagedText(
            "HugeFrameCount",
            [](std::string text) { return resigned(text, "3 9", "3 4294967296"); },
            "line 2: the number of frames 4294967296 is not from 1 to 512"),
        damagedText(
            "FrameCountPastNumbers",
            [](std::string text) { return resigned(text, "3 9", "3 99999999999999999999"); },
            "line 2: a mark's number of frames is not a number"),
        damagedText(
            "PressPastTheFrames", [](std::string text) { return resigned(text, "3 9", "9 9"); },
            "line 2: the press frame 9 is outside the mark's 9 frames"),
        damagedText(
            "FramesCutShort",
            [](std::string text) {
                text = text.substr(0, text.rfind("check"));
                return withCheckLine(text.erase(text.rfind('\n', text.size() - 2) + 1));
            },
            "line 8: a mark's frames end too soon"),
        damagedText(
            "FramesWithGarbage",
            [](std::string text) { return resigned(text, "/0f0f0f0f", "/0f0f0fzz"); },
            "line 3: a frame is not two hexadecimal numbers"),
        Damage{"APipeNobodyWrites",
               [](const auto& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); },
               "cannot be read (it is a pipe, not a file)"},
        Damage{"ALinkToAnEndlessDevice",
               [](const auto& file) { std::filesystem::create_symlink("/dev/zero", file); },
               "cannot be read (it is a device, not a file)"},
        Damage{"LargerThanSixteenMarksTake",
               [](const auto& file) { writeFile(file, std::string(148'855, '0')); },
               "cannot be read (it is larger than 148854 bytes)"}),
    [](const ::testing::TestParamInfo<Damage>& row) { return std::string(row.param.name); });

// A damaged file is kept aside, so the next Set's save replaces nothing the user was not told of.
TEST(PrintFile, ADamagedFileOutlivesTheNextSave) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    const std::string damaged = printFileText(twoMarks()).substr(0, 100);
    writeFile(file, damaged);
    EXPECT_NE(loadPrintFile(file).problem, "");
    savePrintFile(file, twoMarks());
    EXPECT_EQ(loadPrintFile(file).prints, twoMarks());
    EXPECT_EQ(readFile(file.string() + ".damaged"), damaged);
}

}  // namespace
}  // namespace hushwell::testing
