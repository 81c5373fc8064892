// The frame player's arithmetic: stepping, centring and the timer period.
#include "animation/FramePlayer.h"
#include "settings/Settings.h"

void StepFrame(int *frameIndex, int *direction)
{
    *frameIndex += *direction;
    if (*frameIndex > FRAME_COUNT - 2) *direction = -1;
    if (*frameIndex <= 0) *direction = +1;
}

int FrameOrigin(int displaySize, int frameSize)
{
    return (displaySize - frameSize) / 2;
}

uint32_t FramePeriodMs(int32_t redrawSpeed)
{
    if (redrawSpeed <= 0) return FRAME_PERIOD_MIN_MS;
    int64_t period = (int64_t)redrawSpeed * REDRAW_SPEED_STEP_MS;
    if (period > FRAME_PERIOD_MAX_MS) return FRAME_PERIOD_MAX_MS;
    return (uint32_t)period;
}
