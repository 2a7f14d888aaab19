#include <gtest/gtest.h>

#include <string>

#include "app/CrashGuard.h"

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

}  // namespace
}  // namespace hushwell::testing
