// The frame player in a window of its own: building the ten frames, the
// timer period, the drawing on each tick, the background, the image sets
// across layouts and the release; and the list of monitors it lays out on.
#include <gtest/gtest.h>
#include <algorithm>
#include "tests/win32/PlayerWindow.h"
#include "animation/Monitors_win.h"
#include "animation/Palette_win.h"

class FramePlayer : public PlayerWindowTest {};

TEST_F(FramePlayer, CreationBuildsEveryFrameFromItsResource)
{
    StoreRedrawSpeed("100000");  // no tick while the frames are examined
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    EXPECT_TRUE(MessageBoxesSeen.empty());
    EXPECT_EQ(Frames.frameWidth, 640u);
    EXPECT_EQ(Frames.frameHeight, 480u);
    // The one frame of a window that is not full-screen is placed by the display.
    ASSERT_EQ(Frames.placementCount, 1);
    EXPECT_EQ(Frames.placements[0].area.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(Frames.placements[0].area.height, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(PlayedScale(), 1);
    EXPECT_EQ(Frames.frameIndex, 0);
    EXPECT_EQ(Frames.direction, 1);
    EXPECT_EQ(Frames.timer, (UINT_PTR)FRAME_TIMER_ID);
    for (int i = 0; i < FRAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(GetObjectType(PlayedSet().frameDC[i]), (DWORD)OBJ_MEMDC);
        ASSERT_EQ(GetObjectType(PlayedSet().frameBitmap[i]), (DWORD)OBJ_BITMAP);
        ASSERT_EQ(GetObjectType(Frames.framePalette[i]), (DWORD)OBJ_PAL);
        EXPECT_EQ(GetCurrentObject(PlayedSet().frameDC[i], OBJ_BITMAP), PlayedSet().frameBitmap[i]);
        EXPECT_EQ(GetCurrentObject(PlayedSet().frameDC[i], OBJ_PAL), Frames.framePalette[i]);
        // The section holds the resource's own pixels, row for row.
        DIBSECTION section = {};
        ASSERT_EQ(GetObjectA(PlayedSet().frameBitmap[i], sizeof section, &section), (int)sizeof section);
        EXPECT_EQ(section.dsBm.bmWidth, 640);
        EXPECT_EQ(section.dsBm.bmHeight, 480);
        EXPECT_EQ(section.dsBm.bmBitsPixel, 1);
        GdiFlush();
        const uint8_t *dib = FrameResource(i);
        ASSERT_TRUE(dib);
        EXPECT_EQ(std::memcmp(section.dsBm.bmBits, dib + 48, 38400), 0);
    }
    // The last frame's palette is the one left in the window's own DC.
    HDC dc = GetDC(window);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PAL), Frames.framePalette[FRAME_COUNT - 1]);
    ReleaseDC(window, dc);
}

TEST_F(FramePlayer, DestructionReleasesEveryFrameAndTheTimer)
{
    StoreRedrawSpeed("15");
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    PumpMessagesFor(400);
    ASSERT_TRUE(DestroyWindow(window));
    ASSERT_TRUE(PlayerLog.destroyed);
    for (int i = 0; i < FRAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(PlayerLog.frameDC[i] && PlayerLog.frameBitmap[i] && PlayerLog.framePalette[i]);
        EXPECT_EQ(PlayerLog.typesAfterDestroy[0][i], 0u) << "memory DC";
        EXPECT_EQ(PlayerLog.typesAfterDestroy[1][i], 0u) << "bitmap";
        EXPECT_EQ(PlayerLog.typesAfterDestroy[2][i], 0u) << "palette";
        EXPECT_EQ(Frames.sets[0].frameDC[i], nullptr);
        EXPECT_EQ(Frames.sets[0].frameBitmap[i], nullptr);
        EXPECT_EQ(Frames.framePalette[i], nullptr);
    }
    EXPECT_EQ(PlayerLog.paletteAfterDestroy, GetStockObject(DEFAULT_PALETTE));
    EXPECT_FALSE(PlayerLog.timerStillRunning);
    EXPECT_EQ(Frames.timer, 0u);
}

TEST_F(FramePlayer, ALayoutAtAnotherScaleReleasesTheSetOfTheOldOne)
{
    StoreRedrawSpeed("100000");
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    // As before a change of scale: the one frame is copied from a 2x set.
    ReleaseFrameSet(&Frames.sets[0]);
    Frames.scales.scale[0] = 0;
    BuildFrameSet(window, &Frames.sets[1], 2);
    Frames.scales.scale[1] = 2;
    Frames.scales.part[1] = FramePart{0, 0, 1280, 960};
    Frames.placements[0].scale = 2;
    Frames.placementSets[0] = 1;
    FrameSet old = Frames.sets[1];
    SendMessageA(window, WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    for (int i = 0; i < FRAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(old.frameDC[i] && old.frameBitmap[i]);
        EXPECT_EQ(GetObjectType(old.frameDC[i]), 0u);
        EXPECT_EQ(GetObjectType(old.frameBitmap[i]), 0u);
        EXPECT_EQ(GetObjectType(PlayedSet().frameDC[i]), (DWORD)OBJ_MEMDC);
    }
    EXPECT_EQ(PlayedScale(), 1);
}

TEST_F(FramePlayer, TimerPeriodFollowsTheStoredSpeed)
{
    struct Case {
        const char *stored;     // null: no entry
        DWORD watchMs;
        double lowMs, highMs;   // bounds of the mean interval; -1 -1: no tick at all
    };
    const Case cases[] = {
        {"50", 1700, 450, 600},
        {"15", 1200, 135, 200},
        {nullptr, 1200, 135, 200},
        {"3", 600, 25, 50},
        // Zero and below tick at the shortest period rather than never.
        {"0", 400, 5, 25},
        {"-5", 400, 5, 25},
        // Speed x 10 beyond 32 bits must not wrap into a short period.
        {"429496730", 1000, -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(none)");
        StoreRedrawSpeed(c.stored);
        window = CreatePlayerWindow(1024, 768);
        ASSERT_TRUE(window);
        PumpMessagesFor(c.watchMs);
        if (c.lowMs < 0) {
            EXPECT_EQ(PlayerLog.ticks, 0);
        } else {
            double mean = MeanTickInterval();
            EXPECT_GE(mean, c.lowMs) << PlayerLog.ticks << " ticks";
            EXPECT_LE(mean, c.highMs) << PlayerLog.ticks << " ticks";
        }
        DestroyWindow(window);
        window = nullptr;
    }
}

// Which frame a capture shows, from the labels MarkFrames put on the top row.
static int LabelShownAt(const Capture &capture, POINT origin)
{
    int label = -1;
    for (int k = 0; k < FRAME_COUNT; ++k)
        if (capture.At(origin.x + k, origin.y) == 0) label = (label == -1) ? k : -2;
    return label;
}

// Labels frame i by the top row of its image: pixel i black, pixels 0..9 else white.
static void MarkFrames()
{
    for (int i = 0; i < FRAME_COUNT; ++i) {
        PatBlt(PlayedSet().frameDC[i], 0, 0, FRAME_COUNT, 1, WHITENESS);
        PatBlt(PlayedSet().frameDC[i], i, 0, 1, 1, BLACKNESS);
    }
}

TEST_F(FramePlayer, EachTickDrawsTheCurrentFrameCentredThenStepsBackAndForth)
{
    StoreRedrawSpeed("100000");
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    PumpMessagesFor(100);
    EXPECT_EQ(CountWrongPixels(CaptureWindow(window), FrameResource(0), POINT{-10000, 0}), 0)
        << "before the first tick the window is black";
    SendMessageA(window, WM_TIMER, FRAME_TIMER_ID, 0);
    EXPECT_EQ(CountWrongPixels(CaptureWindow(window), FrameResource(0), POINT{192, 144}), 0);

    MarkFrames();
    const int expectedOrder[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1};
    int shown[19];
    for (int tick = 0; tick < 19; ++tick) {
        SendMessageA(window, WM_TIMER, FRAME_TIMER_ID, 0);
        shown[tick] = LabelShownAt(CaptureWindow(window), POINT{192, 144});
    }
    EXPECT_TRUE(std::equal(shown, shown + 19, expectedOrder)) << ::testing::PrintToString(shown);
}

TEST_F(FramePlayer, EraseFillsTheWholeWindowBlackAgain)
{
    StoreRedrawSpeed("100000");
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    SendMessageA(window, WM_TIMER, FRAME_TIMER_ID, 0);
    HDC dc = GetDC(window);
    RECT corner = {0, 0, 50, 50};
    FillRect(dc, &corner, (HBRUSH)GetStockObject(WHITE_BRUSH));
    ReleaseDC(window, dc);
    dc = GetDC(window);
    SendMessageA(window, WM_ERASEBKGND, (WPARAM)dc, 0);
    ReleaseDC(window, dc);
    EXPECT_EQ(CountWrongPixels(CaptureWindow(window), FrameResource(0), POINT{-10000, 0}), 0);
}

TEST_F(FramePlayer, SmallerDisplayAreaShowsTheOverlapOfAFramePlacedByTheFullDisplay)
{
    // A child as small as a preview: the frame still sits at the full display's
    // centre in the child's coordinates, so only its top-left part shows.
    StoreRedrawSpeed("100000");
    RegisterPlayerTestClass();
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 100, 100, 300, 200,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(parent);
    SaverState.instance = GetModuleHandleA(nullptr);
    SaverState.preview = true;
    window = CreateWindowExA(0, PLAYER_TEST_CLASS, "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200,
                             parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(window);
    UpdateWindow(window);
    SendMessageA(window, WM_TIMER, FRAME_TIMER_ID, 0);
    Capture capture = CaptureWindow(window);
    EXPECT_EQ(capture.width, 300);
    int ox = (GetSystemMetrics(SM_CXSCREEN) - 640) / 2, oy = (GetSystemMetrics(SM_CYSCREEN) - 480) / 2;
    EXPECT_EQ(CountWrongPixels(capture, FrameResource(0), POINT{ox, oy}), 0);
    DestroyWindow(window);
    window = nullptr;
    DestroyWindow(parent);
}

static HPALETTE WINAPI RefusePalette(const LOGPALETTE *)
{
    return nullptr;
}

TEST_F(FramePlayer, FramesWithoutAPaletteAreStillBuiltAndDrawn)
{
    StoreRedrawSpeed("100000");
    PaletteCallTable saved = PaletteCalls;
    PaletteCalls.createPalette = RefusePalette;
    window = CreatePlayerWindow(1024, 768);
    PaletteCalls = saved;
    ASSERT_TRUE(window);
    // Each refused palette is reported once; no frame is given up for it.
    ASSERT_EQ(MessageBoxesSeen.size(), (size_t)FRAME_COUNT);
    EXPECT_EQ(MessageBoxesSeen[0].caption, "PAL2");
    for (int i = 0; i < FRAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Frames.framePalette[i], nullptr);
        EXPECT_EQ(GetObjectType(PlayedSet().frameDC[i]), (DWORD)OBJ_MEMDC);
        EXPECT_EQ(GetObjectType(PlayedSet().frameBitmap[i]), (DWORD)OBJ_BITMAP);
    }
    SendMessageA(window, WM_TIMER, FRAME_TIMER_ID, 0);
    EXPECT_EQ(CountWrongPixels(CaptureWindow(window), FrameResource(0), POINT{192, 144}), 0);
    SendMessageA(window, WM_TIMER, FRAME_TIMER_ID, 0);
    EXPECT_EQ(CountWrongPixels(CaptureWindow(window), FrameResource(1), POINT{192, 144}), 0);
}

TEST_F(FramePlayer, AnEnlargedImageThatCannotBeMadeIsBuiltAndDrawnAtItsOwnSize)
{
    StoreRedrawSpeed("100000");
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    // No system makes a section of 2.56 million by 1.92 million pixels.
    const int hugeScale = 4000;
    FrameSet &spare = Frames.sets[1];
    BuildFrameSet(window, &spare, hugeScale);
    for (int i = 0; i < FRAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(spare.frameScale[i], 1);
        DIBSECTION section = {};
        ASSERT_EQ(GetObjectA(spare.frameBitmap[i], sizeof section, &section), (int)sizeof section);
        EXPECT_EQ(section.dsBm.bmWidth, 640);
    }
    // Placed at that scale, the frame is drawn at 1x, centred the same way.
    Frames.placements[0].scale = hugeScale;
    Frames.placementSets[0] = 1;
    SendMessageA(window, WM_TIMER, FRAME_TIMER_ID, 0);
    EXPECT_EQ(CountWrongPixels(CaptureWindow(window), FrameResource(0), POINT{192, 144}), 0);
}

// A monitor as a scripted GetMonitorInfoA describes every one.
static BOOL WINAPI DescribeSomeMonitor(HMONITOR, MONITORINFO *info)
{
    info->rcMonitor = info->rcWork = RECT{-800, 0, 0, 600};
    info->dwFlags = 0;
    return TRUE;
}

TEST(MonitorList, AddsMonitorsUntilTheListIsFullThenEndsTheWalk)
{
    MonitorArea monitors[MONITOR_LIMIT + 1] = {};
    const MonitorArea pastTheList = {{1, 2, 3, 4}, 5};
    monitors[MONITOR_LIMIT] = pastTheList;
    MonitorList list = {monitors, 0, 120, DescribeSomeMonitor, nullptr};
    for (int i = 0; i < MONITOR_LIMIT; ++i)
        EXPECT_TRUE(AddMonitor(nullptr, nullptr, nullptr, (LPARAM)&list)) << i;
    EXPECT_EQ(list.count, MONITOR_LIMIT);
    EXPECT_EQ(monitors[MONITOR_LIMIT - 1].dpi, 120);
    EXPECT_FALSE(AddMonitor(nullptr, nullptr, nullptr, (LPARAM)&list)) << "the seventeenth";
    EXPECT_EQ(list.count, MONITOR_LIMIT);
    EXPECT_EQ(std::memcmp(&monitors[MONITOR_LIMIT], &pastTheList, sizeof pastTheList), 0);
}
