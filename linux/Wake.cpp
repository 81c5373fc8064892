// The full-screen saver's pointer rule, the Windows saver's own.
#include "host/CloseRules.h"
#include "linux/Saver_linux.h"

bool PointerTravelWakes(PointerWatch *watch, int32_t x, int32_t y)
{
    if (!watch->placed) {
        *watch = PointerWatch{true, x, y};
        return false;
    }
    return MouseTravelWakes(watch->x, watch->y, x, y);
}
