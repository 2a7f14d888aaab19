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
    record.write({58950, 65536, 1234});
    const std::optional<HeldLevel> level = record.read();
    ASSERT_TRUE(level.has_value());
    EXPECT_EQ(level->upValue, 58950);
    EXPECT_EQ(level->scale, 65536);
    EXPECT_EQ(level->owner, 1234);
    record.remove();
    EXPECT_FALSE(record.read().has_value());
}

}  // namespace
}  // namespace hushwell::testing
