// The redraw speed's range rule, clamp and scroll-code rules.
#include <gtest/gtest.h>

#include <climits>

#include "settings/Settings.h"

TEST(SpeedRange, StoredValueOutsideRangeBecomesDefault)
{
    const struct {
        int32_t stored;
        int32_t shown;
    } cases[] = {
        {1, 1},   {2, 2},   {15, 15}, {29, 29},         {30, 30},
        {0, 15},  {-1, 15}, {31, 15}, {100, 15},        {INT32_MIN, 15},
        {INT32_MAX, 15},
    };
    for (const auto &c : cases) EXPECT_EQ(ApplySpeedRange(c.stored), c.shown) << c.stored;
}

TEST(SpeedRange, EditedValueStopsAtNearerLimit)
{
    const struct {
        int32_t candidate;
        int32_t kept;
    } cases[] = {
        {0, 1},   {-5, 1},  {INT32_MIN, 1}, {1, 1},           {2, 2},
        {29, 29}, {30, 30}, {31, 30},       {INT32_MAX, 30},  {65535, 30},
    };
    for (const auto &c : cases) EXPECT_EQ(ClampSpeed(c.candidate), c.kept) << c.candidate;
}

// The value each scroll code leads to after clamping, from a few starting points.
TEST(SpeedScroll, CodesGiveClampedValues)
{
    const struct {
        uint32_t code;
        int32_t current;
        uint16_t thumb;
        int32_t result;
    } cases[] = {
        {0, 15, 0, 14},  {0, 1, 0, 1},    // line left, stops at the fast end
        {1, 15, 0, 16},  {1, 30, 0, 30},  // line right, stops at the slow end
        {2, 15, 0, 14},  {2, 1, 0, 1},    // a page is one step
        {3, 15, 0, 16},  {3, 30, 0, 30},
        {4, 15, 7, 7},   {4, 15, 1, 1},   {4, 15, 30, 30},
        {4, 15, 0, 1},   {4, 15, 65535, 30},  // thumb positions outside the range
        {6, 15, 0, 30},  {6, 1, 0, 30},   // the left end asks for the slowest
        {7, 15, 0, 1},   {7, 30, 0, 1},   // the right end asks for the fastest
        {9, 12, 3, 12},  {0xFFFF, 22, 3, 22},  // unknown codes keep the value
    };
    for (const auto &c : cases) {
        int32_t candidate = -999;
        ASSERT_TRUE(SpeedScrollCandidate(c.code, c.current, c.thumb, &candidate)) << c.code;
        EXPECT_EQ(ClampSpeed(candidate), c.result)
            << "code " << c.code << " from " << c.current << " thumb " << c.thumb;
    }
}

TEST(SpeedScroll, TrackingAndEndScrollChangeNothing)
{
    for (uint32_t code : {5u, 8u}) {
        int32_t candidate = -999;
        EXPECT_FALSE(SpeedScrollCandidate(code, 15, 3, &candidate)) << code;
        EXPECT_EQ(candidate, -999) << code;
    }
}
