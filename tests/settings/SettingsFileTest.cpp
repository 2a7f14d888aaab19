#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include "engine/Numbers.h"
#include "support/EngineFixture.h"

namespace hushwell::testing {
namespace {

std::string lineOf(const std::string& file, int number) {
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) {
        start = file.find("\r\n", start) + 2;
    }
    return file.substr(start, file.find("\r\n", start) + 2 - start);
}

TEST(FormatSettings, WritesTheExactBytes) {
    Pairs pairs;
    pairs.setMark(Row::Down, 0, "12:00");
    pairs.setMark(Row::Up, 0, "13:30");
    for (int i = 1; i < kPairCount; ++i) {
        pairs.setActive(i, kInactive);
    }
    const std::string file = formatSettings({"20", "100"}, pairs);
    EXPECT_EQ(lineOf(file, 1), "\x32\x30\x2C\x31\x30\x30\x0D\x0A");
    EXPECT_EQ(lineOf(file, 2), "12:00,00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n");
    EXPECT_EQ(lineOf(file, 3), "13:30,00:00,00:00,00:00,00:00,00:00,00:00,00:00\r\n");
    EXPECT_EQ(lineOf(file, 2).size(), 49u);
    const std::string line4 = lineOf(file, 4);
    EXPECT_EQ(line4, " 1 , 0 , 0 , 0 , 0 , 0 , 0 , 0 \r\n");
    EXPECT_EQ(line4.size(), 33u);
    EXPECT_EQ(file.size(), 8u + 49 + 49 + 33);
}

TEST(FormatSettings, WritesTextsAsTheyStand) {
    Pairs pairs;
    pairs.setMark(Row::Down, 1, "");
    pairs.setMark(Row::Down, 2, "1,5");
    pairs.setActive(3, kGreyed);
    const std::string file = formatSettings({"", ""}, pairs);
    EXPECT_EQ(lineOf(file, 1), ",\r\n");
    EXPECT_EQ(lineOf(file, 2), "00:00,,1,5,00:00,00:00,00:00,00:00,00:00\r\n");
    EXPECT_EQ(lineOf(file, 4), " 1 , 1 , 1 , 2 , 1 , 1 , 1 , 1 \r\n");
}

class LoadSettings : public ::testing::Test {
protected:
    StoredLevels load(const std::string& text) {
        writeFile(file, text);
        return loadSettings(file, pairs);
    }
    // Loads and returns the error text, failing the test if the load succeeds.
    std::string loadError(const std::string& text) {
        try {
            (void)load(text);
        } catch (const RunTimeError& error) {
            return error.what();
        }
        ADD_FAILURE() << "loaded without error: " << text;
        return {};
    }
    TempDir dir;
    std::filesystem::path file = dir.path() / kSettingsFileName;
    Pairs pairs;
};

TEST_F(LoadSettings, ReadsBackWhatWasSaved) {
    Pairs saved;
    const char* downs[] = {"12:00", "", "x y", "59:59", "00:00", "a\"b", "99", "30:00"};
    const int states[] = {1, 0, 2, 0, 1, 1, 0, 2};
    for (int i = 0; i < kPairCount; ++i) {
        saved.setMark(Row::Down, i, downs[i]);
        saved.setMark(Row::Up, i, std::to_string(i) + ":00");
        saved.setActive(i, states[i]);
    }
    const StoredLevels levels = load(formatSettings({"20", ""}, saved));
    EXPECT_EQ(levels.down, "20");
    EXPECT_EQ(levels.up, "");
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(pairs[i].down, saved[i].down) << i;
        EXPECT_EQ(pairs[i].up, saved[i].up) << i;
        EXPECT_EQ(pairs[i].active, saved[i].active) << i;
        EXPECT_EQ(pairs[i].colour, colourForState(states[i])) << i;
    }
}

TEST_F(LoadSettings, TheSameFieldsOnOtherLinesLoadTheSame) {
    const std::string fourLines = settingsText("20", "100", pairsWith({{2, {"a", "b", 1}}}));
    std::string oneLine = fourLines;
    std::replace(oneLine.begin(), oneLine.end(), '\n', ',');
    oneLine.erase(std::remove(oneLine.begin(), oneLine.end(), '\r'), oneLine.end());
    std::string crOnly = fourLines;
    crOnly.erase(std::remove(crOnly.begin(), crOnly.end(), '\n'), crOnly.end());
    for (const std::string& text : {oneLine + "extra,fields,\"ignored", crOnly}) {
        Pairs loaded;
        writeFile(file, text);
        const StoredLevels levels = loadSettings(file, loaded);
        EXPECT_EQ(levels.up, "100");
        EXPECT_EQ(loaded[2].down, "a");
        EXPECT_EQ(loaded[2].up, "b");
        EXPECT_EQ(loaded[2].active, kActive);
        EXPECT_EQ(loaded[7].active, kInactive);
    }
}

TEST_F(LoadSettings, ACommaInAMarkMovesEveryLaterFieldOn) {
    auto withComma = pairsWith({{6, {"1,5", "00:00", 1}}});
    const std::string message = loadError(settingsText("20", "100", withComma));
    EXPECT_EQ(pairs[6].down, "1");
    EXPECT_EQ(pairs[7].down, "5");
    EXPECT_EQ(pairs[0].up, "00:00");  // took the old Down mark of pair 7
    // The states are now one field late: pair 8's state is the last Up mark.
    EXPECT_NE(message.find("the Active state of pair 1"), std::string::npos) << message;
}

TEST_F(LoadSettings, StateFieldsFollowTheConversionRules) {
    const struct {
        const char* field;
        int state;
        PairColour colour;
    } cases[] = {
        {"0", kInactive, PairColour::ButtonFace},        {" 0 ", kInactive, PairColour::ButtonFace},
        {"1", kActive, PairColour::WindowBackground},    {"2", kGreyed, PairColour::ButtonFace},
        {"1.5", kGreyed, PairColour::ButtonFace},        {"0.4", kInactive, PairColour::ButtonFace},
        {"\"1\"", kActive, PairColour::WindowBackground}};
    for (const auto& c : cases) {
        Pairs loaded;
        writeFile(file, "20,100\r\n" + std::string(16, ',') + c.field + ",1,1,1,1,1,1,1\r\n");
        (void)loadSettings(file, loaded);
        EXPECT_EQ(loaded[0].active, c.state) << c.field;
        EXPECT_EQ(loaded[0].colour, c.colour) << c.field;
    }
}

TEST_F(LoadSettings, ZeroPaintsButtonFaceEvenWithoutAChange) {
    Pairs loaded;
    loaded.setActive(3, kInactive);
    loaded.setColour(3, PairColour::LightGreen);
    writeFile(file, settingsText("1", "2", pairsWith({})));
    (void)loadSettings(file, loaded);
    EXPECT_EQ(loaded[3].colour, PairColour::ButtonFace);
}

struct BadFile {
    const char* name;
    std::string text;
    const char* message;  // what the error says after the file name
    int downMarksLoaded;  // how many Down marks the file set before the error
    int upMarksLoaded;
    int statesLoaded;
};

void PrintTo(const BadFile& bad, std::ostream* out) {
    *out << bad.name;
}

class LoadBadFile : public LoadSettings, public ::testing::WithParamInterface<BadFile> {};

TEST_P(LoadBadFile, LoadsUpToTheFaultAndNamesIt) {
    const BadFile& bad = GetParam();
    const std::string message = loadError(bad.text);
    EXPECT_EQ(message,
              "Couldn't load the settings from \"" + file.string() + "\": " + bad.message + ".");
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(pairs[i].down, i < bad.downMarksLoaded ? "D" : "00:00") << i;
        EXPECT_EQ(pairs[i].up, i < bad.upMarksLoaded ? "U" : "00:00") << i;
        EXPECT_EQ(pairs[i].active, i < bad.statesLoaded ? kInactive : kActive) << i;
    }
}

const std::string kLevels = "20,100\r\n";
const std::string kDowns = "D,D,D,D,D,D,D,D\r\n";
const std::string kUps = "U,U,U,U,U,U,U,U\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, LoadBadFile,
    ::testing::Values(
        BadFile{"Empty", "", "the file ends before the Down level", 0, 0, 0},
        BadFile{"LevelsOnly", kLevels, "the file ends before the Down mark of pair 1", 0, 0, 0},
        BadFile{"TwoLines", kLevels + kDowns, "the file ends before the Up mark of pair 1", 8, 0,
                0},
        BadFile{"CutInTheStates", kLevels + kDowns + kUps + " 0 , 0 , 0 ",
                "the file ends before the Active state of pair 4", 8, 8, 3},
        BadFile{"StateThree", kLevels + kDowns + kUps + "0,0,0,3,0,0,0,0",
                "the Active state of pair 4 is 3; it must be 0, 1 or 2", 8, 8, 3},
        BadFile{"StateMinusOne", kLevels + kDowns + kUps + "-1,0,0,0,0,0,0,0",
                "the Active state of pair 1 is -1; it must be 0, 1 or 2", 8, 8, 0},
        BadFile{"StateTooLarge", kLevels + kDowns + kUps + "0,99999,0,0,0,0,0,0",
                "the Active state of pair 2, \"99999\", is outside the range -32768 to 32767", 8, 8,
                1},
        BadFile{"StateText", kLevels + kDowns + kUps + "0,0,on,0,0,0,0,0",
                "the Active state of pair 3, \"on\", is not a number", 8, 8, 2},
        BadFile{"StateEmpty", kLevels + kDowns + kUps + "0,0,0,0,0,,0,0",
                "the Active state of pair 6, \"\", is not a number", 8, 8, 5},
        BadFile{"HugeMark", kLevels + "D,D," + std::string(40000, 'x'),
                "the Down mark of pair 3 is longer than 32767 characters", 2, 0, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(LoadSettings, AManyMegabyteFileIsReadOnlyAsFarAsItsFields) {
    std::string text = settingsText("20", "100", pairsWith({}));
    text += std::string(8 * 1024 * 1024, 'x');
    EXPECT_EQ(load(text).down, "20");
}

TEST_F(LoadSettings, AnUnreadableFileIsAnError) {
    std::filesystem::create_directory(file);
    EXPECT_THROW((void)loadSettings(file, pairs), RunTimeError);
}

TEST(OrdinaryFileExists, OnlyForAnOrdinaryFile) {
    TempDir dir;
    EXPECT_FALSE(ordinaryFileExists(dir.path() / "none"));
    EXPECT_FALSE(ordinaryFileExists(dir.path()));
    writeFile(dir.path() / "file", "");
    EXPECT_TRUE(ordinaryFileExists(dir.path() / "file"));
}

}  // namespace
}  // namespace hushwell::testing
