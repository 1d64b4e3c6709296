#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bluez/PollTimeout.h"

using Qelt::BLE::BlueZUtil::kNoDeadline;
using Qelt::BLE::BlueZUtil::PollTimeoutMs;

TEST(PollTimeout, FollowsTheBusDeadlineButSleepsAtMostOneSecond) {
    struct Case {
        uint64_t deadlineUs;
        uint64_t nowUs;
        int expectedMs;
    };
    const std::vector<Case> cases = {
        {kNoDeadline, 5'000'000, 1000}, {4'000'000, 5'000'000, 0},  // already past
        {5'000'000, 5'000'000, 0},                                  // due now
        {5'000'999, 5'000'000, 0},                                  // less than a millisecond away
        {5'250'500, 5'000'000, 250},    {5'999'999, 5'000'000, 999}, {6'000'000, 5'000'000, 1000},
        {90'000'000, 5'000'000, 1000},  {kNoDeadline - 1, 0, 1000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PollTimeoutMs(c.deadlineUs, c.nowUs), c.expectedMs)
            << "deadline " << c.deadlineUs << " now " << c.nowUs;
    }
}
