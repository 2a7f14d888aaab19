#include "mixer/BackgroundVolume.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace hushwell::testing {
namespace {

using namespace std::chrono_literals;

// A provider whose set() waits at a gate the test opens, as a stalled sound server would.
class GatedProvider final : public MasterVolume {
public:
    bool open() override { return true; }
    std::optional<std::int32_t> locate() override { return 65536; }
    bool set(std::int32_t value) override {
        std::unique_lock lock(m_mutex);
        m_entered.push_back(value);
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        m_taken.push_back(value);
        return value >= 0;
    }
    void setUpValue(std::int32_t value) override {
        const std::lock_guard lock(m_mutex);
        m_upValues.push_back(value);
    }
    void watch(const EventHandler& handler) override { m_handler = handler; }

    void openGate() {
        const std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    // Waits until set() was entered `count` times.
    void waitForEntries(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 5s, [&] { return m_entered.size() >= count; });
    }
    std::vector<std::int32_t> taken() {
        const std::lock_guard lock(m_mutex);
        return m_taken;
    }
    void tell(VolumeEvent::Kind kind) const { m_handler({kind, 0}); }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    std::vector<std::int32_t> m_entered;
    std::vector<std::int32_t> m_taken;
    std::vector<std::int32_t> m_upValues;
    EventHandler m_handler;
};

// Tasks posted back to "the owner's thread", run when the test says.
struct Posted {
    std::mutex mutex;
    std::vector<std::function<void()>> tasks;
    BackgroundVolume::Post post() {
        return [this](std::function<void()> task) {
            const std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        };
    }
    // Waits until a task was posted.
    void waitForOne() {
        for (int attempt = 0; attempt < 500; ++attempt) {
            {
                const std::lock_guard lock(mutex);
                if (!tasks.empty()) {
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

TEST(BackgroundVolume, ASetNeverWaitsForTheProviderAndOnlyTheLatestValueFollows) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    Posted posted;
    BackgroundVolume volume(std::move(owned), posted.post());
    ASSERT_TRUE(volume.open());
    EXPECT_TRUE(volume.set(100));
    provider.waitForEntries(1);  // the provider is stuck in the first set
    for (std::int32_t value : {200, 300, 400}) {
        EXPECT_TRUE(volume.set(value)) << "handed over while the provider is stuck";
    }
    provider.openGate();
    volume.finish();
    EXPECT_EQ(provider.taken(), (std::vector<std::int32_t>{100, 400}));
}

TEST(BackgroundVolume, AValueNotTakenComesBackOnTheOwnersThread) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    provider.openGate();
    Posted posted;
    BackgroundVolume volume(std::move(owned), posted.post());
    std::vector<VolumeEvent> events;
    volume.watch([&events](const VolumeEvent& event) { events.push_back(event); });
    ASSERT_TRUE(volume.open());
    EXPECT_TRUE(volume.set(-5));  // refused by the provider, later
    posted.waitForOne();
    EXPECT_TRUE(events.empty()) << "nothing runs until the owner's loop does";
    volume.finish();
    posted.runAll();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, VolumeEvent::Kind::Refused);
    EXPECT_EQ(events[0].value, -5);
}

TEST(BackgroundVolume, TheValueAskedForIsSentAgainWhenTheServerOrAHeldOutputChanges) {
    const struct {
        const char* name;
        VolumeEvent::Kind kind;
        std::int32_t asked;
        bool sentAgain;
    } cases[] = {{"server back, volume up", VolumeEvent::Kind::ServerBack, 65500, true},
                 {"server back, volume down", VolumeEvent::Kind::ServerBack, 13100, true},
                 {"output changed, volume down", VolumeEvent::Kind::OutputChanged, 13100, true},
                 {"output changed, volume up", VolumeEvent::Kind::OutputChanged, 65500, false}};
    for (const auto& c : cases) {
        auto owned = std::make_unique<GatedProvider>();
        GatedProvider& provider = *owned;
        provider.openGate();
        Posted posted;
        BackgroundVolume volume(std::move(owned), posted.post());
        ASSERT_TRUE(volume.open());
        volume.setUpValue(65500);
        EXPECT_TRUE(volume.set(c.asked));
        provider.waitForEntries(1);
        provider.tell(c.kind);
        if (c.sentAgain) {
            provider.waitForEntries(2);
        }
        volume.finish();
        EXPECT_EQ(provider.taken().size(), c.sentAgain ? 2u : 1u) << c.name;
    }
}

TEST(BackgroundVolume, FinishSendsWhatIsStillToBeSent) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    Posted posted;
    BackgroundVolume volume(std::move(owned), posted.post());
    ASSERT_TRUE(volume.open());
    EXPECT_TRUE(volume.set(13100));
    provider.waitForEntries(1);
    EXPECT_TRUE(volume.set(65500));  // the Up level, asked while the provider is stuck
    provider.openGate();
    volume.finish();
    EXPECT_EQ(provider.taken(), (std::vector<std::int32_t>{13100, 65500}));
}

// A provider stuck in a hung server (ALSA's plugin waits without a limit) does not hold the
// program: open() gives up at its deadline, as if there were no mixer, and so does the end.
TEST(BackgroundVolume, AProviderThatNeverAnswersIsGivenUpAtTheDeadlines) {
    auto owned = std::make_unique<GatedProvider>();
    GatedProvider& provider = *owned;
    Posted posted;
    BackgroundVolume volume(std::move(owned), posted.post(),
                            {std::chrono::milliseconds(200), std::chrono::milliseconds(200)});
    ASSERT_TRUE(volume.open());  // the gate is only on set()
    EXPECT_TRUE(volume.set(13100));
    provider.waitForEntries(1);
    EXPECT_FALSE(volume.locate().has_value()) << "the thread is stuck: no answer";
    volume.finish();      // returns: the stuck thread is let go
    provider.openGate();  // and finishes on its own, with what it works on still there
}

}  // namespace
}  // namespace hushwell::testing
