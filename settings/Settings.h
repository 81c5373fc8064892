// The redraw speed: its range, default and the rules the dialog applies.
// Platform-free.
#pragma once

#include <cstdint>

const int32_t REDRAW_SPEED_MIN = 1;
const int32_t REDRAW_SPEED_MAX = 30;
const int32_t REDRAW_SPEED_DEFAULT = 15;
const int32_t REDRAW_SPEED_STEP_MS = 10;

// A stored value outside 1..30 is replaced by the default, not by the nearer limit.
int32_t ApplySpeedRange(int32_t stored);

// An edited value outside 1..30 stops at the nearer limit.
int32_t ClampSpeed(int32_t candidate);

// The value a horizontal scroll notification asks for, before clamping.
// Returns false for the notifications that change nothing (thumb tracking and
// end of scrolling); `thumb` is the position carried by SB_THUMBPOSITION.
bool SpeedScrollCandidate(uint32_t code, int32_t current, uint16_t thumb, int32_t *candidate);
