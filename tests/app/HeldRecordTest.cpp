#include "app/HeldRecord.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/Fakes.h"

namespace hushwell::testing {
namespace {

// The record a run leaves while the volume is held: read back as written, and removed by a late
// guard only when that guard's run wrote it; the programs still owed the Up value stay.
TEST(HeldRecord, AGuardRemovesOnlyTheRecordOfItsOwnRun) {
    const struct {
        const char* name;
        const char* text;      // the file as found
        std::int64_t remover;  // the run whose guard finished
        const char* kept;      // what is left of the file; nullptr: nothing
    } cases[] = {
        {"its own run's", "65500 65536 42\n", 42, nullptr},
        {"a run started since", "65500 65536 43\n", 42, "65500 65536 43\n"},
        {"written before runs were recorded", "65500 65536\n", 42, nullptr},
        {"a program owed Up", "65500 65536 42\nowed 5 radio\n", 42,
         "65500 65536 42\nnone\nowed 5 radio\n"},
        {"a program owed Up on an output it left", "65500 65536 42\nowedon 5 radio\n4 hdmi\n", 42,
         "65500 65536 42\nnone\nowedon 5 radio\n4 hdmi\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto file = dir.path() / "state" / "held";
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << c.text;
        HeldRecord(file).releaseHeldBy(c.remover);
        ASSERT_EQ(std::filesystem::exists(file), c.kept != nullptr) << c.name;
        if (c.kept != nullptr) {
            EXPECT_EQ(readFile(file), c.kept) << c.name;
        }
    }
}

// Copies on two servers share the state folder: each reads, writes and removes its own server's
// record alone. A record of a version that kept one for every server ("held") names no server: it
// stays for every copy to read until one put its level back and takes it for its own server, or
// lets it go beside a record of its own.
TEST(HeldRecord, EachServerHasItsOwn) {
    enum class ByB { Remove, Release, Write, Read, Take };
    const struct {
        const char* name;
        const char* unkeyed;   // "held" as found; nullptr: none, and A's record says 100
        bool bHolds;           // B's record says 50 before B acts
        ByB act;               // what server B's copy does
        std::int32_t readByB;  // after; 0: no record
        bool unkeyedStays = false;
    } cases[] = {
        {"B holds nothing", nullptr, false, ByB::Remove, 0},
        {"B's guard put back", nullptr, true, ByB::Release, 0},
        {"B holds", nullptr, false, ByB::Write, 50},
        {"an earlier version's, read", "60 200 7\n", false, ByB::Read, 0, true},
        {"an earlier version's, B's own removed", "60 200 7\n", false, ByB::Remove, 0, true},
        {"an earlier version's, B's own put back", "60 200 7\n", true, ByB::Release, 0, true},
        {"an earlier version's, B's own written", "60 200 7\n", false, ByB::Write, 50, true},
        {"an earlier version's, put back by B", "60 200 7\n", false, ByB::Take, 60},
        {"the version's before that, put back by B", "60 200\n", false, ByB::Take, 60},
        {"an earlier version's beside B's own", "60 200 7\n", true, ByB::Take, 50},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const HeldRecord a(dir.path(), "unix:/run/user/1000/pulse/native");
        const HeldRecord b(dir.path(), "tcp:localhost:4713");
        const auto unkeyed = dir.path() / "held";
        if (c.bHolds) {
            ASSERT_FALSE(b.write({50, 200, 7, {}}).has_value()) << c.name;
        }
        if (c.unkeyed != nullptr) {
            std::ofstream(unkeyed, std::ios::binary) << c.unkeyed;
        } else {
            ASSERT_FALSE(a.write({100, 200, 3, {}}).has_value()) << c.name;
        }
        switch (c.act) {
            case ByB::Remove:
                b.remove();
                break;
            case ByB::Release:
                b.releaseHeldBy(7);
                break;
            case ByB::Write:
                ASSERT_FALSE(b.write({50, 200, 7, {}}).has_value());
                break;
            case ByB::Read:
                EXPECT_EQ(b.readEarlierVersion().value_or(HeldLevel{}).upValue, 60) << c.name;
                break;
            case ByB::Take:
                b.takeEarlierVersion();
                break;
        }
        EXPECT_EQ(std::filesystem::exists(unkeyed), c.unkeyedStays) << c.name;
        EXPECT_EQ(b.read().value_or(HeldLevel{}).upValue, c.readByB) << c.name;
        EXPECT_EQ(a.read().value_or(HeldLevel{}).upValue, c.unkeyed == nullptr ? 100 : 0) << c.name;
        EXPECT_EQ(a.readEarlierVersion().value_or(HeldLevel{}).upValue, c.unkeyedStays ? 60 : 0)
            << c.name;
    }
}

TEST(HeldRecord, ReadsBackWhatItWrote) {
    TempDir dir;
    const HeldRecord record(dir.path() / "state" / "hushwell" / "held");
    EXPECT_FALSE(record.read().has_value());
    EXPECT_FALSE(record.write({58950, 65536, 1234, {}}).has_value());
    const std::optional<HeldLevel> level = record.read();
    ASSERT_TRUE(level.has_value());
    EXPECT_EQ(level->upValue, 58950);
    EXPECT_EQ(level->scale, 65536);
    EXPECT_EQ(level->owner, 1234);
    record.remove();
    EXPECT_FALSE(record.read().has_value());
}

// What was held: one program's streams, read back as written whatever bytes its name holds; a
// record of the version before, without one, is the whole output; the programs owed Up, on any
// output or on one they left. A record that is not exactly what a run writes, or whose Up value
// lies outside its scale, is none.
TEST(HeldRecord, KeepsTheProgramThatWasHeld) {
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    const struct {
        const char* name;
        std::string text;  // the file as found; empty: written from `program`, `owed`, `owedOn`
        std::string program;
        bool readable;
        std::vector<std::string> owed = {};
        Pairs owedOn = {};
    } cases[] = {
        {"a program", "", "radio", true},
        {"a name with spaces and a line's end", "", "Web Radio\nPlayer 2", true},
        {"the output", "", "", true},
        {"written by the version before", "65500 65536 42\n", "", true},
        {"a name shorter than said", "65500 65536 42\n9 radio\n", "", false},
        {"a length that is no length", "65500 65536 42\n99999999 radio\n", "", false},
        {"no space after the length", "65500 65536 42\n5radio\n", "", false},
        {"programs owed Up", "", "radio", true, {"player", "web\nradio"}},
        {"only programs owed Up", "65500 65536 42\nnone\nowed 5 radio\n", "", true, {"radio"}},
        {"an Up value above the scale", "6553600 65536 42\n", "", false},
        {"no scale", "65500 0 42\n", "", false},
        {"a scale past the largest", "65500 4294967296 42\n", "", false},
        {"a sign", "+65500 65536 42\n", "", false},
        {"a leading zero", "065500 65536 42\n", "", false},
        {"more after the record", "65500 65536 42\nx", "", false},
        {"a damaged owed name", "65500 65536 42\nowed 9 radio\n", "", false},
        {"programs owed Up on outputs they left",
         "",
         "radio",
         true,
         {"player"},
         {{"radio", "headphones"}, {"web radio", "hdmi\n2"}}},
        {"only a program owed Up on an output it left",
         "65500 65536 42\nnone\nowedon 5 radio\n10 headphones\n",
         "",
         true,
         {},
         {{"radio", "headphones"}}},
        {"an owed output missing", "65500 65536 42\nnone\nowedon 5 radio\n", "", false},
        {"owed on an output before owed anywhere",
         "65500 65536 42\nowedon 5 radio\n10 headphones\nowed 6 player\n", "", false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto file = dir.path() / "held";
        const HeldRecord record(file);
        if (c.text.empty()) {
            ASSERT_FALSE(
                record.write({65500, 65536, 42, c.program, c.owed, true, c.owedOn}).has_value());
        } else {
            std::ofstream(file, std::ios::binary) << c.text;
        }
        const std::optional<HeldLevel> level = record.read();
        ASSERT_EQ(level.has_value(), c.readable) << c.name;
        if (level) {
            EXPECT_EQ(level->program, c.program) << c.name;
            EXPECT_EQ(level->upValue, 65500) << c.name;
            EXPECT_EQ(level->owner, 42) << c.name;
            EXPECT_EQ(level->owed, c.owed) << c.name;
            EXPECT_EQ(level->owedOn, c.owedOn) << c.name;
        }
    }
}

// What this run lowers is set afresh after the put-back only where that run held it.
TEST(HeldRecord, TellsWhetherItHeldWhatThisRunLowers) {
    const struct {
        const char* name;
        HeldLevel left;
        std::string lowered;
        bool same;
    } cases[] = {
        {"the output, lowered again", {65500, 65536, 42, ""}, "", true},
        {"a program, lowered again", {65500, 65536, 42, "radio"}, "radio", true},
        {"a program, the output lowered now", {65500, 65536, 42, "radio"}, "", false},
        {"the output, a program lowered now", {65500, 65536, 42, ""}, "radio", false},
        {"only a program owed Up", {65500, 65536, 42, "", {"radio"}, false}, "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.left.heldWhatIsLowered(c.lowered), c.same) << c.name;
    }
}

// Never through a link, where the record goes or beside it; a folder that cannot be made is told,
// naming it and why.
TEST(HeldRecord, IsWrittenOnlyWhereItBelongs) {
    TempDir dir;
    const auto victim = dir.path() / "victim";
    writeFile(victim, "not the record's");
    std::filesystem::create_symlink(victim, dir.path() / "held.part");
    EXPECT_FALSE(HeldRecord(dir.path() / "held").write({65500, 65536, 42, {}}).has_value());
    EXPECT_EQ(readFile(victim), "not the record's");

    const auto blocked = victim / "hushwell";
    const std::optional<std::string> problem = HeldRecord(blocked / "held").write({1, 2, 3, {}});
    EXPECT_NE(problem.value_or("").find("\"" + blocked.string() + "\": Not a directory."),
              std::string::npos);
}

}  // namespace
}  // namespace hushwell::testing
