// The frame player when frame resource 110 is missing from the executable:
// one warning, frames 0 to 3 built, ticks on the absent frames copy nothing,
// and the saver keeps going.
#include <gtest/gtest.h>
#include "tests/win32/PlayerWindow.h"

class MissingFrame : public PlayerWindowTest {};

static const int LOADED_FRAMES = 110 - FIRST_FRAME_ID;

TEST_F(MissingFrame, WarnsOnceOwnedByTheWindowAndBuildsTheFramesBefore)
{
    ASSERT_EQ(FrameResource(LOADED_FRAMES), nullptr) << "this executable must lack frame 110";
    StoreRedrawSpeed("100000");
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    ASSERT_EQ(MessageBoxesSeen.size(), 1u);
    EXPECT_EQ(MessageBoxesSeen[0].text, "ファイルが読み込めませんでした。");
    EXPECT_EQ(MessageBoxesSeen[0].caption, "");
    EXPECT_EQ(MessageBoxesSeen[0].owner, window);
    EXPECT_TRUE(MessageBoxesSeen[0].warningIcon);
    for (int i = 0; i < FRAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        bool loaded = i < LOADED_FRAMES;
        EXPECT_EQ(GetObjectType(PlayedSet().frameDC[i]), loaded ? (DWORD)OBJ_MEMDC : 0u);
        EXPECT_EQ(GetObjectType(PlayedSet().frameBitmap[i]), loaded ? (DWORD)OBJ_BITMAP : 0u);
        EXPECT_EQ(GetObjectType(Frames.framePalette[i]), loaded ? (DWORD)OBJ_PAL : 0u);
    }
    EXPECT_EQ(Frames.timer, (UINT_PTR)FRAME_TIMER_ID);
    ASSERT_TRUE(DestroyWindow(window));
    for (int i = 0; i < LOADED_FRAMES; ++i) {
        EXPECT_EQ(PlayerLog.typesAfterDestroy[0][i], 0u) << i;
        EXPECT_EQ(PlayerLog.typesAfterDestroy[1][i], 0u) << i;
        EXPECT_EQ(PlayerLog.typesAfterDestroy[2][i], 0u) << i;
    }
    EXPECT_EQ(MessageBoxesSeen.size(), 1u);
}

TEST_F(MissingFrame, TicksOnAbsentFramesLeaveTheScreenAsItWas)
{
    StoreRedrawSpeed("100000");
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    const RECT frameArea = {192, 144, 192 + 640, 144 + 480};
    HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
    // Ticks 0..18 draw frames 0..9..0; only 0..3 exist.
    const int order[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    for (int tick = 0; tick < 19; ++tick) {
        SCOPED_TRACE(tick);
        HDC dc = GetDC(window);
        FillRect(dc, &frameArea, grey);
        ReleaseDC(window, dc);
        ASSERT_EQ(Frames.frameIndex, order[tick]);
        SendMessageA(window, WM_TIMER, FRAME_TIMER_ID, 0);
        Capture capture = CaptureWindow(window);
        if (order[tick] < LOADED_FRAMES) {
            EXPECT_EQ(CountWrongPixels(capture, FrameResource(order[tick]), POINT{192, 144}), 0);
        } else {
            EXPECT_EQ(capture.At(192, 144), 0x808080u);
            EXPECT_EQ(capture.At(192 + 639, 144 + 479), 0x808080u);
            EXPECT_EQ(capture.At(512, 384), 0x808080u);
        }
    }
    DeleteObject(grey);
    EXPECT_EQ(MessageBoxesSeen.size(), 1u);
}

TEST_F(MissingFrame, TheTimerKeepsTickingAfterTheWarning)
{
    StoreRedrawSpeed("15");
    window = CreatePlayerWindow(1024, 768);
    ASSERT_TRUE(window);
    PumpMessagesFor(1500);
    EXPECT_GE(PlayerLog.ticks, 7);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(MessageBoxesSeen.size(), 1u);
}
