// Signals that ask the program to end, on Linux.

#include "app/QuitSignals.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <thread>

namespace hushwell {
namespace {

using namespace std::chrono_literals;

TEST(QuitSignals, ASignalArrivesOnTheEventLoop) {
    QuitSignals quit;
    int received = 0;
    QObject::connect(&quit, &QuitSignals::received, [&received](int number) { received = number; });
    std::raise(SIGTERM);
    EXPECT_EQ(received, 0) << "not in the handler itself";
    for (int i = 0; i < 100 && received == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(received, SIGTERM);
}

// A flood of signals while the loop is busy neither blocks the handler (it would hang the thread
// it interrupted) nor changes errno under the code it interrupted.
TEST(QuitSignals, AFloodNeitherBlocksNorTouchesErrno) {
    QuitSignals quit;
    int received = 0;
    QObject::connect(&quit, &QuitSignals::received, [&received](int) { ++received; });
    auto flooded = std::make_shared<std::promise<bool>>();
    std::future<bool> result = flooded->get_future();
    std::thread([flooded] {
        bool errnoKept = true;
        for (int i = 0; i < 20000; ++i) {
            errno = EDOM;
            std::raise(SIGHUP);
            errnoKept = errnoKept && errno == EDOM;
        }
        flooded->set_value(errnoKept);
    }).detach();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready) << "the handler blocked";
    EXPECT_TRUE(result.get()) << "the handler changed errno";
    for (int i = 0; i < 100 && received == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_GT(received, 0);
}

}  // namespace
}  // namespace hushwell
