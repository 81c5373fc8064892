// The frame player's state: the ten frames as ready-to-copy off-screen images,
// one set per scale in use, where each monitor shows its frame, the frame the
// next tick draws and the timer.
#pragma once

#include <windows.h>
#include "animation/FramePlayer.h"

// A frame set: the ten frames drawn at one scale, each pixel a square of that
// side (the scale is the set's slot in ScaleSets).
struct FrameSet {
    // One memory device context per frame, holding its DIB section and its
    // palette; null for a frame that was not loaded.
    HDC frameDC[FRAME_COUNT];
    HBITMAP frameBitmap[FRAME_COUNT];
    // The scale each image really holds: the set's, or 1 where an image that
    // many times larger could not be made.
    int frameScale[FRAME_COUNT];
};

struct FramePlayerState {
    // The window the frames are built for and drawn into.
    HWND window = nullptr;
    // The frame resources as the module holds them; null for a frame that
    // was not loaded.
    const void *frameDib[FRAME_COUNT] = {};
    HPALETTE framePalette[FRAME_COUNT] = {};
    // Size of the frames, taken from the last frame loaded.
    unsigned frameWidth = 0;
    unsigned frameHeight = 0;
    // One frame set per scale in use, slot by slot as SyncScaleSets keeps them.
    ScaleSets scales = {};
    FrameSet sets[MONITOR_LIMIT] = {};
    // One frame per monitor (one in a preview): where it goes, and the slot
    // of the set it is copied from (-1: none, left black).
    FramePlacement placements[MONITOR_LIMIT] = {};
    int placementSets[MONITOR_LIMIT] = {};
    int placementCount = 0;
    int frameIndex = 0;
    int direction = +1;
    UINT_PTR timer = 0;
};

extern FramePlayerState Frames;

// Builds the loaded frames into `set` at `scale`, with the window's own DC,
// and releases them again; the player does both as the monitors need.
void BuildFrameSet(HWND window, FrameSet *set, int scale);
void ReleaseFrameSet(FrameSet *set);
