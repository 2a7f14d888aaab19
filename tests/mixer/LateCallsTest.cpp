#include "mixer/LateCalls.h"

#include <gtest/gtest.h>

namespace hushwell::testing {
namespace {

// A call whose deadline passed: its answer lands before the caller notes the miss, or after. In
// both orders the calls are late only until the answer came.
TEST(LateCalls, AnAnswerAfterTheDeadlineEndsTheLatenessInEitherOrder) {
    const struct {
        const char* what;
        bool answerFirst;
        bool lateAfterTheNote;
    } rows[] = {{"answered before the caller noted the miss", true, false},
                {"answered after the caller noted it", false, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        LateCalls calls;
        const auto call = LateCalls::begin();
        if (row.answerFirst) {
            calls.answered(*call);
        }
        calls.missed(*call);
        EXPECT_EQ(calls.any(), row.lateAfterTheNote);
        calls.answered(*call);
        EXPECT_FALSE(calls.any());
        // A later call that misses its deadline is late again, until it answers.
        const auto next = LateCalls::begin();
        calls.missed(*next);
        EXPECT_TRUE(calls.any());
        calls.answered(*next);
        EXPECT_FALSE(calls.any());
    }
}

}  // namespace
}  // namespace hushwell::testing
