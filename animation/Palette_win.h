// Building a logical palette from a packed DIB's colour table.
#pragma once

#include <windows.h>

// Returns a new palette the caller owns and deletes, or null (after a warning
// box owned by `owner`) when the palette cannot be made.
HPALETTE CreateDibPalette(HWND owner, const void *dib, BYTE flags);

// The system calls CreateDibPalette makes; tests replace them to make the
// allocation or the palette fail and to watch the block being freed.
struct PaletteCallTable {
    HLOCAL (WINAPI *localAlloc)(UINT flags, SIZE_T bytes);
    HPALETTE (WINAPI *createPalette)(const LOGPALETTE *block);
    HLOCAL (WINAPI *localFree)(HLOCAL block);
};
extern PaletteCallTable PaletteCalls;
