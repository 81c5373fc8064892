// The frame player's state: the ten frames as ready-to-copy off-screen images,
// the display they are centred on, the frame the next tick draws and the timer.
#pragma once

#include <windows.h>
#include "animation/FramePlayer.h"

struct FrameSet {
    // One memory device context per frame, holding its DIB section and its
    // palette; null for a frame that was not loaded.
    HDC frameDC[FRAME_COUNT] = {};
    HBITMAP frameBitmap[FRAME_COUNT] = {};
    HPALETTE framePalette[FRAME_COUNT] = {};
    // Size of the frames, taken from the last frame loaded.
    unsigned frameWidth = 0;
    unsigned frameHeight = 0;
    // Each image holds its frame this many times larger, each pixel a square
    // of this side: 1 at 96 DPI and in a preview.
    int frameScale = 1;
    // The full display, also in preview mode.
    int displayWidth = 0;
    int displayHeight = 0;
    int frameIndex = 0;
    int direction = +1;
    UINT_PTR timer = 0;
};

extern FrameSet Frames;
