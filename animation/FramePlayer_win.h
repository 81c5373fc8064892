// The frame player's state: the ten frames as ready-to-copy off-screen images,
// one set per scale in use, where each monitor shows its frame, the frame the
// next tick draws and the timer.
#pragma once

#include <windows.h>
#include "animation/FramePlayer.h"

// The ten frames drawn `scale` times larger, each pixel a square of that side.
struct FrameImages {
    // The scale the set was built for; 0 for a set not in use.
    int scale;
    // One memory device context per frame, holding its DIB section and its
    // palette; null for a frame that was not loaded.
    HDC frameDC[FRAME_COUNT];
    HBITMAP frameBitmap[FRAME_COUNT];
    // The scale each image really holds: `scale`, or 1 where an image that
    // many times larger could not be made.
    int frameScale[FRAME_COUNT];
};

struct FrameSet {
    // The frame resources as the module holds them; null for a frame that
    // was not loaded.
    const void *frameDib[FRAME_COUNT] = {};
    HPALETTE framePalette[FRAME_COUNT] = {};
    // Size of the frames, taken from the last frame loaded.
    unsigned frameWidth = 0;
    unsigned frameHeight = 0;
    FrameImages images[MONITOR_LIMIT] = {};
    // One frame per monitor (one in a preview): where it goes, and the index
    // in `images` of the set it is copied from (-1: none, left black).
    FramePlacement placements[MONITOR_LIMIT] = {};
    int placementImages[MONITOR_LIMIT] = {};
    int placementCount = 0;
    int frameIndex = 0;
    int direction = +1;
    UINT_PTR timer = 0;
};

extern FrameSet Frames;

// Builds the loaded frames into `images` at `scale`, with the window's own DC,
// and releases them again; the player does both as the monitors need.
void BuildImageSet(HWND window, FrameImages *images, int scale);
void ReleaseImageSet(FrameImages *images);

// The index in `images` of the set of that scale, built now in a free slot
// where no set has that scale yet. With no slot free it builds nothing and
// returns -1, and that placement stays black: a frame copied from a set of
// another scale would show at the wrong size or cut at its monitor's edges,
// and no stereogram is better than a wrong one.
int ImageSetFor(HWND window, int scale);
