#include "platform/PatientRetry.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace hushwell {
namespace {

constexpr int kBusy = 32;    // a refusal that passes: the file is open elsewhere for a moment
constexpr int kDenied = 5;   // the same, as some antivirus programs give it
constexpr int kMissing = 2;  // for good

// A step refused for a moment is tried again, with a pause before each try, until it is done, it
// fails for good, or the patience is out; the last result is what it came to.
TEST(PatientRetry, TriesAgainOnlyWhatPasses) {
    const struct {
        const char* name;
        std::vector<int> results;  // of the fake step, try by try
        int tries;                 // the patience
        int expected;
        int tried;
    } cases[] = {
        {"done at once", {0}, 21, 0, 1},
        {"refused twice, then done", {kBusy, kDenied, 0}, 21, 0, 3},
        {"refused for good", {kMissing, 0}, 21, kMissing, 1},
        {"refused for a moment, then for good", {kBusy, kMissing, 0}, 21, kMissing, 2},
        {"refused longer than the patience", std::vector<int>(30, kBusy), 21, kBusy, 21},
        {"done at the last try", {kBusy, kBusy, 0}, 3, 0, 3},
    };
    for (const auto& c : cases) {
        std::deque<int> results(c.results.begin(), c.results.end());
        int tried = 0;
        std::vector<std::chrono::milliseconds> pauses;
        const int result = tryPatiently<int>(
            [&] {
                ++tried;
                const int next = results.front();
                results.pop_front();
                return next;
            },
            [](int error) { return error == kBusy || error == kDenied; },
            {c.tries, std::chrono::milliseconds(50)},
            [&pauses](std::chrono::milliseconds pause) { pauses.push_back(pause); });
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(tried, c.tried) << c.name;
        EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(
                              static_cast<std::size_t>(c.tried - 1), std::chrono::milliseconds(50)))
            << c.name;
    }
}

}  // namespace
}  // namespace hushwell
