#include "mixer/VolumeOwner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/FakeVolume.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

// A provider with outputs by name whose set() waits at a gate the test opens, as a stalled sound
// server would. Every call is recorded: "set 13100", "setOn speakers 65500", "setProgramOn
// speakers radio 65500".
class GatedProvider final : public MasterVolume {
public:
    bool open() override { return true; }
    std::optional<std::int32_t> locate() override { return 65536; }
    std::optional<std::string> set(std::int32_t value) override {
        std::unique_lock lock(m_mutex);
        m_calls.push_back("set " + std::to_string(value));
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        if (m_refuses || value < 0) {
            return std::nullopt;
        }
        return m_current;
    }
    bool setOn(const std::string& output, std::int32_t value) override {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back("setOn " + output + " " + std::to_string(value));
        m_changed.notify_all();
        return !m_refuses;
    }
    bool hasProgramVolume() const override { return true; }
    std::vector<std::string> playingPrograms() override {
        const std::lock_guard lock(m_mutex);
        std::vector<std::string> names;
        for (const auto& [name, count] : m_streams) {
            names.push_back(name);
        }
        return names;
    }
    // Refused like set(); otherwise the number of streams the program has (see streams()).
    std::optional<int> setProgram(const std::string& program, std::int32_t value) override {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back("setProgram " + program + " " + std::to_string(value));
        m_changed.notify_all();
        if (m_refuses || value < 0) {
            return std::nullopt;
        }
        const auto found = m_streams.find(program);
        return found == m_streams.end() ? 0 : found->second;
    }
    // The streams play on the current output, where their volume stays.
    std::optional<ProgramTaken> setProgramWhere(const std::string& program,
                                                std::int32_t value) override {
        const std::optional<int> streams = setProgram(program, value);
        const std::lock_guard lock(m_mutex);
        return streams ? std::optional(ProgramTaken{*streams, m_current}) : std::nullopt;
    }
    std::optional<int> setProgramOn(const std::string& output, const std::string& program,
                                    std::int32_t value) override {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back("setProgramOn " + output + " " + program + " " + std::to_string(value));
        m_changed.notify_all();
        return m_refuses ? std::nullopt : std::optional(1);
    }
    void watch(const EventHandler& handler) override { m_handler = handler; }

    void streams(const std::string& program, int count) {
        const std::lock_guard lock(m_mutex);
        m_streams[program] = count;
    }
    void openGate() {
        const std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void refuse(bool refuses) {
        const std::lock_guard lock(m_mutex);
        m_refuses = refuses;
    }
    void switchTo(const std::string& output) {
        const std::lock_guard lock(m_mutex);
        m_current = output;
    }
    // Waits until `count` calls came.
    void waitForCalls(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 5s, [&] { return m_calls.size() >= count; });
    }
    Calls calls() {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }
    void tell(VolumeEvent::Kind kind) const { m_handler({kind, 0}); }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_refuses = false;
    std::string m_current = "speakers";
    Calls m_calls;
    std::map<std::string, int> m_streams;  // streams by program
    EventHandler m_handler;
};

// Tasks posted back to "the core's thread", run when the test says.
struct Posted {
    std::mutex mutex;
    std::vector<std::function<void()>> tasks;
    VolumeOwner::Post post() {
        return [this](std::function<void()> task) {
            const std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        };
    }
    // Waits until `count` tasks were posted.
    void waitFor(std::size_t count) {
        for (int attempt = 0; attempt < 500; ++attempt) {
            {
                const std::lock_guard lock(mutex);
                if (tasks.size() >= count) {
                    return;
                }
            }
            std::this_thread::sleep_for(10ms);
        }
    }
    void runAll() {
        std::vector<std::function<void()>> now;
        {
            const std::lock_guard lock(mutex);
            now.swap(tasks);
        }
        for (auto& task : now) {
            task();
        }
    }
};

// An owner on an open gated provider, its volume located and the Up value 65500; what it tells
// the core and the guard is kept.
struct Owned {
    Owned() {
        auto owned = std::make_unique<GatedProvider>();
        provider = owned.get();
        provider->openGate();
        volume = std::make_unique<VolumeOwner>(std::move(owned), posted.post());
        volume->watch([this](const VolumeEvent& event) { events.push_back(event); });
        volume->observe([this](const VolumeOwner::Record& record) {
            const std::lock_guard lock(mutex);
            if (held.empty() || held.back() != record.held) {
                held.push_back(record.held);
            }
            last = record;
        });
        EXPECT_TRUE(volume->open());
        EXPECT_EQ(volume->locate(), 65536);
        volume->setUpValue(kUp);
    }
    // Sets `value` and waits until the provider had `calls` calls in all.
    void set(std::int32_t value, std::size_t calls) {
        volume->set(value);
        provider->waitForCalls(calls);
    }
    void finish() {
        volume->finish();
        posted.runAll();
    }

    static constexpr std::int32_t kUp = 65500;
    static constexpr std::int32_t kDown = 13100;
    GatedProvider* provider = nullptr;
    Posted posted;
    std::unique_ptr<VolumeOwner> volume;
    std::vector<VolumeEvent> events;
    std::mutex mutex;
    std::vector<bool> held;  // what the guard was told, each change once
    VolumeOwner::Record last;
};

TEST(VolumeOwner, ASetNeverWaitsForTheProviderAndOnlyTheLatestValueFollows) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    Posted posted;
    VolumeOwner volume(std::move(owned), posted.post());
    ASSERT_TRUE(volume.open());
    volume.set(100);
    provider.waitForCalls(1);  // the provider is stuck in the first set
    for (std::int32_t value : {200, 300, 400}) {
        volume.set(value);  // handed over while the provider is stuck
    }
    provider.openGate();
    volume.finish();
    EXPECT_EQ(provider.calls(), (Calls{"set 100", "set 400"}));
}

TEST(VolumeOwner, WhatLandedOrNotComesBackOnTheCoresThread) {
    Owned owner;
    owner.set(Owned::kDown, 1);
    owner.set(-5, 2);
    owner.posted.waitFor(2);
    EXPECT_TRUE(owner.events.empty()) << "nothing runs until the core's loop does";
    owner.finish();
    ASSERT_EQ(owner.events.size(), 2u);
    EXPECT_EQ(owner.events[0].kind, VolumeEvent::Kind::Taken);
    EXPECT_EQ(owner.events[0].value, Owned::kDown);
    EXPECT_EQ(owner.events[1].kind, VolumeEvent::Kind::Refused);
    EXPECT_EQ(owner.events[1].value, -5);
}

// The rules the owner alone applies, on what the provider tells.
TEST(VolumeOwner, ResendsOnTheServersReturnAndTheHeldLevelFollowsTheOutput) {
    const struct {
        const char* name;
        std::int32_t asked;
        VolumeEvent::Kind told;
        Calls expected;
    } cases[] = {
        {"server back while held: resent",
         Owned::kDown,
         VolumeEvent::Kind::ServerBack,
         {"set 13100", "set 13100"}},
        {"server back while up: resent",
         Owned::kUp,
         VolumeEvent::Kind::ServerBack,
         {"set 65500", "set 65500"}},
        {"output changed while held: the new one held, the one left gets Up",
         Owned::kDown,
         VolumeEvent::Kind::OutputChanged,
         {"set 13100", "set 13100", "setOn speakers 65500"}},
        {"output changed while up: nothing",
         Owned::kUp,
         VolumeEvent::Kind::OutputChanged,
         {"set 65500"}},
    };
    for (const auto& c : cases) {
        Owned owner;
        owner.set(c.asked, 1);
        owner.posted.waitFor(1);  // landed
        if (c.told == VolumeEvent::Kind::OutputChanged) {
            owner.provider->switchTo("headphones");
        }
        owner.provider->tell(c.told);
        owner.provider->waitForCalls(c.expected.size());
        owner.finish();
        EXPECT_EQ(owner.provider->calls(), c.expected) << c.name;
    }
}

// The guard learns what landed, never what was only asked: held from just before another value
// than Up goes out, and no longer once the Up value landed.
TEST(VolumeOwner, TheGuardIsToldWhatLanded) {
    const struct {
        const char* name;
        std::vector<std::pair<std::int32_t, bool>> sets;  // value, taken
        std::vector<bool> held;
    } cases[] = {
        {"down, then up", {{Owned::kDown, true}, {Owned::kUp, true}}, {false, true, false}},
        {"down, then up refused", {{Owned::kDown, true}, {Owned::kUp, false}}, {false, true}},
        // A refused value may still land (a server that answers late): only Up landing ends it.
        {"down refused", {{Owned::kDown, false}}, {false, true}},
        {"down refused, then up",
         {{Owned::kDown, false}, {Owned::kUp, true}},
         {false, true, false}},
        {"up", {{Owned::kUp, true}}, {false}},
    };
    for (const auto& c : cases) {
        Owned owner;
        std::size_t calls = 0;
        for (const auto& [value, taken] : c.sets) {
            owner.provider->refuse(!taken);
            owner.set(value, ++calls);
            owner.posted.waitFor(calls);
        }
        owner.finish();
        EXPECT_EQ(owner.held, c.held) << c.name;
        EXPECT_EQ(owner.last.upValue, Owned::kUp) << c.name;
        EXPECT_EQ(owner.last.scale, 65536) << c.name;
    }
}

TEST(VolumeOwner, ANewUpValueTellsTheGuardWhetherTheLevelThatLandedIsHeld) {
    Owned owner;
    owner.set(30000, 1);
    owner.posted.waitFor(1);
    owner.volume->setUpValue(30000);
    owner.finish();
    EXPECT_EQ(owner.held, (std::vector<bool>{false, true, false}));
}

TEST(VolumeOwner, TheUpValueOfARunThatEndedHeldGoesBackFirst) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    provider.openGate();
    Posted posted;
    VolumeOwner volume(std::move(owned), posted.post());
    volume.putBackFirst(10000, 10000);  // full volume, in another scale
    ASSERT_TRUE(volume.open());
    ASSERT_EQ(volume.locate(), 65536);
    provider.waitForCalls(1);
    volume.finish();
    EXPECT_EQ(provider.calls(), (Calls{"set 65536"}));
}

// The earlier run's level may still be on the output until the Up value lands: a put-back the
// provider refuses leaves the guard holding, so that it finishes the job.
TEST(VolumeOwner, ARefusedPutBackLeavesTheGuardHolding) {
    const struct {
        const char* name;
        bool taken;
        std::vector<bool> held;
    } cases[] = {{"taken", true, {true, false}}, {"refused", false, {true}}};
    for (const auto& c : cases) {
        auto owned = std::make_unique<GatedProvider>();
        GatedProvider& provider = *owned;
        provider.openGate();
        provider.refuse(!c.taken);
        Posted posted;
        VolumeOwner volume(std::move(owned), posted.post());
        std::mutex mutex;
        std::vector<bool> held;
        volume.observe([&](const VolumeOwner::Record& record) {
            const std::lock_guard lock(mutex);
            if (held.empty() || held.back() != record.held) {
                held.push_back(record.held);
            }
        });
        volume.putBackFirst(65500, 65536);
        ASSERT_TRUE(volume.open());
        ASSERT_EQ(volume.locate(), 65536);
        provider.waitForCalls(1);
        volume.finish();
        EXPECT_EQ(held, c.held) << c.name;
    }
}

// With a program chosen, the value wanted goes to its streams and to nothing else; a stream that
// starts while they stand away from Up goes down too; a target given up while held gets Up back.
TEST(VolumeOwner, LowersOnlyTheChosenProgram) {
    using Kind = VolumeEvent::Kind;
    const struct {
        const char* name;
        // "only NAME", "set VALUE", "tell KIND", "streams N", "output NAME"
        std::vector<std::string> steps;
        Calls expected;
        std::vector<std::string> owed = {};  // what the guard is last told is owed Up
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
        // A program's volume stays with the output it was set on (Windows' sessions).
        {"the output switched while held: the program's streams left behind get Up",
         {"only radio", "set 13100", "output headphones", "tell changed"},
         {"setProgram radio 13100", "setProgram radio 13100", "setProgramOn speakers radio 65500"}},
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
        Owned owner;
        owner.provider->streams("radio", 2);
        owner.provider->streams("player", 1);
        // Each set, and each choice once a value is wanted, is waited for until it landed; what
        // the other steps cause, finish() sends.
        std::size_t results = 0;
        for (const std::string& step : c.steps) {
            const std::size_t space = step.find(' ');
            const std::string verb = step.substr(0, space);
            const std::string what = step.substr(space + 1);
            if (verb == "only") {
                owner.volume->lowerOnly(what);
                if (results > 0) {
                    owner.posted.waitFor(++results);
                }
            } else if (verb == "set") {
                owner.volume->set(std::stoi(what));
                owner.posted.waitFor(++results);
            } else if (verb == "streams") {
                owner.provider->streams("radio", std::stoi(what));
            } else if (verb == "output") {
                owner.provider->switchTo(what);
            } else {
                owner.provider->tell(what == "started"   ? Kind::StreamStarted
                                     : what == "changed" ? Kind::OutputChanged
                                                         : Kind::ServerBack);
            }
        }
        owner.finish();
        EXPECT_EQ(owner.provider->calls(), c.expected) << c.name;
        EXPECT_EQ(owner.last.owed, c.owed) << c.name;
    }
}

// What the guard learns of a program: held, and which, while a value other than Up stands on
// at least one of its streams; a program with no stream has nothing away from Up.
TEST(VolumeOwner, TheGuardIsToldWhichProgramIsHeld) {
    const struct {
        const char* name;
        int streams;
        std::vector<std::int32_t> sets;
        std::vector<bool> held;
    } cases[] = {
        {"down, then up", 2, {Owned::kDown, Owned::kUp}, {false, true, false}},
        {"down on no stream", 0, {Owned::kDown}, {false, true, false}},
        {"up on no stream after down", 0, {Owned::kDown, Owned::kUp}, {false, true, false}},
        {"down", 1, {Owned::kDown}, {false, true}},
    };
    for (const auto& c : cases) {
        Owned owner;
        owner.provider->streams("radio", c.streams);
        owner.volume->lowerOnly("radio");
        std::size_t results = 0;
        for (std::int32_t value : c.sets) {
            owner.volume->set(value);
            owner.posted.waitFor(++results);
        }
        owner.finish();
        EXPECT_EQ(owner.held, c.held) << c.name;
        EXPECT_EQ(owner.last.program, "radio") << c.name;
    }
}

// A target whose Up value is refused is kept, still held: the value wanted is refused, and the
// next one tries the switch again.
TEST(VolumeOwner, AnotherTargetWaitsForTheUpValueOfTheFirst) {
    Owned owner;
    owner.provider->streams("radio", 1);
    owner.volume->lowerOnly("radio");
    owner.set(Owned::kDown, 1);
    owner.posted.waitFor(1);
    owner.provider->refuse(true);
    owner.volume->lowerOnly("");
    owner.provider->waitForCalls(2);
    owner.posted.waitFor(2);
    owner.provider->refuse(false);
    owner.set(Owned::kDown, 4);
    owner.posted.waitFor(3);
    owner.finish();
    EXPECT_EQ(owner.provider->calls(), (Calls{"setProgram radio 13100", "setProgram radio 65500",
                                              "setProgram radio 65500", "set 13100"}));
    ASSERT_EQ(owner.events.size(), 3u);
    EXPECT_EQ(owner.events[1].kind, VolumeEvent::Kind::Refused);
    EXPECT_EQ(owner.last.program, "");
    EXPECT_TRUE(owner.last.held);
}

TEST(VolumeOwner, TheUpValueOfARunThatHeldAProgramGoesBackToItsStreams) {
    const struct {
        const char* name;
        const char* chosen;  // this run's choice
        Calls expected;
    } cases[] = {
        {"the same program chosen", "radio", {"setProgram radio 65536"}},
        {"the output chosen", "", {"setProgram radio 65536"}},
        {"another program chosen", "player", {"setProgram radio 65536"}},
    };
    for (const auto& c : cases) {
        auto owned = std::make_unique<GatedProvider>();
        GatedProvider& provider = *owned;
        provider.openGate();
        provider.streams("radio", 1);
        Posted posted;
        VolumeOwner volume(std::move(owned), posted.post());
        volume.putBackFirst(10000, 10000, "radio");
        volume.lowerOnly(c.chosen);
        ASSERT_TRUE(volume.open());
        ASSERT_EQ(volume.locate(), 65536);
        volume.finish();
        EXPECT_EQ(provider.calls(), c.expected) << c.name;
    }
}

// An earlier run's program that plays nothing now: its next stream may start at the level the
// server kept for it, so the guard keeps holding until one of its streams took the Up value.
TEST(VolumeOwner, AnEarlierRunsProgramThatPlaysNothingIsOwedItsUpValue) {
    Owned owner;
    owner.volume->putBackFirst(65536, 65536, "radio");
    owner.provider->streams("radio", 0);
    owner.volume->lowerOnly("radio");
    ASSERT_EQ(owner.volume->locate(), 65536);
    owner.provider->waitForCalls(1);
    owner.posted.waitFor(1);
    owner.provider->streams("radio", 1);
    owner.provider->tell(VolumeEvent::Kind::StreamStarted);
    owner.provider->waitForCalls(2);
    owner.finish();
    EXPECT_EQ(owner.provider->calls(), (Calls{"setProgram radio 65536", "setProgram radio 65536"}));
    EXPECT_EQ(owner.held, (std::vector<bool>{false, true, false}));
}

TEST(VolumeOwner, TellsWhetherThereIsAVolumePerProgramAndWhichPlay) {
    Owned owner;
    EXPECT_TRUE(owner.volume->hasProgramVolume());
    owner.provider->streams("radio", 2);
    owner.provider->streams("player", 1);
    std::vector<std::string> playing;
    owner.volume->askPlayingPrograms(
        [&playing](std::vector<std::string> programs) { playing = std::move(programs); });
    owner.posted.waitFor(1);
    EXPECT_TRUE(playing.empty()) << "the reply comes on the core's thread";
    owner.posted.runAll();
    EXPECT_EQ(playing, (std::vector<std::string>{"player", "radio"}));
    owner.finish();

    Posted posted;
    VolumeOwner plain(std::make_unique<FakeProvider>(), posted.post());
    EXPECT_FALSE(plain.hasProgramVolume()) << "not known before open()";
    ASSERT_TRUE(plain.open());
    EXPECT_FALSE(plain.hasProgramVolume());

    // One that gains it later (sessions refused at the open) says so at the next question.
    auto late = std::make_unique<FakeProvider>();
    FakeProvider& gains = *late;
    VolumeOwner later(std::move(late), posted.post());
    ASSERT_TRUE(later.open());
    EXPECT_FALSE(later.hasProgramVolume());
    gains.programVolume = true;
    later.askPlayingPrograms([](const std::vector<std::string>&) {});
    posted.waitFor(1);
    EXPECT_TRUE(later.hasProgramVolume());
}

// A program chosen where the system has no volume per program: the whole output is lowered, as
// without a choice, rather than nothing at all.
TEST(VolumeOwner, AChoiceOfProgramWithoutAVolumePerProgramLowersTheOutput) {
    auto owned = std::make_unique<FakeProvider>();
    FakeProvider& provider = *owned;
    Posted posted;
    VolumeOwner volume(std::move(owned), posted.post());
    volume.lowerOnly("radio");
    ASSERT_TRUE(volume.open());
    ASSERT_TRUE(volume.locate());
    volume.set(13100);
    volume.finish();
    EXPECT_EQ(provider.calls, (std::vector<std::string>{"set 13100"}));
}

// A provider stuck past the end's deadline is let go; the guard that observes the owner is gone
// soon after, and nothing may reach it once the set finally returns.
TEST(VolumeOwner, ALetGoThreadTellsTheObserverNothingMore) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    Posted posted;
    auto volume = std::make_unique<VolumeOwner>(std::move(owned), posted.post(),
                                                VolumeOwner::Deadlines{200ms, 200ms});
    auto told = std::make_shared<std::atomic<int>>(0);
    volume->observe([told](const VolumeOwner::Record&) { ++*told; });
    ASSERT_TRUE(volume->open());
    ASSERT_EQ(volume->locate(), 65536);
    volume->setUpValue(65500);
    volume->set(13100);  // held: told before the value goes out
    provider.waitForCalls(1);
    volume->set(65500);  // the Up value, still to be sent when the end comes
    volume->finish();    // the stuck thread is let go
    const int before = told->load();
    provider.openGate();  // Up lands: the record changes, but nobody is told
    provider.waitForCalls(2);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(told->load(), before);
    volume.reset();
}

TEST(VolumeOwner, FinishSendsWhatIsStillToBeSent) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    Posted posted;
    VolumeOwner volume(std::move(owned), posted.post());
    ASSERT_TRUE(volume.open());
    volume.set(13100);
    provider.waitForCalls(1);
    volume.set(65500);  // the Up level, asked while the provider is stuck
    provider.openGate();
    volume.finish();
    EXPECT_EQ(provider.calls(), (Calls{"set 13100", "set 65500"}));
}

// A provider stuck in a hung server (ALSA's plugin waits without a limit) does not hold the
// program: open() gives up at its deadline, as if there were no mixer, and so does the end.
TEST(VolumeOwner, AProviderThatNeverAnswersIsGivenUpAtTheDeadlines) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    Posted posted;
    VolumeOwner volume(std::move(owned), posted.post(), {200ms, 200ms});
    ASSERT_TRUE(volume.open());  // the gate is only on set()
    volume.set(13100);
    provider.waitForCalls(1);
    EXPECT_FALSE(volume.locate().has_value()) << "the thread is stuck: no answer";
    volume.finish();      // returns: the stuck thread is let go
    provider.openGate();  // and finishes on its own, with what it works on still there
}

}  // namespace
}  // namespace hushwell::testing
