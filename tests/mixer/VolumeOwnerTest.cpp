#include "mixer/VolumeOwner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mixer/GatedProvider.h"
#include "support/FakeVolume.h"

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

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
// the core is kept.
struct Owned {
    Owned() {
        auto owned = std::make_unique<GatedProvider>();
        provider = owned.get();
        provider->openGate();
        volume = std::make_unique<VolumeOwner>(std::move(owned), posted.post());
        volume->watch([this](const VolumeEvent& event) { events.push_back(event); });
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
