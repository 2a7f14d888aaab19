#include "mixer/VolumeRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mixer/GatedProvider.h"
#include "support/FakeVolume.h"

namespace hushwell::testing {
namespace {

// The rules on a provider that answers at once; what they report and what the guard learns (each
// change of `held` once) is kept. Each input is followed by what the owner's thread does next:
// the guard learns the record, then what is due is sent.
struct Ruled {
    Ruled() {
        provider.openGate();
        provider.watch([this](const VolumeEvent& event) {
            rules.providerReported(event.kind);
            settle();
        });
    }
    // Opened and located, the Up value 65500 (`upValue` false: the earlier run's).
    void locate(bool upValue = true) {
        EXPECT_TRUE(rules.open());
        EXPECT_EQ(rules.locate(), 65536);
        if (upValue) {
            rules.setUpValue(kUp);
        }
        settle();
    }
    void note(const VolumeRules::Record& record) {
        if (held.empty() || held.back() != record.held) {
            held.push_back(record.held);
        }
        last = record;
    }
    void settle() {
        do {
            note(rules.record());
        } while (rules.sendDue());
    }
    void set(std::int32_t value) {
        rules.want(value);
        settle();
    }
    void lowerOnly(const std::string& program) {
        rules.lowerOnly(program);
        settle();
    }

    static constexpr std::int32_t kUp = 65500;
    static constexpr std::int32_t kDown = 13100;
    GatedProvider provider;
    std::vector<VolumeEvent> events;
    std::vector<bool> held;  // what the guard was told, each change once
    VolumeRules::Record last;
    VolumeRules rules{provider, [this](const VolumeRules::Record& record) { note(record); },
                      [this](VolumeEvent::Kind kind, std::int32_t value) {
                          events.push_back({kind, value});
                      }};
};

// What the provider tells.
TEST(VolumeRules, ResendsOnTheServersReturnAndTheHeldLevelFollowsTheOutput) {
    const struct {
        const char* name;
        std::int32_t asked;
        VolumeEvent::Kind told;
        Calls expected;
    } cases[] = {
        {"server back while held: resent",
         Ruled::kDown,
         VolumeEvent::Kind::ServerBack,
         {"set 13100", "set 13100"}},
        {"server back while up: resent",
         Ruled::kUp,
         VolumeEvent::Kind::ServerBack,
         {"set 65500", "set 65500"}},
        {"output changed while held: the new one held, the one left gets Up",
         Ruled::kDown,
         VolumeEvent::Kind::OutputChanged,
         {"set 13100", "set 13100", "setOn speakers 65500"}},
        {"output changed while up: nothing",
         Ruled::kUp,
         VolumeEvent::Kind::OutputChanged,
         {"set 65500"}},
    };
    for (const auto& c : cases) {
        Ruled ruled;
        ruled.locate();
        ruled.set(c.asked);
        if (c.told == VolumeEvent::Kind::OutputChanged) {
            ruled.provider.switchTo("headphones");
        }
        ruled.provider.tell(c.told);
        EXPECT_EQ(ruled.provider.calls(), c.expected) << c.name;
    }
}

// The guard learns what landed, never what was only asked: held from just before another value
// than Up goes out, and no longer once the Up value landed.
TEST(VolumeRules, TheGuardIsToldWhatLanded) {
    const struct {
        const char* name;
        std::vector<std::pair<std::int32_t, bool>> sets;  // value, taken
        std::vector<bool> held;
    } cases[] = {
        {"down, then up", {{Ruled::kDown, true}, {Ruled::kUp, true}}, {false, true, false}},
        {"down, then up refused", {{Ruled::kDown, true}, {Ruled::kUp, false}}, {false, true}},
        // A refused value may still land (a server that answers late): only Up landing ends it.
        {"down refused", {{Ruled::kDown, false}}, {false, true}},
        {"down refused, then up",
         {{Ruled::kDown, false}, {Ruled::kUp, true}},
         {false, true, false}},
        {"up", {{Ruled::kUp, true}}, {false}},
    };
    for (const auto& c : cases) {
        Ruled ruled;
        ruled.locate();
        for (const auto& [value, taken] : c.sets) {
            ruled.provider.refuse(!taken);
            ruled.set(value);
        }
        EXPECT_EQ(ruled.held, c.held) << c.name;
        EXPECT_EQ(ruled.last.upValue, Ruled::kUp) << c.name;
        EXPECT_EQ(ruled.last.scale, 65536) << c.name;
    }
}

TEST(VolumeRules, ANewUpValueTellsTheGuardWhetherTheLevelThatLandedIsHeld) {
    Ruled ruled;
    ruled.locate();
    ruled.set(30000);
    ruled.rules.setUpValue(30000);
    ruled.settle();
    EXPECT_EQ(ruled.held, (std::vector<bool>{false, true, false}));
}

TEST(VolumeRules, TheUpValueOfARunThatEndedHeldGoesBackFirst) {
    Ruled ruled;
    ruled.rules.putBackFirst({10000, 10000, "", {}});  // full volume, in another scale
    ruled.locate(false);
    EXPECT_EQ(ruled.provider.calls(), (Calls{"set 65536"}));
}

// A record of an earlier version names no server: its Up value goes back only on a volume of its
// scale whose output stands below it (where the provider tells), which takes the record; another
// server's copy leaves it alone. This version's record is this server's, whatever the volume.
TEST(VolumeRules, AnEarlierVersionsUpValueGoesBackOnlyWhereItMatches) {
    const struct {
        const char* name;
        std::int32_t scale;
        bool onlyOnItsScale;
        std::optional<std::int32_t> standsAt;  // the output, as the provider tells
        Calls expected;
        std::optional<std::string> held = std::string();
    } cases[] = {
        {"an earlier version's, of this scale", 65536, true, std::nullopt, {"set 32768"}},
        {"an earlier version's, the output below it", 65536, true, 13100, {"set 32768"}},
        {"an earlier version's, the output at it", 65536, true, 32768, {}},
        {"an earlier version's, the output above it", 65536, true, 65536, {}},
        {"an earlier version's, of another scale", 200, true, std::nullopt, {}},
        {"an earlier version's program, the output at it",
         65536,
         true,
         32768,
         {"setProgram radio 32768"},
         "radio"},
        {"this version's, of another scale", 200, false, std::nullopt, {"set 32768"}},
        {"this version's, the output at it", 65536, false, 32768, {"set 32768"}},
    };
    for (const auto& c : cases) {
        Ruled ruled;
        ruled.provider.standAt(c.standsAt);
        ruled.provider.streams("radio", 1);
        int taken = 0;
        ruled.rules.putBackFirst(
            {c.scale / 2, c.scale, c.held, {}, c.onlyOnItsScale, [&taken] { ++taken; }});
        ruled.locate(false);
        ruled.settle();
        EXPECT_EQ(ruled.provider.calls(), c.expected) << c.name;
        EXPECT_EQ(taken, c.expected.empty() ? 0 : 1) << c.name;
        EXPECT_EQ(ruled.held.back(), false) << c.name;
    }
}

// The earlier run's level may still be on the output until the Up value lands: a put-back the
// provider refuses leaves the guard holding, so that it finishes the job.
TEST(VolumeRules, ARefusedPutBackLeavesTheGuardHolding) {
    const struct {
        const char* name;
        bool taken;
        std::vector<bool> held;
    } cases[] = {{"taken", true, {true, false}}, {"refused", false, {true}}};
    for (const auto& c : cases) {
        Ruled ruled;
        ruled.provider.refuse(!c.taken);
        ruled.rules.putBackFirst({65500, 65536, "", {}});
        ruled.locate(false);
        EXPECT_EQ(ruled.held, c.held) << c.name;
    }
}

// With a program chosen, the value wanted goes to its streams and to nothing else; a stream that
// starts while they stand away from Up goes down too; a target given up while held gets Up back.
TEST(VolumeRules, LowersOnlyTheChosenProgram) {
    using Kind = VolumeEvent::Kind;
    const struct {
        const char* name;
        // "only NAME", "set VALUE", "tell KIND", "streams N", "output NAME", "streamsOn OUTPUT N",
        // "no sessions", "sessions"
        std::vector<std::string> steps;
        Calls expected;
        std::vector<std::string> owed = {};            // what the guard is last told is owed Up
        std::vector<VolumeRules::OwedOn> owedOn = {};  // ... and owed it on an output left
    } cases[] = {
        {"down to the program's streams", {"only radio", "set 13100"}, {"setProgram radio 13100"}},
        {"a stream starts while held: sent again",
         {"only radio", "set 13100", "tell started"},
         {"setProgram radio 13100", "setProgram radio 13100"}},
        // Up to a program nothing was taken from: its streams stay as the user set them.
        {"a stream starts while up: nothing", {"only radio", "set 65500", "tell started"}, {}},
        {"a stream starts after the Up mark: nothing",
         {"only radio", "set 13100", "set 65500", "tell started"},
         {"setProgram radio 13100", "setProgram radio 65500"}},
        // The server keeps the program's Down level for its next stream: Up is still owed.
        {"the Up mark finds no stream: the next stream gets Up",
         {"only radio", "set 13100", "streams 0", "set 65500", "streams 1", "tell started"},
         {"setProgram radio 13100", "setProgram radio 65500", "setProgram radio 65500"}},
        {"a stream starts with the output chosen: nothing",
         {"set 13100", "tell started"},
         {"set 13100"}},
        {"a stream starts while nothing of the program plays: sent",
         {"streams 0", "only radio", "set 13100", "tell started"},
         {"setProgram radio 13100", "setProgram radio 13100"}},
        {"the server back while held: sent again",
         {"only radio", "set 13100", "tell back"},
         {"setProgram radio 13100", "setProgram radio 13100"}},
        {"another program while held: the first gets Up",
         {"only radio", "set 13100", "only player"},
         {"setProgram radio 13100", "setProgram radio 65500", "setProgram player 13100"}},
        {"the output while a program is held: the program gets Up",
         {"only radio", "set 13100", "only "},
         {"setProgram radio 13100", "setProgram radio 65500", "set 13100"}},
        {"a program while the output is held: the output gets Up",
         {"set 13100", "only radio"},
         {"set 13100", "setOn speakers 65500", "setProgram radio 13100"}},
        // A program's volume stays with the output it was set on (Windows' sessions): a player
        // pinned to the output left behind is still in the break there.
        {"the output switched while held: the streams left behind keep Down until Up",
         {"only radio", "set 13100", "output headphones", "tell changed", "set 65500"},
         {"setProgram radio 13100", "setProgram radio 13100", "setProgram radio 65500",
          "setProgramOn speakers radio 65500"}},
        // The player moved with the output: Windows lists it on the first one again only when it
        // plays there, at the level it kept there.
        {"the output switched, the player moved: the guard learns it is owed Up there",
         {"only radio", "set 13100", "output headphones", "tell changed", "streamsOn speakers 0",
          "set 65500"},
         {"setProgram radio 13100", "setProgram radio 13100", "setProgram radio 65500",
          "setProgramOn speakers radio 65500"},
         {},
         {{"radio", "speakers"}}},
        {"the output switched, the player moved: owed Up there until it is listed again",
         {"only radio", "set 13100", "output headphones", "tell changed", "streamsOn speakers 0",
          "set 65500", "tell started", "output speakers", "tell changed", "streamsOn speakers 1",
          "tell started", "tell started"},
         {"setProgram radio 13100", "setProgram radio 13100", "setProgram radio 65500",
          "setProgramOn speakers radio 65500", "setProgramOn speakers radio 65500",
          "setProgramOn speakers radio 65500", "setProgramOn speakers radio 65500"}},
        {"owed Up on an output: not paid during the next break, its streams there lowered",
         {"only radio", "set 13100", "output headphones", "tell changed", "streamsOn speakers 0",
          "set 65500", "set 13100", "tell started", "output speakers", "tell changed", "set 65500",
          "tell started"},
         {"setProgram radio 13100", "setProgram radio 13100", "setProgram radio 65500",
          "setProgramOn speakers radio 65500", "setProgram radio 13100", "setProgram radio 13100",
          "setProgram radio 13100", "setProgram radio 65500",
          "setProgramOn headphones radio 65500"}},
        // Sessions refused at log-in: the whole output meanwhile, the program once they come.
        {"no volume per program yet: the output lowered, then the program once it comes",
         {"no sessions", "only radio", "set 13100", "tell started", "sessions", "tell started",
          "set 65500"},
         {"set 13100", "setOn speakers 65500", "setProgram radio 13100", "setProgram radio 65500"}},
        {"no volume per program on the output switched to: the output, asked again",
         {"only radio", "set 13100", "output headphones", "no sessions", "tell changed",
          "set 65500", "sessions", "set 13100"},
         {"setProgram radio 13100", "set 13100", "set 65500", "setProgramOn speakers radio 65500",
          "setProgram radio 13100"}},
        {"the output switched, then the whole one chosen: the streams left behind get Up",
         {"only radio", "set 13100", "output headphones", "only "},
         {"setProgram radio 13100", "setProgram radio 65500", "setProgramOn speakers radio 65500",
          "set 13100"}},
        {"a program while up: nothing to send", {"set 65500", "only radio"}, {"set 65500"}},
        {"a program before anything is wanted: nothing to send", {"only radio"}, {}},
        // A program given up while owed its Up value keeps it owed, whatever is chosen since.
        {"the output while the program is owed Up: its next stream gets it",
         {"only radio", "set 13100", "streams 0", "set 65500", "only ", "streams 1",
          "tell started"},
         {"setProgram radio 13100", "setProgram radio 65500", "setProgram radio 65500",
          "setProgram radio 65500"}},
        {"the output while the program is owed Up: owed while it plays nothing",
         {"only radio", "set 13100", "streams 0", "set 65500", "only ", "tell back"},
         {"setProgram radio 13100", "setProgram radio 65500", "setProgram radio 65500", "set 65500",
          "setProgram radio 65500"},
         {"radio"}},
        {"the owed program chosen again: Up goes to it",
         {"only radio", "set 13100", "streams 0", "set 65500", "only ", "only radio"},
         {"setProgram radio 13100", "setProgram radio 65500", "setProgram radio 65500",
          "setProgram radio 65500"}},
    };
    for (const auto& c : cases) {
        Ruled ruled;
        ruled.locate();
        ruled.provider.streams("radio", 2);
        ruled.provider.streams("player", 1);
        for (const std::string& step : c.steps) {
            const std::size_t space = step.find(' ');
            const std::string verb = step.substr(0, space);
            const std::string what = step.substr(space + 1);
            if (verb == "only") {
                ruled.lowerOnly(what);
            } else if (verb == "set") {
                ruled.set(std::stoi(what));
            } else if (verb == "streams") {
                ruled.provider.streams("radio", std::stoi(what));
            } else if (verb == "output") {
                ruled.provider.switchTo(what);
            } else if (verb == "streamsOn") {
                ruled.provider.streamsOn(what.substr(0, what.find(' ')),
                                         std::stoi(what.substr(what.find(' ') + 1)));
            } else if (verb == "no" || verb == "sessions") {
                ruled.provider.programVolume(verb == "sessions");
            } else {
                ruled.provider.tell(what == "started"   ? Kind::StreamStarted
                                    : what == "changed" ? Kind::OutputChanged
                                                        : Kind::ServerBack);
            }
        }
        EXPECT_EQ(ruled.provider.calls(), c.expected) << c.name;
        EXPECT_EQ(ruled.last.owed, c.owed) << c.name;
        EXPECT_EQ(ruled.last.owedOn, c.owedOn) << c.name;
    }
}

// An earlier run's programs owed Up on an output they left are owed it still: paid where they
// are listed there, owed on (and the guard told so) where they are not.
TEST(VolumeRules, AnEarlierRunsProgramsOwedOnAnOutputArePaidThere) {
    const struct {
        const char* name;
        int streamsThere;
        std::vector<VolumeRules::OwedOn> owedAfter;
    } cases[] = {
        {"listed there", 1, {}},
        {"not listed there", 0, {{"radio", "headphones"}}},
    };
    for (const auto& c : cases) {
        Ruled ruled;
        ruled.provider.streamsOn("headphones", c.streamsThere);
        ruled.rules.putBackFirst(
            {65536, 65536, std::nullopt, {}, false, {}, {{"radio", "headphones"}}});
        ruled.locate(false);
        ruled.settle();
        EXPECT_EQ(ruled.provider.calls(), (Calls{"setProgramOn headphones radio 65536"})) << c.name;
        EXPECT_EQ(ruled.last.owedOn, c.owedAfter) << c.name;
    }
}

// What the guard learns of a program: held, and which, while a value other than Up stands on
// at least one of its streams; a program with no stream has nothing away from Up.
TEST(VolumeRules, TheGuardIsToldWhichProgramIsHeld) {
    const struct {
        const char* name;
        int streams;
        std::vector<std::int32_t> sets;
        std::vector<bool> held;
    } cases[] = {
        {"down, then up", 2, {Ruled::kDown, Ruled::kUp}, {false, true, false}},
        {"down on no stream", 0, {Ruled::kDown}, {false, true, false}},
        {"up on no stream after down", 0, {Ruled::kDown, Ruled::kUp}, {false, true, false}},
        {"down", 1, {Ruled::kDown}, {false, true}},
    };
    for (const auto& c : cases) {
        Ruled ruled;
        ruled.locate();
        ruled.provider.streams("radio", c.streams);
        ruled.lowerOnly("radio");
        for (std::int32_t value : c.sets) {
            ruled.set(value);
        }
        EXPECT_EQ(ruled.held, c.held) << c.name;
        EXPECT_EQ(ruled.last.program, "radio") << c.name;
    }
}

// A target whose Up value is refused is kept, still held: the value wanted is refused, and the
// next one tries the switch again.
TEST(VolumeRules, AnotherTargetWaitsForTheUpValueOfTheFirst) {
    Ruled ruled;
    ruled.locate();
    ruled.provider.streams("radio", 1);
    ruled.lowerOnly("radio");
    ruled.set(Ruled::kDown);
    ruled.provider.refuse(true);
    ruled.lowerOnly("");
    ruled.provider.refuse(false);
    ruled.set(Ruled::kDown);
    EXPECT_EQ(ruled.provider.calls(), (Calls{"setProgram radio 13100", "setProgram radio 65500",
                                             "setProgram radio 65500", "set 13100"}));
    ASSERT_EQ(ruled.events.size(), 3u);
    EXPECT_EQ(ruled.events[1].kind, VolumeEvent::Kind::Refused);
    EXPECT_EQ(ruled.last.program, "");
    EXPECT_TRUE(ruled.last.held);
}

TEST(VolumeRules, TheUpValueOfARunThatHeldAProgramGoesBackToItsStreams) {
    // The options may be read before the mixer is found or after the Up value went back; either
    // way the output, which that run did not hold, is not touched.
    const struct {
        const char* name;
        const char* chosen;  // this run's choice
        bool chosenAfter;    // told once the Up value went back
        Calls expected;
    } cases[] = {
        {"the same program chosen", "radio", false, {"setProgram radio 65536"}},
        {"the output chosen", "", false, {"setProgram radio 65536"}},
        {"another program chosen", "player", false, {"setProgram radio 65536"}},
        {"the same program chosen after", "radio", true, {"setProgram radio 65536"}},
        {"the output chosen after", "", true, {"setProgram radio 65536"}},
        {"another program chosen after", "player", true, {"setProgram radio 65536"}},
    };
    for (const auto& c : cases) {
        Ruled ruled;
        ruled.provider.streams("radio", 1);
        ruled.rules.putBackFirst({10000, 10000, "radio", {}});
        if (!c.chosenAfter) {
            ruled.rules.lowerOnly(c.chosen);
        }
        ruled.locate(false);
        if (c.chosenAfter) {
            ruled.lowerOnly(c.chosen);
        }
        EXPECT_EQ(ruled.provider.calls(), c.expected) << c.name;
    }
}

// An earlier run's program that plays nothing now: its next stream may start at the level the
// server kept for it, so the guard keeps holding until one of its streams took the Up value.
TEST(VolumeRules, AnEarlierRunsProgramThatPlaysNothingIsOwedItsUpValue) {
    Ruled ruled;
    ruled.locate();
    ruled.rules.putBackFirst({65536, 65536, "radio", {}});
    ruled.provider.streams("radio", 0);
    ruled.rules.lowerOnly("radio");
    ruled.locate(false);
    ruled.provider.streams("radio", 1);
    ruled.provider.tell(VolumeEvent::Kind::StreamStarted);
    EXPECT_EQ(ruled.provider.calls(), (Calls{"setProgram radio 65536", "setProgram radio 65536"}));
    EXPECT_EQ(ruled.held, (std::vector<bool>{false, true, false}));
}

// A program chosen where the system has no volume per program: the whole output is lowered, as
// without a choice, rather than nothing at all.
TEST(VolumeRules, AChoiceOfProgramWithoutAVolumePerProgramLowersTheOutput) {
    FakeProvider provider;
    VolumeRules rules(
        provider, [](const VolumeRules::Record&) {}, [](VolumeEvent::Kind, std::int32_t) {});
    rules.lowerOnly("radio");
    ASSERT_TRUE(rules.open());
    ASSERT_TRUE(rules.locate());
    rules.want(13100);
    while (rules.sendDue()) {
    }
    EXPECT_EQ(provider.calls, (std::vector<std::string>{"set 13100"}));
}

}  // namespace
}  // namespace hushwell::testing
