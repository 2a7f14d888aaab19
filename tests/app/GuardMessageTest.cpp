#include <gtest/gtest.h>

#include <string>

#include "app/CrashGuard.h"
#include "support/FakeVolume.h"

namespace hushwell::testing {
namespace {

// What the program tells its guard of the program it lowers goes in a field of fixed size: a
// name that fits arrives whole; a longer one arrives as its start, marked so, for the guard to
// match every playing program that begins so rather than a name that is not the program's.
TEST(GuardMessage, CarriesTheLoweredProgramWholeOrItsStart) {
    const std::string fits(sizeof CrashGuard::Message::lowered, 'a');
    const std::string longer(sizeof CrashGuard::Message::lowered + 40, 'b');
    const struct {
        const char* name;
        std::string program;
        std::string arrives;
        bool whole;
    } cases[] = {
        {"the output", "", "", true},
        {"a short name", "radio", "radio", true},
        {"a name with spaces and a line's end", "Web Radio\nPlayer", "Web Radio\nPlayer", true},
        {"a name that fills the field", fits, fits, true},
        {"a name longer than the field", longer, longer.substr(0, fits.size()), false},
    };
    for (const auto& c : cases) {
        CrashGuard::Message message;
        message.setLowered(longer);  // what an earlier message held leaves nothing behind
        message.setLowered(c.program);
        EXPECT_EQ(message.loweredName(), c.arrives) << c.name;
        EXPECT_EQ(message.loweredWhole(), c.whole) << c.name;
    }
}

// The guard gives the Up value to what was held: the output, the program named, or, when only
// the name's start arrived, every playing program whose name begins so.
TEST(GuardMessage, TheUpValueGoesToWhatWasHeld) {
    const std::size_t field = sizeof CrashGuard::Message::lowered;
    const std::string longer(field + 40, 'b');
    const std::string sameStart = longer.substr(0, field) + "c";
    const struct {
        const char* name;
        std::string program;
        bool takes;
        std::vector<std::string> calls;
        PutBack result;
    } cases[] = {
        {"the output", "", true, {"set 65500"}, PutBack::Done},
        {"a program", "radio", true, {"setProgram radio 65500"}, PutBack::Done},
        {"a program, refused", "radio", false, {"setProgram radio 65500"}, PutBack::NotTaken},
        // Its next stream may still start at the Down level: the record stays.
        {"a program not playing",
         "player",
         true,
         {"setProgram player 65500"},
         PutBack::NothingPlaying},
        {"the start of a long name",
         longer,
         true,
         {"setProgram " + longer + " 65500", "setProgram " + sameStart + " 65500"},
         PutBack::Done},
        {"the start of a long name, nothing plays",
         std::string(field + 1, 'z'),
         true,
         {},
         PutBack::NothingPlaying},
    };
    for (const auto& c : cases) {
        FakeProvider volume;
        volume.programVolume = true;
        volume.takes = c.takes;
        volume.streams = {{"radio", 1}, {longer, 1}, {sameStart, 2}, {"caller", 1}};
        CrashGuard::Message last;
        last.setLowered(c.program);
        EXPECT_EQ(putBackOn(volume, last, 65500), c.result) << c.name;
        EXPECT_EQ(volume.calls, c.calls) << c.name;
    }
}

}  // namespace
}  // namespace hushwell::testing
