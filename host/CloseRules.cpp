// Close decisions, kept free of the platform so they can be tested natively.
#include "host/CloseRules.h"

static uint64_t Distance(int32_t a, int32_t b)
{
    return a > b ? (uint64_t)((int64_t)a - b) : (uint64_t)((int64_t)b - a);
}

bool MouseTravelWakes(int32_t baseX, int32_t baseY, int32_t x, int32_t y)
{
    return Distance(baseX, x) + Distance(baseY, y) > WAKE_THRESHOLD;
}

bool VerifyRetryTooSoon(uint32_t lastVerifyTick, uint32_t now)
{
    return lastVerifyTick != NO_VERIFY_TICK && (uint32_t)(now - lastVerifyTick) < VERIFY_RETRY_MS;
}
