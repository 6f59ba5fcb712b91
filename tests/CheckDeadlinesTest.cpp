// One thread for the deadlines of every check of a survey.
#include "cli/CheckDeadlines.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace perchlight::cli {
namespace {

using namespace std::chrono_literals;
using Clock = CheckDeadlines::Clock;

bool waitFor(const std::atomic<int>& count, int atLeast) {
    for (int i = 0; i < 1000 && count < atLeast; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    return count >= atLeast;
}

// A passed deadline cancels, and again every kRepeat until the check is removed; a deadline
// removed in time never cancels; a later deadline added first does not hold up an earlier one.
TEST(CheckDeadlines, CancelsWhenPassedRepeatsUntilRemovedAndSkipsRemovedOnes) {
    CheckDeadlines deadlines;
    std::atomic<int> late{0};
    std::atomic<int> removed{0};
    std::atomic<int> early{0};
    const std::uint64_t lateId = deadlines.add(Clock::now() + 1h, [&] { ++late; });
    const std::uint64_t removedId = deadlines.add(Clock::now() + 1h, [&] { ++removed; });
    const std::uint64_t earlyId = deadlines.add(Clock::now() + 20ms, [&] { ++early; });
    ASSERT_TRUE(waitFor(early, 2));  // the first cancel and at least one repetition
    deadlines.remove(earlyId);
    const int afterRemoval = early;
    std::this_thread::sleep_for(CheckDeadlines::kRepeat * 3);
    EXPECT_EQ(early, afterRemoval);
    deadlines.remove(removedId);
    deadlines.remove(lateId);
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(late, 0);
}

// remove waits for a cancel that runs at that moment: once it returns, what the cancel touches
// may go.
TEST(CheckDeadlines, RemoveWaitsForARunningCancel) {
    CheckDeadlines deadlines;
    std::atomic<int> started{0};
    std::atomic<bool> finished{false};
    const std::uint64_t id = deadlines.add(Clock::now(), [&] {
        ++started;
        std::this_thread::sleep_for(100ms);
        finished = true;
    });
    ASSERT_TRUE(waitFor(started, 1));
    deadlines.remove(id);
    EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace perchlight::cli
