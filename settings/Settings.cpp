// The range rules of the redraw speed and the meaning of each scroll code.
#include "settings/Settings.h"

int32_t ApplySpeedRange(int32_t stored)
{
    if (stored > REDRAW_SPEED_MAX || stored < REDRAW_SPEED_MIN) return REDRAW_SPEED_DEFAULT;
    return stored;
}

int32_t ClampSpeed(int32_t candidate)
{
    if (candidate < REDRAW_SPEED_MIN) return REDRAW_SPEED_MIN;
    if (candidate > REDRAW_SPEED_MAX) return REDRAW_SPEED_MAX;
    return candidate;
}

// Codes as the platform numbers them: 0/1 line, 2/3 page (a page is one step),
// 4 thumb released, 5 thumb dragging, 6 left end, 7 right end, 8 end of scroll.
// The ends are reversed on purpose: the left end asks for the slowest value and
// the right end for the fastest. Unknown codes keep the current value.
bool SpeedScrollCandidate(uint32_t code, int32_t current, uint16_t thumb, int32_t *candidate)
{
    switch (code) {
    case 0:
    case 2:
        *candidate = current - 1;
        return true;
    case 1:
    case 3:
        *candidate = current + 1;
        return true;
    case 4:
        *candidate = thumb;
        return true;
    case 5:
    case 8:
        return false;
    case 6:
        *candidate = REDRAW_SPEED_MAX;
        return true;
    case 7:
        *candidate = REDRAW_SPEED_MIN;
        return true;
    default:
        *candidate = current;
        return true;
    }
}
