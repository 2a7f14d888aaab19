// The claim that keeps one copy per user, built for Linux and for Windows (run under Wine).

#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace hushwell {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `done` holds or `limit` has passed; whether it held.
bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    return done();
}

// Whether `work` ends within `limit`; a thread that hangs is left behind for the process's end.
bool endsWithin(std::function<void()> work, std::chrono::milliseconds limit) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread([work = std::move(work), done] {
        work();
        done->set_value();
    }).detach();
    return ended.wait_for(limit) == std::future_status::ready;
}

TEST(SingleInstance, ALaterStartFindsTheFirstAndAsksItToTheFront) {
    const std::unique_ptr<SingleInstance> first = SingleInstance::claim();
    ASSERT_NE(first, nullptr);
    std::atomic<int> asked{0};
    first->onAsked([&asked] { ++asked; });
    EXPECT_EQ(SingleInstance::claim(), nullptr);
    EXPECT_TRUE(processUntil([&asked] { return asked == 1; })) << asked;
}

// The first copy answers one knock at a time: starts that come together wait their turn instead
// of running as second copies.
TEST(SingleInstance, StartsThatComeTogetherAllFindTheFirst) {
    const std::unique_ptr<SingleInstance> first = SingleInstance::claim();
    ASSERT_NE(first, nullptr);
    std::atomic<int> asked{0};
    first->onAsked([&asked] { ++asked; });
    constexpr int kStarts = 12;
    std::atomic<int> claimed{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> starts;
    for (int i = 0; i < kStarts; ++i) {
        starts.emplace_back([&claimed, &finished] {
            if (SingleInstance::claim() != nullptr) {
                ++claimed;
            }
            ++finished;
        });
    }
    EXPECT_TRUE(processUntil([&] { return finished == kStarts && asked == kStarts; }))
        << finished << " starts finished, " << asked << " asked";
    for (std::thread& start : starts) {
        start.join();
    }
    EXPECT_EQ(claimed, 0) << "starts that ran as second copies";
}

// The program ends while other starts knock: it stops listening at once, and the claim is free
// for the next start.
TEST(SingleInstance, TheClaimEndsWhileStartsKnock) {
    for (int round = 0; round < 20; ++round) {
        std::unique_ptr<SingleInstance> first = SingleInstance::claim();
        ASSERT_NE(first, nullptr) << "round " << round;
        first->onAsked([] {});
        std::atomic<bool> knocking{true};
        std::thread knocker([&knocking] {
            while (knocking) {
                (void)SingleInstance::claim();
            }
        });
        std::this_thread::sleep_for(5ms);
        first->stopListening();
        ASSERT_TRUE(endsWithin([&first] { first.reset(); }, 10s))
            << "the claim did not end in round " << round;
        knocking = false;
        knocker.join();
        processUntil([] { return false; }, 20ms);  // what was asked before the end
    }
    EXPECT_NE(SingleInstance::claim(), nullptr);
}

// Once the program stops listening, nothing more is asked of it, yet it still holds the claim.
TEST(SingleInstance, AfterStoppingNothingIsAskedAndTheClaimHolds) {
    const std::unique_ptr<SingleInstance> first = SingleInstance::claim();
    ASSERT_NE(first, nullptr);
    std::atomic<int> asked{0};
    first->onAsked([&asked] { ++asked; });
    first->stopListening();
    EXPECT_EQ(SingleInstance::claim(), nullptr);
    processUntil([] { return false; }, 200ms);
    EXPECT_EQ(asked, 0);
}

}  // namespace
}  // namespace hushwell

int main(int argc, char** argv) {
#ifndef _WIN32
    // The claim is per display: a display of this test's own keeps it away from a running copy.
    const std::string display = ":hushwell-test-" + std::to_string(::getpid());
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
#endif
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
