#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/RegularFile.h"
#include "support/CoreFixture.h"

namespace hushwell::testing {
namespace {

std::string lineOf(const std::string& file, int number) {
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) {
        start = file.find("\r\n", start) + 2;
    }
    return file.substr(start, file.find("\r\n", start) + 2 - start);
}

StoredSettings zeroPairs(const std::string& down, const std::string& up) {
    StoredSettings settings{down, up, {}};
    for (StoredPair& pair : settings.pairs) {
        pair = {"00:00", "00:00", 0};
    }
    return settings;
}

LoadedSettings parse(const std::string& text) {
    std::istringstream in(text);
    return parseSettings(in, "the file");
}

TEST(FormatSettings, WritesTheExactBytes) {
    StoredSettings settings = zeroPairs("20", "100");
    settings.pairs[0] = {"12:00", "13:30", 1};
    const std::string file = formatSettings(settings);
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
    StoredSettings settings = zeroPairs("", "");
    settings.pairs[1].down = "";
    settings.pairs[2].down = "1.5 x\"y";
    settings.pairs[3].state = 2;
    const std::string file = formatSettings(settings);
    EXPECT_EQ(lineOf(file, 1), ",\r\n");
    EXPECT_EQ(lineOf(file, 2), "00:00,,1.5 x\"y,00:00,00:00,00:00,00:00,00:00\r\n");
    EXPECT_EQ(lineOf(file, 4), " 0 , 0 , 0 , 2 , 0 , 0 , 0 , 0 \r\n");
}

// A text that the reader would not give back as it stands (a separator in it, blanks at an end, a
// quote in front) is written between quotes; one that no form gives back is refused, naming it.
TEST(FormatSettings, AFieldThatWouldNotReadBackIsQuotedOrRefused) {
    const std::string tooLong(32768, '1');
    const struct {
        std::string mark;
        std::string written;  // empty: the save is refused
    } cases[] = {
        {"12:00", "12:00"},
        {"", ""},
        {"a\"b", "a\"b"},
        {"a \t b", "a \t b"},
        {"05,30", "\"05,30\""},
        {"05\r\n30", "\"05\r\n30\""},
        {"05\r30", "\"05\r30\""},
        {"05\n", "\"05\n\""},
        {",", "\",\""},
        {" 12:00", "\" 12:00\""},
        {"12:00 ", "\"12:00 \""},
        {"\t", "\"\t\""},
        {"  ", "\"  \""},
        {"\"12:00", ""},
        {"\"", ""},
        {"a\"b,c", ""},
        {"a\"b ", ""},
        {" \"", ""},
        {tooLong, ""},
    };
    for (const auto& c : cases) {
        for (int pair : {0, 7}) {
            StoredSettings settings = zeroPairs("35", "90");
            settings.pairs[pair].down = c.mark;
            settings.pairs[pair].up = c.mark;
            if (c.written.empty() && !c.mark.empty()) {
                try {
                    (void)formatSettings(settings);
                    ADD_FAILURE() << "wrote \"" << c.mark << "\"";
                } catch (const std::runtime_error& error) {
                    EXPECT_NE(std::string(error.what())
                                  .find("the Down mark of pair " + std::to_string(pair + 1)),
                              std::string::npos)
                        << error.what();
                }
                continue;
            }
            const std::string file = formatSettings(settings);
            const std::string field =
                pair == 0 ? "\r\n" + c.written + "," : "," + c.written + "\r\n";
            EXPECT_NE(file.find(field), std::string::npos) << c.mark;
            const LoadedSettings loaded = parse(file);
            EXPECT_EQ(loaded.error, "") << c.mark;
            EXPECT_EQ(loaded.values.downLevel, "35") << c.mark;
            EXPECT_EQ(loaded.values.pairs[pair].down, c.mark);
            EXPECT_EQ(loaded.values.pairs[pair].up, c.mark);
            EXPECT_EQ(loaded.values.pairs[pair].state, 0) << c.mark;
        }
    }
}

// Every field of a file that read back the same before is written with the same bytes.
TEST(FormatSettings, AFileThatReadBackBeforeKeepsItsBytes) {
    StoredSettings settings = zeroPairs("20", "");
    const char* downs[] = {"12:00", "", "x y", "59:59", "a\"b", "a\"", "99", "3\t0"};
    for (int i = 0; i < kPairCount; ++i) {
        settings.pairs[i] = {downs[i], std::to_string(i) + ":00", i % 3};
    }
    EXPECT_EQ(formatSettings(settings),
              "20,\r\n12:00,,x y,59:59,a\"b,a\",99,3\t0\r\n"
              "0:00,1:00,2:00,3:00,4:00,5:00,6:00,7:00\r\n"
              " 0 , 1 , 2 , 0 , 1 , 2 , 0 , 1 \r\n");
}

TEST(ParseSettings, ReadsBackWhatWasWritten) {
    StoredSettings saved{"20", "", {}};
    const char* downs[] = {"12:00", "", "x y", "59:59", "00:00", "a\"b", "99", "30:00"};
    const int states[] = {1, 0, 2, 0, 1, 1, 0, 2};
    for (int i = 0; i < kPairCount; ++i) {
        saved.pairs[i] = {downs[i], std::to_string(i) + ":00", states[i]};
    }
    const LoadedSettings loaded = parse(formatSettings(saved));
    EXPECT_EQ(loaded.error, "");
    EXPECT_EQ(loaded.fieldsRead, LoadedSettings::kFields);
    EXPECT_EQ(loaded.values.downLevel, "20");
    EXPECT_EQ(loaded.values.upLevel, "");
    for (int i = 0; i < kPairCount; ++i) {
        EXPECT_EQ(loaded.values.pairs[i].down, saved.pairs[i].down) << i;
        EXPECT_EQ(loaded.values.pairs[i].up, saved.pairs[i].up) << i;
        EXPECT_EQ(loaded.values.pairs[i].state, states[i]) << i;
    }
}

TEST(ParseSettings, TheSameFieldsOnOtherLinesLoadTheSame) {
    const std::string fourLines = settingsText("20", "100", pairsWith({{2, {"a", "b", 1}}}));
    std::string oneLine = fourLines;
    std::replace(oneLine.begin(), oneLine.end(), '\n', ',');
    oneLine.erase(std::remove(oneLine.begin(), oneLine.end(), '\r'), oneLine.end());
    std::string crOnly = fourLines;
    crOnly.erase(std::remove(crOnly.begin(), crOnly.end(), '\n'), crOnly.end());
    for (const std::string& text : {oneLine + "extra,fields,\"ignored", crOnly}) {
        const LoadedSettings loaded = parse(text);
        EXPECT_EQ(loaded.error, "");
        EXPECT_EQ(loaded.values.upLevel, "100");
        EXPECT_EQ(loaded.values.pairs[2].down, "a");
        EXPECT_EQ(loaded.values.pairs[2].up, "b");
        EXPECT_EQ(loaded.values.pairs[2].state, 1);
        EXPECT_EQ(loaded.values.pairs[7].state, 0);
    }
}

TEST(ParseSettings, ACommaInAMarkMovesEveryLaterFieldOn) {
    const LoadedSettings loaded =
        parse(settingsText("20", "100", pairsWith({{6, {"1,5", "00:00", 1}}})));
    EXPECT_EQ(loaded.values.pairs[6].down, "1");
    EXPECT_EQ(loaded.values.pairs[7].down, "5");
    EXPECT_EQ(loaded.values.pairs[0].up, "00:00");  // took the old Down mark of pair 8
    // The states are now one field late: pair 1's state is the last Up mark.
    EXPECT_NE(loaded.error.find("the Active state of pair 1"), std::string::npos) << loaded.error;
}

TEST(ParseSettings, StateFieldsFollowTheConversionRules) {
    const struct {
        const char* field;
        int state;
    } cases[] = {{"0", 0}, {" 0 ", 0}, {"1", 1}, {"2", 2}, {"1.5", 2}, {"0.4", 0}, {"\"1\"", 1}};
    for (const auto& c : cases) {
        const LoadedSettings loaded =
            parse("20,100\r\n" + std::string(16, ',') + c.field + ",1,1,1,1,1,1,1\r\n");
        EXPECT_EQ(loaded.error, "") << c.field;
        EXPECT_EQ(loaded.values.pairs[0].state, c.state) << c.field;
    }
}

struct BadFile {
    const char* name;
    std::string text;
    const char* message;  // what the error says after the file name
    int fieldsRead;       // how many fields the file gave before the error
};

void PrintTo(const BadFile& bad, std::ostream* out) {
    *out << bad.name;
}

class ParseBadFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(ParseBadFile, ReadsUpToTheFaultAndNamesIt) {
    const BadFile& bad = GetParam();
    const LoadedSettings loaded = parse(bad.text);
    EXPECT_EQ(loaded.error,
              "Couldn't load the settings from \"the file\": " + std::string(bad.message) + ".");
    EXPECT_EQ(loaded.fieldsRead, bad.fieldsRead);
}

const std::string kLevels = "20,100\r\n";
const std::string kDowns = "D,D,D,D,D,D,D,D\r\n";
const std::string kUps = "U,U,U,U,U,U,U,U\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, ParseBadFile,
    ::testing::Values(
        BadFile{"Empty", "", "the file ends before the Down level", 0},
        BadFile{"LevelsOnly", kLevels, "the file ends before the Down mark of pair 1", 2},
        BadFile{"TwoLines", kLevels + kDowns, "the file ends before the Up mark of pair 1", 10},
        BadFile{"CutInTheStates", kLevels + kDowns + kUps + " 0 , 0 , 0 ",
                "the file ends before the Active state of pair 4", 21},
        BadFile{"StateThree", kLevels + kDowns + kUps + "0,0,0,3,0,0,0,0",
                "the Active state of pair 4 is 3; it must be 0, 1 or 2", 21},
        BadFile{"StateMinusOne", kLevels + kDowns + kUps + "-1,0,0,0,0,0,0,0",
                "the Active state of pair 1 is -1; it must be 0, 1 or 2", 18},
        BadFile{"StateTooLarge", kLevels + kDowns + kUps + "0,99999,0,0,0,0,0,0",
                "the Active state of pair 2, \"99999\", is outside the range -32768 to 32767", 19},
        BadFile{"StateText", kLevels + kDowns + kUps + "0,0,on,0,0,0,0,0",
                "the Active state of pair 3, \"on\", is not a number", 20},
        BadFile{"StateEmpty", kLevels + kDowns + kUps + "0,0,0,0,0,,0,0",
                "the Active state of pair 6, \"\", is not a number", 23},
        BadFile{"HugeMark", kLevels + "D,D," + std::string(40000, 'x'),
                "the Down mark of pair 3 is longer than 32767 characters", 4}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ParseSettings, AManyMegabyteFileIsReadOnlyAsFarAsItsFields) {
    std::string text = settingsText("20", "100", pairsWith({}));
    text += std::string(8 * 1024 * 1024, 'x');
    EXPECT_EQ(parse(text).values.downLevel, "20");
}

TEST(FileSettingsStore, NothingIsStoredWithoutAnOrdinaryFile) {
    TempDir dir;
    FileSettingsStore store(SettingsLocation::at(dir.path() / kSettingsFileName));
    EXPECT_FALSE(store.load().has_value());
    std::filesystem::create_directory(dir.path() / kSettingsFileName);
    EXPECT_FALSE(store.load().has_value());
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
