// Building a logical palette from a packed DIB's colour table.
#pragma once

#include <windows.h>

// Returns a new palette the caller owns and deletes, or null (after a warning
// box owned by `owner`) when the palette cannot be made.
HPALETTE CreateDibPalette(HWND owner, const void *dib, BYTE flags);
