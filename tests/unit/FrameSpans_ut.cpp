// The frame subsurface's span on one axis: where it sits in logical
// coordinates and which buffer pixels it shows, at whole and fractional scales.
#include <gtest/gtest.h>

#include "linux/FrameSpans.h"

TEST(FrameSpans, EndsOnPhysicalEdgesWithNothingStretched)
{
    struct Case {
        const char *name;
        int start, length, size;   // physical pixels
        uint32_t scale120;
        Span span;   // logical -1: any span with the properties below
    };
    const Case cases[] = {
        {"1x, centred", 192, 640, 1024, 120, {192, 640, 0, 640}},
        {"2x, centred", 384, 1280, 2048, 240, {192, 640, 0, 1280}},
        {"3x, a frame of 2x: 1280 is no multiple of 3, one pixel off each end", 896, 1280, 3072, 360,
         {299, 426, 1, 1278}},
        {"3x, a frame of 3x", 576, 1920, 3072, 360, {192, 640, 0, 1920}},
        {"1.5x, a frame of 2x: moved a logical pixel left to end on edges", 128, 1280, 1536, 180,
         {84, 853, 0, 1280}},
        {"1x, cut at both edges", 0, 1024, 1024, 120, {0, 1024, 0, 1024}},
        {"2x, one physical pixel: nothing rather than a stretched one", 1, 1, 3, 240, {1, 0, 1, 0}},
        {"1.1x, no scale floating point holds", 100, 640, 1000, 132, {-1, 0, 0, 0}},
        {"1.75x, odd start", 33, 641, 900, 210, {-1, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Span span = MapSpan(c.start, c.length, c.size, c.scale120);
        if (c.span.logical >= 0) {
            EXPECT_EQ(span.logical, c.span.logical);
            EXPECT_EQ(span.logicalLength, c.span.logicalLength);
            EXPECT_EQ(span.source, c.span.source);
            EXPECT_EQ(span.sourceLength, c.span.sourceLength);
        }
        // What every span must be: its ends where the compositor puts them,
        // one buffer pixel to a physical pixel, inside the frame and the window.
        int from = PhysicalEdge(span.logical, c.scale120);
        int to = PhysicalEdge(span.logical + span.logicalLength, c.scale120);
        EXPECT_EQ(to - from, span.sourceLength);
        EXPECT_GE(span.source, 0);
        EXPECT_LE(span.source + span.sourceLength, c.length);
        EXPECT_LE(to, c.size);
        if (span.source > 0) {
            EXPECT_EQ(from, c.start + span.source);
        }
        if (c.scale120 % WHOLE_SCALE == 0) {
            EXPECT_EQ(span.sourceLength % (c.scale120 / WHOLE_SCALE), 0);
        }
        EXPECT_GE(span.sourceLength, c.length - 2 * (int)(c.scale120 / WHOLE_SCALE + 1));
    }
}

// The grid of black around the frame on one axis: the cells cover the window
// end to end in order, the frame's span is one of them, none is longer than
// the frame, and each margin takes the fewest cells that allows.
TEST(FrameSpans, BlackCellsTileTheWindowNoneLongerThanTheFrame)
{
    struct Case {
        const char *name;
        int start, length, size;
        int cells;
    };
    const Case cases[] = {
        {"centred, margins shorter than the frame", 192, 640, 1024, 3},
        {"frame filling the window", 0, 1024, 1024, 1},
        {"one margin only", 0, 640, 700, 2},
        {"margins of 1.5 frames: two cells each", 960, 640, 2560, 5},
        {"margins of exactly one frame", 640, 640, 1920, 3},
        {"margins one pixel over a frame", 641, 640, 1922, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AxisCells(c.start, c.length, c.size), c.cells);
        int next = 0, frames = 0;
        for (int i = 0; i < AxisCells(c.start, c.length, c.size); ++i) {
            int start, length;
            AxisCell(c.start, c.length, c.size, i, &start, &length);
            EXPECT_EQ(start, next);
            EXPECT_GT(length, 0);
            EXPECT_LE(length, c.length);
            frames += start == c.start && length == c.length;
            next = start + length;
        }
        EXPECT_EQ(next, c.size);
        EXPECT_EQ(frames, 1);
    }
}
