// The redraw speed: its range, default and the rules the dialog applies.
// Platform-free.
#pragma once

#include <cstdint>

const int32_t REDRAW_SPEED_MIN = 1;
const int32_t REDRAW_SPEED_MAX = 30;
const int32_t REDRAW_SPEED_DEFAULT = 15;
const int32_t REDRAW_SPEED_STEP_MS = 10;
