// The frame player's arithmetic: which frame comes next, where a frame sits on
// the display, how many times larger it is drawn, and how often the frame
// timer ticks. Platform-free.
#pragma once

#include <cstdint>

const int FRAME_COUNT = 10;
const int FIRST_FRAME_ID = 106;
const unsigned FRAME_TIMER_ID = 1;

// Bounds of a timer period in milliseconds: the platform's USER_TIMER_MINIMUM
// and USER_TIMER_MAXIMUM.
const uint32_t FRAME_PERIOD_MIN_MS = 10;
const uint32_t FRAME_PERIOD_MAX_MS = 0x7FFFFFFF;

// Moves *frameIndex one step in *direction and turns at the ends, so that the
// frames play 0, 1, ..., 9, 8, ..., 1, 0, 1, ... with each end frame once.
void StepFrame(int *frameIndex, int *direction);

// Where a frame of frameSize pixels starts so that it is centred on a display
// of displaySize pixels; negative when the display is the smaller.
int FrameOrigin(int displaySize, int frameSize);

// Logical dots per inch of a display that the system does not scale.
const int STANDARD_DPI = 96;

// The whole number by which a frame of frameWidth x frameHeight pixels is
// enlarged, each pixel drawn as a square of that side, in a client area of
// clientWidth x clientHeight on a display of `dpi` logical dots per inch:
// dpi / 96 rounded half up, at least 1, and lowered while a frame that many
// times larger would not fit inside the client area.
int FrameScale(int dpi, int frameWidth, int frameHeight, int clientWidth, int clientHeight);

// The timer period for a redraw speed in units of 10 ms. The product is taken
// in 64 bits and capped at FRAME_PERIOD_MAX_MS; a speed of zero or below
// gives the shortest period, FRAME_PERIOD_MIN_MS, the same as a speed of 1.
uint32_t FramePeriodMs(int32_t redrawSpeed);
