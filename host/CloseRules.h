// The decisions behind closing the saver, free of the platform: how far the
// mouse may travel, and how soon a password check may follow the last one.
#pragma once

#include <cstdint>

// Mouse travel (horizontal plus vertical distance from the baseline) must
// exceed this many pixels to wake the screen.
const uint32_t WAKE_THRESHOLD = 4;

// Minimum time between the end of one password check and the start of the next.
const uint32_t VERIFY_RETRY_MS = 200;

// lastVerifyTick before any password check has finished.
const uint32_t NO_VERIFY_TICK = 0xFFFFFFFF;

// True when the cursor at (x, y) is more than WAKE_THRESHOLD pixels of travel
// away from the baseline. Computed without overflow for any coordinates.
bool MouseTravelWakes(int32_t baseX, int32_t baseY, int32_t x, int32_t y);

// True when a password check must be refused because the last one ended less
// than VERIFY_RETRY_MS ago. The tick counter wraps every 49.7 days; the
// difference is taken modulo 2^32 so the rule holds across the wrap.
bool VerifyRetryTooSoon(uint32_t lastVerifyTick, uint32_t now);
