#include "mixer/CaptureHandOff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

namespace hushwell::testing {
namespace {

// Blocks of a tenth of a second handed on at once while the listener is still busy with the
// first: how many reach it, and in the order they came.
TEST(CaptureHandOff, KeepsWhatAProviderHandsOnAtOnce) {
    struct Row {
        const char* what;
        int posted;
        int taken;
    };
    for (const Row& row : std::vector<Row>{{"a relaxed piece of 2 s", 20, 20},
                                           {"two read late, and the rest of a block", 41, 41},
                                           {"a program's mix catching up by 5 s", 50, 50},
                                           {"beyond 8 s the listener is behind: a gap", 100, 80}}) {
        std::promise<void> gate;
        std::shared_future<void> open = gate.get_future().share();
        std::vector<double> starts;
        CaptureHandOff handOff([&](std::span<const float>, double, auto start) {
            open.wait();
            starts.push_back(std::chrono::duration<double>(start.time_since_epoch()).count());
        });
        const std::vector<float> block(4410, 0.0F);
        for (int i = 0; i < row.posted; ++i) {
            handOff.post(block, 44100,
                         std::chrono::steady_clock::time_point(std::chrono::milliseconds(100 * i)));
        }
        gate.set_value();
        handOff.stop();
        ASSERT_EQ(starts.size(), std::size_t(row.taken)) << row.what;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            EXPECT_DOUBLE_EQ(starts[i], 0.1 * double(i)) << row.what;
        }
    }
}

}  // namespace
}  // namespace hushwell::testing
