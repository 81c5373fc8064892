// Close decisions: mouse travel and the retry window after a password check.
#include <gtest/gtest.h>

#include <climits>

#include "host/CloseRules.h"

namespace {

struct TravelCase {
    int32_t baseX, baseY, x, y;
    bool wakes;
};

TEST(MouseTravelWakes, SumOfDistancesMustExceedThreshold)
{
    const TravelCase cases[] = {
        {100, 100, 100, 100, false},  // no movement
        {100, 100, 102, 102, false},  // travel 4
        {100, 100, 103, 102, true},   // travel 5
        {100, 100, 104, 100, false},
        {100, 100, 105, 100, true},
        {100, 100, 100, 95, true},
        {100, 100, 98, 98, false},    // travel 4 towards the origin
        {100, 100, 97, 102, true},
        {100, 100, 106, 100, true},   // three moves of 2 from an unchanged baseline
        {0, 0, -3, -2, true},         // multi-monitor coordinates can be negative
        {-2, -2, 0, 0, false},
        {INT_MIN, 0, INT_MAX, 0, true},  // no overflow at the extremes
        {INT_MAX, INT_MIN, INT_MAX, INT_MIN, false},
    };
    for (const TravelCase &c : cases)
        EXPECT_EQ(c.wakes, MouseTravelWakes(c.baseX, c.baseY, c.x, c.y))
            << "(" << c.baseX << "," << c.baseY << ") -> (" << c.x << "," << c.y << ")";
}

struct RetryCase {
    uint32_t last, now;
    bool tooSoon;
};

TEST(VerifyRetryTooSoon, TwoHundredMillisecondsAfterTheLastCheck)
{
    const RetryCase cases[] = {
        {NO_VERIFY_TICK, 0, false},           // never checked
        {NO_VERIFY_TICK, 100, false},
        {1000, 1000, true},
        {1000, 1199, true},
        {1000, 1200, false},
        {1000, 5000, false},
        {0xFFFFFFF0u, 0xFFFFFFFEu, true},     // just before the counter wraps
        {0xFFFFFF9Cu, 99, true},              // wrapped: 199 ms
        {0xFFFFFF9Cu, 100, false},            // wrapped: 200 ms
        {0xFFFFFFFEu, 0, true},
        {0, 0xFFFFFFFFu, false},              // almost 50 days later
    };
    for (const RetryCase &c : cases)
        EXPECT_EQ(c.tooSoon, VerifyRetryTooSoon(c.last, c.now)) << "last " << c.last << " now " << c.now;
}

}  // namespace
