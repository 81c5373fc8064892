// The frame player's arithmetic: stepping, centring, scale and the timer period.
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

int FrameScale(int dpi, int frameWidth, int frameHeight, int clientWidth, int clientHeight)
{
    int64_t scale = ((int64_t)dpi + STANDARD_DPI / 2) / STANDARD_DPI;
    // Counting down from the DPI's scale stops at the largest one that fits.
    if (frameWidth > 0 && scale > clientWidth / frameWidth) scale = clientWidth / frameWidth;
    if (frameHeight > 0 && scale > clientHeight / frameHeight) scale = clientHeight / frameHeight;
    return scale < 1 ? 1 : (int)scale;
}

uint32_t FramePeriodMs(int32_t redrawSpeed)
{
    if (redrawSpeed <= 0) return FRAME_PERIOD_MIN_MS;
    int64_t period = (int64_t)redrawSpeed * REDRAW_SPEED_STEP_MS;
    if (period > FRAME_PERIOD_MAX_MS) return FRAME_PERIOD_MAX_MS;
    return (uint32_t)period;
}
