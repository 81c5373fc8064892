// Frame stepping, centring, scale and the frame timer's period.
#include <gtest/gtest.h>
#include <vector>
#include "animation/FramePlayer.h"

// Frames drawn by the first `ticks` ticks: each tick draws the current frame,
// then steps.
static std::vector<int> FramesDrawn(int ticks)
{
    int index = 0, direction = +1;
    std::vector<int> drawn;
    for (int t = 0; t < ticks; ++t) {
        drawn.push_back(index);
        StepFrame(&index, &direction);
    }
    return drawn;
}

TEST(FrameStepping, FirstTwentyTicksSweepUpAndBackThenTurn)
{
    std::vector<int> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1};
    EXPECT_EQ(FramesDrawn(20), expected);
}

TEST(FrameStepping, StaysInRangeAndRepeatsEveryEighteenTicks)
{
    std::vector<int> drawn = FramesDrawn(1000);
    for (size_t t = 0; t < drawn.size(); ++t) {
        ASSERT_GE(drawn[t], 0) << "tick " << t;
        ASSERT_LT(drawn[t], FRAME_COUNT) << "tick " << t;
        if (t >= 18) {
            ASSERT_EQ(drawn[t], drawn[t - 18]) << "tick " << t;
        }
    }
}

TEST(FrameCentring, OriginPerDisplaySize)
{
    struct Case { int display, frame, origin; };
    const Case cases[] = {
        {1024, 640, 192}, {768, 480, 144},   // larger display: centred
        {640, 640, 0}, {480, 480, 0},        // same size: fills it
        {320, 640, -160}, {240, 480, -120},  // smaller display: clipped on both sides
        {641, 640, 0}, {639, 640, 0},        // odd differences truncate toward zero
        {637, 640, -1},
        {800, 0, 400},                       // no frame loaded
    };
    for (const Case &c : cases)
        EXPECT_EQ(FrameOrigin(c.display, c.frame), c.origin) << c.display << " vs " << c.frame;
}

TEST(FrameScale, DpiRoundedHalfUpThenLoweredUntilTheFrameFits)
{
    struct Case { int dpi, clientWidth, clientHeight, scale; };
    const Case cases[] = {
        {96, 2048, 1536, 1}, {120, 2048, 1536, 1}, {143, 2048, 1536, 1},  // below 1.5
        {144, 2048, 1536, 2}, {192, 2048, 1536, 2}, {239, 2048, 1536, 2},  // 1.5 up to 2.5
        {144, 1024, 768, 1},                                               // 2x does not fit
        {192, 1280, 960, 2}, {192, 1279, 960, 1}, {192, 1280, 959, 1},     // exact fit, one short
        {480, 3840, 2160, 4},                                              // 5x too high: 4x
        {192, 152, 112, 1}, {192, 0, 0, 1},                                // preview, no area
        {0, 1024, 768, 1}, {-96, 1024, 768, 1}, {47, 1024, 768, 1},         // no or odd DPI
        {INT32_MAX, 3840, 2160, 4},                                        // no overflow
    };
    for (const Case &c : cases)
        EXPECT_EQ(FrameScale(c.dpi, 640, 480, c.clientWidth, c.clientHeight), c.scale)
            << c.dpi << " dpi in " << c.clientWidth << "x" << c.clientHeight;
}

TEST(FramePeriod, SpeedTimesTenCappedAndFloored)
{
    struct Case { int32_t speed; uint32_t period; };
    const Case cases[] = {
        {15, 150}, {50, 500}, {1, 10}, {30, 300}, {31, 310}, {100, 1000},
        // Products beyond 32 bits neither wrap nor go negative.
        {214748364, 2147483640u},
        {214748365, FRAME_PERIOD_MAX_MS},
        {429496730, FRAME_PERIOD_MAX_MS},  // wraps to 4 in 32-bit arithmetic
        {INT32_MAX, FRAME_PERIOD_MAX_MS},
        // Zero and below run at the fastest period.
        {0, FRAME_PERIOD_MIN_MS}, {-1, FRAME_PERIOD_MIN_MS}, {INT32_MIN, FRAME_PERIOD_MIN_MS},
    };
    for (const Case &c : cases) EXPECT_EQ(FramePeriodMs(c.speed), c.period) << "speed " << c.speed;
}

TEST(FrameLayout, OneFrameCentredOnEachMonitorAtItsOwnScale)
{
    // Each placement as the monitor's area in the window, its scale, and where
    // the frame is copied at that scale (x, y, width, height, source x, y).
    struct Placed {
        ScreenRect area;
        int scale;
        FrameCopy copy;
    };
    struct Case {
        const char *name;
        std::vector<MonitorArea> monitors;
        ScreenRect window;
        std::vector<Placed> expected;
    };
    const Case cases[] = {
        {"one monitor, as before", {{{0, 0, 1024, 768}, 96}}, {0, 0, 1024, 768},
         {{{0, 0, 1024, 768}, 1, {192, 144, 640, 480, 0, 0}}}},
        {"left of the primary: negative desktop origin",
         {{{0, 0, 800, 600}, 96}, {{-1024, 0, 1024, 768}, 96}}, {-1024, 0, 1824, 768},
         {{{1024, 0, 800, 600}, 1, {1104, 60, 640, 480, 0, 0}},
          {{0, 0, 1024, 768}, 1, {192, 144, 640, 480, 0, 0}}}},
        {"different DPI: 2x on the big monitor, 1x on the small one",
         {{{0, 0, 2048, 1536}, 192}, {{2048, 0, 800, 600}, 96}}, {0, 0, 2848, 1536},
         {{{0, 0, 2048, 1536}, 2, {384, 288, 1280, 960, 0, 0}},
          {{2048, 0, 800, 600}, 1, {2128, 60, 640, 480, 0, 0}}}},
        {"one DPI for both: the small monitor cannot hold 2x",
         {{{0, 0, 2048, 1536}, 192}, {{2048, 0, 800, 600}, 192}}, {0, 0, 2848, 1536},
         {{{0, 0, 2048, 1536}, 2, {384, 288, 1280, 960, 0, 0}},
          {{2048, 0, 800, 600}, 1, {2128, 60, 640, 480, 0, 0}}}},
        {"smaller than the frame: clipped to its own monitor",
         {{{0, 0, 1024, 768}, 96}, {{1024, 0, 600, 400}, 96}}, {0, 0, 1624, 768},
         {{{0, 0, 1024, 768}, 1, {192, 144, 640, 480, 0, 0}},
          {{1024, 0, 600, 400}, 1, {1024, 0, 600, 400, 20, 40}}}},
        {"stacked vertically, above the primary",
         {{{0, 0, 1024, 768}, 96}, {{0, -1024, 1280, 1024}, 96}}, {0, -1024, 1280, 1792},
         {{{0, 1024, 1024, 768}, 1, {192, 1168, 640, 480, 0, 0}},
          {{0, 0, 1280, 1024}, 1, {320, 272, 640, 480, 0, 0}}}},
        {"three monitors",
         {{{0, 0, 1920, 1080}, 96}, {{-1280, 56, 1280, 1024}, 96}, {{1920, 0, 640, 480}, 96}},
         {-1280, 0, 3840, 1080},
         {{{1280, 0, 1920, 1080}, 1, {1920, 300, 640, 480, 0, 0}},
          {{0, 56, 1280, 1024}, 1, {320, 328, 640, 480, 0, 0}},
          {{3200, 0, 640, 480}, 1, {3200, 0, 640, 480, 0, 0}}}},
        {"mirrored: one frame for the shared rectangle",
         {{{0, 0, 1024, 768}, 96}, {{0, 0, 1024, 768}, 96}}, {0, 0, 1024, 768},
         {{{0, 0, 1024, 768}, 1, {192, 144, 640, 480, 0, 0}}}},
        {"clone at one origin: the larger monitor keeps the frame",
         {{{0, 0, 1280, 1024}, 96}, {{0, 0, 800, 600}, 96}}, {0, 0, 1280, 1024},
         {{{0, 0, 1280, 1024}, 1, {320, 272, 640, 480, 0, 0}}}},
        {"clone at one origin, the smaller listed first",
         {{{0, 0, 800, 600}, 96}, {{0, 0, 1280, 1024}, 96}}, {0, 0, 1280, 1024},
         {{{0, 0, 1280, 1024}, 1, {320, 272, 640, 480, 0, 0}}}},
        {"one monitor enclosing two halves",
         {{{0, 0, 960, 1080}, 96}, {{0, 0, 1920, 1080}, 96}, {{960, 0, 960, 1080}, 96}},
         {0, 0, 1920, 1080},
         {{{0, 0, 1920, 1080}, 1, {640, 300, 640, 480, 0, 0}}}},
        {"partial overlap: only the larger monitor has a frame",
         {{{0, 0, 1024, 768}, 96}, {{824, 0, 1280, 1024}, 96}}, {0, 0, 2104, 1024},
         {{{824, 0, 1280, 1024}, 1, {1144, 272, 640, 480, 0, 0}}}},
        {"three monitors, one nested in another: the third keeps its own",
         {{{0, 0, 1920, 1080}, 96}, {{100, 100, 800, 600}, 96}, {{1920, 0, 1024, 768}, 96}},
         {0, 0, 2944, 1080},
         {{{0, 0, 1920, 1080}, 1, {640, 300, 640, 480, 0, 0}},
          {{1920, 0, 1024, 768}, 1, {2112, 144, 640, 480, 0, 0}}}},
        {"preview: placed by the display, scaled to fit the small window",
         {{{0, 0, 2048, 1536}, 192}}, {0, 0, 152, 112},
         {{{0, 0, 2048, 1536}, 1, {704, 528, 640, 480, 0, 0}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FramePlacement> placements(c.monitors.size());
        int placed = LayOutFrames(c.monitors.data(), (int)c.monitors.size(), c.window, 640, 480,
                                  placements.data());
        ASSERT_EQ(placed, (int)c.expected.size());
        for (int i = 0; i < placed; ++i) {
            SCOPED_TRACE(i);
            const FramePlacement &got = placements[i];
            const Placed &want = c.expected[i];
            FrameCopy copy = CentreFrameCopy(got, 640, 480, got.scale);
            EXPECT_EQ(std::vector<int>({got.area.left, got.area.top, got.area.width,
                                        got.area.height, got.scale}),
                      std::vector<int>({want.area.left, want.area.top, want.area.width,
                                        want.area.height, want.scale}));
            EXPECT_EQ(std::vector<int>({copy.x, copy.y, copy.width, copy.height, copy.sourceX,
                                        copy.sourceY}),
                      std::vector<int>({want.copy.x, want.copy.y, want.copy.width,
                                        want.copy.height, want.copy.sourceX, want.copy.sourceY}));
        }
    }
}

static std::vector<int> Built, Released;
static bool BuildSet(int slot, int scale, const FramePart &)
{
    Built.push_back(slot * 100 + scale);
    return scale != 7;   // a set too large to be made
}
static void ReleaseSet(int slot)
{
    Released.push_back(slot);
}

TEST(FrameSets, OneSetPerScaleInUseNeverPastTheTable)
{
    ScaleSets sets = {};
    int placementSets[MONITOR_LIMIT];
    auto sync = [&](std::vector<int> scales) {
        std::vector<FramePlacement> placements;
        for (int scale : scales) placements.push_back({{0, 0, 100, 100}, scale});
        Built.clear();
        Released.clear();
        SyncScaleSets(&sets, placements.data(), (int)placements.size(), 1, 1, placementSets,
                      BuildSet, ReleaseSet);
        return std::vector<int>(placementSets, placementSets + placements.size());
    };
    EXPECT_EQ(sync({2, 1, 2}), std::vector<int>({0, 1, 0}));
    EXPECT_EQ(Built, std::vector<int>({2, 101}));
    EXPECT_EQ(sync({1, 3}), std::vector<int>({1, 0}));   // 2 released, its slot reused
    EXPECT_EQ(Released, std::vector<int>({0}));
    EXPECT_EQ(Built, std::vector<int>({3}));
    EXPECT_EQ(sync({7, 1}), std::vector<int>({-1, 1}));  // a set that cannot be made
    EXPECT_EQ(sets.scale[0], 0);
    // Every slot taken by a scale in use, and one scale more: that one gets
    // no set, and nothing is written past the table.
    ScaleSets full = {};
    for (int s = 0; s < MONITOR_LIMIT; ++s) full.scale[s] = 20 + s;
    for (int s = 0; s < MONITOR_LIMIT; ++s) full.part[s] = {0, 0, 20 + s, 20 + s};
    std::vector<FramePlacement> many;
    for (int s = 0; s <= MONITOR_LIMIT; ++s) many.push_back({{0, 0, 100, 100}, 20 + s});
    std::vector<int> slots(many.size(), -2);
    SyncScaleSets(&full, many.data(), (int)many.size(), 1, 1, slots.data(), BuildSet, ReleaseSet);
    EXPECT_EQ(slots.back(), -1);
    EXPECT_EQ(slots[MONITOR_LIMIT - 1], MONITOR_LIMIT - 1);
}

// Frames of 640 x 480, centred and cut at their monitor's edges: each scale's
// set holds what the placements at that scale show between them.
TEST(FrameSets, EachScaleHoldsOnlyThePartItsPlacementsShow)
{
    struct Case {
        const char *name;
        std::vector<FramePlacement> placements;
        int scale;
        FramePart part;
    };
    const Case cases[] = {
        {"whole frame on a larger monitor", {{{0, 0, 1024, 768}, 1}}, 1, {0, 0, 640, 480}},
        {"8x on 1024 x 768", {{{0, 0, 1024, 768}, 8}}, 8, {2048, 1536, 1024, 768}},
        {"8x on two monitors: the larger span of each",
         {{{0, 0, 1024, 600}, 8}, {{1024, 0, 800, 768}, 8}}, 8, {2048, 1536, 1024, 768}},
        {"odd and even widths cut one pixel apart", {{{0, 0, 1001, 10}, 2}, {{0, 20, 1000, 10}, 2}},
         2, {139, 475, 1001, 10}},
        {"other scales leave it out", {{{0, 0, 1024, 768}, 1}, {{0, 0, 2000, 2000}, 2}}, 1,
         {0, 0, 640, 480}},
        {"no placement at that scale", {{{0, 0, 1024, 768}, 1}}, 2, {0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FramePart part = VisibleFramePart(c.placements.data(), (int)c.placements.size(), 640, 480, c.scale);
        EXPECT_EQ(std::vector<int>({part.x, part.y, part.width, part.height}),
                  std::vector<int>({c.part.x, c.part.y, c.part.width, c.part.height}));
        // Every placement's copy starts inside the part and ends inside it.
        for (const FramePlacement &placement : c.placements) {
            if (placement.scale != c.scale) continue;
            FrameCopy copy = PartFrameCopy(placement, 640, 480, c.scale, part);
            EXPECT_GE(copy.sourceX, 0);
            EXPECT_GE(copy.sourceY, 0);
            EXPECT_LE(copy.sourceX + copy.width, part.width);
            EXPECT_LE(copy.sourceY + copy.height, part.height);
        }
    }
}

TEST(FrameSets, ASetIsBuiltAgainWhenItsPartGrows)
{
    ScaleSets sets = {};
    int slots[2];
    FramePlacement small[] = {{{0, 0, 800, 600}, 2}};
    SyncScaleSets(&sets, small, 1, 640, 480, slots, BuildSet, ReleaseSet);
    Built.clear();
    Released.clear();
    FramePlacement large[] = {{{0, 0, 1024, 768}, 2}};
    SyncScaleSets(&sets, large, 1, 640, 480, slots, BuildSet, ReleaseSet);
    EXPECT_EQ(Released, std::vector<int>({0}));
    EXPECT_EQ(Built, std::vector<int>({2}));
    EXPECT_EQ(sets.part[0].width, 1024);
}
