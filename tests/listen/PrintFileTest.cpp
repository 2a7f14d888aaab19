#include "listen/PrintFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <limits>

#include "settings/SettingsStore.h"
#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

static_assert(kPrintPairs == kPairCount, "a print for each pair of the window, no other");

MarkPrints twoMarks() {
    MarkPrint print{{}, 3, {}};
    for (std::uint32_t i = 0; i < 9; ++i) {
        print.frames.push_back({0x9E3779B9U * i, 0x0F0F0F0FU << (i % 4),
                                static_cast<std::uint16_t>(0x1234U * i), 0x0F0FU});
    }
    MarkPrint halfway = print;
    for (Fingerprint& frame : halfway.halfway = print.frames) {
        frame.bits = ~frame.bits;
    }
    // The Up mark was set in silence: its print begins at the sound 90 frames after it.
    return {{{0, Level::Down}, {"20:07", halfway}},
            {{7, Level::Up}, {"3:30 ad end", print, 90 * kFrameStep}}};
}

// The file of the third version: no frames halfway.
std::string wholeSteps(std::string text) {
    text = text.substr(0, text.rfind("check "));
    text.replace(text.find("audio 4"), 7, "audio 3");
    const std::size_t halfway = text.find("halfway\n");
    return withCheckLine(text.erase(halfway, text.find("mark 7") - halfway));
}

// The file of the second version: frames without the bits above 2 kHz.
std::string lowOnly(std::string text) {
    text = wholeSteps(text);
    text = text.substr(0, text.rfind("check "));
    text.replace(text.find("audio 3"), 7, "audio 2");
    for (std::size_t at = 0; (at = text.find('/', at)) != std::string::npos;) {
        text.erase(at + 9, 10);  // "/HIGH/HIGHSTRONG" after "/STRONG"
        at += 9;
    }
    return withCheckLine(text);
}

// The file of the first version: no seconds from a mark to its sound either.
std::string unmoved(std::string text) {
    text = lowOnly(text);
    text = text.substr(0, text.rfind("check "));
    text.replace(text.find("audio 2"), 7, "audio 1");
    text.erase(text.find(" 0 20:07"), 2);
    text.erase(text.find(" 4.179591836734694"), 18);
    return withCheckLine(text);
}

// The prints as a file of an earlier version gives them back: no frames halfway, and before the
// third no bits above 2 kHz either.
MarkPrints withoutHalfway(MarkPrints prints) {
    for (auto& [key, kept] : prints) {
        kept.print.halfway.clear();
    }
    return prints;
}
MarkPrints withoutHighBits(MarkPrints prints) {
    prints = withoutHalfway(prints);
    for (auto& [key, kept] : prints) {
        for (Fingerprint& frame : kept.print.frames) {
            frame.high = 0;
            frame.highStrong = 0;
        }
    }
    return prints;
}

TEST(PrintFile, KeepsEachMarksPrintForItsTextOnly) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    EXPECT_EQ(loadPrintFile(file).prints.size(), 0U) << "no file yet";
    MarkPrints prints = twoMarks();
    prints[{1, Level::Down}] = {"12:00\n", prints.begin()->second.print};  // cannot be a line
    prints[{kPrintPairs, Level::Down}] = {"12:00", prints.begin()->second.print};  // no pair
    MarkPrint uneven = prints.begin()->second.print;
    uneven.halfway.pop_back();
    prints[{2, Level::Down}] = {"12:00", uneven};  // frames halfway not one for each
    savePrintFile(file, prints);
    const LoadedPrints loaded = loadPrintFile(file);
    EXPECT_EQ(loaded.problem, "");
    EXPECT_EQ(loaded.prints, twoMarks());
    EXPECT_NE(printFor(loaded.prints, {7, Level::Up}, "3:30 ad end"), nullptr);
    EXPECT_EQ(printFor(loaded.prints, {7, Level::Up}, "3:31"), nullptr) << "edited by hand";
    EXPECT_EQ(printFor(loaded.prints, {0, Level::Up}, "20:07"), nullptr) << "the other row";

    writeFile(file, wholeSteps(printFileText(twoMarks())));
    EXPECT_EQ(loadPrintFile(file).prints, withoutHalfway(twoMarks()));
    writeFile(file, lowOnly(printFileText(twoMarks())));
    EXPECT_EQ(loadPrintFile(file).prints, withoutHighBits(twoMarks()));
    writeFile(file, unmoved(printFileText(twoMarks())));
    MarkPrints unmovedPrints = withoutHighBits(twoMarks());
    unmovedPrints.rbegin()->second.movedBy = 0;
    EXPECT_EQ(loadPrintFile(file).prints, unmovedPrints);
}

// The largest file: sixteen marks of the most frames a mark may hold (512) and as many halfway,
// their texts as long as they may be (64 bytes); it stays within the size the reader takes.
TEST(PrintFile, SixteenMarksOfTheLongestPrintsReadBack) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    MarkPrints prints;
    for (int pair = 0; pair < kPrintPairs; ++pair) {
        for (const Level edge : {Level::Down, Level::Up}) {
            prints[{pair, edge}] = {std::string(64, '9'),
                                    {std::vector<Fingerprint>(512, {~0U, ~0U, 0xFFFF, 0xFFFF}), 511,
                                     std::vector<Fingerprint>(512, {~0U, ~0U, 0xFFFF, 0xFFFF})},
                                    std::numeric_limits<double>::min()};
        }
    }
    savePrintFile(file, prints);
    const LoadedPrints loaded = loadPrintFile(file);
    EXPECT_EQ(loaded.problem, "");
    EXPECT_EQ(loaded.prints, prints);
}

struct Damage {
    const char* name;
    std::string bytes;
    std::string what;  // what the sentence says after the file's name
    void (*plant)(const std::filesystem::path&) = nullptr;  // in place of the bytes
    std::size_t left = 0;  // prints read all the same, and written back in the file's place
};

std::string good() {
    return printFileText(twoMarks());
}

// The good file with the last `from` made `to` and checked anew: the reader's own checks must
// catch it.
std::string resigned(std::string_view from, std::string_view to) {
    std::string text = good().substr(0, good().rfind("check "));
    return withCheckLine(text.replace(text.rfind(from), from.size(), to));
}

std::string damaged(const std::string& why) {
    return "is damaged (" + why + ")";
}

class DamagedPrintFile : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedPrintFile, CostsItsPrintsOnlyAndIsToldInOneSentence) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    GetParam().plant != nullptr ? GetParam().plant(file) : writeFile(file, GetParam().bytes);
    const auto load = [&file](Damaged damaged) {
        auto loading = std::async(std::launch::async,
                                  [&file, damaged] { return loadPrintFile(file, damaged); });
        if (loading.wait_for(30s) != std::future_status::ready) {
            ADD_FAILURE() << "the load waits";
            ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK));  // a pipe's reader gets its end
        }
        return loading.get();
    };
    // Left in place (following is off): nothing is touched, nothing told, nothing may save.
    const LoadedPrints left = load(Damaged::Leave);
    EXPECT_EQ(left.problem, "");
    EXPECT_TRUE(left.keepOff);
    EXPECT_EQ(left.prints.size(), GetParam().left);
    if (GetParam().plant == nullptr) {
        EXPECT_EQ(readFile(file), GetParam().bytes);
    }
    // An earlier file set aside is never replaced: this one goes beside it.
    const std::string earlier = file.string() + ".damaged";
    writeFile(earlier, "an earlier damaged file");
    const LoadedPrints loaded = load(Damaged::SetAside);
    EXPECT_EQ(loaded.prints.size(), GetParam().left);
    EXPECT_FALSE(loaded.keepOff);
    const std::string aside = file.string() + ".damaged-2";
    EXPECT_EQ(loaded.problem, "The fingerprint file \"" + file.string() + "\" " + GetParam().what +
                                  (GetParam().left == 0 ? "; its prints were set aside"
                                                        : "; one of its prints was set aside") +
                                  ", and the file kept as \"" + aside + "\".");
    EXPECT_EQ(readFile(earlier), "an earlier damaged file");
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(file)), GetParam().left > 0);
    const LoadedPrints again = loadPrintFile(file);  // the others alone, told nothing more
    EXPECT_EQ(again.problem, "");
    EXPECT_EQ(again.prints, loaded.prints);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(aside)));
}

INSTANTIATE_TEST_SUITE_P(
    Damages, DamagedPrintFile,
    ::testing::Values(
        Damage{"Empty", "", damaged("it does not end as Hushwell ends it")},
        Damage{"CutShort", good().substr(0, good().size() / 2) + "\n",
               damaged("its check line is missing")},
        Damage{"OneDigitChanged", good().replace(good().find("/0f0f") + 2, 1, "1"),
               damaged("its check does not match its contents")},
        Damage{"NoCheck", good().substr(0, good().rfind("check")),
               damaged("its check line is missing")},
        Damage{"CheckOfAnother",
               good().substr(0, good().find("mark 7")) + good().substr(good().rfind("check")),
               damaged("its check does not match its contents")},
        Damage{"Binary", std::string("\x7f\x45LF\0\x01\ncheck 0\n", 14),
               damaged("it is not a text file")},
        Damage{"NoVersionOfOurs", resigned("audio 4", "audio 0"),
               damaged("it is not a file of this version of Hushwell")},
        Damage{"PairOutOfRange", resigned("mark 7", "mark 12"),
               damaged("line 10: pair 12 is out of range")},
        Damage{"NegativeFrameCount", resigned("3 9", "3 -9"),
               damaged("line 10: the number of frames -9 is not from 1 to 512")},
        Damage{"HugeFrameCount", resigned("3 9", "3 4294967296"),
               damaged("line 10: the number of frames 4294967296 is not from 1 to 512")},
        Damage{"PressPastTheFrames", resigned("3 9", "9 9"),
               damaged("line 10: the press frame 9 is outside the mark's 9 frames")},
        Damage{"FramesCutShort", resigned("f1bbcdc8/0f0f0f0f/91a0/0f0f\n", ""),
               damaged("line 12: a mark's frames end too soon")},
        Damage{"FramesWithGarbage", resigned("/0f0f0f0f", "/0f0f0fzz"),
               damaged("line 13: a frame is not four hexadecimal numbers")},
        Damage{"HighBitsWithGarbage", resigned("/0f0f\n", "/0f0z\n"),
               damaged("line 13: a frame is not four hexadecimal numbers")},
        Damage{"LowOnlyFramesInTheNewVersion", resigned("/91a0/0f0f\n", "\n"),
               damaged("line 13: a frame is not four hexadecimal numbers")},
        Damage{"HalfwayFramesShort",
               resigned("halfway\n", "halfway\n00000000/00000000/0000/0000\n"),
               damaged("line 7: a frame is not four hexadecimal numbers")},
        Damage{"HalfwayInTheVersionBefore",
               withCheckLine(wholeSteps(good()).substr(0, wholeSteps(good()).rfind("check ")) +
                             "halfway\n"),
               damaged("line 10: a line that should start a mark does not")},
        Damage{"NewFramesInTheVersionBefore",
               withCheckLine(lowOnly(good()).substr(0, lowOnly(good()).rfind("check ")) +
                             "mark 3 Up 0 1 0 1:00\n00000000/00000000/0000/0000\n"),
               damaged("line 11: a frame is not two hexadecimal numbers")},
        Damage{"APipeNobodyWrites", "", "cannot be read (it is a pipe, not a file)",
               [](const auto& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        Damage{"ALinkToAnEndlessDevice", "", "cannot be read (it is a device, not a file)",
               [](const auto& file) { std::filesystem::create_symlink("/dev/zero", file); }},
        Damage{"LargerThanSixteenMarksTake", std::string(460'663, '0'),
               "cannot be read (it is larger than 460662 bytes)"},
        Damage{"MovedNotANumber", resigned(" 4.179591836734694 ", " nan "),
               damaged("line 10: the seconds from a mark to its sound are not a number"), nullptr,
               1},
        Damage{"MovedBeforeTheMark", resigned(" 4.179591836734694 ", " -0.5 "),
               damaged("line 10: the seconds from a mark to its sound, -0.5, are not from 0 to 8"),
               nullptr, 1},
        Damage{"MovedPastWhatAPressKeeps", resigned(" 4.179591836734694 ", " 8.5 "),
               damaged("line 10: the seconds from a mark to its sound, 8.5, are not from 0 to 8"),
               nullptr, 1}),
    [](const ::testing::TestParamInfo<Damage>& row) { return std::string(row.param.name); });

// A later version's file is read by neither way and left as it is, with one sentence.
TEST(PrintFile, ALaterVersionsFileIsLeftAsItIs) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    for (const std::string& text :
         {withCheckLine("Hushwell marks audio 5\nmark 0 Down 0 1 0 20:00 in a new way\n"),
          std::string("Hushwell marks audio 12\r\nwhatever it holds now\r\n")}) {
        writeFile(file, text);
        for (const Damaged damaged : {Damaged::Leave, Damaged::SetAside}) {
            const LoadedPrints loaded = loadPrintFile(file, damaged);
            EXPECT_TRUE(loaded.keepOff);
            EXPECT_TRUE(loaded.prints.empty());
            EXPECT_EQ(loaded.problem,
                      "The fingerprint file \"" + file.string() +
                          "\" was written by a later version of Hushwell; it is left as it is, "
                          "and this version keeps no fingerprints.");
            EXPECT_EQ(readFile(file), text);
            EXPECT_FALSE(std::filesystem::exists(file.string() + ".damaged"));
        }
    }
}

// A damaged file is kept aside, so the next Set's save replaces nothing the user was not told of.
TEST(PrintFile, ADamagedFileOutlivesTheNextSave) {
    TempDir dir;
    const auto file = dir.path() / kPrintFileName;
    const std::string bytes = good().substr(0, 100);
    writeFile(file, bytes);
    EXPECT_NE(loadPrintFile(file).problem, "");
    savePrintFile(file, twoMarks());
    EXPECT_EQ(loadPrintFile(file).prints, twoMarks());
    EXPECT_EQ(readFile(file.string() + ".damaged"), bytes);
}

}  // namespace
}  // namespace hushwell::testing
