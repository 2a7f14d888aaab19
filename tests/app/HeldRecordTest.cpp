#include "app/HeldRecord.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

// The record a run leaves while the volume is held: read back as written, and removed by a late
// guard only when that guard's run wrote it.
TEST(HeldRecord, AGuardRemovesOnlyTheRecordOfItsOwnRun) {
    const struct {
        const char* name;
        const char* text;      // the file as found
        std::int64_t remover;  // the run whose guard finished
        bool kept;
    } cases[] = {
        {"its own run's", "65500 65536 42\n", 42, false},
        {"a run started since", "65500 65536 43\n", 42, true},
        {"written before runs were recorded", "65500 65536\n", 42, false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto file = dir.path() / "state" / "held";
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << c.text;
        HeldRecord(file).removeIfOwnedBy(c.remover);
        EXPECT_EQ(std::filesystem::exists(file), c.kept) << c.name;
    }
}

TEST(HeldRecord, ReadsBackWhatItWrote) {
    TempDir dir;
    const HeldRecord record(dir.path() / "state" / "hushwell" / "held");
    EXPECT_FALSE(record.read().has_value());
    record.write({58950, 65536, 1234, {}});
    const std::optional<HeldLevel> level = record.read();
    ASSERT_TRUE(level.has_value());
    EXPECT_EQ(level->upValue, 58950);
    EXPECT_EQ(level->scale, 65536);
    EXPECT_EQ(level->owner, 1234);
    record.remove();
    EXPECT_FALSE(record.read().has_value());
}

// What was held: one program's streams, read back as written whatever bytes its name holds; a
// record of the version before, without one, is the whole output; a damaged name is no record.
TEST(HeldRecord, KeepsTheProgramThatWasHeld) {
    const struct {
        const char* name;
        const char* text;  // the file as found; empty: written from `program`
        std::string program;
        bool readable;
    } cases[] = {
        {"a program", "", "radio", true},
        {"a name with spaces and a line's end", "", "Web Radio\nPlayer 2", true},
        {"the output", "", "", true},
        {"written by the version before", "65500 65536 42\n", "", true},
        {"a name shorter than said", "65500 65536 42\n9 radio\n", "", false},
        {"a length that is no length", "65500 65536 42\n99999999 radio\n", "", false},
        {"no space after the length", "65500 65536 42\n5radio\n", "", false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto file = dir.path() / "held";
        const HeldRecord record(file);
        if (*c.text == '\0') {
            record.write({65500, 65536, 42, c.program});
        } else {
            std::ofstream(file, std::ios::binary) << c.text;
        }
        const std::optional<HeldLevel> level = record.read();
        ASSERT_EQ(level.has_value(), c.readable) << c.name;
        if (level) {
            EXPECT_EQ(level->program, c.program) << c.name;
            EXPECT_EQ(level->upValue, 65500) << c.name;
            EXPECT_EQ(level->owner, 42) << c.name;
        }
    }
}

}  // namespace
}  // namespace hushwell::testing
